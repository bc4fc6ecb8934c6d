#include "agent/service/windows_version.h"

namespace vantorel {

std::atomic<bool> osVersionChecked{false};
std::atomic<bool> isVistaOrLater{false};
std::atomic<bool> isWindows7OrLater{false};

WindowsVersionFlags VersionFlagsFor(unsigned major, unsigned minor) {
    // Windows 7 is 6.1; 10.0 and whatever follows are later too, although
    // their minor number is 0.
    return {major > 5, major > 6 || (major == 6 && minor >= 1)};
}

void RecordWindowsVersion(unsigned major, unsigned minor) {
    const WindowsVersionFlags flags = VersionFlagsFor(major, minor);
    isVistaOrLater = flags.vistaOrLater;
    isWindows7OrLater = flags.windows7OrLater;
    // Last, so that a thread that sees the check done sees its flags.
    osVersionChecked = true;
}

}  // namespace vantorel
