#include "agent/core/agent_state.h"

#include <utility>

namespace vantorel {

AgentState::AgentState(WindowNotifier& notifier, std::function<std::u16string()> timeOfDay)
    : notifier_(notifier),
      timeOfDay_(std::move(timeOfDay)),
      pendingDisplayName_(kProductName),
      displayName_(kProductName),
      statusName_(kTransferStarting) {}

bool AgentState::IsPrimaryInstance() const {
    return instanceMutex != nullptr && instanceMutexError != kErrorAlreadyExists;
}

bool AgentState::IsSignedIn() const { return signedIn_.load() != 0; }

void AgentState::SetSignedIn(bool signedIn) { signedIn_.exchange(signedIn ? 1 : 0); }

std::u16string AgentState::GetDisplayName() const {
    Hold hold(lock_);
    return displayName_;
}

void AgentState::SetPendingDisplayName(std::u16string name) {
    Hold hold(lock_);
    pendingDisplayName_ = std::move(name);
}

bool AgentState::TakePendingDisplayName() {
    Hold hold(lock_);
    if (pendingDisplayName_ == displayName_) return false;
    displayName_ = pendingDisplayName_;
    return true;
}

std::u16string AgentState::GetStorageText() const {
    Hold hold(lock_);
    return storageText_;
}

void AgentState::SetStorageText(std::u16string text) {
    Hold hold(lock_);
    storageText_ = std::move(text);
}

int32_t AgentState::GetTrayIconId() const {
    Hold hold(lock_);
    return trayIconId_;
}

void AgentState::SetTrayIconId(int32_t id) {
    Hold hold(lock_);
    trayIconId_ = id;
}

void AgentState::AcknowledgeTrayIcon() {
    Hold hold(lock_);
    trayIconId_ = ICON_IDLE;
    // Posted, never sent, so holding the lock cannot deadlock with the window.
    notifier_.Post(WM_REFRESH_TRAYICON, 0, 0);
}

std::u16string AgentState::GetStatusName() const {
    Hold hold(lock_);
    return statusName_;
}

void AgentState::SetStatusName(std::u16string name) {
    Hold hold(lock_);
    statusName_ = std::move(name);
}

void AgentState::StampUploadCompleted() {
    std::u16string now = timeOfDay_ ? timeOfDay_() : std::u16string();
    Hold hold(lock_);
    lastUploadTime_ = std::move(now);
}

void AgentState::StampDownloadCompleted() {
    std::u16string now = timeOfDay_ ? timeOfDay_() : std::u16string();
    Hold hold(lock_);
    lastDownloadTime_ = std::move(now);
}

void AgentState::ClearLastUploadTime() {
    Hold hold(lock_);
    lastUploadTime_.clear();
}

void AgentState::ClearLastDownloadTime() {
    Hold hold(lock_);
    lastDownloadTime_.clear();
}

std::u16string AgentState::GetLastUploadTime() const {
    Hold hold(lock_);
    return lastUploadTime_;
}

std::u16string AgentState::GetLastDownloadTime() const {
    Hold hold(lock_);
    return lastDownloadTime_;
}

void AgentState::SetUploadProgress(const TransferCounts& files, const TransferCounts& bytes, int64_t timeRemaining) {
    Hold hold(lock_);
    upload_ = {files, bytes, timeRemaining};
}

void AgentState::SetDownloadProgress(const TransferCounts& files, const TransferCounts& bytes,
                                     int64_t timeRemaining) {
    Hold hold(lock_);
    download_ = {files, bytes, timeRemaining};
}

TransferProgress AgentState::GetUploadProgress() const {
    Hold hold(lock_);
    return upload_;
}

TransferProgress AgentState::GetDownloadProgress() const {
    Hold hold(lock_);
    return download_;
}

TransferCounts AgentState::GetUploadFileCounts() const {
    Hold hold(lock_);
    return upload_.files;
}

TransferCounts AgentState::GetDownloadFileCounts() const {
    Hold hold(lock_);
    return download_.files;
}

std::u16string AgentState::GetDownloadFolder() const {
    Hold hold(lock_);
    return downloadFolder_;
}

void AgentState::SetDownloadFolder(std::u16string folder) {
    Hold hold(lock_);
    downloadFolder_ = std::move(folder);
}

}  // namespace vantorel
