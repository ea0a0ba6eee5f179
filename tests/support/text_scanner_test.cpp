#include "support/text_scanner.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <utility>

namespace bearfix {
namespace {

TEST(TextScanner, ParseInt) {
    struct { const char* text; int maxDigits, base, expected, consumed; } const cases[] = {
        {"  -42abc", 10, 10, -42, 5}, {"abc", 10, 10, 7, 0}, {"-", 10, 10, 7, 1}, {"123456", 3, 10, 123, 3},
        {"0xFf00fF", 10, 10, 16711935, 8}, {"1f", 10, 16, 31, 2}, {"1f", 10, 10, 1, 1}, {"\t 9", 1, 10, 9, 3},
        {"0X1F", 10, 10, 0, 1},         // only a lower-case x switches to hex
        {"4294967297", 10, 10, 1, 10},  // wraps as 32-bit arithmetic
    };
    for (const auto& c : cases) {
        const char* cursor = c.text;
        EXPECT_EQ(parseInt(cursor, c.maxDigits, c.base, 7), c.expected) << c.text;
        EXPECT_EQ(cursor - c.text, c.consumed) << c.text;
    }
}

// Compared exactly: the digits as written must come back correctly rounded.
TEST(TextScanner, ParseDouble) {
    struct { const char* text; double expected; int consumed; } const cases[] = {
        {"-0.5", -0.5, 4},   {"+7", 7.0, 2},        {".5", 99.0, 2},         {"-.5", 99.0, 3},  {"1e5", 1.0, 1},
        {" \t12.", 12.0, 5}, {"x", 99.0, 0}, {"8.5678", 8.5678, 6}, {"52.1234", 52.1234, 7}, {"0.3", 0.3, 3},
    };
    for (const auto& c : cases) {
        const char* cursor = c.text;
        EXPECT_EQ(parseDouble(cursor, 99.0), c.expected) << c.text;
        EXPECT_EQ(cursor - c.text, c.consumed) << c.text;
    }
    // Too large for a double: infinite, as digit after digit makes it; a long
    // run of zeros after the point: 0.
    const std::string big = "1" + std::string(400, '0');
    const std::pair<std::string, double> huge[] = {
        {big, INFINITY}, {"-" + big + ".5", -INFINITY}, {"+0." + std::string(400, '0') + "1", 0.0},
        {std::string(400, '0') + "2", 2.0}, {"1" + std::string(308, '0'), 1e308}};
    for (const auto& [text, value] : huge) {
        const char* cursor = text.c_str();
        EXPECT_EQ(parseDouble(cursor, 99.0), value) << text;
        EXPECT_EQ(cursor - text.c_str(), static_cast<std::ptrdiff_t>(text.size())) << text;
    }
    // Random digits, up to 25 with the point anywhere: what the library's
    // conversion makes of them, to the bit.
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        const int digits = std::uniform_int_distribution<int>(1, 25)(random);
        const int point = std::uniform_int_distribution<int>(1, digits + 1)(random);
        for (int d = 0; d < digits; ++d) {
            if (d == point) text += '.';
            text += static_cast<char>('0' + std::uniform_int_distribution<int>(0, 9)(random));
        }
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected, std::chars_format::fixed);
        const char* cursor = text.c_str();
        ASSERT_EQ(parseDouble(cursor, 99.0), expected) << text;
    }
}

TEST(TextScanner, MatchKeyword) {
    static const char kKeys[] = "lat=\0lon=\0masl=\0kmh=\0udts=\0hdop=\0nsats=\0sample=\0user1=\0";
    struct { const char* text; int expected, consumed; } const cases[] = {
        {"  lat=5", 0, 6}, {"latitude=5", -1, 0}, {"LAT=5", -1, 0}, {"user1=2", 8, 6}, {"", -1, 0}, {"lon", -1, 0},
    };
    for (const auto& c : cases) {
        const char* cursor = c.text;
        EXPECT_EQ(matchKeyword(cursor, kKeys), c.expected) << c.text;
        EXPECT_EQ(cursor - c.text, c.consumed) << c.text;
    }
    const char* cursor = nullptr;
    EXPECT_EQ(matchKeyword(cursor, kKeys), -1);
    cursor = "\t \tx";
    EXPECT_EQ(skipBlanks(cursor), 3);
}

TEST(TextScanner, ParseQuoted) {
    struct { const char* text; bool ok; std::string value; int consumed; } const cases[] = {
        {"  \"abc\" rest", true, "abc", 7}, {"\"abc", true, "abc", 4}, {"abc", false, "unset", 0},
        {"\"a very long name that goes on\"", true, "a very lo", 31}, {"\"\"x", true, "", 2},
    };
    for (const auto& c : cases) {
        const char* cursor = c.text;
        char dest[10] = "unset";
        EXPECT_EQ(parseQuoted(cursor, dest, 9), c.ok) << c.text;
        EXPECT_EQ(dest, c.value) << c.text;
        EXPECT_EQ(cursor - c.text, c.consumed) << c.text;
    }
    const char* cursor = "\"x\"";
    EXPECT_FALSE(parseQuoted(cursor, nullptr, 5));
}

}  // namespace
}  // namespace bearfix
