#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "agent/polling/poller_cycles.h"
#include "agent/polling/status_pollers.h"
#include "protocol/debug_output.h"

namespace vantorel {
namespace {

class NullNotifier final : public WindowNotifier {
public:
    bool Post(uint32_t, uintptr_t, intptr_t) override { return true; }
};

struct Posted {
    bool balloon = false;
    std::u16string title;
    std::u16string text;
    friend bool operator==(const Posted&, const Posted&) = default;
};

class RecordingOutput final : public PollerOutput {
public:
    void PostRefresh() override { posted.push_back({}); }
    void PostBalloon(const std::u16string& title, const std::u16string& text) override {
        posted.push_back({true, title, text});
    }
    int Refreshes() const {
        int count = 0;
        for (const Posted& post : posted) count += post.balloon ? 0 : 1;
        return count;
    }
    std::vector<Posted> posted;
};

// Canned replies by request; a request without one fails (empty reply).
struct FakeService {
    std::map<ServiceRequest, std::u16string> replies;
    std::vector<ServiceRequest> asked;
    ReplyFetcher Fetcher() {
        return [this](ServiceRequest request) {
            asked.push_back(request);
            auto found = replies.find(request);
            return found == replies.end() ? std::u16string() : found->second;
        };
    }
};

struct Fixture {
    NullNotifier notifier;
    AgentState state{notifier, [] { return std::u16string(u"10:42"); }};
    RecordingOutput output;
    FakeService service;

    void LoginCycle(std::u16string loginState, std::u16string transferStatus = u"") {
        service.replies[ServiceRequest::LoginStateOfUser] = loginState;
        service.replies[ServiceRequest::LoginState] = loginState;
        service.replies[ServiceRequest::TransferStatus] = transferStatus;
        RunLoginStateCycle(state, service.Fetcher(), output);
    }
};

constexpr TransferCounts kOneRunning{1, 0, 0, 0, 0};

TEST(LoginStateCycle, LoginStateReplyDecidesStatusAndFlag)
{
    struct Case {
        std::u16string userReply;
        std::u16string reply;
        std::u16string status;
        bool signedIn;
    } cases[] = {
        {u"", u"logging_in", u"logging_in", false},
        // logging_in wins over logged_in; the user reply alone sets the flag
        {u"logged_in", u"logged_in logging_in", u"logging_in", true},
        {u"", u"xx logged_in", u"logged_in", true},
        {u"logged_in", u"logged_out", u"logged_out", false},
        {u"logged_in", u"logging_out", u"logging_out", true},
        {u"", u"LOGGED_IN", u"starting", false},  // case-sensitive: nothing found
        {u"", u"", u"starting", false},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.state.SetTrayIconId(ICON_IDLE);  // keeps the transfer status from writing the name
        f.service.replies[ServiceRequest::LoginStateOfUser] = c.userReply;
        f.service.replies[ServiceRequest::LoginState] = c.reply;
        RunLoginStateCycle(f.state, f.service.Fetcher(), f.output);
        EXPECT_EQ(f.state.GetStatusName(), c.status) << std::string(c.reply.begin(), c.reply.end());
        EXPECT_EQ(f.state.IsSignedIn(), c.signedIn) << std::string(c.reply.begin(), c.reply.end());
    }
}

TEST(LoginStateCycle, DownloadFolderIsTheFirstLine)
{
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"C:\\Down\r\n/home/u/Down\r\n", u"C:\\Down"},
        {u"C:\\Down\n\rrest", u"C:\\Down"},
        {u"C:\\Down\rrest\n", u"C:\\Down"},
        {u"C:\\Down", u"C:\\Down"},
        {u"\r\nC:\\Down", u""},
        {u"", u""},
    };
    for (const auto& [reply, folder] : cases) {
        Fixture f;
        f.service.replies[ServiceRequest::DownloadDirectory] = reply;
        RunLoginStateCycle(f.state, f.service.Fetcher(), f.output);
        EXPECT_EQ(f.state.GetDownloadFolder(), folder);
    }
}

