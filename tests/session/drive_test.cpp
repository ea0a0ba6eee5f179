// Driving to the fix: the read-out and the map's frame. Positions and
// distances from GeographicLib on the 6371 km sphere; the rest by hand.
#include "session/drive.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

namespace bearfix {
namespace {

const GeographicLib::Geodesic kSphere(kEarthRadiusKm * 1000.0, 0.0);

GeoPosition at(double latDeg, double lonDeg) { return {lonDeg * kDegToRad, latDeg * kDegToRad}; }
GeoPosition away(double azimuth, double metres, double lat0 = 50, double lon0 = 8) {
    double lat, lon;
    kSphere.Direct(lat0, lon0, azimuth, metres, lat, lon);
    return at(lat, lon);
}
double metresTo(GeoPosition p) {
    double metres, azimuth, back;
    kSphere.Inverse(50, 8, p.lat * kRadToDeg, p.lon * kRadToDeg, metres, azimuth, back);
    return metres;
}

TEST(DriveReadout, CourseInWholeDegreesAndDistanceByItsSize) {
    for (const auto& [azimuth, metres, text] :
         {std::tuple{312.0, 2400.0, "Fix: 312\xB0, 2.4 km"}, {359.6, 854.0, "Fix: 0\xB0, 850 m"},
          {90.0, 996.0, "Fix: 90\xB0, 1.0 km"}, {180.0, 9949.0, "Fix: 180\xB0, 9.9 km"},
          {180.0, 9951.0, "Fix: 180\xB0, 10 km"}, {225.5, 123456.0, "Fix: 226\xB0, 123 km"}})
        EXPECT_EQ(driveReadout(at(50, 8), {"Fix", away(azimuth, metres)}), text);
    EXPECT_EQ(driveReadout(at(10, 179.99), {"Next", away(90, 5000, 10, 179.99)}), "Next: 90\xB0, 5.0 km");
}

TEST(DriveFrame, RegionCarAndEdges) {
    double east, north;  // an ellipse 2 x 1 km with its major axis at 30 degrees
    ellipseReach({2, 1, 30}, &east, &north);
    EXPECT_NEAR(east, std::sqrt(4 * 0.25 + 0.75), 1e-12);
    EXPECT_NEAR(north, std::sqrt(4 * 0.75 + 0.25), 1e-12);
    EXPECT_EQ(frameRangeKm(1, 2, 0.75, 77), 4);
    EXPECT_EQ(frameRangeKm(0.1, 0.1, 0.75, 77), 1) << "at least 1 km";
    EXPECT_EQ(frameRangeKm(NAN, 1, 0.75, 77), 77) << "unbounded: the range stays";
    for (const auto& [x, y, near] : {std::tuple{120.0, 90.0, false}, {119.9, 300.0, true}, {680.1, 300.0, true},
                                     {400.0, 510.1, true}, {NAN, 300.0, true}})
        EXPECT_EQ(nearEdge(x, y, 800, 600), near) << x << "," << y;

    // F while following: halfway between car and fix, both within 70 % of
    // the picture (with 5 % to spare); the fix's region as without the car.
    for (const auto& [azimuth, metres, halfEast, halfNorth, aspect, range] :
         {std::tuple{0.0, 10000.0, NAN, NAN, 0.75, 5 / 0.7 * 1.05}, {90.0, 10000.0, NAN, NAN, 0.5, 2.5 / 0.7 * 1.05},
          {180.0, 10000.0, 1.0, 2.0, 0.75, 7 / 0.7 * 1.05}, {0.0, 100.0, 3.0, 1.0, 0.75, 4.5}}) {
        const Frame frame = frameCarAndFix(at(50, 8), {BestFix::kLog, away(azimuth, metres), halfEast, halfNorth}, aspect);
        EXPECT_NEAR(metresTo(frame.centre), metres / 2, 1e-6) << azimuth;
        EXPECT_NEAR(frame.rangeKm, range, 1e-9) << azimuth;
    }
    // Following: half the range ahead on the course; on the car when it stands.
    EXPECT_NEAR(metresTo(followCentre(at(50, 8), 72.5, 10)), 5000, 1e-6);
    EXPECT_EQ(metresTo(followCentre(at(50, 8), NAN, 10)), 0);
}

}  // namespace
}  // namespace bearfix
