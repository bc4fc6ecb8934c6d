// The package server's version file on arbitrary text: the entries read from
// it, which of them may name a package, and the order IsNewerVersion puts
// versions in.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "agent/service/package_update.h"
#include "agent/service/package_versions.h"
#include "fuzz/fuzz_input.h"

using vantorel::IsNewerVersion;
using vantorel::fuzz::Check;

namespace {

void CheckValue(std::u16string_view text, std::u16string_view key, const std::u16string& value)
{
    Check(value == vantorel::VersionFileValue(text, key));
    Check(value.find(u'|') == std::u16string::npos);
    if (!value.empty()) {
        // The text after the first key, up to the next "|".
        const size_t at = text.find(key);
        Check(at != std::u16string_view::npos);
        Check(text.substr(at + key.size(), value.size() + 1) == value + u"|");
    }
}

bool IsDigitsAndDots(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c == u'.' || (c >= u'0' && c <= u'9'); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::u16string text = vantorel::fuzz::InputText(data, size);
    const vantorel::PublishedVersions published = vantorel::ReadVersionFile(text);
    CheckValue(text, u"Hollin=", published.agent);
    CheckValue(text, u"jre=", published.runtime);
    CheckValue(text, u"dependency=", published.dependency);

    // Versions to order: the entries, and the text up to its first "|", so
    // that long and odd versions come too.
    const std::u16string_view whole(text);
    const std::u16string_view versions[] = {published.agent, published.runtime, published.dependency,
                                            whole.substr(0, whole.find(u'|'))};
    for (std::u16string_view version : versions) {
        const bool plain = vantorel::IsPlainVersion(version);
        Check(plain == (!version.empty() && version.size() <= 32 && IsDigitsAndDots(version)));
        Check(!IsNewerVersion(version, version));
        // A missing number counts as 0; one more number above 0 is later.
        const std::u16string zero = std::u16string(version) + u".0";
        const std::u16string one = std::u16string(version) + u".1";
        Check(!IsNewerVersion(zero, version) && !IsNewerVersion(version, zero));
        Check(IsNewerVersion(one, version) && !IsNewerVersion(version, one));
    }
    // Each pair is compared once: IsNewerVersion is a pure function, and under
    // ASan its allocations are what an execution costs.
    constexpr size_t n = std::size(versions);
    bool newer[n][n];
    for (size_t a = 0; a < n; ++a)
        for (size_t b = 0; b < n; ++b)
            newer[a][b] = a == b ? false : IsNewerVersion(versions[a], versions[b]);
    for (size_t a = 0; a < n; ++a) {
        for (size_t b = 0; b < n; ++b) {
            Check(!(newer[a][b] && newer[b][a]));
            for (size_t c = 0; c < n; ++c) {
                if (newer[a][b] && newer[b][c])
                    Check(newer[a][c]);  // transitive
                if (!newer[a][b] && !newer[b][a])
                    Check(newer[a][c] == newer[b][c] && newer[c][a] == newer[c][b]);  // equal ones are interchangeable
            }
        }
    }
    return 0;
}
