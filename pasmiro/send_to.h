// The Send To tool's decisions, free of the platform: which paths go out,
// where the agent lies, how long to wait for it and its service, and what
// the exit code says. pasmiro_main_win.cpp gathers the inputs and carries
// out the platform's part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

// A freshly started agent is looked for this often, for this long.
inline constexpr uint32_t kAgentWindowLookMs = 100;
inline constexpr uint32_t kAgentWindowWaitMs = 10000;
// A service that is not listening yet (a freshly started agent starts it)
// is tried this often, for this long after the first attempt.
inline constexpr uint32_t kSendRetryMs = 500;
inline constexpr uint32_t kSendWindowMs = 60000;

enum class SendOutcome {
    Accepted,    // the service answered 2xx
    Refused,     // the service answered with an error status
    NotReached,  // no connection was made: nothing arrived, so trying again is safe
    Lost,        // sent, but no answer came: it may have arrived, so it is not repeated
};

struct UploadPlan {
    std::string body;           // UTF-8 upload body; empty when nothing is to be sent
    bool pathsLeftOut = false;  // an argument held an unpaired surrogate
};

// False for a command-line tail holding nothing but spaces and tabs: the
// platform's splitter would turn that into the tool's own path.
bool HasArguments(std::u16string_view argumentText);

// The request for the tool's arguments. Empty arguments name no file and are
// dropped. A path with an unpaired surrogate cannot be written in UTF-8:
// replaced by U+FFFD it could name another file, kept as it is it would make
// the service refuse the whole body, so it is left out and reported.
UploadPlan PlanUpload(const std::vector<std::u16string>& arguments);

// The agent's executable beside the tool: everything before the last
// backslash of ownPath, then "\Vantorel.exe". Empty when ownPath has no
// backslash.
std::u16string AgentPathBeside(std::u16string_view ownPath);

// After a look that found no agent window, elapsedMs after the agent was
// started: the pause before the next look, or nothing to give up.
std::optional<uint32_t> NextWindowLook(uint64_t elapsedMs);

// After an attempt that ended in outcome, elapsedMs after the first attempt:
// the pause before the next attempt, or nothing when done.
std::optional<uint32_t> NextSendAttempt(SendOutcome outcome, uint64_t elapsedMs);

// What the tool asks of the platform.
class SendToPlatform {
public:
    virtual ~SendToPlatform() = default;
    virtual bool AgentWindowExists() = 0;
    // Starts the agent beside the tool; false when it could not be started.
    virtual bool StartAgent() = 0;
    // One POST of body to the service, on its own connection.
    virtual SendOutcome Send(const std::string& body) = 0;
    virtual void Pause(uint32_t ms) = 0;
    virtual uint64_t NowMs() = 0;  // monotonic
};

// The tool's run for its split arguments (nothing when the command line
// could not be split). Makes sure the agent runs, then sends the paths, if
// any, in one upload request. Exit code: 0 when the agent runs and every
// path was accepted by the service (or there was none), 1 otherwise.
int RunSendTo(const std::optional<std::vector<std::u16string>>& arguments, SendToPlatform& platform);

}  // namespace vantorel
