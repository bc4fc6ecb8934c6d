#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "protocol/json_value.h"
#include "protocol/json_writer.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

std::string Written(const JsonValue& value, uint32_t flags, const WriteFormat* format = nullptr)
{
    std::u16string out = u"stale";
    return EncodeUtf8(Write(value, out, flags, format));
}

JsonValue Parsed(std::u16string_view text)
{
    JsonValue value;
    EXPECT_TRUE(value.Parse(text));
    return value;
}

TEST(JsonWrite, WritesScalars)
{
    JsonValue v;
    EXPECT_EQ(Written(v, 0), "null");
    v.MakeUndefined();
    EXPECT_EQ(Written(v, 0), "");
    v.SetBool(true);
    EXPECT_EQ(Written(v, 0), "true");
    v.SetBool(false);
    EXPECT_EQ(Written(v, 0), "false");
    v.SetInteger(-5);
    EXPECT_EQ(Written(v, 0), "-5");
    v.SetInteger(std::numeric_limits<int64_t>::min());
    EXPECT_EQ(Written(v, 0), "-9223372036854775808");
    v.SetReal(2.5);
    EXPECT_EQ(Written(v, 0), "2.500000");
    EXPECT_EQ(Written(Parsed(u"[0.1]").Elements()->front(), 0), "0.100000");
    EXPECT_EQ(Written(Parsed(u"[1234.567891]").Elements()->front(), 0), "1234.567871");
    EXPECT_EQ(Written(Parsed(u"[-0.0]").Elements()->front(), 0), "-0.000000");
    EXPECT_EQ(Written(Parsed(u"[1e400]").Elements()->front(), 0), "inf");
}

TEST(JsonWrite, FormatsRealsWithTheFormatStateWithoutTruncating)
{
    JsonValue v;
    v.SetReal(-1.7976931348623157e308);
    const std::string huge = Written(v, 0);
    EXPECT_EQ(huge.size(), 1u + 309u + 1u + 6u);  // every integer digit, no cut
    EXPECT_EQ(huge.substr(0, 8), "-1797693");
    EXPECT_EQ(huge.substr(huge.size() - 7), ".000000");

    v.SetReal(2.5);
    WriteFormat format;
    format.precision = 2;
    EXPECT_EQ(Written(v, 0, &format), "2.50");
    format.precision = 0;
    EXPECT_EQ(Written(v, 0, &format), "2");
    format.precision = -1;  // "%f" without a precision argument
    EXPECT_EQ(Written(v, 0, &format), "2.500000");
    format.precision = 3;
    format.numberFormat = u"%.*e";
    EXPECT_EQ(Written(v, 0, &format), "2.500e+00");
    format.numberFormat = u"%.*G";
    v.SetReal(-1e-20);
    EXPECT_EQ(Written(v, 0, &format), "-1E-20");
    format.numberFormat = u"%.1f%%";
    EXPECT_EQ(Written(v, 0, &format), "-0.0%");
    format.numberFormat = u"%s %n";  // not a real format: the default is used
    EXPECT_EQ(Written(v, 0, &format), "-0.000");
    format.precision = 1200;  // past the exact digits only zeros follow
    format.numberFormat = u"%.*f";
    v.SetReal(0.5);
    EXPECT_EQ(Written(v, 0, &format), "0.5" + std::string(1199, '0'));
}

