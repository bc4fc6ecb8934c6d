// Uploads of real files, and simulated downloads, as the agent follows them:
// progress counts, transfer status, poll events, the files in the cloud.
#include <sys/stat.h>

#include <algorithm>

#include "sim_test_support.h"

namespace vantorel::sim::testing {
namespace {

namespace fs = std::filesystem;

std::u16string WindowsForm(const fs::path& path) {
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return DecodeUtf8Lenient(text);
}

std::u16string LinuxForm(const fs::path& path) {
    return DecodeUtf8Lenient(path.string());
}

std::string Bytes(size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
    return bytes;
}

int64_t Sum(const TransferCounts& counts) {
    return counts.running + counts.finished + counts.paused + counts.errored + counts.pending;
}

std::vector<fs::path> FilesUnder(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path().lexically_relative(folder));
    }
    std::sort(files.begin(), files.end());
    return files;
}

class UploadTest : public SimulatorTest {
protected:
    struct Progress {
        TransferCounts files;
        TransferCounts bytes;
        int64_t timeRemaining = -1;
    };

    Progress Read(ServiceRequest request) const {
        Progress progress;
        const std::u16string reply = DecodeUtf8Lenient(Fetch(request));
        progress.files = ReadTransferCounts(reply, u"fileCounts", progress.timeRemaining);
        progress.bytes = ReadTransferCounts(reply, u"byteCounts", progress.timeRemaining);
        return progress;
    }

    std::string Status() const { return Fetch(ServiceRequest::TransferStatus); }

    // The queued events, up to the first time-out.
    std::vector<ServiceEvent> DrainEvents() const {
        std::vector<ServiceEvent> events;
        for (;;) {
            ServiceEvent event;
            EXPECT_TRUE(ReadServiceEvent(DecodeUtf8Lenient(Fetch(ServiceRequest::Poll)), event));
            if (event.type == kEventTypeTimeOut) return events;
            events.push_back(event);
        }
    }
};

