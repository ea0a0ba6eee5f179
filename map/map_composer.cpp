#include "map/map_composer.h"

#include <QFont>
#include <QPainterPath>
#include <QPolygonF>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <optional>

#include "cities/cities.h"
#include "geo/great_circle.h"
#include "geo/position_patterns.h"
#include "map/fix_markers.h"
#include "map/map_parts.h"
#include "map/qt_convert.h"
#include "map/terrain_notice.h"
#include "map/topography.h"
#include "map/vector_bands.h"
#include "map/vector_file.h"
#include "support/message_log.h"
#include "support/number_format.h"
#include "support/text_scanner.h"
#include "support/vector_state.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kMaxSectorLength = 1.5393804002589986;  // 0.49 pi: sectors stop short of the antipode
constexpr double kArcStep = kPi / 180;

// An angle into [-pi, pi], however far outside it lies.
double aroundZero(double a) { return a - 2 * kPi * std::round(a / (2 * kPi)); }

// Runs `paint` on a thread of Qt's global pool and waits for it. Qt spreads
// a large fill over that pool unless it is painted on one of its threads;
// for the overlay's few fills, waking the threads costs more than it saves
// (a keystroke's picture in half the time). Pixels are the same either way.
template <class Paint>
void onPoolThread(Paint&& paint) {
    QThreadPool* pool = QThreadPool::globalInstance();
    if (pool->contains(QThread::currentThread())) return paint();
    QSemaphore done;
    if (!pool->tryStart([&paint, &done] {
            paint();
            done.release();
        }))
        return paint();  // every thread busy: here, spread as Qt does
    done.acquire();
}

// The rows of either drawing, as rectangles of a few rows each: few enough
// for a quick clip, where a picture is shown again.
QRegion changedRows(const RowSpans& a, const RowSpans& b) {
    constexpr int kBand = 8;
    std::vector<QRect> rects;
    for (int top = 0; top < a.height(); top += kBand) {
        int left = INT_MAX, right = -1;
        for (int y = top; y < std::min(top + kBand, a.height()); ++y) {
            for (const RowSpans* rows : {&a, &b}) {
                if (rows->right(y) < rows->left(y)) continue;
                left = std::min(left, rows->left(y));
                right = std::max(right, rows->right(y));
            }
        }
        if (right < left) continue;
        const int bottom = std::min(top + kBand, a.height()) - 1;
        if (!rects.empty() && rects.back().bottom() == top - 1 && rects.back().left() == left &&
            rects.back().right() == right) {
            rects.back().setBottom(bottom);
        } else {
            rects.emplace_back(QPoint(left, top), QPoint(right, bottom));
        }
    }
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

// Copies the spans of rows top..bottom from one picture's pixels to another's
// of the same layout.
void copySpans(uchar* to, const uchar* from, qsizetype stride, int pixel, const RowSpans& rows, int top, int bottom) {
    for (int y = top; y <= bottom; ++y) {
        if (rows.right(y) < rows.left(y)) continue;
        const qsizetype at = y * stride + rows.left(y) * pixel;
        std::memcpy(to + at, from + at, static_cast<std::size_t>((rows.right(y) - rows.left(y) + 1) * pixel));
    }
}

QFont mapFont() {
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    return font;
}

constexpr double kMinRange = 0.01, kMaxRange = 20000.0;  // the zoom limits, in km

// The range field: a number (at most 80 characters are looked at), else 20000 km;
// whatever was typed or stored, within the zoom limits.
double rangeIn(const std::string& text) {
    const std::string head = text.substr(0, 80);
    const char* cursor = head.c_str();
    const double range = parseDouble(cursor, kMaxRange);
    return range >= kMinRange ? std::min(range, kMaxRange) : kMinRange;
}

// A whole number as the whole text (blanks around it allowed), or `fallback`.
int integerIn(const std::string& text, int fallback) {
    const std::size_t b = text.find_first_not_of(' '), e = text.find_last_not_of(' ');
    if (b == std::string::npos) return fallback;
    int value = 0;
    auto [end, ec] = std::from_chars(text.data() + b, text.data() + e + 1, value);
    return ec == std::errc() && end == text.data() + e + 1 ? value : fallback;
}

}  // namespace

