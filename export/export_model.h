// What an export holds, gathered once from the observers, the bearing log
// and the tracks into plain features that every file format writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/export_geometry.h"
#include "fix/bearing.h"
#include "geo/fix_geometry.h"

namespace bearfix {

class TrackBuffer;

struct ExportProperty {
    enum Type { kText, kNumber, kFlag };
    std::string key;  // plain ASCII: "bearing_deg"
    Type type = kText;
    std::string text;     // UTF-8
    double number = 0.0;  // finite
    bool flag = false;
};

enum class FeatureKind { Observer, Crossing, BackCrossing, SearchArea, Sector, LogBearing, LogFix, Ellipse, Track, ProbabilityRegion };

struct ExportFeature {
    enum Shape { kPoint, kLine, kPolygon };
    FeatureKind kind = FeatureKind::Observer;
    Shape shape = kPoint;
    std::string name;         // UTF-8
    std::string description;  // UTF-8, one line; may be empty
    std::vector<ExportProperty> properties;
    // One point, a line, or a polygon's outline (either way round, not
    // closed; the writers cut and turn it). Finite, latitudes within -90..90,
    // longitudes within -180..180.
    std::vector<LonLat> points;
    // Tracks only, one per point: "2010-01-01T00:00:00Z", "" where the point
    // has none (elevations are in the points).
    std::vector<std::string> times;
    uint32_t colour = 0;  // 0x00BBGGRR
    bool enabled = true;  // a log bearing that takes part in the fix
};

struct ExportModel {
    std::vector<ExportFeature> features;
    std::vector<Bearing> log;        // the bearing log as it is, for the CSV file
    std::vector<std::string> notes;  // what was left out and why (UTF-8)
};

struct ExportInput {
    FixTexts observers;             // the observer fields as typed (Windows-1252)
    bool withObservers = true;      // false: no observers, no X, no search area
    uint32_t colourA = 0x00808000;  // the map's observer colours, 0x00BBGGRR
    uint32_t colourB = 0x00800080;
    // The bearings, each in its station's colour as the map draws the log;
    // the first `observerRows` are the observers' own ("A", "B"), in theirs.
    std::vector<Bearing> log;
    int observerRows = 0;
    bool robust = false;  // the log's fix with bearings far off counting less
    const TrackBuffer* tracks = nullptr;
    uint32_t trackColour = 192;  // of the segments without a colour of their own
};

// Sectors and bearing lines reach 1.5 times as far as the farthest point they
// are about (X, the corners of the search area, the back-bearing crossings;
// the log's fix), 1000 km without one, and never beyond 0.49 pi of arc.
inline constexpr double kReachFactor = 1.5;
inline constexpr double kDefaultReachKm = 1000.0;

ExportModel buildExportModel(const ExportInput& in);

}  // namespace bearfix