TEST_F(UploadTest, CopiesFilesAndFoldersWhileCountsStatusAndEventsFollow)
{
    options.settings.uploadRate = 1;  // a byte a second, until the test speeds it up
    Start();
    TempFolder source;
    const std::vector<std::pair<fs::path, std::string>> files = {
        {"a.txt", Bytes(1000, 1)},
        {"caf\xC3\xA9 \xE2\x98\x95.txt", Bytes(30000, 2)},
        {"dir/c.txt", Bytes(5, 3)},
        {"dir/sub/b.bin", Bytes(150000, 4)},
    };
    int64_t total = 0;
    for (const auto& [name, bytes] : files) {
        WriteFile(source.path() / name, bytes);
        total += static_cast<int64_t>(bytes.size());
    }
    fs::create_directories(source.path() / "dir" / "empty");

    EXPECT_TRUE(HttpGetNoReply(Url(ServiceRequest::PauseAll)));  // new files wait paused
    const UploadPathList paths = {LinuxForm(source.path() / "a.txt"),
                                  WindowsForm(source.path() / files[1].first),
                                  WindowsForm(source.path() / "dir"),
                                  LinuxForm(source.path() / "missing.txt"),
                                  u"Q:\\unmapped.txt"};
    httplib::Result posted = PostUpload(paths);
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->status, 200);
    EXPECT_EQ(posted->body, "accepted 6 files\n");

    Progress paused = Read(ServiceRequest::UploadProgress);
    EXPECT_EQ(paused.files.paused, 6);
    EXPECT_EQ(paused.bytes.paused, total);
    EXPECT_EQ(Status(), "paused");

    EXPECT_TRUE(HttpGetNoReply(Url(ServiceRequest::ResumeAll)));
    ASSERT_TRUE(WaitUntil([&] { return Read(ServiceRequest::UploadProgress).files.running == 1; }));
    EXPECT_EQ(Status(), "progress");
    EXPECT_GT(Read(ServiceRequest::UploadProgress).timeRemaining, total / 2);

    Control("/sim/config?upload_rate=400000");
    int64_t lastFinished = 0;
    Progress done;
    ASSERT_TRUE(WaitUntil([&] {
        done = Read(ServiceRequest::UploadProgress);
        // Every reply counts each file and each byte exactly once.
        EXPECT_EQ(Sum(done.files), 6);
        EXPECT_EQ(Sum(done.bytes), total);
        EXPECT_LE(done.files.running, 1);
        EXPECT_GE(done.bytes.finished, lastFinished);
        lastFinished = done.bytes.finished;
        return done.files.finished + done.files.errored == 6;
    }));
    EXPECT_EQ(done.files.finished, 4);
    EXPECT_EQ(done.files.errored, 2);
    EXPECT_EQ(done.bytes.finished, total);
    EXPECT_EQ(done.timeRemaining, 0);
    EXPECT_EQ(Status(), "completed");

    for (const auto& [name, bytes] : files) EXPECT_EQ(ReadFile(simulator->CloudFolder() / name), bytes) << name;
    EXPECT_EQ(FilesUnder(simulator->CloudFolder()).size(), files.size());  // nothing partial left
    EXPECT_TRUE(fs::is_directory(simulator->CloudFolder() / "dir" / "empty"));

    const std::vector<ServiceEvent> events = DrainEvents();
    ASSERT_EQ(events.size(), 5u);
    const std::u16string_view expected[] = {kEventScheduled, kEventResumed, kEventErrored, kEventErrored,
                                            kEventCompleted};
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_TRUE(events[i].type == kEventTypeUpload);
        EXPECT_TRUE(events[i].event == expected[i]) << i;
        EXPECT_FALSE(events[i].message.empty());
    }
    EXPECT_NE(events[2].message.find(u"missing.txt"), std::u16string::npos);
    EXPECT_NE(events[3].message.find(u"unmapped.txt"), std::u16string::npos);
    EXPECT_TRUE(events[4].message == u"4 files uploaded, 2 failed");

    int64_t used = 0;
    int64_t totalSpace = 0;
    ASSERT_TRUE(ReadStorage(DecodeUtf8Lenient(Fetch(ServiceRequest::Storage)), used, totalSpace));
    EXPECT_EQ(used, options.settings.usedSpace + total);
}

TEST_F(UploadTest, PauseHoldsTheFileInTransferResumeGoesOnAndCancelDropsIt)
{
    options.settings.uploadRate = 2000;
    Start();
    TempFolder source;
    WriteFile(source.path() / "slow.bin", Bytes(200000, 5));
    ASSERT_TRUE(PostUpload({LinuxForm(source.path() / "slow.bin")}));
    ASSERT_TRUE(WaitUntil([&] { return Read(ServiceRequest::UploadProgress).bytes.finished > 0; }));

    Fetch(ServiceRequest::PauseAll);
    EXPECT_EQ(Status(), "paused");
    const Progress held = Read(ServiceRequest::UploadProgress);
    EXPECT_EQ(held.files.paused, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(Read(ServiceRequest::UploadProgress).bytes.finished, held.bytes.finished);

    Fetch(ServiceRequest::ResumeAll);
    EXPECT_EQ(Status(), "progress");
    EXPECT_TRUE(WaitUntil(
        [&] { return Read(ServiceRequest::UploadProgress).bytes.finished > held.bytes.finished; }));

    Fetch(ServiceRequest::CancelAll);
    EXPECT_EQ(Status(), "idle");
    EXPECT_EQ(Sum(Read(ServiceRequest::UploadProgress).files), 0);
    EXPECT_TRUE(WaitUntil([&] { return FilesUnder(simulator->CloudFolder()).empty(); }));

    const std::vector<ServiceEvent> events = DrainEvents();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_TRUE(events[0].event == kEventScheduled);
    EXPECT_TRUE(events[1].event == kEventPaused);
    EXPECT_TRUE(events[2].event == kEventResumed);
    EXPECT_TRUE(events[3].event == kEventCancelled);
}

TEST_F(UploadTest, MalformedBodiesGet400AndOddPathsFailAloneWithoutHanging)
{
    Start();
    const std::string prefix = EncodeUtf8(kUploadBodyPrefix);
    for (const std::string& body : {std::string(), prefix, prefix + "]", prefix + "\"C:\\x\"]",
                                    prefix + "\"a&b\"]", prefix + "\"\xC3\"]", std::string(100000, '[')}) {
        httplib::Result result = PostBody(body);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 400);
        EXPECT_EQ(result->body.rfind("malformed upload body: ", 0), 0u) << result->body;
    }
    JsonValue state = State();
    EXPECT_EQ(state.Member(u"tasks").Elements()->size(), 0u);
    EXPECT_EQ(state.Member(u"events_queued").IntValue(), 0);

    TempFolder source;
    const fs::path fifo = source.path() / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(PostUpload({LinuxForm(fifo), u"/", u"C:\\no drive", u"\\\\server\\share\\f", u"relative.txt"}));
    Progress failed;
    ASSERT_TRUE(WaitUntil([&] {
        failed = Read(ServiceRequest::UploadProgress);
        return failed.files.errored == 5;
    }));
    EXPECT_EQ(Sum(failed.files), 5);
    EXPECT_EQ(Status(), "completed");
    EXPECT_TRUE(FilesUnder(simulator->CloudFolder()).empty());
}