void LabelBox::add(int x, int y) {
    if (x < 0) x = 0;
    if (empty()) {
        left = right = x;
        top = bottom = y;
        return;
    }
    left = std::min(left, x);
    right = std::max(right, x);
    top = std::min(top, y);
    bottom = std::max(bottom, y);
}

MapComposer::MapComposer() { map_view_setup(view_, kCylindric, 0.0, 0.0, range_, 1, 1); }

bool MapComposer::zoomedRange(int steps, double* range) const {
    double r = range_;
    steps = std::clamp(steps, -10, 10);
    for (int i = 0; i < steps; ++i) r *= 0.5;
    for (int i = 0; i > steps; --i) r *= 2.0;
    if (r > 20000.0) {
        r = 20000.0;
        logMessage(MessageLevel::Debug, "Min. zoom step exceeded");
    }
    if (r < 0.01) {
        r = 0.01;
        logMessage(MessageLevel::Debug, "Max. zoom step exceeded");
    }
    *range = r;
    return !(r == range_ && steps != 0);
}

// ---- base map --------------------------------------------------------------

void MapComposer::drawBaseMap(QImage& bitmap, const MapSettings& s, GeoPosition& mapCenter) {
    if (bitmap.width() < 10 || bitmap.height() < 10) return;
    // Layers with nothing drawn on them share the last base map's pixels:
    // let go, drawing on it would copy them. They are drawn again over this one.
    trackLayer_ = QImage();
    if (lineLayer_.constBits() == bitmap.constBits()) lineLayer_ = QImage();

    // A text that is no position ("no intersection found" for X) leaves the
    // map where it is.
    GeoPosition p;
    if ((s.centerHow == 1 && read_position(s.pos1, p)) || (s.centerHow == 2 && read_position(s.pos2, p)) ||
        (s.centerHow == 3 && read_position(s.locationX, p)) || (s.centerHow == 4 && read_position(s.logFix, p)) ||
        (s.centerHow == 5 && read_position(s.gpsPosition, p)))
        mapCenter = p;

    range_ = rangeIn(s.rangeKm);
    projection_ = s.projection;
    map_view_setup(view_, projection_, mapCenter.lon, mapCenter.lat, range_, bitmap.width(), bitmap.height());
    view_.item_label[0] = '\0';  // a track's, from drawing the tracks: the grid's lines have none
    labelBox_.reset();

    const int minElevation = integerIn(s.minElev, 0);
    int maxElevation = integerIn(s.maxElev, minElevation + 2000);
    if (minElevation >= maxElevation) maxElevation = minElevation + 100;
    TopoSettings topo;
    topo.shading = s.shading;
    topo.exaggeration = integerIn(s.verticalExaggeration, 2);
    topo.sunAzimuth = integerIn(s.sunAzimuth, 180);
    topo.sunElevation = integerIn(s.sunElevation, 45);
    const bool topography = s.showTopo;
    if (topography) {
        constexpr double deg = 180.0 / kPi;
        if (!renderTopography(bitmap, elevation(), topo, minElevation, maxElevation, view_.lat_min * deg,
                              view_.lat_max * deg, view_.lon_min * deg, view_.lon_max * deg,
                              s.palette == 1 ? &blackWhitePalette() : &defaultPalette(), &view_))
            bitmap.fill(Qt::white);
        logMessage(MessageLevel::Debug, "Debug: Loaded %ld new points from the map database .",
                   elevation().loadedSamples());
    } else {
        bitmap.fill(Qt::white);
    }
    clearUpperVectorState();
    const bool noTerrain = topography && !terrainInView(elevation(), view_);
    tiles_.draw(bitmap, view_, s.showTiles ? s.tilesPath : std::string(), s.tilesOpacity);
    clearUpperVectorState();
    const bool background = topography || tiles_.zoom() >= 0;  // places are marked as on terrain

    QPainter painter(&bitmap);
    painter_ = &painter;
    painter.setFont(mapFont());
    painter.setRenderHint(QPainter::Antialiasing);

    // The places go between the borders and the rivers; the lines drawn
    // after them are read meanwhile.
    VectorLayers later(bitmap.size(), view_, dataDirectory_,
                       {{"lake.pnt", QColor(207, 207, 255), 2, s.showRivers},
                        {"river.pnt", QColor(127, 127, 255), 2, s.showRivers},
                        {"island.pnt", QColor(128, 128, 128), 1, s.showCoasts},
                        {"coast.pnt", QColor(0, 0, 0), 1, s.showCoasts}});
    later.readAside();
    VectorLayers borders(bitmap.size(), view_, dataDirectory_,
                         {{"state.pnt", QColor(207, 127, 127), 2, s.showBorders},
                          {"country.pnt", QColor(128, 0, 0), 2, s.showBorders}});
    borders.draw(bitmap, &saidAboutLines_);
    if (s.showBorders) painter.setPen(QPen(QColor(128, 0, 0), 2));  // the pen the places find
    if (s.cityMode > 0) drawCities(s, background);
    later.draw(bitmap, &saidAboutLines_);
    drawGrid(s.gridMode, s.showRuler);
    if (noTerrain) sayNoTerrain(painter, elevation());
    painter_ = nullptr;
}

