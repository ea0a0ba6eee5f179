#include "fix/bearing_command.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "geo/great_circle.h"
#include "support/message_log.h"
#include "support/text_scanner.h"

namespace bearfix {

namespace {

// A quoted name (no quote inside) or one word; false with `why`.
bool readStation(const char*& c, std::string& name, std::string& why) {
    name.clear();
    if (*c == '"') {
        const char* end = std::strchr(c + 1, '"');
        if (!end) {
            why = "the station name's quote is not closed";
            return false;
        }
        name.assign(c + 1, end);
        c = end + 1;
    } else {
        const char* start = c;
        while (*c != '\0' && *c != ' ' && *c != '\t') ++c;
        name.assign(start, c);
    }
    return isStationName(name, why);
}

}  // namespace

std::optional<Bearing> parseBearingAdd(const char* text, std::string* whyNot) {
    std::string why;
    const auto refuse = [&](std::string reason) {
        if (whyNot) *whyNot = std::move(reason);
        return std::nullopt;
    };
    if (std::strncmp(text, "add", 3) != 0 || (text[3] != '\0' && text[3] != ' ' && text[3] != '\t'))
        return refuse("not an add command");
    std::string line(text + 3);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();

    static const char kKeys[] = "station=\0lat=\0lon=\0brg=\0tol=\0udts=\0";
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    Bearing b;
    b.station = "remote";
    b.source = BearingSource::Remote;
    double lat = kNone, lon = kNone, brg = kNone, tol = kDefaultToleranceDeg, udts = kNone;
    double* const values[] = {nullptr, &lat, &lon, &brg, &tol, &udts};
    static const char* const kNames[] = {"station=", "lat=", "lon=", "brg=", "tol=", "udts="};
    const char* c = line.c_str();
    while (skipBlanks(c) > 0 && *c != '\0') {
        const char* at = c;
        const int key = matchKeyword(c, kKeys);
        if (key < 0) {
            std::string token(at, std::strcspn(at, " \t"));
            if (token.size() > 20) token = token.substr(0, 20) + "...";
            return refuse("unknown key at \"" + token + "\"");
        }
        if (key == 0) {
            if (!readStation(c, b.station, why)) return refuse(why);
            continue;
        }
        *values[key] = parseDouble(c, kNone);
        if (std::isnan(*values[key])) return refuse(std::string(kNames[key]) + " has no number");
    }
    if (*c != '\0') {
        std::string token(c, std::strcspn(c, " \t"));
        if (token.size() > 20) token = token.substr(0, 20) + "...";
        return refuse("no blank before \"" + token + "\"");
    }
    if (!(std::fabs(lat) <= 90.0)) return refuse("lat= is missing or not in -90..90");
    if (!(std::fabs(lon) <= 180.0)) return refuse("lon= is missing or not in -180..180");
    if (!std::isfinite(brg)) return refuse("brg= is missing or not a number");
    if (!(tol >= 0.0 && tol <= 180.0)) return refuse("tol= is not in 0..180");
    if (!std::isnan(udts)) {
        if (!(udts >= 0.0 && udts <= static_cast<double>(kMaxUtcSeconds))) return refuse("udts= is not a time");
        b.utc = static_cast<int64_t>(std::floor(udts));
    }
    b.position = {lon * kDegToRad, lat * kDegToRad};
    b.bearingDeg = reduce_bearing_degrees(brg);
    b.toleranceDeg = tol + 0.0;
    return b;
}

bool runBearingCommand(const char* text, const std::function<void(Bearing)>& add) {
    if (std::strncmp(text, "add", 3) != 0) return false;
    std::string why;
    std::optional<Bearing> bearing = parseBearingAdd(text, &why);
    if (!bearing) {
        logMessage(MessageLevel::Warning, "Warning: bearing not added: %s", why.c_str());
        return false;
    }
    if (!add) return false;
    add(std::move(*bearing));
    return true;
}

}  // namespace bearfix
