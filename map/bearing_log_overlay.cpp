#include "map/bearing_log_overlay.h"

#include <QPolygonF>
#include <cmath>
#include <numbers>

#include "geo/great_circle.h"
#include "map/fix_markers.h"
#include "map/qt_convert.h"
#include "map/screen_path.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kMaxLineLength = 0.49 * kPi;  // as the sectors: ahead of the station, short of its antipode
constexpr double kMaxEllipseKm = 5000.0;       // beyond this an ellipse says nothing a map could show
constexpr int kEllipsePoints = 144;
constexpr double kMargin = 50.0;
constexpr int kFadedAlpha = 70;  // a line too old for the fix: there, but in the background

const QColor kHalo(255, 255, 255);
const QColor kEllipseColour(0, 50, 190);
const QColor kFixFill(255, 215, 0);
const QColor kFixEdge(0, 0, 0);

// Farthest distance (radians) from the centre of the view to its picture's
// edges; a line from a station reaches past the picture once it is longer
// than this plus the station's distance from the centre.
double pictureReach(const MapView& view) {
    constexpr int kSteps = 16;
    const int w = static_cast<int>(view.width), h = static_cast<int>(view.height);
    double farthest = 0;
    for (int i = 0; i <= kSteps; ++i) {
        const int x = w * i / kSteps, y = h * i / kSteps;
        for (auto [px, py] : {std::pair{x, 0}, {x, h}, {0, y}, {w, y}}) {
            double lon, lat, dist;
            if (!screen_to_geo(view, px, py, &lon, &lat)) return kMaxLineLength;  // beyond the earth's disc
            gc_distance_course(view.center.lon, view.center.lat, lon, std::clamp(lat, -kPi / 2, kPi / 2), &dist,
                               nullptr);
            farthest = std::max(farthest, dist);
        }
    }
    return farthest;
}

QPen pen(QColor colour, double width) { return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

void drawDiamond(QPainter& p, QPointF c) {
    const double r = 8.0;
    const QPolygonF diamond({c + QPointF(0, -r), c + QPointF(r, 0), c + QPointF(0, r), c + QPointF(-r, 0)});
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kHalo, 4.5));
    p.drawPolygon(diamond);
    p.setBrush(kFixFill);
    p.setPen(pen(kFixEdge, 1.5));
    p.drawPolygon(diamond);
}

}  // namespace

QColor stationColour(int slot) { return fromColourRef(stationColourRef(slot)); }

std::vector<GeoPosition> ellipseOutline(GeoPosition centre, const ConfidenceEllipse& e, int points) {
    std::vector<GeoPosition> outline(static_cast<std::size_t>(points));
    const double theta = e.orientationDeg * kDegToRad, s = std::sin(theta), c = std::cos(theta);
    for (int i = 0; i < points; ++i) {
        const double t = 2 * kPi * i / points;
        const double major = e.semiMajorKm * std::cos(t), minor = e.semiMinorKm * std::sin(t);
        const double east = major * s + minor * c, north = major * c - minor * s;
        GeoPosition& p = outline[static_cast<std::size_t>(i)];
        gc_destination(centre.lon, centre.lat, std::hypot(east, north) / kEarthRadiusKm, std::atan2(east, north), &p.lon,
                       &p.lat);
    }
    return outline;
}

namespace {

// The length of a line from `from` on a view whose picture reaches `reach`.
double lineLength(const MapView& view, double reach, GeoPosition from) {
    double fromCentre;
    gc_distance_course(view.center.lon, view.center.lat, from.lon, from.lat, &fromCentre, nullptr);
    return std::min((fromCentre + reach) * 1.05, kMaxLineLength);
}

}  // namespace

double bearingLineLength(const MapView& view, GeoPosition from) { return lineLength(view, pictureReach(view), from); }

void drawBearingLines(QPainter& painter, const MapView& view, std::span<const Bearing> bearings,
                      std::optional<int64_t> fadeBefore) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const PixelBox box = pictureBox(painter.device()->width(), painter.device()->height(), kMargin);
    const double reach = pictureReach(view);
    const std::vector<int> slotOfRow = stationColourSlots(bearings);
    PathTracer tracer;
    std::vector<PixelPoint> scratch;
    QPolygonF run;
    for (std::size_t i = 0; i < bearings.size(); ++i) {
        const Bearing& b = bearings[i];
        if (!b.enabled || !std::isfinite(b.bearingDeg) || !std::isfinite(b.position.lon) ||
            !std::isfinite(b.position.lat) || std::fabs(b.position.lat) > kPi / 2)
            continue;
        const double length = lineLength(view, reach, b.position);
        GeoPosition end;
        gc_destination(b.position.lon, b.position.lat, length, b.bearingDeg * kDegToRad, &end.lon, &end.lat);
        tracer.start(view, GeoEdge::kGreatCircle, box, PathTracer::kCut);
        tracer.moveTo(b.position.lon, b.position.lat);
        tracer.lineTo(end.lon, end.lat);
        QColor colour = stationColour(slotOfRow[i]);
        const bool faded = fadeBefore && b.utc && *b.utc < *fadeBefore;
        if (faded) colour.setAlpha(kFadedAlpha);
        painter.setPen(pen(colour, faded ? 1.0 : 1.5));
        const std::vector<PixelPoint>& points = tracer.points();
        const std::vector<int>& starts = tracer.starts();
        for (std::size_t k = 0; k < starts.size(); ++k) {
            const int stop = k + 1 < starts.size() ? starts[k + 1] : static_cast<int>(points.size());
            clipPolyline(points.data() + starts[k], stop - starts[k], tracer.period(), box, scratch,
                         [&](const PixelPoint* piece, int n) {
                             run.clear();
                             for (int m = 0; m < n; ++m) run << QPointF(piece[m].x, piece[m].y);
                             painter.drawPolyline(run);
                         });
        }
    }
    painter.restore();
}

void drawBestFix(QPainter& painter, const MapView& view, const FixResult& fix) {
    if (fix.status != FixStatus::Found) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    double x, y;
    if (geo_to_pixel(view, fix.x.lon, fix.x.lat, &x, &y) && x > -20 && y > -20 && x < view.width + 20 &&
        y < view.height + 20)
        drawDiamond(painter, QPointF(x, y));
    painter.setBrush(Qt::NoBrush);
    for (const auto& [ellipse, width] : {std::pair{fix.ellipse95, 2.0}, std::pair{fix.ellipse50, 1.5}}) {
        if (!(ellipse.semiMajorKm <= kMaxEllipseKm)) continue;
        const std::vector<GeoPosition> outline = ellipseOutline(fix.x, ellipse, kEllipsePoints);
        painter.setPen(pen(kHalo, width + 2.0));
        drawGreatCirclePolygon(painter, view, outline);
        painter.setPen(pen(kEllipseColour, width));
        drawGreatCirclePolygon(painter, view, outline);
    }
    painter.restore();
}

}  // namespace bearfix