void MapComposer::drawCities(const MapSettings& s, bool topography) {
    QPainter& p = *painter_;
    const int w = p.device()->width(), h = p.device()->height();
    QPen pen = p.pen();
    pen.setWidth(1);
    fontColour_ = topography ? QColor(255, 0, 0) : QColor(207, 207, 207);
    p.setBrush(topography ? QBrush(Qt::NoBrush) : QBrush(Qt::white));

    const double period = copyPeriod(view_);
    cityLabels_.clear();
    // When overlapping names are left out, the names are placed once all are
    // known, and the markers drawn over them, so that every marker shows.
    const bool placed = s.cityMode >= 2 && s.hideOverlappingLabels;
    std::vector<MapLabel> labels;
    std::vector<std::pair<QRect, QColor>> markers;
    CityInfo city;
    for (int i = 0; city_get(i, city); ++i) {
        clearUpperVectorState();  // after the last place's circle and name
        const int f = city.flags;
        const bool shown = !s.largeCitiesOnly || (f & (kCityLarge | kCityCapital)) ||
                           (s.showTransmitters && (f & kCityTransmitter));
        if (!shown) continue;
        double px, py;
        if (!geo_to_pixel(view_, city.lon, city.lat, &px, &py) || !(py >= 2 && py < h)) continue;
        // A cylindric map wider than 360 degrees shows a place more than once.
        int xs[8], copies = 0;
        for (int k = period > 0 ? -3 : 0; k <= (period > 0 ? 4 : 0); ++k) {
            const double x = px + k * period;
            if (x >= 2 && x < w) xs[copies++] = static_cast<int>(x);
        }
        if (copies == 0) continue;
        const int y = static_cast<int>(py);
        int r = 2;
        if (f & kCityCapital) {
            pen.setColor(QColor(255, 0, 0));
            r = 4;
        } else if (f & kCityLarge) {
            pen.setColor(QColor(255, 63, 63));
            r = 3;
        } else if (f & kCityMarker4) {
            pen.setColor(QColor(255, 95, 95));
        } else if (f & kCityLocal) {
            pen.setColor(QColor(255, 111, 111));
        } else if (f & kCityOrdinary) {
            pen.setColor(QColor(255, 127, 127));
        }  // other categories keep the colour of the city before
        std::string name(city.name, strnlen(city.name, sizeof city.name));
        if (s.cityMode == 2) name = name.substr(0, 2);
        for (int c = 0; c < copies; ++c) {
            const int x = xs[c];
            const QRect marker(x - r - 1, y - r - 1, 2 * r + 1, 2 * r + 1);
            if (placed) {
                markers.emplace_back(marker, pen.color());
                labels.push_back({x + 4, y - 4, toQString(name), f & kCityCapital ? 0 : f & kCityLarge ? 1 : 2});
                continue;
            }
            p.setPen(pen);
            p.drawEllipse(marker);
            if (s.cityMode >= 2) drawLabel(x + 4, y - 4, toQString(name), !topography);
        }
        p.setPen(pen);
    }
    for (const MapLabel* label : cityLabels_.placeAll(labels, p.fontMetrics(), kLabelFlags))
        drawLabel(label->x, label->y, label->text, !topography);
    for (const auto& [marker, colour] : markers) {
        pen.setColor(colour);
        p.setPen(pen);
        p.drawEllipse(marker);
    }
}

