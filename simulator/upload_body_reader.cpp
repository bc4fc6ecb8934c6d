#include "simulator/upload_body_reader.h"

#include "protocol/upload_body.h"
#include "protocol/utf8.h"

namespace vantorel::sim {
namespace {

std::string EntryName(size_t index) {
    return "entry " + std::to_string(index + 1);
}

// Undoes the two escapes of an encoded path. The encoder doubles every
// backslash and writes no bare "&", so a single backslash or an "&" means
// the sender built the body wrongly.
bool DecodeEntry(std::string_view encoded, size_t index, std::string& path, std::string& error) {
    path.clear();
    for (size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '\\') {
            if (i + 1 >= encoded.size() || encoded[i + 1] != '\\') {
                error = EntryName(index) + " holds a backslash that is not doubled";
                return false;
            }
            path.push_back('\\');
            ++i;
        } else if (encoded.substr(i, 3) == "%26") {
            path.push_back('&');
            i += 2;
        } else if (c == '&') {
            error = EntryName(index) + " holds an \"&\" not written as %26";
            return false;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            error = EntryName(index) + " holds a control character";
            return false;
        } else {
            path.push_back(c);
        }
    }
    if (path.empty()) {
        error = EntryName(index) + " is empty";
        return false;
    }
    return true;
}

}  // namespace

bool ReadUploadBody(std::string_view body, std::vector<std::string>& paths, std::string& error) {
    paths.clear();
    const std::string prefix = EncodeUtf8(kUploadBodyPrefix);
    if (body.substr(0, prefix.size()) != prefix) {
        error = "body does not start with \"" + prefix + "\"";
        return false;
    }
    if (EncodeUtf8(DecodeUtf8Lenient(body)) != body) {
        error = "body is not valid UTF-8";
        return false;
    }
    size_t pos = prefix.size();
    if (pos < body.size() && body[pos] == ']') {
        error = pos + 1 == body.size() ? "the path list is empty" : "text after the closing \"]\"";
        return false;
    }
    for (size_t index = 0;; ++index) {
        if (pos >= body.size() || body[pos] != '"') {
            error = EntryName(index) + ": expected '\"' at byte " + std::to_string(pos);
            return false;
        }
        // Quotes are not escaped, so an entry ends at the first quote that is
        // followed by ',"' or by the final "]"; a path may hold quotes elsewhere.
        size_t close = pos + 1;
        for (;; ++close) {
            close = body.find('"', close);
            if (close == std::string_view::npos) {
                error = EntryName(index) + " is not closed by '\"' and the list by \"]\"";
                return false;
            }
            const std::string_view rest = body.substr(close + 1);
            if (rest == "]" || rest.substr(0, 2) == ",\"") break;
        }
        std::string path;
        if (!DecodeEntry(body.substr(pos + 1, close - pos - 1), index, path, error)) return false;
        paths.push_back(std::move(path));
        if (body[close + 1] == ']') return true;
        pos = close + 2;
    }
}

}  // namespace vantorel::sim
