// Runs the setup program as a user does, in one Wine session against the
// stand-in service: through its pages (the script takes a screenshot of each
// at SYNC\NAME.ready, written with the window's rectangle, and answers with
// NAME.go), silently over the running agent with the signed build, Send To,
// and the silent
// uninstall. The script checks the files and the service's logs
// (SYNC\log-STAGE.json).
//   setup-driver SYNC SETUP_EXE SIGNED_SETUP_EXE PATHS VERSION
// PATHS: UTF-8 file of the paths to send, one a line.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/driver_checks_win.h"
#include "tests/support/sim_control_win.h"

namespace {

using driver::Check;
std::wstring sync;

std::wstring Widen(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), int(wide.size())));
    return wide;
}

void WriteFile(const std::wstring& path, const std::string& content) {
    std::ofstream(path.c_str(), std::ios::binary) << content;
}

bool Step(const wchar_t* name, const std::string& content = "") {
    const std::wstring base = sync + L"\\" + name;
    WriteFile(base + L".ready", content);
    for (int waited = 0; waited < 60000; waited += 50) {
        if (GetFileAttributesW((base + L".go").c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(50);
    }
    return false;
}

void SaveLog(const wchar_t* stage) {
    WriteFile(sync + L"\\log-" + stage + L".json", driver::SimGet(L"log").body);
    driver::SimGet(L"reset");
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring KnownFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
    return path;
}

// Runs commandLine and waits for it; STILL_ACTIVE when it did not end in time.
DWORD Run(std::wstring commandLine, DWORD timeoutMs, HANDLE* process = nullptr, const std::wstring& folder = L"") {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return GetLastError() | 0x80000000u;
    CloseHandle(info.hThread);
    if (process) {
        *process = info.hProcess;
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    return code;
}

template <typename Condition>
bool WaitFor(DWORD timeoutMs, Condition condition) {
    for (DWORD waited = 0;; waited += 100) {
        if (condition()) return true;
        if (waited >= timeoutMs) return false;
        Sleep(100);
    }
}

bool AgentRuns() { return FindWindowW(L"Vantorel", nullptr) != nullptr; }

std::wstring Text(HWND window) {
    wchar_t text[256] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &ignored);
    std::wstring plain;
    for (const wchar_t* c = text; *c; ++c)
        if (*c != L'&') plain += *c;
    return plain;
}

// As a click does; BM_CLICK is lost on a window that is not active.
void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Waits for the setup's button (Next/Install/Finish, id 1) to read label and
// be usable, asks for the screenshot, then presses it.
bool Page(HWND setup, const wchar_t* shotName, const wchar_t* label, std::wstring& why) {
    HWND button = GetDlgItem(setup, IDOK);
    if (!WaitFor(60000, [&] { return Text(button) == label && IsWindowEnabled(button); })) {
        why = std::wstring(shotName) + L": button reads \"" + Text(button) + L"\", not " + label;
        return false;
    }
    Sleep(700);  // painted
    RECT r = {};
    GetWindowRect(setup, &r);
    std::ostringstream rect;
    rect << r.left << ' ' << r.top << ' ' << r.right - r.left << ' ' << r.bottom - r.top;
    if (!Step(shotName, rect.str())) {
        why = std::wstring(shotName) + L": no screenshot";
        return false;
    }
    Click(setup, IDOK);
    return true;
}

void SetRegistry(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY handle;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(handle);
}

std::wstring Registry(HKEY root, const wchar_t* key, const wchar_t* name, DWORD* number = nullptr) {
    HKEY handle;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return L"<no key>";
    wchar_t data[1024] = {};
    DWORD type = 0, size = sizeof data - sizeof(wchar_t);
    std::wstring value = L"<no value>";
    if (RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
        if (type == REG_DWORD && number) std::memcpy(number, data, sizeof *number);
        value = type == REG_SZ ? std::wstring(data) : L"<type " + std::to_wstring(type) + L">";
    }
    RegCloseKey(handle);
    return value;
}

std::wstring LinkTarget(const std::wstring& link, std::wstring* folder = nullptr) {
    IShellLinkW* shellLink = nullptr;
    std::wstring target = L"<unreadable>";
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shellLink))))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
        if (folder && SUCCEEDED(shellLink->GetWorkingDirectory(path, MAX_PATH))) *folder = path;
        file->Release();
    }
    shellLink->Release();
    return target;
}

