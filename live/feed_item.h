// What the bearing feeds make of one datagram or line.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fix/bearing.h"
#include "live/gps_fix.h"

namespace bearfix {

enum class FeedVerdict {
    Accepted,  // a bearing for the log
    Ignored,   // not meant as a bearing, or one that cannot be placed now
    Skipped,   // broken or out of range
};

struct FeedItem {
    FeedVerdict verdict = FeedVerdict::Skipped;
    Bearing bearing;
    std::string why;  // for Ignored and Skipped
    bool torn = false;  // skipped as caught half written: to be expected now and then
};

// What the feeds need from outside: the own position (for bearings without
// one, and for bearings relative to the course), the tolerance given to
// their bearings and the time of day for bearings that carry none.
struct FeedContext {
    const GpsFix* own = nullptr;  // nullptr or no position: no GPS fix
    double toleranceDeg = 5.0;
    int64_t nowUtc = 0;
    // With `fromConfidence`, a bearing that carries a confidence gets a
    // tolerance from it instead (see toleranceFor).
    struct ConfidenceScale {
        bool fromConfidence = false;
        double atZero = 15.0;      // degrees at confidence 0
        double atHundred = 3.0;    // and at 100
    } scale;
};

// The tolerance a fed bearing gets: with the scale on and a confidence
// given, from the straight line between (0, atZero) and (100, atHundred),
// the confidence taken within 0..100; else toleranceDeg. Always within
// kMinToleranceDeg..180.
double toleranceFor(const FeedContext& context, std::optional<double> confidence);

// Says a recurring event at most once a period: the first at once, the
// later ones counted together (periods and times in milliseconds).
class ThrottledCount {
public:
    explicit ThrottledCount(int64_t periodMs = 60000) : periodMs_(periodMs) {}
    // `total` events so far at `nowMs`: the number to say now, those since
    // the last one said; 0 when nothing is to be said yet.
    uint64_t due(uint64_t total, int64_t nowMs);
    bool saidBefore() const { return saidAt_.has_value(); }

private:
    int64_t periodMs_;
    uint64_t said_ = 0;
    std::optional<int64_t> saidAt_;
};

// A bearing in degrees, any whole turns taken off, as [0, 360).
inline double normalisedBearing(double degrees) {
    double b = std::fmod(degrees, 360.0);
    if (b < 0) b += 360.0;
    return b >= 360.0 ? 0.0 : b;
}

// A station name as a feed sends it (UTF-8, or Windows-1252 when it is not
// UTF-8), blanks at either end dropped; false with `why` for a control
// character or more than kMaxStationName characters.
bool feedStationName(std::string_view bytes, std::string& out, std::string& why);

// A decimal number as the whole text (blanks around it allowed, an exponent
// too); false for anything else and for what is not finite.
bool feedNumber(std::string_view text, double& out);

}  // namespace bearfix
