#include "agent/service/ui_resources_win.h"

#include <windows.h>

#include <string>
#include <string_view>

#include "agent/service/service_launcher_win.h"
#include "agent/service/ui_language.h"
#include "agent/service/windows_version.h"
#include "agent/service/windows_version_win.h"

namespace vantorel {

namespace {

#ifndef MUI_LANGUAGE_NAME
#define MUI_LANGUAGE_NAME 0x8
#endif
#ifndef LOAD_LIBRARY_AS_IMAGE_RESOURCE
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x20
#endif

// Functions that Windows XP lacks, looked up when needed.
template <typename Function>
Function Kernel32Function(const char* name) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

using SetPreferredUILanguagesFunction = BOOL(WINAPI*)(DWORD, PCWSTR, PULONG);
using LCIDToLocaleNameFunction = int(WINAPI*)(LCID, LPWSTR, int, DWORD);

// Drops any preferred-language list of the process (or thread), so that
// the user's own UI language decides.
void ClearPreferredUiLanguages() {
    auto setPreferred = Kernel32Function<SetPreferredUILanguagesFunction>("SetProcessPreferredUILanguages");
    if (!setPreferred)
        setPreferred = Kernel32Function<SetPreferredUILanguagesFunction>("SetThreadPreferredUILanguages");
    if (!setPreferred) return;
    static const wchar_t noLanguages[432] = {};
    ULONG count = 0;
    setPreferred(MUI_LANGUAGE_NAME, noLanguages, &count);
}

std::u16string LocaleText(LCID locale, LCTYPE type) {
    wchar_t buffer[16] = {};
    const int length = GetLocaleInfoW(locale, type, buffer, 16);
    return length > 1 ? std::u16string(buffer, buffer + length - 1) : std::u16string();
}

}  // namespace

std::u16string GetUserUiLanguageName() {
    const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    if (auto toName = Kernel32Function<LCIDToLocaleNameFunction>("LCIDToLocaleName")) {
        wchar_t name[85] = {};  // LOCALE_NAME_MAX_LENGTH
        const int length = toName(locale, name, 85, 0);
        if (length > 1) return std::u16string(name, name + length - 1);
    }
    return LocaleInfoLanguageName(GetUserDefaultUILanguage());
}

std::u16string LocaleInfoLanguageName(unsigned short languageId) {
    const LCID locale = MAKELCID(languageId, SORT_DEFAULT);
    return UiLanguageName(LocaleText(locale, LOCALE_SISO639LANGNAME), LocaleText(locale, LOCALE_SISO3166CTRYNAME));
}

HINSTANCE__* LoadUiResourceModule() {
    ClearPreferredUiLanguages();
    if (!osVersionChecked) CheckWindowsVersion();
    // As a data file the module is mapped but never initialised, so a
    // replaced or damaged module cannot run code in the agent. Windows XP
    // refuses the image-resource flag.
    const DWORD flags = LOAD_LIBRARY_AS_DATAFILE | (isVistaOrLater ? LOAD_LIBRARY_AS_IMAGE_RESOURCE : 0);
    for (const std::u16string& path : UiResourceModuleCandidates(GetModuleDirectory(), GetUserUiLanguageName())) {
        const std::wstring widePath(path.begin(), path.end());
        if (GetFileAttributesW(widePath.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        if (HMODULE module = LoadLibraryExW(widePath.c_str(), nullptr, flags)) return module;
    }
    return nullptr;
}

std::u16string LoadUiString(unsigned id) {
    HMODULE module = LoadUiResourceModule();
    if (!module) return {};
    wchar_t buffer[520] = {};
    const int length = LoadStringW(module, id, buffer, 520);
    FreeLibrary(module);
    return length > 0 ? std::u16string(buffer, buffer + length) : std::u16string();
}

}  // namespace vantorel
