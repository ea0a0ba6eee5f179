// The own position from the GPS on the map: an arrow pointing along the
// course over ground, or a ring while the course is unknown (standing
// still). Its size stays the same at every zoom.
#pragma once

#include <QPainter>

#include "geo/position.h"
#include "map/map_view.h"

namespace bearfix {

inline constexpr double kGpsArrowLength = 26.0;  // pixels, tip to tail

// `courseDeg` true, NaN when unknown. Nothing is drawn for a position off the picture.
void drawGpsArrow(QPainter& painter, const MapView& view, GeoPosition position, double courseDeg);

}  // namespace bearfix
