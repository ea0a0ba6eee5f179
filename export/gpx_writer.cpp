#include <climits>
#include <cmath>
#include <cstdint>

#include "export/export_text.h"
#include "export/export_writers.h"

namespace bearfix {

namespace {

const char* symbolOf(FeatureKind kind) {
    switch (kind) {
        case FeatureKind::Observer: return "Flag, Blue";
        case FeatureKind::Crossing: return "Flag, Red";
        case FeatureKind::LogFix: return "Flag, Red";
        default: return "Flag, Green";
    }
}

std::string position(const LonLat& p) {
    return "lat=\"" + degreesText(p.lat) + "\" lon=\"" + degreesText(p.lon) + "\"";
}

// Garmin's display colours (GpxExtensions v3, DisplayColor_t), as red,
// green, blue.
struct GarminColour {
    const char* name;
    int r, g, b;
};
constexpr GarminColour kGarminColours[] = {
    {"Black", 0, 0, 0},          {"DarkRed", 128, 0, 0},       {"DarkGreen", 0, 128, 0},
    {"DarkYellow", 128, 128, 0}, {"DarkBlue", 0, 0, 128},      {"DarkMagenta", 128, 0, 128},
    {"DarkCyan", 0, 128, 128},   {"LightGray", 192, 192, 192}, {"DarkGray", 128, 128, 128},
    {"Red", 255, 0, 0},          {"Green", 0, 255, 0},         {"Yellow", 255, 255, 0},
    {"Blue", 0, 0, 255},         {"Magenta", 255, 0, 255},     {"Cyan", 0, 255, 255},
    {"White", 255, 255, 255},
};

// The nearest of them to a colour 0x00BBGGRR.
const char* garminColour(uint32_t colour) {
    const int r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    const GarminColour* best = &kGarminColours[0];
    int bestDistance = INT32_MAX;
    for (const GarminColour& c : kGarminColours) {
        const int d = (c.r - r) * (c.r - r) + (c.g - g) * (c.g - g) + (c.b - b) * (c.b - b);
        if (d < bestDistance) {
            bestDistance = d;
            best = &c;
        }
    }
    return best->name;
}

}  // namespace

std::string writeGpx(const ExportModel& model) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"Bearfix\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
        "xmlns:gpxx=\"http://www.garmin.com/xmlschemas/GpxExtensions/v3\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd "
        "http://www.garmin.com/xmlschemas/GpxExtensions/v3 http://www8.garmin.com/xmlschemas/GpxExtensionsv3.xsd\">\n";
    for (const ExportFeature& f : model.features) {
        if (f.shape != ExportFeature::kPoint || f.kind == FeatureKind::Track) continue;
        out += "<wpt " + position(f.points[0]) + "><name>" + xmlText(f.name) + "</name>";
        if (!f.description.empty()) out += "<desc>" + xmlText(f.description) + "</desc>";
        out += std::string("<sym>") + symbolOf(f.kind) + "</sym><type>" + featureKindName(f.kind) + "</type></wpt>\n";
    }
    for (const ExportFeature& f : model.features) {
        if (f.kind != FeatureKind::Track) continue;
        // The track's colour as Garmin's units, BaseCamp and GPXSee read it.
        out += "<trk><name>" + xmlText(f.name) + "</name><extensions><gpxx:TrackExtension><gpxx:DisplayColor>" +
               garminColour(f.colour) + "</gpxx:DisplayColor></gpxx:TrackExtension></extensions><trkseg>\n";
        for (std::size_t i = 0; i < f.points.size(); ++i) {
            out += "<trkpt " + position(f.points[i]) + ">";
            if (std::isfinite(f.points[i].ele)) out += "<ele>" + numberText(f.points[i].ele) + "</ele>";
            if (!f.times[i].empty()) out += "<time>" + f.times[i] + "</time>";
            out += "</trkpt>\n";
        }
        out += "</trkseg></trk>\n";
    }
    return out + "</gpx>\n";
}

}  // namespace bearfix
