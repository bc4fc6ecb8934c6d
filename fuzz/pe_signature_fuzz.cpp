// Where an executable from the package server keeps its signature, on
// arbitrary bytes: read before the platform has checked anything, so it must
// hold for any file. A signature found lies within the file, and the file
// given another signature yields exactly that one, aligned as Windows wants.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "agent/core/pe_signature.h"
#include "fuzz/fuzz_input.h"

using vantorel::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    std::string_view signedData;
    const vantorel::SignatureTable table = vantorel::FindSignature(file, signedData);
    Check(table == vantorel::SignatureTable::Present || signedData.empty());
    if (table != vantorel::SignatureTable::Present) {
        Check(vantorel::WithSignature(file, "other").empty());
        return 0;
    }
    Check(signedData.data() >= file.data() && signedData.data() + signedData.size() <= file.data() + file.size());

    const std::string other = std::string(signedData.substr(0, signedData.size() / 2)) + "nested";
    const std::string alone = vantorel::WithSignature(file, other);
    std::string_view found;
    Check(vantorel::FindSignature(alone, found) == vantorel::SignatureTable::Present && found == other);
    Check(alone.size() % 8 == static_cast<size_t>(signedData.data() - file.data()) % 8);  // entries stay aligned
    return 0;
}
