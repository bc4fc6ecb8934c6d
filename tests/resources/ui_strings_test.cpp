// Every text of every language against the identifiers the agent asks for
// and the arguments its callers pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "agent/tray/tray_menu.h"
#include "protocol/utf8.h"
#include "resources/string_table.h"
#include "resources/text_format.h"
#include "resources/ui_strings.h"

namespace vantorel {
namespace {

const char* const kLanguages[] = {"en-US", "de-DE", "fr-FR", "es-ES", "it-IT", "pt-BR",
                                  "nl-NL", "pl-PL", "ru-RU", "ja-JP", "zh-CN", "ko-KR"};

// LoadUiString reads into 520 units; the shell's drop description keeps 259
// of its insert text.
constexpr size_t kMaxTextLength = 519;
constexpr size_t kMaxDropInsertLength = 259;

std::string StringsDir()
{
    const char* dir = std::getenv("VANTOREL_STRINGS_DIR");
    return dir && *dir ? dir : VANTOREL_STRINGS_DIR;
}

StringTable ReadLanguage(const std::string& language)
{
    const std::string path = StringsDir() + "/" + language + ".txt";
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot open " << path;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    StringTable table;
    std::string error;
    EXPECT_TRUE(ReadStringTable(bytes.str(), table, error)) << path << ": " << error;
    return table;
}

// A percent sign that a print format would read as a conversion.
bool HasPrintConversion(std::u16string_view text)
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        const char16_t next = text[i + 1];
        if (text[i] == u'%' && ((next >= u'a' && next <= u'z') || (next >= u'A' && next <= u'Z') ||
                                (next >= u'0' && next <= u'9') || next == u'.' || next == u'*' ||
                                next == u'-')) {
            return true;
        }
    }
    return false;
}

TEST(UiStrings, IdentifiersAreExactlyThoseTheAgentAsksFor)
{
    std::vector<unsigned> expected = {109, 129, 130, 135, 100, 101, 131, 132, 134, 147};
    for (unsigned id = 103; id <= 108; ++id) expected.push_back(id);
    for (unsigned id = 110; id <= 124; ++id) expected.push_back(id);
    for (unsigned id = 126; id <= 128; ++id) expected.push_back(id);
    for (unsigned id = 136; id <= 146; ++id) expected.push_back(id);
    for (unsigned id = 148; id <= 157; ++id) expected.push_back(id);
    std::sort(expected.begin(), expected.end());
    const std::vector<unsigned> ids(AllUiStringIds().begin(), AllUiStringIds().end());
    EXPECT_EQ(ids, expected);

    unsigned previous = 0;
    for (const UiStringFormat& format : UiStringFormats()) {
        EXPECT_GT(format.id, previous);
        previous = format.id;
        EXPECT_NE(std::find(ids.begin(), ids.end(), format.id), ids.end()) << format.id;
        EXPECT_EQ(FindUiStringFormat(format.id), &format);
    }
    EXPECT_EQ(FindUiStringFormat(IDS_EXIT), nullptr);
    EXPECT_EQ(FindUiStringFormat(125), nullptr);
}

TEST(UiStrings, FormatsTakeTheArgumentsTheirCallersPass)
{
    using K = FormatArgKind;
    struct Case {
        unsigned id;
        std::vector<K> args;
    };
    // Written out again on purpose: a change to the table must be a change
    // to what the agent's callers pass, and show up here.
    const Case cases[] = {
        {111, {K::Integer}}, {112, {K::Integer}}, {113, {K::Integer, K::Text}}, {114, {K::Integer}},
        {115, {K::Text}},
        {124, {K::Integer, K::Real, K::Text, K::Real, K::Text}},
        {135, {K::Integer, K::Integer}},
        {137, {K::Integer}}, {138, {K::Integer, K::Integer}}, {139, {K::Integer}},
        {140, {K::Integer, K::Integer}}, {141, {K::Integer}}, {142, {}},
        {143, {K::Integer}}, {144, {K::Integer}}, {145, {K::Integer, K::Text}}, {146, {K::Integer}},
        {151, {K::Text}}, {152, {K::Text}}, {153, {K::Text, K::Integer}}, {154, {K::Text, K::Integer}},
        {155, {K::Text}}, {156, {K::Text}}, {157, {K::Text}},
    };
    ASSERT_EQ(UiStringFormats().size(), std::size(cases));
    for (const Case& c : cases) {
        const UiStringFormat* format = FindUiStringFormat(c.id);
        ASSERT_NE(format, nullptr) << c.id;
        EXPECT_EQ(std::vector<K>(format->args.begin(), format->args.end()), c.args) << c.id;
    }
}

