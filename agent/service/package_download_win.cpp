#include "agent/service/package_download_win.h"

#include <string>

#include "agent/service/update_rules.h"
#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
void DownloadFailed(const std::u16string& url, std::u16string_view why) {
    DebugOutput(u"Update: download of " + url + u" failed: " + std::u16string(why) + u"\n");
}

// A version file is a few entries; anything near this is not one.
constexpr size_t kMaxVersionFileBytes = 64 * 1024;

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
            why = u"status " + (status == 0 ? u"none" : DecimalText(static_cast<unsigned>(status)));
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
            why = u"write error " + DecimalText(GetLastError());
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
        if (status != 200) why = u"status " + (status == 0 ? u"none" : DecimalText(static_cast<unsigned>(status)));
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
}  // namespace

uint64_t TickNow() {
    static DWORD last = GetTickCount();
    static uint64_t high = 0;
    const DWORD now = GetTickCount();
    if (now < last) high += 0x100000000ull;
    last = now;
    return high | now;
}

bool DownloadToFile(const std::u16string& path, const std::u16string& url, const UpdateSettings& settings) {
    const std::wstring target = Wide(path);
    const std::wstring partial = target + L".download";
    const HANDLE file =
        CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DownloadFailed(url, u"cannot create " + std::u16string(partial.begin(), partial.end()) + u", error " +
                                DecimalText(GetLastError()));
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
        why = u"flush error " + DecimalText(GetLastError());
        complete = false;
    }
    if (!CloseHandle(file) && complete) {
        why = u"close error " + DecimalText(GetLastError());
        complete = false;
    }
    if (complete && !MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = u"cannot replace " + path + u", error " + DecimalText(GetLastError());
        complete = false;
    }
    if (!complete) {
        DeleteFileW(partial.c_str());
        DownloadFailed(url, why);
        return false;
    }
    DebugOutput(u"Update: downloaded " + url + u", " + DecimalText(sink.received()) + u" bytes\n");
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

}  // namespace vantorel
