// The agent's self-update on Windows: the start-up step, the update thread,
// and the downloads and unpacking they make. The decisions are in
// package_update.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vantorel {

// Completes or hands over an update left by an earlier run. Ends the process
// when this is the new copy; otherwise returns and the start goes on (with a
// quit queued when it has handed over). Call first thing in a normal start.
void CompleteUpdateAtStart();

// Starts the thread that looks for updates while the agent runs (not in a
// run that handed over at start); it posts WM_QUIT to window when it has
// handed over to a new copy. chore, when given, runs on that thread first
// and again every half minute of the wait for the first check, then before
// each check, until it returns true (done): a start-up chore that would
// otherwise need a thread of its own (under Wine each thread keeps about
// 1 MiB of touched stack) and may have to wait for the service.
void StartUpdateThread(HWND window, bool (*chore)() = nullptr);

// Extracts archive with the install directory's "7zr.exe" into folder (made
// when missing), overwriting; true when the tool ran and exited with 0.
bool UnpackArchive(const std::u16string& archive, const std::u16string& folder);

}  // namespace vantorel
