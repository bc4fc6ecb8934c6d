#include "simulator/simulator.h"

#include <httplib.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "protocol/service_api.h"
#include "protocol/utf8.h"
#include "simulator/control_params.h"
#include "simulator/drive_map.h"
#include "simulator/event_queue.h"
#include "simulator/forced_replies.h"
#include "simulator/json_text.h"
#include "simulator/login_state.h"
#include "simulator/request_log.h"
#include "simulator/transfers.h"
#include "simulator/upload_body_reader.h"

namespace vantorel::sim {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr const char* kJsonType = "application/json";
constexpr int64_t kMaxInt = std::numeric_limits<int64_t>::max();
constexpr size_t kMaxStreamPiece = 64 * 1024;

// Headers that the server library adds to each request for its handlers;
// they were not sent, so the request log leaves them out.
bool IsServerAddedHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

void SetText(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text, kTextType);
}

void SetJson(httplib::Response& res, const std::string& json) {
    res.status = 200;
    res.set_content(json, kJsonType);
}

int64_t ReplyBytes(const httplib::Response& res) {
    if (!res.content_provider_) return static_cast<int64_t>(res.body.size());
    return res.is_chunked_content_provider_ ? -1 : static_cast<int64_t>(res.content_length_);
}

void AppendCounts(JsonText& json, const TransferCounts& counts) {
    json.BeginObject()
        .Key("RUNNING").Int(counts.running)
        .Key("FINISHED").Int(counts.finished)
        .Key("PAUSED").Int(counts.paused)
        .Key("ERRORED").Int(counts.errored)
        .Key("PENDING").Int(counts.pending)
        .EndObject();
}

void AppendProgress(JsonText& json, const TransferProgress& progress) {
    json.BeginObject().Key("fileCounts");
    AppendCounts(json, progress.files);
    json.Key("byteCounts");
    AppendCounts(json, progress.bytes);
    json.Key("timeRemaining").Int(progress.timeRemaining).EndObject();
}

std::string EventJson(std::string_view type, std::string_view event, std::string_view title,
                      std::string_view message, std::string_view owner) {
    JsonText json;
    json.BeginObject()
        .Key("type").String(type)
        .Key("event").String(event)
        .Key("title").String(title)
        .Key("message").String(message)
        .Key("owner").String(owner)
        .EndObject();
    return json.Text();
}

TransferSettings TransferSettingsFor(const RuntimeSettings& settings, size_t maxFiles) {
    TransferSettings transfer;
    transfer.uploadRate = settings.uploadRate;
    transfer.downloadRate = settings.downloadRate;
    transfer.completedHold = Millis(settings.completedHoldMs);
    transfer.maxFilesPerEntry = maxFiles;
    return transfer;
}

std::string SettingsJson(const RuntimeSettings& settings) {
    JsonText json;
    json.BeginObject()
        .Key("username").String(settings.username)
        .Key("login_delay").Int(settings.loginDelayMs)
        .Key("logout_delay").Int(settings.logoutDelayMs)
        .Key("poll_timeout").Int(settings.pollTimeoutMs)
        .Key("upload_rate").Int(settings.uploadRate)
        .Key("download_rate").Int(settings.downloadRate)
        .Key("completed_hold").Int(settings.completedHoldMs)
        .Key("used_space").Int(settings.usedSpace)
        .Key("total_space").Int(settings.totalSpace)
        .EndObject();
    return json.Text();
}

void EmptyFolder(const fs::path& folder) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

}  // namespace

class Simulator::Impl {
public:
    explicit Impl(SimulatorOptions options)
        : options_(std::move(options)),
          transfers_(TransferSettingsFor(options_.settings, options_.maxFilesPerEntry),
                     [this](const TransferNotice& notice) { OnTransferNotice(notice); }),
          settings_(options_.settings),
          login_(options_.initialLogin, Clock::now(), Millis(settings_.loginDelayMs),
                 Millis(settings_.logoutDelayMs)) {}

    ~Impl() { Stop(); }

    bool Start(std::string& error);
    void Stop();

    int Port() const { return port_; }
    const fs::path& Root() const { return root_; }
    fs::path CloudFolder() const { return root_ / "cloud"; }
    fs::path DownloadFolder() const { return root_ / options_.downloadFolderName; }

