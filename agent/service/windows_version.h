// The Windows version flags that decide which shell features the agent
// uses. All false until the first check; every user runs CheckWindowsVersion
// (windows_version_win.h) first while osVersionChecked is false. Any thread
// may check and read at once: each check writes the same values, and
// osVersionChecked is set only after the other two.
#pragma once

#include <atomic>

namespace vantorel {

extern std::atomic<bool> osVersionChecked;
extern std::atomic<bool> isVistaOrLater;      // major version > 5
extern std::atomic<bool> isWindows7OrLater;   // 6.1 and every later version

struct WindowsVersionFlags {
    bool vistaOrLater;
    bool windows7OrLater;
};

WindowsVersionFlags VersionFlagsFor(unsigned major, unsigned minor);

// Sets the flags for a reported version, osVersionChecked last.
void RecordWindowsVersion(unsigned major, unsigned minor);

}  // namespace vantorel
