#include "agent/upload/drop_items_win.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <vector>

#include "protocol/http_client.h"
#include "protocol/service_api.h"

namespace vantorel {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string Utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

void Debug(const std::wstring& text) { OutputDebugStringW(text.c_str()); }

std::wstring Hex(unsigned long value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%lX", value);
    return text;
}

std::u16string FromAnsi(std::string_view text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return Utf16(wide);
}

// Releases a storage medium however GetData filled it.
struct ScopedMedium {
    STGMEDIUM medium = {};
    ScopedMedium() = default;
    ScopedMedium(const ScopedMedium&) = delete;
    ScopedMedium& operator=(const ScopedMedium&) = delete;
    ~ScopedMedium() {
        if (medium.tymed != TYMED_NULL) ReleaseStgMedium(&medium);
    }
};

// A memory block of the data object, locked for reading while this lives.
class LockedBlock {
public:
    explicit LockedBlock(HGLOBAL block)
        : block_(block), data_(block ? static_cast<const unsigned char*>(GlobalLock(block)) : nullptr),
          size_(data_ ? GlobalSize(block) : 0) {}
    LockedBlock(const LockedBlock&) = delete;
    LockedBlock& operator=(const LockedBlock&) = delete;
    ~LockedBlock() {
        if (data_) GlobalUnlock(block_);
    }
    const unsigned char* data() const { return data_; }
    size_t size() const { return size_; }

private:
    HGLOBAL block_;
    const unsigned char* data_;
    size_t size_;
};

bool GetBlock(IDataObject* data, UINT format, LONG index, ScopedMedium& answer) {
    FORMATETC request = {static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, index, TYMED_HGLOBAL};
    if (data->GetData(&request, &answer.medium) != S_OK) return false;
    return answer.medium.tymed == TYMED_HGLOBAL && answer.medium.hGlobal != nullptr;
}

class ScopedFile {
public:
    explicit ScopedFile(HANDLE file) : file_(file) {}
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    ~ScopedFile() { Close(); }
    HANDLE get() const { return file_; }
    bool valid() const { return file_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        if (!valid()) return true;
        const bool closed = CloseHandle(file_) != FALSE;
        file_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE file_;
};

bool WriteAll(HANDLE file, const unsigned char* bytes, size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size < (1u << 20) ? size : (1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written != chunk) return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

enum class Outcome { Written, NameTaken, Failed };

// The read buffer of one drop; 256 KiB keeps a cross-process stream's round
// trips few without holding much.
constexpr ULONG kChunkSize = 256 * 1024;

// Free bytes of the volume that holds path; none when it cannot be told,
// which stops the copy rather than risk filling the volume.
uint64_t FreeBytes(const std::wstring& path) {
    const std::wstring folder = path.substr(0, path.rfind(L'\\') + 1);
    ULARGE_INTEGER available = {};
    return GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) ? available.QuadPart : 0;
}

// The volume's free space is asked again after this much is written; the
// margin kept free is far larger.
constexpr uint64_t kFreeSpaceRefreshBytes = 16u << 20;

// What one item's copy has written, against the cap, the size its descriptor
// gives (when it gives one) and the margin kept free on the volume.
class CopyBudget {
public:
    CopyBudget(const std::wstring& path, std::optional<uint64_t> declared, const DropCopyLimits& limits)
        : path_(path), declared_(declared), limits_(limits) {}

