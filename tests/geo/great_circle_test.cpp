// Exact readings and degenerate inputs; the oracle test covers the general case.
#include "geo/great_circle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>

namespace bearfix {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kDegToRad;

TEST(GreatCircle, AngleModuloAndClampedAsin) {
    EXPECT_DOUBLE_EQ(angle_modulo(-2 * kPi, 2 * kPi), 2 * kPi);
    EXPECT_DOUBLE_EQ(angle_modulo(-0.5, 2 * kPi), 2 * kPi - 0.5);
    EXPECT_DOUBLE_EQ(clamped_asin(1.0000001), kPi / 2);
    EXPECT_DOUBLE_EQ(clamped_asin(NAN), -kPi / 2);
    const std::pair<double, double> bearings[] = {{-355, 5}, {400, 40}, {765, 45}, {360, 0}, {-360, 0},
                                                  {-1e-300, 0}, {359.9, 359.9}, {-0.0, 0}, {0.1 + 3600, 0.1 + 3600 - 3600}};
    for (const auto& [typed, reduced] : bearings) {
        EXPECT_EQ(reduce_bearing_degrees(typed), reduced) << typed;
        EXPECT_FALSE(std::signbit(reduce_bearing_degrees(typed))) << typed;
    }
    const double huge = reduce_bearing_degrees(1e300);
    EXPECT_TRUE(huge >= 0 && huge < 360);
    EXPECT_EQ(reduce_bearing_degrees(-INFINITY), -INFINITY);
}

TEST(GreatCircle, DistanceCourseAndDestination) {
    const double cases[][6] = {
        // lon1, lat1, lon2, lat2, distance, course (degrees; -1: any finite course)
        {8, 50, 8, 51, 1, 360}, {8, 50, 8, 49, 1, 180}, {8, 50, 8, 50, 0, 0}, {179.5, 0, -179.5, 0, 1, 90},
        {0, 0, 180, 0, 180, -1}, {0, 90, 10, 80, 10, -1},
    };
    for (const auto& c : cases) {
        double dist = -1, course = -1;
        gc_distance_course(c[0] * kDeg, c[1] * kDeg, c[2] * kDeg, c[3] * kDeg, &dist, &course);
        EXPECT_NEAR(dist / kDeg, c[4], 1e-6) << c[0] << " " << c[1];
        EXPECT_NEAR(course / kDeg, c[5] < 0 ? course / kDeg : c[5], 1e-6) << c[0] << " " << c[1];  // NaN fails
    }
    double dist = -1, lon = 9;
    gc_distance_course(0, 0, 0.1, 0, &dist, nullptr);
    EXPECT_NEAR(dist, 0.1, 1e-15);
    gc_destination(-179.5 * kDeg, 0, 0.5 * kDeg, 270 * kDeg, &lon, nullptr);
    EXPECT_NEAR(lon, -kPi, 1e-12);  // the date line itself reads -pi
}

TEST(GreatCircle, LatitudeAt) {
    const double lon1 = 8 * kDeg, lat1 = 52 * kDeg, lon2 = 30 * kDeg, lat2 = 40 * kDeg;
    double d, c, lon, lat;
    gc_distance_course(lon1, lat1, lon2, lat2, &d, &c);
    gc_destination(lon1, lat1, d * 0.3, c, &lon, &lat);
    EXPECT_NEAR(gc_latitude_at(lon, lon1, lat1, lon2, lat2), lat, 1e-12);
    EXPECT_NEAR(gc_latitude_at(lon2, lon1, lat1, lon2, lat2), lat2, 1e-12);
    // Along a meridian or through a pole: still a finite latitude of the circle.
    EXPECT_DOUBLE_EQ(gc_latitude_at(0.2, 0.1, 0.5, 0.1, 0.9), 0.5);
    EXPECT_TRUE(std::isfinite(gc_latitude_at(0.2, 0.1, 0.5, 1.0, kPi / 2)));
}

TEST(BearingIntersection, SpecialCases) {
    const double cases[][9] = {
        // A: lon, lat, bearing; B: lon, lat, bearing; status (-1: any), X: lon, lat (degrees)
        {0, 0, 45, 1, 0, 315, 0, 0.5, 0.49998096249859053},  // atan(sin 0.5 deg)
        {0, 0, 45 + 720, 1, 0, 315 - 1080, 0, 0.5, 0.49998096249859053},  // whole turns
        {0, 0, 90, 1, 0, 270, 1},        // along A-B: no crossing the oracle could check
        {0, 0, 89.99, 1, 0, 270.01, 1},  // nearly along A-B
        {0, 0, 315, 1, 0, 45, 1},        // diverging: the lines meet only behind both observers
        {0, 0, 5, 100, 0, 291, 1},       // the crossing ahead lies 98 degrees from B
        {100, 0, 291, 0, 0, 5, 1},       // and so with A and B swapped
        {0, 0, INFINITY, 1, 0, 315, 1}, {0, 0, 45, 1, 0, NAN, 1},
        {8, 52, 10, 8, 52, 300, 0, 8, 52},  // A equal to B: they meet at A
        {8, 52, 10, 8, 52, 190, -1},
        {0, 90, 180, 10, 80, 270, -1},
        {0, 0, 10, 180, 0, 350, -1},
        {0, 89.9999999, 90, 90, 89.9999999, 180, -1},
    };
    for (const auto& c : cases) {
        IntersectionResult r;
        r.x = {9, 9};
        bearing_intersection(r, c[0] * kDeg, c[1] * kDeg, c[2] * kDeg, c[3] * kDeg, c[4] * kDeg, c[5] * kDeg);
        for (double v : {r.dist_ab, r.course_ab, r.course_ba, r.x.lon, r.x.lat, r.dist_ax, r.dist_bx})
            EXPECT_TRUE(std::isfinite(v)) << c[0] << " " << c[1] << " " << c[2];
        if (c[6] < 0) continue;
        ASSERT_EQ(r.status, c[6]) << c[0] << " " << c[1] << " " << c[2];
        EXPECT_NEAR(r.x.lon, c[6] ? 9 : c[7] * kDeg, 1e-15) << "X stays untouched without a crossing";
        EXPECT_NEAR(r.x.lat, c[6] ? 9 : c[8] * kDeg, 1e-15);
        if (c[0] != 0 || c[1] != 0 || c[3] != 1 || c[4] != 0) continue;  // A and B 1 degree apart on the equator
        EXPECT_NEAR(r.course_ab / kDeg, 90, 1e-9);
        EXPECT_NEAR(r.course_ba / kDeg, 270, 1e-9);
        EXPECT_NEAR(r.dist_ab * kEarthRadiusKm, 111.19, 0.01);
    }
}

}  // namespace
}  // namespace bearfix
