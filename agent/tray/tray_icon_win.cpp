#include "agent/tray/shell_notify_win.h"

#include "agent/tray/tray_icon_win.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <utility>

#include "agent/core/agent_messages.h"
#include "agent/core/agent_state.h"
#include "agent/service/ui_resources_win.h"
#include "agent/service/windows_version.h"
#include "agent/service/windows_version_win.h"
#include "agent/tray/tray_text.h"
#include "protocol/debug_output.h"

namespace vantorel {
namespace {

#if defined(_M_IX86) || defined(__i386__)
// The sizes the shell knows: the whole Vista record, and the record up to
// guidItem that Windows 2000 and XP accept.
static_assert(sizeof(NOTIFYICONDATAW) == 956);
static_assert(offsetof(NOTIFYICONDATAW, guidItem) == 936);
#endif
constexpr DWORD kRecordSizeVista = 956;
constexpr DWORD kRecordSizeBeforeVista = 936;
constexpr UINT kRecordFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;  // 7
constexpr UINT kBalloonTimeoutMs = 10000;

NOTIFYICONDATAW record;
AgentState* agentState = nullptr;

// The picture the shell last accepted for the icon. A refresh that would
// hand it the same picture again changes nothing anyone can see, and the
// pollers ask for one up to five times a second.
HICON shownIcon = nullptr;

// Tray pictures by id, loaded at the size of the slot the taskbar draws
// (the small-icon metric) and owned by this file: they are destroyed when
// the slot changes size. Failures are not kept, so a module that appears
// later (an update) is still found.
std::array<std::pair<int, HICON>, 8> pictures{};
int picturesSize = 0;
// The balloon's large icon: shared, at the system's large-icon size.
HICON balloonPicture = nullptr;

using LoadIconMetricFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, HICON*);
constexpr int kLimSmall = 0;  // LIM_SMALL

// Vista's common controls scale down from the nearest larger picture, which
// is what the platform draws its own notification icons with; XP's
// LoadImageW picks the nearest size instead.
LoadIconMetricFn FindLoadIconMetric() {
    static const LoadIconMetricFn found = [] {
        HMODULE controls = LoadLibraryW(L"comctl32.dll");  // kept: the function lives on in it
        return controls ? reinterpret_cast<LoadIconMetricFn>(
                              reinterpret_cast<void*>(GetProcAddress(controls, "LoadIconMetric")))
                        : nullptr;
    }();
    return found;
}

int SlotSize() {
    const int size = GetSystemMetrics(SM_CXSMICON);
    return size > 0 ? size : 16;
}

void EnsureVersionChecked() {
    if (!osVersionChecked.load()) CheckWindowsVersion();
}

template <size_t N>
void CopyIntoField(wchar_t (&field)[N], const std::u16string& text) {
    const std::u16string cut = CutTrayText(text, N - 1);
    std::wmemset(field, 0, N);
    for (size_t i = 0; i < cut.size(); ++i) field[i] = static_cast<wchar_t>(cut[i]);
}

HICON LoadPictureFromModule(int id) {
    HMODULE module = LoadUiResourceModule();
    if (!module) return nullptr;
    HICON icon = nullptr;
    if (id == kBalloonIconId) {
        icon = static_cast<HICON>(
            LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
    } else if (const LoadIconMetricFn loadIconMetric = FindLoadIconMetric()) {
        if (FAILED(loadIconMetric(module, MAKEINTRESOURCEW(id), kLimSmall, &icon))) icon = nullptr;
    } else {
        icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, picturesSize, picturesSize, 0));
    }
    FreeLibrary(module);
    return icon;
}

void ForgetTrayPictures() {
    for (auto& slot : pictures) {
        if (slot.second) DestroyIcon(slot.second);
        slot = {};
    }
}

}  // namespace

HICON LoadTrayPicture(int id) {
    if (id == kBalloonIconId) {
        if (!balloonPicture) balloonPicture = LoadPictureFromModule(id);
        return balloonPicture;
    }
    if (picturesSize == 0) picturesSize = SlotSize();
    for (const auto& [loadedId, icon] : pictures)
        if (icon && loadedId == id) return icon;
    HICON icon = LoadPictureFromModule(id);
    if (!icon) return nullptr;
    for (auto& slot : pictures) {
        if (!slot.second) {
            slot = {id, icon};
            return icon;
        }
    }
    DestroyIcon(icon);  // more ids than slots: never, the ids are fixed
    return nullptr;
}

