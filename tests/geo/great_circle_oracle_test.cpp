// The great-circle functions against independent references: GeographicLib's
// geodesics on a sphere of the same radius, and a search for the bearing-line
// crossing built on them.
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

TEST(GreatCircleOracle, DistanceCourseAndDestinationMatchGeographicLib) {
    std::mt19937_64 rng(4711);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    auto points = samplePoints(rng, 8000);
    int courses = 0;
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
    }
    EXPECT_GT(courses, 3500);
}

// GeographicLib's arc distance (radians) and azimuth (degrees) from p to q.
struct Arc {
    double dist, azimuth;
};
Arc inverse(GeoPosition p, GeoPosition q) {
    double s12, azi1, azi2;
    const double a12 = sphere().Inverse(p.lat / kDeg, p.lon / kDeg, q.lat / kDeg, q.lon / kDeg, s12, azi1, azi2);
    return {a12 * kDeg, azi1};
}
GeoPosition direct(GeoPosition p, double course, double arc) {
    double lat, lon;
    sphere().ArcDirect(p.lat / kDeg, p.lon / kDeg, course / kDeg, arc / kDeg, lat, lon);
    return {lon * kDeg, lat * kDeg};
}

// Where A's bearing line, followed forward at most 90 degrees, crosses B's
// bearing line ahead of B and at most 90 degrees from B: a search along A's
// line for a change of sign of the signed distance from B's great circle,
// sin(BP) sin(azimuth BP - bearing B), which is continuous (also through B),
// refined by bisection. Empty when there is no such crossing; `unsure` when
// a crossing lies too close to the 90-degree limits to call.
struct Crossing {
    bool found = false, unsure = false;
    GeoPosition x;
    double alongA = 0, alongB = 0;
};
Crossing searchCrossing(GeoPosition a, double brgA, GeoPosition b, double brgB) {
    auto offB = [&](double s) {
        const Arc arc = inverse(b, direct(a, brgA, s));
        return std::sin(arc.dist) * std::sin(arc.azimuth * kDeg - brgB);
    };
    Crossing c;
    constexpr int kSteps = 64;
    double s0 = 0, f0 = offB(0);
    for (int k = 1; k <= kSteps; ++k) {
        double s1 = kPi / 2 * k / kSteps, f1 = offB(s1);
        if ((f0 < 0) != (f1 < 0) || f1 == 0) {
            double lo = s0, hi = s1, flo = f0;
            for (int n = 0; n < 100 && hi - lo > 1e-16; ++n) {
                const double mid = 0.5 * (lo + hi), fm = offB(mid);
                if ((fm < 0) == (flo < 0) && fm != 0) {
                    lo = mid;
                    flo = fm;
                } else {
                    hi = mid;
                }
            }
            const GeoPosition p = direct(a, brgA, hi);
            const Arc fromB = inverse(b, p);
            const bool aheadOfB = std::cos(fromB.azimuth * kDeg - brgB) > 0;
            if (std::fabs(hi - kPi / 2) < 1e-6 || std::fabs(fromB.dist - kPi / 2) < 1e-6) c.unsure = true;
            if (aheadOfB && fromB.dist <= kPi / 2 && hi > 0) {
                c.found = true;
                c.x = p;
                c.alongA = hi;
                c.alongB = fromB.dist;
            }
        }
        s0 = s1;
        f0 = f1;
    }
    return c;
}

