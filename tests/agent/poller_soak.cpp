// The four real poller loops against a real service on 127.0.0.1:9333 (the
// stand-in, flapped by poller_soak_test.sh), built with ThreadSanitizer. A
// stand-in window thread takes the posted messages, frees the balloon texts
// as the window procedure does, reads the Agent state as the menus do and
// acknowledges the icon now and then.
//   poller-soak STOP_FILE WINDOW_DELAY_MS
// Runs until STOP_FILE exists, then stops the loops and prints the Agent
// state and the balloons as "name=value" lines (UTF-8).
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "agent/polling/status_pollers.h"
#include "protocol/utf8.h"
#include "resources/ui_strings.h"

namespace vantorel {
namespace {

struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// The tray window's queue: closed (posts fail) until the window "exists".
class QueueNotifier final : public WindowNotifier {
public:
    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard<std::mutex> hold(lock_);
        if (!open_) {
            ++dropped_;
            return false;
        }
        queue_.push_back({message, wParam, lParam});
        return true;
    }
    void Open() {
        std::lock_guard<std::mutex> hold(lock_);
        open_ = true;
    }
    std::deque<Message> Take() {
        std::lock_guard<std::mutex> hold(lock_);
        return std::exchange(queue_, {});
    }
    int Dropped() {
        std::lock_guard<std::mutex> hold(lock_);
        return dropped_;
    }

private:
    std::mutex lock_;
    bool open_ = false;
    int dropped_ = 0;
    std::deque<Message> queue_;
};

// As PostShowBalloon: copies owned by the receiver once posted.
bool PostBalloonCopies(WindowNotifier& notifier, const std::u16string& title, const std::u16string& text) {
    auto* ownedTitle = new std::u16string(title);
    auto* ownedText = new std::u16string(text);
    if (notifier.Post(WM_SHOW_BALLOON, reinterpret_cast<uintptr_t>(ownedTitle),
                      reinterpret_cast<intptr_t>(ownedText))) {
        return true;
    }
    delete ownedTitle;
    delete ownedText;
    return false;
}

std::u16string SoakStrings(unsigned id) {
    switch (id) {
    case IDS_STORAGE_CHECKING: return u"Checking storage";
    case IDS_STORAGE_SIGNING_IN: return u"Signing in";
    case IDS_STORAGE_LINE: return u"{0}% of {1} GB used";
    default: return u"";
    }
}

void Sleep(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

bool Exists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0;
}

std::string Counts(const TransferCounts& c) {
    return std::to_string(c.running) + "," + std::to_string(c.finished) + "," + std::to_string(c.paused) + "," +
           std::to_string(c.errored) + "," + std::to_string(c.pending);
}

void Print(const char* name, const std::string& value) { std::printf("%s=%s\n", name, value.c_str()); }
void Print(const char* name, std::u16string_view value) { Print(name, EncodeUtf8(value)); }

}  // namespace
}  // namespace vantorel

int main(int argc, char** argv) {
    using namespace vantorel;
    if (argc != 3) {
        std::fputs("usage: poller-soak STOP_FILE WINDOW_DELAY_MS\n", stderr);
        return 2;
    }
    const char* stopFile = argv[1];
    const int windowDelayMs = std::stoi(argv[2]);

    QueueNotifier notifier;
    AgentState state(notifier, [] { return std::u16string(u"12:00"); });
    NotifierOutput output(notifier, PostBalloonCopies);
    std::atomic<bool> stop{false};
    PollerEnvironment environment{PlatformHttpTransport(), output, SoakStrings, Sleep, &stop};

    std::vector<std::thread> pollers;
    for (auto poller : {LoginStatePoller, EventPoller, StoragePoller, ProgressPoller}) {
        pollers.emplace_back(poller, std::ref(state), std::ref(environment));
    }

    // The window thread: created after the pollers, as in the agent.
    std::atomic<bool> windowStop{false};
    std::atomic<bool> acknowledging{true};
    int refreshes = 0;
    std::vector<std::u16string> balloons;
    auto pump = [&] {
        for (const Message& message : notifier.Take()) {
            if (message.message == WM_REFRESH_TRAYICON) {
                ++refreshes;
                (void)state.GetTrayIconId();
            } else if (message.message == WM_SHOW_BALLOON) {
                std::unique_ptr<std::u16string> title(reinterpret_cast<std::u16string*>(message.wParam));
                std::unique_ptr<std::u16string> text(reinterpret_cast<std::u16string*>(message.lParam));
                balloons.push_back(*title + u"|" + *text);
            }
        }
    };
    std::thread window([&] {
        Sleep(static_cast<uint32_t>(windowDelayMs));
        notifier.Open();
        for (int pass = 0; !windowStop.load(); ++pass) {
            pump();
            // what the menus read; a click on a finished or failed icon
            (void)state.GetUploadProgress();
            (void)state.GetDownloadFolder();
            (void)state.GetStorageText();
            (void)state.GetLastUploadTime();
            const int32_t icon = state.GetTrayIconId();
            if (acknowledging.load() && pass % 40 == 0 && (icon == ICON_COMPLETED || icon == ICON_ERROR)) state.AcknowledgeTrayIcon();
            Sleep(50);
        }
        pump();
    });

    while (!Exists(stopFile)) Sleep(100);
    // No click in the last cycles, so the icon shows what the service reports.
    acknowledging = false;
    Sleep(3 * kLoginStatePauseMs);
    stop = true;
    for (std::thread& poller : pollers) poller.join();
    windowStop = true;
    window.join();

    Print("signedIn", std::to_string(state.IsSignedIn() ? 1 : 0));
    Print("downloadFolder", state.GetDownloadFolder());
    Print("storageText", state.GetStorageText());
    Print("statusName", state.GetStatusName());
    Print("trayIconId", std::to_string(state.GetTrayIconId()));
    const TransferProgress upload = state.GetUploadProgress();
    const TransferProgress download = state.GetDownloadProgress();
    Print("uploadFiles", Counts(upload.files));
    Print("uploadBytes", Counts(upload.bytes));
    Print("downloadFiles", Counts(download.files));
    Print("downloadBytes", Counts(download.bytes));
    Print("lastUploadTime", state.GetLastUploadTime());
    Print("refreshes", std::to_string(refreshes));
    Print("dropped", std::to_string(notifier.Dropped()));
    for (const std::u16string& balloon : balloons) Print("balloon", balloon);
    return 0;
}
