// Magnetic bearings made true and a station's error calibrated away, on
// simulated hunts with true bearings from GeographicLib on the 6371 km sphere.
#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
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

// A station `km` from the transmitter towards `azimuth`, and its true
// course to the transmitter (degrees).
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

// Compass bearings where the declination is 13 degrees east read 13 less
// than true. Made true, their fix lies in the 50 % ellipse of the fix of
// the true bearings; taken as they are, far outside it.
TEST(MagneticBearings, LandInTheErrorFreeEllipseOnlyWhenCorrected) {
    std::string magnetic, truth;
    for (int i = 0; i < 6; ++i) {
        const Station s = stationAt(20.0 + 60.0 * i, 6.0 + 2.0 * i);
        const std::string place = "S," + std::to_string(s.lat) + "," + std::to_string(s.lon) + ",";
        truth += place + std::to_string(s.course) + ",3\n";
        magnetic += place + std::to_string(s.course - 13.0) + ",3,2026-05-01T10:00:00Z,typed,1,magnetic\n";
    }
    std::vector<Bearing> bearings;
    std::string errors;
    ASSERT_TRUE(parseBearingCsv(truth, bearings, errors)) << errors;
    const FixResult t = solveFix(bearings);
    ASSERT_EQ(t.status, FixStatus::Found);
    for (const double declination : {13.0, 0.0}) {
        const DeclinationSource source = [declination](const Bearing&, std::string&) { return std::optional(declination); };
        ASSERT_TRUE(parseBearingCsv(magnetic, bearings, errors, {}, source)) << errors;
        const FixResult r = solveFix(bearings);
        ASSERT_EQ(r.status, FixStatus::Found);
        double metres, azimuth, azi2;
        sphere().Inverse(t.x.lat * kRadToDeg, t.x.lon * kRadToDeg, r.x.lat * kRadToDeg, r.x.lon * kRadToDeg, metres, azimuth, azi2);
        const double e = metres / 1000.0 * std::sin(azimuth * kDegToRad), n = metres / 1000.0 * std::cos(azimuth * kDegToRad);
        // Mahalanobis distance in the covariance of the error-free fix.
        const double d2 = (t.covNorthNorth * e * e - 2.0 * t.covEastNorth * e * n + t.covEastEast * n * n) /
                          (t.covEastEast * t.covNorthNorth - t.covEastNorth * t.covEastNorth);
        EXPECT_EQ(d2 <= kChiSquare50, declination == 13.0) << "d2 " << d2 << ", " << metres << " m off";
    }
}

// Twenty bearings (and one left out) of a station whose array is mounted
// off, with noise: the offset comes back to within 1 degree, and a spread
// more than the stated tolerance allows is said.
TEST(StationCalibration, RecoversAKnownOffset) {
    std::mt19937_64 rng(40);
    const auto normal = [&rng] {
        const double u = (static_cast<double>(rng() >> 11) + 0.5) * 0x1.0p-53, v = static_cast<double>(rng() >> 11) * 0x1.0p-53;
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
    };
    const struct {
        double offset, sigma, tolerance;
        bool tooTight;
    } cases[] = {{7.5, 2.0, 2.0, true}, {7.5, 2.0, 6.0, false}, {-178.0, 1.0, 3.0, false}};
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
            b.station = "Car 2";  // another station's: not counted
            log.push_back(b);
        }
        log[0].enabled = false;
        const StationCalibration cal = calibrateStation(log, "Car 1", known);
        ASSERT_EQ(cal.status, CalibrationStatus::Done);
        EXPECT_EQ(cal.count, 20);
        EXPECT_NEAR(std::remainder(cal.offsetDeg - c.offset, 360.0), 0.0, 1.0);
        EXPECT_NEAR(cal.spreadDeg, c.sigma, 0.5 * c.sigma);
        EXPECT_EQ(cal.neededToleranceDeg, c.tooTight ? 2.0 * cal.spreadDeg : 0.0);
    }
    EXPECT_EQ(calibrateStation({}, "Car 1", known).status, CalibrationStatus::NoBearings);
}

}  // namespace
}  // namespace bearfix::reference_test
