#include "agent/service/package_update.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The install directory as a map of files, and every action in order.
class FakeHost final : public UpdateHost {
public:
    std::map<std::u16string, std::string> files;
    std::map<std::u16string, std::u16string> texts;       // GET replies by URL
    std::vector<std::u16string> transferStatuses;          // successive replies
    std::set<std::u16string> failingDownloads, failingUnpacks, trusted;
    int copyFailures = 0;  // how many copies fail before they succeed
    bool startSucceeds = true;
    std::u16string moduleName = u"Vantorel.exe";
    std::vector<std::string> log;

    std::u16string InstallDirectory() override { return kDir; }
    std::u16string ModulePath() override { return kDir + moduleName; }
    std::u16string ModuleFileName() override { return moduleName; }
    bool FileExists(const std::u16string& path) override { return files.count(path) != 0; }
    bool RemoveFile(const std::u16string& path) override {
        if (files.erase(path)) log.push_back("remove " + Narrow(path));
        return true;
    }
    bool WriteFile(const std::u16string& path, std::string_view bytes) override {
        files[path] = std::string(bytes);
        log.push_back("write " + Narrow(path));
        return true;
    }
    std::string ReadSmallFile(const std::u16string& path) override {
        return files.count(path) ? files[path] : std::string();
    }
    bool ReplaceWithCopy(const std::u16string& from, const std::u16string& to) override {
        if (copyFailures > 0) {
            --copyFailures;
            log.push_back("copy failed");
            return false;
        }
        files[to] = files.count(from) ? files[from] : "module";
        log.push_back("copy " + Narrow(from) + " " + Narrow(to));
        return true;
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
        if (failingDownloads.count(url)) return false;
        files[path] = "archive";
        return true;
    }
    void RequestServiceShutdown() override { log.push_back("shutdown"); }
    bool UnpackArchive(const std::u16string& archive) override {
        log.push_back("unpack " + Narrow(archive));
        return failingUnpacks.count(archive) == 0;
    }
    bool IsTrustedAgent(const std::u16string& path) override {
        log.push_back("verify " + Narrow(path));
        return FileExists(path) && trusted.count(path) != 0;
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
    void Sleep(uint32_t milliseconds) override { log.push_back("sleep " + std::to_string(milliseconds)); }
    void Debug(std::u16string_view) override {}
};

UpdateSettings TestSettings() {
    UpdateSettings settings;
    settings.packageServerUrl = u"https://pkg.test/v/";
    return settings;
}

const std::u16string kVersionUrl = u"https://pkg.test/v/VantorelPkg-0.09.25.3.txt";
const std::string kAgentDownload =
    "download https://pkg.test/v/VantorelPkg-0.09.25.3.7z C:\\V\\\\Version-0.09.26.0-pkg.7z";
const std::string kRuntimeDownload = "download https://pkg.test/v/jre-1.6.0.25.7z C:\\V\\\\jre.7z";

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
    host.texts[kVersionUrl] = u"Hollin=0.09.26.0|jre=1.6.0.25|dependency=0.09.25.3|";
    std::u16string version;
    EXPECT_TRUE(CheckForUpdates(host, TestSettings(), version));
    EXPECT_EQ(version, u"0.09.26.0");
    EXPECT_EQ(host.log, std::vector<std::string>{kAgentDownload});

    // A newer runtime is unpacked at once; a failed unpacking is retried,
    // a completed one is not fetched again.
    host.log.clear();
    host.texts[kVersionUrl] = u"jre=1.6.0.26|";
    host.failingUnpacks = {kDir + u"\\jre.7z"};
    EXPECT_FALSE(CheckForUpdates(host, TestSettings(), version));
    host.failingUnpacks.clear();
    CheckForUpdates(host, TestSettings(), version);
    CheckForUpdates(host, TestSettings(), version);
    const std::string unpack = "unpack C:\\V\\\\jre.7z";
    EXPECT_EQ(host.log, (std::vector<std::string>{kRuntimeDownload, unpack, kRuntimeDownload, unpack,
                                                  "write C:\\V\\\\jre.installed"}));

