#include "simulator/json_text.h"

#include "protocol/utf8.h"

namespace vantorel::sim {

void JsonText::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!firstInContainer_.empty()) {
        if (!firstInContainer_.back()) out_.push_back(',');
        firstInContainer_.back() = false;
    }
}

JsonText& JsonText::BeginObject() {
    BeforeValue();
    out_.push_back('{');
    firstInContainer_.push_back(true);
    return *this;
}

JsonText& JsonText::EndObject() {
    out_.push_back('}');
    firstInContainer_.pop_back();
    return *this;
}

JsonText& JsonText::BeginArray() {
    BeforeValue();
    out_.push_back('[');
    firstInContainer_.push_back(true);
    return *this;
}

JsonText& JsonText::EndArray() {
    out_.push_back(']');
    firstInContainer_.pop_back();
    return *this;
}

JsonText& JsonText::Key(std::string_view name) {
    BeforeValue();
    AppendQuoted(name);
    out_.push_back(':');
    afterKey_ = true;
    return *this;
}

JsonText& JsonText::String(std::string_view utf8) {
    BeforeValue();
    AppendQuoted(utf8);
    return *this;
}

JsonText& JsonText::Int(int64_t value) {
    BeforeValue();
    out_ += std::to_string(value);
    return *this;
}

JsonText& JsonText::Bool(bool value) {
    BeforeValue();
    out_ += value ? "true" : "false";
    return *this;
}

JsonText& JsonText::Raw(std::string_view json) {
    BeforeValue();
    out_ += json;
    return *this;
}

void JsonText::AppendQuoted(std::string_view utf8) {
    // Decoding first turns stray bytes into characters of their own, which
    // re-encode as valid UTF-8.
    const std::u16string text = DecodeUtf8Lenient(utf8);
    std::u16string escaped;
    escaped.reserve(text.size() + 2);
    escaped.push_back(u'"');
    for (char16_t unit : text) {
        switch (unit) {
        case u'"': escaped += u"\\\""; break;
        case u'\\': escaped += u"\\\\"; break;
        case u'\n': escaped += u"\\n"; break;
        case u'\r': escaped += u"\\r"; break;
        case u'\t': escaped += u"\\t"; break;
        default:
            if (unit < 0x20 || unit == 0x7F) {
                static constexpr char16_t kHex[] = u"0123456789abcdef";
                escaped += u"\\u00";
                escaped.push_back(kHex[unit >> 4]);
                escaped.push_back(kHex[unit & 0xF]);
            } else {
                escaped.push_back(unit);
            }
        }
    }
    escaped.push_back(u'"');
    out_ += EncodeUtf8(escaped);
}

}  // namespace vantorel::sim
