#include "agent/tray/tray_menu_win.h"

#include <process.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "agent/core/agent_window_win.h"
#include "agent/service/ui_resources_win.h"
#include "agent/service/windows_version.h"
#include "agent/service/windows_version_win.h"
#include "agent/tray/autostart_win.h"
#include "agent/tray/tray_commands.h"
#include "agent/tray/tray_icon_win.h"
#include "protocol/debug_output.h"
#include "protocol/http_client.h"

namespace vantorel {
namespace {

constexpr int kFirstMenuBitmap = BMP_ERRORS;
constexpr int kMenuBitmapCount = BMP_UPLOAD_PROGRESS - BMP_ERRORS + 1;
// Written once by LoadMenuBitmaps on the window thread, read there only.
HBITMAP menuBitmaps[kMenuBitmapCount] = {};

HBITMAP MenuBitmap(int id) {
    if (id < kFirstMenuBitmap || id >= kFirstMenuBitmap + kMenuBitmapCount) return nullptr;
    return menuBitmaps[id - kFirstMenuBitmap];
}

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool AppendItems(HMENU menu, const std::vector<TrayMenuItem>& items) {
    for (const TrayMenuItem& item : items) {
        UINT_PTR id = item.id;
        if (item.flags & kMenuItemPopup) {
            HMENU submenu = CreatePopupMenu();
            if (!submenu) return false;
            if (!AppendItems(submenu, item.submenu)) {
                DestroyMenu(submenu);
                return false;
            }
            id = reinterpret_cast<UINT_PTR>(submenu);
        }
        const wchar_t* text = (item.flags & kMenuItemSeparator) ? nullptr : Wide(item.text);
        if (!AppendMenuW(menu, item.flags, id, text)) {
            if (item.flags & kMenuItemPopup) DestroyMenu(reinterpret_cast<HMENU>(id));
            return false;
        }
        if (HBITMAP bitmap = MenuBitmap(item.bitmap)) SetMenuItemBitmaps(menu, item.id, MF_BYCOMMAND, bitmap, bitmap);
    }
    return true;
}

// Starts a command thread; when none starts, its argument is freed here.
void StartCommandThread(unsigned(__stdcall* entry)(void*), std::unique_ptr<std::u16string> argument) {
    const uintptr_t thread = _beginthreadex(nullptr, 0, entry, argument.get(), 0, nullptr);
    if (thread == 0) return;
    argument.release();
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

void OpenDownloadFolder() {
    const AgentState* state = Agent().state;
    const std::u16string folder = state ? state->GetDownloadFolder() : std::u16string();
    // The service has not named one yet: "open" on an empty name would show
    // whatever the current folder is.
    if (folder.empty()) return;
    ShellExecuteW(nullptr, L"open", Wide(folder), nullptr, nullptr, SW_SHOWNORMAL);
}

unsigned RunConfirmationThread(Confirmation which) {
    try {
        ConfirmationIo io;
        io.fetch = [](ServiceRequest request) {
            std::u16string text;
            HttpGetText(std::u16string(ServiceUrl(request)), text);
            return text;
        };
        io.askOkCancel = [](const std::u16string& text, const std::u16string& caption) {
            return MessageBoxW(nullptr, Wide(text), Wide(caption), MB_OKCANCEL) != IDCANCEL;
        };
        io.send = [](ServiceRequest request) { HttpGetNoReply(std::u16string(ServiceUrl(request))); };
        io.postQuit = [] { PostMessageW(Agent().mainWindow.load(), WM_QUIT, 0, 0); };
        RunConfirmation(which, io, LoadUiString);
    } catch (...) {
        // Out of memory: the command is dropped, the agent goes on.
    }
    return 0;
}

}  // namespace

HMENU RenderTrayMenu(const TrayMenu& model) {
    HMENU menu = CreatePopupMenu();
    if (menu && !AppendItems(menu, model.items)) {
        DestroyMenu(menu);
        return nullptr;
    }
    return menu;
}

uint32_t ShowTrayMenu(HWND window, const std::function<TrayMenu()>& builder) {
    const TrayMenu model = builder();
    for (const std::u16string& line : model.debugLines) DebugOutput(line);
    HMENU menu = RenderTrayMenu(model);
    if (!menu) return 0;
    SetForegroundWindow(window);
    POINT pointer = {};
    GetCursorPos(&pointer);
    const BOOL chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, pointer.x, pointer.y, 0, window, nullptr);
    // Without a message after it, a menu of a background window may not
    // close when the user clicks elsewhere the next time.
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    return static_cast<uint32_t>(chosen);
}

void LoadMenuBitmaps() {
    if (!osVersionChecked.load()) CheckWindowsVersion();
    if (!isVistaOrLater.load()) return;
    for (int id : kMenuBitmapLoadOrder) {
        HMODULE module = LoadUiResourceModule();
        HANDLE bitmap = module ? LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_SHARED) : nullptr;
        if (module) FreeLibrary(module);
        menuBitmaps[id - kFirstMenuBitmap] = static_cast<HBITMAP>(bitmap);
    }
}

void OnTrayIconNotify(HWND window, WPARAM, LPARAM lParam) {
    AgentState* state = Agent().state;
    if (!state) return;
    if (state->TakePendingDisplayName()) SetTrayTooltip(state->GetDisplayName());
    switch (static_cast<UINT>(lParam)) {
    case NIN_BALLOONUSERCLICK:
        DebugOutput(u"balloon clicked");
        return;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        try {
            const int32_t icon = state->GetTrayIconId();
            if (icon == ICON_COMPLETED || icon == ICON_ERROR) state->AcknowledgeTrayIcon();
            const bool starting = state->GetStatusName() == kTransferStarting;
            const uint32_t chosen = ShowTrayMenu(window, [state, starting] {
                if (starting) return BuildStartupMenu(LoadUiString);
                return BuildMainMenu(TakeTrayMenuSnapshot(*state, IsAutostartEnabled()), LoadUiString);
            });
            RunTrayCommand(chosen);
        } catch (...) {
            // Out of memory: no menu this time; the next click tries again.
        }
        return;
    default:
        return;
    }
}

void RunTrayCommand(uint32_t id) {
    const AgentState* state = Agent().state;
    const TrayCommand command = CommandForMenuId(id, state && state->IsSignedIn());
    switch (command.action) {
    case TrayAction::Request:
        StartCommandThread(SendCommandThread, std::make_unique<std::u16string>(ServiceUrl(command.request)));
        break;
    case TrayAction::OpenDownloadFolder:
        OpenDownloadFolder();
        break;
    case TrayAction::ConfirmExit:
        StartCommandThread(ConfirmExitThread, nullptr);
        break;
    case TrayAction::ConfirmSignOut:
        StartCommandThread(ConfirmSignOutThread, nullptr);
        break;
    case TrayAction::ToggleAutostart:
        SetAutostart(!IsAutostartEnabled());
        break;
    case TrayAction::None:
        break;
    }
}

unsigned __stdcall SendCommandThread(void* url) {
    std::unique_ptr<std::u16string> owned(static_cast<std::u16string*>(url));
    try {
        HttpGetNoReply(*owned);
    } catch (...) {
        // Out of memory: the command is dropped.
    }
    return 0;
}

unsigned __stdcall ConfirmExitThread(void*) { return RunConfirmationThread(Confirmation::Exit); }
unsigned __stdcall ConfirmSignOutThread(void*) { return RunConfirmationThread(Confirmation::SignOut); }

}  // namespace vantorel
