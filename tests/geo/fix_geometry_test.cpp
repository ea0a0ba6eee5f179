// The search area, the crossing angle and the back-bearing crossings against
// an independent reference: membership of a sector decided by GeographicLib's
// azimuth from the observer, the area's boundary found along rays from X.
#include "geo/fix_geometry.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace bearfix {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kDegToRad;

const GeographicLib::Geodesic& sphere() {
    static const GeographicLib::Geodesic instance(kEarthRadiusKm * 1000.0, 0.0);
    return instance;
}

struct Arc {
    double km, azimuth;  // azimuth in radians
};
Arc inverse(GeoPosition p, GeoPosition q) {
    double s12, azi1, azi2;
    sphere().Inverse(p.lat / kDeg, p.lon / kDeg, q.lat / kDeg, q.lon / kDeg, s12, azi1, azi2);
    return {s12 / 1000.0, azi1 * kDeg};
}
GeoPosition direct(GeoPosition p, double course, double km) {
    double lat, lon;
    sphere().Direct(p.lat / kDeg, p.lon / kDeg, course / kDeg, km * 1000.0, lat, lon);
    return {lon * kDeg, lat * kDeg};
}

struct Sector {
    GeoPosition at;
    double bearing, tolerance;
    bool holds(GeoPosition q) const {
        const Arc arc = inverse(at, q);
        return arc.km < 1e-9 || std::fabs(std::remainder(arc.azimuth - bearing, 2 * kPi)) <= tolerance;
    }
};

