// A georeferenced raster as a GeoTIFF that GIS programs (GDAL, QGIS) open in
// place: one band, little-endian, uncompressed, one strip, in WGS 84
// longitude and latitude (EPSG:4326), pixels as areas.
#pragma once

#include <cstdint>
#include <string>

namespace bearfix {

struct GeoRaster {
    int columns = 0, rows = 0;
    double west = 0.0, north = 0.0;  // degrees: the outer corner of pixel (0, 0)
    double pixelLonDeg = 0.0, pixelLatDeg = 0.0;
    // Row by row from the north: 32-bit floats, or else bytes.
    const float* floats = nullptr;
    const uint8_t* bytes = nullptr;
};

// Empty for a raster without pixels or of more than 1 GiB.
std::string encodeGeoTiff(const GeoRaster& raster);

// Written atomically; false with `reason` when it cannot be.
bool writeGeoTiff(const std::string& path, const GeoRaster& raster, std::string* reason);

}  // namespace bearfix
