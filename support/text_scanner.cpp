#include "support/text_scanner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace bearfix {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int32_t skipBlanks(const char*& cursor) {
    int32_t n = 0;
    while (isBlank(*cursor)) {
        ++cursor;
        ++n;
    }
    return n;
}

bool matchWord(const char*& cursor, const char* word) {
    const char* p = cursor;
    skipBlanks(p);
    for (; *word != '\0'; ++word, ++p) {
        if (*p != *word) return false;
    }
    cursor = p;
    return true;
}

int matchKeyword(const char*& cursor, const char* keys) {
    if (cursor == nullptr || keys == nullptr) return -1;
    int index = 0;
    for (const char* key = keys; *key != '\0' && *cursor != '\0'; key += std::strlen(key) + 1, ++index) {
        if (matchWord(cursor, key)) return index;
    }
    return -1;
}

namespace {

// Passes blanks and a '-' or '+'; true for '-'.
bool skipBlanksAndSign(const char*& cursor) {
    skipBlanks(cursor);
    if (*cursor == '-') {
        ++cursor;
        return true;
    }
    if (*cursor == '+') ++cursor;
    return false;
}

}  // namespace

int32_t parseInt(const char*& cursor, int maxDigits, int base, int32_t fallback) {
    const bool negative = skipBlanksAndSign(cursor);
    if (cursor[0] == '0' && cursor[1] == 'x') {
        cursor += 2;
        base = 16;
    }
    uint32_t value = 0;  // unsigned, so that overflow wraps instead of being undefined
    int digits = 0;
    while (digits < maxDigits) {
        int d = base == 16 ? hexValue(*cursor) : (isDecimalDigit(*cursor) ? *cursor - '0' : -1);
        if (d < 0) break;
        value = value * (base == 16 ? 16u : 10u) + static_cast<uint32_t>(d);
        ++cursor;
        ++digits;
    }
    if (digits == 0) return fallback;
    return static_cast<int32_t>(negative ? 0u - value : value);
}

bool exactDecimal(uint64_t whole, int digits, int fraction, double* value) {
    static constexpr double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (digits < 1 || digits > 15 || fraction < 0 || fraction > 22) return false;
    *value = static_cast<double>(whole) / kTens[fraction];
    return true;
}

DecimalDigits scanDecimalDigits(const char*& cursor) {
    DecimalDigits d;
    auto digit = [&] {
        if (++d.digits <= 19) d.whole = d.whole * 10 + static_cast<uint64_t>(*cursor - '0');
        ++cursor;
    };
    while (isDecimalDigit(*cursor)) digit();
    d.integerPart = d.digits > 0;
    if (*cursor == '.') {
        ++cursor;
        for (; isDecimalDigit(*cursor); ++d.fraction) digit();
    }
    return d;
}

double parseDouble(const char*& cursor, double fallback) {
    const bool negative = skipBlanksAndSign(cursor);
    const char* start = cursor;
    const DecimalDigits d = scanDecimalDigits(cursor);
    if (!d.integerPart) return fallback;
    // The digits as written, correctly rounded (no exponent: "1e5" ends at 'e').
    double value = 0.0;
    if (exactDecimal(d.whole, d.digits, d.fraction, &value)) return negative ? -value : value;
    if (std::from_chars(start, cursor, value, std::chars_format::fixed).ec == std::errc::result_out_of_range) {
        // Too large for a double is infinite, too small (zeros after the point) 0.
        const char* nonZero = std::find_if(start, cursor, [](char c) { return c >= '1' && c <= '9'; });
        value = nonZero < std::find(start, cursor, '.') ? HUGE_VAL : 0.0;
    }
    return negative ? -value : value;
}

bool parseQuoted(const char*& cursor, char* destination, int maxChars) {
    if (destination == nullptr) return false;
    const char* p = cursor;
    skipBlanks(p);
    if (*p != '"') return false;
    ++p;
    int n = 0;
    for (; *p != '\0' && *p != '"'; ++p) {
        if (n < maxChars) destination[n++] = *p;
    }
    destination[n] = '\0';
    if (*p == '"') ++p;
    cursor = p;
    return true;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace bearfix
