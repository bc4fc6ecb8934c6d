// Fills the flags of windows_version.h from the version Windows reports to
// the agent (which carries no compatibility manifest, so releases after 8
// report 6.2).
#pragma once

namespace vantorel {

// Returns the reported major version; sets the flags, osVersionChecked last.
// Safe on several threads at once.
unsigned CheckWindowsVersion();

}  // namespace vantorel
