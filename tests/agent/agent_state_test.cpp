#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "agent/core/agent_state.h"

namespace vantorel {
namespace {

class RecordingNotifier final : public WindowNotifier {
public:
    bool Post(uint32_t message, uintptr_t, intptr_t) override {
        posted.push_back(message);
        return true;
    }
    std::vector<uint32_t> posted;
};

TEST(AgentState, StartsSignedOutAndStarting)
{
    RecordingNotifier notifier;
    AgentState state(notifier, nullptr);
    EXPECT_EQ(state.GetTrayIconId(), ICON_SIGNED_OUT);
    EXPECT_EQ(state.GetStatusName(), u"starting");
    EXPECT_EQ(state.GetStorageText(), u"");
    EXPECT_EQ(state.GetDisplayName(), u"Vantorel");
    EXPECT_FALSE(state.IsSignedIn());
    EXPECT_EQ(state.GetUploadProgress().timeRemaining, 0);
    EXPECT_EQ(state.GetDownloadProgress().bytes, TransferCounts{});
    EXPECT_EQ(state.GetLastUploadTime(), u"");
    EXPECT_FALSE(state.TakePendingDisplayName());
    EXPECT_EQ(state.GetDisplayName(), u"Vantorel");
    EXPECT_TRUE(notifier.posted.empty());
}

TEST(AgentState, PrimaryOnlyWithItsOwnMutex)
{
    RecordingNotifier notifier;
    AgentState state(notifier, nullptr);
    EXPECT_FALSE(state.IsPrimaryInstance());  // no mutex: creation failed
    int marker = 0;
    state.instanceMutex = &marker;
    EXPECT_TRUE(state.IsPrimaryInstance());
    state.instanceMutexError = AgentState::kErrorAlreadyExists;
    EXPECT_FALSE(state.IsPrimaryInstance());
    state.instanceMutexError = 5;
    EXPECT_TRUE(state.IsPrimaryInstance());
}

TEST(AgentState, AcknowledgeAlwaysPostsExactlyOneRefresh)
{
    RecordingNotifier notifier;
    AgentState state(notifier, nullptr);
    state.SetTrayIconId(ICON_COMPLETED);
    state.AcknowledgeTrayIcon();
    EXPECT_EQ(state.GetTrayIconId(), ICON_IDLE);
    state.AcknowledgeTrayIcon();  // already idle: still one refresh
    EXPECT_EQ(notifier.posted, (std::vector<uint32_t>{WM_REFRESH_TRAYICON, WM_REFRESH_TRAYICON}));
}

TEST(AgentState, StampsTheTimeOfDayAndCopiesOut)
{
    RecordingNotifier notifier;
    int calls = 0;
    AgentState state(notifier, [&] { return ++calls == 1 ? std::u16string(u"14:05") : std::u16string(); });
    state.StampUploadCompleted();
    EXPECT_EQ(state.GetLastUploadTime(), u"14:05");
    state.StampDownloadCompleted();  // formatting failed: empty
    EXPECT_EQ(state.GetLastDownloadTime(), u"");
    state.ClearLastUploadTime();
    EXPECT_EQ(state.GetLastUploadTime(), u"");

    state.SetUploadProgress({1, 2, 3, 4, 5}, {10, 20, 30, 40, 50}, 99);
    const TransferProgress upload = state.GetUploadProgress();
    EXPECT_EQ(upload.files, (TransferCounts{1, 2, 3, 4, 5}));
    EXPECT_EQ(upload.bytes, (TransferCounts{10, 20, 30, 40, 50}));
    EXPECT_EQ(upload.timeRemaining, 99);
    EXPECT_EQ(state.GetUploadFileCounts(), (TransferCounts{1, 2, 3, 4, 5}));
    EXPECT_EQ(state.GetDownloadFileCounts(), TransferCounts{});
}

// Writers and readers on several threads, as the pollers and the window
// thread use the record (run under the sanitizers, this finds races).
TEST(AgentState, ManyThreadsCopyInAndOut)
{
    RecordingNotifier notifier;
    AgentState state(notifier, [] { return std::u16string(u"09:30"); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&state, t] {
            for (int i = 0; i < 2000; ++i) {
                state.SetStatusName(t % 2 ? u"progress" : u"completed");
                state.SetStorageText(u"storage " + std::u16string(1, char16_t(u'0' + t)));
                state.SetSignedIn(i % 2 == 0);
                state.SetDownloadProgress({i, 0, 0, 0, 0}, {}, i);
                state.StampUploadCompleted();
                const std::u16string status = state.GetStatusName();
                ASSERT_TRUE(status == u"progress" || status == u"completed");
                ASSERT_EQ(state.GetStorageText().size(), 9u);
                const TransferProgress download = state.GetDownloadProgress();
                ASSERT_EQ(download.files.running, download.timeRemaining);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(state.GetLastUploadTime(), u"09:30");
}

}  // namespace
}  // namespace vantorel
