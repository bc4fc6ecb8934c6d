// Cost of a tray icon refresh on the window thread, as ratios against a
// baseline from the same run. Run it beside Pellick.dll, inside a desktop
// with a notification area, e.g. under Wine:
//
//   cp build/win32/bench/tray-refresh-bench.exe build/win32/install/
//   scripts/wine-run --prefix build/win32/wineprefix --
//       explorer /desktop=shell,1024x768 build/win32/install/tray-refresh-bench.exe
//   (one line)
//
// Measures a refresh that shows a new picture (the shell redraws), one that
// shows the same picture again (nothing to do), and one that also opens the
// module and loads the picture anew, as a refresh that keeps nothing would;
// the baseline is an empty message sent to the window. Also counts the
// handles that loading anew produces: shared icons are never freed.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <set>

#include "agent/core/agent_messages.h"
#include "agent/core/agent_state.h"
#include "agent/service/ui_resources_win.h"
#include "agent/tray/tray_icon_win.h"

namespace vantorel {
namespace {

class NoWindow final : public WindowNotifier {
public:
    bool Post(uint32_t, uintptr_t, intptr_t) override { return false; }
};

HICON LoadPictureAnew(int id) {
    HMODULE module = LoadUiResourceModule();
    if (!module) return nullptr;
    HICON icon =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
    FreeLibrary(module);
    return icon;
}

template <typename Body>
double MicrosecondsPerCall(int calls, Body body) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) body(i);
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
}

int Run() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VantorelRefreshBench";
    RegisterClassExW(&windowClass);
    const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, nullptr, WS_POPUP, 0, 0, 312,
                                        141, nullptr, nullptr, windowClass.hInstance, nullptr);
    NoWindow notifier;
    AgentState state(notifier, nullptr);
    InitTrayIcon(window, &state);
    AddTrayIcon();
    if (!LoadTrayPicture(ICON_IDLE)) {
        std::printf("tray-refresh-bench: no Pellick.dll beside the program\n");
        return 1;
    }

    constexpr int kCalls = 200;
    const double baseline = MicrosecondsPerCall(kCalls, [&](int) { SendMessageW(window, WM_NULL, 0, 0); });
    const double newPicture = MicrosecondsPerCall(kCalls, [&](int i) {
        state.SetTrayIconId(i % 2 ? ICON_BUSY : ICON_IDLE);
        RefreshTrayIcon();
    });
    const double samePicture = MicrosecondsPerCall(kCalls, [&](int) { RefreshTrayIcon(); });
    std::set<HICON> handles;
    const double loadAnew = MicrosecondsPerCall(kCalls, [&](int i) {
        state.SetTrayIconId(i % 2 ? ICON_BUSY : ICON_IDLE);
        handles.insert(LoadPictureAnew(state.GetTrayIconId()));
        RefreshTrayIcon();
    });
    RemoveTrayIcon();

    std::printf("empty message (baseline)   %10.2f us\n", baseline);
    std::printf("refresh, new picture       %10.2f us  %8.1f x baseline\n", newPicture, newPicture / baseline);
    std::printf("refresh, same picture      %10.2f us  %8.1f x baseline\n", samePicture, samePicture / baseline);
    std::printf("refresh, picture loaded    %10.2f us  %8.1f x baseline\n", loadAnew, loadAnew / baseline);
    std::printf("handles from %d loads anew: %u (kept: one per picture)\n", kCalls,
                static_cast<unsigned>(handles.size()));
    std::fflush(stdout);
    return 0;
}

}  // namespace
}  // namespace vantorel

int main() { return vantorel::Run(); }
