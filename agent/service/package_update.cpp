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

void Failed(UpdateHost& host, const UpdateSettings& settings, RetrySchedule& retry, std::u16string_view version) {
    retry.Failed(version, host.NowMs(), settings.checkIntervalMs, settings.retryLongestPauseMs);
}

// Extracts archive into an empty staging folder; false (and no folder) when
// the tool failed, so that a half extraction never reaches the installation.
bool ExtractToStaging(UpdateHost& host, const std::u16string& archive) {
    const std::u16string staging = InInstallDirectory(host, kStagingFolder);
    host.RemoveTree(staging);  // what an ended run left
    if (host.UnpackArchive(archive, staging)) return true;
    host.RemoveTree(staging);
    host.Debug(u"Update: " + archive + u" not installed, its extraction failed; the staging folder is removed\n");
    return false;
}

bool InstallStaged(UpdateHost& host) {
    const std::u16string staging = InInstallDirectory(host, kStagingFolder);
    const bool moved = host.MoveTree(staging, host.InstallDirectory());
    host.RemoveTree(staging);
    if (!moved) host.Debug(u"Update: the staged files could not all be moved into place\n");
    return moved;
}

// The runtime and dependency packages are unpacked over the running
// installation as soon as they arrive; the record keeps a version that was
// unpacked from being fetched again on every pass.
void UpdateArchive(UpdateHost& host, const UpdateSettings& settings, RetrySchedule& retry,
                   const std::u16string& published, std::u16string_view builtIn, std::u16string_view archiveName,
                   std::u16string_view recordName, const std::u16string& url) {
    if (!IsUsableNewer(host, published, builtIn)) return;
    const std::u16string record = InInstallDirectory(host, recordName);
    if (host.ReadSmallFile(record) == Ascii(published) || !retry.IsDue(published, host.NowMs())) return;
    const std::u16string archive = InInstallDirectory(host, archiveName);
    if (host.DownloadToFile(archive, url) && ExtractToStaging(host, archive) && InstallStaged(host) &&
        host.WriteFile(record, Ascii(published))) {
        retry.Succeeded();
        return;
    }
    Failed(host, settings, retry, published);
}

// Why copy may not replace the running agent; empty when it may. announced
// is the version file's agent version, empty at start-up.
std::u16string WhyNotAccepted(UpdateHost& host, const UpdateSettings& settings, const std::u16string& copy,
                              std::u16string_view announced) {
    if (!host.FileExists(copy)) return u"there is no " + copy;
    if (!host.IsTrustedAgent(copy)) return u"not signed by this agent's publisher";
    const std::u16string version = host.FileVersion(copy);
    switch (DecideAgentVersion(version, announced, settings.packageVersion)) {
        case VersionVerdict::Acceptable:
            return {};
        case VersionVerdict::Unreadable:
            return u"it has no version";
        case VersionVerdict::NotAnnounced:
            return u"its version " + version + u" is not the announced " + std::u16string(announced);
        case VersionVerdict::NotNewer:
            return u"its version " + version + u" is not newer than " + std::u16string(settings.packageVersion);
    }
    return u"?";
}

bool IsUpdatePrepared(UpdateHost& host) {
    return host.FileExists(InInstallDirectory(host, kFirstRunMarker)) &&
           host.FileExists(InInstallDirectory(host, kNewAgentLeftover));
}

// A prepared update that will not be installed: nothing of it may run later.
void RemovePreparedUpdate(UpdateHost& host) {
    host.RemoveFile(InInstallDirectory(host, kNewAgentLeftover));
    host.RemoveFile(InInstallDirectory(host, kFirstRunMarker));
    for (const std::u16string_view name : kUnpackScripts) host.RemoveFile(host.InstallDirectory() + std::u16string(name));
}

bool CopyWithRetries(UpdateHost& host, const std::u16string& from, const std::u16string& to) {
    for (int attempt = 1;; ++attempt) {
        if (host.ReplaceWithCopy(from, to)) return true;
        if (attempt == kCopyAttempts) return false;
        host.Sleep(kCopyRetryDelayMs);
    }
}

