// The floor under the agent's footprint: a bare program that makes only the
// status pollers' requests, at their rhythm, with WinINet as the agent's
// HTTP client uses it (a root and a URL handle per GET, the same agent name,
// header and flags, 1024-byte reads; a root, connection and request handle
// per POST). It parses nothing, keeps no state and shows nothing, so what
// the agent costs beyond it is the agent's own.
//
//   poll-floor [PATH...]
//
// Each time the named event "VantorelFloorPosts" is set it also POSTs the
// upload request of PATH... as many times as the shared memory
// "VantorelFloorPostCount" says (the footprint driver's drops), then sets
// "VantorelFloorPostsDone". It runs until ended.
#include <windows.h>
#include <wininet.h>
#include <process.h>

#include <string>

namespace {

constexpr wchar_t kUserAgent[] = L"ZozeviRivudaDuviv";
constexpr wchar_t kGetHeader[] = L"Content-Type: application/x-www-form-urlencoded";
constexpr wchar_t kPostHeader[] = L"Content-Type: application/x-www-form-urlencoded;charset=UTF-8;";
constexpr wchar_t kOrigin[] = L"http://127.0.0.1:9333";
constexpr INTERNET_PORT kPort = 9333;

// The reply is kept whole, as any client must before it can read it.
void Get(const wchar_t* path) {
    HINTERNET root = InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!root) return;
    const std::wstring url = std::wstring(kOrigin) + path;
    if (HINTERNET request =
            InternetOpenUrlW(root, url.c_str(), kGetHeader, static_cast<DWORD>(-1), INTERNET_FLAG_RELOAD, 0)) {
        std::string reply;
        char chunk[1024];
        DWORD count = 0;
        while (InternetReadFile(request, chunk, sizeof chunk, &count) && count != 0) reply.append(chunk, count);
        InternetCloseHandle(request);
    }
    InternetCloseHandle(root);
}

void Post(const std::string& body) {
    HINTERNET root = InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!root) return;
    if (HINTERNET connection =
            InternetConnectW(root, L"127.0.0.1", kPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0)) {
        LPCWSTR acceptTypes[] = {L"*/*", nullptr};
        HINTERNET request = HttpOpenRequestW(connection, L"POST", L"filetransfer", nullptr, nullptr, acceptTypes,
                                             INTERNET_FLAG_RELOAD, 0);
        HttpSendRequestW(request, kPostHeader, static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                         static_cast<DWORD>(body.size()));
        if (request) InternetCloseHandle(request);
        InternetCloseHandle(connection);
    }
    InternetCloseHandle(root);
}

// The pollers' cycles: requests, then their pause (the event poll pauses first).
unsigned __stdcall LoginStateCycles(void*) {
    for (;;) {
        Get(L"/query?action=loginstate&token=username");
        Get(L"/query?action=dldir");
        Get(L"/query?action=loginstate");
        Get(L"/query?action=transferstatus");  // signed in, as in the benchmark
        Sleep(200);
    }
}

unsigned __stdcall EventCycles(void*) {
    for (;;) {
        Sleep(1000);
        Get(L"/poll");
    }
}

unsigned __stdcall StorageCycles(void*) {
    for (;;) {
        Get(L"/query?action=storage");
        Sleep(1000);
    }
}

unsigned __stdcall ProgressCycles(void*) {
    for (;;) {
        Get(L"/query?action=progress&taskid=upload");
        Get(L"/query?action=progress&taskid=download");
        Sleep(500);
    }
}

void Start(unsigned(__stdcall* cycles)(void*)) {
    const uintptr_t thread = _beginthreadex(nullptr, 0, cycles, nullptr, 0, nullptr);
    if (thread) CloseHandle(reinterpret_cast<HANDLE>(thread));
}

// The upload body the agent sends for these paths (backslashes doubled,
// '&' as %26), in UTF-8.
std::string UploadBody(int argc, wchar_t** argv) {
    std::wstring body = L"action=upload&cloudpath=&localpath=[";
    for (int i = 1; i < argc; ++i) {
        if (i > 1) body += L',';
        body += L'"';
        for (const wchar_t* unit = argv[i]; *unit; ++unit) {
            if (*unit == L'\\') body += L"\\\\";
            else if (*unit == L'&') body += L"%26";
            else body += *unit;
        }
        body += L'"';
    }
    body += L']';
    std::string bytes(body.size() * 4 + 1, '\0');
    const int length = WideCharToMultiByte(CP_UTF8, 0, body.c_str(), -1, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Start(LoginStateCycles);
    Start(EventCycles);
    Start(StorageCycles);
    Start(ProgressCycles);

    const std::string body = UploadBody(argc, argv);
    HANDLE posts = CreateEventW(nullptr, FALSE, FALSE, L"VantorelFloorPosts");
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, L"VantorelFloorPostsDone");
    HANDLE count = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG),
                                      L"VantorelFloorPostCount");
    auto* wanted = static_cast<volatile LONG*>(MapViewOfFile(count, FILE_MAP_READ, 0, 0, sizeof(LONG)));
    if (!posts || !done || !wanted) return 1;
    for (;;) {
        WaitForSingleObject(posts, INFINITE);
        for (LONG i = 0; i < *wanted; ++i) Post(body);
        SetEvent(done);
    }
}
