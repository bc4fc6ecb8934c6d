// The tray window's procedure, one message at a time, with recording
// stand-ins linked in place of the tray icon code, and the ownership of
// balloon texts: each text a worker thread hands over is freed exactly once,
// whether the window shows it, is gone, or the loop has ended with it still
// queued.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "agent/tray/tray_icon_win.h"
#include "agent/tray/tray_menu_win.h"
#include "agent/upload/drop_target_win.h"
#include "agent/core/agent_window_win.h"

// ---- counting frees of chosen blocks -------------------------------------
namespace {

constexpr int kWatchSlots = 16;
std::atomic<void*> watched[kWatchSlots];
std::atomic<int> freedCount[kWatchSlots];

// A watched block is counted and kept, so its address is never handed out
// again and a second free of it is seen as such.
bool NoteFree(void* block) {
    if (!block) return false;
    for (int i = 0; i < kWatchSlots; ++i) {
        if (watched[i].load() == block) {
            freedCount[i].fetch_add(1);
            return true;
        }
    }
    return false;
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    if (!NoteFree(block)) std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    if (!NoteFree(block)) std::free(block);
}

// ---- recording stand-ins, linked in place of the agent's own -----------
namespace {

struct Record {
    int addTrayIcon = 0;
    int refreshTrayIcon = 0;
    int reloadPictures = 0;
    std::vector<std::wstring> balloons;  // "title|text"
} record;

}  // namespace

// The calls the window procedure makes into the tray icon, menu and drop code.
namespace vantorel {

void AddTrayIcon() { ++record.addTrayIcon; }
void RefreshTrayIcon() { ++record.refreshTrayIcon; }
void ReloadTrayPicturesForSlot() { ++record.reloadPictures; }
void ShowBalloon(const std::u16string& title, const std::u16string& text) {
    record.balloons.push_back(std::wstring(title.begin(), title.end()) + L"|" + std::wstring(text.begin(), text.end()));
}
void SetTrayTooltip(const std::u16string&) {}
void OnTrayIconNotify(HWND, WPARAM, LPARAM) {}
void HandleDropFiles(HDROP) {}

}  // namespace vantorel

namespace vantorel {
namespace {

// Remembers the texts a poster hands over, then posts as the agent does.
class CapturingNotifier final : public WindowNotifier {
public:
    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        for (void* block : {reinterpret_cast<void*>(wParam), reinterpret_cast<void*>(lParam)}) {
            for (int i = 0; i < kWatchSlots; ++i) {
                void* empty = nullptr;
                if (watched[i].compare_exchange_strong(empty, block)) {
                    freedCount[i] = 0;
                    break;
                }
            }
        }
        return real_.Post(message, wParam, lParam);
    }

private:
    MainWindowNotifier real_;
};

DWORD WINAPI PostThreeBalloons(void* notifier) {
    for (int i = 0; i < 3; ++i) PostShowBalloon(*static_cast<CapturingNotifier*>(notifier), u"from a worker", u" ");
    return 0;
}

class TrayWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        record = Record{};
        for (int i = 0; i < kWatchSlots; ++i) {
            watched[i] = nullptr;
            freedCount[i] = 0;
        }
        static const bool registered = [] {
            WNDCLASSEXW windowClass = {};
            windowClass.cbSize = sizeof windowClass;
            windowClass.lpfnWndProc = TrayWindowProc;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = L"TrayWindowTest";
            return RegisterClassExW(&windowClass) != 0;
        }();
        ASSERT_TRUE(registered);
        window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"TrayWindowTest", nullptr, WS_POPUP, 10, 10,
                                 312, 141, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        Agent().agentMessage = RegisterWindowMessageW(L"VantorelPellick");
        Agent().taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
        Agent().mainWindow.store(window);
    }

    void TearDown() override {
        if (IsWindow(window)) DestroyWindow(window);
        // Leave no WM_QUIT or balloon behind for the next test.
        CloseMainWindowNotifier();
        MSG left = {};
        while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) DiscardShowBalloon(left);
    }

    // Runs the agent's loop body over everything queued now.
    void Pump() {
        MSG message = {};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) break;
            DispatchAgentMessage(message);
        }
    }

    static int WatchedSlots() {
        int used = 0;
        for (int i = 0; i < kWatchSlots; ++i) used += watched[i].load() != nullptr;
        return used;
    }
    static bool EachFreedOnce() {
        for (int i = 0; i < kWatchSlots; ++i) {
            if (watched[i].load() && freedCount[i].load() != 1) return false;
        }
        return true;
    }

    HWND window = nullptr;
};

