#include <gtest/gtest.h>

#include <string>

#include "resources/string_table.h"

namespace vantorel {
namespace {

TEST(ReadStringTable, ReadsEntriesSkippingCommentsAndBlankLines)
{
    const std::string source =
        "# comment\n"
        "\n"
        "100\tAbout Vantorel\n"
        "105\tStill running.\\n\\nSign out anyway?\r\n"
        "0107\tTab\\there, backslash \\\\n stays\n"
        "115\tDownload folder: {0}\n"
        "120\t\xC3\x80 propos\xC2\xA0: \xE2\x80\xA6 \xF0\x9F\x98\x80\n"
        "121\t#not a comment\n"
        "65535\tlast";  // no final line break
    StringTable table;
    std::string error;
    ASSERT_TRUE(ReadStringTable(source, table, error)) << error;
    const StringTable expected = {
        {100, u"About Vantorel"},
        {105, u"Still running.\n\nSign out anyway?"},
        {107, u"Tab\there, backslash \\n stays"},
        {115, u"Download folder: {0}"},
        {120, u"\u00c0 propos\u00a0: \u2026 \U0001F600"},
        {121, u"#not a comment"},
        {65535, u"last"},
    };
    EXPECT_EQ(table, expected);
}

TEST(ReadStringTable, RejectsMalformedLinesNamingTheLine)
{
    struct Case {
        std::string source;
        std::string error;
    };
    const Case cases[] = {
        {"100 About\n", "line 1: expected ID<TAB>text"},
        {"\tAbout\n", "line 1: expected ID<TAB>text"},
        {"10a\tAbout\n", "line 1: expected ID<TAB>text"},
        {"-1\tAbout\n", "line 1: expected ID<TAB>text"},
        {"100000\tAbout\n", "line 1: expected ID<TAB>text"},
        {"65536\tAbout\n", "line 1: identifier above 65535"},
        {"\xEF\xBB\xBF" "100\tAbout\n", "line 1: expected ID<TAB>text"},  // a byte order mark
        {"100\t\n", "line 1: empty text"},
        {"# x\n100\tA\\qB\n", "line 2: unknown escape"},
        {"100\tends in \\\n", "line 1: unknown escape"},
        {"100\tA\n101\tB\n100\tC\n", "line 3: identifier given twice"},
        {"100\tcaf\xE9\n", "line 1: not UTF-8"},
        {"100\t\xC0\xAF\n", "line 1: not UTF-8"},          // overlong
        {"100\t\xED\xA0\x80\n", "line 1: not UTF-8"},      // encoded surrogate
        {"100\t\xE2\x80\n", "line 1: not UTF-8"},          // cut short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        StringTable table;
        std::string error;
        EXPECT_FALSE(ReadStringTable(c.source, table, error));
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
}  // namespace vantorel
