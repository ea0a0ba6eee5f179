// The map's line layers: coastlines, islands, rivers, lakes and borders, read
// from "map_data/*.pnt" and streamed segment by segment to a point sink.
//
// A .pnt file is a headerless sequence of 6-byte little-endian records:
// int16 code (1000 or more starts a new segment), int16 latitude and int16
// longitude in arc-minutes, north and east positive.
#pragma once

#include <functional>
#include <string>

#include "map/point_sink.h"

namespace bearfix {

inline constexpr int kSegmentBuffer = 8000;  // points per batch

// Sends one batch per segment in file order (a longer segment continues in
// further batches, each starting with the last point of the one before), then
// the closing kItemEnd call. Clears the view's item label first. Logs a debug
// line with the counts, or an error when the file cannot be opened (the sink
// is then not called). Nothing is kept after the call.
//
// A segment that fits one batch is first offered to `mayShow` with its
// bounds, and left out when it says no: a view far smaller than the earth
// then neither converts nor traces the rest of the world's lines.
struct SegmentBounds {
    double south, north, west, east;  // radians, as the batch's points give them
};
using SegmentFilter = std::function<bool(const SegmentBounds&)>;
bool loadVectorFile(const std::string& path, MapView& view, const PointSink& sink, const SegmentFilter& mayShow = {});

}  // namespace bearfix
