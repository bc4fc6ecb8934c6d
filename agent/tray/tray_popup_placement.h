// Where the tray window pops up next to the tray icon, and when: the
// decision of one pass of the placement thread, and the estimates of the
// notification area used where the shell cannot say where the icon is.
// Portable; the Windows side gathers the inputs and applies the result.
#pragma once

#include <cstdint>
#include <string_view>

namespace vantorel {

// Screen coordinates, right and bottom exclusive as Windows has them.
struct ScreenRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

struct ScreenPoint {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

inline constexpr uint32_t kPlacementPeriodMs = 100;

// What the placement thread remembers between passes.
struct PopupPlacementState {
    int32_t holdCount = 0;  // passes with the left button held near the icon
    bool popupShown = false;
    friend bool operator==(const PopupPlacementState&, const PopupPlacementState&) = default;
};

enum class PopupAction {
    None,
    Show,  // move the window's top-left corner to `corner`, topmost, show, focus
    Hide,
};

// What one pass saw. windowRectRead: whether the tray window's rectangle
// could be read (it is needed to keep the window's size when it moves).
struct PopupPassInput {
    ScreenRect icon;
    ScreenPoint pointer;
    bool leftButtonHeld = false;
    bool windowRectRead = true;
};

struct PopupDecision {
    PopupPlacementState next;
    PopupAction action = PopupAction::None;
    ScreenPoint corner;
};

// Where the popup's top-left corner goes for an icon rectangle: 160 to the
// left and 60 above the icon, never off the top or left screen edge.
ScreenPoint PopupCorner(const ScreenRect& icon);

// Within 30 pixels of the icon on each side, edges included.
bool IsNearIcon(const ScreenRect& icon, ScreenPoint pointer);

// The zone in which a shown popup stays while the pointer travels towards it.
bool IsInKeepShownZone(const ScreenRect& icon, ScreenPoint pointer);

// One pass. The popup shows once the button has been seen held near the icon
// in two passes; it hides when the pointer is near the icon with the button
// up (which also restarts the count) or leaves the keep-shown zone.
PopupDecision DecidePopupPlacement(const PopupPassInput& input, PopupPlacementState state);

// Whether a pass, whatever the pointer's place, could change nothing but
// hide the window: button up, and nothing counted or shown.
bool IsPassAtRest(const PopupPlacementState& state, bool leftButtonHeld);

// ---- estimates of the notification area ----------------------------------

// Apply one descendant window of the taskbar, in enumeration order, to the
// area (which starts as the taskbar's rectangle). Returns false when the
// enumeration should stop (the clock has been found).
bool ApplyTaskbarChildWindow(ScreenRect& area, std::u16string_view className, const ScreenRect& window);

// Taskbar edges as the shell reports them.
inline constexpr uint32_t kTaskbarEdgeLeft = 0;
inline constexpr uint32_t kTaskbarEdgeTop = 1;
inline constexpr uint32_t kTaskbarEdgeRight = 2;
inline constexpr uint32_t kTaskbarEdgeBottom = 3;

// From the taskbar's position alone: a strip near its end. An unknown edge
// leaves `area` as it is.
ScreenRect NotificationAreaFromTaskbarPosition(uint32_t edge, const ScreenRect& taskbar, const ScreenRect& area);

// Last resort: the 150 x 30 strip in the lower right corner of the work area.
ScreenRect NotificationAreaFromWorkArea(const ScreenRect& workArea);

}  // namespace vantorel
