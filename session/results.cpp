#include "session/results.h"

#include "cities/cities.h"
#include "support/number_format.h"

namespace bearfix {

namespace {
const char* const kNotAPosition = "not a position";
}  // namespace

std::string formatDistance(double km) {
    std::string prefix;
    if (km < 0) {
        prefix = "-";
        km = -km;
    }
    const char* pattern = km > 100 ? "####0" : km > 10 ? "###0.0" : km > 1 ? "##0.00" : "#0.000";
    return prefix + formatPicture(km, pattern);
}

std::string formatBearing(double degrees) { return formatPicture(degrees, "##0.# '\xB0'"); }

std::string formatSearchArea(const SearchArea& area) {
    switch (area.kind) {
        case SearchArea::kBounded:
            return formatDistance(area.area_km2) + " km\xB2, " + formatDistance(area.size_km) + " km across";
        case SearchArea::kUnbounded:
            return "unbounded";
        default:
            return "";
    }
}

Results computeResults(const ObserverTexts& in, PosFormat shown) {
    Results r;
    const Fix fix = compute_fix(in);
    r.observerA = fix.observerA;
    r.observerB = fix.observerB;
    r.validA = fix.validA;
    r.validB = fix.validB;
    r.infoA = r.validA ? describe_near_city(r.observerA.lon, r.observerA.lat) : kNotAPosition;
    r.infoB = r.validB ? describe_near_city(r.observerB.lon, r.observerB.lat) : kNotAPosition;
    if (!fix.computed) return r;

    r.computed = true;
    r.fix = fix.crossing;
    r.locationX = "no intersection found";
    if (!r.validA || !r.validB) return r;
    if (r.fix.status == 0) {
        r.locationX = display_position(r.fix.x, shown);
        r.locationInfo = describe_near_city(r.fix.x.lon, r.fix.x.lat);
        r.crossingAngle = fix.crossingAngle;
        r.area = fix.area;
        r.distanceAX = formatDistance(r.fix.dist_ax * kEarthRadiusKm) + " km";
        r.distanceBX = formatDistance(r.fix.dist_bx * kEarthRadiusKm) + " km";
        r.crossingAngleText = formatPicture(r.crossingAngle * kRadToDeg, "##0.0 '\xB0'");
        r.searchArea = formatSearchArea(r.area);
        if (is_shallow_crossing(r.crossingAngle)) r.warning = "shallow crossing";
    }
    r.distanceAB = formatDistance(r.fix.dist_ab * kEarthRadiusKm) + " km";
    r.bearingAB = formatBearing(r.fix.course_ab * kRadToDeg);
    r.bearingBA = formatBearing(r.fix.course_ba * kRadToDeg);
    r.alternatives = fix.alternatives;
    for (const BackBearingCrossing& c : r.alternatives) {
        std::string line = std::string("X' ") + c.label + ": " + display_position(c.x, shown);
        const std::string place = describe_near_city(c.x.lon, c.x.lat);
        if (!place.empty()) line += ", " + place;
        r.alternativeLines.push_back(line);
    }
    return r;
}

}  // namespace bearfix
