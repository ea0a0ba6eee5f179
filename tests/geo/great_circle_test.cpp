#include "geo/great_circle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace bearfix {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kDegToRad;

TEST(GreatCircle, AngleModuloAndClampedAsin) {
    EXPECT_DOUBLE_EQ(angle_modulo(-2 * kPi, 2 * kPi), 2 * kPi);
    EXPECT_DOUBLE_EQ(angle_modulo(3 * kPi, 2 * kPi), kPi);
    EXPECT_DOUBLE_EQ(angle_modulo(-0.5, 2 * kPi), 2 * kPi - 0.5);
    EXPECT_DOUBLE_EQ(angle_modulo(0.0, 2 * kPi), 0.0);
    EXPECT_DOUBLE_EQ(clamped_asin(1.0000001), kPi / 2);
    EXPECT_DOUBLE_EQ(clamped_asin(-7), -kPi / 2);
    EXPECT_DOUBLE_EQ(clamped_asin(NAN), -kPi / 2);
    EXPECT_DOUBLE_EQ(clamped_asin(0.5), kPi / 6);
}

TEST(GreatCircle, DistanceAndCourseSpecialDirections) {
    struct Case {
        double lon1, lat1, lon2, lat2;  // degrees
        double distDeg, courseDeg;
    };
    const Case cases[] = {
        {8, 50, 8, 51, 1, 360},       // due north reads 360
        {8, 50, 8, 49, 1, 180},       // due south
        {8, 50, 8, 50, 0, 0},         // the point itself
        {0, 0, 1, 0, 1, 90},          // due east on the equator
        {0, 0, 180, 0, 180, 0},       // antipodes: finite, course undefined
        {0, 90, 10, 80, 10, 0},       // from the pole
        {179.5, 0, -179.5, 0, 1, 90}, // across the date line
    };
    for (const auto& c : cases) {
        double dist = -1, course = -1;
        gc_distance_course(c.lon1 * kDeg, c.lat1 * kDeg, c.lon2 * kDeg, c.lat2 * kDeg, &dist, &course);
        EXPECT_NEAR(dist / kDeg, c.distDeg, 1e-6) << c.lon1 << " " << c.lat1;
        ASSERT_TRUE(std::isfinite(course));
        if (c.distDeg > 0 && c.distDeg < 180 && c.lat1 < 90) {
            EXPECT_NEAR(course / kDeg, c.courseDeg, 1e-6);
        }
    }
    double onlyDist = -1;
    gc_distance_course(0, 0, 0.1, 0, &onlyDist, nullptr);
    EXPECT_NEAR(onlyDist, 0.1, 1e-15);
}

TEST(GreatCircle, DestinationWrapsLongitude) {
    double lon = 9, lat = 9;
    gc_destination(0.3, 0.7, 0.0, 1.0, &lon, &lat);
    EXPECT_DOUBLE_EQ(lon, 0.3);
    EXPECT_DOUBLE_EQ(lat, 0.7);
    gc_destination(179.5 * kDeg, 0, 1 * kDeg, 90 * kDeg, &lon, &lat);
    EXPECT_NEAR(lon / kDeg, -179.5, 1e-9);
    EXPECT_NEAR(lat, 0.0, 1e-12);
    gc_destination(-179.5 * kDeg, 0, 0.5 * kDeg, 270 * kDeg, &lon, nullptr);
    EXPECT_NEAR(lon, -kPi, 1e-12);  // lands on the date line: [-pi, pi)
}

TEST(GreatCircle, LatitudeAt) {
    // The circle through two points passes through both and through the
    // points gc_destination finds between them.
    const double lon1 = 8 * kDeg, lat1 = 52 * kDeg, lon2 = 30 * kDeg, lat2 = 40 * kDeg;
    EXPECT_NEAR(gc_latitude_at(lon1, lon1, lat1, lon2, lat2), lat1, 1e-12);
    EXPECT_NEAR(gc_latitude_at(lon2, lon1, lat1, lon2, lat2), lat2, 1e-12);
    double d, c, lon, lat;
    gc_distance_course(lon1, lat1, lon2, lat2, &d, &c);
    gc_destination(lon1, lat1, d * 0.3, c, &lon, &lat);
    EXPECT_NEAR(gc_latitude_at(lon, lon1, lat1, lon2, lat2), lat, 1e-12);

    // Along a meridian or through a pole there is no latitude for a longitude:
    // the answer stays a finite latitude of the circle.
    EXPECT_DOUBLE_EQ(gc_latitude_at(0.2, 0.1, 0.5, 0.1, 0.9), 0.5);
    EXPECT_TRUE(std::isfinite(gc_latitude_at(0.2, 0.1, 0.5, 1.0, kPi / 2)));
}

