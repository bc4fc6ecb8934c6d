// The agent's one notification-area icon: its record, picture, tooltip and
// balloons. Window thread only, except TrayIconIdentity, which the popup
// placement thread reads after InitTrayIcon.
#pragma once

#include <windows.h>

#include <string>

namespace vantorel {

class AgentState;

inline constexpr UINT kTrayIconUid = 5000;
inline constexpr int kBalloonIconId = 20;

// Fills the record for window with the picture of the state's trayIconId.
void InitTrayIcon(HWND window, AgentState* state);
// Shows the picture of the current trayIconId; the shell is not asked again
// for the picture it already shows.
void RefreshTrayIcon();
void SetTrayTooltip(const std::u16string& text);
// A balloon from the icon; the record itself keeps no balloon.
void ShowBalloon(const std::u16string& title, const std::u16string& text);
// NIM_ADD / NIM_DELETE with the record (start, a new taskbar, exit).
void AddTrayIcon();
void RemoveTrayIcon();

struct TrayIconIdentity {
    HWND window;
    UINT uid;
};
TrayIconIdentity GetTrayIconIdentity();

// The picture id of the language module: a tray picture at the size of the
// taskbar's slot (the small-icon metric), the balloon's icon 20 shared at the
// large-icon size; null when the module or the picture is missing. Each id
// is loaded once and kept until the slot changes size.
HICON LoadTrayPicture(int id);
// When the slot's size has changed (a new display scale, a new taskbar):
// loads the tray pictures again at the new size and shows the current one.
void ReloadTrayPicturesForSlot();

}  // namespace vantorel
