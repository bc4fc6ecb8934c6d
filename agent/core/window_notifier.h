// How worker threads reach the tray window: a posted message, never a call.
#pragma once

#include <cstdint>

namespace vantorel {

class WindowNotifier {
public:
    virtual ~WindowNotifier() = default;
    // Posts message to the tray window. False when it was not posted (no
    // window yet, or the post failed); the caller still owns what the
    // parameters point to then.
    virtual bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace vantorel
