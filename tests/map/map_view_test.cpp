#include "map/map_view.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>
#include <random>
#include <utility>

#include "geo/great_circle.h"

namespace bearfix {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr std::pair kRefused{INT_MIN, INT_MIN};

// Where geo_to_screen puts a position given in degrees.
std::pair<int, int> pixel(const MapView& v, double lonDeg, double latDeg) {
    int x, y;
    return geo_to_screen(v, lonDeg * kDegToRad, latDeg * kDegToRad, &x, &y) ? std::pair(x, y) : kRefused;
}

TEST(MapView, SetupLimits) {
    MapView v;
    for (double range : {0.0, std::nan(""), -5.0}) {
        map_view_setup(v, kCylindric, 0.1, 0.2, range, 0, 0);
        EXPECT_EQ(v.range_km, 0.001) << range;
    }
    EXPECT_EQ(std::pair(v.width, v.height), std::pair(1.0, 1.0));
    EXPECT_EQ(v.center_x, 0.0);
}

TEST(MapView, Cylindric) {
    MapView v;
    map_view_setup(v, kCylindric, 8 * kDegToRad, 60 * kDegToRad, 600, 801, 400);
    EXPECT_EQ(pixel(v, 8, 60), std::pair(400, 200));
    EXPECT_EQ(pixel(v, 8, 60 + 600 / kEarthRadiusKm / kDegToRad).second, 0) << "range_km north is the top edge";
    double lon, lat;
    ASSERT_TRUE(screen_to_geo(v, 0, 0, &lon, &lat));
    EXPECT_DOUBLE_EQ(lon, v.lon_min);
    EXPECT_DOUBLE_EQ(lat, v.lat_max);
    // East-west distances are true: at 60 degrees a degree of longitude is half one of latitude.
    EXPECT_NEAR(v.lon_max - v.lon_min, 2 * (v.lat_max - v.lat_min) * 801.0 / 400.0, 1e-12);

    map_view_setup(v, kCylindric, 0, 0, 0.01, 100, 100);
    EXPECT_EQ(pixel(v, 57, -57), std::pair(32767, 32767)) << "far points are clamped";
    double x, y;
    ASSERT_TRUE(geo_to_pixel(v, 57 * kDegToRad, -57 * kDegToRad, &x, &y));
    EXPECT_GT(std::min(x, y), 1e6) << "unless asked unrounded";
}

TEST(MapView, CylindricAroundTheAntimeridianAndThePole) {
    MapView v;
    map_view_setup(v, kCylindric, 179 * kDegToRad, 0, 500, 400, 400);
    EXPECT_LT(pixel(v, 178.5, 0).first, 200);
    const int east = pixel(v, -179.5, 0).first;
    EXPECT_TRUE(east > 200 && east < 400) << east << ": the far side of the antimeridian lies to the right";
    double lon, lat;
    ASSERT_TRUE(screen_to_geo(v, 399, 200, &lon, &lat));
    EXPECT_LT(lon, -kPi + 0.1) << "read back as a western longitude";

    // Near a pole a map true to scale east-west would span thousands of
    // degrees; it spans once round the earth, unless as wide at the equator.
    for (double lat : {90.0, -90.0, 89.99, 89.9}) {
        map_view_setup(v, kCylindric, 0, lat * kDegToRad, 1000, 400, 400);
        EXPECT_DOUBLE_EQ(v.lon_max - v.lon_min, 2 * kPi) << lat;
    }
    map_view_setup(v, kCylindric, 0, kPi / 2, 20000, 1200, 600);
    EXPECT_NEAR((v.lon_max - v.lon_min) / kDegToRad, 719.45, 0.01) << "4 x 20000 km / 6371 km";
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
    const auto [x, y] = pixel(v, 10, 51);
    EXPECT_TRUE(x == 300 && y < 200) << "north is up at the centre";
    EXPECT_EQ(pixel(v, -170, -50), kRefused) << "the antipode";
    double lon, lat;
    EXPECT_FALSE(screen_to_geo(v, 300 + static_cast<int>(kPi * v.scale) + 1, 200, &lon, &lat));
    ASSERT_TRUE(screen_to_geo(v, 300, 200, &lon, &lat));
    EXPECT_EQ(std::pair(lon, lat), std::pair(v.center.lon, v.center.lat));
}

TEST(MapView, AzimuthalRoundTrips) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int view = 0; view < 40; ++view) {
        MapView v;
        const double centreLat = view % 10 == 0 ? std::copysign(kPi / 2, u(rng)) : std::asin(u(rng));  // poles too
        map_view_setup(v, kAzimuthal, u(rng) * kPi, centreLat, 3000, 500, 500);
        for (int i = 0; i < 200; ++i) {
            double lon = u(rng) * kPi, lat = std::asin(u(rng)), x, y, lon2, lat2, dist;
            gc_distance_course(v.center.lon, v.center.lat, lon, lat, &dist, nullptr);
            if (dist > kPi - 1e-3) continue;
            ASSERT_TRUE(azimuthal_forward(v, lon, lat, &x, &y) && azimuthal_inverse(v, x, y, &lon2, &lat2));
            gc_distance_course(lon, lat, lon2, lat2, &dist, nullptr);
            ASSERT_LT(dist, 1e-8) << "view " << view << " point " << i;
        }
    }
}

TEST(MapView, WrapPi) {
    for (auto [in, out] : {std::pair{3 * kPi / 2, -kPi / 2}, {-3 * kPi / 2, kPi / 2}, {0.5, 0.5}, {5 * kPi / 2, kPi / 2}})
        EXPECT_DOUBLE_EQ(wrap_pi(in), out) << in;
}

}  // namespace
}  // namespace bearfix