TEST(LoginStateCycle, TransferStatusSetsIconEveryCycleFirstWordWins)
{
    struct Case {
        std::u16string reply;
        int32_t icon;
        std::u16string status;
    } cases[] = {
        {u"progress", ICON_BUSY, u"progress"},
        {u"paused progress", ICON_BUSY, u"progress"},
        {u"completed paused", ICON_COMPLETED, u"completed"},
        {u"paused", ICON_IDLE, u"paused"},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.LoginCycle(u"logged_in", c.reply);
        f.state.AcknowledgeTrayIcon();  // the user's click: set again next cycle
        // A menu built while the transfer status is asked for sees the last
        // status, not the login state's name.
        std::u16string seenMeanwhile;
        const ReplyFetcher fetch = f.service.Fetcher();
        RunLoginStateCycle(f.state, [&](ServiceRequest request) {
            if (request == ServiceRequest::TransferStatus) seenMeanwhile = f.state.GetStatusName();
            return fetch(request);
        }, f.output);
        EXPECT_EQ(seenMeanwhile, c.status);
        EXPECT_EQ(f.state.GetTrayIconId(), c.icon);
        EXPECT_EQ(f.state.GetStatusName(), c.status);
        EXPECT_EQ(f.output.Refreshes(), 2);
        EXPECT_EQ(f.service.asked.size(), 8u);  // signed in: transferstatus too
    }
}

TEST(LoginStateCycle, OtherStatusTurnsIdleOnlyWhenNoFileIsCounted)
{
    struct Case {
        int32_t iconBefore;
        TransferCounts uploadFiles;
        TransferCounts downloadFiles;
        int32_t iconAfter;
        int refreshes;
    } cases[] = {
        {ICON_COMPLETED, kOneRunning, {}, ICON_COMPLETED, 0},
        {ICON_COMPLETED, {}, {0, 0, 0, 0, 3}, ICON_COMPLETED, 0},
        {ICON_COMPLETED, {}, {}, ICON_IDLE, 1},
        {ICON_ERROR, {0, 7, 0, 1, 0}, {}, ICON_ERROR, 0},
        {ICON_SIGNED_OUT, kOneRunning, {}, ICON_IDLE, 1},  // just signed in
        {ICON_IDLE, {}, {}, ICON_IDLE, 0},
        // counts that would sum to 0 still count tasks
        {ICON_BUSY, {-1, 1, 0, 0, 0}, {}, ICON_BUSY, 0},
        {ICON_BUSY, {std::numeric_limits<int64_t>::max(), 0, 0, 0, 0}, kOneRunning, ICON_BUSY, 0},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.state.SetTrayIconId(c.iconBefore);
        f.state.SetStatusName(u"completed");
        f.state.SetUploadProgress(c.uploadFiles, {}, 0);
        f.state.SetDownloadProgress(c.downloadFiles, {}, 0);
        f.service.replies[ServiceRequest::LoginStateOfUser] = u"logged_in";
        f.service.replies[ServiceRequest::TransferStatus] = u"idle";
        RunLoginStateCycle(f.state, f.service.Fetcher(), f.output);
        EXPECT_EQ(f.state.GetTrayIconId(), c.iconAfter) << c.iconBefore;
        EXPECT_EQ(f.state.GetStatusName(), c.iconAfter == ICON_IDLE && c.refreshes ? u"idle" : u"completed");
        EXPECT_EQ(f.output.Refreshes(), c.refreshes) << c.iconBefore;
    }
}

