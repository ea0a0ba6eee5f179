#include "session/bearing_rows.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <numbers>
#include <optional>
#include <unordered_map>

#include "session/settings.h"
#include "cities/cities.h"
#include "fix/bearing_log.h"
#include "geo/great_circle.h"
#include "geo/position_patterns.h"
#include "support/message_log.h"
#include "support/number_format.h"
#include "support/text_scanner.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;

// A typed field in a message: at most 24 characters, control characters as '?'.
std::string shown(std::string_view text) {
    std::string out(text.substr(0, 24));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return "\"" + out + (text.size() > 24 ? "...\"" : "\"");
}

// [+-]digits[.digits], ',' as well as '.' before the fraction; nothing else.
bool strictDecimal(std::string_view s, double& value) {
    s = trimBlanks(s);
    std::string digits;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        if (s[0] == '-') digits += '-';
        s.remove_prefix(1);
    }
    int count = 0, points = 0;
    for (char c : s) {
        if (c >= '0' && c <= '9') {
            ++count;
            digits += c;
        } else if ((c == '.' || c == ',') && points++ == 0) {
            digits += '.';
        } else {
            return false;
        }
    }
    if (count == 0) return false;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::fixed);
    return r.ec == std::errc() && r.ptr == digits.data() + digits.size() && std::isfinite(value);
}

// Degrees to 1e-7 (about a centimetre), trailing zeros dropped.
std::string fixed7(double value) {
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 7);
    std::string text(buf, r.ptr);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

std::string shortest(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value + 0.0);
    return std::string(buf, r.ptr);
}

bool readStation(std::string_view text, std::string& station, std::string& why) {
    if (trimBlanks(text).empty()) {
        why = "a station needs a name";
        return false;
    }
    if (!isStationName(text, why)) return false;
    station = text;
    return true;
}

bool readTime(std::string_view text, std::optional<int64_t>& utc, std::string& why) {
    text = trimBlanks(text);
    if (text.empty()) {
        utc.reset();
        return true;
    }
    const std::optional<int64_t> t = parseUtc(text);
    if (!t) {
        why = "time " + shown(text) + " is neither like 2010-01-01T00:00:00Z nor seconds since 1970";
        return false;
    }
    utc = t;
    return true;
}

bool readPosition(std::string_view text, GeoPosition& p, std::string& why) {
    // The forms the observer fields take, but nothing after the position:
    // a cell holds the position alone.
    GeoPosition read, scanned;
    std::size_t index = 0;
    const bool trailing = scan_position(text, &index, scanned) == 2 && !trimBlanks(text.substr(index)).empty();
    if (!read_position(text, read) || trailing || std::fabs(read.lat) > kPi / 2 || std::fabs(read.lon) > kPi) {
        why = "position " + shown(text) + " is no latitude and longitude such as N50.1 E8.6";
        return false;
    }
    p = read;
    return true;
}

bool readBearing(std::string_view text, double& degrees, std::string& why) {
    double value;
    if (!strictDecimal(text, value)) {
        why = "bearing " + shown(text) + " is not a number of degrees";
        return false;
    }
    degrees = reduce_bearing_degrees(value);
    return true;
}

bool readTolerance(std::string_view text, double& degrees, std::string& why) {
    double value;
    if (!strictDecimal(text, value) || value < 0.0 || value > 180.0) {
        why = "tolerance " + shown(text) + " is not a number in 0..180";
        return false;
    }
    degrees = value + 0.0;
    return true;
}

bool sameBearing(const Bearing& a, const Bearing& b) {
    return a.station == b.station && a.utc == b.utc && a.position.lon == b.position.lon &&
           a.position.lat == b.position.lat && a.bearingDeg == b.bearingDeg && a.toleranceDeg == b.toleranceDeg &&
           a.enabled == b.enabled && a.reference == b.reference && a.correctionDeg == b.correctionDeg;
}

