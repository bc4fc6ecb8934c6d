// The start-with-Windows setting: the value "Vantorel" of the current user's
// Run key. Any thread.
#pragma once

namespace vantorel {

// True when the value exists and starts this executable, and Windows has
// not disabled it (StartsWithWindows).
bool IsAutostartEnabled();
// Writes the value naming this executable, quoted, and removes a disabled
// mark; or deletes the value, a failed delete written to the debug output
// as "Failed".
void SetAutostart(bool enable);

}  // namespace vantorel
