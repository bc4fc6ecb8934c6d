// Drives the tray menus of Vantorel.exe in a Wine virtual desktop against the
// stand-in service, in step with tray_menu_test.sh, which clicks the icon
// (xdotool), starts uploads, reads the icon off the screen and keeps
// screenshots. Runs the agent as Windows 7 (every menu and command), then as
// XP (a menu without images, and quit); with a LABEL, once as Windows 10 in
// the session's display language (the menu and its settings while a file
// uploads, and quit).
//   tray-menu-driver SYNC_DIR INSTALL_DIR [LABEL]
// A step NAME is announced by creating SYNC_DIR\NAME.ready; the driver goes
// on once the script has created SYNC_DIR\NAME.go. Each opened menu is
// marked in the debug output ("menu-mark NAME") so that the script can cut
// Wine's menu trace into one piece per menu. Items are chosen with the keys
// a user would press, posted to the open menu: another process cannot read
// a menu under Wine.
#include <windows.h>

#include <map>
#include <string>

#include "tests/support/driver_checks_win.h"
#include "tests/support/sim_control_win.h"
#include "tests/support/wine_version_win.h"

namespace {

using driver::Check;
using driver::SimGet;

constexpr UINT WM_QUIT_REQUEST = 0x405;
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring syncDir;
std::wstring installDir;
std::string version;
int stepNumber = 0;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Named(const std::string& name) { return version + " " + name; }

// Announces a step for the script, with what it needs to know, and waits
// until it is done.
bool Step(const std::string& name, const std::string& content = "") {
    char number[8];
    std::snprintf(number, sizeof number, "%03d", ++stepNumber);
    const std::wstring base = syncDir + L"\\" + Widen(std::string(number) + "-" + version + "-" + name);
    const std::wstring partial = base + L".part";
    HANDLE ready = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(ready, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(ready);
        MoveFileW(partial.c_str(), (base + L".ready").c_str());
    }
    for (int waited = 0; waited < 90000; waited += 50) {
        if (GetFileAttributesW((base + L".go").c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(50);
    }
    Check(false, Named(name + ": the script answered").c_str());
    return false;
}

HWND VisibleMenuWindow() {
    HWND found = nullptr;
    HWND window = nullptr;
    // The deepest open menu is the last one made visible.
    while ((window = FindWindowExW(nullptr, window, L"#32768", nullptr)) != nullptr)
        if (IsWindowVisible(window)) found = window;
    return found;
}

// The screen area of every open menu, as "X Y W H".
std::string OpenMenusArea() {
    RECT area = {};
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32768", nullptr)) != nullptr) {
        RECT rect = {};
        if (IsWindowVisible(window) && GetWindowRect(window, &rect)) UnionRect(&area, &area, &rect);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld", area.left, area.top, area.right - area.left,
                  area.bottom - area.top);
    return text;
}

// No open menu wider than half of the 1024-pixel screen, in any language.
void CheckMenuWidths() {
    LONG widest = 0;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32768", nullptr)) != nullptr) {
        RECT rect = {};
        if (IsWindowVisible(window) && GetWindowRect(window, &rect) && rect.right - rect.left > widest)
            widest = rect.right - rect.left;
    }
    Check(widest > 0 && widest <= 512, Named("no menu wider than half the screen").c_str(), std::to_wstring(widest));
}

void Time(const std::string& name, DWORD since) {
    std::printf("time %s %s %lu ms\n", version.c_str(), name.c_str(), GetTickCount() - since);
    std::fflush(stdout);
}

bool WaitFor(bool (*condition)(), DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (condition()) return true;
        Sleep(50);
    }
    return condition();
}

// Clicks the icon (through the script) and waits for the menu.
bool OpenMenu(const std::string& name, const char* button = "left") {
    const DWORD start = GetTickCount();
    if (!Step(std::string("click-") + button)) return false;
    bool open = WaitFor([] { return VisibleMenuWindow() != nullptr; }, 4000);
    if (!open) {
        // Now and then Wine's taskbar drops a click that comes right after a
        // menu closed; a user clicks again.
        std::printf("note %s: clicked again for menu %s\n", version.c_str(), name.c_str());
        if (!Step(std::string("click-") + button)) return false;
        open = WaitFor([] { return VisibleMenuWindow() != nullptr; }, 6000);
    }
    Time("menu " + name + " open", start);
    OutputDebugStringA(("menu-mark " + version + "-" + name + "\n").c_str());
    Check(open, Named("menu opens: " + name).c_str());
    return open;
}

