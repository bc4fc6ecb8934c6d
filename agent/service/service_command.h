// The Local service's start, as text: its Java command line, the PATH it
// inherits, and the command line that a process start builds. Portable; the
// Windows calls that use these live in service_launcher_win.cpp.
//
// Paths are UTF-16 with backslashes. The install directory always ends in a
// backslash, and names appended to it begin with one, so the paths formed
// here hold a doubled separator, which Windows reads as one.
#pragma once

#include <string>
#include <string_view>

namespace vantorel {

inline constexpr std::u16string_view kJavaLauncher = u"\\jre\\bin\\javaw.exe";
inline constexpr std::u16string_view kJavaToolOptions = u"-Xmx512m";
inline constexpr std::u16string_view kNewAgentLeftover = u"\\newVantorel.exe";
inline constexpr std::u16string_view kOldAgentLeftover = u"\\oldVantorel.exe";

// The Java launcher's arguments for the service, each item with its leading
// space; the two codes are the thread locale's ISO 639 language and ISO 3166
// country (either may be empty).
std::u16string ServiceArguments(std::u16string_view languageCode, std::u16string_view countryCode);

// The command line of a process start: the application's file name (the part
// after its last backslash, or the whole path when it has none; in double
// quotes when it holds a space or tab), then the arguments, with one space
// put in front of arguments that do not already begin with one. Empty
// arguments give the file name alone.
std::u16string ProcessCommandLine(std::u16string_view applicationPath, std::u16string_view arguments);

// The PATH value that the agent and its children run with: the install
// directory and its Java runtime's bin folder, nothing inherited.
std::u16string ServicePathValue(std::u16string_view installDirectory);

// The path up to and including its last backslash; empty when it has none.
std::u16string_view DirectoryPart(std::u16string_view path);
// The path after its last backslash; the whole path when it has none.
std::u16string_view FileNamePart(std::u16string_view path);

}  // namespace vantorel
