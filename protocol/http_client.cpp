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
    text = text.substr(0, text.find(u'\0'));
    std::string out;
    out.reserve(text.size() * 3);
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace vantorel
