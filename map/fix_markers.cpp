#include "map/fix_markers.h"

#include <QFont>
#include <QPolygonF>
#include <cmath>

#include "geo/fix_geometry.h"
#include "map/qt_convert.h"
#include "map/screen_path.h"
#include "support/vector_state.h"

namespace bearfix {

namespace {

constexpr double kMargin = 50.0;  // pixels beyond the picture that lines are kept to

QPen pen(QColor colour, double width) { return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

const QColor kHalo(255, 255, 255);
const QColor kMark(0, 0, 0);
const QColor kAreaColour(220, 0, 0);

void drawRing(QPainter& p, QPoint at, double radius, bool cross) {
    const QPointF c(at);
    p.setBrush(Qt::NoBrush);
    for (const auto& [colour, width] : {std::pair{kHalo, 4.5}, std::pair{kMark, 2.0}}) {
        p.setPen(pen(colour, width));
        p.drawEllipse(c, radius, radius);
        if (cross) {
            const double arm = radius + 5.0;
            p.drawLine(c + QPointF(-arm, 0), c + QPointF(-2, 0));
            p.drawLine(c + QPointF(2, 0), c + QPointF(arm, 0));
            p.drawLine(c + QPointF(0, -arm), c + QPointF(0, -2));
            p.drawLine(c + QPointF(0, 2), c + QPointF(0, arm));
        }
    }
}

void drawObserver(QPainter& p, QPoint at, QColor colour, const QString& letter) {
    const double radius = 8.0;
    const QPointF c(at);
    p.setPen(pen(kHalo, 1.5));
    p.setBrush(colour);
    p.drawEllipse(c, radius, radius);
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(kHalo);
    p.drawText(QRectF(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius), Qt::AlignCenter, letter);
}

// The pixel of a marker, when it shows in the picture.
bool markerAt(const MapView& view, const QPainter& painter, GeoPosition p, QPoint* at) {
    int x, y;
    if (!std::isfinite(p.lon) || !std::isfinite(p.lat) || !geo_to_screen(view, p.lon, p.lat, &x, &y)) return false;
    const int reach = 20;
    if (x < -reach || y < -reach || x > painter.device()->width() + reach || y > painter.device()->height() + reach)
        return false;
    *at = QPoint(x, y);
    return true;
}

}  // namespace

void drawGreatCirclePolygon(QPainter& painter, const MapView& view, const std::vector<GeoPosition>& corners,
                            RowSpans* touched) {
    if (corners.size() < 2) return;
    clearUpperVectorState();  // the drawing before may have left it dirty
    const PixelBox box = pictureBox(painter.device()->width(), painter.device()->height(), kMargin);
    PathTracer tracer;
    tracer.start(view, GeoEdge::kGreatCircle, box, PathTracer::kCut);
    tracer.moveTo(corners[0].lon, corners[0].lat);
    for (std::size_t i = 1; i < corners.size(); ++i) tracer.lineTo(corners[i].lon, corners[i].lat);
    tracer.lineTo(corners[0].lon, corners[0].lat);
    const std::vector<PixelPoint>& points = tracer.points();
    const std::vector<int>& starts = tracer.starts();
    std::vector<PixelPoint> scratch;
    QPolygonF run;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const int end = i + 1 < starts.size() ? starts[i + 1] : static_cast<int>(points.size());
        clipPolyline(points.data() + starts[i], end - starts[i], tracer.period(), box, scratch,
                     [&](const PixelPoint* piece, int n) {
                         run.clear();
                         for (int k = 0; k < n; ++k) run << QPointF(piece[k].x, piece[k].y);
                         // Half the pen, its round caps and a pixel of antialiasing, with room to spare.
                         for (int k = 1; touched && k < n; ++k)
                             touched->addSegment(piece[k - 1], piece[k], painter.pen().widthF() + 3);
                         painter.drawPolyline(run);
                         clearUpperVectorState();
                     });
    }
}

void drawFixMarkers(QPainter& painter, const MapView& view, const MapSettings& s, const Fix& fix,
                    GeoPosition observerA, GeoPosition observerB, RowSpans* touched) {
    clearUpperVectorState();  // the drawing before may have left it dirty
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const bool haveX = fix.computed && fix.crossing.status == 0;
    if (haveX && fix.area.kind == SearchArea::kBounded && fix.area.polygon.size() >= 2) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(pen(kHalo, 5.0));
        drawGreatCirclePolygon(painter, view, fix.area.polygon, touched);
        painter.setPen(pen(kAreaColour, 3.0));
        drawGreatCirclePolygon(painter, view, fix.area.polygon, touched);
    }
    QPoint at;
    clearUpperVectorState();
    // A marker stays within its cross's arms (radius 7 and 5) and its halo.
    auto mark = [touched](QPoint at) {
        constexpr double kReach = 7.0 + 5.0 + 4.5 + 3;
        if (touched) touched->addBox(at.x() - kReach, at.y() - kReach, at.x() + kReach, at.y() + kReach);
    };
    for (const BackBearingCrossing& c : fix.alternatives) {
        if (!markerAt(view, painter, c.x, &at)) continue;
        drawRing(painter, at, 6.0, false);
        mark(at);
    }
    if (markerAt(view, painter, observerA, &at)) {
        drawObserver(painter, at, fromColourRef(s.colourA), "A");
        mark(at);
    }
    if (markerAt(view, painter, observerB, &at)) {
        drawObserver(painter, at, fromColourRef(s.colourB), "B");
        mark(at);
    }
    if (haveX && markerAt(view, painter, fix.crossing.x, &at)) {
        drawRing(painter, at, 7.0, true);
        mark(at);
    }
    painter.restore();
}

}  // namespace bearfix
