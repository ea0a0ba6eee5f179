// Topography asked for where no elevation file of the chosen data set lies:
// the picture and the log say so instead of showing a blank page.
#pragma once

#include <QPainter>

#include "map/elevation.h"
#include "map/map_view.h"

namespace bearfix {

// True when the elevation grid holds data (land, sea or a void) under some
// of the view's pixels.
bool terrainInView(const ElevationCache& cache, const MapView& view);

// A small box at the top left of the picture and a warning in the log, both
// naming the data set's directory.
void sayNoTerrain(QPainter& painter, const ElevationCache& cache);

}  // namespace bearfix
