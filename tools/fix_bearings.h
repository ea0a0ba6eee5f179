// bearfix-cli fix --bearings FILE [--json] [--robust] [--date D | --year Y]:
// the best fix of a bearing log file.
#pragma once

#include <string>
#include <vector>

namespace bearfix {

// `args` are the arguments after "fix" without "--json". 0: a fix or the
// reason for none was printed; 1: the file cannot be read or has bad lines;
// 2: the arguments are wrong.
int runFixBearings(std::vector<std::string> args, bool json);

}  // namespace bearfix
