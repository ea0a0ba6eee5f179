#include "aprs/aprs_report.h"

#include <cmath>

#include "aprs/aprs_frequency.h"
#include "aprs/aprs_position.h"

namespace bearfix {

namespace {

// Third-party traffic inside third-party traffic is rare; deeper is junk.
constexpr int kMaxThirdPartyDepth = 2;
// The position of a report that starts with no known data type may follow
// a '!' within the first 40 bytes (APRS101 ch. 5, the X1J TNC's header).
constexpr std::size_t kBangSearchBytes = 40;
constexpr std::size_t kObjectNameBytes = 9;
constexpr double kBeamWidthDeg[] = {0, 240, 120, 64, 32, 16, 8, 4, 2, 1};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
int number3(std::string_view t) { return (t[0] - '0') * 100 + (t[1] - '0') * 10 + (t[2] - '0'); }
bool digits3(std::string_view t) { return isDigit(t[0]) && isDigit(t[1]) && isDigit(t[2]); }
bool same3(std::string_view t, char c) { return t[0] == c && t[1] == c && t[2] == c; }

AprsDecoded refused(std::string why) { return {AprsVerdict::Refused, {}, std::move(why)}; }
AprsDecoded ignored(std::string why) { return {AprsVerdict::Ignored, {}, std::move(why)}; }

// CSE/SPD: three digits, dots or blanks each, a '/' between.
bool isCourseSpeed(std::string_view t) {
    if (t.size() < 7 || t[3] != '/') return false;
    const auto part = [](std::string_view p) { return digits3(p) || same3(p, '.') || same3(p, ' '); };
    return part(t.substr(0, 3)) && part(t.substr(4, 3));
}

bool isPrintableName(std::string_view name) {
    for (char c : name)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// The data extension of an uncompressed position, in `rest` (moved past
// what it reads), into the report; false with `why` for a broken one.
// `bearing` / `omni` say what was found.
bool readExtension(std::string_view& rest, AprsReport& r, bool& bearing, bool& omni, std::string& why) {
    const bool dfSymbol = r.symbolTable == '/' && r.symbolCode == '\\';
    if (isCourseSpeed(rest)) {
        if (digits3(rest)) {
            r.courseDeg = number3(rest);
            if (*r.courseDeg > 360) {
                why = "the course " + std::string(rest.substr(0, 3)) + " is beyond 360";
                return false;
            }
        }
        if (digits3(rest.substr(4))) r.speedKn = number3(rest.substr(4));
        rest.remove_prefix(7);
        // /BRG/NRQ
        if (dfSymbol && rest.size() >= 8 && rest[0] == '/' && rest[4] == '/' && digits3(rest.substr(1)) &&
            digits3(rest.substr(5))) {
            DfBearing& b = r.bearing;
            b.bearingDeg = number3(rest.substr(1));
            b.hits = rest[5] - '0';
            b.rangeCode = rest[6] - '0';
            b.quality = rest[7] - '0';
            if (b.bearingDeg < 1 || b.bearingDeg > 360) {
                why = "the bearing " + std::string(rest.substr(1, 3)) + " is outside 001..360";
                return false;
            }
            rest.remove_prefix(8);
            bearing = true;
        }
    } else if (rest.substr(0, 3) == "DFS") {
        const bool ok = rest.size() >= 7 && isDigit(rest[3]) && rest[4] >= '0' && rest[4] <= ';' && isDigit(rest[5]) &&
                        rest[6] >= '0' && rest[6] <= '8';
        if (!ok) {
            why = "\"" + printableExcerpt(rest.substr(0, 7)) + "\" is not DFSshgd (s, g 0..9, h 0..9 : ;, d 0..8)";
            return false;
        }
        r.omni = {rest[3] - '0', rest[4] - '0', rest[5] - '0', rest[6] - '0'};
        rest.remove_prefix(7);
        omni = true;
    } else if (rest.size() >= 7 && (rest.substr(0, 3) == "PHG" || rest.substr(0, 3) == "RNG")) {
        rest.remove_prefix(7);
    }
    return true;
}

AprsDecoded positionReport(const std::string& source, std::string_view name, bool killed, std::string_view body) {
    AprsPositionField field;
    std::string why;
    if (!readAprsPosition(body, field, why)) return refused(why);
    AprsDecoded out;
    AprsReport& r = out.report;
    r.source = source;
    r.name = std::string(name);
    r.latDeg = field.latDeg;
    r.lonDeg = field.lonDeg;
    r.ambiguityNmi = field.ambiguityNmi;
    r.symbolTable = field.symbolTable;
    r.symbolCode = field.symbolCode;
    r.compressed = field.compressed;
    r.courseDeg = field.courseDeg;
    r.speedKn = field.speedKn;
    std::string_view rest = body.substr(field.length);
    bool bearing = false, omni = false;
    if (!field.compressed && !readExtension(rest, r, bearing, omni, why)) return refused(why);
    r.freqMhz = commentFrequency(rest);
    if (!r.freqMhz) r.freqMhz = nameFrequency(r.name);
    const bool dfSymbol = r.symbolTable == '/' && r.symbolCode == '\\';
    if (killed) return ignored("\"" + r.name + "\" is a killed object");
    if (bearing && r.bearing.hits == 0) return ignored("N = 0: the bearing is marked useless");
    if (bearing && r.bearing.quality == 0) return ignored("Q = 0: the bearing is marked useless");
    out.verdict = bearing ? AprsVerdict::Bearing : omni ? AprsVerdict::Omni : AprsVerdict::Position;
    if (out.verdict == AprsVerdict::Position) {
        out.why = !dfSymbol          ? "the symbol " + std::string{r.symbolTable, r.symbolCode} + " is not the DF station's"
                  : field.compressed ? "a compressed position carries no /BRG/NRQ"
                                     : "the DF symbol without /BRG/NRQ";
    }
    return out;
}

AprsDecoded decodeInfo(const std::string& source, std::string_view info, int depth) {
    if (info.empty()) return refused("an empty information field");
    std::string why;
    switch (info[0]) {
        case '!':
        case '=':
            return positionReport(source, {}, false, info.substr(1));
        case '/':
        case '@':
            if (!readAprsTimestamp(info.substr(1), why)) return refused(why);
            return positionReport(source, {}, false, info.substr(8));
        case ';': {
            if (info.size() < 1 + kObjectNameBytes + 1 + 7) return refused("the object \"" + printableExcerpt(info) + "\" is cut short");
            std::string_view name = info.substr(1, kObjectNameBytes);
            if (!isPrintableName(name)) return refused("the object name \"" + printableExcerpt(name) + "\" is not printable");
            while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
            const char live = info[1 + kObjectNameBytes];
            if (name.empty() || (live != '*' && live != '_'))
                return refused("the object \"" + printableExcerpt(info.substr(0, 11)) + "\" has no name, or no '*' or '_' after it");
            if (!readAprsTimestamp(info.substr(11), why)) return refused(why);
            return positionReport(source, name, live == '_', info.substr(18));
        }
        case ')': {
            const std::size_t end = info.find_first_of("!_", 1);
            if (end == std::string_view::npos || end < 4 || end > 10 || !isPrintableName(info.substr(1, end - 1)))
                return refused("the item \"" + printableExcerpt(info) + "\" has no name of 3 to 9 printable bytes and '!' or '_'");
            return positionReport(source, info.substr(1, end - 1), info[end] == '_', info.substr(end + 1));
        }
        case '}': {
            if (depth >= kMaxThirdPartyDepth) return refused("third-party traffic nested too deeply");
            Tnc2Packet inner;
            if (!parseTnc2(info.substr(1), inner, why)) return refused("third-party traffic: " + why);
            return decodeInfo(inner.source, inner.info, depth + 1);
        }
        case '`':
        case '\'':
        case 0x1c:
        case 0x1d:
            return ignored("a Mic-E report (it carries no DF bearing)");
        case '>': case ':': case '<': case '?': case 'T': case '_': case '{': case '$': case '[': case '%':
        case '#': case '*': case ',':
            return ignored("no position report (data type '" + printableExcerpt(info.substr(0, 1)) + "')");
        default:
            break;
    }
    const std::size_t bang = info.substr(0, kBangSearchBytes).find('!');
    if (bang == std::string_view::npos) return ignored("no position report (data type '" + printableExcerpt(info.substr(0, 1)) + "')");
    return positionReport(source, {}, false, info.substr(bang + 1));
}

}  // namespace

double DfBearing::beamWidthDeg() const { return quality >= 0 && quality <= 9 ? kBeamWidthDeg[quality] : 0.0; }

AprsDecoded decodeAprs(const Tnc2Packet& packet) { return decodeInfo(packet.source, packet.info, 0); }

AprsDecoded decodeAprsLine(std::string_view line) {
    Tnc2Packet packet;
    std::string why;
    if (!parseTnc2(line, packet, why)) return refused(why);
    return decodeAprs(packet);
}

Bearing aprsBearing(const AprsReport& report, std::optional<int64_t> utc) {
    Bearing b;
    b.station = report.station();
    b.utc = utc;
    b.position.lat = report.latDeg * kDegToRad;
    b.position.lon = report.lonDeg * kDegToRad;
    b.bearingDeg = report.bearing.bearingDeg % 360;
    b.toleranceDeg = report.bearing.toleranceDeg();
    b.source = BearingSource::Aprs;
    return b;
}

bool AprsRepeats::repeated(const Bearing& bearing, int64_t nowSeconds) {
    while (!taken_.empty() && (nowSeconds - taken_.front().at >= kWindowSeconds || taken_.size() >= kRemembered))
        taken_.pop_front();
    for (const Taken& t : taken_) {
        if (t.station == bearing.station && t.bearingDeg == bearing.bearingDeg && t.lat == bearing.position.lat &&
            t.lon == bearing.position.lon && nowSeconds >= t.at)
            return true;
    }
    taken_.push_back({bearing.station, bearing.bearingDeg, bearing.position.lat, bearing.position.lon, nowSeconds});
    return false;
}

}  // namespace bearfix