    bool WaitForShutdownRequest(Millis timeout) {
        std::unique_lock lock(stopMutex_);
        return stopChanged_.wait_for(lock, timeout, [this] { return shutdownRequested_; });
    }

    void RequestShutdown() {
        {
            std::lock_guard lock(stopMutex_);
            shutdownRequested_ = true;
        }
        stopChanged_.notify_all();
    }

private:
    void Serve(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader* reader);
    void ServeService(ServiceRequest request, const std::string& body, httplib::Response& res);
    void ServeUpload(const std::string& body, httplib::Response& res);
    void ServeControl(const std::string& path, const httplib::Request& req, const std::string& body,
                      httplib::Response& res);
    void DeliverForced(const ForcedReply& reply, httplib::Response& res);
    bool StreamPiece(const std::string& pattern, size_t offset, size_t remaining, int64_t rate,
                     httplib::DataSink& sink);
    bool SleepUnlessStopping(Clock::duration duration);
    bool Stopping();
    void OnTransferNotice(const TransferNotice& notice);
    LoginStateIndex CurrentLogin();
    RuntimeSettings Settings();
    void ApplySettings(const RuntimeSettings& settings);
    std::string StateJson();
    void Reset();

    SimulatorOptions options_;
    fs::path root_;
    bool ownsRoot_ = false;
    int port_ = 0;
    Clock::time_point startTime_ = Clock::now();
    httplib::Server server_;
    std::thread listener_;
    std::atomic<bool> listenerEnded_{false};
    AccessLog accessLog_;
    RequestLog requestLog_;
    ForcedReplies forced_;
    EventQueue events_;
    TransferQueue transfers_;

    // Guards the members below. Nothing is called while it is held, so any
    // other lock may be held when taking it (the transfer queue's notices).
    std::mutex mutex_;
    RuntimeSettings settings_;
    LoginStateMachine login_;
    struct Command {
        std::string name;
        std::string target;
        int64_t timeMs = 0;
    };
    std::vector<Command> commands_;

    std::mutex stopMutex_;
    std::condition_variable stopChanged_;
    bool stopping_ = false;
    bool shutdownRequested_ = false;
};

bool Simulator::Impl::Start(std::string& error) {
    // The server library writes with plain send(): a client that hangs up
    // in the middle of a reply would otherwise end the whole process.
    signal(SIGPIPE, SIG_IGN);

    root_ = options_.root;
    if (root_.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/localsvc-sim.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            error = "cannot make a temporary folder from " + pattern;
            return false;
        }
        root_ = pattern;
        ownsRoot_ = !options_.keepRoot;
    }
    root_ = fs::absolute(root_).lexically_normal();
    std::error_code fsError;
    fs::create_directories(CloudFolder(), fsError);
    if (!fsError) fs::create_directories(DownloadFolder(), fsError);
    if (fsError) {
        error = "cannot make the folders under " + root_.string() + ": " + fsError.message();
        return false;
    }
    if (!accessLog_.Open(options_.logPath, error)) return false;

    const size_t threads = static_cast<size_t>(options_.threads);
    server_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // One request per connection, as the agent's client opens one per call:
    // a kept-alive connection would hold a thread and could still be served
    // after the shutdown command, when a stopped service must not answer.
    server_.set_keep_alive_max_count(1);
    server_.set_keep_alive_timeout(2);
    // The library's default also sets SO_REUSEPORT, with which a second
    // simulator on a taken port would start and share the requests at random.
    server_.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server_.set_read_timeout(10);
    server_.set_write_timeout(10);
    auto plain = [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res, nullptr); };
    auto withBody = [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) { Serve(req, res, &reader); };
    // Routed here rather than by the library, so that every method and path
    // gets a defined reply and every request is logged.
    server_.Get(".*", plain);
    server_.Post(".*", withBody);
    server_.Post(".*", plain);
    server_.Put(".*", withBody);
    server_.Put(".*", plain);
    server_.Patch(".*", withBody);
    server_.Patch(".*", plain);
    server_.Delete(".*", withBody);
    server_.Delete(".*", plain);
    server_.Options(".*", plain);
    server_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        accessLog_.Line(AccessLogLine(req.method, req.target, res.status, ReplyBytes(res),
                                      req.get_header_value("User-Agent")));
    });

    if (options_.port == 0) {
        port_ = server_.bind_to_any_port(options_.host);
    } else {
        port_ = server_.bind_to_port(options_.host, options_.port) ? options_.port : -1;
    }
    if (port_ <= 0) {
        error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
                " (another program may hold the port: ss -ltnp 'sport = :" + std::to_string(options_.port) +
                "' shows which)";
        return false;
    }
    startTime_ = Clock::now();
    {
        std::lock_guard lock(mutex_);
        login_ = LoginStateMachine(options_.initialLogin, startTime_, Millis(settings_.loginDelayMs),
                                   Millis(settings_.logoutDelayMs));
    }
    transfers_.Start();
    listener_ = std::thread([this] {
        server_.listen_after_bind();
        listenerEnded_ = true;
    });
    // Stopping the server before it runs would be lost, and leave Stop
    // waiting for a listener that never ends.
    while (!server_.is_running() && !listenerEnded_) std::this_thread::sleep_for(Millis(1));
    if (!server_.is_running()) {
        error = "the server did not start on " + options_.host + ":" + std::to_string(port_);
        return false;
    }
    return true;
}

