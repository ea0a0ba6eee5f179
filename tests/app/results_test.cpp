#include "app/results.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace bearfix
