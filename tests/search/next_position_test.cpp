// Where to drive next, judged by the map itself: a noise-free bearing taken
// at the advised point leaves a smaller 95 % region than one taken where
// the hunter stands or at other points within the radius; with terrain, the
// advice keeps to what the map's centre sees.
#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geo/great_circle.h"
#include "search/next_position.h"
#include "search/viewshed.h"

namespace bearfix {
namespace {

const GeographicLib::Geodesic& sphere() {
    static const GeographicLib::Geodesic instance(kEarthRadiusKm * 1000.0, 0.0);
    return instance;
}

struct Place {
    double lat, lon;
};

Bearing towards(const Place& from, const Place& to, double tolerance) {
    double s12, azi1, azi2;
    sphere().Inverse(from.lat, from.lon, to.lat, to.lon, s12, azi1, azi2);
    Bearing b;
    b.position = {from.lon * kDegToRad, from.lat * kDegToRad};
    b.bearingDeg = reduce_bearing_degrees(azi1);
    b.toleranceDeg = tolerance;
    return b;
}

double areaAfter(std::vector<Bearing> bearings, const Place& at, const Place& tx) {
    bearings.push_back(towards(at, tx, 4.0));
    const Posterior p = computePosterior(bearings);
    return highestDensityRegion(p.grid, 0.95).areaKm2;
}

Place placeOf(GeoPosition p) { return {p.lat * kRadToDeg, p.lon * kRadToDeg}; }

// Two bearings from the south-west, 25 km off and 10 km apart: a long
// region. The hunter stands at the first station.
TEST(NextPosition, AdvisedBearingShrinksTheRegionMost) {
    const Place tx{50.3, 8.7}, hunter{50.14, 8.46};
    double lat, lon, azi;
    sphere().Direct(hunter.lat, hunter.lon, 135.0, 10000.0, lat, lon, azi);
    const std::vector<Bearing> bearings = {towards(hunter, tx, 4.0), towards({lat, lon}, tx, 4.0)};
    const Posterior p = computePosterior(bearings);
    const HdrRegion h95 = highestDensityRegion(p.grid, 0.95);
    const NextSuggestion s = suggestNextPosition(p, h95, bearings, {hunter.lon * kDegToRad, hunter.lat * kDegToRad});
    ASSERT_TRUE(s.found);
    EXPECT_LE(s.distanceKm, kDefaultDriveRadiusKm + 1e-9);
    EXPECT_LT(s.expectedAreaKm2, s.currentAreaKm2);
    const double advised = areaAfter(bearings, placeOf(s.point), tx);
    EXPECT_LT(advised, 0.8 * areaAfter(bearings, hunter, tx));
    int beaten = 0;
    for (double course = 0.0; course < 360.0; course += 45.0) {
        sphere().Direct(hunter.lat, hunter.lon, course, 4000.0, lat, lon, azi);
        beaten += advised < areaAfter(bearings, {lat, lon}, tx) * 1.02;
    }
    EXPECT_GE(beaten, 7) << "of 8 points 4 km round the hunter";

    // The map's centre sees only what lies north of the hunter's latitude.
    Viewshed view;
    view.station = p.mean;
    view.radiusKm = kMaxViewshedRadiusKm;
    view.columns = view.rows = 200;
    view.stepLonDeg = view.stepLatDeg = 0.01;
    view.west = hunter.lon - 1.0;
    view.north = hunter.lat + 1.0;
    for (int row = 0; row < view.rows; ++row)
        for (int column = 0; column < view.columns; ++column)
            view.visible.push_back(view.north - row * view.stepLatDeg > hunter.lat + 0.005);
    NextOptions options;
    options.centreView = &view;
    const NextSuggestion seen = suggestNextPosition(p, h95, bearings, {hunter.lon * kDegToRad, hunter.lat * kDegToRad}, options);
    ASSERT_TRUE(seen.found);
    EXPECT_GT(seen.point.lat * kRadToDeg, hunter.lat + 0.004);
}

}  // namespace
}  // namespace bearfix