TEST(UiStrings, EveryLanguageHasEveryTextAndEveryFormatFitsItsArguments)
{
    const std::vector<unsigned> ids(AllUiStringIds().begin(), AllUiStringIds().end());
    for (const char* language : kLanguages) {
        SCOPED_TRACE(language);
        const StringTable table = ReadLanguage(language);
        std::vector<unsigned> present;
        for (const auto& [id, text] : table) present.push_back(id);
        EXPECT_EQ(present, ids);

        for (const auto& [id, text] : table) {
            SCOPED_TRACE(id);
            EXPECT_FALSE(text.empty());
            EXPECT_LE(text.size(), kMaxTextLength);
            EXPECT_FALSE(HasPrintConversion(text)) << EncodeUtf8(text);
            const UiStringFormat* format = FindUiStringFormat(id);
            // A menu item's text and the tooltip, with the product name, fit
            // whole: cut, a translation would lose its end.
            if (id >= IDS_TOOLTIP_SIGNED_OUT && id <= IDS_TOOLTIP_ERROR) {
                EXPECT_LE(text.size() + 8, 127u);
            }
            if (!format && id != IDS_CONFIRM_SIGN_OUT_TEXT && id != IDS_CONFIRM_EXIT_TEXT) {
                EXPECT_LE(text.size(), 255u);
            }
            if (!format) {
                EXPECT_TRUE(HasNoPlaceholders(text)) << EncodeUtf8(text);
                continue;
            }
            std::vector<bool> used;
            const FormatFault fault = CheckFormat(text, format->args, &used);
            EXPECT_FALSE(fault) << EncodeUtf8(text) << " at " << fault.position;
            EXPECT_EQ(used, std::vector<bool>(format->args.size(), true))
                << "an argument is not shown: " << EncodeUtf8(text);
        }
        EXPECT_LE(table.at(IDS_DROP_INSERT).size(), kMaxDropInsertLength);
    }
}

// Each format filled with recognisable values shows every value once, byte
// amounts with one decimal, whatever the language.
TEST(UiStrings, FilledFormatsShowEveryValue)
{
    for (const char* language : kLanguages) {
        SCOPED_TRACE(language);
        const StringTable table = ReadLanguage(language);
        for (const UiStringFormat& format : UiStringFormats()) {
            SCOPED_TRACE(format.id);
            std::vector<FormatArg> args;
            std::vector<std::u16string> shown;
            std::vector<std::u16string> texts;
            texts.reserve(format.args.size());
            for (size_t i = 0; i < format.args.size(); ++i) {
                switch (format.args[i]) {
                case FormatArgKind::Integer:
                    args.push_back(FormatArg::Integer(int64_t(9100 + i)));
                    shown.push_back(u"910" + std::u16string(1, char16_t(u'0' + i)));
                    break;
                case FormatArgKind::Real:
                    args.push_back(FormatArg::Real(8200.04 + double(i)));
                    shown.push_back(u"820" + std::u16string(1, char16_t(u'0' + i)) + u".0");
                    break;
                case FormatArgKind::Text:
                    texts.push_back(u"<text " + std::u16string(1, char16_t(u'0' + i)) + u">");
                    args.push_back(FormatArg::Text(texts.back()));
                    shown.push_back(texts.back());
                    break;
                }
            }
            const std::u16string& pattern = table.at(format.id);
            FormatFault fault;
            const std::u16string out = FormatText(pattern, args, {}, &fault);
            ASSERT_FALSE(fault) << EncodeUtf8(pattern);
            EXPECT_FALSE(out.empty());
            for (const std::u16string& value : shown) {
                const size_t at = out.find(value);
                EXPECT_NE(at, std::u16string::npos) << EncodeUtf8(value) << " in " << EncodeUtf8(out);
                if (at != std::u16string::npos) {
                    EXPECT_EQ(out.find(value, at + 1), std::u16string::npos) << EncodeUtf8(out);
                }
            }
        }
    }
}