TEST_F(UploadTest, AFinishedBatchIsHeldForItsTimeAndTheNextBatchCountsAlone)
{
    options.settings.completedHoldMs = 200;
    Start();
    TempFolder source;
    WriteFile(source.path() / "one.txt", "1");
    WriteFile(source.path() / "two.txt", "22");
    ASSERT_TRUE(PostUpload({LinuxForm(source.path() / "one.txt")}));
    ASSERT_TRUE(WaitUntil([&] { return Status() == "completed"; }));
    ASSERT_TRUE(WaitUntil([&] { return Status() == "idle"; }));
    EXPECT_EQ(Sum(Read(ServiceRequest::UploadProgress).files), 0);

    Control("/sim/config?completed_hold=-1");
    ASSERT_TRUE(PostUpload({LinuxForm(source.path() / "one.txt"), LinuxForm(source.path() / "two.txt")}));
    ASSERT_TRUE(WaitUntil([&] { return Status() == "completed"; }));
    EXPECT_EQ(Read(ServiceRequest::UploadProgress).files.finished, 2);
    ASSERT_TRUE(PostUpload({LinuxForm(source.path() / "two.txt")}));
    ASSERT_TRUE(WaitUntil([&] { return Status() == "completed"; }));
    const Progress last = Read(ServiceRequest::UploadProgress);
    EXPECT_EQ(last.files.finished, 1);
    EXPECT_EQ(last.bytes.finished, 2);
}

TEST_F(UploadTest, SimulatedDownloadsFillTheDownloadFolderAndReportAsDownloads)
{
    Start();
    Fetch(ServiceRequest::PauseAll);  // both in one batch, however fast the first one goes
    EXPECT_EQ(Control("/sim/download?name=report%20%C3%A9.bin&size=3000").status, 200);
    EXPECT_EQ(Control("/sim/download?name=..&size=10").status, 200);
    Fetch(ServiceRequest::ResumeAll);
    ASSERT_TRUE(WaitUntil([&] {
        const Progress progress = Read(ServiceRequest::DownloadProgress);
        return progress.files.finished == 1 && progress.files.errored == 1;
    }));
    EXPECT_EQ(fs::file_size(simulator->DownloadFolder() / "report \xC3\xA9.bin"), 3000u);
    EXPECT_EQ(Sum(Read(ServiceRequest::UploadProgress).files), 0);
    const std::vector<ServiceEvent> events = DrainEvents();
    ASSERT_EQ(events.size(), 5u);
    for (const ServiceEvent& event : events) EXPECT_TRUE(event.type == kEventTypeDownload);
    EXPECT_TRUE(events[3].event == kEventErrored);
    EXPECT_TRUE(events[4].event == kEventCompleted);
    EXPECT_TRUE(events[4].message == u"1 file downloaded, 1 failed");
}

}  // namespace
}  // namespace vantorel::sim::testing
