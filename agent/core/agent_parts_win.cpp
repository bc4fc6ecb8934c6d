#include "agent/core/agent_parts_win.h"

#include <cwchar>
#include <string>

#include "agent/core/agent_window_win.h"
#include "agent/polling/status_pollers_win.h"
#include "agent/service/package_update_win.h"
#include "agent/service/service_launcher_win.h"
#include "agent/service/windows_version.h"
#include "agent/service/windows_version_win.h"
#include "agent/tray/tray_icon_win.h"
#include "agent/tray/tray_menu_win.h"
#include "agent/tray/tray_popup_placement_win.h"
#include "agent/upload/drop_target_win.h"

namespace vantorel {

// Parts join here as they are built; an empty entry skips its step.
const AgentParts& BuiltInAgentParts() {
    static const AgentParts parts = [] {
        AgentParts built;
        built.completeUpdateAtStart = [] { CompleteUpdateAtStart(); };
        built.startUpdateThread = StartUpdateThread;
        built.startStatusPollers = StartStatusPollers;
        built.setupServiceEnvironment = SetupServiceEnvironment;
        built.launchLocalService = [] { return static_cast<HANDLE>(LaunchLocalService()); };
        built.checkWindowsVersion = [] {
            if (!osVersionChecked.load()) CheckWindowsVersion();
        };
        built.isVistaOrLater = [] { return isVistaOrLater.load(); };
        built.createDropTarget = [](HWND window) -> IUnknown* {
            IDropTarget* target = nullptr;
            CreateDropTarget(window, &target);
            return target;
        };
        built.revokeDropTarget = [](HWND window, IUnknown* target) {
            RevokeDropTarget(window, static_cast<IDropTarget*>(target));
        };
        built.startDropFolderCleanup = StartDropFolderCleanup;
        built.handleDropFiles = [](HDROP drop) {
            HandleDropFiles(drop);
            const AgentGlobals& agent = Agent();
            SetTrayTooltip(agent.state->GetDisplayName());
            ShowWindow(agent.mainWindow.load(), SW_HIDE);
        };
        built.initTrayIcon = InitTrayIcon;
        built.startPopupPlacementThread = StartPopupPlacementThread;
        built.addTrayIcon = AddTrayIcon;
        built.removeTrayIcon = RemoveTrayIcon;
        built.loadMenuBitmaps = LoadMenuBitmaps;
        built.refreshTrayIcon = RefreshTrayIcon;
        built.onTrayIconNotify = OnTrayIconNotify;
        built.showBalloon = [](const wchar_t* title, const wchar_t* text) {
            ShowBalloon(std::u16string(title, title + std::wcslen(title)), std::u16string(text, text + std::wcslen(text)));
        };
        return built;
    }();
    return parts;
}

}  // namespace vantorel
