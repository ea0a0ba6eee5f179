// A station's systematic error (the array's mounting, multipath at a fixed
// site), found from its bearings on a transmitter whose position is known:
// the offset, the circular mean of bearing - true course; its spread, the
// circular standard deviation sqrt(-2 ln R) of the same differences (R the
// length of their mean unit vector); and the tolerance the station's
// bearings should carry when that spread is more than their stated
// tolerance allows (the fix reads a tolerance as two standard deviations).
//
// The true course is the great circle's on the 6371 km sphere, as the fix
// reads bearings; the bearings are the true ones the fix uses (after
// declination, heading and any earlier calibration), so the offset is what
// is still wrong. Subtracting it (a correction of -offset) calibrates the
// station.
#pragma once

#include <span>
#include <string_view>

#include "fix/bearing.h"
#include "geo/position.h"

namespace bearfix {

enum class CalibrationStatus {
    Done,
    NoBearings,  // no enabled bearing of that station away from the transmitter
    Scattered,   // the differences spread round the compass (more than 90 degrees): no offset
};

// Why there is no offset ("no bearings of that station", ...); empty for Done.
const char* calibrationStatusReason(CalibrationStatus status);

struct StationCalibration {
    CalibrationStatus status = CalibrationStatus::NoBearings;
    int count = 0;              // bearings that took part
    double offsetDeg = 0.0;     // (-180, 180]
    double spreadDeg = 0.0;     // one standard deviation; 0 for a single bearing
    double statedToleranceDeg = 0.0;  // the largest tolerance the bearings carry
    // Twice the spread, when that is more than the stated tolerance; 0 when
    // the stated tolerance will do.
    double neededToleranceDeg = 0.0;
};

// From the enabled bearings of `station` (by name) among `bearings` on the
// transmitter at `known`; bearings within 10 m of it are passed over.
StationCalibration calibrateStation(std::span<const Bearing> bearings, std::string_view station, GeoPosition known);

}  // namespace bearfix
