#include "agent/service/package_update.h"

#include "agent/service/service_command.h"

namespace vantorel {
namespace {

std::u16string InInstallDirectory(UpdateHost& host, std::u16string_view name) {
    return host.InstallDirectory() + std::u16string(name);
}

// Versions are plain ASCII by the time they are recorded.
std::string Ascii(std::u16string_view text) { return std::string(text.begin(), text.end()); }

// Whether published names a version later than builtIn that may be used.
bool IsUsableNewer(UpdateHost& host, const std::u16string& published, std::u16string_view builtIn) {
    if (!IsNewerVersion(published, builtIn)) return false;
    if (IsPlainVersion(published)) return true;
    host.Debug(u"Update: ignored the published version \"" + published + u"\"\n");
    return false;
}

// The runtime and dependency packages are unpacked over the running
// installation as soon as they arrive; the record keeps a version that was
// unpacked from being fetched again on every pass.
void UpdateArchive(UpdateHost& host, const std::u16string& published, std::u16string_view builtIn,
                   std::u16string_view archiveName, std::u16string_view recordName, const std::u16string& url) {
    if (!IsUsableNewer(host, published, builtIn)) return;
    const std::u16string record = InInstallDirectory(host, recordName);
    if (host.ReadSmallFile(record) == Ascii(published)) return;
    const std::u16string archive = InInstallDirectory(host, archiveName);
    if (!host.DownloadToFile(archive, url)) return;
    if (host.UnpackArchive(archive)) host.WriteFile(record, Ascii(published));
}

bool CopyWithRetries(UpdateHost& host, const std::u16string& from, const std::u16string& to) {
    for (int attempt = 1;; ++attempt) {
        if (host.ReplaceWithCopy(from, to)) return true;
        if (attempt == kCopyAttempts) return false;
        host.Sleep(kCopyRetryDelayMs);
    }
}

// Starts "newVantorel.exe" only when it is trusted; an untrusted one is
// removed with the marker, so that nothing offers it again.
bool StartNewAgent(UpdateHost& host) {
    const std::u16string newAgent = InInstallDirectory(host, kNewAgentLeftover);
    if (!host.IsTrustedAgent(newAgent)) {
        if (host.FileExists(newAgent)) {
            host.Debug(u"Update: not started, not trusted: " + newAgent + u"\n");
            host.RemoveFile(newAgent);
            host.RemoveFile(InInstallDirectory(host, kFirstRunMarker));
        }
        return false;
    }
    return host.StartProgram(newAgent, true);
}

}  // namespace

PublishedVersions ReadVersionFile(std::u16string_view text) {
    return {VersionFileValue(text, u"Hollin="), VersionFileValue(text, u"jre="),
            VersionFileValue(text, u"dependency=")};
}

bool IsPlainVersion(std::u16string_view version) {
    if (version.empty() || version.size() > 32) return false;
    for (const char16_t c : version)
        if (c != u'.' && (c < u'0' || c > u'9')) return false;
    return true;
}

std::u16string GetPackageFilePath(UpdateHost& host, std::u16string_view version) {
    return host.InstallDirectory() + u"\\Version-" + std::u16string(version) + u"-pkg.7z";
}

bool CheckForUpdates(UpdateHost& host, const UpdateSettings& settings, std::u16string& newVersion) {
    const PackageUrls urls = ComposePackageUrls(settings);
    const PublishedVersions published = ReadVersionFile(host.FetchVersionFile(urls.versionFile));
    newVersion = published.agent;
    bool downloaded = false;
    if (IsUsableNewer(host, published.agent, settings.packageVersion))
        downloaded = host.DownloadToFile(GetPackageFilePath(host, published.agent), urls.agentPackage);
    UpdateArchive(host, published.runtime, settings.runtimeVersion, kRuntimeArchive, kRuntimeInstalledRecord,
                  urls.runtimePackage);
    UpdateArchive(host, published.dependency, settings.dependencyVersion, kDependencyArchive,
                  kDependencyInstalledRecord, urls.dependencyPackage);
    return downloaded;
}

bool UnpackPackage(UpdateHost& host, const std::u16string& archive) {
    if (!host.UnpackArchive(archive)) return false;
    if (!host.WriteFile(InInstallDirectory(host, kFirstRunMarker), {})) return false;
    host.RemoveFile(archive);
    return true;
}

bool PrepareUpdate(UpdateHost& host, const UpdateSettings& settings) {
    std::u16string version;
    if (!CheckForUpdates(host, settings, version)) return false;
    if (!UnpackPackage(host, GetPackageFilePath(host, version))) return false;
    // Without the marker the new copy would start as an ordinary agent.
    return host.WriteFile(InInstallDirectory(host, kFirstRunMarker), {});
}

bool RunUpdatePass(UpdateHost& host, const UpdateSettings& settings, const std::u16string& transferStatusUrl) {
    if (!PrepareUpdate(host, settings)) return false;
    // A failed request reads as empty and ends the wait.
    while (host.GetText(transferStatusUrl).find(kTransferInProgress) != std::u16string::npos) host.Sleep(1000);
    if (!StartNewAgent(host)) return false;
    host.RequestServiceShutdown();
    host.PostQuit();
    return true;
}

StartUpdateOutcome CompleteUpdateAtStart(UpdateHost& host) {
    if (!host.FileExists(InInstallDirectory(host, kFirstRunMarker))) return StartUpdateOutcome::GoOn;
    if (host.ModuleFileName() == kNewAgentFileName) {
        host.Sleep(1000);
        // A copy that still fails after this is retried by InstallPendingUpdate.
        if (!host.QuitRunningAgent(kOldAgentExitWaitMs)) host.Debug(u"Update: the running agent did not end\n");
        InstallPendingUpdate(host);
        return host.StartProgram(InInstallDirectory(host, u"\\Vantorel.exe"), false) ? StartUpdateOutcome::ExitAgent
                                                                                    : StartUpdateOutcome::ExitFailed;
    }
    // A prepared update that was not handed over: hand over now. The quit
    // ends this start as soon as its message loop runs.
    if (StartNewAgent(host)) {
        host.RequestServiceShutdown();
        host.PostQuit();
    }
    return StartUpdateOutcome::GoOn;
}

bool InstallPendingUpdate(UpdateHost& host) {
    // Gone first: whatever fails from here on, the next start is an ordinary one.
    host.RemoveFile(InInstallDirectory(host, kFirstRunMarker));
    const std::u16string agent = InInstallDirectory(host, u"\\Vantorel.exe");
    if (!CopyWithRetries(host, host.ModulePath(), agent)) return false;
    if (!CopyWithRetries(host, agent, InInstallDirectory(host, kOldAgentLeftover))) return false;
    for (const std::u16string_view name : kUnpackScripts) {
        const std::u16string script = InInstallDirectory(host, name);
        if (!host.FileExists(script)) continue;
        host.RunScript(script);
        host.RemoveFile(script);
    }
    return true;
}

}  // namespace vantorel
