// Authenticode checks of executables: the signature diagnostic's check, who
// stands behind each of a file's signatures, and its version, so that an
// update is taken only from the agent's own publisher and only forward.
#pragma once

#include <string>
#include <vector>

#include "agent/service/update_rules.h"

namespace vantorel {

// True when the file carries a valid Authenticode signature; prints the
// verdict line to standard output first.
bool VerifyFileSignature(const std::wstring& path);

// The publisher of one signature (PKCS#7 signed data): its signer's subject
// and the root its chain ends at; nested receives the signatures nested in
// it. False when the signer or a chain to a root cannot be read.
bool ReadPublisher(const std::string& signedData, PublisherIdentity& identity, std::vector<std::string>& nested);

// The file version of an executable's version resource, "a.b.c.d"; empty
// when it has none.
std::u16string ReadFileVersion(const std::wstring& path);

}  // namespace vantorel
