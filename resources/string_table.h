// The source of one language's texts, resources/strings/LANG.txt, as the
// tests read it; pellick_gen.py reads it by the same rules to write the
// module's string table.
//
// UTF-8, one entry a line: a decimal identifier (0 to 65535), a tab, the
// text. Blank lines and lines starting with "#" are skipped; a line may end
// in CR LF. In the text, "\n" is a line break, "\t" a tab, "\\" a backslash;
// any other backslash, an empty text, a repeated identifier or a byte that is
// not UTF-8 is an error.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace vantorel {

using StringTable = std::map<unsigned, std::u16string>;

// Fills table from source. On an error returns false with "line N: why" in
// error; table then holds the entries before that line.
bool ReadStringTable(std::string_view source, StringTable& table, std::string& error);

}  // namespace vantorel