void ReloadTrayPicturesForSlot() {
    if (picturesSize == SlotSize()) return;
    // The shell keeps its own copy of the picture; ours may go first.
    record.hIcon = nullptr;
    ForgetTrayPictures();
    picturesSize = SlotSize();
    if (agentState) record.hIcon = LoadTrayPicture(agentState->GetTrayIconId());
    shownIcon = Shell_NotifyIconW(NIM_MODIFY, &record) ? record.hIcon : nullptr;
}

void InitTrayIcon(HWND window, AgentState* state) {
    agentState = state;
    std::memset(&record, 0, sizeof record);
    record.hWnd = window;
    record.uID = kTrayIconUid;
    record.uFlags = kRecordFlags;
    record.uCallbackMessage = WM_TRAYICON_NOTIFY;
    record.hIcon = state ? LoadTrayPicture(state->GetTrayIconId()) : nullptr;
    EnsureVersionChecked();
    if (isVistaOrLater.load()) {
        record.cbSize = kRecordSizeVista;
    } else {
        record.cbSize = kRecordSizeBeforeVista;
        if (!record.hIcon) DebugOutput(u"Failed to load the tray icon\n");
        record.uTimeout = kBalloonTimeoutMs;
    }
    DebugOutput(u"*************************************************\n");
    CopyIntoField(record.szTip, std::u16string(kProductName));
}

void RefreshTrayIcon() {
    // The pictures are kept until the slot changes size (see
    // LoadTrayPicture): the handle is only dropped from the record here.
    record.hIcon = nullptr;
    EnsureVersionChecked();
    if (!isVistaOrLater.load()) {
        DebugOutput(u"OnUpdateNotifyIcon\n");
        DebugOutput(u"OnUpdateNotifyIcon End\n");
    }
    if (agentState) record.hIcon = LoadTrayPicture(agentState->GetTrayIconId());
    if (record.hIcon && record.hIcon == shownIcon) return;
    shownIcon = Shell_NotifyIconW(NIM_MODIFY, &record) ? record.hIcon : nullptr;
}

void SetTrayTooltip(const std::u16string& text) {
    record.uFlags = kRecordFlags;
    CopyIntoField(record.szTip, text);
    shownIcon = Shell_NotifyIconW(NIM_MODIFY, &record) ? record.hIcon : nullptr;
}

void ShowBalloon(const std::u16string& title, const std::u16string& text) {
    NOTIFYICONDATAW balloon = record;
    EnsureVersionChecked();
    if (isVistaOrLater.load()) {
        balloon.cbSize = kRecordSizeVista;
        balloon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;        // 0x17
        balloon.dwInfoFlags = NIIF_USER | NIIF_NOSOUND | NIIF_LARGE_ICON;    // 0x34
        balloon.hBalloonIcon = LoadTrayPicture(kBalloonIconId);
    } else {
        balloon.cbSize = kRecordSizeBeforeVista;
        balloon.uFlags = NIF_MESSAGE | NIF_INFO;                             // 0x11
        balloon.hWnd = record.hWnd;
        balloon.uID = kTrayIconUid;
        balloon.uTimeout = kBalloonTimeoutMs;
        balloon.dwInfoFlags = NIIF_USER | NIIF_NOSOUND;                      // 0x14
    }
    CopyIntoField(balloon.szInfo, text);
    CopyIntoField(balloon.szInfoTitle, title);
    Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

void AddTrayIcon() { shownIcon = Shell_NotifyIconW(NIM_ADD, &record) ? record.hIcon : nullptr; }

void RemoveTrayIcon() {
    Shell_NotifyIconW(NIM_DELETE, &record);
    shownIcon = nullptr;
}

TrayIconIdentity GetTrayIconIdentity() { return {record.hWnd, record.uID}; }

}  // namespace vantorel
