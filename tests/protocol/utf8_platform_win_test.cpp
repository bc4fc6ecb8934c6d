// The portable UTF-8 conversion must agree with the platform's converter,
// which is what the service has always received.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "protocol/http_client.h"

namespace vantorel {
namespace {

std::string PlatformUtf8(const std::u16string& text)
{
    const std::wstring wide(text.begin(), text.end());
    std::string buffer(wide.size() * 4 + 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, buffer.data(), static_cast<int>(buffer.size()), nullptr,
                        nullptr);
    return buffer.substr(0, buffer.find('\0'));
}

TEST(ToUtf8, AgreesWithWideCharToMultiByte)
{
    const std::u16string samples[] = {
        u"",
        u"plain ascii",
        u"action=upload&cloudpath=&localpath=[\"C:\\\\caf\u00e9.txt\"]",
        u"\u20ac\u4e2d\U0001F600\uffff\u0800\u07ff\u0080",
        std::u16string(1, char16_t(0xD83D)) + u"lone high",
        u"lone low" + std::u16string(1, char16_t(0xDE00)),
        std::u16string{char16_t(0xDE00), char16_t(0xD83D), u'x'},
        std::u16string(u"cut\0here", 8),
    };
    for (const std::u16string& sample : samples) {
        EXPECT_EQ(ToUtf8(sample), PlatformUtf8(sample));
    }
}

}  // namespace
}  // namespace vantorel
