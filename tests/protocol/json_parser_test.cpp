#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "protocol/json_value.h"
#include "protocol/json_writer.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

std::string Narrow(std::u16string_view text)
{
    return EncodeUtf8(text);
}

struct ErrorCase {
    std::u16string_view input;
    std::u16string_view message;
    int32_t position;
    int32_t line;
    int32_t column;
};

TEST(JsonParse, ReportsEachErrorWithItsPositionLineAndColumn)
{
    const ErrorCase cases[] = {
        {u"", u"Empty string.", 0, 1, 1},
        {u"{\"a\":012}", u"Invalid string format.", 8, 1, 9},
        {u"{\"a\":0x1F}", u"Invalid string format.", 9, 1, 10},
        {u"{\"a\":tru}", u"Invalid end of string.", 8, 1, 9},
        {u"{\"a\":1}{", u"Invalid character after a matching close.", 7, 1, 8},
        {u"{\"a\":1}// c", u"Invalid character after a matching close.", 7, 1, 8},
        {u"{\"a\":1", u"Invalid format, matching closing character not found.", 6, 1, 7},
        {u"// only a comment", u"Invalid format, matching closing character not found.", 17, 1, 18},
        {u"{\r\n,}", u"Invalid separator at start of object.", 3, 2, 1},
        {u"{,}", u"Invalid separator at start of object.", 1, 1, 2},
        {u"{\"a\":1,,}", u"Invalid extra separator, expected object name.", 7, 1, 8},
        {u"{\"a\":1,}", u"Invalid end of object, expected another object name after separator.", 7, 1, 8},
        {u"{\"a\":\"x\",}", u"Invalid end of object, expected another object name after separator.", 9, 1, 10},
        {u"[,1]", u"Invalid separator at start of array.", 1, 1, 2},
        {u"[1,,,2]", u"Invalid extra separator, expected value.", 4, 1, 5},
        {u"[[1],,2]", u"Invalid extra separator, expected value.", 5, 1, 6},
        {u"[\"a\",,1]", u"Invalid extra separator, expected value.", 5, 1, 6},
        {u"[[1],]", u"Invalid end of array, expected another value after separator.", 5, 1, 6},
        {u"{\"a\":\"x\x01\"}", u"Invalid control character.", 7, 1, 8},
        {u"/* \x7f */[]", u"Invalid control character.", 3, 1, 4},
        {u"[\"a\\\"\x01\"]", u"Invalid control character.", 5, 1, 6},  // right after an escaped quote
        {u"{\"a\":\"\\\"\\\"\x02\"}", u"Invalid control character.", 10, 1, 11},
        {u"123", u"Invalid first character, expected array, object or comment.", 0, 1, 1},
        {u"  \"a\"", u"Invalid first character, expected array, object or comment.", 2, 1, 3},
        {u"/x", u"Invalid comment block.", 1, 1, 2},
        {u"{\"a\" 1}", u"Invalid end of object name, expected colon not found.", 5, 1, 6},
        {u"{a b:1}", u"Invalid end of object name, expected colon not found.", 3, 1, 4},
        {u"[1 2]", u"Invalid end of string.", 4, 1, 5},
        {u"{\"a\":\"\\x\"}", u"Invalid string format.", 8, 1, 9},
        {u"{\"a\":\"\\u12G4\"}", u"Invalid string format.", 12, 1, 13},
        {u"['a,b']", u"Invalid end of string.", 3, 1, 4},
        {u"['it\\'s']", u"Invalid string format.", 8, 1, 9},  // no escape for the apostrophe
        {u"{\"a\":x\"}", u"Invalid end of string.", 7, 1, 8},
        // An escape that never becomes valid keeps a quoted name open.
        {u"{\"a\\x\":1}", u"Invalid format, matching closing character not found.", 9, 1, 10},
        // Lines count only "\r\n" pairs; a lone line feed or carriage return does not.
        {u"\r\n\r\n[,", u"Invalid separator at start of array.", 5, 3, 2},
        {u"[\n\r,]", u"Invalid separator at start of array.", 3, 1, 4},
        {u"[1,\r\n\"a\"\r\n 0x]", u"Invalid string format.", 13, 3, 4},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(Narrow(c.input));
        JsonValue root;
        JsonParseError error;
        error.message = u"stale";
        EXPECT_FALSE(root.Parse(c.input, &error));
        EXPECT_EQ(Narrow(error.message), Narrow(c.message));
        EXPECT_EQ(error.position, c.position);
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.column, c.column);
        // Without an error record the result is the same.
        JsonValue again;
        EXPECT_FALSE(again.Parse(c.input));
    }
}