// Close enough to be the same bearing read back from a file (written to
// 1e-10 degrees).
bool nearlySame(const Bearing& a, const Bearing& b) {
    constexpr double kDegrees = 1e-8, kRadians = kDegrees * kDegToRad;
    const auto near = [](double x, double y, double eps) { return std::fabs(x - y) <= eps; };
    return a.station == b.station && a.utc == b.utc && near(a.position.lat, b.position.lat, kRadians) &&
           std::fabs(std::remainder(a.position.lon - b.position.lon, 2 * kPi)) <= kRadians &&
           (near(a.bearingDeg, b.bearingDeg, kDegrees) || near(std::fabs(a.bearingDeg - b.bearingDeg), 360.0, kDegrees)) &&
           near(a.toleranceDeg, b.toleranceDeg, kDegrees);
}

// Bearings in steps of a millionth of a degree: nearly equal ones fall into
// the same or a neighbouring step.
constexpr int64_t kSteps = 360000000;
int64_t bearingStep(double degrees) { return std::isfinite(degrees) ? std::llround(degrees * 1e6) % kSteps : -1; }

std::string stationKey(const Bearing& b, int64_t step) {
    return b.station + '\n' + (b.utc ? std::to_string(*b.utc) : std::string()) + '\n' + std::to_string(step);
}

// A field that compute_fix reads as 0 without a digit ("abc", "-") is no
// bearing of the log: it would stand for a direction nobody gave.
bool startsWithNumber(std::string_view text) {
    std::size_t i = 0;
    skip_blanks(text, i);
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) ++i;
    return i < text.size() && is_digit(text[i]);
}

const char* observerNames(const bool leftOut[2]) {
    return leftOut[0] && leftOut[1] ? "A and B" : leftOut[0] ? "A" : "B";
}

}  // namespace

std::vector<Bearing> observerBearings(const ObserverTexts& in, char* letters) {
    std::vector<Bearing> out;
    const struct {
        const std::string& position;
        const std::string& bearing;
        const std::string& tolerance;
        char letter;
        BearingReference reference;
        double correction;
    } observers[] = {{in.pos1, in.brg1x, in.tol1, 'A', in.reference1, in.correction1},
                     {in.pos2, in.brg2x, in.tol2, 'B', in.reference2, in.correction2}};
    for (const auto& o : observers) {
        if (o.position.empty() || !startsWithNumber(o.bearing)) continue;
        Bearing b;
        if (!read_position(o.position, b.position)) continue;  // "not a position": nothing is computed from it
        b.station = std::string(1, o.letter);
        b.bearingDeg = read_bearing_degrees(o.bearing, o.correction);  // as compute_fix reads it
        b.reference = o.reference;
        b.correctionDeg = o.correction + 0.0;
        if (!std::isfinite(b.bearingDeg)) continue;
        b.toleranceDeg = std::fabs(scan_decimal(o.tolerance));
        b.source = BearingSource::Typed;
        letters[out.size()] = o.letter;
        out.push_back(std::move(b));
    }
    return out;
}

