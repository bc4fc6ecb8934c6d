#include <gtest/gtest.h>

#include <set>
#include <string>

#include "protocol/service_api.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

std::string U8(std::u16string_view text) { return EncodeUtf8(text); }

TEST(ServiceTable, EveryRequestHasOneUrlAndIsFoundByItsTarget)
{
    std::set<std::u16string_view> urls;
    std::set<std::u16string_view> names;
    for (int i = 0; i < kServiceRequestCount; ++i) {
        const auto request = static_cast<ServiceRequest>(i);
        const std::u16string_view url = ServiceUrl(request);
        EXPECT_TRUE(urls.insert(url).second) << U8(url);
        EXPECT_TRUE(names.insert(ServiceRequestName(request)).second) << U8(url);
        EXPECT_EQ(FindServiceRequestByName(ServiceRequestName(request)), request);
        const std::u16string_view target = ServiceTarget(request);
        ASSERT_EQ(target.front(), u'/') << U8(url);
        EXPECT_EQ(target.find_first_of(u" #\r\n"), std::u16string_view::npos) << U8(url);

        const size_t question = target.find(u'?');
        const std::u16string_view path = target.substr(0, question);
        const std::u16string_view query =
            question == std::u16string_view::npos ? std::u16string_view() : target.substr(question + 1);
        ASSERT_TRUE(FindServiceRequest(path, query).has_value()) << U8(url);
        EXPECT_EQ(*FindServiceRequest(path, query), request) << U8(url);
        if (request != ServiceRequest::FileTransfer) {
            EXPECT_EQ(std::u16string(url), u"http://127.0.0.1:9333" + std::u16string(target));
        }
    }
    EXPECT_EQ(ServiceUrl(ServiceRequest::FileTransfer), u"filetransfer");
    EXPECT_TRUE(IsControlRequest(ServiceRequest::ShowDragDrop));
    EXPECT_TRUE(IsControlRequest(ServiceRequest::LaunchFeedbackPage));
    EXPECT_FALSE(IsControlRequest(ServiceRequest::Poll));
    EXPECT_FALSE(IsControlRequest(ServiceRequest::FileTransfer));
}

TEST(ServiceTable, UnknownOrPartialTargetsAreNotRequests)
{
    EXPECT_FALSE(FindServiceRequest(u"/query", u"").has_value());
    EXPECT_FALSE(FindServiceRequest(u"/query", u"action=").has_value());
    EXPECT_FALSE(FindServiceRequest(u"/poll", u"x=1").has_value());
    EXPECT_FALSE(FindServiceRequest(u"/pol", u"").has_value());
    EXPECT_FALSE(FindServiceRequest(u"", u"").has_value());
    // The same parameters in another order are another request.
    EXPECT_FALSE(FindServiceRequest(u"/query", u"taskid=upload&action=progress").has_value());
}

TEST(ReadTransferCounts, ReadsBothGroupsOfAProgressReply)
{
    const std::u16string reply =
        uR"([{"fileCounts":{"RUNNING":2,"FINISHED":5,"PAUSED":0,"ERRORED":1,"PENDING":3},)"
        uR"("byteCounts":{"RUNNING":1000},"timeRemaining":42}])";
    int64_t remaining = -1;
    EXPECT_EQ(ReadTransferCounts(reply, u"fileCounts", remaining), (TransferCounts{2, 5, 0, 1, 3}));
    EXPECT_EQ(remaining, 42);
    remaining = -1;
    EXPECT_EQ(ReadTransferCounts(reply, u"byteCounts", remaining), (TransferCounts{1000, 0, 0, 0, 0}));
    EXPECT_EQ(remaining, 42);
}

TEST(ReadTransferCounts, OtherShapesReadAsZeroAndBadTextLeavesTimeAlone)
{
    int64_t remaining = 7;
    EXPECT_EQ(ReadTransferCounts(uR"({"fileCounts":{"RUNNING":2},"timeRemaining":9})", u"fileCounts", remaining),
              TransferCounts{});
    EXPECT_EQ(remaining, 0);

    remaining = 7;
    EXPECT_EQ(ReadTransferCounts(u"[]", u"fileCounts", remaining), TransferCounts{});
    EXPECT_EQ(remaining, 0);

    remaining = 7;
    EXPECT_EQ(ReadTransferCounts(uR"([{"fileCounts":{"RUNNING":1.5,"FINISHED":"3","PAUSED":true,)"
                                 uR"("ERRORED":null,"PENDING":-4}},5])",
                                 u"fileCounts", remaining),
              (TransferCounts{0, 0, 0, 0, -4}));

    remaining = 7;
    EXPECT_EQ(ReadTransferCounts(u"[{\"fileCounts\":", u"fileCounts", remaining), TransferCounts{});
    EXPECT_EQ(remaining, 7);
    EXPECT_EQ(ReadTransferCounts(u"", u"fileCounts", remaining), TransferCounts{});
    EXPECT_EQ(remaining, 7);
}