void Simulator::Impl::Stop() {
    {
        std::lock_guard lock(stopMutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    stopChanged_.notify_all();
    events_.Stop();
    requestLog_.Stop();
    server_.stop();
    if (listener_.joinable()) listener_.join();
    transfers_.Stop();
    if (ownsRoot_) {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
}

bool Simulator::Impl::Stopping() {
    std::lock_guard lock(stopMutex_);
    return stopping_;
}

bool Simulator::Impl::SleepUnlessStopping(Clock::duration duration) {
    std::unique_lock lock(stopMutex_);
    return !stopChanged_.wait_for(lock, duration, [this] { return stopping_; });
}

void Simulator::Impl::OnTransferNotice(const TransferNotice& notice) {
    const std::u16string_view type =
        notice.direction == TransferDirection::Upload ? kEventTypeUpload : kEventTypeDownload;
    std::string owner;
    {
        std::lock_guard lock(mutex_);
        owner = settings_.username;
    }
    events_.Push(EventJson(EncodeUtf8(type), EncodeUtf8(notice.event), notice.title, notice.message, owner),
                 Clock::now());
}

LoginStateIndex Simulator::Impl::CurrentLogin() {
    std::lock_guard lock(mutex_);
    return login_.Current(Clock::now());
}

RuntimeSettings Simulator::Impl::Settings() {
    std::lock_guard lock(mutex_);
    return settings_;
}

void Simulator::Impl::ApplySettings(const RuntimeSettings& settings) {
    {
        std::lock_guard lock(mutex_);
        settings_ = settings;
        login_.SetDelays(Millis(settings.loginDelayMs), Millis(settings.logoutDelayMs));
    }
    transfers_.SetSettings(TransferSettingsFor(settings, options_.maxFilesPerEntry));
}

void Simulator::Impl::Serve(const httplib::Request& req, httplib::Response& res,
                            const httplib::ContentReader* reader) {
    const Clock::time_point arrival = Clock::now();
    const auto wallClock = std::chrono::system_clock::now();
    std::string body;
    bool tooLarge = false;
    bool bodyRead = true;
    if (reader) {
        const size_t limit = options_.maxBodyBytes;
        bodyRead = (*reader)([&](const char* data, size_t length) {
            if (length > limit - body.size()) {
                tooLarge = true;
                return false;
            }
            body.append(data, length);
            return true;
        });
    }
    const size_t question = req.target.find('?');
    const std::string path = req.target.substr(0, question);
    const std::string query = question == std::string::npos ? std::string() : req.target.substr(question + 1);

    if (path == "/sim" || path.rfind("/sim/", 0) == 0) {
        if (tooLarge) {
            SetText(res, 413, "request body larger than " + std::to_string(options_.maxBodyBytes) + " bytes\n");
        } else {
            ServeControl(path, req, body, res);
        }
        return;
    }

    const std::optional<ServiceRequest> request =
        FindServiceRequest(DecodeUtf8Lenient(path), DecodeUtf8Lenient(query));
    LoggedRequest entry;
    entry.timeMs = std::chrono::duration_cast<Millis>(arrival - startTime_).count();
    entry.unixMs = std::chrono::duration_cast<Millis>(wallClock.time_since_epoch()).count();
    entry.method = req.method;
    entry.target = req.target;
    entry.path = path;
    entry.query = query;
    if (request) entry.request = RequestName(*request);
    for (const auto& [name, value] : req.headers) {
        if (!IsServerAddedHeader(name)) entry.headers.emplace_back(name, value);
    }
    entry.body = body;
    entry.bodyComplete = bodyRead && !tooLarge;
    entry.remote = req.remote_addr + ":" + std::to_string(req.remote_port);
    const uint64_t seq = requestLog_.Add(std::move(entry));

    const bool wantsPost = request == ServiceRequest::FileTransfer;
    const bool isGet = req.method == "GET" || req.method == "HEAD";
    if (tooLarge) {
        SetText(res, 413, "request body larger than " + std::to_string(options_.maxBodyBytes) + " bytes\n");
    } else if (!bodyRead) {
        SetText(res, 400, "the request body broke off\n");
    } else if (std::optional<ForcedReply> forced = forced_.Take(req.target)) {
        DeliverForced(*forced, res);
    } else if (!request) {
        SetText(res, 404, "no such request: " + req.target + "\n");
    } else if (wantsPost ? req.method != "POST" : !isGet) {
        SetText(res, 405, RequestName(*request) + " wants " + (wantsPost ? "POST" : "GET") + "\n");
        res.set_header("Allow", wantsPost ? "POST" : "GET");
    } else {
        ServeService(*request, body, res);
    }
    requestLog_.Finish(seq, res.status, ReplyBytes(res));
}

void Simulator::Impl::ServeService(ServiceRequest request, const std::string& body, httplib::Response& res) {
    const RuntimeSettings settings = Settings();
    const LoginStateIndex login = CurrentLogin();
    switch (request) {
    case ServiceRequest::UploadProgress:
    case ServiceRequest::DownloadProgress: {
        JsonText json;
        json.BeginArray();
        AppendProgress(json, transfers_.Progress(request == ServiceRequest::UploadProgress
                                                     ? TransferDirection::Upload
                                                     : TransferDirection::Download));
        json.EndArray();
        SetJson(res, json.Text());
        return;
    }
    case ServiceRequest::LoginStateOfUser: {
        std::string text = EncodeUtf8(kLoginStateNames[login]);
        if (login == LOGIN_LOGGED_IN) text += "\r\n" + settings.username;
        SetText(res, 200, text);
        return;
    }
    case ServiceRequest::LoginState:
        SetText(res, 200, EncodeUtf8(kLoginStateNames[login]));
        return;
    case ServiceRequest::DownloadDirectory: {
        // The agent takes the first line; a second one gives the Linux form
        // for people and tests.
        const std::string windows = WindowsPathFor(DownloadFolder(), options_.drives);
        const std::string native = DownloadFolder().string();
        SetText(res, 200, (windows.empty() ? native : windows) + "\r\n" + native + "\r\n");
        return;
    }
    case ServiceRequest::TransferStatus:
        SetText(res, 200, EncodeUtf8(transfers_.Status()));
        return;
    case ServiceRequest::Storage: {
        // Signed out, the total reads 0, which the agent takes for "no
        // storage figures yet".
        const bool signedIn = login == LOGIN_LOGGED_IN;
        JsonText json;
        json.BeginObject()
            .Key("usedSpace").Int(signedIn ? settings.usedSpace + transfers_.UploadedBytes() : 0)
            .Key("totalSpace").Int(signedIn ? settings.totalSpace : 0)
            .EndObject();
        SetJson(res, json.Text());
        return;
    }
    case ServiceRequest::Poll: {
        const Clock::time_point deadline = Clock::now() + Millis(settings.pollTimeoutMs);
        std::optional<std::string> event = events_.Take(deadline);
        SetJson(res, event ? *event : EventJson(EncodeUtf8(kEventTypeTimeOut), "", "", "", ""));
        return;
    }
    case ServiceRequest::FileTransfer:
        ServeUpload(body, res);
        return;
    default:
        break;
    }

    // A command: recorded, and acted on where the simulation has something to do.
    {
        std::lock_guard lock(mutex_);
        const Clock::time_point now = Clock::now();
        commands_.push_back(Command{RequestName(request), EncodeUtf8(ServiceTarget(request)),
                                    std::chrono::duration_cast<Millis>(now - startTime_).count()});
        if (request == ServiceRequest::Login) login_.Login(now);
        if (request == ServiceRequest::Logout) login_.Logout(now);
    }
    if (request == ServiceRequest::PauseAll) transfers_.PauseAll();
    if (request == ServiceRequest::ResumeAll) transfers_.ResumeAll();
    if (request == ServiceRequest::CancelAll) transfers_.CancelAll();
    if (request == ServiceRequest::Shutdown && !options_.keepRunning) RequestShutdown();
    SetText(res, 200, "OK\n");
}

void Simulator::Impl::ServeUpload(const std::string& body, httplib::Response& res) {
    std::vector<std::string> paths;
    std::string error;
    if (!ReadUploadBody(body, paths, error)) {
        accessLog_.Line("upload rejected: " + error);
        SetText(res, 400, "malformed upload body: " + error + "\n");
        return;
    }
    std::vector<UploadEntry> entries(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        entries[i].sentPath = paths[i];
        MapUploadPath(paths[i], options_.drives, entries[i].local, entries[i].error);
    }
    const size_t count = transfers_.AddUpload(entries, CloudFolder());
    SetText(res, 200, "accepted " + std::to_string(count) + (count == 1 ? " file\n" : " files\n"));
}

void Simulator::Impl::DeliverForced(const ForcedReply& reply, httplib::Response& res) {
    if (reply.delayMs > 0 && !SleepUnlessStopping(Millis(std::min<int64_t>(reply.delayMs, kMaxInt / 1000000)))) {
        SetText(res, 503, "stopping\n");
        return;
    }
    res.status = reply.status;
    const size_t length = reply.size >= 0 ? static_cast<size_t>(reply.size) : reply.body.size();
    if (!reply.endless && (length == 0 || (reply.size < 0 && reply.rate == 0))) {
        res.set_content(reply.body, reply.contentType);
        return;
    }
    const std::string pattern = reply.body;
    const int64_t rate = reply.rate;
    if (reply.endless) {
        res.set_chunked_content_provider(reply.contentType, [this, pattern, rate](size_t offset,
                                                                                 httplib::DataSink& sink) {
            return StreamPiece(pattern, offset, SIZE_MAX, rate, sink);
        });
    } else {
        res.set_content_provider(length, reply.contentType,
                                 [this, pattern, rate](size_t offset, size_t remaining, httplib::DataSink& sink) {
                                     return StreamPiece(pattern, offset, remaining, rate, sink);
                                 });
    }
}

// Writes the next piece of a streamed forced reply: the pattern repeated
// from `offset`, at most `remaining` bytes. False ends the reply.
bool Simulator::Impl::StreamPiece(const std::string& pattern, size_t offset, size_t remaining, int64_t rate,
                                  httplib::DataSink& sink) {
    size_t piece = rate > 0 ? static_cast<size_t>(std::clamp<int64_t>(rate / 20, 1, kMaxStreamPiece))
                            : kMaxStreamPiece;
    piece = std::min(piece, remaining);
    std::string chunk;
    chunk.reserve(piece);
    size_t pos = offset % pattern.size();
    while (chunk.size() < piece) {
        const size_t take = std::min(pattern.size() - pos, piece - chunk.size());
        chunk.append(pattern, pos, take);
        pos = 0;
    }
    if (Stopping() || !sink.is_writable() || !sink.write(chunk.data(), chunk.size())) return false;
    if (rate > 0) {
        const auto pause = std::chrono::nanoseconds(static_cast<int64_t>(piece) * 1000000000 / rate);
        if (!SleepUnlessStopping(pause)) return false;
    }
    return true;
}

std::string Simulator::Impl::StateJson() {
    const RuntimeSettings settings = Settings();
    const LoginStateIndex login = CurrentLogin();
    JsonText json;
    json.BeginObject()
        .Key("login").String(EncodeUtf8(kLoginStateNames[login]))
        .Key("username").String(settings.username)
        .Key("transferstatus").String(EncodeUtf8(transfers_.Status()))
        .Key("paused").Bool(transfers_.Paused())
        .Key("upload");
    AppendProgress(json, transfers_.Progress(TransferDirection::Upload));
    json.Key("download");
    AppendProgress(json, transfers_.Progress(TransferDirection::Download));
    json.Key("storage")
        .BeginObject()
        .Key("usedSpace").Int(settings.usedSpace + transfers_.UploadedBytes())
        .Key("totalSpace").Int(settings.totalSpace)
        .EndObject();
    json.Key("commands").BeginArray();
    {
        std::lock_guard lock(mutex_);
        for (const Command& command : commands_) {
            json.BeginObject()
                .Key("name").String(command.name)
                .Key("target").String(command.target)
                .Key("time_ms").Int(command.timeMs)
                .EndObject();
        }
    }
    json.EndArray()
        .Key("events_queued").Int(static_cast<int64_t>(events_.Queued()))
        .Key("polls_waiting").Int(events_.Waiting())
        .Key("requests").Int(static_cast<int64_t>(requestLog_.Count()))
        .Key("forced").Raw(forced_.Json())
        .Key("root").String(root_.string())
        .Key("cloud").String(CloudFolder().string())
        .Key("dldir").String(DownloadFolder().string())
        .Key("dldir_windows").String(WindowsPathFor(DownloadFolder(), options_.drives))
        .Key("settings").Raw(SettingsJson(settings))
        .Key("tasks").BeginArray();
    for (const TransferTaskInfo& task : transfers_.Tasks()) {
        json.BeginObject()
            .Key("direction").String(DirectionName(task.direction))
            .Key("source").String(task.source)
            .Key("destination").String(task.destination)
            .Key("size").Int(task.size)
            .Key("done").Int(task.done)
            .Key("state").String(task.state)
            .Key("error").String(task.error)
            .EndObject();
    }
    json.EndArray().EndObject();
    return json.Text();
}

void Simulator::Impl::Reset() {
    transfers_.Reset();
    events_.Clear();
    forced_.Clear();
    requestLog_.Clear();
    {
        std::lock_guard lock(mutex_);
        commands_.clear();
        login_ = LoginStateMachine(options_.initialLogin, Clock::now(), Millis(options_.settings.loginDelayMs),
                                   Millis(options_.settings.logoutDelayMs));
    }
    ApplySettings(options_.settings);
    EmptyFolder(CloudFolder());
    EmptyFolder(DownloadFolder());
}

void Simulator::Impl::ServeControl(const std::string& path, const httplib::Request& req, const std::string& body,
                                   httplib::Response& res) {
    const QueryParams& params = req.params;
    std::string error;
    if (path == "/sim" || path == "/sim/" || path == "/sim/help") {
        SetText(res, 200, HelpText());
    } else if (path == "/sim/state") {
        SetJson(res, StateJson());
    } else if (path == "/sim/log") {
        int64_t since = 0;
        if (!ReadIntParam(params, "since", 0, kMaxInt, since, error)) return SetText(res, 400, error + "\n");
        SetJson(res, requestLog_.Json(static_cast<uint64_t>(since)));
    } else if (path == "/sim/wait") {
        std::string name;
        ReadTextParam(params, "request", name);
        int64_t count = 1;
        int64_t timeout = 10000;
        if (!FindRequestByName(name)) return SetText(res, 400, "no request named \"" + name + "\"\n");
        if (!ReadIntParam(params, "count", 1, kMaxInt, count, error) ||
            !ReadIntParam(params, "timeout", 0, 3600000, timeout, error)) {
            return SetText(res, 400, error + "\n");
        }
        const std::string last =
            requestLog_.WaitFor(name, static_cast<uint64_t>(count), Clock::now() + Millis(timeout));
        if (last.empty()) return SetText(res, 408, "no " + name + " request came in time\n");
        SetJson(res, last);
    } else if (path == "/sim/reset") {
        Reset();
        SetText(res, 200, "OK\n");
    } else if (path == "/sim/event") {
        int64_t after = 0;
        if (!ReadIntParam(params, "after", 0, 3600000, after, error)) return SetText(res, 400, error + "\n");
        std::string reply = body;
        if (reply.empty()) {
            std::string type, event, title, message, owner = Settings().username;
            ReadTextParam(params, "type", type);
            ReadTextParam(params, "event", event);
            ReadTextParam(params, "title", title);
            ReadTextParam(params, "message", message);
            ReadTextParam(params, "owner", owner);
            reply = EventJson(type, event, title, message, owner);
        }
        events_.Push(reply, Clock::now() + Millis(after));
        SetJson(res, reply);
    } else if (path == "/sim/force") {
        std::string target;
        ForcedReply reply;
        if (!ReadForcedReply(params, body, target, reply, error)) return SetText(res, 400, error + "\n");
        forced_.Add(target, reply);
        SetJson(res, forced_.Json());
    } else if (path == "/sim/force/clear") {
        forced_.Clear();
        SetText(res, 200, "OK\n");
    } else if (path == "/sim/login") {
        std::string name;
        ReadTextParam(params, "state", name);
        for (int i = 0; i < static_cast<int>(kLoginStateNames.size()); ++i) {
            if (EncodeUtf8(kLoginStateNames[i]) == name) {
                std::lock_guard lock(mutex_);
                login_.Set(static_cast<LoginStateIndex>(i), Clock::now());
                return SetText(res, 200, name + "\n");
            }
        }
        SetText(res, 400, "state must be logged_in, logged_out, logging_in or logging_out\n");
    } else if (path == "/sim/download") {
        std::string name;
        int64_t size = 0;
        ReadTextParam(params, "name", name);
        if (!ReadIntParam(params, "size", 0, kMaxInt, size, error)) return SetText(res, 400, error + "\n");
        transfers_.AddDownload(name, size, DownloadFolder());
        SetText(res, 200, "OK\n");
    } else if (path == "/sim/config") {
        RuntimeSettings settings = Settings();
        ReadTextParam(params, "username", settings.username);
        if (!ReadIntParam(params, "login_delay", 0, kMaxInt / 2, settings.loginDelayMs, error) ||
            !ReadIntParam(params, "logout_delay", 0, kMaxInt / 2, settings.logoutDelayMs, error) ||
            !ReadIntParam(params, "poll_timeout", 0, kMaxInt / 2, settings.pollTimeoutMs, error) ||
            !ReadIntParam(params, "upload_rate", 0, kMaxInt, settings.uploadRate, error) ||
            !ReadIntParam(params, "download_rate", 0, kMaxInt, settings.downloadRate, error) ||
            !ReadIntParam(params, "completed_hold", -1, kMaxInt / 2, settings.completedHoldMs, error) ||
            !ReadIntParam(params, "used_space", 0, kMaxInt / 2, settings.usedSpace, error) ||
            !ReadIntParam(params, "total_space", 0, kMaxInt / 2, settings.totalSpace, error)) {
            return SetText(res, 400, error + "\n");
        }
        ApplySettings(settings);
        SetJson(res, SettingsJson(settings));
    } else {
        SetText(res, 404, "no such control request: " + path + " (see /sim/help)\n");
    }
}

Simulator::Simulator(SimulatorOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() = default;

bool Simulator::Start(std::string& error) {
    return impl_->Start(error);
}

void Simulator::Stop() {
    impl_->Stop();
}

int Simulator::Port() const {
    return impl_->Port();
}

const std::filesystem::path& Simulator::Root() const {
    return impl_->Root();
}

std::filesystem::path Simulator::CloudFolder() const {
    return impl_->CloudFolder();
}

std::filesystem::path Simulator::DownloadFolder() const {
    return impl_->DownloadFolder();
}

bool Simulator::WaitForShutdownRequest(std::chrono::milliseconds timeout) {
    return impl_->WaitForShutdownRequest(timeout);
}

void Simulator::RequestShutdown() {
    impl_->RequestShutdown();
}

}  // namespace vantorel::sim
