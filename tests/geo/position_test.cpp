#include "geo/position.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace bearfix {
namespace {

constexpr double kArcSecond = kDegToRad / 3600.0;

struct ScanCase {
    const char* text;
    int count;
    double latDeg;
    double lonDeg;
};

TEST(ScanPosition, Forms) {
    const ScanCase cases[] = {
        {"N52\xB0" "08'26\" E008\xB0" "28'57\"", 2, 52.140555555555556, 8.4825},
        {"E008\xB0" "28'57\"/N52\xB0" "08'26\"", 2, 52.140555555555556, 8.4825},
        {"N52\xF8" "08'26\" E008\xF8" "28'57\"", 2, 52.140555555555556, 8.4825},
        {"n52.1406 e8.4825", 2, 52.1406, 8.4825},
        {"O8.5 N52", 2, 52.0, 8.5},
        {"52N08.43 008E28.95", 2, 52.1405, 8.4825},
        {"33s52 151w12", 2, -33.866666666666667, -151.2},
        {"S33\xB0" "52' E151\xB0" "12'", 2, -33.866666666666667, 151.2},
        {"s33,5 w70,25", 2, -33.5, -70.25},
        {"   N1/W2", 2, 1.0, -2.0},
        {"N 52 E 8", 0, 0.0, 0.0},
        {"52.5 8.3", 0, 0.0, 0.0},
        {"N52 N53", 1, 53.0, 0.0},
        {"E8", 1, 0.0, 8.0},
        {"", 0, 0.0, 0.0},
        {"N", 0, 0.0, 0.0},
        {"x N1 E2", 0, 0.0, 0.0},  // an unreadable start blocks both passes
        {"N1 /W2", 1, 1.0, 0.0},   // '/' separates only right after a component
    };
    for (const auto& c : cases) {
        GeoPosition p{9.0, 9.0};
        EXPECT_EQ(scan_position(c.text, p), c.count) << c.text;
        EXPECT_NEAR(p.lat, c.latDeg * kDegToRad, 1e-12) << c.text;
        EXPECT_NEAR(p.lon, c.lonDeg * kDegToRad, 1e-12) << c.text;
    }
}

TEST(ScanPosition, TextEndsAtFirstNul) {
    GeoPosition p;
    EXPECT_EQ(scan_position(std::string_view("N1\0E2", 5), p), 1);
    EXPECT_EQ(p.lon, 0.0);
}

TEST(ScanPosition, IndexMovesOnlyWhenBothComponentsAreFound) {
    GeoPosition p;
    std::string text = "pos: N10 E20 rest";
    std::size_t index = 5;
    EXPECT_EQ(scan_position(text, &index, p), 2);
    EXPECT_EQ(text.substr(index), " rest");
    index = 0;
    EXPECT_EQ(scan_position("N10 x", &index, p), 1);
    EXPECT_EQ(index, 0u);
}

TEST(ScanDecimal, Numbers) {
    struct Case {
        const char* text;
        double value;
        std::size_t end;
    };
    const Case cases[] = {
        {"-1,5", -1.5, 4}, {"  +2.25x", 2.25, 7}, {"abc", 0.0, 0}, {"-", 0.0, 1},
        {",", 0.0, 1},     {"007", 7.0, 3},       {"", 0.0, 0},   {"1e5", 1.0, 1},
    };
    for (const auto& c : cases) {
        std::size_t index = 0;
        EXPECT_DOUBLE_EQ(scan_decimal(c.text, &index), c.value) << c.text;
        EXPECT_EQ(index, c.end) << c.text;
    }
    std::size_t past = 10;
    EXPECT_EQ(scan_decimal("12", &past), 0.0);
    EXPECT_EQ(past, 10u);
}

TEST(ScanAngle, DegreesMinutesSeconds) {
    struct Case {
        const char* text;
        double degrees;
    };
    const Case cases[] = {
        {"52\xB0" "08'26\"", 52.0 + 8.0 / 60 + 26.0 / 3600},
        {"52\xB0" "08.43", 52.0 + 8.43 / 60},
        {"52.5", 52.5},
        {"52 \xB0" "30", 52.0},    // the degree sign must follow the number directly
        {"52'30", 52.0},           // seconds only after a degree sign
        {"1\xB0 30' 36\"", 1.51},  // blanks before minutes and seconds are fine
    };
    for (const auto& c : cases) EXPECT_NEAR(scan_angle(c.text), c.degrees, 1e-12) << c.text;
}

GeoPosition fromDegrees(double latDeg, double lonDeg) { return {lonDeg * kDegToRad, latDeg * kDegToRad}; }

TEST(FormatPosition, Texts) {
    struct Case {
        GeoPosition pos;
        PosFormat fmt;
        const char* text;
    };
    const double lat2696 = (52.0 + 8.0 / 60) * kDegToRad + 26.96 * kArcSecond;
    const double lat2695 = (52.0 + 8.0 / 60) * kDegToRad + 26.95 * kArcSecond;
    const Case cases[] = {
        {{0.0, 0.0}, PosFormat::Dms, "N00\xB0" "00'00\" E000\xB0" "00'00\""},
        {{0.0, -1e-12}, PosFormat::Dms, "S00\xB0" "00'00\" E000\xB0" "00'00\""},
        {{0.0, lat2696}, PosFormat::Dms, "N52\xB0" "08'27\" E000\xB0" "00'00\""},
        {{0.0, lat2696}, PosFormat::DmsTenths, "N52\xB0" "08'27.0\" E000\xB0" "00'00.0\""},
        {{0.0, lat2695}, PosFormat::Dms, "N52\xB0" "08'26\" E000\xB0" "00'00\""},
        {{0.0, lat2695}, PosFormat::DmsTenths, "N52\xB0" "08'26.9\" E000\xB0" "00'00.0\""},
        {fromDegrees(-33.8675, -151.2), PosFormat::Dms, "S33\xB0" "52'03\" W151\xB0" "12'00\""},
        {fromDegrees(89.9999, 179.9999), PosFormat::Dms, "N89\xB0" "59'59\" E179\xB0" "59'59\""},
        {{0.0, 0.0}, PosFormat::MaidenheadLocator, "fmt??"},
        {{0.0, 0.0}, PosFormat::DecimalDegrees, "fmt??"},
        {{NAN, INFINITY}, PosFormat::Dms, "N00\xB0" "00'00\" E000\xB0" "00'00\""},
    };
    for (const auto& c : cases) EXPECT_EQ(format_position(c.pos, c.fmt), c.text) << c.text;
}

TEST(FormatPosition, DefaultTextsRoundTrip) {
    const char* texts[] = {
        "N52\xB0" "08'26\" E008\xB0" "28'57\"",
        "N49\xB0" "27'00\" E011\xB0" "00'00\"",
        "N51\xB0" "19'40\" E007\xB0" "14'05\"",
        "S01\xB0" "00'01\" W000\xB0" "00'59\"",
    };
    for (const char* text : texts) {
        GeoPosition p;
        ASSERT_EQ(scan_position(text, p), 2) << text;
        std::string dms = format_position(p, PosFormat::Dms);
        EXPECT_EQ(dms, text);
        EXPECT_EQ(dms.size(), 22u);
        EXPECT_EQ(format_position(p, PosFormat::DmsTenths).size(), 26u);
    }
}

}  // namespace
}  // namespace bearfix
