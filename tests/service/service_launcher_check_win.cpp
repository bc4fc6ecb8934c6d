// The launcher's Windows calls, run as the agent runs them, from a test
// install directory that service_launcher_test.sh builds:
//   INSTALL\Vantorel.exe            this program
//   INSTALL\jre\bin\javaw.exe       the recorder (javaw_recorder_win.cpp),
//   INSTALL\jre\bin\java w.exe      and a copy of it
//   INSTALL\newVantorel.exe, oldVantorel.exe   an update's leftovers
//   INSTALL\<language>\Pellick.dll, INSTALL\Pellick.dll   test language modules
// The script passes what this run must see in the environment:
//   VANTOREL_EXPECT_INSTALL_DIR  the install directory, with its backslash
//   VANTOREL_EXPECT_LOCALE       the user's and the thread's locale, "en-US"
//   VANTOREL_EXPECT_WINDOWS      "MAJOR VISTA WINDOWS7" as the prefix reports it
// The tests run in file order; the last one moves language folders away.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/service/service_launcher_win.h"
#include "agent/service/ui_resources_win.h"
#include "agent/service/windows_version.h"
#include "agent/service/windows_version_win.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

std::string Utf8(const std::u16string& text) { return EncodeUtf8(text); }
std::u16string Utf16(const std::string& text) { return DecodeUtf8Lenient(text); }
std::wstring Wide(const std::string& text) {
    const std::u16string wide = Utf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string Expected(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string InstallDir() { return Expected("VANTOREL_EXPECT_INSTALL_DIR"); }
std::string LocaleName() { return Expected("VANTOREL_EXPECT_LOCALE"); }

bool Exists(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string CurrentDirectory() {
    wchar_t buffer[4096];
    const DWORD length = GetCurrentDirectoryW(4096, buffer);
    return Utf8(std::u16string(buffer, buffer + length));
}

std::string RecordPath() { return InstallDir() + "jre\\bin\\javaw-record.txt"; }

// The recorder's lines as name -> value; empty when it wrote nothing.
std::map<std::string, std::string> ReadRecord() {
    std::map<std::string, std::string> record;
    std::ifstream file(Wide(RecordPath()).c_str(), std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) record[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return record;
}

void ForgetRecord() { DeleteFileW(Wide(RecordPath()).c_str()); }

std::string EnvironmentValue(const wchar_t* name) {
    wchar_t buffer[8192];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 8192);
    return length < 8192 ? Utf8(std::u16string(buffer, buffer + length)) : "<too long>";
}

std::string RuntimeLibraryValue(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? Utf8(std::u16string(value, value + wcslen(value))) : "<unset>";
}

TEST(ModulePath, NamesThisProgramInTheInstallDirectory) {
    ASSERT_FALSE(InstallDir().empty()) << "VANTOREL_EXPECT_INSTALL_DIR not set";
    EXPECT_EQ(Utf8(GetModulePath()), InstallDir() + "Vantorel.exe");
    EXPECT_EQ(Utf8(GetModuleDirectory()), InstallDir());
    EXPECT_EQ(Utf8(GetModuleFileNameOnly()), "Vantorel.exe");
}

TEST(WindowsVersion, FlagsAsThePrefixReportsThem) {
    unsigned major = 0;
    int vista = -1, windows7 = -1;
    std::istringstream(Expected("VANTOREL_EXPECT_WINDOWS")) >> major >> vista >> windows7;
    ASSERT_NE(major, 0u) << "VANTOREL_EXPECT_WINDOWS not set";
    EXPECT_FALSE(osVersionChecked);
    // Users on any thread may run the check at once.
    std::vector<unsigned> results(8);
    std::vector<std::thread> threads;
    for (unsigned& result : results) threads.emplace_back([&result] { result = CheckWindowsVersion(); });
    for (std::thread& thread : threads) thread.join();
    for (unsigned result : results) EXPECT_EQ(result, major);
    EXPECT_TRUE(osVersionChecked);
    EXPECT_EQ(isVistaOrLater, vista == 1);
    EXPECT_EQ(isWindows7OrLater, windows7 == 1);
}

TEST(Locale, CodesOfTheThreadAndTheUserUiLanguage) {
    const std::string locale = LocaleName();
    ASSERT_EQ(locale.size(), 5u) << "VANTOREL_EXPECT_LOCALE not set";
    EXPECT_EQ(Utf8(GetLocaleLanguageCode()), locale.substr(0, 2));
    EXPECT_EQ(Utf8(GetLocaleCountryCode()), locale.substr(3, 2));
    EXPECT_EQ(Utf8(GetUserUiLanguageName()), locale);
    // The same name as Windows XP builds it.
    EXPECT_EQ(Utf8(LocaleInfoLanguageName(GetUserDefaultUILanguage())), locale);
}

TEST(LaunchLocalService, StartsJavaWithTheServiceCommandLineInTheInstallDirectory) {
    const std::string dir = InstallDir();
    ASSERT_TRUE(Exists(dir + "newVantorel.exe"));
    ASSERT_TRUE(Exists(dir + "oldVantorel.exe"));
    ForgetRecord();
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\windows"));

    SetupServiceEnvironment();
    const std::string path = dir + ";" + dir + "\\jre\\bin;";
    EXPECT_EQ(EnvironmentValue(L"PATH"), path);
    EXPECT_EQ(RuntimeLibraryValue(L"PATH"), path);
    EXPECT_EQ(EnvironmentValue(L"JAVA_TOOL_OPTIONS"), "-Xmx512m");
    EXPECT_EQ(RuntimeLibraryValue(L"JAVA_TOOL_OPTIONS"), "-Xmx512m");

    void* service = LaunchLocalService();
    ASSERT_NE(service, nullptr);
    // The recorder ends by itself; the runner's time-out bounds a hang.
    EXPECT_EQ(WaitForSingleObject(service, INFINITE), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(service, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(service);

    EXPECT_EQ(CurrentDirectory(), dir.substr(0, dir.size() - 1));
    EXPECT_FALSE(Exists(dir + "newVantorel.exe"));
    EXPECT_FALSE(Exists(dir + "oldVantorel.exe"));

    std::map<std::string, std::string> record = ReadRecord();
    const std::string locale = LocaleName();
    EXPECT_EQ(record["command"],
              "javaw.exe -XX:MinHeapFreeRatio=40 -Dserver -Duser.variant=WIN -Duser.language=" + locale.substr(0, 2) +
                  " -Duser.country=" + locale.substr(3, 2) +
                  " -cp *;localsvc_lib\\*; com.orlesk.kestrum.client.localsvc.HollinLocalService");
    EXPECT_EQ(record["first_argument"], "-XX:MinHeapFreeRatio=40");
    EXPECT_EQ(record["directory"], dir.substr(0, dir.size() - 1));
    EXPECT_EQ(record["path"], path);
    EXPECT_EQ(record["java_tool_options"], "-Xmx512m");
}

TEST(RunProcess, CommandLineAndDirectoryOfAnyProgram) {
    const std::string dir = InstallDir();
    const std::u16string recorder = Utf16(dir + "jre\\bin\\javaw.exe");
    struct Case {
        const char* arguments;
        const char* command;
    };
    for (const Case& c : {Case{"abc \"d e\"", "javaw.exe abc \"d e\""}, Case{" x", "javaw.exe x"}, Case{"", "javaw.exe"}}) {
        ForgetRecord();
        void* process = reinterpret_cast<void*>(1);
        EXPECT_EQ(RunProcess(recorder, Utf16(c.arguments), kWaitForever, &process), 0u);
        ASSERT_NE(process, nullptr);
        // The wait without a time limit has returned: the program has ended.
        EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0);
        CloseHandle(process);
        std::map<std::string, std::string> record = ReadRecord();
        EXPECT_EQ(record["command"], c.command);
        // The install directory, not the program's own folder.
        EXPECT_EQ(record["directory"], dir.substr(0, dir.size() - 1));
    }

    // A program whose name holds a blank still reads its own arguments.
    ForgetRecord();
    EXPECT_EQ(RunProcess(Utf16(dir + "jre\\bin\\java w.exe"), u"q r", kWaitForever, nullptr), 0u);
    std::map<std::string, std::string> record = ReadRecord();
    EXPECT_EQ(record["command"], "\"java w.exe\" q r");
    EXPECT_EQ(record["first_argument"], "q");

    void* missing = reinterpret_cast<void*>(1);
    const uint32_t error = RunProcess(Utf16(dir + "jre\\bin\\missing.exe"), u"x", kWaitForever, &missing);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(missing, nullptr);
}

TEST(RunShellProgram, WaitsForTheProgramStartedInTheGivenDirectory) {
    const std::string dir = InstallDir();
    ForgetRecord();
    // The file name is expanded from the environment.
    ASSERT_TRUE(SetEnvironmentVariableW(L"VANTOREL_CHECK_JRE", Wide(dir + "jre").c_str()));
    EXPECT_EQ(RunShellProgram(u"%VANTOREL_CHECK_JRE%\\bin\\javaw.exe", u"p \"q r\"", Utf16(dir + "jre")), 1);
    std::map<std::string, std::string> record = ReadRecord();
    const std::string command = record["command"];
    EXPECT_TRUE(command.size() > 8 && command.ends_with(" p \"q r\"")) << command;
    EXPECT_EQ(record["directory"], dir + "jre");
}

TEST(LoadUiString, TextOfTheUserLanguageFolderThenShorterNamesThenNeutral) {
    const std::string dir = InstallDir();
    const std::string locale = LocaleName();
    const std::map<std::string, std::string> texts = {
        {"en-US", "en-US module"}, {"en", "en module"}, {"de-DE", "de-DE Modul \xc3\xbc\xc3\x9f"}};
    ASSERT_TRUE(Exists(dir + locale + "\\Pellick.dll"));
    const std::string longText = Utf8(LoadUiString(101));

    for (const std::string& folder : {locale, locale.substr(0, 2)}) {
        if (!Exists(dir + folder)) continue;
        SCOPED_TRACE(folder);
        EXPECT_EQ(Utf8(LoadUiString(100)), texts.at(folder));
        EXPECT_EQ(Utf8(LoadUiString(101)).size(), 519u);
        EXPECT_EQ(LoadUiString(999), u"");
        ASSERT_TRUE(MoveFileW(Wide(dir + folder).c_str(), Wide(dir + folder + ".away").c_str()));
    }
    EXPECT_EQ(Utf8(LoadUiString(100)), "neutral module");
    EXPECT_EQ(Utf8(LoadUiString(101)), longText);
    EXPECT_EQ(longText.size(), 519u);
    EXPECT_EQ(LoadUiString(999), u"");

    ASSERT_TRUE(MoveFileW(Wide(dir + "Pellick.dll").c_str(), Wide(dir + "Pellick.away").c_str()));
    EXPECT_EQ(LoadUiResourceModule(), nullptr);
    EXPECT_EQ(LoadUiString(100), u"");
}

}  // namespace
}  // namespace vantorel
