#include "export/region_features.h"

#include <cmath>
#include <string>

#include "support/cp1252.h"

namespace bearfix {

void appendRegionFeatures(ExportModel& model, const HdrRegion& region, uint32_t colour) {
    const int percent = static_cast<int>(std::lround(region.probability * 100.0));
    const int parts = static_cast<int>(region.polygons.size());
    for (int i = 0; i < parts; ++i) {
        ExportFeature f;
        f.kind = FeatureKind::ProbabilityRegion;
        f.shape = ExportFeature::kPolygon;
        f.name = std::to_string(percent) + " % region";
        if (parts > 1) f.name += ", part " + std::to_string(i + 1) + " of " + std::to_string(parts);
        f.description = cp1252ToUtf8(formatRegion(region));
        f.properties = {{"probability", ExportProperty::kNumber, {}, region.probability},
                        {"area_km2", ExportProperty::kNumber, {}, region.areaKm2},
                        {"parts", ExportProperty::kNumber, {}, static_cast<double>(parts)}};
        for (const GeoPosition& p : region.polygons[static_cast<std::size_t>(i)]) f.points.push_back(toDegrees(p));
        f.colour = colour;
        model.features.push_back(std::move(f));
    }
}

}  // namespace bearfix
