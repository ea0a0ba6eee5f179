#include <cmath>

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

}  // namespace

std::string writeGpx(const ExportModel& model) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"Bearfix\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n";
    for (const ExportFeature& f : model.features) {
        if (f.shape != ExportFeature::kPoint || f.kind == FeatureKind::Track) continue;
        out += "<wpt " + position(f.points[0]) + "><name>" + xmlText(f.name) + "</name>";
        if (!f.description.empty()) out += "<desc>" + xmlText(f.description) + "</desc>";
        out += std::string("<sym>") + symbolOf(f.kind) + "</sym><type>" + featureKindName(f.kind) + "</type></wpt>\n";
    }
    for (const ExportFeature& f : model.features) {
        if (f.kind != FeatureKind::Track) continue;
        out += "<trk><name>" + xmlText(f.name) + "</name><trkseg>\n";
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
