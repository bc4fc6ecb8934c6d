// Runs the agent's tray icon code in a Wine virtual desktop, in step with
// tray_icon_test.sh, which looks at the screen and moves the pointer:
//   tray-check SYNC_DIR                 every Windows version in turn
//   tray-check SYNC_DIR --as VERSION    one version (winxp, vista, win7)
// A step NAME is announced by creating SYNC_DIR\NAME.ready; the check goes on
// once the script has created SYNC_DIR\NAME.go. Prints "ok NAME" or
// "FAIL NAME: detail" per check and "figure NAME VALUE" per measurement.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>

#include "agent/core/agent_messages.h"
#include "agent/core/agent_state.h"
#include "agent/service/ui_resources_win.h"
#include "agent/service/windows_version.h"
#include "agent/service/windows_version_win.h"
#include "agent/tray/tray_icon_win.h"
#include "agent/tray/tray_popup_placement_win.h"

namespace vantorel {
namespace {

int failures = 0;
std::wstring syncDir;
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

void Pump(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Announces a step and waits (pumping messages) until the script has done its part.
bool Step(const std::string& name) {
    const std::wstring base = syncDir + L"\\" + Widen(version + "-" + name);
    HANDLE ready = CreateFileW((base + L".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    for (int waited = 0; waited < 60000; waited += 50) {
        if (GetFileAttributesW((base + L".go").c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Pump(50);
    }
    Check(false, name, "the script did not answer");
    return false;
}

class NoWindow final : public WindowNotifier {
public:
    bool Post(uint32_t, uintptr_t, intptr_t) override { return false; }
};

LRESULT CALLBACK CheckWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_REFRESH_TRAYICON) {
        RefreshTrayIcon();
        return 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateTrayWindow() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = CheckWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VantorelTrayCheck";
    RegisterClassExW(&windowClass);
    return CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"VantorelTrayCheck", nullptr, WS_POPUP,
                           CW_USEDEFAULT, CW_USEDEFAULT, 312, 141, nullptr, nullptr, windowClass.hInstance, nullptr);
}

std::string RectText(const RECT& rect) {
    char text[80];
    std::snprintf(text, sizeof text, "(%ld,%ld,%ld,%ld)", rect.left, rect.top, rect.right, rect.bottom);
    return text;
}

// The reload a refresh would do without keeping its pictures.
HICON LoadPictureAnew(int id) {
    HMODULE module = LoadUiResourceModule();
    if (!module) return nullptr;
    HICON icon =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
    FreeLibrary(module);
    return icon;
}

void RunOneVersion() {
    CheckWindowsVersion();
    const bool vista = isVistaOrLater.load();
    const bool seven = isWindows7OrLater.load();
    Check(version == "winxp"   ? !vista
          : version == "vista" ? vista && !seven
                               : seven,
          "Windows version as configured");

    NoWindow notifier;
    AgentState state(notifier, nullptr);
    const HWND window = CreateTrayWindow();
    InitTrayIcon(window, &state);
    StartPopupPlacementThread();
    AddTrayIcon();
    Pump(300);

    // Each picture through the window's refresh message, as the pollers ask.
    for (int id : {ICON_SIGNED_OUT, ICON_IDLE, ICON_BUSY, ICON_COMPLETED, ICON_ERROR}) {
        if (id != ICON_SIGNED_OUT) {
            state.SetTrayIconId(id);
            Check(SendMessageW(window, WM_REFRESH_TRAYICON, 0, 0) == 1, "refresh answers 1");
        }
        Pump(400);
        Step("icon-" + std::to_string(id));
    }

    // Refreshing keeps one handle per picture: shared icons are never
    // destroyed, so loading each time would only pile them up.
    std::set<HICON> kept;
    for (int i = 0; i < 50; ++i) kept.insert(LoadTrayPicture(ICON_BUSY + (i % 2)));
    Check(kept.size() == 2 && !kept.count(nullptr), "one kept handle per picture",
          std::to_string(kept.size()) + " handles, first " +
              std::to_string(reinterpret_cast<uintptr_t>(*kept.begin())));
    if (seven) {
        std::set<HICON> anew;
        for (int i = 0; i < 200; ++i) anew.insert(LoadPictureAnew(ICON_BUSY));
        std::printf("figure distinct-handles-from-200-reloads %u\n", static_cast<unsigned>(anew.size()));

        // Cost of one refresh on the window thread: a new picture each time
        // (the shell redraws), the same picture (nothing to do), and the
        // module opened and the picture loaded anew each time as well.
        using Clock = std::chrono::steady_clock;
        const auto time = [](auto&& body) {
            const auto start = Clock::now();
            for (int i = 0; i < 200; ++i) body(i);
            return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / 200;
        };
        const double changed = time([&](int i) {
            state.SetTrayIconId(i % 2 ? ICON_BUSY : ICON_IDLE);
            RefreshTrayIcon();
        });
        const double same = time([&](int) { RefreshTrayIcon(); });
        const double reload = time([&](int i) {
            state.SetTrayIconId(i % 2 ? ICON_BUSY : ICON_IDLE);
            LoadPictureAnew(state.GetTrayIconId());
            RefreshTrayIcon();
        });
        std::printf("figure refresh-new-picture-us %.0f\nfigure refresh-same-picture-us %.1f\n"
                    "figure refresh-with-reload-us %.0f\n", changed, same, reload);
        state.SetTrayIconId(ICON_ERROR);
        RefreshTrayIcon();
    }

    // Texts longer than their fields: the shell shows them cut.
    SetTrayTooltip(std::u16string(200, u'T'));
    ShowBalloon(u"Title " + std::u16string(70, u'h'), u"Text " + std::u16string(300, u'x'));
    Pump(300);
    Step("balloon");

    // Popup: the script holds the left button down over the icon.
    RECT area = {};
    Check(GetTrayIconRect(area), "the icon has a rectangle");
    Step("popup-down");
    RECT shown = {};
    GetWindowRect(window, &shown);
    const LONG x0 = area.left - 160 > 0 ? area.left - 160 : 0;
    const LONG y0 = area.top - 60 > 0 ? area.top - 60 : 0;
    Check(IsWindowVisible(window) && shown.left == x0 && shown.top == y0 && shown.right - shown.left == 312 &&
              shown.bottom - shown.top == 141,
          "popup shown by the icon while the button is held",
          "visible " + std::to_string(IsWindowVisible(window)) + " at " + RectText(shown) + " for icon " +
              RectText(area));
    Step("popup-up");
    Check(!IsWindowVisible(window), "popup hidden when the button is released near the icon");

    RemoveTrayIcon();
    Pump(300);
    Step("removed");
}

int RunAll(const std::wstring& self) {
    int result = 0;
    for (const char* name : {"win7", "vista", "winxp"}) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\tray-check.exe", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            const std::wstring value = Widen(name);
            RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
        std::wstring commandLine = L"\"" + self + L"\" \"" + syncDir + L"\" --as " + Widen(name);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &process)) {
            std::printf("FAIL %s: cannot start\n", name);
            result = 1;
            continue;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        if (code != 0) result = 1;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::printf("tray-check: %s\n", result == 0 ? "done" : "failures");
    std::fflush(stdout);
    return result;
}

}  // namespace
}  // namespace vantorel

int wmain(int argc, wchar_t** argv) {
    using namespace vantorel;
    if (argc < 2) return 2;
    syncDir = argv[1];
    if (argc >= 4 && std::wstring(argv[2]) == L"--as") {
        version = std::string(argv[3], argv[3] + wcslen(argv[3]));
        RunOneVersion();
        return failures == 0 ? 0 : 1;
    }
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return RunAll(self);
}
