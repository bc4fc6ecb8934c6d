#include "resources/string_table.h"

#include "protocol/utf8.h"

namespace vantorel {
namespace {

bool Unescape(std::string_view text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case '\\': out.push_back('\\'); break;
        default: return false;
        }
    }
    return true;
}

}  // namespace

bool ReadStringTable(std::string_view source, StringTable& table, std::string& error)
{
    table.clear();
    size_t lineNumber = 0;
    while (!source.empty()) {
        ++lineNumber;
        const size_t end = source.find('\n');
        std::string_view line = source.substr(0, end);
        source = end == std::string_view::npos ? std::string_view() : source.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        auto fail = [&](const char* why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        const size_t tab = line.find('\t');
        const std::string_view key = line.substr(0, tab);
        if (tab == std::string_view::npos || key.empty() || key.size() > 5) {
            return fail("expected ID<TAB>text");
        }
        unsigned id = 0;
        for (char c : key) {
            if (c < '0' || c > '9') return fail("expected ID<TAB>text");
            id = id * 10 + static_cast<unsigned>(c - '0');
        }
        if (id > 65535) return fail("identifier above 65535");
        const std::string_view raw = line.substr(tab + 1);
        if (raw.empty()) return fail("empty text");
        std::string bytes;
        if (!Unescape(raw, bytes)) return fail("unknown escape");
        // The lenient decoder keeps every bad byte as a unit of its own, so a
        // text is valid UTF-8 exactly when it encodes back to the same bytes.
        std::u16string text = DecodeUtf8Lenient(bytes);
        if (EncodeUtf8(text, LoneSurrogates::Replace) != bytes) return fail("not UTF-8");
        if (!table.emplace(id, std::move(text)).second) return fail("identifier given twice");
    }
    return true;
}

}  // namespace vantorel
