// The four status pollers: threads that ask the Local service over and over
// and keep the Agent state current. Each loop runs its cycle
// (poller_cycles.h) with fixed pauses and never ends in the agent; a failed
// request is an empty reply, and nothing is held across a request, pause or
// post but the cycle's own texts.
//
// Portable: the platform comes in through PollerEnvironment (WinINet,
// PostMessage, Sleep and the language module on Windows).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "agent/core/window_notifier.h"
#include "agent/polling/poller_cycles.h"
#include "protocol/http_client.h"

namespace vantorel {

inline constexpr uint32_t kLoginStatePauseMs = 200;  // after each cycle
inline constexpr uint32_t kEventPauseMs = 1000;      // before each long poll
inline constexpr uint32_t kStoragePauseMs = 1000;    // after each cycle
inline constexpr uint32_t kProgressPauseMs = 500;    // after each cycle

struct PollerEnvironment {
    HttpTransport& transport;
    PollerOutput& output;
    UiStringSource loadString;
    std::function<void(uint32_t milliseconds)> sleep;
    // For tests only: a loop ends after the cycle in which this became true.
    // Null in the agent, whose pollers end with the process.
    const std::atomic<bool>* stop = nullptr;
};

// The reply text of request, or empty when it failed.
std::u16string FetchReply(HttpTransport& transport, ServiceRequest request);

void LoginStatePoller(AgentState& state, PollerEnvironment& environment);
void EventPoller(AgentState& state, PollerEnvironment& environment);
void StoragePoller(AgentState& state, PollerEnvironment& environment);
void ProgressPoller(AgentState& state, PollerEnvironment& environment);

// Posts both kinds through notifier: the refresh itself, the balloon through
// postBalloon (which owns the texts' copies until the window takes them).
class NotifierOutput final : public PollerOutput {
public:
    using BalloonPoster = bool (*)(WindowNotifier& notifier, const std::u16string& title,
                                   const std::u16string& text);
    NotifierOutput(WindowNotifier& notifier, BalloonPoster postBalloon)
        : notifier_(notifier), postBalloon_(postBalloon) {}

    void PostRefresh() override;
    void PostBalloon(const std::u16string& title, const std::u16string& text) override;

private:
    WindowNotifier& notifier_;
    BalloonPoster postBalloon_;
};

}  // namespace vantorel
