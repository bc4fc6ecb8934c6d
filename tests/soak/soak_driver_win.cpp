// The Windows side of the soak (soak_test.sh): one Vantorel.exe in a Wine
// virtual desktop for the whole run, against a stand-in service that the
// script kills, restarts, freezes and makes misbehave. Per round, during the
// script's fault and again once it has healed: a menu item chosen, a drop
// onto the popup, a Send To run (Pasmiro.exe). Meanwhile a thread sends the
// agent's window a message twice a second and times the answers.
//   soak-driver SYNC_DIR INSTALL_DIR FILES_DIR
// Steps as in the other drivers: SYNC_DIR\NNN-NAME.ready (with what the
// script needs), then SYNC_DIR\NNN-NAME.go (with the script's answer).
// FILES_DIR receives every file sent (virtual ones as FILES_DIR\virtual\NAME,
// their reference copies). Prints "ok"/"FAIL" lines, "upload NAME HOW PHASE
// OUTCOME" per upload, "figure NAME VALUE" lines and "N failed".
#include <windows.h>
#include <ole2.h>
#include <wininet.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/com_object_win.h"
#include "tests/support/driver_checks_win.h"
#include "tests/support/shell_file_list_win.h"
#include "tests/support/sim_control_win.h"
#include "tests/support/wine_version_win.h"

// COM objects delete themselves in Release; their interfaces have no virtual
// destructor.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

using driver::Check;
using driver::ComObject;
using driver::ShellFileList;
using driver::SimGet;

constexpr UINT WM_QUIT_REQUEST = 0x405;
// Passed to the default procedure by the tray window: answering it shows
// that the window thread pumps, without changing what the agent shows.
constexpr UINT kPlainMessage = 0x402;

std::wstring syncDir, installDir, filesDir;
int stepNumber = 0;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string ReadSmallFile(const std::wstring& path) {
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char chunk[512];
    DWORD count = 0;
    while (ReadFile(file, chunk, sizeof chunk, &count, nullptr) && count) text.append(chunk, count);
    CloseHandle(file);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// Announces a step with what the script needs and returns the script's
// answer once it is done; "timeout" when it never came.
std::string Step(const std::string& name, const std::string& content = "", DWORD timeoutMs = 180000) {
    char number[8];
    std::snprintf(number, sizeof number, "%03d", ++stepNumber);
    const std::wstring base = syncDir + L"\\" + Widen(std::string(number) + "-" + name);
    const std::wstring partial = base + L".part";
    HANDLE ready = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(ready, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(ready);
        MoveFileW(partial.c_str(), (base + L".ready").c_str());
    }
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (GetFileAttributesW((base + L".go").c_str()) != INVALID_FILE_ATTRIBUTES) {
            Sleep(20);  // written before it was renamed into place; read what is there
            return ReadSmallFile(base + L".go");
        }
        Sleep(50);
    }
    Check(false, (name + ": the script answered").c_str());
    return "timeout";
}

void Note(const std::string& text) {
    std::printf("note %s\n", text.c_str());
    std::fflush(stdout);
}

void Figure(const char* name, double value) {
    std::printf("figure %s %.1f\n", name, value);
    std::fflush(stdout);
}

// ---- content ---------------------------------------------------------------

// Bytes that depend on their position and a seed: a misplaced or repeated
// chunk shows in the comparison.
void Generate(uint32_t seed, uint64_t offset, unsigned char* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint64_t at = offset + i;
        const uint32_t word = static_cast<uint32_t>(at >> 2) * 2654435761u ^ seed;
        out[i] = static_cast<unsigned char>(word >> (8 * (at & 3)));
    }
}

bool WriteGenerated(const std::wstring& path, uint32_t seed, size_t size) {
    std::vector<unsigned char> bytes(size);
    Generate(seed, 0, bytes.data(), size);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr) && written == size;
    CloseHandle(file);
    return whole;
}

// ---- the agent's handles, as the wineserver counts them ----------------------

// One entry of NtQuerySystemInformation's handle list (class 16).
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// The handles of process id; -1 when the list cannot be had. Wine's
// GetProcessHandleCount and GetGuiResources answer 0, its system handle
// list is the wineserver's own table.
long HandleCount(DWORD pid) {
    static const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    static std::vector<unsigned char> buffer(1 << 20);
    for (int attempt = 0; attempt < 6; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004)) {  // too small
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
            continue;
        }
        if (status != 0) return -1;
        const ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
        const auto* entries = reinterpret_cast<const SystemHandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
        long mine = 0;
        for (ULONG i = 0; i < count; ++i)
            if (entries[i].ownerPid == pid) ++mine;
        return mine;
    }
    return -1;
}

