#include "agent/service/package_versions.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace vantorel {
namespace {

std::vector<uint64_t> VersionNumbers(std::u16string_view version) {
    std::vector<uint64_t> numbers(1, 0);
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    for (const char16_t c : version) {
        if (c == u'.') {
            numbers.push_back(0);
        } else if (c >= u'0' && c <= u'9') {
            uint64_t& number = numbers.back();
            const uint64_t digit = static_cast<uint64_t>(c - u'0');
            number = number > (kMax - digit) / 10 ? kMax : number * 10 + digit;
        }
    }
    return numbers;
}

}  // namespace

PackageUrls ComposePackageUrls(const UpdateSettings& settings) {
    const std::u16string base(settings.packageServerUrl);
    PackageUrls urls;
    urls.versionFile = base + u"VantorelPkg-" + std::u16string(settings.packageVersion) + u".txt";
    urls.agentPackage = base + u"VantorelPkg-" + std::u16string(settings.packageVersion) + u".7z";
    urls.runtimePackage = base + u"jre-" + std::u16string(settings.runtimeVersion) + u".7z";
    urls.dependencyPackage = base + u"dependency-" + std::u16string(settings.dependencyVersion) + u".7z";
    return urls;
}

std::u16string VersionFileValue(std::u16string_view text, std::u16string_view key) {
    const size_t at = text.find(key);
    if (at == std::u16string_view::npos) return {};
    const size_t start = at + key.size();
    const size_t end = text.find(u'|', start);
    if (end == std::u16string_view::npos) return {};
    return std::u16string(text.substr(start, end - start));
}

bool IsNewerVersion(std::u16string_view candidate, std::u16string_view reference) {
    const std::vector<uint64_t> a = VersionNumbers(candidate);
    const std::vector<uint64_t> b = VersionNumbers(reference);
    for (size_t i = 0; i < a.size() || i < b.size(); ++i) {
        const uint64_t x = i < a.size() ? a[i] : 0;
        const uint64_t y = i < b.size() ? b[i] : 0;
        if (x != y) return x > y;
    }
    return false;
}

}  // namespace vantorel
