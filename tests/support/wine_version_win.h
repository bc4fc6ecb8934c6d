// Which Windows version Wine reports to Vantorel.exe: its per-program
// setting, so that no other program of the prefix changes.
#pragma once

#include <windows.h>

#include <string>

namespace driver {

// name: Wine's version name, such as "win7", "vista" or "winxp".
inline void SetAgentWindowsVersion(const char* name)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Vantorel.exe", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    const std::string narrow(name);
    const std::wstring value(narrow.begin(), narrow.end());
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// Back to what the prefix reports for every program, for the tests after.
inline void ClearAgentWindowsVersion()
{
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Vantorel.exe");
}

}  // namespace driver
