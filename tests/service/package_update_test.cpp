#include "agent/service/package_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vantorel {
namespace {

const std::u16string kDir = u"C:\\V\\";
const std::u16string kMarker = kDir + u"\\first_run";
const std::u16string kNewAgent = kDir + u"\\newVantorel.exe";
const std::u16string kAgent = kDir + u"\\Vantorel.exe";
const std::u16string kStatusUrl = u"http://127.0.0.1:9333/query?action=transferstatus";

std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

// Windows reads a doubled backslash as one; so does the fake's map of files.
std::u16string Norm(std::u16string path) {
    for (size_t at; (at = path.find(u"\\\\")) != std::u16string::npos;) path.erase(at, 1);
    return path;
}

// Whether name matches pattern, where "*" stands for any run of characters.
bool Matches(std::u16string_view name, std::u16string_view pattern) {
    if (pattern.empty()) return name.empty();
    if (pattern[0] == u'*')
        return Matches(name, pattern.substr(1)) || (!name.empty() && Matches(name.substr(1), pattern));
    return !name.empty() && name[0] == pattern[0] && Matches(name.substr(1), pattern.substr(1));
}

// The install directory as a map of files, and every action in order. A new
// copy's content tells what it is: "agent VERSION" with "signed" when its
// publisher is this agent's.
class FakeHost final : public UpdateHost {
public:
    std::map<std::u16string, std::string> files;           // by Norm(path)
    std::map<std::u16string, std::u16string> texts;       // GET replies by URL
    std::map<std::u16string, std::map<std::u16string, std::string>> packages;  // by URL: name -> content
    std::vector<std::u16string> transferStatuses;          // successive replies
    std::set<std::u16string> failingDownloads, failingUnpacks, fixedFiles;
    int copyFailures = 0;  // how many copies fail before they succeed
    bool startSucceeds = true;
    std::u16string moduleName = u"Vantorel.exe";
    std::vector<std::string> log;
    uint64_t now = 0, downloadedBytes = 0;

