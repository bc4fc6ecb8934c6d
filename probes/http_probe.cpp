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
//   http-probe batch DIR    runs "LABEL COMMAND [ARGUMENT]" lines from standard
//                           input in one process: the output goes to DIR/LABEL.out,
//                           the exit code to DIR/LABEL.rc, the input of post and
//                           upload comes from DIR/LABEL.in; "LABEL sleep MS" waits
//
// Exit code: 0 when the operation returned true, 1 when false, 2 bad usage.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

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
    "usage: http-probe get URL | text URL | post PATH | upload | batch DIR\n"
    "  get URL       write the reply bytes to standard output; URL may be the\n"
    "                short name of a service request, such as storage or poll\n"
    "  text URL      write the reply as decoded text, in UTF-8\n"
    "  post PATH     POST standard input (UTF-8) to 127.0.0.1:9333/PATH\n"
    "  upload        POST the upload body for the paths on standard input,\n"
    "                one per line (UTF-8)\n"
    "  batch DIR     run \"LABEL COMMAND [ARGUMENT]\" lines from standard input;\n"
    "                DIR/LABEL.out, DIR/LABEL.rc, input from DIR/LABEL.in;\n"
    "                \"LABEL sleep MS\" waits\n"
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

std::string ReadAll(std::FILE* file)
{
    std::string bytes;
    char chunk[4096];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, count);
    return bytes;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

enum Outcome { Success = 0, Failure = 1, BadUsage = 2 };

// One operation; input is the body (post) or the path list (upload).
Outcome Perform(const std::string& command, const std::string& argument, const std::string& input,
                std::string& output)
{
    using namespace vantorel;
    const std::u16string host(kServiceHost);
    if (command == "get") {
        return HttpGetBytes(UrlArgument(argument.c_str()), output) ? Success : Failure;
    }
    if (command == "text") {
        std::u16string text;
        const bool ok = HttpGetText(UrlArgument(argument.c_str()), text);
        output = EncodeUtf8(text);
        return ok ? Success : Failure;
    }
    if (command == "post") {
        return HttpPostForm(host, FromArgument(argument.c_str()), DecodeUtf8Lenient(input)) ? Success : Failure;
    }
    if (command == "upload") {
        UploadPathList paths;
        for (const std::string& line : Lines(input)) paths.push_back(DecodeUtf8Lenient(line));
        const std::u16string target(ServiceUrl(ServiceRequest::FileTransfer));
        return HttpPostForm(host, target, BuildUploadBody(paths)) ? Success : Failure;
    }
    if (command == "sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argument.c_str())));
        return Success;
    }
    return BadUsage;
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::string ReadFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    std::string bytes = ReadAll(file);
    std::fclose(file);
    return bytes;
}

// Many operations in one process: under an emulator every program start costs
// seconds, so the tests batch their requests.
int RunBatch(const std::string& directory)
{
    const std::string separator = directory.find('\\') != std::string::npos ? "\\" : "/";
    int result = Success;
    for (const std::string& line : Lines(ReadAll(stdin))) {
        const size_t first = line.find(' ');
        const size_t second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
        const std::string label = line.substr(0, first);
        const std::string command =
            first == std::string::npos ? "" : line.substr(first + 1, second == std::string::npos ? second : second - first - 1);
        const std::string argument = second == std::string::npos ? "" : line.substr(second + 1);
        const std::string base = directory + separator + label;
        std::string output;
        const Outcome outcome = Perform(command, argument, ReadFile(base + ".in"), output);
        if (outcome == BadUsage) {
            std::fprintf(stderr, "http-probe: bad batch line: %s\n", line.c_str());
            result = BadUsage;
            continue;
        }
        if (!WriteFile(base + ".out", output) || !WriteFile(base + ".rc", outcome == Success ? "0" : "1")) {
            std::fprintf(stderr, "http-probe: cannot write %s.*\n", base.c_str());
            result = BadUsage;
        }
    }
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    if (argc == 3 && std::strcmp(argv[1], "batch") == 0) return RunBatch(argv[2]);
    const std::string command = argc >= 2 ? argv[1] : "";
    const bool takesInput = command == "upload" || command == "post";
    if (argc < 2 || argc > 3 || (command == "upload") != (argc == 2) || command == "sleep") {
        std::fputs(kUsage, stderr);
        return BadUsage;
    }
    std::string output;
    const Outcome outcome = Perform(command, argc == 3 ? argv[2] : "", takesInput ? ReadAll(stdin) : "", output);
    if (outcome == BadUsage) std::fputs(kUsage, stderr);
    std::fwrite(output.data(), 1, output.size(), stdout);
    return outcome;
}
