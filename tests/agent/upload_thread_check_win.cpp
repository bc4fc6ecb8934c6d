// Runs the agent's upload thread for the paths on standard input (UTF-8, one
// per line): first called in place, as a plain function, then (with
// --thread) started as the agent starts it, on its own thread.
//   upload-thread-check [--thread]
// Exit code: 0 when done, 2 bad usage or the thread could not start.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "agent/upload/upload_thread_win.h"
#include "protocol/utf8.h"

int main(int argc, char** argv)
{
    const bool threaded = argc == 2 && std::strcmp(argv[1], "--thread") == 0;
    if (argc > 2 || (argc == 2 && !threaded)) {
        std::fputs("usage: upload-thread-check [--thread] < paths\n", stderr);
        return 2;
    }
    std::string input;
    char chunk[4096];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) input.append(chunk, count);

    vantorel::UploadPathList paths;
    size_t start = 0;
    while (start < input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        std::string line = input.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) paths.push_back(vantorel::DecodeUtf8Lenient(line));
        start = end + 1;
    }

    vantorel::UploadThread(new vantorel::UploadPathList(paths));
    if (threaded) {
        if (!vantorel::StartUploadThread(paths)) return 2;
        // The agent never joins its upload threads; give this one time to send.
        Sleep(5000);
    }
    return 0;
}
