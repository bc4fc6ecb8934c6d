#include "agent/core/agent_parts_win.h"

namespace vantorel {

// Parts join here as they are built; an empty entry skips its step.
const AgentParts& BuiltInAgentParts() {
    static const AgentParts parts = [] {
        AgentParts built;
        return built;
    }();
    return parts;
}

}  // namespace vantorel