TEST(JsonParse, AcceptsTheForgivingForms)
{
    const std::u16string_view accepted[] = {
        u"   ",
        u"/* c */ {\"a\":1} \r\n",
        u"// line\n[]",
        u"/*/[]",  // "/*/" is a complete comment
        u"{a: 'x', /* note */ \"b\" : true}",
        u"{\"a\":\"x\" \"b\":\"y\"}",
        u"[\"a\" \"b\"]",
        u"[1,]",
        u"[1 , ]",
        u"[1,,2]",
        u"[1, /* c */ ]",
        u"{}",
        u"[]",
        u"{\"\":1}",
        u"[[[]], {}, {\"a\":[{}]}]",
        u"{\"a\":1\u3000}",  // Unicode white space ends a token like a space
    };
    for (std::u16string_view input : accepted) {
        SCOPED_TRACE(Narrow(input));
        JsonValue root;
        JsonParseError error;
        EXPECT_TRUE(root.Parse(input, &error)) << Narrow(error.message) << " at " << error.position;
        EXPECT_TRUE(error.message.empty());
    }
}

TEST(JsonParse, ReadsScalarsWithTheirSubtypes)
{
    JsonValue root;
    ASSERT_TRUE(root.Parse(u"[1, 2.5, -3, \"a\", true, false, null, 'b']"));
    const auto& e = *root.Elements();
    ASSERT_EQ(e.size(), 8u);
    EXPECT_EQ(e[0].Subtype(), VT_I1);
    EXPECT_EQ(e[0].IntValue(), 1);
    EXPECT_EQ(e[1].Subtype(), VT_R4);
    EXPECT_EQ(e[1].RealValue(), 2.5);
    EXPECT_EQ(e[2].Subtype(), VT_I1);
    EXPECT_EQ(e[2].IntValue(), -3);
    EXPECT_EQ(e[3].Kind(), JsonKind::String);
    EXPECT_EQ(e[3].Subtype(), VT_BSTR);
    EXPECT_TRUE(e[3].Text() == u"a");
    EXPECT_EQ(e[4].Subtype(), VT_BOOL);
    EXPECT_TRUE(e[4].BoolValue());
    EXPECT_EQ(e[5].Kind(), JsonKind::Bool);
    EXPECT_FALSE(e[5].BoolValue());
    EXPECT_EQ(e[6].Kind(), JsonKind::Null);
    EXPECT_EQ(e[6].Subtype(), VT_NULL);
    EXPECT_TRUE(e[7].Text() == u"b");
    EXPECT_EQ(root.Subtype(), VT_ARRAY);
}

TEST(JsonParse, GivesIntegersTheNarrowestSubtypeAndClampsAtTheLimits)
{
    struct Case {
        std::u16string_view token;
        uint16_t subtype;
        int64_t value;
    };
    const int64_t kMin = std::numeric_limits<int64_t>::min();
    const int64_t kMax = std::numeric_limits<int64_t>::max();
    const Case cases[] = {
        {u"0", VT_I1, 0},
        {u"-0", VT_I1, 0},
        {u"+5", VT_I1, 5},
        {u"127", VT_I1, 127},
        {u"-128", VT_I1, -128},
        {u"128", VT_I2, 128},
        {u"-129", VT_I2, -129},
        {u"300", VT_I2, 300},
        {u"32767", VT_I2, 32767},
        {u"32768", VT_I4, 32768},
        {u"-32769", VT_I4, -32769},
        {u"70000", VT_I4, 70000},
        {u"2147483647", VT_I4, 2147483647},
        {u"-2147483648", VT_I4, -2147483647 - 1},
        {u"2147483648", VT_I8, 2147483648},
        {u"5000000000", VT_I8, 5000000000},
        {u"9223372036854775807", VT_I8, kMax},
        {u"-9223372036854775808", VT_I8, kMin},
        {u"9223372036854775808", VT_I8, kMax},
        {u"99999999999999999999", VT_I8, kMax},
        {u"-99999999999999999999", VT_I8, kMin},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.token));
        std::u16string text = u"{\"a\":";
        text.append(c.token).append(u"}");
        JsonValue root;
        ASSERT_TRUE(root.Parse(text));
        EXPECT_EQ(root.Member(u"a").Subtype(), c.subtype);
        EXPECT_EQ(root.Member(u"a").IntValue(), c.value);
        EXPECT_EQ(root.GetInt64(u"a"), c.value);
    }
}