// Keys to the open menu: d down, u up, r right, l left, e enter, x escape;
// a capital letter is that item's access key. Returns once the menu has
// closed, unless the keys leave it open.
void Keys(const char* keys, bool closes = true) {
    for (const char* key = keys; *key; ++key) {
        const WPARAM vk = *key == 'd' ? VK_DOWN : *key == 'u' ? VK_UP : *key == 'r' ? VK_RIGHT
                        : *key == 'l' ? VK_LEFT : *key == 'e' ? VK_RETURN : VK_ESCAPE;
        HWND menu = VisibleMenuWindow();
        if (!menu) break;
        if (*key >= 'A' && *key <= 'Z') {
            PostMessageW(menu, WM_CHAR, *key - 'A' + 'a', 1);
        } else {
            PostMessageW(menu, WM_KEYDOWN, vk, 1);
            PostMessageW(menu, WM_KEYUP, vk, 0xC0000001);
        }
        Sleep(150);
    }
    if (closes) Check(WaitFor([] { return VisibleMenuWindow() == nullptr; }, 5000), Named("menu closes").c_str());
}

// Requests of the service, counted as this driver expects them to come.
std::map<std::wstring, int> seen;

bool Arrives(const std::wstring& request, DWORD timeoutMs = 8000) {
    const int count = ++seen[request];
    const driver::SimReply reply = SimGet(L"wait?request=" + request + L"&count=" + std::to_wstring(count) +
                                          L"&timeout=" + std::to_wstring(timeoutMs));
    return reply.status == 200;
}

bool StaysAway(const std::wstring& request) {
    const driver::SimReply reply =
        SimGet(L"wait?request=" + request + L"&count=" + std::to_wstring(seen[request] + 1) + L"&timeout=2000");
    return reply.status == 408;
}

void Choose(const std::string& name, const char* keys, const wchar_t* request) {
    if (!OpenMenu(name)) return;
    const DWORD start = GetTickCount();
    Keys(keys);
    Check(Arrives(request), Named(name + " sends " + std::string(request, request + wcslen(request))).c_str());
    Time("menu " + name + " chosen to request", start);
}

bool ReadRunValue(std::wstring& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    wchar_t buffer[2048] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    const bool read = RegQueryValueExW(key, L"Vantorel", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) ==
                          ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    if (read) value = buffer;
    return read;
}

