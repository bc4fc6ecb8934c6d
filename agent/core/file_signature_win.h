// Authenticode checks of executables: the signature diagnostic's check, and
// who signed a file, so that an update is taken only from the agent's own
// publisher.
#pragma once

#include <string>

namespace vantorel {

// True when the file carries a valid Authenticode signature; prints the
// verdict line to standard output first.
bool VerifyFileSignature(const std::wstring& path);

// The encoded certificate that signed the file; false when the file holds
// no signature that can be read (an unsigned file).
bool ReadSignerCertificate(const std::wstring& path, std::string& certificate);

}  // namespace vantorel
