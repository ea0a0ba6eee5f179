#include "map/gps_arrow.h"

#include <QPainterPath>
#include <cmath>

#include "geo/great_circle.h"

namespace bearfix {

namespace {

const QColor kArrow(0, 90, 255);
const QColor kHalo(255, 255, 255);

}  // namespace

void drawGpsArrow(QPainter& painter, const MapView& view, GeoPosition p, double courseDeg) {
    double x, y;
    if (!std::isfinite(p.lon) || !std::isfinite(p.lat) || !geo_to_pixel(view, p.lon, p.lat, &x, &y)) return;
    const double reach = kGpsArrowLength;
    if (!(x > -reach && y > -reach && x < painter.device()->width() + reach && y < painter.device()->height() + reach))
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF at(x, y);
    // The direction on the screen: towards a point a little way along the
    // course, so that it is right in either projection and near the poles.
    double ahead = NAN;
    if (std::isfinite(courseDeg)) {
        GeoPosition q;
        const double step = std::max(view.range_km / 1000.0, 0.001) / kEarthRadiusKm;
        gc_destination(p.lon, p.lat, step, courseDeg * kDegToRad, &q.lon, &q.lat);
        double qx, qy;
        if (geo_to_pixel(view, q.lon, q.lat, &qx, &qy) && std::hypot(qx - x, qy - y) > 1e-9)
            ahead = std::atan2(qy - y, qx - x);
    }
    if (!std::isfinite(ahead)) {
        painter.setBrush(kArrow);
        painter.setPen(QPen(kHalo, 2.0));
        painter.drawEllipse(at, 7.0, 7.0);
        painter.restore();
        return;
    }
    // Tip ahead of the position, the notched tail behind it.
    const double l = kGpsArrowLength;
    QPainterPath arrow;
    arrow.moveTo(l * 0.55, 0);
    arrow.lineTo(-l * 0.45, l * 0.38);
    arrow.lineTo(-l * 0.22, 0);
    arrow.lineTo(-l * 0.45, -l * 0.38);
    arrow.closeSubpath();
    painter.translate(at);
    painter.rotate(ahead * kRadToDeg);
    painter.setBrush(kArrow);
    painter.setPen(QPen(kHalo, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(arrow);
    painter.restore();
}

}  // namespace bearfix
