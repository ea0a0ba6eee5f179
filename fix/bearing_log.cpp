#include "fix/bearing_log.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "geo/great_circle.h"
#include "support/cp1252.h"
#include "support/message_log.h"
#include "support/text_scanner.h"
#include "support/whole_file.h"

namespace bearfix {

namespace {

constexpr std::size_t kMaxErrors = 10;
constexpr std::size_t kMaxFields = 10;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// [+-]digits[.digits] or [+-][digits].digits: no exponent, no "inf".
bool parseDecimal(std::string_view s, double& value) {
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    std::size_t digits = 0, points = 0;
    for (char c : s) {
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.' && points == 0) {
            ++points;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(value)) return false;
    if (negative) value = -value;
    return true;
}

// A field as a message shows it: Windows-1252, at most 24 characters, control
// characters as '?'.
std::string shown(std::string_view field) {
    std::string text = isValidUtf8(field) ? utf8ToCp1252(field) : std::string(field);
    const bool cut = text.size() > 24;
    if (cut) text.resize(24);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return "\"" + text + (cut ? "...\"" : "\"");
}

// Splits a line into fields; false with `why` for a quote out of place.
bool splitFields(std::string_view line, std::vector<std::string>& fields, std::string& why) {
    fields.clear();
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i == line.size() || line[i] == '#') return true;  // blank or a comment
    for (;;) {
        while (i < line.size() && isBlank(line[i])) ++i;
        std::string field;
        if (i < line.size() && line[i] == '"') {
            bool closed = false;
            for (++i; i < line.size(); ++i) {
                if (line[i] != '"') {
                    field += line[i];
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    closed = true;
                    ++i;
                    break;
                }
            }
            if (!closed) {
                why = "a quote is not closed";
                return false;
            }
            while (i < line.size() && isBlank(line[i])) ++i;
            if (i < line.size() && line[i] != ',' && line[i] != '#') {
                why = "text after a closing quote";
                return false;
            }
        } else {
            const std::size_t start = i;
            while (i < line.size() && line[i] != ',' && line[i] != '#') {
                if (line[i] == '"') {
                    why = "a quote inside a field that does not start with one";
                    return false;
                }
                ++i;
            }
            field = trimBlanks(line.substr(start, i - start));
        }
        fields.push_back(std::move(field));
        if (fields.size() > kMaxFields) {
            why = "more than 10 fields (station,lat,lon,bearing,tolerance,time,source,enabled,ref,correction)";
            return false;
        }
        if (i < line.size() && line[i] == ',') {
            ++i;
            continue;
        }
        return true;  // the end, or a comment
    }
}

// The reference and correction fields of a bearing whose other fields are
// read; false with `why`.
bool readReference(const std::vector<std::string>& f, double asTaken, const DeclinationSource& declination, Bearing& b,
                   std::string& why) {
    BearingReference reference = BearingReference::True;
    if (f.size() > 8 && !f[8].empty()) {
        const auto r = bearingReferenceFromName(f[8]);
        if (!r) {
            why = "ref " + shown(f[8]) + " is not true, magnetic or relative";
            return false;
        }
        reference = *r;
    }
    double correction = 0.0;
    if (f.size() > 9 && !f[9].empty()) {
        if (!parseDecimal(f[9], correction) || std::fabs(correction) > 360.0) {
            why = "correction " + shown(f[9]) + " is not a number in -360..360";
            return false;
        }
    } else if (reference == BearingReference::Relative) {
        why = "a relative bearing without the heading in its correction field";
        return false;
    } else if (reference == BearingReference::Magnetic) {
        std::string reason = "no magnetic model";
        const std::optional<double> d = declination ? declination(b, reason) : std::nullopt;
        if (!d) {
            why = "no declination for a magnetic bearing: " + reason;
            return false;
        }
        correction = *d;
    }
    setBearingAsTaken(b, asTaken, reference, correction);
    return true;
}

// One bearing from its fields; false with `why`.
bool readFields(const std::vector<std::string>& f, const DeclinationSource& declination, Bearing& b, std::string& why) {
    if (f.size() < 5) {
        why = std::to_string(f.size()) + (f.size() == 1 ? " field" : " fields") +
              "; a bearing is station,lat,lon,bearing,tolerance[,time]";
        return false;
    }
    const std::string& name = f[0];
    b.station = isValidUtf8(name) ? utf8ToCp1252(name) : name;
    if (!isStationName(b.station, why)) return false;
    double lat, lon, brg, tol;
    if (!parseDecimal(f[1], lat) || std::fabs(lat) > 90.0) {
        why = "latitude " + shown(f[1]) + " is not a number in -90..90";
        return false;
    }
    if (!parseDecimal(f[2], lon) || std::fabs(lon) > 180.0) {
        why = "longitude " + shown(f[2]) + " is not a number in -180..180";
        return false;
    }
    if (!parseDecimal(f[3], brg)) {
        why = "bearing " + shown(f[3]) + " is not a number";
        return false;
    }
    if (!parseDecimal(f[4], tol) || tol < 0.0 || tol > 180.0) {
        why = "tolerance " + shown(f[4]) + " is not a number in 0..180";
        return false;
    }
    b.position = {lon * kDegToRad, lat * kDegToRad};
    b.toleranceDeg = tol + 0.0;
    b.utc.reset();
    if (f.size() > 5 && !f[5].empty()) {
        b.utc = parseUtc(f[5]);
        if (!b.utc) {
            why = "time " + shown(f[5]) + " is neither like 2010-01-01T00:00:00Z nor seconds since 1970";
            return false;
        }
    }
    b.source = BearingSource::Typed;
    if (f.size() > 6 && !f[6].empty()) {
        const auto source = bearingSourceFromName(f[6]);
        if (!source) {
            why = "source " + shown(f[6]) + " is not typed, remote, udp or receiver";
            return false;
        }
        b.source = *source;
    }
    b.enabled = true;
    if (f.size() > 7 && !f[7].empty()) {
        if (f[7] != "0" && f[7] != "1") {
            why = "enabled " + shown(f[7]) + " is not 1 or 0";
            return false;
        }
        b.enabled = f[7] == "1";
    }
    return readReference(f, brg, declination, b, why);
}

bool hasDigit(std::string_view s) {
    for (char c : s)
        if (c >= '0' && c <= '9') return true;
    return false;
}

// Ten decimals (1e-10 degrees, about 10 micrometres on the ground), trailing
// zeros dropped; "-0" is "0".
std::string decimalText(double value) {
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 10);
    std::string text(buf, r.ptr);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text == "-0" ? "0" : text;
}

