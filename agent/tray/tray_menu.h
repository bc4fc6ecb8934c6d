// The tray icon's context menus as portable models: what each menu holds for
// one snapshot of the Agent state. The window thread renders a model into a
// popup menu (tray_menu_win.h); nothing here knows the platform.
//
// Identifiers, flags and bitmap numbers are the ones the rendered menu uses,
// so a model item maps one to one onto an appended menu item.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "agent/core/agent_state.h"
#include "resources/ui_strings.h"

namespace vantorel {

// Command identifiers: what TrackPopupMenu returns for a chosen item.
enum TrayCommandId : uint32_t {
    CMD_EXIT = 3000,
    CMD_SIGN_IN_OR_OUT = 3001,
    CMD_START_WITH_WINDOWS = 3003,
    CMD_STORAGE_LINE = 3005,
    CMD_ABOUT = 3006,
    CMD_MANAGE_STORAGE = 3007,
    CMD_UPLOAD_PROGRESS = 3008,
    CMD_PAUSE_ALL = 3009,
    CMD_RESUME_ALL = 3010,
    CMD_CANCEL_ALL = 3011,
    CMD_CHANGE_DOWNLOAD_FOLDER = 3013,
    CMD_DOWNLOAD_PROGRESS = 3014,
    CMD_TOUR = 3015,
    CMD_OPEN_DOWNLOAD_FOLDER = 3016,
    CMD_UPLOADS_PAGE = 3017,
    CMD_UPLOAD_ERRORS = 3018,
    CMD_DOWNLOAD_ERRORS = 3019,
    CMD_DROP_WINDOW = 3020,
    CMD_UPLOADS_FINISHED = 4008,
    CMD_DOWNLOADS_FINISHED = 4014,
    CMD_FEEDBACK = 9998,
    CMD_HELP = 9999,
    CMD_INFORMATION = 10000,  // every separator and disabled information line
};

// Item flags, numbered as the platform's MF_ flags.
inline constexpr uint32_t kMenuItemDisabled = 0x0002;   // MF_DISABLED
inline constexpr uint32_t kMenuItemChecked = 0x0008;    // MF_CHECKED
inline constexpr uint32_t kMenuItemPopup = 0x0010;      // MF_POPUP
inline constexpr uint32_t kMenuItemSeparator = 0x0800;  // MF_SEPARATOR

// Menu pictures of the language module; 0 for none.
enum TrayMenuBitmap : int {
    BMP_ERRORS = 50,
    BMP_CANCEL_ALL = 51,
    BMP_DOWNLOAD_PROGRESS = 52,
    BMP_PAUSE_ALL = 53,
    BMP_RESUME_ALL = 54,
    BMP_FINISHED = 55,
    BMP_UPLOAD_PROGRESS = 56,
};

// The order LoadMenuBitmaps loads them in.
inline constexpr int kMenuBitmapLoadOrder[] = {BMP_CANCEL_ALL,        BMP_PAUSE_ALL, BMP_RESUME_ALL,
                                               BMP_UPLOAD_PROGRESS,   BMP_DOWNLOAD_PROGRESS,
                                               BMP_ERRORS,            BMP_FINISHED};

// Longest item text, in UTF-16 units (the formats' 256-unit buffer).
inline constexpr size_t kMenuTextMaxUnits = 255;

struct TrayMenuItem {
    uint32_t id = CMD_INFORMATION;
    uint32_t flags = 0;
    std::u16string text;
    int bitmap = 0;
    std::vector<TrayMenuItem> submenu;  // kMenuItemPopup only
};

struct TrayMenu {
    std::vector<TrayMenuItem> items;
    // Written to the debug output, in order, when the menu is built.
    std::vector<std::u16string> debugLines;
};

// What a menu shows, read from the Agent state in one go when the user
// clicks, with the start-with-Windows setting.
struct TrayMenuSnapshot {
    bool signedIn = false;
    std::u16string statusName;
    std::u16string storageText;
    std::u16string downloadFolder;
    std::u16string lastUploadTime;
    std::u16string lastDownloadTime;
    TransferProgress upload;
    TransferProgress download;
    bool autostartEnabled = false;
};

TrayMenuSnapshot TakeTrayMenuSnapshot(const AgentState& state, bool autostartEnabled);

enum class TransferDirection { Upload, Download };

TrayMenu BuildStartupMenu(const UiStringSource& strings);
TrayMenu BuildMainMenu(const TrayMenuSnapshot& snapshot, const UiStringSource& strings);
TrayMenu BuildSettingsMenu(const TrayMenuSnapshot& snapshot, const UiStringSource& strings);
TrayMenu BuildHelpMenu(const UiStringSource& strings);

// Appends the lines of one direction; true when it has files and all of them
// are finished or errored.
bool AppendTransferSection(TrayMenu& menu, TransferDirection direction, const TrayMenuSnapshot& snapshot,
                           const UiStringSource& strings);

// "1 d 1 h", "1 h 1 min", "less than a minute" and so on, from the language
// module's formats; minutes are never shown together with days.
std::u16string FormatRemainingTime(int64_t seconds, const UiStringSource& strings);

// The settings line's name: the text after the folder's last backslash, or
// the whole text when it has none.
std::u16string DownloadFolderName(std::u16string_view folder);

}  // namespace vantorel