TEST(LoginStateCycle, ServiceDownMeansSignedOutWithOneRefresh)
{
    Fixture f;
    f.LoginCycle(u"logged_in\r\nuser", u"progress");
    f.service.replies[ServiceRequest::DownloadDirectory] = u"C:\\Down\r\n";
    RunLoginStateCycle(f.state, f.service.Fetcher(), f.output);
    ASSERT_EQ(f.state.GetDownloadFolder(), u"C:\\Down");
    f.output.posted.clear();

    f.service.replies.clear();  // every request fails
    RunLoginStateCycle(f.state, f.service.Fetcher(), f.output);
    RunLoginStateCycle(f.state, f.service.Fetcher(), f.output);
    EXPECT_FALSE(f.state.IsSignedIn());
    EXPECT_EQ(f.state.GetDownloadFolder(), u"");
    EXPECT_EQ(f.state.GetStatusName(), u"progress");
    EXPECT_EQ(f.state.GetTrayIconId(), ICON_SIGNED_OUT);
    EXPECT_EQ(f.output.Refreshes(), 1);  // only when the icon changed
}

std::u16string EventReply(std::u16string_view type, std::u16string_view event, std::u16string_view message) {
    return u"{\"owner\":\"u\",\"title\":\"t\",\"type\":\"" + std::u16string(type) + u"\",\"event\":\"" +
           std::u16string(event) + u"\",\"message\":\"" + std::u16string(message) + u"\"}";
}

TEST(EventCycle, EachEventSetsIconAndStatusThenRefreshAndBalloon)
{
    struct Case {
        std::u16string event;
        int32_t icon;
        std::u16string status;
    } cases[] = {
        {u"SCHEDULED", ICON_BUSY, u"progress"}, {u"PAUSED", ICON_IDLE, u"paused"},
        {u"RESUMED", ICON_BUSY, u"progress"},   {u"ERRORED", ICON_ERROR, u"completed"},
        {u"COMPLETED", ICON_COMPLETED, u"completed"}, {u"CANCELLED", ICON_IDLE, u"idle"},
        {u"completed", ICON_SIGNED_OUT, u"starting"},  // unknown: balloon only
        {u"FINISHED", ICON_SIGNED_OUT, u"starting"},
    };
    for (const Case& c : cases) {
        Fixture f;
        RunEventCycle(f.state, EventReply(u"UPLOAD", c.event, u"2 files uploaded"), f.output);
        EXPECT_EQ(f.state.GetTrayIconId(), c.icon);
        EXPECT_EQ(f.state.GetStatusName(), c.status);
        std::vector<Posted> expected;
        if (c.icon != ICON_SIGNED_OUT) expected.push_back({});
        expected.push_back({true, u"2 files uploaded", u" "});
        EXPECT_EQ(f.output.posted, expected);
    }
}

TEST(EventCycle, TimeOutEmptyMessageAndNonEventsDoNothing)
{
    const std::u16string replies[] = {
        EventReply(u"TIME_OUT", u"COMPLETED", u"no events"),
        EventReply(u"UPLOAD", u"COMPLETED", u""),
        u"{\"type\":\"UPLOAD\",\"event\":\"ERRORED\"}",
        u"{\"type\":\"UPLOAD\",\"event\":\"ERRORED\",\"message\":\"cut",
        u"",
    };
    for (const std::u16string& reply : replies) {
        Fixture f;
        RunEventCycle(f.state, reply, f.output);
        EXPECT_TRUE(f.output.posted.empty());
        EXPECT_EQ(f.state.GetTrayIconId(), ICON_SIGNED_OUT);
        EXPECT_EQ(f.state.GetStatusName(), u"starting");
    }
}

TEST(EventCycle, CompletedStampsAndScheduledClearsOnlyItsDirection)
{
    Fixture f;
    RunEventCycle(f.state, EventReply(u"UPLOAD", u"COMPLETED", u"m"), f.output);
    EXPECT_EQ(f.state.GetLastUploadTime(), u"10:42");
    EXPECT_EQ(f.state.GetLastDownloadTime(), u"");
    RunEventCycle(f.state, EventReply(u"DOWNLOAD", u"COMPLETED", u"m"), f.output);
    EXPECT_EQ(f.state.GetLastDownloadTime(), u"10:42");

    RunEventCycle(f.state, EventReply(u"DOWNLOAD", u"SCHEDULED", u"m"), f.output);
    EXPECT_EQ(f.state.GetLastDownloadTime(), u"");
    EXPECT_EQ(f.state.GetLastUploadTime(), u"10:42");
    // another type: only the time is skipped
    RunEventCycle(f.state, EventReply(u"SYNC", u"SCHEDULED", u"m"), f.output);
    EXPECT_EQ(f.state.GetLastUploadTime(), u"10:42");
    EXPECT_EQ(f.state.GetTrayIconId(), ICON_BUSY);
}

