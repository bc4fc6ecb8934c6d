#include "agent/tray/tray_menu.h"

#include <cmath>
#include <initializer_list>
#include <limits>

#include "agent/polling/poller_cycles.h"
#include "agent/tray/tray_text.h"
#include "resources/text_format.h"
#include "resources/ui_strings.h"

namespace vantorel {
namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

// Counts come from the service; a hostile one must not overflow the sums.
int64_t AddSaturating(int64_t a, int64_t b) {
    if (b > 0 && a > kInt64Max - b) return kInt64Max;
    if (b < 0 && a < kInt64Min - b) return kInt64Min;
    return a + b;
}

int64_t Sum(std::initializer_list<int64_t> values) {
    int64_t sum = 0;
    for (int64_t value : values) sum = AddSaturating(sum, value);
    return sum;
}

std::u16string Text(const UiStringSource& strings, unsigned id) {
    return CutTrayText(strings(id), kMenuTextMaxUnits);
}

std::u16string Format(const UiStringSource& strings, unsigned id, std::initializer_list<FormatArg> args) {
    return CutTrayText(FormatText(strings(id), args), kMenuTextMaxUnits);
}

// Text from elsewhere (a folder's name, a time) shows as it is: a menu takes
// a single "&" for an access key.
std::u16string MenuLiteral(std::u16string_view text) {
    std::u16string literal;
    for (char16_t unit : text) {
        if (unit == u'&') literal += u'&';
        literal += unit;
    }
    return literal;
}

void AppendCommand(TrayMenu& menu, uint32_t id, std::u16string text, int bitmap = 0) {
    menu.items.push_back(TrayMenuItem{id, 0, std::move(text), bitmap, {}});
}

void AppendInformation(TrayMenu& menu, std::u16string text) {
    menu.items.push_back(TrayMenuItem{CMD_INFORMATION, kMenuItemDisabled, std::move(text), 0, {}});
}

void AppendSeparator(TrayMenu& menu) {
    menu.items.push_back(TrayMenuItem{CMD_INFORMATION, kMenuItemSeparator, {}, 0, {}});
}

void AppendSubmenu(TrayMenu& menu, std::u16string title, TrayMenu submenu) {
    menu.debugLines.insert(menu.debugLines.end(), submenu.debugLines.begin(), submenu.debugLines.end());
    menu.items.push_back(TrayMenuItem{CMD_INFORMATION, kMenuItemPopup, std::move(title), 0, std::move(submenu.items)});
}

struct DirectionIds {
    uint32_t progress;
    uint32_t errors;
    int progressBitmap;
    unsigned running;
    unsigned errorsText;
    unsigned finished;
    unsigned paused;
};

constexpr DirectionIds kUploadIds = {CMD_UPLOAD_PROGRESS, CMD_UPLOAD_ERRORS, BMP_UPLOAD_PROGRESS,
                                     IDS_UPLOAD_PROGRESS, IDS_UPLOAD_ERRORS, IDS_UPLOADS_FINISHED,
                                     IDS_UPLOAD_PAUSED};
constexpr DirectionIds kDownloadIds = {CMD_DOWNLOAD_PROGRESS, CMD_DOWNLOAD_ERRORS, BMP_DOWNLOAD_PROGRESS,
                                       IDS_DOWNLOAD_PROGRESS, IDS_DOWNLOAD_ERRORS, IDS_DOWNLOADS_FINISHED,
                                       IDS_DOWNLOAD_PAUSED};

struct ByteAmount {
    double value;
    unsigned unit;
};

// Up to 1 MiB (and any negative count) in kilobytes, up to 1 GiB in
// megabytes, above in gigabytes.
ByteAmount ExpressBytes(int64_t bytes) {
    const double value = static_cast<double>(bytes);
    if (bytes <= (int64_t{1} << 20)) return {std::ldexp(value, -10), IDS_UNIT_KB};
    if (bytes <= (int64_t{1} << 30)) return {std::ldexp(value, -20), IDS_UNIT_MB};
    return {std::ldexp(value, -30), IDS_UNIT_GB};
}

// A running transfer never shows 100 percent. Unreadable amounts (none in
// all, or negative ones) show 0.
int64_t BytePercent(int64_t done, int64_t all) {
    if (all <= 0 || done <= 0) return 0;
    const int64_t percent = StoragePercent(done, all);
    return percent >= 100 ? 99 : percent;
}

}  // namespace

TrayMenuSnapshot TakeTrayMenuSnapshot(const AgentState& state, bool autostartEnabled) {
    TrayMenuSnapshot snapshot;
    snapshot.signedIn = state.IsSignedIn();
    snapshot.statusName = state.GetStatusName();
    snapshot.storageText = state.GetStorageText();
    snapshot.downloadFolder = state.GetDownloadFolder();
    snapshot.lastUploadTime = state.GetLastUploadTime();
    snapshot.lastDownloadTime = state.GetLastDownloadTime();
    snapshot.upload = state.GetUploadProgress();
    snapshot.download = state.GetDownloadProgress();
    snapshot.autostartEnabled = autostartEnabled;
    return snapshot;
}

