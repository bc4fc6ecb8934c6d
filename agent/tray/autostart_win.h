// The start-with-Windows setting: the value "Vantorel" of the current user's
// Run key. Any thread.
#pragma once

namespace vantorel {

// True when the value exists and starts this executable.
bool IsAutostartEnabled();
// Writes the value naming this executable, quoted, or deletes it; a failed
// delete is written to the debug output as "Failed".
void SetAutostart(bool enable);

}  // namespace vantorel