// The value "Vantorel" of the current user's key: written, or removed when
// empty. Returns whether it was there before.
bool WriteValue(const wchar_t* path, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE | KEY_READ, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const bool was = RegQueryValueExW(key, L"Vantorel", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    if (size == 0) {
        RegDeleteValueW(key, L"Vantorel");
    } else {
        RegSetValueExW(key, L"Vantorel", 0, type, static_cast<const BYTE*>(data), size);
    }
    RegCloseKey(key);
    return was;
}

void WriteRunValue(const std::wstring& value) {
    WriteValue(kRunKey, REG_SZ, value.c_str(), value.empty() ? 0 : static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Explorer's mark of a Run value the user disabled (Task Manager, Settings).
constexpr wchar_t kStartupApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

// The message box of a confirmation: shown without owner; answered with
// the button.
bool AnswerConfirmation(const wchar_t* caption, int button) {
    HWND box = nullptr;
    for (int waited = 0; waited < 10000 && !box; waited += 50) {
        box = FindWindowW(L"#32770", caption);
        if (!box) Sleep(50);
    }
    if (!box) return false;
    Check(GetWindow(box, GW_OWNER) == nullptr, Named("the confirmation has no owner").c_str());
    Sleep(300);
    SendMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    return true;
}

struct Agent {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;
};

bool StartAgent(Agent& agent) {
    const std::wstring program = installDir + L"\\Vantorel.exe";
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        installDir.c_str(), &startup, &agent.process)) {
        Check(false, Named("agent starts").c_str(), std::to_wstring(GetLastError()));
        return false;
    }
    for (int waited = 0; waited < 60000 && !agent.window; waited += 100) {
        agent.window = FindWindowW(L"Vantorel", nullptr);
        if (!agent.window) Sleep(100);
    }
    Check(agent.window != nullptr, Named("agent window appears").c_str());
    // Its first word to the service: the shutdown of an earlier copy.
    Check(Arrives(L"shutdown", 30000), Named("agent reached the service").c_str());
    return agent.window != nullptr;
}

DWORD EndOfAgent(Agent& agent, DWORD timeoutMs) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(agent.process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(agent.process.hProcess, &code);
    if (code == STILL_ACTIVE) TerminateProcess(agent.process.hProcess, 1);
    CloseHandle(agent.process.hThread);
    CloseHandle(agent.process.hProcess);
    return code;
}

bool AgentRuns(const Agent& agent) { return WaitForSingleObject(agent.process.hProcess, 0) == WAIT_TIMEOUT; }

void AutostartChecks(const std::wstring& ours) {
    WriteRunValue(L"");
    if (OpenMenu("autostart-off")) Keys("uuure");
    std::wstring value;
    Check(ReadRunValue(value) && value == ours, Named("Start with Windows writes the quoted path").c_str(), value);
    if (OpenMenu("autostart-on")) Keys("uuure");
    Check(!ReadRunValue(value), Named("chosen again, the value is gone").c_str(), value);

    WriteRunValue(L"\"C:\\Old place\\Vantorel.exe\"");
    if (OpenMenu("autostart-moved")) Keys("uuure");
    Check(ReadRunValue(value) && value == ours, Named("a value of a moved install is replaced").c_str(), value);

    WriteRunValue(ours + std::wstring(300, L' '));  // over 512 bytes, still ours
    if (OpenMenu("autostart-long")) Keys("x");

    // Disabled by the user: shown unticked, so choosing it enables it again.
    const BYTE disabled[12] = {3, 0, 0, 0, 0x9c, 0x1f, 0x6e, 0x3a, 0x53, 0x8b, 0xda, 0x01};
    WriteRunValue(ours);
    WriteValue(kStartupApprovedKey, REG_BINARY, disabled, sizeof disabled);
    if (OpenMenu("autostart-disabled")) Keys("uuure");
    const bool marked = WriteValue(kStartupApprovedKey, REG_BINARY, nullptr, 0);
    Check(ReadRunValue(value) && value == ours && !marked,
          Named("a start-up Windows disabled is enabled again, its mark removed").c_str(), value);
    WriteRunValue(L"");
}

void Windows7Run() {
    version = "win7";
    driver::SetAgentWindowsVersion("win7");
    // The start-up menu shows until the service first names a login state.
    SimGet(L"force?request=loginstate&body=wait&times=always");
    Agent agent;
    if (!StartAgent(agent)) return;

    Choose("startup", "V", L"launch-uploads");
    SimGet(L"force/clear");
    Sleep(1500);

    // Signed out: Sign in sits at the end of the settings submenu.
    Choose("signed-out", "ddrdddde", L"login");
    Sleep(2500);

    Choose("idle", "dde", L"showdragdrop");
    Choose("uploads-page", "de", L"launch-uploads");
    Choose("manage-storage", "uuuue", L"launch-managepage");
    Choose("about", "HA", L"showabout");
    Choose("tour", "uurde", L"showtour");
    Choose("help", "uurdde", L"launch-help");
    Choose("feedback", "uurue", L"launch-feedback");
    Choose("change-folder", "SC", L"pickdldir");
    if (OpenMenu("open-folder")) Keys("uuurdde");
    HWND folder = nullptr;
    for (int waited = 0; waited < 15000 && !folder; waited += 100) {
        folder = FindWindowW(nullptr, L"Downloads");
        if (!folder) Sleep(100);
    }
    Check(folder != nullptr, Named("the download folder opens in a window").c_str());
    // Left open, it would keep the desktop session alive after the driver.
    if (folder) PostMessageW(folder, WM_CLOSE, 0, 0);

    AutostartChecks(L"\"" + installDir + L"\\Vantorel.exe\"");

    Step("upload");
    Sleep(2500);
    if (OpenMenu("uploading")) {
        Step("shot-menu", OpenMenusArea());
        Keys("uuur", false);
        Step("shot-settings", OpenMenusArea());
        CheckMenuWidths();
        Keys("ldr", false);
        Step("shot-help", OpenMenusArea());
        Keys("xxx");
    }
    Choose("pause", "uuuuuuue", L"pause-all");
    Sleep(1500);
    Choose("paused", "uuuuuuue", L"resume-all");
    Step("upload");  // a second file keeps the transfer going while the questions are asked
    Sleep(2500);

    // Exit and sign-out while files move: each asks; Cancel sends nothing.
    if (OpenMenu("exit-cancel")) Keys("X");
    Check(AnswerConfirmation(L"Exit Vantorel", IDCANCEL), Named("exit asks while uploading").c_str());
    Check(StaysAway(L"shutdown") && AgentRuns(agent), Named("Cancel: no shutdown, the agent runs on").c_str());
    if (OpenMenu("signout-cancel")) Keys("uuurue");
    Check(AnswerConfirmation(L"Sign out of Vantorel", IDCANCEL), Named("sign-out asks while uploading").c_str());
    Check(StaysAway(L"logout"), Named("Cancel: no logout").c_str());
    if (OpenMenu("signout-ok")) Keys("uuurue");
    Check(AnswerConfirmation(L"Sign out of Vantorel", IDOK), Named("sign-out asks again").c_str());
    Check(Arrives(L"logout") && AgentRuns(agent), Named("OK: logout sent, the agent runs on").c_str());

    Step("signed-in-upload");
    Sleep(2500);
    if (OpenMenu("exit-ok")) Keys("ue");
    Check(AnswerConfirmation(L"Exit Vantorel", IDOK), Named("exit asks while uploading").c_str());
    Check(Arrives(L"shutdown"), Named("OK: shutdown sent").c_str());
    const DWORD code = EndOfAgent(agent, 30000);
    Check(code == 0, Named("agent exits with 0").c_str(), std::to_wstring(code));
}

// The agent as that Windows, a file uploading, the menu open: false when it
// did not start.
bool StartUploading(Agent& agent, const char* windowsVersion, const char* uploadStep) {
    driver::SetAgentWindowsVersion(windowsVersion);
    if (!StartAgent(agent)) return false;
    Step(uploadStep);
    Sleep(2500);
    if (OpenMenu("uploading")) Step("shot-menu", OpenMenusArea());
    return true;
}

// The quit tool's request, as with a menu open or not.
void Quit(Agent& agent, const std::string& check) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(agent.window, WM_QUIT_REQUEST, 0, 0, SMTO_NORMAL, 30000, &result);
    const DWORD code = EndOfAgent(agent, 30000);
    Check(code == 0, Named(check).c_str(), std::to_wstring(code));
}