    // A version that would reach outside the install directory is ignored.
    host.log.clear();
    host.texts[kVersionUrl] = u"Hollin=0.10\\..\\..\\x|";
    EXPECT_FALSE(CheckForUpdates(host, TestSettings(), version));
    EXPECT_TRUE(host.log.empty());
}

TEST(PackageUpdate, PassPreparesWaitsForTransfersAndHandsOverOnlyToATrustedCopy) {
    FakeHost host;
    host.texts[kVersionUrl] = u"Hollin=0.09.26.0|";
    const std::u16string archive = kDir + u"\\Version-0.09.26.0-pkg.7z";

    // A failed extraction: no marker, the archive stays for the next pass.
    host.failingUnpacks = {archive};
    EXPECT_FALSE(RunUpdatePass(host, TestSettings(), kStatusUrl));
    EXPECT_FALSE(host.FileExists(kMarker));
    EXPECT_TRUE(host.FileExists(archive));

    host.failingUnpacks.clear();
    host.files[kNewAgent] = "new";  // what the archive tool left
    host.transferStatuses = {u"{\"transferstatus\":\"progress\"}", u"progress", u"idle"};
    host.log.clear();
    EXPECT_FALSE(RunUpdatePass(host, TestSettings(), kStatusUrl));  // not trusted
    EXPECT_FALSE(host.FileExists(kNewAgent));
    EXPECT_FALSE(host.FileExists(kMarker));
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "sleep 1000"), 2);
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "shutdown"), 0);

    host.files[kNewAgent] = "new";
    host.trusted = {kNewAgent};
    host.log.clear();
    EXPECT_TRUE(RunUpdatePass(host, TestSettings(), kStatusUrl));
    EXPECT_TRUE(host.FileExists(kMarker));
    EXPECT_FALSE(host.FileExists(archive));
    const std::vector<std::string> tail(host.log.end() - 4, host.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"verify C:\\V\\\\newVantorel.exe",
                                              "start C:\\V\\\\newVantorel.exe hidden", "shutdown", "post quit"}));
}

TEST(PackageUpdate, NewCopyInstallsItselfAndRunsTheScriptsInOrder) {
    FakeHost host;
    host.moduleName = u"newVantorel.exe";
    EXPECT_EQ(CompleteUpdateAtStart(host), StartUpdateOutcome::GoOn);  // no marker: an ordinary start
    EXPECT_TRUE(host.log.empty());

    host.files = {{kMarker, ""}, {kDir + u"newVantorel.exe", "new"}, {kAgent, "old"}, {kDir + u"unpack_lib.cmd", ""},
                  {kDir + u"unpack_svc.cmd", ""}};
    host.copyFailures = 2;  // the old agent still holds the file
    EXPECT_EQ(CompleteUpdateAtStart(host), StartUpdateOutcome::ExitAgent);
    EXPECT_EQ(host.files[kAgent], "new");
    EXPECT_EQ(host.files[kDir + u"\\oldVantorel.exe"], "new");
    EXPECT_EQ(host.log, (std::vector<std::string>{
                            "sleep 1000", "quit agent 30000", "remove C:\\V\\\\first_run", "copy failed",
                            "sleep 1000", "copy failed", "sleep 1000",
                            "copy C:\\V\\newVantorel.exe C:\\V\\\\Vantorel.exe",
                            "copy C:\\V\\\\Vantorel.exe C:\\V\\\\oldVantorel.exe", "run C:\\V\\unpack_svc.cmd",
                            "remove C:\\V\\unpack_svc.cmd", "run C:\\V\\unpack_lib.cmd",
                            "remove C:\\V\\unpack_lib.cmd", "start C:\\V\\\\Vantorel.exe"}));

    // A copy that never succeeds runs no script; the agent is started all the same.
    host.files = {{kMarker, ""}, {kDir + u"unpack_jre.cmd", ""}};
    host.copyFailures = 100;
    host.startSucceeds = false;
    host.log.clear();
    EXPECT_EQ(CompleteUpdateAtStart(host), StartUpdateOutcome::ExitFailed);
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "copy failed"), kCopyAttempts);
    EXPECT_TRUE(host.FileExists(kDir + u"unpack_jre.cmd"));
    EXPECT_FALSE(host.FileExists(kMarker));
}

}  // namespace
}  // namespace vantorel
