// The one map view: which projection, where the map is centred, how far it
// reaches and how large the picture is. Every drawn point is projected
// through it and every mouse pixel converted back.
//
// Two projections: "Cylindric" (equirectangular, east-west scale true at the
// centre latitude) and "Azimuthal equidistant" (distances and directions
// from the centre true). Pixels grow right and down from the top-left corner.
#pragma once

#include <cstdint>

#include "geo/position.h"

namespace bearfix {

enum MapProjection : int32_t { kCylindric = 0, kAzimuthal = 1 };

struct MapView {
    int32_t projection = kCylindric;  // 1 azimuthal; any other value cylindric
    GeoPosition center;
    double range_km = 1.0;  // centre to the upper and lower edge; >= 0.001
    double center_x = 0.0;  // width / 2, height / 2 (pixels)
    double center_y = 0.0;
    double width = 1.0;  // >= 1
    double height = 1.0;
    // Derived by map_view_setup only.
    double lat_min = 0.0;  // edges of the cylindric map, radians (not limited or wrapped)
    double lat_max = 0.0;
    double lon_min = 0.0;
    double lon_max = 0.0;
    double scale = 1.0;  // pixels per radian of great-circle distance (azimuthal)
    double sin_lat0 = 0.0;
    double cos_lat0 = 1.0;
    // Name of the item whose points are being handed to a point sink; not
    // part of the projection, and map_view_setup leaves it alone.
    char item_label[24] = {};
    // Its colour (0x00BBGGRR), -1 for the layer's own.
    int32_t item_colour = -1;
};

// Stores the parameters and derives the rest. A range below 0.001 km (or
// NaN) becomes 0.001; a width or height below 1 becomes 1. A cylindric map
// near a pole spans at most 360 degrees of longitude (more only when it is
// that wide at the equator too).
bool map_view_setup(MapView& view, int projection, double lon0, double lat0, double range_km, int width,
                    int height);

// The pixel of a point, limited to +-32767. False only for the antipode of
// an azimuthal map's centre. Points off the map are converted all the same.
// Cylindric longitudes count from the centre the short way round, so a map
// centred near the antimeridian shows both sides of it.
bool geo_to_screen(const MapView& view, double lon, double lat, int* x, int* y);

// The same, unrounded and not limited; NaN for a NaN position.
bool geo_to_pixel(const MapView& view, double lon, double lat, double* x, double* y);

// The position under a pixel, longitude within [-pi, pi]. False only for an
// azimuthal pixel outside the disc that holds the whole earth.
bool screen_to_geo(const MapView& view, int x, int y, double* lon, double* lat);

bool azimuthal_forward(const MapView& view, double lon, double lat, double* x, double* y);
bool azimuthal_inverse(const MapView& view, double x, double y, double* lon, double* lat);

// An angle brought towards [-pi, pi]; beyond +-2pi by the floating remainder.
double wrap_pi(double angle);

}  // namespace bearfix
