#include "agent/service/package_update_win.h"

#include <process.h>
#include <shellapi.h>
#include <wininet.h>

#include <exception>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "agent/core/agent_messages.h"
#include "agent/core/file_signature_win.h"
#include "agent/service/package_update.h"
#include "agent/service/service_launcher_win.h"
#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"

namespace vantorel {
namespace {

// Large enough that a fast server is read in few calls, small enough to
// keep a 32-bit agent's footprint down while a runtime package arrives.
constexpr DWORD kDownloadChunk = 64 * 1024;

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string Utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }
std::u16string Decimal(unsigned long long value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

class InternetHandle {
public:
    InternetHandle() = default;
    ~InternetHandle() { reset(nullptr); }
    void reset(HINTERNET handle) {
        if (handle_) InternetCloseHandle(handle_);
        handle_ = handle;
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle_; }

private:
    HINTERNET handle_ = nullptr;
};

void DownloadFailed(const std::u16string& url, std::u16string_view why) {
    DebugOutput(u"Update: download of " + url + u" failed: " + std::u16string(why) + u"\n");
}

// A header as text; empty when the reply has none.
std::wstring QueryHeader(HINTERNET request, DWORD header) {
    wchar_t value[64];
    DWORD size = sizeof value;
    DWORD index = 0;
    if (!HttpQueryInfoW(request, header, value, &size, &index)) return {};
    return std::wstring(value, size / sizeof(wchar_t));
}

// A Content-Length as a number; false when it is absent or not a number.
bool ParseLength(const std::wstring& text, unsigned long long& length) {
    if (text.empty() || text.size() > 19) return false;
    length = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        length = length * 10 + static_cast<unsigned long long>(c - L'0');
    }
    return true;
}

// A version file is a few entries; anything near this is not one.
constexpr unsigned long long kMaxVersionFileBytes = 64 * 1024;

// One GET from the package server. The time-outs are set on the connection,
// where WinINet applies them to each wait for data: a server that stops
// sending is given up, a slow one is not. Replies bypass the cache.
class PackageServerGet {
public:
    PackageServerGet(const std::u16string& url, uint32_t timeoutMs) {
        const std::wstring wideUrl = Wide(url);
        wchar_t host[256] = {}, object[2048] = {};
        URL_COMPONENTSW parts = {};
        parts.dwStructSize = sizeof parts;
        parts.lpszHostName = host;
        parts.dwHostNameLength = 256;
        parts.lpszUrlPath = object;
        parts.dwUrlPathLength = 2048;
        if (!InternetCrackUrlW(wideUrl.c_str(), 0, 0, &parts) ||
            (parts.nScheme != INTERNET_SCHEME_HTTPS && parts.nScheme != INTERNET_SCHEME_HTTP)) {
            failure_ = u"not an http(s) URL";
            return;
        }
        const std::wstring agentName = Wide(kHttpUserAgent);
        root_.reset(InternetOpenW(agentName.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        if (root_.get())
            connection_.reset(InternetConnectW(root_.get(), host, parts.nPort, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection_.get()) {
            failure_ = u"InternetConnectW error " + Decimal(GetLastError());
            return;
        }
        DWORD timeout = timeoutMs;
        for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                   INTERNET_OPTION_RECEIVE_TIMEOUT})
            InternetSetOptionW(connection_.get(), option, &timeout, sizeof timeout);
        DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
        if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
        request_.reset(HttpOpenRequestW(connection_.get(), L"GET", object, nullptr, nullptr, nullptr, flags, 0));
        const std::wstring header = Wide(kHttpGetHeader);
        if (!request_.get() ||
            !HttpSendRequestW(request_.get(), header.c_str(), static_cast<DWORD>(-1), nullptr, 0)) {
            failure_ = u"request error " + Decimal(GetLastError());
            return;
        }
        // A refused connection still "opens", with no status at all.
        const std::wstring status = QueryHeader(request_.get(), HTTP_QUERY_STATUS_CODE);
        if (status != L"200") failure_ = u"status " + (status.empty() ? u"none" : Utf16(status));
        hasLength_ = ParseLength(QueryHeader(request_.get(), HTTP_QUERY_CONTENT_LENGTH), length_);
    }

    // Empty while the GET has gone well; otherwise why not.
    const std::u16string& failure() const { return failure_; }
    bool hasLength() const { return hasLength_; }
    unsigned long long length() const { return length_; }

    // Hands the body to sink chunk by chunk; true when all of it arrived:
    // as much as the reply declared (a cut connection reads as a normal end).
    bool Receive(const std::function<bool(const char*, DWORD)>& sink, unsigned long long& received) {
        std::vector<char> chunk(kDownloadChunk);
        received = 0;
        for (;;) {
            DWORD count = 0;
            if (!InternetReadFile(request_.get(), chunk.data(), kDownloadChunk, &count)) {
                failure_ = u"read error " + Decimal(GetLastError()) + u" after " + Decimal(received) + u" bytes";
                return false;
            }
            if (count == 0) break;
            if (!sink(chunk.data(), count)) {
                failure_ = u"write error " + Decimal(GetLastError());
                return false;
            }
            received += count;
        }
        if (hasLength_ && received != length_) {
            failure_ = Decimal(received) + u" of " + Decimal(length_) + u" bytes";
            return false;
        }
        return true;
    }

private:
    std::u16string failure_;
    bool hasLength_ = false;
    unsigned long long length_ = 0;
    InternetHandle root_, connection_, request_;  // closed in reverse order
};

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
        // The copy is complete before it takes the name, so an end at any
        // moment leaves `to` whole.
        const std::wstring partial = Wide(to) + L".partial";
        if (!CopyFileW(Wide(from).c_str(), partial.c_str(), FALSE)) return Failed(u"CopyFileW", to);
        if (!MoveFileExW(partial.c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            Failed(u"MoveFileExW", to);
            DeleteFileW(partial.c_str());
            return false;
        }
        return true;
    }

