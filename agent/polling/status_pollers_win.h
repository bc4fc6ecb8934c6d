// Starts the four status pollers as threads of the agent, wired to WinINet,
// the published tray window, the language module and Sleep.
#pragma once

#include "agent/core/agent_state.h"

namespace vantorel {

// Starts LoginStatePoller, EventPoller, StoragePoller and ProgressPoller, in
// that order, each with state as its argument; they are never stopped.
void StartStatusPollers(AgentState* state);

}  // namespace vantorel
