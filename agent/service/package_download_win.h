// The package server's files, downloaded through the protocol layer within
// the download limits (update_rules.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "agent/service/package_versions.h"

namespace vantorel {

// Streams url into path through a temporary file beside it, so that path is
// replaced only by a complete download: the reply must be 200, non-empty,
// and as long as its Content-Length says; every write is checked. It stays
// within the download limits (settings.maxDownloadBytes, the volume's
// reserve, a pace) and gives up a reply that stays silent for
// settings.receiveTimeoutMs. A failure leaves path as it was.
bool DownloadToFile(const std::u16string& path, const std::u16string& url, const UpdateSettings& settings);

// The version file's text, each byte one character; empty unless a complete
// 200 reply of at most 64 KiB arrived. Bounded in time like DownloadToFile.
std::u16string FetchVersionFile(const std::u16string& url, uint32_t receiveTimeoutMs);

// GetTickCount as a clock that does not wrap; for one thread only.
uint64_t TickNow();

}  // namespace vantorel
