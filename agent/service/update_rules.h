// The rules the self-update decides by, as pure functions: whom a new copy
// of the agent must be signed by, which version it must be, when a failed
// package is tried again, and how much a download may take. The Windows host
// gathers the facts (signatures, versions, clocks, free space); these say
// what they mean.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

// ---- Trust ------------------------------------------------------------

// One attribute of a certificate's subject name: its object identifier
// ("2.5.4.3" for the common name) and its value as text.
struct NameAttribute {
    std::string oid;
    std::u16string value;
    bool operator==(const NameAttribute&) const = default;
};
// Every attribute of a subject name, in the order the certificate has them.
using DistinguishedName = std::vector<NameAttribute>;

// Who stands behind one signature: the signer certificate's subject and the
// root certificate (encoded) its chain ends at. A publisher keeps both over
// its certificate renewals; the key and the certificate itself change.
struct PublisherIdentity {
    DistinguishedName subject;
    std::string root;
    bool operator==(const PublisherIdentity&) const = default;
};

// One signature of a file: the primary one or a nested one.
struct SignatureFacts {
    bool verified = false;  // the platform's trust check accepts it (a chain it trusts, the file's hash)
    bool readable = false;  // its signer and chain could be read; identity is then filled
    PublisherIdentity identity;
};

// What the running agent carries: no signature table at all (a development
// build), one that is present but cannot be read, or readable signatures.
enum class OwnSignature { Unsigned, Unreadable, Signed };

enum class TrustVerdict {
    Trusted,
    NotVerified,       // the candidate has no signature the platform accepts
    OwnUnreadable,     // the running agent's own signature cannot be read: nothing is accepted
    OtherPublisher,    // verified, but by another subject or under another root
};

// Whether a new copy may replace the running agent. An unsigned running
// agent takes any copy whose primary signature the platform accepts; a signed
// one takes a copy of which some verified signature has the subject and the
// root of one of its own signatures (so a release signed twice, under an old
// and a new authority, carries the publisher across a change of authority).
// candidate lists the primary signature first, then the nested ones.
TrustVerdict DecideAgentTrust(OwnSignature own, const std::vector<PublisherIdentity>& ownIdentities,
                              const std::vector<SignatureFacts>& candidate);

// ---- Versions ---------------------------------------------------------

enum class VersionVerdict {
    Acceptable,
    Unreadable,     // the copy has no version resource
    NotAnnounced,   // its version is not the one the version file announced
    NotNewer,       // not later than the running agent: a rollback
};

// Whether a new copy's file version (its version resource, "a.b.c.d") may
// replace the running agent of version own. announced, when not empty, is
// the version file's "Hollin=" value, which the copy must equal number by
// number (0.09.26.0 equals 0.9.26.0); the start-up step has none.
VersionVerdict DecideAgentVersion(std::u16string_view fileVersion, std::u16string_view announced,
                                  std::u16string_view own);

// ---- Retries ----------------------------------------------------------

// When a package whose download or extraction failed is tried again: after
// firstPauseMs, doubling with each further failure up to longestPauseMs;
// from the start again once the server publishes another version.
class RetrySchedule {
public:
    bool IsDue(std::u16string_view published, uint64_t nowMs) const;
    void Failed(std::u16string_view published, uint64_t nowMs, uint32_t firstPauseMs, uint32_t longestPauseMs);
    void Succeeded() { *this = RetrySchedule(); }
    uint32_t failures() const { return failures_; }

private:
    std::u16string version_;
    uint32_t failures_ = 0;
    uint64_t notBeforeMs_ = 0;
};

// The pause after the given number of failures in a row (1 or more).
uint64_t RetryPauseMs(uint32_t failures, uint32_t firstPauseMs, uint32_t longestPauseMs);

// ---- Download limits --------------------------------------------------

struct DownloadLimits {
    uint64_t maxBytes = 1024ull * 1024 * 1024;  // build-set cap of one download
    uint64_t minFreeBytes = 256ull * 1024 * 1024;  // left free on the volume
    uint32_t trickleWindowMs = 60000;  // a sender must deliver...
    uint64_t trickleMinBytes = 1024;   // ...this much in each such window
};

enum class DownloadVerdict { Go, TooLarge, DiskFull, Trickle };

// Before the body: declaredLength is the Content-Length, or -1 when the
// reply has none; freeBytes what the volume has left.
DownloadVerdict CheckDeclaredLength(const DownloadLimits& limits, int64_t declaredLength, uint64_t freeBytes);
// Before writing a chunk of count bytes after received ones.
DownloadVerdict CheckChunk(const DownloadLimits& limits, uint64_t received, uint64_t count, uint64_t freeBytes);

// Gives up a sender that delivers less than trickleMinBytes in a window of
// trickleWindowMs (windows counted from the start of the body, one after
// the other).
class TrickleWatch {
public:
    TrickleWatch(const DownloadLimits& limits, uint64_t startMs) : limits_(limits), windowStartMs_(startMs) {}
    // After each read: the total received so far and the time. False once
    // the sender has trickled.
    bool Note(uint64_t received, uint64_t nowMs);

private:
    DownloadLimits limits_;
    uint64_t windowStartMs_;
    uint64_t windowStartBytes_ = 0;
};

// The debug text of a verdict other than Go.
std::u16string_view DescribeDownloadVerdict(DownloadVerdict verdict);

}  // namespace vantorel
