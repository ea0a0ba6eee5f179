// Magnetic bearings made true, and a station's error calibrated away, on
// simulated hunts whose true bearings come from GeographicLib's geodesics on
// the 6371 km sphere.
#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fix/bearing_log.h"
#include "fix/multi_fix.h"
#include "fix/station_calibration.h"
#include "geo/great_circle.h"

namespace bearfix::reference_test {
namespace {

const GeographicLib::Geodesic& sphere() {
    static const GeographicLib::Geodesic instance(kEarthRadiusKm * 1000.0, 0.0);
    return instance;
}

constexpr double kTxLat = 47.6, kTxLon = -122.3;

// A station `km` from the transmitter in direction `azimuth`: its position
// and the true course from it to the transmitter, degrees.
struct Station {
    double lat, lon, course;
};
Station stationAt(double azimuth, double km) {
    Station s;
    double s12, azi2;
    sphere().Direct(kTxLat, kTxLon, azimuth, km * 1000.0, s.lat, s.lon);
    sphere().Inverse(s.lat, s.lon, kTxLat, kTxLon, s12, s.course, azi2);
    return s;
}

// East and north of `from` to `to` in km, along the sphere.
void offsetKm(GeoPosition from, GeoPosition to, double& east, double& north) {
    double s12, azi1, azi2;
    sphere().Inverse(from.lat * kRadToDeg, from.lon * kRadToDeg, to.lat * kRadToDeg, to.lon * kRadToDeg, s12, azi1, azi2);
    east = s12 / 1000.0 * std::sin(azi1 * kDegToRad);
    north = s12 / 1000.0 * std::cos(azi1 * kDegToRad);
}

// Compass bearings where the declination is 13 degrees east: each reads 13
// degrees less than true. Taken as magnetic, with the declination added, the
// fix lies in the 50 % ellipse of the fix of the true bearings; taken as
// true, far outside it.
TEST(MagneticBearings, LandInTheErrorFreeEllipseOnlyWhenCorrected) {
    std::string magnetic, truth;
    for (int i = 0; i < 6; ++i) {
        const Station s = stationAt(20.0 + 60.0 * i, 6.0 + 2.0 * i);
        const std::string place = "S" + std::to_string(i) + "," + std::to_string(s.lat) + "," + std::to_string(s.lon) + ",";
        truth += place + std::to_string(s.course) + ",3\n";
        magnetic += place + std::to_string(s.course - 13.0) + ",3,2026-05-01T10:00:00Z,typed,1,magnetic\n";
    }
    const DeclinationSource thirteen = [](const Bearing&, std::string&) { return std::optional<double>(13.0); };
    const DeclinationSource none = [](const Bearing&, std::string&) { return std::optional<double>(0.0); };
    std::vector<Bearing> bearings;
    std::string errors;
    ASSERT_TRUE(parseBearingCsv(truth, bearings, errors)) << errors;
    const FixResult errorFree = solveFix(bearings);
    ASSERT_EQ(errorFree.status, FixStatus::Found);
    const struct {
        const DeclinationSource& declination;
        bool inside;
    } cases[] = {{thirteen, true}, {none, false}};
    for (const auto& c : cases) {
        ASSERT_TRUE(parseBearingCsv(magnetic, bearings, errors, {}, c.declination)) << errors;
        const FixResult r = solveFix(bearings);
        ASSERT_EQ(r.status, FixStatus::Found);
        double e, n;
        offsetKm(errorFree.x, r.x, e, n);
        // Mahalanobis distance in the error-free fix's covariance.
        const double det = errorFree.covEastEast * errorFree.covNorthNorth - errorFree.covEastNorth * errorFree.covEastNorth;
        const double d2 =
            (errorFree.covNorthNorth * e * e - 2.0 * errorFree.covEastNorth * e * n + errorFree.covEastEast * n * n) / det;
        EXPECT_EQ(d2 <= kChiSquare50, c.inside) << "d2 " << d2 << ", " << std::hypot(e, n) << " km off";
    }
}

// Twenty bearings (and one left out) of a station whose array is mounted 7.5 degrees off,
// with 2 degrees of noise: the offset comes back to within 1 degree, and
// the spread is more than a stated tolerance of 2 degrees allows.
TEST(StationCalibration, RecoversAKnownOffset) {
    std::mt19937_64 rng(40);
    const auto normal = [&rng] {
        const double u = (static_cast<double>(rng() >> 11) + 0.5) * 0x1.0p-53;
        const double v = static_cast<double>(rng() >> 11) * 0x1.0p-53;
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
    };
    const struct {
        double offset, sigma, tolerance;
        bool tooTight;
    } cases[] = {
        {7.5, 2.0, 2.0, true},
        {7.5, 2.0, 6.0, false},
        {-178.0, 1.0, 3.0, false},  // across the back of the compass
    };
    const GeoPosition known{kTxLon * kDegToRad, kTxLat * kDegToRad};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "offset " << c.offset << ", sigma " << c.sigma);
        std::vector<Bearing> log;
        for (int i = 0; i < 21; ++i) {
            const Station s = stationAt(140.0 + i, 3.0 + 0.5 * i);  // a car driving round
            Bearing b;
            b.station = "Car 1";
            b.position = {s.lon * kDegToRad, s.lat * kDegToRad};
            b.bearingDeg = reduce_bearing_degrees(s.course + c.offset + c.sigma * normal());
            b.toleranceDeg = c.tolerance;
            log.push_back(b);
            b.station = "Car 2";  // another station's, and a bearing left out: neither counts
            b.bearingDeg = reduce_bearing_degrees(s.course + 90.0);
            log.push_back(b);
        }
        log[0].enabled = false;
        const StationCalibration cal = calibrateStation(log, "Car 1", known);
        ASSERT_EQ(cal.status, CalibrationStatus::Done);
        EXPECT_EQ(cal.count, 20);
        EXPECT_NEAR(std::remainder(cal.offsetDeg - c.offset, 360.0), 0.0, 1.0);
        EXPECT_NEAR(cal.spreadDeg, c.sigma, 0.5 * c.sigma);
        EXPECT_EQ(cal.statedToleranceDeg, c.tolerance);
        EXPECT_EQ(cal.neededToleranceDeg > 0.0, c.tooTight);
        if (c.tooTight) {
            EXPECT_DOUBLE_EQ(cal.neededToleranceDeg, 2.0 * cal.spreadDeg);
        }
    }
    EXPECT_EQ(calibrateStation({}, "Car 1", known).status, CalibrationStatus::NoBearings);
}

}  // namespace
}  // namespace bearfix::reference_test
