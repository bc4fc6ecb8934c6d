#include "simulator/login_state.h"

namespace vantorel::sim {

LoginStateMachine::LoginStateMachine(LoginStateIndex initial, Clock::time_point now, Millis loginDelay,
                                     Millis logoutDelay)
    : state_(LOGIN_LOGGED_OUT), loginDelay_(loginDelay), logoutDelay_(logoutDelay) {
    Set(initial, now);
}

LoginStateIndex LoginStateMachine::Current(Clock::time_point now) {
    if (now >= deadline_) {
        if (state_ == LOGIN_LOGGING_IN) state_ = LOGIN_LOGGED_IN;
        if (state_ == LOGIN_LOGGING_OUT) state_ = LOGIN_LOGGED_OUT;
    }
    return state_;
}

void LoginStateMachine::Login(Clock::time_point now) {
    const LoginStateIndex current = Current(now);
    if (current == LOGIN_LOGGED_IN || current == LOGIN_LOGGING_IN) return;
    Set(LOGIN_LOGGING_IN, now);
}

void LoginStateMachine::Logout(Clock::time_point now) {
    const LoginStateIndex current = Current(now);
    if (current == LOGIN_LOGGED_OUT || current == LOGIN_LOGGING_OUT) return;
    Set(LOGIN_LOGGING_OUT, now);
}

void LoginStateMachine::Set(LoginStateIndex state, Clock::time_point now) {
    state_ = state;
    deadline_ = now + (state == LOGIN_LOGGING_IN ? loginDelay_ : logoutDelay_);
}

void LoginStateMachine::SetDelays(Millis loginDelay, Millis logoutDelay) {
    loginDelay_ = loginDelay;
    logoutDelay_ = logoutDelay;
}

}  // namespace vantorel::sim
