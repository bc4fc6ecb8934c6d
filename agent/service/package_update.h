// The agent's self-update: looking for new packages, unpacking them, handing
// over to the new copy and installing it. Portable: every step goes through
// UpdateHost, which package_update_win.cpp implements with Win32 calls and
// tests implement with a recording fake.
//
// An update lives only in files of the install directory: a downloaded
// package, the first-run marker, "newVantorel.exe" and the unpack scripts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/service/package_versions.h"
#include "agent/service/update_rules.h"

namespace vantorel {

// Names in the install directory; those beginning with a backslash are
// appended to the directory (which ends in one) as written.
inline constexpr std::u16string_view kFirstRunMarker = u"\\first_run";
inline constexpr std::u16string_view kRuntimeArchive = u"\\jre.7z";
inline constexpr std::u16string_view kDependencyArchive = u"\\dependency.7z";
// The version last unpacked from each of the two archives above, so that a
// published version is fetched and unpacked once, not on every pass.
inline constexpr std::u16string_view kRuntimeInstalledRecord = u"\\jre.installed";
inline constexpr std::u16string_view kDependencyInstalledRecord = u"\\dependency.installed";
// A package is extracted here first and moved into place only when whole
// (and, for the agent package, when its new copy is accepted).
inline constexpr std::u16string_view kStagingFolder = u"\\update-staging";
// The last agent version whose package was refused (signer or version), so
// that it is not fetched again.
inline constexpr std::u16string_view kRefusedRecord = u"\\agent.refused";
inline constexpr std::u16string_view kArchiveTool = u"7zr.exe";
inline constexpr std::u16string_view kAgentFileName = u"Vantorel.exe";
inline constexpr std::u16string_view kNewAgentFileName = u"newVantorel.exe";
inline constexpr std::u16string_view kUnpackScripts[] = {u"unpack_svc.cmd", u"unpack_jre.cmd", u"unpack_lib.cmd"};
inline constexpr std::u16string_view kTransferInProgress = u"progress";

// How long the new copy waits for the old agent to end, and how often it
// tries to copy itself over "Vantorel.exe" (a second apart).
inline constexpr uint32_t kOldAgentExitWaitMs = 30000;
inline constexpr int kCopyAttempts = 5;
inline constexpr uint32_t kCopyRetryDelayMs = 1000;

// The values of the version file's three entries.
struct PublishedVersions {
    std::u16string agent;       // "Hollin="
    std::u16string runtime;     // "jre="
    std::u16string dependency;  // "dependency="
};
PublishedVersions ReadVersionFile(std::u16string_view text);

// Whether a published version may name a package: digits and dots only,
// at most 32 units. It becomes part of a file name, so nothing else is
// taken from the server.
bool IsPlainVersion(std::u16string_view version);

// What the update needs from the system. Paths are full paths.
class UpdateHost {
public:
    virtual ~UpdateHost() = default;

    // Ends in a backslash.
    virtual std::u16string InstallDirectory() = 0;
    virtual std::u16string ModulePath() = 0;
    virtual std::u16string ModuleFileName() = 0;

    virtual bool FileExists(const std::u16string& path) = 0;
    // True when the file is gone, also when it was never there.
    virtual bool RemoveFile(const std::u16string& path) = 0;
    // Creates or truncates; true when the file was written.
    virtual bool WriteFile(const std::u16string& path, std::string_view bytes) = 0;
    // The first bytes of a small file; empty when it cannot be read.
    virtual std::string ReadSmallFile(const std::u16string& path) = 0;
    // Copies over an existing file so that `to` is always either its old or
    // its new content, the new bytes on disk before the name.
    virtual bool ReplaceWithCopy(const std::u16string& from, const std::u16string& to) = 0;
    // Moves every file under folder `from` to the same place under `to`,
    // replacing, each file's bytes on disk before its new name; true when
    // all of them moved.
    virtual bool MoveTree(const std::u16string& from, const std::u16string& to) = 0;
    // Removes the files of folder whose names match pattern ("*" for any run
    // of characters).
    virtual void RemoveMatching(const std::u16string& folder, std::u16string_view pattern) = 0;
    // Removes a folder with everything in it; nothing when there is none.
    virtual void RemoveTree(const std::u16string& folder) = 0;
    // Whether path is a plain file that this process may delete (not a
    // folder, not read-only, not denied).
    virtual bool CanRemoveFile(const std::u16string& path) = 0;
    // The file version of an executable's version resource, "a.b.c.d";
    // empty when it has none.
    virtual std::u16string FileVersion(const std::u16string& path) = 0;

