#include "agent/service/windows_version_win.h"

#include <windows.h>

#include "agent/service/windows_version.h"

namespace vantorel {

unsigned CheckWindowsVersion() {
    OSVERSIONINFOW info{};
    static_assert(sizeof info == 276);
    info.dwOSVersionInfoSize = sizeof info;
    // A failed call leaves 0.0, which sets no flag: the oldest behaviour.
    GetVersionExW(&info);
    RecordWindowsVersion(info.dwMajorVersion, info.dwMinorVersion);
    return info.dwMajorVersion;
}

}  // namespace vantorel
