// Drives the agent's self-update under Wine: starts test builds of the agent
// in a test install directory, serves them packages through the HTTPS
// stand-in (by writing its files and faults), and checks the install
// directory, the processes and the two servers' logs after each scenario.
//
// Usage: update-driver INSTALL BASE BINS VARIANTS SERVED SERVER_LOG CA_DER DOWNLOAD_CAP
//   INSTALL   the test install directory (emptied and refilled per scenario)
//   BASE      its layout without the agent: 7zr.exe, Pellick.dll, jre\bin\javaw.exe ...
//   BINS      old-signed.exe and the new agent as new-KIND.exe: signed, renewed (the
//             publisher's renewed certificate), nested (another authority first, the
//             publisher nested), unsigned, tampered, foreign, rogue (the publisher's
//             name under another root), older (the old agent again)
//   VARIANTS  agent-*.7z (the agent package with each new agent), agent-corrupt.7z,
//             jre.7z, dependency.7z
//   SERVED    the stand-in's root; packages go to SERVED\packages
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/driver_checks_win.h"
#include "tests/support/sim_control_win.h"

namespace {

using driver::Check;

std::wstring install, base, bins, variants, served, serverLog;
unsigned long long downloadCap = 0;
constexpr UINT kQuitRequest = 0x405;

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteAll(const std::wstring& path, const std::string& bytes) {
    // Beside, then renamed: the stand-in re-reads its files on every request.
    const std::wstring partial = path + L".tmp";
    {
        std::ofstream out(partial.c_str(), std::ios::binary | std::ios::trunc);
        out << bytes;
        if (!out) return false;
    }
    return MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
bool SameFile(const std::wstring& a, const std::wstring& b) {
    const std::string x = ReadAll(a);
    return !x.empty() && x == ReadAll(b);
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((dir + L"*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(dir + name + L"\\");
                RemoveDirectoryW((dir + name).c_str());
            } else {
                DeleteFileW((dir + name).c_str());
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
}

void CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((from + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyTree(from + name + L"\\", to + name + L"\\");
        else
            CopyFileW((from + name).c_str(), (to + name).c_str(), FALSE);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

// Every file under dir (relative path) with its content.
void Listing(const std::wstring& dir, const std::wstring& prefix, std::map<std::wstring, std::string>& files) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((dir + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            files[prefix + name + L"\\"];
            Listing(dir + name + L"\\", prefix + name + L"\\", files);
        } else {
            files[prefix + name] = ReadAll(dir + name);
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

// The install folder as the agent's own doing leaves it: without the
// service stand-in's mark of life and the record of a refused version.
std::map<std::wstring, std::string> InstallListing() {
    std::map<std::wstring, std::string> files;
    Listing(install, L"", files);
    files.erase(L"jre\\bin\\javaw-alive.txt");
    files.erase(L"agent.refused");
    return files;
}

std::wstring Differences(const std::map<std::wstring, std::string>& a, const std::map<std::wstring, std::string>& b) {
    std::wstring text;
    for (const auto& [name, content] : a)
        if (!b.count(name) || b.at(name) != content) text += L"-" + name + L" ";
    for (const auto& [name, content] : b)
        if (!a.count(name)) text += L"+" + name + L" ";
    return text;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
}

// Lines of the package stand-in's log: "GET /packages/NAME STATUS OUTCOME SENT/SIZE SECONDS".
int Requests(const std::string& name, const std::string& outcome = "") {
    std::istringstream lines(ReadAll(serverLog));
    std::string line;
    int count = 0;
    while (std::getline(lines, line))
        if (line.rfind("GET /packages/" + name + " ", 0) == 0 &&
            (outcome.empty() || line.find(" " + outcome + " ") != std::string::npos))
            ++count;
    return count;
}

std::string LastRequest(const std::string& name) {
    std::istringstream lines(ReadAll(serverLog));
    std::string line, last;
    while (std::getline(lines, line))
        if (line.rfind("GET /packages/" + name + " ", 0) == 0) last = line;
    return last;
}

const std::string kVersionFile = "VantorelPkg-0.09.25.3.txt";
const std::string kNewVersionFile = "VantorelPkg-0.09.26.0.txt";
const std::string kAgentPackage = "VantorelPkg-0.09.25.3.7z";
const std::string kRuntimePackage = "jre-1.6.0.25.7z";
const std::string kDependencyPackage = "dependency-0.09.25.3.7z";

std::wstring Served(const std::string& name) { return served + L"packages\\" + std::wstring(name.begin(), name.end()); }

void Serve(const std::string& versionFile, const std::wstring& agentVariant) {
    CreateDirectoryW((served + L"packages").c_str(), nullptr);
    DeleteFileW(Served(kVersionFile).c_str());
    if (!versionFile.empty()) WriteAll(Served(kVersionFile), versionFile);
    CopyFileW((variants + agentVariant).c_str(), Served(kAgentPackage).c_str(), FALSE);
    CopyFileW((variants + L"jre.7z").c_str(), Served(kRuntimePackage).c_str(), FALSE);
    CopyFileW((variants + L"dependency.7z").c_str(), Served(kDependencyPackage).c_str(), FALSE);
}

void Faults(const std::string& json) { WriteAll(served + L".faults.json", json); }

// Every process name seen while an agent runs, sampled by a thread.
class ProcessWatch {
public:
    ProcessWatch() : thread_([this] { Run(); }) {}
    ~ProcessWatch() {
        stop_ = true;
        thread_.join();
    }
    bool Seen(const std::wstring& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_.count(name) != 0;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.clear();
    }

private:
    void Run() {
        while (!stop_) {
            const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
            PROCESSENTRY32W entry = {};
            entry.dwSize = sizeof entry;
            if (snapshot != INVALID_HANDLE_VALUE) {
                for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    seen_.insert(entry.szExeFile);
                }
                CloseHandle(snapshot);
            }
            Sleep(20);
        }
    }
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::set<std::wstring> seen_;
    std::thread thread_;
};

ProcessWatch* watch = nullptr;

HANDLE Start(const std::wstring& exe) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, install.c_str(),
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

bool Running(HANDLE process) { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

HWND AgentWindow() { return FindWindowW(L"Vantorel", nullptr); }

// Ends whatever agent runs: the quit request, then force; and the service
// stand-in it may have left.
void EndAgents(HANDLE process) {
    for (int i = 0; i < 3; ++i) {
        if (HWND window = AgentWindow()) {
            DWORD processId = 0;
            GetWindowThreadProcessId(window, &processId);
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(window, kQuitRequest, 0, 0, SMTO_NORMAL, 5000, &ignored);
            if (HANDLE other = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId)) {
                if (WaitForSingleObject(other, 10000) != WAIT_OBJECT_0) TerminateProcess(other, 1);
                CloseHandle(other);
            }
        }
    }
    if (process) {
        if (WaitForSingleObject(process, 2000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
        CloseHandle(process);
    }
    const unsigned long stand_in = std::strtoul(ReadAll(install + L"jre\\bin\\javaw-alive.txt").c_str(), nullptr, 10);
    if (HANDLE service = stand_in ? OpenProcess(PROCESS_TERMINATE, FALSE, stand_in) : nullptr) {
        TerminateProcess(service, 0);
        CloseHandle(service);
    }
    WaitFor([] { return !AgentWindow(); }, 5000);
}

void ResetInstall() {
    // A new copy that has just started the new agent may still be ending, its
    // image not yet deletable: a copy left here would be offered again.
    WaitFor(
        [] {
            RemoveTree(install);
            return !Exists(install + L"newVantorel.exe") && !Exists(install + L"Vantorel.exe");
        },
        15000);
    CopyTree(base, install);
    CopyFileW((bins + L"old-signed.exe").c_str(), (install + L"Vantorel.exe").c_str(), FALSE);
    DeleteFileW((served + L".faults.json").c_str());
    watch->Clear();
}

bool IsOldAgent() { return SameFile(install + L"Vantorel.exe", bins + L"old-signed.exe"); }
bool IsNewAgent(const wchar_t* kind = L"signed") {
    return SameFile(install + L"Vantorel.exe", bins + L"new-" + kind + L".exe");
}

std::string Named(const char* prefix, const std::wstring& what) {
    return std::string(prefix) + " (" + std::string(what.begin(), what.end()) + ")";
}

// A refused new copy, offered by a pass and at start-up: never started,
// nothing of its package left, its version not fetched again.
void RefusedCandidates() {
    for (const std::wstring kind : {L"unsigned", L"tampered", L"foreign", L"rogue", L"older"}) {
        ResetInstall();
        Serve("Hollin=0.09.26.0|", L"agent-" + kind + L".7z");
        const auto before = InstallListing();
        const int fetched = Requests(kAgentPackage, "complete");
        const HANDLE agent = Start(install + L"Vantorel.exe");
        const bool refused = WaitFor(
            [&] { return Requests(kAgentPackage, "complete") > fetched && Exists(install + L"agent.refused"); }, 30000);
        // Ten passes more, for one of them: the refused version stays refused.
        const bool tenPasses = kind == L"foreign";
        Sleep(tenPasses ? 25000 : 1500);
        const auto after = InstallListing();
        Check(refused && after == before, Named("a pass refuses the copy and leaves nothing of its package", kind).c_str(),
              Differences(before, after));
        Check(!watch->Seen(L"newVantorel.exe") && Running(agent) && IsOldAgent() && Requests(kNewVersionFile) == 0 &&
                  Requests(kAgentPackage, "complete") == fetched + 1,
              Named(tenPasses ? "the copy never runs and its version is fetched once in ten passes"
                              : "the copy never runs and its version is fetched once",
                    kind)
                  .c_str(),
              std::to_wstring(Requests(kAgentPackage, "complete") - fetched));
        EndAgents(agent);
        // At start-up the same check decides; a rogue copy is refused as a foreign one.
        if (kind == L"rogue") continue;

        ResetInstall();
        Serve("", L"agent-good.7z");
        CopyFileW((bins + L"new-" + kind + L".exe").c_str(), (install + L"newVantorel.exe").c_str(), FALSE);
        WriteAll(install + L"first_run", "");
        const HANDLE again = Start(install + L"Vantorel.exe");
        const bool up = WaitFor([] { return AgentWindow() != nullptr; }, 20000);
        Sleep(2500);
        Check(up && Running(again) && !watch->Seen(L"newVantorel.exe") && IsOldAgent() &&
                  !Exists(install + L"newVantorel.exe"),
              Named("at start-up the refused copy is not started; the old agent runs", kind).c_str());
        EndAgents(again);
    }
}

size_t WorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

// Faults in successive passes, each followed by a clean retry, then a full
// cycle: download, unpack, a wait for the running transfer, the hand-over,
// the install and the new agent.
void FaultsThenFullCycle() {
    ResetInstall();
    const std::string versions = "Hollin=0.09.26.0|jre=1.6.0.26|dependency=0.09.25.4|";
    Serve(versions, L"agent-good.7z");
    Faults("{\"" + kVersionFile + "\": {\"mode\": \"refuse\", \"times\": 1}}");
    const int packagesBefore = Requests(kAgentPackage);
    const DWORD started = GetTickCount();
    const HANDLE agent = Start(install + L"Vantorel.exe");
    const std::string stand_inPid = [] {
        WaitFor([] { return !ReadAll(install + L"jre\\bin\\javaw-alive.txt").empty(); }, 20000);
        return ReadAll(install + L"jre\\bin\\javaw-alive.txt");
    }();

    auto nothingInstalled = [] {
        return !Exists(install + L"first_run") && !Exists(install + L"Version-0.09.26.0-pkg.7z") &&
               !Exists(install + L"Version-0.09.26.0-pkg.7z.download") && IsOldAgent();
    };
    const bool refused = WaitFor([] { return Requests(kVersionFile, "refused") == 1; }, 20000);
    Sleep(500);
    Check(refused, "the version file is refused once");
    Check(nothingInstalled() && Requests(kAgentPackage) == packagesBefore, "a refused version file fetches nothing");
    Faults("{\"" + kVersionFile + "\": {\"mode\": \"stall\", \"after\": 10, \"times\": 1}}");
    const bool gaveUp = WaitFor([] { return Requests(kVersionFile, "client-gone") == 1; }, 30000);
    Check(gaveUp && nothingInstalled() && Requests(kAgentPackage) == packagesBefore,
          "a version file that stops coming is given up", [] {
              const std::string line = LastRequest(kVersionFile);
              return std::wstring(line.begin(), line.end());
          }());

    // The runtime and dependency packages of the next pass are unpacked at
    // once: the 100 MB runtime is measured while it arrives.
    const struct {
        const char* fault;
        const char* outcome;
        const char* name;
    } faults[] = {
        {"{\"mode\": \"truncate\", \"times\": 1}", "truncated", "a truncated package installs nothing"},
        {"{\"mode\": \"wronglength\", \"times\": 1}", "wronglength", "a package longer than it says installs nothing"},
        {"{\"mode\": \"stall\", \"seconds\": 8, \"then\": \"close\", \"times\": 1}", "client-gone",
         "a stalled package is given up and installs nothing"},
        {"{\"mode\": \"endless\", \"times\": 1}", "client-gone",
         "an endless package stops at the download limit and leaves nothing"},
    };
    size_t baseline = WorkingSet(agent), peak = baseline;
    bool first = true;
    for (const auto& f : faults) {
        Faults("{\"" + kAgentPackage + "\": " + f.fault + "}");
        const int before = Requests(kAgentPackage);
        const bool seen = WaitFor(
            [&] {
                if (first) peak = std::max(peak, WorkingSet(agent));
                return Requests(kAgentPackage) > before;
            },
            60000);
        if (first) {
            // The runtime follows the agent package in the same pass.
            WaitFor([&] {
                peak = std::max(peak, WorkingSet(agent));
                return Requests(kRuntimePackage, "complete") == 1;
            }, 120000);
            first = false;
        }
        Sleep(700);
        const std::string line = LastRequest(kAgentPackage);
        // "... client-gone SENT/SIZE SECONDS": an endless body is read up to the cap.
        const size_t sentAt = line.find(" client-gone ");
        const unsigned long long sent =
            sentAt == std::string::npos ? 0 : std::strtoull(line.c_str() + sentAt + 13, nullptr, 10);
        const bool endless = std::strstr(f.fault, "endless") != nullptr;
        if (endless) std::printf("figure endless package: %s (download limit %llu)\n", line.c_str(), downloadCap);
        Check(seen && line.find(std::string(" ") + f.outcome + " ") != std::string::npos && nothingInstalled() &&
                  (!endless || (sent >= downloadCap / 2 && sent <= downloadCap + (16u << 20))),
              f.name, std::wstring(line.begin(), line.end()));
    }
    const std::string runtimeLine = LastRequest(kRuntimePackage);
    std::printf("figure 100 MB runtime package download: %s; agent working set %.1f MiB before, peak %.1f MiB\n",
                runtimeLine.c_str(), baseline / 1048576.0, peak / 1048576.0);
    Check(Exists(install + L"jre\\lib\\runtime-1.6.0.26.txt") && Exists(install + L"lib\\dependency-0.09.25.4.txt") &&
              ReadAll(install + L"jre.installed") == "1.6.0.26",
          "the runtime and dependency packages are unpacked at once");
    const HANDLE service = OpenProcess(SYNCHRONIZE, FALSE, std::strtoul(stand_inPid.c_str(), nullptr, 10));
    Check(ReadAll(install + L"jre\\bin\\javaw-alive.txt") == stand_inPid && Running(service),
          "the service runs on while they are unpacked");
    if (service) CloseHandle(service);

    // A package that fails to extract: the install folder as it was, tried
    // again after a pause.
    Faults("{}");
    const auto unchanged = InstallListing();
    CopyFileW((variants + L"agent-corrupt.7z").c_str(), Served(kAgentPackage).c_str(), FALSE);
    int before = Requests(kAgentPackage, "complete");
    const bool failed = WaitFor([&] { return Requests(kAgentPackage, "complete") > before; }, 30000) &&
                        WaitFor([&] { return InstallListing() == unchanged; }, 20000);
    Check(failed && !Exists(install + L"first_run") && IsOldAgent() && Running(agent),
          "a failed extraction leaves the install folder as it was", Differences(unchanged, InstallListing()));

    // A transfer runs when the update is ready: the hand-over waits for it.
    // The transfer is far longer than any preparation; once the new copy has
    // waited a while behind it, the test lets it finish at full speed.
    driver::SimGet(L"config?download_rate=1000000");
    driver::SimGet(L"download?name=long.bin&size=100000000");
    // The release of a publisher whose certificate was renewed.
    CopyFileW((variants + L"agent-renewed.7z").c_str(), Served(kAgentPackage).c_str(), FALSE);
    const DWORD published = GetTickCount();
    const auto transferRuns = [] {
        return driver::SimGet(L"state").body.find("\"transferstatus\":\"progress\"") != std::string::npos;
    };
    const bool prepared = WaitFor([&] { return Exists(install + L"first_run") || !Running(agent); }, 60000) &&
                          Exists(install + L"first_run");
    Sleep(4000);
    const bool waited = prepared && transferRuns() && Running(agent);
    driver::SimGet(L"config?download_rate=0");
    const bool ended = WaitFor([&] { return !transferRuns(); }, 60000);
    WaitFor([&] { return !Running(agent); }, 60000);
    const DWORD oldEnded = GetTickCount();
    Check(waited && ended && !Running(agent), "the old agent hands over only once the transfer has ended",
          std::to_wstring(prepared) + L" " + std::to_wstring(waited) + L" " + std::to_wstring(ended));
    Check(Requests(kRuntimePackage) == 1 && Requests(kDependencyPackage) == 1,
          "an unpacked runtime or dependency version is fetched once");

    const bool newRuns = WaitFor([] { return Requests(kNewVersionFile) > 0; }, 60000);
    std::printf("figure hand-over to install: %.1f s from the old agent's end to the new agent's first check\n",
                (GetTickCount() - oldEnded) / 1000.0);
    std::printf("figure from the renewed-certificate release's publication (with a 9 s transfer running) to the "
                "new agent's first check: %.1f s\n",
                (GetTickCount() - published) / 1000.0);
    Check(newRuns && IsNewAgent(L"renewed") && AgentWindow() != nullptr,
          "the release signed with the renewed certificate runs and asks for its own version");
    std::printf("figure from the old agent's start, through six failed passes, to the new agent's first check: %.1f s\n",
                (GetTickCount() - started) / 1000.0);
    Check(WaitFor([] { return !Exists(install + L"newVantorel.exe") && !Exists(install + L"oldVantorel.exe"); }, 10000),
          "the new agent removes the leftovers");
    Check(ReadAll(install + L"order.log") == "unpack_svc\r\nunpack_jre\r\nunpack_lib\r\n",
          "the unpack scripts ran in order", [] {
              const std::string log = ReadAll(install + L"order.log");
              return std::wstring(log.begin(), log.end());
          }());
    Check(!Exists(install + L"unpack_svc.cmd") && !Exists(install + L"unpack_jre.cmd") &&
              !Exists(install + L"unpack_lib.cmd") && !Exists(install + L"first_run") &&
              Exists(install + L"lib\\service-0.09.26.0.jar"),
          "the scripts and the marker are gone, the package's folders kept");
    EndAgents(agent);
}

// The states an update leaves when the agent is ended at each of its steps:
// the next start runs a whole agent, old or new.
void EndedAtEachStep() {
    auto startAndSettle = [](const std::wstring& exe) {
        const HANDLE process = Start(exe);
        WaitFor([] { return AgentWindow() != nullptr; }, 20000);
        Sleep(2500);
        return process;
    };
    auto extractGood = [](const wchar_t* kind = L"signed") {
        // What the archive tool leaves: the new copy and the scripts.
        CopyFileW((bins + L"new-" + kind + L".exe").c_str(), (install + L"newVantorel.exe").c_str(), FALSE);
        for (const wchar_t* script : {L"unpack_svc.cmd", L"unpack_jre.cmd", L"unpack_lib.cmd"})
            CopyFileW((bins + script).c_str(), (install + script).c_str(), FALSE);
    };

    ResetInstall();
    Serve("", L"agent-good.7z");
    CopyFileW((variants + L"agent-good.7z").c_str(), (install + L"Version-0.09.26.0-pkg.7z").c_str(), FALSE);
    HANDLE agent = startAndSettle(install + L"Vantorel.exe");
    Check(Running(agent) && IsOldAgent(), "ended after the download: the old agent runs");
    EndAgents(agent);

    ResetInstall();
    extractGood();
    agent = startAndSettle(install + L"Vantorel.exe");
    Check(Running(agent) && IsOldAgent() && !Exists(install + L"newVantorel.exe") && !Exists(install + L"order.log"),
          "ended after the unpacking: the old agent runs and removes the new copy");
    EndAgents(agent);

    ResetInstall();
    extractGood();
    CopyFileW((bins + L"new-signed.exe").c_str(), (install + L"Vantorel.exe.partial").c_str(), FALSE);
    agent = startAndSettle(install + L"Vantorel.exe");
    Check(Running(agent) && IsOldAgent() && !Exists(install + L"Vantorel.exe.partial"),
          "ended during the copy: the old agent runs whole and removes the half copy");
    EndAgents(agent);

    // A release signed under another authority first, with the publisher's
    // signature nested: what carries a change of authority.
    ResetInstall();
    extractGood(L"nested");
    WriteAll(install + L"first_run", "");
    const int asked = Requests(kNewVersionFile);
    agent = Start(install + L"Vantorel.exe");
    const bool handedOver = WaitFor([&] { return Requests(kNewVersionFile) > asked; }, 60000);
    Check(handedOver && IsNewAgent(L"nested") && !Running(agent) && watch->Seen(L"newVantorel.exe") &&
              ReadAll(install + L"order.log") == "unpack_svc\r\nunpack_jre\r\nunpack_lib\r\n",
          "ended after the marker: the next start installs the new agent (its publisher's signature nested)");
    EndAgents(agent);

    ResetInstall();
    WriteAll(install + L"first_run", "");
    agent = startAndSettle(install + L"Vantorel.exe");
    Check(Running(agent) && Exists(install + L"first_run") && IsOldAgent(),
          "a marker without a new copy: an ordinary start",
          [&] {
              DWORD code = 0;
              GetExitCodeProcess(agent, &code);
              return std::to_wstring(Running(agent)) + std::to_wstring(Exists(install + L"first_run")) + L" exit " +
                     std::to_wstring(code) + L" window " + std::to_wstring(AgentWindow() != nullptr);
          }());
    EndAgents(agent);

    ResetInstall();
    CopyFileW((bins + L"new-signed.exe").c_str(), (install + L"newVantorel.exe").c_str(), FALSE);
    agent = startAndSettle(install + L"newVantorel.exe");
    Check(Running(agent) && IsOldAgent() && AgentWindow() != nullptr,
          "the new copy without a marker: an ordinary start");
    EndAgents(agent);
}

// "Vantorel.exe verifysignature" in the install directory: the box's text,
// closed with OK, and the exit code.
DWORD SignatureDiagnostic(std::wstring& text) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"Vantorel.exe verifysignature";
    const std::wstring exe = install + L"Vantorel.exe";
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, install.c_str(),
                        &startup, &process))
        return 0xDEAD;
    HWND box = nullptr;
    WaitFor([&] { return (box = FindWindowW(L"#32770", L"sign verification")) != nullptr; }, 20000);
    wchar_t buffer[128] = {};
    if (box) {
        GetDlgItemTextW(box, 0xFFFF, buffer, 128);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    text = buffer;
    DWORD code = 0xDEAD;
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 0xDEAD);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

void SignedBuilds() {
    ResetInstall();
    std::wstring text;
    DWORD code = SignatureDiagnostic(text);
    Check(code == 0 && text == L"signed", "verifysignature reports the signed test build signed", text);
    CopyFileW((bins + L"new-unsigned.exe").c_str(), (install + L"Vantorel.exe").c_str(), FALSE);
    code = SignatureDiagnostic(text);
    Check(code == 0xFFFFFFFF && text == L"warning! not signed", "and an unsigned build not signed", text);
}

bool TrustTestAuthority(const std::string& der, bool trust) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) return false;
    bool done = false;
    if (trust) {
        done = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                nullptr) != 0;
    } else if (PCCERT_CONTEXT cert = CertCreateCertificateContext(
                   X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()))) {
        PCCERT_CONTEXT stored = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert,
                                                           nullptr);
        done = stored && CertDeleteCertificateFromStore(stored);
        CertFreeCertificateContext(cert);
    }
    CertCloseStore(store, 0);
    return done;
}

std::wstring Directory(const wchar_t* path) {
    std::wstring dir = path;
    if (dir.empty() || dir.back() != L'\\') dir += L'\\';
    return dir;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 9) {
        std::printf("usage: update-driver INSTALL BASE BINS VARIANTS SERVED SERVER_LOG CA_DER DOWNLOAD_CAP\n");
        return 2;
    }
    install = Directory(argv[1]);
    base = Directory(argv[2]);
    bins = Directory(argv[3]);
    variants = Directory(argv[4]);
    served = Directory(argv[5]);
    serverLog = argv[6];
    const std::string authority = ReadAll(argv[7]);
    downloadCap = std::wcstoull(argv[8], nullptr, 10);
    Check(TrustTestAuthority(authority, true), "the test authority is trusted in this prefix");
    ProcessWatch processes;
    watch = &processes;
    SignedBuilds();
    RefusedCandidates();
    FaultsThenFullCycle();
    EndedAtEachStep();
    TrustTestAuthority(authority, false);
    return driver::Finish();
}
