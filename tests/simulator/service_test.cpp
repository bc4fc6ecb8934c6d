// The simulator as the agent sees it: the service's requests over HTTP, read
// with the agent's own readers.
#include <algorithm>
#include <atomic>
#include <thread>

#include "sim_test_support.h"
#include "simulator/control_params.h"

namespace vantorel::sim::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::optional<LoginStateIndex> LoginOf(const std::string& reply) {
    return FindLoginState(DecodeUtf8Lenient(reply));
}

bool StorageReadable(const std::string& reply, int64_t& used, int64_t& total) {
    used = total = 0;
    return ReadStorage(DecodeUtf8Lenient(reply), used, total);
}

class ServiceTest : public SimulatorTest {
protected:
    ServiceEvent Poll() const {
        ServiceEvent event;
        EXPECT_TRUE(ReadServiceEvent(DecodeUtf8Lenient(Fetch(ServiceRequest::Poll)), event));
        return event;
    }
};

TEST_F(ServiceTest, SignsInAndOutThroughTheIntermediateStatesAfterTheirDelays)
{
    options.initialLogin = LOGIN_LOGGED_OUT;
    options.settings.loginDelayMs = 300;
    Start();
    int64_t used = 0;
    int64_t total = 0;
    EXPECT_EQ(LoginOf(Fetch(ServiceRequest::LoginState)), LOGIN_LOGGED_OUT);
    EXPECT_EQ(Fetch(ServiceRequest::LoginStateOfUser).find("logged_in"), std::string::npos);
    EXPECT_FALSE(StorageReadable(Fetch(ServiceRequest::Storage), used, total));  // no figures signed out

    const Clock::time_point ordered = Clock::now();
    Fetch(ServiceRequest::Login);
    const std::optional<LoginStateIndex> early = LoginOf(Fetch(ServiceRequest::LoginState));
    if (Clock::now() - ordered < milliseconds(300)) {
        EXPECT_EQ(early, LOGIN_LOGGING_IN);
    }
    ASSERT_TRUE(WaitUntil([&] { return LoginOf(Fetch(ServiceRequest::LoginState)) == LOGIN_LOGGED_IN; }));
    EXPECT_GE(Clock::now() - ordered, milliseconds(300));
    EXPECT_NE(Fetch(ServiceRequest::LoginStateOfUser).find("logged_in"), std::string::npos);
    ASSERT_TRUE(StorageReadable(Fetch(ServiceRequest::Storage), used, total));
    EXPECT_EQ(used, options.settings.usedSpace);
    EXPECT_EQ(total, options.settings.totalSpace);

    Fetch(ServiceRequest::Logout);
    EXPECT_TRUE(WaitUntil([&] { return LoginOf(Fetch(ServiceRequest::LoginState)) == LOGIN_LOGGED_OUT; }));
    EXPECT_EQ(Control("/sim/login?state=logging_in").status, 200);
    EXPECT_EQ(LoginOf(Fetch(ServiceRequest::LoginState)), LOGIN_LOGGING_IN);
}

TEST_F(ServiceTest, DownloadFolderIsARealFolderGivenInWindowsFormOnTheFirstLine)
{
    options.downloadFolderName = "T\xC3\xA9l\xC3\xA9\x63harg\xE2\x82\xAC";  // Téléchargements-like, non-ASCII
    Start();
    const std::u16string reply = DecodeUtf8Lenient(Fetch(ServiceRequest::DownloadDirectory));
    const std::filesystem::path folder = simulator->DownloadFolder();
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    std::string windows = "Z:" + folder.string();
    std::replace(windows.begin(), windows.end(), '/', '\\');
    EXPECT_TRUE(FirstReplyLine(reply) == DecodeUtf8Lenient(windows));
    EXPECT_NE(reply.find(DecodeUtf8Lenient("\r\n" + folder.string())), std::u16string::npos);
}