TEST(JsonParse, RoundsRealsInTheFloatRangeToSinglePrecision)
{
    struct Case {
        std::u16string_view token;
        uint16_t subtype;
        double value;
    };
    const double kInf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {u"0.1", VT_R4, static_cast<double>(0.1f)},
        {u"-0.1", VT_R8, -0.1},
        {u"2.5e0", VT_R4, 2.5},
        {u"1.", VT_R4, 1.0},
        {u".5", VT_R4, 0.5},
        {u"+1.5", VT_R4, 1.5},
        {u"1E2", VT_R4, 100.0},
        {u"0.0", VT_R8, 0.0},
        {u"1234.567891", VT_R4, static_cast<double>(1234.567891f)},
        {u"3.4028234663852886e+38", VT_R4, 3.4028234663852886e+38},
        {u"3.5e38", VT_R8, 3.5e38},
        {u"1.1754943508222875e-38", VT_R4, 1.1754943508222875e-38},
        {u"1e-39", VT_R8, 1e-39},
        {u"1e400", VT_R8, kInf},
        {u"-1e400", VT_R8, -kInf},
        {u"1e-400", VT_R8, 0.0},
        // Correct rounding of hard cases, the same on every platform.
        {u"2.2250738585072011e-308", VT_R8, 2.2250738585072011e-308},
        {u"1.7976931348623157e308", VT_R8, 1.7976931348623157e308},
        {u"4.9e-324", VT_R8, 4.9e-324},
        {u"-9007199254740993.0", VT_R8, -9007199254740992.0},
        {u"-1e23", VT_R8, -1e23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.token));
        std::u16string text = u"[";
        text.append(c.token).append(u"]");
        JsonValue root;
        ASSERT_TRUE(root.Parse(text));
        const JsonValue& v = root.Elements()->at(0);
        EXPECT_EQ(v.Kind(), JsonKind::Number);
        EXPECT_EQ(v.Subtype(), c.subtype);
        EXPECT_EQ(v.RealValue(), c.value);
        EXPECT_EQ(std::signbit(v.RealValue()), std::signbit(c.value));
    }
}

TEST(JsonParse, RejectsMalformedNumbersAsUnfinishedTokens)
{
    // Tokens that the number conversion does not consume whole.
    const std::u16string_view tokens[] = {u"1e", u".", u"-", u"+", u"1.5.2", u"0x1.8p1", u"1-2", u"inf",
                                          u"NaN", u"1e+", u"--1", u"١"};
    for (std::u16string_view token : tokens) {
        SCOPED_TRACE(Narrow(token));
        std::u16string text = u"[";
        text.append(token).append(u"]");
        JsonValue root;
        JsonParseError error;
        EXPECT_FALSE(root.Parse(text, &error));
        EXPECT_TRUE(error.message == u"Invalid end of string.") << Narrow(error.message);
    }
}

TEST(JsonParse, DecodesEveryEscapeInValuesAndNames)
{
    JsonValue root;
    ASSERT_TRUE(root.Parse(u"{\"a\":\"x\\\"y\", \"p\":\"C:\\\\dir\", \"s\":\"a\\/b\", "
                           u"\"c\":\"\\b\\f\\n\\r\\t\", \"u\":\"\\u0041\\u00e9\\uD83D\\uDE00\", "
                           u"\"n\\u0041\\\"\":1, 'q':'a\\\"b'}"));
    EXPECT_TRUE(root.Member(u"a").Text() == u"x\"y");
    EXPECT_TRUE(root.Member(u"p").Text() == u"C:\\dir");
    EXPECT_TRUE(root.Member(u"s").Text() == u"a/b");
    EXPECT_TRUE(root.Member(u"c").Text() == u"\b\f\n\r\t");
    EXPECT_TRUE(root.Member(u"u").Text() == u"A\u00e9\U0001F600");
    EXPECT_EQ(root.Member(u"nA\"").IntValue(), 1);
    EXPECT_TRUE(root.Member(u"q").Text() == u"a\"b");
    // A path with an escaped backslash before "n" stays a path.
    ASSERT_TRUE(root.Parse(u"{\"path\":\"C:\\\\new\"}"));
    EXPECT_TRUE(root.Member(u"path").Text() == u"C:\\new");
}

