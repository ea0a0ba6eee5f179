// bearfix-cli gps [--server HOST:PORT] [--count N] [--json]: fixes from gpsd
// through the client the window uses.
#pragma once

#include <string>
#include <vector>

namespace bearfix {

// `args` are the arguments after "gps" without "--json". 0: N fixes were
// printed; 1: gpsd could not be reached within 5 s or ended the connection
// first; 2: the arguments are wrong.
int runGps(std::vector<std::string> args, bool json);

}  // namespace bearfix
