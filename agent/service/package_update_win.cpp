#include "agent/service/package_update_win.h"

#include <process.h>
#include <shellapi.h>

#include <exception>
#include <new>
#include <string>

#include "agent/core/agent_messages.h"
#include "agent/core/file_signature_win.h"
#include "agent/service/package_download_win.h"
#include "agent/service/package_update.h"
#include "agent/service/service_launcher_win.h"
#include "agent/service/update_files_win.h"
#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
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
        return CopyInPlace(Wide(from), Wide(to));
    }
    bool MoveTree(const std::u16string& from, const std::u16string& to) override {
        return MoveFolderContents(Wide(from), Wide(to));
    }
    void RemoveMatching(const std::u16string& folder, std::u16string_view pattern) override {
        RemoveMatchingFiles(Wide(folder), Wide(pattern));
    }
    void RemoveTree(const std::u16string& folder) override { RemoveFolder(Wide(folder)); }
    bool CanRemoveFile(const std::u16string& path) override { return IsRemovableFile(Wide(path)); }
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
        const TrustVerdict verdict = CheckAgentTrust(Wide(GetModulePath()), Wide(path));
        if (verdict == TrustVerdict::Trusted) return true;
        DebugOutput(u"Update: " + path + u" " + std::u16string(DescribeTrustVerdict(verdict)) + u"\n");
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
                        DecimalText(length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)));
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
            DebugOutput(u"Failed " + path + u" with: " + DecimalText(GetLastError()));
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

    static bool Failed(std::u16string_view what, const std::u16string& path) {
        DebugOutput(u"Failed " + std::u16string(what) + u" " + path + u" with: " + DecimalText(GetLastError()) + u"\n");
        return false;
    }

    HWND window_;
};

struct UpdateThreadStart {
    HWND window;
    bool (*chore)();
};

constexpr DWORD kChoreRetryMs = 30000;

// Whether the chore is done; one that throws (out of memory) is dropped,
// the updates go on.
bool RunChore(bool (*chore)()) {
    try {
        return !chore || chore();
    } catch (...) {
        return true;
    }
}

unsigned __stdcall UpdateThread(void* argument) {
    const UpdateThreadStart start = *static_cast<UpdateThreadStart*>(argument);
    delete static_cast<UpdateThreadStart*>(argument);
    const DWORD started = GetTickCount();
    bool choreDone = RunChore(start.chore);
    WindowsUpdateHost host(start.window);
    const UpdateSettings& settings = BuiltInUpdateSettings();
    UpdateRetries retries;
    const std::u16string transferStatus(ServiceUrl(ServiceRequest::TransferStatus));
    // The first check stays where it was due, whatever the chore took.
    for (;;) {
        const DWORD spent = GetTickCount() - started;
        if (spent >= settings.firstCheckDelayMs) break;
        const DWORD left = settings.firstCheckDelayMs - spent;
        ::Sleep(choreDone || left < kChoreRetryMs ? left : kChoreRetryMs);
        if (!choreDone) choreDone = RunChore(start.chore);
    }
    for (;;) {
        if (!choreDone) choreDone = RunChore(start.chore);
        try {
            RunUpdatePass(host, settings, retries, transferStatus);
        } catch (const std::exception&) {
            // Out of memory in a pass: the next one tries again.
        }
        ::Sleep(settings.checkIntervalMs);
    }
}

}  // namespace

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
                (ran ? u" exited with " + DecimalText(exitCode) : std::u16string(u" did not start")) + u"\n");
    return false;
}

namespace {
// Set on the main thread before any other thread exists.
bool handedOverAtStart = false;
}  // namespace

void CompleteUpdateAtStart() {
    WindowsUpdateHost host(nullptr);
    switch (CompleteUpdateAtStart(host, BuiltInUpdateSettings())) {
        case StartUpdateOutcome::ExitAgent:
            ExitProcess(0);
        case StartUpdateOutcome::ExitFailed:
            ExitProcess(0xFFFFFFFF);
        case StartUpdateOutcome::HandedOver:
            handedOverAtStart = true;
            return;
        case StartUpdateOutcome::GoOn:
            return;
    }
}

void StartUpdateThread(HWND window, bool (*chore)()) {
    // This run ends at its first message: a pass of its own would find the
    // same prepared update and start a second new copy beside the first.
    if (handedOverAtStart) return;
    auto* start = new (std::nothrow) UpdateThreadStart{window, chore};
    if (!start) return;
    const uintptr_t thread = _beginthreadex(nullptr, 0, UpdateThread, start, 0, nullptr);
    if (thread == 0) {
        delete start;
        return;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace vantorel
