#include "geo/position_patterns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace bearfix {
namespace {

const double kBigDegrees = 1e9;  // marks "not a position" in the table

// Typed and pasted forms with their positions, worked by hand: d°m's" is
// d + m/60 + s/3600. A locator's centre: fields of 20° x 10° from 180 W,
// 90 S (J = 9, O = 14), squares of 2° x 1°, subsquares of 5' x 2.5' (h = 7,
// f = 5), then 0.5' x 0.25' and 1/48' x 1/96' squares; plus half the last.
TEST(ReadPosition, TypedAndPastedForms) {
    const struct { std::string text; double lat, lon; } cases[] = {
        // Decimal pairs, latitude first.
        {"50.3375, 8.7553", 50.3375, 8.7553},
        {"50.3375,8.7553", 50.3375, 8.7553},
        {"50.3375 8.7553", 50.3375, 8.7553},
        {"50.3375; 8.7553", 50.3375, 8.7553},
        {"50,3375 8,7553", 50.3375, 8.7553},
        {"50,3375; 8,7553", 50.3375, 8.7553},
        {"-33.8675, 151.2", -33.8675, 151.2},
        {"+50.3375 -8.7553", 50.3375, -8.7553},
        {"\t50.3375\t8.7553 ", 50.3375, 8.7553},
        {"50.3375\xA0" "8.7553", 50.3375, 8.7553},  // no-break space
        {"50.3375\xB0, 8.7553\xB0", 50.3375, 8.7553},
        {"-33\xB0" "52', 151\xB0" "12'", -33.866666666666667, 151.2},
        // Hemisphere letters after the angles.
        {"50.3375N 8.7553E", 50.3375, 8.7553},
        {"50.3375 N, 8.7553 E", 50.3375, 8.7553},
        {"8.7553E 50.3375N", 50.3375, 8.7553},
        {"33.8675S 151.2E", -33.8675, 151.2},
        {"50\xB0" "20'15\"N 8\xB0" "45'19\"E", 50.3375, 8.755277777777778},
        {"50\xB0" "20'15\"N, 8\xB0" "45'19\"E", 50.3375, 8.755277777777778},
        {"50\xB0 20' 15\" N 8\xB0 45' 19\" E", 50.3375, 8.755277777777778},
        {"50 20.25N 8 45.32E", 50.3375, 8.755333333333333},
        {"52 08 26N 8 28 57E", 52.140555555555556, 8.4825},
        {"52\xB0" "08'26''N 8\xB0" "28'57''W", 52.140555555555556, -8.4825},
        // A blank after the letter, a comma or semicolon between.
        {"N 50.33 E 8.75", 50.33, 8.75},
        {"N 50.3375, E 8.7553", 50.3375, 8.7553},
        {"N50.3375, E8.7553", 50.3375, 8.7553},
        {"N50.3375; E8.7553", 50.3375, 8.7553},
        {"S 33\xB0" "52' E 151\xB0" "12'", -33.866666666666667, 151.2},
        {"N50 20.25 E8 45.32", 50.3375, 8.755333333333333},
        // Typographic signs: º ’ ” ´ in Windows-1252.
        {"N52\xBA" "08\x92" "26\x94 E008\xBA" "28\x92" "57\x94", 52.140555555555556, 8.4825},
        {"N52\xB0" "08\xB4" "26\xB4\xB4 E008\xB0" "28\xB4" "57\xB4\xB4", 52.140555555555556, 8.4825},
        {"N52\xB0" "08'26\" E008\xB0" "28\x92" "57\x94", 52.140555555555556, 8.4825},
        // Maidenhead locators.
        {"JO40hf", 50.229166666666667, 8.625},
        {"jo40HF", 50.229166666666667, 8.625},
        {"JO40", 50.5, 9.0},
        {"JO40hf31", 50.214583333333333, 8.6125},
        {"JO40hf31ij", 50.214149305555556, 8.611284722222221},
        {"EN61", 41.5, -87.0},
        {"RR99xx", 89.979166666666667, 179.95833333333333},
        {"AA00aa", -89.979166666666667, -179.95833333333333},
        // (The program's own forms read as scan_position reads them: the differential test.)
        // No position.
        {"50.3375", kBigDegrees, 0}, {"N52", kBigDegrees, 0}, {"52.5, 200", kBigDegrees, 0},
        {"95 8", kBigDegrees, 0}, {"50\xB0" "75' 8", kBigDegrees, 0}, {"50,8", kBigDegrees, 0},
        {"JO40h", kBigDegrees, 0}, {"JO40hf3", kBigDegrees, 0}, {"SS40", kBigDegrees, 0},
        {"JO40hz", kBigDegrees, 0}, {"N 50.33", kBigDegrees, 0}, {"50N 8N", kBigDegrees, 0},
        {"", kBigDegrees, 0}, {"N" + std::string(400, '9') + " E8", kBigDegrees, 0},
        {"50.5\xB0" "20 8", kBigDegrees, 0},  // minutes after a fraction of a degree
        {"N50 20 8 45E", kBigDegrees, 0},     // one letter before, one after
    };
    for (const auto& c : cases) {
        GeoPosition p;
        const bool read = read_position(c.text, p);
        EXPECT_EQ(read, c.lat != kBigDegrees) << c.text;
        if (!read || c.lat == kBigDegrees) continue;
        EXPECT_NEAR(p.lat * kRadToDeg, c.lat, 1e-9) << c.text;
        EXPECT_NEAR(p.lon * kRadToDeg, c.lon, 1e-9) << c.text;
    }
}

TEST(ReadPosition, PrimesFromUtf8) {
    EXPECT_EQ(position_text_from_utf8("N52\xC2\xB0" "08\xE2\x80\xB2" "26\xE2\x80\xB3 \xC2\xBA\xE2\x80\x99\xE2\x80\x9D\xC2\xB4"),
              "N52\xB0" "08'26\" \xBA\x92\x94\xB4");
    GeoPosition p;
    ASSERT_TRUE(read_position(position_text_from_utf8("N52\xC2\xB0" "08\xE2\x80\xB2" "26\xE2\x80\xB3 E008\xC2\xB0"
                                                      "28\xE2\x80\xB2" "57\xE2\x80\xB3"),
                              p));
    EXPECT_NEAR(p.lat * kRadToDeg, 52.140555555555556, 1e-12);
    EXPECT_NEAR(p.lon * kRadToDeg, 8.4825, 1e-12);
}

// Random texts of the characters scan_position gives a meaning to: half
// shaped like two components (a letter, a number, signs, in some order),
// half any string of its tokens, so that positions, near-positions and the
// patterns' forms come up often. Every text that scan_position reads with
// both components (whether a pattern would match it or not) reads as the
// same position; a text read by a pattern is within range.
// BEARFIX_DIFFERENTIAL_TEXTS sets how many (default 1.5 million).
TEST(ReadPosition, DifferentialAgainstScanPosition) {
    static const char* const letters[] = {"N", "S", "E", "W", "O", "n", "s", "e", "w", "o", "", "x"};
    static const char* const numbers[] = {"5", "50", "8", "45", "20.25", "08,43", "0", "90", "180", "7.5", "15", "60"};
    static const char* const signs[3][4] = {{"\xB0", "\xF8", "", ""}, {"'", "", "", ""}, {"\"", "''", "", ""}};
    static const char* const between[] = {" ", "  ", "/", ",", ", ", ";", " ; ", "", "-", "+", ".", "x"};
    const char* env = std::getenv("BEARFIX_DIFFERENTIAL_TEXTS");
    const long count = env ? std::atol(env) : 1500000;
    std::mt19937_64 random(20260521);
    const auto any = [&random](const auto& list) { return list[random() % std::size(list)]; };
    long bothComponents = 0, byPattern = 0;
    std::string text;
    for (long i = 0; i < count; ++i) {
        text.clear();
        if (i % 2 == 0) {
            for (int component = 0; component < 2; ++component) {
                const bool letterFirst = random() % 2 == 0;
                if (letterFirst) text += any(letters);
                if (random() % 3 == 0) text += ' ';
                for (int part = 0, parts = 1 + static_cast<int>(random() % 3); part < parts; ++part) {
                    if (part > 0 && random() % 3 == 0) text += ' ';
                    text += any(numbers);
                    text += any(signs[part]);
                }
                if (!letterFirst) {
                    if (random() % 3 == 0) text += ' ';
                    text += any(letters);
                }
                if (component == 0 || random() % 8 == 0) text += any(between);
            }
        } else {
            for (int n = static_cast<int>(random() % 9); n >= 0; --n) {
                switch (random() % 4) {
                    case 0: text += any(letters); break;
                    case 1: text += any(numbers); break;
                    case 2: text += any(signs[random() % 3]); break;
                    default: text += any(between); break;
                }
            }
        }
        GeoPosition original, read;
        const bool both = scan_position(text, original) == 2;
        const bool isPosition = read_position(text, read);
        if (both) {
            ++bothComponents;
            ASSERT_TRUE(isPosition) << text;
            ASSERT_EQ(read.lat, original.lat) << text;
            ASSERT_EQ(read.lon, original.lon) << text;
        } else if (isPosition) {
            ++byPattern;
            ASSERT_TRUE(std::fabs(read.lat) <= kDegToRad * 90 && std::fabs(read.lon) <= kDegToRad * 180) << text;
        }
    }
    // The texts exercise both readers.
    std::printf("%ld texts: %ld read with both components by scan_position, %ld by a pattern only\n", count,
                bothComponents, byPattern);
    EXPECT_GT(bothComponents, count / 100);
    EXPECT_GT(byPattern, count / 100);
}

// The display forms read back to within their precision.
TEST(DisplayPosition, FormsReadBack) {
    const struct { GeoPosition p; PosFormat format; const char* text; } cases[] = {
        {{8.7553 * kDegToRad, 50.3375 * kDegToRad}, PosFormat::DecimalDegrees, "N50.33750 E008.75530"},
        {{-151.2 * kDegToRad, -33.8675 * kDegToRad}, PosFormat::DecimalDegrees, "S33.86750 W151.20000"},
        {{-0.000004 * kDegToRad, -0.000004 * kDegToRad}, PosFormat::DecimalDegrees, "N00.00000 E000.00000"},
        {{179.999996 * kDegToRad, 89.999996 * kDegToRad}, PosFormat::DecimalDegrees, "N90.00000 E180.00000"},
        {{8.7553 * kDegToRad, 50.3375 * kDegToRad}, PosFormat::MaidenheadLocator, "JO40ji"},
        {{8.7553 * kDegToRad, 50.3375 * kDegToRad}, PosFormat::Dms, "N50\xB0" "20'15\" E008\xB0" "45'19\""},
        {{8.7553 * kDegToRad, 50.3375 * kDegToRad}, PosFormat::DmsTenths, "N50\xB0" "20'15\" E008\xB0" "45'19\""},
        {{-180.0 * kDegToRad, -90.0 * kDegToRad}, PosFormat::MaidenheadLocator, "AA00aa"},
        {{180.0 * kDegToRad, 90.0 * kDegToRad}, PosFormat::MaidenheadLocator, "AR09ax"},  // round the earth, last row
    };
    for (const auto& c : cases) EXPECT_EQ(display_position(c.p, c.format), c.text) << c.text;
    // 50.338 N 8.7553 E: 45.318' past 8 E = 9 x 5' (j) + 0 x 0.5' (0) +
    // 15.26 x 1/48' (p); 20.28' past 50 N = 8 x 2.5' (i) + 1 x 0.25' (1) +
    // 2.88 x 1/96' (c).
    EXPECT_EQ(maidenhead_locator({8.7553 * kDegToRad, 50.338 * kDegToRad}, 10), "JO40ji01pc");
    EXPECT_EQ(maidenhead_locator({8.7553 * kDegToRad, 50.3375 * kDegToRad}, 4), "JO40");

    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> lat(-89.99, 89.99), lon(-179.99, 179.99);
    for (int i = 0; i < 2000; ++i) {
        const GeoPosition p{lon(random) * kDegToRad, lat(random) * kDegToRad};
        GeoPosition back;
        ASSERT_TRUE(read_position(decimal_degrees_text(p), back));
        EXPECT_LE(std::fabs(back.lat - p.lat) * kRadToDeg, 0.5e-5 + 1e-12);
        EXPECT_LE(std::fabs(back.lon - p.lon) * kRadToDeg, 0.5e-5 + 1e-12);
        const std::string locator = maidenhead_locator(p, 10);
        ASSERT_TRUE(read_position(locator, back)) << locator;
        EXPECT_LE(std::fabs(back.lon - p.lon) * kRadToDeg, 1.0 / 5760 + 1e-12) << locator;
        EXPECT_LE(std::fabs(back.lat - p.lat) * kRadToDeg, 1.0 / 11520 + 1e-12) << locator;
        EXPECT_EQ(maidenhead_locator(back, 10), locator) << "the centre lies in its own square";
    }
}

}  // namespace
}  // namespace bearfix
