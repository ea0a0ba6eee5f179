// The shapes of an export as lists of longitude/latitude in degrees: curves
// cut into points close enough that any viewer drawing straight lines between
// them shows them true, and shapes cut at the antimeridian so that each piece
// keeps its longitudes within -180..180.
#pragma once

#include <limits>
#include <vector>

#include "geo/position.h"

namespace bearfix {

struct LonLat {
    double lon = 0.0;                                       // degrees, east positive
    double lat = 0.0;                                       // degrees, north positive
    double ele = std::numeric_limits<double>::quiet_NaN();  // metres; NaN where unknown
};
// A polygon's outline without the closing repeat of its first point.
using Ring = std::vector<LonLat>;

// At most this many points stand on one edge of a shape.
inline constexpr int kMaxEdgePoints = 500;

// Into how many pieces an edge of `km` that turns through `degrees` is cut:
// a point every kilometre or every degree, whichever gives more, at most
// kMaxEdgePoints; at least 1.
int edgeSteps(double km, double degrees);

// A position in degrees, the longitude taken into -180..180.
LonLat toDegrees(GeoPosition p);

// The bearing line from `origin` along `bearing` (radians) for `length`
// (radians of arc).
std::vector<LonLat> bearingLine(GeoPosition origin, double bearing, double length);

// The sector of the points within `length` of `origin` whose course from it
// lies within bearing +- half (radians; half below pi/2).
Ring sectorRing(GeoPosition origin, double bearing, double half, double length);

// The ellipse round `centre` with semi-axes in km, its major axis at
// `orientationDeg` true, laid on the sphere by distance and course from the
// centre.
Ring ellipseRing(GeoPosition centre, double semiMajorKm, double semiMinorKm, double orientationDeg);

// The polygon whose corners are joined by great-circle arcs.
Ring greatCirclePolygon(const std::vector<GeoPosition>& corners);

// Twice the area in square degrees, positive counter-clockwise (east right,
// north up).
double signedArea2(const Ring& ring);

// A line as pieces within -180..180 that end and start again at the
// antimeridian where it crosses it (by the shorter way between two points);
// elevations are carried along.
std::vector<std::vector<LonLat>> splitLineAtAntimeridian(const std::vector<LonLat>& line);

// A polygon as counter-clockwise pieces within -180..180, cut at the
// antimeridian; a polygon that goes round a pole is closed along the pole
// on the side of its mean latitude. Its edges must be short (densified).
std::vector<Ring> splitPolygonAtAntimeridian(const Ring& ring);

}  // namespace bearfix