    std::set<std::u16string> made;  // every path the update itself wrote or unpacked to
    std::string& At(const std::u16string& path) { return files[Norm(path)]; }
    std::u16string InstallDirectory() override { return kDir; }
    std::u16string ModulePath() override { return kDir + moduleName; }
    std::u16string ModuleFileName() override { return moduleName; }
    bool FileExists(const std::u16string& path) override { return files.count(Norm(path)) != 0; }
    bool RemoveFile(const std::u16string& path) override {
        if (fixedFiles.count(Norm(path))) return false;
        if (files.erase(Norm(path))) log.push_back("remove " + Narrow(path));
        return true;
    }
    bool WriteFile(const std::u16string& path, std::string_view bytes) override {
        At(path) = std::string(bytes);
        made.insert(Norm(path));
        log.push_back("write " + Narrow(path));
        return true;
    }
    std::string ReadSmallFile(const std::u16string& path) override {
        return FileExists(path) ? At(path) : std::string();
    }
    bool ReplaceWithCopy(const std::u16string& from, const std::u16string& to) override {
        if (copyFailures > 0) {
            --copyFailures;
            log.push_back("copy failed");
            return false;
        }
        At(to) = FileExists(from) ? At(from) : "module";
        made.insert(Norm(to));
        log.push_back("copy " + Narrow(from) + " " + Narrow(to));
        return true;
    }
    bool MoveTree(const std::u16string& from, const std::u16string& to) override {
        const std::u16string prefix = Norm(from + u"\\");
        for (auto it = files.lower_bound(prefix); it != files.end() && it->first.rfind(prefix, 0) == 0;) {
            files[Norm(to + u"\\" + it->first.substr(prefix.size()))] = it->second;
            it = files.erase(it);
        }
        log.push_back("move " + Narrow(from));
        return true;
    }
    void RemoveMatching(const std::u16string& folder, std::u16string_view pattern) override {
        for (auto it = files.begin(); it != files.end();)
            it = it->first.rfind(Norm(folder), 0) == 0 && Matches(it->first.substr(Norm(folder).size()), pattern)
                     ? files.erase(it)
                     : std::next(it);
    }
    void RemoveTree(const std::u16string& folder) override {
        const std::u16string prefix = Norm(folder + u"\\");
        for (auto it = files.lower_bound(prefix); it != files.end() && it->first.rfind(prefix, 0) == 0;)
            it = files.erase(it);
    }
    bool CanRemoveFile(const std::u16string& path) override { return fixedFiles.count(Norm(path)) == 0; }
    std::u16string FileVersion(const std::u16string& path) override {
        const std::string content = ReadSmallFile(path);
        if (content.rfind("agent ", 0) != 0) return {};
        const std::string version = content.substr(6, content.find(' ', 6) - 6);
        return std::u16string(version.begin(), version.end());
    }
    std::u16string FetchVersionFile(const std::u16string& url) override {
        return texts.count(url) ? texts[url] : std::u16string();
    }
    std::u16string GetText(const std::u16string& url) override {
        if (url == kStatusUrl) {
            if (transferStatuses.empty()) return {};
            std::u16string status = transferStatuses.front();
            transferStatuses.erase(transferStatuses.begin());
            return status;
        }
        return {};
    }
    bool DownloadToFile(const std::u16string& path, const std::u16string& url) override {
        log.push_back("download " + Narrow(url) + " " + Narrow(path));
        downloadedBytes += 30 << 20;  // a package of 30 MiB
        if (failingDownloads.count(url)) return false;
        At(path) = Narrow(url);  // the archive knows what it holds
        made.insert(Norm(path));
        made.insert(Norm(path));
        return true;
    }
    void RequestServiceShutdown() override { log.push_back("shutdown"); }
    bool UnpackArchive(const std::u16string& archive, const std::u16string& folder) override {
        log.push_back("unpack " + Narrow(archive));
        const std::string url = ReadSmallFile(archive);
        At(folder + u"\\half.txt") = "what a failed extraction leaves";
        made.insert(Norm(folder + u"\\half.txt"));
        if (failingUnpacks.count(archive)) return false;
        for (const auto& [name, content] : packages[std::u16string(url.begin(), url.end())])
            At(folder + u"\\" + name) = content;
        files.erase(Norm(folder + u"\\half.txt"));
        return true;
    }
    bool IsTrustedAgent(const std::u16string& path) override {
        log.push_back("verify " + Narrow(path));
        return ReadSmallFile(path).find("signed") != std::string::npos;
    }
    bool StartProgram(const std::u16string& path, bool hidden) override {
        log.push_back("start " + Narrow(path) + (hidden ? " hidden" : ""));
        return startSucceeds;
    }
    void RunScript(const std::u16string& path) override { log.push_back("run " + Narrow(path)); }
    bool QuitRunningAgent(uint32_t waitMs) override {
        log.push_back("quit agent " + std::to_string(waitMs));
        return true;
    }
    void PostQuit() override { log.push_back("post quit"); }
    void Sleep(uint32_t milliseconds) override {
        now += milliseconds;
        log.push_back("sleep " + std::to_string(milliseconds));
    }
    uint64_t NowMs() override { return now; }
    void Debug(std::u16string_view line) override { debug += Narrow(line); }
    std::string debug;
};

UpdateSettings TestSettings() {
    UpdateSettings settings;
    settings.packageServerUrl = u"https://pkg.test/v/";
    return settings;
}

const std::u16string kVersionUrl = u"https://pkg.test/v/VantorelPkg-0.09.25.3.txt";
const std::u16string kAgentUrl = u"https://pkg.test/v/VantorelPkg-0.09.25.3.7z";
const std::u16string kRuntimeUrl = u"https://pkg.test/v/jre-1.6.0.25.7z";
const std::string kAgentDownload =
    "download https://pkg.test/v/VantorelPkg-0.09.25.3.7z C:\\V\\\\Version-0.09.26.0-pkg.7z";
const std::string kRuntimeDownload = "download https://pkg.test/v/jre-1.6.0.25.7z C:\\V\\\\jre.7z";

// The agent package of 0.09.26.0 with newAgent as its new copy.
void Publish(FakeHost& host, const std::string& newAgent) {
    host.texts[kVersionUrl] = u"Hollin=0.09.26.0|";
    host.packages[kAgentUrl] = {{u"newVantorel.exe", newAgent}, {u"unpack_svc.cmd", "svc"}, {u"lib\\a.jar", "a"}};
}

int Count(const std::vector<std::string>& log, const std::string& prefix) {
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
}

TEST(PackageUpdate, UrlsAndVersionFile) {
    const PackageUrls urls = ComposePackageUrls(TestSettings());
    EXPECT_EQ(urls.versionFile, kVersionUrl);
    EXPECT_EQ(urls.dependencyPackage, u"https://pkg.test/v/dependency-0.09.25.3.7z");
    const PublishedVersions published = ReadVersionFile(u"x dependency=|jre=1.7.0.1|Hollin=0.09.26.0");
    EXPECT_EQ(published.agent, u"");  // no closing "|"
    EXPECT_EQ(published.runtime, u"1.7.0.1");
    EXPECT_EQ(published.dependency, u"");
    EXPECT_TRUE(IsPlainVersion(u"0.09.26.0"));
    for (std::u16string_view bad : {u"", u"0.1/../../x", u"1.0 ", u"123456789012345678901234567890123"})
        EXPECT_FALSE(IsPlainVersion(bad)) << Narrow(bad);
}

TEST(PackageUpdate, OnlyNewerPackagesAreFetchedAndEachRuntimeVersionOnce) {
    FakeHost host;
    UpdateRetries retries;
    host.texts[kVersionUrl] = u"Hollin=0.09.26.0|jre=1.6.0.25|dependency=0.09.25.3|";
    std::u16string version;
    EXPECT_TRUE(CheckForUpdates(host, TestSettings(), retries, version));
    EXPECT_EQ(version, u"0.09.26.0");
    EXPECT_EQ(host.log, std::vector<std::string>{kAgentDownload});
    host.texts[kVersionUrl] = u"Hollin=0.09.26.1|";  // the first package is left by an ended run
    CheckForUpdates(host, TestSettings(), retries, version);
    EXPECT_FALSE(host.FileExists(kDir + u"Version-0.09.26.0-pkg.7z"));
    EXPECT_TRUE(host.FileExists(kDir + u"Version-0.09.26.1-pkg.7z"));

    // A newer runtime is staged and moved into place at once; a failed
    // extraction leaves nothing and is retried after a pause, a completed
    // one is not fetched again.
    host.log.clear();
    host.texts[kVersionUrl] = u"jre=1.6.0.26|";
    host.packages[kRuntimeUrl] = {{u"jre\\bin\\java.dll", "java"}};
    host.failingUnpacks = {kDir + u"\\jre.7z"};
    EXPECT_FALSE(CheckForUpdates(host, TestSettings(), retries, version));
    EXPECT_EQ(host.files.count(u"C:\\V\\update-staging\\half.txt"), 0u);
    host.failingUnpacks.clear();
    CheckForUpdates(host, TestSettings(), retries, version);  // not due yet
    host.now += TestSettings().checkIntervalMs;
    CheckForUpdates(host, TestSettings(), retries, version);
    CheckForUpdates(host, TestSettings(), retries, version);
    const std::string unpack = "unpack C:\\V\\\\jre.7z";
    EXPECT_EQ(host.log, (std::vector<std::string>{kRuntimeDownload, unpack, kRuntimeDownload, unpack,
                                                  "move C:\\V\\\\update-staging", "write C:\\V\\\\jre.installed"}));
    EXPECT_EQ(host.At(kDir + u"jre\\bin\\java.dll"), "java");

    // A version that would reach outside the install directory is ignored.
    host.log.clear();
    host.texts[kVersionUrl] = u"Hollin=0.10\\..\\..\\x|";
    EXPECT_FALSE(CheckForUpdates(host, TestSettings(), retries, version));
    EXPECT_TRUE(host.log.empty());
}

TEST(PackageUpdate, PassPreparesWaitsForTransfersAndHandsOverOnlyToAnAcceptedCopy) {
    FakeHost host;
    UpdateRetries retries;
    const std::u16string archive = kDir + u"\\Version-0.09.26.0-pkg.7z";
    const UpdateSettings settings = TestSettings();

    // A failed extraction: nothing of the package, no marker, no archive,
    // and no new download before the pause is over.
    Publish(host, "agent 0.09.26.0 signed");
    host.failingUnpacks = {archive};
    EXPECT_FALSE(RunUpdatePass(host, settings, retries, kStatusUrl));
    EXPECT_EQ(host.files, (std::map<std::u16string, std::string>{}));
    EXPECT_FALSE(RunUpdatePass(host, settings, retries, kStatusUrl));
    EXPECT_EQ(Count(host.log, "download"), 1);
    host.failingUnpacks.clear();

    // Refused copies leave only the record of their version, which is then
    // never fetched again.
    for (const std::string copy : {"agent 0.09.26.0 foreign", "agent 0.09.25.2 signed", "agent 0.09.26.1 signed",
                                   "no version signed", "agent 0.09.25.3 signed"}) {
        Publish(host, copy);
        host.files.clear();
        host.now += 100000000;
        host.log.clear();
        EXPECT_FALSE(RunUpdatePass(host, settings, retries, kStatusUrl)) << copy;
        EXPECT_EQ(host.files, (std::map<std::u16string, std::string>{{u"C:\\V\\agent.refused", "0.09.26.0"}})) << copy;
        EXPECT_FALSE(RunUpdatePass(host, settings, retries, kStatusUrl));
        EXPECT_EQ(Count(host.log, "download"), 1) << copy;
    }
    EXPECT_NE(host.debug.find("Update: refused 0.09.26.0: its version 0.09.25.3 is not the announced 0.09.26.0"),
              std::string::npos);

    host.files.clear();
    Publish(host, "agent 0.09.26.0 signed");
    host.transferStatuses = {u"{\"transferstatus\":\"progress\"}", u"progress", u"idle"};
    host.log.clear();
    EXPECT_TRUE(RunUpdatePass(host, settings, retries, kStatusUrl));
    EXPECT_TRUE(host.FileExists(kMarker));
    EXPECT_FALSE(host.FileExists(archive));
    EXPECT_EQ(host.At(kDir + u"lib\\a.jar"), "a");
    EXPECT_EQ(Count(host.log, "sleep 1000"), 2);
    const std::vector<std::string> tail(host.log.end() - 4, host.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"verify C:\\V\\\\newVantorel.exe",
                                              "start C:\\V\\\\newVantorel.exe hidden", "shutdown", "post quit"}));

    // A hand-over that did not happen is offered again, without a download.
    host.log.clear();
    host.startSucceeds = false;
    EXPECT_FALSE(RunUpdatePass(host, settings, retries, kStatusUrl));
    host.startSucceeds = true;
    host.log.clear();
    host.now += settings.checkIntervalMs;
    EXPECT_TRUE(RunUpdatePass(host, settings, retries, kStatusUrl));
    EXPECT_EQ(Count(host.log, "download https://pkg.test/v/VantorelPkg"), 0);
}

