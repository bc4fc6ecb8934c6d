// Stands in for the Java launcher in an agent's install directory: records its
// process id in javaw-alive.txt beside itself and runs until it is ended, as
// the Local service does, so a test can see that the agent ends it at exit.
#include <windows.h>

#include <cstdio>
#include <string>

int main()
{
    wchar_t self[4096];
    const DWORD length = GetModuleFileNameW(nullptr, self, 4096);
    std::wstring path(self, length);
    path.erase(path.rfind(L'\\') + 1);
    path += L"javaw-alive.txt";
    if (FILE* file = _wfopen(path.c_str(), L"w")) {
        std::fprintf(file, "%lu\n", GetCurrentProcessId());
        std::fclose(file);
    }
    Sleep(INFINITE);
    return 0;
}