TEST_F(ServiceTest, PollAnswersTimeOutOrOneQueuedEventEachInOrder)
{
    Start();
    EXPECT_TRUE(Poll().type == kEventTypeTimeOut);

    EXPECT_EQ(Control("/sim/event?type=UPLOAD&event=COMPLETED&title=Done&message=two%0Alines%20%22q%22").status, 200);
    EXPECT_EQ(Control("/sim/event?type=DOWNLOAD&event=PAUSED&message=second&owner=someone").status, 200);
    const std::string raw = std::string("{\"type\":\"UPLOAD\",\"message\":\"raw\0bytes\xFF\"", 39);
    EXPECT_EQ(Control("/sim/event", raw).status, 200);
    EXPECT_EQ(Control("/sim/event?event=LATE&message=late&after=200").status, 200);

    ServiceEvent first = Poll();
    EXPECT_TRUE(first.type == kEventTypeUpload);
    EXPECT_TRUE(first.event == kEventCompleted);
    EXPECT_TRUE(first.title == u"Done");
    EXPECT_TRUE(first.message == u"two\r\nlines \"q\"");
    EXPECT_TRUE(first.owner == DecodeUtf8Lenient(options.settings.username));
    ServiceEvent second = Poll();
    EXPECT_TRUE(second.message == u"second");
    EXPECT_TRUE(second.owner == u"someone");
    EXPECT_EQ(Fetch(ServiceRequest::Poll), raw);
    EXPECT_TRUE(Poll().message == u"late");  // waited for until due
    EXPECT_TRUE(Poll().type == kEventTypeTimeOut);
}

TEST_F(ServiceTest, APendingPollHoldsUpNoOtherRequest)
{
    options.settings.pollTimeoutMs = 20000;
    Start();
    std::atomic<bool> answered{false};
    std::string reply;
    std::thread poller([&] {
        reply = Fetch(ServiceRequest::Poll);
        answered = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return State().Member(u"polls_waiting").IntValue() == 1; }));
    int64_t used = 0;
    int64_t total = 0;
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(StorageReadable(Fetch(ServiceRequest::Storage), used, total));
    EXPECT_FALSE(answered);  // still held: it waits for an event
    Control("/sim/event?type=UPLOAD&event=SCHEDULED&message=release");
    poller.join();
    EXPECT_NE(reply.find("release"), std::string::npos);
}

TEST_F(ServiceTest, CommandsAreRecordedInOrderAndShutdownAsksTheProgramToEnd)
{
    Start();
    std::vector<std::string> sent;
    for (int i = 0; i < kServiceRequestCount; ++i) {
        const ServiceRequest request = static_cast<ServiceRequest>(i);
        if (!IsControlRequest(request) || request == ServiceRequest::Shutdown) continue;
        EXPECT_TRUE(HttpGetNoReply(Url(request)));
        sent.push_back(RequestName(request));
    }
    EXPECT_FALSE(simulator->WaitForShutdownRequest(milliseconds(0)));
    EXPECT_EQ(Fetch(ServiceRequest::Shutdown), "OK\n");
    EXPECT_TRUE(simulator->WaitForShutdownRequest(milliseconds(0)));
    sent.push_back("shutdown");

    JsonValue state = State();
    const JsonValue::ElementList* commands = state.Member(u"commands").Elements();
    ASSERT_NE(commands, nullptr);
    ASSERT_EQ(commands->size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        JsonValue command = (*commands)[i];
        EXPECT_EQ(Utf8Of(command, u"name"), sent[i]);
    }
}

