// Geographic positions and their text forms.
//
// A position is held in radians, longitude first. Degrees exist only in text.
// Texts are single-byte Windows-1252; the degree sign is the byte 0xB0, and the
// scanners also take 0xF8, the degree sign of the old DOS code pages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bearfix {

inline constexpr double kDegToRad = 0.017453292519943295;
inline constexpr double kRadToDeg = 57.29577951308232;

struct GeoPosition {
    double lon = 0.0;  // radians, east positive
    double lat = 0.0;  // radians, north positive
};

// The display formats, in the order of the "Positions" option list and stored
// as that number in the settings file.
enum class PosFormat : int {
    DmsTenths = 0,          // DD°MM'SS.S"
    Dms = 1,                // DD°MM'SS"
    MaidenheadLocator = 2,
    DecimalDegrees = 3,
};

// All scanners treat the first NUL byte as the end of the text. Where an
// index is given, scanning starts there and (except scan_position, see below)
// the index is advanced past what was consumed.

// Advances over spaces (0x20 only).
void skip_blanks(std::string_view text, std::size_t& index);

bool is_digit(char c);

// A signed decimal number; '.' and ',' both separate the fraction. Leading
// blanks are skipped. Returns 0 when there is nothing numeric; a lone sign or
// separator is consumed. Digits too many for a double read as +-infinity.
double scan_decimal(std::string_view text, std::size_t* index = nullptr);

// Whether the text starts with a number (after blanks; a sign and a
// separator may come before the first digit): a bearing field without one
// holds no bearing, though scan_decimal reads it as 0.
bool starts_with_number(std::string_view text);

// Degrees as decimal degrees, or degrees-minutes-seconds with the signs °, '
// and " (e.g. 52°08'26" or 52°08.43). Returns degrees.
double scan_angle(std::string_view text, std::size_t* index = nullptr);

// Reads up to one latitude and one longitude in either order: prefixed by a
// hemisphere letter (N S, E W, and O for east) directly followed by a digit,
// or in the infix form 52N08.43. Blanks or '/' separate them. `out` is set to
// (0, 0) first and a component not found stays 0. Returns how many components
// were found (0..2). The index is advanced only when both were found.
// A component whose number is too large for a double (not finite) counts as
// not found and stays 0; `not_finite`, when given, then says true: the text
// is no position.
int scan_position(std::string_view text, std::size_t* index, GeoPosition& out, bool* not_finite = nullptr);
int scan_position(std::string_view text, GeoPosition& out);

// N52°08'26" E008°28'57" (Dms, 22 characters) or N52°08'26.4" E008°28'57.0"
// (DmsTenths, 26 characters). Values are truncated after adding 0.049 arc
// seconds. The other formats have no text form and give "fmt??".
std::string format_position(GeoPosition pos, PosFormat fmt);

}  // namespace bearfix
