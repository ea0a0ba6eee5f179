// Everything the map drawing reads, as the window's controls (or a settings
// file) hold it. Texts are Windows-1252 and parsed by the drawing itself, so
// that a field without a number falls back to the drawing's defaults.
#pragma once

#include <cstdint>
#include <string>

namespace bearfix {

struct MapSettings {
    int projection = 0;  // 0 cylindric, 1 azimuthal equidistant
    int centerHow = 1;   // 0 fixed position, 1 observer A, 2 observer B, 3 X, 4 the log's fix, 5 GPS
    std::string rangeKm = "600";
    bool showCoasts = true;
    bool showBorders = true;
    bool showRivers = true;
    bool showTransmitters = true;
    bool largeCitiesOnly = false;
    bool showTopo = true;
    bool showRuler = false;
    int cityMode = 2;  // 0 none, 1 circles, 2 initials, 3 names
    int gridMode = 0;  // 0 none, 1 meridians, 2 locator fields, 3 fields and squares
    bool hideOverlappingLabels = true;  // a place's name is left out where it would cover another

    // Offline tiles under the lines: an MBTiles file or a {z}/{x}/{y}
    // directory (the file system's bytes), drawn with 0..100 % opacity.
    std::string tilesPath;
    bool showTiles = false;
    int tilesOpacity = 100;

    // Topography.
    std::string minElev = "0";
    std::string maxElev = "2000";
    bool shading = true;
    std::string verticalExaggeration = "3";
    std::string sunAzimuth = "180";
    std::string sunElevation = "60";
    int palette = 0;  // 0 default, 1 black & white

    // Observers: positions (for centring), bearings and tolerances in degrees.
    std::string pos1, pos2, locationX;
    std::string logFix, gpsPosition;  // empty when there is none
    std::string brg1x, brg2x, brg1Tol, brg2Tol;
    bool ambiguity1 = false;
    bool ambiguity2 = false;
    uint32_t colourA = 0x00808000;  // 0x00BBGGRR: teal
    uint32_t colourB = 0x00800080;  // purple

    // Tracks.
    uint32_t trackLineColour = 192;
    uint32_t trackLabelColour = 49280;
    int trackLineWidth = 4;
};

}  // namespace bearfix