TEST(EventCycle, ReplyIsWrittenAsReceivedAndPathsSurvive)
{
#ifndef _WIN32
    std::vector<std::u16string> written;
    DebugSink previous = SetDebugSink([&](std::u16string_view text) { written.emplace_back(text); });
#endif
    Fixture f;
    const std::u16string reply =
        EventReply(u"UPLOAD", u"ERRORED", u"C:\\\\new\\\\notes.txt: \\\"locked\\\"\\nretry later");
    RunEventCycle(f.state, reply, f.output);
#ifndef _WIN32
    SetDebugSink(previous);
    EXPECT_EQ(written, (std::vector<std::u16string>{reply, u"\n"}));
#endif
    ASSERT_EQ(f.output.posted.size(), 2u);
    EXPECT_EQ(f.output.posted[1].title, u"C:\\new\\notes.txt: \"locked\"\r\nretry later");
}

std::u16string TestStrings(unsigned id) {
    switch (id) {
    case 109: return u"Checking storage";
    case 129: return u"Signing in";
    case 135: return u"{0}% of {1} GB used";
    default: return u"";
    }
}

std::u16string StorageReply(int64_t used, int64_t total) {
    const std::string text = "{\"usedSpace\":" + std::to_string(used) + ",\"totalSpace\":" + std::to_string(total) + "}";
    return std::u16string(text.begin(), text.end());
}

TEST(StorageLine, FormatsPercentThenGigabytes)
{
    const int64_t max = std::numeric_limits<int64_t>::max();
    const std::pair<std::u16string, std::u16string> cases[] = {
        {StorageReply(5368709120, 10737418240), u"50% of 10 GB used"},
        {StorageReply(0, 1073741823), u"0% of 0 GB used"},
        {StorageReply(3, 2), u"150% of 0 GB used"},  // over quota
        // used * 100 would overflow: still exact
        {StorageReply(max, max), u"100% of 8589934591 GB used"},
        {StorageReply(max - 1, max), u"99% of 8589934591 GB used"},
        {StorageReply(max / 3, max / 2), u"66% of 4294967295 GB used"},
        {StorageReply(max, 1), u"9223372036854775807% of 0 GB used"},  // saturated
    };
    for (const auto& [reply, line] : cases) {
        Fixture f;
        EXPECT_EQ(StorageLine(f.state, reply, TestStrings), line);
    }
}

TEST(StorageLine, UnreadableReplyDependsOnSignIn)
{
    const std::u16string unreadable[] = {
        u"", u"{\"usedSpace\":1,", StorageReply(5, 0), StorageReply(-5, 10), StorageReply(5, -10),
    };
    for (const std::u16string& reply : unreadable) {
        Fixture f;
        f.state.SetStatusName(u"logging_in");
        EXPECT_EQ(StorageLine(f.state, reply, TestStrings), u"Signing in");
        f.state.SetStatusName(u"logged_out");
        EXPECT_EQ(StorageLine(f.state, reply, TestStrings), u"");
        f.state.SetStatusName(u"logging_in");
        f.state.SetSignedIn(true);
        EXPECT_EQ(StorageLine(f.state, reply, TestStrings), u"");
    }
}

