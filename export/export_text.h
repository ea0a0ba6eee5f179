// Numbers and texts as the export formats want them: '.' whatever the
// locale, no exponent, XML and JSON escapes.
#pragma once

#include <string>
#include <string_view>

namespace bearfix {

// Degrees to 1e-9 (a tenth of a millimetre), trailing zeros dropped: "8.5", "-0.000000001".
std::string degreesText(double degrees);
// Any finite number, as short as reads back exactly, without exponent.
std::string numberText(double value);
// UTF-8 with &, <, >, " and ' escaped; control characters XML 1.0 forbids become blanks.
std::string xmlText(std::string_view utf8);
// A JSON string with its quotes.
std::string jsonText(std::string_view utf8);

}  // namespace bearfix
