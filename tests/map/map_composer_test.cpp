#include "map/map_composer.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "cities/cities.h"
#include "support/message_log.h"
#include "geo/great_circle.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

using testing::TempDir;

// Settings with every layer off; tests switch on what they look at.
MapSettings bare(double rangeKm) {
    MapSettings s;
    s.rangeKm = std::to_string(rangeKm);
    s.showCoasts = s.showBorders = s.showRivers = s.showTopo = false;
    s.cityMode = 0;
    s.centerHow = 0;
    s.trackLineWidth = 1;
    return s;
}

int countColour(const QImage& image, QRgb colour, QRect area) {
    int n = 0;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

// Pixels showing `colour` over white at least half strong (lines are
// antialiased, so their edges are blends).
int countTinted(const QImage& image, QRgb colour, QRect area) {
    int n = 0;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            double alpha = -1;
            bool ok = true;
            for (auto [pc, cc] : {std::pair{qRed(p), qRed(colour)}, {qGreen(p), qGreen(colour)}, {qBlue(p), qBlue(colour)}}) {
                if (cc > 200) {
                    ok = ok && pc >= 200;
                    continue;
                }
                double a = (255.0 - pc) / (255.0 - cc);
                if (alpha < 0) alpha = a;
                ok = ok && std::fabs(a - alpha) < 0.2;
            }
            n += ok && alpha >= 0.5;
        }
    }
    return n;
}

int countNonWhite(const QImage& image, QRect area) {
    return area.intersected(image.rect()).width() * area.intersected(image.rect()).height() -
           countColour(image, qRgb(255, 255, 255), area);
}

std::string pnt(const std::vector<std::pair<double, double>>& latLonDegrees) {
    std::string bytes;
    bool first = true;
    for (auto [lat, lon] : latLonDegrees) {
        for (int v : {first ? 1000 : 0, static_cast<int>(std::lround(lat * 60)), static_cast<int>(std::lround(lon * 60))}) {
            bytes += static_cast<char>(v & 0xFF);
            bytes += static_cast<char>((v >> 8) & 0xFF);
        }
        first = false;
    }
    return bytes;
}

TEST(MapComposer, CoastlineAcrossTheAntimeridianIsCutNotStroked) {
    TempDir dir;
    dir.write("coast.pnt", pnt({{10, 170}, {10, 179.5}, {10, -179.5}, {10, -170}}));
    MapComposer composer;
    composer.setMapDataDirectory(dir.path().string());
    MapSettings s = bare(kEarthRadiusKm * std::numbers::pi / 2);  // the world spans the width exactly
    s.showCoasts = true;
    QImage image(400, 200, QImage::Format_RGB32);
    GeoPosition centre{0, 0};
    composer.drawBaseMap(image, s, centre);
    EXPECT_GT(countNonWhite(image, QRect(0, 0, 40, 200)) + countNonWhite(image, QRect(360, 0, 40, 200)), 0)
        << "both pieces are drawn at the edges";
    EXPECT_EQ(countNonWhite(image, QRect(60, 0, 280, 200)), 0) << "no stroke across the map";
}

TEST(MapComposer, PointsFarOutsideTouchNothing) {
    MapComposer composer;
    QImage base(200, 200, QImage::Format_RGB32);
    GeoPosition centre{0, 0};
    composer.drawBaseMap(base, bare(100), centre);
    QImage image;
    // Reach the sink through the track source, as the overlay does.
    MapSettings s = bare(100);
    s.brg1x = s.brg2x = "";
    composer.setTrackSource([](MapView& view, const PointSink& sink) {
        std::strcpy(view.item_label, "far");
        std::vector<MapPoint> points;
        for (int i = 0; i < 50; ++i) points.push_back({0.5f, static_cast<float>(0.5 + i * 0.001), 0, i});
        sink(view, nullptr, kItemBegin);
        sink(view, points.data(), static_cast<int>(points.size()));
        sink(view, nullptr, kItemEnd);
        return true;
    });
    GeoPosition far{1.0, 1.0};  // observers off the map as well
    composer.drawOverlay(base, image, s, far, far);
    EXPECT_EQ(countNonWhite(image, image.rect()), 0);
}

