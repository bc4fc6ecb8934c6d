// The Send To tool's decisions against a scripted platform with its own
// clock: what is sent, when, how often, and the exit code.
#include "pasmiro/send_to.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantorel {
namespace {

using Args = std::vector<std::u16string>;

struct ScriptedPlatform final : SendToPlatform {
    bool agentRunning = true;
    bool startWorks = true;
    int64_t windowAtMs = -1;  // after a start: when the window appears (-1 never)
    uint32_t sendCostMs = 0;  // time one attempt takes
    std::function<SendOutcome(uint64_t)> service = [](uint64_t) { return SendOutcome::Accepted; };

    uint64_t now = 0;
    int pauses = 0;
    int64_t startedAt = -1;
    std::vector<uint64_t> sendTimes;
    std::vector<std::string> bodies;

    bool AgentWindowExists() override
    {
        return agentRunning || (startedAt >= 0 && windowAtMs >= 0 && now >= uint64_t(startedAt + windowAtMs));
    }
    bool StartAgent() override
    {
        if (!startWorks) return false;
        startedAt = int64_t(now);
        return true;
    }
    SendOutcome Send(const std::string& body) override
    {
        sendTimes.push_back(now);
        bodies.push_back(body);
        const SendOutcome outcome = service(now);
        now += sendCostMs;
        return outcome;
    }
    void Pause(uint32_t ms) override
    {
        // A loop that stops moving the clock would never end: fail instead.
        if (ms == 0 || ++pauses > 100000) throw std::runtime_error("the run does not come to an end");
        now += ms;
    }
    uint64_t NowMs() override { return now; }
};

const Args kOnePath = {u"C:\\x.txt"};

SendOutcome ListeningFrom(uint64_t since, uint64_t now)
{
    return now >= since ? SendOutcome::Accepted : SendOutcome::NotReached;
}

TEST(SendToRun, AgentRunningSendsAtOnceOnce)
{
    ScriptedPlatform platform;
    EXPECT_EQ(RunSendTo(kOnePath, platform), 0);
    EXPECT_EQ(platform.startedAt, -1);
    EXPECT_EQ(platform.sendTimes, std::vector<uint64_t>{0});
}

TEST(SendToRun, StartedAgentIsAwaitedThenSentTo)
{
    // The window shows 3250 ms after the start: found at the next 100 ms look.
    ScriptedPlatform platform;
    platform.agentRunning = false;
    platform.windowAtMs = 3250;
    EXPECT_EQ(RunSendTo(kOnePath, platform), 0);
    EXPECT_EQ(platform.startedAt, 0);
    EXPECT_EQ(platform.sendTimes, std::vector<uint64_t>{3300});

    ScriptedPlatform never;
    never.agentRunning = false;
    EXPECT_EQ(RunSendTo(kOnePath, never), 1);
    EXPECT_TRUE(never.sendTimes.empty());
    EXPECT_EQ(never.now, kAgentWindowWaitMs);  // the last look falls on the limit itself

    ScriptedPlatform unstartable;
    unstartable.agentRunning = false;
    unstartable.startWorks = false;
    EXPECT_EQ(RunSendTo(kOnePath, unstartable), 1);
    EXPECT_TRUE(unstartable.sendTimes.empty());
    EXPECT_EQ(unstartable.now, 0u);
}

TEST(SendToRun, UnreachedServiceIsRetriedUntilItListensOrTimeRunsOut)
{
    ScriptedPlatform late;
    late.service = [](uint64_t now) { return ListeningFrom(4000, now); };
    EXPECT_EQ(RunSendTo(kOnePath, late), 0);
    EXPECT_EQ(late.sendTimes.size(), 9u);  // 0, 500, ... 4000
    EXPECT_EQ(late.sendTimes.back(), 4000u);

    ScriptedPlatform never;
    never.service = [](uint64_t) { return SendOutcome::NotReached; };
    EXPECT_EQ(RunSendTo(kOnePath, never), 1);
    EXPECT_EQ(never.sendTimes.size(), 121u);
    EXPECT_EQ(never.sendTimes.back(), uint64_t(kSendWindowMs));

    // Attempts that take time themselves: still every 500 ms at most, and
    // none after the limit.
    ScriptedPlatform slow;
    slow.sendCostMs = 180;
    slow.service = never.service;
    EXPECT_EQ(RunSendTo(kOnePath, slow), 1);
    EXPECT_LE(slow.sendTimes.back(), uint64_t(kSendWindowMs));
    EXPECT_GE(slow.sendTimes.back(), uint64_t(kSendWindowMs - kSendRetryMs - slow.sendCostMs));
    for (size_t i = 1; i < slow.sendTimes.size(); ++i)
        EXPECT_LE(slow.sendTimes[i] - slow.sendTimes[i - 1], kSendRetryMs + slow.sendCostMs);

    // The window of the retries counts from the first attempt, not from the
    // agent's start.
    ScriptedPlatform fresh;
    fresh.agentRunning = false;
    fresh.windowAtMs = 9000;
    fresh.service = [](uint64_t now) { return ListeningFrom(9000 + 59000, now); };
    EXPECT_EQ(RunSendTo(kOnePath, fresh), 0);
    EXPECT_EQ(fresh.sendTimes.front(), 9000u);
}

TEST(SendToRun, AnsweredOrPossiblyDeliveredRequestIsNotRepeated)
{
    for (SendOutcome outcome : {SendOutcome::Refused, SendOutcome::Lost}) {
        ScriptedPlatform platform;
        platform.service = [outcome](uint64_t) { return outcome; };
        EXPECT_EQ(RunSendTo(kOnePath, platform), 1);
        EXPECT_EQ(platform.sendTimes.size(), 1u);
    }
}

TEST(SendToRun, NothingToSendStillMakesSureTheAgentRuns)
{
    for (const Args& arguments : {Args{}, Args{u""}}) {
        ScriptedPlatform running;
        EXPECT_EQ(RunSendTo(arguments, running), 0);
        EXPECT_TRUE(running.sendTimes.empty());

        ScriptedPlatform started;
        started.agentRunning = false;
        started.windowAtMs = 500;
        EXPECT_EQ(RunSendTo(arguments, started), 0);
        EXPECT_EQ(started.startedAt, 0);
        EXPECT_TRUE(started.sendTimes.empty());

        ScriptedPlatform unstartable;
        unstartable.agentRunning = false;
        unstartable.startWorks = false;
        EXPECT_EQ(RunSendTo(arguments, unstartable), 1);
    }

    // A command line that could not be split: nothing is started or sent.
    ScriptedPlatform unsplit;
    unsplit.agentRunning = false;
    EXPECT_EQ(RunSendTo(std::nullopt, unsplit), 1);
    EXPECT_EQ(unsplit.startedAt, -1);
    EXPECT_TRUE(unsplit.sendTimes.empty());
}

TEST(SendToRun, PathsWithUnpairedSurrogatesAreLeftOutAndReported)
{
    const std::u16string lead(1, char16_t(0xD83D));
    const std::u16string trail(1, char16_t(0xDE00));
    ScriptedPlatform mixed;
    EXPECT_EQ(RunSendTo(Args{u"C:\\a" + lead + u"b", u"C:\\" + lead + trail, u"C:\\" + trail}, mixed), 1);
    ASSERT_EQ(mixed.bodies.size(), 1u);  // the pair is a character: only that path goes out
    EXPECT_EQ(mixed.bodies[0], "action=upload&cloudpath=&localpath=[\"C:\\\\\xf0\x9f\x98\x80\"]");

    ScriptedPlatform onlyBad;
    EXPECT_EQ(RunSendTo(Args{lead + u"x", trail + lead}, onlyBad), 1);
    EXPECT_TRUE(onlyBad.sendTimes.empty());
}

TEST(SendToCommandLine, BlankTailHasNoArgumentsAndAgentLiesBesideTheTool)
{
    EXPECT_FALSE(HasArguments(u""));
    EXPECT_FALSE(HasArguments(u" \t  "));
    EXPECT_TRUE(HasArguments(u" \"\""));
    EXPECT_TRUE(HasArguments(u"C:\\x"));

    EXPECT_EQ(AgentPathBeside(u"C:\\Program Files\\Vantorel\\Pasmiro.exe"),
              u"C:\\Program Files\\Vantorel\\Vantorel.exe");
    EXPECT_EQ(AgentPathBeside(u"\\\\?\\C:\\a.b\\Pasmiro.exe"), u"\\\\?\\C:\\a.b\\Vantorel.exe");
    EXPECT_EQ(AgentPathBeside(u"Pasmiro.exe"), u"");
}

}  // namespace
}  // namespace vantorel
