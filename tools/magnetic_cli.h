// bearfix-cli declination and calibrate, and the declinations that fix and
// fix --bearings give magnetic bearings.
//
//   bearfix-cli declination POSITION [--date YYYY-MM-DD | --year 2027.5] [--height-km H] [--json]
//   bearfix-cli calibrate --bearings FILE --station NAME --known POSITION [--json]
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fix/bearing.h"

namespace bearfix {

// Takes --date YYYY-MM-DD or --year Y out of `args` into `year` (left as it
// is without either); false when they are wrong or both given.
bool takeYear(std::vector<std::string>& args, double& year);

// Now as a decimal year.
double yearNow();

// The declination of the model (found beside the map data, loaded once when
// first asked) at a position text (UTF-8) and year; nothing, with `why`,
// for a text that is no position, no model or a declination not valid there
// and then; in the caution zone the number, with the caution in `why`.
std::optional<double> declinationAt(const std::string& positionUtf8, double year, std::string& why);

// The declinations of the model for a bearing file's magnetic bearings
// without a correction, at `yearUntimed` for those without a time; the
// model is loaded when first asked.
DeclinationSource fileDeclinations(double yearUntimed);

// `args` are those after the command, without "--json". 0: printed (for
// declination: valid there and then); 1: not valid, no model, a file that
// cannot be read, no offset; 2: the arguments are wrong (`usage` is
// printed) or a position is none ("not a position").
int runDeclination(std::vector<std::string> args, bool json, const char* usage);
int runCalibrate(std::vector<std::string> args, bool json, const char* usage);

}  // namespace bearfix