    // Whether `bytes` more may be written; `why` says what stopped it.
    bool Take(uint64_t bytes, std::wstring& why) {
        if (sinceAsked_ >= kFreeSpaceRefreshBytes) {
            freeBytes_ = FreeBytes(path_);
            sinceAsked_ = 0;
        }
        const DropChunkVerdict verdict =
            CheckDropChunk(declared_, copied_, bytes, freeBytes_ - std::min(freeBytes_, sinceAsked_), limits_);
        if (verdict != DropChunkVerdict::Take) return Refuse(verdict, why);
        copied_ += bytes;
        sinceAsked_ += bytes;
        return true;
    }
    bool Refuse(DropChunkVerdict verdict, std::wstring& why) const {
        why = Wide(DescribeDropChunkVerdict(verdict, limits_));
        return false;
    }

private:
    const std::wstring& path_;
    const std::optional<uint64_t> declared_;
    const DropCopyLimits& limits_;
    uint64_t copied_ = 0, freeBytes_ = 0, sinceAsked_ = kFreeSpaceRefreshBytes;
};

// Reads a stream to its end into `write`, each chunk within the budget.
template <typename Write>
bool PumpStream(IStream* stream, CopyBudget& budget, std::vector<unsigned char>& buffer, std::wstring& why,
                Write write) {
    buffer.resize(kChunkSize);
    // Sources do not always hand the stream over at its start.
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    for (;;) {
        ULONG got = 0;
        const HRESULT result = stream->Read(buffer.data(), kChunkSize, &got);
        if (FAILED(result)) {
            why = L"reading the content failed (0x" + Hex(static_cast<unsigned long>(result)) + L")";
            return false;
        }
        if (got == 0) return true;
        if (got > kChunkSize) return budget.Refuse(DropChunkVerdict::LongerThanDeclared, why);
        if (!budget.Take(got, why) || !write(buffer.data(), got)) return false;
    }
}

Outcome CopyStream(IStream* stream, const DropItem& item, const std::wstring& path, const DropCopyLimits& limits,
                   std::vector<unsigned char>& buffer, std::wstring& why) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return Outcome::NameTaken;
        why = L"cannot create the copy (error " + std::to_wstring(error) + L")";
        return Outcome::Failed;
    }
    CopyBudget budget(path, item.size, limits);
    const bool copied = PumpStream(stream, budget, buffer, why, [&](const unsigned char* bytes, ULONG count) {
        if (WriteAll(file.get(), bytes, count)) return true;
        why = L"writing the copy failed (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    });
    if (!copied) return Outcome::Failed;
    if (!file.Close()) {
        why = L"closing the copy failed (error " + std::to_wstring(GetLastError()) + L")";
        return Outcome::Failed;
    }
    return Outcome::Written;
}

Outcome CopyBlock(HGLOBAL block, const DropItem& item, const std::wstring& path, const DropCopyLimits& limits,
                  std::wstring& why) {
    LockedBlock content(block);
    if (!content.data()) {
        why = L"the content cannot be read";
        return Outcome::Failed;
    }
    // A block is often larger than what it holds; the descriptor knows.
    size_t size = content.size();
    if (item.size && *item.size < size) size = static_cast<size_t>(*item.size);
    // Already in memory, so no stream to end: only the volume bounds it.
    CopyBudget budget(path, size, limits);
    if (!budget.Take(size, why)) return Outcome::Failed;
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return Outcome::NameTaken;
        why = L"cannot create the copy (error " + std::to_wstring(error) + L")";
        return Outcome::Failed;
    }
    if (!WriteAll(file.get(), content.data(), size) || !file.Close()) {
        why = L"writing the copy failed (error " + std::to_wstring(GetLastError()) + L")";
        return Outcome::Failed;
    }
    return Outcome::Written;
}

// Every element of a storage costs at least a sector of the compound file,
// so that countless empty streams are bounded by the cap too; nesting deeper
// than any message does is refused before it can exhaust the stack.
constexpr uint64_t kStorageElementBytes = 512;
constexpr int kStorageDepthLimit = 32;

bool CopyStorageElements(IStorage* from, IStorage* to, CopyBudget& budget, std::vector<unsigned char>& buffer,
                         int depth, std::wstring& why);

bool CopyStorageElement(IStorage* from, IStorage* to, const STATSTG& element, CopyBudget& budget,
                        std::vector<unsigned char>& buffer, int depth, std::wstring& why) {
    constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
    constexpr DWORD kWrite = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    HRESULT result = S_OK;
    bool copied = false;
    if (element.type == STGTY_STREAM) {
        IStream* source = nullptr;
        IStream* copy = nullptr;
        result = from->OpenStream(element.pwcsName, nullptr, kRead, 0, &source);
        if (SUCCEEDED(result)) result = to->CreateStream(element.pwcsName, kWrite, 0, 0, &copy);
        if (SUCCEEDED(result))
            copied = PumpStream(source, budget, buffer, why, [&](const unsigned char* bytes, ULONG count) {
                ULONG written = 0;
                const HRESULT wrote = copy->Write(bytes, count, &written);
                if (SUCCEEDED(wrote) && written == count) return true;
                why = L"writing the compound file failed (0x" + Hex(static_cast<unsigned long>(wrote)) + L")";
                return false;
            });
        if (copy) copy->Release();
        if (source) source->Release();
    } else if (element.type == STGTY_STORAGE) {
        if (depth >= kStorageDepthLimit) {
            why = L"the storage is nested deeper than " + std::to_wstring(kStorageDepthLimit) + L" levels";
            return false;
        }
        IStorage* source = nullptr;
        IStorage* copy = nullptr;
        result = from->OpenStorage(element.pwcsName, nullptr, kRead, nullptr, 0, &source);
        if (SUCCEEDED(result)) result = to->CreateStorage(element.pwcsName, kWrite, 0, 0, &copy);
        if (SUCCEEDED(result)) copied = CopyStorageElements(source, copy, budget, buffer, depth + 1, why);
        if (copy) copy->Release();
        if (source) source->Release();
    } else {
        return true;  // no other kind is content
    }
    if (FAILED(result))
        why = L"copying the storage failed (0x" + Hex(static_cast<unsigned long>(result)) + L")";
    return copied;
}

// Element by element rather than IStorage::CopyTo, which would write
// whatever the source holds: every stream passes the same budget as a
// dropped stream.
bool CopyStorageElements(IStorage* from, IStorage* to, CopyBudget& budget, std::vector<unsigned char>& buffer,
                         int depth, std::wstring& why) {
    STATSTG self = {};
    if (SUCCEEDED(from->Stat(&self, STATFLAG_NONAME))) to->SetClass(self.clsid);
    IEnumSTATSTG* elements = nullptr;
    const HRESULT result = from->EnumElements(0, nullptr, 0, &elements);
    if (FAILED(result) || !elements) {
        why = L"listing the storage failed (0x" + Hex(static_cast<unsigned long>(result)) + L")";
        return false;
    }
    bool copied = true;
    STATSTG element = {};
    while (copied && elements->Next(1, &element, nullptr) == S_OK) {
        copied = budget.Take(kStorageElementBytes, why) &&
                 CopyStorageElement(from, to, element, budget, buffer, depth, why);
        CoTaskMemFree(element.pwcsName);
    }
    elements->Release();
    return copied;
}

// A storage, as mail programs hand over a message, becomes a compound file.
// Its descriptor gives the file's size, not its streams', so only the cap and
// the volume bound it.
Outcome CopyStorage(IStorage* source, const std::wstring& path, const DropCopyLimits& limits,
                    std::vector<unsigned char>& buffer, std::wstring& why) {
    IStorage* copy = nullptr;
    HRESULT result = StgCreateDocfile(path.c_str(), STGM_FAILIFTHERE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &copy);
    if (result == STG_E_FILEALREADYEXISTS) return Outcome::NameTaken;
    if (FAILED(result) || !copy) {
        why = L"cannot create the compound file (0x" + Hex(static_cast<unsigned long>(result)) + L")";
        return Outcome::Failed;
    }
    CopyBudget budget(path, std::nullopt, limits);
    bool copied = CopyStorageElements(source, copy, budget, buffer, 0, why);
    if (copied && FAILED(result = copy->Commit(STGC_DEFAULT))) {
        why = L"writing the compound file failed (0x" + Hex(static_cast<unsigned long>(result)) + L")";
        copied = false;
    }
    copy->Release();
    return copied ? Outcome::Written : Outcome::Failed;
}

Outcome WriteFileItem(IDataObject* data, UINT contentsFormat, const DropItem& item, const std::wstring& path,
                      const DropCopyLimits& limits, std::vector<unsigned char>& buffer, std::wstring& why) {
    FORMATETC request = {static_cast<CLIPFORMAT>(contentsFormat), nullptr, DVASPECT_CONTENT,
                         static_cast<LONG>(item.index), TYMED_ISTREAM | TYMED_HGLOBAL | TYMED_ISTORAGE};
    ScopedMedium answer;
    const HRESULT result = data->GetData(&request, &answer.medium);
    if (result != S_OK) {
        why = L"its content was refused (0x" + Hex(static_cast<unsigned long>(result)) + L")";
        return Outcome::Failed;
    }
    Outcome outcome = Outcome::Failed;
    switch (answer.medium.tymed) {
    case TYMED_ISTREAM:
        outcome = answer.medium.pstm ? CopyStream(answer.medium.pstm, item, path, limits, buffer, why) : Outcome::Failed;
        break;
    case TYMED_HGLOBAL:
        outcome = CopyBlock(answer.medium.hGlobal, item, path, limits, why);
        break;
    case TYMED_ISTORAGE:
        outcome = answer.medium.pstg ? CopyStorage(answer.medium.pstg, path, limits, buffer, why) : Outcome::Failed;
        break;
    default:
        why = L"its content came in a medium that was not asked for";
        return Outcome::Failed;
    }
    if (outcome == Outcome::Failed) {
        if (why.empty()) why = L"the content is missing";
        DeleteFileW(path.c_str());
    }
    return outcome;
}

std::wstring TemporaryDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        std::fwprintf(stderr, L"GetTempDir() failed with 0x%lX\n", GetLastError());
        return {};
    }
    return buffer;
}

