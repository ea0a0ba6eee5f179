// The export files: KML 2.2 for Google Earth, GPX 1.1 for GPS receivers,
// GeoJSON (RFC 7946) for GIS programs, and the bearing log's CSV.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "export/export_model.h"

namespace bearfix {

enum class ExportFormat { Kml, Gpx, GeoJson, Csv };

// By the file name's extension, in any case: .kml, .gpx, .geojson or .json, .csv.
std::optional<ExportFormat> exportFormatFor(std::string_view path);

// Folders of the observers, the crossings, the search area, the sectors, the
// bearing log, its fix and the tracks, each with the map's colours.
std::string writeKml(const ExportModel& model);
// Waypoints (observers, crossings, the log's fix) and tracks; GPX has no
// polygons or lines that are not tracks.
std::string writeGpx(const ExportModel& model);
// One FeatureCollection; shapes crossing the antimeridian as Multi* pieces.
std::string writeGeoJson(const ExportModel& model);

std::string exportText(const ExportModel& model, ExportFormat format);

// Writes the file atomically: an existing file is replaced only by a complete
// new one. False with `error` ("cannot write PATH: reason", UTF-8).
bool writeExportFile(const std::string& path, ExportFormat format, const ExportModel& model, std::string& error);

// How much of a polygon's colour its fill keeps, 0..255.
unsigned fillAlpha(FeatureKind kind);

// "observer", "crossing", "back_crossing", "search_area", "sector",
// "log_bearing", "log_fix", "ellipse", "track", "probability_region".
const char* featureKindName(FeatureKind kind);

}  // namespace bearfix
