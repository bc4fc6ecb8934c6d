#include "agent/core/lifecycle_text.h"

#include <initializer_list>
#include <string>

namespace vantorel {
namespace {

constexpr uint32_t kTrustNoSignature = 0x800B0100;
constexpr uint32_t kTrustSubjectFormUnknown = 0x800B0003;
constexpr uint32_t kTrustProviderUnknown = 0x800B0001;
constexpr uint32_t kTrustExplicitDistrust = 0x800B0111;
constexpr uint32_t kTrustSubjectNotTrusted = 0x800B0004;
constexpr uint32_t kCryptSecuritySettings = 0x80092026;

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Appends the pieces into one string (plain appends: g++ 12 misreads chains of
// operator+ on short literals as overlapping copies at -O3).
std::u16string Join(std::initializer_list<std::u16string_view> pieces) {
    size_t length = 0;
    for (std::u16string_view piece : pieces) length += piece.size();
    std::u16string out;
    out.reserve(length);
    for (std::u16string_view piece : pieces) out.append(piece);
    return out;
}

}  // namespace

bool IsSignatureDiagnostic(std::string_view commandLine) {
    return commandLine.find("verifysignature") != std::string_view::npos;
}

SignatureVerdict DescribeSignatureResult(std::u16string_view path, uint32_t result, uint32_t lastError) {
    switch (result) {
    case 0:
        return {true, Join({u"The file \"", path, u"\" is signed and the signature was verified.\n"})};
    case kTrustNoSignature:
        if (lastError == kTrustNoSignature || lastError == kTrustSubjectFormUnknown ||
            lastError == kTrustProviderUnknown) {
            return {false, Join({u"The file \"", path, u"\" is not signed.\n"})};
        }
        return {false, Join({u"An unknown error occurred trying to verify the signature of the \"", path,
                             u"\" file.\n"})};
    case kTrustExplicitDistrust:
        return {false, u"The signature is present, but specifically disallowed.\n"};
    case kTrustSubjectNotTrusted:
        return {false, u"The signature is present, but not trusted.\n"};
    case kCryptSecuritySettings:
        return {false,
                u"CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher wasn't "
                u"explicitly trusted by the admin and admin policy has disabled user trust. No signature, "
                u"publisher or timestamp errors.\n"};
    default: {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (int shift = 28; shift >= 0; shift -= 4) {
            const unsigned digit = (result >> shift) & 0xF;
            if (digit != 0 || !hex.empty() || shift == 0) hex.push_back(kDigits[digit]);
        }
        return {false, Join({u"Error is: 0x", Ascii(hex), u".\n"})};
    }
    }
}

std::u16string GuiLeakReport(int32_t difference) {
    if (difference == 0) return {};
    const std::u16string rule(60, u'=');
    return Join({rule, u"\nGui Resources Leaked: ", Ascii(std::to_string(difference)), u"\n", rule, u"\n"});
}

}  // namespace vantorel
