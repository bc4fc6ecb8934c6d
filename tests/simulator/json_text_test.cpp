#include <gtest/gtest.h>

#include "simulator/json_text.h"

namespace vantorel::sim {
namespace {

TEST(JsonText, WritesStrictJsonWhateverTheBytes)
{
    struct Case {
        std::string text;
        std::string json;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"q\"b\\s", "\"q\\\"b\\\\s\""},
        {"\n\r\t", "\"\\n\\r\\t\""},
        {std::string("\x01\x1f\x7f\0", 4), "\"\\u0001\\u001f\\u007f\\u0000\""},
        {"caf\xC3\xA9 \xE2\x82\xAC", "\"caf\xC3\xA9 \xE2\x82\xAC\""},  // valid UTF-8 stays
        {"caf\xE9", "\"caf\xC3\xA9\""},                               // a stray byte becomes its character
    };
    for (const Case& c : cases) {
        JsonText json;
        json.String(c.text);
        EXPECT_EQ(json.Text(), c.json) << c.text;
    }

    JsonText nested;
    nested.BeginObject()
        .Key("a").BeginArray().Int(-1).Bool(false).Raw("{}").BeginObject().EndObject().EndArray()
        .Key("b").String("")
        .EndObject();
    EXPECT_EQ(nested.Text(), "{\"a\":[-1,false,{},{}],\"b\":\"\"}");
}

}  // namespace
}  // namespace vantorel::sim
