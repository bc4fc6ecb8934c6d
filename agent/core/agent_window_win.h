// The published values of the running agent: its state, its tray window and
// the registered message numbers, written once by the entry's thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "agent/core/agent_state.h"
#include "agent/core/window_notifier.h"

namespace vantorel {

struct AgentGlobals {
    AgentState* state = nullptr;
    std::atomic<HWND> mainWindow{nullptr};
    UINT agentMessage = 0;
    UINT taskbarCreatedMessage = 0;
};

AgentGlobals& Agent();

// Posts to the published tray window; before it exists nothing is posted
// and the caller keeps ownership of what the parameters point to.
class MainWindowNotifier final : public WindowNotifier {
public:
    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
};

// For the window thread. Frees the two texts of a WM_SHOW_BALLOON that will
// not reach the window procedure; other messages are left alone.
void DiscardShowBalloon(const MSG& message);
// Translates and dispatches one message of the agent's loop; a balloon whose
// window is gone is discarded instead (false).
bool DispatchAgentMessage(const MSG& message);
// After the message loop: stops all posting to the tray window, then frees
// the texts of balloons still queued. Posts after this fail, and their
// posters free what they allocated.
void CloseMainWindowNotifier();

// The current local time of day in the user's format, without seconds.
std::u16string LocalTimeOfDay();

// Creates the single-instance mutex and records whether it already existed.
void CreateInstanceMarker(AgentState& state);
// Ends the service process (after 200 ms) if one was started, then closes the
// mutex.
void ShutdownAgentState(AgentState& state);

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace vantorel

namespace vantorel {

// Posts WM_SHOW_BALLOON with newly allocated copies of the two texts, whose
// ownership passes to the window procedure; when the post fails they are
// freed here, so each is freed exactly once.
bool PostShowBalloon(WindowNotifier& notifier, const std::u16string& title, const std::u16string& text);

}  // namespace vantorel
