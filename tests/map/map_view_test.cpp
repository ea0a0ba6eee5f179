#include "map/map_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "geo/great_circle.h"

namespace bearfix {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(MapView, SetupLimits) {
    MapView v;
    map_view_setup(v, kCylindric, 0.1, 0.2, 0.0, 0, 0);
    EXPECT_EQ(v.width, 1.0);
    EXPECT_EQ(v.height, 1.0);
    EXPECT_EQ(v.center_x, 0.0);
    EXPECT_EQ(v.range_km, 0.001);
    map_view_setup(v, kCylindric, 0.1, 0.2, NAN, 10, 10);
    EXPECT_EQ(v.range_km, 0.001);
    map_view_setup(v, kCylindric, 0.1, 0.2, -5, 10, 10);
    EXPECT_EQ(v.range_km, 0.001);
}

TEST(MapView, Cylindric) {
    MapView v;
    map_view_setup(v, kCylindric, 8 * kDegToRad, 60 * kDegToRad, 600, 801, 400);
    int x, y;
    ASSERT_TRUE(geo_to_screen(v, 8 * kDegToRad, 60 * kDegToRad, &x, &y));
    EXPECT_EQ(x, 400);
    EXPECT_EQ(y, 200);
    // The point range_km north of the centre is at the top edge.
    ASSERT_TRUE(geo_to_screen(v, 8 * kDegToRad, 60 * kDegToRad + 600 / kEarthRadiusKm, &x, &y));
    EXPECT_EQ(y, 0);
    double lon, lat;
    ASSERT_TRUE(screen_to_geo(v, 0, 0, &lon, &lat));
    EXPECT_DOUBLE_EQ(lon, v.lon_min);
    EXPECT_DOUBLE_EQ(lat, v.lat_max);
    // At 60 degrees east-west distances are true: the longitude extent is twice
    // the latitude extent times the aspect ratio.
    EXPECT_NEAR((v.lon_max - v.lon_min), 2 * (v.lat_max - v.lat_min) * 801.0 / 400.0, 1e-12);
    // Far points are clamped to the pixel range.
    map_view_setup(v, kCylindric, 0, 0, 0.01, 100, 100);
    ASSERT_TRUE(geo_to_screen(v, 1.0, -1.0, &x, &y));
    EXPECT_EQ(x, 32767);
    EXPECT_EQ(y, 32767);
}

TEST(MapView, CylindricAroundTheAntimeridianAndThePole) {
    MapView v;
    map_view_setup(v, kCylindric, 179 * kDegToRad, 0, 500, 400, 400);
    int xWest, xEast, y;
    ASSERT_TRUE(geo_to_screen(v, 178.5 * kDegToRad, 0, &xWest, &y));
    ASSERT_TRUE(geo_to_screen(v, -179.5 * kDegToRad, 0, &xEast, &y));
    EXPECT_LT(xWest, 200);
    EXPECT_GT(xEast, 200) << "the far side of the antimeridian lies to the right";
    EXPECT_LT(xEast, 400);
    double lon, lat;
    ASSERT_TRUE(screen_to_geo(v, 399, 200, &lon, &lat));
    EXPECT_LT(lon, -kPi + 0.1) << "read back as a western longitude";

    map_view_setup(v, kCylindric, 0, kPi / 2, 1000, 400, 400);
    EXPECT_TRUE(std::isfinite(v.lon_min) && std::isfinite(v.lon_max)) << "a pole centre keeps finite extents";
}

TEST(MapView, Azimuthal) {
    MapView v;
    map_view_setup(v, kAzimuthal, 10 * kDegToRad, 50 * kDegToRad, 1000, 600, 400);
    for (double course : {0.0, 45.0, 90.0, 200.0, 300.0}) {
        double lon, lat, x, y;
        gc_destination(v.center.lon, v.center.lat, 1000 / kEarthRadiusKm, course * kDegToRad, &lon, &lat);
        ASSERT_TRUE(azimuthal_forward(v, lon, lat, &x, &y));
        EXPECT_NEAR(std::hypot(x - 300, y - 200), 200.0, 1e-9) << course;
    }
    int x, y;
    ASSERT_TRUE(geo_to_screen(v, 10 * kDegToRad, 51 * kDegToRad, &x, &y));
    EXPECT_EQ(x, 300) << "north is up at the centre";
    EXPECT_LT(y, 200);
    EXPECT_FALSE(geo_to_screen(v, -170 * kDegToRad, -50 * kDegToRad, &x, &y)) << "the antipode";
    double lon, lat;
    EXPECT_FALSE(screen_to_geo(v, 300 + static_cast<int>(kPi * v.scale) + 1, 200, &lon, &lat));
    ASSERT_TRUE(screen_to_geo(v, 300, 200, &lon, &lat));
    EXPECT_EQ(lon, v.center.lon);
    EXPECT_EQ(lat, v.center.lat);
}

TEST(MapView, AzimuthalRoundTrips) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int view = 0; view < 40; ++view) {
        MapView v;
        const double centreLat = view % 10 == 0 ? std::copysign(kPi / 2, u(rng)) : std::asin(u(rng));
        map_view_setup(v, kAzimuthal, u(rng) * kPi, centreLat, 3000, 500, 500);
        for (int i = 0; i < 200; ++i) {
            double lon = u(rng) * kPi, lat = std::asin(u(rng)), x, y, lon2, lat2;
            double dist;
            gc_distance_course(v.center.lon, v.center.lat, lon, lat, &dist, nullptr);
            if (dist > kPi - 1e-3) continue;
            ASSERT_TRUE(azimuthal_forward(v, lon, lat, &x, &y));
            ASSERT_TRUE(azimuthal_inverse(v, x, y, &lon2, &lat2));
            double back;
            gc_distance_course(lon, lat, lon2, lat2, &back, nullptr);
            ASSERT_LT(back, 1e-8) << "view " << view << " point " << i;
        }
    }
}

TEST(MapView, WrapPi) {
    EXPECT_DOUBLE_EQ(wrap_pi(3 * kPi / 2), -kPi / 2);
    EXPECT_DOUBLE_EQ(wrap_pi(-3 * kPi / 2), kPi / 2);
    EXPECT_DOUBLE_EQ(wrap_pi(0.5), 0.5);
    EXPECT_NEAR(wrap_pi(5 * kPi / 2), kPi / 2, 1e-12);
}

}  // namespace
}  // namespace bearfix
