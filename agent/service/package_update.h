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
    // its new content.
    virtual bool ReplaceWithCopy(const std::u16string& from, const std::u16string& to) = 0;

    // The package server's version file; empty when it could not be had.
    virtual std::u16string FetchVersionFile(const std::u16string& url) = 0;
    // The reply of a GET to the Local service as text, empty when the
    // request failed.
    virtual std::u16string GetText(const std::u16string& url) = 0;
    // Streams url into path; see DownloadToFile in package_update_win.h.
    virtual bool DownloadToFile(const std::u16string& path, const std::u16string& url) = 0;
    virtual void RequestServiceShutdown() = 0;

    // Extracts archive into the install directory; true when the tool ran
    // and reported success.
    virtual bool UnpackArchive(const std::u16string& archive) = 0;
    // Whether path carries a valid signature, by the running agent's own
    // signer when the running agent is signed.
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
    virtual void Debug(std::u16string_view line) = 0;
};

// install directory + "\Version-" + version + "-pkg.7z"
std::u16string GetPackageFilePath(UpdateHost& host, std::u16string_view version);

// Fetches the version file; downloads a newer agent package (the result,
// with its version in newVersion), and downloads and unpacks newer runtime
// and dependency packages at once.
bool CheckForUpdates(UpdateHost& host, const UpdateSettings& settings, std::u16string& newVersion);
// Unpacks an agent package; on success writes the first-run marker and
// deletes the archive. A failed unpacking leaves both for the next pass.
bool UnpackPackage(UpdateHost& host, const std::u16string& archive);
// True when an agent update is unpacked and announced by the marker.
bool PrepareUpdate(UpdateHost& host, const UpdateSettings& settings);

// One pass of the update thread after its wait: prepare, wait for idle
// transfers, start a trusted "newVantorel.exe" and quit. True when it
// handed over.
bool RunUpdatePass(UpdateHost& host, const UpdateSettings& settings, const std::u16string& transferStatusUrl);

// What the start-up step decided.
enum class StartUpdateOutcome {
    GoOn,       // the start goes on (a quit may be queued)
    ExitAgent,  // the new copy has installed itself and started the agent: exit 0
    ExitFailed  // the new copy could not start the agent: exit -1
};
StartUpdateOutcome CompleteUpdateAtStart(UpdateHost& host);
// Run by the new copy: replaces "Vantorel.exe", keeps "oldVantorel.exe",
// runs the unpack scripts in order. True when both copies succeeded.
bool InstallPendingUpdate(UpdateHost& host);

}  // namespace vantorel
