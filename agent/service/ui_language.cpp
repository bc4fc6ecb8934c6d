#include "agent/service/ui_language.h"

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

bool IsPlainFolderName(std::u16string_view name) {
    if (name.empty() || name.find(u"..") != std::u16string_view::npos) return false;
    return name.find_first_of(u"\\/:") == std::u16string_view::npos;
}

}  // namespace

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
    }
    candidates.push_back(directory + std::u16string(moduleName));
    return candidates;
}

}  // namespace vantorel
