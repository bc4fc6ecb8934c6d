// The string identifiers of Pellick.dll and, for the formats among them, the
// arguments their callers pass, in order. Texts of every language are checked
// against this table, so a translation cannot ask for an argument its caller
// does not give.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "resources/text_format.h"

namespace vantorel {

enum UiStringId : unsigned {
    IDS_ABOUT = 100,
    IDS_HELP = 101,
    IDS_CANCEL_ALL = 103,
    IDS_CHANGE_DOWNLOAD_FOLDER = 104,
    IDS_CONFIRM_SIGN_OUT_TEXT = 105,
    IDS_CONFIRM_SIGN_OUT_CAPTION = 106,
    IDS_CONFIRM_EXIT_TEXT = 107,
    IDS_CONFIRM_EXIT_CAPTION = 108,
    IDS_STORAGE_CHECKING = 109,
    IDS_UPLOADS_PAGE_STARTUP = 110,
    IDS_DOWNLOAD_PROGRESS = 111,          // total files
    IDS_DOWNLOAD_ERRORS = 112,            // errored files
    IDS_DOWNLOADS_FINISHED = 113,         // finished files, time of the last download
    IDS_DOWNLOAD_PAUSED = 114,            // total files
    IDS_DOWNLOAD_FOLDER_LINE = 115,       // the folder's last name
    IDS_EXIT = 116,
    IDS_MANAGE_STORAGE = 117,
    IDS_HELP_MENU = 118,
    IDS_OPEN_DOWNLOAD_FOLDER = 119,
    IDS_DROP_WINDOW = 120,
    IDS_UPLOADS_PAGE = 121,
    IDS_SETTINGS_MENU = 122,
    IDS_PAUSE_ALL = 123,
    IDS_BYTE_PROGRESS = 124,              // percent, done, done unit, all, all unit
    IDS_RESUME_ALL = 126,
    IDS_FEEDBACK = 127,
    IDS_SIGNED_IN_LINE = 128,
    IDS_STORAGE_SIGNING_IN = 129,
    IDS_STORAGE_SIGNED_OUT = 130,
    IDS_SIGN_IN = 131,
    IDS_SIGN_OUT = 132,
    IDS_START_WITH_WINDOWS = 134,
    IDS_STORAGE_LINE = 135,               // percent used, total gigabytes
    IDS_TOUR = 136,
    IDS_REMAINING_DAYS = 137,             // days
    IDS_REMAINING_DAYS_HOURS = 138,       // days, hours
    IDS_REMAINING_HOURS = 139,            // hours
    IDS_REMAINING_HOURS_MINUTES = 140,    // hours, minutes
    IDS_REMAINING_MINUTES = 141,          // minutes
    IDS_REMAINING_UNDER_A_MINUTE = 142,   // a format without arguments
    IDS_UPLOAD_PROGRESS = 143,            // total files
    IDS_UPLOAD_ERRORS = 144,              // errored files
    IDS_UPLOADS_FINISHED = 145,           // finished files, time of the last upload
    IDS_UPLOAD_PAUSED = 146,              // total files
    IDS_DROP_INSERT = 147,
    IDS_UNIT_KB = 148,
    IDS_UNIT_MB = 149,
    IDS_UNIT_GB = 150,
    // The tray icon's tooltip, the product name first.
    IDS_TOOLTIP_SIGNED_OUT = 151,         // product name
    IDS_TOOLTIP_UP_TO_DATE = 152,         // product name
    IDS_TOOLTIP_UPLOADING_ONE_FILE = 153,  // product name, files (1)
    IDS_TOOLTIP_UPLOADING_FILES = 154,    // product name, files
    IDS_TOOLTIP_TRANSFERRING = 155,       // product name
    IDS_TOOLTIP_PAUSED = 156,             // product name
    IDS_TOOLTIP_ERROR = 157,              // product name
};

// A format text and the kinds of the arguments its callers pass, in order.
// Counts, percentages, days, hours and minutes are all Integer (the 32-bit
// ones widened); byte amounts are Real; units, times and names are Text.
struct UiStringFormat {
    UiStringId id;
    std::span<const FormatArgKind> args;
};

// A string-table entry of the language module; empty when it has none.
using UiStringSource = std::function<std::u16string(unsigned id)>;

// Every identifier the agent asks for, ascending.
std::span<const UiStringId> AllUiStringIds();

// Every format, ascending by identifier.
std::span<const UiStringFormat> UiStringFormats();

// The format of id, or nullptr for a plain text (which must hold no braces).
const UiStringFormat* FindUiStringFormat(unsigned id);

}  // namespace vantorel
