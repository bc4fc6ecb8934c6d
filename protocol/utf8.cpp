#include "protocol/utf8.h"

#include <cstdint>

namespace vantorel {

std::u16string DecodeUtf8Lenient(std::string_view bytes)
{
    std::u16string text;
    text.reserve(bytes.size());
    const size_t n = bytes.size();
    size_t k = 0;
    while (k < n) {
        const uint8_t lead = static_cast<uint8_t>(bytes[k]);
        if (lead < 0x80) {
            text.push_back(lead);
            ++k;
            continue;
        }
        size_t length = 0;
        uint32_t code = 0;
        uint32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07, minimum = 0x10000;
        }
        bool valid = length > 0 && k + length <= n;
        for (size_t m = 1; valid && m < length; ++m) {
            const uint8_t next = static_cast<uint8_t>(bytes[k + m]);
            if ((next & 0xC0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, encoded surrogates and code points past U+10FFFF
        // are not valid UTF-8.
        valid = valid && code >= minimum && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            text.push_back(lead);
            ++k;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            text.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(code));
        }
        k += length;
    }
    return text;
}

std::string EncodeUtf8(std::u16string_view text, LoneSurrogates lone)
{
    std::string bytes;
    bytes.reserve(text.size());
    const size_t n = text.size();
    for (size_t k = 0; k < n; ++k) {
        uint32_t code = text[k];
        if (code >= 0xD800 && code <= 0xDBFF && k + 1 < n && text[k + 1] >= 0xDC00 &&
            text[k + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[k + 1] - 0xDC00);
            ++k;
        } else if (code >= 0xD800 && code <= 0xDFFF && lone == LoneSurrogates::Replace) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            bytes.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (code >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (code >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (code >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return bytes;
}

}  // namespace vantorel