TEST(JsonWrite, QuotesAndEscapesTextsAsTheFlagsAsk)
{
    struct Case {
        std::u16string_view text;
        uint32_t flags;
        bool name;
        const char* expected;
    };
    const Case cases[] = {
        {u"a\"b", 0, false, "\"a\\\"b\""},
        {u"a\"b", WriteSingleQuotes, false, "'a\"b'"},
        {u"it's", WriteSingleQuotes, false, "\"it's\""},
        {u"", 0, false, "\"\""},
        {u"", WriteSingleQuotes, false, "''"},
        {u"", WriteBareNames, true, "\"\""},
        {u"a\nb", 0, false, "\"a\\nb\""},
        {u"a\nb", WriteMinimalEscapes, false, "\"a\nb\""},
        {u"\b\f\r\t\\", 0, false, "\"\\b\\f\\r\\t\\\\\""},
        {u"\b\\\"", WriteMinimalEscapes, false, "\"\b\\\\\\\"\""},
        {u"\v\x01\x7f", 0, false, "\"\v\x01\x7f\""},
        {u"abc", WriteBareNames, true, "abc"},
        {u"abc", WriteBareNames, false, "\"abc\""},
        {u"abc", 0, true, "\"abc\""},
        {u"a b", WriteBareNames, true, "\"a b\""},
        {u"a b", WriteBareNames | WriteSingleQuotes, true, "'a b'"},
        {u"null", WriteBareNames, true, "\"null\""},
        {u"true", WriteBareNames | WriteSingleQuotes, true, "'true'"},
        {u"it's", WriteBareNames | WriteSingleQuotes, true, "\"it's\""},
        {u"a\"b", WriteBareNames, true, "\"a\\\"b\""},
        {u"a\\b", WriteBareNames, true, "a\\\\b"},
        {u"caf\u00e9", 0, false, "\"caf\xC3\xA9\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        std::u16string out = u"stale";
        EXPECT_EQ(EncodeUtf8(QuoteText(out, c.text, c.flags, c.name)), c.expected);
    }
}

TEST(JsonWrite, KeepsInsertionOrderUnlessAskedForKeyOrder)
{
    JsonValue object = Parsed(u"{\"b\":1,\"a\":2}");
    EXPECT_EQ(Written(object, 0), "{\"b\":1,\"a\":2}");
    EXPECT_EQ(Written(object, WriteKeyOrder), "{\"a\":2,\"b\":1}");
    object.Member(u"c").SetInteger(3);
    object.Member(u"a");  // a later mention does not move a member
    EXPECT_EQ(Written(object, 0), "{\"b\":1,\"a\":2,\"c\":3}");
    // A lookup of a missing member leaves no trace in the text.
    JsonValue single = Parsed(u"{\"a\":1}");
    single.Member(u"x");
    EXPECT_EQ(Written(single, 0), "{\"a\":1}");
}

TEST(JsonWrite, IndentsContainersOfTwoOrMoreEntries)
{
    const JsonValue object = Parsed(u"{\"b\":1,\"a\":2}");
    EXPECT_EQ(Written(object, WriteSpaceIndent), "{\r\n  \"b\": 1,\r\n  \"a\": 2\r\n}");
    EXPECT_EQ(Written(object, WriteTabIndent), "{\r\n\t\"b\": 1,\r\n\t\"a\": 2\r\n}");
    EXPECT_EQ(Written(object, WriteTabIndent | WriteSpaceIndent), "{\r\n  \"b\": 1,\r\n  \"a\": 2\r\n}");
    WriteFormat wide;
    wide.indentWidth = 4;
    EXPECT_EQ(Written(object, WriteSpaceIndent, &wide), "{\r\n    \"b\": 1,\r\n    \"a\": 2\r\n}");

    EXPECT_EQ(Written(Parsed(u"{\"a\":1}"), WriteSpaceIndent), "{\"a\":1}");
    EXPECT_EQ(Written(Parsed(u"{\"a\":1,\"b\":[1,2]}"), WriteSpaceIndent),
              "{\r\n  \"a\": 1,\r\n  \"b\": [\r\n    1,\r\n    2\r\n  ]\r\n}");
    // A one-entry container stays on one line and its children keep its level.
    EXPECT_EQ(Written(Parsed(u"{\"a\":{\"b\":1,\"c\":2}}"), WriteSpaceIndent),
              "{\"a\":{\r\n  \"b\": 1,\r\n  \"c\": 2\r\n}}");
    EXPECT_EQ(Written(Parsed(u"[[],{},[1]]"), WriteSpaceIndent), "[\r\n  [],\r\n  {},\r\n  [1]\r\n]");
    WriteFormat nested;
    nested.level = 1;
    EXPECT_EQ(Written(Parsed(u"[1,2]"), WriteSpaceIndent, &nested), "[\r\n    1,\r\n    2\r\n  ]");
}

TEST(JsonWrite, WritesTheEventReadersFlagsAsTheReaderExpects)
{
    // The poll-event reader writes each member with 0x1F and strips the quotes.
    JsonValue event = Parsed(u"{\"message\":\"a \\\"b\\\"\\nc\",\"n\":5,\"z\":null}");
    EXPECT_EQ(Written(event.Member(u"message"), 0x1F), "\"a \\\"b\\\"\\nc\"");
    EXPECT_EQ(Written(event.Member(u"n"), 0x1F), "5");
    EXPECT_EQ(Written(event.Member(u"z"), 0x1F), "null");
    EXPECT_EQ(Written(event.Member(u"owner"), 0x1F), "");
}

TEST(JsonWrite, WritesWhatItParsedBackToTheSameTree)
{
    const std::u16string_view texts[] = {
        u"{\"a\":[1,-2,{\"b\":\"x\\\"y\\\\z\"},[],{}],\"c\":true,\"d\":null,\"e\":\"\\t\"}",
        u"[\"\\u00e9\\uD83D\\uDE00\",\"line\\r\\nbreak\",5000000000]",
    };
    for (std::u16string_view text : texts) {
        const JsonValue original = Parsed(text);
        const std::string once = Written(original, 0);
        const JsonValue reparsed = Parsed(DecodeUtf8Lenient(once));
        EXPECT_EQ(Written(reparsed, 0), once);
    }
}

}  // namespace
}  // namespace vantorel
