#include <gtest/gtest.h>

#include "agent/core/lifecycle_text.h"

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

}  // namespace
}  // namespace vantorel