void MapComposer::drawLabel(int x, int y, const QString& text, bool opaque) {
    QPainter& p = *painter_;
    p.save();
    p.setPen(fontColour_);
    if (opaque) {
        p.setBackgroundMode(Qt::OpaqueMode);
        p.setBackground(Qt::white);
    }
    p.drawText(QRect(x, y, 2000, 200), kLabelFlags, text);
    p.restore();
    clearUpperVectorState();
}

void MapComposer::drawPointBatch(const MapView& view, const MapPoint* points, int count) {
    if (!painter_) return;
    clearUpperVectorState();  // the drawing before may have left it dirty
    if (count == kItemBegin || count == kItemEnd) trace_.breakLine();
    if (count == kItemBegin) {
        labelBox_.reset();
        return;
    }
    if (count == kItemEnd) {
        if (view.item_label[0] != '\0' && labelBox_.left >= 0) {
            std::string label(view.item_label, strnlen(view.item_label, sizeof view.item_label));
            drawLabel(labelBox_.left, labelBox_.bottom + 2, toQString(label), false);
        }
        return;
    }
    if (count <= 0 || points == nullptr) return;

    const PixelBox box =
        pictureBox(painter_->device()->width(), painter_->device()->height(), clipMargin(painter_->pen().widthF()));
    trace_.batch(view, points, count, box, [&](const PixelPoint* pixels, int n, double period) {
        drawClipped(*painter_, pixels, n, period, box, view.item_label[0] != '\0');
    });
}

void MapComposer::drawClipped(QPainter& painter, const PixelPoint* points, int count, double period,
                              const PixelBox& box, bool label) {
    const PixelBox picture = pictureBox(painter.device()->width(), painter.device()->height(), 0);
    clipPolyline(points, count, period, box, clipped_, [&](const PixelPoint* run, int n) {
        run_.clear();
        for (int i = 0; i < n; ++i) run_.emplace_back(run[i].x, run[i].y);
        for (int i = 1; touched_ && i < n; ++i) touched_->addSegment(run[i - 1], run[i], penReach(painter.pen().widthF()));
        if (measuring_) return;
        painter.drawPolyline(run_.data(), n);
        clearUpperVectorState();
        for (int i = 0; label && i + 1 < n; ++i) {
            PixelPoint a = run[i], b = run[i + 1];
            if (clipSegment(a, b, picture) < 0) continue;
            labelBox_.add(static_cast<int>(a.x), static_cast<int>(a.y));
            labelBox_.add(static_cast<int>(b.x), static_cast<int>(b.y));
        }
    });
}

// ---- overlay -----------------------------------------------------------------

void MapComposer::drawOverlay(const QImage& base, QImage& visible, const MapSettings& s, GeoPosition observerA,
                              GeoPosition observerB) {
    composeOverlay(base, visible, s, observerA, observerB, true);
}

void MapComposer::drawOverlayOnce(QImage& picture, const MapSettings& s, GeoPosition observerA,
                                  GeoPosition observerB) {
    QImage base = std::move(picture);  // the only reference: drawn on without a copy
    composeOverlay(std::move(base), picture, s, observerA, observerB, false);
}

