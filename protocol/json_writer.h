// Writes a JsonValue back as JSON text (UTF-16), compact or indented.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/json_value.h"

namespace vantorel {

// Flag word of Write and QuoteText; bits combine.
enum WriteFlags : uint32_t {
    WriteBareNames = 0x01,       // member names unquoted where they need no quotes
    WriteTabIndent = 0x04,       // indented, one tab per level
    WriteSpaceIndent = 0x08,     // indented, indentWidth spaces per level; wins over tabs
    WriteMinimalEscapes = 0x40,  // escape only the quotation mark and the backslash
    WriteSingleQuotes = 0x80,    // quote texts with apostrophes where possible
    WriteKeyOrder = 0x100,       // object members in key order, not insertion order
};

// Format state handed from a container to its children.
struct WriteFormat {
    uint32_t level = 0;        // indentation level of the value being written
    uint32_t indentWidth = 2;  // spaces per level with WriteSpaceIndent
    int32_t precision = 6;     // digits after the decimal point for reals
    // printf-style format of a real: one %f, %e or %g conversion (upper case
    // too), with ".*" taking the precision, plus literal text and "%%". A
    // format outside that form is treated as the default.
    std::u16string numberFormat = u"%.*f";
};

// Replaces output with the JSON text of value and returns it. An Undefined
// value writes nothing; Undefined members are left out of objects.
const std::u16string& Write(const JsonValue& value, std::u16string& output, uint32_t flags,
                            const WriteFormat* format = nullptr);

// Replaces output with text quoted and escaped as the flags ask, choosing the
// quote unit (or none, for a bare member name) from the text itself.
const std::u16string& QuoteText(std::u16string& output, std::u16string_view text, uint32_t flags,
                                bool isMemberName);

}  // namespace vantorel
