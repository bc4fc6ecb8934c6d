#include <gtest/gtest.h>

#include "agent/core/lifecycle_text.h"
#include "agent/core/pe_signature.h"

namespace vantorel {
namespace {

TEST(LifecycleText, SignatureDiagnosticIsChosenByTheWordAnywhere)
{
    EXPECT_TRUE(IsSignatureDiagnostic("verifysignature"));
    EXPECT_TRUE(IsSignatureDiagnostic("-verifysignature"));
    EXPECT_TRUE(IsSignatureDiagnostic("x verifysignatures y"));
    EXPECT_FALSE(IsSignatureDiagnostic(""));
    EXPECT_FALSE(IsSignatureDiagnostic("VerifySignature"));
    EXPECT_FALSE(IsSignatureDiagnostic("verify signature"));
}

TEST(LifecycleText, OneLinePerTrustResult)
{
    const std::u16string path = u"Vantorel.exe";
    EXPECT_TRUE(DescribeSignatureResult(path, 0, 0).verified);
    EXPECT_EQ(DescribeSignatureResult(path, 0, 0).line,
              u"The file \"Vantorel.exe\" is signed and the signature was verified.\n");
    for (uint32_t lastError : {0x800B0100u, 0x800B0003u, 0x800B0001u}) {
        const SignatureVerdict verdict = DescribeSignatureResult(path, 0x800B0100, lastError);
        EXPECT_FALSE(verdict.verified);
        EXPECT_EQ(verdict.line, u"The file \"Vantorel.exe\" is not signed.\n");
    }
    EXPECT_EQ(DescribeSignatureResult(path, 0x800B0100, 2).line,
              u"An unknown error occurred trying to verify the signature of the \"Vantorel.exe\" file.\n");
    EXPECT_EQ(DescribeSignatureResult(path, 0x800B0111, 0).line,
              u"The signature is present, but specifically disallowed.\n");
    EXPECT_EQ(DescribeSignatureResult(path, 0x800B0004, 0).line, u"The signature is present, but not trusted.\n");
    EXPECT_EQ(DescribeSignatureResult(path, 0x80092026, 0).line.substr(0, 30), u"CRYPT_E_SECURITY_SETTINGS - Th");
    EXPECT_EQ(DescribeSignatureResult(path, 2, 2).line, u"Error is: 0x2.\n");
    EXPECT_EQ(DescribeSignatureResult(path, 0x800B010A, 0).line, u"Error is: 0x800b010a.\n");
    EXPECT_FALSE(DescribeSignatureResult(path, 2, 2).verified);
}

TEST(LifecycleText, LeakReportOnlyWhenSomethingLeaked)
{
    EXPECT_EQ(GuiLeakReport(0), u"");
    const std::u16string rule(60, u'=');
    EXPECT_EQ(GuiLeakReport(3), rule + u"\nGui Resources Leaked: 3\n" + rule + u"\n");
    EXPECT_EQ(GuiLeakReport(-2), rule + u"\nGui Resources Leaked: -2\n" + rule + u"\n");
}

// A PE32 file of 0x200 bytes of headers, the certificate table after them.
std::string SignedFile(std::string_view table, uint32_t offset = 0x200, uint32_t size = UINT32_MAX) {
    std::string file(0x200, '\0');
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<char>(value >> (8 * i));
    };
    file[0] = 'M', file[1] = 'Z';
    put32(0x3C, 0x40);
    file.replace(0x40, 4, std::string("PE\0\0", 4));
    file[0x58] = 0x0B, file[0x59] = 0x01;  // PE32
    put32(0x58 + 92, 16);                  // data directories
    put32(0xD8, table.empty() ? 0 : offset);
    put32(0xDC, size == UINT32_MAX ? static_cast<uint32_t>(table.size()) : size);
    return file + std::string(table);
}

// One certificate-table entry: length, revision 2.0, type, data, padding to 8.
std::string Entry(uint16_t type, std::string_view data, uint32_t length = 0) {
    std::string entry(8, '\0');
    const uint32_t n = length ? length : static_cast<uint32_t>(8 + data.size());
    for (int i = 0; i < 4; ++i) entry[i] = static_cast<char>(n >> (8 * i));
    entry[5] = 0x02, entry[6] = static_cast<char>(type);
    entry += data;
    entry.resize((entry.size() + 7) & ~size_t{7}, '\0');
    return entry;
}

TEST(PeSignature, FindsTheFirstSignatureAndPutsAnotherInItsPlace) {
    const struct {
        const char* what;
        std::string file;
        SignatureTable table;
        std::string_view signedData;
    } cases[] = {
        {"unsigned", SignedFile(""), SignatureTable::None, ""},
        {"signed", SignedFile(Entry(2, "sig01")), SignatureTable::Present, "sig01"},
        {"after another kind of entry", SignedFile(Entry(1, "x509") + Entry(2, "sig02")), SignatureTable::Present,
         "sig02"},
        {"entry shorter than its header", SignedFile(Entry(2, "sig01", 4)), SignatureTable::Malformed, ""},
        {"entry longer than the table", SignedFile(Entry(2, "sig01", 400)), SignatureTable::Malformed, ""},
        {"table beyond the file", SignedFile(Entry(2, "sig01"), 0x200, 4000), SignatureTable::Malformed, ""},
        {"no signed data in it", SignedFile(Entry(1, "x509")), SignatureTable::Malformed, ""},
        {"not an executable", "ZM" + SignedFile(Entry(2, "sig01")).substr(2), SignatureTable::Malformed, ""},
        {"cut short", SignedFile("").substr(0, 0x90), SignatureTable::Malformed, ""},
    };
    for (const auto& c : cases) {
        std::string_view signedData;
        EXPECT_EQ(FindSignature(c.file, signedData), c.table) << c.what;
        EXPECT_EQ(signedData, c.signedData) << c.what;
    }

    const std::string file = SignedFile(Entry(1, "x509") + Entry(2, "primary"));
    const std::string alone = WithSignature(file, "nested signature");
    std::string_view signedData;
    EXPECT_EQ(FindSignature(alone, signedData), SignatureTable::Present);
    EXPECT_EQ(signedData, "nested signature");
    EXPECT_EQ(alone.size(), 0x200u + 24);
    EXPECT_EQ(alone.substr(0, 0xDC), file.substr(0, 0xDC));  // the image itself is untouched
    EXPECT_EQ(WithSignature(SignedFile(""), "nested"), "");
}

}  // namespace
}  // namespace vantorel