TEST_F(ServiceTest, ForcedRepliesAnswerForTheirCountThenTheServiceAgain)
{
    Start();
    const std::string storage = "/sim/force?request=storage&status=500&body=%7Bbroken&times=2";
    EXPECT_EQ(Control(storage).status, 200);
    const std::string target = EncodeUtf8(ServiceTarget(ServiceRequest::Storage));
    for (int i = 0; i < 2; ++i) {
        httplib::Result forced = Client()->Get(target.c_str());
        ASSERT_TRUE(forced);
        EXPECT_EQ(forced->status, 500);
        EXPECT_EQ(forced->body, "{broken");
    }
    int64_t used = 0;
    int64_t total = 0;
    EXPECT_TRUE(StorageReadable(Fetch(ServiceRequest::Storage), used, total));

    const std::string bytes("\0\xFF\r\n{\"usedSpace\"", 17);
    EXPECT_EQ(Control("/sim/force?request=storage&content_type=application/json", bytes).status, 200);
    EXPECT_EQ(Fetch(ServiceRequest::Storage), bytes);
    EXPECT_EQ(Control("/sim/force?request=dldir&body=").status, 200);
    EXPECT_EQ(Fetch(ServiceRequest::DownloadDirectory), "");

    EXPECT_EQ(Control("/sim/force?target=*&status=503&body=down&times=always").status, 200);
    EXPECT_EQ(Control("/sim/force?target=/not/a/request&status=299&body=yes").status, 200);
    EXPECT_EQ(Client()->Get("/not/a/request")->status, 299);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Fetch(ServiceRequest::LoginState), "down");
    EXPECT_EQ(Control("/sim/force/clear").status, 200);
    EXPECT_EQ(LoginOf(Fetch(ServiceRequest::LoginState)), LOGIN_LOGGED_IN);

    for (const char* bad : {"/sim/force?request=nosuch", "/sim/force?status=500",
                            "/sim/force?request=poll&target=/poll", "/sim/force?request=poll&status=abc",
                            "/sim/force?request=poll&body_hex=zz", "/sim/force?request=poll&times=0"}) {
        SCOPED_TRACE(bad);
        httplib::Response refused = Control(bad);
        EXPECT_EQ(refused.status, 400);
        EXPECT_FALSE(refused.body.empty());
    }
}

TEST_F(ServiceTest, ForcedHugeSlowAndLateRepliesArriveWholeOrAreRefusedByTheAgentsCap)
{
    Start();
    Control("/sim/force?request=storage&size=100000&body=0123456789");
    const std::string huge = Fetch(ServiceRequest::Storage);
    ASSERT_EQ(huge.size(), 100000u);
    EXPECT_EQ(huge.substr(99990), "0123456789");

    Control("/sim/force?request=storage&size=" + std::to_string(kHttpMaxReplyBytes + 1));
    std::string refused;
    EXPECT_FALSE(HttpGetBytes(Url(ServiceRequest::Storage), refused));

    Control("/sim/force?request=loginstate&body_hex=6c6f676765645f6f7574&rate=40&delay=100");
    const Clock::time_point asked = Clock::now();
    EXPECT_EQ(Fetch(ServiceRequest::LoginState), "logged_out");
    EXPECT_GE(Clock::now() - asked, milliseconds(100 + 200));  // the delay, then 10 bytes at 40 a second
}

TEST_F(ServiceTest, AnEndlessReplyEndsWhenTheClientGivesUpOrTheSimulatorStops)
{
    Start();
    Control("/sim/force?request=poll&endless=1&body=event&times=2");
    const std::string target = EncodeUtf8(ServiceTarget(ServiceRequest::Poll));
    size_t received = 0;
    httplib::Result result = Client()->Get(target.c_str(), [&](const char*, size_t length) {
        received += length;
        return received < 1024 * 1024;  // gives up after a mebibyte
    });
    EXPECT_FALSE(result);
    EXPECT_GE(received, 1024u * 1024u);
    int64_t used = 0;
    int64_t total = 0;
    EXPECT_TRUE(StorageReadable(Fetch(ServiceRequest::Storage), used, total));

    std::atomic<size_t> streamed{0};
    std::thread reader([&] {
        Client()->Get(target.c_str(), [&](const char*, size_t length) {
            streamed += length;
            return true;
        });
    });
    ASSERT_TRUE(WaitUntil([&] { return streamed > 0; }));
    simulator->Stop();  // must not wait for the endless reply
    reader.join();
}

