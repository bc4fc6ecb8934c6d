// The shell's file list (CF_HDROP) as Explorer offers a drag of files.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

namespace driver {

// A movable global block: DROPFILES, then the wide paths, each ended by a
// zero, and one more zero. The caller owns it.
inline HGLOBAL ShellFileList(const std::vector<std::wstring>& paths) {
    size_t units = 1;
    for (const auto& path : paths) units += path.size() + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + units * sizeof(wchar_t));
    auto* files = static_cast<DROPFILES*>(GlobalLock(block));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    wchar_t* at = reinterpret_cast<wchar_t*>(files + 1);
    for (const auto& path : paths) at = std::copy(path.begin(), path.end(), at) + 1;
    GlobalUnlock(block);
    return block;
}

}  // namespace driver
