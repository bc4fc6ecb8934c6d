#include "pasmiro/send_to.h"

#include <algorithm>

#include "protocol/upload_body.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

bool IsWellFormed(std::u16string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    return true;
}

// Pauses of interval until limit, the last one cut short so that the last
// try falls on the limit itself.
std::optional<uint32_t> NextTry(uint64_t elapsedMs, uint32_t interval, uint32_t limit)
{
    if (elapsedMs >= limit) return std::nullopt;
    return static_cast<uint32_t>(std::min<uint64_t>(interval, limit - elapsedMs));
}

}  // namespace

bool HasArguments(std::u16string_view argumentText)
{
    return argumentText.find_first_not_of(u" \t") != std::u16string_view::npos;
}

UploadPlan PlanUpload(const std::vector<std::u16string>& arguments)
{
    UploadPlan plan;
    UploadPathList paths;
    for (const std::u16string& argument : arguments) {
        if (argument.empty()) continue;
        if (!IsWellFormed(argument)) {
            plan.pathsLeftOut = true;
            continue;
        }
        paths.push_back(argument);
    }
    if (!paths.empty()) plan.body = EncodeUtf8(BuildUploadBody(paths));
    return plan;
}

std::u16string AgentPathBeside(std::u16string_view ownPath)
{
    const size_t slash = ownPath.rfind(u'\\');
    if (slash == std::u16string_view::npos) return {};
    return std::u16string(ownPath.substr(0, slash)) + u"\\Vantorel.exe";
}

std::optional<uint32_t> NextWindowLook(uint64_t elapsedMs)
{
    return NextTry(elapsedMs, kAgentWindowLookMs, kAgentWindowWaitMs);
}

std::optional<uint32_t> NextSendAttempt(SendOutcome outcome, uint64_t elapsedMs)
{
    if (outcome != SendOutcome::NotReached) return std::nullopt;
    return NextTry(elapsedMs, kSendRetryMs, kSendWindowMs);
}

int RunSendTo(const std::optional<std::vector<std::u16string>>& arguments, SendToPlatform& platform)
{
    if (!arguments) return 1;
    const UploadPlan plan = PlanUpload(*arguments);

    if (!platform.AgentWindowExists()) {
        if (!platform.StartAgent()) return 1;
        const uint64_t started = platform.NowMs();
        while (!platform.AgentWindowExists()) {
            const std::optional<uint32_t> pause = NextWindowLook(platform.NowMs() - started);
            if (!pause) return 1;
            platform.Pause(*pause);
        }
    }

    if (plan.body.empty()) return plan.pathsLeftOut ? 1 : 0;
    const uint64_t first = platform.NowMs();
    for (;;) {
        const SendOutcome outcome = platform.Send(plan.body);
        const std::optional<uint32_t> pause = NextSendAttempt(outcome, platform.NowMs() - first);
        if (!pause) return outcome == SendOutcome::Accepted && !plan.pathsLeftOut ? 0 : 1;
        platform.Pause(*pause);
    }
}

}  // namespace vantorel
