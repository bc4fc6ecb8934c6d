// Pasmiro.exe, the Send To target: makes sure the tray agent runs and hands
// the selected paths to the Local service in one upload request. Windowless;
// shows nothing. The decisions are in send_to.h; this file gathers the
// command line and does the platform's part.
#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "agent/core/agent_messages.h"
#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"
#include "pasmiro/send_to.h"

namespace vantorel {
namespace {

std::wstring Wide(std::u16string_view text)
{
    return std::wstring(text.begin(), text.end());
}

void LogFailure(std::u16string_view call, DWORD code)
{
    const std::wstring number = std::to_wstring(code);
    DebugOutput(u"Pasmiro: " + std::u16string(call) + u" failed: " + std::u16string(number.begin(), number.end()) +
                u"\n");
}

// Closes a WinINet handle when it goes out of scope; declared in opening
// order, so the request, connection and root handles close in that order.
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    ~InternetHandle()
    {
        if (handle_) InternetCloseHandle(handle_);
    }
    HINTERNET get() const { return handle_; }

private:
    HINTERNET handle_;
};

std::u16string OwnPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return std::u16string(path.begin(), path.begin() + length);
        path.resize(path.size() * 2);
    }
}

class WindowsPlatform final : public SendToPlatform {
public:
    bool AgentWindowExists() override
    {
        const std::wstring className = Wide(kWindowClassName);
        return FindWindowW(className.c_str(), nullptr) != nullptr;
    }

    bool StartAgent() override
    {
        const std::wstring agent = Wide(AgentPathBeside(OwnPath()));
        if (agent.empty()) return false;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(agent.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            LogFailure(u"CreateProcessW", GetLastError());
            return false;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }

    SendOutcome Send(const std::string& body) override
    {
        const std::wstring agent = Wide(kHttpUserAgent);
        InternetHandle root(InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        if (!root.get()) return Failed(u"InternetOpenW");
        const std::wstring host = Wide(kServiceHost);
        InternetHandle connection(InternetConnectW(root.get(), host.c_str(), kServicePort, nullptr, nullptr,
                                                   INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection.get()) return Failed(u"InternetConnectW");
        LPCWSTR acceptTypes[] = {L"*/*", nullptr};
        InternetHandle request(
            HttpOpenRequestW(connection.get(), L"POST", L"filetransfer", nullptr, nullptr, acceptTypes, 0, 0));
        if (!request.get()) return Failed(u"HttpOpenRequestW");
        const std::wstring header = Wide(kHttpPostHeader);
        if (!HttpSendRequestW(request.get(), header.c_str(), static_cast<DWORD>(header.size()),
                              const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
            const DWORD code = GetLastError();
            LogFailure(u"HttpSendRequestW", code);
            // Only a connection that was never made leaves the request unsent.
            return code == ERROR_INTERNET_CANNOT_CONNECT ? SendOutcome::NotReached : SendOutcome::Lost;
        }
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                            nullptr)) {
            LogFailure(u"HttpQueryInfoW", GetLastError());
            return SendOutcome::Lost;
        }
        if (status >= 200 && status < 300) return SendOutcome::Accepted;
        LogFailure(u"the upload request", status);
        return SendOutcome::Refused;
    }

    void Pause(uint32_t ms) override { Sleep(ms); }

    uint64_t NowMs() override
    {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }

private:
    // Nothing has left the tool yet: trying again cannot send twice.
    static SendOutcome Failed(std::u16string_view call)
    {
        LogFailure(call, GetLastError());
        return SendOutcome::NotReached;
    }
};

// The tool's arguments; nothing when the command line cannot be split.
std::optional<std::vector<std::u16string>> SplitArguments(const wchar_t* argumentText)
{
    std::vector<std::u16string> arguments;
    const std::wstring text = argumentText ? argumentText : L"";
    if (!HasArguments(std::u16string(text.begin(), text.end()))) return arguments;
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(text.c_str(), &count);
    if (!split) {
        LogFailure(u"CommandLineToArgvW", GetLastError());
        return std::nullopt;
    }
    for (int i = 0; i < count; ++i) {
        const std::wstring argument = split[i];
        arguments.emplace_back(argument.begin(), argument.end());
    }
    LocalFree(split);
    return arguments;
}

}  // namespace
}  // namespace vantorel

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR argumentText, int)
{
    vantorel::WindowsPlatform platform;
    return vantorel::RunSendTo(vantorel::SplitArguments(argumentText), platform);
}
