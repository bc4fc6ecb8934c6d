// The stand-in Local service: an HTTP server on 127.0.0.1 that answers the
// agent's requests as the real service does (see service_api.h), carries out
// uploads on disk, and takes orders from tests under /sim/.
//
// Runs in-process for tests (port 0 picks a free port) and as the program
// localsvc-sim, whose main only parses options, waits for a signal or the
// shutdown command, and stops it.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "simulator/simulator_options.h"

namespace vantorel::sim {

class Simulator {
public:
    explicit Simulator(SimulatorOptions options);
    ~Simulator();  // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Prepares the folders and starts serving. False, with error set, when
    // a folder cannot be made, the log cannot be opened or the port is taken.
    bool Start(std::string& error);
    // Answers nothing more: pending polls end, streams stop, transfers are
    // abandoned; the default temporary root is removed. Idempotent.
    void Stop();

    // The port listened on, once started.
    int Port() const;
    const std::filesystem::path& Root() const;
    std::filesystem::path CloudFolder() const;
    std::filesystem::path DownloadFolder() const;

    // True once the shutdown command has come in (its reply on the way) or
    // RequestShutdown was called; waits up to `timeout` for it.
    bool WaitForShutdownRequest(std::chrono::milliseconds timeout);
    void RequestShutdown();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantorel::sim