TEST(PackageUpdate, TheSetupRemovesEverythingAnUpdateLeaves) {
    std::ifstream list(VANTOREL_TEST_SOURCE_DIR "/../agent/service/pending_update_files.txt");
    std::vector<std::u16string> patterns;
    for (std::string line; std::getline(list, line);)
        if (!line.empty() && line[0] != '#') patterns.emplace_back(line.begin(), line.end());
    ASSERT_GT(patterns.size(), 10u);

    // A refused package, a failed runtime, a prepared update and its install.
    FakeHost host;
    UpdateRetries retries;
    Publish(host, "agent 0.09.26.0 foreign");
    host.texts[kVersionUrl] += u"jre=1.6.0.26|";
    host.failingUnpacks = {kDir + u"\\jre.7z"};
    RunUpdatePass(host, TestSettings(), retries, kStatusUrl);
    Publish(host, "agent 0.09.26.1 signed");
    host.texts[kVersionUrl] = u"Hollin=0.09.26.1|dependency=0.09.25.4|";
    EXPECT_TRUE(RunUpdatePass(host, TestSettings(), retries, kStatusUrl));
    host.moduleName = u"newVantorel.exe";
    CompleteUpdateAtStart(host, TestSettings());
    host.made.insert(Norm(kNewAgent));
    for (const std::u16string_view script : kUnpackScripts) host.made.insert(Norm(kDir + std::u16string(script)));

    const std::u16string dir = Norm(kDir);
    for (const std::u16string& path : host.made) {
        if (path == Norm(kAgent)) continue;  // the installed agent itself
        const std::u16string name = path.substr(dir.size());
        const bool listed = std::any_of(patterns.begin(), patterns.end(), [&](const std::u16string& pattern) {
            return pattern.back() == u'\\' ? name.rfind(pattern, 0) == 0 : Matches(name, pattern);
        });
        EXPECT_TRUE(listed) << Narrow(name);
    }
}

