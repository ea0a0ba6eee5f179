// One report of the own position as gpsd gives it, and its text forms: the
// window's fields, the command line's lines and JSON, and the track command
// that stores it.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "geo/position.h"

namespace bearfix {

enum class GpsMode : int { NotSeen = 0, NoFix = 1, Fix2D = 2, Fix3D = 3 };

struct GpsFix {
    GpsMode mode = GpsMode::NotSeen;
    double latDeg = NAN;  // north positive
    double lonDeg = NAN;  // east positive
    double altMslM = NAN;     // metres above mean sea level
    double speedKmh = NAN;    // over ground
    double courseDeg = NAN;   // over ground, true, [0, 360)
    std::optional<int64_t> utc;  // whole seconds since 1970
    int satellites = -1;  // in use; -1 unknown
    double hdop = NAN;

    bool hasPosition() const {
        return (mode == GpsMode::Fix2D || mode == GpsMode::Fix3D) && std::isfinite(latDeg) && std::isfinite(lonDeg);
    }
    GeoPosition position() const { return {lonDeg * kDegToRad, latDeg * kDegToRad}; }
};

// The fix with every value that no receiver can report made unknown (NaN, -1
// or nothing): latitude beyond +-90, longitude beyond +-180, altitude beyond
// -20000..100000 m, speed below 0 or above 50000 km/h, course outside
// 0..360 (360 becomes 0), satellites beyond 0..255, HDOP below 0 or above 100,
// a time outside 1970..9999. Without latitude and longitude the mode is at
// most NoFix.
GpsFix sanitisedFix(GpsFix fix);

// "2024-05-18 09:00:13" (UTC), empty without a time.
std::string gpsTimeText(const std::optional<int64_t>& utc);

// The command line's line: time, position (Dms), altitude, speed, course,
// satellites, HDOP, with "?" for what is unknown; Windows-1252.
std::string gpsFixLine(const GpsFix& fix);

// {"lat": 52.1, "lon": 8.4, "alt_m": 120, "speed_kmh": 36, "course_deg": 215,
//  "time": "2024-05-18T09:00:13Z", "sats": 7}; null for what is unknown.
std::string gpsFixJson(const GpsFix& fix);

// The text after "track " that appends the fix to the track store as the
// remote command does ("addpoint lat=.. lon=.. masl=.. kmh=.. udts=..
// hdop=.. nsats=.."); empty without a position.
std::string gpsTrackCommand(const GpsFix& fix);

}  // namespace bearfix
