// Replies that a test forces in place of the simulated service's own: error
// statuses, broken or empty bodies, late, slow, huge or endless replies. A
// forced reply replaces the request's whole handling, so it has no effect on
// the simulated state.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "simulator/control_params.h"

namespace vantorel::sim {

struct ForcedReply {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
    int64_t delayMs = 0;      // before the status line
    int64_t rate = 0;         // body bytes per second; 0 = all at once
    int64_t size = -1;        // >= 0: the body repeated (or "x" repeated) to this length
    bool endless = false;     // the body repeated without end, chunked
    int64_t times = 1;        // how many requests it answers; < 0 = every one
};

// Every request: the key that matches when no rule for the exact target does.
inline constexpr std::string_view kAnyTarget = "*";

// Reads a rule from the parameters of a force request (see the README) and
// the target it applies to: "request" by name, or "target" as path and query
// exactly as the request line carries them, or "*". body is the force
// request's own body, used as the reply body when not empty.
bool ReadForcedReply(const QueryParams& params, const std::string& body, std::string& target, ForcedReply& reply,
                     std::string& error);

class ForcedReplies {
public:
    // Rules for one target answer in the order they were added.
    void Add(std::string target, ForcedReply reply);
    // The reply for a request with this target (path and query), counting one
    // use; rules for the exact target come before those for every request.
    std::optional<ForcedReply> Take(std::string_view target);
    void Clear();
    // [{"target":..,"status":..,"times":..},...]
    std::string Json() const;

private:
    std::optional<ForcedReply> TakeFor(std::string_view key);

    mutable std::mutex mutex_;
    std::map<std::string, std::deque<ForcedReply>, std::less<>> rules_;
};

}  // namespace vantorel::sim
