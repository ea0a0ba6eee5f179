#include <algorithm>
#include <cmath>
#include <cstdio>

#include "export/export_text.h"
#include "export/export_writers.h"

namespace bearfix {

namespace {

struct Folder {
    const char* name;
    std::initializer_list<FeatureKind> kinds;
};
const Folder kFolders[] = {
    {"Observers", {FeatureKind::Observer}},     {"Crossings", {FeatureKind::Crossing, FeatureKind::BackCrossing}},
    {"Search area", {FeatureKind::SearchArea}}, {"Sectors", {FeatureKind::Sector}},
    {"Bearing log", {FeatureKind::LogBearing}}, {"Fix of the bearing log", {FeatureKind::LogFix, FeatureKind::Ellipse}},
    {"Tracks", {FeatureKind::Track}},           {"Probability regions", {FeatureKind::ProbabilityRegion}},
};

constexpr uint32_t kDisabledColour = 0x00808080;

// KML's aabbggrr.
std::string kmlColour(uint32_t colourRef, unsigned alpha) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x%06x", alpha & 0xFFu, colourRef & 0xFFFFFFu);
    return text;
}

uint32_t colourOf(const ExportFeature& f) { return f.enabled ? f.colour : kDisabledColour; }

// Everything a style is made of, so that no two styles share an id: a
// track of one point is a point, a bearing left out is paler.
std::string styleId(const ExportFeature& f) {
    char colour[16];
    std::snprintf(colour, sizeof colour, "-%06x", colourOf(f) & 0xFFFFFFu);
    const char* shape = f.shape == ExportFeature::kPoint ? "-point" : f.shape == ExportFeature::kLine ? "-line" : "";
    return featureKindName(f.kind) + std::string(shape) + colour + (f.enabled ? "" : "-off");
}

std::string style(const ExportFeature& f) {
    const uint32_t colour = colourOf(f);
    std::string out = "<Style id=\"" + styleId(f) + "\">";
    if (f.shape == ExportFeature::kPoint) {
        out += "<IconStyle><color>" + kmlColour(colour, 0xFF) + "</color></IconStyle>";
    } else {
        const char* width = f.kind == FeatureKind::Track ? "3" : "2";
        out += "<LineStyle><color>" + kmlColour(colour, f.enabled ? 0xFF : 0x80) + "</color><width>" + width +
               "</width></LineStyle>";
        if (f.shape == ExportFeature::kPolygon)
            out += "<PolyStyle><color>" + kmlColour(colour, fillAlpha(f.kind)) + "</color></PolyStyle>";
    }
    return out + "</Style>\n";
}

std::string coordinates(const std::vector<LonLat>& points, bool close, bool elevations = false) {
    std::string out = "<coordinates>";
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i) out += ' ';
        out += degreesText(points[i].lon) + "," + degreesText(points[i].lat);
        if (elevations) out += "," + numberText(points[i].ele);
    }
    if (close && !points.empty()) out += " " + degreesText(points[0].lon) + "," + degreesText(points[0].lat);
    return out + "</coordinates>";
}

std::string geometry(const ExportFeature& f) {
    std::vector<std::string> parts;
    switch (f.shape) {
        case ExportFeature::kPoint: return "<Point>" + coordinates(f.points, false) + "</Point>";
        case ExportFeature::kLine:
            if (f.kind == FeatureKind::Track) {
                // As track files come: whole, the elevations with every point or none.
                bool all = true;
                for (const LonLat& p : f.points) all = all && std::isfinite(p.ele);
                return "<LineString><tessellate>1</tessellate>" + coordinates(f.points, false, all) + "</LineString>";
            }
            for (const auto& piece : splitLineAtAntimeridian(f.points))
                parts.push_back("<LineString><tessellate>1</tessellate>" + coordinates(piece, false) + "</LineString>");
            break;
        case ExportFeature::kPolygon:
            for (const Ring& piece : splitPolygonAtAntimeridian(f.points))
                parts.push_back("<Polygon><tessellate>1</tessellate><outerBoundaryIs><LinearRing>" +
                                coordinates(piece, true) + "</LinearRing></outerBoundaryIs></Polygon>");
            break;
    }
    if (parts.size() == 1) return parts[0];
    std::string out;
    for (const std::string& p : parts) out += p;
    return out.empty() ? out : "<MultiGeometry>" + out + "</MultiGeometry>";
}

std::string placemark(const ExportFeature& f) {
    const std::string shape = geometry(f);
    if (shape.empty()) return {};
    std::string out = "<Placemark><name>" + xmlText(f.name) + "</name>";
    if (!f.description.empty()) out += "<description>" + xmlText(f.description) + "</description>";
    std::string first, last;
    for (const std::string& t : f.times) {
        if (t.empty()) continue;
        if (first.empty()) first = t;
        last = t;
    }
    if (!first.empty()) out += "<TimeSpan><begin>" + first + "</begin><end>" + last + "</end></TimeSpan>";
    out += "<styleUrl>#" + styleId(f) + "</styleUrl>";
    if (!f.properties.empty()) {
        out += "<ExtendedData>";
        for (const ExportProperty& p : f.properties) {
            const std::string value = p.type == ExportProperty::kNumber ? numberText(p.number)
                                      : p.type == ExportProperty::kFlag ? (p.flag ? "true" : "false")
                                                                        : xmlText(p.text);
            out += "<Data name=\"" + xmlText(p.key) + "\"><value>" + value + "</value></Data>";
        }
        out += "</ExtendedData>";
    }
    return out + shape + "</Placemark>\n";
}

}  // namespace

std::string writeKml(const ExportModel& model) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n<name>Bearfix</name>\n";
    std::vector<std::string> ids;
    for (const ExportFeature& f : model.features) {
        std::string id = styleId(f);
        if (std::find(ids.begin(), ids.end(), id) != ids.end()) continue;
        ids.push_back(std::move(id));
        out += style(f);
    }
    for (const Folder& folder : kFolders) {
        std::string placemarks;
        for (const ExportFeature& f : model.features) {
            if (std::find(folder.kinds.begin(), folder.kinds.end(), f.kind) != folder.kinds.end())
                placemarks += placemark(f);
        }
        if (!placemarks.empty())
            out += "<Folder><name>" + std::string(folder.name) + "</name>\n" + placemarks + "</Folder>\n";
    }
    return out + "</Document>\n</kml>\n";
}

}  // namespace bearfix