// The count must see handles come and go, or a leak would pass unseen.
void CalibrateHandleCount() {
    const DWORD self = GetCurrentProcessId();
    const long before = HandleCount(self);
    HANDLE events[16];
    for (HANDLE& event : events) event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const long during = HandleCount(self);
    for (HANDLE event : events) CloseHandle(event);
    const long after = HandleCount(self);
    Check(before > 0 && during == before + 16 && after == before, "the handle count sees 16 handles come and go",
          std::to_wstring(before) + L" " + std::to_wstring(during) + L" " + std::to_wstring(after));
}

// ---- the agent ---------------------------------------------------------------

PROCESS_INFORMATION agentProcess = {};
HWND agentWindow = nullptr;

bool AgentRuns() { return WaitForSingleObject(agentProcess.hProcess, 0) == WAIT_TIMEOUT; }

bool StartAgent() {
    const std::wstring program = installDir + L"\\Vantorel.exe";
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, installDir.c_str(),
                        &startup, &agentProcess)) {
        Check(false, "the agent starts", std::to_wstring(GetLastError()));
        return false;
    }
    for (int waited = 0; waited < 60000 && !agentWindow; waited += 100) {
        agentWindow = FindWindowW(L"Vantorel", nullptr);
        if (!agentWindow) Sleep(100);
    }
    Check(agentWindow != nullptr, "the agent's window appears");
    Sleep(1000);  // its drop target is registered right after the window
    return agentWindow != nullptr;
}

// ---- the window-message watch --------------------------------------------------

std::atomic<bool> watching{true};
std::atomic<long> messagesSent{0}, messagesAnswered{0}, slowestAnswerMs{0}, answersOverSecond{0};

DWORD WINAPI WatchWindow(void*) {
    while (watching.load()) {
        const DWORD start = GetTickCount();
        DWORD_PTR result = 0;
        const bool answered = SendMessageTimeoutW(agentWindow, kPlainMessage, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
        const long took = static_cast<long>(GetTickCount() - start);
        ++messagesSent;
        if (answered) {
            ++messagesAnswered;
            if (took > 1000) ++answersOverSecond;
            if (took > slowestAnswerMs.load()) slowestAnswerMs = took;
        } else {
            Note("the agent's window did not answer within 5 s (error " + std::to_string(GetLastError()) + ")");
        }
        Sleep(500);
    }
    return 0;
}

// ---- the service's request log ------------------------------------------------

// The number of the last request the service logged (none is ever reset here).
long long LastRequestSeq() {
    const std::string state = SimGet(L"state").body;
    const size_t at = state.find("\"requests\":");
    return at == std::string::npos ? -1 : std::atoll(state.c_str() + at + 11);
}

bool RequestArrivesSince(long long seq, const std::string& request, DWORD timeoutMs) {
    const std::string wanted = "\"request\":\"" + request + "\"";
    for (DWORD waited = 0; waited <= timeoutMs; waited += 250) {
        if (SimGet(L"log?since=" + std::to_wstring(seq)).body.find(wanted) != std::string::npos) return true;
        Sleep(250);
    }
    return false;
}

// ---- menus -----------------------------------------------------------------------

HWND VisibleMenuWindow() {
    HWND found = nullptr;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32768", nullptr)) != nullptr)
        if (IsWindowVisible(window)) found = window;
    return found;
}

bool WaitForMenu(bool open, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if ((VisibleMenuWindow() != nullptr) == open) return true;
        Sleep(50);
    }
    return (VisibleMenuWindow() != nullptr) == open;
}

// Clicks the icon through the script; a user clicks again when Wine's
// taskbar drops a click that follows a closed menu.
bool OpenMenu() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        Step("click-left");
        if (WaitForMenu(true, 4000)) return true;
        Note("clicked again for a menu");
    }
    return false;
}

// Keys posted to the open menu, as the menu test does: d down, u up,
// r right, e enter, x escape.
bool Keys(const char* keys) {
    for (const char* key = keys; *key; ++key) {
        const WPARAM vk = *key == 'd' ? VK_DOWN : *key == 'u' ? VK_UP : *key == 'r' ? VK_RIGHT
                        : *key == 'e' ? VK_RETURN : VK_ESCAPE;
        HWND menu = VisibleMenuWindow();
        if (!menu) break;
        PostMessageW(menu, WM_KEYDOWN, vk, 1);
        PostMessageW(menu, WM_KEYUP, vk, 0xC0000001);
        Sleep(150);
    }
    return WaitForMenu(false, 5000);
}

