// The probability map's highest-density regions as export features: one
// polygon per part, for KML and GeoJSON.
#pragma once

#include <cstdint>

#include "export/export_model.h"
#include "search/hdr_region.h"

namespace bearfix {

// Appends "95 % region" (or "95 % region, part 2 of 3", ...) polygons of
// kind ProbabilityRegion, with the region's probability, area and parts as
// properties; `colour` is 0x00BBGGRR.
void appendRegionFeatures(ExportModel& model, const HdrRegion& region, uint32_t colour);

}  // namespace bearfix
