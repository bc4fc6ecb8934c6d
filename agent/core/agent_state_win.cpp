#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "agent/core/agent_window_win.h"

namespace vantorel {

AgentGlobals& Agent() {
    static AgentGlobals globals;
    return globals;
}

namespace {

// Held only around a post and around closing, so once the window thread has
// closed posting no message can slip into its queue behind the last sweep.
std::mutex& PostingLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

bool MainWindowNotifier::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> hold(PostingLock());
    const HWND window = Agent().mainWindow.load();
    if (!window) return false;
    return PostMessageW(window, message, wParam, lParam) != FALSE;
}

void DiscardShowBalloon(const MSG& message) {
    if (message.message != WM_SHOW_BALLOON) return;
    delete reinterpret_cast<std::wstring*>(message.wParam);
    delete reinterpret_cast<std::wstring*>(message.lParam);
}

bool DispatchAgentMessage(const MSG& message) {
    // A balloon for a window that is gone would never reach the procedure
    // that frees its texts.
    if (message.message == WM_SHOW_BALLOON && !IsWindow(message.hwnd)) {
        DiscardShowBalloon(message);
        return false;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    return true;
}

void CloseMainWindowNotifier() {
    {
        std::lock_guard<std::mutex> hold(PostingLock());
        Agent().mainWindow.store(nullptr);
    }
    MSG pending = {};
    while (PeekMessageW(&pending, nullptr, WM_SHOW_BALLOON, WM_SHOW_BALLOON, PM_REMOVE)) DiscardShowBalloon(pending);
}

std::u16string LocalTimeOfDay() {
    wchar_t buffer[256] = {};
    if (GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS, nullptr, nullptr, buffer, 256) == 0) return {};
    return std::u16string(buffer, buffer + wcsnlen(buffer, 256));
}

void CreateInstanceMarker(AgentState& state) {
    const std::wstring name(kInstanceMutexName.begin(), kInstanceMutexName.end());
    state.instanceMutex = CreateMutexW(nullptr, FALSE, name.c_str());
    state.instanceMutexError = GetLastError();
}

void ShutdownAgentState(AgentState& state) {
    if (state.serviceProcess) {
        Sleep(200);
        TerminateProcess(static_cast<HANDLE>(state.serviceProcess), 0);
        CloseHandle(static_cast<HANDLE>(state.serviceProcess));
        state.serviceProcess = nullptr;
    }
    if (state.instanceMutex) {
        CloseHandle(static_cast<HANDLE>(state.instanceMutex));
        state.instanceMutex = nullptr;
    }
}

}  // namespace vantorel

namespace vantorel {

bool PostShowBalloon(WindowNotifier& notifier, const std::u16string& title, const std::u16string& text) {
    auto* ownedTitle = new std::wstring(title.begin(), title.end());
    auto* ownedText = new std::wstring(text.begin(), text.end());
    if (notifier.Post(WM_SHOW_BALLOON, reinterpret_cast<uintptr_t>(ownedTitle),
                      reinterpret_cast<intptr_t>(ownedText))) {
        return true;
    }
    delete ownedTitle;
    delete ownedText;
    return false;
}

}  // namespace vantorel
