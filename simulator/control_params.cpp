#include "simulator/control_params.h"

#include <charconv>

#include "protocol/utf8.h"

namespace vantorel::sim {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string RequestName(ServiceRequest request) {
    return EncodeUtf8(ServiceRequestName(request));
}

std::optional<ServiceRequest> FindRequestByName(std::string_view name) {
    return FindServiceRequestByName(DecodeUtf8Lenient(name));
}

bool ParseInt64(std::string_view text, int64_t& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    int64_t parsed = 0;
    auto [end, error] = std::from_chars(first, last, parsed);
    if (first == last || error != std::errc() || end != last) return false;
    value = parsed;
    return true;
}

bool ReadIntParam(const QueryParams& params, std::string_view name, int64_t min, int64_t max, int64_t& value,
                  std::string& error) {
    const auto found = params.find(std::string(name));
    if (found == params.end()) return true;
    int64_t parsed = 0;
    if (!ParseInt64(found->second, parsed) || parsed < min || parsed > max) {
        error = "bad value for " + std::string(name) + ": \"" + found->second + "\" (an integer from " +
                std::to_string(min) + " to " + std::to_string(max) + ")";
        return false;
    }
    value = parsed;
    return true;
}

void ReadTextParam(const QueryParams& params, std::string_view name, std::string& value) {
    const auto found = params.find(std::string(name));
    if (found != params.end()) value = found->second;
}

bool HasParam(const QueryParams& params, std::string_view name) {
    return params.find(std::string(name)) != params.end();
}

bool DecodeHex(std::string_view hex, std::string& bytes) {
    if (hex.size() % 2 != 0) return false;
    std::string out;
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]);
        const int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<char>(high * 16 + low));
    }
    bytes = std::move(out);
    return true;
}

std::string EncodeHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 0xF]);
    }
    return out;
}

}  // namespace vantorel::sim
