// Socket transport for native builds (tests, tools): the same requests,
// headers and results as the WinINet transport, through cpp-httplib.
#include <httplib.h>

#include <charconv>
#include <string>

#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

struct UrlParts {
    std::string host;
    int port = 80;
    std::string target;  // path and query
};

// Accepts "http://host[:port][/target]"; the service is plain HTTP only.
bool SplitUrl(const std::string& url, UrlParts& parts) {
    constexpr std::string_view scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    const size_t hostStart = scheme.size();
    const size_t targetStart = url.find('/', hostStart);
    std::string authority = url.substr(hostStart, targetStart == std::string::npos ? std::string::npos
                                                                                    : targetStart - hostStart);
    parts.target = targetStart == std::string::npos ? "/" : url.substr(targetStart);
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos) {
        const char* first = authority.data() + colon + 1;
        const char* last = authority.data() + authority.size();
        auto [end, error] = std::from_chars(first, last, parts.port);
        if (error != std::errc() || end != last || parts.port <= 0 || parts.port > 65535) return false;
        authority.resize(colon);
    }
    parts.host = authority;
    return !parts.host.empty();
}

void ReportOpenError(int code) {
    DebugOutput(kHttpOpenUrlError);
    const std::string digits = std::to_string(code);
    DebugOutput(std::u16string(digits.begin(), digits.end()));
    DebugOutput(u"\n");
}

void Configure(httplib::Client& client) {
    // The long poll holds a request open; no short read limit may cut it.
    client.set_connection_timeout(30);
    client.set_read_timeout(600);
    client.set_write_timeout(60);
    client.set_keep_alive(false);
}

class NativeTransport final : public HttpTransport {
public:
    explicit NativeTransport(uint16_t postPort) : postPort_(postPort) {}

    bool GetBytes(const std::u16string& url, std::string& reply) override {
        UrlParts parts;
        if (!SplitUrl(EncodeUtf8(url), parts)) {
            ReportOpenError(static_cast<int>(httplib::Error::Connection));
            return false;
        }
        httplib::Client client(parts.host, parts.port);
        Configure(client);
        const httplib::Headers headers = {
            {"User-Agent", EncodeUtf8(kHttpUserAgent)},
            {"Content-Type", "application/x-www-form-urlencoded"},
        };
        ReplyCollector collector(reply);
        bool answered = false;
        httplib::Result result = client.Get(
            parts.target, headers,
            [&](const httplib::Response&) {
                answered = true;
                return true;
            },
            [&](const char* data, size_t count) {
                // Hand the body on in read-chunk steps, as the Windows client reads it.
                while (count != 0) {
                    const size_t step = count < kHttpReadChunk ? count : kHttpReadChunk;
                    if (!collector.Append(data, step)) return false;
                    data += step;
                    count -= step;
                }
                return true;
            });
        if (collector.Overflowed()) return false;
        if (!answered) {
            ReportOpenError(static_cast<int>(result.error()));
            return false;
        }
        return true;  // a read that failed partway keeps what arrived
    }

    bool PostForm(const std::u16string& host, const std::u16string& objectPath,
                  const std::u16string& body) override {
        httplib::Client client(EncodeUtf8(host), postPort_);
        Configure(client);
        const httplib::Headers headers = {
            {"User-Agent", EncodeUtf8(kHttpUserAgent)},
            {"Accept", "*/*"},
        };
        std::string target = EncodeUtf8(objectPath);
        if (target.empty() || target[0] != '/') target = "/" + target;
        httplib::Result result =
            client.Post(target, headers, ToUtf8(body), "application/x-www-form-urlencoded;charset=UTF-8;");
        return static_cast<bool>(result);
    }

    // Plain http only, as everything this build talks to.
    bool Download(const std::u16string& url, uint32_t timeoutMs, HttpDownloadSink& sink,
                  std::u16string& why) override {
        UrlParts parts;
        if (!SplitUrl(EncodeUtf8(url), parts)) {
            why = u"not an http URL";
            return false;
        }
        httplib::Client client(parts.host, parts.port);
        const time_t seconds = static_cast<time_t>(timeoutMs / 1000);
        const time_t microseconds = static_cast<time_t>(timeoutMs % 1000) * 1000;
        client.set_connection_timeout(seconds, microseconds);
        client.set_read_timeout(seconds, microseconds);
        client.set_write_timeout(seconds, microseconds);
        client.set_keep_alive(false);
        const httplib::Headers headers = {
            {"User-Agent", EncodeUtf8(kHttpUserAgent)},
            {"Content-Type", "application/x-www-form-urlencoded"},
        };
        bool stopped = false;
        httplib::Result result = client.Get(
            parts.target, headers,
            [&](const httplib::Response& response) {
                int64_t length = -1;
                if (response.has_header("Content-Length")) {
                    const std::string text = response.get_header_value("Content-Length");
                    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
                    if (error != std::errc() || end != text.data() + text.size() || length < 0) length = -1;
                }
                stopped = !sink.Head(response.status, length, why);
                return !stopped;
            },
            [&](const char* data, size_t count) {
                stopped = !sink.Body(data, count, why);
                return !stopped;
            });
        if (stopped) return false;
        if (!result) {
            why = u"request error " + EncodeUtf8AsUtf16(httplib::to_string(result.error()));
            return false;
        }
        return true;
    }

private:
    static std::u16string EncodeUtf8AsUtf16(const std::string& text) {
        return std::u16string(text.begin(), text.end());
    }

    uint16_t postPort_;
};

}  // namespace

HttpTransport& PlatformHttpTransport() {
    static NativeTransport transport(kServicePort);
    return transport;
}

std::unique_ptr<HttpTransport> MakeSocketTransport(uint16_t postPort) {
    return std::make_unique<NativeTransport>(postPort);
}

}  // namespace vantorel
