#include "live/gps_fix.h"

#include <charconv>

#include "fix/bearing.h"

namespace bearfix {

namespace {

// A number with `decimals` places and '.', whatever the locale.
std::string fixed(double value, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("?");
}

std::string orUnknown(double value, int decimals, const char* unknown) {
    return std::isfinite(value) ? fixed(value, decimals) : std::string(unknown);
}

bool within(double v, double low, double high) { return std::isfinite(v) && v >= low && v <= high; }

}  // namespace

GpsFix sanitisedFix(GpsFix f) {
    if (!within(f.latDeg, -90, 90) || !within(f.lonDeg, -180, 180)) f.latDeg = f.lonDeg = NAN;
    if (!within(f.altMslM, -20000, 100000)) f.altMslM = NAN;
    if (!within(f.speedKmh, 0, 50000)) f.speedKmh = NAN;
    if (!within(f.courseDeg, 0, 360)) f.courseDeg = NAN;
    if (f.courseDeg == 360) f.courseDeg = 0;
    if (f.satellites < 0 || f.satellites > 255) f.satellites = -1;
    if (!within(f.hdop, 0, 100)) f.hdop = NAN;
    if (f.utc && (*f.utc < 0 || *f.utc > kMaxUtcSeconds)) f.utc.reset();
    const int mode = static_cast<int>(f.mode);
    if (mode < 0 || mode > 3) f.mode = GpsMode::NotSeen;
    if (!std::isfinite(f.latDeg) && (f.mode == GpsMode::Fix2D || f.mode == GpsMode::Fix3D)) f.mode = GpsMode::NoFix;
    return f;
}

std::string gpsTimeText(const std::optional<int64_t>& utc) {
    if (!utc) return {};
    std::string t = formatUtc(*utc);  // 2024-05-18T09:00:13Z
    if (t.size() != 20) return {};
    t[10] = ' ';
    t.pop_back();
    return t;
}

std::string gpsFixLine(const GpsFix& f) {
    std::string line = f.utc ? gpsTimeText(f.utc) : std::string("no time");
    line += "  ";
    line += f.hasPosition() ? format_position(f.position(), PosFormat::Dms) : std::string("no fix");
    line += "  " + orUnknown(f.altMslM, 0, "?") + " m ASL";
    line += "  " + orUnknown(f.speedKmh, 1, "?") + " km/h";
    line += "  course " + orUnknown(f.courseDeg, 1, "?");
    line += "  " + (f.satellites >= 0 ? std::to_string(f.satellites) : std::string("?")) + " sats";
    line += "  HDOP=" + orUnknown(f.hdop, 1, "?");
    return line;
}

std::string gpsFixJson(const GpsFix& f) {
    const bool pos = f.hasPosition();
    std::string j = "{\"lat\": " + (pos ? fixed(f.latDeg, 7) : "null");
    j += ", \"lon\": " + (pos ? fixed(f.lonDeg, 7) : "null");
    j += ", \"alt_m\": " + orUnknown(f.altMslM, 1, "null");
    j += ", \"speed_kmh\": " + orUnknown(f.speedKmh, 2, "null");
    j += ", \"course_deg\": " + orUnknown(f.courseDeg, 1, "null");
    j += ", \"time\": " + (f.utc ? "\"" + formatUtc(*f.utc) + "\"" : std::string("null"));
    j += ", \"sats\": " + (f.satellites >= 0 ? std::to_string(f.satellites) : std::string("null"));
    return j + "}";
}

std::string gpsTrackCommand(const GpsFix& f) {
    if (!f.hasPosition()) return {};
    // The track store keeps 1/360000 degree: seven places lose nothing.
    std::string c = "addpoint lat=" + fixed(f.latDeg, 7) + " lon=" + fixed(f.lonDeg, 7);
    if (std::isfinite(f.altMslM)) c += " masl=" + fixed(f.altMslM, 1);
    if (std::isfinite(f.speedKmh)) c += " kmh=" + fixed(f.speedKmh, 2);
    if (f.utc) c += " udts=" + std::to_string(*f.utc);
    if (std::isfinite(f.hdop)) c += " hdop=" + fixed(f.hdop, 2);
    if (f.satellites >= 0) c += " nsats=" + std::to_string(f.satellites);
    return c;
}

}  // namespace bearfix
