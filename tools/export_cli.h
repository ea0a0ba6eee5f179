// bearfix-cli export OUT.{kml,gpx,geojson,csv} [--config INI] [--bearings CSV]
// [--tracks FILE...]: what the window's File > Export... writes, from the
// saved session (the settings, and the bearing log and the tracks saved
// beside them) or the files named.
#pragma once

#include <string>
#include <vector>

namespace bearfix {

// `args` are the arguments after "export". 0: written; 1: an input cannot be
// read or the file cannot be written (nothing is replaced); 2: the arguments
// are wrong (the usage is printed by the caller).
int runExport(const std::vector<std::string>& args);

}  // namespace bearfix
