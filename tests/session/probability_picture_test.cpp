// The probability layer as the window lays it over the map: in both
// projections the 95 % outline encloses, at the view's scale, the region's
// area; the colours run along viridis from a tenth of the region's lowest
// density, clear below.
#include "session/probability_picture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace bearfix {
namespace {

Bearing bearing(double lat, double lon, double degrees, double tolerance) {
    Bearing b;
    b.position = {lon * kDegToRad, lat * kDegToRad};
    b.bearingDeg = degrees;
    b.toleranceDeg = tolerance;
    return b;
}

TEST(ProbabilityPicture, OutlinesAtTheViewsScaleAndColours) {
    const std::vector<Bearing> bearings = {bearing(50, 8, 45, 2), bearing(50, 9, 315, 2), bearing(51, 8.5, 180, 2)};
    const Posterior p = computePosterior(bearings);
    const HdrRegion h50 = highestDensityRegion(p.grid, 0.5), h95 = highestDensityRegion(p.grid, 0.95);
    for (int projection : {kCylindric, kAzimuthal}) {
        SCOPED_TRACE(projection);
        MapView view;
        map_view_setup(view, projection, p.mean.lon, p.mean.lat, 5.0, 800, 500);  // 50 px per km
        ProbabilityPicture picture;
        paintProbability(p.grid, h50, h95, view, picture);
        ASSERT_EQ(picture.outline95.size(), 1u);
        const auto& ring = picture.outline95[0];
        double twice = 0.0;
        for (std::size_t i = 0; i + 1 < ring.size(); ++i) twice += ring[i].x * ring[i + 1].y - ring[i + 1].x * ring[i].y;
        const double pxPerKm = 500.0 / 10.0;
        EXPECT_NEAR(std::fabs(twice) / 2 / (pxPerKm * pxPerKm), h95.areaKm2, 0.03 * h95.areaKm2);

        int x, y;
        ASSERT_TRUE(geo_to_screen(view, p.mean.lon, p.mean.lat, &x, &y));
        EXPECT_NE(picture.pixels[static_cast<std::size_t>(y) * 800 + x], 0u) << "coloured at the centre";
        EXPECT_EQ(picture.pixels[0], 0u) << "clear 5 km off";
    }
    const double low = 0.01, peak = 1.0;
    EXPECT_EQ(probabilityColour(0.5 * low, low, peak), 0u);
    const auto rgb = [](uint32_t c) { return std::array<uint32_t, 3>{(c >> 16) & 255, (c >> 8) & 255, c & 255}; };
    const auto scaled = [](std::array<int, 3> v) {
        std::array<uint32_t, 3> out;
        for (int i = 0; i < 3; ++i) out[static_cast<std::size_t>(i)] = static_cast<uint32_t>(std::lround(v[static_cast<std::size_t>(i)] * 150 / 255.0));
        return out;
    };
    EXPECT_EQ(rgb(probabilityColour(low, low, peak)), scaled({0x44, 0x01, 0x54})) << "viridis 0";
    EXPECT_EQ(rgb(probabilityColour(peak, low, peak)), scaled({0xfd, 0xe7, 0x25})) << "viridis 1";
    EXPECT_EQ(probabilityColour(peak, low, peak) >> 24, 150u);
}

}  // namespace
}  // namespace bearfix
