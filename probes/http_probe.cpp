// http-probe: sends one request to the Local service the way the agent does
// and shows the result, for looking at the service by hand and for testing the
// HTTP client from outside (natively and as the Windows program under Wine).
//
//   http-probe get URL      reply bytes to standard output, as received (URL
//                           may be a request's short name: storage, poll...)
//   http-probe text URL     reply text (as the agent decodes it) in UTF-8
//   http-probe post PATH    POSTs standard input (UTF-8 text) to 127.0.0.1:9333/PATH
//   http-probe upload       POSTs the upload body for the paths on standard input
//                           (UTF-8, one per line) to "filetransfer"
//
// Exit code: 0 when the operation returned true, 1 when false, 2 bad usage.
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "protocol/http_client.h"
#include "protocol/service_api.h"
#include "protocol/upload_body.h"
#include "protocol/utf8.h"

namespace {

constexpr const char* kUsage =
    "usage: http-probe get URL | text URL | post PATH | upload\n"
    "  get URL       write the reply bytes to standard output; URL may be the\n"
    "                short name of a service request, such as storage or poll\n"
    "  text URL      write the reply as decoded text, in UTF-8\n"
    "  post PATH     POST standard input (UTF-8) to 127.0.0.1:9333/PATH\n"
    "  upload        POST the upload body for the paths on standard input,\n"
    "                one per line (UTF-8)\n"
    "Exit code: 0 success, 1 failure, 2 bad usage.\n";

std::u16string FromArgument(const char* text)
{
    return vantorel::DecodeUtf8Lenient(text);
}

// A full URL, or the short name of one of the service's requests ("storage").
std::u16string UrlArgument(const char* text)
{
    const std::u16string argument = FromArgument(text);
    if (auto request = vantorel::FindServiceRequestByName(argument))
        return std::u16string(vantorel::ServiceUrl(*request));
    return argument;
}

void WriteOut(const std::string& bytes)
{
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

std::string ReadAll(std::FILE* file)
{
    std::string bytes;
    char chunk[4096];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, count);
    return bytes;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    using namespace vantorel;
    if (argc == 2 && std::strcmp(argv[1], "upload") == 0) {
        UploadPathList paths;
        const std::u16string input = DecodeUtf8Lenient(ReadAll(stdin));
        size_t start = 0;
        while (start < input.size()) {
            size_t end = input.find(u'\n', start);
            if (end == std::u16string::npos) end = input.size();
            std::u16string line = input.substr(start, end - start);
            if (!line.empty() && line.back() == u'\r') line.pop_back();
            if (!line.empty()) paths.push_back(line);
            start = end + 1;
        }
        const std::u16string target(ServiceUrl(ServiceRequest::FileTransfer));
        return HttpPostForm(std::u16string(kServiceHost), target, BuildUploadBody(paths)) ? 0 : 1;
    }
    if (argc < 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string command = argv[1];
    if (command == "get" && argc == 3) {
        std::string reply;
        const bool ok = HttpGetBytes(UrlArgument(argv[2]), reply);
        WriteOut(reply);
        return ok ? 0 : 1;
    }
    if (command == "text" && argc == 3) {
        std::u16string text;
        const bool ok = HttpGetText(UrlArgument(argv[2]), text);
        WriteOut(EncodeUtf8(text));
        return ok ? 0 : 1;
    }
    if (command == "post" && argc == 3) {
        const std::u16string body = DecodeUtf8Lenient(ReadAll(stdin));
        return HttpPostForm(std::u16string(kServiceHost), FromArgument(argv[2]), body) ? 0 : 1;
    }
    std::fputs(kUsage, stderr);
    return 2;
}
