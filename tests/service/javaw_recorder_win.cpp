// Stands in for the Java launcher in the launcher's tests: writes how it was
// started (command line, its first argument as a program reads it, current
// directory, PATH, JAVA_TOOL_OPTIONS) to
// javaw-record.txt beside itself, as UTF-8 lines "name=value", and exits.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "protocol/utf8.h"

namespace {

std::u16string Text(const wchar_t* text, size_t length) { return std::u16string(text, text + length); }

std::u16string Variable(const wchar_t* name) {
    wchar_t value[8192];
    const DWORD length = GetEnvironmentVariableW(name, value, 8192);
    return length < 8192 ? Text(value, length) : u"<too long>";
}

}  // namespace

int main() {
    wchar_t self[4096];
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, 4096);
    std::wstring recordPath(self, selfLength);
    recordPath.erase(recordPath.rfind(L'\\') + 1);
    recordPath += L"javaw-record.txt";

    const wchar_t* commandLine = GetCommandLineW();
    wchar_t directory[4096];
    const DWORD directoryLength = GetCurrentDirectoryW(4096, directory);

    std::u16string record = u"command=" + Text(commandLine, wcslen(commandLine)) + u"\n";
    int argumentCount = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine, &argumentCount);
    if (arguments && argumentCount > 1)
        record += u"first_argument=" + Text(arguments[1], wcslen(arguments[1])) + u"\n";
    LocalFree(arguments);
    record += u"directory=" + Text(directory, directoryLength) + u"\n";
    record += u"path=" + Variable(L"PATH") + u"\n";
    record += u"java_tool_options=" + Variable(L"JAVA_TOOL_OPTIONS") + u"\n";
    const std::string bytes = vantorel::EncodeUtf8(record);

    FILE* file = _wfopen(recordPath.c_str(), L"wb");
    if (!file) return 3;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written ? 0 : 3;
}
