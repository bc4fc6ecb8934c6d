#include "resources/ui_strings.h"

#include <algorithm>
#include <array>

namespace vantorel {
namespace {

constexpr auto I = FormatArgKind::Integer;
constexpr auto R = FormatArgKind::Real;
constexpr auto T = FormatArgKind::Text;

constexpr std::array<UiStringId, 55> kIds = {
    IDS_ABOUT, IDS_HELP, IDS_CANCEL_ALL, IDS_CHANGE_DOWNLOAD_FOLDER,
    IDS_CONFIRM_SIGN_OUT_TEXT, IDS_CONFIRM_SIGN_OUT_CAPTION, IDS_CONFIRM_EXIT_TEXT,
    IDS_CONFIRM_EXIT_CAPTION, IDS_STORAGE_CHECKING, IDS_UPLOADS_PAGE_STARTUP,
    IDS_DOWNLOAD_PROGRESS, IDS_DOWNLOAD_ERRORS, IDS_DOWNLOADS_FINISHED, IDS_DOWNLOAD_PAUSED,
    IDS_DOWNLOAD_FOLDER_LINE, IDS_EXIT, IDS_MANAGE_STORAGE, IDS_HELP_MENU,
    IDS_OPEN_DOWNLOAD_FOLDER, IDS_DROP_WINDOW, IDS_UPLOADS_PAGE, IDS_SETTINGS_MENU,
    IDS_PAUSE_ALL, IDS_BYTE_PROGRESS, IDS_RESUME_ALL, IDS_FEEDBACK, IDS_SIGNED_IN_LINE,
    IDS_STORAGE_SIGNING_IN, IDS_STORAGE_SIGNED_OUT, IDS_SIGN_IN, IDS_SIGN_OUT,
    IDS_START_WITH_WINDOWS, IDS_STORAGE_LINE, IDS_TOUR, IDS_REMAINING_DAYS,
    IDS_REMAINING_DAYS_HOURS, IDS_REMAINING_HOURS, IDS_REMAINING_HOURS_MINUTES,
    IDS_REMAINING_MINUTES, IDS_REMAINING_UNDER_A_MINUTE, IDS_UPLOAD_PROGRESS,
    IDS_UPLOAD_ERRORS, IDS_UPLOADS_FINISHED, IDS_UPLOAD_PAUSED, IDS_DROP_INSERT,
    IDS_UNIT_KB, IDS_UNIT_MB, IDS_UNIT_GB, IDS_TOOLTIP_SIGNED_OUT, IDS_TOOLTIP_UP_TO_DATE,
    IDS_TOOLTIP_UPLOADING_ONE_FILE, IDS_TOOLTIP_UPLOADING_FILES, IDS_TOOLTIP_TRANSFERRING, IDS_TOOLTIP_PAUSED,
    IDS_TOOLTIP_ERROR,
};

constexpr FormatArgKind kCount[] = {I};
constexpr FormatArgKind kCountAndTime[] = {I, T};
constexpr FormatArgKind kName[] = {T};
constexpr FormatArgKind kByteProgress[] = {I, R, T, R, T};
constexpr FormatArgKind kTwoIntegers[] = {I, I};
constexpr FormatArgKind kNameAndCount[] = {T, I};

constexpr std::array<UiStringFormat, 24> kFormats = {{
    {IDS_DOWNLOAD_PROGRESS, kCount},
    {IDS_DOWNLOAD_ERRORS, kCount},
    {IDS_DOWNLOADS_FINISHED, kCountAndTime},
    {IDS_DOWNLOAD_PAUSED, kCount},
    {IDS_DOWNLOAD_FOLDER_LINE, kName},
    {IDS_BYTE_PROGRESS, kByteProgress},
    {IDS_STORAGE_LINE, kTwoIntegers},
    {IDS_REMAINING_DAYS, kCount},
    {IDS_REMAINING_DAYS_HOURS, kTwoIntegers},
    {IDS_REMAINING_HOURS, kCount},
    {IDS_REMAINING_HOURS_MINUTES, kTwoIntegers},
    {IDS_REMAINING_MINUTES, kCount},
    {IDS_REMAINING_UNDER_A_MINUTE, {}},
    {IDS_UPLOAD_PROGRESS, kCount},
    {IDS_UPLOAD_ERRORS, kCount},
    {IDS_UPLOADS_FINISHED, kCountAndTime},
    {IDS_UPLOAD_PAUSED, kCount},
    {IDS_TOOLTIP_SIGNED_OUT, kName},
    {IDS_TOOLTIP_UP_TO_DATE, kName},
    {IDS_TOOLTIP_UPLOADING_ONE_FILE, kNameAndCount},
    {IDS_TOOLTIP_UPLOADING_FILES, kNameAndCount},
    {IDS_TOOLTIP_TRANSFERRING, kName},
    {IDS_TOOLTIP_PAUSED, kName},
    {IDS_TOOLTIP_ERROR, kName},
}};

}  // namespace

std::span<const UiStringId> AllUiStringIds() { return kIds; }

std::span<const UiStringFormat> UiStringFormats() { return kFormats; }

const UiStringFormat* FindUiStringFormat(unsigned id)
{
    const auto it = std::find_if(kFormats.begin(), kFormats.end(),
                                 [id](const UiStringFormat& f) { return f.id == id; });
    return it == kFormats.end() ? nullptr : &*it;
}

}  // namespace vantorel
