// The versions the agent is built with, the names of what it asks the
// package server for, the version file's entries, and which of two versions
// is newer. Portable; the update thread fetches and unpacks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

inline constexpr std::u16string_view kBuiltInPackageVersion = u"0.09.25.3";
inline constexpr std::u16string_view kBuiltInDependencyVersion = u"0.09.25.3";
inline constexpr std::u16string_view kBuiltInRuntimeVersion = u"1.6.0.25";

// A host under a reserved example domain: a build that names no package
// server reaches nobody.
inline constexpr std::u16string_view kDefaultPackageServerUrl = u"https://packages.vantorel.example/";

// What a build of the agent is: its versions, where it looks for packages
// and how often. Tests build agents with other values.
struct UpdateSettings {
    std::u16string_view packageVersion = kBuiltInPackageVersion;
    std::u16string_view dependencyVersion = kBuiltInDependencyVersion;
    std::u16string_view runtimeVersion = kBuiltInRuntimeVersion;
    std::u16string_view packageServerUrl = kDefaultPackageServerUrl;  // https, ends in "/"
    uint32_t firstCheckDelayMs = 120000;
    uint32_t checkIntervalMs = 600000;
    // How long a package download may go without a byte before it is given up.
    uint32_t receiveTimeoutMs = 60000;
    // A package that failed is tried again after checkIntervalMs, then after
    // twice as long each time, up to this.
    uint32_t retryLongestPauseMs = 86400000;
    // The most one download may bring.
    uint64_t maxDownloadBytes = 1024ull * 1024 * 1024;
};

// This executable's settings, compiled into each agent with its own values.
const UpdateSettings& BuiltInUpdateSettings();

// The package server's files, the base URL followed by each name. The names
// carry the agent's own versions: an agent asks for what was published for it.
struct PackageUrls {
    std::u16string versionFile;   // base + "VantorelPkg-0.09.25.3.txt"
    std::u16string agentPackage;  // base + "VantorelPkg-0.09.25.3.7z"
    std::u16string runtimePackage;  // base + "jre-1.6.0.25.7z"
    std::u16string dependencyPackage;  // base + "dependency-0.09.25.3.7z"
};
PackageUrls ComposePackageUrls(const UpdateSettings& settings);

// The value of an entry of the version file: the text between the first
// occurrence of key (such as u"Hollin=") and the next "|"; empty when the
// key is missing or no "|" follows it.
std::u16string VersionFileValue(std::u16string_view text, std::u16string_view key);

// Whether candidate is a later version than reference. The numbers between
// dots are compared one by one as integers (other characters in them carry
// no weight, a missing number counts as 0, a huge one saturates), so
// 0.09.26.0 is newer than 0.09.25.10 and 1.0 newer than 0.09.25.3.
bool IsNewerVersion(std::u16string_view candidate, std::u16string_view reference);

}  // namespace vantorel
