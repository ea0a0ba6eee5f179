// The highest-density regions of the probability map: the smallest set of
// cells that holds a given probability (the cells of highest density first),
// its area on the sphere, its parts and their outlines.
#pragma once

#include <string>
#include <vector>

#include "geo/position.h"
#include "search/posterior.h"

namespace bearfix {

struct HdrRegion {
    double probability = 0.0;  // 0.5, 0.95
    double threshold = 0.0;    // the lowest density inside, per km²
    double areaKm2 = 0.0;      // the cells inside, on the sphere
    // Parts: the cells inside that touch, also corner to corner, holding at
    // least 1 % of the probability (smaller specks count in the area only).
    // One outline per part, counter-clockwise, not closed, traced by
    // marching squares between the cells' centres (a saddle joined), holes
    // left out.
    int parts = 0;
    std::vector<std::vector<GeoPosition>> polygons;
};

// The region of probability p (0 < p < 1); an empty region for an empty grid.
HdrRegion highestDensityRegion(const DensityGrid& grid, double probability);

// Whether a position lies in the region: its cell's density reaches the
// threshold (false outside the grid).
bool insideRegion(const DensityGrid& grid, const HdrRegion& region, GeoPosition p);

// "12.3 km²", "12.3 km², 2 parts" (Windows-1252; "km\xB2").
std::string formatRegion(const HdrRegion& region);

}  // namespace bearfix