// Items whose place does not depend on the state the menu shows: the
// first item, and the help and settings submenus counted from the end.
struct MenuChoice {
    const char* keys;
    const char* request;
};
constexpr MenuChoice kChoices[] = {
    {"uure", "showabout"},        {"de", "launch-uploads"},     {"uurde", "showtour"},
    {"uuurddde", "pickdldir"},    {"uurdde", "launch-help"},    {"uurue", "launch-feedback"},
};

int menusChosen = 0, menusConfirmed = 0;

void ChooseFromMenu(int round, bool calm) {
    const MenuChoice& choice = kChoices[(round * 2 + (calm ? 1 : 0)) % std::size(kChoices)];
    const long long seq = calm ? LastRequestSeq() : -1;
    const bool opened = OpenMenu();
    const bool closed = opened && Keys(choice.keys);
    if (!closed && VisibleMenuWindow()) Keys("xxx");
    ++menusChosen;
    if (!calm) {
        if (!opened) Note(std::string("no menu opened during the fault of round ") + std::to_string(round));
        return;
    }
    const bool arrived = closed && RequestArrivesSince(seq, choice.request, 10000);
    if (arrived) ++menusConfirmed;
    Check(opened && closed && arrived,
          ("round " + std::to_string(round) + ": the menu's " + choice.request + " reaches the service").c_str(),
          opened ? (closed ? L"no request" : L"menu stayed open") : L"no menu");
}

// ---- drops -----------------------------------------------------------------------


const UINT kGroupFormat = RegisterClipboardFormatW(L"FileGroupDescriptorW");
const UINT kContentsFormat = RegisterClipboardFormatW(L"FileContents");

