#include "app/results.h"

#include <gtest/gtest.h>

namespace bearfix {
namespace {

const char* const kPosA = "N52\xB0" "08'26\" E008\xB0" "28'57\"";
const char* const kPosB = "N49\xB0" "27'00\" E011\xB0" "00'00\"";

TEST(Results, DefaultObservers) {
    Results r = computeResults({kPosA, kPosB, "260", "288"});
    ASSERT_TRUE(r.computed);
    EXPECT_EQ(r.fix.status, 0);
    EXPECT_EQ(r.bearingAB, "148.4 \xB0");
    EXPECT_EQ(r.bearingBA, "330.4 \xB0");
    EXPECT_EQ(r.distanceAB, "348 km");
    EXPECT_EQ(r.locationX, "N51\xB0" "04'05\" E000\xB0" "58'50\"");
    EXPECT_NEAR(r.observerA.lat * kRadToDeg, 52.140556, 1e-6);
}

TEST(Results, MissingBearingOrIntersection) {
    Results noBearing = computeResults({kPosA, kPosB, "260", ""});
    EXPECT_FALSE(noBearing.computed);
    EXPECT_TRUE(noBearing.locationX.empty() && noBearing.distanceAB.empty());
    EXPECT_NEAR(noBearing.observerB.lon * kRadToDeg, 11.0, 1e-9) << "observers are parsed all the same";

    // The bearings point to different sides of the line A-B: no crossing.
    Results apart = computeResults({kPosA, kPosB, "90", "200"});
    ASSERT_TRUE(apart.computed);
    EXPECT_EQ(apart.fix.status, 1);
    EXPECT_EQ(apart.locationX, "no intersection found");
    EXPECT_EQ(apart.locationInfo, "");
    EXPECT_EQ(apart.distanceAB, "348 km");

    // Unreadable texts place the observer at 0/0 and read the bearing as 0.
    Results junk = computeResults({"somewhere", "N1 E1", "north", "270"});
    EXPECT_EQ(junk.observerA.lat, 0.0);
    EXPECT_EQ(junk.bearingAB, "45 \xB0");
}

TEST(Results, DistanceAndBearingTexts) {
    struct Case {
        double km;
        const char* text;
    };
    const Case distances[] = {{12345.6, "12346"}, {100.4, "100"}, {100, "100.0"}, {10, "10.00"},
                              {1, "1.000"},       {0.5, "0.500"}, {0, "0.000"},   {-3.25, "-3.25"}};
    for (const auto& c : distances) EXPECT_EQ(formatDistance(c.km), c.text) << c.km;
    EXPECT_EQ(formatBearing(359.96), "360 \xB0");
    EXPECT_EQ(formatBearing(72.04), "72 \xB0");

    Results same = computeResults({kPosA, kPosA, "10", "300"});
    EXPECT_EQ(same.distanceAB, "0.000 km");
    EXPECT_EQ(same.bearingAB, "0 \xB0");
}

}  // namespace
}  // namespace bearfix
