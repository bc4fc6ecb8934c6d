#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "protocol/utf8.h"
#include "resources/text_format.h"

namespace vantorel {
namespace {

std::string Narrow(std::u16string_view text) { return EncodeUtf8(text); }

TEST(FormatText, FillsPlaceholdersWithTheirArguments)
{
    struct Case {
        std::u16string pattern;
        std::vector<FormatArg> args;
        std::u16string expected;
    };
    const std::u16string_view folder = u"C:\\Daten\\Fotos \U0001F600";
    const Case cases[] = {
        {u"{0}% of {1} GB used", {FormatArg::Integer(50), FormatArg::Integer(10)}, u"50% of 10 GB used"},
        {u"{1} before {0}", {FormatArg::Integer(1), FormatArg::Integer(2)}, u"2 before 1"},
        {u"{0}{0}-{0}", {FormatArg::Integer(7)}, u"77-7"},
        {u"{0} and {10}",
         {FormatArg::Integer(0), FormatArg::Integer(1), FormatArg::Integer(2), FormatArg::Integer(3),
          FormatArg::Integer(4), FormatArg::Integer(5), FormatArg::Integer(6), FormatArg::Integer(7),
          FormatArg::Integer(8), FormatArg::Integer(9), FormatArg::Integer(10)},
         u"0 and 10"},
        {u"{00}", {FormatArg::Integer(3)}, u"3"},
        {u"unused argument", {FormatArg::Integer(3)}, u"unused argument"},
        {u"", {}, u""},
        {u"{{0}} is {0}, }}{{", {FormatArg::Integer(5)}, u"{0} is 5, }{"},
        {u"{0}", {FormatArg::Integer(-42)}, u"-42"},
        {u"{0}", {FormatArg::Integer(std::numeric_limits<int64_t>::min())}, u"-9223372036854775808"},
        {u"{0}", {FormatArg::Integer(std::numeric_limits<int64_t>::max())}, u"9223372036854775807"},
        // Reals: one decimal unless the placeholder says otherwise; rounded.
        {u"{0}", {FormatArg::Real(1.26)}, u"1.3"},
        {u"{0:.1} KB", {FormatArg::Real(1024.0)}, u"1024.0 KB"},
        {u"{0:.1}", {FormatArg::Real(1048577.0 / 1048576.0)}, u"1.0"},
        {u"{0:.0}", {FormatArg::Real(2.6)}, u"3"},
        {u"{0:.3}", {FormatArg::Real(-0.0626)}, u"-0.063"},
        {u"{0:.9}", {FormatArg::Real(1.0 / 3.0)}, u"0.333333333"},
        {u"{0:.2}", {FormatArg::Real(1099511627776.0)}, u"1099511627776.00"},
        // A text argument is inserted as it is, never read as a pattern.
        {u"[{0}]", {FormatArg::Text(u"{1}}{")}, u"[{1}}{]"},
        {u"Folder: {0}", {FormatArg::Text(folder)}, u"Folder: " + std::u16string(folder)},
        {u"{0}", {FormatArg::Text(u"")}, u""},
        // Print formats mean nothing here, so an old text cannot reach memory.
        {u"%s %d %I64d %n", {FormatArg::Integer(1)}, u"%s %d %I64d %n"},
        {u"\u00c0 {0}\u00a0%", {FormatArg::Integer(9)}, u"\u00c0 9\u00a0%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.pattern));
        FormatFault fault{FormatError::BadSpec, 99};
        EXPECT_EQ(FormatText(c.pattern, c.args, {}, &fault), c.expected);
        EXPECT_FALSE(fault);
    }
}

TEST(FormatText, WritesTheLargestRealsWhole)
{
    const double largest = std::numeric_limits<double>::max();
    const std::u16string out = FormatText(u"{0:.9}|{1:.9}", {FormatArg::Real(largest), FormatArg::Real(-largest)});
    ASSERT_EQ(out.size(), 2 * (309 + 1 + 9) + 1 + 1);
    EXPECT_EQ(out.substr(0, 6), u"179769");
    EXPECT_EQ(out.substr(309, 11), u".000000000|");
}

TEST(FormatText, WritesTheGivenDecimalMarkInRealsOnly)
{
    const FormatOptions german{u','};
    EXPECT_EQ(FormatText(u"{0}: {1:.1} {2} von {3:.2}",
                         {FormatArg::Integer(1000), FormatArg::Real(1024.0), FormatArg::Text(u"1.5"),
                          FormatArg::Real(0.5)},
                         german),
              u"1000: 1024,0 1.5 von 0,50");
}

TEST(FormatText, AnyFaultGivesAnEmptyTextAndSaysWhereItIs)
{
    struct Case {
        std::u16string pattern;
        std::vector<FormatArg> args;
        FormatError error;
        size_t position;
    };
    const std::vector<FormatArg> integer = {FormatArg::Integer(1)};
    const std::vector<FormatArg> real = {FormatArg::Real(1.5)};
    const std::vector<FormatArg> text = {FormatArg::Text(u"t")};
    const Case cases[] = {
        {u"{", integer, FormatError::UnclosedPlaceholder, 0},
        {u"ok {0", integer, FormatError::UnclosedPlaceholder, 3},
        {u"{0 }", integer, FormatError::UnclosedPlaceholder, 0},
        {u"{0{0}}", integer, FormatError::UnclosedPlaceholder, 0},
        {u"{0:.1", real, FormatError::UnclosedPlaceholder, 0},
        {u"}", integer, FormatError::StrayCloseBrace, 0},
        {u"a}b", integer, FormatError::StrayCloseBrace, 1},
        {u"{0}}", integer, FormatError::StrayCloseBrace, 3},
        {u"{}", integer, FormatError::BadIndex, 0},
        {u"{x}", integer, FormatError::BadIndex, 0},
        {u"{-1}", integer, FormatError::BadIndex, 0},
        {u"{ 0}", integer, FormatError::BadIndex, 0},
        {u"{100}", integer, FormatError::BadIndex, 0},
        {u"{99999999999999999999}", integer, FormatError::BadIndex, 0},
        {u"{1}", integer, FormatError::IndexOutOfRange, 0},
        {u"x {0}", {}, FormatError::IndexOutOfRange, 2},
        {u"{99}", integer, FormatError::IndexOutOfRange, 0},
        {u"{0:}", real, FormatError::BadSpec, 0},
        {u"{0:", real, FormatError::BadSpec, 0},
        {u"{0:.}", real, FormatError::BadSpec, 0},
        {u"{0:1}", real, FormatError::BadSpec, 0},
        {u"{0:.12}", real, FormatError::BadSpec, 0},
        {u"{0:f}", real, FormatError::BadSpec, 0},
        {u"{0:.1}", integer, FormatError::SpecDoesNotFitKind, 0},
        {u"{0:.1}", text, FormatError::SpecDoesNotFitKind, 0},
        // Text written before the fault is not returned.
        {u"{0} of {", integer, FormatError::UnclosedPlaceholder, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.pattern));
        FormatFault fault;
        EXPECT_EQ(FormatText(c.pattern, c.args, {}, &fault), u"");
        EXPECT_EQ(fault.error, c.error);
        EXPECT_EQ(fault.position, c.position);
        const std::vector<FormatArgKind> kinds(c.args.size(), c.args.empty() ? FormatArgKind::Integer
                                                                             : c.args[0].kind);
        EXPECT_EQ(CheckFormat(c.pattern, kinds).error, c.error);
    }
}

TEST(CheckFormat, ReportsWhichArgumentsArePlacedAndChecksSpecsAgainstKinds)
{
    const FormatArgKind progress[] = {FormatArgKind::Integer, FormatArgKind::Real, FormatArgKind::Text,
                                      FormatArgKind::Real, FormatArgKind::Text};
    std::vector<bool> used;
    EXPECT_FALSE(CheckFormat(u"{0}% {1:.1} {2} / {3:.1} {4}", progress, &used));
    EXPECT_EQ(used, std::vector<bool>(5, true));

    EXPECT_FALSE(CheckFormat(u"{4} {0}%, {{2}}", progress, &used));
    EXPECT_EQ(used, (std::vector<bool>{true, false, false, false, true}));

    EXPECT_EQ(CheckFormat(u"{2:.1}", progress, &used).error, FormatError::SpecDoesNotFitKind);
    EXPECT_EQ(CheckFormat(u"{5}", progress, &used).error, FormatError::IndexOutOfRange);
    EXPECT_FALSE(CheckFormat(u"no placeholder", {}, &used));
    EXPECT_TRUE(used.empty());
}

// Every pattern of up to five units over the characters that matter: the
// formatter must either succeed or return empty, agree with CheckFormat, and
// (under the sanitizers) never touch memory it does not own.
TEST(FormatText, EveryShortPatternIsSafeAndAgreesWithTheCheck)
{
    const char16_t alphabet[] = {u'{', u'}', u'0', u'1', u'2', u':', u'.', u'a'};
    const FormatArg args[] = {FormatArg::Integer(-3), FormatArg::Real(2.5)};
    const FormatArgKind kinds[] = {FormatArgKind::Integer, FormatArgKind::Real};
    std::u16string pattern;
    size_t formatted = 0;
    std::vector<size_t> digits;
    for (size_t length = 0; length <= 5; ++length) {
        digits.assign(length, 0);
        for (;;) {
            pattern.clear();
            for (size_t d : digits) pattern.push_back(alphabet[d]);
            FormatFault fault;
            const std::u16string out = FormatText(pattern, args, {}, &fault);
            const FormatFault checked = CheckFormat(pattern, kinds);
            ASSERT_EQ(fault.error, checked.error) << Narrow(pattern);
            ASSERT_EQ(fault.position, checked.position) << Narrow(pattern);
            if (fault) {
                ASSERT_TRUE(out.empty()) << Narrow(pattern);
                ASSERT_LT(fault.position, pattern.size()) << Narrow(pattern);
            } else {
                ++formatted;
                if (HasNoPlaceholders(pattern)) {
                    ASSERT_EQ(out, pattern);
                }
            }
            size_t k = 0;
            while (k < length && ++digits[k] == std::size(alphabet)) digits[k++] = 0;
            if (k == length) break;
        }
    }
    EXPECT_GT(formatted, 1000u);
}

TEST(HasNoPlaceholders, LooksForEitherBrace)
{
    EXPECT_TRUE(HasNoPlaceholders(u"Sign out"));
    EXPECT_TRUE(HasNoPlaceholders(u"100% (%d)"));
    EXPECT_FALSE(HasNoPlaceholders(u"{0}"));
    EXPECT_FALSE(HasNoPlaceholders(u"a}"));
}

}  // namespace
}  // namespace vantorel
