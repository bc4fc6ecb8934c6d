// Building the upload body for many dropped paths: time per output unit for
// 1 000, 10 000 and 100 000 paths, and against a baseline that only
// concatenates the same paths, measured in the same run. Linear building
// shows as a flat time per unit across the sizes.
//
//   upload-body-bench [--quick]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/http_client.h"
#include "protocol/upload_body.h"

namespace {

using Clock = std::chrono::steady_clock;

vantorel::UploadPathList MakePaths(size_t count)
{
    vantorel::UploadPathList paths;
    paths.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::u16string path = u"C:\\Users\\ann\\Documents\\Reports & Notes\\2026\\caf\u00e9 ";
        for (char c : std::to_string(i)) path.push_back(static_cast<char16_t>(c));
        path += (i % 3 == 0) ? u"\\Q&A draft.docx" : u".txt";
        paths.push_back(std::move(path));
    }
    return paths;
}

template <typename Work>
double BestSeconds(int rounds, Work work)
{
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int rounds = quick ? 1 : 7;
    std::printf("%-8s %12s %12s %10s %10s %12s\n", "paths", "body units", "UTF-8 bytes", "ns/unit", "vs concat",
                "ns/unit+UTF8");
    double firstNsPerUnit = 0;
    double lastNsPerUnit = 0;
    for (size_t count : {size_t(1000), size_t(10000), size_t(100000)}) {
        const vantorel::UploadPathList paths = MakePaths(count);
        std::u16string body;
        const double build = BestSeconds(rounds, [&] { body = vantorel::BuildUploadBody(paths); });
        std::string wire;
        const double withUtf8 = BestSeconds(rounds, [&] { wire = vantorel::ToUtf8(vantorel::BuildUploadBody(paths)); });
        std::u16string joined;
        const double concat = BestSeconds(rounds, [&] {
            joined.clear();
            for (const std::u16string& path : paths) joined += path;
        });
        const double nsPerUnit = build * 1e9 / static_cast<double>(body.size());
        if (firstNsPerUnit == 0) firstNsPerUnit = nsPerUnit;
        lastNsPerUnit = nsPerUnit;
        std::printf("%-8zu %12zu %12zu %10.2f %10.2f %12.2f\n", count, body.size(), wire.size(), nsPerUnit,
                    build / concat, withUtf8 * 1e9 / static_cast<double>(body.size()));
    }
    std::printf("time per unit, 100 000 paths / 1 000 paths: %.2f (1.00 is linear)\n",
                lastNsPerUnit / firstNsPerUnit);
    return 0;
}
