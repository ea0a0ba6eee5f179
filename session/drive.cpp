#include "session/drive.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "geo/great_circle.h"

namespace bearfix {

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

std::string fixed(double value, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

}  // namespace

void offsetKm(GeoPosition from, GeoPosition to, double* eastKm, double* northKm) {
    double dist, course;
    gc_distance_course(from.lon, from.lat, to.lon, to.lat, &dist, &course);
    *eastKm = dist * std::sin(course) * kEarthRadiusKm;
    *northKm = dist * std::cos(course) * kEarthRadiusKm;
}

void ellipseReach(const ConfidenceEllipse& e, double* halfEastKm, double* halfNorthKm) {
    const double theta = e.orientationDeg * kDegToRad, s = std::sin(theta), c = std::cos(theta);
    *halfEastKm = std::hypot(e.semiMajorKm * s, e.semiMinorKm * c);
    *halfNorthKm = std::hypot(e.semiMajorKm * c, e.semiMinorKm * s);
}

BestFix bestFix(const BearingRows& rows, const Fix& x) {
    BestFix best{BestFix::kNone, {}, kNone, kNone};
    if (logShowsOnMap(rows) && rows.fix.status == FixStatus::Found) {
        best.kind = BestFix::kLog;
        best.position = rows.fix.x;
        if (rows.fix.ellipse95.semiMajorKm <= kUnboundedSearchKm)
            ellipseReach(rows.fix.ellipse95, &best.halfEastKm, &best.halfNorthKm);
        return best;
    }
    if (!x.computed || x.crossing.status != 0) return best;
    best.kind = BestFix::kX;
    best.position = x.crossing.x;
    if (x.area.kind == SearchArea::kBounded) {
        best.halfEastKm = best.halfNorthKm = 0.0;  // the farthest corner each way
        for (GeoPosition corner : x.area.polygon) {
            double east, north;
            offsetKm(best.position, corner, &east, &north);
            best.halfEastKm = std::max(best.halfEastKm, std::fabs(east));
            best.halfNorthKm = std::max(best.halfNorthKm, std::fabs(north));
        }
    }
    return best;
}

double frameRangeKm(double halfEastKm, double halfNorthKm, double aspect, double keep) {
    if (!std::isfinite(halfEastKm) || !std::isfinite(halfNorthKm)) return keep;
    return std::clamp(2.0 * std::max(halfEastKm * aspect, halfNorthKm), kMinFrameRangeKm, kMaxFrameRangeKm);
}

double rangeToKeepKm(double eastKm, double northKm, double aspect) {
    constexpr double kSlack = 1.05;  // the map's scale is true at its centre only
    const double range = std::max(std::fabs(northKm), std::fabs(eastKm) * aspect) / (1.0 - 2.0 * kFollowMargin);
    return std::clamp(range * kSlack, kMinFrameRangeKm, kMaxFrameRangeKm);
}

Frame frameCarAndFix(GeoPosition own, const BestFix& fix, double aspect) {
    double dist, course;
    gc_distance_course(own.lon, own.lat, fix.position.lon, fix.position.lat, &dist, &course);
    Frame frame;
    gc_destination(own.lon, own.lat, dist / 2, course, &frame.centre.lon, &frame.centre.lat);
    const double halfEast = std::isfinite(fix.halfEastKm) ? fix.halfEastKm : 0.0;
    const double halfNorth = std::isfinite(fix.halfNorthKm) ? fix.halfNorthKm : 0.0;
    // Seen from the centre, car and fix lie half the way off, on either side.
    const double east = std::fabs(dist * std::sin(course)) * kEarthRadiusKm / 2;
    const double north = std::fabs(dist * std::cos(course)) * kEarthRadiusKm / 2;
    frame.rangeKm = std::max(rangeToKeepKm(east + halfEast, north + halfNorth, aspect),
                             frameRangeKm(halfEast, halfNorth, aspect, kMinFrameRangeKm));
    return frame;
}

bool nearEdge(double x, double y, double width, double height) {
    return !(x >= kFollowMargin * width && x <= (1.0 - kFollowMargin) * width && y >= kFollowMargin * height &&
             y <= (1.0 - kFollowMargin) * height);
}

GeoPosition followCentre(GeoPosition own, double courseDeg, double rangeKm) {
    if (!std::isfinite(courseDeg) || !std::isfinite(rangeKm)) return own;
    GeoPosition ahead;
    gc_destination(own.lon, own.lat, 0.5 * rangeKm / kEarthRadiusKm, courseDeg * kDegToRad, &ahead.lon, &ahead.lat);
    return ahead;
}

std::string driveReadout(GeoPosition own, const DriveTarget& target) {
    double dist, course;
    gc_distance_course(own.lon, own.lat, target.position.lon, target.position.lat, &dist, &course);
    const long long degrees = std::llround(course * kRadToDeg) % 360;
    const double km = dist * kEarthRadiusKm;
    std::string distance;
    if (const long long metres = std::llround(km * 100.0) * 10; metres < 1000) {
        distance = std::to_string(metres) + " m";
    } else if (std::round(km * 10.0) < 100.0) {
        distance = fixed(km, 1) + " km";
    } else {
        distance = std::to_string(std::llround(km)) + " km";
    }
    return target.name + ": " + std::to_string(degrees) + "\xB0, " + distance;
}

}  // namespace bearfix