void MapComposer::composeOverlay(QImage base, QImage& visible, const MapSettings& s, GeoPosition observerA,
                                 GeoPosition observerB, bool keepLayers) {
    const double brg1 = scan_decimal(s.brg1x) * kDegToRad, brg2 = scan_decimal(s.brg2x) * kDegToRad;
    const double tol1 = scan_decimal(s.brg1Tol) * kDegToRad, tol2 = scan_decimal(s.brg2Tol) * kDegToRad;
    if (base.isNull()) {
        visible = QImage();
        lastChange_ = QRegion();
        return;
    }
    map_view_setup(view_, projection_, view_.center.lon, view_.center.lat, range_, base.width(), base.height());
    drawTracks(std::move(base), s);
    drawLineAB(s, observerA, observerB, keepLayers);
    const int width = s.trackLineWidth >= 1 && s.trackLineWidth <= 49 ? s.trackLineWidth : 2;
    // An empty bearing field draws no sector (scan_decimal would read 0, due north).
    const Sectors a = starts_with_number(s.brg1x)
                          ? Sectors{true, observerA.lon, observerA.lat, brg1, tol1, s.ambiguity1, s.colourA,
                                    Qt::BDiagPattern, width}
                          : Sectors{.shown = false};
    const Sectors b = starts_with_number(s.brg2x)
                          ? Sectors{true, observerB.lon, observerB.lat, brg2, tol2, s.ambiguity2, s.colourB,
                                    Qt::FDiagPattern, width}
                          : Sectors{.shown = false};
    if (!keepLayers) {
        visible = std::move(lineLayer_);
        trackLayer_ = lineLayer_ = QImage();
        onPoolThread([&] { paintOverlay(visible, s, observerA, observerB, a, b, SectorPlan{}); });
        lastChange_ = QRegion(visible.rect());
        return;
    }
    const SectorPlan plan = keepSectors(a, b);
    const bool kept = !plan.a || plan.bOverA;
    const bool again = restoreLineLayer(visible, kept ? sectorLayer_ : lineLayer_);
    if (again) std::swap(paintedBefore_, painted_.rows);
    if (kept) {
        painted_.rows = sectorRows_;
    } else {
        painted_.rows.reset(visible.width(), visible.height());
    }
    touched_ = &painted_.rows;
    onPoolThread([&] { paintOverlay(visible, s, observerA, observerB, a, b, plan); });
    touched_ = nullptr;
    lastA_ = a;
    lastB_ = b;
    painted_.picture = visible.cacheKey();
    painted_.below = lineLayer_.cacheKey();
    lastChange_ = again && !painted_.everywhere ? changedRows(paintedBefore_, painted_.rows)
                                                : QRegion(visible.rect());
}

// When one observer's sectors are those of the last overlay and the other's
// changed (a bearing typed), the line layer with the unchanged ones on it is
// kept: B's under A's new ones need drawing again only over A's rows, A's
// under B's new ones not at all.
MapComposer::SectorPlan MapComposer::keepSectors(const Sectors& a, const Sectors& b) {
    const bool sameA = a == lastA_, sameB = b == lastB_;
    // A pen of a pixel or less is drawn otherwise on a strip of the picture.
    if (sameA == sameB || (sameB && a.width < 2)) return {};
    const Sectors& unchanged = sameA ? a : b;
    if (sectorLayer_.isNull() || sectorKey_.below != lineLayer_.cacheKey() || sectorKey_.ofA != sameA ||
        !(sectorKey_.sectors == unchanged)) {
        sectorLayer_ = lineLayer_.copy();
        sectorRows_.reset(sectorLayer_.width(), sectorLayer_.height());
        touched_ = &sectorRows_;
        onPoolThread([&] {
            clearUpperVectorState();
            QPainter painter(&sectorLayer_);
            painter.setRenderHint(QPainter::Antialiasing);
            drawSectors(painter, unchanged);
        });
        touched_ = nullptr;
        sectorKey_ = {lineLayer_.cacheKey(), sameA, unchanged};
    }
    return sameA ? SectorPlan{false, true, false} : SectorPlan{true, true, true};
}

// Makes `visible` the layer `from` again (the line layer, or it with kept
// sectors). Into the picture's own buffer when it has one of the size: no new
// picture's pages to fault in on every keystroke; and when it is the picture
// of the last overlay, over the same line layer and not written to since
// (writing changes its key), only where that overlay drew. True then.
bool MapComposer::restoreLineLayer(QImage& visible, const QImage& from) {
    if (visible.size() != from.size() || visible.format() != from.format() ||
        visible.bytesPerLine() != from.bytesPerLine() || !visible.isDetached()) {
        visible = from.copy();
        return false;
    }
    const bool unchanged = !painted_.everywhere && visible.cacheKey() == painted_.picture &&
                           lineLayer_.cacheKey() == painted_.below;
    uchar* to = visible.bits();
    const uchar* source = from.constBits();
    if (!unchanged) {
        std::memcpy(to, source, static_cast<std::size_t>(visible.sizeInBytes()));
        return false;
    }
    copySpans(to, source, visible.bytesPerLine(), visible.depth() / 8, painted_.rows, 0, painted_.rows.height() - 1);
    return true;
}

void MapComposer::drawSectors(QPainter& painter, const Sectors& sectors) {
    if (!sectors.shown) return;
    painter.setPen(QPen(fromColourRef(sectors.colour), sectors.width));
    painter.setBrush(QBrush(fromColourRef(sectors.colour), sectors.hatch));
    const GeoPosition observer{sectors.lon, sectors.lat};
    drawBearingSector(painter, observer, sectors.bearing, sectors.tolerance);
    if (sectors.ambiguous) drawBearingSector(painter, observer, sectors.bearing + kPi, sectors.tolerance);
}