void WindowsXpRun() {
    version = "winxp";
    Agent agent;
    if (!StartUploading(agent, "winxp", "upload")) return;
    Keys("x");

    // An errored transfer after a finished one: a click turns the icon back
    // to idle and opens the menu.
    SimGet(L"config?upload_rate=0");
    Sleep(3000);
    SimGet(L"force?request=transferstatus&body=idle&times=always");
    SimGet(L"event?type=UPLOAD&event=ERRORED&title=Upload&message=notes.txt%20failed");
    Step("icon-24");
    if (OpenMenu("after-error")) {
        Step("icon-21");
        Keys("x");
    }
    SimGet(L"force/clear");

    // The quit tool's request while a menu is open still ends the agent.
    OpenMenu("open-at-quit");
    Quit(agent, "agent with a menu open exits with 0 on the quit request");
}

void LanguageRun(const std::string& label) {
    version = label;
    Agent agent;
    if (!StartUploading(agent, "win10", "signed-in-upload")) return;
    Keys("uuur", false);
    Step("shot-settings", OpenMenusArea());
    CheckMenuWidths();
    Keys("xx");
    Quit(agent, "agent exits with 0");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    syncDir = argv[1];
    installDir = argv[2];
    if (argc >= 4) {
        const std::wstring label = argv[3];
        LanguageRun(std::string(label.begin(), label.end()));
        Step("end");
        driver::ClearAgentWindowsVersion();
        return driver::Finish();
    }
    Windows7Run();
    WindowsXpRun();
    Step("end");
    driver::ClearAgentWindowsVersion();
    return driver::Finish();
}
