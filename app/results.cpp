#include "app/results.h"

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

Results computeResults(const ObserverTexts& in) {
    Results r;
    bool infiniteA = false, infiniteB = false;
    scan_position(in.pos1, nullptr, r.observerA, &infiniteA);
    scan_position(in.pos2, nullptr, r.observerB, &infiniteB);
    r.validA = !infiniteA;
    r.validB = !infiniteB;
    r.infoA = r.validA ? describe_near_city(r.observerA.lon, r.observerA.lat) : kNotAPosition;
    r.infoB = r.validB ? describe_near_city(r.observerB.lon, r.observerB.lat) : kNotAPosition;
    if (in.brg1x.empty() || in.brg2x.empty()) return r;

    r.computed = true;
    r.locationX = "no intersection found";
    if (!r.validA || !r.validB) {
        r.fix.status = 1;
        return r;
    }
    // Whole turns are taken off in degrees, where it is exact.
    const double brg1 = reduce_bearing_degrees(scan_decimal(in.brg1x)) * kDegToRad;
    const double brg2 = reduce_bearing_degrees(scan_decimal(in.brg2x)) * kDegToRad;
    bearing_intersection(r.fix, r.observerA.lon, r.observerA.lat, brg1, r.observerB.lon, r.observerB.lat, brg2);
    if (r.fix.status == 0) {
        r.locationX = format_position(r.fix.x, PosFormat::Dms);
        r.locationInfo = describe_near_city(r.fix.x.lon, r.fix.x.lat);
    }
    r.distanceAB = formatDistance(r.fix.dist_ab * kEarthRadiusKm) + " km";
    r.bearingAB = formatBearing(r.fix.course_ab * kRadToDeg);
    r.bearingBA = formatBearing(r.fix.course_ba * kRadToDeg);
    return r;
}

}  // namespace bearfix
