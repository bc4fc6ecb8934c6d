// Windows drive letters as the programs under Wine see them, mapped to the
// Linux folders behind them: Z: is the Linux root in every Wine prefix, C:
// is the prefix's drive_c. Upload paths arrive in Windows form and are read
// through this map; the download folder is reported back through it.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace vantorel::sim {

// Upper-case drive letter -> Linux folder.
using DriveMap = std::map<char, std::filesystem::path>;

// Z: -> "/".
DriveMap DefaultDriveMap();

// Adds or replaces one mapping given as "L=/folder" (the letter in either
// case, the folder absolute).
bool AddDriveMapping(std::string_view text, DriveMap& drives, std::string& error);

// The Linux path of an upload path: "X:\a\b" (or with "/") through the map,
// "\\?\X:\..." likewise, and a Linux absolute path as it is. "." and ".."
// are resolved within the drive, as Windows does, so a path never climbs out
// of its drive's folder. False, with a reason, for a relative path, a network
// path or a drive that is not mapped.
bool MapUploadPath(std::string_view path, const DriveMap& drives, std::filesystem::path& local,
                   std::string& error);

// The Windows form of a Linux path, through the mapping with the longest
// matching folder; empty when no mapping covers it.
std::string WindowsPathFor(const std::filesystem::path& local, const DriveMap& drives);

}  // namespace vantorel::sim