std::u16string FormatRemainingTime(int64_t seconds, const UiStringSource& strings) {
    // Days saturate rather than wrap, so hours and minutes stay below 24
    // and 60 for any count a hostile reply may hold.
    if (seconds < 0) seconds = 0;
    const int64_t wholeDays = seconds / 86400;
    const uint32_t days = wholeDays > int64_t{UINT32_MAX} ? UINT32_MAX : static_cast<uint32_t>(wholeDays);
    const int64_t rest = seconds - wholeDays * 86400;
    const auto hours = static_cast<uint16_t>(rest / 3600);
    const auto minutes = static_cast<uint16_t>((rest - int64_t{hours} * 3600) / 60);
    if (days > 0 && hours > 0)
        return Format(strings, IDS_REMAINING_DAYS_HOURS, {FormatArg::Integer(days), FormatArg::Integer(hours)});
    if (days > 0) return Format(strings, IDS_REMAINING_DAYS, {FormatArg::Integer(days)});
    if (hours > 0 && minutes > 0)
        return Format(strings, IDS_REMAINING_HOURS_MINUTES, {FormatArg::Integer(hours), FormatArg::Integer(minutes)});
    if (hours > 0) return Format(strings, IDS_REMAINING_HOURS, {FormatArg::Integer(hours)});
    if (minutes > 0) return Format(strings, IDS_REMAINING_MINUTES, {FormatArg::Integer(minutes)});
    return Format(strings, IDS_REMAINING_UNDER_A_MINUTE, {});
}

std::u16string DownloadFolderName(std::u16string_view folder) {
    const size_t slash = folder.rfind(u'\\');
    return std::u16string(slash == std::u16string_view::npos ? folder : folder.substr(slash + 1));
}

bool AppendTransferSection(TrayMenu& menu, TransferDirection direction, const TrayMenuSnapshot& snapshot,
                           const UiStringSource& strings) {
    const bool upload = direction == TransferDirection::Upload;
    const DirectionIds& ids = upload ? kUploadIds : kDownloadIds;
    const TransferProgress& progress = upload ? snapshot.upload : snapshot.download;
    const TransferCounts& files = progress.files;
    const TransferCounts& bytes = progress.bytes;

    const int64_t total = Sum({files.running, files.pending, files.paused, files.finished, files.errored});
    if (total <= 0) return false;

    bool done = false;
    if (total == Sum({files.finished, files.errored})) {
        const std::u16string finishedTime = MenuLiteral(upload ? snapshot.lastUploadTime : snapshot.lastDownloadTime);
        AppendCommand(menu, ids.progress + 1000,
                      Format(strings, ids.finished, {FormatArg::Integer(files.finished), FormatArg::Text(finishedTime)}),
                      BMP_FINISHED);
        done = true;
    } else {
        const bool paused = snapshot.statusName == kTransferPaused;
        AppendCommand(menu, ids.progress,
                      Format(strings, paused ? ids.paused : ids.running, {FormatArg::Integer(total)}),
                      ids.progressBitmap);
        if (!paused) {
            const int64_t bytesAll = Sum({bytes.running, bytes.pending, bytes.paused, bytes.finished, bytes.errored});
            const int64_t bytesDone = Sum({bytes.finished, bytes.errored});
            const ByteAmount doneAmount = ExpressBytes(bytesDone);
            const ByteAmount allAmount = ExpressBytes(bytesAll);
            const std::u16string doneUnit = strings(doneAmount.unit);
            const std::u16string allUnit = strings(allAmount.unit);
            AppendInformation(menu, Format(strings, IDS_BYTE_PROGRESS,
                                           {FormatArg::Integer(BytePercent(bytesDone, bytesAll)),
                                            FormatArg::Real(doneAmount.value), FormatArg::Text(doneUnit),
                                            FormatArg::Real(allAmount.value), FormatArg::Text(allUnit)}));
            if (progress.timeRemaining > 0) {
                std::u16string remaining = FormatRemainingTime(progress.timeRemaining, strings);
                if (!remaining.empty()) AppendInformation(menu, std::move(remaining));
            }
        }
    }
    if (files.errored > 0)
        AppendCommand(menu, ids.errors, Format(strings, ids.errorsText, {FormatArg::Integer(files.errored)}),
                      BMP_ERRORS);
    AppendSeparator(menu);
    return done;
}

