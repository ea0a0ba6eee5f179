#include "geo/position.h"

#include <charconv>
#include <cmath>
#include <string>

namespace bearfix {

namespace {

constexpr char kDegreeSign = '\xB0';
constexpr char kOemDegreeSign = '\xF8';

std::string_view untilNul(std::string_view text) { return text.substr(0, text.find('\0')); }

char charAt(std::string_view text, std::size_t i) { return i < text.size() ? text[i] : '\0'; }

bool isLatitudeLetter(char c) { return c == 'N' || c == 'n' || c == 'S' || c == 's'; }
bool isLongitudeLetter(char c) {
    return c == 'E' || c == 'e' || c == 'O' || c == 'o' || c == 'W' || c == 'w';
}
bool isSouthOrWest(char c) { return c == 'S' || c == 's' || c == 'W' || c == 'w'; }

// Writes the lowest `width` decimal digits of `value`, zero-padded.
void appendDigits(std::string& out, double value, int width) {
    double limit = std::pow(10.0, width);
    auto v = static_cast<long>(std::fmod(value, limit));
    char digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    out.append(digits, static_cast<std::size_t>(width));
}

void appendDms(std::string& out, double degrees, char positive, char negative, int degreeWidth, bool tenths) {
    if (!std::isfinite(degrees)) degrees = 0.0;
    out += degrees >= 0.0 ? positive : negative;
    double d = std::fabs(degrees) + 1.3611111111111111e-05;  // 0.049 arc seconds
    double whole = std::floor(d);
    double r = (d - whole) * 60.0;
    double minutes = std::floor(r);
    r = (r - minutes) * 60.0;
    double seconds = std::floor(r);
    double tenth = std::floor((r - seconds) * 10.0);
    appendDigits(out, whole, degreeWidth);
    out += kDegreeSign;
    appendDigits(out, minutes, 2);
    out += '\'';
    appendDigits(out, seconds, 2);
    if (tenths) {
        out += '.';
        appendDigits(out, tenth, 1);
    }
    out += '"';
}

}  // namespace

void skip_blanks(std::string_view text, std::size_t& index) {
    text = untilNul(text);
    while (index < text.size() && text[index] == ' ') ++index;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

double scan_decimal(std::string_view text, std::size_t* index) {
    text = untilNul(text);
    std::size_t i = index ? *index : 0;
    if (i >= text.size()) return 0.0;
    skip_blanks(text, i);
    bool negative = false;
    if (charAt(text, i) == '-') {
        negative = true;
        ++i;
    } else if (charAt(text, i) == '+') {
        ++i;
    }
    // Digits and separator as written (',' reads like '.'), correctly rounded.
    std::string digits;
    while (is_digit(charAt(text, i))) digits += text[i++];
    if (charAt(text, i) == '.' || charAt(text, i) == ',') {
        ++i;
        digits += '.';
        while (is_digit(charAt(text, i))) digits += text[i++];
    }
    double value = 0.0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::fixed);
    // Too large for a double is infinite, as digit after digit would make it;
    // too small (a long run of zeros after the point) is 0.
    if (result.ec == std::errc::result_out_of_range)
        value = digits.find_first_of("123456789") < digits.find('.') ? HUGE_VAL : 0.0;
    if (index) *index = i;
    return negative ? -value : value;
}

bool starts_with_number(std::string_view text) {
    text = untilNul(text);
    std::size_t i = 0;
    skip_blanks(text, i);
    if (charAt(text, i) == '+' || charAt(text, i) == '-') ++i;
    if (charAt(text, i) == '.' || charAt(text, i) == ',') ++i;
    return is_digit(charAt(text, i));
}

double scan_angle(std::string_view text, std::size_t* index) {
    text = untilNul(text);
    std::size_t i = index ? *index : 0;
    double degrees = scan_decimal(text, &i);
    char c = charAt(text, i);
    if (c == kDegreeSign || c == kOemDegreeSign) {
        ++i;
        degrees += scan_decimal(text, &i) / 60.0;
        if (charAt(text, i) == '\'') {
            ++i;
            degrees += scan_decimal(text, &i) / 3600.0;
            if (charAt(text, i) == '"') ++i;
        }
    }
    if (index) *index = i;
    return degrees;
}

int scan_position(std::string_view text, std::size_t* index, GeoPosition& out, bool* not_finite) {
    text = untilNul(text);
    out = GeoPosition{};
    const std::size_t start = index ? *index : 0;
    std::size_t i = start;
    bool haveLat = false, haveLon = false, latInfinite = false, lonInfinite = false;
    // A value too large for a double is read, but is no latitude or
    // longitude; like any second component it replaces the first.
    auto store = [](double v, double& component, bool& have, bool& infinite) {
        infinite = !std::isfinite(v);
        have = !infinite;
        component = infinite ? 0.0 : v;
    };
    for (int passes = 2; passes > 0 && !(haveLat && haveLon); --passes) {
        skip_blanks(text, i);
        char c = charAt(text, i);
        bool digitFollows = is_digit(charAt(text, i + 1));
        if (isLatitudeLetter(c) && digitFollows) {
            ++i;
            double v = scan_angle(text, &i) * kDegToRad;
            store(isSouthOrWest(c) ? -v : v, out.lat, haveLat, latInfinite);
        } else if (isLongitudeLetter(c) && digitFollows) {
            ++i;
            double v = scan_angle(text, &i) * kDegToRad;
            store(isSouthOrWest(c) ? -v : v, out.lon, haveLon, lonInfinite);
        } else if (is_digit(c)) {  // infix form: 52N08.43
            double degrees = scan_decimal(text, &i);
            char h = charAt(text, i);
            if (isLatitudeLetter(h) || isLongitudeLetter(h)) {
                ++i;
                double v = (degrees + scan_decimal(text, &i) / 60.0) * kDegToRad;
                if (isSouthOrWest(h)) v = -v;
                if (isLatitudeLetter(h)) {
                    store(v, out.lat, haveLat, latInfinite);
                } else {
                    store(v, out.lon, haveLon, lonInfinite);
                }
            }
        }
        if (i >= text.size()) break;
        if (text[i] == '/' && (haveLat || haveLon || latInfinite || lonInfinite)) ++i;
    }
    if (index) *index = haveLat && haveLon ? i : start;
    if (not_finite) *not_finite = latInfinite || lonInfinite;
    return int(haveLat) + int(haveLon);
}

int scan_position(std::string_view text, GeoPosition& out) { return scan_position(text, nullptr, out); }

std::string format_position(GeoPosition pos, PosFormat fmt) {
    if (fmt != PosFormat::Dms && fmt != PosFormat::DmsTenths) return "fmt??";
    bool tenths = fmt == PosFormat::DmsTenths;
    std::string out;
    out.reserve(26);
    appendDms(out, pos.lat * kRadToDeg, 'N', 'S', 2, tenths);
    out += ' ';
    appendDms(out, pos.lon * kRadToDeg, 'E', 'W', 3, tenths);
    return out;
}

}  // namespace bearfix
