#include "map/fix_markers.h"

#include <QFont>
#include <QPolygonF>
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "geo/fix_geometry.h"
#include "map/qt_convert.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kMaxStepsPerEdge = 4096;
constexpr double kMargin = 50.0;  // pixels beyond the picture that lines are kept to

using Vec = std::array<double, 3>;

Vec unit_vector(GeoPosition p) {
    return {std::cos(p.lat) * std::cos(p.lon), std::cos(p.lat) * std::sin(p.lon), std::sin(p.lat)};
}

// The pixel of a point as a fraction and without geo_to_screen's limit of
// +-32767, so that an edge keeps its direction far off the picture.
bool project(const MapView& v, const Vec& q, QPointF* out) {
    const double lon = std::atan2(q[1], q[0]), lat = std::atan2(q[2], std::hypot(q[0], q[1]));
    double x, y;
    if (v.projection == kAzimuthal) {
        if (!azimuthal_forward(v, lon, lat, &x, &y)) return false;
    } else {
        const double lonExtent = v.lon_max - v.lon_min, latExtent = v.lat_max - v.lat_min;
        const double east = v.center.lon + std::remainder(lon - v.center.lon, 2 * kPi);
        x = lonExtent > 0 ? (east - v.lon_min) * v.width / lonExtent : 0.0;
        y = latExtent > 0 ? (v.lat_max - lat) * v.height / latExtent : 0.0;
    }
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    *out = QPointF(x, y);
    return true;
}

// Pixels per radian of arc near the centre.
double pixelsPerRadian(const MapView& v) {
    if (v.projection == kAzimuthal) return v.scale;
    return v.lat_max > v.lat_min ? v.height / (v.lat_max - v.lat_min) : 1.0;
}

// The part of the segment p-q inside the rectangle (Liang-Barsky); false
// when none is.
bool clipSegment(QPointF& p, QPointF& q, const QRectF& r) {
    double t0 = 0.0, t1 = 1.0;
    const double dx = q.x() - p.x(), dy = q.y() - p.y();
    const double edges[4][2] = {{-dx, p.x() - r.left()}, {dx, r.right() - p.x()},
                                {-dy, p.y() - r.top()},  {dy, r.bottom() - p.y()}};
    for (const auto& [step, room] : edges) {
        if (step == 0.0) {
            if (room < 0.0) return false;
            continue;
        }
        const double t = room / step;
        if (step < 0.0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        if (t0 > t1) return false;
    }
    const QPointF start = p;
    p = start + t0 * QPointF(dx, dy);
    q = start + t1 * QPointF(dx, dy);
    return true;
}

// Draws the pixel line, cut to the picture with a margin, as polylines.
void drawClipped(QPainter& painter, const std::vector<QPointF>& line, QPointF shift) {
    const QRectF area(-kMargin, -kMargin, painter.device()->width() + 2 * kMargin,
                      painter.device()->height() + 2 * kMargin);
    QPolygonF run;
    auto flush = [&] {
        if (run.size() >= 2) painter.drawPolyline(run);
        run.clear();
    };
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        QPointF p = line[i] + shift, q = line[i + 1] + shift;
        if (!clipSegment(p, q, area)) {
            flush();
            continue;
        }
        if (run.isEmpty() || run.back() != p) {
            flush();
            run << p;
        }
        run << q;
    }
    flush();
}

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

void drawGreatCirclePolygon(QPainter& painter, const MapView& view, const std::vector<GeoPosition>& corners) {
    if (corners.size() < 2) return;
    const double step = std::sqrt(2.0 / std::max(pixelsPerRadian(view), 1e-9));  // chords within 1/4 pixel
    std::vector<Vec> ring;
    for (GeoPosition c : corners) ring.push_back(unit_vector(c));
    ring.push_back(ring.front());

    std::vector<QPointF> line;
    const bool cylindric = view.projection != kAzimuthal;
    const double world = view.lon_max > view.lon_min ? 2 * kPi * view.width / (view.lon_max - view.lon_min) : 0.0;
    auto add = [&](const Vec& q) {
        QPointF p;
        if (!project(view, q, &p)) return;
        // Followed continuously round the antimeridian; the copies drawn
        // one world to either side bring back what runs off.
        if (cylindric && !line.empty() && world > 0) p.rx() += world * std::round((line.back().x() - p.x()) / world);
        line.push_back(p);
    };
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        const Vec& p = ring[i];
        const Vec& q = ring[i + 1];
        const Vec c = {p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]};
        const double length = std::atan2(std::hypot(c[0], c[1], c[2]), p[0] * q[0] + p[1] * q[1] + p[2] * q[2]);
        const int steps = length > 0.0 ? std::clamp(static_cast<int>(std::ceil(length / step)), 1, kMaxStepsPerEdge) : 1;
        for (int k = 0; k < steps; ++k) {
            if (length <= 0.0 || k == 0) {
                add(p);
                continue;
            }
            const double t = static_cast<double>(k) / steps;
            const double wp = std::sin((1 - t) * length) / std::sin(length), wq = std::sin(t * length) / std::sin(length);
            add({wp * p[0] + wq * q[0], wp * p[1] + wq * q[1], wp * p[2] + wq * q[2]});
        }
    }
    add(ring.back());
    if (cylindric && world > 0) {
        for (int copy = -1; copy <= 1; ++copy) drawClipped(painter, line, QPointF(copy * world, 0));
    } else {
        // A jump right across an azimuthal map passes near the antipode of its centre.
        std::vector<QPointF> piece;
        for (const QPointF& p : line) {
            if (!piece.empty() && std::hypot(p.x() - piece.back().x(), p.y() - piece.back().y()) > kPi * view.scale) {
                drawClipped(painter, piece, {});
                piece.clear();
            }
            piece.push_back(p);
        }
        drawClipped(painter, piece, {});
    }
}

void drawFixMarkers(QPainter& painter, const MapView& view, const MapSettings& s, GeoPosition observerA,
                    GeoPosition observerB) {
    const Fix fix =
        compute_fix({s.pos1, s.pos2, s.brg1x, s.brg2x, s.brg1Tol, s.brg2Tol, s.ambiguity1, s.ambiguity2});
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const bool haveX = fix.computed && fix.crossing.status == 0;
    if (haveX && fix.area.kind == SearchArea::kBounded && fix.area.polygon.size() >= 2) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(pen(kHalo, 5.0));
        drawGreatCirclePolygon(painter, view, fix.area.polygon);
        painter.setPen(pen(kAreaColour, 3.0));
        drawGreatCirclePolygon(painter, view, fix.area.polygon);
    }
    QPoint at;
    for (const BackBearingCrossing& c : fix.alternatives) {
        if (markerAt(view, painter, c.x, &at)) drawRing(painter, at, 6.0, false);
    }
    if (markerAt(view, painter, observerA, &at)) drawObserver(painter, at, fromColourRef(s.colourA), "A");
    if (markerAt(view, painter, observerB, &at)) drawObserver(painter, at, fromColourRef(s.colourB), "B");
    if (haveX && markerAt(view, painter, fix.crossing.x, &at)) drawRing(painter, at, 7.0, true);
    painter.restore();
}

}  // namespace bearfix
