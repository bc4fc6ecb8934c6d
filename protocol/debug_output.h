// Diagnostics for the debugger: fixed lines, no levels, no log file. On
// Windows each call is one OutputDebugStringW; elsewhere the text goes to a
// sink that tests may replace (standard error by default).
#pragma once

#include <functional>
#include <string_view>

namespace vantorel {

void DebugOutput(std::u16string_view text);

#ifndef _WIN32
using DebugSink = std::function<void(std::u16string_view)>;
// Replaces the sink and returns the previous one; an empty sink restores
// standard error.
DebugSink SetDebugSink(DebugSink sink);
#endif

}  // namespace vantorel
