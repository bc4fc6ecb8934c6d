#include "simulator/drive_map.h"

#include <vector>

namespace vantorel::sim {
namespace {

char UpperLetter(char c) {
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    return (c >= 'A' && c <= 'Z') ? c : '\0';
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Splits on both separators and resolves "." and ".." without leaving the top.
std::vector<std::string_view> Components(std::string_view rest) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end])) ++end;
        const std::string_view part = rest.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

}  // namespace

DriveMap DefaultDriveMap() {
    return DriveMap{{'Z', std::filesystem::path("/")}};
}

bool AddDriveMapping(std::string_view text, DriveMap& drives, std::string& error) {
    const char letter = text.size() >= 2 ? UpperLetter(text[0]) : '\0';
    if (letter == '\0' || text[1] != '=') {
        error = "drive mapping must look like C=/folder: " + std::string(text);
        return false;
    }
    const std::filesystem::path folder(std::string(text.substr(2)));
    if (!folder.is_absolute()) {
        error = "drive folder must be an absolute path: " + std::string(text);
        return false;
    }
    std::filesystem::path normal = folder.lexically_normal();
    if (!normal.has_filename() && normal != normal.root_path()) normal = normal.parent_path();
    drives[letter] = normal;
    return true;
}

bool MapUploadPath(std::string_view path, const DriveMap& drives, std::filesystem::path& local,
                   std::string& error) {
    if (path.find('\0') != std::string_view::npos) {
        error = "path holds a NUL character";
        return false;
    }
    if (!path.empty() && path[0] == '/') {
        local = std::filesystem::path(std::string(path)).lexically_normal();
        return true;
    }
    constexpr std::string_view kLongPrefix = "\\\\?\\";
    if (path.substr(0, kLongPrefix.size()) == kLongPrefix) path.remove_prefix(kLongPrefix.size());
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        error = "network paths are not supported";
        return false;
    }
    const char letter = path.size() >= 3 ? UpperLetter(path[0]) : '\0';
    if (letter == '\0' || path[1] != ':' || !IsSeparator(path[2])) {
        error = "not an absolute path";
        return false;
    }
    const auto drive = drives.find(letter);
    if (drive == drives.end()) {
        error = std::string("drive ") + letter + ": is not mapped";
        return false;
    }
    local = drive->second;
    for (std::string_view part : Components(path.substr(3))) local /= std::string(part);
    return true;
}

std::string WindowsPathFor(const std::filesystem::path& local, const DriveMap& drives) {
    const std::filesystem::path normal = local.lexically_normal();
    const DriveMap::value_type* best = nullptr;
    size_t bestDepth = 0;
    for (const auto& entry : drives) {
        const std::filesystem::path relative = normal.lexically_relative(entry.second);
        if (relative.empty() || *relative.begin() == "..") continue;
        const size_t depth = static_cast<size_t>(std::distance(entry.second.begin(), entry.second.end()));
        if (!best || depth > bestDepth) {
            best = &entry;
            bestDepth = depth;
        }
    }
    if (!best) return {};
    std::string out{best->first, ':', '\\'};
    const std::filesystem::path relative = normal.lexically_relative(best->second);
    bool first = true;
    for (const auto& part : relative) {
        if (part == "." || part.empty()) continue;
        if (!first) out.push_back('\\');
        out += part.string();
        first = false;
    }
    return out;
}

}  // namespace vantorel::sim
