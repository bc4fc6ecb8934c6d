#include "agent/service/update_files_win.h"

#include <windows.h>

#include "protocol/debug_output.h"

namespace vantorel {
namespace {

bool Failed(std::u16string_view what, const std::wstring& path) {
    const std::string code = std::to_string(GetLastError());
    DebugOutput(u"Failed " + std::u16string(what) + u" " + std::u16string(path.begin(), path.end()) + u" with: " +
                std::u16string(code.begin(), code.end()) + u"\n");
    return false;
}

// The bytes reach the disk before a rename makes them the real thing.
bool FlushFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(file) != 0;
    return CloseHandle(file) && flushed;
}

bool MoveFlushed(const std::wstring& from, const std::wstring& to) {
    return FlushFile(from) && MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool RemoveFolderFiles(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    bool removed = true;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removed = RemoveFolderFiles(path) && removed;
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                removed = DeleteFileW(path.c_str()) && removed;
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    return RemoveDirectoryW(folder.c_str()) && removed;
}

}  // namespace

bool CopyInPlace(const std::wstring& from, const std::wstring& to) {
    const std::wstring partial = to + L".partial";
    if (!CopyFileW(from.c_str(), partial.c_str(), FALSE)) return Failed(u"CopyFileW", to);
    if (!MoveFlushed(partial, to)) {
        Failed(u"MoveFileExW", to);
        DeleteFileW(partial.c_str());
        return false;
    }
    return true;
}

bool MoveFolderContents(const std::wstring& from, const std::wstring& to) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return Failed(u"FindFirstFileW", from);
    bool moved = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring source = from + L"\\" + name, target = to + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!CreateDirectoryW(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                moved = Failed(u"CreateDirectoryW", target);
                continue;
            }
            moved = MoveFolderContents(source, target) && moved;
        } else if (!MoveFlushed(source, target)) {
            moved = Failed(u"MoveFileExW", target);
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return moved;
}

void RemoveMatchingFiles(const std::wstring& folder, const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !DeleteFileW((folder + found.cFileName).c_str()))
            Failed(u"DeleteFileW", folder + found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

void RemoveFolder(const std::wstring& folder) {
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    if (!RemoveFolderFiles(folder)) Failed(u"RemoveDirectoryW", folder);
}

bool IsRemovableFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
    // Opening for deletion asks the file system what deleting would.
    const HANDLE file = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

}  // namespace vantorel
