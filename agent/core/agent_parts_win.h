// The agent's parts that the entry and the window procedure call but that
// live elsewhere: status pollers, tray icon, popup placement, drop target,
// menus, update. Each is a function pointer; a part not built into this
// agent is left empty and its step is skipped. Filled in by agent_parts_win.cpp.
#pragma once

#include <windows.h>

#include "agent/core/agent_state.h"

namespace vantorel {

struct AgentParts {
    // start-up, in the order the entry calls them
    void (*completeUpdateAtStart)() = nullptr;
    void (*startStatusPollers)(AgentState* state) = nullptr;
    void (*setupServiceEnvironment)() = nullptr;
    HANDLE (*launchLocalService)() = nullptr;
    void (*checkWindowsVersion)() = nullptr;
    bool (*isVistaOrLater)() = nullptr;
    IUnknown* (*createDropTarget)(HWND window) = nullptr;
    void (*revokeDropTarget)(HWND window, IUnknown* dropTarget) = nullptr;
    void (*startDropFolderCleanup)() = nullptr;
    void (*initTrayIcon)(HWND window, AgentState* state) = nullptr;
    void (*startPopupPlacementThread)() = nullptr;
    void (*startUpdateThread)(HWND window) = nullptr;
    void (*addTrayIcon)() = nullptr;
    void (*removeTrayIcon)() = nullptr;
    void (*loadMenuBitmaps)() = nullptr;
    // window procedure
    void (*showBalloon)(const wchar_t* title, const wchar_t* text) = nullptr;
    void (*refreshTrayIcon)() = nullptr;
    void (*onTrayIconNotify)(HWND window, WPARAM wParam, LPARAM lParam) = nullptr;
    void (*handleDropFiles)(HDROP drop) = nullptr;
};

// The parts built into this agent.
const AgentParts& BuiltInAgentParts();

}  // namespace vantorel
