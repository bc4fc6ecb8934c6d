#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/debug_output.h"
#include "protocol/http_client.h"

namespace vantorel {
namespace {

// Answers every GET with fixed bytes and records what it was asked.
class CannedTransport final : public HttpTransport {
public:
    bool GetBytes(const std::u16string& url, std::string& reply) override {
        urls.push_back(url);
        reply += body;
        return opened;
    }
    bool PostForm(const std::u16string& host, const std::u16string& objectPath,
                  const std::u16string& postBody) override {
        posts.push_back(host + u"|" + objectPath + u"|" + postBody);
        return opened;
    }
    // The body in chunks of two bytes; a connection that ends early is a
    // normal end, as WinINet reports it.
    bool Download(const std::u16string& url, uint32_t, HttpDownloadSink& sink, std::u16string& why) override {
        urls.push_back(url);
        if (!sink.Head(200, length, why)) return false;
        for (size_t at = 0; at < body.size(); at += 2)
            if (!sink.Body(body.data() + at, std::min<size_t>(2, body.size() - at), why)) return false;
        return opened;
    }

    std::string body;
    int64_t length = -1;
    bool opened = true;
    std::vector<std::u16string> urls;
    std::vector<std::u16string> posts;
};

TEST(HttpGetText, DecodesUtf8AndWidensStrayBytes)
{
    CannedTransport transport;
    transport.body = "caf\xC3\xA9 \xE9t\xE9 \xF0\x9F\x98\x80";
    std::u16string text = u"kept:";
    EXPECT_TRUE(HttpGetText(u"http://127.0.0.1:9333/query?action=dldir", text, transport));
    EXPECT_EQ(text, u"kept:caf\u00e9 \u00e9t\u00e9 \U0001F600");
    ASSERT_EQ(transport.urls.size(), 1u);

    transport.body.clear();
    transport.opened = false;
    text.clear();
    EXPECT_FALSE(HttpGetText(u"http://x/", text, transport));
    EXPECT_EQ(text, u"");
    EXPECT_FALSE(HttpGetNoReply(u"http://x/", transport));
    transport.opened = true;
    transport.body = "whatever the service says";
    EXPECT_TRUE(HttpGetNoReply(u"http://x/", transport));
}

class Collect final : public HttpDownloadSink {
public:
    bool Head(int, int64_t, std::u16string&) override { return true; }
    bool Body(const char* data, size_t count, std::u16string&) override {
        bytes.append(data, count);
        return true;
    }
    std::string bytes;
};

TEST(HttpDownload, TakesABodyOnlyWholeAndAsLongAsDeclared)
{
    const struct {
        int64_t length;
        const char* body;
        bool opened, whole;
        std::u16string why;
        const char* received;
    } cases[] = {
        {4, "abcd", true, true, u"", "abcd"},
        {-1, "abc", true, true, u"", "abc"},
        {4, "abc", true, false, u"3 of 4 bytes", "abc"},
        {2, "abcd", true, false, u"more than the 2 bytes declared", "ab"},
        {4, "abcd", false, false, u"failed", "abcd"},
    };
    for (const auto& c : cases) {
        CannedTransport transport;
        transport.length = c.length;
        transport.body = c.body;
        transport.opened = c.opened;
        Collect sink;
        std::u16string why;
        EXPECT_EQ(HttpDownload(u"https://x/p", 1000, sink, why, transport), c.whole) << c.body;
        EXPECT_EQ(why, c.why) << c.body;
        EXPECT_EQ(sink.bytes, c.received) << c.body;
    }
}

TEST(HttpPostForm, WritesTheBodyToTheDebugOutputFirst)
{
    std::u16string debug;
    DebugSink previous = SetDebugSink([&](std::u16string_view text) { debug += text; });
    CannedTransport transport;
    EXPECT_TRUE(HttpPostForm(u"127.0.0.1", u"filetransfer", u"action=upload&x", transport));
    SetDebugSink(std::move(previous));
    EXPECT_EQ(debug, u"action=upload&x");
    ASSERT_EQ(transport.posts.size(), 1u);
    EXPECT_EQ(transport.posts[0], u"127.0.0.1|filetransfer|action=upload&x");
}

TEST(ToUtf8, MatchesThePlatformConverter)
{
    EXPECT_EQ(ToUtf8(u""), "");
    EXPECT_EQ(ToUtf8(u"a\u00e9\u20ac\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(ToUtf8(std::u16string(u"ab\0cd", 5)), "ab");
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD83D)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(ToUtf8(u"x" + std::u16string(1, char16_t(0xDE00))), "x\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(u"\u007f\u0080\u07ff\u0800\uffff"), "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
}

TEST(ReplyCollector, CapsAReplyAndRollsItBack)
{
    std::string reply = "earlier";
    ReplyCollector collector(reply);
    const std::string chunk(kHttpReadChunk, 'x');
    for (size_t sent = 0; sent < kHttpMaxReplyBytes; sent += chunk.size()) {
        ASSERT_TRUE(collector.Append(chunk.data(), chunk.size()));
    }
    EXPECT_EQ(reply.size(), 7 + kHttpMaxReplyBytes);  // exactly the cap is allowed
    EXPECT_FALSE(collector.Overflowed());
    EXPECT_FALSE(collector.Append("y", 1));
    EXPECT_TRUE(collector.Overflowed());
    EXPECT_EQ(reply, "earlier");
    EXPECT_FALSE(collector.Append("z", 1));
    EXPECT_EQ(reply, "earlier");
}

}  // namespace
}  // namespace vantorel
