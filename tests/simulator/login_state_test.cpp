#include <gtest/gtest.h>

#include "simulator/login_state.h"

namespace vantorel::sim {
namespace {

using Clock = LoginStateMachine::Clock;
using std::chrono::milliseconds;

TEST(LoginStateMachine, PassesThroughTheIntermediateStatesForTheirDelays)
{
    const Clock::time_point t0{};
    LoginStateMachine login(LOGIN_LOGGED_OUT, t0, milliseconds(300), milliseconds(100));
    EXPECT_EQ(login.Current(t0 + milliseconds(5000)), LOGIN_LOGGED_OUT);

    login.Login(t0 + milliseconds(1000));
    EXPECT_EQ(login.Current(t0 + milliseconds(1000)), LOGIN_LOGGING_IN);
    EXPECT_EQ(login.Current(t0 + milliseconds(1299)), LOGIN_LOGGING_IN);
    login.Login(t0 + milliseconds(1200));  // a second sign-in does not restart the clock
    EXPECT_EQ(login.Current(t0 + milliseconds(1300)), LOGIN_LOGGED_IN);
    login.Login(t0 + milliseconds(1400));
    EXPECT_EQ(login.Current(t0 + milliseconds(1400)), LOGIN_LOGGED_IN);

    login.Logout(t0 + milliseconds(2000));
    EXPECT_EQ(login.Current(t0 + milliseconds(2099)), LOGIN_LOGGING_OUT);
    EXPECT_EQ(login.Current(t0 + milliseconds(2100)), LOGIN_LOGGED_OUT);
}

TEST(LoginStateMachine, OneOrderCancelsTheOtherAndDelaysApplyToLaterOrders)
{
    const Clock::time_point t0{};
    LoginStateMachine login(LOGIN_LOGGING_IN, t0, milliseconds(300), milliseconds(100));
    EXPECT_EQ(login.Current(t0), LOGIN_LOGGING_IN);  // an intermediate start ends by itself
    EXPECT_EQ(login.Current(t0 + milliseconds(300)), LOGIN_LOGGED_IN);

    login.Logout(t0 + milliseconds(400));
    login.Login(t0 + milliseconds(450));  // while signing out
    EXPECT_EQ(login.Current(t0 + milliseconds(600)), LOGIN_LOGGING_IN);
    EXPECT_EQ(login.Current(t0 + milliseconds(750)), LOGIN_LOGGED_IN);

    login.SetDelays(milliseconds(0), milliseconds(0));
    login.Logout(t0 + milliseconds(800));
    EXPECT_EQ(login.Current(t0 + milliseconds(800)), LOGIN_LOGGED_OUT);
    login.Set(LOGIN_LOGGED_IN, t0 + milliseconds(900));
    EXPECT_EQ(login.Current(t0 + milliseconds(900)), LOGIN_LOGGED_IN);
}

}  // namespace
}  // namespace vantorel::sim
