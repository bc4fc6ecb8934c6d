#include "agent/service/update_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantorel {
namespace {

const NameAttribute kCountry{"2.5.4.6", u"DE"};
const NameAttribute kOrganisation{"2.5.4.10", u"Vantorel GmbH"};
const NameAttribute kName{"2.5.4.3", u"Vantorel GmbH"};
const NameAttribute kJurisdiction{"1.3.6.1.4.1.311.60.2.1.3", u"DE"};
const NameAttribute kRegistration{"2.5.4.5", u"HRB 12345"};
const DistinguishedName kPublisher{kCountry, kOrganisation, kName};
const DistinguishedName kEvPublisher{kJurisdiction, kRegistration, kCountry, kOrganisation, kName};
const std::string kRoot = "root certificate of the authority";
const std::string kOtherRoot = "root certificate of another authority";

SignatureFacts Signature(DistinguishedName subject, std::string root, bool verified = true) {
    return {verified, true, {std::move(subject), std::move(root)}};
}

TEST(UpdateRules, TrustFollowsThePublisherNotTheCertificate) {
    const std::vector<PublisherIdentity> own{{kPublisher, kRoot}};
    const std::vector<PublisherIdentity> ownEv{{kEvPublisher, kRoot}};
    const SignatureFacts unverified = Signature(kPublisher, kRoot, false);
    const SignatureFacts unreadable{true, false, {}};
    const struct {
        const char* what;
        OwnSignature own;
        std::vector<PublisherIdentity> identities;
        std::vector<SignatureFacts> candidate;
        TrustVerdict verdict;
    } cases[] = {
        {"renewed: same subject, same root", OwnSignature::Signed, own, {Signature(kPublisher, kRoot)},
         TrustVerdict::Trusted},
        {"EV subject renewed", OwnSignature::Signed, ownEv, {Signature(kEvPublisher, kRoot)}, TrustVerdict::Trusted},
        {"EV subject without its registration", OwnSignature::Signed, ownEv,
         {Signature({kJurisdiction, kCountry, kOrganisation, kName}, kRoot)}, TrustVerdict::OtherPublisher},
        {"another subject, same authority", OwnSignature::Signed, own,
         {Signature({kCountry, kOrganisation, {"2.5.4.3", u"Other"}}, kRoot)}, TrustVerdict::OtherPublisher},
        {"same attributes in another order", OwnSignature::Signed, own,
         {Signature({kOrganisation, kCountry, kName}, kRoot)}, TrustVerdict::OtherPublisher},
        {"a value differing in case", OwnSignature::Signed, own,
         {Signature({kCountry, {"2.5.4.10", u"VANTOREL GMBH"}, kName}, kRoot)}, TrustVerdict::OtherPublisher},
        {"the publisher's subject under another root", OwnSignature::Signed, own,
         {Signature(kPublisher, kOtherRoot)}, TrustVerdict::OtherPublisher},
        {"nested: new authority first, the old one nested", OwnSignature::Signed, own,
         {Signature(kPublisher, kOtherRoot), Signature(kPublisher, kRoot)}, TrustVerdict::Trusted},
        {"nested signature that does not verify", OwnSignature::Signed, own,
         {Signature(kPublisher, kOtherRoot), unverified}, TrustVerdict::OtherPublisher},
        {"after the move: the running agent carries both", OwnSignature::Signed,
         {{kPublisher, kOtherRoot}, {kPublisher, kRoot}}, {Signature(kPublisher, kOtherRoot)}, TrustVerdict::Trusted},
        {"candidate's signature verifies but cannot be read", OwnSignature::Signed, own, {unreadable},
         TrustVerdict::OtherPublisher},
        {"candidate not verified", OwnSignature::Signed, own, {unverified}, TrustVerdict::NotVerified},
        {"candidate unsigned", OwnSignature::Signed, own, {}, TrustVerdict::NotVerified},
        {"own signature present but unreadable", OwnSignature::Unreadable, {}, {Signature(kPublisher, kRoot)},
         TrustVerdict::OwnUnreadable},
        {"signed but no identity read", OwnSignature::Signed, {}, {Signature(kPublisher, kRoot)},
         TrustVerdict::OwnUnreadable},
        {"unsigned agent, verified candidate", OwnSignature::Unsigned, {}, {Signature({kName}, kOtherRoot)},
         TrustVerdict::Trusted},
        {"unsigned agent, only a nested signature verifies", OwnSignature::Unsigned, {},
         {unverified, Signature(kPublisher, kRoot)}, TrustVerdict::NotVerified},
        {"unsigned agent, unsigned candidate", OwnSignature::Unsigned, {}, {}, TrustVerdict::NotVerified},
    };
    for (const auto& c : cases) EXPECT_EQ(DecideAgentTrust(c.own, c.identities, c.candidate), c.verdict) << c.what;
}

TEST(UpdateRules, ANewCopyIsTheAnnouncedVersionAndNewer) {
    const struct {
        std::u16string_view file, announced;
        VersionVerdict verdict;
    } cases[] = {
        {u"0.9.26.0", u"0.09.26.0", VersionVerdict::Acceptable},
        {u"0.9.26.0", u"0.09.26", VersionVerdict::Acceptable},
        {u"0.9.26.0", u"", VersionVerdict::Acceptable},  // start-up: newer is enough
        {u"0.9.25.4", u"0.09.25.4", VersionVerdict::Acceptable},
        {u"0.9.25.2", u"0.09.26.0", VersionVerdict::NotAnnounced},  // an old build over a newer announcement
        {u"0.9.26.1", u"0.09.26.0", VersionVerdict::NotAnnounced},
        {u"0.9.25.2", u"0.09.25.2", VersionVerdict::NotNewer},
        {u"0.9.25.3", u"0.09.25.3", VersionVerdict::NotNewer},
        {u"0.9.25.2", u"", VersionVerdict::NotNewer},
        {u"", u"0.09.26.0", VersionVerdict::Unreadable},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideAgentVersion(c.file, c.announced, u"0.09.25.3"), c.verdict)
            << std::string(c.file.begin(), c.file.end()) << " / " << std::string(c.announced.begin(), c.announced.end());
}

TEST(UpdateRules, FailedPackagesWaitEverLongerUntilTheVersionChanges) {
    constexpr uint32_t kTen = 600000, kDay = 86400000;
    const struct {
        uint32_t failures;
        uint64_t pause;
    } pauses[] = {{1, kTen}, {2, 2 * kTen}, {4, 8 * kTen}, {8, 128 * kTen}, {9, kDay}, {4000000000u, kDay}};
    for (const auto& p : pauses) EXPECT_EQ(RetryPauseMs(p.failures, kTen, kDay), p.pause) << p.failures;

    RetrySchedule retry;
    EXPECT_TRUE(retry.IsDue(u"1.0", 0));
    retry.Failed(u"1.0", 1000, kTen, kDay);
    retry.Failed(u"1.0", 2000, kTen, kDay);
    EXPECT_FALSE(retry.IsDue(u"1.0", 2000 + 2 * kTen - 1));
    EXPECT_TRUE(retry.IsDue(u"1.0", 2000 + 2 * kTen));
    EXPECT_TRUE(retry.IsDue(u"1.1", 2001));  // another version is tried at once...
    retry.Failed(u"1.1", 3000, kTen, kDay);
    EXPECT_EQ(retry.failures(), 1u);  // ...and counted from the start
    retry.Succeeded();
    EXPECT_TRUE(retry.IsDue(u"1.1", 3001));
}

TEST(UpdateRules, DownloadsStayWithinTheCapTheDiskAndAPace) {
    const DownloadLimits limits{1000, 100, 60000, 1024};
    const struct {
        int64_t declared;
        uint64_t received, chunk, free;
        DownloadVerdict head, chunkVerdict;
    } cases[] = {
        {-1, 0, 500, 10000, DownloadVerdict::Go, DownloadVerdict::Go},
        {1000, 900, 100, 1100, DownloadVerdict::Go, DownloadVerdict::Go},
        {1001, 900, 101, 10000, DownloadVerdict::TooLarge, DownloadVerdict::TooLarge},
        {-1, UINT64_MAX - 10, 100, 10000, DownloadVerdict::Go, DownloadVerdict::TooLarge},
        {INT64_MAX, 0, 2000, 10000, DownloadVerdict::TooLarge, DownloadVerdict::TooLarge},
        {950, 0, 950, 1000, DownloadVerdict::DiskFull, DownloadVerdict::DiskFull},
        {900, 0, 900, 1000, DownloadVerdict::Go, DownloadVerdict::Go},
        {-1, 0, 10, 5, DownloadVerdict::Go, DownloadVerdict::DiskFull},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CheckDeclaredLength(limits, c.declared, c.free), c.head) << c.declared;
        EXPECT_EQ(CheckChunk(limits, c.received, c.chunk, c.free), c.chunkVerdict) << c.received << "+" << c.chunk;
    }

    TrickleWatch watch(limits, 5000);
    EXPECT_TRUE(watch.Note(10, 64999));
    EXPECT_TRUE(watch.Note(1024, 65000));   // 1 KiB in the first minute
    EXPECT_TRUE(watch.Note(2000, 124999));
    EXPECT_FALSE(watch.Note(2047, 125000));  // 1023 bytes in the second
}

}  // namespace
}  // namespace vantorel