// A name that a line can hold (control characters become '?'), quoted when
// it needs to be.
std::string quotedIfNeeded(std::string utf8) {
    for (char& c : utf8)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    const bool needs = utf8.find_first_of(",#\"") != std::string::npos ||
                       (!utf8.empty() && (isBlank(utf8.front()) || isBlank(utf8.back())));
    if (!needs) return utf8;
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// A bearing that is not plainly true as written: its line has the two last
// fields.
bool corrected(const Bearing& b) { return b.reference != BearingReference::True || decimalText(b.correctionDeg) != "0"; }

}  // namespace

bool appendBearing(BearingLog& log, Bearing bearing) {
    if (log.entries.size() >= BearingLog::kMaxEntries) {
        logMessage(MessageLevel::Warning, "Warning: bearing not added: the log holds %zu bearings already",
                   BearingLog::kMaxEntries);
        return false;
    }
    log.entries.push_back(std::move(bearing));
    return true;
}

bool parseBearingCsv(std::string_view bytes, std::vector<Bearing>& out, std::string& errors,
                     const CsvLimits& limits, const DeclinationSource& declination) {
    errors.clear();
    if (bytes.size() > limits.maxFileBytes) {
        errors = "larger than " + (limits.maxFileBytes >= (1 << 20) ? std::to_string(limits.maxFileBytes >> 20) + " MB"
                                                                    : std::to_string(limits.maxFileBytes) + " bytes");
        return false;
    }
    while (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::vector<Bearing> read;
    std::vector<std::string> fields;
    std::size_t bad = 0;
    bool seenData = false;
    const auto fail = [&](std::size_t line, const std::string& why) {
        if (bad++ < kMaxErrors) errors += "line " + std::to_string(line) + ": " + why + "\n";
    };
    std::size_t start = 0;
    for (std::size_t number = 1; start < bytes.size(); ++number) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        if (line.size() > limits.maxLineBytes) {
            fail(number, "longer than " + std::to_string(limits.maxLineBytes) + " characters");
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string why;
        if (!splitFields(line, fields, why)) {
            fail(number, why);
            continue;
        }
        if (fields.empty()) continue;
        const bool header = !seenData && fields.size() > 1 && !hasDigit(fields[1]);
        seenData = true;
        if (header) continue;
        if (read.size() >= limits.maxBearings) {
            fail(number, "more than " + std::to_string(limits.maxBearings) + " bearings");
            break;
        }
        Bearing b;
        if (!readFields(fields, declination, b, why)) {
            fail(number, why);
            continue;
        }
        read.push_back(std::move(b));
    }
    if (bad > kMaxErrors) errors += "and " + std::to_string(bad - kMaxErrors) + " more bad lines\n";
    if (bad > 0) {
        errors.pop_back();  // the last line end
        return false;
    }
    out = std::move(read);
    return true;
}

CsvLoad loadBearingCsv(const std::string& path, std::vector<Bearing>& out, std::string& errors,
                       const CsvLimits& limits, const DeclinationSource& declination) {
    std::string bytes;
    switch (readWholeFile(path, limits.maxFileBytes, bytes, &errors)) {
        case WholeFileRead::Missing: return CsvLoad::Missing;
        case WholeFileRead::Unreadable: return CsvLoad::Bad;
        case WholeFileRead::Read: break;
    }
    return parseBearingCsv(bytes, out, errors, limits, declination) ? CsvLoad::Read : CsvLoad::Bad;
}

std::string formatBearingCsv(std::span<const Bearing> bearings) {
    const bool anyCorrected = std::any_of(bearings.begin(), bearings.end(), corrected);
    std::string out = anyCorrected ? "station,lat,lon,bearing,tolerance,time,source,enabled,ref,correction\n"
                                   : "station,lat,lon,bearing,tolerance,time,source,enabled\n";
    out.reserve(out.size() + bearings.size() * 72);
    for (const Bearing& b : bearings) {
        out += quotedIfNeeded(cp1252ToUtf8(b.station));
        double lon = b.position.lon * kRadToDeg;
        if (std::fabs(lon) > 180.0) lon = angle_modulo(lon + 180.0, 360.0) - 180.0;
        // A bearing a hair below 360 rounds to a whole turn, which reads 0.
        std::string bearing = decimalText(bearingAsTakenDeg(b));
        if (bearing == "360") bearing = "0";
        out += ',' + decimalText(b.position.lat * kRadToDeg) + ',' + decimalText(lon);
        out += ',' + bearing + ',' + decimalText(b.toleranceDeg) + ',';
        if (b.utc) out += formatUtc(*b.utc);
        out += ',';
        out += bearingSourceName(b.source);
        out += b.enabled ? ",1" : ",0";
        if (corrected(b)) out += std::string(",") + bearingReferenceName(b.reference) + ',' + decimalText(b.correctionDeg);
        out += '\n';
    }
    return out;
}

bool saveBearingCsv(const std::string& path, std::span<const Bearing> bearings) {
    return replaceFileAtomically(path, formatBearingCsv(bearings));
}

}  // namespace bearfix
