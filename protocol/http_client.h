// HTTP to the Local service: a GET that returns the reply's bytes, one that
// returns it as text, one that drops it, and a POST of a form body.
//
// Every call opens and closes its own connection; nothing is shared or kept
// between calls, so any thread may call at any time. The transport is
// WinINet on Windows and a plain socket client elsewhere (for native tests);
// the code above it sees only HttpTransport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vantorel {

inline constexpr std::u16string_view kHttpUserAgent = u"ZozeviRivudaDuviv";
inline constexpr std::u16string_view kHttpGetHeader = u"Content-Type: application/x-www-form-urlencoded";
inline constexpr std::u16string_view kHttpPostHeader =
    u"Content-Type: application/x-www-form-urlencoded;charset=UTF-8;";
inline constexpr std::u16string_view kHttpOpenUrlError = u"InternetOpenUrl error: ";
inline constexpr size_t kHttpReadChunk = 1024;
// A reply past this size is refused whole: one huge or endless reply must not
// exhaust a 32-bit process.
inline constexpr size_t kHttpMaxReplyBytes = 16u * 1024 * 1024;

// Where a download's reply goes: its head, then its body chunk by chunk, as
// it arrives. Either may stop the download by returning false with why set.
class HttpDownloadSink {
public:
    virtual ~HttpDownloadSink() = default;
    // status: the HTTP status code (0 when there was none); length: the
    // Content-Length, or -1 when the reply has none.
    virtual bool Head(int status, int64_t length, std::u16string& why) = 0;
    virtual bool Body(const char* data, size_t count, std::u16string& why) = 0;
};

class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    // Appends the reply body to reply. True when the URL was opened, also
    // when a read failed partway (reply then holds what arrived). False when
    // it could not be opened, or when the body exceeded kHttpMaxReplyBytes
    // (reply is then left as it was).
    virtual bool GetBytes(const std::u16string& url, std::string& reply) = 0;
    // POSTs body as UTF-8 to host:9333/objectPath; true when it was sent.
    // The reply is not read.
    virtual bool PostForm(const std::u16string& host, const std::u16string& objectPath,
                          const std::u16string& body) = 0;
    // A GET of url (http or https) from any server, always fresh from it,
    // streamed into sink; a connection, a send or a wait for data that takes
    // longer than timeoutMs is given up. True when the body ended normally;
    // otherwise why says what happened.
    virtual bool Download(const std::u16string& url, uint32_t timeoutMs, HttpDownloadSink& sink,
                          std::u16string& why) = 0;
};

// WinINet on Windows; elsewhere a socket client.
HttpTransport& PlatformHttpTransport();

#ifndef _WIN32
// A socket client whose POSTs go to postPort instead of the service's port,
// so that tests can run a server on any free port.
std::unique_ptr<HttpTransport> MakeSocketTransport(uint16_t postPort);
#endif

bool HttpGetBytes(const std::u16string& url, std::string& reply,
                  HttpTransport& transport = PlatformHttpTransport());
// HttpGetBytes with the reply decoded as UTF-8 and appended to text; a byte
// that does not start a valid sequence is widened to one unit, so ASCII and
// Latin-1 replies read as before.
bool HttpGetText(const std::u16string& url, std::u16string& text,
                 HttpTransport& transport = PlatformHttpTransport());
// For commands: the reply is dropped; true for any answered request.
bool HttpGetNoReply(std::u16string url, HttpTransport& transport = PlatformHttpTransport());
// Writes body to the debug output, then POSTs it.
bool HttpPostForm(std::u16string host, std::u16string objectPath, std::u16string body,
                  HttpTransport& transport = PlatformHttpTransport());

// Downloads url into sink (see HttpTransport::Download). True only when the
// whole body arrived: as long as its Content-Length says, when it has one,
// and not stopped by the sink.
bool HttpDownload(const std::u16string& url, uint32_t timeoutMs, HttpDownloadSink& sink, std::u16string& why,
                  HttpTransport& transport = PlatformHttpTransport());

// UTF-8 form of text up to its first NUL unit; a lone surrogate becomes
// U+FFFD, as the platform's converter does.
std::string ToUtf8(std::u16string_view text);

// Collects a reply in read-chunk steps and enforces the size cap; the
// transports share it.
class ReplyCollector {
public:
    explicit ReplyCollector(std::string& reply) : reply_(reply), start_(reply.size()) {}
    // False once the reply has grown past the cap; the reply is then rolled
    // back to what it held before and the caller must stop reading.
    bool Append(const char* data, size_t count);
    bool Overflowed() const { return overflowed_; }

private:
    std::string& reply_;
    size_t start_;
    bool overflowed_ = false;
};

}  // namespace vantorel
