#include "agent/polling/poller_cycles.h"

#include <algorithm>
#include <limits>

#include "agent/tray/tray_text.h"
#include "protocol/debug_output.h"
#include "resources/text_format.h"
#include "resources/ui_strings.h"

namespace vantorel {
namespace {

constexpr int64_t kGigabyte = int64_t{1} << 30;

bool Contains(std::u16string_view text, std::u16string_view word) {
    return text.find(word) != std::u16string_view::npos;
}

// How a transfer-status word shows; the first one found wins, so a reply
// naming both "progress" and "paused" shows as busy.
struct TransferShown {
    std::u16string_view word;
    int32_t trayIconId;
};
constexpr TransferShown kTransferShown[] = {
    {kTransferProgress, ICON_BUSY},
    {kTransferCompleted, ICON_COMPLETED},
    {kTransferPaused, ICON_IDLE},
};

bool IsZero(const TransferCounts& counts) { return counts == TransferCounts{}; }

bool NamesTransferStatus(std::u16string_view reply) {
    for (const TransferShown& shown : kTransferShown)
        if (Contains(reply, shown.word)) return true;
    return false;
}

void ApplyTransferStatus(AgentState& state, std::u16string_view reply, PollerOutput& output) {
    for (const TransferShown& shown : kTransferShown) {
        if (!Contains(reply, shown.word)) continue;
        state.SetTrayIconId(shown.trayIconId);
        state.SetStatusName(std::u16string(shown.word));
        // Every cycle, changed or not: the user may have acknowledged the icon.
        output.PostRefresh();
        return;
    }
    const int32_t icon = state.GetTrayIconId();
    if (icon == ICON_IDLE) return;
    // All ten file counts must be 0, not their sum: negative counts from a
    // faulty service must neither cancel out nor overflow.
    const bool noTasks = IsZero(state.GetUploadFileCounts()) && IsZero(state.GetDownloadFileCounts());
    if (noTasks || icon == ICON_SIGNED_OUT) {
        state.SetTrayIconId(ICON_IDLE);
        state.SetStatusName(std::u16string(kTransferIdle));
        output.PostRefresh();
    }
}

// How an event shows; an event not listed changes nothing but its balloon.
struct EventShown {
    std::u16string_view event;
    int32_t trayIconId;
    std::u16string_view statusName;
};
constexpr EventShown kEventShown[] = {
    {kEventScheduled, ICON_BUSY, kTransferProgress},  {kEventPaused, ICON_IDLE, kTransferPaused},
    {kEventResumed, ICON_BUSY, kTransferProgress},    {kEventErrored, ICON_ERROR, kTransferCompleted},
    {kEventCompleted, ICON_COMPLETED, kTransferCompleted}, {kEventCancelled, ICON_IDLE, kTransferIdle},
};

void ApplyEventTime(AgentState& state, const ServiceEvent& event) {
    const bool upload = event.type == kEventTypeUpload;
    const bool download = event.type == kEventTypeDownload;
    if (event.event == kEventScheduled) {
        if (upload) state.ClearLastUploadTime();
        if (download) state.ClearLastDownloadTime();
    } else if (event.event == kEventCompleted) {
        if (upload) state.StampUploadCompleted();
        if (download) state.StampDownloadCompleted();
    }
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Cut to at most max units, never between the halves of a surrogate pair.
std::u16string CutToUnits(std::u16string text, size_t max) {
    if (text.size() <= max) return text;
    text.resize(max);
    if (!text.empty() && IsHighSurrogate(text.back())) text.pop_back();
    return text;
}

TransferProgress ReadProgress(std::u16string_view reply, int64_t timeRemaining) {
    TransferProgress progress;
    progress.timeRemaining = timeRemaining;
    progress.files = ReadTransferCounts(reply, u"fileCounts", progress.timeRemaining);
    progress.bytes = ReadTransferCounts(reply, u"byteCounts", progress.timeRemaining);
    return progress;
}

}  // namespace

void RunLoginStateCycle(AgentState& state, const ReplyFetcher& fetch, PollerOutput& output) {
    state.SetSignedIn(Contains(fetch(ServiceRequest::LoginStateOfUser), kLoginStateNames[LOGIN_LOGGED_IN]));

    const std::u16string folderReply = fetch(ServiceRequest::DownloadDirectory);
    state.SetDownloadFolder(std::u16string(FirstReplyLine(folderReply)));

    const auto login = FindLoginState(fetch(ServiceRequest::LoginState));
    if (login == LOGIN_LOGGED_IN) state.SetSignedIn(true);
    if (login == LOGIN_LOGGED_OUT) state.SetSignedIn(false);

    // The login state's name stands in the status only where the transfer
    // status does not replace it in this cycle: written one after the
    // other, a menu opened between the two would lack its Pause or Resume.
    if (state.IsSignedIn()) {
        const std::u16string reply = fetch(ServiceRequest::TransferStatus);
        if (login && !NamesTransferStatus(reply)) state.SetStatusName(std::u16string(kLoginStateNames[*login]));
        ApplyTransferStatus(state, reply, output);
        return;
    }
    if (login) state.SetStatusName(std::u16string(kLoginStateNames[*login]));
    if (state.GetTrayIconId() != ICON_SIGNED_OUT) {
        state.SetTrayIconId(ICON_SIGNED_OUT);
        output.PostRefresh();
    }
}

void RunEventCycle(AgentState& state, std::u16string_view reply, PollerOutput& output) {
    DebugOutput(reply);
    DebugOutput(u"\n");

    ServiceEvent event;
    ReadServiceEvent(reply, event);  // a reply that is no event leaves it empty
    if (event.type == kEventTypeTimeOut || event.message.empty()) return;

    for (const EventShown& shown : kEventShown) {
        if (event.event != shown.event) continue;
        ApplyEventTime(state, event);
        state.SetTrayIconId(shown.trayIconId);
        state.SetStatusName(std::u16string(shown.statusName));
        output.PostRefresh();
        break;
    }
    output.PostBalloon(event.message, u" ");
}

int64_t StoragePercent(int64_t used, int64_t total) {
    if (used <= 0 || total <= 0) return 0;
    const uint64_t usedBytes = static_cast<uint64_t>(used);
    const uint64_t totalBytes = static_cast<uint64_t>(total);
    const uint64_t whole = usedBytes / totalBytes;
    constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (whole > (kMax - 99) / 100) return std::numeric_limits<int64_t>::max();
    // rest * 100 / total by doubling (Horner over the bits of 100): rest * 100
    // itself may not fit in 64 bits, but every step stays below 2 * total.
    const uint64_t rest = usedBytes % totalBytes;
    uint64_t quotient = 0;
    uint64_t remainder = 0;
    for (int bit = 6; bit >= 0; --bit) {
        quotient *= 2;
        remainder *= 2;
        if (remainder >= totalBytes) {
            remainder -= totalBytes;
            ++quotient;
        }
        if ((100u >> bit) & 1u) {
            remainder += rest;
            if (remainder >= totalBytes) {
                remainder -= totalBytes;
                ++quotient;
            }
        }
    }
    return static_cast<int64_t>(whole * 100 + quotient);
}

std::u16string StorageLine(const AgentState& state, std::u16string_view reply, const UiStringSource& loadString) {
    int64_t used = 0;
    int64_t total = 0;
    // Negative amounts are as unreadable as a zero total: no line could show them.
    if (ReadStorage(reply, used, total) && used >= 0 && total > 0) {
        const std::u16string format = loadString(IDS_STORAGE_LINE);
        return CutToUnits(FormatText(format, {FormatArg::Integer(StoragePercent(used, total)),
                                              FormatArg::Integer(total / kGigabyte)}),
                          kStorageLineMax);
    }
    if (state.IsSignedIn()) return {};
    if (state.GetStatusName() == kLoginStateNames[LOGIN_LOGGING_IN]) return loadString(IDS_STORAGE_SIGNING_IN);
    return {};
}

TrayTooltip DecideTrayTooltip(int32_t trayIconId, std::u16string_view statusName, const TransferCounts& uploadFiles) {
    if (trayIconId == ICON_SIGNED_OUT) return {TooltipState::SignedOut};
    if (trayIconId == ICON_ERROR) return {TooltipState::Error};
    if (statusName == kTransferPaused) return {TooltipState::Paused};
    if (trayIconId != ICON_BUSY) return {TooltipState::UpToDate};
    // The service's counts may be negative or huge: neither may wrap.
    const int64_t running = std::max<int64_t>(uploadFiles.running, 0);
    const int64_t pending = std::max<int64_t>(uploadFiles.pending, 0);
    const int64_t files = pending > std::numeric_limits<int64_t>::max() - running ? std::numeric_limits<int64_t>::max()
                                                                                   : running + pending;
    if (files == 0) return {TooltipState::Transferring};
    return {TooltipState::Uploading, files};
}

std::u16string TrayTooltipText(const TrayTooltip& tooltip, const UiStringSource& loadString) {
    unsigned id = IDS_TOOLTIP_UP_TO_DATE;
    switch (tooltip.state) {
    case TooltipState::SignedOut: id = IDS_TOOLTIP_SIGNED_OUT; break;
    case TooltipState::UpToDate: id = IDS_TOOLTIP_UP_TO_DATE; break;
    case TooltipState::Uploading:
        id = tooltip.files == 1 ? IDS_TOOLTIP_UPLOADING_ONE_FILE : IDS_TOOLTIP_UPLOADING_FILES;
        break;
    case TooltipState::Transferring: id = IDS_TOOLTIP_TRANSFERRING; break;
    case TooltipState::Paused: id = IDS_TOOLTIP_PAUSED; break;
    case TooltipState::Error: id = IDS_TOOLTIP_ERROR; break;
    }
    const std::u16string text =
        FormatText(loadString(id), {FormatArg::Text(kProductName), FormatArg::Integer(tooltip.files)});
    return CutTrayText(text.empty() ? kProductName : text, kTooltipMaxUnits);
}

void RunTooltipCycle(AgentState& state, const UiStringSource& loadString, std::optional<TrayTooltip>& shown) {
    const TrayTooltip tooltip =
        DecideTrayTooltip(state.GetTrayIconId(), state.GetStatusName(), state.GetUploadFileCounts());
    if (shown == tooltip) return;
    state.SetPendingDisplayName(TrayTooltipText(tooltip, loadString));
    shown = tooltip;
}

void RunProgressCycle(AgentState& state, const ReplyFetcher& fetch) {
    // Only this poller writes the remaining times, so the Agent state holds
    // the previous cycle's values (0 at start).
    const TransferProgress upload =
        ReadProgress(fetch(ServiceRequest::UploadProgress), state.GetUploadProgress().timeRemaining);
    state.SetUploadProgress(upload.files, upload.bytes, upload.timeRemaining);
    const TransferProgress download =
        ReadProgress(fetch(ServiceRequest::DownloadProgress), state.GetDownloadProgress().timeRemaining);
    state.SetDownloadProgress(download.files, download.bytes, download.timeRemaining);
}

}  // namespace vantorel