TEST(StorageLine, MissingOrLongTextsGiveEmptyOrCutLines)
{
    Fixture f;
    const auto none = [](unsigned) { return std::u16string(); };
    EXPECT_EQ(StorageLine(f.state, StorageReply(1, 2), none), u"");
    const auto bad = [](unsigned) { return std::u16string(u"{2}% of {1}"); };
    EXPECT_EQ(StorageLine(f.state, StorageReply(1, 2), bad), u"");

    // 254 units, then a pair whose second half would be unit 256
    const auto longText = [](unsigned) { return std::u16string(254, u'x') + u"\U0001F600{0}"; };
    const std::u16string cut = StorageLine(f.state, StorageReply(1, 2), longText);
    EXPECT_EQ(cut, std::u16string(254, u'x'));
    const auto fits = [](unsigned) { return std::u16string(253, u'x') + u"\U0001F600{0}"; };
    EXPECT_EQ(StorageLine(f.state, StorageReply(1, 2), fits), std::u16string(253, u'x') + u"\U0001F600");
}

TEST(ProgressCycle, UploadThenDownloadAndUnreadableKeepsTime)
{
    Fixture f;
    f.service.replies[ServiceRequest::UploadProgress] =
        u"[{\"fileCounts\":{\"RUNNING\":1,\"FINISHED\":2,\"PAUSED\":3,\"ERRORED\":4,\"PENDING\":5},"
        u"\"byteCounts\":{\"RUNNING\":10,\"FINISHED\":20,\"PAUSED\":0,\"ERRORED\":0,\"PENDING\":50},"
        u"\"timeRemaining\":77}]";
    f.service.replies[ServiceRequest::DownloadProgress] = u"[{\"timeRemaining\":9}]";
    RunProgressCycle(f.state, f.service.Fetcher());
    EXPECT_EQ(f.service.asked,
              (std::vector<ServiceRequest>{ServiceRequest::UploadProgress, ServiceRequest::DownloadProgress}));
    TransferProgress upload = f.state.GetUploadProgress();
    EXPECT_EQ(upload.files, (TransferCounts{1, 2, 3, 4, 5}));
    EXPECT_EQ(upload.bytes, (TransferCounts{10, 20, 0, 0, 50}));
    EXPECT_EQ(upload.timeRemaining, 77);
    EXPECT_EQ(f.state.GetDownloadProgress().timeRemaining, 9);

    f.service.replies[ServiceRequest::UploadProgress] = u"[{\"fileCounts\":";
    f.service.replies.erase(ServiceRequest::DownloadProgress);
    RunProgressCycle(f.state, f.service.Fetcher());
    upload = f.state.GetUploadProgress();
    EXPECT_EQ(upload.files, TransferCounts{});
    EXPECT_EQ(upload.bytes, TransferCounts{});
    EXPECT_EQ(upload.timeRemaining, 77);
    EXPECT_EQ(f.state.GetDownloadProgress().timeRemaining, 9);
}