std::wstring AgentTemporaryFolder() {
    const std::wstring temporary = TemporaryDirectory();
    return temporary.empty() ? temporary : temporary + L"Vantorel";
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolder(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) || (GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(path));
}

// Removes a folder and everything in it; a link inside is removed, never
// followed.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            const bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (directory && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTree(path);
            } else if (directory) {
                RemoveDirectoryW(path.c_str());
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

uint64_t Ticks(const FILETIME& time) { return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime; }

}  // namespace

void WriteOfferedFormats(IDataObject* data) {
    IEnumFORMATETC* formats = nullptr;
    if (FAILED(data->EnumFormatEtc(DATADIR_GET, &formats)) || !formats) return;
    static const struct {
        DWORD medium;
        const wchar_t* name;
    } kMedia[] = {{TYMED_HGLOBAL, L"TYMED_HGLOBAL"}, {TYMED_FILE, L"TYMED_FILE"},   {TYMED_ISTREAM, L"TYMED_ISTREAM"},
                  {TYMED_ISTORAGE, L"TYMED_ISTORAGE"}, {TYMED_GDI, L"TYMED_GDI"}, {TYMED_MFPICT, L"TYMED_MFPICT"},
                  {TYMED_ENHMF, L"TYMED_ENHMF"}};
    FORMATETC format = {};
    ULONG fetched = 0;
    // A broken enumerator may never stop; no real object offers this many.
    for (int visited = 0; visited < 1000 && formats->Next(1, &format, &fetched) == S_OK && fetched == 1; ++visited) {
        if (format.ptd) CoTaskMemFree(format.ptd);
        bool known = false;
        for (const auto& medium : kMedia) {
            if ((format.tymed & medium.medium) == 0) continue;
            Debug(medium.name);
            known = true;
        }
        if (!known) Debug(L"CDropTarget::Drop default\n");
    }
    formats->Release();
}