// The bearing-line crossing against that independent search, against
// GeographicLib's azimuths from both observers, and with the observers
// swapped: observers all over the globe (near the poles and the date line
// too), 10 to 1000 km apart as in the field, and 2000 to 12000 km apart as on
// HF.
TEST(GreatCircleOracle, BearingLinesMeetAheadOfBothObservers) {
    std::mt19937_64 rng(815);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    auto points = samplePoints(rng, 12000);
    int found = 0, farFromOne = 0, otherSides = 0, hf = 0, nearLimit = 0;
    for (size_t i = 0; i + 1 < points.size(); i += 2) {
        SCOPED_TRACE(i);
        GeoPosition a = points[i], b = points[i + 1];
        if (i % 6 == 0 || i % 6 == 2) {
            const double km = i % 6 == 0 ? std::pow(10.0, 1 + 2 * u(rng)) : 2000 + 10000 * u(rng);
            b = direct(a, 2 * kPi * u(rng), km / kEarthRadiusKm);
        }
        double brgA = 2 * kPi * u(rng), brgB = 2 * kPi * u(rng);
        if (i % 10 == 4) {  // A's bearing close to B: the product of sines near its limit 0.0005
            const double side = u(rng) < 0.5 ? 1 : -1;
            brgA = inverse(a, b).azimuth * kDeg + side * (0.0001 + 0.002 * u(rng));
            brgB = inverse(b, a).azimuth * kDeg - side * (0.3 + 1.2 * u(rng));
        }
        IntersectionResult r, swapped;
        bearing_intersection(r, a.lon, a.lat, brgA, b.lon, b.lat, brgB);
        bearing_intersection(swapped, b.lon, b.lat, brgB, a.lon, a.lat, brgA);

        ASSERT_EQ(swapped.status, r.status);
        if (r.status == 0) {
            ASSERT_LT(angleBetween(unit(swapped.x), unit(r.x)), 1e-12);
            ASSERT_NEAR(swapped.dist_ax, r.dist_bx, 1e-12);
            ASSERT_NEAR(swapped.dist_bx, r.dist_ax, 1e-12);
        }

        const Arc ab = inverse(a, b), ba = inverse(b, a);
        if (ab.dist < 1e-9 || ab.dist > kPi - 1e-6) continue;  // no line A-B
        // The sines of the angles at A and at B between the line A-B and the
        // bearings: the same sign when they point to one side of A-B.
        const double sideProduct = std::sin(brgA - ab.azimuth * kDeg) * std::sin(ba.azimuth * kDeg - brgB);
        if (std::fabs(sideProduct - 0.0005) < 1e-7) continue;
        const Crossing c = searchCrossing(a, brgA, b, brgB);
        if (c.unsure) continue;
        const bool expectFound = sideProduct >= 0.0005 && c.found;
        ASSERT_EQ(r.status, expectFound ? 0 : 1) << sideProduct << " " << c.found;
        if (sideProduct < 0) ++otherSides;
        if (c.found && std::fabs(sideProduct - 0.0005) < 0.0002) ++nearLimit;
        if (sideProduct >= 0.0005 && !c.found) ++farFromOne;
        if (!expectFound) continue;
        ++found;
        hf += ab.dist * kEarthRadiusKm > 2000;

        // X lies ahead on both bearings, within 90 degrees of both.
        // The azimuth to 1e-9 degrees; within metres of an observer, where the
        // azimuth is ill-conditioned, X to 1e-13 (0.6 mm) off the line.
        const Arc ax = inverse(a, r.x), bx = inverse(b, r.x);
        const double offA = std::remainder(ax.azimuth - brgA / kDeg, 360.0);
        const double offB = std::remainder(bx.azimuth - brgB / kDeg, 360.0);
        ASSERT_TRUE(std::fabs(offA) < 1e-9 || ax.dist * std::fabs(offA) * kDeg < 1e-13) << offA << " " << ax.dist;
        ASSERT_TRUE(std::fabs(offB) < 1e-9 || bx.dist * std::fabs(offB) * kDeg < 1e-13) << offB << " " << bx.dist;
        ASSERT_NEAR(r.dist_ax, ax.dist, kTolerance);
        ASSERT_NEAR(r.dist_bx, bx.dist, kTolerance);
        ASSERT_LT(angleBetween(unit(r.x), unit(c.x)), 1e-9);
        ASSERT_TRUE(r.x.lon >= -kPi && r.x.lon < kPi);
    }
    EXPECT_GT(found, 800);
    EXPECT_GT(hf, 100);
    EXPECT_GT(farFromOne, 400);
    EXPECT_GT(otherSides, 1500);
    EXPECT_GT(nearLimit, 50);
}

}  // namespace
}  // namespace bearfix