TEST_F(TrayWindowTest, CloseAndMinimizeHideTheWindowInsteadOfEndingIt) {
    const struct {
        UINT message;
        WPARAM wParam;
    } cases[] = {
        {WM_CLOSE, 0},
        {WM_SYSCOMMAND, SC_MINIMIZE},
        {WM_SYSCOMMAND, SC_CLOSE},
        {WM_SYSCOMMAND, SC_MINIMIZE | 0x2},  // the low four bits are the system's own
    };
    for (const auto& c : cases) {
        ShowWindow(window, SW_SHOWNOACTIVATE);
        ASSERT_TRUE(IsWindowVisible(window));
        EXPECT_EQ(SendMessageW(window, c.message, c.wParam, 0), 0) << c.message << " " << c.wParam;
        EXPECT_FALSE(IsWindowVisible(window)) << c.message << " " << c.wParam;
        EXPECT_TRUE(IsWindow(window));
    }
    MSG quit = {};
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "the agent must keep running";
}

TEST_F(TrayWindowTest, PaintsNoBackgroundAndAnswersRefreshWithOne) {
    HDC dc = GetDC(window);
    EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
    ReleaseDC(window, dc);

    EXPECT_EQ(SendMessageW(window, WM_REFRESH_TRAYICON, 0, 0), 1);
    EXPECT_EQ(SendMessageW(window, WM_REFRESH_TRAYICON, 0, 0), 1);
    EXPECT_EQ(record.refreshTrayIcon, 2);
    EXPECT_EQ(record.addTrayIcon, 0);
}

TEST_F(TrayWindowTest, TaskbarCreatedAddsTheIconAgainAtTheSlotsSize) {
    SendMessageW(window, Agent().taskbarCreatedMessage, 0, 0);
    EXPECT_EQ(record.addTrayIcon, 1);
    // From another thread, as the shell broadcasts it.
    PostMessageW(window, Agent().taskbarCreatedMessage, 0, 0);
    Pump();
    EXPECT_EQ(record.addTrayIcon, 2);
    EXPECT_EQ(record.refreshTrayIcon, 0);
    // A new scale, like a new taskbar, may change the slot's size.
    SendMessageW(window, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    SendMessageW(window, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0);
    EXPECT_EQ(record.reloadPictures, 4);
    EXPECT_EQ(record.addTrayIcon, 2);
}

TEST_F(TrayWindowTest, AgentMessageKeepsAHiddenWindowHiddenAndAShownOneShown) {
    ASSERT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(SendMessageW(window, Agent().agentMessage, 0, 0), 0);
    EXPECT_FALSE(IsWindowVisible(window));

    ShowWindow(window, SW_SHOWNOACTIVATE);
    SendMessageW(window, Agent().agentMessage, 0, 0);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(TrayWindowTest, BalloonTextsReachTheIconCodeAndAreFreedOnce) {
    CapturingNotifier notifier;
    ASSERT_TRUE(PostShowBalloon(notifier, u"Upload complete: caf\u00e9.jpg", u" "));
    ASSERT_TRUE(PostShowBalloon(notifier, u"", u""));
    EXPECT_EQ(WatchedSlots(), 4);
    Pump();
    ASSERT_EQ(record.balloons.size(), 2u);
    EXPECT_EQ(record.balloons[0], L"Upload complete: caf\u00e9.jpg| ");
    EXPECT_EQ(record.balloons[1], L"|");
    EXPECT_TRUE(EachFreedOnce());
}

TEST_F(TrayWindowTest, BalloonsForAWindowThatIsGoneAreFreedOnce) {
    CapturingNotifier notifier;
    ASSERT_TRUE(PostShowBalloon(notifier, u"first", u" "));
    ASSERT_TRUE(PostShowBalloon(notifier, u"second", u" "));
    DestroyWindow(window);
    Pump();
    EXPECT_TRUE(record.balloons.empty());
    EXPECT_EQ(WatchedSlots(), 4);
    EXPECT_TRUE(EachFreedOnce());
}

TEST_F(TrayWindowTest, BalloonsStillQueuedWhenTheLoopEndsAreFreedOnceAndLaterPostsFail) {
    CapturingNotifier notifier;
    ASSERT_TRUE(PostShowBalloon(notifier, u"queued", u" "));
    CloseMainWindowNotifier();
    EXPECT_TRUE(EachFreedOnce());

    // Posting has ended: the poster keeps and frees its texts.
    EXPECT_FALSE(PostShowBalloon(notifier, u"too late", u" "));
    EXPECT_EQ(WatchedSlots(), 4);
    EXPECT_TRUE(EachFreedOnce());
    Pump();
    EXPECT_TRUE(record.balloons.empty());
}

TEST_F(TrayWindowTest, BalloonPostedFromAnotherThreadIsShownOnTheWindowThread) {
    CapturingNotifier notifier;
    HANDLE worker = CreateThread(nullptr, 0, PostThreeBalloons, &notifier, 0, nullptr);
    ASSERT_NE(worker, nullptr);
    WaitForSingleObject(worker, 10000);
    CloseHandle(worker);
    Pump();
    EXPECT_EQ(record.balloons.size(), 3u);
    EXPECT_EQ(WatchedSlots(), 6);
    EXPECT_TRUE(EachFreedOnce());
}

}  // namespace
}  // namespace vantorel
