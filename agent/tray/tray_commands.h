// What the tray menu's items do, decided without the platform: the command
// behind each identifier, the confirmation that guards exit and sign-out
// while files move, and the start-with-Windows value.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "agent/tray/tray_menu.h"
#include "protocol/service_api.h"

namespace vantorel {

enum class TrayAction {
    None,                // a separator, an information line, or nothing chosen
    Request,             // one control request to the service, on its own thread
    OpenDownloadFolder,  // the Agent state's download folder, on the window thread
    ConfirmExit,
    ConfirmSignOut,
    ToggleAutostart,
};

struct TrayCommand {
    TrayAction action = TrayAction::None;
    ServiceRequest request = ServiceRequest::Shutdown;  // Request only
};

// signedIn: the Agent state's flag when the item was chosen.
TrayCommand CommandForMenuId(uint32_t id, bool signedIn);

enum class Confirmation { Exit, SignOut };

// The outside world of a confirmation; each call may block.
struct ConfirmationIo {
    std::function<std::u16string(ServiceRequest)> fetch;  // reply text; empty when the request failed
    // An OK/Cancel question with no owner; true for OK.
    std::function<bool(const std::u16string& text, const std::u16string& caption)> askOkCancel;
    std::function<void(ServiceRequest)> send;  // the reply is dropped
    std::function<void()> postQuit;            // WM_QUIT to the tray window
};

// Asks only while the service reports a transfer in progress (a service that
// does not answer is not asked about); Cancel sends nothing. Exit then tells
// the service to shut down and ends the agent; sign-out signs out.
void RunConfirmation(Confirmation which, const ConfirmationIo& io, const UiStringSource& strings);

// The value "Vantorel" of the current user's Run key: the executable's path
// in double quotes, so that a path with blanks cannot be read as a shorter
// program ("C:\Users\Ann Lee\..." as C:\Users\Ann.exe).
std::u16string AutostartValueFor(std::u16string_view executablePath);

// Folds one UTF-16 unit for a case-insensitive path comparison.
using PathUnitFold = char16_t (*)(char16_t unit);
char16_t FoldAsciiCase(char16_t unit);

// True when value starts this executable: the value with surrounding blanks
// and one pair of quotes removed equals the path, compared unit by unit
// after folding. A value left by an install that has moved does not.
bool AutostartValueNames(std::u16string_view value, std::u16string_view executablePath,
                         PathUnitFold fold = FoldAsciiCase);

// Where Explorer (Windows 8 and later; Task Manager's Startup tab, Settings)
// marks a Run value the user disabled without removing it: a binary value of
// the same name whose first byte is odd while it is disabled.
inline constexpr std::u16string_view kStartupApprovedRunKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

// Whether Windows will start this executable at sign-in: the Run value names
// it (AutostartValueNames) and no StartupApproved value (its bytes, when
// there is one) marks it disabled.
bool StartsWithWindows(bool runValueNamesThis, const std::optional<std::string>& startupApproved);

}  // namespace vantorel
