// The great-circle functions against independent references: GeographicLib's
// geodesics on a sphere of the same radius, and the intersection of two bearing
// lines computed with vectors (cross product of the two circles' normals).
#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "geo/great_circle.h"

namespace bearfix {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTolerance = 1e-9;  // radians

using Vec = std::array<double, 3>;

Vec unit(double lon, double lat) { return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)}; }
double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec scaled(const Vec& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
Vec normalized(const Vec& a) { return scaled(a, 1.0 / std::sqrt(dot(a, a))); }
double angleBetween(const Vec& a, const Vec& b) { return std::atan2(std::sqrt(dot(cross(a, b), cross(a, b))), dot(a, b)); }

// Direction of travel at (lon, lat) on the given course.
Vec tangent(double lon, double lat, double course) {
    Vec east{-std::sin(lon), std::cos(lon), 0};
    Vec north{-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)};
    return {north[0] * std::cos(course) + east[0] * std::sin(course),
            north[1] * std::cos(course) + east[1] * std::sin(course),
            north[2] * std::cos(course) + east[2] * std::sin(course)};
}

double courseDifference(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 2 * kPi);
    return std::min(d, 2 * kPi - d);
}

struct Point {
    double lon, lat;  // radians
};

// Uniform points on the sphere, plus points crowding the poles and the date line.
std::vector<Point> samplePoints(std::mt19937_64& rng, int n) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<Point> points;
    for (int i = 0; i < n; ++i) {
        double lon = u(rng) * kPi, lat = std::asin(u(rng));
        switch (i % 4) {
            case 1:  // within a few metres to a few hundred km of a pole
                lat = std::copysign(kPi / 2 - std::pow(10.0, -6 + 4 * std::fabs(u(rng))), u(rng));
                break;
            case 2:  // just either side of the date line
                lon = std::copysign(kPi - std::pow(10.0, -8 + 6 * std::fabs(u(rng))), u(rng));
                break;
            default:
                break;
        }
        points.push_back({lon, lat});
    }
    return points;
}

TEST(GreatCircleOracle, DistanceCourseAndDestinationMatchGeographicLib) {
    const GeographicLib::Geodesic sphere(kEarthRadiusKm * 1000.0, 0.0);
    std::mt19937_64 rng(20261207);
    auto points = samplePoints(rng, 4000);
    int courses = 0;
    for (size_t i = 0; i + 1 < points.size(); i += 2) {
        const Point a = points[i], b = points[i + 1];
        double dist, course;
        gc_distance_course(a.lon, a.lat, b.lon, b.lat, &dist, &course);
        double s12, azi1, azi2;
        double arc = sphere.Inverse(a.lat / kDegToRad, a.lon / kDegToRad, b.lat / kDegToRad, b.lon / kDegToRad, s12,
                                    azi1, azi2);
        ASSERT_NEAR(dist, arc * kDegToRad, kTolerance) << "point pair " << i;

        // A course is defined away from the poles and from the end points
        // coinciding or being antipodal.
        bool defined = std::cos(a.lat) > 1e-5 && dist > 1e-5 && dist < kPi - 1e-5;
        if (defined) {
            ++courses;
            ASSERT_NEAR(courseDifference(course, azi1 * kDegToRad), 0.0, kTolerance) << "point pair " << i;
        }

        double lon2, lat2, refLat, refLon;
        gc_destination(a.lon, a.lat, dist, course, &lon2, &lat2);
        sphere.ArcDirect(a.lat / kDegToRad, a.lon / kDegToRad, course / kDegToRad, dist / kDegToRad, refLat, refLon);
        ASSERT_LT(angleBetween(unit(lon2, lat2), unit(refLon * kDegToRad, refLat * kDegToRad)), kTolerance)
            << "point pair " << i;
        ASSERT_GE(lon2, -kPi);
        ASSERT_LT(lon2, kPi);
    }
    EXPECT_GT(courses, 1500);
}

TEST(GreatCircleOracle, BearingIntersectionMatchesVectorSolution) {
    std::mt19937_64 rng(4711);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    auto observers = samplePoints(rng, 6000);
    int found = 0, far = 0;
    for (size_t i = 0; i + 1 < observers.size(); i += 2) {
        Point a = observers[i], b = observers[i + 1];
        if (i % 6 == 0) {  // observers a realistic 10 to 1000 km apart
            gc_destination(a.lon, a.lat, std::pow(10.0, 1 + 2 * u(rng)) / kEarthRadiusKm, 2 * kPi * u(rng), &b.lon,
                           &b.lat);
        }
        const double brgA = 2 * kPi * u(rng), brgB = 2 * kPi * u(rng);
        IntersectionResult r;
        bearing_intersection(r, a.lon, a.lat, brgA, b.lon, b.lat, brgB);

        const Vec va = unit(a.lon, a.lat), vb = unit(b.lon, b.lat);
        const Vec ta = tangent(a.lon, a.lat, brgA), tb = tangent(b.lon, b.lat, brgB);
        const Vec line = cross(cross(va, ta), cross(vb, tb));
        const double sinCrossing = std::sqrt(dot(line, line));
        if (sinCrossing < 1e-6) continue;  // both bearing lines lie on one circle
        Vec x = normalized(line);
        if (dot(x, ta) < 0) x = scaled(x, -1.0);  // the crossing ahead of A
        const double aheadOfA = std::atan2(dot(x, ta), dot(x, va));
        const double aheadOfB = std::atan2(dot(x, tb), dot(x, vb));

        // Sines of the angles from the line A-B to each bearing, clockwise
        // seen from above. Bearings to different sides of A-B, or (nearly)
        // along it, give a product below 0.0005 and are refused.
        const Vec towardB = normalized(cross(cross(va, vb), va));
        const Vec towardA = normalized(cross(cross(vb, va), vb));
        const double sideProduct = dot(cross(towardB, ta), va) * dot(cross(tb, towardA), vb);
        if (std::fabs(sideProduct - 0.0005) < 1e-9 || std::fabs(aheadOfA - kPi / 2) < 1e-9) continue;

        const bool expectFound = sideProduct >= 0.0005 && aheadOfA <= kPi / 2;
        if (sideProduct >= 0.0005 && !expectFound) ++far;
        ASSERT_EQ(r.status, expectFound ? 0 : 1) << "observer pair " << i;
        if (!expectFound) continue;
        ++found;
        ASSERT_GT(aheadOfB, 0.0) << "observer pair " << i;
        ASSERT_LT(angleBetween(unit(r.x.lon, r.x.lat), x), kTolerance) << "observer pair " << i;
        ASSERT_NEAR(r.dist_ax, aheadOfA, kTolerance) << "observer pair " << i;
        ASSERT_NEAR(r.dist_bx, aheadOfB, kTolerance) << "observer pair " << i;
    }
    EXPECT_GT(found, 300);
    EXPECT_GT(far, 100);
}

}  // namespace
}  // namespace bearfix