TrayMenu BuildStartupMenu(const UiStringSource& strings) {
    TrayMenu menu;
    AppendCommand(menu, CMD_UPLOADS_PAGE, Text(strings, IDS_UPLOADS_PAGE_STARTUP));
    AppendCommand(menu, CMD_EXIT, Text(strings, IDS_EXIT));
    return menu;
}

TrayMenu BuildSettingsMenu(const TrayMenuSnapshot& snapshot, const UiStringSource& strings) {
    TrayMenu menu;
    menu.items.push_back(TrayMenuItem{CMD_START_WITH_WINDOWS, snapshot.autostartEnabled ? kMenuItemChecked : 0u,
                                      Text(strings, IDS_START_WITH_WINDOWS), 0, {}});
    AppendSeparator(menu);
    const std::u16string folderName = MenuLiteral(DownloadFolderName(snapshot.downloadFolder));
    AppendInformation(menu, Format(strings, IDS_DOWNLOAD_FOLDER_LINE, {FormatArg::Text(folderName)}));
    AppendCommand(menu, CMD_OPEN_DOWNLOAD_FOLDER, Text(strings, IDS_OPEN_DOWNLOAD_FOLDER));
    AppendCommand(menu, CMD_CHANGE_DOWNLOAD_FOLDER, Text(strings, IDS_CHANGE_DOWNLOAD_FOLDER));
    AppendSeparator(menu);
    if (snapshot.signedIn) {
        AppendInformation(menu, Text(strings, IDS_SIGNED_IN_LINE));
        AppendCommand(menu, CMD_SIGN_IN_OR_OUT, Text(strings, IDS_SIGN_OUT));
    } else {
        AppendCommand(menu, CMD_SIGN_IN_OR_OUT, Text(strings, IDS_SIGN_IN));
    }
    return menu;
}

TrayMenu BuildHelpMenu(const UiStringSource& strings) {
    TrayMenu menu;
    AppendCommand(menu, CMD_ABOUT, Text(strings, IDS_ABOUT));
    AppendSeparator(menu);
    AppendCommand(menu, CMD_TOUR, Text(strings, IDS_TOUR));
    AppendCommand(menu, CMD_HELP, Text(strings, IDS_HELP));
    AppendSeparator(menu);
    AppendCommand(menu, CMD_FEEDBACK, Text(strings, IDS_FEEDBACK));
    return menu;
}

TrayMenu BuildMainMenu(const TrayMenuSnapshot& snapshot, const UiStringSource& strings) {
    TrayMenu menu;
    AppendCommand(menu, CMD_UPLOADS_PAGE, Text(strings, IDS_UPLOADS_PAGE));
    if (snapshot.signedIn) AppendCommand(menu, CMD_DROP_WINDOW, Text(strings, IDS_DROP_WINDOW));
    AppendSeparator(menu);

    const bool upDone = AppendTransferSection(menu, TransferDirection::Upload, snapshot, strings);
    const bool downDone = AppendTransferSection(menu, TransferDirection::Download, snapshot, strings);

    if (snapshot.statusName == kTransferProgress && !(upDone && downDone)) {
        AppendCommand(menu, CMD_PAUSE_ALL, Text(strings, IDS_PAUSE_ALL), BMP_PAUSE_ALL);
        menu.debugLines.push_back(u"enabled tranfer state\n");
        AppendCommand(menu, CMD_CANCEL_ALL, Text(strings, IDS_CANCEL_ALL), BMP_CANCEL_ALL);
        AppendSeparator(menu);
    } else if (snapshot.statusName == kTransferPaused) {
        AppendCommand(menu, CMD_RESUME_ALL, Text(strings, IDS_RESUME_ALL), BMP_RESUME_ALL);
        menu.debugLines.push_back(u"paused tranfer state\n");
        AppendCommand(menu, CMD_CANCEL_ALL, Text(strings, IDS_CANCEL_ALL), BMP_CANCEL_ALL);
        AppendSeparator(menu);
    } else {
        menu.debugLines.push_back(u"disable transfer state\n");
    }

    if (!snapshot.storageText.empty() && snapshot.signedIn) {
        menu.items.push_back(TrayMenuItem{CMD_STORAGE_LINE, kMenuItemDisabled,
                                          CutTrayText(snapshot.storageText, kMenuTextMaxUnits), 0, {}});
        AppendCommand(menu, CMD_MANAGE_STORAGE, Text(strings, IDS_MANAGE_STORAGE));
        AppendSeparator(menu);
    }

    AppendSubmenu(menu, Text(strings, IDS_SETTINGS_MENU), BuildSettingsMenu(snapshot, strings));
    AppendSubmenu(menu, Text(strings, IDS_HELP_MENU), BuildHelpMenu(strings));
    AppendSeparator(menu);
    AppendCommand(menu, CMD_EXIT, Text(strings, IDS_EXIT));
    return menu;
}

}  // namespace vantorel
