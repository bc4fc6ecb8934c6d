// Exercises what a threaded GUI program needs from the Wine it runs under:
// several threads with their own thread-local data that meet in critical
// sections and events, and a window whose message loop takes messages
// posted from another thread and timer ticks. Under an emulator that gets
// per-thread state wrong (the segment that points at each thread's TEB,
// the C library's TLS) this crashes or reports a mismatch.
//
//   thread-probe.exe      prints one line per stage and "thread-probe: ok",
//                         exits 0; on a mismatch prints "FAIL ..." and exits 1
#include <windows.h>

#include <cstdio>

namespace {

constexpr int kWorkers = 4;
constexpr int kIterations = 300;
constexpr int kPingPongRounds = 200;
constexpr int kPostedMessages = 100;
constexpr int kTimerTicks = 3;
constexpr UINT kMsgWork = WM_APP;
constexpr UINT kMsgWorkDone = WM_APP + 1;

int failures = 0;

void fail(const char* what, long a, long b)
{
    std::printf("FAIL %s (%ld vs %ld)\n", what, a, b);
    std::fflush(stdout);
    ++failures;
}

// ---- workers: thread-local data, a critical section, events -----------------

thread_local int tls_counter = 0;  // the C++ runtime's TLS
DWORD tls_slot = TLS_OUT_OF_INDEXES;  // Windows' own TLS in the TEB

struct Worker {
    HANDLE thread = nullptr;
    DWORD expected_id = 0;  // set before the thread runs (created suspended)
    int index = 0;
    long mismatches = 0;
};

CRITICAL_SECTION shared_lock;
long long shared_total = 0;
long shared_inside = 0;  // threads inside the critical section at once
HANDLE start_event = nullptr;  // manual reset: all workers start together

DWORD WINAPI worker_main(void* arg)
{
    auto* self = static_cast<Worker*>(arg);
    WaitForSingleObject(start_event, INFINITE);
    int mine = self->index * 1000;
    TlsSetValue(tls_slot, &mine);
    for (int k = 0; k < kIterations; ++k) {
        ++tls_counter;
        // Each of these reads state through the thread's own TEB or TLS
        // after a round trip into Wine's Unix side.
        if (GetCurrentThreadId() != self->expected_id)
            ++self->mismatches;
        if (TlsGetValue(tls_slot) != &mine)
            ++self->mismatches;
        EnterCriticalSection(&shared_lock);
        if (++shared_inside != 1)
            ++self->mismatches;
        shared_total += self->index + 1;
        --shared_inside;
        LeaveCriticalSection(&shared_lock);
        if (k % 50 == 49)
            Sleep(1);
        else if (k % 10 == 0)
            Sleep(0);
    }
    if (tls_counter != kIterations)
        ++self->mismatches;
    if (mine != self->index * 1000)
        ++self->mismatches;
    return 0;
}

void run_workers()
{
    tls_slot = TlsAlloc();
    InitializeCriticalSection(&shared_lock);
    start_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Worker workers[kWorkers];
    HANDLE handles[kWorkers];
    for (int i = 0; i < kWorkers; ++i) {
        workers[i].index = i;
        workers[i].thread = CreateThread(nullptr, 0, worker_main, &workers[i], CREATE_SUSPENDED,
                                         &workers[i].expected_id);
        if (!workers[i].thread) {
            fail("CreateThread", static_cast<long>(GetLastError()), 0);
            return;
        }
        handles[i] = workers[i].thread;
        ResumeThread(workers[i].thread);
    }
    SetEvent(start_event);
    WaitForMultipleObjects(kWorkers, handles, TRUE, INFINITE);
    long long expected = 0;
    for (int i = 0; i < kWorkers; ++i) {
        expected += static_cast<long long>(i + 1) * kIterations;
        DWORD code = 1;
        GetExitCodeThread(workers[i].thread, &code);
        if (code != 0)
            fail("worker exit code", static_cast<long>(code), 0);
        if (workers[i].mismatches != 0)
            fail("worker saw another thread's state", workers[i].mismatches, 0);
        CloseHandle(workers[i].thread);
    }
    if (shared_total != expected)
        fail("sum under the critical section", static_cast<long>(shared_total), static_cast<long>(expected));
    if (tls_counter != 0)
        fail("main thread's TLS touched by workers", tls_counter, 0);
    CloseHandle(start_event);
    DeleteCriticalSection(&shared_lock);
    TlsFree(tls_slot);
    std::printf("workers: %d threads x %d iterations, sum %lld\n", kWorkers, kIterations, shared_total);
}

// ---- ping-pong: two threads hand the turn back and forth through events -----

HANDLE ping_event = nullptr;
HANDLE pong_event = nullptr;
long ball = 0;  // handed over through the events, which order the accesses

DWORD WINAPI ponger_main(void*)
{
    for (int k = 0; k < kPingPongRounds; ++k) {
        WaitForSingleObject(ping_event, INFINITE);
        ++ball;
        SetEvent(pong_event);
    }
    return 0;
}

void run_ping_pong()
{
    ping_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    pong_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE ponger = CreateThread(nullptr, 0, ponger_main, nullptr, 0, nullptr);
    if (!ponger) {
        fail("CreateThread", static_cast<long>(GetLastError()), 0);
        return;
    }
    for (int k = 0; k < kPingPongRounds; ++k) {
        SetEvent(ping_event);
        WaitForSingleObject(pong_event, INFINITE);
        if (ball != k + 1)
            fail("ping-pong turn", ball, k + 1);
    }
    WaitForSingleObject(ponger, INFINITE);
    CloseHandle(ponger);
    CloseHandle(ping_event);
    CloseHandle(pong_event);
    std::printf("ping-pong: %d rounds\n", kPingPongRounds);
}

// ---- a window: messages posted from a worker thread, and a timer ------------

struct WindowState {
    int posted_seen = 0;
    long next_expected = 0;  // posted messages arrive in order
    bool poster_done = false;
    int ticks = 0;
    DWORD window_thread = 0;
};
WindowState window_state;

void finish_if_done(HWND hwnd)
{
    if (window_state.poster_done && window_state.ticks >= kTimerTicks)
        DestroyWindow(hwnd);
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    if (msg != WM_NCCREATE && msg != WM_CREATE && GetCurrentThreadId() != window_state.window_thread)
        fail("window procedure on another thread", static_cast<long>(GetCurrentThreadId()),
             static_cast<long>(window_state.window_thread));
    switch (msg) {
    case kMsgWork:
        if (static_cast<long>(wparam) != window_state.next_expected)
            fail("posted message order", static_cast<long>(wparam), window_state.next_expected);
        window_state.next_expected = static_cast<long>(wparam) + 1;
        ++window_state.posted_seen;
        return 0;
    case kMsgWorkDone:
        window_state.poster_done = true;
        finish_if_done(hwnd);
        return 0;
    case WM_TIMER:
        ++window_state.ticks;
        finish_if_done(hwnd);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd, 1);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

DWORD WINAPI poster_main(void* arg)
{
    HWND hwnd = static_cast<HWND>(arg);
    for (int k = 0; k < kPostedMessages; ++k) {
        if (!PostMessageW(hwnd, kMsgWork, static_cast<WPARAM>(k), 0))
            fail("PostMessage", static_cast<long>(GetLastError()), 0);
        if (k % 20 == 19)
            Sleep(1);
    }
    PostMessageW(hwnd, kMsgWorkDone, 0, 0);
    return 0;
}

void run_window()
{
    window_state.window_thread = GetCurrentThreadId();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.lpszClassName = L"ThreadProbeWindow";
    if (!RegisterClassW(&wc)) {
        fail("RegisterClass", static_cast<long>(GetLastError()), 0);
        return;
    }
    HWND hwnd = CreateWindowW(wc.lpszClassName, L"thread-probe", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
    if (!hwnd) {
        fail("CreateWindow", static_cast<long>(GetLastError()), 0);
        return;
    }
    ShowWindow(hwnd, SW_SHOWNORMAL);
    SetTimer(hwnd, 1, 20, nullptr);
    HANDLE poster = CreateThread(nullptr, 0, poster_main, hwnd, 0, nullptr);
    if (!poster) {
        fail("CreateThread", static_cast<long>(GetLastError()), 0);
        DestroyWindow(hwnd);
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (poster) {
        WaitForSingleObject(poster, INFINITE);
        CloseHandle(poster);
    }
    if (window_state.posted_seen != kPostedMessages)
        fail("posted messages received", window_state.posted_seen, kPostedMessages);
    std::printf("window: %d posted messages, %d timer ticks\n", window_state.posted_seen,
                window_state.ticks);
}

}  // namespace

int main()
{
    run_workers();
    std::fflush(stdout);
    run_ping_pong();
    std::fflush(stdout);
    run_window();
    std::printf("thread-probe: %s\n", failures == 0 ? "ok" : "FAILED");
    return failures == 0 ? 0 : 1;
}
