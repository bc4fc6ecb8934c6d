#include "agent/service/package_update_win.h"

#include <process.h>
#include <shellapi.h>

#include <exception>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "agent/core/agent_messages.h"
#include "agent/core/file_signature_win.h"
#include "agent/core/pe_signature.h"
#include "agent/service/package_update.h"
#include "agent/service/service_launcher_win.h"
#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"

namespace vantorel {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string Decimal(unsigned long long value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

void DownloadFailed(const std::u16string& url, std::u16string_view why) {
    DebugOutput(u"Update: download of " + url + u" failed: " + std::u16string(why) + u"\n");
}

// A version file is a few entries; anything near this is not one.
constexpr size_t kMaxVersionFileBytes = 64 * 1024;

// GetTickCount as a clock that does not wrap; read by one thread only.
uint64_t TickNow() {
    static DWORD last = GetTickCount();
    static uint64_t high = 0;
    const DWORD now = GetTickCount();
    if (now < last) high += 0x100000000ull;
    last = now;
    return high | now;
}

uint64_t FreeBytes(const std::wstring& folder) {
    ULARGE_INTEGER available = {};
    // Unknown reads as plenty: the write itself then fails when space runs out.
    return GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) ? available.QuadPart : UINT64_MAX;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

// Writes a download to its file within the limits: a 200 reply, no more than
// the cap, leaving the volume its reserve, and at a pace.
class FileDownload final : public HttpDownloadSink {
public:
    FileDownload(HANDLE file, const std::wstring& folder, const DownloadLimits& limits)
        : file_(file), folder_(folder), limits_(limits), trickle_(limits, TickNow()) {}

    bool Head(int status, int64_t length, std::u16string& why) override {
        if (status != 200) {
            why = u"status " + (status == 0 ? u"none" : Decimal(static_cast<unsigned>(status)));
            return false;
        }
        return Allowed(CheckDeclaredLength(limits_, length, FreeBytes(folder_)), why);
    }

    bool Body(const char* data, size_t count, std::u16string& why) override {
        // The free space is read anew for each MiB written, not each chunk.
        if (received_ >= nextSpaceCheck_) {
            free_ = FreeBytes(folder_);
            nextSpaceCheck_ = received_ + (1u << 20);
        }
        if (!Allowed(CheckChunk(limits_, received_, count, free_), why)) return false;
        if (!trickle_.Note(received_ + count, TickNow())) return Allowed(DownloadVerdict::Trickle, why);
        DWORD written = 0;
        if (!::WriteFile(file_, data, static_cast<DWORD>(count), &written, nullptr) || written != count) {
            why = u"write error " + Decimal(GetLastError());
            return false;
        }
        received_ += count;
        free_ = free_ > count ? free_ - count : 0;
        return true;
    }

    uint64_t received() const { return received_; }

private:
    static bool Allowed(DownloadVerdict verdict, std::u16string& why) {
        if (verdict == DownloadVerdict::Go) return true;
        why = std::u16string(DescribeDownloadVerdict(verdict));
        return false;
    }

    HANDLE file_;
    std::wstring folder_;
    DownloadLimits limits_;
    TrickleWatch trickle_;
    uint64_t received_ = 0, free_ = 0, nextSpaceCheck_ = 0;
};

// Collects the version file: a 200 reply of a few entries.
class TextDownload final : public HttpDownloadSink {
public:
    bool Head(int status, int64_t length, std::u16string& why) override {
        if (status != 200) why = u"status " + (status == 0 ? u"none" : Decimal(static_cast<unsigned>(status)));
        else if (length > static_cast<int64_t>(kMaxVersionFileBytes)) why = u"too large";
        return why.empty();
    }
    bool Body(const char* data, size_t count, std::u16string& why) override {
        if (bytes.size() + count > kMaxVersionFileBytes) {
            why = u"too large";
            return false;
        }
        bytes.append(data, count);
        return true;
    }
    std::string bytes;
};

bool RemoveTreeFiles(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    bool removed = true;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removed = RemoveTreeFiles(path) && removed;
            else
                removed = (SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL), DeleteFileW(path.c_str())) && removed;
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    return RemoveDirectoryW(folder.c_str()) && removed;
}

// The file's bytes reach the disk before a rename makes them the real thing.
bool FlushFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(file) != 0;
    return CloseHandle(file) && flushed;
}