// "FILEVERSION-NUMBERS|FileVersion|ProductName" of a file's version resource.
std::wstring VersionOf(const std::wstring& path) {
    DWORD ignored = 0;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    if (data.empty() || !GetFileVersionInfoW(path.c_str(), 0, DWORD(data.size()), data.data())) return L"<none>";
    VS_FIXEDFILEINFO* fixed = nullptr;
    wchar_t* fileVersion = nullptr;
    wchar_t* productName = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) ||
        !VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&fileVersion), &size) ||
        !VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\ProductName", reinterpret_cast<void**>(&productName), &size))
        return L"<incomplete>";
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS)) + L"|" +
           fileVersion + L"|" + productName;
}

bool SetWriteTime(const std::wstring& path, const FILETIME* time, FILETIME* read = nullptr) {
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = time ? SetFileTime(file, nullptr, nullptr, time) : GetFileTime(file, nullptr, nullptr, read);
    CloseHandle(file);
    return ok;
}

// The box "Vantorel.exe verifysignature" shows in the install folder.
std::wstring SignatureDiagnostic(const std::wstring& install) {
    HANDLE process = nullptr;
    Run(L"\"" + install + L"\\Vantorel.exe\" verifysignature", 0, &process, install);
    HWND box = nullptr;
    WaitFor(30000, [&] { return (box = FindWindowW(L"#32770", L"sign verification")) != nullptr; });
    wchar_t text[128] = {};
    if (box) {
        GetDlgItemTextW(box, 0xFFFF, text, 128);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    if (process) {
        if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
        CloseHandle(process);
    }
    return box ? text : L"<no box>";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 7) {
        std::printf("usage: setup-driver SYNC SETUP_EXE SIGNED_SETUP_EXE PATHS VERSION OLDER_AGENT\n");
        return 2;
    }
    const std::wstring olderAgent = argv[6];
    sync = argv[1];
    const std::wstring setup = argv[2], signedSetup = argv[3], version = argv[5];
    CoInitialize(nullptr);
    const std::wstring install = KnownFolder(CSIDL_LOCAL_APPDATA) + L"\\Programs\\Vantorel";
    const wchar_t* uninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantorel";
    const wchar_t* runKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

    // Through the pages: the language, the folder, the options, the finish
    // page whose "Run Vantorel" is ticked.
    HANDLE gui = nullptr;
    Run(L"\"" + setup + L"\"", 0, &gui);
    HWND language = nullptr;
    WaitFor(30000, [&] { return (language = FindWindowW(L"#32770", L"Installer Language")) != nullptr; });
    Check(language != nullptr, "the language chooser comes first");
    const HWND languages = language ? FindWindowExW(language, nullptr, L"ComboBox", nullptr) : nullptr;
    const LRESULT offered = languages ? SendMessageW(languages, CB_GETCOUNT, 0, 0) : 0;
    Check(offered == 12, "it offers the twelve languages", std::to_wstring(offered));
    if (language) {
        Sleep(500);
        Click(language, IDOK);
    }
    HWND window = nullptr;  // NSIS's English caption ends in a space
    WaitFor(30000, [&] { return (window = FindWindowW(L"#32770", L"Vantorel Setup ")) != nullptr; });
    std::wstring why = L"no setup window";
    const bool pages = window && Page(window, L"directory-page", L"Next >", why) &&
                       Page(window, L"options-page", L"Install", why) && Page(window, L"finish-page", L"Finish", why);
    Check(pages, "directory, options, install and finish pages in turn", why);
    DWORD code = STILL_ACTIVE;
    if (gui && WaitForSingleObject(gui, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(gui, &code);
    Check(code == 0, "interactive setup ends with 0", std::to_wstring(code));
    Check(WaitFor(20000, AgentRuns), "the finish page started the agent");
    Check(Registry(HKEY_CURRENT_USER, runKey, L"Vantorel") == L"<no value>", "does not start with Windows by default");

    // A hung agent, played by a window of the agent's class that never
    // answers: the silent setup gives up after its wait and changes nothing.
    Run(L"\"" + install + L"\\Stolvane.exe\"", 30000);
    WaitFor(20000, [] { return !AgentRuns(); });
    WNDCLASSW hungClass = {};
    hungClass.lpfnWndProc = DefWindowProcW;
    hungClass.hInstance = GetModuleHandleW(nullptr);
    hungClass.lpszClassName = L"Vantorel";
    RegisterClassW(&hungClass);
    HWND hung = CreateWindowW(L"Vantorel", L"", 0, 0, 0, 0, 0, nullptr, nullptr, hungClass.hInstance, nullptr);
    FILETIME before = {}, after = {};
    SetWriteTime(install + L"\\Vantorel.exe", nullptr, &before);
    code = Run(L"\"" + signedSetup + L"\" /S", 120000);
    SetWriteTime(install + L"\\Vantorel.exe", nullptr, &after);
    Check(hung && code == 2, "over an agent that does not quit the silent setup ends with 2", std::to_wstring(code));
    Check(CompareFileTime(&before, &after) == 0, "and leaves the installed agent as it was");
    DestroyWindow(hung);
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&message);
    UnregisterClassW(L"Vantorel", hungClass.hInstance);
    HANDLE restarted = nullptr;
    Run(L"\"" + install + L"\\Vantorel.exe\"", 0, &restarted, install);
    if (restarted) CloseHandle(restarted);
    Check(WaitFor(30000, AgentRuns), "the agent runs again");

    // Silently over the running agent: it is asked to quit, the files are replaced.
    const wchar_t* ours[] = {L"Vantorel.exe", L"Pasmiro.exe", L"Stolvane.exe", L"Pellick.dll", L"de-DE\\Pellick.dll",
                             L"fr-FR\\Pellick.dll", L"en-US\\Pellick.dll"};
    SYSTEMTIME old = {2001, 1, 1, 1, 0, 0, 0, 0};
    FILETIME oldTime;
    SystemTimeToFileTime(&old, &oldTime);
    bool aged = true;
    for (const wchar_t* file : ours) aged = SetWriteTime(install + L"\\" + file, &oldTime) && aged;
    // An older update the agent had prepared, half staged, with its records:
    // the setup must leave none of it to undo the upgrade.
    const std::wstring pending[] = {L"first_run", L"newVantorel.exe", L"unpack_svc.cmd", L"jre.installed",
                                    L"Version-0.09.25.2-pkg.7z", L"update-staging\\lib\\x.jar"};
    CreateDirectoryW((install + L"\\update-staging").c_str(), nullptr);
    CreateDirectoryW((install + L"\\update-staging\\lib").c_str(), nullptr);
    for (const std::wstring& name : pending) WriteFile(install + L"\\" + name, "pending");
    CopyFileW(olderAgent.c_str(), (install + L"\\newVantorel.exe").c_str(), FALSE);
    // Started with Windows until the user disabled it in Task Manager: the
    // upgrade keeps it so, and leaves neither value behind.
    const wchar_t* approvedKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
    const std::wstring runValue = L"\"" + install + L"\\Vantorel.exe\"";
    const BYTE disabled[12] = {3, 0, 0, 0, 0x9c, 0x1f, 0x6e, 0x3a, 0x53, 0x8b, 0xda, 0x01};
    SetRegistry(runKey, L"Vantorel", REG_SZ, runValue.c_str(), static_cast<DWORD>((runValue.size() + 1) * sizeof(wchar_t)));
    SetRegistry(approvedKey, L"Vantorel", REG_BINARY, disabled, sizeof disabled);
    SaveLog(L"before-upgrade");
    DWORD oldAgentId = 0;
    GetWindowThreadProcessId(FindWindowW(L"Vantorel", nullptr), &oldAgentId);
    const HANDLE oldAgent = OpenProcess(SYNCHRONIZE, FALSE, oldAgentId);
    const DWORD started = GetTickCount();
    code = Run(L"\"" + signedSetup + L"\" /S", 120000);
    const DWORD took = GetTickCount() - started;
    Check(code == 0, "silent upgrade ends with 0", std::to_wstring(code));
    std::printf("time upgrade-ms %lu\n", took);
    Check(Registry(HKEY_CURRENT_USER, runKey, L"Vantorel") == L"<no value>" &&
              Registry(HKEY_CURRENT_USER, approvedKey, L"Vantorel") == L"<no value>",
          "a start-up the user disabled stays off, with no value left");
    // Explorer's own keys, which a real profile has and this prefix had not.
    RegDeleteKeyW(HKEY_CURRENT_USER, approvedKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved");
    Check(oldAgent && WaitForSingleObject(oldAgent, 0) == WAIT_OBJECT_0, "the upgrade made the running agent quit");
    if (oldAgent) CloseHandle(oldAgent);
    DWORD newAgentId = 0;
    Check(WaitFor(20000, AgentRuns) && GetWindowThreadProcessId(FindWindowW(L"Vantorel", nullptr), &newAgentId) &&
              newAgentId != oldAgentId,
          "and started the new agent");
    bool replaced = aged;
    for (const wchar_t* file : ours) {
        FILETIME now = {};
        replaced = SetWriteTime(install + L"\\" + file, nullptr, &now) && CompareFileTime(&now, &oldTime) != 0 && replaced;
    }
    Check(replaced, "the upgrade replaced every binary");
    bool cleared = !Exists(install + L"\\update-staging");
    for (const std::wstring& name : pending) cleared = !Exists(install + L"\\" + name) && cleared;
    Check(cleared, "the upgrade removed the pending older update");
    SaveLog(L"upgrade");
    const std::string installed = ReadAll(install + L"\\Vantorel.exe");
    Run(L"\"" + install + L"\\Stolvane.exe\"", 30000);
    WaitFor(20000, [] { return !AgentRuns(); });
    Run(L"\"" + install + L"\\Vantorel.exe\"", 0, &restarted, install);
    if (restarted) CloseHandle(restarted);
    Check(WaitFor(30000, AgentRuns) && (Sleep(3000), AgentRuns()) && ReadAll(install + L"\\Vantorel.exe") == installed,
          "after a restart the setup's agent runs");
    driver::SimGet(L"reset");

    // What the installation left, as Windows programs read it.
    Check(LinkTarget(KnownFolder(CSIDL_PROGRAMS) + L"\\Vantorel.lnk") == install + L"\\Vantorel.exe",
          "Start menu shortcut starts the agent", LinkTarget(KnownFolder(CSIDL_PROGRAMS) + L"\\Vantorel.lnk"));
    const std::wstring sendTo = KnownFolder(CSIDL_SENDTO) + L"\\Vantorel.lnk";
    Check(LinkTarget(sendTo) == install + L"\\Pasmiro.exe", "Send To shortcut starts Pasmiro.exe", LinkTarget(sendTo));
    struct Expected { const wchar_t* name; std::wstring value; };
    const Expected expected[] = {
        {L"DisplayName", L"Vantorel"}, {L"DisplayVersion", version}, {L"Publisher", L"Vantorel"},
        {L"DisplayIcon", install + L"\\Vantorel.exe"}, {L"InstallLocation", install},
        {L"UninstallString", L"\"" + install + L"\\uninstall.exe\""},
        {L"QuietUninstallString", L"\"" + install + L"\\uninstall.exe\" /S"},
        {L"Installer Language", L"1033"}};
    for (const Expected& e : expected) {
        const std::wstring got = Registry(HKEY_CURRENT_USER, uninstallKey, e.name);
        Check(got == e.value, "installed programs entry: value", std::wstring(e.name) + L" = " + got);
    }
    DWORD size = 0, noModify = 0, noRepair = 0;
    Registry(HKEY_CURRENT_USER, uninstallKey, L"EstimatedSize", &size);
    Registry(HKEY_CURRENT_USER, uninstallKey, L"NoModify", &noModify);
    Registry(HKEY_CURRENT_USER, uninstallKey, L"NoRepair", &noRepair);
    std::printf("figure EstimatedSize %lu KiB\n", size);
    Check(size > 1000 && size < 100000 && noModify == 1 && noRepair == 1, "installed programs entry: size, no modify/repair");
    std::wstring versions;
    const std::wstring want = L"|" + version + L"|Vantorel";
    bool versioned = true;
    for (const wchar_t* file : ours) {
        const std::wstring got = VersionOf(install + L"\\" + file);
        versioned = versioned && got.size() > want.size() && got.compare(got.size() - want.size(), want.size(), want) == 0;
        versions += std::wstring(file) + L": " + got + L"; ";
    }
    Check(versioned, "installed binaries carry version and product name", versions);
    const std::wstring signature = SignatureDiagnostic(install);
    Check(signature == L"signed", "verifysignature reports the installed agent signed", signature);
    Step(L"installed");

    // Send To with two paths to the upgraded agent: one request.
    std::ifstream pathsFile(argv[4]);
    std::wstring arguments;
    for (std::string line; std::getline(pathsFile, line);)
        if (!line.empty()) arguments += (arguments.empty() ? L"\"" : L" \"") + Widen(line) + L"\"";
    // As the shell's Send To does with a shortcut to a program (Wine's cannot
    // pass arguments through a shortcut): its target, in its folder, with the paths.
    std::wstring folder;
    const std::wstring target = LinkTarget(sendTo, &folder);
    code = Run(L"\"" + target + L"\" " + arguments, 90000, nullptr, folder);
    Check(code == 0, "Send To shortcut with two paths ends with 0", std::to_wstring(code));
    Check(AgentRuns(), "the agent still runs");
    SaveLog(L"sendto");

    // Silent uninstall while the agent runs, with a drop folder of the agent's.
    wchar_t temporary[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temporary);
    const std::wstring agentTemp = std::wstring(temporary) + L"Vantorel";
    CreateDirectoryW(agentTemp.c_str(), nullptr);
    CreateDirectoryW((agentTemp + L"\\drop-0000018c2b3f4a00-00000010-00000001").c_str(), nullptr);
    WriteFile(agentTemp + L"\\drop-0000018c2b3f4a00-00000010-00000001\\mail.eml", "Subject: hello\r\n");
    // And what an update leaves beside the agent, and a file of the user's.
    WriteFile(install + L"\\notes.txt", "mine");
    for (const wchar_t* name : {L"Version-0.09.26.0-pkg.7z", L"jre.7z", L"jre.installed", L"first_run",
                                L"newVantorel.exe", L"Vantorel.exe.partial", L"dependency.7z.download"})
        WriteFile(install + L"\\" + name, "x");
    const std::wstring quiet = Registry(HKEY_CURRENT_USER, uninstallKey, L"QuietUninstallString");
    code = Run(quiet, 60000);
    // The uninstaller goes on in a copy of itself in the temporary folder.
    const bool gone = WaitFor(60000, [&] {
        return !Exists(install + L"\\uninstall.exe") && Registry(HKEY_CURRENT_USER, uninstallKey, L"DisplayName") == L"<no key>";
    });
    Sleep(1500);
    Check(code == 0 && gone, "silent uninstall ends and removes its entry", std::to_wstring(code));
    Check(!AgentRuns(), "the uninstall made the agent quit");
    Check(!Exists(agentTemp), "the agent's drop folders are removed");
    Check(Exists(install + L"\\notes.txt"), "a file the user put there stays");
    SaveLog(L"uninstall");
    return driver::Finish();
}