void MapComposer::paintOverlay(QImage& visible, const MapSettings& s, GeoPosition observerA, GeoPosition observerB,
                               const Sectors& a, const Sectors& b, const SectorPlan& plan) {
    clearUpperVectorState();
    uchar* const bits = plan.bOverA ? visible.bits() : nullptr;
    QPainter painter(&visible);
    painter_ = &painter;
    painter.setFont(mapFont());
    painter.setRenderHint(QPainter::Antialiasing);
    if (plan.bOverA) {
        // The rows A's sectors draw on become the line layer's again, A's are
        // drawn, and B's over them, on a picture of only those rows: Qt's
        // rasterizer then works through those rows, not all of B's.
        RowSpans* const touched = std::exchange(touched_, &rowsA_);
        rowsA_.reset(visible.width(), visible.height());
        measuring_ = true;
        drawSectors(painter, a);
        measuring_ = false;
        touched_ = touched;
        int top = 0, bottom = rowsA_.height() - 1;
        while (top <= bottom && rowsA_.right(top) < rowsA_.left(top)) ++top;
        while (bottom >= top && rowsA_.right(bottom) < rowsA_.left(bottom)) --bottom;
        // Where B's kept sectors drew on those rows, that is.
        const qsizetype stride = visible.bytesPerLine();
        copySpans(bits, lineLayer_.constBits(), stride, visible.depth() / 8, sectorRows_, top, bottom);
        drawSectors(painter, a);
        if (bottom >= top) {
            QImage strip(bits + top * stride, visible.width(), bottom - top + 1, stride, visible.format());
            QPainter stripPainter(&strip);
            stripPainter.setRenderHint(QPainter::Antialiasing);
            stripPainter.translate(0, -top);
            touched_ = nullptr;  // within B's kept rows
            stripPicture_ = visible.size();
            drawSectors(stripPainter, b);
            stripPicture_ = QSize();
            touched_ = touched;
        }
        if (b.shown) {  // as after drawing B's on it
            painter.setPen(QPen(fromColourRef(b.colour), b.width));
            painter.setBrush(QBrush(fromColourRef(b.colour), b.hatch));
        }
    } else {
        if (plan.a) drawSectors(painter, a);
        if (plan.b) drawSectors(painter, b);
    }
    bool layerDrew = bearingLayer_ && bearingLayer_(painter, view_, false);
    const FixTexts texts{s.pos1, s.pos2, s.brg1x, s.brg2x, s.brg1Tol, s.brg2Tol, s.ambiguity1, s.ambiguity2};
    if (!fixKnown_ || !(texts == fixTexts_)) {
        fix_ = compute_fix(texts);
        fixTexts_ = texts;
        fixKnown_ = true;
    }
    drawFixMarkers(painter, view_, s, fix_, observerA, observerB, touched_);
    layerDrew = (bearingLayer_ && bearingLayer_(painter, view_, true)) || layerDrew;
    if (s.showRuler) {
        const QRect ruler = drawRuler();
        if (touched_) touched_->addBox(ruler.left(), ruler.top(), ruler.right(), ruler.bottom());
    }
    painted_.everywhere = layerDrew;  // the log's drawing is not followed
    painter_ = nullptr;
}

// The line A-B over the tracks, kept while neither it nor they change.
void MapComposer::drawLineAB(const MapSettings& s, GeoPosition observerA, GeoPosition observerB, bool keepLayers) {
    const int width = s.trackLineWidth >= 1 && s.trackLineWidth <= 49 ? s.trackLineWidth : 2;
    // An observer that is no position (not finite) has no line.
    const bool line = std::isfinite(observerA.lon) && std::isfinite(observerA.lat) && std::isfinite(observerB.lon) &&
                      std::isfinite(observerB.lat);
    const LineLayerKey key = line ? LineLayerKey{trackLayer_.cacheKey(), true, observerA.lon, observerA.lat,
                                                 observerB.lon, observerB.lat, width}
                                  : LineLayerKey{trackLayer_.cacheKey(), false, 0, 0, 0, 0, width};
    if (!lineLayer_.isNull() && key == lineKey_) return;
    lineKey_ = key;
    // Shared until the line is drawn on it.
    lineLayer_ = keepLayers ? trackLayer_ : std::move(trackLayer_);
    if (!line) return;
    QPainter painter(&lineLayer_);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 127, 0), width));
    painter.setBrush(QBrush(QColor(255, 127, 0), Qt::BDiagPattern));
    drawGreatCircleWedge(painter, observerA, observerB, observerB);
}

