// The topographic background: every pixel coloured by the elevation under it
// through a 256-entry palette, optionally shaded as relief lit by the sun.
#pragma once

#include <QImage>
#include <array>
#include <cstdint>
#include <functional>

#include "map/elevation.h"
#include "map/map_view.h"

namespace bearfix {

struct TopoSettings {
    bool shading = true;
    int exaggeration = 2;    // vertical exaggeration of the relief
    int sunAzimuth = 180;    // degrees clockwise from north
    int sunElevation = 45;   // degrees above the horizon
};

// 0x00RRGGBB values.
using ElevationPalette = std::array<uint32_t, 256>;
const ElevationPalette& defaultPalette();      // greens, yellows, browns, greys, white
const ElevationPalette& blackWhitePalette();    // entry i = (i, i, i)

// Red, green and blue of a 32-bit pixel times `factor`, each truncated and
// clamped to 0..255; the fourth byte unchanged.
uint32_t scalePixel(uint32_t pixel, double factor);

// Fills `bitmap` (at least 10 x 10) with the terrain of the box south..north,
// west..east (degrees), loading it into `cache` first. Longitudes are wrapped
// into [-180, 180), so a box wider than 360 degrees shows the earth more than
// once. For an azimuthal `view` the pixels follow that projection (the box is
// then found from the view). False, painting nothing, for a small bitmap or
// an empty box.
bool renderTopography(QImage& bitmap, ElevationCache& cache, const TopoSettings& settings, double minElevation,
                      double maxElevation, double south, double north, double west, double east,
                      const ElevationPalette* palette = nullptr, const MapView* view = nullptr);

// The position of every pixel (x, y) of an azimuthal `view`, row by row, in
// degrees, found as the terrain finds them: interpolated where that stays
// within half a pixel, exact elsewhere. NaN beyond the earth's disc.
void azimuthalPixelRows(const MapView& view, int width, int height,
                        const std::function<void(int y, const double* lat, const double* lon)>& row);

}  // namespace bearfix
