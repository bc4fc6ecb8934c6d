// A small Windows program that the Wine runner's own test drives: it says a
// line on standard output, another to the debugger, optionally hangs, and
// exits with the code it is given.
//
//   harness-probe.exe [--exit N] [--hang]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    int code = 0;
    bool hang = false;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--exit") == 0 && k + 1 < argc)
            code = std::atoi(argv[++k]);
        else if (std::strcmp(argv[k], "--hang") == 0)
            hang = true;
    }
    std::printf("harness-probe stdout\n");
    std::fflush(stdout);
    OutputDebugStringW(L"harness-probe debug line");
    if (hang)
        Sleep(INFINITE);
    return code;
}
