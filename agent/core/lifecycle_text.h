// The fixed texts of the agent's start and end: the choice of run, the
// signature diagnostic's result line and message, and the report of GDI
// objects left over at exit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

// True when the (narrow) command line asks for the signature diagnostic: the
// word anywhere in it, also inside another word.
bool IsSignatureDiagnostic(std::string_view commandLine);

inline constexpr std::u16string_view kSignatureCaption = u"sign verification";
inline constexpr std::u16string_view kSignatureVerifiedText = u"signed";
inline constexpr std::u16string_view kSignatureMissingText = u"warning! not signed";
inline constexpr std::u16string_view kSignedFileName = u"Vantorel.exe";

struct SignatureVerdict {
    bool verified = false;
    std::u16string line;  // printed to standard output, with its "\n"
};

// The verdict on one trust check: result is what the trust provider
// returned, lastError the thread's last error right after it.
SignatureVerdict DescribeSignatureResult(std::u16string_view path, uint32_t result, uint32_t lastError);

// The debug-output report of GDI objects that the run did not give back; empty
// when difference is 0.
std::u16string GuiLeakReport(int32_t difference);

}  // namespace vantorel
