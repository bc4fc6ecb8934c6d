// Stolvane.exe: makes a running tray agent tell its service to shut down and
// exit. Ignores its command line, shows nothing, always ends with 0.
#include <windows.h>

#include <string>

#include "agent/core/agent_messages.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::wstring className(vantorel::kWindowClassName.begin(), vantorel::kWindowClassName.end());
    // Synchronous on purpose: this tool ends only after the agent's window
    // procedure has sent the service its shutdown request.
    if (HWND agent = FindWindowW(className.c_str(), nullptr))
        SendMessageW(agent, vantorel::WM_QUIT_REQUEST, 0, 0);
    return 0;
}
