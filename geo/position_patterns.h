// Positions as people type and paste them, and the display forms of the
// "Positions" option.
//
// scan_position reads the program's own forms. What it would misread – a
// decimal pair with a comma between, hemisphere letters after the numbers, a
// blank after the letter, a locator, typographic degree and minute signs –
// is caught here by whole-text patterns. A text that scan_position reads
// with both components keeps the meaning it gives it.
#pragma once

#include <string>
#include <string_view>

#include "geo/position.h"

namespace bearfix {

// Reads a position from a Windows-1252 text, up to its first NUL. The signs
// º (for °), ’ and ´ (for ') and ” (for ") first stand for the program's
// own; then a text that scan_position reads with both components is read by
// it; otherwise these whole-text forms, between blanks, tabs or no-break
// spaces:
//   decimal pairs, latitude first   50.3375, 8.7553   -33.9 151.2   50,3 8,7
//   letters after the angles        50.3375N 8.7553E   50°20'15"N, 8°45'19"E
//                                   50 20.25N 8 45.32E (degrees, minutes)
//   a blank after the letter        N 50.33 E 8.75   N50.3375, E8.7553
//                                   N50 20.25 E8 45.32
//   Maidenhead locators             JO40, JO40hf, JO40hf31, JO40hf31ij: the
//                                   centre of the square
// The letters stand both before or both after the angles. Minutes and
// seconds below 60, latitudes within 90 and longitudes within 180 degrees;
// '' (two minute signs) is a second sign too. False when the text is no
// position; `out` then holds what scan_position made of it.
bool read_position(std::string_view text, GeoPosition& out);

// The whole-text forms above alone, without the sign variants mapped.
bool match_position_pattern(std::string_view text, GeoPosition& out);

// A UTF-8 text as Windows-1252 for read_position: the primes ′ and ″, which
// the code page lacks, become ' and ".
std::string position_text_from_utf8(std::string_view utf8);

// The centre of a Maidenhead locator of 4, 6, 8 or 10 characters (letters in
// either case); false for anything else.
bool maidenhead_centre(std::string_view locator, GeoPosition& out);

// The locator of the square of 2, 4, 6, 8 or 10 characters that holds p:
// "JO", "JO40", "JO40hf", "JO40hf31", "JO40hf31ij". Latitudes beyond the
// poles fall into the last row; longitudes are taken round the earth.
std::string maidenhead_locator(GeoPosition p, int characters);

// "N50.33750 E008.75530": decimal degrees, five decimals, rounded.
std::string decimal_degrees_text(GeoPosition p);

// A position in the form the "Positions" option chooses: the two DMS choices
// as format_position(p, Dms), a 6-character locator, or decimal degrees.
std::string display_position(GeoPosition p, PosFormat format);

// The "Positions" option as stored (any number) as a format.
PosFormat display_format(int stored);

}  // namespace bearfix
