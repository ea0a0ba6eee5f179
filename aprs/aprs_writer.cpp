#include "aprs/aprs_writer.h"

#include <cmath>
#include <cstdio>

#include "aprs/aprs_frequency.h"
#include "fix/bearing.h"

namespace bearfix {

namespace {

constexpr double kBeamWidthDeg[] = {0, 240, 120, 64, 32, 16, 8, 4, 2, 1};

// Degrees as DD(D)MM.hh and the hemisphere letter; hundredths of a minute
// rounded, so that 59.999' carries into the degrees.
std::string angleText(double deg, int width, char positive, char negative) {
    const long hundredths = std::lround(std::fabs(deg) * 6000.0);
    char text[48];
    std::snprintf(text, sizeof text, "%0*ld%02ld.%02ld%c", width, hundredths / 6000, hundredths % 6000 / 100,
                  hundredths % 100, deg < 0 && hundredths > 0 ? negative : positive);
    return text;
}

bool isCommentText(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E || c == '|' || c == '~') return false;
    return true;
}

bool goodPosition(double lat, double lon, std::string& why) {
    if (!(std::fabs(lat) <= 90.0) || !(std::fabs(lon) <= 180.0)) {
        why = "the position is beyond 90 degrees latitude or 180 degrees longitude";
        return false;
    }
    return true;
}

}  // namespace

int aprsQuality(double toleranceDeg) {
    const double beam = 2.0 * toleranceDeg;
    for (int q = 9; q >= 1; --q)
        if (beam <= kBeamWidthDeg[q]) return q;
    return 0;
}

int aprsRangeCode(double miles) {
    int r = 0;
    while (r < 9 && static_cast<double>(1 << r) < miles) ++r;
    return r;
}

std::string aprsLatitude(double latDeg) { return angleText(latDeg, 2, 'N', 'S'); }
std::string aprsLongitude(double lonDeg) { return angleText(lonDeg, 3, 'E', 'W'); }

bool dfReportInfo(const OwnDfReport& r, std::string& info, std::string& why) {
    if (!goodPosition(r.latDeg, r.lonDeg, why)) return false;
    if (!std::isfinite(r.bearingDeg)) {
        why = "the bearing is not a number";
        return false;
    }
    const int quality = aprsQuality(r.toleranceDeg);
    if (!(r.toleranceDeg >= 0) || quality == 0) {
        why = "a tolerance beyond +-120 degrees makes the report useless";
        return false;
    }
    if (r.hits < 1 || r.hits > 9) {
        why = "the number of hits is not 1..9";
        return false;
    }
    if ((r.courseDeg && (*r.courseDeg < 1 || *r.courseDeg > 360)) ||
        (r.speedKn && !(*r.speedKn >= 0 && *r.speedKn < 999.5))) {
        why = "the course is not 1..360 or the speed not 0..999 knots";
        return false;
    }
    std::string comment;
    if (r.freqMhz) {
        const std::optional<std::string> f = formatFrequency(*r.freqMhz);
        if (!f) {
            why = "the frequency has no APRS form (0..999.999 MHz or a lettered band)";
            return false;
        }
        comment = " " + *f;
    }
    if (!r.comment.empty()) comment += " " + r.comment;
    if (!isCommentText(r.comment) || comment.size() > kMaxDfComment) {
        why = "the comment holds more than " + std::to_string(kMaxDfComment) +
              " characters (with the frequency) or one that is not printable ASCII, | or ~";
        return false;
    }
    int bearing = static_cast<int>(std::lround(r.bearingDeg)) % 360;
    if (bearing <= 0) bearing += 360;
    char ext[64];
    std::snprintf(ext, sizeof ext, "%03d/%03ld/%03d/%d%d%d", r.courseDeg.value_or(0), std::lround(r.speedKn.value_or(0)),
                  bearing, r.hits, aprsRangeCode(r.rangeMi), quality);
    info = "=" + aprsLatitude(r.latDeg) + "/" + aprsLongitude(r.lonDeg) + "\\" + ext + comment;
    return true;
}

bool fixObjectInfo(std::string_view name, double latDeg, double lonDeg, int64_t utc, std::string_view comment,
                   bool killed, std::string& info, std::string& why, char symbolTable, char symbolCode) {
    if (!goodPosition(latDeg, lonDeg, why)) return false;
    if (name.empty() || name.size() > 9 || !isCommentText(name) || name.front() == ' ') {
        why = "an object's name is 1 to 9 printable ASCII characters (not | or ~), the first no blank";
        return false;
    }
    if (!isCommentText(comment) || comment.size() > kMaxObjectComment) {
        why = "the comment holds more than " + std::to_string(kMaxObjectComment) +
              " characters or one that is not printable ASCII, | or ~";
        return false;
    }
    const std::string time = formatUtc(utc);  // 2010-01-01T00:00:00Z
    if (time.empty()) {
        why = "the time is out of range";
        return false;
    }
    std::string padded(name);
    padded.resize(9, ' ');
    info = ";" + padded + (killed ? "_" : "*") + time.substr(8, 2) + time.substr(11, 2) + time.substr(14, 2) + "z" +
           aprsLatitude(latDeg) + symbolTable + aprsLongitude(lonDeg) + symbolCode + std::string(comment);
    return true;
}

Tnc2Packet ownPacket(std::string_view call, std::string_view path, std::string info) {
    Tnc2Packet p;
    p.source = std::string(call);
    p.destination = kAprsDestination;
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = path.find(',', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) p.path.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    p.info = std::move(info);
    return p;
}

}  // namespace bearfix
