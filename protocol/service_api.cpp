#include "protocol/service_api.h"

#include "protocol/json_value.h"
#include "protocol/json_writer.h"

namespace vantorel {
namespace {

constexpr std::u16string_view kServiceOrigin = u"http://127.0.0.1:9333";

struct Endpoint {
    ServiceRequest request;
    std::u16string_view url;
    std::u16string_view name;
};

// The one place where the service's URLs are written.
constexpr Endpoint kEndpoints[kServiceRequestCount] = {
    {ServiceRequest::UploadProgress, u"http://127.0.0.1:9333/query?action=progress&taskid=upload", u"upload-progress"},
    {ServiceRequest::DownloadProgress, u"http://127.0.0.1:9333/query?action=progress&taskid=download", u"download-progress"},
    {ServiceRequest::LoginStateOfUser, u"http://127.0.0.1:9333/query?action=loginstate&token=username", u"loginstate-user"},
    {ServiceRequest::DownloadDirectory, u"http://127.0.0.1:9333/query?action=dldir", u"dldir"},
    {ServiceRequest::LoginState, u"http://127.0.0.1:9333/query?action=loginstate", u"loginstate"},
    {ServiceRequest::TransferStatus, u"http://127.0.0.1:9333/query?action=transferstatus", u"transferstatus"},
    {ServiceRequest::Storage, u"http://127.0.0.1:9333/query?action=storage", u"storage"},
    {ServiceRequest::Poll, u"http://127.0.0.1:9333/poll", u"poll"},
    {ServiceRequest::ShowDragDrop, u"http://127.0.0.1:9333/control?action=showdragdrop", u"showdragdrop"},
    {ServiceRequest::Shutdown, u"http://127.0.0.1:9333/control?action=shutdown", u"shutdown"},
    {ServiceRequest::Logout, u"http://127.0.0.1:9333/control?action=logout", u"logout"},
    {ServiceRequest::Login, u"http://127.0.0.1:9333/control?action=login", u"login"},
    {ServiceRequest::ShowAbout, u"http://127.0.0.1:9333/control?action=showabout", u"showabout"},
    {ServiceRequest::ShowProgress, u"http://127.0.0.1:9333/control?action=showprogress", u"showprogress"},
    {ServiceRequest::ShowErrors, u"http://127.0.0.1:9333/control?action=showerrors", u"showerrors"},
    {ServiceRequest::ShowTour, u"http://127.0.0.1:9333/control?action=showtour", u"showtour"},
    {ServiceRequest::PickDownloadDirectory, u"http://127.0.0.1:9333/control?action=pickdldir", u"pickdldir"},
    {ServiceRequest::PauseAll, u"http://127.0.0.1:9333/control?action=pause&taskid=all", u"pause-all"},
    {ServiceRequest::ResumeAll, u"http://127.0.0.1:9333/control?action=resume&taskid=all", u"resume-all"},
    {ServiceRequest::CancelAll, u"http://127.0.0.1:9333/control?action=cancel&taskid=all", u"cancel-all"},
    {ServiceRequest::LaunchManagePage, u"http://127.0.0.1:9333/control?action=launchurl&urlname=managepage", u"launch-managepage"},
    {ServiceRequest::LaunchUploadsPage, u"http://127.0.0.1:9333/control?action=launchurl&urlname=uploads", u"launch-uploads"},
    {ServiceRequest::LaunchHelpPage, u"http://127.0.0.1:9333/control?action=launchurl&urlname=help", u"launch-help"},
    {ServiceRequest::LaunchFeedbackPage, u"http://127.0.0.1:9333/control?action=launchurl&urlname=feedback", u"launch-feedback"},
    {ServiceRequest::FileTransfer, u"filetransfer", u"filetransfer"},
};

constexpr bool TableIsInOrder() {
    for (int i = 0; i < kServiceRequestCount; ++i) {
        if (static_cast<int>(kEndpoints[i].request) != i) return false;
    }
    return true;
}
static_assert(TableIsInOrder(), "endpoint table must follow the ServiceRequest order");

// Writes a lone line feed as carriage return + line feed, the line break
// that the balloons and message boxes expect.
std::u16string WithCrLf(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out.push_back(u'\r');
        out.push_back(text[i]);
    }
    return out;
}

std::u16string EventField(JsonValue& root, std::u16string_view name) {
    const JsonValue& member = root.Member(name);
    if (member.Kind() == JsonKind::String) return WithCrLf(member.Text());
    std::u16string written;
    Write(member, written, 0x1F);
    return written;
}

}  // namespace

