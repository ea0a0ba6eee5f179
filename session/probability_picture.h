// The probability map as the window lays it over the map, without the
// toolkit: a translucent colour per pixel of the view (a perceptual ramp
// like matplotlib's viridis, on a log scale from a tenth of the 95 %
// region's lowest density up to the peak; clear below) and the outlines of
// the 50 % and 95 % regions as pixel lines, in either projection.
#pragma once

#include <cstdint>
#include <vector>

#include "map/map_view.h"
#include "search/hdr_region.h"
#include "search/posterior.h"

namespace bearfix {

inline constexpr uint32_t kProbabilityAlpha = 150;  // of 255

struct ProbabilityPicture {
    int width = 0, height = 0;
    // 0xAARRGGBB, premultiplied, row by row; 0 where clear.
    std::vector<uint32_t> pixels;
    // Each outline cut where it leaves the picture's earth (the antimeridian
    // of a cylindric map, the far side of an azimuthal one).
    struct Point {
        double x, y;
    };
    std::vector<std::vector<Point>> outline50, outline95;
};

// The colour of a density between `low` (clear below) and `peak`.
uint32_t probabilityColour(double density, double low, double peak);

// Paints for `view` (set up by map_view_setup). Only the pixels over the
// grid are looked at: each looks up the cell under its centre.
void paintProbability(const DensityGrid& grid, const HdrRegion& region50, const HdrRegion& region95, const MapView& view,
                      ProbabilityPicture& picture);

}  // namespace bearfix
