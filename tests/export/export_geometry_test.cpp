#include "export/export_geometry.h"

#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <cmath>
#include <numbers>
#include <random>

namespace bearfix {
namespace {

constexpr double kR = 6371.0;

// GeographicLib on the 6371 km sphere: the oracle for where points lie.
const GeographicLib::Geodesic& sphere() {
    static const GeographicLib::Geodesic g(kR * 1000.0, 0.0);
    return g;
}
struct Polar {
    double km, azimuth;
};
Polar polarFrom(GeoPosition o, const LonLat& p) {
    double s, azi1, azi2;
    sphere().Inverse(o.lat * kRadToDeg, o.lon * kRadToDeg, p.lat, p.lon, s, azi1, azi2);
    return {s / 1000.0, azi1};
}
double km(const LonLat& a, const LonLat& b) { return polarFrom({a.lon * kDegToRad, a.lat * kDegToRad}, b).km; }
double angleDiff(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

// The largest gap between neighbours, the ring closed when asked.
double largestGap(const std::vector<LonLat>& points, bool closed) {
    double gap = 0;
    for (std::size_t i = 1; i < points.size() + (closed ? 1 : 0); ++i)
        gap = std::max(gap, km(points[i - 1], points[i % points.size()]));
    return gap;
}

// Area on the sphere of a ring whose edges are straight in longitude and
// latitude: -R^2 times the integral of sin(lat) dlon round it (counter-
// clockwise positive), each edge integrated exactly.
double sphericalAreaKm2(const Ring& ring) {
    double sum = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const LonLat& p = ring[i];
        const LonLat& q = ring[(i + 1) % ring.size()];
        const double dlon = (q.lon - p.lon) * kDegToRad, lat1 = p.lat * kDegToRad, lat2 = q.lat * kDegToRad;
        if (dlon == 0) continue;
        sum += std::fabs(lat2 - lat1) < 1e-12 ? std::sin(lat1) * dlon
                                              : (std::cos(lat1) - std::cos(lat2)) / ((lat2 - lat1) / dlon);
    }
    return -kR * kR * sum;
}

double shoelace(const Ring& ring) {
    double sum = 0;
    for (std::size_t i = 0; i < ring.size(); ++i)
        sum += ring[i].lon * ring[(i + 1) % ring.size()].lat - ring[(i + 1) % ring.size()].lon * ring[i].lat;
    return sum / 2;
}

struct SectorCase {
    double lat, lon, bearing, half, lengthKm;
};

// Sides on their bearings, the outer arc at its length, a point every
// kilometre and every degree of the arc, or 500 to an edge.
TEST(ExportGeometry, SectorsLieOnTheirEdgesWithPointsCloseEnough) {
    const SectorCase cases[] = {
        {50, 8, 60, 2, 214}, {-33.9, 151.2, 300, 10, 40}, {0, 179.5, 90, 30, 9000}, {89, 0, 180, 1, 5}};
    for (const SectorCase& c : cases) {
        SCOPED_TRACE(c.lengthKm);
        const GeoPosition o{c.lon * kDegToRad, c.lat * kDegToRad};
        const Ring ring = sectorRing(o, c.bearing * kDegToRad, c.half * kDegToRad, c.lengthKm / kR);
        double previousAzimuth = NAN;
        for (std::size_t i = 1; i < ring.size(); ++i) {
            const Polar p = polarFrom(o, ring[i]);
            const bool onArc = std::fabs(p.km - c.lengthKm) < 1e-6;
            const bool onSide =
                angleDiff(p.azimuth, c.bearing - c.half) < 1e-7 || angleDiff(p.azimuth, c.bearing + c.half) < 1e-7;
            EXPECT_TRUE(onArc || onSide) << i << ": " << p.km << " km at " << p.azimuth;
            if (onArc && !std::isnan(previousAzimuth)) {  // a degree of the arc at most
                EXPECT_LE(angleDiff(p.azimuth, previousAzimuth), 1.0 + 1e-9) << i;
            }
            previousAzimuth = onArc ? p.azimuth : NAN;
        }
        const double arcKm = 2 * c.half * kDegToRad * kR * std::sin(c.lengthKm / kR);
        EXPECT_LE(largestGap(ring, true), std::max({1.0, c.lengthKm / 500, arcKm / 500}) * (1 + 1e-9));
    }
}

TEST(ExportGeometry, EllipsesAndLinesLieOnTheirCurves) {
    const GeoPosition centre{-71.0 * kDegToRad, 42.3 * kDegToRad};
    for (auto [a, b, orientation] : {std::tuple{3.0, 1.0, 30.0}, {400.0, 20.0, 170.0}, {0.2, 0.2, 0.0}}) {
        const Ring ring = ellipseRing(centre, a, b, orientation);
        EXPECT_GE(ring.size(), 360u);
        for (const LonLat& q : ring) {
            const Polar p = polarFrom(centre, q);
            const double along = p.km * std::cos((p.azimuth - orientation) * kDegToRad);
            const double across = p.km * std::sin((p.azimuth - orientation) * kDegToRad);
            EXPECT_NEAR(along * along / (a * a) + across * across / (b * b), 1.0, 1e-9);
        }
        EXPECT_LE(largestGap(ring, true), std::max(1.0, 2 * std::numbers::pi * a / 500) * (1 + 1e-9));
    }
    for (double lengthKm : {0.3, 12.5, 7000.0}) {
        const std::vector<LonLat> line = bearingLine(centre, 75 * kDegToRad, lengthKm / kR);
        for (std::size_t i = 1; i < line.size(); ++i) EXPECT_NEAR(polarFrom(centre, line[i]).azimuth, 75, 1e-7);
        EXPECT_NEAR(polarFrom(centre, line.back()).km, lengthKm, 1e-6);
        EXPECT_LE(largestGap(line, false), std::max(1.0, lengthKm / 500) * (1 + 1e-9));
    }
}

// Random sectors, many across the antimeridian or round a pole: the pieces
// stay within -180..180, turn counter-clockwise, and together hold the
// sector's area, 2 half R^2 (1 - cos(length / R)).
TEST(ExportGeometry, PolygonsCutAtTheAntimeridianKeepTheirArea) {
    std::mt19937 random(23);
    std::uniform_real_distribution<double> lat(-85, 85), lon(-180, 180), bearing(0, 360), half(0.5, 60),
        length(10, 0.49 * std::numbers::pi * kR);
    int cut = 0, round = 0;
    for (int i = 0; i < 400; ++i) {
        const GeoPosition o{lon(random) * kDegToRad, lat(random) * kDegToRad};
        const double h = half(random) * kDegToRad, l = (i % 2 ? length(random) : length(random) / 50) / kR;
        const std::vector<Ring> pieces = splitPolygonAtAntimeridian(sectorRing(o, bearing(random) * kDegToRad, h, l));
        double area = 0;
        for (const Ring& piece : pieces) {
            EXPECT_GT(shoelace(piece), 0);
            for (const LonLat& p : piece) {
                EXPECT_LE(std::fabs(p.lon), 180.0);
                EXPECT_LE(std::fabs(p.lat), 90.0);
            }
            area += sphericalAreaKm2(piece);
        }
        const double expected = 2 * h * kR * kR * (1 - std::cos(l));
        EXPECT_NEAR(area, expected, expected * 2e-3) << i;
        cut += pieces.size() > 1;
        for (const Ring& piece : pieces)
            for (const LonLat& p : piece) round += std::fabs(p.lat) == 90.0;
    }
    EXPECT_GT(cut, 20);  // the cases did what they are for
    EXPECT_GT(round, 5);
}

// A line is cut where it crosses 180: each piece ends on one side where the
// next begins on the other, at the same latitude, and nothing else changes.
TEST(ExportGeometry, LinesCutAtTheAntimeridianJoinUp) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> lat(-80, 80), lon(150, 210), bearing(0, 360);
    int cut = 0;
    for (int i = 0; i < 200; ++i) {
        const std::vector<LonLat> line =
            bearingLine({lon(random) * kDegToRad, lat(random) * kDegToRad}, bearing(random) * kDegToRad, 0.3);
        const auto pieces = splitLineAtAntimeridian(line);
        std::size_t points = 0;
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            points += pieces[k].size();
            for (const LonLat& p : pieces[k]) EXPECT_LE(std::fabs(p.lon), 180.0);
            if (k == 0) continue;
            EXPECT_EQ(std::fabs(pieces[k - 1].back().lon), 180.0);
            EXPECT_EQ(pieces[k].front().lon, -pieces[k - 1].back().lon);
            EXPECT_EQ(pieces[k].front().lat, pieces[k - 1].back().lat);
        }
        EXPECT_EQ(points, line.size() + 2 * (pieces.size() - 1));
        EXPECT_EQ(pieces.front().front().lat, line.front().lat);
        EXPECT_EQ(pieces.back().back().lat, line.back().lat);
        cut += pieces.size() > 1;
    }
    EXPECT_GT(cut, 20);
}

}  // namespace
}  // namespace bearfix
