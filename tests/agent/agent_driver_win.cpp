// Drives Vantorel.exe from outside, as the shell and the agent's other
// programs meet it: the signature diagnostic (closing its message box), the
// running agent's hidden tray window, a second copy, and the quit request.
//   agent-driver INSTALL_DIR EMPTY_DIR
// Prints "ok NAME" or "FAIL NAME: detail" per check; exit code 0 when all passed.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/support/driver_checks_win.h"

namespace {

using driver::Check;

struct Started {
    PROCESS_INFORMATION process = {};
    HANDLE output = nullptr;  // read end of the program's standard output
};

bool Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& directory,
           Started& started)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&started.output, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(started.output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    const BOOL created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                       directory.c_str(), &startup, &started.process);
    CloseHandle(writeEnd);
    return created != FALSE;
}

std::string ReadAll(HANDLE pipe)
{
    std::string text;
    char buffer[512];
    DWORD count = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count != 0) text.append(buffer, count);
    return text;
}

// Waits for the process to end; its exit code, or STILL_ACTIVE on time-out.
DWORD Finish(Started& started, DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(started.process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(started.process.hProcess, &code);
    return code;
}

void Close(Started& started)
{
    if (started.output) CloseHandle(started.output);
    CloseHandle(started.process.hThread);
    CloseHandle(started.process.hProcess);
}

HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        if (HWND window = FindWindowW(className, title)) return window;
        Sleep(100);
    }
    return nullptr;
}

BOOL CALLBACK CollectText(HWND child, LPARAM found)
{
    wchar_t text[256] = {};
    GetWindowTextW(child, text, 256);
    auto* all = reinterpret_cast<std::wstring*>(found);
    *all += text;
    *all += L"|";
    return TRUE;
}

BOOL CALLBACK CountAgentWindows(HWND window, LPARAM count)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wcscmp(name, L"Vantorel") == 0) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int AgentWindowCount()
{
    int count = 0;
    EnumWindows(CountAgentWindows, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Runs the signature diagnostic in directory; checks the line it prints,
// the message box text and the exit code.
void SignatureRun(const std::wstring& agent, const std::wstring& arguments, const std::wstring& directory,
                  const char* expectedLine, const char* name)
{
    Started run;
    if (!Start(agent, arguments, directory, run)) {
        Check(false, name, L"cannot start");
        return;
    }
    const HWND box = WaitForWindow(nullptr, L"sign verification", 60000);
    std::wstring texts;
    if (box) {
        EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&texts));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    // Printed in text mode: the line ends in CR LF on Windows.
    std::string line = ReadAll(run.output);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.erase(line.size() - 2, 1);
    const DWORD code = Finish(run, 30000);
    const std::string prefix = name;
    Check(box != nullptr && texts.find(L"warning! not signed") != std::wstring::npos, (prefix + ": box").c_str(),
          L"message box: " + texts);
    Check(line == expectedLine, (prefix + ": line").c_str(), std::wstring(line.begin(), line.end()));
    Check(code == static_cast<DWORD>(-1), (prefix + ": exit code -1").c_str(), L"exit code " + std::to_wstring(code));
    Close(run);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fputs("usage: agent-driver INSTALL_DIR EMPTY_DIR\n", stderr);
        return 2;
    }
    const std::wstring install = argv[1];
    const std::wstring empty = argv[2];
    const std::wstring agent = install + L"\\Vantorel.exe";

    // Signature diagnostic: an unsigned agent beside it, and none at all.
    SignatureRun(agent, L"verifysignature", install, "The file \"Vantorel.exe\" is not signed.\n",
                 "verifysignature on an unsigned file");
    SignatureRun(agent, L"-xverifysignaturex", empty, "Error is: 0x2.\n", "verifysignature on a missing file");

    // The running agent: its hidden tray window.
    Started first;
    Check(Start(agent, L"", install, first), "agent starts");
    const HWND window = WaitForWindow(L"Vantorel", nullptr, 60000);
    Check(window != nullptr, "tray window of class Vantorel");
    if (window) {
        RECT rect = {};
        GetWindowRect(window, &rect);
        Check(rect.right - rect.left == 312 && rect.bottom - rect.top == 141, "tray window is 312 x 141",
              std::to_wstring(rect.right - rect.left) + L" x " + std::to_wstring(rect.bottom - rect.top));
        Check(!IsWindowVisible(window), "tray window is hidden");
        const LONG style = GetWindowLongW(window, GWL_STYLE);
        const LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
        Check((style & WS_POPUP) != 0 && (style & (WS_CAPTION | WS_VISIBLE)) == 0, "popup style only",
              std::to_wstring(style));
        Check((exStyle & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW)) == (WS_EX_TOPMOST | WS_EX_TOOLWINDOW),
              "topmost tool window", std::to_wstring(exStyle));
    }

    // A second copy hands over and leaves.
    Started second;
    Check(Start(agent, L"", install, second), "second copy starts");
    const DWORD secondCode = Finish(second, 60000);
    Check(secondCode == 0, "second copy exits with 0", std::to_wstring(secondCode));
    Check(AgentWindowCount() == 1, "second copy made no window", std::to_wstring(AgentWindowCount()));
    Check(WaitForSingleObject(first.process.hProcess, 0) == WAIT_TIMEOUT, "first agent still runs");
    Close(second);

    // The service the agent started (the stand-in writes its process id).
    HANDLE service = nullptr;
    if (FILE* file = _wfopen((install + L"\\jre\\bin\\javaw-alive.txt").c_str(), L"r")) {
        unsigned long id = 0;
        if (std::fscanf(file, "%lu", &id) == 1) service = OpenProcess(SYNCHRONIZE, FALSE, id);
        std::fclose(file);
    }
    Check(service != nullptr && WaitForSingleObject(service, 0) == WAIT_TIMEOUT, "the agent started the service");

    // The quit request, sent as the quit tool sends it.
    if (window) SendMessageW(window, 0x405, 0, 0);
    const DWORD firstCode = Finish(first, 30000);
    Check(firstCode == 0, "agent quits with 0 on the quit request", std::to_wstring(firstCode));
    Check(service != nullptr && WaitForSingleObject(service, 10000) == WAIT_OBJECT_0,
          "the agent ended the service at exit");
    if (service) CloseHandle(service);
    if (firstCode == STILL_ACTIVE) TerminateProcess(first.process.hProcess, 1);
    Close(first);

    return driver::Finish();
}