TEST(PackageUpdate, ADayOfPassesFetchesARefusedVersionOnceAndFailuresEverLessOften) {
    const struct {
        const char* what;
        std::string copy;
        bool failDownload;
        int downloads;
    } cases[] = {
        {"refused copy", "agent 0.09.26.0 foreign", false, 1},
        // 10, 20, 40 ... minutes, then a day: passes 1, 2, 4, 8, 16, 32, 64, 128 of 144.
        {"failing download", "agent 0.09.26.0 signed", true, 8},
    };
    for (const auto& c : cases) {
        FakeHost host;
        UpdateRetries retries;
        Publish(host, c.copy);
        if (c.failDownload) host.failingDownloads = {kAgentUrl};
        for (int pass = 0; pass < 144; ++pass) {
            RunUpdatePass(host, TestSettings(), retries, kStatusUrl);
            host.Sleep(TestSettings().checkIntervalMs);
        }
        EXPECT_EQ(Count(host.log, "download"), c.downloads) << c.what;
        std::printf("figure %s, 144 passes: %d downloads, %llu MiB\n", c.what, Count(host.log, "download"),
                    static_cast<unsigned long long>(host.downloadedBytes >> 20));
    }
}

TEST(PackageUpdate, NewCopyInstallsItselfAndRunsTheScriptsInOrder) {
    FakeHost host;
    const UpdateSettings settings = TestSettings();
    host.moduleName = u"newVantorel.exe";
    EXPECT_EQ(CompleteUpdateAtStart(host, settings), StartUpdateOutcome::GoOn);  // no marker: an ordinary start
    EXPECT_TRUE(host.log.empty());

    host.files.clear();
    for (const auto& [path, content] : std::map<std::u16string, std::string>{
             {kMarker, ""}, {kNewAgent, "new"}, {kAgent, "old"}, {kDir + u"unpack_lib.cmd", ""},
             {kDir + u"unpack_svc.cmd", ""}})
        host.At(path) = content;
    host.copyFailures = 2;  // the old agent still holds the file
    EXPECT_EQ(CompleteUpdateAtStart(host, settings), StartUpdateOutcome::ExitAgent);
    EXPECT_EQ(host.At(kAgent), "new");
    EXPECT_EQ(host.At(kDir + u"\\oldVantorel.exe"), "new");
    EXPECT_EQ(host.log, (std::vector<std::string>{
                            "sleep 1000", "quit agent 30000", "remove C:\\V\\\\first_run", "copy failed",
                            "sleep 1000", "copy failed", "sleep 1000",
                            "copy C:\\V\\newVantorel.exe C:\\V\\\\Vantorel.exe",
                            "copy C:\\V\\\\Vantorel.exe C:\\V\\\\oldVantorel.exe", "run C:\\V\\unpack_svc.cmd",
                            "remove C:\\V\\unpack_svc.cmd", "run C:\\V\\unpack_lib.cmd",
                            "remove C:\\V\\unpack_lib.cmd", "start C:\\V\\\\Vantorel.exe"}));

    // A copy that never succeeds runs no script; the agent is started all the same.
    host.files.clear();
    host.At(kMarker) = "";
    host.At(kDir + u"unpack_jre.cmd") = "";
    host.copyFailures = 100;
    host.startSucceeds = false;
    host.log.clear();
    EXPECT_EQ(CompleteUpdateAtStart(host, settings), StartUpdateOutcome::ExitFailed);
    EXPECT_EQ(Count(host.log, "copy failed"), kCopyAttempts);
    EXPECT_TRUE(host.FileExists(kDir + u"unpack_jre.cmd"));
    EXPECT_FALSE(host.FileExists(kMarker));
}

