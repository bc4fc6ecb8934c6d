#include "agent/tray/shell_notify_win.h"

#include "agent/tray/tray_popup_placement_win.h"

#include <process.h>

#include <string>

#include "agent/service/windows_version.h"
#include "agent/service/windows_version_win.h"
#include "agent/tray/tray_icon_win.h"
#include "agent/tray/tray_popup_placement.h"

namespace vantorel {
namespace {

#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(NOTIFYICONIDENTIFIER) == 28);
static_assert(sizeof(APPBARDATA) == 36);
#endif

using GetIconRectFunction = HRESULT(WINAPI*)(const NOTIFYICONIDENTIFIER*, RECT*);

void EnsureVersionChecked() {
    if (!osVersionChecked.load()) CheckWindowsVersion();
}

ScreenRect FromRect(const RECT& rect) {
    return {static_cast<int32_t>(rect.left), static_cast<int32_t>(rect.top), static_cast<int32_t>(rect.right),
            static_cast<int32_t>(rect.bottom)};
}

RECT ToRect(const ScreenRect& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

BOOL CALLBACK ApplyTaskbarChild(HWND child, LPARAM area) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(child, name, 256);
    RECT window = {};
    if (length <= 0 || !GetWindowRect(child, &window)) return TRUE;
    const std::u16string className(name, name + length);
    return ApplyTaskbarChildWindow(*reinterpret_cast<ScreenRect*>(area), className, FromRect(window)) ? TRUE
                                                                                                        : FALSE;
}

GetIconRectFunction LookUpIconRectQuery() {
    EnsureVersionChecked();
    if (!isWindows7OrLater.load()) return nullptr;
    HMODULE shell = GetModuleHandleW(L"Shell32.dll");
    if (!shell) return nullptr;
    return reinterpret_cast<GetIconRectFunction>(
        reinterpret_cast<void*>(GetProcAddress(shell, "Shell_NotifyIconGetRect")));
}

unsigned __stdcall TrayPopupPlacementThread(void*) {
    PopupPlacementState state;
    for (;;) {
        Sleep(kPlacementPeriodMs);
        const HWND window = GetTrayIconIdentity().window;
        const bool leftButtonHeld = (GetKeyState(VK_LBUTTON) & 0xFF00) != 0;
        // At rest a pass can only hide a window that is hidden already, and
        // asking where the icon is costs a walk over the taskbar's windows
        // where the shell cannot say: ten times a second, the agent's
        // largest idle cost after its requests.
        if (IsPassAtRest(state, leftButtonHeld) && !IsWindowVisible(window)) continue;
        RECT icon = {};
        if (!GetTrayIconRect(icon)) continue;
        POINT pointer = {};
        if (!GetCursorPos(&pointer)) continue;

        PopupPassInput input;
        input.icon = FromRect(icon);
        input.pointer = {static_cast<int32_t>(pointer.x), static_cast<int32_t>(pointer.y)};
        input.leftButtonHeld = leftButtonHeld;
        RECT current = {};
        input.windowRectRead = GetWindowRect(window, &current) != FALSE;

        const PopupDecision decision = DecidePopupPlacement(input, state);
        state = decision.next;
        switch (decision.action) {
        case PopupAction::Show:
            SetWindowPos(window, HWND_TOPMOST, decision.corner.x, decision.corner.y, current.right - current.left,
                         current.bottom - current.top, 0);
            ShowWindow(window, SW_SHOWNORMAL);
            SetFocus(window);
            break;
        case PopupAction::Hide:
            // Most passes find it hidden already; asking again would only
            // send the window thread a message every 100 ms.
            if (IsWindowVisible(window)) ShowWindow(window, SW_HIDE);
            break;
        case PopupAction::None:
            break;
        }
    }
}

}  // namespace

bool GetNotificationAreaRect(RECT& rect) {
    if (HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr)) {
        RECT bar = {};
        if (GetWindowRect(taskbar, &bar)) {
            ScreenRect area = FromRect(bar);
            EnumChildWindows(taskbar, ApplyTaskbarChild, reinterpret_cast<LPARAM>(&area));
            rect = ToRect(area);
            return true;
        }
    }
    APPBARDATA bar = {};
    bar.cbSize = sizeof bar;
    if (SHAppBarMessage(ABM_GETTASKBARPOS, &bar)) {
        rect = ToRect(NotificationAreaFromTaskbarPosition(bar.uEdge, FromRect(bar.rc), FromRect(rect)));
        return true;
    }
    RECT work = {};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return false;
    rect = ToRect(NotificationAreaFromWorkArea(FromRect(work)));
    return true;
}

bool GetTrayIconRect(RECT& rect) {
    const TrayIconIdentity identity = GetTrayIconIdentity();
    NOTIFYICONIDENTIFIER icon = {};
    icon.cbSize = sizeof icon;
    icon.hWnd = identity.window;
    icon.uID = identity.uid;
    // Looked up once, by the first pass of the placement thread.
    static const GetIconRectFunction iconRectQuery = LookUpIconRectQuery();
    rect = {};
    if (iconRectQuery && SUCCEEDED(iconRectQuery(&icon, &rect))) return true;
    // The shell may not know the icon's place (hidden in the overflow area,
    // or no such query): the area it sits in is the next best target, and
    // without one the popup could never show.
    rect = {};
    return GetNotificationAreaRect(rect);
}

void StartPopupPlacementThread() {
    const uintptr_t thread = _beginthreadex(nullptr, 0, TrayPopupPlacementThread, nullptr, 0, nullptr);
    if (thread) CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace vantorel
