#include "agent/polling/status_pollers.h"

#include "agent/core/agent_messages.h"
#include "resources/ui_strings.h"

namespace vantorel {
namespace {

bool Stopped(const PollerEnvironment& environment) {
    return environment.stop != nullptr && environment.stop->load();
}

// A cycle that throws (out of memory) is dropped like a failed request: the
// poller must go on, and nothing may leave the thread's entry.
template <typename Cycle>
void RunGuarded(Cycle&& cycle) {
    try {
        cycle();
    } catch (...) {
    }
}

ReplyFetcher FetcherOf(HttpTransport& transport) {
    return [&transport](ServiceRequest request) { return FetchReply(transport, request); };
}

}  // namespace

std::u16string FetchReply(HttpTransport& transport, ServiceRequest request) {
    std::u16string reply;
    if (!HttpGetText(std::u16string(ServiceUrl(request)), reply, transport)) reply.clear();
    return reply;
}

void LoginStatePoller(AgentState& state, PollerEnvironment& environment) {
    const ReplyFetcher fetch = FetcherOf(environment.transport);
    // The one poller that writes the tooltip: it runs most often and decides
    // the icon the tooltip follows.
    std::optional<TrayTooltip> tooltip;
    while (!Stopped(environment)) {
        RunGuarded([&] {
            RunLoginStateCycle(state, fetch, environment.output);
            RunTooltipCycle(state, environment.loadString, tooltip);
        });
        environment.sleep(kLoginStatePauseMs);
    }
}

void EventPoller(AgentState& state, PollerEnvironment& environment) {
    while (!Stopped(environment)) {
        environment.sleep(kEventPauseMs);
        RunGuarded([&] {
            const std::u16string reply = FetchReply(environment.transport, ServiceRequest::Poll);
            RunEventCycle(state, reply, environment.output);
        });
    }
}

void StoragePoller(AgentState& state, PollerEnvironment& environment) {
    RunGuarded([&] { state.SetStorageText(environment.loadString(IDS_STORAGE_CHECKING)); });
    while (!Stopped(environment)) {
        RunGuarded([&] {
            const std::u16string reply = FetchReply(environment.transport, ServiceRequest::Storage);
            state.SetStorageText(StorageLine(state, reply, environment.loadString));
        });
        environment.sleep(kStoragePauseMs);
    }
}

void ProgressPoller(AgentState& state, PollerEnvironment& environment) {
    const ReplyFetcher fetch = FetcherOf(environment.transport);
    while (!Stopped(environment)) {
        RunGuarded([&] { RunProgressCycle(state, fetch); });
        environment.sleep(kProgressPauseMs);
    }
}

void NotifierOutput::PostRefresh() { notifier_.Post(WM_REFRESH_TRAYICON, 0, 0); }

void NotifierOutput::PostBalloon(const std::u16string& title, const std::u16string& text) {
    postBalloon_(notifier_, title, text);
}

}  // namespace vantorel