TEST_F(ServiceTest, RequestLogKeepsEveryHeaderAndTheBodyBytesExactly)
{
    Start();
    Fetch(ServiceRequest::Storage);
    std::string body;
    for (int byte = 0; byte < 256; ++byte) body.push_back(static_cast<char>(byte));
    const std::string target = EncodeUtf8(ServiceTarget(ServiceRequest::FileTransfer));
    httplib::Result posted = Client()->Post(target.c_str(), httplib::Headers{{"X-Test", "a  value;x=1"}}, body,
                                            "application/octet-stream");
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->status, 400);
    Control("/sim/state");  // control requests stay out of the log

    JsonValue log = ParseJson(Control("/sim/log").body);
    const JsonValue::ElementList* entries = log.Elements();
    ASSERT_NE(entries, nullptr);
    ASSERT_EQ(entries->size(), 2u);
    JsonValue get = (*entries)[0];
    JsonValue post = (*entries)[1];
    EXPECT_EQ(Utf8Of(get, u"request"), "storage");
    EXPECT_EQ(Utf8Of(get, u"target"), EncodeUtf8(ServiceTarget(ServiceRequest::Storage)));
    EXPECT_EQ(Utf8Of(get, u"method"), "GET");
    EXPECT_EQ(get.Member(u"status").IntValue(), 200);
    std::vector<std::pair<std::string, std::string>> headers;
    for (const JsonValue& header : *get.Member(u"headers").Elements()) {
        headers.emplace_back(EncodeUtf8((*header.Elements())[0].Text()), EncodeUtf8((*header.Elements())[1].Text()));
    }
    EXPECT_NE(std::find(headers.begin(), headers.end(), std::make_pair(std::string("User-Agent"), EncodeUtf8(kHttpUserAgent))),
              headers.end());
    EXPECT_NE(std::find(headers.begin(), headers.end(),
                        std::make_pair(std::string("Content-Type"), std::string("application/x-www-form-urlencoded"))),
              headers.end());
    for (const auto& header : headers) EXPECT_NE(header.first, "REMOTE_ADDR");

    EXPECT_EQ(Utf8Of(post, u"method"), "POST");
    EXPECT_EQ(Utf8Of(post, u"request"), "filetransfer");
    EXPECT_EQ(Utf8Of(post, u"body_hex"), EncodeHex(body));
    EXPECT_EQ(post.Member(u"body_size").IntValue(), 256);
    EXPECT_EQ(post.Member(u"status").IntValue(), 400);
    bool sawTestHeader = false;
    for (const JsonValue& header : *post.Member(u"headers").Elements()) {
        if ((*header.Elements())[0].Text() == u"X-Test") {
            sawTestHeader = (*header.Elements())[1].Text() == u"a  value;x=1";
        }
    }
    EXPECT_TRUE(sawTestHeader);
    EXPECT_LE(get.Member(u"time_ms").IntValue(), post.Member(u"time_ms").IntValue());

    const int64_t firstSeq = get.Member(u"seq").IntValue();
    JsonValue later = ParseJson(Control("/sim/log?since=" + std::to_string(firstSeq)).body);
    EXPECT_EQ(later.Elements()->size(), 1u);
}

TEST_F(ServiceTest, WaitAnswersOnceTheAwaitedRequestsHaveCome)
{
    Start();
    EXPECT_EQ(Control("/sim/wait?request=showabout&timeout=50").status, 408);
    std::thread sender([&] {
        std::this_thread::sleep_for(milliseconds(50));
        HttpGetNoReply(Url(ServiceRequest::ShowAbout));
        HttpGetNoReply(Url(ServiceRequest::ShowAbout));
    });
    httplib::Response waited = Control("/sim/wait?request=showabout&count=2&timeout=10000");
    sender.join();
    EXPECT_EQ(waited.status, 200);
    JsonValue entry = ParseJson(waited.body);
    EXPECT_EQ(Utf8Of(entry, u"request"), "showabout");
    EXPECT_EQ(Control("/sim/wait?request=bogus").status, 400);
}

