// The bearing log: the bearings of a hunt in the order they came, and their
// CSV file.
//
// The file is UTF-8 text, one bearing per line:
//   station,lat,lon,bearing,tolerance[,time[,source[,enabled[,ref[,correction]]]]]
// Latitude and longitude in decimal degrees (north and east positive), the
// bearing in degrees as taken (whole turns are taken off), the tolerance in
// degrees (+-); numbers are written with '.' and without exponent. The time
// is UTC, "2010-01-01T00:00:00Z" or seconds since 1970; source is typed,
// remote, udp or receiver (default typed); enabled is 1 or 0 (default 1);
// ref is true, magnetic or relative (or T, M, R; default true) and
// correction the degrees that make the bearing true (-360..360): the
// declination, the heading. An empty time, source, enabled or ref field
// takes the default; an empty correction is 0 for a true bearing, the
// declination of the model for a magnetic one, and wrong for a relative one.
// Lines of plainly true bearings are written with eight fields, as before
// the reference was known, and so is the header when all are.
// '#' outside quotes starts a comment; blank lines are passed over, and so is
// the first line when its second field holds no digit (a header).
// A station name holding a comma, a '#' or a '"', or blanks at either end,
// is written between double quotes, a '"' in it doubled: "Car ""2"", north".
// Any field may be quoted so. Blanks around fields are dropped.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fix/bearing.h"

namespace bearfix {

struct BearingLog {
    static constexpr std::size_t kMaxEntries = 200000;
    std::vector<Bearing> entries;
};

// Appends the bearing unless the log is full (false, logged as a warning).
bool appendBearing(BearingLog& log, Bearing bearing);

struct CsvLimits {
    std::size_t maxFileBytes = 16 << 20;
    std::size_t maxLineBytes = 1024;
    std::size_t maxBearings = BearingLog::kMaxEntries;
};

// The bearings of a CSV text, all or nothing: false with `errors` naming the
// bad lines ("line 7: latitude \"95\" is not a number in -90..90", at most ten,
// one per line) and `out` untouched. Texts are Windows-1252; a name that is not
// valid UTF-8 is taken as Windows-1252.
// A magnetic bearing without its correction takes that of `declination`
// (when there is none, its line is bad).
bool parseBearingCsv(std::string_view bytes, std::vector<Bearing>& out, std::string& errors,
                     const CsvLimits& limits = {}, const DeclinationSource& declination = {});

enum class CsvLoad { Read, Missing, Bad };
// parseBearingCsv of a file; Bad also when it cannot be read (`errors` says why).
CsvLoad loadBearingCsv(const std::string& path, std::vector<Bearing>& out, std::string& errors,
                       const CsvLimits& limits = {}, const DeclinationSource& declination = {});

// A header line and every bearing with all eight fields (ten for a bearing
// that is not plainly true), numbers to 1e-10 degrees; written again after
// being read back, the text is the same.
std::string formatBearingCsv(std::span<const Bearing> bearings);

// Written atomically: the old file survives any failure.
bool saveBearingCsv(const std::string& path, std::span<const Bearing> bearings);

}  // namespace bearfix
