// The file operations of the self-update, made so that an end at any moment
// (a crash, a power cut) leaves every file either old or new and whole.
// Failures are written to the debug output.
#pragma once

#include <string>

namespace vantorel {

// Copies from over to through a copy beside it, flushed to disk before it
// takes the name.
bool CopyInPlace(const std::wstring& from, const std::wstring& to);

// Moves every file under folder from to the same place under to, replacing,
// each one flushed before it takes its new name; true when all moved.
bool MoveFolderContents(const std::wstring& from, const std::wstring& to);

// Removes the files of folder (ending in a backslash) whose names match the
// wildcard pattern.
void RemoveMatchingFiles(const std::wstring& folder, const std::wstring& pattern);

// Removes a folder and everything in it; nothing when there is none.
void RemoveFolder(const std::wstring& folder);

// Whether path is a plain file that this process may delete: not a folder,
// not read-only, not denied; true when there is none.
bool IsRemovableFile(const std::wstring& path);

}  // namespace vantorel
