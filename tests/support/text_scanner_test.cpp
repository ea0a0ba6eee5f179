#include "support/text_scanner.h"

#include <gtest/gtest.h>

#include <string>

namespace bearfix {
namespace {

struct IntCase {
    const char* text;
    int maxDigits;
    int base;
    int32_t expected;
    int consumed;
};

TEST(TextScanner, ParseInt) {
    const IntCase cases[] = {
        {"  -42abc", 10, 10, -42, 5},
        {"abc", 10, 10, 7, 0},
        {"-", 10, 10, 7, 1},
        {"+15", 10, 10, 15, 3},
        {"0x1F", 10, 10, 31, 4},
        {"0xff00ff", 10, 10, 16711935, 8},
        {"0X1F", 10, 10, 0, 1},  // only a lower-case x switches to hex
        {"123456", 3, 10, 123, 3},
        {"1f", 10, 16, 31, 2},
        {"1f", 10, 10, 1, 1},
        {"4294967297", 10, 10, 1, 10},  // wraps as 32-bit arithmetic
        {"\t 9", 1, 10, 9, 3},
    };
    for (const auto& c : cases) {
        const char* cursor = c.text;
        EXPECT_EQ(parseInt(cursor, c.maxDigits, c.base, 7), c.expected) << c.text;
        EXPECT_EQ(cursor - c.text, c.consumed) << c.text;
    }
}

struct DoubleCase {
    const char* text;
    double expected;
    int consumed;
};

TEST(TextScanner, ParseDouble) {
    const DoubleCase cases[] = {
        {"3.25", 3.25, 4}, {"-0.5", -0.5, 4}, {"+7", 7.0, 2},     {".5", 99.0, 2},
        {"-.5", 99.0, 3},  {"1e5", 1.0, 1},   {" \t12.", 12.0, 5}, {"x", 99.0, 0},
    };
    for (const auto& c : cases) {
        const char* cursor = c.text;
        EXPECT_DOUBLE_EQ(parseDouble(cursor, 99.0), c.expected) << c.text;
        EXPECT_EQ(cursor - c.text, c.consumed) << c.text;
    }
}

TEST(TextScanner, DecimalsAreCorrectlyRounded) {
    // Truncating degrees x 360000 shows any error in the last place.
    for (const char* text : {"8.5678", "0.01", "52.1234", "13.25", "0.3"}) {
        const char* cursor = text;
        EXPECT_EQ(parseDouble(cursor, 0), std::stod(text)) << text;
    }
    const char* cursor = "8.5678";
    EXPECT_EQ(static_cast<int32_t>(parseDouble(cursor, 0) * 360000), 3084408);
}

TEST(TextScanner, SkipBlanksCountsSpacesAndTabs) {
    const char* text = "\t \tx";
    const char* cursor = text;
    EXPECT_EQ(skipBlanks(cursor), 3);
    EXPECT_EQ(*cursor, 'x');
    EXPECT_EQ(skipBlanks(cursor), 0);
}

TEST(TextScanner, MatchKeyword) {
    static const char kPointKeys[] = "lat=\0lon=\0masl=\0kmh=\0udts=\0hdop=\0nsats=\0sample=\0user1=\0";
    struct Case {
        const char* text;
        int expected;
        int consumed;
    };
    const Case cases[] = {
        {"  lat=5", 0, 6}, {"latitude=5", -1, 0}, {"LAT=5", -1, 0},
        {"user1=2", 8, 6}, {"", -1, 0},           {"lon", -1, 0},
    };
    for (const auto& c : cases) {
        const char* cursor = c.text;
        EXPECT_EQ(matchKeyword(cursor, kPointKeys), c.expected) << c.text;
        EXPECT_EQ(cursor - c.text, c.consumed) << c.text;
    }
    const char* cursor = nullptr;
    EXPECT_EQ(matchKeyword(cursor, kPointKeys), -1);
}

TEST(TextScanner, ParseQuoted) {
    struct Case {
        const char* text;
        bool ok;
        std::string value;
        int consumed;
    };
    const Case cases[] = {
        {"  \"abc\" rest", true, "abc", 7},
        {"\"abc", true, "abc", 4},
        {"abc", false, "", 0},
        {"\"a very long name that goes on\"", true, "a very lo", 31},
        {"\"\"x", true, "", 2},
    };
    for (const auto& c : cases) {
        const char* cursor = c.text;
        char dest[10] = "unset";
        EXPECT_EQ(parseQuoted(cursor, dest, 9), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(dest, c.value) << c.text;
        }
        EXPECT_EQ(cursor - c.text, c.consumed) << c.text;
    }
    const char* cursor = "\"x\"";
    EXPECT_FALSE(parseQuoted(cursor, nullptr, 5));
}

}  // namespace
}  // namespace bearfix
