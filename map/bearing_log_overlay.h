// The bearing log on the map: each enabled bearing as a thin great-circle
// line from its station, one colour per station, and the best fix as a
// yellow diamond inside its 50 % and 95 % confidence ellipses. The ellipses
// are true ellipses in the east/north plane at the fix (distances and
// directions from the fix kept), followed densely enough to stay smooth.
#pragma once

#include <QColor>
#include <QPainter>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fix/bearing.h"
#include "fix/multi_fix.h"
#include "map/map_view.h"
#include "map/station_colours.h"

namespace bearfix {

// The colour of a slot of stationColourSlots.
QColor stationColour(int slot);

// The outline of an ellipse centred at `centre`, `points` corners.
std::vector<GeoPosition> ellipseOutline(GeoPosition centre, const ConfidenceEllipse& ellipse, int points);

// How far (radians) the line of a bearing from `from` is drawn: past the
// picture's edge, short of the antipode.
double bearingLineLength(const MapView& view, GeoPosition from);

// The lines of the enabled bearings: drawn under the markers of the fix.
// Those with a time before `fadeBefore` (too old for the fix) are faded.
void drawBearingLines(QPainter& painter, const MapView& view, std::span<const Bearing> bearings,
                      std::optional<int64_t> fadeBefore = {});
// The fix's marker and, over it, its ellipses (a small one shows as a ring on
// the marker): drawn over everything else. Nothing without a fix.
void drawBestFix(QPainter& painter, const MapView& view, const FixResult& fix);

}  // namespace bearfix