struct IntersectionCase {
    const char* name;
    double brgA, brgB;  // degrees; A at (0, 0), B at (1 E, 0)
    int status;
    double xLon, xLat;  // degrees
};

TEST(BearingIntersection, ObserversOnTheEquator) {
    const IntersectionCase cases[] = {
        {"bearings meet north of A-B", 45, 315, 0, 0.5, 0.499981},
        {"opposite sides of A-B", 45, 225, 1, 0, 0},
        {"along A-B", 90, 270, 1, 0, 0},
        {"nearly along A-B", 89.99, 270.01, 1, 0, 0},
        {"both point away: they meet only on the far side", 315, 45, 1, 0, 0},
        {"meet south of A-B", 135, 225, 0, 0.5, -0.499981},
        {"X due north of A", 0, 300, 0, 0, 0.577301},
    };
    for (const auto& c : cases) {
        IntersectionResult r;
        r.x = {9, 9};
        bearing_intersection(r, 0, 0, c.brgA * kDeg, 1 * kDeg, 0, c.brgB * kDeg);
        EXPECT_NEAR(r.course_ab / kDeg, 90, 1e-9) << c.name;
        EXPECT_NEAR(r.course_ba / kDeg, 270, 1e-9) << c.name;
        EXPECT_NEAR(r.dist_ab * kEarthRadiusKm, 111.19, 0.01) << c.name;
        ASSERT_EQ(r.status, c.status) << c.name;
        if (c.status != 0) {
            EXPECT_EQ(r.x.lon, 9) << c.name << ": X must stay untouched";
            continue;
        }
        EXPECT_NEAR(r.x.lon / kDeg, c.xLon, 1e-4) << c.name;
        EXPECT_NEAR(r.x.lat / kDeg, c.xLat, 1e-4) << c.name;
        double dax, dbx;
        gc_distance_course(0, 0, r.x.lon, r.x.lat, &dax, nullptr);
        gc_distance_course(1 * kDeg, 0, r.x.lon, r.x.lat, &dbx, nullptr);
        EXPECT_NEAR(r.dist_ax, dax, 1e-12) << c.name;
        EXPECT_NEAR(r.dist_bx, dbx, 1e-12) << c.name;
    }
}

TEST(BearingIntersection, DegenerateObserversStayFinite) {
    struct Case {
        double lon1, lat1, brg1, lon2, lat2, brg2;  // degrees
    };
    const Case cases[] = {
        {8, 52, 10, 8, 52, 300},     // A equal to B
        {8, 52, 10, 8, 52, 190},     // A equal to B, bearings along one circle
        {0, 90, 180, 10, 80, 270},   // A at the pole
        {0, 0, 10, 180, 0, 350},     // antipodal observers
        {0, 89.9999999, 90, 90, 89.9999999, 180},
    };
    for (const auto& c : cases) {
        IntersectionResult r;
        bearing_intersection(r, c.lon1 * kDeg, c.lat1 * kDeg, c.brg1 * kDeg, c.lon2 * kDeg, c.lat2 * kDeg,
                             c.brg2 * kDeg);
        EXPECT_TRUE(std::isfinite(r.dist_ab) && std::isfinite(r.course_ab) && std::isfinite(r.course_ba));
        EXPECT_TRUE(std::isfinite(r.x.lon) && std::isfinite(r.x.lat));
        EXPECT_TRUE(std::isfinite(r.dist_ax) && std::isfinite(r.dist_bx));
    }
    IntersectionResult same;
    bearing_intersection(same, 8 * kDeg, 52 * kDeg, 10 * kDeg, 8 * kDeg, 52 * kDeg, 300 * kDeg);
    EXPECT_EQ(same.dist_ab, 0.0);
    EXPECT_EQ(same.course_ab, 0.0);
    EXPECT_EQ(same.course_ba, 0.0);
    ASSERT_EQ(same.status, 0);
    EXPECT_NEAR(same.x.lon, 8 * kDeg, 1e-15);
    EXPECT_NEAR(same.x.lat, 52 * kDeg, 1e-15);
}

}  // namespace
}  // namespace bearfix
