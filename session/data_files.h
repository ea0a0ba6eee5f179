// Where the data that accompanies the program lies: the map files and the
// help page. The current directory comes first, as it always has; then the
// data directory of an installed program.
#pragma once

#include <string>

namespace bearfix {

// `name` ("map_data", "html/bearfix.htm") as found: itself when it exists in
// the current directory, else in <program>/../share/bearfix, else in the
// directory the program was installed to; `name` unchanged when none has it.
std::string findDataFile(const std::string& name);

}  // namespace bearfix
