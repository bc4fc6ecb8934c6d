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

// Whether candidate may replace the running agent by its signatures: reads
// who stands behind each signature of both files (the candidate's checked by
// the platform, a nested one in a copy of the file beside it where it stands
// first) and asks DecideAgentTrust.
TrustVerdict CheckAgentTrust(const std::wstring& running, const std::wstring& candidate);
std::u16string_view DescribeTrustVerdict(TrustVerdict verdict);

// The file version of an executable's version resource, "a.b.c.d"; empty
// when it has none.
std::u16string ReadFileVersion(const std::wstring& path);

}  // namespace vantorel
