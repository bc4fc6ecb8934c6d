// The sign-in state as the service reports it. Signing in and out take a
// while in the real service; the agent shows "logging_in" meanwhile, so the
// stand-in passes through the same intermediate states for a set time.
#pragma once

#include <chrono>

#include "protocol/service_api.h"

namespace vantorel::sim {

class LoginStateMachine {
public:
    using Clock = std::chrono::steady_clock;
    using Millis = std::chrono::milliseconds;

    // An intermediate initial state ends after its delay, counted from now.
    LoginStateMachine(LoginStateIndex initial, Clock::time_point now, Millis loginDelay, Millis logoutDelay);

    // The state at `now`, finishing a sign-in or sign-out whose time is up.
    LoginStateIndex Current(Clock::time_point now);

    // Signing in while signed in (or signing in) changes nothing; likewise
    // signing out. Either order cancels the other one in progress.
    void Login(Clock::time_point now);
    void Logout(Clock::time_point now);
    // Sets a state at once; an intermediate one ends after its delay.
    void Set(LoginStateIndex state, Clock::time_point now);
    // Applies to later sign-ins and sign-outs.
    void SetDelays(Millis loginDelay, Millis logoutDelay);

private:
    LoginStateIndex state_;
    Clock::time_point deadline_;
    Millis loginDelay_;
    Millis logoutDelay_;
};

}  // namespace vantorel::sim
