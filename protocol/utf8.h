// UTF-8 <-> UTF-16 conversion for the edges where bytes meet text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

// Decodes UTF-8. A byte that does not start a valid, shortest-form sequence
// is widened to one unit on its own, so ASCII and Latin-1 text read as before
// and no byte is ever lost.
std::u16string DecodeUtf8Lenient(std::string_view bytes);

enum class LoneSurrogates {
    Keep,     // encoded on their own (three bytes, as WTF-8 does): every unit survives
    Replace,  // written as U+FFFD, as the platform's converter does
};

// Encodes UTF-16 as UTF-8.
std::string EncodeUtf8(std::u16string_view text, LoneSurrogates lone = LoneSurrogates::Keep);

// A number in decimal digits, for messages and names.
inline std::u16string DecimalText(uint64_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

}  // namespace vantorel