TEST(ReadStorage, NeedsParsedTextAndANonZeroTotal)
{
    int64_t used = 0, total = 0;
    EXPECT_TRUE(ReadStorage(uR"({"usedSpace":1073741824,"totalSpace":5368709120})", used, total));
    EXPECT_EQ(used, 1073741824);
    EXPECT_EQ(total, 5368709120);

    used = total = 0;
    EXPECT_FALSE(ReadStorage(uR"({"usedSpace":5})", used, total));
    EXPECT_EQ(used, 5);
    EXPECT_EQ(total, 0);

    EXPECT_FALSE(ReadStorage(uR"({"usedSpace":1.5E10,"totalSpace":2E10})", used, total));
    EXPECT_EQ(total, 0);

    used = total = 3;
    EXPECT_FALSE(ReadStorage(u"{\"usedSpace\":", used, total));
    EXPECT_EQ(used, 3);
    EXPECT_EQ(total, 3);
}

ServiceEvent ReadEvent(std::u16string_view reply, bool expected = true)
{
    ServiceEvent event;
    EXPECT_EQ(ReadServiceEvent(reply, event), expected) << U8(reply);
    return event;
}

TEST(ReadServiceEvent, StringsArriveDecoded)
{
    const ServiceEvent event =
        ReadEvent(uR"({"type":"UPLOAD","event":"COMPLETED","title":"Done","message":"a \"b\"","owner":"x"})");
    EXPECT_EQ(event.type, u"UPLOAD");
    EXPECT_EQ(event.event, u"COMPLETED");
    EXPECT_EQ(event.title, u"Done");
    EXPECT_EQ(event.message, u"a \"b\"");
    EXPECT_EQ(event.owner, u"x");
}

TEST(ReadServiceEvent, EscapedBackslashBeforeNIsAPathNotALineBreak)
{
    const ServiceEvent event = ReadEvent(uR"({"type":"UPLOAD","event":"ERRORED","message":"C:\\new\\notes.txt"})");
    EXPECT_EQ(event.message, uR"(C:\new\notes.txt)");
    EXPECT_EQ(event.event, u"ERRORED");
}

TEST(ReadServiceEvent, LineBreaksBecomeCarriageReturnLineFeed)
{
    EXPECT_EQ(ReadEvent(uR"({"message":"one\ntwo"})").message, u"one\r\ntwo");
    EXPECT_EQ(ReadEvent(uR"({"message":"one\r\ntwo\n"})").message, u"one\r\ntwo\r\n");
    EXPECT_EQ(ReadEvent(uR"({"message":"\n\n"})").message, u"\r\n\r\n");
    EXPECT_EQ(ReadEvent(uR"({"message":"tab\there \/ \u00e9 \ud83d\ude00"})").message,
              u"tab\there / \u00e9 \U0001F600");
}

TEST(ReadServiceEvent, OtherKindsAsWrittenMissingAsEmpty)
{
    const ServiceEvent event = ReadEvent(uR"({"type":"TIME_OUT","title":null,"message":42,"event":true})");
    EXPECT_EQ(event.type, u"TIME_OUT");
    EXPECT_EQ(event.title, u"null");
    EXPECT_EQ(event.message, u"42");
    EXPECT_EQ(event.event, u"true");
    EXPECT_EQ(event.owner, u"");

    // A reply of another shape reads as empty texts, not as a failure.
    const ServiceEvent fromArray = ReadEvent(uR"(["UPLOAD"])");
    EXPECT_EQ(fromArray.type, u"");
    EXPECT_EQ(fromArray.message, u"");
}

TEST(ReadServiceEvent, TextThatDoesNotParseLeavesTheRecordAlone)
{
    ServiceEvent event;
    event.owner = u"kept";
    EXPECT_FALSE(ReadServiceEvent(u"{\"type\":\"UPLOAD\"", event));
    EXPECT_FALSE(ReadServiceEvent(u"", event));
    EXPECT_FALSE(ReadServiceEvent(u"TIME_OUT", event));
    EXPECT_EQ(event.owner, u"kept");
}

TEST(ReplyTexts, LoginStateSearchOrderAndFirstLine)
{
    EXPECT_EQ(FindLoginState(u"logged_in logging_in"), LOGIN_LOGGING_IN);
    EXPECT_EQ(FindLoginState(u"state=logged_in\r\n"), LOGIN_LOGGED_IN);
    EXPECT_EQ(FindLoginState(u"logged_out"), LOGIN_LOGGED_OUT);
    EXPECT_EQ(FindLoginState(u"logging_out"), LOGIN_LOGGING_OUT);
    EXPECT_FALSE(FindLoginState(u"LOGGED_IN").has_value());
    EXPECT_FALSE(FindLoginState(u"").has_value());

    EXPECT_EQ(FirstReplyLine(u"C:\\Users\\a\\Vantorel\r\nmore"), u"C:\\Users\\a\\Vantorel");
    EXPECT_EQ(FirstReplyLine(u"D:\\x\ny\rz"), u"D:\\x");
    EXPECT_EQ(FirstReplyLine(u"D:\\x\ry\nz"), u"D:\\x");
    EXPECT_EQ(FirstReplyLine(u"no break"), u"no break");
    EXPECT_EQ(FirstReplyLine(u"\r\n"), u"");
}

}  // namespace
}  // namespace vantorel
