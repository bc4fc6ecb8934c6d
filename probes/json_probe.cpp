// json-probe: reads JSON text (UTF-8) from standard input and tells what the
// agent's parser makes of it.
//
//   json-probe [--write FLAGS]
//
// First line: "ok", or "error POSITION LINE COLUMN MESSAGE". With --write
// (decimal or 0x-hexadecimal flag word) and a successful parse, the value as
// the writer writes it follows, in UTF-8. Exit code: 0 parsed, 1 did not
// parse, 2 bad usage or unreadable input.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "protocol/json_value.h"
#include "protocol/json_writer.h"
#include "protocol/utf8.h"

namespace {

constexpr const char* kUsage =
    "usage: json-probe [--write FLAGS]\n"
    "Reads JSON text (UTF-8) from standard input. Prints \"ok\" or\n"
    "\"error POSITION LINE COLUMN MESSAGE\"; with --write FLAGS (decimal or 0x-hex)\n"
    "also the written text of the value.\n";

bool ParseFlags(const char* text, uint32_t& flags)
{
    if (!*text)
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 0);
    if (errno || *end || text[0] == '-' || value > 0xFFFFFFFFul)
        return false;
    flags = static_cast<uint32_t>(value);
    return true;
}

bool ReadAll(std::FILE* in, std::string& bytes)
{
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.append(buffer, got);
    return !std::ferror(in);
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Byte-exact: a text-mode stream would turn "\r\n" into "\n" and shift
    // every position and column.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    bool write = false;
    uint32_t flags = 0;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--write") == 0 && k + 1 < argc && ParseFlags(argv[k + 1], flags)) {
            write = true;
            ++k;
        } else if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    std::string bytes;
    if (!ReadAll(stdin, bytes)) {
        std::fputs("json-probe: cannot read standard input\n", stderr);
        return 2;
    }
    const std::u16string text = vantorel::DecodeUtf8Lenient(bytes);

    vantorel::JsonValue root;
    vantorel::JsonParseError error;
    const bool parsed = root.Parse(text, &error);
    std::string report;
    if (parsed) {
        report = "ok\n";
    } else {
        report = "error " + std::to_string(error.position) + " " + std::to_string(error.line) + " " +
                 std::to_string(error.column) + " " + vantorel::EncodeUtf8(error.message) + "\n";
    }
    if (parsed && write) {
        std::u16string written;
        vantorel::Write(root, written, flags);
        report += vantorel::EncodeUtf8(written);
        report += "\n";
    }
    std::fwrite(report.data(), 1, report.size(), stdout);
    return parsed ? 0 : 1;
}
