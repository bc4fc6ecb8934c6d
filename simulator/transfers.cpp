#include "simulator/transfers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vantorel::sim {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxChunk = 64 * 1024;
// Chunks small enough for about twenty count updates a second.
constexpr int64_t kChunksPerSecond = 20;

// Messages name the file only: the agent turns every backslash + "n" of a
// poll reply into a line break before parsing it, so a Windows path such as
// C:\new in a message would break the whole event.
std::string BaseName(std::string_view path) {
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.remove_suffix(1);
    const size_t slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string Files(size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

std::string SystemError(std::string_view what, int code) {
    return std::string(what) + ": " + std::strerror(code);
}

// Unfinished copies carry a hidden name, so the cloud folder never shows a
// partial file under the real name and an older copy survives a failure.
fs::path PartName(const fs::path& destination) {
    return destination.parent_path() / ("." + destination.filename().string() + ".part");
}

bool WriteAll(int fd, const char* data, size_t count) {
    while (count != 0) {
        const ssize_t written = write(fd, data, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

const char* const kVerb[2] = {"uploaded", "downloaded"};
const char* const kNoun[2] = {"Upload", "Download"};

}  // namespace

std::string_view DirectionName(TransferDirection direction) {
    return direction == TransferDirection::Upload ? "upload" : "download";
}

TransferQueue::TransferQueue(TransferSettings settings, NoticeSink sink)
    : settings_(settings), sink_(std::move(sink)) {}

TransferQueue::~TransferQueue() {
    Stop();
}

void TransferQueue::Start() {
    std::lock_guard lock(mutex_);
    if (worker_.joinable()) return;
    stopping_ = false;
    worker_ = std::thread([this] { Run(); });
}

void TransferQueue::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void TransferQueue::SetSettings(const TransferSettings& settings) {
    {
        std::lock_guard lock(mutex_);
        settings_ = settings;
        ++settingsGeneration_;
    }
    changed_.notify_all();
}

void TransferQueue::ExpandEntry(const UploadEntry& entry, const fs::path& cloudFolder, size_t maxFiles,
                                std::vector<Task>& out) {
    Task task;
    task.name = BaseName(entry.sentPath);
    task.source = entry.local;
    fs::path name = entry.local.filename();
    if (name.empty()) name = entry.local.parent_path().filename();
    task.destination = cloudFolder / name;
    if (!entry.error.empty()) {
        task.error = entry.error;
        out.push_back(task);
        return;
    }
    std::error_code error;
    const fs::file_status status = fs::status(entry.local, error);
    if (fs::is_regular_file(status)) {
        task.size = static_cast<int64_t>(fs::file_size(entry.local, error));
        out.push_back(task);
        return;
    }
    if (!fs::is_directory(status) || name.empty()) {
        task.error = error                       ? "cannot read it: " + error.message()
                     : fs::is_directory(status) ? std::string("cannot upload a whole drive")
                                                : std::string("not a regular file or folder");
        out.push_back(task);
        return;
    }
    std::vector<Task> found;
    std::vector<fs::path> folders{task.destination};
    fs::recursive_directory_iterator it(entry.local, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        Task file;
        file.source = it->path();
        file.destination = task.destination / it->path().lexically_relative(entry.local);
        file.name = file.source.filename().string();
        std::error_code statusError;
        const fs::file_status fileStatus = it->status(statusError);
        if (fs::is_directory(fileStatus)) {
            folders.push_back(file.destination);
            continue;
        }
        if (fs::is_regular_file(fileStatus)) {
            file.size = static_cast<int64_t>(it->file_size(statusError));
        } else {
            file.error = "not a regular file or folder";
        }
        found.push_back(std::move(file));
        if (found.size() > maxFiles) {
            task.error = "the folder holds more than " + Files(maxFiles);
            out.push_back(task);
            return;
        }
    }
    if (error) {
        task.error = "cannot list the folder: " + error.message();
        found.push_back(task);
    }
    std::sort(found.begin(), found.end(),
              [](const Task& a, const Task& b) { return a.destination < b.destination; });
    for (const fs::path& folder : folders) fs::create_directories(folder, error);
    out.insert(out.end(), found.begin(), found.end());
}

size_t TransferQueue::AddUpload(const std::vector<UploadEntry>& entries, const fs::path& cloudFolder) {
    size_t maxFiles = 0;
    {
        std::lock_guard lock(mutex_);
        maxFiles = settings_.maxFilesPerEntry;
    }
    // The walk runs without the lock, so that a large folder does not hold up
    // the status queries meanwhile.
    std::vector<Task> found;
    for (const UploadEntry& entry : entries) ExpandEntry(entry, cloudFolder, maxFiles, found);
    {
        std::lock_guard lock(mutex_);
        StartBatch(TransferDirection::Upload);
        for (Task& task : found) {
            task.direction = TransferDirection::Upload;
            task.state = paused_ ? TaskState::Paused : TaskState::Pending;
            tasks_.emplace(nextId_++, std::move(task));
        }
        Notify(TransferDirection::Upload, kEventScheduled, "Upload scheduled", Files(found.size()) + " queued");
        EndBatchIfDrained(TransferDirection::Upload);
    }
    changed_.notify_all();
    return found.size();
}

void TransferQueue::AddDownload(const std::string& name, int64_t size, const fs::path& folder) {
    Task task;
    task.direction = TransferDirection::Download;
    task.name = name;
    task.size = size;
    task.destination = folder / name;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        task.error = "not a file name";
    }
    {
        std::lock_guard lock(mutex_);
        StartBatch(TransferDirection::Download);
        task.state = paused_ ? TaskState::Paused : TaskState::Pending;
        tasks_.emplace(nextId_++, std::move(task));
        Notify(TransferDirection::Download, kEventScheduled, "Download scheduled", Files(1) + " queued");
    }
    changed_.notify_all();
}

bool TransferQueue::PauseAll() {
    bool affected[2] = {false, false};
    {
        std::lock_guard lock(mutex_);
        paused_ = true;
        for (auto& [id, task] : tasks_) {
            if (task.state == TaskState::Pending || task.state == TaskState::Running) {
                task.state = TaskState::Paused;
                affected[static_cast<int>(task.direction)] = true;
            }
        }
        for (TransferDirection direction : {TransferDirection::Upload, TransferDirection::Download}) {
            if (!affected[static_cast<int>(direction)]) continue;
            Notify(direction, kEventPaused, std::string(kNoun[static_cast<int>(direction)]) + "s paused",
                   "Transfers are paused");
        }
    }
    changed_.notify_all();
    return affected[0] || affected[1];
}

bool TransferQueue::ResumeAll() {
    bool affected[2] = {false, false};
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
        for (auto& [id, task] : tasks_) {
            if (task.state == TaskState::Paused) {
                task.state = id == currentId_ ? TaskState::Running : TaskState::Pending;
                affected[static_cast<int>(task.direction)] = true;
            }
        }
        for (TransferDirection direction : {TransferDirection::Upload, TransferDirection::Download}) {
            if (!affected[static_cast<int>(direction)]) continue;
            Notify(direction, kEventResumed, std::string(kNoun[static_cast<int>(direction)]) + "s resumed",
                   "Transfers go on");
        }
    }
    changed_.notify_all();
    return affected[0] || affected[1];
}

bool TransferQueue::CancelAll() {
    size_t cancelled[2] = {0, 0};
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
        for (const auto& [id, task] : tasks_) {
            if (task.state != TaskState::Finished && task.state != TaskState::Errored) {
                ++cancelled[static_cast<int>(task.direction)];
            }
        }
        // Finished files stay in the cloud; their batch ends with the rest.
        tasks_.clear();
        for (TransferDirection direction : {TransferDirection::Upload, TransferDirection::Download}) {
            batchEnd_[static_cast<int>(direction)] = BatchEnd{};
            const size_t count = cancelled[static_cast<int>(direction)];
            if (count == 0) continue;
            Notify(direction, kEventCancelled, std::string(kNoun[static_cast<int>(direction)]) + "s cancelled",
                   Files(count) + " cancelled");
        }
    }
    changed_.notify_all();
    return cancelled[0] + cancelled[1] != 0;
}

void TransferQueue::Reset() {
    {
        std::lock_guard lock(mutex_);
        tasks_.clear();
        batchEnd_[0] = batchEnd_[1] = BatchEnd{};
        paused_ = false;
        uploadedBytes_ = 0;
    }
    changed_.notify_all();
}

TransferProgress TransferQueue::Progress(TransferDirection direction) {
    std::lock_guard lock(mutex_);
    RetireExpiredBatches(Clock::now());
    TransferProgress progress;
    int64_t remaining = 0;
    for (const auto& [id, task] : tasks_) {
        if (task.direction != direction) continue;
        const int64_t left = task.size - task.done;
        switch (task.state) {
        case TaskState::Running:
            ++progress.files.running;
            progress.bytes.running += left;
            progress.bytes.finished += task.done;
            remaining += left;
            break;
        case TaskState::Pending:
            ++progress.files.pending;
            progress.bytes.pending += left;
            progress.bytes.finished += task.done;
            remaining += left;
            break;
        case TaskState::Paused:
            ++progress.files.paused;
            progress.bytes.paused += left;
            progress.bytes.finished += task.done;
            break;
        case TaskState::Finished:
            ++progress.files.finished;
            progress.bytes.finished += task.size;
            break;
        case TaskState::Errored:
            ++progress.files.errored;
            progress.bytes.errored += task.size;
            break;
        }
    }
    const int64_t rate = Rate(direction);
    progress.timeRemaining = rate > 0 ? (remaining + rate - 1) / rate : 0;
    return progress;
}

std::u16string_view TransferQueue::Status() {
    std::lock_guard lock(mutex_);
    RetireExpiredBatches(Clock::now());
    bool paused = false;
    for (const auto& [id, task] : tasks_) {
        if (task.state == TaskState::Pending || task.state == TaskState::Running) return kTransferProgress;
        if (task.state == TaskState::Paused) paused = true;
    }
    if (paused) return kTransferPaused;
    if (batchEnd_[0].ended || batchEnd_[1].ended) return kTransferCompleted;
    return kTransferIdle;
}

int64_t TransferQueue::UploadedBytes() const {
    std::lock_guard lock(mutex_);
    return uploadedBytes_;
}

bool TransferQueue::Paused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

std::vector<TransferTaskInfo> TransferQueue::Tasks() const {
    static constexpr const char* kStateNames[] = {"PENDING", "RUNNING", "PAUSED", "FINISHED", "ERRORED"};
    std::lock_guard lock(mutex_);
    std::vector<TransferTaskInfo> tasks;
    tasks.reserve(tasks_.size());
    for (const auto& [id, task] : tasks_) {
        tasks.push_back(TransferTaskInfo{task.direction, task.source.string(), task.destination.string(), task.size,
                                         task.done, kStateNames[static_cast<int>(task.state)], task.error});
    }
    return tasks;
}

void TransferQueue::Notify(TransferDirection direction, std::u16string_view event, std::string title,
                           std::string message) {
    if (sink_) sink_(TransferNotice{direction, event, std::move(title), std::move(message)});
}

void TransferQueue::StartBatch(TransferDirection direction) {
    BatchEnd& end = batchEnd_[static_cast<int>(direction)];
    if (!end.ended) return;
    std::erase_if(tasks_, [direction](const auto& entry) { return entry.second.direction == direction; });
    end = BatchEnd{};
}

void TransferQueue::EndBatchIfDrained(TransferDirection direction) {
    size_t finished = 0;
    size_t errored = 0;
    for (const auto& [id, task] : tasks_) {
        if (task.direction != direction) continue;
        if (task.state == TaskState::Finished) {
            ++finished;
        } else if (task.state == TaskState::Errored) {
            ++errored;
        } else {
            return;
        }
    }
    BatchEnd& end = batchEnd_[static_cast<int>(direction)];
    if (end.ended) return;
    end = BatchEnd{true, Clock::now()};
    // A batch in which every file failed has said so file by file already.
    if (finished == 0 && errored != 0) return;
    const int index = static_cast<int>(direction);
    std::string message = Files(finished) + " " + kVerb[index];
    if (errored != 0) message += ", " + std::to_string(errored) + " failed";
    Notify(direction, kEventCompleted, std::string(kNoun[index]) + " completed", message);
}

void TransferQueue::RetireExpiredBatches(Clock::time_point now) {
    const std::chrono::milliseconds hold = settings_.completedHold;
    for (TransferDirection direction : {TransferDirection::Upload, TransferDirection::Download}) {
        const BatchEnd& end = batchEnd_[static_cast<int>(direction)];
        if (end.ended && hold.count() >= 0 && now - end.at >= hold) StartBatch(direction);
    }
}

TransferQueue::Task* TransferQueue::Find(uint64_t id) {
    const auto found = tasks_.find(id);
    return found == tasks_.end() ? nullptr : &found->second;
}

int64_t TransferQueue::Rate(TransferDirection direction) const {
    return direction == TransferDirection::Upload ? settings_.uploadRate : settings_.downloadRate;
}

void TransferQueue::Fail(Lock& lock, uint64_t id, const std::string& reason) {
    (void)lock;
    Task* task = Find(id);
    if (!task) return;
    task->state = TaskState::Errored;
    task->error = reason;
    const int index = static_cast<int>(task->direction);
    Notify(task->direction, kEventErrored, std::string(kNoun[index]) + " failed",
           task->name + " could not be " + kVerb[index] + ": " + reason);
    EndBatchIfDrained(task->direction);
}

void TransferQueue::Finish(Lock& lock, uint64_t id) {
    (void)lock;
    Task* task = Find(id);
    if (!task) return;
    std::error_code error;
    fs::rename(PartName(task->destination), task->destination, error);
    if (error) {
        std::error_code ignored;
        fs::remove(PartName(task->destination), ignored);
        Fail(lock, id, "cannot store the copy: " + error.message());
        return;
    }
    task->state = TaskState::Finished;
    task->size = task->done;
    if (task->direction == TransferDirection::Upload) uploadedBytes_ += task->done;
    EndBatchIfDrained(task->direction);
}

void TransferQueue::Run() {
    Lock lock(mutex_);
    while (!stopping_) {
        uint64_t next = 0;
        for (const auto& [id, task] : tasks_) {
            if (task.state == TaskState::Pending) {
                next = id;
                break;
            }
        }
        if (next == 0) {
            changed_.wait(lock);
            continue;
        }
        tasks_[next].state = TaskState::Running;
        currentId_ = next;
        lock.unlock();
        Transfer(next);
        lock.lock();
        currentId_ = 0;
    }
}

void TransferQueue::Transfer(uint64_t id) {
    Task copy;
    {
        Lock lock(mutex_);
        const Task* task = Find(id);
        if (!task) return;
        copy = *task;
        if (!copy.error.empty()) {
            Fail(lock, id, copy.error);
            return;
        }
    }
    const bool upload = copy.direction == TransferDirection::Upload;
    std::string failure;
    FileDescriptor source;
    if (upload) {
        // Non-blocking, so that a FIFO put in place of a file cannot hang the open.
        source.Reset(open(copy.source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (source.get() < 0) {
            failure = SystemError("cannot read it", errno);
        } else if (fstat(source.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            failure = "not a regular file";
        }
    }
    const fs::path part = PartName(copy.destination);
    FileDescriptor destination;
    if (failure.empty()) {
        std::error_code error;
        fs::create_directories(copy.destination.parent_path(), error);
        destination.Reset(open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (destination.get() < 0) failure = SystemError("cannot write the copy", errno);
    }
    Lock lock(mutex_);
    if (!failure.empty()) {
        Fail(lock, id, failure);
        return;
    }
    std::vector<char> buffer(kMaxChunk);
    auto abandon = [&] {
        destination.Close();
        std::error_code ignored;
        fs::remove(part, ignored);
    };
    for (;;) {
        Task* task = Find(id);
        while (task && !stopping_ && task->state == TaskState::Paused) {
            changed_.wait(lock);
            task = Find(id);
        }
        if (!task || stopping_) {  // cancelled, reset or shutting down
            abandon();
            return;
        }
        const int64_t rate = Rate(copy.direction);
        size_t chunk = rate > 0 ? static_cast<size_t>(std::clamp<int64_t>(rate / kChunksPerSecond, 1, kMaxChunk))
                                : kMaxChunk;
        if (!upload) chunk = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(chunk), copy.size - task->done));
        const int64_t offset = task->done;
        lock.unlock();
        ssize_t got = 0;
        int readError = 0;
        if (upload) {
            do {
                got = read(source.get(), buffer.data(), chunk);
            } while (got < 0 && errno == EINTR);
            readError = errno;
        } else {
            for (size_t k = 0; k < chunk; ++k) buffer[k] = static_cast<char>('a' + (offset + k) % 26);
            got = static_cast<ssize_t>(chunk);
        }
        const bool wrote = got <= 0 || WriteAll(destination.get(), buffer.data(), static_cast<size_t>(got));
        lock.lock();
        task = Find(id);
        if (!task || stopping_) continue;
        if (got < 0 || !wrote) {
            abandon();
            Fail(lock, id, got < 0 ? SystemError("read failed", readError) : std::string("cannot write the copy"));
            return;
        }
        if (got == 0) {
            destination.Close();
            Finish(lock, id);
            return;
        }
        task->done += got;
        if (task->done > task->size) task->size = task->done;
        if (rate > 0) {
            // A new rate ends the pause, so that a test that slows a transfer
            // down to look at it can speed it up again at once.
            const uint64_t generation = settingsGeneration_;
            const auto pause = std::chrono::nanoseconds(static_cast<int64_t>(got) * 1000000000 / rate);
            changed_.wait_until(lock, Clock::now() + pause, [&] {
                const Task* current = Find(id);
                return stopping_ || !current || current->state == TaskState::Paused ||
                       settingsGeneration_ != generation;
            });
        }
    }
}

}  // namespace vantorel::sim
