// The marks of the fix on the drawn map.
#include "map/fix_markers.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <utility>

#include "geo/great_circle.h"
#include "map/map_composer.h"

namespace bearfix {
namespace {

constexpr double kDeg = kDegToRad;

// Settings with every base layer off; the default observers unless told.
MapSettings bare(double rangeKm, bool observers = true) {
    MapSettings s;
    if (observers) {
        s.pos1 = "N52.14 E8.48";
        s.pos2 = "N49.45 E11";
        s.brg1x = "260";
        s.brg2x = "288";
    }
    s.rangeKm = std::to_string(rangeKm);
    s.showCoasts = s.showBorders = s.showRivers = s.showTopo = false;
    s.cityMode = s.centerHow = 0;
    s.trackLineWidth = 1;
    return s;
}

template <class Match>
int count(const QImage& image, QRect area, Match match) {
    int n = 0;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += match(image.pixel(x, y));
    return n;
}
bool dark(QRgb p) { return qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90; }
bool red(QRgb p) { return qRed(p) > 180 && qGreen(p) < 60 && qBlue(p) < 60; }
bool teal(QRgb p) { return qRed(p) < 40 && std::abs(qGreen(p) - 128) < 40 && std::abs(qBlue(p) - 128) < 40; }

QImage draw(MapComposer& composer, const MapSettings& s, GeoPosition centre, int width, int height) {
    GeoPosition a, b;
    scan_position(s.pos1, a);
    scan_position(s.pos2, b);
    QImage base(width, height, QImage::Format_RGB32), image;
    composer.drawBaseMap(base, s, centre);
    composer.drawOverlay(base, image, s, a, b);
    return image;
}

// The default observers; X is drawn the same size whatever the range, and
// so is observer A wherever the map shows it.
TEST(FixMarkers, KeepTheirSizeAtEveryZoom) {
    MapSettings s = bare(1);
    GeoPosition a, b;
    scan_position(s.pos1, a);
    scan_position(s.pos2, b);
    IntersectionResult r;
    bearing_intersection(r, a.lon, a.lat, 260 * kDeg, b.lon, b.lat, 288 * kDeg);
    ASSERT_EQ(r.status, 0);
    int xMarker = -1;
    for (double range : {1.0, 20.0, 600.0, 2000.0}) {
        SCOPED_TRACE(range);
        s.rangeKm = std::to_string(range);
        MapComposer composer;
        const QImage image = draw(composer, s, r.x, 400, 300);
        int x, y;
        ASSERT_TRUE(geo_to_screen(composer.view(), r.x.lon, r.x.lat, &x, &y));
        const int n = count(image, QRect(x - 15, y - 15, 31, 31), dark);
        if (xMarker < 0) xMarker = n;
        EXPECT_GT(n, 40);
        EXPECT_NEAR(n, xMarker, 0.1 * xMarker);
        if (geo_to_screen(composer.view(), a.lon, a.lat, &x, &y) && x > 10 && y > 10 && x < 390 && y < 290) {
            EXPECT_GT(count(image, QRect(x - 4, y - 4, 9, 9), teal), 20) << "A's filled circle";
        }
    }
}

// The rows from the first to the last that hold red in `area`.
std::pair<int, int> redRows(const QImage& image, QRect area) {
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        if (count(image, QRect(area.left(), y, area.width(), 1), red) > 0) {
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return {top, bottom};
}

// A search area across the antimeridian (about 7 degrees wide, 31 pixels):
// whole in a cylindric map centred on it, and in two pieces at the edges of
// a world map centred on 0, as tall as the whole, with no line across.
TEST(FixMarkers, SearchAreaAcrossTheAntimeridian) {
    MapSettings s = bare(kEarthRadiusKm * std::numbers::pi / 2, false);  // the world spans the width exactly
    s.pos1 = "N0 E160";
    s.pos2 = "S20 E180";
    s.brg1x = "90";
    s.brg2x = "0";
    s.brg1Tol = s.brg2Tol = "10";
    MapComposer composer;
    const QImage centred = draw(composer, s, {std::numbers::pi, 0}, 1600, 800);
    EXPECT_EQ(count(centred, QRect(0, 0, 760, 800), red) + count(centred, QRect(840, 0, 760, 800), red), 0);
    const auto [top, bottom] = redRows(centred, centred.rect());
    EXPECT_GT(bottom - top, 25);

    const QImage world = draw(composer, s, {0, 0}, 1600, 800);
    EXPECT_EQ(count(world, QRect(40, 0, 1520, 800), red), 0);
    int piecesTop = world.height(), piecesBottom = -1;
    for (QRect edge : {QRect(0, 0, 40, 800), QRect(1560, 0, 40, 800)}) {
        EXPECT_GT(count(world, edge, red), 20);
        const auto [edgeTop, edgeBottom] = redRows(world, edge);
        piecesTop = std::min(piecesTop, edgeTop);
        piecesBottom = std::max(piecesBottom, edgeBottom);
    }
    EXPECT_LE(std::abs(piecesTop - top), 1);
    EXPECT_LE(std::abs(piecesBottom - bottom), 1);
}

// Zoomed far into an area: its edges lie far outside the picture and stay
// there, however far their corners are.
TEST(FixMarkers, OutlineFarOffThePictureStaysOff) {
    MapSettings s = bare(0.5);
    s.brg1Tol = s.brg2Tol = "1";
    for (int projection : {0, 1}) {
        s.projection = projection;
        MapComposer composer;
        const QImage image = draw(composer, s, {0.98 * kDeg, 51.07 * kDeg}, 400, 300);
        EXPECT_EQ(count(image, image.rect(), red), 0) << projection;
    }
}

}  // namespace
}  // namespace bearfix