TEST(JsonParse, KeepsRawLineBreaksAndTabsInsideStrings)
{
    JsonValue root;
    ASSERT_TRUE(root.Parse(u"[\"a\tb\r\nc\"]"));
    EXPECT_TRUE(root.Elements()->at(0).Text() == u"a\tb\r\nc");
}

TEST(JsonParse, AssignsRepeatedNamesToOneMember)
{
    JsonValue root;
    ASSERT_TRUE(root.Parse(u"{\"a\":1,\"b\":2,\"a\":3}"));
    EXPECT_EQ(root.Members()->size(), 2u);
    EXPECT_EQ(root.GetInt64(u"a"), 3);
}

TEST(JsonParse, NestsContainersInObjectsAndArrays)
{
    JsonValue root;
    ASSERT_TRUE(root.Parse(u"[{\"fileCounts\":{\"RUNNING\":2},\"list\":[1,[2,{\"x\":\"y\"}]]}, []]"));
    JsonValue first;
    ASSERT_TRUE(root.FirstElement(first));
    EXPECT_EQ(first.Member(u"fileCounts").GetInt64(u"RUNNING"), 2);
    const auto& list = *first.Member(u"list").Elements();
    ASSERT_EQ(list.size(), 2u);
    const auto& inner = *list[1].Elements();
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(inner[0].IntValue(), 2);
    JsonValue object = inner[1];
    EXPECT_TRUE(object.Member(u"x").Text() == u"y");
    EXPECT_EQ(root.Elements()->at(1).Kind(), JsonKind::Array);
}

TEST(JsonParse, ClearsTheRootWhenTheTextEndsInsideAContainer)
{
    JsonValue root;
    EXPECT_FALSE(root.Parse(u"{\"a\":[1,2"));
    EXPECT_EQ(root.Kind(), JsonKind::Null);
    // A new parse starts from nothing.
    ASSERT_TRUE(root.Parse(u"[1]"));
    ASSERT_TRUE(root.Parse(u"{\"b\":2}"));
    EXPECT_EQ(root.Members()->size(), 1u);
    ASSERT_TRUE(root.Parse(u"  "));
    EXPECT_EQ(root.Kind(), JsonKind::Null);
}

// Replaces each "@" of the template with the comment.
std::u16string WithComment(std::u16string_view pattern, std::u16string_view comment)
{
    std::u16string text;
    for (char16_t c : pattern) {
        if (c == u'@')
            text += comment;
        else
            text += c;
    }
    return text;
}

