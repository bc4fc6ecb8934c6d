// What arrived: every request to the service's own endpoints, kept exactly
// (headers, body bytes, arrival time) for tests to inspect, and one line per
// request of any kind for the people watching the simulator run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantorel::sim {

struct LoggedRequest {
    uint64_t seq = 0;
    int64_t timeMs = 0;  // since the simulator started
    int64_t unixMs = 0;  // wall clock
    std::string method;
    std::string target;  // path and query as the request line carries them
    std::string path;
    std::string query;
    std::string request;  // short name of the service request, or empty
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool bodyComplete = true;  // false when it was refused for its size
    std::string remote;
    int status = 0;           // 0 while the reply is pending (a long poll)
    int64_t replyBytes = -1;  // -1 for a streamed reply of no set length
};

class RequestLog {
public:
    // Keeps the newest `limit` entries.
    explicit RequestLog(size_t limit = 10000) : limit_(limit) {}

    // Stamps seq and returns it.
    uint64_t Add(LoggedRequest entry);
    void Finish(uint64_t seq, int status, int64_t replyBytes);
    // The entries with seq greater than `since`, oldest first, as a JSON array.
    std::string Json(uint64_t since) const;
    // Waits until `count` requests named `request` have arrived since the
    // start or the last Clear, and returns the last one's JSON; empty when
    // the deadline passes or the log is stopped first.
    std::string WaitFor(std::string_view request, uint64_t count, std::chrono::steady_clock::time_point deadline);
    void Clear();
    // Ends every WaitFor.
    void Stop();
    // Requests since the start or the last Clear.
    uint64_t Count() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable added_;
    std::deque<LoggedRequest> entries_;
    std::map<std::string, uint64_t, std::less<>> countByRequest_;
    uint64_t nextSeq_ = 1;
    size_t limit_;
    bool stopped_ = false;
};

// One line per request, to standard output or a file, flushed at once so a
// test that waits for a line sees it.
class AccessLog {
public:
    // Empty path or "-": standard output.
    bool Open(const std::string& path, std::string& error);
    ~AccessLog();
    void Line(std::string_view text);

private:
    std::mutex mutex_;
    FILE* file_ = stdout;
};

// "METHOD TARGET STATUS SIZE "USER-AGENT"" with a time stamp in front.
std::string AccessLogLine(std::string_view method, std::string_view target, int status, int64_t replyBytes,
                          std::string_view userAgent);

}  // namespace vantorel::sim
