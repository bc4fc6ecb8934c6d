// WinINet transport: one root, connection and request handle per call, the
// service's user agent and headers, always fetched from the server.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"

namespace vantorel {
namespace {

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

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