bool MoveFlushed(const std::wstring& from, const std::wstring& to) {
    return FlushFile(from) && MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

std::string ReadWholeFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    LARGE_INTEGER size = {};
    // An agent is a few MiB; anything far larger is not one.
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (64 << 20)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

// What the trust rule needs of a file's signatures: each signature's
// publisher, the primary one first; verified ones checked by the platform
// (a nested one in a copy of the file where it stands first).
std::vector<SignatureFacts> ReadSignatureFacts(const std::wstring& path, SignatureTable& table, bool verify) {
    const std::string file = ReadWholeFile(path);
    std::string_view primary;
    table = file.empty() ? SignatureTable::Malformed : FindSignature(file, primary);
    std::vector<SignatureFacts> facts;
    if (table != SignatureTable::Present) return facts;
    std::vector<std::string> signatures{std::string(primary)};
    for (size_t i = 0; i < signatures.size(); ++i) {
        SignatureFacts signature;
        std::vector<std::string> nested;
        signature.readable = ReadPublisher(signatures[i], signature.identity, nested);
        if (i == 0) signatures.insert(signatures.end(), nested.begin(), nested.end());
        if (verify && i == 0) {
            signature.verified = VerifyFileSignature(path);
        } else if (verify) {
            const std::wstring alone = path + L".signature";
            const std::string copy = WithSignature(file, signatures[i]);
            const HANDLE out = CreateFileW(alone.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            if (out != INVALID_HANDLE_VALUE) {
                const bool whole = !copy.empty() &&
                                   ::WriteFile(out, copy.data(), static_cast<DWORD>(copy.size()), &written, nullptr) &&
                                   written == copy.size();
                CloseHandle(out);
                signature.verified = whole && VerifyFileSignature(alone);
                DeleteFileW(alone.c_str());
            }
        }
        facts.push_back(std::move(signature));
    }
    return facts;
}

std::u16string_view DescribeTrust(TrustVerdict verdict) {
    switch (verdict) {
        case TrustVerdict::Trusted:
            return u"trusted";
        case TrustVerdict::NotVerified:
            return u"carries no valid signature";
        case TrustVerdict::OwnUnreadable:
            return u"this agent's own signature cannot be read";
        case TrustVerdict::OtherPublisher:
            return u"is signed by another publisher or under another root";
    }
    return u"?";
}

class WindowsUpdateHost final : public UpdateHost {
public:
    explicit WindowsUpdateHost(HWND window) : window_(window) {}

    std::u16string InstallDirectory() override { return GetModuleDirectory(); }
    std::u16string ModulePath() override { return GetModulePath(); }
    std::u16string ModuleFileName() override { return GetModuleFileNameOnly(); }

    bool FileExists(const std::u16string& path) override {
        return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    bool RemoveFile(const std::u16string& path) override {
        return DeleteFileW(Wide(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
    }

    bool WriteFile(const std::u16string& path, std::string_view bytes) override {
        const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return Failed(u"CreateFileW", path);
        DWORD written = 0;
        const bool ok = bytes.empty() || (::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                                      &written, nullptr) &&
                                          written == bytes.size());
        const bool closed = CloseHandle(file) != 0;
        return (ok && closed) || Failed(u"WriteFile", path);
    }

    std::string ReadSmallFile(const std::u16string& path) override {
        const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return {};
        char buffer[256];
        DWORD count = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &count, nullptr)) count = 0;
        CloseHandle(file);
        return std::string(buffer, count);
    }

    bool ReplaceWithCopy(const std::u16string& from, const std::u16string& to) override {
        // The copy is complete, and on disk, before it takes the name, so an
        // end at any moment (a power cut too) leaves `to` whole.
        const std::wstring partial = Wide(to) + L".partial";
        if (!CopyFileW(Wide(from).c_str(), partial.c_str(), FALSE)) return Failed(u"CopyFileW", to);
        if (!MoveFlushed(partial, Wide(to))) {
            Failed(u"MoveFileExW", to);
            DeleteFileW(partial.c_str());
            return false;
        }
        return true;
    }

    bool MoveTree(const std::u16string& from, const std::u16string& to) override {
        return MoveFiles(Wide(from), Wide(to));
    }

    void RemoveTree(const std::u16string& folder) override {
        const std::wstring wide = Wide(folder);
        if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        if (!RemoveTreeFiles(wide)) Failed(u"RemoveDirectoryW", folder);
    }

    bool CanRemoveFile(const std::u16string& path) override {
        const std::wstring wide = Wide(path);
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return true;
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
        // Opening for deletion asks the file system what deleting would.
        const HANDLE file = CreateFileW(wide.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        CloseHandle(file);
        return true;
    }

    std::u16string FileVersion(const std::u16string& path) override { return ReadFileVersion(Wide(path)); }

    std::u16string FetchVersionFile(const std::u16string& url) override {
        return vantorel::FetchVersionFile(url, BuiltInUpdateSettings().receiveTimeoutMs);
    }

    std::u16string GetText(const std::u16string& url) override {
        std::u16string text;
        if (!HttpGetText(url, text)) text.clear();
        return text;
    }

    bool DownloadToFile(const std::u16string& path, const std::u16string& url) override {
        return vantorel::DownloadToFile(path, url, BuiltInUpdateSettings());
    }

    void RequestServiceShutdown() override { HttpGetNoReply(std::u16string(ServiceUrl(ServiceRequest::Shutdown))); }

    bool UnpackArchive(const std::u16string& archive, const std::u16string& folder) override {
        return vantorel::UnpackArchive(archive, folder);
    }

    bool IsTrustedAgent(const std::u16string& path) override {
        SignatureTable ownTable = SignatureTable::None, table = SignatureTable::None;
        const std::vector<SignatureFacts> own = ReadSignatureFacts(Wide(GetModulePath()), ownTable, false);
        std::vector<PublisherIdentity> identities;
        for (const SignatureFacts& signature : own)
            if (signature.readable) identities.push_back(signature.identity);
        const OwnSignature ownState = ownTable == SignatureTable::None      ? OwnSignature::Unsigned
                                      : ownTable == SignatureTable::Present ? OwnSignature::Signed
                                                                            : OwnSignature::Unreadable;
        const std::vector<SignatureFacts> candidate = ReadSignatureFacts(Wide(path), table, true);
        const TrustVerdict verdict = DecideAgentTrust(ownState, identities, candidate);
        if (verdict == TrustVerdict::Trusted) return true;
        DebugOutput(u"Update: " + path + u" " + std::u16string(DescribeTrust(verdict)) + u"\n");
        return false;
    }

    bool StartProgram(const std::u16string& path, bool hidden) override {
        const HINSTANCE result =
            ShellExecuteW(nullptr, L"open", Wide(path).c_str(), nullptr, nullptr, hidden ? SW_HIDE : SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(result) > 32;
    }

    void RunScript(const std::u16string& path) override {
        wchar_t system[MAX_PATH];
        const UINT length = GetSystemDirectoryW(system, MAX_PATH);
        // Never a cmd.exe found elsewhere (the current drive's root).
        if (length == 0 || length >= MAX_PATH) {
            DebugOutput(u"Failed " + path + u" with: " +
                        Decimal(length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)));
            return;
        }
        const std::wstring interpreter = std::wstring(system, length) + L"\\cmd.exe";
        // /S with the quoted path in a second pair of quotes: cmd strips the
        // outer pair only, so the path may hold spaces, & or parentheses.
        std::wstring commandLine = L"cmd.exe /S /C \"\"" + Wide(path) + L"\"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(interpreter.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            DebugOutput(u"Failed " + path + u" with: " + Decimal(GetLastError()));
            return;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    bool QuitRunningAgent(uint32_t waitMs) override {
        const DWORD start = GetTickCount();
        const std::wstring windowClass = Wide(kWindowClassName);
        for (;;) {
            const DWORD elapsed = GetTickCount() - start;
            const DWORD left = elapsed >= waitMs ? 0 : waitMs - elapsed;
            const HWND agent = FindWindowW(windowClass.c_str(), nullptr);
            if (agent) {
                DWORD processId = 0;
                GetWindowThreadProcessId(agent, &processId);
                const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
                // The old agent asks its service to shut down and leaves its
                // message loop; a hung one must not hold the update forever.
                DWORD_PTR ignored = 0;
                SendMessageTimeoutW(agent, WM_QUIT_REQUEST, 0, 0, SMTO_NORMAL, left, &ignored);
                if (process) {
                    WaitForSingleObject(process, left);
                    CloseHandle(process);
                }
            } else if (!InstanceMutexExists()) {
                return true;  // neither a window nor a starting agent
            }
            if (left == 0) return false;
            ::Sleep(100);
        }
    }

    void PostQuit() override { PostMessageW(window_, WM_QUIT, 0, 0); }
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
    uint64_t NowMs() override { return TickNow(); }
    void Debug(std::u16string_view line) override { DebugOutput(line); }

private:
    static bool InstanceMutexExists() {
        const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, Wide(kInstanceMutexName).c_str());
        if (!mutex) return false;
        CloseHandle(mutex);
        return true;
    }

    // Every file of from to the same place under to, folders made as needed.
    static bool MoveFiles(const std::wstring& from, const std::wstring& to) {
        WIN32_FIND_DATAW found;
        const HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return false;
        bool moved = true;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring source = from + L"\\" + name, target = to + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!CreateDirectoryW(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                    moved = Failed(u"CreateDirectoryW", std::u16string(target.begin(), target.end()));
                    continue;
                }
                moved = MoveFiles(source, target) && moved;
            } else if (!MoveFlushed(source, target)) {
                moved = Failed(u"MoveFileExW", std::u16string(target.begin(), target.end()));
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return moved;
    }

    static bool Failed(std::u16string_view what, const std::u16string& path) {
        DebugOutput(u"Failed " + std::u16string(what) + u" " + path + u" with: " + Decimal(GetLastError()) + u"\n");
        return false;
    }

    HWND window_;
};

struct UpdateThreadStart {
    HWND window;
    void (*beforeFirstCheck)();
};

unsigned __stdcall UpdateThread(void* argument) {
    const UpdateThreadStart start = *static_cast<UpdateThreadStart*>(argument);
    delete static_cast<UpdateThreadStart*>(argument);
    const DWORD started = GetTickCount();
    if (start.beforeFirstCheck) {
        try {
            start.beforeFirstCheck();
        } catch (...) {
            // Out of memory: the chore is dropped, the updates go on.
        }
    }
    WindowsUpdateHost host(start.window);
    const UpdateSettings& settings = BuiltInUpdateSettings();
    UpdateRetries retries;
    const std::u16string transferStatus(ServiceUrl(ServiceRequest::TransferStatus));
    // The first check stays where it was due, whatever the chore took.
    const DWORD spent = GetTickCount() - started;
    ::Sleep(spent < settings.firstCheckDelayMs ? settings.firstCheckDelayMs - spent : 0);
    for (;;) {
        try {
            RunUpdatePass(host, settings, retries, transferStatus);
        } catch (const std::exception&) {
            // Out of memory in a pass: the next one tries again.
        }
        ::Sleep(settings.checkIntervalMs);
    }
}

}  // namespace

bool DownloadToFile(const std::u16string& path, const std::u16string& url, const UpdateSettings& settings) {
    const std::wstring target = Wide(path);
    const std::wstring partial = target + L".download";
    const HANDLE file =
        CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DownloadFailed(url, u"cannot create " + std::u16string(partial.begin(), partial.end()) + u", error " +
                                Decimal(GetLastError()));
        return false;
    }
    DownloadLimits limits;
    limits.maxBytes = settings.maxDownloadBytes;
    FileDownload sink(file, FolderOf(target), limits);
    std::u16string why;
    bool complete = HttpDownload(url, settings.receiveTimeoutMs, sink, why);
    if (complete && sink.received() == 0) {
        why = u"empty";
        complete = false;
    }
    if (complete && !FlushFileBuffers(file)) {
        why = u"flush error " + Decimal(GetLastError());
        complete = false;
    }
    if (!CloseHandle(file) && complete) {
        why = u"close error " + Decimal(GetLastError());
        complete = false;
    }
    if (complete && !MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = u"cannot replace " + path + u", error " + Decimal(GetLastError());
        complete = false;
    }
    if (!complete) {
        DeleteFileW(partial.c_str());
        DownloadFailed(url, why);
        return false;
    }
    DebugOutput(u"Update: downloaded " + url + u", " + Decimal(sink.received()) + u" bytes\n");
    return true;
}

std::u16string FetchVersionFile(const std::u16string& url, uint32_t receiveTimeoutMs) {
    TextDownload sink;
    std::u16string why;
    if (!HttpDownload(url, receiveTimeoutMs, sink, why)) {
        DebugOutput(u"Update: no version file from " + url + u": " + why + u"\n");
        return {};
    }
    // Each byte one character: the file is ASCII.
    return std::u16string(sink.bytes.begin(), sink.bytes.end());
}

bool UnpackArchive(const std::u16string& archive, const std::u16string& folder) {
    const std::u16string directory = GetModuleDirectory();
    if (!CreateDirectoryW(Wide(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        DebugOutput(u"Update: unpacking " + archive + u" failed, no folder " + folder + u"\n");
        return false;
    }
    unsigned long exitCode = 0;
    const int ran = RunShellProgram(directory + u"\\" + std::u16string(kArchiveTool), u" x -y \"" + archive + u"\"",
                                    folder, &exitCode);
    if (ran && exitCode == 0) return true;
    DebugOutput(u"Update: unpacking " + archive + u" failed, " + std::u16string(kArchiveTool) +
                (ran ? u" exited with " + Decimal(exitCode) : std::u16string(u" did not start")) + u"\n");
    return false;
}

void CompleteUpdateAtStart() {
    WindowsUpdateHost host(nullptr);
    switch (CompleteUpdateAtStart(host, BuiltInUpdateSettings())) {
        case StartUpdateOutcome::ExitAgent:
            ExitProcess(0);
        case StartUpdateOutcome::ExitFailed:
            ExitProcess(0xFFFFFFFF);
        case StartUpdateOutcome::GoOn:
            return;
    }
}

void StartUpdateThread(HWND window, void (*beforeFirstCheck)()) {
    auto* start = new (std::nothrow) UpdateThreadStart{window, beforeFirstCheck};
    if (!start) return;
    const uintptr_t thread = _beginthreadex(nullptr, 0, UpdateThread, start, 0, nullptr);
    if (thread == 0) {
        delete start;
        return;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace vantorel
