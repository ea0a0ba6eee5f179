// One bearing of the bearing log: who took it, when, where, which way, how
// sure, and where it came from.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "geo/bearing_reference.h"
#include "geo/position.h"

namespace bearfix {

// Stored in the log file by name (bearingSourceName).
enum class BearingSource : int { Typed = 0, Remote = 1, Udp = 2, Receiver = 3 };

inline constexpr std::size_t kMaxStationName = 63;     // characters
inline constexpr double kDefaultToleranceDeg = 1.0;    // as the observer fields start
inline constexpr double kMinToleranceDeg = 0.1;        // finer is no real bearing
inline constexpr int64_t kMaxUtcSeconds = 253402300799;  // 9999-12-31 23:59:59

struct Bearing {
    std::string station;            // Windows-1252, at most kMaxStationName characters
    std::optional<int64_t> utc;     // seconds since 1970-01-01 00:00 UTC
    GeoPosition position;           // radians
    double bearingDeg = 0.0;        // true, [0, 360): as taken plus correctionDeg
    double toleranceDeg = kDefaultToleranceDeg;  // +-, read as two standard deviations
    BearingSource source = BearingSource::Typed;
    bool enabled = true;
    BearingReference reference = BearingReference::True;  // what it was taken against
    // Degrees added to the bearing as taken to make it true: the declination
    // (magnetic), the heading (relative), less a calibrated station's offset.
    double correctionDeg = 0.0;
};

// The bearing as taken, in its own reference: the true bearing less the
// correction, [0, 360).
double bearingAsTakenDeg(const Bearing& bearing);

// Sets the true bearing from the bearing as taken and its correction.
void setBearingAsTaken(Bearing& bearing, double asTakenDeg, BearingReference reference, double correctionDeg);

// The declination (degrees east of true north) at a bearing's station and
// time, or nothing with `why` when there is none to be trusted.
using DeclinationSource = std::function<std::optional<double>(const Bearing& bearing, std::string& why)>;

// The standard deviation of a bearing in degrees: half its tolerance, and
// never below half of kMinToleranceDeg.
inline double bearingSigmaDeg(double toleranceDeg) { return std::max(toleranceDeg, kMinToleranceDeg) / 2.0; }

// Whether `name` (Windows-1252) can name a station: no control characters,
// at most kMaxStationName characters; `why` says what is wrong when not.
bool isStationName(std::string_view name, std::string& why);

// "typed", "remote", "udp", "receiver".
const char* bearingSourceName(BearingSource source);
// The source of a name of bearingSourceName; nothing for any other text.
std::optional<BearingSource> bearingSourceFromName(std::string_view name);

// A time of day as "2010-01-01T00:00:00Z".
std::string formatUtc(int64_t seconds);
// "2010-01-01T00:00:00Z" ('T' or one blank between date and time, the 'Z'
// optional) or whole seconds since 1970 ("1262304000"); 1970 to 9999, every
// field in its range. Nothing for anything else.
std::optional<int64_t> parseUtc(std::string_view text);

}  // namespace bearfix