TEST(MapComposer, CitiesAtTheLeftEdge) {
    CityInfo aachen;
    ASSERT_TRUE(city_get(0, aachen));
    MapSettings s = bare(5);
    s.cityMode = 1;
    for (auto [wantX, drawn] : {std::pair{1.5, false}, std::pair{2.5, true}}) {
        // Centre the 100-pixel view so that Aachen falls on column wantX.
        MapView probe;
        map_view_setup(probe, kCylindric, aachen.lon, aachen.lat, 5, 100, 100);
        const double e = (probe.lon_max - probe.lon_min) / 2;
        GeoPosition centre{aachen.lon + e * (1 - wantX / 50.0), aachen.lat};
        MapComposer composer;
        QImage image(100, 100, QImage::Format_RGB32);
        composer.drawBaseMap(image, s, centre);
        EXPECT_EQ(countTinted(image, qRgb(255, 127, 127), QRect(0, 40, 10, 20)) > 0, drawn) << wantX;
    }
}

TEST(MapComposer, SectorsCrossWithBothHatches) {
    MapComposer composer;
    MapSettings s = bare(600);
    s.pos1 = "N52\xB0" "08'26\" E008\xB0" "28'57\"";
    s.centerHow = 1;
    s.brg1x = "260";
    s.brg2x = "288";
    s.brg1Tol = s.brg2Tol = "3";
    QImage base(400, 400, QImage::Format_RGB32), image;
    GeoPosition centre, a, b, x;
    scan_position(s.pos1, a);
    scan_position("N49\xB0" "27'00\" E011\xB0" "00'00\"", b);
    composer.drawBaseMap(base, s, centre);
    composer.drawOverlay(base, image, s, a, b);
    IntersectionResult r;
    bearing_intersection(r, a.lon, a.lat, 260 * kDegToRad, b.lon, b.lat, 288 * kDegToRad);
    ASSERT_EQ(r.status, 0);
    int px, py;
    ASSERT_TRUE(geo_to_screen(composer.view(), r.x.lon, r.x.lat, &px, &py));
    const QRect aroundX(px - 12, py - 12, 25, 25);
    EXPECT_GT(countColour(image, qRgb(0, 128, 128), aroundX), 0);
    EXPECT_GT(countColour(image, qRgb(128, 0, 128), aroundX), 0);
    EXPECT_GT(countNonWhite(image, aroundX), countColour(image, qRgb(255, 255, 255), aroundX) / 4)
        << "the hatches leave gaps, but not only gaps";
}

TEST(MapComposer, ZeroToleranceAndMeridianLines) {
    MapComposer composer;
    MapSettings s = bare(300);
    s.brg1x = "90";
    s.brg1Tol = "0";
    s.brg2x = "";
    QImage base(300, 300, QImage::Format_RGB32), image;
    GeoPosition centre{8 * kDegToRad, 51 * kDegToRad};
    composer.drawBaseMap(base, s, centre);
    // A and B on one meridian: the line A-B runs along it.
    GeoPosition a{8 * kDegToRad, 50 * kDegToRad}, b{8 * kDegToRad, 52 * kDegToRad};
    s.colourB = 0x00FFFFFF;
    composer.drawOverlay(base, image, s, a, b);
    int ax, ay, bx, by;
    geo_to_screen(composer.view(), a.lon, a.lat, &ax, &ay);
    geo_to_screen(composer.view(), b.lon, b.lat, &bx, &by);
    const QRgb orange = qRgb(255, 127, 0);
    EXPECT_GT(countTinted(image, orange, QRect(ax - 1, by + 5, 3, ay - by - 10)), (ay - by - 10) / 2);
    EXPECT_EQ(countTinted(image, orange, QRect(ax + 5, 0, 300 - ax - 5, 300)), 0);
    // Tolerance 0: A's sector is a line due east of A.
    const QRgb teal = qRgb(0, 128, 128);
    EXPECT_GT(countTinted(image, teal, QRect(ax + 10, ay - 2, 60, 5)), 30);
    EXPECT_EQ(countTinted(image, teal, QRect(ax + 10, ay - 40, 60, 30)), 0);
}

