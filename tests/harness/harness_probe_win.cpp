// A small Windows program that the Wine runner's own test drives: it says a
// line on standard output, another to the debugger, optionally hangs, and
// exits with the code it is given. With --faults it first makes a bad write
// and an integer division by zero, each on a thread of its own, and prints
// the exception that Windows code sees for each: the program's own crash
// handling depends on these being told apart.
//
//   harness-probe.exe [--exit N] [--hang] [--faults]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

LONG CALLBACK report_exception(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* rec = info->ExceptionRecord;
    std::printf("harness-probe exception %08lx", static_cast<unsigned long>(rec->ExceptionCode));
    if (rec->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && rec->NumberParameters >= 2)
        std::printf(" %s %08lx", rec->ExceptionInformation[0] ? "write" : "read",
                    static_cast<unsigned long>(rec->ExceptionInformation[1]));
    std::printf("\n");
    std::fflush(stdout);
    ExitThread(3);
}

DWORD WINAPI bad_write(void*)
{
    volatile UINT_PTR address = 0x10;  // in the never-mapped first page
    *reinterpret_cast<volatile int*>(address) = 1;
    return 0;
}

DWORD WINAPI divide_by_zero(void*)
{
    volatile int zero = 0;
    volatile int one = 1;
    return static_cast<DWORD>(one / zero);
}

void run_faulting(LPTHREAD_START_ROUTINE body)
{
    HANDLE thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

}  // namespace

int main(int argc, char** argv)
{
    int code = 0;
    bool hang = false;
    bool faults = false;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--exit") == 0 && k + 1 < argc)
            code = std::atoi(argv[++k]);
        else if (std::strcmp(argv[k], "--hang") == 0)
            hang = true;
        else if (std::strcmp(argv[k], "--faults") == 0)
            faults = true;
    }
    std::printf("harness-probe stdout\n");
    std::fflush(stdout);
    OutputDebugStringW(L"harness-probe debug line");
    if (faults) {
        AddVectoredExceptionHandler(1, report_exception);
        run_faulting(bad_write);
        run_faulting(divide_by_zero);
    }
    if (hang)
        Sleep(INFINITE);
    return code;
}
