// Runs Pasmiro.exe and Stolvane.exe as the shell and other programs start
// them, against the stand-in service on the service's port, in one Wine
// session. The test script starts the service once this driver has started
// the first Send To run (SYNC\pasmiro-started); the driver saves the service's
// request log for each stage (SYNC\log-STAGE.json, then resets it) for the
// script to check the bytes.
//   tools-driver SYNC INSTALL LONELY HANGING PATHS
// INSTALL: the install layout with a stand-in service; LONELY: Pasmiro.exe
// alone; HANGING: Pasmiro.exe beside a Vantorel.exe that never makes a window;
// PATHS: UTF-8 file of paths, one a line.
// Prints "ok NAME", "FAIL NAME: detail" and "time NAME MS" lines; exit code 0
// when every check passed.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/driver_checks_win.h"
#include "tests/support/sim_control_win.h"

namespace {

using driver::Check;

uint64_t UnixMs()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ((uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime) - 116444736000000000ull) / 10000;
}

void Time(const char* name, uint64_t ms)
{
    std::printf("time %s %llu\n", name, static_cast<unsigned long long>(ms));
    std::fflush(stdout);
}

struct Run {
    DWORD code = STILL_ACTIVE;
    uint64_t startedUnixMs = 0;
    uint64_t tookMs = 0;
};

// Starts program with the arguments, as the shell does, and waits for it.
Run RunTool(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs)
{
    Run run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    run.startedUnixMs = UnixMs();
    const DWORD ticks = GetTickCount();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("cannot start %ls: %lu\n", program.c_str(), GetLastError());
        return run;
    }
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &run.code);
    } else {
        TerminateProcess(process.hProcess, 99);
    }
    run.tookMs = GetTickCount() - ticks;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

std::string Fetch(const wchar_t* url)
{
    constexpr std::wstring_view prefix = L"http://127.0.0.1:9333/sim/";
    const std::wstring full(url);
    return driver::SimGet(full.substr(prefix.size())).body;
}

bool WriteFileText(const std::wstring& path, const std::string& text)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return true;
}

// Keeps the service's request log of one stage for the script and starts
// the next stage with an empty one.
void SaveLog(const std::wstring& sync, const wchar_t* stage)
{
    WriteFileText(sync + L"\\log-" + stage + L".json", Fetch(L"http://127.0.0.1:9333/sim/log"));
    Fetch(L"http://127.0.0.1:9333/sim/reset");
}

std::wstring QuotedPaths(const std::wstring& file)
{
    std::string bytes;
    if (FILE* in = _wfopen(file.c_str(), L"rb")) {
        char chunk[4096];
        size_t count;
        while ((count = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.append(chunk, count);
        std::fclose(in);
    }
    std::wstring text(bytes.size(), L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), text.data(), int(text.size())));
    std::wstring quoted;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) quoted += (quoted.empty() ? L"\"" : L" \"") + text.substr(start, end - start) + L"\"";
        start = end + 1;
    }
    return quoted;
}

HWND AgentWindow()
{
    return FindWindowW(L"Vantorel", nullptr);
}

// The executable of a process (Vista's call: this build targets XP headers).
std::wstring ImageOf(DWORD processId)
{
    using QueryImage = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
    const auto query = reinterpret_cast<QueryImage>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    wchar_t path[1024] = {};
    DWORD size = 1024;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!query || !process || !query(process, 0, path, &size))
        return L"(error " + std::to_wstring(GetLastError()) + L")";
    CloseHandle(process);
    return path;
}