    std::u16string FetchVersionFile(const std::u16string& url) override {
        return vantorel::FetchVersionFile(url, BuiltInUpdateSettings().receiveTimeoutMs);
    }

    std::u16string GetText(const std::u16string& url) override {
        std::u16string text;
        if (!HttpGetText(url, text)) text.clear();
        return text;
    }

    bool DownloadToFile(const std::u16string& path, const std::u16string& url) override {
        return vantorel::DownloadToFile(path, url, BuiltInUpdateSettings().receiveTimeoutMs);
    }

    void RequestServiceShutdown() override { HttpGetNoReply(std::u16string(ServiceUrl(ServiceRequest::Shutdown))); }

    bool UnpackArchive(const std::u16string& archive) override { return vantorel::UnpackArchive(archive); }

    bool IsTrustedAgent(const std::u16string& path) override {
        if (!VerifyFileSignature(Wide(path))) return false;
        // An unsigned agent (a development build) takes any valid signature;
        // a signed one only its own publisher's.
        std::string own;
        if (!ReadSignerCertificate(Wide(GetModulePath()), own)) return true;
        std::string theirs;
        if (ReadSignerCertificate(Wide(path), theirs) && theirs == own) return true;
        DebugOutput(u"Update: " + path + u" is signed by another publisher\n");
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
        const std::wstring interpreter =
            std::wstring(system, length != 0 && length < MAX_PATH ? length : 0) + L"\\cmd.exe";
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
    void Debug(std::u16string_view line) override { DebugOutput(line); }

private:
    static bool InstanceMutexExists() {
        const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, Wide(kInstanceMutexName).c_str());
        if (!mutex) return false;
        CloseHandle(mutex);
        return true;
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
    const std::u16string transferStatus(ServiceUrl(ServiceRequest::TransferStatus));
    // The first check stays where it was due, whatever the chore took.
    const DWORD spent = GetTickCount() - started;
    ::Sleep(spent < settings.firstCheckDelayMs ? settings.firstCheckDelayMs - spent : 0);
    for (;;) {
        try {
            RunUpdatePass(host, settings, transferStatus);
        } catch (const std::exception&) {
            // Out of memory in a pass: the next one tries again.
        }
        ::Sleep(settings.checkIntervalMs);
    }
}

}  // namespace

bool DownloadToFile(const std::u16string& path, const std::u16string& url, uint32_t receiveTimeoutMs) {
    PackageServerGet get(url, receiveTimeoutMs);
    if (!get.failure().empty()) {
        DownloadFailed(url, get.failure());
        return false;
    }
    const std::wstring target = Wide(path);
    const std::wstring partial = target + L".download";
    const HANDLE file =
        CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DownloadFailed(url, u"cannot create " + Utf16(partial) + u", error " + Decimal(GetLastError()));
        return false;
    }
    unsigned long long received = 0;
    bool complete = get.Receive(
        [file](const char* data, DWORD count) {
            DWORD written = 0;
            return ::WriteFile(file, data, count, &written, nullptr) && written == count;
        },
        received);
    std::u16string why = get.failure();
    if (complete && received == 0) {
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
    DebugOutput(u"Update: downloaded " + url + u", " + Decimal(received) + u" bytes\n");
    return true;
}

std::u16string FetchVersionFile(const std::u16string& url, uint32_t receiveTimeoutMs) {
    PackageServerGet get(url, receiveTimeoutMs);
    std::string bytes;
    unsigned long long received = 0;
    const bool complete = get.failure().empty() && get.Receive(
                                                       [&bytes](const char* data, DWORD count) {
                                                           if (bytes.size() + count > kMaxVersionFileBytes) return false;
                                                           bytes.append(data, count);
                                                           return true;
                                                       },
                                                       received);
    if (!complete) {
        DebugOutput(u"Update: no version file from " + url + u": " + get.failure() + u"\n");
        return {};
    }
    // Each byte one character: the file is ASCII.
    return std::u16string(bytes.begin(), bytes.end());
}

bool UnpackArchive(const std::u16string& archive) {
    const std::u16string directory = GetModuleDirectory();
    unsigned long exitCode = 0;
    const int ran = RunShellProgram(directory + u"\\" + std::u16string(kArchiveTool), u" x -y \"" + archive + u"\"",
                                    directory, &exitCode);
    if (ran && exitCode == 0) return true;
    DebugOutput(u"Update: unpacking " + archive + u" failed, " + std::u16string(kArchiveTool) +
                (ran ? u" exited with " + Decimal(exitCode) : std::u16string(u" did not start")) + u"\n");
    return false;
}

void CompleteUpdateAtStart() {
    WindowsUpdateHost host(nullptr);
    switch (CompleteUpdateAtStart(host)) {
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
