#include <gtest/gtest.h>

#include <string>

#include "protocol/utf8.h"

namespace vantorel {
namespace {

TEST(Utf8, DecodesValidSequencesAndWidensEveryStrayByteAlone)
{
    struct Case {
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {"plain", u"plain"},
        {"caf\xC3\xA9", u"caf\u00e9"},
        {"\xE2\x82\xAC", u"\u20ac"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"caf\xE9", u"caf\u00e9"},                          // Latin-1 byte
        {"\xC0\xAF", u"\u00c0\u00af"},                      // overlong "/"
        {"\xED\xA0\x80", u"\u00ed\u00a0\u0080"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\u00f4\u0090\u0080\u0080"},  // past U+10FFFF
        {"\xE2\x82", u"\u00e2\u0082"},                      // cut short
        {"\xE2(\xA1", u"\u00e2(\u00a1"},                    // bad continuation
        {std::string("\0a", 2), std::u16string(u"\0a", 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_TRUE(DecodeUtf8Lenient(c.bytes) == c.text);
    }
}

TEST(Utf8, EncodesPairsAsOneCodePointAndKeepsLoneSurrogates)
{
    EXPECT_EQ(EncodeUtf8(u"a\u00e9\u20ac\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(EncodeUtf8(std::u16string(1, char16_t(0xD800))), "\xED\xA0\x80");
    EXPECT_EQ(EncodeUtf8(std::u16string{char16_t(0xDC00), u'x'}), "\xED\xB0\x80x");
}

}  // namespace
}  // namespace vantorel
