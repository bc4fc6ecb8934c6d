#include "agent/polling/status_pollers_win.h"

#include <windows.h>
#include <process.h>

#include "agent/core/agent_window_win.h"
#include "agent/polling/status_pollers.h"
#include "agent/service/ui_resources_win.h"

namespace vantorel {
namespace {

// Shared by the four threads: every part is stateless or thread-safe, and
// it lives as long as the process, which the pollers do too.
PollerEnvironment& WindowsPollerEnvironment() {
    static MainWindowNotifier notifier;
    static NotifierOutput output(notifier, PostShowBalloon);
    static PollerEnvironment environment{PlatformHttpTransport(), output, LoadUiString,
                                         [](uint32_t milliseconds) { Sleep(milliseconds); }, nullptr};
    return environment;
}

template <void (*Poller)(AgentState&, PollerEnvironment&)>
unsigned __stdcall PollerThread(void* state) {
    Poller(*static_cast<AgentState*>(state), WindowsPollerEnvironment());
    return 0;
}

void Start(unsigned(__stdcall* thread)(void*), AgentState* state) {
    const uintptr_t handle = _beginthreadex(nullptr, 0, thread, state, 0, nullptr);
    if (handle != 0) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace

void StartStatusPollers(AgentState* state) {
    WindowsPollerEnvironment();  // built once here, before any thread reads it
    Start(PollerThread<LoginStatePoller>, state);
    Start(PollerThread<EventPoller>, state);
    Start(PollerThread<StoragePoller>, state);
    Start(PollerThread<ProgressPoller>, state);
}

}  // namespace vantorel
