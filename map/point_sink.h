// How line data reaches the map: producers (vector files, the track store)
// hand batches of points to a sink, which projects and draws them.
#pragma once

#include <cstdint>
#include <functional>

#include "map/map_view.h"

namespace bearfix {

struct MapPoint {
    float lat;  // radians
    float lon;
    float value;    // unused by the drawing; 0
    int32_t index;  // position of the point within its line, 0 for the first
};

// count >= 1: that many consecutive points of one line. -1: a labelled item
// begins. -2: the item ends; its label is the view's item_label.
using PointSink = std::function<void(const MapView& view, const MapPoint* points, int count)>;

inline constexpr int kItemBegin = -1;
inline constexpr int kItemEnd = -2;

}  // namespace bearfix
