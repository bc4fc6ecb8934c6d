// The versions the agent is built with, the names of what it asks the
// package server for, the version file's entries, and which of two versions
// is newer. Portable; the update thread fetches and unpacks.
#pragma once

#include <string>
#include <string_view>

namespace vantorel {

inline constexpr std::u16string_view kBuiltInPackageVersion = u"0.09.25.3";
inline constexpr std::u16string_view kBuiltInDependencyVersion = u"0.09.25.3";
inline constexpr std::u16string_view kBuiltInRuntimeVersion = u"1.6.0.25";

// File names on the package server, under its base URL. They carry the
// agent's own versions: an agent asks for what was published for it.
std::u16string VersionFileName();     // "VantorelPkg-0.09.25.3.txt"
std::u16string AgentPackageName();    // "VantorelPkg-0.09.25.3.7z"
std::u16string RuntimePackageName();  // "jre-1.6.0.25.7z"
std::u16string DependencyPackageName();

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
