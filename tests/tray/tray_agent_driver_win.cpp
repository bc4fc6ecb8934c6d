// Drives Vantorel.exe in a Wine virtual desktop, in step with
// tray_agent_test.sh, which runs the stand-in service, looks at the screen
// and moves the pointer. Runs the agent as Windows 7 (whole flow), then as
// Vista, XP and 10 (start, one balloon, popup, quit); with a LABEL, once as
// Windows 10 at the prefix's display scale (start, one upload, quit).
//   tray-agent-driver SYNC_DIR INSTALL_DIR [LABEL]
// A step NAME is announced by creating SYNC_DIR\NAME.ready; the driver goes
// on once the script has created SYNC_DIR\NAME.go. Prints "ok NAME" or
// "FAIL NAME: detail" per check, "figure NAME VALUE" per measurement and
// finally "tray-agent-driver: done" or "tray-agent-driver: failures".
#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/support/wine_version_win.h"

namespace {

constexpr UINT WM_REFRESH_TRAYICON = 0x404;
constexpr UINT WM_QUIT_REQUEST = 0x405;

int failures = 0;
std::wstring syncDir;
std::wstring installDir;
std::string version;

void Check(bool passed, const std::string& name, const std::string& detail = "") {
    if (passed) {
        std::printf("ok   %s %s\n", version.c_str(), name.c_str());
    } else {
        ++failures;
        std::printf("FAIL %s %s: %s\n", version.c_str(), name.c_str(), detail.c_str());
    }
    std::fflush(stdout);
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool Step(const std::string& name) {
    const std::wstring base = syncDir + L"\\" + Widen(version + "-" + name);
    HANDLE ready = CreateFileW((base + L".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    for (int waited = 0; waited < 90000; waited += 50) {
        if (GetFileAttributesW((base + L".go").c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(50);
    }
    Check(false, name, "the script did not answer");
    return false;
}

HWND WaitForAgentWindow(DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        if (HWND window = FindWindowW(L"Vantorel", nullptr)) return window;
        Sleep(100);
    }
    return nullptr;
}

std::string RectText(const RECT& rect) {
    char text[80];
    std::snprintf(text, sizeof text, "(%ld,%ld,%ld,%ld)", rect.left, rect.top, rect.right, rect.bottom);
    return text;
}

// Holding the button over the icon pops the tray window up by the
// notification area (Wine's taskbar has no separate area window, so the
// whole taskbar is taken); releasing it hides the window again.
void CheckPopup(HWND agent) {
    RECT taskbar = {};
    GetWindowRect(FindWindowW(L"Shell_TrayWnd", nullptr), &taskbar);
    const LONG x0 = taskbar.left - 160 > 0 ? taskbar.left - 160 : 0;
    const LONG y0 = taskbar.top - 60 > 0 ? taskbar.top - 60 : 0;
    Check(!IsWindowVisible(agent), "tray window hidden before the pointer comes");
    Step("popup-down");
    RECT shown = {};
    GetWindowRect(agent, &shown);
    Check(IsWindowVisible(agent) && shown.left == x0 && shown.top == y0 && shown.right - shown.left == 312 &&
              shown.bottom - shown.top == 141,
          "tray window pops up by the icon while the button is held",
          "visible " + std::to_string(IsWindowVisible(agent)) + " at " + RectText(shown) + " for taskbar " +
              RectText(taskbar));
    Check((GetWindowLongW(agent, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "popup is topmost");
    Step("popup-up");
    Check(!IsWindowVisible(agent), "tray window hidden once the button is released");
}

// Time of one WM_REFRESH_TRAYICON against a message the window passes to
// the default procedure, both sent from this process.
void MeasureRefresh(HWND agent) {
    using Clock = std::chrono::steady_clock;
    const auto perMessage = [agent](UINT message, LRESULT* result) {
        const auto start = Clock::now();
        for (int i = 0; i < 200; ++i) *result = SendMessageW(agent, message, 0, 0);
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / 200;
    };
    LRESULT answer = 0;
    const double baseline = perMessage(0x402, &answer);
    const double refresh = perMessage(WM_REFRESH_TRAYICON, &answer);
    Check(answer == 1, "refresh answers 1");
    std::printf("figure baseline-message-us %.0f\nfigure refresh-message-us %.0f\nfigure refresh-over-baseline %.2f\n",
                baseline, refresh, refresh / baseline);
}

enum class Flow { Whole, Short, Scaled };

void RunAgent(const char* label, const char* windowsVersion, Flow flow) {
    version = label;
    driver::SetAgentWindowsVersion(windowsVersion);
    const std::wstring program = installDir + L"\\Vantorel.exe";
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        installDir.c_str(), &startup, &process)) {
        Check(false, "agent starts", std::to_string(GetLastError()));
        return;
    }
    const HWND agent = WaitForAgentWindow(60000);
    Check(agent != nullptr, "agent window appears");
    if (agent) {
        Step("started");
        if (flow == Flow::Whole) {
            for (const char* step : {"signed-in", "busy", "completed", "error", "timeout", "restart"}) Step(step);
            Check(WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT, "agent kept running without its service");

            // A new taskbar: the icon is gone until the agent adds it again.
            NOTIFYICONDATAW icon = {};
            icon.cbSize = NOTIFYICONDATAW_V2_SIZE;
            icon.hWnd = agent;
            icon.uID = 5000;
            Check(Shell_NotifyIconW(NIM_DELETE, &icon) != FALSE, "icon taken away");
            Step("deleted");
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0,
                                SMTO_ABORTIFHUNG, 5000, &ignored);
            Step("readded");
            MeasureRefresh(agent);
        } else {
            Step("event");
        }
        // The popup's place is fixed in pixels: checked at 100 % only.
        if (flow != Flow::Scaled) CheckPopup(agent);

        DWORD_PTR result = 0;
        Check(SendMessageTimeoutW(agent, WM_QUIT_REQUEST, 0, 0, SMTO_NORMAL, 30000, &result) != 0,
              "quit request answered");
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    Check(code == 0, "agent exits with 0", std::to_string(code));
    if (code == STILL_ACTIVE) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    Step("ended");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    syncDir = argv[1];
    installDir = argv[2];
    if (argc >= 4) {
        const std::wstring label = argv[3];
        RunAgent(std::string(label.begin(), label.end()).c_str(), "win10", Flow::Scaled);
    } else {
        RunAgent("win7", "win7", Flow::Whole);
        RunAgent("vista", "vista", Flow::Short);
        RunAgent("winxp", "winxp", Flow::Short);
        RunAgent("win10", "win10", Flow::Short);
    }
    driver::ClearAgentWindowsVersion();
    std::printf("tray-agent-driver: %s\n", failures == 0 ? "done" : "failures");
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
