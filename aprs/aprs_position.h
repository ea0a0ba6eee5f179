// The position field of APRS reports and objects (APRS Protocol Reference
// 1.0.1, ch. 6 and 9), uncompressed
//   DDMM.hhN / DDDMM.hhW $          19 bytes: table between, code after
// (blanks for the right-most digits of the latitude: position ambiguity) or
// compressed
//   / YYYY XXXX $ c s T               13 bytes: base-91 digits
// and the timestamps before it: DDHHMMz, DDHHMM/ (local) and HHMMSSh.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace bearfix {

struct AprsPositionField {
    double latDeg = 0.0;       // north positive
    double lonDeg = 0.0;       // east positive
    double ambiguityNmi = 0;   // 0, or 0.1, 1, 10, 60 with digits left blank
    char symbolTable = '/';    // '/', '\\' or an overlay '0'..'9', 'A'..'Z'
    char symbolCode = ' ';
    bool compressed = false;
    std::size_t length = 0;    // bytes read: 19 or 13
    // Of the compressed form's "cs" bytes (the uncompressed form has them in
    // a data extension after the field).
    std::optional<int> courseDeg;     // 4 * c: 0..356
    std::optional<double> speedKn;    // 1.08^s - 1
    std::optional<double> rangeMi;    // 2 * 1.08^s
    std::optional<double> altitudeFt; // 1.002^(91 c + s), from a GGA fix
};

// The field at the start of `text`: uncompressed when it starts with a
// digit (or a blank), compressed otherwise. Degrees within +-90 and +-180,
// minutes below 60, a known symbol table; false with `why` otherwise.
// Following the latitude's blanks, as many digits of the longitude count as
// blank (the amount of ambiguity applies to both); blank digits read as 0:
// the position given, as the APRS 1.2 draft says to plot it.
bool readAprsPosition(std::string_view text, AprsPositionField& out, std::string& why);

// A 7-byte timestamp at the start of `text`: DDHHMMz, DDHHMM/ (day 01..31)
// or HHMMSSh, every field in range; false with `why` otherwise.
bool readAprsTimestamp(std::string_view text, std::string& why);

}  // namespace bearfix
