#include "simulator/forced_replies.h"

#include <limits>

#include "protocol/utf8.h"
#include "simulator/json_text.h"

namespace vantorel::sim {

bool ReadForcedReply(const QueryParams& params, const std::string& body, std::string& target, ForcedReply& reply,
                     std::string& error) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    std::string name;
    ReadTextParam(params, "request", name);
    target.clear();
    ReadTextParam(params, "target", target);
    if (name.empty() == target.empty()) {
        error = "give either request=NAME or target=PATH?QUERY (or target=*)";
        return false;
    }
    if (!name.empty()) {
        const std::optional<ServiceRequest> request = FindRequestByName(name);
        if (!request) {
            error = "no request named \"" + name + "\"";
            return false;
        }
        target = EncodeUtf8(ServiceTarget(*request));
    }
    int64_t status = reply.status;
    if (!ReadIntParam(params, "status", 100, 999, status, error) ||
        !ReadIntParam(params, "delay", 0, kMax, reply.delayMs, error) ||
        !ReadIntParam(params, "rate", 0, kMax, reply.rate, error) ||
        !ReadIntParam(params, "size", 0, kMax, reply.size, error)) {
        return false;
    }
    reply.status = static_cast<int>(status);
    std::string times;
    ReadTextParam(params, "times", times);
    if (times == "always") {
        reply.times = -1;
    } else if (!ReadIntParam(params, "times", 1, kMax, reply.times, error)) {
        return false;
    }
    std::string endless;
    ReadTextParam(params, "endless", endless);
    reply.endless = endless == "1" || endless == "true";
    ReadTextParam(params, "content_type", reply.contentType);
    if (!body.empty()) {
        reply.body = body;
    } else if (HasParam(params, "body_hex")) {
        std::string hex;
        ReadTextParam(params, "body_hex", hex);
        if (!DecodeHex(hex, reply.body)) {
            error = "body_hex is not pairs of hex digits";
            return false;
        }
    } else {
        ReadTextParam(params, "body", reply.body);
    }
    if ((reply.endless || reply.size > 0) && reply.body.empty()) reply.body = "x";
    return true;
}

void ForcedReplies::Add(std::string target, ForcedReply reply) {
    std::lock_guard lock(mutex_);
    rules_[std::move(target)].push_back(std::move(reply));
}

std::optional<ForcedReply> ForcedReplies::TakeFor(std::string_view key) {
    const auto found = rules_.find(key);
    if (found == rules_.end()) return std::nullopt;
    ForcedReply& first = found->second.front();
    ForcedReply taken = first;
    if (first.times > 0 && --first.times == 0) {
        found->second.pop_front();
        if (found->second.empty()) rules_.erase(found);
    }
    return taken;
}

std::optional<ForcedReply> ForcedReplies::Take(std::string_view target) {
    std::lock_guard lock(mutex_);
    if (std::optional<ForcedReply> exact = TakeFor(target)) return exact;
    return TakeFor(kAnyTarget);
}

void ForcedReplies::Clear() {
    std::lock_guard lock(mutex_);
    rules_.clear();
}

std::string ForcedReplies::Json() const {
    std::lock_guard lock(mutex_);
    JsonText json;
    json.BeginArray();
    for (const auto& [target, queue] : rules_) {
        for (const ForcedReply& reply : queue) {
            json.BeginObject()
                .Key("target").String(target)
                .Key("status").Int(reply.status)
                .Key("body_size").Int(static_cast<int64_t>(reply.body.size()))
                .Key("delay").Int(reply.delayMs)
                .Key("rate").Int(reply.rate)
                .Key("size").Int(reply.size)
                .Key("endless").Bool(reply.endless)
                .Key("times").Int(reply.times)
                .EndObject();
        }
    }
    json.EndArray();
    return json.Text();
}

}  // namespace vantorel::sim
