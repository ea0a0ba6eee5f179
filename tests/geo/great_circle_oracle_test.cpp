// The great-circle functions against independent references: GeographicLib's
// geodesics on a sphere of the same radius, and bearing-line crossings computed
// with vectors (cross product of the two circles' normals).
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
constexpr double kDeg = kDegToRad;
constexpr double kTolerance = 1e-9;  // radians

using Vec = std::array<double, 3>;
Vec unit(GeoPosition p) { return {std::cos(p.lat) * std::cos(p.lon), std::cos(p.lat) * std::sin(p.lon), std::sin(p.lat)}; }
double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec normalized(const Vec& a) {
    const double n = std::sqrt(dot(a, a));
    return {a[0] / n, a[1] / n, a[2] / n};
}
double angleBetween(const Vec& a, const Vec& b) { return std::atan2(std::sqrt(dot(cross(a, b), cross(a, b))), dot(a, b)); }

const GeographicLib::Geodesic& sphere() {
    static const GeographicLib::Geodesic instance(kEarthRadiusKm * 1000.0, 0.0);
    return instance;
}

// GeographicLib's point `arc` ahead of p on the course; 90 degrees ahead lies
// the direction of travel at p.
Vec ahead(GeoPosition p, double course, double arc = kPi / 2) {
    double lat, lon;
    sphere().ArcDirect(p.lat / kDeg, p.lon / kDeg, course / kDeg, arc / kDeg, lat, lon);
    return unit({lon * kDeg, lat * kDeg});
}

// Uniform points on the sphere, plus points crowding the poles and the date line
// (either end of a pair).
std::vector<GeoPosition> samplePoints(std::mt19937_64& rng, int n) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<GeoPosition> points;
    for (int i = 0; i < n; ++i) {
        double lon = u(rng) * kPi, lat = std::asin(u(rng));
        if (i % 5 == 1) lat = std::copysign(kPi / 2 - std::pow(10.0, -6 + 4 * std::fabs(u(rng))), u(rng));
        if (i % 5 == 2) lon = std::copysign(kPi - std::pow(10.0, -8 + 6 * std::fabs(u(rng))), u(rng));
        points.push_back({lon, lat});
    }
    return points;
}

TEST(GreatCircleOracle, MatchesGeographicLibAndVectorSolution) {
    std::mt19937_64 rng(4711);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    auto points = samplePoints(rng, 8000);
    int courses = 0, found = 0, far = 0;
    for (size_t i = 0; i + 1 < points.size(); i += 2) {
        SCOPED_TRACE(i);
        GeoPosition a = points[i], b = points[i + 1];
        if (i % 6 == 0) {  // observers a realistic 10 to 1000 km apart
            double d = std::pow(10.0, 1 + 2 * u(rng)) / kEarthRadiusKm;
            gc_destination(a.lon, a.lat, d, 2 * kPi * u(rng), &b.lon, &b.lat);
        }
        double dist, course, s12, azi1, azi2;
        gc_distance_course(a.lon, a.lat, b.lon, b.lat, &dist, &course);
        ASSERT_NEAR(dist, sphere().Inverse(a.lat / kDeg, a.lon / kDeg, b.lat / kDeg, b.lon / kDeg, s12, azi1, azi2) * kDeg,
                    kTolerance);
        // A course is defined away from the poles, coincident and antipodal points.
        if (std::cos(a.lat) > 1e-5 && dist > 1e-5 && dist < kPi - 1e-5) {
            ++courses;
            ASSERT_NEAR(std::remainder(course - azi1 * kDeg, 2 * kPi), 0.0, kTolerance);
        }
        GeoPosition dest;
        gc_destination(a.lon, a.lat, dist, course, &dest.lon, &dest.lat);
        ASSERT_LT(angleBetween(unit(dest), ahead(a, course, dist)), kTolerance);
        ASSERT_TRUE(dest.lon >= -kPi && dest.lon < kPi);

        const double brgA = 2 * kPi * u(rng), brgB = 2 * kPi * u(rng);
        IntersectionResult r;
        bearing_intersection(r, a.lon, a.lat, brgA, b.lon, b.lat, brgB);
        const Vec va = unit(a), vb = unit(b), ta = ahead(a, brgA), tb = ahead(b, brgB);
        const Vec line = cross(cross(va, ta), cross(vb, tb));
        if (dot(line, line) < 1e-12) continue;  // both bearing lines lie on one circle
        Vec x = normalized(line);
        if (dot(x, ta) < 0) x = {-x[0], -x[1], -x[2]};  // the crossing ahead of A
        const double aheadOfA = std::atan2(dot(x, ta), dot(x, va)), aheadOfB = std::atan2(dot(x, tb), dot(x, vb));
        // The product of the sines of the angles from A-B to each bearing (their
        // parts along the normal of A-B) must reach 0.0005.
        const Vec n = normalized(cross(va, vb));
        const double sideProduct = dot(ta, n) * dot(tb, n);
        if (std::fabs(sideProduct - 0.0005) < 1e-9 || std::fabs(aheadOfA - kPi / 2) < 1e-9) continue;

        const bool expectFound = sideProduct >= 0.0005 && aheadOfA <= kPi / 2;
        far += sideProduct >= 0.0005 && !expectFound;
        ASSERT_EQ(r.status, expectFound ? 0 : 1);
        if (!expectFound) continue;
        ++found;
        ASSERT_GT(aheadOfB, 0.0);
        ASSERT_LT(angleBetween(unit(r.x), x), kTolerance);
        ASSERT_NEAR(r.dist_ax, aheadOfA, kTolerance);
        ASSERT_NEAR(r.dist_bx, aheadOfB, kTolerance);
    }
    EXPECT_GT(courses, 3500);
    EXPECT_GT(found, 800);
    EXPECT_GT(far, 800);
}

}  // namespace
}  // namespace bearfix
