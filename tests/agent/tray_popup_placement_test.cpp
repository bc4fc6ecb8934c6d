#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "agent/tray/tray_popup_placement.h"
#include "agent/tray/tray_text.h"

namespace vantorel {
namespace {

// A 16 x 16 icon in a bottom-right notification area.
constexpr ScreenRect kIcon{1000, 740, 1016, 756};
constexpr ScreenPoint kOnIcon{1008, 748};

struct Pass {
    ScreenPoint pointer;
    bool held;
    PopupAction action;
    int32_t holdCount;
    bool shown;
};

// Runs passes in order from a fresh thread state, checking each outcome.
void RunPasses(const ScreenRect& icon, const std::vector<Pass>& passes) {
    PopupPlacementState state;
    for (size_t i = 0; i < passes.size(); ++i) {
        const Pass& pass = passes[i];
        const PopupDecision decision = DecidePopupPlacement({icon, pass.pointer, pass.held, true}, state);
        SCOPED_TRACE(testing::Message() << "pass " << i);
        EXPECT_EQ(decision.action, pass.action);
        EXPECT_EQ(decision.next.holdCount, pass.holdCount);
        EXPECT_EQ(decision.next.popupShown, pass.shown);
        if (decision.action == PopupAction::Show) {
            EXPECT_EQ(decision.corner, PopupCorner(icon));
        }
        state = decision.next;
    }
}

TEST(PopupPlacement, ShowsOnSecondHeldPassAndHidesOnRelease) {
    RunPasses(kIcon, {
                         {kOnIcon, true, PopupAction::None, 1, false},  // a click, not yet a drag
                         {kOnIcon, true, PopupAction::Show, 2, true},
                         {kOnIcon, true, PopupAction::None, 3, true},   // shown once only
                         {{970, 786}, false, PopupAction::Hide, 0, false},  // 30 px off: still near
                         {kOnIcon, true, PopupAction::None, 1, false},  // count restarted
                     });
}

TEST(PopupPlacement, KeepShownZoneWhileMovingTowardsThePopup) {
    RunPasses(kIcon, {
                         {kOnIcon, true, PopupAction::None, 1, false},
                         {kOnIcon, true, PopupAction::Show, 2, true},
                         {{900, 590}, true, PopupAction::None, 2, true},    // 100 left, 150 above
                         {{kIcon.left - 119, 748}, false, PopupAction::None, 2, true},
                         {{kIcon.left - 130, 748}, true, PopupAction::Hide, 2, false},
                         // back near with the button still held: the kept count shows it at once
                         {kOnIcon, true, PopupAction::Show, 3, true},
                         {{kIcon.left - 120, 748}, true, PopupAction::Hide, 3, false},  // zone edge is outside
                         {{1008, kIcon.bottom + 50}, true, PopupAction::Hide, 3, false},
                         {{1008, kIcon.top - 200}, true, PopupAction::Hide, 3, false},
                     });
}

TEST(PopupPlacement, PassWithoutTheWindowRectangleChangesNothing) {
    const PopupPlacementState state{1, false};
    const PopupDecision near = DecidePopupPlacement({kIcon, kOnIcon, true, false}, state);
    EXPECT_EQ(near.action, PopupAction::None);
    EXPECT_EQ(near.next, state);
    // away from the icon the rectangle is not needed
    const PopupDecision away = DecidePopupPlacement({kIcon, {0, 0}, true, false}, {1, true});
    EXPECT_EQ(away.action, PopupAction::Hide);
}

// The placement thread skips passes at rest without asking where the icon
// is; that is sound only if no such pass could show or change the state.
TEST(PopupPlacement, PassAtRestCanOnlyHide) {
    EXPECT_TRUE(IsPassAtRest({}, false));
    EXPECT_FALSE(IsPassAtRest({}, true));
    EXPECT_FALSE(IsPassAtRest({2, false}, false));  // a later release near the icon must reset it
    EXPECT_FALSE(IsPassAtRest({0, true}, false));
    for (const ScreenPoint pointer : {kOnIcon, ScreenPoint{kIcon.left - 60, 748}, ScreenPoint{0, 0}}) {
        for (const bool rectRead : {true, false}) {
            const PopupDecision decision = DecidePopupPlacement({kIcon, pointer, false, rectRead}, {});
            EXPECT_NE(decision.action, PopupAction::Show);
            EXPECT_EQ(decision.next, PopupPlacementState{});
        }
    }
}

TEST(PopupPlacement, HoldCountSaturates) {
    const PopupPlacementState state{std::numeric_limits<int32_t>::max(), true};
    const PopupDecision decision = DecidePopupPlacement({kIcon, kOnIcon, true, true}, state);
    EXPECT_EQ(decision.next.holdCount, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(decision.action, PopupAction::None);
}

TEST(PopupPlacement, CornerNeverOffTheTopOrLeftEdge) {
    EXPECT_EQ(PopupCorner(kIcon), (ScreenPoint{840, 680}));
    EXPECT_EQ(PopupCorner({100, 30, 116, 46}), (ScreenPoint{0, 0}));   // icon at the top left
    EXPECT_EQ(PopupCorner({160, 60, 176, 76}), (ScreenPoint{0, 0}));
    EXPECT_EQ(PopupCorner({161, 61, 177, 77}), (ScreenPoint{1, 1}));
    const int32_t low = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(PopupCorner({low, low, low + 16, low + 16}), (ScreenPoint{0, 0}));
    const int32_t high = std::numeric_limits<int32_t>::max();
    EXPECT_FALSE(IsNearIcon({high - 16, high - 16, high, high}, {low, low}));
    EXPECT_TRUE(IsInKeepShownZone({high - 16, high - 16, high, high}, {high, high}));
}

TEST(NotificationArea, ClockSplitsTheAreaByTaskbarOrientation) {
    // horizontal taskbar at the bottom: the clock is right of the icons
    ScreenRect area{0, 738, 1024, 768};
    EXPECT_TRUE(ApplyTaskbarChildWindow(area, u"Button", {0, 738, 60, 768}));
    EXPECT_TRUE(ApplyTaskbarChildWindow(area, u"TrayNotifyWnd", {900, 740, 1022, 766}));
    EXPECT_EQ(area, (ScreenRect{900, 740, 1022, 766}));
    EXPECT_FALSE(ApplyTaskbarChildWindow(area, u"TrayClockWClass", {980, 742, 1020, 762}));  // 4 px: not above
    EXPECT_EQ(area, (ScreenRect{900, 740, 980, 766}));

    // vertical taskbar on the right: the clock ends above the icons
    area = {960, 0, 1024, 768};
    EXPECT_TRUE(ApplyTaskbarChildWindow(area, u"TrayNotifyWnd", {962, 600, 1022, 766}));
    EXPECT_FALSE(ApplyTaskbarChildWindow(area, u"TrayClockWClass", {962, 600, 1022, 620}));
    EXPECT_EQ(area, (ScreenRect{962, 620, 1022, 766}));

    // class names compare exactly
    area = {0, 738, 1024, 768};
    EXPECT_TRUE(ApplyTaskbarChildWindow(area, u"traynotifywnd", {900, 740, 1022, 766}));
    EXPECT_TRUE(ApplyTaskbarChildWindow(area, u"TrayClockWClassX", {980, 742, 1020, 762}));
    EXPECT_EQ(area, (ScreenRect{0, 738, 1024, 768}));
}

TEST(NotificationArea, EstimatesWithoutATaskbarWindow) {
    const ScreenRect bottom{0, 738, 1024, 768};
    const ScreenRect left{0, 0, 60, 768};
    const ScreenRect zero{};
    EXPECT_EQ(NotificationAreaFromTaskbarPosition(kTaskbarEdgeBottom, bottom, zero), (ScreenRect{924, 738, 1008, 768}));
    EXPECT_EQ(NotificationAreaFromTaskbarPosition(kTaskbarEdgeTop, {0, 0, 1024, 30}, zero), (ScreenRect{924, 0, 1008, 30}));
    EXPECT_EQ(NotificationAreaFromTaskbarPosition(kTaskbarEdgeLeft, left, zero), (ScreenRect{0, 668, 60, 752}));
    EXPECT_EQ(NotificationAreaFromTaskbarPosition(kTaskbarEdgeRight, {964, 0, 1024, 768}, zero),
              (ScreenRect{964, 668, 1024, 752}));
    EXPECT_EQ(NotificationAreaFromTaskbarPosition(4, bottom, zero), zero);
    EXPECT_EQ(NotificationAreaFromWorkArea({0, 0, 1024, 738}), (ScreenRect{874, 708, 1024, 738}));
}

TEST(TrayText, CutsToTheFieldWithoutSplittingACharacter) {
    const std::u16string longName(200, u'n');
    EXPECT_EQ(CutTrayText(longName, kTooltipMaxUnits), std::u16string(127, u'n'));
    EXPECT_EQ(CutTrayText(std::u16string(64, u't'), kBalloonTitleMaxUnits).size(), 63u);
    EXPECT_EQ(CutTrayText(std::u16string(63, u't'), kBalloonTitleMaxUnits).size(), 63u);
    EXPECT_EQ(CutTrayText(std::u16string(256, u'x'), kBalloonTextMaxUnits).size(), 255u);
    EXPECT_EQ(CutTrayText(u"", kTooltipMaxUnits), u"");

    // U+1F4C1 (two units) straddling the cut is dropped whole
    std::u16string pair = std::u16string(62, u'a') + u"\U0001F4C1" + u"b";
    EXPECT_EQ(CutTrayText(pair, kBalloonTitleMaxUnits), std::u16string(62, u'a'));
    pair = std::u16string(61, u'a') + u"\U0001F4C1" + u"b";
    EXPECT_EQ(CutTrayText(pair, kBalloonTitleMaxUnits), std::u16string(61, u'a') + u"\U0001F4C1");
    // a lone high surrogate is not a pair: cut as any unit
    const std::u16string lone = std::u16string(62, u'a') + u"\xD83D" + u"b";
    EXPECT_EQ(CutTrayText(lone, kBalloonTitleMaxUnits).size(), 63u);

    EXPECT_EQ(CutTrayText(std::u16string(u"ab\0cd", 5), kTooltipMaxUnits), u"ab");
}

}  // namespace
}  // namespace vantorel
