// The grid of meridians and parallels, or of locator fields and squares,
// and its labels.
#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "map/label_placer.h"
#include "map/map_composer.h"
#include "map/map_parts.h"
#include "map/qt_convert.h"
#include "support/number_format.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
// Grid lines a view may ask for in each direction.
constexpr double kMaxGridLines = 100.0;

}  // namespace

std::string gridLabel(double degrees, double step, bool longitude) {
    if (std::fabs(degrees) < step * 1e-6) degrees = 0;  // a sum of steps that missed 0
    if (longitude) {
        degrees = std::remainder(degrees, 360.0);  // the copies beyond the antimeridian
        if (degrees <= -180) degrees += 360;
    }
    const char* pattern = step >= 1      ? "0"
                          : step >= 0.1  ? "0.0"
                          : step >= 0.01 ? "0.00"
                          : step >= 1e-3 ? "0.000"
                                         : "0.0000";
    const char hemisphere = longitude ? (degrees < 0 ? 'W' : 'E') : (degrees < 0 ? 'S' : 'N');
    return formatPicture(std::fabs(degrees), pattern) + "\xB0" + hemisphere;
}

namespace {

// A grid label before it is placed: the line it names, the point of the
// line it goes beside, where its text is drawn and the box that takes.
struct GridCandidate {
    long index = 0;  // the line's value in steps
    QPoint anchor, at;
    QString text;
    QRect box;
};

// Puts the text below right of its anchor, or above or left of it where it
// would leave the picture; false when it does not fit at all.
bool besideAnchor(GridCandidate& c, const QFontMetrics& metrics, QSize picture) {
    const QRect atOrigin = LabelPlacer::boxOf(c.text, 0, 0, metrics, kLabelFlags);
    int x = c.anchor.x() + 2, y = c.anchor.y() + 1;
    if (x + atOrigin.right() >= picture.width()) x = c.anchor.x() - 2 - atOrigin.right();
    if (y + atOrigin.bottom() >= picture.height()) y = c.anchor.y() - 1 - atOrigin.bottom();
    c.at = QPoint(x, y);
    c.box = atOrigin.translated(x, y);
    return QRect(QPoint(0, 0), picture).contains(c.box);
}

// k lines of `step` make a round number: a 1, 2, 5 series below a degree,
// a divisor of 180 degrees above.
bool roundMultiple(long k, double step) {
    const double m = static_cast<double>(k) * step;
    if (m >= 1 - 1e-9) return std::fabs(180 / m - std::round(180 / m)) < 1e-6;
    for (long p = 1; p <= k; p *= 10)
        if (k == p || k == 2 * p || k == 5 * p) return true;
    return false;
}

// Of one family of lines, the labels of every k-th line, k as small as lets
// none cover another; a line a wide map shows twice is labelled once.
std::vector<GridCandidate> everyKth(std::vector<GridCandidate> all, double step) {
    std::vector<GridCandidate> unique;
    for (GridCandidate& c : all)
        if (std::none_of(unique.begin(), unique.end(), [&](const GridCandidate& u) { return u.text == c.text; }))
            unique.push_back(std::move(c));
    for (long k = 1; k <= static_cast<long>(unique.size()); ++k) {
        if (!roundMultiple(k, step)) continue;
        std::vector<GridCandidate> chosen;
        for (const GridCandidate& c : unique)
            if (c.index % k == 0) chosen.push_back(c);
        bool clear = true;
        for (std::size_t i = 0; clear && i < chosen.size(); ++i)
            for (std::size_t j = i + 1; clear && j < chosen.size(); ++j) clear = !chosen[i].box.intersects(chosen[j].box);
        if (clear) return chosen;
    }
    if (unique.size() > 1) unique.resize(1);
    return unique;
}

}  // namespace

