// bearfix-cli aprs decode: APRS monitor lines on standard input, each DF
// report as one JSON object a line on standard output, why any other line
// gave none on standard error.
// bearfix-cli aprs report --call CALL --position POS --bearing B --tolerance T
// [--freq MHZ] [--comment TEXT] [--range-mi MILES]: the DF report Bearfix
// would send to APRS-IS.
#pragma once

#include <string>
#include <vector>

namespace bearfix {

// `args` are the arguments after "aprs". 0: done; 1: a report that cannot
// be written (why on standard error); 2: the arguments are wrong (the usage
// is printed by the caller).
int runAprs(std::vector<std::string> args);

}  // namespace bearfix
