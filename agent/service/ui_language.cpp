#include "agent/service/ui_language.h"

#include <algorithm>

namespace vantorel {

std::u16string UiLanguageName(std::u16string_view languageCode, std::u16string_view countryCode) {
    if (languageCode.empty()) return {};
    std::u16string name(languageCode);
    if (!countryCode.empty()) {
        name += u'-';
        name += countryCode;
    }
    return name;
}

namespace {

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameAsciiText(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// The subtags of a language name ("zh-Hant-TW": "zh", "Hant", "TW").
std::vector<std::u16string_view> Subtags(std::u16string_view name) {
    std::vector<std::u16string_view> parts;
    for (size_t start = 0; start <= name.size();) {
        const size_t dash = std::min(name.find(u'-', start), name.size());
        parts.push_back(name.substr(start, dash - start));
        start = dash + 1;
    }
    return parts;
}

struct Neighbour {
    std::u16string_view language;
    std::u16string_view folder;
};

// One folder per shipped language; English is the neutral module itself.
constexpr Neighbour kNeighbours[] = {
    {u"de", u"de-DE"}, {u"es", u"es-ES"}, {u"fr", u"fr-FR"}, {u"it", u"it-IT"},
    {u"ja", u"ja-JP"}, {u"ko", u"ko-KR"}, {u"nl", u"nl-NL"}, {u"pl", u"pl-PL"},
    {u"pt", u"pt-BR"}, {u"ru", u"ru-RU"}, {u"zh", u"zh-CN"},
};

bool IsPlainFolderName(std::u16string_view name) {
    if (name.empty() || name.find(u"..") != std::u16string_view::npos) return false;
    return name.find_first_of(u"\\/:") == std::u16string_view::npos;
}

}  // namespace

std::u16string_view NeighbourLanguageFolder(std::u16string_view uiLanguageName) {
    const std::vector<std::u16string_view> subtags = Subtags(uiLanguageName);
    if (SameAsciiText(subtags[0], u"zh")) {
        // The script decides; without one, the region implies it.
        bool traditional = false;
        for (size_t i = 1; i < subtags.size(); ++i) {
            if (SameAsciiText(subtags[i], u"Hans")) return u"zh-CN";
            for (std::u16string_view tag : {u"Hant", u"TW", u"HK", u"MO"})
                traditional = traditional || SameAsciiText(subtags[i], tag);
        }
        if (traditional) return {};
    }
    for (const Neighbour& neighbour : kNeighbours)
        if (SameAsciiText(subtags[0], neighbour.language)) return neighbour.folder;
    return {};
}

std::vector<std::u16string> UiResourceModuleCandidates(std::u16string_view installDirectory,
                                                       std::u16string_view uiLanguageName,
                                                       std::u16string_view moduleName) {
    std::u16string directory(installDirectory);
    if (!directory.empty() && directory.back() != u'\\') directory += u'\\';

    std::vector<std::u16string> candidates;
    if (IsPlainFolderName(uiLanguageName)) {
        std::u16string_view name = uiLanguageName;
        while (!name.empty()) {
            candidates.push_back(directory + std::u16string(name) + u'\\' + std::u16string(moduleName));
            const size_t dash = name.rfind(u'-');
            name = dash == std::u16string_view::npos ? std::u16string_view() : name.substr(0, dash);
        }
        const std::u16string_view neighbour = NeighbourLanguageFolder(uiLanguageName);
        if (!neighbour.empty() && !SameAsciiText(neighbour, uiLanguageName))
            candidates.push_back(directory + std::u16string(neighbour) + u'\\' + std::u16string(moduleName));
    }
    candidates.push_back(directory + std::u16string(moduleName));
    return candidates;
}

}  // namespace vantorel