std::u16string_view ServiceUrl(ServiceRequest request) {
    return kEndpoints[static_cast<int>(request)].url;
}

std::u16string_view ServiceTarget(ServiceRequest request) {
    std::u16string_view url = ServiceUrl(request);
    if (url.substr(0, kServiceOrigin.size()) == kServiceOrigin) return url.substr(kServiceOrigin.size());
    return u"/filetransfer";
}

std::optional<ServiceRequest> FindServiceRequest(std::u16string_view path, std::u16string_view query) {
    for (const Endpoint& endpoint : kEndpoints) {
        std::u16string_view target = ServiceTarget(endpoint.request);
        if (target.substr(0, path.size()) != path) continue;
        std::u16string_view rest = target.substr(path.size());
        if (query.empty() ? rest.empty()
                          : (rest.size() == query.size() + 1 && rest[0] == u'?' && rest.substr(1) == query)) {
            return endpoint.request;
        }
    }
    return std::nullopt;
}

std::u16string_view ServiceRequestName(ServiceRequest request) {
    return kEndpoints[static_cast<int>(request)].name;
}

std::optional<ServiceRequest> FindServiceRequestByName(std::u16string_view name) {
    for (const Endpoint& endpoint : kEndpoints) {
        if (endpoint.name == name) return endpoint.request;
    }
    return std::nullopt;
}

bool IsControlRequest(ServiceRequest request) {
    return request >= ServiceRequest::ShowDragDrop && request <= ServiceRequest::LaunchFeedbackPage;
}

TransferCounts ReadTransferCounts(std::u16string_view reply, std::u16string_view groupKey,
                                  int64_t& timeRemaining) {
    TransferCounts counts;
    JsonValue root;
    JsonParseError error;
    if (!root.Parse(reply, &error)) return counts;
    JsonValue first;
    root.FirstElement(first);
    JsonValue group = first.Member(groupKey);
    counts.errored = group.GetInt64(u"ERRORED");
    counts.finished = group.GetInt64(u"FINISHED");
    counts.paused = group.GetInt64(u"PAUSED");
    counts.pending = group.GetInt64(u"PENDING");
    counts.running = group.GetInt64(u"RUNNING");
    timeRemaining = first.GetInt64(u"timeRemaining");
    return counts;
}

bool ReadStorage(std::u16string_view reply, int64_t& usedSpace, int64_t& totalSpace) {
    JsonValue root;
    JsonParseError error;
    if (!root.Parse(reply, &error)) return false;
    usedSpace = root.GetInt64(u"usedSpace");
    totalSpace = root.GetInt64(u"totalSpace");
    return totalSpace != 0;
}

bool ReadServiceEvent(std::u16string_view reply, ServiceEvent& event) {
    JsonValue root;
    JsonParseError error;
    if (!root.Parse(reply, &error)) return false;
    event.event = EventField(root, u"event");
    event.message = EventField(root, u"message");
    event.owner = EventField(root, u"owner");
    event.title = EventField(root, u"title");
    event.type = EventField(root, u"type");
    return true;
}

std::optional<LoginStateIndex> FindLoginState(std::u16string_view reply) {
    for (LoginStateIndex index : {LOGIN_LOGGING_IN, LOGIN_LOGGED_IN, LOGIN_LOGGED_OUT, LOGIN_LOGGING_OUT}) {
        if (reply.find(kLoginStateNames[index]) != std::u16string_view::npos) return index;
    }
    return std::nullopt;
}

std::u16string_view FirstReplyLine(std::u16string_view reply) {
    return reply.substr(0, reply.find_first_of(u"\r\n"));
}

}  // namespace vantorel
