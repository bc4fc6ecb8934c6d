// Which file of the language resource module to open for the user's UI
// language. The module's language variants lie in folders named by language
// ("de-DE\Pellick.dll") beside the neutral module in the install directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

inline constexpr std::u16string_view kUiResourceModuleName = u"Pellick.dll";

// "de-DE" from "de" and "DE"; the language alone when there is no country;
// empty when there is no language.
std::u16string UiLanguageName(std::u16string_view languageCode, std::u16string_view countryCode);

// The folder of the shipped language that stands in for a display language
// without a module of its own: the same language of another country
// ("de-AT" -> "de-DE", "pt-PT" -> "pt-BR", "es-MX" -> "es-ES"). Chinese in
// the traditional script (Taiwan, Hong Kong, Macao, "zh-Hant") has none: a
// reader of it is better served by the neutral English than by the
// simplified script. Empty when there is no neighbour.
std::u16string_view NeighbourLanguageFolder(std::u16string_view uiLanguageName);

// The paths to try, in order: the folder of the full language name, then of
// each shorter name made by dropping its last "-" part ("zh-Hans-CN",
// "zh-Hans", "zh"), then the neighbour's folder, then the neutral module in
// the install directory itself. A name that could leave its folder
// (separators, "..", a drive colon) or an empty one gives the neutral module
// alone.
std::vector<std::u16string> UiResourceModuleCandidates(std::u16string_view installDirectory,
                                                       std::u16string_view uiLanguageName,
                                                       std::u16string_view moduleName = kUiResourceModuleName);

}  // namespace vantorel
