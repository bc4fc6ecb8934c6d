// The tray window's procedure: what the shell, the worker threads and the
// agent's other programs ask of the hidden tray window.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "agent/core/agent_window_win.h"
#include "agent/tray/tray_icon_win.h"
#include "agent/tray/tray_menu_win.h"
#include "agent/upload/drop_target_win.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"

namespace vantorel {

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const AgentGlobals& agent = Agent();

    // Registered numbers first: they are not constants and may equal nothing below.
    if (agent.taskbarCreatedMessage != 0 && message == agent.taskbarCreatedMessage) {
        ReloadTrayPicturesForSlot();
        AddTrayIcon();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (agent.agentMessage != 0 && message == agent.agentMessage) {
        if (!IsWindowVisible(window)) {
            ShowWindow(window, SW_HIDE);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    switch (message) {
    case WM_DESTROY:
        // The system drops what is still queued for a destroyed window; the
        // balloon texts in it would never be freed.
        CloseMainWindowNotifier();
        PostQuitMessage(0);
        break;
    case WM_ERASEBKGND:
        return 0;
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
        // A new display scale changes the size of the taskbar's icon slot.
        ReloadTrayPicturesForSlot();
        break;
    case WM_CLOSE:
        ShowWindow(window, SW_HIDE);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE || (wParam & 0xFFF0) == SC_CLOSE) {
            ShowWindow(window, SW_HIDE);
            return 0;
        }
        break;
    case WM_DROPFILES:
        HandleDropFiles(reinterpret_cast<HDROP>(wParam));
        SetTrayTooltip(agent.state->GetDisplayName());
        ShowWindow(window, SW_HIDE);
        break;
    case WM_TRAYICON_NOTIFY:
        OnTrayIconNotify(window, wParam, lParam);
        break;
    case WM_SHOW_BALLOON: {
        // Ownership of both texts came with the message.
        std::unique_ptr<std::wstring> title(reinterpret_cast<std::wstring*>(wParam));
        std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
        if (title && text)
            ShowBalloon(std::u16string(title->begin(), title->end()), std::u16string(text->begin(), text->end()));
        break;
    }
    case WM_REFRESH_TRAYICON:
        // A screen reader names the icon by its tooltip, and a keyboard user
        // reaches the icon without any message to us first.
        if (agent.state && agent.state->TakePendingDisplayName()) SetTrayTooltip(agent.state->GetDisplayName());
        RefreshTrayIcon();
        return 1;
    case WM_QUIT_REQUEST:
        // Sent synchronously: the sender waits until the service has been told.
        HttpGetNoReply(std::u16string(ServiceUrl(ServiceRequest::Shutdown)));
        // A menu left open would keep its own loop running, and that loop
        // may take the quit message for itself: the agent would never end.
        EndMenu();
        PostMessageW(window, WM_QUIT, 0, 0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vantorel
