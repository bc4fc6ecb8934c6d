#include "protocol/upload_body.h"

namespace vantorel {
namespace {

// Appends the encoded path: one pass, so a body of any size builds in time
// proportional to its length.
void AppendEncodedPath(std::u16string& out, std::u16string_view path) {
    for (char16_t unit : path) {
        if (unit == u'\\') {
            out += u"\\\\";
        } else if (unit == u'&') {
            out += u"%26";
        } else {
            out.push_back(unit);
        }
    }
}

size_t EncodedLength(std::u16string_view path) {
    size_t length = path.size();
    for (char16_t unit : path) {
        if (unit == u'\\') length += 1;
        if (unit == u'&') length += 2;
    }
    return length;
}

}  // namespace

std::u16string EncodeUploadPath(std::u16string_view path) {
    std::u16string out;
    out.reserve(EncodedLength(path));
    AppendEncodedPath(out, path);
    return out;
}

std::u16string BuildUploadBody(const UploadPathList& paths) {
    size_t length = kUploadBodyPrefix.size() + 1;
    for (const std::u16string& path : paths) length += EncodedLength(path) + 3;

    std::u16string body;
    body.reserve(length);
    body += kUploadBodyPrefix;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (i != 0) body.push_back(u',');
        body.push_back(u'"');
        AppendEncodedPath(body, paths[i]);
        body.push_back(u'"');
    }
    body.push_back(u']');
    return body;
}

}  // namespace vantorel
