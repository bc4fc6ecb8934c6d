#include "resources/text_format.h"

#include <charconv>

namespace vantorel {
namespace {

constexpr int kDefaultRealDecimals = 1;

struct Placeholder {
    size_t index;
    int decimals;  // -1: no spec
};

// Walks pattern once, handing literal runs and placeholders to the sink, and
// stops at the first fault. Both formatting and checking go through here, so
// they cannot disagree about what a pattern means.
template <typename Sink>
FormatFault Walk(std::u16string_view pattern, std::span<const FormatArgKind> kinds, Sink&& sink)
{
    size_t literalStart = 0;
    size_t i = 0;
    while (i < pattern.size()) {
        const char16_t c = pattern[i];
        if (c != u'{' && c != u'}') {
            ++i;
            continue;
        }
        sink.Literal(pattern.substr(literalStart, i - literalStart));
        if (i + 1 < pattern.size() && pattern[i + 1] == c) {  // "{{" or "}}"
            sink.Literal(pattern.substr(i, 1));
            i += 2;
            literalStart = i;
            continue;
        }
        if (c == u'}') return {FormatError::StrayCloseBrace, i};

        const size_t open = i++;
        size_t index = 0;
        size_t digits = 0;
        while (i < pattern.size() && pattern[i] >= u'0' && pattern[i] <= u'9') {
            if (++digits > 2) return {FormatError::BadIndex, open};
            index = index * 10 + static_cast<size_t>(pattern[i] - u'0');
            ++i;
        }
        if (i == pattern.size()) return {FormatError::UnclosedPlaceholder, open};
        if (digits == 0) return {FormatError::BadIndex, open};
        int decimals = -1;
        if (pattern[i] == u':') {
            if (i + 2 >= pattern.size() || pattern[i + 1] != u'.' || pattern[i + 2] < u'0' ||
                pattern[i + 2] > u'9') {
                return {FormatError::BadSpec, open};
            }
            decimals = pattern[i + 2] - u'0';
            i += 3;
            if (i == pattern.size()) return {FormatError::UnclosedPlaceholder, open};
            if (pattern[i] != u'}') return {FormatError::BadSpec, open};
        }
        if (pattern[i] != u'}') return {FormatError::UnclosedPlaceholder, open};
        ++i;
        if (index >= kinds.size()) return {FormatError::IndexOutOfRange, open};
        if (decimals >= 0 && kinds[index] != FormatArgKind::Real) {
            return {FormatError::SpecDoesNotFitKind, open};
        }
        sink.Argument(Placeholder{index, decimals});
        literalStart = i;
    }
    sink.Literal(pattern.substr(literalStart));
    return {};
}

void AppendAscii(std::u16string& out, const char* first, const char* last, char16_t decimalMark)
{
    for (const char* p = first; p != last; ++p) out.push_back(*p == '.' ? decimalMark : char16_t(*p));
}

struct Writer {
    std::span<const FormatArg> args;
    const FormatOptions& options;
    std::u16string out;

    void Literal(std::u16string_view text) { out.append(text); }

    void Argument(Placeholder p)
    {
        const FormatArg& arg = args[p.index];
        // 20 digits and a sign; a double in fixed notation has at most 309
        // integer digits, a point and 9 decimals.
        char buffer[330];
        switch (arg.kind) {
        case FormatArgKind::Integer: {
            const auto r = std::to_chars(buffer, buffer + sizeof buffer, arg.integer);
            AppendAscii(out, buffer, r.ptr, options.decimalMark);
            break;
        }
        case FormatArgKind::Real: {
            const int decimals = p.decimals >= 0 ? p.decimals : kDefaultRealDecimals;
            const auto r = std::to_chars(buffer, buffer + sizeof buffer, arg.real,
                                         std::chars_format::fixed, decimals);
            AppendAscii(out, buffer, r.ec == std::errc() ? r.ptr : buffer, options.decimalMark);
            break;
        }
        case FormatArgKind::Text:
            out.append(arg.text);
            break;
        }
    }
};

struct Recorder {
    std::vector<bool>* used;

    void Literal(std::u16string_view) {}
    void Argument(Placeholder p)
    {
        if (used) (*used)[p.index] = true;
    }
};

}  // namespace

std::u16string FormatText(std::u16string_view pattern, std::span<const FormatArg> args,
                          const FormatOptions& options, FormatFault* fault)
{
    // Kinds of the arguments actually given: a placeholder is checked against
    // what the caller passed, never against what the text expects.
    std::vector<FormatArgKind> kinds;
    kinds.reserve(args.size());
    for (const FormatArg& arg : args) kinds.push_back(arg.kind);

    Writer writer{args, options, {}};
    const FormatFault result = Walk(pattern, kinds, writer);
    if (fault) *fault = result;
    if (result) return {};
    return std::move(writer.out);
}

std::u16string FormatText(std::u16string_view pattern, std::initializer_list<FormatArg> args,
                          const FormatOptions& options, FormatFault* fault)
{
    return FormatText(pattern, std::span<const FormatArg>(args.begin(), args.size()), options, fault);
}

FormatFault CheckFormat(std::u16string_view pattern, std::span<const FormatArgKind> kinds,
                        std::vector<bool>* used)
{
    if (used) used->assign(kinds.size(), false);
    return Walk(pattern, kinds, Recorder{used});
}

bool HasNoPlaceholders(std::u16string_view text)
{
    return text.find_first_of(u"{}") == std::u16string_view::npos;
}

}  // namespace vantorel
