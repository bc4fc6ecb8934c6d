// Runs Vantorel.exe and poll-floor.exe side by side in one Wine session
// (a virtual desktop named "shell") against the stand-in service, in step
// with footprint_bench.sh, which measures them: it stops one while the other
// runs, so the two never share the wineserver's time.
//   footprint-driver SYNC_DIR INSTALL_DIR FLOOR_EXE FILES_DIR DROPS
// Steps, announced as SYNC_DIR\NNN-NAME.ready and left once the script has
// made NNN-NAME.go: "ready" (both run; the script measures idle and an
// upload), "menu" (the agent's menu is open), "dropped" (DROPS drops made on
// the agent's popup, and as many upload POSTs by the floor). FILES_DIR holds
// a.txt and b&c.txt, the files of every drop.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tests/support/com_object_win.h"
#include "tests/support/driver_checks_win.h"
#include "tests/support/shell_file_list_win.h"
#include "tests/support/sim_control_win.h"

// COM objects delete themselves in Release; their interfaces have no virtual
// destructor.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

using driver::Check;
using driver::SimGet;

constexpr UINT WM_TRAYICON_NOTIFY = 0x401;
constexpr UINT WM_QUIT_REQUEST = 0x405;
// Beside the tray icon of a 1024x768 desktop: a press there is no click on it.
constexpr POINT kBesideIcon = {990, 758};
constexpr POINT kAway = {600, 300};

std::wstring syncDir;
int stepNumber = 0;

