// GPX files read as a stream (expat) straight into the track store: memory
// stays the same whatever the file's size, beyond the points it stores.
#pragma once

#include <cstdint>
#include <string>

namespace bearfix {

// Larger files are refused, as other XML track files are.
inline constexpr long long kMaxGpxFileBytes = 256LL << 20;
// Deeper nesting of elements, and more attributes on one, are refused.
inline constexpr int kMaxGpxDepth = 256;
inline constexpr int kMaxGpxAttributes = 256;

struct GpxImport {
    int points = 0;      // stored
    int skipped = 0;     // track or route points whose coordinates are missing, not numbers or out of range
    std::string error;   // why the file is no readable XML; then nothing is stored
    bool split = false;  // two parsers read the two halves (for tests)
};

// Appends every <trk>'s <trkseg> and every <rte> as a segment named after its
// <name> (`fileName` without one), with their points: lat and lon (decimal
// degrees), <ele> (metres) and <time> (ISO 8601; an offset is taken back to
// UTC). Names and texts are taken as an XML reader that keeps only an
// element's first text (blanks condensed) would take them. A file that is not
// UTF-8 is read as Windows-1252.
//
// Files of 4 MiB and more are read by two threads: one runs the XML parser
// and passes on the bytes of each point, the calling one reads the file
// ahead for it and reads the numbers and times and stores them. Files of
// 4 MiB and more that are UTF-8 are cut at a point near their middle, and a
// second parser reads from there to the end of that track segment or route
// while the first reads up to the cut; when the cut turns out not to fall
// between points of the segment or route, the first parser reads on alone.
// All ways give the same result; `threads` forces one of them.
enum class GpxThreads : uint8_t { kBySize, kOne, kTwo, kSplit };
GpxImport readGpxFile(const std::string& path, const std::string& fileName, GpxThreads threads = GpxThreads::kBySize);

// A decimal number in the C form whatever the locale, read as
// std::from_chars(fixed) reads it (the same value, the same end); false when
// there is none.
bool scanDecimal(const char*& cursor, const char* end, double* value);

// "2010-01-01T12:34:56.5Z" or "...+02:00" to seconds since 1970; NaN when unreadable.
double isoTime(const char* text);

}  // namespace bearfix
