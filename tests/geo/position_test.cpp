#include "geo/position.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

namespace bearfix {
namespace {

TEST(ScanPosition, Forms) {
    struct { std::string_view text; int count; double latDeg, lonDeg; } const cases[] = {
        {"E008\xB0" "28'57\"/N52\xB0" "08'26\"", 2, 52.140555555555556, 8.4825},
        {"N52\xF8" "08'26\" E008\xF8" "28'57\"", 2, 52.140555555555556, 8.4825},
        {"n52.1406 e8.4825", 2, 52.1406, 8.4825},
        {"O8.5 N52", 2, 52.0, 8.5},
        {"52N08.43 008E28.95", 2, 52.1405, 8.4825},
        {"33s52 151w12", 2, -33.866666666666667, -151.2},
        {"s33,5 w70,25", 2, -33.5, -70.25},
        {"   N1/W2", 2, 1.0, -2.0},
        {"N 52 E 8", 0, 0, 0}, {"52.5 8.3", 0, 0, 0}, {"N", 0, 0, 0}, {"N52 N53", 1, 53, 0},
        {"x N1 E2", 0, 0, 0},  // an unreadable start blocks both passes
        {"N1 /W2", 1, 1, 0},   // '/' separates only right after a component
        {std::string_view("N1\0E2", 5), 1, 1, 0},
    };
    for (const auto& c : cases) {
        GeoPosition p{9.0, 9.0};
        EXPECT_EQ(scan_position(c.text, p), c.count) << c.text;
        EXPECT_NEAR(p.lat, c.latDeg * kDegToRad, 1e-12) << c.text;
        EXPECT_NEAR(p.lon, c.lonDeg * kDegToRad, 1e-12) << c.text;
    }
}

// A number too large for a double reads as infinity; a component that is
// not finite is not found and stays 0, and marks the text as no position.
TEST(ScanPosition, NumbersTooLargeForADouble) {
    const std::string big = "1" + std::string(400, '0');
    struct { std::string text; int count; bool notFinite; double latDeg, lonDeg; } const cases[] = {
        {"N" + big + " E8", 1, true, 0, 8},
        {"S" + big + ".5 W" + big, 0, true, 0, 0},
        {"N" + big + "/E8", 1, true, 0, 8},
        {"N" + big + " N52", 1, false, 52, 0},  // a second latitude replaces the first
        {"N52 N" + big, 0, true, 0, 0},
        {"52N" + big + " E8", 1, true, 0, 8},  // minutes of the infix form
        {"N1\xB0" + big + " E8", 1, true, 0, 8},
        {"N1\xB0" "0'" + big + "\" E8", 1, true, 0, 8},
        {"N1\xB0-" + big + "'" + big + " E8", 1, true, 0, 8},  // -inf + inf
        {"N0." + std::string(400, '0') + "1 E8", 2, false, 0, 8},  // tiny is 0
        {"N" + std::string(300, '0') + "52 E8", 2, false, 52, 8},
    };
    for (const auto& c : cases) {
        GeoPosition p{9.0, 9.0};
        bool notFinite = !c.notFinite;
        EXPECT_EQ(scan_position(c.text, nullptr, p, &notFinite), c.count) << c.text;
        EXPECT_EQ(notFinite, c.notFinite) << c.text;
        EXPECT_NEAR(p.lat, c.latDeg * kDegToRad, 1e-12) << c.text;
        EXPECT_NEAR(p.lon, c.lonDeg * kDegToRad, 1e-12) << c.text;
    }
}

TEST(ScanPosition, IndexMovesOnlyWhenBothComponentsAreFound) {
    GeoPosition p;
    std::size_t index = 5, none = 0;
    EXPECT_EQ(scan_position("pos: N10 E20 rest", &index, p), 2);
    EXPECT_EQ(index, 12u);
    EXPECT_EQ(scan_position("N10 x", &none, p), 1);
    EXPECT_EQ(none, 0u);
}

TEST(ScanDecimalAndAngle, Numbers) {
    struct { const char* text; double value; std::size_t end; } const decimals[] = {
        {"-1,5", -1.5, 4}, {"  +2.25x", 2.25, 7}, {"abc", 0, 0}, {"-", 0, 1}, {"1e5", 1, 1}};
    for (const auto& c : decimals) {
        std::size_t index = 0;
        EXPECT_DOUBLE_EQ(scan_decimal(c.text, &index), c.value) << c.text;
        EXPECT_EQ(index, c.end) << c.text;
    }
    const std::string big = "1" + std::string(400, '0');
    const std::pair<std::string, double> huge[] = {
        {big, INFINITY}, {"-" + big + ",25", -INFINITY}, {"0," + std::string(400, '0') + "7", 0.0},
        {std::string(400, '0') + "3", 3.0}, {"1" + std::string(308, '0'), 1e308}};
    for (const auto& [text, value] : huge) {
        std::size_t index = 0;
        EXPECT_EQ(scan_decimal(text, &index), value) << text;
        EXPECT_EQ(index, text.size()) << text;
    }
    std::size_t past = 10;
    EXPECT_EQ(scan_decimal("12", &past), 0.0);
    EXPECT_EQ(past, 10u);
    // The degree sign must follow the number directly, seconds need a degree
    // sign, blanks before minutes and seconds are fine.
    EXPECT_NEAR(scan_angle("52\xB0" "08.43"), 52.0 + 8.43 / 60, 1e-12);
    EXPECT_EQ(scan_angle("52 \xB0" "30"), 52.0);
    EXPECT_EQ(scan_angle("52'30"), 52.0);
    EXPECT_NEAR(scan_angle("1\xB0 30' 36\""), 1.51, 1e-12);
}

TEST(FormatPosition, Texts) {
    // 26.95 arc seconds rounds down, 26.96 up, in either precision.
    const double lat2695 = (52 + 8 / 60.0 + 26.95 / 3600) * kDegToRad, lat2696 = lat2695 + 0.01 / 3600 * kDegToRad;
    struct { GeoPosition pos; PosFormat fmt; const char* text; } const cases[] = {
        {{0.0, -1e-12}, PosFormat::Dms, "S00\xB0" "00'00\" E000\xB0" "00'00\""},
        {{0.0, lat2696}, PosFormat::Dms, "N52\xB0" "08'27\" E000\xB0" "00'00\""},
        {{0.0, lat2696}, PosFormat::DmsTenths, "N52\xB0" "08'27.0\" E000\xB0" "00'00.0\""},
        {{0.0, lat2695}, PosFormat::Dms, "N52\xB0" "08'26\" E000\xB0" "00'00\""},
        {{0.0, lat2695}, PosFormat::DmsTenths, "N52\xB0" "08'26.9\" E000\xB0" "00'00.0\""},
        {{-151.2 * kDegToRad, -33.8675 * kDegToRad}, PosFormat::Dms, "S33\xB0" "52'03\" W151\xB0" "12'00\""},
        {{179.9999 * kDegToRad, 89.9999 * kDegToRad}, PosFormat::Dms, "N89\xB0" "59'59\" E179\xB0" "59'59\""},
        {{0.0, 0.0}, PosFormat::DecimalDegrees, "fmt??"},
        {{NAN, INFINITY}, PosFormat::Dms, "N00\xB0" "00'00\" E000\xB0" "00'00\""},
    };
    for (const auto& c : cases) EXPECT_EQ(format_position(c.pos, c.fmt), c.text) << c.text;

    // Texts as the defaults write them read back to the same text.
    for (const char* text : {"N52\xB0" "08'26\" E008\xB0" "28'57\"", "S01\xB0" "00'01\" W000\xB0" "00'59\""}) {
        GeoPosition p;
        ASSERT_EQ(scan_position(text, p), 2) << text;
        EXPECT_EQ(format_position(p, PosFormat::Dms), text);
    }
}

}  // namespace
}  // namespace bearfix
