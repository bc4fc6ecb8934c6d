// The thread that pops the tray window up next to the tray icon while the
// user drags something onto the icon, and hides it again.
#pragma once

#include <windows.h>

namespace vantorel {

// The notification area's screen rectangle without the clock, estimated
// from the taskbar's windows, else from the taskbar's position, else from
// the work area. False when none of them could be read.
bool GetNotificationAreaRect(RECT& rect);

// The icon's rectangle: asked of the shell on Windows 7 and later, else (or
// when the shell cannot say, as for an icon in the overflow area) the
// notification area. False when no rectangle can be had.
bool GetTrayIconRect(RECT& rect);

// Starts the placement thread (once, after InitTrayIcon); it runs until the
// process ends.
void StartPopupPlacementThread();

}  // namespace vantorel
