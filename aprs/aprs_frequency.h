// The frequency of a report (APRS 1.2 draft, ch. 19): "FFF.FFFMHz" (to
// 1 kHz) or "FFF.FF MHz" (to 10 kHz) in the first 10 bytes of the comment,
// after an optional '/' or blank; "MHz" in any case. Above 999.999 MHz a
// letter stands for the hundreds: A 1200, B 2300, C 2400, D 3400, E 5600,
// F 5700, G 5800, H 10100 ... L 10500, M 24000, N 24100, O 24200
// ("A96.000MHz" is 1296 MHz).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bearfix {

std::optional<double> commentFrequency(std::string_view comment);

// The "FREQ OBJECT": an object named "FFF.FF" and three more bytes, e.g.
// "146.520MH" or "146.52abc"; the third decimal is read when it is a digit.
std::optional<double> nameFrequency(std::string_view name);

// "146.520MHz" of a frequency in MHz, rounded to 1 kHz; nothing outside
// 0..999.999 MHz and the lettered bands.
std::optional<std::string> formatFrequency(double mhz);

}  // namespace bearfix
