#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "agent/tray/tray_commands.h"
#include "agent/tray/tray_menu.h"
#include "protocol/utf8.h"
#include "resources/ui_strings.h"

namespace vantorel {
namespace {

// The English texts the menus use; anything else reads as "#ID".
std::u16string EnglishText(unsigned id) {
    static const std::map<unsigned, std::u16string> texts = {
        {IDS_ABOUT, u"About"}, {IDS_HELP, u"Help"}, {IDS_CANCEL_ALL, u"Cancel all"},
        {IDS_CHANGE_DOWNLOAD_FOLDER, u"Change folder"}, {IDS_UPLOADS_PAGE_STARTUP, u"View uploads (starting)"},
        {IDS_DOWNLOAD_PROGRESS, u"Downloading {0}"}, {IDS_DOWNLOAD_ERRORS, u"Download errors {0}"},
        {IDS_DOWNLOADS_FINISHED, u"Downloads finished {0} at {1}"}, {IDS_DOWNLOAD_PAUSED, u"Downloads paused {0}"},
        {IDS_DOWNLOAD_FOLDER_LINE, u"Folder: {0}"}, {IDS_EXIT, u"Exit"}, {IDS_MANAGE_STORAGE, u"Manage storage"},
        {IDS_HELP_MENU, u"Help menu"}, {IDS_OPEN_DOWNLOAD_FOLDER, u"Open folder"}, {IDS_DROP_WINDOW, u"Drop window"},
        {IDS_UPLOADS_PAGE, u"View uploads"}, {IDS_SETTINGS_MENU, u"Settings"}, {IDS_PAUSE_ALL, u"Pause all"},
        {IDS_BYTE_PROGRESS, u"{0}% done: {1:.1} {2} of {3:.1} {4}"}, {IDS_RESUME_ALL, u"Resume all"},
        {IDS_FEEDBACK, u"Feedback"}, {IDS_SIGNED_IN_LINE, u"Signed in"}, {IDS_SIGN_IN, u"Sign in"},
        {IDS_SIGN_OUT, u"Sign out"}, {IDS_START_WITH_WINDOWS, u"Start with Windows"}, {IDS_TOUR, u"Tour"},
        {IDS_REMAINING_DAYS, u"{0} d"}, {IDS_REMAINING_DAYS_HOURS, u"{0} d {1} h"}, {IDS_REMAINING_HOURS, u"{0} h"},
        {IDS_REMAINING_HOURS_MINUTES, u"{0} h {1} min"}, {IDS_REMAINING_MINUTES, u"{0} min"},
        {IDS_REMAINING_UNDER_A_MINUTE, u"under a minute"}, {IDS_UPLOAD_PROGRESS, u"Uploading {0}"},
        {IDS_UPLOAD_ERRORS, u"Upload errors {0}"}, {IDS_UPLOADS_FINISHED, u"Uploads finished {0} at {1}"},
        {IDS_UPLOAD_PAUSED, u"Uploads paused {0}"}, {IDS_UNIT_KB, u"KB"}, {IDS_UNIT_MB, u"MB"}, {IDS_UNIT_GB, u"GB"},
    };
    const auto found = texts.find(id);
    if (found != texts.end()) return found->second;
    const std::string number = std::to_string(id);
    return u"#" + std::u16string(number.begin(), number.end());
}

// One line an item: identifier, text, and its flags and picture; a
// submenu's items follow, indented.
void Dump(const std::vector<TrayMenuItem>& items, const std::string& indent, std::string& out) {
    for (const TrayMenuItem& item : items) {
        out += indent;
        if (item.flags & kMenuItemSeparator) {
            out += "----";
        } else {
            out += std::to_string(item.id) + " " + EncodeUtf8(item.text);
            if (item.flags & kMenuItemDisabled) out += " [off]";
            if (item.flags & kMenuItemChecked) out += " [x]";
            if (item.bitmap) out += " (" + std::to_string(item.bitmap) + ")";
        }
        out += "\n";
        if (item.flags & kMenuItemPopup) Dump(item.submenu, indent + "  ", out);
    }
}

std::string Dump(const TrayMenu& menu, bool withSubmenus = true) {
    std::string out;
    std::vector<TrayMenuItem> items = menu.items;
    if (!withSubmenus)
        for (TrayMenuItem& item : items) item.submenu.clear();
    Dump(items, "", out);
    for (const std::u16string& line : menu.debugLines) out += "debug: " + EncodeUtf8(line);
    return out;
}

TransferCounts Counts(int64_t running, int64_t finished, int64_t paused, int64_t errored, int64_t pending) {
    return TransferCounts{running, finished, paused, errored, pending};
}

TrayMenuSnapshot SignedIn(std::u16string status) {
    TrayMenuSnapshot snapshot;
    snapshot.signedIn = true;
    snapshot.statusName = std::move(status);
    snapshot.storageText = u"50% of 10 GB used";
    snapshot.downloadFolder = u"C:\\Data\\Downloads";
    snapshot.lastUploadTime = u"10:41";
    snapshot.lastDownloadTime = u"9:05";
    return snapshot;
}

constexpr char kSettingsAndHelp[] =
    "10000 Settings\n"
    "10000 Help menu\n"
    "----\n"
    "3000 Exit\n";

TEST(TrayMenu, StartupMenuHoldsOnlyTheUploadsPageAndExit)
{
    EXPECT_EQ(Dump(BuildStartupMenu(EnglishText)), "3017 View uploads (starting)\n3000 Exit\n");
}

TEST(TrayMenu, MainMenuForEachStateOfTheAgent)
{
    struct Case {
        const char* name;
        TrayMenuSnapshot snapshot;
        std::string expected;  // the top level, submenus left out
    };
    TrayMenuSnapshot signedOut;
    signedOut.statusName = u"logged_out";
    signedOut.storageText = u"stale line";

    TrayMenuSnapshot uploading = SignedIn(u"progress");
    uploading.upload = {Counts(1, 2, 0, 1, 0), Counts(3145728, 1048576, 0, 0, 0), 90061};

    TrayMenuSnapshot paused = SignedIn(u"paused");
    paused.upload = {Counts(0, 1, 2, 0, 0), Counts(0, 10, 20, 0, 0), 60};

    TrayMenuSnapshot bothDone = SignedIn(u"progress");
    bothDone.upload = {Counts(0, 5, 0, 0, 0), {}, 0};
    bothDone.download = {Counts(0, 2, 0, 1, 0), {}, 0};

    TrayMenuSnapshot downloadOnly = SignedIn(u"progress");
    downloadOnly.download = {Counts(0, 4, 0, 0, 4), Counts(0, 4096, 0, 0, 4096), 3660};

    TrayMenuSnapshot hostile = SignedIn(u"progress");
    const int64_t big = INT64_MAX;
    hostile.upload = {Counts(big, 1, big, 0, 0), Counts(big, big, -big, big, big), big};

    const Case cases[] = {
        {"signed out: no drop window, no storage line", signedOut,
         "3017 View uploads\n----\n" + std::string(kSettingsAndHelp) + "debug: disable transfer state\n"},
        {"signed in and idle", SignedIn(u"idle"),
         "3017 View uploads\n3020 Drop window\n----\n"
         "3005 50% of 10 GB used [off]\n3007 Manage storage\n----\n" +
             std::string(kSettingsAndHelp) + "debug: disable transfer state\n"},
        {"uploading: byte line, remaining time, errors, pause and cancel", uploading,
         "3017 View uploads\n3020 Drop window\n----\n"
         "3008 Uploading 4 (56)\n"
         "10000 25% done: 1024.0 KB of 4.0 MB [off]\n"
         "10000 1 d 1 h [off]\n"
         "3018 Upload errors 1 (50)\n----\n"
         "3009 Pause all (53)\n3011 Cancel all (51)\n----\n"
         "3005 50% of 10 GB used [off]\n3007 Manage storage\n----\n" +
             std::string(kSettingsAndHelp) + "debug: enabled tranfer state\n"},
        {"paused: no byte line, resume and cancel", paused,
         "3017 View uploads\n3020 Drop window\n----\n"
         "3008 Uploads paused 3 (56)\n----\n"
         "3010 Resume all (54)\n3011 Cancel all (51)\n----\n"
         "3005 50% of 10 GB used [off]\n3007 Manage storage\n----\n" +
             std::string(kSettingsAndHelp) + "debug: paused tranfer state\n"},
        {"both directions done while in progress: no pause or cancel", bothDone,
         "3017 View uploads\n3020 Drop window\n----\n"
         "4008 Uploads finished 5 at 10:41 (55)\n----\n"
         "4014 Downloads finished 2 at 9:05 (55)\n"
         "3019 Download errors 1 (50)\n----\n"
         "3005 50% of 10 GB used [off]\n3007 Manage storage\n----\n" +
             std::string(kSettingsAndHelp) + "debug: disable transfer state\n"},
        {"an empty direction counts as not done: pause and cancel stay", downloadOnly,
         "3017 View uploads\n3020 Drop window\n----\n"
         "3014 Downloading 8 (52)\n"
         "10000 50% done: 4.0 KB of 8.0 KB [off]\n"
         "10000 1 h 1 min [off]\n----\n"
         "3009 Pause all (53)\n3011 Cancel all (51)\n----\n"
         "3005 50% of 10 GB used [off]\n3007 Manage storage\n----\n" +
             std::string(kSettingsAndHelp) + "debug: enabled tranfer state\n"},
        // Sums saturate instead of overflowing; the line stays defined.
        {"hostile counts", hostile,
         "3017 View uploads\n3020 Drop window\n----\n"
         "3008 Uploading 9223372036854775807 (56)\n"
         "10000 99% done: 8589934592.0 GB of 8589934592.0 GB [off]\n"
         "10000 4294967295 d 15 h [off]\n----\n"
         "3009 Pause all (53)\n3011 Cancel all (51)\n----\n"
         "3005 50% of 10 GB used [off]\n3007 Manage storage\n----\n" +
             std::string(kSettingsAndHelp) + "debug: enabled tranfer state\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Dump(BuildMainMenu(c.snapshot, EnglishText), false), c.expected);
    }
}

TEST(TrayMenu, SubmenusOfTheMainMenu)
{
    TrayMenuSnapshot snapshot = SignedIn(u"idle");
    snapshot.autostartEnabled = true;
    snapshot.downloadFolder = u"C:\\R&D";  // a menu would take "&" for an access key
    const TrayMenu menu = BuildMainMenu(snapshot, EnglishText);
    std::string dump = Dump(menu);
    dump = dump.substr(dump.find("10000 Settings"));
    EXPECT_EQ(dump,
              "10000 Settings\n"
              "  3003 Start with Windows [x]\n  ----\n"
              "  10000 Folder: R&&D [off]\n  3016 Open folder\n  3013 Change folder\n  ----\n"
              "  10000 Signed in [off]\n  3001 Sign out\n"
              "10000 Help menu\n"
              "  3006 About\n  ----\n  3015 Tour\n  9999 Help\n  ----\n  9998 Feedback\n"
              "----\n3000 Exit\n"
              "debug: disable transfer state\n");

    TrayMenuSnapshot signedOut;
    EXPECT_EQ(Dump(BuildSettingsMenu(signedOut, EnglishText)),
              "3003 Start with Windows\n----\n10000 Folder:  [off]\n3016 Open folder\n3013 Change folder\n"
              "----\n3001 Sign in\n");
}

TEST(TrayMenu, TransferSectionLines)
{
    struct Case {
        const char* name;
        TransferProgress upload;
        std::string expected;
        bool done;
    };
    const Case cases[] = {
        {"nothing at all: no line, no separator", {}, "", false},
        {"all done and errored", {Counts(0, 3, 0, 2, 0), {}, 0},
         "4008 Uploads finished 3 at 10:41 (55)\n3018 Upload errors 2 (50)\n----\n", true},
        {"done equal to all while running shows 99", {Counts(1, 0, 0, 0, 0), Counts(0, 7, 0, 0, 0), 0},
         "3008 Uploading 1 (56)\n10000 99% done: 0.0 KB of 0.0 KB [off]\n----\n", false},
        {"no bytes yet", {Counts(0, 0, 0, 0, 2), {}, 59},
         "3008 Uploading 2 (56)\n10000 0% done: 0.0 KB of 0.0 KB [off]\n10000 under a minute [off]\n----\n", false},
        {"unit boundaries", {Counts(1, 0, 0, 0, 0), Counts(1073741824 - 1048576, 1048576, 0, 0, 0), 0},
         "3008 Uploading 1 (56)\n10000 0% done: 1024.0 KB of 1024.0 MB [off]\n----\n", false},
        {"just above a megabyte", {Counts(1, 0, 0, 0, 0), Counts(1073741824, 1048577, 0, 0, 0), 0},
         "3008 Uploading 1 (56)\n10000 0% done: 1.0 MB of 1.0 GB [off]\n----\n", false},
        {"negative counts read as kilobytes", {Counts(1, 0, 0, 0, 0), Counts(-2048, 0, 0, 0, 0), -5},
         "3008 Uploading 1 (56)\n10000 0% done: 0.0 KB of -2.0 KB [off]\n----\n", false},
        {"negative totals show nothing", {Counts(-3, 1, 0, 0, 0), {}, 0}, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrayMenuSnapshot snapshot = SignedIn(u"progress");
        snapshot.upload = c.upload;
        TrayMenu menu;
        EXPECT_EQ(AppendTransferSection(menu, TransferDirection::Upload, snapshot, EnglishText), c.done);
        EXPECT_EQ(Dump(menu), c.expected);
    }
}

TEST(TrayMenu, RemainingTimeAndFolderName)
{
    const std::pair<int64_t, const char*> times[] = {
        {90061, "1 d 1 h"}, {86400 + 60, "1 d"}, {3660, "1 h 1 min"}, {3600, "1 h"},
        {3599, "59 min"},   {60, "1 min"},       {59, "under a minute"}, {0, "under a minute"},
        {-3601, "under a minute"},
    };
    for (const auto& [seconds, text] : times)
        EXPECT_EQ(EncodeUtf8(FormatRemainingTime(seconds, EnglishText)), text) << seconds;

    EXPECT_TRUE(DownloadFolderName(u"C:\\Data\\Downloads") == u"Downloads");
    EXPECT_TRUE(DownloadFolderName(u"Downloads") == u"Downloads");
    EXPECT_TRUE(DownloadFolderName(u"C:\\Data\\") == u"");
}

TEST(TrayMenu, TextsAreCutTo255UnitsWithoutSplittingAPair)
{
    std::u16string longName(254, u'a');
    longName += u"\U0001F600tail";
    TrayMenuSnapshot snapshot;
    snapshot.downloadFolder = longName;
    const auto strings = [](unsigned id) { return id == IDS_DOWNLOAD_FOLDER_LINE ? u"{0}" : EnglishText(id); };
    const TrayMenu menu = BuildSettingsMenu(snapshot, strings);
    EXPECT_EQ(menu.items[2].text.size(), 254u);
}

TEST(TrayCommands, EachIdentifierHasItsCommand)
{
    struct Case {
        uint32_t id;
        bool signedIn;
        TrayAction action;
        ServiceRequest request;
    };
    const Case cases[] = {
        {CMD_EXIT, true, TrayAction::ConfirmExit, {}},
        {CMD_SIGN_IN_OR_OUT, true, TrayAction::ConfirmSignOut, {}},
        {CMD_SIGN_IN_OR_OUT, false, TrayAction::Request, ServiceRequest::Login},
        {CMD_START_WITH_WINDOWS, false, TrayAction::ToggleAutostart, {}},
        {CMD_STORAGE_LINE, true, TrayAction::None, {}},
        {CMD_ABOUT, true, TrayAction::Request, ServiceRequest::ShowAbout},
        {CMD_MANAGE_STORAGE, true, TrayAction::Request, ServiceRequest::LaunchManagePage},
        {CMD_UPLOAD_PROGRESS, true, TrayAction::Request, ServiceRequest::LaunchUploadsPage},
        {CMD_PAUSE_ALL, true, TrayAction::Request, ServiceRequest::PauseAll},
        {CMD_RESUME_ALL, true, TrayAction::Request, ServiceRequest::ResumeAll},
        {CMD_CANCEL_ALL, true, TrayAction::Request, ServiceRequest::CancelAll},
        {CMD_CHANGE_DOWNLOAD_FOLDER, true, TrayAction::Request, ServiceRequest::PickDownloadDirectory},
        {CMD_DOWNLOAD_PROGRESS, true, TrayAction::OpenDownloadFolder, {}},
        {CMD_TOUR, true, TrayAction::Request, ServiceRequest::ShowTour},
        {CMD_OPEN_DOWNLOAD_FOLDER, true, TrayAction::OpenDownloadFolder, {}},
        {CMD_UPLOADS_PAGE, true, TrayAction::Request, ServiceRequest::LaunchUploadsPage},
        {CMD_UPLOAD_ERRORS, true, TrayAction::Request, ServiceRequest::ShowErrors},
        {CMD_DOWNLOAD_ERRORS, true, TrayAction::Request, ServiceRequest::ShowErrors},
        {CMD_DROP_WINDOW, true, TrayAction::Request, ServiceRequest::ShowDragDrop},
        {CMD_UPLOADS_FINISHED, true, TrayAction::Request, ServiceRequest::LaunchUploadsPage},
        {CMD_DOWNLOADS_FINISHED, true, TrayAction::OpenDownloadFolder, {}},
        {CMD_FEEDBACK, true, TrayAction::Request, ServiceRequest::LaunchFeedbackPage},
        {CMD_HELP, true, TrayAction::Request, ServiceRequest::LaunchHelpPage},
        {CMD_INFORMATION, true, TrayAction::None, {}},
        {0, true, TrayAction::None, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const TrayCommand command = CommandForMenuId(c.id, c.signedIn);
        EXPECT_EQ(command.action, c.action);
        if (c.action == TrayAction::Request) {
            EXPECT_EQ(command.request, c.request);
        }
    }
}

TEST(TrayCommands, ConfirmationAsksOnlyWhileFilesMoveAndCancelSendsNothing)
{
    struct Case {
        Confirmation which;
        std::u16string status;
        bool answer;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {Confirmation::Exit, u"idle", false, {"send shutdown", "quit"}},
        {Confirmation::Exit, u"", false, {"send shutdown", "quit"}},  // the service does not answer
        {Confirmation::Exit, u"{\"status\":\"progress\"}", false, {"ask #107/#108"}},
        {Confirmation::Exit, u"progress", true, {"ask #107/#108", "send shutdown", "quit"}},
        {Confirmation::SignOut, u"paused", false, {"send logout"}},
        {Confirmation::SignOut, u"progress", false, {"ask #105/#106"}},
        {Confirmation::SignOut, u"progress", true, {"ask #105/#106", "send logout"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> log;
        ConfirmationIo io;
        io.fetch = [&](ServiceRequest request) {
            EXPECT_EQ(request, ServiceRequest::TransferStatus);
            return c.status;
        };
        io.askOkCancel = [&](const std::u16string& text, const std::u16string& caption) {
            log.push_back("ask " + EncodeUtf8(text) + "/" + EncodeUtf8(caption));
            return c.answer;
        };
        io.send = [&](ServiceRequest request) { log.push_back("send " + EncodeUtf8(ServiceRequestName(request))); };
        io.postQuit = [&] { log.push_back("quit"); };
        RunConfirmation(c.which, io, EnglishText);
        EXPECT_EQ(log, c.expected) << EncodeUtf8(c.status);
    }
}

TEST(TrayCommands, AutostartValueIsQuotedAndNamesOnlyThisExecutable)
{
    const std::u16string exe = u"C:\\Users\\Ann Lee\\AppData\\Local\\Vantorel\\Vantorel.exe";
    EXPECT_TRUE(AutostartValueFor(exe) == u"\"" + exe + u"\"");
    const std::pair<std::u16string, bool> values[] = {
        {AutostartValueFor(exe), true},
        {exe, true},  // written unquoted by an earlier version
        {u"  \"c:\\users\\ann lee\\appdata\\local\\vantorel\\VANTOREL.EXE\" ", true},
        {u"\"D:\\Old\\Vantorel.exe\"", false},  // an install that has moved
        {u"\"" + exe + u"\" /background", false},
        {u"\"" + exe, false},
        {u"", false},
    };
    for (const auto& [value, names] : values)
        EXPECT_EQ(AutostartValueNames(value, exe), names) << EncodeUtf8(value);
    EXPECT_FALSE(AutostartValueNames(u"", u""));
}

TEST(TrayCommands, StartsWithWindowsOnlyWhenExplorerHasNotDisabledIt)
{
    const struct {
        bool names;
        std::optional<std::string> approved;
        bool starts;
    } cases[] = {
        {true, std::nullopt, true},
        {true, std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12), true},
        {true, std::string("\x03\0\0\0\x9c\x1f\x6e\x3a\x53\x8b\xda\x01", 12), false},
        {true, std::string("\x06", 1), true},
        {true, std::string("\x07", 1), false},
        {true, std::string(), true},
        {false, std::nullopt, false},
        {false, std::string("\x02", 1), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StartsWithWindows(c.names, c.approved), c.starts) << c.names << (c.approved ? c.approved->size() : 99);
}

}  // namespace
}  // namespace vantorel
