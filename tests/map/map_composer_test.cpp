#include "map/map_composer.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cities/cities.h"
#include "geo/great_circle.h"
#include "map/qt_convert.h"
#include "support/message_log.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

using testing::TempDir;

const QRgb kTeal = qRgb(0, 128, 128), kPurple = qRgb(128, 0, 128), kOrange = qRgb(255, 127, 0);
const QRgb kPlace = qRgb(255, 127, 127);

// Settings with every layer off; tests switch on what they look at.
MapSettings bare(double rangeKm) {
    MapSettings s;
    s.rangeKm = std::to_string(rangeKm);
    s.showCoasts = s.showBorders = s.showRivers = s.showTopo = false;
    s.cityMode = s.centerHow = 0;
    s.trackLineWidth = 1;
    return s;
}

// Pixels of `area` that `match` accepts.
template <class Match>
int count(const QImage& image, QRect area, Match match) {
    int n = 0;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += match(image.pixel(x, y) & 0xFFFFFF);
    return n;
}

bool notWhite(QRgb p) { return p != 0xFFFFFF; }

// `colour` over white at least half strong (lines are antialiased, so their
// edges are blends).
auto tinted(QRgb colour) {
    return [colour](QRgb p) {
        const int pc[] = {qRed(p), qGreen(p), qBlue(p)}, cc[] = {qRed(colour), qGreen(colour), qBlue(colour)};
        const auto k = std::min_element(cc, cc + 3) - cc;  // where the colour is farthest from white
        const double alpha = (255.0 - pc[k]) / (255.0 - cc[k]);
        bool ok = alpha >= 0.5;
        for (int i = 0; i < 3; ++i) ok = ok && std::abs(pc[i] - (255 - alpha * (255 - cc[i]))) <= 25;
        return ok;
    };
}

