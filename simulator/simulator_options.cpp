#include "simulator/simulator_options.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string_view>

#include "protocol/utf8.h"
#include "simulator/control_params.h"

namespace vantorel::sim {
namespace {

constexpr int64_t kMaxInt = std::numeric_limits<int64_t>::max();

constexpr std::string_view kValueOptions[] = {
    "port", "host", "root", "dldir-name", "drive", "login-state", "username", "login-delay", "logout-delay",
    "poll-timeout", "upload-rate", "download-rate", "completed-hold", "used-space", "total-space", "max-body",
    "max-files", "threads", "log", "ready-file",
};

bool ReadInt(std::string_view name, const std::string& text, int64_t min, int64_t max, int64_t& value,
             std::string& error) {
    int64_t parsed = 0;
    if (!ParseInt64(text, parsed) || parsed < min || parsed > max) {
        error = "--" + std::string(name) + " wants an integer from " + std::to_string(min) + " to " +
                std::to_string(max) + ", not \"" + text + "\"";
        return false;
    }
    value = parsed;
    return true;
}

bool ReadLoginState(const std::string& text, LoginStateIndex& state, std::string& error) {
    for (int i = 0; i < static_cast<int>(kLoginStateNames.size()); ++i) {
        if (EncodeUtf8(kLoginStateNames[i]) == text) {
            state = static_cast<LoginStateIndex>(i);
            return true;
        }
    }
    error = "--login-state wants logged_in, logged_out, logging_in or logging_out, not \"" + text + "\"";
    return false;
}

}  // namespace

CommandLineResult ParseCommandLine(const std::vector<std::string>& args, SimulatorOptions& options,
                                   std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (name.rfind("--", 0) != 0) {
            error = "unexpected argument \"" + name + "\"";
            return CommandLineResult::Error;
        }
        name.erase(0, 2);
        if (const size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasValue = true;
        }
        if (name == "help") return CommandLineResult::Help;
        if (name == "version") return CommandLineResult::Version;
        if (name == "signed-in" || name == "keep-root" || name == "keep-running") {
            if (hasValue) {
                error = "--" + name + " takes no value";
                return CommandLineResult::Error;
            }
            if (name == "signed-in") options.initialLogin = LOGIN_LOGGED_IN;
            if (name == "keep-root") options.keepRoot = true;
            if (name == "keep-running") options.keepRunning = true;
            continue;
        }
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), name) == std::end(kValueOptions)) {
            error = "unknown option --" + name;
            return CommandLineResult::Error;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = "--" + name + " needs a value";
                return CommandLineResult::Error;
            }
            value = args[++i];
        }
        RuntimeSettings& settings = options.settings;
        int64_t number = 0;
        bool ok = true;
        if (name == "port") {
            ok = ReadInt(name, value, 0, 65535, number, error);
            options.port = static_cast<int>(number);
        } else if (name == "host") {
            options.host = value;
        } else if (name == "root") {
            options.root = value;
        } else if (name == "dldir-name") {
            ok = !value.empty() && value.find('/') == std::string::npos && value != "." && value != "..";
            if (!ok) error = "--dldir-name wants a folder name, not \"" + value + "\"";
            options.downloadFolderName = value;
        } else if (name == "drive") {
            ok = AddDriveMapping(value, options.drives, error);
        } else if (name == "login-state") {
            ok = ReadLoginState(value, options.initialLogin, error);
        } else if (name == "username") {
            settings.username = value;
        } else if (name == "login-delay") {
            ok = ReadInt(name, value, 0, kMaxInt / 2, settings.loginDelayMs, error);
        } else if (name == "logout-delay") {
            ok = ReadInt(name, value, 0, kMaxInt / 2, settings.logoutDelayMs, error);
        } else if (name == "poll-timeout") {
            ok = ReadInt(name, value, 0, kMaxInt / 2, settings.pollTimeoutMs, error);
        } else if (name == "upload-rate") {
            ok = ReadInt(name, value, 0, kMaxInt, settings.uploadRate, error);
        } else if (name == "download-rate") {
            ok = ReadInt(name, value, 0, kMaxInt, settings.downloadRate, error);
        } else if (name == "completed-hold") {
            ok = ReadInt(name, value, -1, kMaxInt / 2, settings.completedHoldMs, error);
        } else if (name == "used-space") {
            ok = ReadInt(name, value, 0, kMaxInt / 2, settings.usedSpace, error);
        } else if (name == "total-space") {
            ok = ReadInt(name, value, 0, kMaxInt / 2, settings.totalSpace, error);
        } else if (name == "max-body") {
            ok = ReadInt(name, value, 1, kMaxInt, number, error);
            options.maxBodyBytes = static_cast<size_t>(number);
        } else if (name == "max-files") {
            ok = ReadInt(name, value, 1, kMaxInt, number, error);
            options.maxFilesPerEntry = static_cast<size_t>(number);
        } else if (name == "threads") {
            ok = ReadInt(name, value, 4, 1024, number, error);
            options.threads = static_cast<int>(number);
        } else if (name == "log") {
            options.logPath = value;
        } else if (name == "ready-file") {
            options.readyFile = value;
        }
        if (!ok) return CommandLineResult::Error;
    }
    return CommandLineResult::Run;
}

