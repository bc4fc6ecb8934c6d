#include "agent/tray/tray_popup_placement.h"

#include <algorithm>
#include <limits>

namespace vantorel {
namespace {

constexpr int64_t kNearMargin = 30;
constexpr int64_t kPopupLeftOffset = 160;
constexpr int64_t kPopupUpOffset = 60;
constexpr int64_t kKeepShownSide = 120;
constexpr int64_t kKeepShownAbove = 200;
constexpr int64_t kKeepShownBelow = 50;
constexpr int64_t kPositionStripFar = 100;
constexpr int64_t kPositionStripNear = 16;
constexpr int32_t kWorkAreaStripWidth = 150;
constexpr int32_t kWorkAreaStripHeight = 30;
constexpr int64_t kClockVerticalSlack = 5;

// Arithmetic in 64 bits so that rectangles near the ends of the range
// cannot overflow; results are brought back into range.
int32_t Clamp32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

}  // namespace

ScreenPoint PopupCorner(const ScreenRect& icon) {
    return {Clamp32(std::max<int64_t>(0, int64_t{icon.left} - kPopupLeftOffset)),
            Clamp32(std::max<int64_t>(0, int64_t{icon.top} - kPopupUpOffset))};
}

bool IsNearIcon(const ScreenRect& icon, ScreenPoint pointer) {
    const int64_t x = pointer.x;
    const int64_t y = pointer.y;
    return icon.left - kNearMargin <= x && x <= icon.right + kNearMargin && icon.top - kNearMargin <= y &&
           y <= icon.bottom + kNearMargin;
}

bool IsInKeepShownZone(const ScreenRect& icon, ScreenPoint pointer) {
    const int64_t x = pointer.x;
    const int64_t y = pointer.y;
    return icon.left - kKeepShownSide < x && x < icon.right + kKeepShownSide && icon.top - kKeepShownAbove < y &&
           y < icon.bottom + kKeepShownBelow;
}

PopupDecision DecidePopupPlacement(const PopupPassInput& input, PopupPlacementState state) {
    PopupDecision decision;
    decision.next = state;
    decision.corner = PopupCorner(input.icon);

    if (!IsNearIcon(input.icon, input.pointer)) {
        if (IsInKeepShownZone(input.icon, input.pointer)) return decision;
        decision.action = PopupAction::Hide;
        decision.next.popupShown = false;
        return decision;
    }
    if (!input.windowRectRead) return decision;

    if (!input.leftButtonHeld) {
        decision.action = PopupAction::Hide;
        decision.next = {};
        return decision;
    }
    // Saturates: a button held for years must not wrap the count around.
    if (decision.next.holdCount < std::numeric_limits<int32_t>::max()) ++decision.next.holdCount;
    // The first pass with the button held is a click, not a drag.
    if (decision.next.holdCount <= 1 || state.popupShown) return decision;
    decision.action = PopupAction::Show;
    decision.next.popupShown = true;
    return decision;
}

bool IsPassAtRest(const PopupPlacementState& state, bool leftButtonHeld) {
    return !leftButtonHeld && state == PopupPlacementState{};
}

bool ApplyTaskbarChildWindow(ScreenRect& area, std::u16string_view className, const ScreenRect& window) {
    if (className == u"TrayNotifyWnd") {
        area = window;
        return true;
    }
    if (className == u"TrayClockWClass") {
        // A clock ending well above the area's bottom sits above the icons
        // (vertical taskbar); otherwise it sits to their right.
        if (int64_t{window.bottom} < int64_t{area.bottom} - kClockVerticalSlack)
            area.top = window.bottom;
        else
            area.right = window.left;
        return false;
    }
    return true;
}

ScreenRect NotificationAreaFromTaskbarPosition(uint32_t edge, const ScreenRect& taskbar, const ScreenRect& area) {
    switch (edge) {
    case kTaskbarEdgeLeft:
    case kTaskbarEdgeRight:
        return {taskbar.left, Clamp32(int64_t{taskbar.bottom} - kPositionStripFar), taskbar.right,
                Clamp32(int64_t{taskbar.bottom} - kPositionStripNear)};
    case kTaskbarEdgeTop:
    case kTaskbarEdgeBottom:
        return {Clamp32(int64_t{taskbar.right} - kPositionStripFar), taskbar.top,
                Clamp32(int64_t{taskbar.right} - kPositionStripNear), taskbar.bottom};
    default:
        return area;
    }
}

ScreenRect NotificationAreaFromWorkArea(const ScreenRect& workArea) {
    ScreenRect area = workArea;
    area.left = Clamp32(int64_t{workArea.right} - kWorkAreaStripWidth);
    area.top = Clamp32(int64_t{workArea.bottom} - kWorkAreaStripHeight);
    return area;
}

}  // namespace vantorel
