// Compact JSON text for the simulator's replies and its test-control
// interface. Strings come in as UTF-8 bytes; a byte that is not part of a
// valid sequence is written as the character of the same value, and every
// control character is escaped, so the output is always strict JSON that
// shell tools (jq, python) read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::sim {

class JsonText {
public:
    JsonText& BeginObject();
    JsonText& EndObject();
    JsonText& BeginArray();
    JsonText& EndArray();
    JsonText& Key(std::string_view name);
    JsonText& String(std::string_view utf8);
    JsonText& Int(int64_t value);
    JsonText& Bool(bool value);
    // A value that is JSON text already.
    JsonText& Raw(std::string_view json);

    const std::string& Text() const { return out_; }

private:
    void BeforeValue();
    void AppendQuoted(std::string_view utf8);

    std::string out_;
    std::vector<bool> firstInContainer_;
    bool afterKey_ = false;
};

}  // namespace vantorel::sim
