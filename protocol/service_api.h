// The Local service's HTTP interface: every request the agent and the
// Send-To tool send, the state names looked for in replies, and the readers
// that turn JSON replies into records.
//
// Each request's URL is written once, in the table behind ServiceUrl; the
// stand-in service routes by the same table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

inline constexpr std::u16string_view kServiceHost = u"127.0.0.1";
inline constexpr uint16_t kServicePort = 9333;

enum class ServiceRequest : int {
    // queries, answered with data
    UploadProgress,
    DownloadProgress,
    LoginStateOfUser,  // loginstate&token=username: only "logged_in" matters
    DownloadDirectory,
    LoginState,
    TransferStatus,
    Storage,
    // the long poll: one event per reply
    Poll,
    // commands; replies are dropped
    ShowDragDrop,
    Shutdown,
    Logout,
    Login,
    ShowAbout,
    ShowProgress,
    ShowErrors,
    ShowTour,
    PickDownloadDirectory,
    PauseAll,
    ResumeAll,
    CancelAll,
    LaunchManagePage,
    LaunchUploadsPage,
    LaunchHelpPage,
    LaunchFeedbackPage,
    // POST with the upload body; not a URL but an object path
    FileTransfer,
};
inline constexpr int kServiceRequestCount = static_cast<int>(ServiceRequest::FileTransfer) + 1;

// Full URL of a GET request ("http://127.0.0.1:9333/..."); for FileTransfer
// the object path "filetransfer" that HttpPostForm sends to.
std::u16string_view ServiceUrl(ServiceRequest request);
// The part of ServiceUrl after the host and port: path and query ("/poll",
// "/query?action=storage"); for FileTransfer "/filetransfer".
std::u16string_view ServiceTarget(ServiceRequest request);
// The request whose target is exactly path + "?" + query (or path alone when
// query is empty); query parameters must come in the table's order.
std::optional<ServiceRequest> FindServiceRequest(std::u16string_view path, std::u16string_view query);
bool IsControlRequest(ServiceRequest request);
// A short name for tools and logs ("storage", "pause-all"); not sent.
std::u16string_view ServiceRequestName(ServiceRequest request);
std::optional<ServiceRequest> FindServiceRequestByName(std::u16string_view name);

// ---- state names ----------------------------------------------------------
enum LoginStateIndex : int {
    LOGIN_LOGGED_IN = 0,
    LOGIN_LOGGED_OUT = 1,
    LOGIN_LOGGING_IN = 2,
    LOGIN_LOGGING_OUT = 3,
};
inline constexpr std::array<std::u16string_view, 4> kLoginStateNames = {
    u"logged_in", u"logged_out", u"logging_in", u"logging_out"};

inline constexpr std::u16string_view kTransferIdle = u"idle";
inline constexpr std::u16string_view kTransferProgress = u"progress";
inline constexpr std::u16string_view kTransferPaused = u"paused";
inline constexpr std::u16string_view kTransferStarting = u"starting";
inline constexpr std::u16string_view kTransferCompleted = u"completed";

// Texts of a poll reply's "type" and "event" members.
inline constexpr std::u16string_view kEventTypeTimeOut = u"TIME_OUT";
inline constexpr std::u16string_view kEventTypeUpload = u"UPLOAD";
inline constexpr std::u16string_view kEventTypeDownload = u"DOWNLOAD";
inline constexpr std::u16string_view kEventScheduled = u"SCHEDULED";
inline constexpr std::u16string_view kEventPaused = u"PAUSED";
inline constexpr std::u16string_view kEventResumed = u"RESUMED";
inline constexpr std::u16string_view kEventErrored = u"ERRORED";
inline constexpr std::u16string_view kEventCompleted = u"COMPLETED";
inline constexpr std::u16string_view kEventCancelled = u"CANCELLED";

// ---- records ----------------------------------------------------------------
// Counts of transfer tasks by state, for one direction and one unit.
struct TransferCounts {
    int64_t running = 0;
    int64_t finished = 0;
    int64_t paused = 0;
    int64_t errored = 0;
    int64_t pending = 0;
    friend bool operator==(const TransferCounts&, const TransferCounts&) = default;
};

// One event of the long poll.
struct ServiceEvent {
    std::u16string owner;
    std::u16string type;
    std::u16string event;
    std::u16string title;
    std::u16string message;
};

// ---- readers ------------------------------------------------------------------
// Reads the counts under groupKey ("fileCounts" or "byteCounts") of a progress
// reply, and its "timeRemaining". A reply that does not parse gives zero
// counts and leaves timeRemaining as it was; a reply of another shape reads
// as zeros.
TransferCounts ReadTransferCounts(std::u16string_view reply, std::u16string_view groupKey,
                                  int64_t& timeRemaining);

// Reads "usedSpace" and "totalSpace". False when the reply does not parse
// (outputs untouched) or the total is 0.
bool ReadStorage(std::u16string_view reply, int64_t& usedSpace, int64_t& totalSpace);

// Reads one poll reply into event. False when the reply does not parse (the
// event is then untouched). A string member arrives as the parser decoded it,
// with each line feed given as a carriage return + line feed; any other
// member as the writer writes it; a missing member as an empty text.
bool ReadServiceEvent(std::u16string_view reply, ServiceEvent& event);

// The first login-state name found in a loginstate reply, searching for
// "logging_in", "logged_in", "logged_out", "logging_out" in that order.
std::optional<LoginStateIndex> FindLoginState(std::u16string_view reply);

// The download directory of a dldir reply: the text before the first
// carriage return or line feed.
std::u16string_view FirstReplyLine(std::u16string_view reply);

}  // namespace vantorel
