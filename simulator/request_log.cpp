#include "simulator/request_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "simulator/control_params.h"
#include "simulator/json_text.h"

namespace vantorel::sim {

namespace {

void AppendEntry(JsonText& json, const LoggedRequest& entry) {
    json.BeginObject()
        .Key("seq").Int(static_cast<int64_t>(entry.seq))
        .Key("time_ms").Int(entry.timeMs)
        .Key("unix_ms").Int(entry.unixMs)
        .Key("method").String(entry.method)
        .Key("target").String(entry.target)
        .Key("path").String(entry.path)
        .Key("query").String(entry.query)
        .Key("request").String(entry.request)
        .Key("headers").BeginArray();
    for (const auto& [name, value] : entry.headers) json.BeginArray().String(name).String(value).EndArray();
    json.EndArray()
        .Key("body_hex").String(EncodeHex(entry.body))
        .Key("body_size").Int(static_cast<int64_t>(entry.body.size()))
        .Key("body_complete").Bool(entry.bodyComplete)
        .Key("remote").String(entry.remote)
        .Key("status").Int(entry.status)
        .Key("reply_bytes").Int(entry.replyBytes)
        .EndObject();
}

}  // namespace

uint64_t RequestLog::Add(LoggedRequest entry) {
    uint64_t seq = 0;
    {
        std::lock_guard lock(mutex_);
        seq = entry.seq = nextSeq_++;
        ++countByRequest_[entry.request];
        entries_.push_back(std::move(entry));
        while (entries_.size() > limit_) entries_.pop_front();
    }
    added_.notify_all();
    return seq;
}

std::string RequestLog::WaitFor(std::string_view request, uint64_t count,
                                std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    const bool arrived = added_.wait_until(lock, deadline, [&] {
        const auto found = countByRequest_.find(request);
        return stopped_ || (found != countByRequest_.end() && found->second >= count);
    });
    if (!arrived || stopped_) return {};
    JsonText json;
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->request == request) {
            AppendEntry(json, *it);
            return json.Text();
        }
    }
    return "{}";  // dropped from the log since
}

void RequestLog::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    added_.notify_all();
}

void RequestLog::Finish(uint64_t seq, int status, int64_t replyBytes) {
    std::lock_guard lock(mutex_);
    // Entries are in seq order, and a pending one is usually near the end.
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->seq == seq) {
            it->status = status;
            it->replyBytes = replyBytes;
            return;
        }
        if (it->seq < seq) return;
    }
}

std::string RequestLog::Json(uint64_t since) const {
    std::lock_guard lock(mutex_);
    JsonText json;
    json.BeginArray();
    for (const LoggedRequest& entry : entries_) {
        if (entry.seq > since) AppendEntry(json, entry);
    }
    json.EndArray();
    return json.Text();
}

void RequestLog::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    countByRequest_.clear();
}

uint64_t RequestLog::Count() const {
    std::lock_guard lock(mutex_);
    uint64_t count = 0;
    for (const auto& [name, requests] : countByRequest_) count += requests;
    return count;
}

bool AccessLog::Open(const std::string& path, std::string& error) {
    if (path.empty() || path == "-") return true;
    FILE* file = std::fopen(path.c_str(), "a");
    if (!file) {
        error = "cannot open the log file " + path + ": " + std::strerror(errno);
        return false;
    }
    file_ = file;
    return true;
}

AccessLog::~AccessLog() {
    if (file_ != stdout) std::fclose(file_);
}

void AccessLog::Line(std::string_view text) {
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

std::string AccessLogLine(std::string_view method, std::string_view target, int status, int64_t replyBytes,
                          std::string_view userAgent) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(millis));
    std::string line = stamp;
    line += ' ';
    line += method;
    line += ' ';
    line += target;
    line += ' ';
    line += std::to_string(status);
    line += ' ';
    line += replyBytes < 0 ? std::string("-") : std::to_string(replyBytes);
    line += " \"";
    line += userAgent;
    line += '"';
    return line;
}

}  // namespace vantorel::sim
