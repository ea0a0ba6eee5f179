#include "app/results.h"

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

}  // namespace
}  // namespace bearfix
