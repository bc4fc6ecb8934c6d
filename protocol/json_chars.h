// Character classes of the JSON layer, fixed here rather than taken from the
// C runtime so that a reply reads the same on every platform and CRT.
#pragma once

namespace vantorel {

// Unicode's White_Space set (all of it lies in the BMP).
constexpr bool IsJsonSpace(char16_t c)
{
    if (c <= 0x20)
        return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x85)
        return false;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Unicode's Cc set: C0 controls, DEL and C1 controls.
constexpr bool IsJsonControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// A control unit that is not white space: the parser rejects it anywhere.
constexpr bool IsForbiddenControl(char16_t c)
{
    return IsJsonControl(c) && !IsJsonSpace(c);
}

}  // namespace vantorel