// Where the overlap of two sectors ends along the ray from x on `course`
// (km, by bisection); kUnboundedSearchKm when it goes on that far.
double reach(GeoPosition x, double course, const Sector& a, const Sector& b) {
    auto inside = [&](double km) {
        const GeoPosition q = direct(x, course, km);
        return a.holds(q) && b.holds(q);
    };
    if (inside(kUnboundedSearchKm)) return kUnboundedSearchKm;
    double lo = 0, hi = kUnboundedSearchKm;
    while (hi - lo > 1e-6 * std::max(hi, 1e-3)) {
        const double mid = 0.5 * (lo + hi);
        (inside(mid) ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

struct Reference {
    bool unbounded = false;
    double areaKm2 = 0, sizeKm = 0;
};

// The overlap seen from X along `rays` evenly spread courses (for the area)
// and along `extra` courses (for the size, so that its corners are met).
Reference reference(GeoPosition x, const Sector& a, const Sector& b, int rays, const std::vector<double>& extra) {
    Reference r;
    std::vector<GeoPosition> boundary;
    auto ray = [&](double course) {
        const double km = reach(x, course, a, b);
        r.unbounded = r.unbounded || km >= kUnboundedSearchKm;
        boundary.push_back(direct(x, course, km));
        return km;
    };
    for (int k = 0; k < rays; ++k) {
        const double km = ray(2 * kPi * (k + 0.5) / rays);
        r.areaKm2 += (1 - std::cos(km / kEarthRadiusKm)) * (2 * kPi / rays) * kEarthRadiusKm * kEarthRadiusKm;
    }
    for (double course : extra) ray(course);
    // The longest chord, turned into an arc.
    std::vector<std::array<double, 3>> points;
    for (GeoPosition p : boundary)
        points.push_back({std::cos(p.lat) * std::cos(p.lon), std::cos(p.lat) * std::sin(p.lon), std::sin(p.lat)});
    double chord = 0;
    for (std::size_t i = 0; i < points.size(); ++i)
        for (std::size_t j = i + 1; j < points.size(); ++j)
            chord = std::max(chord, std::hypot(points[i][0] - points[j][0], points[i][1] - points[j][1],
                                               points[i][2] - points[j][2]));
    r.sizeKm = 2 * std::asin(chord / 2) * kEarthRadiusKm;
    return r;
}

// Observers placed around a random X with GeographicLib, their bearings
// pointing at X: X anywhere (near the poles and the date line too), the
// observers 20 to 1500 km away, tolerances 0.1 to 6 degrees.
TEST(SearchArea, MatchesTheOverlapFoundAlongRays) {
    std::mt19937_64 rng(18);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int bounded = 0, unbounded = 0;
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE(i);
        GeoPosition x{(2 * u(rng) - 1) * kPi, std::asin(2 * u(rng) - 1)};
        if (i % 6 == 1) x.lat = std::copysign(kPi / 2 - 0.02 * u(rng), u(rng) - 0.5);
        if (i % 6 == 2) x.lon = std::copysign(kPi - 0.001 * u(rng), u(rng) - 0.5);
        const double toA = 2 * kPi * u(rng);
        const double toB = toA + (i % 4 == 3 ? 0.03 + 0.1 * u(rng) : 0.3 + (kPi - 0.6) * u(rng));
        const GeoPosition a = direct(x, toA, 20 + 1480 * u(rng)), b = direct(x, toB, 20 + 1480 * u(rng));
        const Sector sa{a, inverse(a, x).azimuth, (0.1 + 5.9 * u(rng)) * kDeg};
        const Sector sb{b, inverse(b, x).azimuth, (0.1 + 5.9 * u(rng)) * kDeg};

        const SearchArea area = search_area(x, a, sa.bearing, sa.tolerance, b, sb.bearing, sb.tolerance);
        std::vector<double> corners;
        for (GeoPosition p : area.polygon) corners.push_back(inverse(x, p).azimuth);
        const Reference ref = reference(x, sa, sb, 1024, corners);
        ASSERT_EQ(area.kind, ref.unbounded ? SearchArea::kUnbounded : SearchArea::kBounded) << ref.sizeKm;
        if (ref.unbounded) {
            ++unbounded;
            continue;
        }
        ++bounded;
        EXPECT_NEAR(area.area_km2, ref.areaKm2, 0.01 * ref.areaKm2);
        EXPECT_NEAR(area.size_km, ref.sizeKm, 0.01 * ref.sizeKm);
        EXPECT_GE(area.polygon.size(), 3u);

        // The angle between the directions from X back to the observers.
        const double angle = std::fabs(std::remainder(inverse(x, a).azimuth - inverse(x, b).azimuth, 2 * kPi));
        EXPECT_NEAR(crossing_angle(x, a, sa.bearing, b, sb.bearing), angle, 1e-9);

        // The same area with A and B swapped: its corners in another order.
        const SearchArea swapped = search_area(x, b, sb.bearing, sb.tolerance, a, sa.bearing, sa.tolerance);
        EXPECT_NEAR(swapped.area_km2, area.area_km2, 1e-9 * area.area_km2);
        EXPECT_NEAR(swapped.size_km, area.size_km, 1e-9 * area.size_km);
        ASSERT_EQ(swapped.polygon.size(), area.polygon.size());
        for (GeoPosition p : swapped.polygon) {
            const bool corner = std::any_of(area.polygon.begin(), area.polygon.end(),
                                            [&](GeoPosition q) { return inverse(p, q).km < 1e-6; });
            EXPECT_TRUE(corner) << p.lat / kDeg << " " << p.lon / kDeg;
        }
    }
    EXPECT_GE(bounded, 14);
    EXPECT_GE(unbounded, 2);
}

// A tolerance of 0 makes a sector a line: no area, and the size is the
// length of line in the other sector, or nothing at all when both are 0.
TEST(SearchArea, ZeroTolerancesGiveAPieceOfLineOrThePoint) {
    const GeoPosition x{8.8 * kDeg, 50.6 * kDeg};
    const GeoPosition a = direct(x, 250 * kDeg, 120), b = direct(x, 170 * kDeg, 300);
    const double brgA = inverse(a, x).azimuth, brgB = inverse(b, x).azimuth;

    const SearchArea point = search_area(x, a, brgA, 0.0, b, brgB, -0.0);
    EXPECT_EQ(point.kind, SearchArea::kBounded);
    EXPECT_EQ(point.area_km2, 0.0);
    EXPECT_EQ(point.size_km, 0.0);
    ASSERT_EQ(point.polygon.size(), 1u);

    const double tolerances[] = {0.5, 2.0, 7.0};
    for (double tolerance : tolerances) {
        SCOPED_TRACE(tolerance);
        // Along A's line, how far it runs inside B's sector.
        const Sector sb{b, brgB, tolerance * kDeg};
        auto edge = [&](double towards) {
            double lo = inverse(a, x).km, hi = towards;
            for (int n = 0; n < 80; ++n) {
                const double mid = 0.5 * (lo + hi);
                (sb.holds(direct(a, brgA, mid)) ? lo : hi) = mid;
            }
            return lo;
        };
        const double length = edge(2000) - edge(0);
        const SearchArea line = search_area(x, a, brgA, 0.0, b, brgB, tolerance * kDeg);
        EXPECT_EQ(line.area_km2, 0.0);
        EXPECT_NEAR(line.size_km, length, 1e-6 * length);
        EXPECT_EQ(line.polygon.size(), 2u);
        const SearchArea other = search_area(x, b, brgB, tolerance * kDeg, a, brgA, 0.0);
        EXPECT_NEAR(other.size_km, line.size_km, 1e-9 * length);
    }

    // A inside B's wide sector: the piece of A's line starts at A, not
    // behind it (about 120 + 300 tan 25 = 260 km, not 280).
    const GeoPosition wide = direct(x, 160 * kDeg, 300);
    const Sector sw{wide, inverse(wide, x).azimuth, 25 * kDeg};
    ASSERT_TRUE(sw.holds(a));
    double lo = inverse(a, x).km, hi = 2000;
    for (int n = 0; n < 80; ++n) {
        const double mid = 0.5 * (lo + hi);
        (sw.holds(direct(a, brgA, mid)) ? lo : hi) = mid;
    }
    const SearchArea fromA = search_area(x, a, brgA, 0.0, wide, sw.bearing, sw.tolerance);
    EXPECT_NEAR(fromA.size_km, lo, 1e-6 * lo);
    EXPECT_NEAR(lo, 260, 10);
}

// Sectors that run side by side, or a tolerance that is no sector, have no
// bounded overlap; the sign of a tolerance does not matter.
TEST(SearchArea, UnboundedOverlaps) {
    const GeoPosition a{8 * kDeg, 50 * kDeg}, b{8.5 * kDeg, 50 * kDeg};
    IntersectionResult r;
    bearing_intersection(r, a.lon, a.lat, 1 * kDeg, b.lon, b.lat, 358 * kDeg);  // meet some 1300 km north
    ASSERT_EQ(r.status, 0);
    const struct {
        double tolA, tolB;
        SearchArea::Kind kind;
    } cases[] = {
        {0.5, 0.5, SearchArea::kBounded},      {-0.5, 0.5, SearchArea::kBounded},
        {2, 2, SearchArea::kUnbounded},        {90, 1, SearchArea::kUnbounded},
        {1, -120, SearchArea::kUnbounded},     {INFINITY, 1, SearchArea::kUnbounded},
        {1, NAN, SearchArea::kUnbounded},
    };
    double area = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tolA);
        const SearchArea s = search_area(r.x, a, 1 * kDeg, c.tolA * kDeg, b, 358 * kDeg, c.tolB * kDeg);
        EXPECT_EQ(s.kind, c.kind);
        if (c.kind != SearchArea::kBounded) continue;
        if (area == 0) area = s.area_km2;
        EXPECT_EQ(s.area_km2, area) << "the sign of a tolerance is ignored";
    }
}

