// The record the agent's threads share: sign-in flag, tray icon, status
// word, storage line, transfer counts and times, download folder. One
// recursive lock guards it; every accessor copies in or out under the lock,
// so no caller ever holds a reference into the record.
//
// Portable except for the two platform handles, which only the entry's
// thread touches (created and closed by the Windows code around it).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "agent/core/agent_messages.h"
#include "agent/core/window_notifier.h"
#include "protocol/service_api.h"

namespace vantorel {

struct TransferProgress {
    TransferCounts files;
    TransferCounts bytes;
    int64_t timeRemaining = 0;
};

class AgentState {
public:
    inline static constexpr uint32_t kErrorAlreadyExists = 183;

    // notifier: where AcknowledgeTrayIcon posts its refresh. timeOfDay: the
    // current local time of day as the user formats it, without seconds
    // (empty when it cannot be had).
    AgentState(WindowNotifier& notifier, std::function<std::u16string()> timeOfDay);
    AgentState(const AgentState&) = delete;
    AgentState& operator=(const AgentState&) = delete;

    // Entry thread only: the single-instance mutex and the service process.
    uint32_t instanceMutexError = 0;
    void* instanceMutex = nullptr;
    void* serviceProcess = nullptr;
    bool IsPrimaryInstance() const;

    bool IsSignedIn() const;
    void SetSignedIn(bool signedIn);

    std::u16string GetDisplayName() const;
    // The tooltip the window shows at its next notification; pollers write it.
    void SetPendingDisplayName(std::u16string name);
    bool TakePendingDisplayName();

    std::u16string GetStorageText() const;
    void SetStorageText(std::u16string text);

    int32_t GetTrayIconId() const;
    void SetTrayIconId(int32_t id);
    // Back to ICON_IDLE after the user has seen a completed or failed state,
    // with exactly one refresh of the tray icon.
    void AcknowledgeTrayIcon();

    std::u16string GetStatusName() const;
    void SetStatusName(std::u16string name);

    void StampUploadCompleted();
    void StampDownloadCompleted();
    void ClearLastUploadTime();
    void ClearLastDownloadTime();
    std::u16string GetLastUploadTime() const;
    std::u16string GetLastDownloadTime() const;

    void SetUploadProgress(const TransferCounts& files, const TransferCounts& bytes, int64_t timeRemaining);
    void SetDownloadProgress(const TransferCounts& files, const TransferCounts& bytes, int64_t timeRemaining);
    TransferProgress GetUploadProgress() const;
    TransferProgress GetDownloadProgress() const;
    TransferCounts GetUploadFileCounts() const;
    TransferCounts GetDownloadFileCounts() const;

    std::u16string GetDownloadFolder() const;
    void SetDownloadFolder(std::u16string folder);

private:
    using Hold = std::lock_guard<std::recursive_mutex>;

    WindowNotifier& notifier_;
    std::function<std::u16string()> timeOfDay_;
    std::atomic<int32_t> signedIn_{0};

    mutable std::recursive_mutex lock_;
    std::u16string pendingDisplayName_;
    std::u16string displayName_;
    std::u16string storageText_;
    int32_t trayIconId_ = ICON_SIGNED_OUT;
    std::u16string statusName_;
    std::u16string lastUploadTime_;
    std::u16string lastDownloadTime_;
    TransferProgress upload_;
    TransferProgress download_;
    std::u16string downloadFolder_;
};

}  // namespace vantorel
