// The marks of the fix, drawn over the bearing sectors: the outline of the
// search area, the back-bearing crossings as hollow rings, the observers as
// filled circles with their letters, and X as a ring with a cross. Markers
// keep their size in pixels at every zoom; all of them are outlined in white
// so that they show on terrain.
#pragma once

#include <QPainter>
#include <vector>

#include "geo/fix_geometry.h"
#include "geo/position.h"
#include "map/map_settings.h"
#include "map/map_view.h"
#include "map/screen_path.h"

namespace bearfix {

// `fix` as compute_fix makes it of the observer texts of `settings`, the
// colours from `settings`; the observers' circles at `observerA` and
// `observerB`, where their sectors start. With `touched`, the pixels drawn
// on are added to it.
void drawFixMarkers(QPainter& painter, const MapView& view, const MapSettings& settings, const Fix& fix,
                    GeoPosition observerA, GeoPosition observerB, RowSpans* touched = nullptr);

// The outline of a spherical polygon whose edges are great-circle arcs,
// drawn with the painter's pen: edges followed closely enough for the zoom,
// whole across the antimeridian of a cylindric map, cut to the picture. With
// `touched`, the pixels drawn on are added to it.
void drawGreatCirclePolygon(QPainter& painter, const MapView& view, const std::vector<GeoPosition>& corners,
                            RowSpans* touched = nullptr);

}  // namespace bearfix
