// The tray icon's menus on screen and the commands behind their items. The
// window thread builds a portable model (tray_menu.h), renders it here into
// a popup menu, tracks it at the pointer and runs the chosen command.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "agent/tray/tray_menu.h"

namespace vantorel {

// A new popup menu holding the model's items (submenus attached), with the
// menu images set; null when the system gives no menu. The caller destroys
// it, which destroys its submenus.
HMENU RenderTrayMenu(const TrayMenu& model);

// Builds the model, writes its debug lines, shows it at the pointer with the
// tray window as owner and destroys it; the chosen identifier, 0 when none.
uint32_t ShowTrayMenu(HWND window, const std::function<TrayMenu()>& builder);

// The menu images, loaded once on Windows Vista and later and never freed;
// before Vista the items show none.
void LoadMenuBitmaps();

// WM_TRAYICON_NOTIFY: tooltip, balloon click, and the menu on either button.
void OnTrayIconNotify(HWND window, WPARAM wParam, LPARAM lParam);

// What choosing identifier id does; window thread.
void RunTrayCommand(uint32_t id);

// Thread entries: one control request (argument: a heap std::u16string URL,
// owned by the thread), and the two confirmations (no argument).
unsigned __stdcall SendCommandThread(void* url);
unsigned __stdcall ConfirmExitThread(void*);
unsigned __stdcall ConfirmSignOutThread(void*);

}  // namespace vantorel
