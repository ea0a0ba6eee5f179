// Driving to the fix: the read-out, the framing of the 95 % region and the
// map that follows the car. Positions and distances from GeographicLib's
// geodesics on the 6371 km sphere; the rest worked by hand.
#include "session/drive.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>

#include "geo/great_circle.h"

namespace bearfix {
namespace {

const GeographicLib::Geodesic& driveSphere() {
    static const GeographicLib::Geodesic instance(kEarthRadiusKm * 1000.0, 0.0);
    return instance;
}

GeoPosition at(double latDeg, double lonDeg) { return {lonDeg * kDegToRad, latDeg * kDegToRad}; }

// The point `metres` from (lat, lon) on initial azimuth `azimuth`.
GeoPosition away(double latDeg, double lonDeg, double azimuth, double metres) {
    double lat, lon;
    driveSphere().Direct(latDeg, lonDeg, azimuth, metres, lat, lon);
    return at(lat, lon);
}

TEST(DriveReadout, CourseInWholeDegreesAndDistanceByItsSize) {
    const struct {
        double lat, lon, azimuth, metres;
        const char* text;
    } cases[] = {
        {50, 8, 312, 2400, "Fix: 312\xB0, 2.4 km"},
        {50, 8, 359.6, 850, "Fix: 0\xB0, 850 m"},  // 360 is north
        {50, 8, 0.4, 854, "Fix: 0\xB0, 850 m"},
        {50, 8, 90, 994, "Fix: 90\xB0, 990 m"},
        {50, 8, 90, 996, "Fix: 90\xB0, 1.0 km"},
        {50, 8, 180, 9949, "Fix: 180\xB0, 9.9 km"},
        {50, 8, 180, 9951, "Fix: 180\xB0, 10 km"},
        {50, 8, 225.5, 123456, "Fix: 226\xB0, 123 km"},
        {50, 8, 270, 4, "Fix: 270\xB0, 0 m"},
        {10, 179.99, 90, 5000, "Fix: 90\xB0, 5.0 km"},  // across the 180th meridian
        {-33.9, 151.2, 45, 20000, "Fix: 45\xB0, 20 km"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(driveReadout(at(c.lat, c.lon), {"Fix", away(c.lat, c.lon, c.azimuth, c.metres)}), c.text)
            << c.azimuth << " " << c.metres;
    EXPECT_EQ(driveReadout(at(50, 8), {"Next", away(50, 8, 10, 500)}), "Next: 10\xB0, 500 m");
}

TEST(DriveFrame, TheRegionFillsAboutHalfThePicture) {
    const struct {
        double major, minor, orientation, east, north;
    } ellipses[] = {
        {2, 1, 0, 1, 2}, {2, 1, 90, 2, 1}, {2, 1, 45, std::sqrt(2.5), std::sqrt(2.5)}, {3, 3, 17, 3, 3},
        {2, 0, 30, 1, std::sqrt(3.0)},
    };
    for (const auto& e : ellipses) {
        double east, north;
        ellipseReach({e.major, e.minor, e.orientation}, &east, &north);
        EXPECT_NEAR(east, e.east, 1e-12) << e.orientation;
        EXPECT_NEAR(north, e.north, 1e-12) << e.orientation;
    }
    const struct {
        double east, north, aspect, range;
    } frames[] = {
        {1, 2, 0.75, 4}, {4, 1, 0.75, 6}, {0.1, 0.1, 0.75, 1}, {1e5, 1, 1, 20000}, {NAN, 1, 0.75, 77},
    };
    for (const auto& f : frames) EXPECT_EQ(frameRangeKm(f.east, f.north, f.aspect, 77), f.range) << f.east;
}

TEST(DriveFollow, TheCarStaysAwayFromTheEdges) {
    const struct {
        double x, y;
        bool near;
    } pixels[] = {
        {400, 300, false}, {120, 300, false}, {119.9, 300, true}, {680, 90, false},  {680.1, 300, true},
        {400, 510, false}, {400, 510.1, true}, {-5, 300, true},    {NAN, 300, true}, {400, 1e9, true},
    };
    for (const auto& p : pixels) EXPECT_EQ(nearEdge(p.x, p.y, 800, 600), p.near) << p.x << "," << p.y;

    // 7 km east on a picture 0.75 as high as wide: the car at 0.7 of the
    // half width, with 5 % to spare.
    EXPECT_DOUBLE_EQ(rangeToKeepKm(7, 0, 0.75), 7 * 0.75 / 0.7 * 1.05);
    EXPECT_DOUBLE_EQ(rangeToKeepKm(-3, -7, 0.75), 7 / 0.7 * 1.05);

    // Moving: half the range ahead on the course; standing: on the car.
    for (const double course : {0.0, 72.5, 181.0, 300.0}) {
        const GeoPosition c = followCentre(at(52.12, 8.43), course, 10);
        double metres, azimuth, back;
        driveSphere().Inverse(52.12, 8.43, c.lat * kRadToDeg, c.lon * kRadToDeg, metres, azimuth, back);
        EXPECT_NEAR(metres, 5000, 1e-6) << course;
        EXPECT_NEAR(std::remainder(azimuth - course, 360.0), 0, 1e-9) << course;
    }
    // F while following: halfway between car and fix, both (and the fix's
    // region) where the car is kept.
    const struct {
        double azimuth, metres, halfEast, halfNorth, aspect, range;
    } frames[] = {
        {0, 10000, NAN, NAN, 0.75, 5 / 0.7 * 1.05},
        {90, 10000, NAN, NAN, 0.5, 5 * 0.5 / 0.7 * 1.05},
        {180, 10000, 1, 2, 0.75, 7 / 0.7 * 1.05},
        {0, 100, 3, 1, 0.75, 2 * 3 * 0.75},  // the car at the fix: framed as without it
    };
    for (const auto& f : frames) {
        const BestFix fix{BestFix::kLog, away(52.12, 8.43, f.azimuth, f.metres), f.halfEast, f.halfNorth};
        const Frame frame = frameCarAndFix(at(52.12, 8.43), fix, f.aspect);
        double metres, azimuth, back;
        driveSphere().Inverse(52.12, 8.43, frame.centre.lat * kRadToDeg, frame.centre.lon * kRadToDeg, metres,
                              azimuth, back);
        EXPECT_NEAR(metres, f.metres / 2, 1e-6) << f.azimuth;
        EXPECT_NEAR(frame.rangeKm, f.range, 1e-6) << f.azimuth;
    }

    const GeoPosition standing = followCentre(at(52.12, 8.43), NAN, 10);
    EXPECT_EQ(standing.lat, at(52.12, 8.43).lat);
    EXPECT_EQ(standing.lon, at(52.12, 8.43).lon);
}

// The log's fix with its ellipse while the log is in use; else X with the
// reach of its search area; else none.
TEST(DriveBestFix, TheLogsFixElseX) {
    const FixTexts observers{"N50 E8", "N50 E9", "45", "315", "1", "1"};
    const Fix x = compute_fix(observers);
    ASSERT_EQ(x.crossing.status, 0);
    ASSERT_EQ(x.area.kind, SearchArea::kBounded);

    BearingRows rows;
    setObserverRows(rows, observers);
    refit(rows);
    BestFix best = bestFix(rows, x);
    EXPECT_EQ(best.kind, BestFix::kX) << "A and B alone: X, as the map shows it";
    EXPECT_EQ(best.position.lat, x.crossing.x.lat);
    double east = 0, north = 0;  // the corners' farthest offsets, by GeographicLib
    for (GeoPosition corner : x.area.polygon) {
        double metres, azimuth, back;
        driveSphere().Inverse(x.crossing.x.lat * kRadToDeg, x.crossing.x.lon * kRadToDeg, corner.lat * kRadToDeg,
                         corner.lon * kRadToDeg, metres, azimuth, back);
        east = std::max(east, std::fabs(metres * std::sin(azimuth * kDegToRad)) / 1000);
        north = std::max(north, std::fabs(metres * std::cos(azimuth * kDegToRad)) / 1000);
    }
    EXPECT_NEAR(best.halfEastKm, east, 1e-6);
    EXPECT_NEAR(best.halfNorthKm, north, 1e-6);

    Bearing third;  // from the north, down the middle meridian
    third.station = "Hill";
    third.position = at(51, 8.5);
    third.bearingDeg = 180;
    third.toleranceDeg = 1;
    rows.rows.push_back(third);
    refit(rows);
    ASSERT_EQ(rows.fix.status, FixStatus::Found);
    best = bestFix(rows, x);
    EXPECT_EQ(best.kind, BestFix::kLog);
    EXPECT_EQ(best.position.lat, rows.fix.x.lat);
    ellipseReach(rows.fix.ellipse95, &east, &north);
    EXPECT_EQ(best.halfEastKm, east);

    rows.rows.back().enabled = false;  // the log not in use: X again
    refit(rows);
    EXPECT_EQ(bestFix(rows, x).kind, BestFix::kX);
    EXPECT_EQ(bestFix(rows, compute_fix({"N50 E8", "N50 E9", "45", "135"})).kind, BestFix::kNone);
}

}  // namespace
}  // namespace bearfix
