// From the observer fields to the result fields: what the window shows after
// every edit, and what `bearfix-cli fix` prints. Texts are Windows-1252.
#pragma once

#include <string>
#include <vector>

#include "geo/fix_geometry.h"
#include "geo/great_circle.h"
#include "geo/position.h"
#include "geo/position_patterns.h"

namespace bearfix {

// Positions, bearings, tolerances (default 1 degree) and ambiguity switches.
using ObserverTexts = FixTexts;

struct Results {
    GeoPosition observerA;  // a component the text lacks is 0
    GeoPosition observerB;
    // False when the text is no position (read_position): the info text
    // then says "not a position" and nothing is computed from it.
    bool validA = true;
    bool validB = true;
    std::string infoA;  // nearest-place texts
    std::string infoB;

    // False when a bearing field is empty: the fields below are not computed
    // and the window keeps what it shows.
    bool computed = false;
    IntersectionResult fix;   // status 0: X exists
    std::string locationX;    // "no intersection found" without X
    std::string locationInfo;
    // The texts below stay empty when an observer is not a position.
    std::string distanceAB;   // "123.4 km"
    std::string bearingAB;    // "72.5 °"
    std::string bearingBA;

    // With X only (empty otherwise).
    double crossingAngle = 0.0;  // radians
    SearchArea area;
    std::string distanceAX;     // "213 km"
    std::string distanceBX;
    std::string crossingAngleText;  // "35.2 °"
    std::string searchArea;     // "12.3 km², 5.40 km across" or "unbounded"
    std::string warning;        // "shallow crossing" or empty
    // Where the back bearings cross, when the ambiguity switches allow them:
    // "X' A+180 × B: N50°.. E008°.., 12 km SE of Ashford".
    std::vector<BackBearingCrossing> alternatives;
    std::vector<std::string> alternativeLines;
};

// Positions in the results (X and the back-bearing crossings) are written
// in the form `shown`; the two DMS choices give the Dms form.
Results computeResults(const ObserverTexts& in, PosFormat shown = PosFormat::Dms);

// About four significant figures: 12346, 100.0, 10.00, 1.000, 0.500.
std::string formatDistance(double km);

// A bearing in degrees as the result fields show it: "72.5 °", "360 °".
std::string formatBearing(double degrees);

// An area with its size: "12.3 km², 5.40 km across" or "unbounded"; empty
// when there is none.
std::string formatSearchArea(const SearchArea& area);

}  // namespace bearfix
