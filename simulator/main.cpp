// localsvc-sim: the stand-in Local service as a program, for developers,
// demos and end-to-end tests of the Windows programs under Wine.
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "simulator/simulator.h"
#include "simulator/simulator_options.h"

namespace {

// Written whole and then renamed, so a script that polls for the file never
// reads half a number.
bool WriteReadyFile(const std::string& path, int port) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << '\n';
        if (!out.flush()) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vantorel::sim;
    SimulatorOptions options;
    std::string error;
    switch (ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case CommandLineResult::Help:
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    case CommandLineResult::Version:
        std::puts("localsvc-sim 1.0");
        return 0;
    case CommandLineResult::Error:
        std::fprintf(stderr, "localsvc-sim: %s\nTry localsvc-sim --help.\n", error.c_str());
        return 2;
    case CommandLineResult::Run:
        break;
    }

    // Blocked before any thread starts, so every thread inherits the mask and
    // the signals wait for the loop below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Simulator simulator(options);
    if (!simulator.Start(error)) {
        std::fprintf(stderr, "localsvc-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("localsvc-sim listening on %s:%d root %s\n", options.host.c_str(), simulator.Port(),
                simulator.Root().c_str());
    std::fflush(stdout);
    if (!options.readyFile.empty() && !WriteReadyFile(options.readyFile, simulator.Port())) {
        std::fprintf(stderr, "localsvc-sim: cannot write %s\n", options.readyFile.c_str());
        return 1;
    }

    const char* reason = "shutdown command";
    const timespec tick{0, 100 * 1000 * 1000};
    while (!simulator.WaitForShutdownRequest(std::chrono::milliseconds(0))) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM) {
            reason = signal == SIGINT ? "SIGINT" : "SIGTERM";
            break;
        }
    }
    simulator.Stop();
    std::printf("localsvc-sim stopped (%s)\n", reason);
    return 0;
}
