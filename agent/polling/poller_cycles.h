// One cycle of each status poller: what it concludes from the service's
// replies, written into the Agent state, and what it posts to the tray
// window. No requests, pauses or threads here (status_pollers.h runs the
// cycles), so each decision can be called directly with any reply text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "agent/core/agent_state.h"
#include "protocol/service_api.h"
#include "resources/ui_strings.h"

namespace vantorel {

// What a poller posts to the tray window. Posts are never waited for; one
// that is dropped (no window yet) loses nothing, as the window reads the
// Agent state when it is created.
class PollerOutput {
public:
    virtual ~PollerOutput() = default;
    // WM_REFRESH_TRAYICON with 0 and 0.
    virtual void PostRefresh() = 0;
    // WM_SHOW_BALLOON with copies of the two texts, owned by the window.
    virtual void PostBalloon(const std::u16string& title, const std::u16string& text) = 0;
};

// The reply text of one request; empty when the request failed.
using ReplyFetcher = std::function<std::u16string(ServiceRequest request)>;

// Sign-in flag, download folder, login state, then (signed in) the
// transfer status with its icon; fetches three or four replies in order.
void RunLoginStateCycle(AgentState& state, const ReplyFetcher& fetch, PollerOutput& output);

// One long-poll reply: writes it to the debug output, then acts on the
// event it holds (state, refresh, one balloon). Backslash-n in the reply is
// left alone: the parser decodes escapes itself, and rewriting the raw text
// broke paths such as C:\\new and escaped quotes.
void RunEventCycle(AgentState& state, std::u16string_view reply, PollerOutput& output);

// The storage line for one storage reply: string 135 filled with percent
// used and total gigabytes, or, when the reply is unreadable, string 129
// while signing in and an empty line otherwise.
std::u16string StorageLine(const AgentState& state, std::u16string_view reply, const UiStringSource& loadString);

// Percent of total that used is, truncated, without overflow for any
// non-negative used and positive total; saturates at INT64_MAX.
int64_t StoragePercent(int64_t used, int64_t total);

// Upload, then download counts, each from its progress reply. A reply that
// cannot be read gives zero counts and keeps the remaining time.
void RunProgressCycle(AgentState& state, const ReplyFetcher& fetch);

// Longest storage line the menu takes, in UTF-16 units.
inline constexpr size_t kStorageLineMax = 255;

// What the tray icon's tooltip says; screen readers read it as the icon's
// name. files counts the uploads running or waiting, and only while Uploading.
enum class TooltipState { SignedOut, UpToDate, Uploading, Transferring, Paused, Error };
struct TrayTooltip {
    TooltipState state = TooltipState::UpToDate;
    int64_t files = 0;
    friend bool operator==(const TrayTooltip&, const TrayTooltip&) = default;
};

// The tooltip for what the pollers decided: the icon first (signed out,
// error), then a paused transfer, then busy as uploading (or transferring
// when no upload is counted); idle and completed are up to date.
TrayTooltip DecideTrayTooltip(int32_t trayIconId, std::u16string_view statusName, const TransferCounts& uploadFiles);

// "Vantorel – uploading 3 files" and the like, cut to the tooltip's field;
// the product name alone when the language module lacks the text.
std::u16string TrayTooltipText(const TrayTooltip& tooltip, const UiStringSource& loadString);

// Writes the tooltip of the Agent state as it is now when it differs from
// shown (the one this caller wrote last), so texts are loaded only on a change.
void RunTooltipCycle(AgentState& state, const UiStringSource& loadString, std::optional<TrayTooltip>& shown);

}  // namespace vantorel
