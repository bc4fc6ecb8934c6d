#include "protocol/upload_body.h"

namespace vantorel {
namespace {

size_t EncodedLength(std::u16string_view path) {
    size_t length = path.size();
    for (char16_t unit : path) {
        if (unit == u'\\') length += 1;
        if (unit == u'&') length += 2;
    }
    return length;
}

// Writes the encoded path at cursor, which has room for EncodedLength units,
// and returns the end. Sizing first and writing once keeps a body of any size
// linear in its length.
char16_t* WriteEncodedPath(char16_t* cursor, std::u16string_view path) {
    for (char16_t unit : path) {
        if (unit == u'\\') {
            *cursor++ = u'\\';
            *cursor++ = u'\\';
        } else if (unit == u'&') {
            *cursor++ = u'%';
            *cursor++ = u'2';
            *cursor++ = u'6';
        } else {
            *cursor++ = unit;
        }
    }
    return cursor;
}

}  // namespace

std::u16string EncodeUploadPath(std::u16string_view path) {
    std::u16string out(EncodedLength(path), u'\0');
    WriteEncodedPath(out.data(), path);
    return out;
}

std::u16string BuildUploadBody(const UploadPathList& paths) {
    size_t length = kUploadBodyPrefix.size() + 1 + (paths.empty() ? 0 : paths.size() - 1);
    for (const std::u16string& path : paths) length += EncodedLength(path) + 2;

    std::u16string body(length, u'\0');
    char16_t* cursor = body.data();
    cursor = kUploadBodyPrefix.copy(cursor, kUploadBodyPrefix.size()) + cursor;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (i != 0) *cursor++ = u',';
        *cursor++ = u'"';
        cursor = WriteEncodedPath(cursor, paths[i]);
        *cursor++ = u'"';
    }
    *cursor = u']';
    return body;
}

}  // namespace vantorel