bool setObserverRows(BearingRows& r, const ObserverTexts& in) {
    char letters[2] = {0, 0};
    std::vector<Bearing> fresh = observerBearings(in, letters);
    for (std::size_t i = 0; i < fresh.size(); ++i) fresh[i].enabled = r.observerEnabled[letters[i] - 'A'];
    bool same = fresh.size() == static_cast<std::size_t>(r.observers);
    for (std::size_t i = 0; same && i < fresh.size(); ++i) same = sameBearing(fresh[i], r.rows[i]);
    if (same) return false;
    r.rows.erase(r.rows.begin(), r.rows.begin() + r.observers);
    r.rows.insert(r.rows.begin(), std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    r.observers = static_cast<int>(fresh.size());
    r.letters[0] = letters[0];
    r.letters[1] = letters[1];
    return true;
}

void refit(BearingRows& r) {
    r.observerLeftOut[0] = r.observerLeftOut[1] = false;
    r.withObservers = FixStatus::Found;
    r.fix = solveFix(r.rows, {.robust = r.robust});
    if (r.fix.status == FixStatus::Found) return;
    std::vector<std::size_t> enabled;  // observer rows that took part
    for (std::size_t i = 0; i < static_cast<std::size_t>(r.observers); ++i)
        if (r.rows[i].enabled) enabled.push_back(i);
    // Each one alone first, then both: the fewest left out, of equals the
    // lowest S. The rows' own Use stays as the user set it.
    const unsigned all = (1u << enabled.size()) - 1;
    std::optional<FixResult> best;
    unsigned bestMask = 0;
    for (unsigned size = 1; size <= enabled.size() && !best; ++size) {
        for (unsigned mask = 1; mask <= all; ++mask) {
            if (static_cast<unsigned>(std::popcount(mask)) != size) continue;
            for (std::size_t k = 0; k < enabled.size(); ++k) r.rows[enabled[k]].enabled = !(mask & (1u << k));
            FixResult fix = solveFix(r.rows, {.robust = r.robust});
            for (std::size_t i : enabled) r.rows[i].enabled = true;
            if (fix.status == FixStatus::Found && (!best || fix.chiSquare < best->chiSquare)) {
                best = std::move(fix);
                bestMask = mask;
            }
        }
    }
    if (!best) return;
    r.withObservers = r.fix.status;
    r.fix = std::move(*best);
    for (std::size_t k = 0; k < enabled.size(); ++k)
        if (bestMask & (1u << k)) r.observerLeftOut[r.letters[enabled[k]] - 'A'] = true;
}

std::vector<Bearing> rowsAsFitted(const BearingRows& r) {
    std::vector<Bearing> rows = r.rows;
    for (std::size_t i = 0; i < static_cast<std::size_t>(r.observers); ++i)
        if (r.isLeftOut(i)) rows[i].enabled = false;
    return rows;
}

bool logShowsOnMap(const BearingRows& r) {
    for (const Bearing& b : r.log())
        if (b.enabled) return true;
    return false;
}

std::string bearingText(const Bearing& b, BearingColumn column, bool forEditing) {
    switch (column) {
        case BearingColumn::Station: return b.station;
        case BearingColumn::Time: return b.utc ? formatUtc(*b.utc) : std::string();
        case BearingColumn::Position:
            if (!forEditing) return format_position(b.position, PosFormat::Dms);
            return (b.position.lat < 0 ? "S" : "N") + fixed7(std::fabs(b.position.lat * kRadToDeg)) +
                   (b.position.lon < 0 ? " W" : " E") + fixed7(std::fabs(b.position.lon * kRadToDeg));
        case BearingColumn::Bearing:
            if (!std::isfinite(b.bearingDeg)) return {};
            return forEditing ? shortest(b.bearingDeg) : formatPicture(b.bearingDeg, "##0.0#");
        case BearingColumn::Tolerance:
            return forEditing ? shortest(b.toleranceDeg) : formatPicture(b.toleranceDeg, "##0.0#");
        default: return {};
    }
}

std::string cellText(const BearingRows& r, std::size_t row, BearingColumn column, bool forEditing) {
    const Bearing& b = r.rows[row];
    switch (column) {
        case BearingColumn::Source: return r.isObserver(row) ? "observer" : bearingSourceName(b.source);
        case BearingColumn::Residual: {
            const bool fitted = r.fix.status == FixStatus::Found && row < r.fix.fits.size() && r.fix.fits[row].used;
            return fitted ? formatPicture(r.fix.fits[row].residualDeg, "##0.0") : "";
        }
        case BearingColumn::Use: return b.enabled ? "1" : "0";
        default: return bearingText(b, column, forEditing);
    }
}

bool editCell(BearingRows& r, std::size_t row, BearingColumn column, std::string_view text, std::string& why) {
    if (row >= r.rows.size()) return false;
    Bearing& b = r.rows[row];
    if (column == BearingColumn::Use) {
        if (text != "0" && text != "1") return false;
        b.enabled = text == "1";
        if (r.isObserver(row)) r.observerEnabled[r.letters[row] - 'A'] = b.enabled;
        return true;
    }
    if (r.isObserver(row)) {
        why = std::string("bearing ") + r.letters[row] + " comes from the observer fields: change it there";
        return false;
    }
    switch (column) {
        case BearingColumn::Station: return readStation(text, b.station, why);
        case BearingColumn::Time: return readTime(text, b.utc, why);
        case BearingColumn::Position: return readPosition(text, b.position, why);
        case BearingColumn::Bearing: return readBearing(text, b.bearingDeg, why);
        case BearingColumn::Tolerance: return readTolerance(text, b.toleranceDeg, why);
        default: why = "this column cannot be changed"; return false;
    }
}

bool bearingFromTexts(std::string_view station, std::string_view time, std::string_view position,
                      std::string_view bearing, std::string_view tolerance, Bearing& out, std::string& why) {
    Bearing b = out;
    if (!readStation(station, b.station, why) || !readTime(time, b.utc, why) ||
        !readPosition(position, b.position, why) || !readBearing(bearing, b.bearingDeg, why) ||
        !readTolerance(tolerance, b.toleranceDeg, why))
        return false;
    out = std::move(b);
    return true;
}

std::vector<Bearing> bearingsToAppend(const BearingRows& r, std::vector<Bearing> bearings, bool skipKnown,
                                      std::size_t* skipped) {
    std::unordered_multimap<std::string, std::size_t> known;
    if (skipKnown) {
        known.reserve(r.rows.size());
        for (std::size_t i = 0; i < r.rows.size(); ++i)
            known.emplace(stationKey(r.rows[i], bearingStep(r.rows[i].bearingDeg)), i);
    }
    const std::size_t room = BearingLog::kMaxEntries - std::min(r.logSize(), BearingLog::kMaxEntries);
    std::vector<Bearing> out;
    std::size_t same = 0, full = 0;
    for (Bearing& b : bearings) {
        bool there = false;
        const int64_t step = bearingStep(b.bearingDeg);
        for (int64_t d = -1; skipKnown && !there && d <= 1; ++d) {
            const auto [first, last] = known.equal_range(stationKey(b, (step + d + kSteps) % kSteps));
            for (auto it = first; !there && it != last; ++it) there = nearlySame(r.rows[it->second], b);
        }
        if (there) {
            ++same;
        } else if (out.size() >= room) {
            ++full;
        } else {
            out.push_back(std::move(b));
        }
    }
    if (full > 0)
        logMessage(MessageLevel::Warning, "Warning: %zu bearings not added: the log holds %zu bearings already", full,
                   BearingLog::kMaxEntries);
    if (skipped) *skipped = same;
    return out;
}

std::string bearingLogPath() {
    const std::string settings = settingsFilePath();
    return settings.substr(0, settings.rfind('/') + 1) + "bearings.csv";
}

FixSummary fixSummary(const FixResult& fix) {
    FixSummary s;
    s.title = "Fix (" + std::to_string(fix.used) + (fix.used == 1 ? " bearing)" : " bearings)");
    if (fix.status != FixStatus::Found) {
        s.position = std::string("none, ") + fixStatusReason(fix.status);
        return s;
    }
    s.position = format_position(fix.x, PosFormat::Dms);
    s.place = describe_near_city(fix.x.lon, fix.x.lat);
    s.ellipse95 = formatEllipse(fix.ellipse95);
    return s;
}

FixSummary fixSummary(const BearingRows& r) {
    FixSummary s = fixSummary(r.fix);
    if (!r.observerLeftOut[0] && !r.observerLeftOut[1]) return s;
    const bool both = r.observerLeftOut[0] && r.observerLeftOut[1];
    s.title.insert(s.title.size() - 1, std::string(", without ") + observerNames(r.observerLeftOut));
    s.leftOut = std::string(observerNames(r.observerLeftOut)) + " left out: with " + (both ? "them" : "it") + ", " +
                fixStatusReason(r.withObservers);
    return s;
}

}  // namespace bearfix