// A .pnt file of one segment through the given points.
std::string pnt(const std::vector<std::pair<double, double>>& latLonDegrees) {
    std::string bytes;
    for (auto [lat, lon] : latLonDegrees) {
        for (long v : {bytes.empty() ? 1000L : 0L, std::lround(lat * 60), std::lround(lon * 60)})
            bytes += {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
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
    EXPECT_GT(std::min(count(image, QRect(0, 0, 40, 200), notWhite), count(image, QRect(360, 0, 40, 200), notWhite)), 0)
        << "both pieces are drawn at the edges";
    EXPECT_EQ(count(image, QRect(60, 0, 280, 200), notWhite), 0) << "no stroke across the map";
}

// The layers are read partly on another thread; what reading them logs
// still reaches the sink on the drawing thread, in the order they are drawn.
TEST(MapComposer, TheLayersMessagesComeInDrawingOrderOnTheDrawingThread) {
    TempDir dir;
    dir.write("lake.pnt", pnt({{10, 10}, {11, 11}}));
    dir.write("coast.pnt", pnt({{10, 170}, {10, 179.5}}));
    MapComposer composer;
    composer.setMapDataDirectory(dir.path().string());
    MapSettings s = bare(5000);
    s.showCoasts = s.showBorders = s.showRivers = true;
    std::vector<std::string> got;
    const std::thread::id drawing = std::this_thread::get_id();
    setMessageSink([&](MessageLevel, const std::string& text) {
        EXPECT_EQ(std::this_thread::get_id(), drawing);
        const std::size_t open = text.find('"'), close = text.find('"', open + 1);
        const std::string path = text.substr(open + 1, close - open - 1);
        got.push_back(text.substr(0, open) + path.substr(path.rfind('/') + 1));
    });
    QImage image(400, 200, QImage::Format_RGB32);
    GeoPosition centre{0, 0};
    composer.drawBaseMap(image, s, centre);
    const std::vector<std::string> expected = {
        "Error: Could not open file state.pnt",   "Error: Could not open file country.pnt",
        "Debug: lake.pnt",                        "Error: Could not open file river.pnt",
        "Error: Could not open file island.pnt", "Debug: coast.pnt"};
    EXPECT_EQ(got, expected);
    // Drawn again: nothing new to say; a file that changed is said again.
    dir.write("lake.pnt", pnt({{10, 10}, {11, 11}, {12, 12}}));
    for (int i = 0; i < 2; ++i) composer.drawBaseMap(image, s, centre);
    setMessageSink({});
    EXPECT_EQ(got.size(), expected.size() + 1);
    EXPECT_EQ(got.back(), "Debug: lake.pnt");
}

// Where a position (degrees) shows on the last picture: every copy of it
// that lies on the picture (a cylindric map repeats every 360 degrees).
std::vector<QPoint> copiesOf(const MapView& v, double latDeg, double lonDeg) {
    double x, y;
    std::vector<QPoint> found;
    if (!geo_to_pixel(v, lonDeg * kDegToRad, latDeg * kDegToRad, &x, &y)) return found;
    const double period = v.projection == kAzimuthal ? 0 : 2 * std::numbers::pi * v.width / (v.lon_max - v.lon_min);
    for (int k = -4; k <= 4; ++k) {
        const double cx = x + k * period;
        if (cx >= 0 && cx < v.width && y >= 0 && y < v.height) found.emplace_back(int(cx), int(y));
        if (period == 0) break;
    }
    return found;
}

// Tracks as lists of (latitude, longitude) in degrees, labelled.
MapComposer::TrackSource tracks(std::vector<std::vector<std::pair<double, double>>> lines, const char* label = "") {
    return [lines, label](MapView& view, const PointSink& sink) {
        for (const auto& line : lines) {
            std::strcpy(view.item_label, label);
            sink(view, nullptr, kItemBegin);
            std::vector<MapPoint> points;
            for (auto [lat, lon] : line)
                points.push_back({float(lat * kDegToRad), float(lon * kDegToRad), 0, int(points.size())});
            sink(view, points.data(), int(points.size()));
            sink(view, nullptr, kItemEnd);
        }
        return true;
    };
}

TEST(MapComposer, LinesShowWhereverTheyCrossThePicture) {
    using Points = std::vector<std::pair<double, double>>;
    struct Case {
        const char* what;
        int projection;
        double lat, lon, rangeKm;
        int width, height;
        Points track, drawn, blank;
    };
    const Case cases[] = {
        {"the neighbours of a point far outside, range 1 km", kCylindric, 50.1, 8.68, 1, 600, 400,
         {{50.1, 8.0}, {50.1, 8.68}, {50.11, 9.4}}, {{50.1, 8.675}, {50.1, 8.6805}}, {}},
        {"a step through the picture, both ends far outside", kCylindric, 50.1, 8.68, 2, 600, 400,
         {{50.0, 8.6}, {50.2, 8.76}}, {{50.1, 8.68}}, {}},
        {"a step longer than half the picture", kCylindric, 50.0, 8.1, 5, 1200, 800, {{50.0, 8.0}, {50.0, 8.2}},
         {{50.0, 8.03}, {50.0, 8.1}, {50.0, 8.17}}, {}},
        {"across the Pacific on a map 720 degrees wide", kCylindric, 0, 0, 20000, 1200, 600, {{10, 170}, {10, -170}},
         {{10, 175}, {10, -175}}, {{10, 0}, {10, 90}, {10, -90}}},
        {"azimuthal, zoomed in, ends far outside", kAzimuthal, 50.1, 8.68, 1, 600, 400, {{50.1, 8.0}, {50.1, 9.4}},
         {{50.1, 8.68}}, {}},
        {"azimuthal, past the antipode: cut at the rim", kAzimuthal, 0, 0, 20000, 800, 800, {{1, 179}, {-1, -179}}, {},
         {{0, 0}, {0, 30}, {0, -30}}},
    };
    const auto red = tinted(qRgb(192, 0, 0));
    for (const Case& c : cases) {
        MapComposer composer;
        MapSettings s = bare(c.rangeKm);
        s.projection = c.projection;
        composer.setTrackSource(tracks({c.track}));
        QImage base(c.width, c.height, QImage::Format_RGB32), image;
        GeoPosition centre{c.lon * kDegToRad, c.lat * kDegToRad}, away{centre.lon + 3, -centre.lat};
        composer.drawBaseMap(base, s, centre);
        composer.drawOverlay(base, image, s, away, away);
        for (auto [lat, lon] : c.drawn) {
            const auto at = copiesOf(composer.view(), lat, lon);
            EXPECT_FALSE(at.empty()) << c.what;
            for (QPoint p : at)
                EXPECT_GT(count(image, QRect(p - QPoint(2, 2), QSize(5, 5)), red), 0)
                    << c.what << " at " << lat << ", " << lon;
        }
        for (auto [lat, lon] : c.blank)
            for (QPoint p : copiesOf(composer.view(), lat, lon))
                EXPECT_EQ(count(image, QRect(p - QPoint(3, 3), QSize(7, 7)), red), 0)
                    << c.what << " no stroke at " << lat << ", " << lon;
    }
}

TEST(MapComposer, TrackLabelsBelongToDrawnPieces) {
    struct Case {
        const char* what;
        std::vector<std::pair<double, double>> track;
        bool labelled;
    };
    const Case cases[] = {
        {"a single point on the picture", {{0, 0}}, false},
        {"a step across the picture from far outside", {{-1, -5}, {1, 5}}, true},
        {"a step outside the picture", {{20, 20}, {21, 21}}, false},
    };
    for (const Case& c : cases) {
        MapComposer composer;
        MapSettings s = bare(300);
        s.trackLabelColour = 0x0000C080;  // (128, 192, 0)
        composer.setTrackSource(tracks({c.track}, "Walk"));
        QImage base(300, 300, QImage::Format_RGB32), image;
        GeoPosition centre{0, 0}, away{2.0, 1.0};
        composer.drawBaseMap(base, s, centre);
        composer.drawOverlay(base, image, s, away, away);
        EXPECT_EQ(count(image, image.rect(), tinted(qRgb(128, 192, 0))) > 0, c.labelled) << c.what;
    }
}

// The tracks are drawn again only when they, the base map, the view or
// their style changed; every picture is the one a composer that draws them
// every time makes.
TEST(MapComposer, TracksAreDrawnAgainOnlyWhenWhatTheyShowChanged) {
    std::vector<std::pair<double, double>> line{{0, -1}, {0.5, 0.5}, {1, 1}};
    uint64_t changes = 0;
    int traced = 0;
    MapComposer kept, fresh, once;
    once.setTrackSource([&](MapView& view, const PointSink& sink) { return tracks({line}, "Walk")(view, sink); },
                        [&changes] { return changes; });
    kept.setTrackSource(
        [&](MapView& view, const PointSink& sink) {
            ++traced;
            return tracks({line}, "Walk")(view, sink);
        },
        [&changes] { return changes; });
    fresh.setTrackSource([&](MapView& view, const PointSink& sink) { return tracks({line}, "Walk")(view, sink); });
    MapSettings s = bare(300);
    s.brg1x = "30";
    s.trackLineWidth = 3;
    QImage keptBase(300, 200, QImage::Format_RGB32), freshBase(300, 200, QImage::Format_RGB32), keptImage, freshImage;
    GeoPosition centre{0, 0}, a{0.01, 0.005}, b{-0.01, 0.0};
    const struct {
        const char* what;
        std::function<void()> change;
        bool redrawn;
    } steps[] = {
        {"the first overlay", [] {}, true},
        {"a keystroke", [&] { s.brg1x = "31"; }, false},
        {"another observer", [&] { a.lat += 0.001; }, false},
        {"a point more", [&] { line.push_back({1.2, 0.8}); ++changes; }, true},
        {"the track colour", [&] { s.trackLineColour = 0x00FF0000; }, true},
        {"the line width", [&] { s.trackLineWidth = 5; }, true},
        {"the base map drawn again", [&] { kept.drawBaseMap(keptBase, s, centre); fresh.drawBaseMap(freshBase, s, centre); }, true},
        {"zoomed out", [&] {
             s.rangeKm = "600";
             kept.drawBaseMap(keptBase, s, centre);
             fresh.drawBaseMap(freshBase, s, centre);
         }, true},
        {"a keystroke again", [&] { s.brg2x = "100"; }, false},
    };
    kept.drawBaseMap(keptBase, s, centre);
    fresh.drawBaseMap(freshBase, s, centre);
    for (const auto& step : steps) {
        step.change();
        const int before = traced;
        const QImage baseBefore = keptBase.copy();
        kept.drawOverlay(keptBase, keptImage, s, a, b);
        fresh.drawOverlay(freshBase, freshImage, s, a, b);
        EXPECT_EQ(traced > before, step.redrawn) << step.what;
        EXPECT_TRUE(keptImage == freshImage) << step.what;
        EXPECT_TRUE(keptBase == baseBefore) << step.what << ": the base map is left as it was";
        // The single picture of the command line: the base map drawn on itself.
        QImage picture(300, 200, QImage::Format_RGB32);
        GeoPosition centreOnce = centre;
        once.drawBaseMap(picture, s, centreOnce);
        once.drawOverlayOnce(picture, s, a, b);
        EXPECT_TRUE(picture == keptImage) << step.what;
        EXPECT_GT(count(keptImage, keptImage.rect(), tinted(fromColourRef(s.trackLineColour).rgb())), 0) << step.what;
    }
}

// Without tracks or a line A-B the overlay's layers are the base map's own
// pixels, and drawing the base map again copies nothing.
TEST(MapComposer, LayersWithNothingOnThemCostNoCopy) {
    MapComposer composer;
    composer.setTrackSource([](MapView&, const PointSink&) { return true; }, [] { return uint64_t{0}; });
    MapSettings s = bare(300);
    s.brg1x = "30";
    QImage base(300, 200, QImage::Format_RGB32), image;
    GeoPosition centre{0, 0};
    const GeoPosition none{NAN, NAN};
    composer.drawBaseMap(base, s, centre);
    composer.drawOverlay(base, image, s, none, none);
    EXPECT_FALSE(base.isDetached()) << "the layers share its pixels";
    const uchar* pixels = base.constBits();
    s.rangeKm = "600";
    composer.drawBaseMap(base, s, centre);
    EXPECT_EQ(base.constBits(), pixels);
    composer.drawOverlay(base, image, s, none, none);
    EXPECT_TRUE(image == base) << "nothing drawn over it";
}

TEST(MapComposer, SectorsAndTheLineABOnTheWholeGlobe) {
    const auto orange = tinted(kOrange);
    MapComposer composer;
    MapSettings s = bare(20000);
    s.brg1x = "60";
    s.brg2x = "300";
    s.brg1Tol = s.brg2Tol = "3";
    s.colourA = s.colourB = 0x00FFFFFF;  // only the line A-B
    QImage base(1200, 600, QImage::Format_RGB32), image;
    GeoPosition centre{0, 0}, a{140 * kDegToRad, 35 * kDegToRad}, b{-155 * kDegToRad, 20 * kDegToRad};
    composer.drawBaseMap(base, s, centre);
    composer.drawOverlay(base, image, s, a, b);
    for (QPoint p : copiesOf(composer.view(), 15, 15))
        EXPECT_EQ(count(image, QRect(p - QPoint(60, 40), QSize(121, 81)), orange), 0) << "no line over Africa";
    for (QPoint p : copiesOf(composer.view(), 32.78, 170.0))  // on the great circle A-B (normal A x B, by hand)
        EXPECT_GT(count(image, QRect(p - QPoint(3, 3), QSize(7, 7)), orange), 0) << "the line over the Pacific";

    // Zoomed in on X, far from both observers: both sectors cross the picture.
    s = bare(9.4);
    s.pos1 = "N52.14 E8.48";
    s.pos2 = "N51.90 E8.90";
    s.brg1x = "190";
    s.brg2x = "280";
    s.brg1Tol = s.brg2Tol = "3";
    scan_position(s.pos1, a);
    scan_position(s.pos2, b);
    IntersectionResult x;
    bearing_intersection(x, a.lon, a.lat, 190 * kDegToRad, b.lon, b.lat, 280 * kDegToRad);
    ASSERT_EQ(x.status, 0);
    centre = x.x;
    QImage near(600, 400, QImage::Format_RGB32);
    composer.drawBaseMap(near, s, centre);
    composer.drawOverlay(near, image, s, a, b);
    const QRect aroundX(290, 190, 21, 21);
    EXPECT_GT(count(image, aroundX, tinted(kTeal)), 0);
    EXPECT_GT(count(image, aroundX, tinted(kPurple)), 0);
}

TEST(MapComposer, APolarCentreShowsTheArctic) {
    TempDir dir;
    std::vector<std::pair<double, double>> ring;
    for (int lon = -180; lon <= 180; lon += 5) ring.emplace_back(80, lon);
    dir.write("coast.pnt", pnt(ring));
    dir.write("island.pnt", "");
    MapSettings s = bare(2000);
    s.showCoasts = true;
    for (double poleLat : {90.0, 89.99, -90.0}) {
        if (poleLat < 0) {
            for (auto& point : ring) point.first = -80;
            dir.write("coast.pnt", pnt(ring));
        }
        MapComposer composer;
        composer.setMapDataDirectory(dir.path().string());
        QImage image(400, 300, QImage::Format_RGB32);
        GeoPosition centre{0, poleLat * kDegToRad};
        composer.drawBaseMap(image, s, centre);
        int columns = 0;
        for (int x = 0; x < 400; ++x) columns += count(image, QRect(x, 0, 1, 300), tinted(qRgb(0, 0, 0))) > 0;
        EXPECT_GT(columns, 390) << "the parallel of 80 degrees runs across the picture, centre " << poleLat;
    }
}

TEST(MapComposer, CitiesAtTheLeftEdge) {
    CityInfo aachen;
    ASSERT_TRUE(city_get(0, aachen));
    MapSettings s = bare(5);
    s.cityMode = 1;
    MapView probe;
    map_view_setup(probe, kCylindric, aachen.lon, aachen.lat, 5, 100, 100);
    for (auto [column, drawn] : {std::pair{1.5, false}, {2.5, true}}) {
        // Centred so that Aachen falls on `column` of 100.
        GeoPosition centre{aachen.lon + (probe.lon_max - probe.lon_min) * (0.5 - column / 100), aachen.lat};
        QImage image(100, 100, QImage::Format_RGB32);
        MapComposer().drawBaseMap(image, s, centre);
        EXPECT_EQ(count(image, QRect(0, 40, 10, 20), tinted(kPlace)) > 0, drawn) << column;
    }
    // A map 720 degrees wide shows every place twice.
    MapComposer composer;
    QImage world(1200, 600, QImage::Format_RGB32);
    GeoPosition centre{0, 0};
    s.rangeKm = "20000";
    composer.drawBaseMap(world, s, centre);
    const auto places = copiesOf(composer.view(), aachen.lat / kDegToRad, aachen.lon / kDegToRad);
    ASSERT_EQ(places.size(), 2u);
    for (QPoint p : places) EXPECT_GT(count(world, QRect(p - QPoint(4, 4), QSize(9, 9)), tinted(kPlace)), 0) << p.x();
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
    GeoPosition centre, a, b;
    scan_position(s.pos1, a);
    scan_position("N49\xB0" "27'00\" E011\xB0" "00'00\"", b);
    composer.drawBaseMap(base, s, centre);
    composer.drawOverlay(base, image, s, a, b);
    IntersectionResult r;
    bearing_intersection(r, a.lon, a.lat, 260 * kDegToRad, b.lon, b.lat, 288 * kDegToRad);
    int px, py;
    ASSERT_TRUE(r.status == 0 && geo_to_screen(composer.view(), r.x.lon, r.x.lat, &px, &py));
    const QRect aroundX(px - 12, py - 12, 25, 25);
    EXPECT_GT(count(image, aroundX, tinted(kTeal)), 0);
    EXPECT_GT(count(image, aroundX, tinted(kPurple)), 0);
    EXPECT_GT(count(image, aroundX, notWhite), 25 * 25 / 5) << "the hatches leave gaps, but not only gaps";
}

// An observer whose bearing field holds no number has no sector: not one
// due north, which is where scan_decimal's 0 would put it.
TEST(MapComposer, NoBearingNoSector) {
    const std::pair<const char*, bool> cases[] = {{"0", true}, {"", false}, {"  ", false}, {"n", false}};
    for (const auto& [bearing, drawn] : cases) {
        MapComposer composer;
        MapSettings s = bare(100);
        s.pos1 = "N50 E8";
        s.brg1x = bearing;
        s.brg2x = "";
        QImage base(400, 400, QImage::Format_RGB32), image;
        GeoPosition centre{8 * kDegToRad, 50 * kDegToRad}, a = centre, b{9 * kDegToRad, 49 * kDegToRad};
        composer.drawBaseMap(base, s, centre);
        composer.drawOverlay(base, image, s, a, b);
        const QRect north(195, 20, 11, 150);  // above A, in the picture's middle
        EXPECT_EQ(count(image, north, tinted(kTeal)) > 0, drawn) << '"' << bearing << '"';
        EXPECT_EQ(count(image, image.rect(), tinted(kPurple)), 0) << '"' << bearing << '"';
    }
}

// A keystroke puts back only what the last overlay drew on: over random
// changes of bearings, tolerances, observers, pens, the ruler, a layer of
// the caller's and the base map (both projections, every range, across the
// antimeridian and round a pole), every picture is the one a single full
// drawing makes, and differs from the one before only where it says.
TEST(MapComposer, AnOverlayDrawnAgainIsTheWholeDrawing) {
    std::mt19937 random(20261207);
    auto uniform = [&random](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
    auto chance = [&random](double p) { return std::bernoulli_distribution(p)(random); };
    bool layerDraws = false;
    auto layer = [&layerDraws](QPainter& painter, const MapView&, bool over) {
        if (!layerDraws || !over) return false;
        painter.fillRect(QRect(5, 5, 30, 20), Qt::red);
        return true;
    };
    MapComposer kept;
    kept.setBearingLayer(layer);
    MapSettings s = bare(30);
    s.pos1 = "N52.1 E8.75";
    s.pos2 = "N52.0 E8.9";
    s.brg1x = "260";
    s.brg2x = "300";
    s.brg1Tol = s.brg2Tol = "2";
    GeoPosition centre{8.8 * kDegToRad, 52.05 * kDegToRad}, a, b;
    QImage base(420, 300, QImage::Format_RGB32), image;
    for (int step = 0; step < 200; ++step) {
        layerDraws = false;  // now and then only: while it draws, all is put back
        switch (step == 0 ? 7 : std::uniform_int_distribution<int>(0, 7)(random)) {
            case 0: s.brg1x = chance(0.2) ? "" : std::to_string(uniform(-360, 720)); break;  // "": no sector
            case 1: s.brg2x = chance(0.2) ? "" : std::to_string(uniform(0, 360)); break;
            case 2: (chance(0.5) ? s.brg1Tol : s.brg2Tol) = std::to_string(uniform(0, 40)); break;
            case 3:
                s.ambiguity1 = chance(0.5);
                s.ambiguity2 = chance(0.5);
                s.showRuler = chance(0.7);
                break;
            case 4: {  // an observer moves, maybe out of the picture, maybe to the view's centre
                std::string& pos = chance(0.5) ? s.pos1 : s.pos2;
                pos = "N" + std::to_string(uniform(51.7, 52.4)) + " E" + std::to_string(uniform(8.2, 9.4));
                if (chance(0.3))
                    pos = format_position({centre.lon + uniform(-0.01, 0.01), centre.lat - uniform(0, 0.01)},
                                          PosFormat::DecimalDegrees);
                break;
            }
            case 5: s.trackLineWidth = std::uniform_int_distribution<int>(1, 9)(random); break;
            case 6: layerDraws = true; break;
            case 7: {  // the base map drawn again, elsewhere: near the observers, the antimeridian or a pole
                static constexpr double kRanges[] = {1, 20, 600, 20000};
                s.rangeKm = std::to_string(kRanges[std::uniform_int_distribution<int>(0, 3)(random)] * uniform(0.7, 1.5));
                s.projection = chance(0.5) ? 1 : 0;
                const int where = std::uniform_int_distribution<int>(0, 2)(random);
                centre = where == 0   ? GeoPosition{uniform(8.4, 9.1) * kDegToRad, 52.05 * kDegToRad}
                         : where == 1 ? GeoPosition{uniform(179.5, 180.0) * kDegToRad, uniform(-10, 10) * kDegToRad}
                                      : GeoPosition{uniform(-180, 180) * kDegToRad, uniform(85, 90) * kDegToRad};
                kept.drawBaseMap(base, s, centre);
                break;
            }
        }
        scan_position(s.pos1, a);
        scan_position(s.pos2, b);
        const QImage before = image.copy();
        kept.drawOverlay(base, image, s, a, b);
        // What changed lies within the change reported, where the screen is painted again.
        if (before.size() == image.size()) {
            QImage within(image.size(), QImage::Format_Grayscale8);
            within.fill(0);
            QPainter marker(&within);
            for (const QRect& r : kept.lastChange()) marker.fillRect(r, Qt::white);
            marker.end();
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (within.pixelColor(x, y) != Qt::black) continue;
                    ASSERT_EQ(image.pixel(x, y), before.pixel(x, y)) << "step " << step << " at " << x << "," << y;
                }
            }
        }
        MapComposer once;
        once.setBearingLayer(layer);
        QImage picture(base.size(), base.format());
        GeoPosition centreOnce = centre;
        once.drawBaseMap(picture, s, centreOnce);
        once.drawOverlayOnce(picture, s, a, b);
        ASSERT_TRUE(picture == image) << "step " << step;
    }
}

TEST(MapComposer, ZeroToleranceMeridianAndAntimeridian) {
    MapComposer composer;
    MapSettings s = bare(300);
    s.brg1x = "90";
    s.brg1Tol = "0";
    s.colourB = 0x00FFFFFF;  // B's sector out of sight
    QImage base(300, 300, QImage::Format_RGB32), image;
    // A and B on one meridian: the line A-B runs along it.
    GeoPosition centre{8 * kDegToRad, 51 * kDegToRad}, a{8 * kDegToRad, 50 * kDegToRad}, b{8 * kDegToRad, 52 * kDegToRad};
    composer.drawBaseMap(base, s, centre);
    composer.drawOverlay(base, image, s, a, b);
    int ax, ay, by;
    geo_to_screen(composer.view(), a.lon, a.lat, &ax, &ay);
    geo_to_screen(composer.view(), b.lon, b.lat, &ax, &by);
    EXPECT_GT(count(image, QRect(ax - 1, by + 5, 3, ay - by - 10), tinted(kOrange)), (ay - by - 10) / 2);
    EXPECT_EQ(count(image, QRect(ax + 5, 0, 300 - ax - 5, 300), tinted(kOrange)), 0);
    // Tolerance 0: A's sector is a line due east of A.
    EXPECT_GT(count(image, QRect(ax + 10, ay - 2, 60, 5), tinted(kTeal)), 30);
    EXPECT_EQ(count(image, QRect(ax + 10, ay - 40, 60, 30), tinted(kTeal)), 0);

    s.rangeKm = "1000";
    centre = a = {179 * kDegToRad, 0};
    composer.drawBaseMap(base, s, centre);
    composer.drawOverlay(base, image, s, a, {1.0, 1.0});
    EXPECT_GT(count(image, QRect(160, 140, 140, 20), tinted(kTeal)), 100) << "east of A, across the antimeridian";
    EXPECT_EQ(count(image, QRect(0, 140, 140, 20), tinted(kTeal)), 0) << "not the long way round";
}

TEST(MapComposer, TracksAreLabelledPolylinesWithoutGaps) {
    MapComposer composer;
    MapSettings s = bare(300);
    s.trackLineColour = 0x000000C0;   // (192, 0, 0)
    s.trackLabelColour = 0x0000C080;  // (128, 192, 0)
    s.trackLineWidth = 3;
    QImage base(300, 300, QImage::Format_RGB32), image;
    GeoPosition centre{0.0, 0.0}, far{2.0, 1.0};  // the observers off the map
    composer.drawBaseMap(base, s, centre);
    composer.setTrackSource([](MapView& view, const PointSink& sink) {
        auto item = [&](const char* label, const std::vector<std::vector<MapPoint>>& batches) {
            std::strcpy(view.item_label, label);
            sink(view, nullptr, kItemBegin);
            for (const auto& batch : batches) sink(view, batch.data(), static_cast<int>(batch.size()));
            sink(view, nullptr, kItemEnd);
        };
        item("Walk", {{{0.0f, -0.02f, 0, 0}, {0.0f, 0.0f, 0, 1}}, {{0.0f, 0.02f, 0, 2}}});  // two batches, as a long one
        std::vector<MapPoint> offMap;
        for (int i = 0; i < 50; ++i) offMap.push_back({0.5f, static_cast<float>(0.5 + i * 0.001), 0, i});
        item("far", {offMap});  // neither line nor label
        return true;
    });
    composer.drawOverlay(base, image, s, far, far);
    int x0, x1, y;
    geo_to_screen(composer.view(), 0.0, 0.0, &x0, &y);
    geo_to_screen(composer.view(), 0.02, 0.0, &x1, &y);
    EXPECT_GT(count(image, QRect(x0 + 2, y - 1, x1 - x0 - 4, 3), tinted(qRgb(192, 0, 0))), (x1 - x0 - 4) * 2)
        << "the second batch joins the first";
    EXPECT_GT(count(image, QRect(0, y + 2, 300, 20), tinted(qRgb(128, 192, 0))), 10) << "the name under the line";
    EXPECT_EQ(count(image, QRect(0, 0, 300, y - 3), notWhite) + count(image, QRect(0, y + 25, 300, 300), notWhite), 0);
}

// A segment with a colour of its own is drawn in it; the next one without
// goes back to the track settings' colour.
TEST(MapComposer, ASegmentIsDrawnInItsOwnColour) {
    MapComposer composer;
    MapSettings s = bare(300);
    s.trackLineColour = 0x000000C0;  // (192, 0, 0)
    s.trackLineWidth = 3;
    QImage base(300, 300, QImage::Format_RGB32), image;
    GeoPosition centre{0.0, 0.0}, far{2.0, 1.0};
    composer.drawBaseMap(base, s, centre);
    composer.setTrackSource([](MapView& view, const PointSink& sink) {
        auto item = [&](int32_t colour, float lat) {
            view.item_colour = colour;
            sink(view, nullptr, kItemBegin);
            const MapPoint line[] = {{lat, -0.02f, 0, 0}, {lat, 0.02f, 0, 1}};
            sink(view, line, 2);
            sink(view, nullptr, kItemEnd);
        };
        item(0x00C000, 0.01f);  // 0x00BBGGRR: (0, 192, 0)
        item(-1, -0.01f);
        return true;
    });
    composer.drawOverlay(base, image, s, far, far);
    int x0, x1, yGreen, yRed;
    geo_to_screen(composer.view(), -0.02, 0.01, &x0, &yGreen);
    geo_to_screen(composer.view(), 0.02, -0.01, &x1, &yRed);
    const int length = x1 - x0 - 4;
    EXPECT_GT(count(image, QRect(x0 + 2, yGreen - 1, length, 3), tinted(qRgb(0, 192, 0))), length * 2);
    EXPECT_EQ(count(image, QRect(x0 + 2, yGreen - 1, length, 3), tinted(qRgb(192, 0, 0))), 0);
    EXPECT_GT(count(image, QRect(x0 + 2, yRed - 1, length, 3), tinted(qRgb(192, 0, 0))), length * 2);
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
    for (const std::string& line : log) EXPECT_TRUE(line.starts_with("Error: Could not open file \"/nonexistent/map_data/"));
    EXPECT_GT(count(image, image.rect(), tinted(kPlace)), 0) << "the places are drawn all the same";

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
    EXPECT_GT(count(image, QRect(0, 145, 300, 10), tinted(qRgb(0, 0, 0))), 60) << "the coast there was: 2 of 8.6 degrees";
}

// Ranges no zoom reaches, typed or stored, are taken at the zoom limits.
TEST(MapComposer, RangeWithinTheZoomLimitsAndASaneRuler) {
    const std::pair<std::string, double> cases[] = {
        {"0", 0.01}, {"1e-9", 1}, {"0.000000001", 0.01}, {"-5", 0.01}, {"0.01", 0.01},
        {"20000", 20000}, {"20001", 20000}, {"1" + std::string(300, '0'), 20000}, {"250.5", 250.5},
    };
    for (const auto& [text, range] : cases) {
        MapComposer composer;
        MapSettings s = bare(1);
        s.rangeKm = text;
        s.showRuler = true;
        QImage base(400, 300, QImage::Format_RGB32), image;
        GeoPosition centre{8 * kDegToRad, 50 * kDegToRad}, far{2.0, 1.0};
        composer.drawBaseMap(base, s, centre);
        EXPECT_EQ(composer.currentRange(), range) << text;
        composer.drawOverlay(base, image, s, far, far);
        // The bar: black, from x = 10, a quarter of the width at most.
        const int bar = count(image, QRect(10, 300 - 12, 390, 1), [](QRgb p) { return p == 0; });
        EXPECT_TRUE(bar >= 20 && bar <= 110) << text << ": " << bar;
    }
}

// The degree grid: a readable number of lines whatever the view, parallels
// and meridians both.
// Labels name the earth's meridians whichever copy a line is on, and a sum
// of steps that misses 0 is still 0 (worked by hand).
TEST(MapComposer, GridLabels) {
    struct { double degrees, step; bool longitude; const char* text; } const cases[] = {
        {8.75, 0.05, true, "8.75\xB0" "E"},   {180.5, 0.5, true, "179.5\xB0" "W"}, {181, 1, true, "179\xB0" "W"},
        {180, 1, true, "180\xB0" "E"},        {-180, 1, true, "180\xB0" "E"},      {-190, 10, true, "170\xB0" "E"},
        {540, 30, true, "180\xB0" "E"},       {-5.55e-17, 0.1, true, "0.0\xB0" "E"}, {-0.3, 0.1, true, "0.3\xB0" "W"},
        {-5.55e-17, 0.1, false, "0.0\xB0" "N"}, {50.5, 0.5, false, "50.5\xB0" "N"}, {-89, 1, false, "89\xB0" "S"},
    };
    for (const auto& c : cases) EXPECT_EQ(gridLabel(c.degrees, c.step, c.longitude), c.text) << c.degrees;
}

TEST(MapComposer, DegreeGridLinesAreBoundedAndPresent) {
    const QRgb kGrid = qRgb(160, 160, 160);
    const struct {
        int projection;
        double lat, rangeKm;
        int fewest = 2;  // lines across the row and the column
    } views[] = {
        {kAzimuthal, 50, 5}, {kAzimuthal, 50, 1}, {kAzimuthal, 50, 0.01, 1}, {kAzimuthal, 89.99, 1},
        {kCylindric, 89.99, 1}, {kCylindric, 50, 1000}, {kAzimuthal, 50, 1000}, {kAzimuthal, -60, 20000},
    };
    for (const auto& v : views) {
        MapSettings s = bare(v.rangeKm);
        s.projection = v.projection;
        s.gridMode = 1;
        QImage image(400, 300, QImage::Format_RGB32);
        GeoPosition centre{8 * kDegToRad, v.lat * kDegToRad};
        MapComposer().drawBaseMap(image, s, centre);
        // Lines crossing a row a quarter from the top, and a column a quarter from the left.
        auto crossings = [&](QRect line) {
            int runs = 0, grey = 0;
            bool inRun = false;
            for (int y = line.top(); y <= line.bottom(); ++y)
                for (int x = line.left(); x <= line.right(); ++x) {
                    const bool g = tinted(kGrid)(image.pixel(x, y) & 0xFFFFFF);
                    runs += g && !inRun;
                    grey += g;
                    inRun = g;
                }
            return std::pair(runs, grey);
        };
        const auto [meridians, rowGrey] = crossings(QRect(0, 75, 400, 1));
        const auto [parallels, columnGrey] = crossings(QRect(100, 0, 1, 300));
        const std::string view = std::to_string(v.projection) + " " + std::to_string(v.lat) + " " + std::to_string(v.rangeKm);
        EXPECT_TRUE(meridians >= v.fewest && meridians <= 100 && rowGrey < 200) << view << ": " << meridians << ", " << rowGrey;
        EXPECT_TRUE(parallels >= v.fewest && parallels <= 100 && columnGrey < 150) << view << ": " << parallels << ", " << columnGrey;
    }
}

}  // namespace
}  // namespace bearfix
