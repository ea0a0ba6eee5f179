// bearfix-cli fix --bearings FILE [--json] [--robust] [--date D | --year Y]:
// the best fix of a bearing log file.
#pragma once

#include <string>
#include <vector>

#include "fix/multi_fix.h"

namespace bearfix {

// What runFixBearings prints: the JSON (UTF-8), with `more` (", \"key\":
// value", ...) before its closing brace, and the text (Windows-1252).
std::string fixBearingsJson(const std::vector<Bearing>& bearings, const FixResult& r, const std::string& more = "");
std::string fixBearingsText(const std::vector<Bearing>& bearings, const FixResult& r, bool robust);

// `args` are the arguments after "fix" without "--json". 0: a fix or the
// reason for none was printed; 1: the file cannot be read or has bad lines;
// 2: the arguments are wrong.
int runFixBearings(std::vector<std::string> args, bool json);

}  // namespace bearfix
