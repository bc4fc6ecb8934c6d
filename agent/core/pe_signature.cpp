#include "agent/core/pe_signature.h"

namespace vantorel {
namespace {

constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kPkcsSignedData = 0x0002;
constexpr size_t kEntryHeader = 8;  // length, revision, type
constexpr uint32_t kSecurityDirectory = 4;

uint32_t Read32(std::string_view file, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(file[at + i])) << (8 * i);
    return value;
}
uint16_t Read16(std::string_view file, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(file[at]) | static_cast<uint8_t>(file[at + 1]) << 8);
}
void Write32(std::string& file, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) file[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Where the security directory's entry (offset, size) is in the file.
bool FindSecurityEntry(std::string_view file, size_t& entry) {
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return false;
    const size_t pe = Read32(file, 0x3C);
    const size_t optional = pe + 24;
    if (pe > file.size() || file.size() - pe < 24 + 2 || file.substr(pe, 4) != std::string_view("PE\0\0", 4))
        return false;
    const uint16_t magic = Read16(file, optional);
    const size_t countAt = optional + (magic == 0x20B ? 108 : 92);
    const size_t directories = countAt + 4;
    if (magic != 0x10B && magic != 0x20B) return false;
    if (file.size() < directories + 8 * (kSecurityDirectory + 1)) return false;
    if (Read32(file, countAt) <= kSecurityDirectory) return false;
    entry = directories + 8 * kSecurityDirectory;
    return true;
}

}  // namespace

SignatureTable FindSignature(std::string_view file, std::string_view& signedData) {
    signedData = {};
    size_t entry = 0;
    if (!FindSecurityEntry(file, entry)) return SignatureTable::Malformed;
    const uint32_t offset = Read32(file, entry);
    const uint32_t size = Read32(file, entry + 4);
    if (offset == 0 && size == 0) return SignatureTable::None;
    if (offset > file.size() || size > file.size() - offset) return SignatureTable::Malformed;
    const std::string_view table = file.substr(offset, size);
    for (size_t at = 0; table.size() - at >= kEntryHeader;) {
        const uint32_t length = Read32(table, at);
        if (length < kEntryHeader || length > table.size() - at) return SignatureTable::Malformed;
        if (Read16(table, at + 4) == kCertificateRevision && Read16(table, at + 6) == kPkcsSignedData) {
            signedData = table.substr(at + kEntryHeader, length - kEntryHeader);
            return SignatureTable::Present;
        }
        at += (length + 7) & ~size_t{7};
        if (at > table.size()) break;
    }
    return SignatureTable::Malformed;
}

std::string WithSignature(std::string_view file, std::string_view signedData) {
    size_t entry = 0;
    std::string_view existing;
    if (FindSignature(file, existing) != SignatureTable::Present || !FindSecurityEntry(file, entry)) return {};
    const uint32_t offset = Read32(file, entry);
    const size_t length = kEntryHeader + signedData.size();
    const size_t padded = (length + 7) & ~size_t{7};
    if (padded > UINT32_MAX) return {};
    std::string result(file.substr(0, offset));
    result.resize(offset + kEntryHeader);
    Write32(result, offset, static_cast<uint32_t>(length));
    result[offset + 4] = static_cast<char>(kCertificateRevision & 0xFF);
    result[offset + 5] = static_cast<char>(kCertificateRevision >> 8);
    result[offset + 6] = static_cast<char>(kPkcsSignedData);
    result[offset + 7] = 0;
    result.append(signedData);
    result.resize(offset + padded, '\0');
    Write32(result, entry + 4, static_cast<uint32_t>(padded));
    return result;
}

}  // namespace vantorel
