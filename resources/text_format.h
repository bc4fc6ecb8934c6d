// Formatting of the texts of Pellick.dll: positional placeholders filled from
// a list of typed arguments, checked before anything is written.
//
// The texts come from a module outside the agent and may be replaced by
// translators, so a text must not be able to make the agent read an argument
// it was not given or misread one's type (what a print format would do).
//
// Pattern grammar (UTF-16):
//   {N}     argument N (decimal, 0 to 99, no sign or spaces)
//   {N:.D}  a real argument with D decimals (one digit, 0 to 9); a real
//           without a spec shows one decimal
//   {{ }}   a literal "{" or "}"
// Integers are written in decimal with a leading "-" when negative, texts as
// they are. An argument may be used any number of times, or not at all.
//
// Any fault (an unclosed or stray brace, a bad index, an index past the
// arguments, a spec on an integer or a text, a bad spec) makes the whole
// result empty: the agent then shows an empty line, as it does for a text
// the module lacks, rather than a half-filled one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

enum class FormatArgKind : uint8_t { Integer, Real, Text };

// One argument. Text arguments refer to the caller's text, which must outlive
// the call.
struct FormatArg {
    static FormatArg Integer(int64_t value) { return {FormatArgKind::Integer, value, 0.0, {}}; }
    static FormatArg Real(double value) { return {FormatArgKind::Real, 0, value, {}}; }
    static FormatArg Text(std::u16string_view value) { return {FormatArgKind::Text, 0, 0.0, value}; }

    FormatArgKind kind;
    int64_t integer;
    double real;
    std::u16string_view text;
};

enum class FormatError : uint8_t {
    None,
    UnclosedPlaceholder,   // "{" without its "}", or an unexpected unit inside
    StrayCloseBrace,       // "}" that closes nothing and is not doubled
    BadIndex,              // not one or two decimal digits
    IndexOutOfRange,       // names an argument that was not given
    BadSpec,               // after ":" anything but "." and one digit
    SpecDoesNotFitKind,    // a spec on an integer or a text argument
};

struct FormatFault {
    FormatError error = FormatError::None;
    size_t position = 0;  // unit of the pattern where the faulty part starts

    explicit operator bool() const { return error != FormatError::None; }
};

struct FormatOptions {
    char16_t decimalMark = u'.';  // the user's decimal separator, e.g. "," in German
};

// Fills pattern with args. On a fault returns an empty text and, when fault
// is given, what went wrong where.
std::u16string FormatText(std::u16string_view pattern, std::span<const FormatArg> args,
                          const FormatOptions& options = {}, FormatFault* fault = nullptr);

std::u16string FormatText(std::u16string_view pattern, std::initializer_list<FormatArg> args,
                          const FormatOptions& options = {}, FormatFault* fault = nullptr);

// Checks pattern against the kinds of the arguments its users will pass,
// without formatting. When used is given it gets one flag per kind, set for
// every argument that some placeholder names.
FormatFault CheckFormat(std::u16string_view pattern, std::span<const FormatArgKind> kinds,
                        std::vector<bool>* used = nullptr);

// True when text holds no brace at all, so it shows the same whether or not
// it passes through FormatText with no arguments.
bool HasNoPlaceholders(std::u16string_view text);

}  // namespace vantorel
