#include "geo/position_patterns.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "support/cp1252.h"

namespace bearfix {

namespace {

std::string_view untilNul(std::string_view text) { return text.substr(0, text.find('\0')); }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\xA0' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isDegreeSign(char c) { return c == '\xB0' || c == '\xF8' || c == '\xBA'; }
bool isMinuteSign(char c) { return c == '\'' || c == '\x92' || c == '\xB4'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}
    char peek(std::size_t ahead = 0) const { return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0'; }
    bool atEnd() const { return at_ >= text_.size(); }
    char next() { return text_[at_++]; }
    std::size_t mark() const { return at_; }
    void reset(std::size_t mark) { at_ = mark; }
    std::size_t blanks() {
        const std::size_t from = at_;
        while (!atEnd() && isBlank(text_[at_])) ++at_;
        return at_ - from;
    }
    bool take(bool (*is)(char)) {
        if (atEnd() || !is(text_[at_])) return false;
        ++at_;
        return true;
    }
    // '"', '”' or two minute signs.
    bool takeSecondSign() {
        if (peek() == '"' || peek() == '\x94') {
            ++at_;
            return true;
        }
        if (isMinuteSign(peek()) && isMinuteSign(peek(1))) {
            at_ += 2;
            return true;
        }
        return false;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

struct Number {
    double value = 0.0;
    bool whole = true;
};

// Digits with a fraction after '.' or ',': the separator only with a digit
// after it. Rounded as scan_decimal rounds; too large is infinite.
bool number(Cursor& c, Number& n) {
    std::string digits;
    while (isDigit(c.peek())) digits += c.next();
    if (digits.empty()) return false;
    n.whole = true;
    if ((c.peek() == '.' || c.peek() == ',') && isDigit(c.peek(1))) {
        c.next();
        digits += '.';
        n.whole = false;
        while (isDigit(c.peek())) digits += c.next();
    }
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), n.value, std::chars_format::fixed);
    if (result.ec == std::errc::result_out_of_range)
        n.value = digits.find_first_of("123456789") < digits.find('.') ? HUGE_VAL : 0.0;
    return true;
}

// Degrees, optionally with a degree sign, minutes (sign optional at the end)
// and seconds: 50.3375, 50°, 50°20.25', 50°20'15". Minutes need whole
// degrees, seconds whole minutes; both below 60. With `spaced`, blanks may
// stand before minutes and seconds.
bool dmsAngle(Cursor& c, bool spaced, double& value) {
    Number degrees, minutes, seconds;
    if (!number(c, degrees)) return false;
    value = degrees.value;
    if (!c.take(isDegreeSign)) return true;
    std::size_t before = c.mark();
    if (spaced) c.blanks();
    if (!number(c, minutes)) {
        c.reset(before);
        return true;
    }
    if (!degrees.whole || !(minutes.value < 60.0)) return false;
    value += minutes.value / 60.0;
    if (!c.take(isMinuteSign)) return true;
    before = c.mark();
    if (spaced) c.blanks();
    if (!number(c, seconds)) {
        c.reset(before);
        return true;
    }
    if (!minutes.whole || !(seconds.value < 60.0)) return false;
    value += seconds.value / 3600.0;
    c.takeSecondSign();
    return true;
}

// Degrees and minutes (and seconds) apart by blanks: 50 20.25, 52 08 26.
bool blankAngle(Cursor& c, double& value) {
    Number degrees, minutes, seconds;
    if (!number(c, degrees) || !degrees.whole || c.blanks() == 0 || !number(c, minutes) || !(minutes.value < 60.0))
        return false;
    value = degrees.value + minutes.value / 60.0;
    const std::size_t before = c.mark();
    if (c.blanks() > 0 && number(c, seconds)) {
        if (!minutes.whole || !(seconds.value < 60.0)) return false;
        value += seconds.value / 3600.0;
    } else {
        c.reset(before);
    }
    return true;
}

enum class Axis { Latitude, Longitude };

bool hemisphere(Cursor& c, Axis& axis, bool& negative) {
    switch (c.peek()) {
        case 'N': case 'n': axis = Axis::Latitude; negative = false; break;
        case 'S': case 's': axis = Axis::Latitude; negative = true; break;
        case 'E': case 'e': case 'O': case 'o': axis = Axis::Longitude; negative = false; break;
        case 'W': case 'w': axis = Axis::Longitude; negative = true; break;
        default: return false;
    }
    c.next();
    return true;
}

struct Component {
    Axis axis = Axis::Latitude;
    double degrees = 0.0;
    bool letterFirst = false;
};

bool withinRange(Axis axis, double degrees) { return std::fabs(degrees) <= (axis == Axis::Latitude ? 90.0 : 180.0); }

// A hemisphere letter before or after an angle: N 50.33, N50°20'15",
// 50.3375N, 50°20'15" N; with `spacedForm` degrees and minutes apart by
// blanks: N 50 20.25, 50 20.25N.
bool letteredComponent(Cursor& c, bool spacedForm, Component& out) {
    bool negative = false;
    double value = 0.0;
    const auto angle = [&] { return spacedForm ? blankAngle(c, value) : dmsAngle(c, true, value); };
    out.letterFirst = hemisphere(c, out.axis, negative);
    if (out.letterFirst) {
        c.blanks();
        if (!angle()) return false;
    } else {
        if (!angle()) return false;
        c.blanks();
        if (!hemisphere(c, out.axis, negative)) return false;
    }
    out.degrees = negative ? -value : value;
    return withinRange(out.axis, out.degrees);
}

// Blanks, or a comma, semicolon or slash with blanks around it if any.
bool separator(Cursor& c) {
    const bool blank = c.blanks() > 0;
    if (c.peek() == ',' || c.peek() == ';' || c.peek() == '/') {
        c.next();
        c.blanks();
        return true;
    }
    return blank;
}

GeoPosition fromDegrees(double latitude, double longitude) {
    return {longitude * kDegToRad, latitude * kDegToRad};
}

// A latitude and a longitude in either order, both with the letter first or
// both with it last.
bool letteredPair(std::string_view text, GeoPosition& out) {
    for (const bool firstSpaced : {false, true}) {
        for (const bool secondSpaced : {false, true}) {
            Cursor c(text);
            Component first, second;
            if (!letteredComponent(c, firstSpaced, first) || !separator(c) ||
                !letteredComponent(c, secondSpaced, second) || !c.atEnd())
                continue;
            if (first.axis == second.axis || first.letterFirst != second.letterFirst) continue;
            const Component& lat = first.axis == Axis::Latitude ? first : second;
            const Component& lon = first.axis == Axis::Latitude ? second : first;
            out = fromDegrees(lat.degrees, lon.degrees);
            return true;
        }
    }
    return false;
}

bool signedAngle(Cursor& c, bool spaced, double& value) {
    const bool negative = c.peek() == '-';
    if (c.peek() == '-' || c.peek() == '+') c.next();
    if (!dmsAngle(c, spaced, value)) return false;
    if (negative) value = -value;
    return true;
}

// 50.3375, 8.7553 and its kin: latitude first, signed.
bool decimalPair(std::string_view text, GeoPosition& out) {
    // A blank inside an angle (50° 20') is tried first, then the blank as the
    // separator (50° 8°).
    for (const bool spaced : {true, false}) {
        Cursor c(text);
        double lat = 0.0, lon = 0.0;
        if (signedAngle(c, spaced, lat) && separator(c) && signedAngle(c, spaced, lon) && c.atEnd() &&
            withinRange(Axis::Latitude, lat) && withinRange(Axis::Longitude, lon)) {
            out = fromDegrees(lat, lon);
            return true;
        }
    }
    return false;
}

// Sizes of the locator's squares in units of the smallest one (1/2880 degree
// of longitude, 1/5760 of latitude), from the field down, and the number of
// values of each pair.
constexpr long kSquareUnits[5] = {57600, 5760, 240, 24, 1};
constexpr int kPairValues[5] = {18, 10, 24, 10, 24};
constexpr double kLonUnitsPerDegree = 2880.0;
constexpr double kLatUnitsPerDegree = 5760.0;

int pairValue(char c, int level) {
    if (level % 2 == 1) return isDigit(c) ? c - '0' : -1;
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    const int v = upper - 'A';
    return v >= 0 && v < kPairValues[level] ? v : -1;
}

std::string decimalText(double degrees, char positive, char negative, int wholeDigits) {
    if (!std::isfinite(degrees)) degrees = 0.0;
    char buf[400];
    const auto result = std::to_chars(buf, buf + sizeof buf, std::fabs(degrees), std::chars_format::fixed, 5);
    std::string digits(buf, result.ptr);
    const std::size_t point = digits.find('.');
    if (point < static_cast<std::size_t>(wholeDigits)) digits.insert(0, wholeDigits - point, '0');
    const bool zero = digits.find_first_of("123456789") == std::string::npos;
    return (degrees < 0.0 && !zero ? negative : positive) + digits;
}

}  // namespace

bool maidenhead_centre(std::string_view locator, GeoPosition& out) {
    const std::size_t n = locator.size();
    if (n != 4 && n != 6 && n != 8 && n != 10) return false;
    double x = 0.0, y = 0.0;
    const int levels = static_cast<int>(n / 2);
    for (int level = 0; level < levels; ++level) {
        const int lon = pairValue(locator[2 * level], level), lat = pairValue(locator[2 * level + 1], level);
        if (lon < 0 || lat < 0) return false;
        x += lon * kSquareUnits[level];
        y += lat * kSquareUnits[level];
    }
    const double half = kSquareUnits[levels - 1] / 2.0;
    out = fromDegrees((y + half) / kLatUnitsPerDegree - 90.0, (x + half) / kLonUnitsPerDegree - 180.0);
    return true;
}

std::string maidenhead_locator(GeoPosition p, int characters) {
    const int levels = std::clamp(characters / 2, 1, 5);
    double lon = std::isfinite(p.lon) ? p.lon * kRadToDeg : 0.0;
    const double lat = std::isfinite(p.lat) ? p.lat * kRadToDeg : 0.0;
    lon = std::fmod(lon + 180.0, 360.0);
    if (lon < 0.0) lon += 360.0;
    const long width = 18 * kSquareUnits[0];
    long x = std::clamp(static_cast<long>(std::floor(lon * kLonUnitsPerDegree)), 0L, width - 1);
    long y = std::clamp(static_cast<long>(std::floor((std::clamp(lat, -90.0, 90.0) + 90.0) * kLatUnitsPerDegree)), 0L,
                        width - 1);
    std::string out;
    for (int level = 0; level < levels; ++level) {
        const long lonValue = x / kSquareUnits[level], latValue = y / kSquareUnits[level];
        x %= kSquareUnits[level];
        y %= kSquareUnits[level];
        const char base = level == 0 ? 'A' : level % 2 == 1 ? '0' : 'a';
        out += static_cast<char>(base + lonValue);
        out += static_cast<char>(base + latValue);
    }
    return out;
}

std::string decimal_degrees_text(GeoPosition p) {
    return decimalText(p.lat * kRadToDeg, 'N', 'S', 2) + " " + decimalText(p.lon * kRadToDeg, 'E', 'W', 3);
}

PosFormat display_format(int stored) {
    if (stored == static_cast<int>(PosFormat::MaidenheadLocator)) return PosFormat::MaidenheadLocator;
    if (stored == static_cast<int>(PosFormat::DecimalDegrees)) return PosFormat::DecimalDegrees;
    return PosFormat::Dms;
}

std::string display_position(GeoPosition p, PosFormat format) {
    switch (format) {
        case PosFormat::MaidenheadLocator: return maidenhead_locator(p, 6);
        case PosFormat::DecimalDegrees: return decimal_degrees_text(p);
        default: return format_position(p, PosFormat::Dms);
    }
}

bool match_position_pattern(std::string_view text, GeoPosition& out) {
    text = trimmed(untilNul(text));
    return maidenhead_centre(text, out) || letteredPair(text, out) || decimalPair(text, out);
}

bool read_position(std::string_view text, GeoPosition& out) {
    // The variant signs lie outside what scan_position reads: mapping them
    // changes no text it reads today.
    std::string t(untilNul(text));
    for (char& c : t) {
        if (c == '\xBA') c = '\xB0';
        if (c == '\x92' || c == '\xB4') c = '\'';
        if (c == '\x94') c = '"';
    }
    if (scan_position(t, out) == 2) return true;
    GeoPosition p;
    if (!match_position_pattern(t, p)) return false;
    out = p;
    return true;
}

std::string position_text_from_utf8(std::string_view utf8) {
    std::string text;
    text.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const std::string_view rest = utf8.substr(i);
        if (rest.starts_with("\xE2\x80\xB2") || rest.starts_with("\xE2\x80\xB3")) {
            text += rest[2] == '\xB2' ? '\'' : '"';
            i += 2;
        } else {
            text += utf8[i];
        }
    }
    return utf8ToCp1252(text);
}

}  // namespace bearfix
