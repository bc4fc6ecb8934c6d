// Parse throughput of the agent's JSON parser against nlohmann::json and
// RapidJSON on the same bytes, as ratios measured in one run.
//
//   json-parse-bench [--quick]
//
// The agent's figure includes widening the reply bytes to UTF-16, as the
// agent does with every reply; "parse only" leaves that out.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include "protocol/json_value.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ProgressReply()
{
    return "[{\"fileCounts\":{\"RUNNING\":2,\"FINISHED\":5,\"PAUSED\":0,\"ERRORED\":1,\"PENDING\":3},"
           "\"byteCounts\":{\"RUNNING\":1048576,\"FINISHED\":73400320,\"PAUSED\":0,\"ERRORED\":4096,"
           "\"PENDING\":2147483648},\"timeRemaining\":42}]";
}

std::string EventArray(size_t targetBytes)
{
    std::string text = "[";
    for (size_t k = 0; text.size() < targetBytes; ++k) {
        if (k)
            text += ",";
        text += "{\"type\":\"UPLOAD\",\"event\":\"COMPLETED\",\"title\":\"Upload complete\","
                "\"message\":\"C:\\\\Users\\\\ann\\\\Documents\\\\report-" +
                std::to_string(k) +
                ".pdf was uploaded to \\\"Documents\\\"\",\"owner\":\"ann@example.com\",\"id\":" +
                std::to_string(1000000 + k) + "}";
    }
    return text + "]";
}

std::string OneLongString(size_t units)
{
    std::string text = "{\"message\":\"";
    const std::string piece = "The quick brown fox jumps over the lazy dog. ";
    size_t written = 0;
    for (size_t k = 0; written < units; ++k) {
        text += piece;
        written += piece.size();
        if (k % 20 == 19) {
            text += "\\n\\\"quoted\\\" ";
            written += 10;
        }
    }
    return text + "\"}";
}

// Seconds per run of each candidate: the best of several rounds, each long
// enough to read the clock reliably. Rounds of the candidates alternate, so
// that a burst of load elsewhere on the machine hits them all alike.
std::vector<double> SecondsPerRun(const std::vector<std::function<void()>>& candidates,
                                  double roundSeconds, int rounds)
{
    std::vector<double> best(candidates.size(), 1e30);
    for (int r = 0; r < rounds; ++r) {
        for (size_t c = 0; c < candidates.size(); ++c) {
            size_t count = 0;
            const auto start = Clock::now();
            double elapsed = 0;
            do {
                candidates[c]();
                ++count;
                elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            } while (elapsed < roundSeconds);
            best[c] = std::min(best[c], elapsed / static_cast<double>(count));
        }
    }
    return best;
}

// Every escaped quotation mark is a place where the token could end; a parser
// that re-reads the token at each of them takes quadratic time here.
std::string EscapedQuotes(size_t units)
{
    std::string text = "[\"";
    while (text.size() < units)
        text += "ab\\\"";
    return text + "\"]";
}

struct Input {
    const char* name;
    std::string bytes;
};

}  // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const double roundSeconds = quick ? 0.01 : 0.1;
    const int rounds = quick ? 1 : 7;

    const Input inputs[] = {
        {"progress reply", ProgressReply()},
        {"1 MB array of event objects", EventArray(1000000)},
        {"one 1 MiB string", OneLongString(1 << 20)},
        {"one 4 MiB string", OneLongString(4 << 20)},
        {"1 MiB of escaped quotes", EscapedQuotes(1 << 20)},
    };

    std::printf("%-30s %12s %12s %12s %12s   %s\n", "input", "agent MB/s", "parse only", "nlohmann",
                "rapidjson", "agent time / other's time");
    bool ok = true;
    for (const Input& input : inputs) {
        const std::string& bytes = input.bytes;
        std::u16string widened(bytes.begin(), bytes.end());
        for (char16_t& c : widened)
            c = static_cast<unsigned char>(c);

        vantorel::JsonValue check;
        if (!check.Parse(widened)) {
            std::printf("%s: the agent's parser rejected the input\n", input.name);
            ok = false;
            continue;
        }

        const std::vector<double> seconds = SecondsPerRun(
            {
                [&] {
                    std::u16string text(bytes.size(), u'\0');
                    for (size_t k = 0; k < bytes.size(); ++k)
                        text[k] = static_cast<unsigned char>(bytes[k]);
                    vantorel::JsonValue root;
                    root.Parse(text);
                },
                [&] {
                    vantorel::JsonValue root;
                    root.Parse(widened);
                },
                [&] {
                    auto value = nlohmann::json::parse(bytes);
                    (void)value;
                },
                [&] {
                    rapidjson::Document document;
                    document.Parse(bytes.data(), bytes.size());
                },
            },
            roundSeconds, rounds);
        const double agent = seconds[0];
        const double parseOnly = seconds[1];
        const double nlohmannTime = seconds[2];
        const double rapidTime = seconds[3];

        const double megabytes = static_cast<double>(bytes.size()) / 1e6;
        std::printf("%-30s %12.1f %12.1f %12.1f %12.1f   vs nlohmann %.2f, vs rapidjson %.2f\n",
                    input.name, megabytes / agent, megabytes / parseOnly, megabytes / nlohmannTime,
                    megabytes / rapidTime, agent / nlohmannTime, agent / rapidTime);
    }
    return ok ? 0 : 1;
}
