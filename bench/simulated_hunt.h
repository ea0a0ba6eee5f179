// Simulated hunts for checking the fix's ellipses against the truth: a
// transmitter, stations around it with the true bearings from GeographicLib's
// geodesics on the sphere, honest noise as their tolerances state it, and
// some bearings gone wild (a reflection, a typing error). For
// bench/fix_coverage and the coverage test of tests/fix.
#pragma once

#include <GeographicLib/Geodesic.hpp>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fix/multi_fix.h"
#include "geo/great_circle.h"

namespace bearfix::simulation {

// Deterministic on every platform (std::normal_distribution is not).
class Random {
public:
    explicit Random(uint64_t seed) : rng_(seed) {}
    double uniform(double a, double b) { return a + (b - a) * static_cast<double>(rng_() >> 11) * 0x1.0p-53; }
    int integer(int a, int b) { return a + static_cast<int>(rng_() % static_cast<uint64_t>(b - a + 1)); }
    double normal() {
        const double u = uniform(0.0, 1.0), v = uniform(0.0, 1.0);
        return std::sqrt(-2.0 * std::log1p(-u)) * std::cos(2.0 * std::numbers::pi * v);
    }

private:
    std::mt19937_64 rng_;
};

inline const GeographicLib::Geodesic& sphere() {
    static const GeographicLib::Geodesic instance(kEarthRadiusKm * 1000.0, 0.0);
    return instance;
}

struct HuntClass {
    int wild = 0;                      // bearings gone wild
    int minBearings = 5, maxBearings = 7;
    double minKm = 1.0, maxKm = 10.0;  // stations from the transmitter
    double scatter = 1.0;              // the honest noise over what the tolerances say
};

struct Hunt {
    double txLat = 0.0, txLon = 0.0;  // degrees
    std::vector<Bearing> bearings;
    std::vector<bool> wild;  // per bearing
};

// Stations within a sector of 90 to 360 degrees around the transmitter (a
// car's drive sees it from one side); each bearing with its own sigma of 1
// to 2.5 degrees, its tolerance twice that. A wild bearing is 20 to 60
// degrees off, either way, with the same tolerance as the others.
inline Hunt makeHunt(Random& r, const HuntClass& c) {
    Hunt h;
    h.txLat = r.uniform(-60.0, 60.0);
    h.txLon = r.uniform(-180.0, 180.0);
    const int n = r.integer(c.minBearings, c.maxBearings);
    const double from = r.uniform(0.0, 360.0), width = r.uniform(90.0, 360.0);
    for (int i = 0; i < n; ++i) {
        const double azimuth = from + r.uniform(0.0, width), km = r.uniform(c.minKm, c.maxKm);
        double lat, lon, s12, azi1, azi2;
        sphere().Direct(h.txLat, h.txLon, azimuth, km * 1000.0, lat, lon);
        sphere().Inverse(lat, lon, h.txLat, h.txLon, s12, azi1, azi2);
        const double sigma = r.uniform(1.0, 2.5);
        const bool wild = i < c.wild;  // the order does not matter to the fix
        const double error =
            wild ? (r.uniform(0.0, 1.0) < 0.5 ? -1 : 1) * r.uniform(20.0, 60.0) : c.scatter * sigma * r.normal();
        Bearing b;
        b.station = "S" + std::to_string(i);
        b.position = {lon * kDegToRad, lat * kDegToRad};
        b.bearingDeg = reduce_bearing_degrees(azi1 + error);
        b.toleranceDeg = 2.0 * sigma;
        h.bearings.push_back(b);
        h.wild.push_back(wild);
    }
    return h;
}

// The transmitter lies inside the ellipse as its axes and orientation
// describe it, measured from the fix along the geodesic.
inline bool covers(const FixResult& f, const ConfidenceEllipse& e, const Hunt& h) {
    double s12, azi1, azi2;
    sphere().Inverse(f.x.lat * kRadToDeg, f.x.lon * kRadToDeg, h.txLat, h.txLon, s12, azi1, azi2);
    const double east = s12 / 1000.0 * std::sin(azi1 * kDegToRad), north = s12 / 1000.0 * std::cos(azi1 * kDegToRad);
    const double a = e.orientationDeg * kDegToRad;
    const double along = east * std::sin(a) + north * std::cos(a), across = east * std::cos(a) - north * std::sin(a);
    return std::pow(along / e.semiMajorKm, 2) + std::pow(across / e.semiMinorKm, 2) <= 1.0;
}

}  // namespace bearfix::simulation
