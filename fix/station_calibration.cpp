#include "fix/station_calibration.h"

#include <algorithm>
#include <cmath>

#include "geo/great_circle.h"

namespace bearfix {

namespace {

constexpr double kNearKm = 0.01;          // closer to the transmitter: no course to it
constexpr double kMaxSpreadDeg = 90.0;    // wider: the mean direction means nothing

}  // namespace

const char* calibrationStatusReason(CalibrationStatus status) {
    switch (status) {
        case CalibrationStatus::Done: return "";
        case CalibrationStatus::NoBearings: return "no bearings of that station on the transmitter";
        case CalibrationStatus::Scattered: return "the bearings scatter round the compass";
    }
    return "";
}

StationCalibration calibrateStation(std::span<const Bearing> bearings, std::string_view station, GeoPosition known) {
    StationCalibration c;
    double sumSin = 0.0, sumCos = 0.0;
    for (const Bearing& b : bearings) {
        if (!b.enabled || b.station != station || !std::isfinite(b.bearingDeg)) continue;
        double dist, course;
        gc_distance_course(b.position.lon, b.position.lat, known.lon, known.lat, &dist, &course);
        if (!(dist * kEarthRadiusKm >= kNearKm)) continue;
        const double difference = b.bearingDeg * kDegToRad - course;
        sumSin += std::sin(difference);
        sumCos += std::cos(difference);
        c.statedToleranceDeg = std::max(c.statedToleranceDeg, b.toleranceDeg);
        ++c.count;
    }
    if (c.count == 0) return c;
    const double meanLength = std::min(1.0, std::hypot(sumSin, sumCos) / c.count);
    c.spreadDeg = c.count == 1 ? 0.0 : std::sqrt(-2.0 * std::log(meanLength)) * kRadToDeg;
    if (!(c.spreadDeg <= kMaxSpreadDeg)) {
        c.status = CalibrationStatus::Scattered;
        return c;
    }
    c.status = CalibrationStatus::Done;
    c.offsetDeg = std::atan2(sumSin, sumCos) * kRadToDeg;
    if (c.offsetDeg <= -180.0) c.offsetDeg += 360.0;
    c.offsetDeg += 0.0;
    if (2.0 * c.spreadDeg > c.statedToleranceDeg) c.neededToleranceDeg = 2.0 * c.spreadDeg;
    return c;
}

}  // namespace bearfix