TEST(PackageUpdate, StartUpHandsOverOnlyToANewerAcceptedCopyWhoseMarkerCanGo) {
    const struct {
        const char* what;
        std::string newAgent;
        bool markerFixed;
        bool handsOver;
        bool prepared;  // the prepared update is still there afterwards
    } cases[] = {
        {"newer, signed", "agent 0.09.26.0 signed", false, true, true},
        {"older, signed", "agent 0.09.25.2 signed", false, false, false},
        {"same version", "agent 0.09.25.3 signed", false, false, false},
        {"another publisher", "agent 0.09.26.0 foreign", false, false, false},
        {"marker cannot be removed", "agent 0.09.26.0 signed", true, false, true},
    };
    for (const auto& c : cases) {
        FakeHost host;
        host.At(kMarker) = "";
        host.At(kNewAgent) = c.newAgent;
        host.At(kDir + u"unpack_svc.cmd") = "";
        if (c.markerFixed) host.fixedFiles = {Norm(kMarker)};
        EXPECT_EQ(CompleteUpdateAtStart(host, TestSettings()),
                  c.handsOver ? StartUpdateOutcome::HandedOver : StartUpdateOutcome::GoOn)
            << c.what;
        EXPECT_EQ(Count(host.log, "post quit"), c.handsOver ? 1 : 0) << c.what;
        EXPECT_EQ(host.FileExists(kNewAgent) && host.FileExists(kDir + u"unpack_svc.cmd"), c.prepared) << c.what;

        // The new copy itself installs nothing while the marker stays.
        host.moduleName = u"newVantorel.exe";
        host.log.clear();
        CompleteUpdateAtStart(host, TestSettings());
        if (c.markerFixed) {
            EXPECT_EQ(Count(host.log, "copy"), 0) << c.what;
        }
    }
}

}  // namespace
}  // namespace vantorel