TEST_F(ServiceTest, HostileRequestsGetADefinedReplyAndTheServiceGoesOn)
{
    options.maxBodyBytes = 1000;
    Start();
    auto client = Client();
    const std::string storage = EncodeUtf8(ServiceTarget(ServiceRequest::Storage));
    const std::string upload = EncodeUtf8(ServiceTarget(ServiceRequest::FileTransfer));
    struct Case {
        std::string method;
        std::string target;
        std::string body;
        int status;
    };
    const Case cases[] = {
        {"GET", "/nothing/here", "", 404},
        {"GET", storage + "&extra=1", "", 404},
        {"GET", "/%00%ff/..%2f..%2fetc", "", 404},
        {"GET", "/" + std::string(6000, 'a'), "", 404},
        {"POST", storage, "x", 405},
        {"DELETE", storage, "", 405},
        {"GET", upload, "", 405},
        {"POST", upload, std::string(1001, 'a'), 413},
        {"POST", upload, "", 400},
        {"POST", "/sim/event", std::string(1001, 'a'), 413},
        {"GET", "/sim/nothing", "", 404},
        {"GET", "/sim/config?poll_timeout=-5", "", 400},
        {"GET", "/sim/config?upload_rate=1e9", "", 400},
        {"GET", "/sim/login?state=bogus", "", 400},
        {"GET", "/sim/event?after=soon", "", 400},
        {"GET", "/sim/log?since=-1", "", 400},
        {"GET", "/sim/download?name=x&size=big", "", 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " " + c.target.substr(0, 80));
        httplib::Request request;
        request.method = c.method;
        request.path = c.target;
        request.body = c.body;
        if (!c.body.empty()) request.set_header("Content-Type", "application/octet-stream");
        httplib::Result result = client->send(request);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status);
        EXPECT_FALSE(result->body.empty());
    }
    int64_t used = 0;
    int64_t total = 0;
    EXPECT_TRUE(StorageReadable(Fetch(ServiceRequest::Storage), used, total));
}

TEST_F(ServiceTest, ResetBringsEverythingBackToTheStart)
{
    Start();
    Fetch(ServiceRequest::Logout);
    Fetch(ServiceRequest::ShowTour);
    Control("/sim/event?type=UPLOAD&event=COMPLETED&message=queued");
    Control("/sim/force?request=storage&status=500&times=always");
    Control("/sim/config?poll_timeout=5000&username=other");
    WriteFile(simulator->CloudFolder() / "old.txt", "old");

    EXPECT_EQ(Control("/sim/reset").status, 200);
    JsonValue state = State();
    EXPECT_EQ(Utf8Of(state, u"login"), "logged_in");
    EXPECT_EQ(state.Member(u"commands").Elements()->size(), 0u);
    EXPECT_EQ(state.Member(u"events_queued").IntValue(), 0);
    EXPECT_EQ(state.Member(u"forced").Elements()->size(), 0u);
    EXPECT_EQ(state.Member(u"requests").IntValue(), 0);
    EXPECT_EQ(Utf8Of(state.Member(u"settings"), u"username"), options.settings.username);
    EXPECT_EQ(state.Member(u"settings").GetInt64(u"poll_timeout"), options.settings.pollTimeoutMs);
    EXPECT_FALSE(std::filesystem::exists(simulator->CloudFolder() / "old.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(simulator->CloudFolder()));
    EXPECT_EQ(Control("/sim/log").body, "[]");
}

TEST_F(ServiceTest, AccessLogHasOneLinePerRequestWithStatusSizeAndUserAgent)
{
    Start();
    Fetch(ServiceRequest::TransferStatus);
    PostBody("not an upload body");
    simulator->Stop();
    const std::string log = ReadFile(options.logPath);
    EXPECT_NE(log.find("GET " + EncodeUtf8(ServiceTarget(ServiceRequest::TransferStatus)) + " 200 4 \"" +
                       EncodeUtf8(kHttpUserAgent) + "\"\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("upload rejected: body does not start with"), std::string::npos) << log;
    EXPECT_NE(log.find("POST /filetransfer 400 "), std::string::npos) << log;
}

}  // namespace
}  // namespace vantorel::sim::testing
