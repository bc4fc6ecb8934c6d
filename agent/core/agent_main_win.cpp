// Vantorel.exe: the tray agent's entry. Chooses the run (signature
// diagnostic, second copy, running agent), brings the agent up in a fixed
// order, runs the tray window's message loop and tears down in a fixed order.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>

#include "agent/core/agent_window_win.h"
#include "agent/core/file_signature_win.h"
#include "agent/core/lifecycle_text.h"
#include "agent/polling/status_pollers_win.h"
#include "agent/service/package_update_win.h"
#include "agent/service/service_launcher_win.h"
#include "agent/service/windows_version.h"
#include "agent/service/windows_version_win.h"
#include "agent/tray/tray_icon_win.h"
#include "agent/tray/tray_menu_win.h"
#include "agent/tray/tray_popup_placement_win.h"
#include "agent/upload/drop_items_win.h"
#include "agent/upload/drop_target_win.h"
#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"

namespace vantorel {
namespace {

// Registered before the entry runs, as the shell may announce a new taskbar
// at any time.
const UINT kTaskbarCreated = Agent().taskbarCreatedMessage =
    RegisterWindowMessageW(std::wstring(kTaskbarCreatedMessageName.begin(), kTaskbarCreatedMessageName.end()).c_str());

constexpr int kTrayWindowWidth = 312;
constexpr int kTrayWindowHeight = 141;

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

DWORD GdiObjectCount() { return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS); }

// What one dropped item may bring, as this build sets it.
DropCopyLimits BuiltInDropLimits() {
    DropCopyLimits limits;
#ifdef VANTOREL_DROP_STREAM_CAP_BYTES
    limits.capBytes = VANTOREL_DROP_STREAM_CAP_BYTES;
#endif
    return limits;
}

void ReportGuiResourceLeaks(DWORD countAtStart) {
    const std::u16string report = GuiLeakReport(static_cast<int32_t>(GdiObjectCount() - countAtStart));
    if (!report.empty()) DebugOutput(report);
}

int RunSignatureDiagnostic() {
    const bool verified = VerifyFileSignature(Wide(kSignedFileName));
    MessageBoxW(nullptr, Wide(verified ? kSignatureVerifiedText : kSignatureMissingText).c_str(),
                Wide(kSignatureCaption).c_str(), MB_OK);
    return verified ? 0 : -1;
}

bool RegisterTrayWindowClass(HINSTANCE instance) {
    const std::wstring className = Wide(kWindowClassName);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = TrayWindowProc;
    windowClass.hInstance = instance;
    // Read from the current directory, which the service launch made the
    // install directory.
    windowClass.hIcon = static_cast<HICON>(LoadImageW(nullptr, L"Pellick.ico", IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
    windowClass.hIconSm =
        static_cast<HICON>(LoadImageW(nullptr, L"Pellick16.ico", IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_INACTIVEBORDER + 1));
    windowClass.lpszClassName = className.c_str();
    return RegisterClassExW(&windowClass) != 0;
}

int RunAgent(HINSTANCE instance) {
    AgentGlobals& agent = Agent();
    const DWORD gdiAtStart = GdiObjectCount();

    CompleteUpdateAtStart();
    OleInitialize(nullptr);
    InitCommonControls();

    // Never freed: threads that are never stopped read it until the process ends.
    static MainWindowNotifier notifier;
    auto* state = new AgentState(notifier, LocalTimeOfDay);
    CreateInstanceMarker(*state);
    agent.state = state;

    if (!state->IsPrimaryInstance()) {
        // Hand over to the running agent: its service shows the drop window.
        HttpGetNoReply(std::u16string(ServiceUrl(ServiceRequest::ShowDragDrop)));
        ShutdownAgentState(*state);
        ReportGuiResourceLeaks(gdiAtStart);
        return 0;
    }

    StartStatusPollers(state);
    SetupServiceEnvironment();
    state->serviceProcess = LaunchLocalService();

    agent.agentMessage = RegisterWindowMessageW(Wide(kAgentMessageName).c_str());
    if (!RegisterTrayWindowClass(instance)) FatalAppExitW(0, L"Couldn't register window class!");

    const std::wstring className = Wide(kWindowClassName);
    const HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, className.c_str(), nullptr, WS_POPUP,
                                        CW_USEDEFAULT, CW_USEDEFAULT, kTrayWindowWidth, kTrayWindowHeight, nullptr,
                                        nullptr, instance, nullptr);
    agent.mainWindow.store(window);

    if (!osVersionChecked.load()) CheckWindowsVersion();
    const bool vistaOrLater = isVistaOrLater.load();
    IDropTarget* dropTarget = nullptr;
    if (vistaOrLater) CreateDropTarget(window, BuiltInDropLimits(), &dropTarget);
    DragAcceptFiles(window, TRUE);

    InitTrayIcon(window, state);
    StartPopupPlacementThread();
    // Old drop folders go on the update thread, which has two minutes to
    // spare, so that a large one does not hold up the start; and only once
    // the service holds no upload that may still read from one.
    StartUpdateThread(window, RemoveOldDropFoldersWhenIdle);
    AddTrayIcon();
    LoadMenuBitmaps();

    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchAgentMessage(message);
    CloseMainWindowNotifier();

    if (!IsWindowVisible(window)) RemoveTrayIcon();
    if (vistaOrLater) RevokeDropTarget(window, dropTarget);
    OleUninitialize();
    const int exitCode = static_cast<int>(message.wParam);
    ShutdownAgentState(*state);
    ReportGuiResourceLeaks(gdiAtStart);
    return exitCode;
}

}  // namespace
}  // namespace vantorel

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    const std::string line = commandLine ? commandLine : "";
    if (vantorel::IsSignatureDiagnostic(line)) return vantorel::RunSignatureDiagnostic();
    return vantorel::RunAgent(instance);
}
