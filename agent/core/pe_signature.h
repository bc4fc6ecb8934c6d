// Where a Windows executable keeps its Authenticode signature (the
// certificate table at the file's end), and the same file with another
// signature in that place. Portable, over the file's bytes; the signatures
// themselves are read by the platform (file_signature_win.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

enum class SignatureTable {
    None,       // no certificate table: the file is not signed
    Present,    // a table whose first signature is in signedData
    Malformed,  // a table (or headers) that cannot be read: signed, unreadably
};

// The file's certificate table and, when it is present, its first entry of
// PKCS#7 signed data (the signature Windows checks; nested signatures live
// inside it).
SignatureTable FindSignature(std::string_view file, std::string_view& signedData);

// The file with its certificate table replaced by one entry holding
// signedData, so that the platform's check can be run on a nested signature
// as it is on the first one; the signed image itself is unchanged. Empty
// when the file has no readable table.
std::string WithSignature(std::string_view file, std::string_view signedData);

}  // namespace vantorel
