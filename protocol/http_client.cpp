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

std::string ToUtf8(std::u16string_view text) {
    return EncodeUtf8(text.substr(0, text.find(u'\0')), LoneSurrogates::Replace);
}

}  // namespace vantorel