void EndStandIn(const std::wstring& directory)
{
    if (FILE* file = _wfopen((directory + L"\\javaw-alive.txt").c_str(), L"r")) {
        unsigned long id = 0;
        if (std::fscanf(file, "%lu", &id) == 1) {
            if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id)) {
                TerminateProcess(process, 0);
                CloseHandle(process);
            }
        }
        std::fclose(file);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 6) {
        std::fputs("usage: tools-driver SYNC INSTALL LONELY HANGING PATHS\n", stderr);
        return 2;
    }
    const std::wstring sync = argv[1];
    const std::wstring install = argv[2];
    const std::wstring lonely = argv[3];
    const std::wstring hanging = argv[4];
    const std::wstring paths = QuotedPaths(argv[5]);
    const std::wstring pasmiro = install + L"\\Pasmiro.exe";
    const std::wstring stolvane = install + L"\\Stolvane.exe";

    // No agent, no service yet.
    Run run = RunTool(stolvane, L"", 30000);
    Check(run.code == 0, "quit tool without an agent: exit 0", std::to_wstring(run.code));
    Time("quit-without-agent", run.tookMs);

    run = RunTool(lonely + L"\\Pasmiro.exe", paths, 30000);
    Check(run.code == 1, "send to without an agent beside it: exit 1", std::to_wstring(run.code));
    Time("send-to-unstartable-agent", run.tookMs);

    run = RunTool(hanging + L"\\Pasmiro.exe", paths, 60000);
    Check(run.code == 1, "send to with an agent that shows no window: exit 1", std::to_wstring(run.code));
    Time("send-to-windowless-agent", run.tookMs);
    EndStandIn(hanging);

    // The agent is started from the tool's folder; the service comes later.
    WriteFileText(sync + L"\\pasmiro-started", "");
    run = RunTool(pasmiro, paths, 120000);
    Check(run.code == 0, "send to starting the agent: exit 0", std::to_wstring(run.code));
    Time("send-to-starting-agent", run.tookMs);
    const HWND agent = AgentWindow();
    DWORD agentId = 0;
    if (agent) GetWindowThreadProcessId(agent, &agentId);
    const std::wstring image = ImageOf(agentId);
    Check(agent && _wcsicmp(image.c_str(), (install + L"\\Vantorel.exe").c_str()) == 0,
          "the agent from the tool's folder runs on", image);
    SaveLog(sync, L"started");

    // The agent runs: the request goes out at once.
    run = RunTool(pasmiro, paths, 120000);
    Check(run.code == 0, "send to a running agent: exit 0", std::to_wstring(run.code));
    Time("send-to-running-agent", run.tookMs);
    Time("send-to-running-agent-started-unix", run.startedUnixMs);
    SaveLog(sync, L"running");

    run = RunTool(pasmiro, L"", 60000);
    Check(run.code == 0, "send to without paths: exit 0", std::to_wstring(run.code));
    run = RunTool(pasmiro, L"  \"\"", 60000);
    Check(run.code == 0, "send to with an empty path only: exit 0", std::to_wstring(run.code));
    SaveLog(sync, L"nopaths");

    for (const wchar_t* status : {L"400", L"500"}) {
        Fetch((std::wstring(L"http://127.0.0.1:9333/sim/force?request=filetransfer&body=no&status=") + status).c_str());
        run = RunTool(pasmiro, paths, 120000);
        Check(run.code == 1, "send to a service answering an error: exit 1", status + (L": " + std::to_wstring(run.code)));
    }
    SaveLog(sync, L"refused");

    // The quit tool: the agent tells the service, then leaves.
    HANDLE agentProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, agentId);
    run = RunTool(stolvane, L"", 60000);
    Check(run.code == 0, "quit tool with an agent: exit 0", std::to_wstring(run.code));
    SaveLog(sync, L"quit");
    DWORD agentCode = STILL_ACTIVE;
    if (agentProcess && WaitForSingleObject(agentProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(agentProcess, &agentCode);
        FILETIME created, exited, kernel, user;
        if (GetProcessTimes(agentProcess, &created, &exited, &kernel, &user))
            Time("agent-exit-unix",
                 ((uint64_t(exited.dwHighDateTime) << 32 | exited.dwLowDateTime) - 116444736000000000ull) / 10000);
    }
    Check(agentCode == 0, "the agent exits with 0 on the quit tool", std::to_wstring(agentCode));
    if (agentProcess) CloseHandle(agentProcess);

    run = RunTool(stolvane, L"", 30000);
    Check(run.code == 0 && !AgentWindow(), "second quit tool finds no agent: exit 0", std::to_wstring(run.code));
    Time("quit-after-agent", run.tookMs);
    SaveLog(sync, L"quit-again");

    return driver::Finish();
}