void Step(const std::string& name) {
    char number[8];
    std::snprintf(number, sizeof number, "%03d", ++stepNumber);
    const std::string base = std::string(number) + "-" + name;
    const std::wstring path = syncDir + L"\\" + std::wstring(base.begin(), base.end());
    CloseHandle(CreateFileW((path + L".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    // The script may measure for many minutes; a slow look costs both alike.
    while (GetFileAttributesW((path + L".go").c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(250);
}

bool Arrived(const wchar_t* request, int count, DWORD timeoutMs) {
    return SimGet(L"wait?request=" + std::wstring(request) + L"&count=" + std::to_wstring(count) + L"&timeout=" +
                  std::to_wstring(timeoutMs))
               .status == 200;
}

PROCESS_INFORMATION Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder) {
    std::wstring commandLine = L"\"" + program + L"\"" + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process))
        Check(false, "started", program + L": " + std::to_wstring(GetLastError()));
    return process;
}

// ---- drops ---------------------------------------------------------------

// The shell's file list, as Explorer offers a drag of files.
class FileList final : public driver::ComObject<IDataObject, IID_IDataObject> {
public:
    explicit FileList(std::vector<std::wstring> paths) : paths_(std::move(paths)) {}
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        *medium = {};
        if (format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = driver::ShellFileList(paths_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        return format->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM* medium, BOOL release) override {
        if (release) ReleaseStgMedium(medium);
        return S_OK;  // the drop description: taken and dropped
    }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override {
        if (direction != DATADIR_GET) return E_NOTIMPL;
        FORMATETC offered = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return SHCreateStdEnumFmtEtc(1, &offered, formats);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    std::vector<std::wstring> paths_;
};

// Moves the pointer onto the popup, as a hand would, and drops once the
// drag has been over it for a few rounds of the drag loop.
class DropSource final : public IDropSource {
public:
    explicit DropSource(HWND popup) : popup_(popup) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IDropSource) {
            *object = static_cast<IDropSource*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD) override {
        if (escape || ++rounds_ > 200) return DRAGDROP_S_CANCEL;
        RECT area = {};
        GetWindowRect(popup_, &area);
        POINT pointer = {};
        GetCursorPos(&pointer);
        if (!PtInRect(&area, pointer)) {
            SetCursorPos((area.left + area.right) / 2, (area.top + area.bottom) / 2);
            over_ = 0;
            return S_OK;
        }
        return ++over_ >= 3 ? DRAGDROP_S_DROP : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    HWND popup_;
    int rounds_ = 0;
    int over_ = 0;
};

void LeftButton(DWORD flag) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flag;
    SendInput(1, &input, sizeof input);
}

// Holds the button beside the icon until the popup shows, drags the files
// onto it, lets go.
bool Drop(HWND popup, const std::vector<std::wstring>& paths) {
    SetCursorPos(kBesideIcon.x, kBesideIcon.y);
    LeftButton(MOUSEEVENTF_LEFTDOWN);
    for (int waited = 0; waited < 5000 && !IsWindowVisible(popup); waited += 20) Sleep(20);
    DWORD effect = 0;
    auto* data = new FileList(paths);
    DropSource source(popup);
    const HRESULT result = IsWindowVisible(popup) ? DoDragDrop(data, &source, DROPEFFECT_COPY, &effect) : E_FAIL;
    data->Release();
    LeftButton(MOUSEEVENTF_LEFTUP);
    SetCursorPos(kAway.x, kAway.y);
    return result == DRAGDROP_S_DROP && effect == DROPEFFECT_COPY;
}

HWND VisibleMenuWindow() {
    HWND found = nullptr;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32768", nullptr)) != nullptr)
        if (IsWindowVisible(window)) found = window;
    return found;
}

// WinINet's URL cache, cookies and history are one per user, each guarded by
// a named mutex, and the script stops one program while the other runs: one
// stopped inside such a lock (which even passes to a stopped waiter) stalls
// the other for its whole turn. So each gets folders of its own, through a
// variable that the user's folders are made to name; the agent's are the
// usual ones.
void SetInternetFolders(const wchar_t* suffix) {
    wchar_t local[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local);
    const std::wstring folder = std::wstring(local) + L"\\Microsoft\\Windows" + suffix;
    SetEnvironmentVariableW(L"VANTOREL_BENCH_INTERNET", folder.c_str());
}

void NameInternetFoldersByVariable() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                      0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    for (const wchar_t* name : {L"Cache", L"Cookies", L"History"}) {
        const std::wstring value = std::wstring(L"%VANTOREL_BENCH_INTERNET%\\") +
                                   (name[1] == L'a' ? L"INetCache" : name[1] == L'o' ? L"INetCookies" : L"History");
        RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

bool WaitFor(bool (*condition)(), DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs && !condition(); waited += 50) Sleep(50);
    return condition();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 6) return 2;
    syncDir = argv[1];
    const std::wstring installDir = argv[2], floor = argv[3], filesDir = argv[4];
    const int drops = _wtoi(argv[5]);
    OleInitialize(nullptr);
    const std::vector<std::wstring> paths = {filesDir + L"\\a.txt", filesDir + L"\\b&c.txt"};
    SetInternetFolders(L"\\driver");
    NameInternetFoldersByVariable();

    SetInternetFolders(L"");
    PROCESS_INFORMATION agent = Start(installDir + L"\\Vantorel.exe", L"", installDir);
    HWND window = nullptr;
    for (int waited = 0; waited < 60000 && !window; waited += 100) {
        window = FindWindowW(L"Vantorel", nullptr);
        if (!window) Sleep(100);
    }
    Check(window != nullptr && Arrived(L"shutdown", 1, 30000), "the agent is up");
    const std::wstring floorFolder = floor.substr(0, floor.rfind(L'\\'));
    SetInternetFolders(L"\\floor");
    PROCESS_INFORMATION floorProcess = Start(floor, L" \"" + paths[0] + L"\" \"" + paths[1] + L"\"", floorFolder);
    HANDLE posts = CreateEventW(nullptr, FALSE, FALSE, L"VantorelFloorPosts");
    HANDLE postsDone = CreateEventW(nullptr, FALSE, FALSE, L"VantorelFloorPostsDone");
    HANDLE countMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG),
                                             L"VantorelFloorPostCount");
    auto* postCount = static_cast<volatile LONG*>(MapViewOfFile(countMapping, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    Sleep(3000);  // the agent's icon and drop target, the floor's first cycles
    Step("ready");

    PostMessageW(window, WM_TRAYICON_NOTIFY, 0, WM_LBUTTONDOWN);
    const bool menuOpen = WaitFor([] { return VisibleMenuWindow() != nullptr; }, 5000);
    Check(menuOpen, "the menu opens");
    Step("menu");
    if (HWND menu = VisibleMenuWindow()) PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 1);
    Check(WaitFor([] { return VisibleMenuWindow() == nullptr; }, 5000), "the menu closes");

    int dropped = 0;
    for (int i = 0; i < drops; ++i) {
        // Now and then, on a busy machine, a drag under Wine ends before it
        // has reached the popup; a user drags again.
        bool made = false;
        for (int attempt = 0; attempt < 3 && !made; ++attempt) made = Drop(window, paths);
        dropped += made ? 1 : 0;
    }
    Check(dropped == drops && Arrived(L"filetransfer", drops, 30000), "every drop made and sent",
          std::to_wstring(dropped) + L" of " + std::to_wstring(drops));
    *postCount = drops;
    SetEvent(posts);
    Check(WaitForSingleObject(postsDone, 120000) == WAIT_OBJECT_0 && Arrived(L"filetransfer", 2 * drops, 30000),
          "the floor sent as many uploads");
    Sleep(3000);  // the uploads' events and balloons
    Step("dropped");

    TerminateProcess(floorProcess.hProcess, 0);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_QUIT_REQUEST, 0, 0, SMTO_NORMAL, 30000, &result);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(agent.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(agent.hProcess, &code);
    if (code == STILL_ACTIVE) TerminateProcess(agent.hProcess, 1);
    Check(code == 0, "the agent ends on the quit request", std::to_wstring(code));
    OleUninitialize();
    return driver::Finish();
}