// Every command has one access key ("&&" shows an ampersand), unique in its
// menu, each submenu on its own; information lines have none.
void CheckAccessKeys(const std::vector<TrayMenuItem>& items)
{
    static const std::set<uint32_t> kInformation = {CMD_UPLOAD_PROGRESS, CMD_DOWNLOAD_PROGRESS, CMD_UPLOAD_ERRORS,
                                                   CMD_DOWNLOAD_ERRORS, CMD_UPLOADS_FINISHED, CMD_DOWNLOADS_FINISHED};
    std::set<wint_t> keys;
    for (const TrayMenuItem& item : items) {
        SCOPED_TRACE(EncodeUtf8(item.text));
        std::u16string text = item.text;
        for (size_t at = text.find(u"&&"); at != text.npos; at = text.find(u"&&", at)) text.erase(at, 2);
        const size_t key = text.find(u'&');
        if ((item.flags & (kMenuItemDisabled | kMenuItemSeparator)) || kInformation.count(item.id)) {
            EXPECT_EQ(key, text.npos);
        } else {
            ASSERT_TRUE(key != text.npos && key + 1 < text.size()) << "no access key";
            EXPECT_EQ(text.find(u'&', key + 1), text.npos);
            EXPECT_TRUE(keys.insert(std::towupper(text[key + 1])).second) << "key taken twice";
        }
        CheckAccessKeys(item.submenu);
    }
}

TEST(UiStrings, MenuCommandsHaveOneAccessKeyUniqueInTheirMenu)
{
    // Signed in, uploading, with a finished download and errors both ways.
    const TrayMenuSnapshot busy{true, u"progress", u"1% of 5 GB used", u"C:\\R&D", u"", u"",
                                {{1, 0, 0, 1, 1}, {10, 0, 0, 0, 10}, 90}, {{0, 2, 0, 1, 0}, {}, 0}, false};
    TrayMenuSnapshot paused = busy;
    paused.statusName = u"paused";
    for (const char* language : kLanguages) {
        SCOPED_TRACE(language);
        const StringTable table = ReadLanguage(language);
        const UiStringSource strings = [&table](unsigned id) { return table.at(id); };
        for (const TrayMenu& menu : {BuildStartupMenu(strings), BuildMainMenu({}, strings),
                                     BuildMainMenu(busy, strings), BuildMainMenu(paused, strings)})
            CheckAccessKeys(menu.items);
    }
}

TEST(UiStrings, StorageLineOfTheNeutralLanguage)
{
    const StringTable table = ReadLanguage("en-US");
    EXPECT_EQ(FormatText(table.at(IDS_STORAGE_LINE), {FormatArg::Integer(50), FormatArg::Integer(10)}),
              u"50% of 10 GB used");
    EXPECT_EQ(FormatText(table.at(IDS_BYTE_PROGRESS),
                         {FormatArg::Integer(25), FormatArg::Real(1024.0), FormatArg::Text(table.at(IDS_UNIT_KB)),
                          FormatArg::Real(4.0), FormatArg::Text(table.at(IDS_UNIT_MB))}),
              u"25% done: 1024.0 KB of 4.0 MB");
}

}  // namespace
}  // namespace vantorel
