#include "support/cp1252.h"

#include <gtest/gtest.h>

namespace bearfix {
namespace {

TEST(Cp1252, EveryByteSurvivesUtf8RoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
}

TEST(Cp1252, KnownCharacters) {
    EXPECT_EQ(cp1252ToUtf8("N52\xB0"), "N52\u00B0");
    EXPECT_EQ(cp1252ToUtf8("\x80\x9F\xFC"), "\u20AC\u0178\u00FC");
    EXPECT_EQ(cp1252ToUnicode(0x8D), U'\x8D');  // unassigned byte keeps its value
    EXPECT_EQ(unicodeToCp1252(U'\u2122'), 0x99);
    EXPECT_EQ(unicodeToCp1252(U'\u2032'), '?');
    EXPECT_EQ(unicodeToCp1252(U'\u2032', 0xBF), 0xBF);
}

TEST(Cp1252, MalformedUtf8BecomesFallback) {
    struct Case {
        const char* utf8;
        const char* expected;
    };
    const Case cases[] = {
        {"a\xC3", "a?"},               // truncated sequence
        {"\xC3(b", "?(b"},             // lead without continuation keeps the next byte
        {"\xC0\xAF", "??"},            // invalid lead bytes
        {"\xE0\x80\xAF", "?"},         // overlong three-byte form
        {"\xED\xA0\x80", "?"},         // surrogate
        {"\xF0\x9F\x98\x80z", "?z"},   // valid, but outside the code page
        {"\xE2\x82\xAC\xC3\xA9", "\x80\xE9"},
    };
    for (const auto& c : cases) EXPECT_EQ(utf8ToCp1252(c.utf8), c.expected) << c.utf8;
}

TEST(Cp1252, RecognisesUtf8) {
    EXPECT_TRUE(isValidUtf8("plain ascii"));
    EXPECT_TRUE(isValidUtf8("N52\u00B0 \u20AC"));
    EXPECT_FALSE(isValidUtf8("N52\xB0"));   // a Windows-1252 degree sign
    EXPECT_FALSE(isValidUtf8("end\xC3"));   // cut short
    EXPECT_FALSE(isValidUtf8("\xE2\x82x"));
}

}  // namespace
}  // namespace bearfix
