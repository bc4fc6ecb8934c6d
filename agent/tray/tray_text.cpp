#include "agent/tray/tray_text.h"

namespace vantorel {
namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::u16string CutTrayText(std::u16string_view text, size_t maxUnits) {
    const size_t terminator = text.find(u'\0');
    if (terminator != std::u16string_view::npos) text = text.substr(0, terminator);
    if (text.size() <= maxUnits) return std::u16string(text);
    size_t length = maxUnits;
    if (length > 0 && IsHighSurrogate(text[length - 1]) && IsLowSurrogate(text[length])) --length;
    return std::u16string(text.substr(0, length));
}

}  // namespace vantorel
