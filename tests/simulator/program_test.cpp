// localsvc-sim as a program: its command line, readiness, and how it ends.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim_test_support.h"
#include "simulator/control_params.h"

extern char** environ;

namespace vantorel::sim::testing {
namespace {

namespace fs = std::filesystem;

class Program {
public:
    // Runs localsvc-sim with args; its output goes to files in `folder`.
    Program(const std::vector<std::string>& args, const fs::path& folder, const std::string& tmpdir = {})
        : out_(folder / "stdout"), err_(folder / "stderr") {
        std::vector<std::string> argv = {LOCALSVC_SIM_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> argvPointers;
        for (std::string& arg : argv) argvPointers.push_back(arg.data());
        argvPointers.push_back(nullptr);
        std::vector<std::string> env;
        for (char** entry = environ; *entry; ++entry) {
            if (tmpdir.empty() || std::string_view(*entry).rfind("TMPDIR=", 0) != 0) env.push_back(*entry);
        }
        if (!tmpdir.empty()) env.push_back("TMPDIR=" + tmpdir);
        std::vector<char*> envPointers;
        for (std::string& entry : env) envPointers.push_back(entry.data());
        envPointers.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envPointers.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    ~Program() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // The exit code, or -1 when it does not end within the limit.
    int Wait() {
        int status = 0;
        const bool ended = WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        if (!ended) return -1;
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    void Signal(int signal) const { kill(pid_, signal); }
    std::string Out() const { return ReadFile(out_); }
    std::string Err() const { return ReadFile(err_); }

private:
    fs::path out_;
    fs::path err_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

int ReadyPort(const fs::path& readyFile) {
    int port = 0;
    WaitUntil([&] {
        std::ifstream in(readyFile);
        return static_cast<bool>(in >> port);
    });
    return port;
}

std::string Fetch(int port, ServiceRequest request) {
    std::string reply;
    const std::u16string origin = DecodeUtf8Lenient("http://127.0.0.1:" + std::to_string(port));
    EXPECT_TRUE(HttpGetBytes(origin + std::u16string(ServiceTarget(request)), reply));
    return reply;
}

TEST(Program, HelpNamesEveryOptionAndEveryRequestName)
{
    TempFolder folder;
    Program help({"--help"}, folder.path());
    EXPECT_EQ(help.Wait(), 0);
    const std::string text = help.Out();
    for (int i = 0; i < kServiceRequestCount; ++i) {
        const std::string name = RequestName(static_cast<ServiceRequest>(i));
        EXPECT_NE(text.find(name), std::string::npos) << name;
    }
    for (const char* option : {"--port", "--host", "--ready-file", "--log", "--root", "--keep-root", "--dldir-name",
                               "--drive", "--signed-in", "--login-state", "--username", "--login-delay",
                               "--logout-delay", "--poll-timeout", "--upload-rate", "--download-rate",
                               "--completed-hold", "--used-space", "--total-space", "--max-body", "--max-files",
                               "--threads", "/sim/state", "/sim/log", "/sim/wait", "/sim/reset", "/sim/event",
                               "/sim/force", "/sim/force/clear", "/sim/login", "/sim/download", "/sim/config"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
}

TEST(Program, ReadsEveryOptionAndRefusesBadOnesWithAReason)
{
    SimulatorOptions options;
    std::string error;
    ASSERT_EQ(ParseCommandLine({"--port", "0", "--signed-in", "--drive=c=/prefix/drive_c", "--upload-rate=5",
                                "--dldir-name", "\xC3\x89t\xC3\xA9", "--completed-hold", "-1", "--keep-root",
                                "--poll-timeout=250", "--username", "me"},
                               options, error),
              CommandLineResult::Run)
        << error;
    EXPECT_EQ(options.port, 0);
    EXPECT_EQ(options.initialLogin, LOGIN_LOGGED_IN);
    EXPECT_EQ(options.drives.at('C'), fs::path("/prefix/drive_c"));
    EXPECT_EQ(options.drives.at('Z'), fs::path("/"));
    EXPECT_EQ(options.settings.uploadRate, 5);
    EXPECT_EQ(options.downloadFolderName, "\xC3\x89t\xC3\xA9");
    EXPECT_EQ(options.settings.completedHoldMs, -1);
    EXPECT_TRUE(options.keepRoot);
    EXPECT_EQ(options.settings.pollTimeoutMs, 250);
    EXPECT_EQ(options.settings.username, "me");

    const std::vector<std::vector<std::string>> bad = {
        {"--port", "70000"}, {"--port"}, {"--bogus"}, {"stray"}, {"--signed-in=1"}, {"--login-state", "in"},
        {"--dldir-name", "a/b"}, {"--threads", "1"}, {"--completed-hold", "-2"}, {"--drive", "C:/x"},
        {"--upload-rate", "fast"},
    };
    for (const std::vector<std::string>& args : bad) {
        SCOPED_TRACE(args[0]);
        error.clear();
        SimulatorOptions ignored;
        EXPECT_EQ(ParseCommandLine(args, ignored, error), CommandLineResult::Error);
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(ParseCommandLine({"--port", "1", "--help"}, options, error), CommandLineResult::Help);

    TempFolder folder;
    Program refused({"--bogus"}, folder.path());
    EXPECT_EQ(refused.Wait(), 2);
    EXPECT_NE(refused.Err().find("unknown option --bogus"), std::string::npos);
}

TEST(Program, AnnouncesItsPortServesAndEndsAfterTheShutdownCommand)
{
    TempFolder folder;
    const fs::path ready = folder.path() / "ready";
    Program program({"--port", "0", "--ready-file", ready.string(), "--root", (folder.path() / "root").string(),
                     "--log", (folder.path() / "access.log").string(), "--signed-in"},
                    folder.path());
    const int port = ReadyPort(ready);
    ASSERT_GT(port, 0);
    EXPECT_NE(program.Out().find("localsvc-sim listening on 127.0.0.1:" + std::to_string(port)), std::string::npos);
    EXPECT_NE(FindLoginState(DecodeUtf8Lenient(Fetch(port, ServiceRequest::LoginState))), std::nullopt);
    EXPECT_EQ(Fetch(port, ServiceRequest::Shutdown), "OK\n");
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_NE(program.Out().find("stopped (shutdown command)"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(folder.path() / "root" / "cloud"));  // a given root stays
    EXPECT_NE(ReadFile(folder.path() / "access.log").find("GET /control?action=shutdown 200"), std::string::npos);
}

TEST(Program, EndsCleanlyOnSigintAndSigtermAndRemovesItsTemporaryRoot)
{
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        TempFolder folder;
        TempFolder tmpdir;
        const fs::path ready = folder.path() / "ready";
        Program program({"--port=0", "--ready-file=" + ready.string(), "--log=/dev/null"}, folder.path(),
                        tmpdir.path().string());
        ASSERT_GT(ReadyPort(ready), 0);
        EXPECT_FALSE(fs::is_empty(tmpdir.path()));
        program.Signal(signal);
        EXPECT_EQ(program.Wait(), 0);
        EXPECT_NE(program.Out().find(signal == SIGINT ? "stopped (SIGINT)" : "stopped (SIGTERM)"), std::string::npos);
        EXPECT_TRUE(fs::is_empty(tmpdir.path()));
    }
}

TEST(Program, ATakenPortIsAnErrorWithExitCode1)
{
    TempFolder folder;
    SimulatorOptions options;
    options.port = 0;
    options.root = folder.path() / "root";
    options.logPath = "/dev/null";
    Simulator holder(options);
    std::string error;
    ASSERT_TRUE(holder.Start(error)) << error;
    Program program({"--port", std::to_string(holder.Port())}, folder.path());
    EXPECT_EQ(program.Wait(), 1);
    EXPECT_NE(program.Err().find("cannot listen"), std::string::npos) << program.Err();
}

}  // namespace
}  // namespace vantorel::sim::testing