DropOffer ReadDropOffer(IDataObject* data) {
    DropOffer offer;
    ScopedMedium files;
    if (GetBlock(data, CF_HDROP, -1, files)) {
        LockedBlock block(files.medium.hGlobal);
        offer.shellPaths = ReadShellFileList(block.data(), block.size(), FromAnsi);
        if (!offer.shellPaths->empty()) return offer;
    }
    ScopedMedium group;
    if (GetBlock(data, RegisterClipboardFormatW(L"FileGroupDescriptorW"), -1, group)) {
        LockedBlock block(group.medium.hGlobal);
        offer.descriptors = ReadFileGroupDescriptor(block.data(), block.size(), true, FromAnsi);
    } else if (GetBlock(data, RegisterClipboardFormatW(L"FileGroupDescriptor"), -1, group)) {
        LockedBlock block(group.medium.hGlobal);
        offer.descriptors = ReadFileGroupDescriptor(block.data(), block.size(), false, FromAnsi);
    }
    return offer;
}

std::wstring NextDropFolderPath() {
    static std::atomic<uint32_t> sequence{0};
    const std::wstring base = AgentTemporaryFolder();
    if (base.empty()) return base;
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return base + L"\\" + Wide(DropFolderName(Ticks(now), GetCurrentProcessId(), ++sequence));
}