std::string HelpText() {
    std::string text = R"(Usage: localsvc-sim [OPTION...]

A stand-in for the Local service: answers the tray agent's requests on
127.0.0.1 like the real service, uploads the files it is given into a cloud
folder on disk, and offers a test-control interface under /sim/.

Prints "localsvc-sim listening on HOST:PORT root DIR" once it accepts
requests; DIR holds the cloud folder and the download folder. Ends on SIGINT,
SIGTERM or the service's shutdown command, after the reply.

Options (also as --name=VALUE):
  --port N              port to listen on (default 9333; 0 = any free port)
  --host ADDR           address to listen on (default 127.0.0.1)
  --ready-file PATH     write the port to PATH once listening
  --log PATH            one line per request (time, method, target, status,
                        reply bytes, user agent) to PATH instead of stdout
  --root DIR            folder for the cloud folder DIR/cloud and the download
                        folder (default: a new temporary folder, removed at exit)
  --keep-root           keep the default temporary folder at exit
  --keep-running        answer the shutdown command but go on running, so that
                        a test can still read the log afterwards
  --dldir-name NAME     name of the download folder under the root (UTF-8,
                        default Downloads)
  --drive L=DIR         the Linux folder behind drive L: for upload paths and
                        the download folder's Windows form (repeatable; Z=/ is
                        preset, as in every Wine prefix), e.g.
                        --drive C=$WINEPREFIX/drive_c
  --signed-in           start signed in (--login-state logged_in)
  --login-state NAME    logged_out (default), logged_in, logging_in or
                        logging_out; an intermediate state ends after its delay
  --username NAME       the signed-in user (default demo@vantorel.example)
  --login-delay MS      time spent in logging_in (default 1500)
  --logout-delay MS     time spent in logging_out (default 500)
  --poll-timeout MS     how long /poll waits for an event before it answers
                        TIME_OUT (default 20000)
  --upload-rate B       upload speed in bytes per second (default 1048576;
                        0 = as fast as the disk goes)
  --download-rate B     speed of simulated downloads (default 1048576)
  --completed-hold MS   how long a finished batch keeps its counts and the
                        status "completed" (default 10000; -1 = until the next
                        batch)
  --used-space N        used bytes before any upload (default 1073741824)
  --total-space N       total bytes (default 5368709120)
  --max-body N          largest request body accepted (default 16777216)
  --max-files N         most files one upload path may hold (default 10000)
  --threads N           request threads (default 32); each long poll and each
                        open connection holds one
  --help, --version

Service requests: every request of the agent's table, matched exactly.
Upload paths: "X:\..." through the drive map, or Linux absolute paths.
Uploads land in ROOT/cloud; a malformed upload body gets 400 and a reason.

Test control (GET or POST; parameters URL-encoded in the query):
  /sim/state               JSON: login, transfer status, progress, storage,
                           paused, control commands received, queued events,
                           waiting polls, forced replies, folders, tasks
  /sim/log?since=SEQ       JSON array of the service requests received after
                           SEQ (all by default): seq, time_ms, unix_ms, method,
                           target, path, query, request, headers [[name,value]],
                           body_hex, body_size, body_complete, remote, status,
                           reply_bytes
  /sim/wait?request=NAME&count=N&timeout=MS
                           answers once N requests NAME (default 1) have come
                           since the last reset: 200 and the last one's JSON,
                           or 408 after MS (default 10000)
  /sim/reset               back to the start: login, transfers (no events),
                           cloud folder emptied, storage, events, forced
                           replies, request log, commands, settings
  /sim/event?type=T&event=E&title=..&message=..&owner=..&after=MS
                           queue one poll event (owner defaults to the user;
                           due after MS, default now). With a POST body, the
                           body is the poll's reply, byte for byte
  /sim/force?request=NAME|target=PATH?QUERY|target=*&status=CODE&body=TEXT
            &body_hex=HEX&content_type=TYPE&delay=MS&rate=B&size=N&endless=1
            &times=N|always
                           answer the next request(s) so instead of normally
                           (status default 200, once). A POST body is the reply
                           body. size: the body repeated to N bytes; rate: body
                           bytes per second; endless: a chunked reply without
                           end; delay: wait before the reply
  /sim/force/clear         drop every forced reply
  /sim/login?state=NAME    set the login state at once
  /sim/download?name=NAME&size=N
                           simulate a download of N bytes into the download
                           folder
  /sim/config?username=..&login_delay=..&logout_delay=..&poll_timeout=..
             &upload_rate=..&download_rate=..&completed_hold=..
             &used_space=..&total_space=..
                           change settings; answers them as JSON
  /sim/help                this text

Request names:)";
    // Listed from the service table, so a new request shows up here by itself.
    size_t column = 80;
    for (int i = 0; i < kServiceRequestCount; ++i) {
        const std::string name = RequestName(static_cast<ServiceRequest>(i));
        if (column + name.size() + 1 > 78) {
            text += "\n ";
            column = 1;
        }
        text += " " + name;
        column += name.size() + 1;
    }
    text += "\n";
    return text;
}

}  // namespace vantorel::sim
