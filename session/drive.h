// Driving to the fix: which fix F and the read-out go to, how far the map
// zooms to show its 95 % region, when a map that follows the car moves on,
// and the read-out "Fix: 312°, 2.4 km". Toolkit-free; distances on the
// 6371 km sphere, offsets in the plane tangent at the fix (good to a few
// per mille within 100 km).
#pragma once

#include <string>

#include "fix/multi_fix.h"
#include "geo/fix_geometry.h"
#include "geo/position.h"
#include "session/bearing_rows.h"

namespace bearfix {

inline constexpr double kMinFrameRangeKm = 1.0;
inline constexpr double kMaxFrameRangeKm = 20000.0;

struct BestFix {
    enum Kind { kNone, kLog, kX };
    Kind kind = kNone;
    GeoPosition position;
    // Half the 95 % region's extent east-west and north-south (km); not
    // finite when the region is unbounded or unknown.
    double halfEastKm;
    double halfNorthKm;
};

// The bearing log's fix while the map draws the log (logShowsOnMap) and it
// has one, with its 95 % ellipse; else X of the observers with its search
// area; else none.
BestFix bestFix(const BearingRows& rows, const Fix& x);

// How far an ellipse reaches from its centre, east-west and north-south (km).
void ellipseReach(const ConfidenceEllipse& e, double* halfEastKm, double* halfNorthKm);

// The map's range (centre to the upper edge, km) at which a region of these
// half extents around the centre fills about half of a picture `aspect`
// (height / width) as wide as high; `keep` for an unbounded region. Within
// kMinFrameRangeKm..kMaxFrameRangeKm.
double frameRangeKm(double halfEastKm, double halfNorthKm, double aspect, double keep);

// A map that follows the car keeps it this far (a share of the picture's
// width and of its height) from every edge.
inline constexpr double kFollowMargin = 0.15;

// The range at which a point `eastKm` and `northKm` from the centre lies
// within the part of the picture where the car is kept.
double rangeToKeepKm(double eastKm, double northKm, double aspect);

// What F shows while the map follows the car: the centre halfway between
// the car and the fix, and the range at which both the car and the fix's
// region lie where the car is kept (and the region fills no more than about
// half of the picture, as without the car).
struct Frame {
    GeoPosition centre;
    double rangeKm;
};
Frame frameCarAndFix(GeoPosition own, const BestFix& fix, double aspect);

// Whether the car at pixel (x, y) of a picture this large is too near an
// edge, or off the picture (x or y not finite): the map then moves on.
bool nearEdge(double x, double y, double width, double height);

// The map's new centre: ahead of the car on its course by half the range
// (centre to the upper edge), so that the road ahead shows, or the car itself
// when it stands (`courseDeg` not finite).
GeoPosition followCentre(GeoPosition own, double courseDeg, double rangeKm);

// East and north of `to` seen from `from` (km).
void offsetKm(GeoPosition from, GeoPosition to, double* eastKm, double* northKm);

// Where the read-out points: the fix, and (once there is one) the next best
// point to take a bearing from.
struct DriveTarget {
    std::string name;  // "Fix"
    GeoPosition position;
};

// "Fix: 312\xB0, 2.4 km" (Windows-1252): the initial course from `own`, in
// whole degrees, and the distance: below 1 km in metres to 10 m ("850 m"),
// below 10 km to 0.1 km, else in whole km.
std::string driveReadout(GeoPosition own, const DriveTarget& target);

}  // namespace bearfix
