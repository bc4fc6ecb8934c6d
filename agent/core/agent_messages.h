// Names the agent shares with the shell and with its other programs: the
// private window messages of the tray window, the tray icon identifiers,
// and the window, mutex and message names by which the agent is found.
#pragma once

#include <cstdint>
#include <string_view>

namespace vantorel {

// Private messages of the tray window (WM_USER + n).
inline constexpr uint32_t WM_TRAYICON_NOTIFY = 0x401;   // the shell, for the tray icon
inline constexpr uint32_t WM_SHOW_BALLOON = 0x403;      // wParam, lParam: owned strings
inline constexpr uint32_t WM_REFRESH_TRAYICON = 0x404;  // reload the icon of trayIconId
inline constexpr uint32_t WM_QUIT_REQUEST = 0x405;      // sent by the quit tool and a newer copy

// Tray icon resources of the language module; 22 is never used.
inline constexpr int32_t ICON_IDLE = 21;
inline constexpr int32_t ICON_COMPLETED = 23;
inline constexpr int32_t ICON_ERROR = 24;
inline constexpr int32_t ICON_BUSY = 25;
inline constexpr int32_t ICON_SIGNED_OUT = 26;

inline constexpr std::u16string_view kProductName = u"Vantorel";
inline constexpr std::u16string_view kWindowClassName = u"Vantorel";
inline constexpr std::u16string_view kInstanceMutexName = u"Vantorel_Instance";
inline constexpr std::u16string_view kAgentMessageName = u"VantorelPellick";
inline constexpr std::u16string_view kTaskbarCreatedMessageName = u"TaskbarCreated";

}  // namespace vantorel
