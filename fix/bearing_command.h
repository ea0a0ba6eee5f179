// The remote command that adds a bearing to the log:
//   bearing add station="Car 2" lat=50.1 lon=8.6 brg=123.4 tol=3 udts=1262304000
// Keys in any order, separated by blanks; tol (default 1) and udts (seconds
// since 1970, UTC) may be left out, station defaults to "remote" and may also
// be one word without quotes. Numbers as the track commands read them (a sign
// and a fraction, no exponent); a key given twice counts the last time.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "fix/bearing.h"

namespace bearfix {

// The bearing of the text after "bearing add", or nothing with `why`: lat,
// lon or brg missing or no number, a value out of range, an unknown key.
std::optional<Bearing> parseBearingAdd(const char* text, std::string* why = nullptr);

// Runs the text after "bearing ": an add command hands its bearing to `add`
// (true); a bad one is logged as a warning and adds nothing (false).
bool runBearingCommand(const char* text, const std::function<void(Bearing)>& add);

}  // namespace bearfix
