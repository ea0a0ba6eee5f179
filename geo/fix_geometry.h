// What the fix is worth beyond the point X: the region where the two
// tolerance sectors overlap (the search area), the angle at which the bearing
// lines cross, and the crossings of the back bearings when an antenna cannot
// tell front from back.
//
// On the sphere of radius 6371 km; angles in radians, courses clockwise from
// true north, positions longitude first.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "geo/bearing_reference.h"
#include "geo/great_circle.h"
#include "geo/position.h"

namespace bearfix {

// An overlap reaching farther than this from X is reported as unbounded.
inline constexpr double kUnboundedSearchKm = 5000.0;

struct SearchArea {
    enum Kind { kNone, kBounded, kUnbounded };
    Kind kind = kNone;  // kNone: no X, nothing to overlap around
    double area_km2 = 0.0;
    double size_km = 0.0;  // the longest distance between two of its points
    // Bounded only: the corners in order, counter-clockwise seen from above;
    // the edges between them are great-circle arcs. One corner when both
    // tolerances are 0 (the point X), the two ends of a piece of line when
    // one of them is.
    std::vector<GeoPosition> polygon;
};

// The overlap of sector A (every point whose course from A lies within
// bearingA +- toleranceA) and sector B around their crossing x. The sign of a
// tolerance is ignored; a tolerance of 90 degrees or more, or one that is not
// finite, makes the area unbounded.
SearchArea search_area(GeoPosition x, GeoPosition a, double bearingA, double toleranceA, GeoPosition b,
                       double bearingB, double toleranceB);

// The angle at x between the bearing lines of A and B, each followed forward
// from its observer: 0..pi. Near 0 the lines run almost side by side, near
// pi almost head-on; either way a small bearing error moves x far.
double crossing_angle(GeoPosition x, GeoPosition a, double bearingA, GeoPosition b, double bearingB);

// Below 20 or above 160 degrees.
bool is_shallow_crossing(double angle);

struct BackBearingCrossing {
    const char* combination;  // "A+180/B", "A/B+180" or "A+180/B+180"
    const char* label;        // "A+180 x B" with the multiplication sign (Windows-1252)
    GeoPosition x;
};

// The crossings, by the rule of bearing_intersection, of the bearing
// combinations that the ambiguity switches allow besides the typed one, in
// the order above; combinations whose lines do not meet are left out.
std::vector<BackBearingCrossing> back_bearing_crossings(GeoPosition a, double bearingA, bool ambiguityA,
                                                        GeoPosition b, double bearingB, bool ambiguityB);

// The observer fields as typed (Windows-1252).
struct FixTexts {
    std::string pos1;   // position of A
    std::string pos2;   // position of B
    std::string brg1x;  // bearing from A, degrees
    std::string brg2x;  // bearing from B, degrees
    std::string tol1 = "1";  // tolerances, degrees
    std::string tol2 = "1";
    bool ambiguity1 = false;
    bool ambiguity2 = false;
    // What each bearing is taken against, and the degrees that make it true
    // (the declination, the heading): 0 for a true bearing.
    BearingReference reference1 = BearingReference::True;
    BearingReference reference2 = BearingReference::True;
    double correction1 = 0.0;
    double correction2 = 0.0;
    bool operator==(const FixTexts&) const = default;
};

struct Fix {
    GeoPosition observerA;  // a component the text lacks is 0
    GeoPosition observerB;
    // False when the text is no position (read_position): nothing is
    // computed from that observer.
    bool validA = true;
    bool validB = true;
    // False when a bearing field is empty: nothing below is computed.
    bool computed = false;
    IntersectionResult crossing;  // status 1 also when an observer is not a position
    double crossingAngle = 0.0;   // with X only
    SearchArea area;              // kNone without X
    std::vector<BackBearingCrossing> alternatives;
};

// A bearing field as compute_fix reads it, made true by `correctionDeg`:
// degrees with whole turns taken off.
double read_bearing_degrees(std::string_view text, double correctionDeg);

// A tolerance field as the sector drawing reads it, in radians.
double read_tolerance(std::string_view text);

// Everything above from the fields, read as the window reads them: bearings
// with whole turns taken off.
Fix compute_fix(const FixTexts& in);

}  // namespace bearfix