void MapComposer::drawGrid(int mode, bool keepRulerCorner) {
    gridLabels_.clear();
    if (mode < 1 || mode > 3) return;
    QPainter& p = *painter_;
    p.save();
    fontColour_ = QColor(96, 96, 96);
    constexpr double deg = 180.0 / kPi;
    const double latSpan = 2.0 * range_ / kEarthRadiusKm * deg;  // degrees from bottom to top
    const double latCentre = view_.center.lat * deg, lonCentre = view_.center.lon * deg;
    double latLow = std::max(-90.0, latCentre - latSpan), latHigh = std::min(90.0, latCentre + latSpan);
    bool allLongitudes = view_.lon_max - view_.lon_min >= 2 * kPi || latHigh >= 89.0 || latLow <= -89.0;
    double lonHalf = (view_.lon_max - view_.lon_min) * 90.0 / kPi + 1.0;
    if (view_.projection == kAzimuthal) {
        // What the corners reach: a cap round the centre, with all longitudes once it holds a pole.
        const double reach = std::min(kPi, range_ / kEarthRadiusKm * std::hypot(1.0, view_.width / view_.height));
        latLow = std::max(-90.0, latCentre - reach * deg);
        latHigh = std::min(90.0, latCentre + reach * deg);
        allLongitudes = reach >= kPi / 2 - std::fabs(view_.center.lat);
        if (!allLongitudes) lonHalf = std::asin(std::min(1.0, std::sin(reach) / std::cos(view_.center.lat))) * deg * 1.01;
    }
    const double lonLow = allLongitudes ? -180.0 : lonCentre - lonHalf;
    const double lonHigh = allLongitudes ? 180.0 : lonCentre + lonHalf;
    // Degrees of longitude across the picture, for the step of the meridians.
    const double lonSeen = allLongitudes ? 360.0
                           : view_.projection == kAzimuthal ? 2.0 * lonHalf
                                                             : (view_.lon_max - view_.lon_min) * deg;

    auto line = [this](double lat0, double lon0, double lat1, double lon1) {
        MapPoint points[181];
        for (int i = 0; i <= 180; ++i) {
            double t = i / 180.0;
            points[i] = {static_cast<float>((lat0 + t * (lat1 - lat0)) * kPi / 180.0),
                         static_cast<float>((lon0 + t * (lon1 - lon0)) * kPi / 180.0), 0.0f, i};
        }
        drawPointBatch(view_, points, 181);
    };
    const QSize picture(p.device()->width(), p.device()->height());
    const QFontMetrics metrics = p.fontMetrics();
    auto onScreen = [&](double lat, double lon, QPoint* at) {
        int x, y;
        if (!geo_to_screen(view_, lon * kPi / 180.0, lat * kPi / 180.0, &x, &y) || x < 0 || y < 0 ||
            x >= picture.width() || y >= picture.height())
            return false;
        *at = QPoint(x, y);
        return true;
    };
    // Where an azimuthal line's label goes: of its points in the picture, for
    // a meridian the one farthest from the poles, where the meridians fan
    // out; for a parallel the leftmost, as on a cylindric map.
    std::vector<QPointF> poles;
    for (double pole : {kPi / 2, -kPi / 2}) {
        double x, y;
        if (geo_to_pixel(view_, 0.0, pole, &x, &y)) poles.emplace_back(x, y);
    }
    auto alongLine = [&](double lat0, double lon0, double lat1, double lon1, bool meridian, QPoint* at) {
        constexpr int kSamples = 720;
        bool found = false;
        double best = 0;
        for (int i = 0; i <= kSamples; ++i) {
            const double t = i / static_cast<double>(kSamples);
            double x, y;
            if (!geo_to_pixel(view_, (lon0 + t * (lon1 - lon0)) * kPi / 180.0, (lat0 + t * (lat1 - lat0)) * kPi / 180.0,
                              &x, &y) ||
                !(x >= 0 && y >= 0 && x <= picture.width() - 1 && y <= picture.height() - 1))
                continue;
            double score = -x;
            if (meridian) {
                score = HUGE_VAL;
                for (const QPointF& pole : poles) score = std::min(score, std::hypot(x - pole.x(), y - pole.y()));
            }
            if (!found || score > best) {
                *at = QPoint(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
                best = score;
            }
            found = true;
        }
        return found;
    };
    // The ruler's corner (at most a quarter of the width) is kept free while
    // the ruler is shown: the overlay draws over it.
    LabelPlacer placer;
    if (keepRulerCorner) placer.place(QRect(0, picture.height() - 36, picture.width() / 4 + 24, 36));
    auto show = [&](const GridCandidate& c) {
        if (!placer.place(c.box)) return;
        drawLabel(c.at.x(), c.at.y(), c.text, false);
        gridLabels_.push_back({c.box, c.anchor, c.text});
    };
    auto grid = [&](double lonStep, double latStep, QColor colour, int width) {
        p.setPen(QPen(colour, width));
        for (double lon = std::floor(lonLow / lonStep) * lonStep; lon <= lonHigh; lon += lonStep)
            line(latLow, lon, latHigh, lon);
        for (double lat = std::ceil(latLow / latStep) * latStep; lat <= latHigh; lat += latStep)
            line(lat, lonLow, lat, lonHigh);
    };

    if (mode == 1) {
        // Square meshes where the view allows, never more than about 100 lines a direction.
        const double step = std::min(30.0, niceStepBelow(std::max(latSpan / 4.0, 1e-4)));
        const double lonStep = std::max(step, niceStepAbove(lonSeen / kMaxGridLines));
        const double latStep = std::max(step, niceStepAbove((latHigh - latLow) / kMaxGridLines));
        grid(lonStep, latStep, QColor(160, 160, 160), 1);
        const bool azimuthal = view_.projection == kAzimuthal;
        // Meridians are labelled at the top of the picture, or of the earth where the picture reaches past the pole.
        const double labelLat = std::min(view_.lat_max * deg, 90.0) - latSpan * 0.001;
        std::vector<GridCandidate> meridians, parallels;
        auto add = [&](std::vector<GridCandidate>& family, double value, double step, bool longitude, QPoint anchor) {
            GridCandidate c{std::lround(value / step), anchor, {}, toQString(gridLabel(value, step, longitude)), {}};
            if (besideAnchor(c, metrics, picture)) family.push_back(std::move(c));
        };
        QPoint anchor;
        for (double lon = std::floor(lonLow / lonStep) * lonStep; lon <= lonHigh; lon += lonStep)
            if (azimuthal ? alongLine(latLow, lon, latHigh, lon, true, &anchor) : onScreen(labelLat, lon, &anchor))
                add(meridians, lon, lonStep, true, anchor);
        // Parallels at the left edge, which a cylindric parallel always reaches: a
        // picture wider than the earth has its western edge on another copy.
        for (double lat = std::ceil(latLow / latStep) * latStep; lat <= latHigh; lat += latStep)
            if (azimuthal ? alongLine(lat, lonLow, lat, lonHigh, false, &anchor) : onScreen(lat, lonCentre, &anchor))
                add(parallels, lat, latStep, false, QPoint(azimuthal ? anchor.x() : 0, anchor.y()));
        for (const GridCandidate& c : everyKth(std::move(meridians), lonStep)) show(c);
        for (const GridCandidate& c : everyKth(std::move(parallels), latStep)) show(c);
    } else {
        // Maidenhead locator: fields of 20 x 10 degrees (AA..RR), squares of
        // 2 x 1 degrees (00..99).
        const double pixelsPerDegree = p.device()->height() / latSpan;
        const bool squares = mode == 3 && pixelsPerDegree >= 30.0 &&  // room for "JO42" in a square
                             lonSeen / 2.0 <= kMaxGridLines;
        if (squares) grid(2.0, 1.0, QColor(190, 190, 220), 1);
        grid(20.0, 10.0, QColor(110, 110, 200), 2);
        const double lonStep = squares ? 2.0 : 20.0, latStep = squares ? 1.0 : 10.0;
        for (double lon = std::floor((lonLow + 180.0) / lonStep) * lonStep - 180.0; lon < lonHigh; lon += lonStep) {
            for (double lat = std::floor((latLow + 90.0) / latStep) * latStep - 90.0; lat < latHigh; lat += latStep) {
                const int fieldLon = static_cast<int>((lon + 180.0) / 20.0), fieldLat = static_cast<int>((lat + 90.0) / 10.0);
                if (fieldLon < 0 || fieldLon > 17 || fieldLat < 0 || fieldLat > 17) continue;
                QString text = QString(QChar('A' + fieldLon)) + QChar('A' + fieldLat);
                if (squares) {
                    const int squareLon = static_cast<int>(std::fmod(lon + 180.0, 20.0) / 2.0 + 1e-9);
                    const int squareLat = static_cast<int>(std::fmod(lat + 90.0, 10.0) + 1e-9);
                    text += QString::number(squareLon) + QString::number(squareLat);
                }
                GridCandidate c;
                if (!onScreen(lat + latStep * 0.9, lon + lonStep * 0.05, &c.anchor) ||
                    c.anchor.x() >= picture.width() - 20 || c.anchor.y() >= picture.height() - 12)
                    continue;
                c.at = c.anchor + QPoint(2, 1);
                c.text = text;
                c.box = LabelPlacer::boxOf(text, c.at.x(), c.at.y(), metrics, kLabelFlags);
                show(c);
            }
        }
    }
    p.restore();
}

}  // namespace bearfix
