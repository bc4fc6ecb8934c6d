#include "protocol/http_client.h"

#include <utility>

#include "protocol/debug_output.h"
#include "protocol/utf8.h"

namespace vantorel {

bool ReplyCollector::Append(const char* data, size_t count) {
    if (overflowed_) return false;
    if (reply_.size() - start_ + count > kHttpMaxReplyBytes) {
        overflowed_ = true;
        reply_.resize(start_);
        reply_.shrink_to_fit();
        return false;
    }
    reply_.append(data, count);
    return true;
}

bool HttpGetBytes(const std::u16string& url, std::string& reply, HttpTransport& transport) {
    return transport.GetBytes(url, reply);
}

bool HttpGetText(const std::u16string& url, std::u16string& text, HttpTransport& transport) {
    std::string bytes;
    bool opened = transport.GetBytes(url, bytes);
    text += DecodeUtf8Lenient(bytes);
    return opened;
}

bool HttpGetNoReply(std::u16string url, HttpTransport& transport) {
    std::u16string dropped;
    return HttpGetText(url, dropped, transport);
}

bool HttpPostForm(std::u16string host, std::u16string objectPath, std::u16string body,
                  HttpTransport& transport) {
    DebugOutput(body);
    return transport.PostForm(host, objectPath, body);
}

namespace {

// Counts what passes to the caller's sink, to hold the body to its length.
class CountingSink final : public HttpDownloadSink {
public:
    explicit CountingSink(HttpDownloadSink& sink) : sink_(sink) {}
    bool Head(int status, int64_t length, std::u16string& why) override {
        length_ = length;
        return sink_.Head(status, length, why);
    }
    bool Body(const char* data, size_t count, std::u16string& why) override {
        if (length_ >= 0 && received_ + count > static_cast<uint64_t>(length_)) {
            why = u"more than the " + DecimalText(static_cast<uint64_t>(length_)) + u" bytes declared";
            return false;
        }
        received_ += count;
        return sink_.Body(data, count, why);
    }
    int64_t length() const { return length_; }
    uint64_t received() const { return received_; }

private:
    HttpDownloadSink& sink_;
    int64_t length_ = -1;
    uint64_t received_ = 0;
};

}  // namespace

bool HttpDownload(const std::u16string& url, uint32_t timeoutMs, HttpDownloadSink& sink, std::u16string& why,
                  HttpTransport& transport) {
    CountingSink counting(sink);
    why.clear();
    if (!transport.Download(url, timeoutMs, counting, why)) {
        if (why.empty()) why = u"failed";
        return false;
    }
    // A connection cut short reads as a normal end: only the length tells.
    if (counting.length() >= 0 && counting.received() != static_cast<uint64_t>(counting.length())) {
        why = DecimalText(counting.received()) + u" of " + DecimalText(static_cast<uint64_t>(counting.length())) + u" bytes";
        return false;
    }
    return true;
}

std::string ToUtf8(std::u16string_view text) {
    return EncodeUtf8(text.substr(0, text.find(u'\0')), LoneSurrogates::Replace);
}

}  // namespace vantorel