// Either the shell's file list of real files or one virtual file. The
// virtual file's contents come as a memory block: under Wine a drag source
// whose marshalled stream the target releases inside Drop now and then
// never answers again (the source's COM waits in RpcServerUnregisterIf), a
// hang of the source, not of the agent; the drop test covers streams.
class DataObject final : public ComObject<IDataObject, IID_IDataObject> {
public:
    DataObject(std::vector<std::wstring> paths, std::wstring virtualName, uint32_t seed, uint64_t size)
        : paths_(std::move(paths)), virtualName_(std::move(virtualName)), seed_(seed), size_(size) {}

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        *medium = {};
        if (format->cfFormat == CF_HDROP && !paths_.empty() && (format->tymed & TYMED_HGLOBAL)) {
            medium->tymed = TYMED_HGLOBAL;
            medium->hGlobal = ShellFileList(paths_);
            return S_OK;
        }
        if (format->cfFormat == kGroupFormat && !virtualName_.empty() && (format->tymed & TYMED_HGLOBAL)) {
            HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(FILEGROUPDESCRIPTORW));
            auto* group = static_cast<FILEGROUPDESCRIPTORW*>(GlobalLock(block));
            group->cItems = 1;
            group->fgd[0].dwFlags = FD_ATTRIBUTES | FD_FILESIZE;
            group->fgd[0].dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
            group->fgd[0].nFileSizeLow = static_cast<DWORD>(size_);
            wcsncpy(group->fgd[0].cFileName, virtualName_.c_str(), MAX_PATH - 1);
            GlobalUnlock(block);
            medium->tymed = TYMED_HGLOBAL;
            medium->hGlobal = block;
            return S_OK;
        }
        if (format->cfFormat == kContentsFormat && !virtualName_.empty() && format->lindex == 0 &&
            (format->tymed & TYMED_HGLOBAL)) {
            HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(size_));
            Generate(seed_, 0, static_cast<unsigned char*>(GlobalLock(block)), static_cast<size_t>(size_));
            GlobalUnlock(block);
            medium->tymed = TYMED_HGLOBAL;
            medium->hGlobal = block;
            return S_OK;
        }
        return DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        for (const FORMATETC& offered : Formats())
            if (offered.cfFormat == format->cfFormat) return S_OK;
        return DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM* medium, BOOL release) override {
        if (release) ReleaseStgMedium(medium);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override {
        if (direction != DATADIR_GET) return E_NOTIMPL;
        const std::vector<FORMATETC> offered = Formats();
        return SHCreateStdEnumFmtEtc(static_cast<UINT>(offered.size()), offered.data(), formats);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    std::vector<FORMATETC> Formats() const {
        std::vector<FORMATETC> formats;
        if (!paths_.empty()) formats.push_back({CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
        if (!virtualName_.empty()) {
            formats.push_back({static_cast<CLIPFORMAT>(kGroupFormat), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
            formats.push_back({static_cast<CLIPFORMAT>(kContentsFormat), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
        }
        return formats;
    }
    std::vector<std::wstring> paths_;
    std::wstring virtualName_;
    uint32_t seed_;
    uint64_t size_;
};

// Has the script move the pointer onto the popup, then drops once the drag
// has been over it for a few rounds of the drag loop.
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
        if (escape || ++rounds_ > 300) return DRAGDROP_S_CANCEL;
        RECT area = {};
        GetWindowRect(popup_, &area);
        POINT pointer = {};
        GetCursorPos(&pointer);
        if (!PtInRect(&area, pointer)) {
            // The pointer is the X server's: the script moves it, as a hand would.
            if (!moved_)
                Step("moveto_" + std::to_string((area.left + area.right) / 2) + "_" +
                     std::to_string((area.top + area.bottom) / 2));
            moved_ = true;
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
    bool moved_ = false;
};

void ReportUpload(const std::wstring& name, const char* how, bool calm, const std::string& outcome) {
    std::printf("upload %ls %s %s %s\n", name.c_str(), how, calm ? "calm" : "fault", outcome.c_str());
    std::fflush(stdout);
}

// One drag onto the popup, which the script shows by holding the button
// beside the icon. Odd rounds drop a file list in the fault and a virtual
// file once healed; even rounds the other way round.
void DropOnce(int round, bool calm) {
    const bool virtualFile = (round + (calm ? 1 : 0)) % 2 == 0;
    const std::wstring name = L"soak-" + std::to_wstring(round) + (calm ? L"-calm" : L"-fault") +
                              (virtualFile ? L"-virtual" : L"-drop") + L".bin";
    const uint32_t seed = static_cast<uint32_t>(round * 4 + (calm ? 1 : 0) + (virtualFile ? 2 : 0));
    const size_t size = 20000 + static_cast<size_t>(round % 7) * 45000;
    std::vector<std::wstring> paths;
    if (virtualFile) {
        WriteGenerated(filesDir + L"\\virtual\\" + name, seed, size);
    } else {
        paths.push_back(filesDir + L"\\" + name);
        WriteGenerated(paths.back(), seed, size);
    }
    HRESULT result = E_FAIL;
    DWORD effect = 0;
    for (int attempt = 0; attempt < 2 && result != DRAGDROP_S_DROP; ++attempt) {
        Step("hold");
        for (int waited = 0; waited < 5000 && !IsWindowVisible(agentWindow); waited += 50) Sleep(50);
        if (IsWindowVisible(agentWindow)) {
            auto* data = new DataObject(paths, virtualFile ? name : L"", seed, size);
            DropSource source(agentWindow);
            result = DoDragDrop(data, &source, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK, &effect);
            data->Release();
        } else {
            Note("the popup did not show while the button was held");
        }
        Step("release");
    }
    const bool dropped = result == DRAGDROP_S_DROP && effect == DROPEFFECT_COPY;
    ReportUpload(name, virtualFile ? "virtual" : "drop", calm, dropped ? "dropped" : "not-dropped");
    if (calm) Check(dropped, ("round " + std::to_string(round) + ": the drop is taken as a copy").c_str());
}

// ---- Send To -----------------------------------------------------------------------

struct SendTo {
    PROCESS_INFORMATION process = {};
    std::wstring name;
    bool calm = false;
    bool started = false;
};

SendTo StartSendTo(int round, bool calm) {
    SendTo run;
    run.calm = calm;
    run.name = L"soak-" + std::to_wstring(round) + (calm ? L"-calm" : L"-fault") + L"-sendto.bin";
    const std::wstring path = filesDir + L"\\" + run.name;
    WriteGenerated(path, static_cast<uint32_t>(1000 + round * 2 + (calm ? 1 : 0)),
                   30000 + static_cast<size_t>(round % 5) * 70000);
    const std::wstring program = installDir + L"\\Pasmiro.exe";
    std::wstring commandLine = L"\"" + program + L"\" \"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    run.started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &run.process) != FALSE;
    return run;
}

// Its exit code: 0 when the service accepted the request.
void FinishSendTo(SendTo& run, int round) {
    DWORD code = STILL_ACTIVE;
    if (run.started) {
        if (WaitForSingleObject(run.process.hProcess, 150000) == WAIT_OBJECT_0)
            GetExitCodeProcess(run.process.hProcess, &code);
        else
            TerminateProcess(run.process.hProcess, 99);
        CloseHandle(run.process.hThread);
        CloseHandle(run.process.hProcess);
    }
    ReportUpload(run.name, "sendto", run.calm, "exit=" + std::to_string(code == STILL_ACTIVE ? 99 : code));
    if (run.calm)
        Check(code == 0, ("round " + std::to_string(round) + ": Send To ends with 0").c_str(), std::to_wstring(code));
}

// ---- the run ---------------------------------------------------------------------

std::string Sample() {
    SIZE_T workingSet = 0;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(agentProcess.hProcess, &counters, sizeof counters)) workingSet = counters.WorkingSetSize;
    return std::to_string(HandleCount(agentProcess.dwProcessId)) + " " + std::to_string(workingSet / 1024);
}

// One request as the agent's pollers make it: a fresh root handle, their
// header and flags.
void AgentLikeRequest() {
    HINTERNET root = InternetOpenW(L"ZozeviRivudaDuviv", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlW(root, L"http://127.0.0.1:9333/query?action=loginstate",
                                         L"Content-Type: application/x-www-form-urlencoded", static_cast<DWORD>(-1),
                                         INTERNET_FLAG_RELOAD, 0);
    if (request) {
        char chunk[1024];
        DWORD count = 0;
        while (InternetReadFile(request, chunk, sizeof chunk, &count) && count) {
        }
        InternetCloseHandle(request);
    }
    InternetCloseHandle(root);
}

// For the script to see what Wine's WinINet keeps of each request in this
// process (the agent makes about 25 a second): as many as the script asks
// for, none on a run too short to check the growth.
void CalibrateRequests() {
    // What the first requests set up once is not counted.
    for (int i = 0; i < 300; ++i) AgentLikeRequest();
    const int requests = std::atoi(Step("calibrate-begin").c_str());
    for (int i = 0; i < requests; ++i) AgentLikeRequest();
    Step("calibrate-end", std::to_string(requests));
}

void Soak() {
    driver::SetAgentWindowsVersion("win7");
    CreateDirectoryW((filesDir + L"\\virtual").c_str(), nullptr);
    CalibrateHandleCount();
    CalibrateRequests();
    if (!StartAgent()) return;
    HANDLE watch = CreateThread(nullptr, 0, WatchWindow, nullptr, 0, nullptr);
    Step("started", std::to_string(agentProcess.dwProcessId));

    bool alive = true;
    for (int round = 1; alive; ++round) {
        const std::string fault = Step("round", std::to_string(round));
        if (fault.rfind("stop", 0) == 0 || fault == "timeout") break;
        // While the script's fault lasts: nothing here may hang or crash.
        SendTo faultSend = StartSendTo(round, false);
        ChooseFromMenu(round, false);
        DropOnce(round, false);
        Step("heal", fault);
        FinishSendTo(faultSend, round);

        // Healed: everything must reach the service.
        ChooseFromMenu(round, true);
        DropOnce(round, true);
        SendTo calmSend = StartSendTo(round, true);
        FinishSendTo(calmSend, round);
        alive = AgentRuns();
        Check(alive, ("round " + std::to_string(round) + " (" + fault + "): the agent runs").c_str());
        Sleep(2000);  // the command and upload threads of the round have ended
        Step("sample", Sample());
    }

    watching = false;
    WaitForSingleObject(watch, 10000);
    CloseHandle(watch);
    Step("end", Sample());
    DWORD_PTR result = 0;
    Check(SendMessageTimeoutW(agentWindow, WM_QUIT_REQUEST, 0, 0, SMTO_NORMAL, 30000, &result) != 0,
          "the quit request is answered");
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(agentProcess.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(agentProcess.hProcess, &code);
    if (code == STILL_ACTIVE) TerminateProcess(agentProcess.hProcess, 1);
    Check(code == 0, "the agent exits with 0 at the end", std::to_wstring(code));
    CloseHandle(agentProcess.hThread);
    CloseHandle(agentProcess.hProcess);

    const long sent = messagesSent.load(), answered = messagesAnswered.load();
    Figure("window_messages_sent", sent);
    Figure("window_messages_answered", answered);
    Figure("window_answer_slowest_ms", slowestAnswerMs.load());
    Figure("window_answers_over_1s", answersOverSecond.load());
    Figure("menus_chosen", menusChosen);
    Figure("menu_requests_confirmed", menusConfirmed);
    Check(sent > 20 && answered == sent, "the agent's window answered every message within 5 s",
          std::to_wstring(answered) + L" of " + std::to_wstring(sent));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    syncDir = argv[1];
    installDir = argv[2];
    filesDir = argv[3];
    OleInitialize(nullptr);
    Soak();
    driver::ClearAgentWindowsVersion();
    OleUninitialize();
    return driver::Finish();
}