// A at (0, 0) and B at (1 E, 0): of the bearings 45 or 225 from A and 135
// or 315 from B only 45 and 315 meet, at about (0.5 N, 0.5 E); the others
// point away from each other or to different sides of A-B.
TEST(BackBearings, OnlyTheCombinationsThatMeetAndTheSwitchesAllow) {
    const GeoPosition a{0, 0}, b{1 * kDeg, 0};
    const struct {
        double brgA, brgB;
        bool ambiguityA, ambiguityB;
        const char* found;  // "" for none
    } cases[] = {
        {225, 135, true, true, "A+180/B+180"}, {45, 135, true, true, "A/B+180"}, {225, 315, true, true, "A+180/B"},
        {45, 315, true, true, ""},             {225, 315, true, false, "A+180/B"}, {225, 315, false, true, ""},
        {225, 135, true, false, ""},           {225, 135, false, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.brgA) + " " + std::to_string(c.brgB));
        const auto crossings =
            back_bearing_crossings(a, c.brgA * kDeg, c.ambiguityA, b, c.brgB * kDeg, c.ambiguityB);
        ASSERT_EQ(crossings.size(), *c.found ? 1u : 0u);
        if (!*c.found) continue;
        const BackBearingCrossing& x = crossings[0];
        EXPECT_STREQ(x.combination, c.found);
        EXPECT_EQ(std::string(x.label), std::string(c.found).replace(std::string(c.found).find('/'), 1, " \xD7 "));
        EXPECT_NEAR(std::remainder(inverse(a, x.x).azimuth - 45 * kDeg, 2 * kPi), 0.0, 1e-9);
        EXPECT_NEAR(std::remainder(inverse(b, x.x).azimuth - 315 * kDeg, 2 * kPi), 0.0, 1e-9);
    }
}

}  // namespace
}  // namespace bearfix
