// Reads the body of the upload request back into the list of paths that the
// agent or the Send-To tool encoded, and says precisely what is wrong with a
// body that they could not have built.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantorel::sim {

// body: the request body as sent (UTF-8). On success paths holds each path as
// UTF-8, with the doubled backslashes and the "%26" undone. On failure error
// names the first fault and paths is unspecified.
bool ReadUploadBody(std::string_view body, std::vector<std::string>& paths, std::string& error);

}  // namespace vantorel::sim