TEST(TrayTooltip, FollowsTheIconThenPausedThenTheUploadsAndIsWrittenOnChange)
{
    const std::map<unsigned, std::u16string> texts = {
        {IDS_TOOLTIP_SIGNED_OUT, u"{0} out"}, {IDS_TOOLTIP_UP_TO_DATE, u"{0} ok"},
        {IDS_TOOLTIP_UPLOADING_ONE_FILE, u"{0} {1} file"}, {IDS_TOOLTIP_UPLOADING_FILES, u"{0} {1} files"},
        {IDS_TOOLTIP_TRANSFERRING, u"{0} busy"}, {IDS_TOOLTIP_ERROR, std::u16string(130, u'e')}};
    int loads = 0;
    const UiStringSource strings = [&](unsigned id) {
        ++loads;
        return texts.contains(id) ? texts.at(id) : u"";
    };
    const struct {
        int32_t icon;
        std::u16string status;
        TransferCounts uploads;
        std::u16string shown;
    } cases[] = {
        {ICON_SIGNED_OUT, u"progress", kOneRunning, u"Vantorel out"},
        {ICON_ERROR, u"paused", kOneRunning, std::u16string(127, u'e')},  // cut to the field
        {ICON_IDLE, u"paused", kOneRunning, u"Vantorel"},                 // no text: the name alone
        {ICON_IDLE, u"logged_in", kOneRunning, u"Vantorel ok"},
        {ICON_COMPLETED, u"completed", {}, u"Vantorel ok"},               // unchanged: not loaded again
        {ICON_BUSY, u"progress", {1, 9, 4, 2, 2}, u"Vantorel 3 files"},   // running and waiting only
        {ICON_BUSY, u"progress", {-5, 0, 0, 0, 1}, u"Vantorel 1 file"},
        {ICON_BUSY, u"progress", {0, 9, 1, 0, 0}, u"Vantorel busy"},      // downloads, or not counted yet
        {ICON_BUSY, u"progress", {INT64_MAX, 0, 0, 0, 9}, u"Vantorel 9223372036854775807 files"},
    };
    Fixture f;
    std::optional<TrayTooltip> shown;
    for (const auto& c : cases) {
        f.state.SetTrayIconId(c.icon);
        f.state.SetStatusName(c.status);
        f.state.SetUploadProgress(c.uploads, {}, 0);
        RunTooltipCycle(f.state, strings, shown);
        f.state.TakePendingDisplayName();
        EXPECT_EQ(f.state.GetDisplayName(), c.shown) << c.icon;
    }
    EXPECT_EQ(loads, 8);
}

// Every request fails; each request and pause is written to one list, in order.
class FailingTransport final : public HttpTransport {
public:
    explicit FailingTransport(std::vector<std::string>& steps) : steps_(steps) {}
    bool GetBytes(const std::u16string& url, std::string&) override {
        for (int i = 0; i < kServiceRequestCount; ++i) {
            const auto request = static_cast<ServiceRequest>(i);
            if (ServiceUrl(request) != url) continue;
            const std::u16string_view name = ServiceRequestName(request);
            steps_.push_back(std::string(name.begin(), name.end()));
        }
        return false;
    }
    bool PostForm(const std::u16string&, const std::u16string&, const std::u16string&) override { return false; }
    bool Download(const std::u16string&, uint32_t, HttpDownloadSink&, std::u16string&) override { return false; }

private:
    std::vector<std::string>& steps_;
};

TEST(StatusPollers, LoopsRequestAndPauseInOrderThroughFailures)
{
    using Steps = std::vector<std::string>;
    struct Case {
        void (*poller)(AgentState&, PollerEnvironment&);
        Steps cycle;
    } cases[] = {
        {LoginStatePoller, {"loginstate-user", "dldir", "loginstate", "sleep 200"}},
        {EventPoller, {"sleep 1000", "poll"}},
        {StoragePoller, {"storage", "sleep 1000"}},
        {ProgressPoller, {"upload-progress", "download-progress", "sleep 500"}},
    };
    for (const Case& c : cases) {
        Fixture f;
        Steps steps;
        FailingTransport transport(steps);
        std::atomic<bool> stop{false};
        int sleeps = 0;
        std::vector<unsigned> loaded;
        PollerEnvironment environment{transport, f.output,
                                      [&](unsigned id) {
                                          loaded.push_back(id);
                                          return TestStrings(id);
                                      },
                                      [&](uint32_t ms) {
                                          steps.push_back("sleep " + std::to_string(ms));
                                          if (++sleeps == 2) stop = true;
                                      },
                                      &stop};
        c.poller(f.state, environment);
        Steps expected = c.cycle;
        expected.insert(expected.end(), c.cycle.begin(), c.cycle.end());
        EXPECT_EQ(steps, expected);
        if (c.poller == StoragePoller) {
            EXPECT_EQ(loaded, std::vector<unsigned>{109});  // at start; then no reply, not signing in
            EXPECT_EQ(f.state.GetStorageText(), u"");
        }
    }
}

}  // namespace
}  // namespace vantorel
