// The user-interface texts and pictures of the language resource module
// ("Pellick.dll"), opened for the user's UI language. Windows only.
#pragma once

#include <string>

struct HINSTANCE__;  // HMODULE without <windows.h>

namespace vantorel {

// The module for the user's UI language, from the first of
// UiResourceModuleCandidates that loads, as a data file (its code never
// runs); null when none does. The caller releases it with FreeLibrary.
HINSTANCE__* LoadUiResourceModule();

// The string-table entry id of the module (at most 519 units), or empty
// when there is no module or no such entry. Opens and releases the module
// for each call, so any thread may call it.
std::u16string LoadUiString(unsigned id);

// The user's UI language as a name, such as "de-DE"; empty when unknown.
std::u16string GetUserUiLanguageName();
// The name of a language identifier as Windows XP gives it, which lacks
// LCIDToLocaleName: ISO 639 language, "-", ISO 3166 country.
std::u16string LocaleInfoLanguageName(unsigned short languageId);

}  // namespace vantorel