// Starts "newVantorel.exe" only when it is accepted and its marker can go;
// a refused one is removed with the marker and its scripts, so that nothing
// offers it again.
bool StartNewAgent(UpdateHost& host, const UpdateSettings& settings, std::u16string_view announced) {
    const std::u16string newAgent = InInstallDirectory(host, kNewAgentLeftover);
    const std::u16string marker = InInstallDirectory(host, kFirstRunMarker);
    if (!host.FileExists(newAgent)) return false;
    // The new copy could not remove it, and every later start would hand over again.
    if (!host.CanRemoveFile(marker)) {
        host.Debug(u"Update: not handed over, the first-run marker cannot be removed: " + marker + u"\n");
        return false;
    }
    const std::u16string why = WhyNotAccepted(host, settings, newAgent, announced);
    if (!why.empty()) {
        host.Debug(u"Update: not started: " + newAgent + u": " + why + u"\n");
        RemovePreparedUpdate(host);
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

bool CheckForUpdates(UpdateHost& host, const UpdateSettings& settings, UpdateRetries& retries,
                     std::u16string& newVersion) {
    const PackageUrls urls = ComposePackageUrls(settings);
    const PublishedVersions published = ReadVersionFile(host.FetchVersionFile(urls.versionFile));
    newVersion = published.agent;
    bool downloaded = false;
    if (IsUsableNewer(host, published.agent, settings.packageVersion) && !IsUpdatePrepared(host) &&
        host.ReadSmallFile(InInstallDirectory(host, kRefusedRecord)) != Ascii(published.agent) &&
        retries.agent.IsDue(published.agent, host.NowMs())) {
        // One agent package at most: one an ended run left goes first.
        host.RemoveMatching(host.InstallDirectory(), u"Version-*-pkg.7z");
        downloaded = host.DownloadToFile(GetPackageFilePath(host, published.agent), urls.agentPackage);
        if (!downloaded) Failed(host, settings, retries.agent, published.agent);
    }
    UpdateArchive(host, settings, retries.runtime, published.runtime, settings.runtimeVersion, kRuntimeArchive,
                  kRuntimeInstalledRecord, urls.runtimePackage);
    UpdateArchive(host, settings, retries.dependency, published.dependency, settings.dependencyVersion,
                  kDependencyArchive, kDependencyInstalledRecord, urls.dependencyPackage);
    return downloaded;
}

bool UnpackPackage(UpdateHost& host, const UpdateSettings& settings, UpdateRetries& retries,
                   const std::u16string& version) {
    const std::u16string archive = GetPackageFilePath(host, version);
    const bool extracted = ExtractToStaging(host, archive);
    host.RemoveFile(archive);  // one agent package at most, kept for no longer than this
    if (!extracted) {
        Failed(host, settings, retries.agent, version);
        return false;
    }
    const std::u16string staging = InInstallDirectory(host, kStagingFolder);
    const std::u16string why = WhyNotAccepted(host, settings, staging + std::u16string(kNewAgentLeftover), version);
    if (!why.empty()) {
        host.RemoveTree(staging);
        host.WriteFile(InInstallDirectory(host, kRefusedRecord), Ascii(version));
        host.Debug(u"Update: refused " + version + u": " + why + u"; the staging folder is removed\n");
        return false;
    }
    if (!InstallStaged(host) || !host.WriteFile(InInstallDirectory(host, kFirstRunMarker), {})) {
        Failed(host, settings, retries.agent, version);
        return false;
    }
    retries.agent.Succeeded();
    return true;
}

bool PrepareUpdate(UpdateHost& host, const UpdateSettings& settings, UpdateRetries& retries,
                   std::u16string& announced) {
    std::u16string version;
    if (CheckForUpdates(host, settings, retries, version)) {
        if (!UnpackPackage(host, settings, retries, version)) return false;
        announced = version;
        // Without the marker the new copy would start as an ordinary agent.
        return host.WriteFile(InInstallDirectory(host, kFirstRunMarker), {});
    }
    // Prepared by an earlier pass whose hand-over did not happen: offered
    // again as it is, not fetched anew.
    announced.clear();
    return IsUpdatePrepared(host);
}

bool RunUpdatePass(UpdateHost& host, const UpdateSettings& settings, UpdateRetries& retries,
                   const std::u16string& transferStatusUrl) {
    std::u16string announced;
    if (!PrepareUpdate(host, settings, retries, announced)) return false;
    // A failed request reads as empty and ends the wait.
    while (host.GetText(transferStatusUrl).find(kTransferInProgress) != std::u16string::npos) host.Sleep(1000);
    if (!StartNewAgent(host, settings, announced)) return false;
    host.RequestServiceShutdown();
    host.PostQuit();
    return true;
}

StartUpdateOutcome CompleteUpdateAtStart(UpdateHost& host, const UpdateSettings& settings) {
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
    if (!StartNewAgent(host, settings, u"")) return StartUpdateOutcome::GoOn;
    host.RequestServiceShutdown();
    host.PostQuit();
    return StartUpdateOutcome::HandedOver;
}

bool InstallPendingUpdate(UpdateHost& host) {
    // Gone first: whatever fails from here on, the next start is an ordinary
    // one. A marker that stays would make every start hand over again.
    const std::u16string marker = InInstallDirectory(host, kFirstRunMarker);
    if (!host.RemoveFile(marker) || host.FileExists(marker)) {
        host.Debug(u"Update: not installed, the first-run marker cannot be removed: " + marker + u"\n");
        return false;
    }
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
