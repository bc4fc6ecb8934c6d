#include "protocol/json_writer.h"

#include <algorithm>
#include <charconv>
#include <new>
#include <unordered_set>
#include <vector>

namespace vantorel {

namespace {

constexpr char16_t kQuote = u'"';
constexpr char16_t kApostrophe = u'\'';

// Precision beyond which a double has no more nonzero digits in any of the
// supported conversions; further digits are zeros and are padded.
constexpr int kMaxExactPrecision = 1100;

struct RealFormat {
    std::u16string_view prefix;
    std::u16string_view suffix;
    char conversion = 'f';  // f, e or g; upper case in `upper`
    bool upper = false;
    bool takesPrecision = true;  // ".*"
    int fixedPrecision = -1;     // ".N", else -1 (default 6)
};

// Unescapes "%%" in literal text.
void AppendLiteral(std::u16string& out, std::u16string_view text)
{
    for (size_t k = 0; k < text.size(); ++k) {
        out.push_back(text[k]);
        if (text[k] == u'%')
            ++k;  // the second "%" of "%%"
    }
}

// Accepts literal text with "%%" around one conversion "%[.*|.N](f|e|g|F|E|G)".
bool ParseRealFormat(std::u16string_view format, RealFormat& result)
{
    size_t conversionStart = std::u16string_view::npos;
    size_t conversionEnd = 0;
    for (size_t k = 0; k < format.size(); ++k) {
        if (format[k] != u'%')
            continue;
        if (k + 1 < format.size() && format[k + 1] == u'%') {
            ++k;
            continue;
        }
        if (conversionStart != std::u16string_view::npos)
            return false;  // a second conversion
        size_t p = k + 1;
        RealFormat spec;
        if (p < format.size() && format[p] == u'.') {
            ++p;
            if (p < format.size() && format[p] == u'*') {
                ++p;
            } else {
                spec.takesPrecision = false;
                int digits = 0;
                int value = 0;
                while (p < format.size() && format[p] >= u'0' && format[p] <= u'9' && digits < 4) {
                    value = value * 10 + (format[p] - u'0');
                    ++p, ++digits;
                }
                spec.fixedPrecision = value;  // "%.f" means precision 0, as in printf
            }
        } else {
            spec.takesPrecision = false;
        }
        if (p >= format.size())
            return false;
        switch (format[p]) {
        case u'f': case u'e': case u'g':
            spec.conversion = static_cast<char>(format[p]);
            break;
        case u'F': case u'E': case u'G':
            spec.conversion = static_cast<char>(format[p] - u'A' + u'a');
            spec.upper = true;
            break;
        default:
            return false;
        }
        conversionStart = k;
        conversionEnd = p + 1;
        result = spec;
        k = p;
    }
    if (conversionStart == std::u16string_view::npos)
        return false;
    result.prefix = format.substr(0, conversionStart);
    result.suffix = format.substr(conversionEnd);
    return true;
}

void AppendReal(std::u16string& out, double value, const WriteFormat& format)
{
    RealFormat spec;
    if (format.precision < 0 || !ParseRealFormat(format.numberFormat, spec))
        spec = RealFormat{};  // "%f", or the default "%.*f"
    int precision = 6;
    if (format.precision >= 0 && spec.takesPrecision)
        precision = format.precision;
    else if (spec.fixedPrecision >= 0)
        precision = spec.fixedPrecision;

    std::chars_format style = spec.conversion == 'e'   ? std::chars_format::scientific
                              : spec.conversion == 'g' ? std::chars_format::general
                                                       : std::chars_format::fixed;
    const int exact = std::min(precision, kMaxExactPrecision);
    // 309 integer digits, sign, point and exponent fit in the margin.
    std::vector<char> buffer(static_cast<size_t>(exact) + 340);
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, style, exact);
    if (ec != std::errc())
        return;
    std::string digits(buffer.data(), end);
    if (precision > exact && spec.conversion != 'g') {
        // Beyond the exact digits every further digit is a zero.
        size_t at = digits.find('e');
        if (at == std::string::npos)
            at = digits.size();
        bool finite = digits.find_first_of("in") == std::string::npos;  // not inf or nan
        if (finite)
            digits.insert(at, static_cast<size_t>(precision - exact), '0');
    }
    AppendLiteral(out, spec.prefix);
    for (char c : digits)
        out.push_back(static_cast<char16_t>(spec.upper && c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    AppendLiteral(out, spec.suffix);
}

void AppendInteger(std::u16string& out, int64_t value)
{
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;  // 24 units always hold a 64-bit integer
    for (const char* p = buffer; p != end; ++p)
        out.push_back(static_cast<char16_t>(*p));
}

bool Contains(std::u16string_view text, char16_t c)
{
    return text.find(c) != std::u16string_view::npos;
}

char16_t ChooseQuote(std::u16string_view text, uint32_t flags, bool isMemberName)
{
    const bool bare = isMemberName && (flags & WriteBareNames);
    const bool single = (flags & WriteSingleQuotes) != 0;
    if (text.empty())
        return single ? kApostrophe : kQuote;
    if (bare) {
        if (Contains(text, kApostrophe))
            return kQuote;
        bool needsQuotes = text == u"true" || text == u"false" || text == u"null" ||
                           text.find_first_of(u"\"\b\t\n\v\f\r ") != std::u16string_view::npos;
        if (!needsQuotes)
            return 0;
        return single ? kApostrophe : kQuote;
    }
    if (single)
        return Contains(text, kApostrophe) ? kQuote : kApostrophe;
    return kQuote;
}

void AppendQuoted(std::u16string& out, std::u16string_view text, uint32_t flags, bool isMemberName)
{
    const char16_t quote = ChooseQuote(text, flags, isMemberName);
    const bool minimal = (flags & WriteMinimalEscapes) != 0;
    if (quote)
        out.push_back(quote);
    for (char16_t c : text) {
        const char16_t* escape = nullptr;
        switch (c) {
        case u'\\': escape = u"\\\\"; break;
        case u'"': escape = quote == kApostrophe ? nullptr : u"\\\""; break;
        case 8: escape = minimal ? nullptr : u"\\b"; break;
        case 12: escape = minimal ? nullptr : u"\\f"; break;
        case 10: escape = minimal ? nullptr : u"\\n"; break;
        case 13: escape = minimal ? nullptr : u"\\r"; break;
        case 9: escape = minimal ? nullptr : u"\\t"; break;
        default: break;
        }
        if (escape)
            out.append(escape);
        else
            out.push_back(c);
    }
    if (quote)
        out.push_back(quote);
}

// Writes a tree without native recursion: each open container is a frame
// that yields its entries one by one.
class TreeWriter {
public:
    TreeWriter(std::u16string& out, uint32_t flags, const WriteFormat& format)
        : out_(out), flags_(flags), format_(format)
    {
        indentOutput_ = (flags & (WriteTabIndent | WriteSpaceIndent)) != 0;
        if (flags & WriteSpaceIndent)
            unit_.assign(format.indentWidth, u' ');
        else
            unit_ = u"\t";
    }

    void Run(const JsonValue& root)
    {
        Begin(root, format_.level);
        while (!frames_.empty()) {
            Frame& frame = frames_.back();
            const JsonValue* child = nullptr;
            const std::u16string* name = nullptr;
            if (frame.object) {
                while (frame.next < frame.members.size() &&
                       frame.members[frame.next]->second.Kind() == JsonKind::Undefined)
                    ++frame.next;
                if (frame.next < frame.members.size()) {
                    name = &frame.members[frame.next]->first;
                    child = &frame.members[frame.next]->second;
                }
            } else if (frame.next < frame.container->Elements()->size()) {
                child = &(*frame.container->Elements())[frame.next];
            }
            if (!child) {
                if (frame.indented)
                    NewLine(frame.level);
                out_.push_back(frame.object ? u'}' : u']');
                frames_.pop_back();
                continue;
            }
            ++frame.next;
            if (frame.wroteEntry) {
                out_.push_back(u',');
                if (frame.indented)
                    NewLine(frame.level + 1);
            }
            frame.wroteEntry = true;
            const bool indented = frame.indented;
            const uint32_t childLevel = indented ? frame.level + 1 : frame.level;
            if (name) {
                AppendQuoted(out_, *name, flags_, true);
                out_.push_back(u':');
                if (indented)
                    out_.push_back(u' ');
            }
            Begin(*child, childLevel);  // may add a frame: `frame` is stale now
        }
    }

private:
    struct Frame {
        const JsonValue* container = nullptr;
        bool object = false;
        bool indented = false;
        bool wroteEntry = false;
        uint32_t level = 0;
        size_t next = 0;
        std::vector<const JsonValue::MemberMap::value_type*> members;
    };

    void NewLine(uint32_t level)
    {
        out_.append(u"\r\n");
        for (uint32_t k = 0; k < level; ++k)
            out_.append(unit_);
    }

    // Writes a scalar whole, or opens a container and pushes its frame.
    void Begin(const JsonValue& value, uint32_t level)
    {
        switch (value.Kind()) {
        case JsonKind::Undefined:
            return;
        case JsonKind::Null:
            out_.append(u"null");
            return;
        case JsonKind::Bool:
            out_.append(value.BoolValue() ? u"true" : u"false");
            return;
        case JsonKind::String:
            AppendQuoted(out_, value.Text(), flags_, false);
            return;
        case JsonKind::Number:
            if (value.IsInteger()) {
                AppendInteger(out_, value.IntValue());
            } else if (value.IsReal()) {
                AppendReal(out_, value.RealValue(), format_);
            }
            return;
        case JsonKind::Object: {
            const JsonValue::MemberMap& members = *value.Members();
            if (members.empty()) {
                out_.append(u"{}");
                return;
            }
            Frame frame;
            frame.container = &value;
            frame.object = true;
            frame.level = level;
            frame.indented = indentOutput_ && members.size() >= 2;
            OrderMembers(value, frame.members);
            out_.push_back(u'{');
            if (frame.indented)
                NewLine(level + 1);
            frames_.push_back(std::move(frame));
            return;
        }
        case JsonKind::Array: {
            const JsonValue::ElementList& elements = *value.Elements();
            if (elements.empty()) {
                out_.append(u"[]");
                return;
            }
            Frame frame;
            frame.container = &value;
            frame.level = level;
            frame.indented = indentOutput_ && elements.size() >= 2;
            out_.push_back(u'[');
            if (frame.indented)
                NewLine(level + 1);
            frames_.push_back(std::move(frame));
            return;
        }
        }
    }

    // Insertion order: names in the order they were first mentioned, then
    // any member never mentioned, in key order. Key order on request or when
    // nothing was recorded.
    void OrderMembers(const JsonValue& object,
                      std::vector<const JsonValue::MemberMap::value_type*>& ordered) const
    {
        const JsonValue::MemberMap& members = *object.Members();
        const auto& mentioned = object.MemberOrder();
        ordered.reserve(members.size());
        if ((flags_ & WriteKeyOrder) || mentioned.empty()) {
            for (const auto& entry : members)
                ordered.push_back(&entry);
            return;
        }
        std::unordered_set<const std::u16string*> seen;
        for (const std::u16string* name : mentioned) {
            if (!seen.insert(name).second)
                continue;
            auto it = members.find(*name);
            if (it != members.end())
                ordered.push_back(&*it);
        }
        for (const auto& entry : members) {
            if (!seen.count(&entry.first))
                ordered.push_back(&entry);
        }
    }

    std::u16string& out_;
    uint32_t flags_;
    const WriteFormat& format_;
    bool indentOutput_ = false;
    std::u16string unit_;
    std::vector<Frame> frames_;
};

}  // namespace

const std::u16string& Write(const JsonValue& value, std::u16string& output, uint32_t flags,
                            const WriteFormat* format)
{
    output.clear();
    const WriteFormat defaults;
    try {
        TreeWriter(output, flags, format ? *format : defaults).Run(value);
    } catch (const std::bad_alloc&) {
        output.clear();  // no partial text: callers would take it for the value
    }
    return output;
}

const std::u16string& QuoteText(std::u16string& output, std::u16string_view text, uint32_t flags,
                                bool isMemberName)
{
    output.clear();
    AppendQuoted(output, text, flags, isMemberName);
    return output;
}

}  // namespace vantorel
