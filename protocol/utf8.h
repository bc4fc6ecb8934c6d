// UTF-8 <-> UTF-16 conversion for the edges where bytes meet text.
#pragma once

#include <string>
#include <string_view>

namespace vantorel {

// Decodes UTF-8. A byte that does not start a valid, shortest-form sequence
// is widened to one unit on its own, so ASCII and Latin-1 text read as before
// and no byte is ever lost.
std::u16string DecodeUtf8Lenient(std::string_view bytes);

// Encodes UTF-16 as UTF-8. A lone surrogate is encoded on its own (three
// bytes, as WTF-8 does) rather than dropped, so every unit survives.
std::string EncodeUtf8(std::u16string_view text);

}  // namespace vantorel
