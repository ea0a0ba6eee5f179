// bearfix-cli's probability map, viewshed and advice where to drive next:
//
//   fix --bearings FILE --density OUT.tif [--outlines OUT.kml|OUT.geojson]
//       [--robust] [--ambiguous STATION]... [--hidden-weight W [--config INI]]
//       [--date D | --year Y] [--json]
//   viewshed POSITION [--height M] [--target-height M] [--radius KM] --out OUT.tif [--config INI]
//   next --bearings FILE --from POSITION [--radius KM] [--robust] [--ambiguous STATION]...
//        [--terrain [--config INI]] [--date D | --year Y] [--json]
#pragma once

#include <string>
#include <vector>

namespace bearfix {

// `args` are the arguments after the command without "--json". 0: done;
// 1: a file cannot be read or written, or there is no map; 2: the
// arguments are wrong.
int runFixDensity(std::vector<std::string> args, bool json);
int runViewshed(std::vector<std::string> args);
int runNext(std::vector<std::string> args, bool json);

}  // namespace bearfix
