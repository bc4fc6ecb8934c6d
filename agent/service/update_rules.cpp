#include "agent/service/update_rules.h"

#include <algorithm>

#include "agent/service/package_versions.h"

namespace vantorel {

TrustVerdict DecideAgentTrust(OwnSignature own, const std::vector<PublisherIdentity>& ownIdentities,
                              const std::vector<SignatureFacts>& candidate) {
    const bool primaryVerified = !candidate.empty() && candidate.front().verified;
    switch (own) {
        case OwnSignature::Unsigned:
            return primaryVerified ? TrustVerdict::Trusted : TrustVerdict::NotVerified;
        case OwnSignature::Unreadable:
            return TrustVerdict::OwnUnreadable;
        case OwnSignature::Signed:
            break;
    }
    if (ownIdentities.empty()) return TrustVerdict::OwnUnreadable;
    bool anyVerified = false;
    for (const SignatureFacts& signature : candidate) {
        if (!signature.verified) continue;
        anyVerified = true;
        if (!signature.readable || signature.identity.subject.empty() || signature.identity.root.empty()) continue;
        if (std::find(ownIdentities.begin(), ownIdentities.end(), signature.identity) != ownIdentities.end())
            return TrustVerdict::Trusted;
    }
    return anyVerified ? TrustVerdict::OtherPublisher : TrustVerdict::NotVerified;
}

VersionVerdict DecideAgentVersion(std::u16string_view fileVersion, std::u16string_view announced,
                                  std::u16string_view own) {
    if (fileVersion.empty()) return VersionVerdict::Unreadable;
    const bool sameAsAnnounced = !IsNewerVersion(fileVersion, announced) && !IsNewerVersion(announced, fileVersion);
    if (!announced.empty() && !sameAsAnnounced) return VersionVerdict::NotAnnounced;
    if (!IsNewerVersion(fileVersion, own)) return VersionVerdict::NotNewer;
    return VersionVerdict::Acceptable;
}

uint64_t RetryPauseMs(uint32_t failures, uint32_t firstPauseMs, uint32_t longestPauseMs) {
    uint64_t pause = firstPauseMs;
    for (uint32_t i = 1; i < failures && pause < longestPauseMs; ++i) pause *= 2;
    return std::min<uint64_t>(pause, longestPauseMs);
}

bool RetrySchedule::IsDue(std::u16string_view published, uint64_t nowMs) const {
    return published != version_ || nowMs >= notBeforeMs_;
}

void RetrySchedule::Failed(std::u16string_view published, uint64_t nowMs, uint32_t firstPauseMs,
                           uint32_t longestPauseMs) {
    if (published != version_) {
        version_ = std::u16string(published);
        failures_ = 0;
    }
    if (failures_ < UINT32_MAX) ++failures_;
    notBeforeMs_ = nowMs + RetryPauseMs(failures_, firstPauseMs, longestPauseMs);
}

DownloadVerdict CheckDeclaredLength(const DownloadLimits& limits, int64_t declaredLength, uint64_t freeBytes) {
    if (declaredLength < 0) return DownloadVerdict::Go;  // judged chunk by chunk
    const uint64_t length = static_cast<uint64_t>(declaredLength);
    if (length > limits.maxBytes) return DownloadVerdict::TooLarge;
    return CheckChunk(limits, 0, length, freeBytes);
}

DownloadVerdict CheckChunk(const DownloadLimits& limits, uint64_t received, uint64_t count, uint64_t freeBytes) {
    if (count > limits.maxBytes || received > limits.maxBytes - count) return DownloadVerdict::TooLarge;
    if (freeBytes < count || freeBytes - count < limits.minFreeBytes) return DownloadVerdict::DiskFull;
    return DownloadVerdict::Go;
}

bool TrickleWatch::Note(uint64_t received, uint64_t nowMs) {
    if (nowMs - windowStartMs_ < limits_.trickleWindowMs) return true;
    if (received - windowStartBytes_ < limits_.trickleMinBytes) return false;
    windowStartMs_ = nowMs;
    windowStartBytes_ = received;
    return true;
}

std::u16string_view DescribeDownloadVerdict(DownloadVerdict verdict) {
    switch (verdict) {
        case DownloadVerdict::Go:
            break;
        case DownloadVerdict::TooLarge:
            return u"larger than the download limit";
        case DownloadVerdict::DiskFull:
            return u"it would leave too little free space on the volume";
        case DownloadVerdict::Trickle:
            return u"the server sends too slowly";
    }
    return u"";
}

}  // namespace vantorel
