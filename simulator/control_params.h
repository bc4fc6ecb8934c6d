// Parameters of the test-control requests, read strictly: a value that does
// not parse is an error named in the reply, never silently a default.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/service_api.h"

namespace vantorel::sim {

// Decoded query parameters; the same type as the HTTP server's.
using QueryParams = std::multimap<std::string, std::string>;

// Leaves value untouched when the parameter is absent. False, with error
// set, when it is present but not a decimal integer within [min, max].
bool ReadIntParam(const QueryParams& params, std::string_view name, int64_t min, int64_t max, int64_t& value,
                  std::string& error);
// Leaves value untouched when the parameter is absent.
void ReadTextParam(const QueryParams& params, std::string_view name, std::string& value);
bool HasParam(const QueryParams& params, std::string_view name);

// The service table's short name of a request ("storage"), in UTF-8: how
// tests name requests to the control interface and how the log names them.
std::string RequestName(ServiceRequest request);
std::optional<ServiceRequest> FindRequestByName(std::string_view name);

bool ParseInt64(std::string_view text, int64_t& value);
// Hex digits in pairs, either case.
bool DecodeHex(std::string_view hex, std::string& bytes);
std::string EncodeHex(std::string_view bytes);

}  // namespace vantorel::sim
