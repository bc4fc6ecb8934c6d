#include "agent/service/service_launcher_win.h"

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "agent/service/service_command.h"
#include "protocol/debug_output.h"
#include "protocol/http_client.h"
#include "protocol/service_api.h"
#include "protocol/utf8.h"

namespace vantorel {

namespace {

// Written once by SetupServiceEnvironment on the main thread, before any
// reader runs.
std::u16string installDirectory;

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string Utf16Text(const wchar_t* text, size_t length) { return std::u16string(text, text + length); }

void ReportFailure(std::u16string_view what, std::u16string_view subject, unsigned long code) {
    std::u16string line = u"Failed ";
    line += what;
    line += u' ';
    line += subject;
    line += u" with: ";
    line += DecimalText(code);
    line += u'\n';
    DebugOutput(line);
}

// Process starts may come before SetupServiceEnvironment (the update's
// start-up step); they then run in the executable's directory, which is
// what the install directory will be.
std::u16string InstallDirectory() {
    return installDirectory.empty() ? GetModuleDirectory() : installDirectory;
}

void SetEnvironmentEntry(std::u16string_view name, std::u16string_view value) {
    const std::wstring wideName = Wide(name);
    const std::wstring wideValue = Wide(value);
    // The runtime library keeps its own copy, read by _wgetenv and _wspawn;
    // CreateProcessW passes the system's. Both must agree.
    const std::wstring entry = wideName + L"=" + wideValue;
    if (_wputenv(entry.c_str()) != 0) ReportFailure(u"_wputenv", name, static_cast<unsigned long>(errno));
    if (!SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str()))
        ReportFailure(u"SetEnvironmentVariableW", name, GetLastError());
}

std::u16string LocaleText(LCTYPE type) {
    wchar_t buffer[16] = {};
    const int length = GetLocaleInfoW(GetThreadLocale(), type, buffer, 16);
    return length > 1 ? Utf16Text(buffer, static_cast<size_t>(length - 1)) : std::u16string();
}

}  // namespace

std::u16string GetModulePath() {
    wchar_t buffer[4096];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 4096);
    return Utf16Text(buffer, length);
}

std::u16string GetModuleDirectory() { return std::u16string(DirectoryPart(GetModulePath())); }

std::u16string GetModuleFileNameOnly() { return std::u16string(FileNamePart(GetModulePath())); }

void SetupServiceEnvironment() {
    installDirectory = GetModuleDirectory();
    SetEnvironmentEntry(u"PATH", ServicePathValue(installDirectory));
    SetEnvironmentEntry(u"JAVA_TOOL_OPTIONS", kJavaToolOptions);
}

void* LaunchLocalService() {
    const std::u16string directory = InstallDirectory();
    // The class path names archives relative to the install directory.
    if (!SetCurrentDirectoryW(Wide(directory).c_str()))
        ReportFailure(u"SetCurrentDirectoryW", directory, GetLastError());
    // A service left by an earlier agent still holds the port; when none
    // listens this fails at once, harmlessly.
    HttpGetNoReply(std::u16string(ServiceUrl(ServiceRequest::Shutdown)));

    const std::u16string arguments = ServiceArguments(GetLocaleLanguageCode(), GetLocaleCountryCode());
    void* service = nullptr;
    RunProcess(directory + std::u16string(kJavaLauncher), arguments, 0, &service);
    DeleteUpdateLeftovers();
    return service;
}

uint32_t RunProcess(const std::u16string& applicationPath, const std::u16string& arguments,
                    uint32_t waitMilliseconds, void** process) {
    if (process) *process = nullptr;
    std::wstring application;
    std::wstring commandLine;
    std::wstring directory;
    try {
        application = Wide(applicationPath);
        // CreateProcessW may write into the command line: a buffer of its own.
        commandLine = Wide(ProcessCommandLine(applicationPath, arguments));
        directory = Wide(InstallDirectory());
    } catch (const std::bad_alloc&) {
        return 1;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE, nullptr, directory.empty() ? nullptr : directory.c_str(),
                        &startup, &created)) {
        const DWORD error = GetLastError();
        ReportFailure(u"CreateProcessW", applicationPath, error);
        return error;
    }
    WaitForSingleObject(created.hProcess, waitMilliseconds);
    CloseHandle(created.hThread);
    if (process)
        *process = created.hProcess;
    else
        CloseHandle(created.hProcess);
    return 0;
}

int RunShellProgram(const std::u16string& file, const std::u16string& parameters,
                    const std::u16string& directory, unsigned long* exitCode) {
    if (exitCode) *exitCode = 0xFFFFFFFF;
    const std::wstring wideFile = Wide(file);
    const std::wstring wideParameters = Wide(parameters);
    const std::wstring wideDirectory = Wide(directory);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST;
    info.lpVerb = L"open";
    info.lpFile = wideFile.c_str();
    info.lpParameters = wideParameters.empty() ? nullptr : wideParameters.c_str();
    info.lpDirectory = wideDirectory.empty() ? nullptr : wideDirectory.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) ReportFailure(u"ShellExecuteExW", file, GetLastError());
    if (!info.hProcess) return 0;
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0xFFFFFFFF;
    if (exitCode && GetExitCodeProcess(info.hProcess, &code)) *exitCode = code;
    CloseHandle(info.hProcess);
    return 1;
}

void DeleteUpdateLeftovers() {
    const std::u16string directory = InstallDirectory();
    DeleteFileW(Wide(directory + std::u16string(kNewAgentLeftover)).c_str());
    DeleteFileW(Wide(directory + std::u16string(kOldAgentLeftover)).c_str());
    // Copies an update left half made when it was ended (see ReplaceWithCopy),
    // and the copy a signature check makes of the new copy.
    DeleteFileW(Wide(directory + u"\\Vantorel.exe.partial").c_str());
    DeleteFileW(Wide(directory + u"\\oldVantorel.exe.partial").c_str());
    DeleteFileW(Wide(directory + std::u16string(kNewAgentLeftover) + u".signature").c_str());
}

std::u16string GetLocaleLanguageCode() { return LocaleText(LOCALE_SISO639LANGNAME); }

std::u16string GetLocaleCountryCode() { return LocaleText(LOCALE_SISO3166CTRYNAME); }

}  // namespace vantorel