// The tracks on a copy of the base map, unless the one drawn last is still
// good: a keystroke then costs no track drawing.
void MapComposer::drawTracks(QImage base, const MapSettings& s) {
    const int width = s.trackLineWidth >= 1 && s.trackLineWidth <= 49 ? s.trackLineWidth : 2;
    const TrackLayerKey key{base.cacheKey(), trackChanges_ ? trackChanges_() : 0, projection_, view_.center.lon,
                            view_.center.lat, range_, s.trackLineColour, s.trackLabelColour, width};
    if (trackChanges_ && !trackLayer_.isNull() && key == trackKey_) return;
    trackKey_ = key;
    trackLayer_ = std::move(base);  // shared, when the caller keeps it, until a track is drawn on it
    if (!trackSource_) return;
    labelBox_.reset();
    fontColour_ = fromColourRef(s.trackLabelColour);
    const QColor trackColour = fromColourRef(s.trackLineColour);
    // Begun when the tracks are there: painting on the layer copies it.
    std::optional<QPainter> painter;
    trackSource_(view_, [&](const MapView& view, const MapPoint* points, int count) {
        if (!painter) {
            painter_ = &painter.emplace(&trackLayer_);
            painter->setFont(mapFont());
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(QPen(trackColour, width));
        }
        if (count == kItemBegin) {  // a segment may ask for a colour of its own
            QPen pen = painter_->pen();
            pen.setColor(view.item_colour == -1 ? trackColour : fromColourRef(static_cast<uint32_t>(view.item_colour)));
            painter_->setPen(pen);
        }
        drawPointBatch(view, points, count);
    });
    painter_ = nullptr;
}

double MapComposer::sectorLength(GeoPosition observer) const {
    // The farthest of points along the picture's edges, and a tenth more.
    constexpr int kSteps = 16;
    const int w = static_cast<int>(view_.width), h = static_cast<int>(view_.height);
    double farthest = 0;
    for (int i = 0; i <= kSteps; ++i) {
        const int x = w * i / kSteps, y = h * i / kSteps;
        for (auto [px, py] : {std::pair{x, 0}, {x, h}, {0, y}, {w, y}}) {
            double lon, lat, dist;
            if (!screen_to_geo(view_, px, py, &lon, &lat)) return kMaxSectorLength;  // beyond the earth's disc
            gc_distance_course(observer.lon, observer.lat, lon, std::clamp(lat, -kPi / 2, kPi / 2), &dist, nullptr);
            farthest = std::max(farthest, dist);
        }
    }
    return std::min(std::max(range_ * 2.0 / kEarthRadiusKm, farthest * 1.1), kMaxSectorLength);
}

void MapComposer::drawBearingSector(QPainter& painter, GeoPosition p, double bearing, double tolerance) {
    if (!std::isfinite(bearing) || !std::isfinite(tolerance) || !std::isfinite(p.lon) || !std::isfinite(p.lat))
        return;
    clearUpperVectorState();  // the drawing before may have left it dirty
    const double length = sectorLength(p), half = std::min(std::fabs(tolerance), kPi);
    // The outer edge: points on the circle round the observer, a degree or less apart.
    const int steps = std::max(1, static_cast<int>(std::ceil(2 * half / kArcStep)));
    std::vector<GeoPosition> ring{p};
    for (int i = 0; i <= steps; ++i) {
        GeoPosition e;
        gc_destination(p.lon, p.lat, length, bearing + half - 2 * half * i / steps, &e.lon, &e.lat);
        ring.push_back(e);
    }
    drawArea(painter, ring, [&](double lon, double lat) {
        double dist, course;
        gc_distance_course(p.lon, p.lat, lon, lat, &dist, &course);
        return dist <= length && (dist < 1e-12 || std::fabs(aroundZero(course - bearing)) <= half);
    });
}

