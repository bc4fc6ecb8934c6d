// The texts of the tray icon record, cut to fit its fixed UTF-16 fields
// (each with room for a terminator).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantorel {

inline constexpr size_t kTooltipMaxUnits = 127;       // szTip[128]
inline constexpr size_t kBalloonTitleMaxUnits = 63;   // szInfoTitle[64]
inline constexpr size_t kBalloonTextMaxUnits = 255;   // szInfo[256]

// The first maxUnits UTF-16 units of text, one fewer when the cut would
// split a surrogate pair (half a character shows as a box). Text ends at an
// embedded terminator, as the field would end it.
std::u16string CutTrayText(std::u16string_view text, size_t maxUnits);

}  // namespace vantorel
