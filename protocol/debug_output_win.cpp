#include <windows.h>

#include <string>

#include "protocol/debug_output.h"

namespace vantorel {

void DebugOutput(std::u16string_view text) {
    std::wstring line(text.begin(), text.end());
    OutputDebugStringW(line.c_str());
}

}  // namespace vantorel
