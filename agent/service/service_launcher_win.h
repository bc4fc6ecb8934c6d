// Starting the Local service, and the process starts, module paths and
// locale codes that the rest of the agent shares. Windows only; the text
// these calls use is built by service_command.h.
#pragma once

#include <cstdint>
#include <string>

namespace vantorel {

// WaitForSingleObject's "no time limit", for RunProcess.
inline constexpr uint32_t kWaitForever = 0xFFFFFFFF;

// Full path of the running executable; empty when it cannot be read.
std::u16string GetModulePath();
// The executable's path up to and including its last backslash.
std::u16string GetModuleDirectory();
// The executable's file name, such as "Vantorel.exe".
std::u16string GetModuleFileNameOnly();

// Records the install directory (the executable's directory) and sets PATH
// to ServicePathValue of it and JAVA_TOOL_OPTIONS to kJavaToolOptions, in
// both the runtime library's environment and the system's, so that every
// process started afterwards inherits them. Call once, at start-up, on the
// main thread.
void SetupServiceEnvironment();

// Makes the install directory current, asks a service left running by an
// earlier agent to shut down, starts the Java service without waiting for
// it and removes an earlier update's leftovers. Returns the service's
// process handle (the caller owns it), or null when it did not start.
void* LaunchLocalService();

// Starts applicationPath with the command line ProcessCommandLine builds,
// in the install directory, with the agent's environment, and waits up to
// waitMilliseconds for it to end. Returns 0 when the process was created,
// CreateProcessW's error code when not, 1 when the command line could not
// be allocated. *process receives the process handle (null after a
// failure), which the caller then owns; with process null it is closed.
uint32_t RunProcess(const std::u16string& applicationPath, const std::u16string& arguments,
                    uint32_t waitMilliseconds, void** process);

// Opens file through the shell, hidden, with environment variables in it
// expanded, and waits for the process without a time limit. 1 when a
// process was started and has ended; 0 when the shell gave no process.
// Empty parameters or directory are passed as none. exitCode, when given,
// receives the program's exit code (0xFFFFFFFF when none was started).
int RunShellProgram(const std::u16string& file, const std::u16string& parameters,
                    const std::u16string& directory, unsigned long* exitCode = nullptr);

// Deletes kNewAgentLeftover and kOldAgentLeftover in the install directory,
// and the half-made copies of an update that was ended while copying;
// absent or locked files are left alone.
void DeleteUpdateLeftovers();

// ISO 639 language and ISO 3166 country name of the calling thread's
// locale ("en", "US"); empty when they cannot be read.
std::u16string GetLocaleLanguageCode();
std::u16string GetLocaleCountryCode();

}  // namespace vantorel
