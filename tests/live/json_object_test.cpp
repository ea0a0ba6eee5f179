// The JSON reader against texts whose meaning RFC 8259 fixes.
#include <gtest/gtest.h>

#include "live/json_object.h"

namespace bearfix {
namespace {

using Kind = JsonValue::Kind;

TEST(JsonObject, ReadsThePlainValuesOfAnObject) {
    std::map<std::string, JsonValue> o;
    std::string why;
    ASSERT_TRUE(parseJsonObject(
        " {\"s\": \"a\\\"b\\\\c\\/\\n\\u00e9\\ud83d\\ude00\", \"n\": -12.5e1, \"z\": 0, \"t\": true, \"f\": false, "
        "\"nul\": null, \"nest\": {\"a\": [1, [2, {\"b\": []}]]}, \"\": 1}\r\n",
        o, why))
        << why;
    EXPECT_EQ(o["s"].kind, Kind::String);
    EXPECT_EQ(o["s"].text, "a\"b\\c/\n\xC3\xA9\xF0\x9F\x98\x80");  // é and U+1F600 in UTF-8
    EXPECT_EQ(o["n"].number, -125.0);
    EXPECT_EQ(o["z"].number, 0.0);
    EXPECT_TRUE(o["t"].boolean);
    EXPECT_EQ(o["f"].kind, Kind::Bool);
    EXPECT_FALSE(o["f"].boolean);
    EXPECT_EQ(o["nul"].kind, Kind::Null);
    EXPECT_EQ(o["nest"].kind, Kind::Nested);
    EXPECT_EQ(o.size(), 8u);
}

TEST(JsonObject, RefusesWhatIsNotStrictJson) {
    const char* const bad[] = {
        "", "[]", "{", "{\"a\":1,}", "{\"a\" 1}", "{a:1}", "{'a':1}", "{\"a\":01}", "{\"a\":1.}", "{\"a\":.5}",
        "{\"a\":1e}", "{\"a\":+1}", "{\"a\":-}", "{\"a\":NaN}", "{\"a\":Infinity}", "{\"a\":1e999}", "{\"a\":tru}",
        "{\"a\":\"\x01\"}", "{\"a\":\"\\x\"}", "{\"a\":\"\\u12\"}", "{\"a\":\"\\ud800\"}", "{\"a\":\"\\udc00\"}",
        "{\"a\":\"\xC3\"}", "{\"a\":\"\xC0\xAF\"}", "{\"a\":\"\xED\xA0\x80\"}", "{\"a\":\"open}", "{\"a\":1} x",
        "{\"a\":1}{}", "{\"a\":1,\"a\":2}", "{\"a\":[1,]}", "{\"a\":[1 2]}",
    };
    for (const char* text : bad) {
        std::map<std::string, JsonValue> o;
        std::string why;
        EXPECT_FALSE(parseJsonObject(text, o, why)) << text;
        EXPECT_FALSE(why.empty()) << text;
        EXPECT_TRUE(o.empty()) << text;
    }
}

TEST(JsonObject, KeepsToItsLimits) {
    std::map<std::string, JsonValue> o;
    std::string why;
    const JsonLimits limits{.maxBytes = 64, .maxDepth = 3, .maxMembers = 2};
    EXPECT_TRUE(parseJsonObject("{\"a\":[[[1]]]}", o, why, limits)) << why;
    EXPECT_FALSE(parseJsonObject("{\"a\":[[[[1]]]]}", o, why, limits));
    EXPECT_NE(why.find("nested deeper than 3"), std::string::npos) << why;
    EXPECT_FALSE(parseJsonObject("{\"a\":1,\"b\":2,\"c\":3}", o, why, limits));
    EXPECT_FALSE(parseJsonObject("{\"a\":\"" + std::string(60, 'x') + "\"}", o, why, limits));
    // Nesting a million deep is refused at the cap, not by running out of stack.
    const std::string deep = "{\"a\":" + std::string(1000000, '[') + "}";
    EXPECT_FALSE(parseJsonObject(deep, o, why, {.maxBytes = deep.size()}));
}

}  // namespace
}  // namespace bearfix
