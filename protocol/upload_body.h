// The body of the upload request: the one wire format that the tray agent
// and the Send-To tool share.
//
//   action=upload&cloudpath=&localpath=["C:\\a%26b.txt","D:\\x.doc"]
//
// Each path has its backslashes doubled and its "&" written as "%26"; nothing
// else is escaped. The service chooses the cloud folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

using UploadPathList = std::vector<std::u16string>;

inline constexpr std::u16string_view kUploadBodyPrefix = u"action=upload&cloudpath=&localpath=[";

std::u16string EncodeUploadPath(std::u16string_view path);

// Linear in the total length of the paths. An empty list gives the prefix
// and "]"; callers send nothing for an empty list.
std::u16string BuildUploadBody(const UploadPathList& paths);

}  // namespace vantorel
