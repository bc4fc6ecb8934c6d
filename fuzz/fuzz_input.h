// What every fuzz target shares: a check that stops the run, and the bytes
// of an input read as the text of a reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/utf8.h"

namespace vantorel::fuzz {

// abort() rather than an exception: libFuzzer then keeps the input.
inline void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// UTF-8 as replies arrive; after a UTF-16LE byte order mark, raw UTF-16 units,
// so that lone surrogates and units UTF-8 cannot carry are reached too. One
// decoding per input keeps each execution to one job.
inline std::u16string InputText(const uint8_t* data, size_t size)
{
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        std::u16string units((size - 2) / 2, u'\0');
        for (size_t k = 0; k < units.size(); ++k)
            units[k] = static_cast<char16_t>(data[2 + 2 * k] | (data[3 + 2 * k] << 8));
        return units;
    }
    return DecodeUtf8Lenient(std::string(reinterpret_cast<const char*>(data), size));
}

}  // namespace vantorel::fuzz