TEST(MapComposer, TracksAreLabelledPolylinesWithoutGaps) {
    MapComposer composer;
    MapSettings s = bare(300);
    s.brg1x = s.brg2x = "";
    s.trackLineColour = 0x000000C0;   // (192, 0, 0)
    s.trackLabelColour = 0x0000C080;  // (128, 192, 0)
    s.trackLineWidth = 3;
    QImage base(300, 300, QImage::Format_RGB32), image;
    GeoPosition centre{0.0, 0.0};
    composer.drawBaseMap(base, s, centre);
    // One track delivered in two batches, as a long track is.
    composer.setTrackSource([](MapView& view, const PointSink& sink) {
        std::strcpy(view.item_label, "Walk");
        const MapPoint first[] = {{0.0f, -0.02f, 0, 0}, {0.0f, 0.0f, 0, 1}};
        const MapPoint second[] = {{0.0f, 0.02f, 0, 2}};
        sink(view, nullptr, kItemBegin);
        sink(view, first, 2);
        sink(view, second, 1);
        sink(view, nullptr, kItemEnd);
        return true;
    });
    GeoPosition far{2.0, 1.0};
    composer.drawOverlay(base, image, s, far, far);
    int x0, x1, y;
    geo_to_screen(composer.view(), 0.0, 0.0, &x0, &y);
    geo_to_screen(composer.view(), 0.02, 0.0, &x1, &y);
    const QRgb red = qRgb(192, 0, 0);
    EXPECT_GT(countTinted(image, red, QRect(x0 + 2, y - 1, x1 - x0 - 4, 3)), (x1 - x0 - 4) * 2)
        << "the second batch joins the first";
    EXPECT_GT(countTinted(image, qRgb(128, 192, 0), QRect(0, y + 2, 300, 20)), 10) << "the name under the line";
}

TEST(MapComposer, MissingEmptyAndTruncatedMapData) {
    std::vector<std::string> log;
    setMessageSink([&log](MessageLevel, const std::string& text) { log.push_back(text); });
    MapSettings s = bare(300);
    s.showCoasts = s.showBorders = s.showRivers = true;
    s.cityMode = 1;
    QImage image(300, 300, QImage::Format_RGB32);
    GeoPosition centre{8 * kDegToRad, 51 * kDegToRad};

    MapComposer missing;
    missing.setMapDataDirectory("/nonexistent/map_data");
    missing.drawBaseMap(image, s, centre);
    EXPECT_EQ(log.size(), 6u) << "one error line per layer";
    for (const std::string& line : log) EXPECT_EQ(line.rfind("Error: Could not open file \"/nonexistent/map_data/", 0), 0u);
    EXPECT_GT(countTinted(image, qRgb(255, 127, 127), image.rect()), 0) << "the places are drawn all the same";

    TempDir dir;
    for (const char* name : {"state.pnt", "country.pnt", "lake.pnt", "river.pnt", "island.pnt"}) dir.write(name, "");
    dir.write("coast.pnt", pnt({{51, 7}, {51, 9}}) + "xyz");  // cut in the middle of a record
    MapComposer damaged;
    damaged.setMapDataDirectory(dir.path().string());
    log.clear();
    damaged.drawBaseMap(image, s, centre);
    setMessageSink({});
    ASSERT_EQ(log.size(), 6u);
    EXPECT_NE(log[0].find("contains 0 points, 0 segments"), std::string::npos) << log[0];
    EXPECT_NE(log[5].find("coast.pnt\" contains 2 points, 1 segments"), std::string::npos) << log[5];
    EXPECT_GT(countTinted(image, qRgb(0, 0, 0), QRect(0, 145, 300, 10)), 60) << "the coast that was there: 2 of 8.6 degrees";
}

TEST(MapComposer, SectorAcrossTheAntimeridianGoesTheShortWay) {
    MapComposer composer;
    MapSettings s = bare(1000);
    s.brg1x = "90";
    s.brg1Tol = "0";
    s.brg2x = "";
    QImage base(300, 300, QImage::Format_RGB32), image;
    GeoPosition centre{179.0 * kDegToRad, 0.0};
    composer.drawBaseMap(base, s, centre);
    GeoPosition a{179.0 * kDegToRad, 0.0};
    s.colourB = 0x00FFFFFF;
    composer.drawOverlay(base, image, s, a, GeoPosition{1.0, 1.0});
    const QRgb teal = qRgb(0, 128, 128);
    EXPECT_GT(countTinted(image, teal, QRect(160, 140, 140, 20)), 100) << "east of A, across the antimeridian";
    EXPECT_EQ(countTinted(image, teal, QRect(0, 140, 140, 20)), 0) << "not the long way round";
}

}  // namespace
}  // namespace bearfix
