// The marks of the fix, drawn over the bearing sectors: the outline of the
// search area, the back-bearing crossings as hollow rings, the observers as
// filled circles with their letters, and X as a ring with a cross. Markers
// keep their size in pixels at every zoom; all of them are outlined in white
// so that they show on terrain.
#pragma once

#include <QPainter>
#include <vector>

#include "geo/position.h"
#include "map/map_settings.h"
#include "map/map_view.h"

namespace bearfix {

// Everything from the observer texts of `settings`, as the numeric results
// compute it; the observers' circles at `observerA` and `observerB`, where
// their sectors start.
void drawFixMarkers(QPainter& painter, const MapView& view, const MapSettings& settings, GeoPosition observerA,
                    GeoPosition observerB);

// The outline of a spherical polygon whose edges are great-circle arcs,
// drawn with the painter's pen: edges followed closely enough for the zoom,
// whole across the antimeridian of a cylindric map, cut to the picture.
void drawGreatCirclePolygon(QPainter& painter, const MapView& view, const std::vector<GeoPosition>& corners);

}  // namespace bearfix
