#include "support/cp1252.h"

#include <gtest/gtest.h>

namespace bearfix {
namespace {

TEST(Cp1252, Conversions) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
    EXPECT_EQ(cp1252ToUtf8("N52\xB0\x80\x9F"), "N52\u00B0\u20AC\u0178");
    EXPECT_EQ(cp1252ToUnicode(0x8D), U'\x8D');  // unassigned byte keeps its value
    EXPECT_EQ(unicodeToCp1252(U'\u2032'), '?');
    EXPECT_EQ(unicodeToCp1252(U'\u2032', 0xBF), 0xBF);
    EXPECT_TRUE(isValidUtf8("N52\u00B0 \u20AC"));
    EXPECT_FALSE(isValidUtf8("N52\xB0"));  // a Windows-1252 degree sign
    EXPECT_FALSE(isValidUtf8("end\xC3"));
    EXPECT_FALSE(isValidUtf8("\xE2\x82x"));
}

TEST(Cp1252, MalformedUtf8BecomesFallback) {
    const std::pair<const char*, const char*> cases[] = {
        {"a\xC3", "a?"},              // truncated sequence
        {"\xC3(b", "?(b"},            // lead without continuation keeps the next byte
        {"\xC0\xAF", "??"},           // invalid lead bytes
        {"\xE0\x80\xAF", "?"},        // overlong three-byte form
        {"\xED\xA0\x80", "?"},        // surrogate
        {"\xF0\x9F\x98\x80z", "?z"},  // valid, but outside the code page
    };
    for (const auto& [utf8, expected] : cases) EXPECT_EQ(utf8ToCp1252(utf8), expected) << utf8;
}

}  // namespace
}  // namespace bearfix
