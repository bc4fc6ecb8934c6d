#include "agent/tray/autostart_win.h"

#include <windows.h>

#include <optional>
#include <string>

#include "agent/core/agent_messages.h"
#include "agent/service/service_launcher_win.h"
#include "agent/tray/tray_commands.h"
#include "protocol/debug_output.h"

namespace vantorel {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

const std::wstring& ValueName() {
    static const std::wstring name(kProductName.begin(), kProductName.end());
    return name;
}

// Windows compares file names without regard to case, as CharUpperW folds.
char16_t FoldPathUnit(char16_t unit) {
    const auto folded = reinterpret_cast<uintptr_t>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(unit))));
    return static_cast<char16_t>(folded & 0xFFFF);
}

// The whole value, however long: a fixed buffer would take a long value
// for a missing one.
bool ReadAutostartValue(std::u16string& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    bool read = false;
    std::wstring buffer;
    DWORD type = 0;
    for (int attempt = 0; attempt < 4 && !read; ++attempt) {
        DWORD bytes = 0;
        if (RegQueryValueExW(key, ValueName().c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) break;
        buffer.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        const LONG result = RegQueryValueExW(key, ValueName().c_str(), nullptr, &type,
                                             reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (result == ERROR_MORE_DATA) continue;  // it grew in between
        if (result != ERROR_SUCCESS) break;
        buffer.resize(size / sizeof(wchar_t));
        read = true;
    }
    RegCloseKey(key);
    if (!read || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
    if (type == REG_EXPAND_SZ) {
        const DWORD needed = ExpandEnvironmentStringsW(buffer.c_str(), nullptr, 0);
        std::wstring expanded(needed, L'\0');
        if (needed == 0 || ExpandEnvironmentStringsW(buffer.c_str(), expanded.data(), needed) == 0) return false;
        expanded.resize(needed - 1);
        buffer.swap(expanded);
    }
    value.assign(buffer.begin(), buffer.end());
    return true;
}

const std::wstring& ApprovedKey() {
    static const std::wstring key(kStartupApprovedRunKey.begin(), kStartupApprovedRunKey.end());
    return key;
}

// Explorer's mark for the Run value, when it has made one.
std::optional<std::string> ReadStartupApproval() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ApprovedKey().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    std::string bytes(64, '\0');
    DWORD size = static_cast<DWORD>(bytes.size());
    const LONG result =
        RegQueryValueExW(key, ValueName().c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(bytes.data()), &size);
    RegCloseKey(key);
    // Only its first byte counts; a longer value is read in part.
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return std::nullopt;
    bytes.resize(result == ERROR_SUCCESS ? size : bytes.size());
    return bytes;
}

// Removes a disabled (or any) mark, so that the Run value written next is
// the one Windows follows.
void ClearStartupApproval() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ApprovedKey().c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, ValueName().c_str());
    RegCloseKey(key);
}

}  // namespace

bool IsAutostartEnabled() {
    std::u16string value;
    const bool names = ReadAutostartValue(value) && AutostartValueNames(value, GetModulePath(), FoldPathUnit);
    return StartsWithWindows(names, names ? ReadStartupApproval() : std::nullopt);
}

void SetAutostart(bool enable) {
    // Created when missing, as in a new user profile: opening alone would
    // leave the item unchecked however often it is chosen.
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (enable) {
        ClearStartupApproval();
        const std::u16string value = AutostartValueFor(GetModulePath());
        RegSetValueExW(key, ValueName().c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
    } else if (RegDeleteValueW(key, ValueName().c_str()) != ERROR_SUCCESS) {
        DebugOutput(u"Failed");
    }
    RegCloseKey(key);
}

}  // namespace vantorel
