#include "session/results.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace bearfix {
namespace {

const char* const kPosA = "N52\xB0" "08'26\" E008\xB0" "28'57\"";

// The texts of a whole fix are checked through the window and the command line.
TEST(Results, DistanceAndBearingTexts) {
    const std::pair<double, const char*> distances[] = {{12345.6, "12346"}, {100.4, "100"}, {100, "100.0"},
                                                        {10, "10.00"},      {1, "1.000"},   {0.5, "0.500"},
                                                        {0, "0.000"},       {-3.25, "-3.25"}};
    for (const auto& [km, text] : distances) EXPECT_EQ(formatDistance(km), text) << km;
    EXPECT_EQ(formatBearing(359.96), "360 \xB0");
    EXPECT_EQ(formatBearing(72.04), "72 \xB0");

    Results same = computeResults({kPosA, kPosA, "10", "300"});
    EXPECT_EQ(same.distanceAB, "0.000 km");
    EXPECT_EQ(same.bearingAB, "0 \xB0");
}

std::string texts(const Results& r) {
    return r.infoA + "|" + r.infoB + "|" + r.locationX + "|" + r.locationInfo + "|" + r.distanceAB + "|" + r.bearingAB +
           "|" + r.bearingBA;
}

// A bearing typed outside 0..360 is the same bearing as within.
TEST(Results, BearingsAreTakenModulo360) {
    const std::pair<const char*, const char*> typed[] = {
        {"765", "45"}, {"-355", "5"}, {"400", "40"}, {"-315", "45"}, {"360", "0"}, {"-0", "0"}, {"1125,5", "45.5"}};
    for (const auto& [outside, within] : typed) {
        for (const char* other : {"315", "300", "15"}) {
            const Results a = computeResults({"N50 E8", "N50 E9", outside, other});
            const Results b = computeResults({"N50 E8", "N50 E9", within, other});
            EXPECT_EQ(texts(a), texts(b)) << outside << " " << other;
            EXPECT_EQ(a.fix.status, b.fix.status) << outside << " " << other;
            const Results c = computeResults({"N50 E9", "N50 E8", other, outside});
            const Results d = computeResults({"N50 E9", "N50 E8", other, within});
            EXPECT_EQ(c.locationX, d.locationX) << outside << " " << other;
        }
    }
    // Within 0..360 at both observers the texts of A and B swapped agree.
    const Results ab = computeResults({"N50 E8", "N50 E9", "765", "315"});
    const Results ba = computeResults({"N50 E9", "N50 E8", "315", "765"});
    EXPECT_EQ(ab.locationX, ba.locationX);
    EXPECT_EQ(ab.fix.status, 0);
}

// Numbers too large for a double: no silent 0, no X from them.
TEST(Results, NumbersTooLargeForADouble) {
    const std::string big = "1" + std::string(400, '0');
    const Results bearing = computeResults({"N50 E8", "N50 E9", big, "315"});
    EXPECT_EQ(bearing.locationX, "no intersection found");
    EXPECT_EQ(bearing.distanceAB, computeResults({"N50 E8", "N50 E9", "45", "315"}).distanceAB);

    const Results position = computeResults({"N" + big + " E8", "N50 E9", "45", "315"});
    EXPECT_FALSE(position.validA);
    EXPECT_TRUE(position.validB);
    EXPECT_EQ(texts(position), "not a position|11 km W of Aschaffenburg|no intersection found||||");
    EXPECT_EQ(position.fix.status, 1);
    EXPECT_TRUE(position.computed);

    const Results onlyInfo = computeResults({"N50 E8", "N50 W" + big, "", "315"});
    EXPECT_EQ(onlyInfo.infoB, "not a position");
    EXPECT_FALSE(onlyInfo.computed);
}

// A at (0, 0) and B at (1 E, 0), worked by hand on the sphere: bearings 45
// and 315 meet at about (0.5 N, 0.5 E), 0.707 degrees (78.6 km) from both,
// at a right angle (the triangle's excess is 0.004 degrees). Bearings 5 and
// 355 meet at 10 degrees, 85 and 275 at 170: shallow. Sectors of +-20 around
// 5 and 355 share everything due north: unbounded.
TEST(Results, FixTextsBeyondX) {
    const struct {
        const char *brg1, *brg2, *tol1, *tol2;
        const char *distance, *angle, *area, *warning;
    } cases[] = {
        {"45", "315", "0", "0", "78.6 km", "90.0 \xB0", "0.000 km\xB2, 0.000 km across", ""},
        {"5", "355", "20", "20", "", "10.0 \xB0", "unbounded", "shallow crossing"},
        {"85", "275", "1", "1", "", "170.0 \xB0", "", "shallow crossing"},
        {"45", "225", "1", "1", "", "", "", ""},  // no X
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.brg1) + " " + c.brg2 + " " + c.tol1 + " " + c.tol2);
        const Results r = computeResults({"N0 E0", "N0 E1", c.brg1, c.brg2, c.tol1, c.tol2});
        if (*c.distance) {
            EXPECT_EQ(r.distanceAX, c.distance);
            EXPECT_EQ(r.distanceBX, c.distance);
        }
        EXPECT_EQ(r.crossingAngleText, c.angle);
        if (*c.area) {
            EXPECT_EQ(r.searchArea, c.area);
        }
        EXPECT_EQ(r.warning, c.warning);
        EXPECT_EQ(r.searchArea.empty(), r.fix.status != 0);
    }
    // A tolerance too large for a number is no sector; its sign does not matter.
    EXPECT_EQ(computeResults({"N0 E0", "N0 E1", "45", "315", "1", "1" + std::string(400, '0')}).searchArea, "unbounded");
    EXPECT_EQ(computeResults({"N0 E0", "N0 E1", "45", "315", "1", "-1"}).searchArea,
              computeResults({"N0 E0", "N0 E1", "45", "315", "1", "1"}).searchArea);
}

// Bearings 225 and 135 do not meet; their back bearings 45 and 315 do, at
// tan(lat) = sin 0.5 deg tan 45 deg: 0.49998 N (29'59.93"), 0.5 E.
TEST(Results, BackBearingCrossingLines) {
    const Results one = computeResults({"N0 E0", "N0 E1", "225", "135", "1", "1", true, false});
    EXPECT_TRUE(one.alternativeLines.empty());
    const Results both = computeResults({"N0 E0", "N0 E1", "225", "135", "1", "1", true, true});
    EXPECT_EQ(both.locationX, "no intersection found");
    ASSERT_EQ(both.alternativeLines.size(), 1u);
    const std::string line = both.alternativeLines[0];
    EXPECT_TRUE(line.starts_with("X' A+180 \xD7 B+180: N00\xB0" "29'59\" E000\xB0" "30'00\", ")) << line;
    EXPECT_NE(line.find(" km "), std::string::npos) << "and the nearest place";
}

}  // namespace
}  // namespace bearfix
