#include "agent/tray/tray_commands.h"

#include "resources/ui_strings.h"

namespace vantorel {
namespace {

struct RequestItem {
    uint32_t id;
    ServiceRequest request;
};

constexpr RequestItem kRequestItems[] = {
    {CMD_ABOUT, ServiceRequest::ShowAbout},
    {CMD_MANAGE_STORAGE, ServiceRequest::LaunchManagePage},
    {CMD_UPLOAD_PROGRESS, ServiceRequest::LaunchUploadsPage},
    {CMD_PAUSE_ALL, ServiceRequest::PauseAll},
    {CMD_RESUME_ALL, ServiceRequest::ResumeAll},
    {CMD_CANCEL_ALL, ServiceRequest::CancelAll},
    {CMD_CHANGE_DOWNLOAD_FOLDER, ServiceRequest::PickDownloadDirectory},
    {CMD_TOUR, ServiceRequest::ShowTour},
    {CMD_UPLOADS_PAGE, ServiceRequest::LaunchUploadsPage},
    {CMD_UPLOAD_ERRORS, ServiceRequest::ShowErrors},
    {CMD_DOWNLOAD_ERRORS, ServiceRequest::ShowErrors},
    {CMD_DROP_WINDOW, ServiceRequest::ShowDragDrop},
    {CMD_UPLOADS_FINISHED, ServiceRequest::LaunchUploadsPage},
    {CMD_FEEDBACK, ServiceRequest::LaunchFeedbackPage},
    {CMD_HELP, ServiceRequest::LaunchHelpPage},
};

bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

}  // namespace

TrayCommand CommandForMenuId(uint32_t id, bool signedIn) {
    switch (id) {
    case CMD_EXIT:
        return {TrayAction::ConfirmExit};
    case CMD_SIGN_IN_OR_OUT:
        return signedIn ? TrayCommand{TrayAction::ConfirmSignOut} : TrayCommand{TrayAction::Request, ServiceRequest::Login};
    case CMD_START_WITH_WINDOWS:
        return {TrayAction::ToggleAutostart};
    case CMD_DOWNLOAD_PROGRESS:
    case CMD_OPEN_DOWNLOAD_FOLDER:
    case CMD_DOWNLOADS_FINISHED:
        return {TrayAction::OpenDownloadFolder};
    default:
        break;
    }
    for (const RequestItem& item : kRequestItems)
        if (item.id == id) return {TrayAction::Request, item.request};
    return {};
}

void RunConfirmation(Confirmation which, const ConfirmationIo& io, const UiStringSource& strings) {
    const bool exit = which == Confirmation::Exit;
    if (io.fetch(ServiceRequest::TransferStatus).find(kTransferProgress) != std::u16string::npos) {
        const std::u16string text = strings(exit ? IDS_CONFIRM_EXIT_TEXT : IDS_CONFIRM_SIGN_OUT_TEXT);
        const std::u16string caption = strings(exit ? IDS_CONFIRM_EXIT_CAPTION : IDS_CONFIRM_SIGN_OUT_CAPTION);
        if (!io.askOkCancel(text, caption)) return;
    }
    io.send(exit ? ServiceRequest::Shutdown : ServiceRequest::Logout);
    if (exit) io.postQuit();
}

std::u16string AutostartValueFor(std::u16string_view executablePath) {
    std::u16string value;
    value.reserve(executablePath.size() + 2);
    value += u'"';
    value += executablePath;
    value += u'"';
    return value;
}

char16_t FoldAsciiCase(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

bool AutostartValueNames(std::u16string_view value, std::u16string_view executablePath, PathUnitFold fold) {
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"') value = value.substr(1, value.size() - 2);
    if (executablePath.empty() || value.size() != executablePath.size()) return false;
    for (size_t i = 0; i < value.size(); ++i)
        if (fold(value[i]) != fold(executablePath[i])) return false;
    return true;
}

bool StartsWithWindows(bool runValueNamesThis, const std::optional<std::string>& startupApproved) {
    const bool disabled = startupApproved && !startupApproved->empty() && (startupApproved->front() & 1) != 0;
    return runValueNamesThis && !disabled;
}

}  // namespace vantorel