UploadPathList WriteDropItems(IDataObject* data, const DropPlan& plan, const std::wstring& folder,
                              const DropCopyLimits& limits) {
    std::wstring target = folder;
    const std::wstring base = target.substr(0, target.rfind(L'\\'));
    // The names are unique; a folder of that name can only be left from a
    // clock set back, so the next name (of the same length) is taken.
    bool made = MakeFolder(base) && CreateDirectoryW(target.c_str(), nullptr);
    for (int attempt = 0; !made && attempt < 5 && GetLastError() == ERROR_ALREADY_EXISTS; ++attempt) {
        target = NextDropFolderPath();
        made = CreateDirectoryW(target.c_str(), nullptr) != FALSE;
    }
    if (!made) {
        Debug(L"Drop: cannot create " + target + L" (error " + std::to_wstring(GetLastError()) + L")\n");
        return {};
    }

    if (plan.descriptorsLeftOut != 0)
        Debug(L"Drop: not sent: the last " + std::to_wstring(plan.descriptorsLeftOut) + L" of the group's items, past " +
              std::to_wstring(kMaxDropItems) + L" files and folders\n");
    const UINT contentsFormat = RegisterClipboardFormatW(L"FileContents");
    std::vector<DropItem> items = plan.items;
    std::vector<bool> written(items.size(), false);
    std::vector<unsigned char> buffer;
    for (size_t i = 0; i < items.size(); ++i) {
        DropItem& item = items[i];
        std::wstring path = target + L"\\" + Wide(item.relativePath);
        std::wstring why;
        if (item.isFolder) {
            written[i] = MakeFolder(path);
            if (!written[i]) why = L"cannot create the folder (error " + std::to_wstring(GetLastError()) + L")";
        } else {
            Outcome outcome = WriteFileItem(data, contentsFormat, item, path, limits, buffer, why);
            // Names that differ only in a case the plan does not fold.
            const std::u16string planned = item.relativePath;
            for (unsigned n = 2; outcome == Outcome::NameTaken && n < 100; ++n) {
                item.relativePath = AlternativeDropPath(planned, n);
                path = target + L"\\" + Wide(item.relativePath);
                if (path.size() > kMaxDropPathLength) break;
                outcome = WriteFileItem(data, contentsFormat, item, path, limits, buffer, why);
            }
            if (outcome == Outcome::NameTaken) why = L"no free name";
            written[i] = outcome == Outcome::Written;
        }
        if (!written[i]) Debug(L"Drop: not sent: " + path + L": " + why + L"\n");
    }
    return DropPathsToSend(items, written, Utf16(target));
}

bool RemoveOldDropFoldersWhenIdle() {
    std::u16string status;
    HttpGetText(std::u16string(ServiceUrl(ServiceRequest::TransferStatus)), status);
    if (!MayRemoveDropFolders(status)) return false;
    const std::wstring base = AgentTemporaryFolder();
    if (base.empty()) return true;
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const uint64_t maxAge = kDropFolderMaxAgeSeconds * 10000000ull;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((base + L"\\drop-*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return true;
    do {
        const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        // Last written, not created: a folder still being filled is never old.
        const uint64_t written = Ticks(entry.ftLastWriteTime);
        if (folder && IsDropFolderName(Utf16(entry.cFileName)) && written + maxAge < Ticks(now))
            RemoveTree(base + L"\\" + entry.cFileName);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return true;
}

}  // namespace vantorel
