// The report of the Windows driver programs that the shell tests run: one
// "ok NAME" or "FAIL NAME: detail" line per check, flushed at once so the
// script sees how far a driver got even when it is killed.
#pragma once

#include <cstdio>
#include <string>

namespace driver {

inline int failures = 0;

inline void Check(bool passed, const char* name, const std::wstring& detail = L"")
{
    if (passed) {
        std::printf("ok   %s\n", name);
    } else {
        ++failures;
        std::printf("FAIL %s: %ls\n", name, detail.c_str());
    }
    std::fflush(stdout);
}

// The closing line and the driver's exit code.
inline int Finish()
{
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}

}  // namespace driver
