#include "aprs/aprs_position.h"

#include <algorithm>
#include <cmath>

#include "aprs/tnc2.h"

namespace bearfix {

namespace {

constexpr std::size_t kUncompressedBytes = 19;
constexpr std::size_t kCompressedBytes = 13;
// The digits that may be left blank, right-most first: of the latitude
// "DDMM.hhN" and of the longitude "DDDMM.hhW" (offsets in the field).
constexpr std::size_t kLatBlanks[] = {6, 5, 3, 2};
constexpr std::size_t kLonBlanks[] = {16, 15, 13, 12};
constexpr double kAmbiguityNmi[] = {0, 0.1, 1, 10, 60};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
int digit(char c) { return c - '0'; }
bool isBase91(char c) { return c >= '!' && c <= '{'; }

// How many of the right-most digits at `order` are blank, when the blanks
// are right-most only; -1 for a blank before a digit.
int blanks(std::string_view field, const std::size_t (&order)[4]) {
    int count = 0;
    while (count < 4 && field[order[count]] == ' ') ++count;
    for (int k = count; k < 4; ++k)
        if (field[order[k]] == ' ') return -1;
    return count;
}

// Degrees of `width` digits, minutes "MM.hh" after them; blank digits as 0.
bool angle(std::string_view text, std::size_t width, int maxDeg, double& deg) {
    int d = 0;
    for (std::size_t i = 0; i < width; ++i) {
        if (!isDigit(text[i])) return false;
        d = d * 10 + digit(text[i]);
    }
    int hundredths = 0;  // of a minute
    for (const std::size_t i : {width, width + 1, width + 3, width + 4}) {
        const char c = text[i];
        if (c != ' ' && !isDigit(c)) return false;
        hundredths = hundredths * 10 + (c == ' ' ? 0 : digit(c));
    }
    if (text[width + 2] != '.' || hundredths >= 6000 || d > maxDeg || (d == maxDeg && hundredths > 0)) return false;
    deg = d + hundredths / 6000.0;
    return true;
}

bool readUncompressed(std::string_view text, AprsPositionField& out, std::string& why) {
    if (text.size() < kUncompressedBytes) {
        why = "the position \"" + printableExcerpt(text) + "\" is shorter than 19 bytes";
        return false;
    }
    std::string field(text.substr(0, kUncompressedBytes));
    const int latBlanks = blanks(field, kLatBlanks);
    const int lonBlanks = blanks(field, kLonBlanks);
    if (latBlanks < 0 || lonBlanks < 0) {
        why = "a blank before a digit in the position \"" + printableExcerpt(field) + "\"";
        return false;
    }
    const int level = std::max(latBlanks, lonBlanks);
    for (int k = 0; k < level; ++k) field[kLatBlanks[k]] = field[kLonBlanks[k]] = '0';
    const char ns = field[7], ew = field[17], table = field[8];
    if (!angle(field, 2, 90, out.latDeg) || (ns != 'N' && ns != 'S' && ns != 'n' && ns != 's')) {
        why = "the latitude \"" + printableExcerpt(text.substr(0, 8)) + "\" is not DDMM.hhN within 90 degrees";
        return false;
    }
    if (!angle(std::string_view(field).substr(9), 3, 180, out.lonDeg) ||
        (ew != 'E' && ew != 'W' && ew != 'e' && ew != 'w')) {
        why = "the longitude \"" + printableExcerpt(text.substr(9, 9)) + "\" is not DDDMM.hhW within 180 degrees";
        return false;
    }
    if (table != '/' && table != '\\' && !isDigit(table) && !(table >= 'A' && table <= 'Z')) {
        why = "the symbol table \"" + printableExcerpt(text.substr(8, 1)) + "\" is none of / \\ 0-9 A-Z";
        return false;
    }
    if (field[18] < '!' || field[18] > '~') {
        why = "the symbol code \"" + printableExcerpt(text.substr(18, 1)) + "\" is not printable";
        return false;
    }
    if (ns == 'S' || ns == 's') out.latDeg = -out.latDeg;
    if (ew == 'W' || ew == 'w') out.lonDeg = -out.lonDeg;
    out.ambiguityNmi = kAmbiguityNmi[level];
    out.symbolTable = table;
    out.symbolCode = field[18];
    out.compressed = false;
    out.length = kUncompressedBytes;
    return true;
}

bool readCompressed(std::string_view text, AprsPositionField& out, std::string& why) {
    if (text.size() < kCompressedBytes) {
        why = "the compressed position \"" + printableExcerpt(text) + "\" is shorter than 13 bytes";
        return false;
    }
    char table = text[0];
    if (table >= 'a' && table <= 'j') table = static_cast<char>('0' + (table - 'a'));
    if (table != '/' && table != '\\' && !(table >= 'A' && table <= 'Z') && !isDigit(table)) {
        why = "\"" + printableExcerpt(text.substr(0, 1)) + "\" starts no position (neither a digit nor a symbol table)";
        return false;
    }
    long y = 0, x = 0;
    for (std::size_t i = 1; i <= 8; ++i) {
        if (!isBase91(text[i])) {
            why = "the compressed position \"" + printableExcerpt(text.substr(0, kCompressedBytes)) + "\" has a byte beyond base 91";
            return false;
        }
        (i <= 4 ? y : x) = (i <= 4 ? y : x) * 91 + (text[i] - 33);
    }
    out.latDeg = 90.0 - y / 380926.0;
    out.lonDeg = -180.0 + x / 190463.0;
    if (out.latDeg < -90.0 || out.lonDeg > 180.0) {
        why = "the compressed position \"" + printableExcerpt(text.substr(0, kCompressedBytes)) + "\" lies beyond the pole or 180 degrees";
        return false;
    }
    if (text[9] < '!' || text[9] > '~') {
        why = "the symbol code \"" + printableExcerpt(text.substr(9, 1)) + "\" is not printable";
        return false;
    }
    const char c = text[10], s = text[11], t = text[12];
    if (c != ' ') {
        if (!isBase91(c) || !isBase91(s) || !isBase91(t)) {
            why = "the compressed course/speed bytes \"" + printableExcerpt(text.substr(10, 3)) + "\" are beyond base 91";
            return false;
        }
        const int cv = c - 33, sv = s - 33;
        if (((t - 33) & 0x18) == 0x10) {
            out.altitudeFt = std::pow(1.002, cv * 91 + sv);
        } else if (cv == 90) {
            out.rangeMi = 2.0 * std::pow(1.08, sv);
        } else {
            out.courseDeg = cv * 4;
            out.speedKn = std::pow(1.08, sv) - 1.0;
        }
    }
    out.symbolTable = table;
    out.symbolCode = text[9];
    out.compressed = true;
    out.length = kCompressedBytes;
    return true;
}

}  // namespace

bool readAprsPosition(std::string_view text, AprsPositionField& out, std::string& why) {
    out = AprsPositionField();
    if (text.empty()) {
        why = "no position";
        return false;
    }
    return isDigit(text[0]) || text[0] == ' ' ? readUncompressed(text, out, why) : readCompressed(text, out, why);
}

bool readAprsTimestamp(std::string_view text, std::string& why) {
    bool ok = text.size() >= 7;
    for (std::size_t i = 0; ok && i < 6; ++i) ok = isDigit(text[i]);
    if (ok) {
        const int a = digit(text[0]) * 10 + digit(text[1]);
        const int b = digit(text[2]) * 10 + digit(text[3]);
        const int c = digit(text[4]) * 10 + digit(text[5]);
        if (text[6] == 'z' || text[6] == '/')
            ok = a >= 1 && a <= 31 && b <= 23 && c <= 59;
        else
            ok = text[6] == 'h' && a <= 23 && b <= 59 && c <= 59;
    }
    if (!ok) why = "the timestamp \"" + printableExcerpt(text.substr(0, 7)) + "\" is not DDHHMMz, DDHHMM/ or HHMMSSh";
    return ok;
}

}  // namespace bearfix
