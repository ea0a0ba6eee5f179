#include <cmath>
#include <cstdio>

#include "export/export_text.h"
#include "export/export_writers.h"

namespace bearfix {

namespace {

std::string position(const LonLat& p, bool withElevation) {
    std::string out = "[" + degreesText(p.lon) + "," + degreesText(p.lat);
    if (withElevation) out += "," + numberText(p.ele);
    return out + "]";
}

std::string positions(const std::vector<LonLat>& points, bool close, bool withElevation) {
    std::string out = "[";
    for (std::size_t i = 0; i < points.size(); ++i) out += (i ? "," : "") + position(points[i], withElevation);
    if (close) out += "," + position(points[0], withElevation);
    return out + "]";
}

// Point, LineString or Polygon; MultiLineString or MultiPolygon when the
// antimeridian cuts the shape (RFC 7946, 3.1.9). Empty when nothing is left.
std::string geometry(const ExportFeature& f) {
    if (f.shape == ExportFeature::kPoint) {
        return "{\"type\":\"Point\",\"coordinates\":" + position(f.points[0], false) + "}";
    }
    std::vector<std::string> parts;
    if (f.shape == ExportFeature::kLine) {
        bool elevations = f.kind == FeatureKind::Track;  // on every point or on none
        for (const LonLat& p : f.points) elevations = elevations && std::isfinite(p.ele);
        for (const auto& piece : splitLineAtAntimeridian(f.points))
            parts.push_back(positions(piece, false, elevations));
    } else {
        for (const Ring& piece : splitPolygonAtAntimeridian(f.points))
            parts.push_back("[" + positions(piece, true, false) + "]");
    }
    if (parts.empty()) return {};
    const char* type = f.shape == ExportFeature::kLine ? "LineString" : "Polygon";
    if (parts.size() == 1) return std::string("{\"type\":\"") + type + "\",\"coordinates\":" + parts[0] + "}";
    std::string out = std::string("{\"type\":\"Multi") + type + "\",\"coordinates\":[";
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? "," : "") + parts[i];
    return out + "]}";
}

// The colour also under the names of the simplestyle convention, which
// geojson.io and GitHub's map view draw: marker-color for points, stroke
// (and fill for areas) for the rest.
std::string properties(const ExportFeature& f) {
    char colour[16];
    std::snprintf(colour, sizeof colour, "\"#%02x%02x%02x\"", f.colour & 0xFFu, (f.colour >> 8) & 0xFFu,
                  (f.colour >> 16) & 0xFFu);
    std::string out = "{\"kind\":\"" + std::string(featureKindName(f.kind)) + "\",\"name\":" + jsonText(f.name) +
                      ",\"description\":" + jsonText(f.description) + ",\"colour\":" + colour;
    if (f.shape == ExportFeature::kPoint) {
        out += std::string(",\"marker-color\":") + colour;
    } else {
        out += std::string(",\"stroke\":") + colour;
        if (!f.enabled) out += ",\"stroke-opacity\":0.5";
        if (f.shape == ExportFeature::kPolygon)
            out += std::string(",\"fill\":") + colour +
                   ",\"fill-opacity\":" + numberText(std::round(fillAlpha(f.kind) / 2.55) / 100);
    }
    for (const ExportProperty& p : f.properties) {
        out += "," + jsonText(p.key) + ":";
        out += p.type == ExportProperty::kNumber ? numberText(p.number)
               : p.type == ExportProperty::kFlag ? (p.flag ? "true" : "false")
                                                 : jsonText(p.text);
    }
    bool timed = false;
    for (const std::string& t : f.times) timed = timed || !t.empty();
    if (timed) {
        out += ",\"times\":[";
        for (std::size_t i = 0; i < f.times.size(); ++i)
            out += (i ? "," : "") + (f.times[i].empty() ? "null" : "\"" + f.times[i] + "\"");
        out += "]";
    }
    return out + "}";
}

}  // namespace

std::string writeGeoJson(const ExportModel& model) {
    std::string out = "{\"type\":\"FeatureCollection\",\"features\":[";
    bool first = true;
    for (const ExportFeature& f : model.features) {
        const std::string shape = geometry(f);
        if (shape.empty()) continue;
        out += (first ? "\n" : ",\n") + std::string("{\"type\":\"Feature\",\"properties\":") + properties(f) +
               ",\"geometry\":" + shape + "}";
        first = false;
    }
    return out + "\n]}\n";
}

}  // namespace bearfix
