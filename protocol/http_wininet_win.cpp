// WinINet transport: one root, connection and request handle per call, the
// service's user agent and headers, always fetched from the server.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

class InternetHandle {
public:
    InternetHandle() = default;
    ~InternetHandle() { reset(nullptr); }
    void reset(HINTERNET handle) {
        if (handle_) InternetCloseHandle(handle_);
        handle_ = handle;
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle_; }

private:
    HINTERNET handle_ = nullptr;
};

// A header as text; empty when the reply has none.
std::wstring QueryHeader(HINTERNET request, DWORD header) {
    wchar_t value[64];
    DWORD size = sizeof value;
    DWORD index = 0;
    if (!HttpQueryInfoW(request, header, value, &size, &index)) return {};
    return std::wstring(value, size / sizeof(wchar_t));
}

// A header of digits as a number; -1 when it is absent or anything else.
int64_t QueryNumber(HINTERNET request, DWORD header) {
    const std::wstring text = QueryHeader(request, header);
    if (text.empty() || text.size() > 18) return -1;
    int64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return -1;
        value = value * 10 + (c - L'0');
    }
    return value;
}

// Large enough that a fast server is read in few calls, small enough to
// keep a 32-bit agent's footprint down while a runtime package arrives.
constexpr DWORD kDownloadChunk = 64 * 1024;

HINTERNET OpenRoot() {
    const std::wstring agent = Wide(kHttpUserAgent);
    return InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
}

class WinInetTransport final : public HttpTransport {
public:
    bool GetBytes(const std::u16string& url, std::string& reply) override {
        HINTERNET root = OpenRoot();
        if (!root) return false;

        const std::wstring wideUrl = Wide(url);
        const std::wstring header = Wide(kHttpGetHeader);
        HINTERNET request = InternetOpenUrlW(root, wideUrl.c_str(), header.c_str(), static_cast<DWORD>(-1),
                                             INTERNET_FLAG_RELOAD, 0);
        if (!request) {
            const DWORD code = GetLastError();
            DebugOutput(kHttpOpenUrlError);
            DebugOutput(ToDecimal(static_cast<int64_t>(code)));
            DebugOutput(u"\n");
            InternetCloseHandle(root);
            return false;
        }

        ReplyCollector collector(reply);
        char chunk[kHttpReadChunk];
        DWORD count = 0;
        while (InternetReadFile(request, chunk, sizeof chunk, &count) && count != 0) {
            if (!collector.Append(chunk, count)) break;
        }
        InternetCloseHandle(request);
        InternetCloseHandle(root);
        return !collector.Overflowed();
    }

    bool PostForm(const std::u16string& host, const std::u16string& objectPath,
                  const std::u16string& body) override {
        HINTERNET root = OpenRoot();
        if (!root) return false;
        const std::wstring wideHost = Wide(host);
        HINTERNET connection = InternetConnectW(root, wideHost.c_str(), kServicePort, nullptr, nullptr,
                                                INTERNET_SERVICE_HTTP, 0, 0);
        if (!connection) {
            InternetCloseHandle(root);
            return false;
        }
        const std::wstring path = Wide(objectPath);
        LPCWSTR acceptTypes[] = {L"*/*", nullptr};
        HINTERNET request = HttpOpenRequestW(connection, L"POST", path.c_str(), nullptr, nullptr, acceptTypes,
                                             INTERNET_FLAG_RELOAD, 0);
        std::string bytes = ToUtf8(body);
        const std::wstring header = Wide(kHttpPostHeader);
        const bool sent = HttpSendRequestW(request, header.c_str(), static_cast<DWORD>(-1), bytes.data(),
                                           static_cast<DWORD>(bytes.size())) != FALSE;
        // The request handle goes first so that no handle outlives the call.
        if (request) InternetCloseHandle(request);
        InternetCloseHandle(connection);
        InternetCloseHandle(root);
        return sent;
    }

    // The time-outs are set on the connection, where WinINet applies them to
    // each wait for data: a server that stops sending is given up, a slow
    // one is not. Each read takes only what has arrived, so that the sink
    // sees a trickle as it comes.
    bool Download(const std::u16string& url, uint32_t timeoutMs, HttpDownloadSink& sink,
                  std::u16string& why) override {
        const std::wstring wideUrl = Wide(url);
        wchar_t host[256] = {}, object[2048] = {};
        URL_COMPONENTSW parts = {};
        parts.dwStructSize = sizeof parts;
        parts.lpszHostName = host;
        parts.dwHostNameLength = 256;
        parts.lpszUrlPath = object;
        parts.dwUrlPathLength = 2048;
        if (!InternetCrackUrlW(wideUrl.c_str(), 0, 0, &parts) ||
            (parts.nScheme != INTERNET_SCHEME_HTTPS && parts.nScheme != INTERNET_SCHEME_HTTP)) {
            why = u"not an http(s) URL";
            return false;
        }
        InternetHandle root, connection, request;  // closed in reverse order
        root.reset(OpenRoot());
        if (root.get())
            connection.reset(InternetConnectW(root.get(), host, parts.nPort, nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection.get()) {
            why = u"InternetConnectW error " + DecimalText(GetLastError());
            return false;
        }
        DWORD timeout = timeoutMs;
        for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                   INTERNET_OPTION_RECEIVE_TIMEOUT})
            InternetSetOptionW(connection.get(), option, &timeout, sizeof timeout);
        DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
        if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
        request.reset(HttpOpenRequestW(connection.get(), L"GET", object, nullptr, nullptr, nullptr, flags, 0));
        const std::wstring header = Wide(kHttpGetHeader);
        if (!request.get() ||
            !HttpSendRequestW(request.get(), header.c_str(), static_cast<DWORD>(-1), nullptr, 0)) {
            why = u"request error " + DecimalText(GetLastError());
            return false;
        }
        // A refused connection still "opens", with no status at all.
        const int64_t status = QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE);
        if (!sink.Head(status < 0 ? 0 : static_cast<int>(status), QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH),
                       why))
            return false;
        std::vector<char> chunk(kDownloadChunk);
        unsigned long long received = 0;
        for (;;) {
            DWORD available = 0, count = 0;
            if (!InternetQueryDataAvailable(request.get(), &available, 0, 0) ||
                (available != 0 && !InternetReadFile(request.get(), chunk.data(),
                                                     available < kDownloadChunk ? available : kDownloadChunk,
                                                     &count))) {
                why = u"read error " + DecimalText(GetLastError()) + u" after " + DecimalText(received) + u" bytes";
                return false;
            }
            if (count == 0) return true;
            if (!sink.Body(chunk.data(), count, why)) return false;
            received += count;
        }
    }

private:
    static std::u16string ToDecimal(int64_t value) {
        const std::string digits = std::to_string(value);
        return std::u16string(digits.begin(), digits.end());
    }
};

}  // namespace

HttpTransport& PlatformHttpTransport() {
    static WinInetTransport transport;
    return transport;
}

}  // namespace vantorel
