// Numbers as text with picture patterns, independent of the locale.
#pragma once

#include <string>
#include <string_view>

namespace bearfix {

// Formats `value` with a picture pattern such as "##0.00" or "##0.# '°'":
//   '0'  a digit that is always written;
//   '#'  a digit written only when significant (before the point, any number
//        of further digits is written anyway);
//   '.'  the decimal point, left out when no decimal digit follows it;
//   text in single or double quotes, and any other character, is copied.
// The value is rounded half away from zero to the pattern's decimal places,
// judged on its 15 significant digits (so 72.05 rounds to 72.1). The decimal
// separator is always '.', there is no thousands separator.
std::string formatPicture(double value, std::string_view pattern);

}  // namespace bearfix
