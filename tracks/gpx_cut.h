// Large GPX files read by two XML parsers at once: one up to a cut near the
// middle, one from there to the end of that track segment or route. Only the
// GPX reader uses this.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tracks/gpx_reader.h"

namespace bearfix::gpx {

// The file read by two parsers at once, one up to a cut near its middle
// and one from there to the end of that track segment or route; the
// first goes on after it. Nothing when the file is to be read the plain
// way instead: it has no cut, it or its reading failed (errors are told
// as the plain way tells them).
std::optional<GpxImport> parseSplit(int fd, const std::string& fileName, long long fileBytes, std::size_t batchBytes);

}  // namespace bearfix::gpx
