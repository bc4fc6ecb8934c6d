// Events waiting for the long poll. Each poll takes one event, the earliest
// due; an event may be queued to fall due later.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace vantorel::sim {

class EventQueue {
public:
    using Clock = std::chrono::steady_clock;

    // reply: the exact bytes one poll answers with.
    void Push(std::string reply, Clock::time_point due);
    // The earliest event that is due, waiting for one until deadline. Empty
    // when the deadline passes first or the queue is stopped.
    std::optional<std::string> Take(Clock::time_point deadline);
    void Clear();
    // Wakes every waiting Take for good; later calls return at once.
    void Stop();

    size_t Queued() const;
    int Waiting() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Ordered by due time, then by arrival.
    std::map<std::pair<Clock::time_point, uint64_t>, std::string> events_;
    uint64_t nextSeq_ = 0;
    int waiting_ = 0;
    bool stopped_ = false;
};

}  // namespace vantorel::sim
