#include "fix/bearing.h"

#include <cstdio>

#include "geo/great_circle.h"

namespace bearfix {

namespace {

constexpr const char* kSourceNames[] = {"typed", "remote", "udp", "receiver"};

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and
// back (H. Hinnant's algorithms).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2);
}

bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int64_t y, int64_t m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// Exactly `count` digits at `at`.
bool digits(std::string_view text, std::size_t at, std::size_t count, int64_t& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

double bearingAsTakenDeg(const Bearing& b) {
    return b.correctionDeg == 0.0 ? b.bearingDeg : reduce_bearing_degrees(b.bearingDeg - b.correctionDeg);
}

void setBearingAsTaken(Bearing& b, double asTakenDeg, BearingReference reference, double correctionDeg) {
    b.reference = reference;
    b.correctionDeg = correctionDeg + 0.0;
    b.bearingDeg = reduce_bearing_degrees(correctionDeg == 0.0 ? asTakenDeg : asTakenDeg + correctionDeg);
}

const char* bearingSourceName(BearingSource source) {
    const auto i = static_cast<std::size_t>(source);
    return i < std::size(kSourceNames) ? kSourceNames[i] : "typed";
}

std::optional<BearingSource> bearingSourceFromName(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kSourceNames); ++i)
        if (name == kSourceNames[i]) return static_cast<BearingSource>(i);
    return std::nullopt;
}

std::string formatUtc(int64_t seconds) {
    if (seconds < 0 || seconds > kMaxUtcSeconds) return {};
    int64_t y, m, d;
    civilFromDays(seconds / 86400, y, m, d);
    const int64_t s = seconds % 86400;
    char text[80];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    return text;
}

std::optional<int64_t> parseUtc(std::string_view text) {
    int64_t value = 0;
    if (!text.empty() && text.size() <= 12 && digits(text, 0, text.size(), value))
        return value <= kMaxUtcSeconds ? std::optional<int64_t>(value) : std::nullopt;
    // YYYY-MM-DDTHH:MM:SS[Z]
    int64_t y, mo, d, h, mi, s;
    if (text.size() != 19 && !(text.size() == 20 && text[19] == 'Z')) return std::nullopt;
    if (!digits(text, 0, 4, y) || text[4] != '-' || !digits(text, 5, 2, mo) || text[7] != '-' ||
        !digits(text, 8, 2, d) || (text[10] != 'T' && text[10] != ' ') || !digits(text, 11, 2, h) ||
        text[13] != ':' || !digits(text, 14, 2, mi) || text[16] != ':' || !digits(text, 17, 2, s))
        return std::nullopt;
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    return daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

bool isStationName(std::string_view name, std::string& why) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            why = "a control character in the station name";
            return false;
        }
    }
    if (name.size() > kMaxStationName) {
        why = "the station name is longer than " + std::to_string(kMaxStationName) + " characters";
        return false;
    }
    return true;
}

}  // namespace bearfix
