#include "agent/service/package_versions.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vantorel {
namespace {

// The digits of each version run together as one number: right whenever the
// two versions have numbers of the same widths.
bool ConcatenatedDigitsNewer(std::u16string_view candidate, std::u16string_view reference) {
    auto number = [](std::u16string_view text) {
        uint64_t value = 0;
        for (char16_t c : text)
            if (c >= u'0' && c <= u'9') value = value * 10 + static_cast<uint64_t>(c - u'0');
        return value;
    };
    return number(candidate) > number(reference);
}

TEST(PackageVersions, ComparedNumberByNumber) {
    const struct {
        std::u16string_view candidate, reference;
        bool newer;
        bool digitsAgree;  // whether running the digits together gets it right too
    } cases[] = {
        {u"0.09.25.4", u"0.09.25.3", true, true},
        {u"0.09.26.0", u"0.09.25.3", true, true},
        {u"0.09.25.3", u"0.09.25.3", false, true},
        {u"0.09.25.2", u"0.09.25.3", false, true},
        {u"1.6.0.26", u"1.6.0.25", true, true},
        {u"", u"0.09.25.3", false, true},
        {u"0.09.26.0", u"0.09.25.10", true, false},
        {u"1.0", u"0.09.25.3", true, false},
        {u"0.10", u"0.9.99", true, false},
        {u"0.09.25.3.1", u"0.09.25.3", true, false},
        {u"0.09.25.3.0", u"0.09.25.3", false, false},
        {u"v0.09.26-beta.0", u"0.09.25.3", true, true},
        {u"99999999999999999999999.0", u"18446744073709551615.1", false, false},
    };
    for (const auto& c : cases) {
        const std::string name(c.candidate.begin(), c.candidate.end());
        EXPECT_EQ(IsNewerVersion(c.candidate, c.reference), c.newer) << name;
        if (c.digitsAgree) {
            EXPECT_EQ(ConcatenatedDigitsNewer(c.candidate, c.reference), c.newer) << name;
        }
    }
}

TEST(PackageVersions, VersionFileEntriesAndNames) {
    const std::u16string text = u"jre=1.6.0.25|Hollin=0.09.26.0|dependency=0.09.25.3|";
    EXPECT_EQ(VersionFileValue(text, u"Hollin="), u"0.09.26.0");
    EXPECT_EQ(VersionFileValue(text, u"jre="), u"1.6.0.25");
    EXPECT_EQ(VersionFileValue(u"Hollin=0.1", u"Hollin="), u"");
    EXPECT_EQ(VersionFileValue(text, u"other="), u"");
    const PackageUrls urls = ComposePackageUrls(UpdateSettings{});
    EXPECT_EQ(urls.versionFile, u"https://packages.vantorel.example/VantorelPkg-0.09.25.3.txt");
    EXPECT_EQ(urls.agentPackage, u"https://packages.vantorel.example/VantorelPkg-0.09.25.3.7z");
    EXPECT_EQ(urls.runtimePackage, u"https://packages.vantorel.example/jre-1.6.0.25.7z");
}

}  // namespace
}  // namespace vantorel