TEST(JsonParse, GoesOnAfterACommentWhereItWasWhenTheCommentOpened)
{
    // "@" marks each place where a frame opens a comment; the comment must
    // change nothing, accepted or refused alike.
    struct CommentCase {
        std::u16string_view pattern;
        std::u16string_view written;  // compact output; empty: refused
        std::u16string_view message;
        size_t errorWithoutComment;   // the error's position in the text without the comment
    };
    const CommentCase cases[] = {
        {u"@[1]", u"[1]", u"", 0},
        {u"{@\"a\":1}", u"{\"a\":1}", u"", 0},                       // expect name (0)
        {u"{\"a\":1,@\"b\":2}", u"{\"a\":1,\"b\":2}", u"", 0},        // after separator (5)
        {u"{\"a\"@:\"x\"}", u"{\"a\":\"x\"}", u"", 0},                // after a quoted name (8)
        {u"{a @:1}", u"{\"a\":1}", u"", 0},                           // after a bare name and a blank (8)
        {u"{\"a\":@1}", u"{\"a\":1}", u"", 0},                         // before a value (10)
        {u"{\"a\":@[1]}", u"{\"a\":[1]}", u"", 0},
        {u"{\"a\":\"x\"@}", u"{\"a\":\"x\"}", u"", 0},                // after a quoted value (0)
        {u"{\"a\":{}@,\"b\":2}", u"{\"a\":{},\"b\":2}", u"", 0},      // after a nested container (0)
        {u"[@1]", u"[1]", u"", 0},                                   // expect value (0)
        {u"[1,@2]", u"[1,2]", u"", 0},                               // after separator (10)
        {u"[[1]@,[2]]", u"[[1],[2]]", u"", 0},
        {u"[\"a\"@]", u"[\"a\"]", u"", 0},
        {u"{\"a\":1,@}", u"", u"Invalid end of object, expected another object name after separator.", 7},
        {u"[[1],@]", u"", u"Invalid end of array, expected another value after separator.", 5},
        {u"[[1],@,2]", u"", u"Invalid extra separator, expected value.", 5},
        {u"{\"a\":1,@,}", u"", u"Invalid extra separator, expected object name.", 7},
        {u"{\"a\"@1}", u"", u"Invalid end of object name, expected colon not found.", 4},
        {u"{\"a\"@b:1}", u"", u"Invalid end of object name, expected colon not found.", 4},
    };
    const std::u16string_view comments[] = {u"/*c*/", u"// c\n", u"// c\r", u"/*/"};
    for (const CommentCase& c : cases) {
        for (std::u16string_view comment : comments) {
            const std::u16string input = WithComment(c.pattern, comment);
            SCOPED_TRACE(Narrow(input));
            JsonValue root;
            JsonParseError error;
            const bool parsed = root.Parse(input, &error);
            if (c.written.empty()) {
                EXPECT_FALSE(parsed);
                EXPECT_EQ(Narrow(error.message), Narrow(c.message));
                EXPECT_EQ(error.position, static_cast<int32_t>(c.errorWithoutComment + comment.size()));
                continue;
            }
            EXPECT_TRUE(parsed) << Narrow(error.message) << " at " << error.position;
            std::u16string out;
            EXPECT_EQ(Narrow(Write(root, out, 0)), Narrow(c.written));
        }
    }
}

TEST(JsonParse, TakesACommentGluedToABareNameAsTheNamesEnd)
{
    // Not a form the service sends; all it must do is end the name cleanly.
    JsonValue root;
    std::u16string out;
    ASSERT_TRUE(root.Parse(u"{a/*c*/:1}"));
    EXPECT_EQ(Narrow(Write(root, out, 0)), "{\"a\":1}");
    ASSERT_TRUE(root.Parse(u"{a//c\n:1, b/**/ : 2}"));
    EXPECT_EQ(Narrow(Write(root, out, 0)), "{\"a\":1,\"b\":2}");
    EXPECT_FALSE(root.Parse(u"{a/*c*/}"));
    ASSERT_TRUE(root.Parse(u"{a/b:1}"));
    EXPECT_EQ(root.GetInt64(u"a/b"), 1);
}

TEST(JsonParse, SurvivesDeepNestingOnASmallStack)
{
    // 100 000 levels: far beyond what native recursion could take on the
    // agent's 1 MiB stack. Parse, copy, write and destroy must all cope.
    constexpr size_t kDepth = 100000;
    std::u16string open(kDepth, u'[');
    JsonValue root;
    JsonParseError error;
    EXPECT_FALSE(root.Parse(open, &error));
    EXPECT_EQ(error.position, static_cast<int32_t>(kDepth));

    std::u16string text = open + std::u16string(kDepth, u']');
    ASSERT_TRUE(root.Parse(text));
    JsonValue copy(root);
    root.Clear();
    const JsonValue* v = &copy;
    size_t depth = 0;
    while (v->Elements() && !v->Elements()->empty()) {
        v = &v->Elements()->front();
        ++depth;
    }
    EXPECT_EQ(depth, kDepth - 1);

    std::u16string objects;
    for (size_t k = 0; k < kDepth; ++k)
        objects += u"{\"a\":";
    objects += u"1";
    objects.append(kDepth, u'}');
    ASSERT_TRUE(root.Parse(objects));
    JsonValue assigned;
    assigned = root;
    EXPECT_EQ(assigned.Member(u"a").Member(u"a").Kind(), JsonKind::Object);
}

}  // namespace
}  // namespace vantorel