void MapComposer::drawGreatCircleWedge(QPainter& painter, GeoPosition apex, GeoPosition end1, GeoPosition end2) {
    clearUpperVectorState();
    using Vector = std::array<double, 3>;
    auto unit = [](double lon, double lat) {
        return Vector{std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
    };
    // (u x v) . w: which side of the plane through u and v the point w lies on.
    auto side = [](const Vector& u, const Vector& v, const Vector& w) {
        return (u[1] * v[2] - u[2] * v[1]) * w[0] + (u[2] * v[0] - u[0] * v[2]) * w[1] +
               (u[0] * v[1] - u[1] * v[0]) * w[2];
    };
    const Vector a = unit(apex.lon, apex.lat), b = unit(end1.lon, end1.lat), c = unit(end2.lon, end2.lat);
    const double turn = side(a, b, c);
    drawArea(painter, {apex, end1, end2}, [&](double lon, double lat) {
        const Vector q = unit(lon, lat);
        return std::fabs(turn) > 1e-15 && turn * side(a, b, q) >= 0 && turn * side(b, c, q) >= 0 &&
               turn * side(c, a, q) >= 0;
    });
}

void MapComposer::drawArea(QPainter& painter, const std::vector<GeoPosition>& ring,
                           const std::function<bool(double lon, double lat)>& contains) {
    const QSize picture = stripPicture_.isEmpty() ? QSize(painter.device()->width(), painter.device()->height())
                                                  : stripPicture_;
    const PixelBox box = pictureBox(picture.width(), picture.height(), clipMargin(painter.pen().widthF()));
    traceArea(view_, ring, contains, box, area_);
    const double period = copyPeriod(view_);
    if (painter.brush().style() != Qt::NoBrush && !area_.fill.empty()) {
        double left = area_.fill[0][0].x, right = left;
        for (const auto& polygon : area_.fill) {
            for (const PixelPoint& q : polygon) {
                left = std::min(left, q.x);
                right = std::max(right, q.x);
            }
        }
        double first, last;
        copiesOnBox(left, right, period, box, &first, &last);
        painter.save();
        painter.setPen(Qt::NoPen);
        for (double k = first; k <= last; ++k) {
            QPainterPath path;
            path.setFillRule(Qt::OddEvenFill);
            for (const auto& polygon : area_.fill) {
                clipPolygon(polygon, k * period, box, clipped_);
                if (clipped_.size() < 3) continue;
                QPolygonF pixels;
                pixels.reserve(static_cast<qsizetype>(clipped_.size()));
                for (const PixelPoint& q : clipped_) pixels << QPointF(q.x, q.y);
                for (std::size_t i = 0; touched_ && i < clipped_.size(); ++i)
                    touched_->addSegment(clipped_[i], clipped_[(i + 1) % clipped_.size()], 2);  // antialiasing
                path.addPolygon(pixels);
                path.closeSubpath();
            }
            if (!path.isEmpty() && !measuring_) painter.drawPath(path);
            clearUpperVectorState();
        }
        painter.restore();
    }
    if (painter.pen().style() != Qt::NoPen)
        drawClipped(painter, area_.outline.data(), static_cast<int>(area_.outline.size()), period, box, false);
}

QRect MapComposer::drawRuler() {
    QPainter& p = *painter_;
    const int w = p.device()->width(), h = p.device()->height();
    const double pixelsPerKm = view_.height / (2.0 * range_);  // true at the centre
    const double km = niceStepBelow(std::max(w / 4.0 / pixelsPerKm, 1e-6));
    const int length = static_cast<int>(std::clamp(km * pixelsPerKm + 0.5, 0.0, static_cast<double>(w)));
    const int x0 = 10, y0 = h - 12;
    const QString text = toQString(formatPicture(km, km >= 1 ? "0" : "0.###") + " km");
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRect(x0 - 6, y0 - 20, length + 12, 28);
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(x0, y0, x0 + length, y0);
    for (int tick : {0, length / 2, length}) p.drawLine(x0 + tick, y0 - 5, x0 + tick, y0);
    p.setPen(Qt::black);
    QRect drawn;
    p.drawText(QRect(x0, y0 - 20, length, 14), Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip, text, &drawn);
    p.restore();
    return drawn.united(QRect(x0 - 6, y0 - 20, length + 12, 28)).adjusted(-3, -3, 3, 3);
}

}  // namespace bearfix