    // The package server's version file; empty when it could not be had.
    virtual std::u16string FetchVersionFile(const std::u16string& url) = 0;
    // The reply of a GET to the Local service as text, empty when the
    // request failed.
    virtual std::u16string GetText(const std::u16string& url) = 0;
    // Streams url into path; see DownloadToFile in package_update_win.h.
    virtual bool DownloadToFile(const std::u16string& path, const std::u16string& url) = 0;
    virtual void RequestServiceShutdown() = 0;

    // Extracts archive into folder (made when missing); true when the tool
    // ran and reported success.
    virtual bool UnpackArchive(const std::u16string& archive, const std::u16string& folder) = 0;
    // Whether path may replace the running agent by its signatures
    // (DecideAgentTrust on what the host reads of both files).
    virtual bool IsTrustedAgent(const std::u16string& path) = 0;
    // Starts a program through the shell; true when it started.
    virtual bool StartProgram(const std::u16string& path, bool hidden) = 0;
    // Runs a script with the system's command interpreter and waits for it.
    virtual void RunScript(const std::u16string& path) = 0;
    // Asks a running agent to quit and waits up to waitMs until no agent
    // runs; true when none is left.
    virtual bool QuitRunningAgent(uint32_t waitMs) = 0;
    // Ends the agent's message loop (from any thread; before the window
    // exists, the calling thread's own loop).
    virtual void PostQuit() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // A clock that only moves forward, in milliseconds.
    virtual uint64_t NowMs() = 0;
    virtual void Debug(std::u16string_view line) = 0;
};

// What the update thread keeps between its passes: when each package whose
// download or extraction failed is due again.
struct UpdateRetries {
    RetrySchedule agent, runtime, dependency;
};

// install directory + "\Version-" + version + "-pkg.7z"
std::u16string GetPackageFilePath(UpdateHost& host, std::u16string_view version);

// Fetches the version file; downloads a newer agent package (the result,
// with its version in newVersion), and downloads and unpacks newer runtime
// and dependency packages at once. A refused agent version is not fetched
// again; a failed package waits for its retry.
bool CheckForUpdates(UpdateHost& host, const UpdateSettings& settings, UpdateRetries& retries,
                     std::u16string& newVersion);
// Extracts the agent package of version into the staging folder, checks its
// new copy (signer and version), and only then moves its files into place
// and writes the first-run marker. A refused copy is recorded; the archive
// and the staging folder are removed whatever the outcome.
bool UnpackPackage(UpdateHost& host, const UpdateSettings& settings, UpdateRetries& retries,
                   const std::u16string& version);
// True when an agent update is unpacked and announced by the marker: by
// this pass, or still waiting from an earlier one.
bool PrepareUpdate(UpdateHost& host, const UpdateSettings& settings, UpdateRetries& retries,
                   std::u16string& announced);

// One pass of the update thread after its wait: prepare, wait for idle
// transfers, start an accepted "newVantorel.exe" and quit. True when it
// handed over.
bool RunUpdatePass(UpdateHost& host, const UpdateSettings& settings, UpdateRetries& retries,
                   const std::u16string& transferStatusUrl);

// What the start-up step decided.
enum class StartUpdateOutcome {
    GoOn,        // the start goes on
    HandedOver,  // the start goes on with a quit queued: no update pass may run in it
    ExitAgent,  // the new copy has installed itself and started the agent: exit 0
    ExitFailed  // the new copy could not start the agent: exit -1
};
StartUpdateOutcome CompleteUpdateAtStart(UpdateHost& host, const UpdateSettings& settings);
// Run by the new copy: removes the marker (and installs nothing when it
// cannot), replaces "Vantorel.exe", keeps "oldVantorel.exe", runs the unpack
// scripts in order. True when both copies succeeded.
bool InstallPendingUpdate(UpdateHost& host);

}  // namespace vantorel
