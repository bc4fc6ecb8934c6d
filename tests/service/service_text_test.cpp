// The launcher's portable decisions: the service's command line, the PATH
// it inherits, process command lines, the version flags and the language
// module's candidate paths.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "agent/service/service_command.h"
#include "agent/service/ui_language.h"
#include "agent/service/windows_version.h"

namespace vantorel {
namespace {

TEST(ServiceArguments, CarryTheLocaleCodesBetweenTheFixedOptions) {
    EXPECT_EQ(ServiceArguments(u"en", u"US"),
              u" -XX:MinHeapFreeRatio=40 -Dserver -Duser.variant=WIN -Duser.language=en -Duser.country=US"
              u" -cp *;localsvc_lib\\*; com.orlesk.kestrum.client.localsvc.HollinLocalService");
    // Unreadable codes leave both values empty; the options stay in place.
    const std::u16string empty = ServiceArguments(u"", u"");
    EXPECT_NE(empty.find(u" -Duser.language= -Duser.country= -cp *;localsvc_lib\\*; "), std::u16string::npos);
}

TEST(ServiceArguments, MakeTheServiceCommandLineWithTheLauncherName) {
    EXPECT_EQ(ProcessCommandLine(u"C:\\X\\\\jre\\bin\\javaw.exe", ServiceArguments(u"de", u"DE")),
              u"javaw.exe -XX:MinHeapFreeRatio=40 -Dserver -Duser.variant=WIN -Duser.language=de"
              u" -Duser.country=DE -cp *;localsvc_lib\\*; com.orlesk.kestrum.client.localsvc.HollinLocalService");
}

TEST(ProcessCommandLine, FileNameThenArgumentsWithOneLeadingSpace) {
    struct Case {
        std::u16string_view application, arguments, expected;
    };
    const Case cases[] = {
        {u"C:\\X\\7zr.exe", u" x a.7z", u"7zr.exe x a.7z"},         // already spaced: unchanged
        {u"C:\\X\\7zr.exe", u"x a.7z", u"7zr.exe x a.7z"},          // one space put in front
        {u"C:\\X\\7zr.exe", u"  two", u"7zr.exe  two"},             // own spaces kept
        {u"C:\\X\\7zr.exe", u"\"q r\"", u"7zr.exe \"q r\""},
        {u"C:\\X\\7zr.exe", u"", u"7zr.exe"},                       // file name alone
        {u"7zr.exe", u"x", u"7zr.exe x"},                           // no backslash: whole path
        {u"C:/X/tool.exe", u"", u"C:/X/tool.exe"},                  // only backslashes separate
        {u"C:\\X\\\\jre\\bin\\javaw.exe", u"-v", u"javaw.exe -v"},  // doubled separator
        {u"C:\\X\\", u"y", u" y"},                                  // no file name after the last one
        // a blank in the name would split it into two words: quoted
        {u"C:\\Program Files\\My Tool.exe", u"x", u"\"My Tool.exe\" x"},
        {u"C:\\X\\tab\tname.exe", u"", u"\"tab\tname.exe\""},
        {u"C:\\Program Files\\V\\7zr.exe", u"x", u"7zr.exe x"},     // blanks in the folder only
        {u"My Tool.exe", u"", u"\"My Tool.exe\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProcessCommandLine(c.application, c.arguments), c.expected)
            << std::string(c.application.begin(), c.application.end()) << " / "
            << std::string(c.arguments.begin(), c.arguments.end());
}

TEST(ModulePathParts, SplitAtTheLastBackslash) {
    EXPECT_EQ(DirectoryPart(u"C:\\X\\Vantorel.exe"), u"C:\\X\\");
    EXPECT_EQ(FileNamePart(u"C:\\X\\Vantorel.exe"), u"Vantorel.exe");
    EXPECT_EQ(DirectoryPart(u"\\\\?\\C:\\a b\\c\\V.exe"), u"\\\\?\\C:\\a b\\c\\");
    EXPECT_EQ(DirectoryPart(u"Vantorel.exe"), u"");
    EXPECT_EQ(FileNamePart(u"Vantorel.exe"), u"Vantorel.exe");
    EXPECT_EQ(DirectoryPart(u""), u"");
    EXPECT_EQ(FileNamePart(u""), u"");
}

TEST(ServicePathValue, HoldsExactlyTheTwoInstallDirectoryEntries) {
    EXPECT_EQ(ServicePathValue(u"C:\\X\\"), u"C:\\X\\;C:\\X\\\\jre\\bin;");
    EXPECT_EQ(ServicePathValue(u"D:\\Program Files\\V\\"), u"D:\\Program Files\\V\\;D:\\Program Files\\V\\\\jre\\bin;");
}

TEST(WindowsVersion, FlagsForReportedVersions) {
    struct Case {
        unsigned major, minor;
        bool vista, windows7;
    };
    const Case cases[] = {
        {5, 0, false, false}, {5, 1, false, false}, {5, 2, false, false},
        {6, 0, true, false},  {6, 1, true, true},   {6, 2, true, true},
        {6, 3, true, true},   {10, 0, true, true},  {11, 0, true, true},
    };
    for (const Case& c : cases) {
        const WindowsVersionFlags flags = VersionFlagsFor(c.major, c.minor);
        EXPECT_EQ(flags.vistaOrLater, c.vista) << c.major << "." << c.minor;
        EXPECT_EQ(flags.windows7OrLater, c.windows7) << c.major << "." << c.minor;
    }
}

TEST(WindowsVersion, CheckedOnlyOnceTheFlagsAreSet) {
    // Readers on other threads test osVersionChecked first; once they see it
    // they must see the flags of the same check.
    std::atomic<bool> sawCheckedWithoutFlags{false};
    std::thread reader([&] {
        while (!osVersionChecked) {
        }
        if (!isVistaOrLater || !isWindows7OrLater) sawCheckedWithoutFlags = true;
    });
    std::vector<std::thread> writers;
    for (int i = 0; i < 4; ++i) writers.emplace_back([] { RecordWindowsVersion(10, 0); });
    for (std::thread& writer : writers) writer.join();
    reader.join();
    EXPECT_TRUE(osVersionChecked);
    EXPECT_TRUE(isVistaOrLater);
    EXPECT_TRUE(isWindows7OrLater);
    EXPECT_FALSE(sawCheckedWithoutFlags);
}

TEST(UiLanguage, NameFromLanguageAndCountry) {
    EXPECT_EQ(UiLanguageName(u"de", u"DE"), u"de-DE");
    EXPECT_EQ(UiLanguageName(u"fr", u""), u"fr");
    EXPECT_EQ(UiLanguageName(u"", u"DE"), u"");
}

TEST(UiLanguage, NeighbourIsTheSameLanguageOfAnotherCountry) {
    const struct {
        std::u16string_view name, folder;
    } cases[] = {
        {u"de-AT", u"de-DE"}, {u"de-CH", u"de-DE"}, {u"pt-PT", u"pt-BR"}, {u"es-MX", u"es-ES"},
        {u"fr-CA", u"fr-FR"}, {u"ja", u"ja-JP"},    {u"KO-kr", u"ko-KR"}, {u"zh-SG", u"zh-CN"},
        {u"zh-Hans-HK", u"zh-CN"},
        // Traditional Chinese reads English rather than the simplified script.
        {u"zh-TW", u""}, {u"zh-HK", u""}, {u"zh-MO", u""}, {u"zh-Hant", u""}, {u"zh-Hant-CN", u""},
        {u"en-GB", u""}, {u"sv-SE", u""}, {u"", u""}, {u"-", u""}, {u"d", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NeighbourLanguageFolder(c.name), c.folder) << std::string(c.name.begin(), c.name.end());
}

TEST(UiLanguage, CandidatesFromLanguageFolderToNeutralModule) {
    using List = std::vector<std::u16string>;
    EXPECT_EQ(UiResourceModuleCandidates(u"C:\\X\\", u"de-DE"),
              (List{u"C:\\X\\de-DE\\Pellick.dll", u"C:\\X\\de\\Pellick.dll", u"C:\\X\\Pellick.dll"}));
    EXPECT_EQ(UiResourceModuleCandidates(u"C:\\X\\", u"zh-Hans-CN"),
              (List{u"C:\\X\\zh-Hans-CN\\Pellick.dll", u"C:\\X\\zh-Hans\\Pellick.dll", u"C:\\X\\zh\\Pellick.dll",
                    u"C:\\X\\zh-CN\\Pellick.dll", u"C:\\X\\Pellick.dll"}));
    EXPECT_EQ(UiResourceModuleCandidates(u"C:\\X\\", u"fr"),
              (List{u"C:\\X\\fr\\Pellick.dll", u"C:\\X\\fr-FR\\Pellick.dll", u"C:\\X\\Pellick.dll"}));
    // A directory without its trailing separator still gets one.
    EXPECT_EQ(UiResourceModuleCandidates(u"C:\\X", u"en-US", u"T.dll"),
              (List{u"C:\\X\\en-US\\T.dll", u"C:\\X\\en\\T.dll", u"C:\\X\\T.dll"}));
    // Unknown language, or a name that would leave its folder: neutral only.
    for (std::u16string_view name : {u"", u"..", u"..\\..\\evil", u"a/b", u"C:", u"de\\x"})
        EXPECT_EQ(UiResourceModuleCandidates(u"C:\\X\\", name), (List{u"C:\\X\\Pellick.dll"}))
            << std::string(name.begin(), name.end());
}

}  // namespace
}  // namespace vantorel
