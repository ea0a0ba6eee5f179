// Elevations under the map, from the elevation tiles the user has installed.
#pragma once

namespace bearfix {

// Marks in the elevation grid.
inline constexpr int kElevationOcean = -9999;
inline constexpr int kElevationNotLoaded = -9998;

// The elevation in metres at a position in degrees, from the data loaded for
// the current map. False (and kElevationNotLoaded) outside the loaded area.
bool elevationAt(double latDeg, double lonDeg, int* metres);

}  // namespace bearfix
