// Settings of the stand-in Local service, and its command line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "protocol/service_api.h"
#include "simulator/drive_map.h"

namespace vantorel::sim {

// The settings that the test-control interface may change while running.
struct RuntimeSettings {
    std::string username = "demo@vantorel.example";
    int64_t loginDelayMs = 1500;
    int64_t logoutDelayMs = 500;
    int64_t pollTimeoutMs = 20000;
    int64_t uploadRate = 1024 * 1024;  // bytes per second; 0 = unlimited
    int64_t downloadRate = 1024 * 1024;
    int64_t completedHoldMs = 10000;  // negative: until the next transfer
    int64_t usedSpace = 1073741824;   // before any upload
    int64_t totalSpace = 5368709120;
};

struct SimulatorOptions {
    std::string host = "127.0.0.1";
    int port = kServicePort;  // 0: any free port
    // Holds the cloud folder and the download folder. Empty: a new folder
    // under the temporary directory, removed when the simulator stops.
    std::filesystem::path root;
    bool keepRoot = false;
    bool keepRunning = false;
    std::string downloadFolderName = "Downloads";
    DriveMap drives = DefaultDriveMap();
    LoginStateIndex initialLogin = LOGIN_LOGGED_OUT;
    RuntimeSettings settings;
    size_t maxBodyBytes = 16 * 1024 * 1024;
    size_t maxFilesPerEntry = 10000;
    int threads = 32;
    std::string logPath;    // one line per request; empty or "-": standard output
    std::string readyFile;  // receives the port once listening
};

enum class CommandLineResult { Run, Help, Version, Error };

// Reads "--name VALUE" and "--name=VALUE" options; error names the fault.
CommandLineResult ParseCommandLine(const std::vector<std::string>& args, SimulatorOptions& options,
                                   std::string& error);

// The --help text: every option and the test-control interface.
std::string HelpText();

}  // namespace vantorel::sim
