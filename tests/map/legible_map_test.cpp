// Place names that do not pile up, and the word in the picture when the
// terrain is asked for where no elevation file lies.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "cities/cities.h"
#include "cities/city_table.h"
#include "map/elevation.h"
#include "map/label_placer.h"
#include "map/map_composer.h"
#include "map/map_parts.h"
#include "map/qt_convert.h"
#include "support/message_log.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

constexpr double kDeg = std::numbers::pi / 180;

MapSettings places(int projection, int cityMode, bool hide) {
    MapSettings s;
    s.projection = projection;
    s.rangeKm = "600";
    s.showCoasts = s.showBorders = s.showRivers = s.showTopo = false;
    s.centerHow = 0;
    s.cityMode = cityMode;
    s.hideOverlappingLabels = hide;
    return s;
}

// Pixels of the names: grey (207) on the white of their boxes, and the
// greys between; the places' markers are red.
bool namePixel(QRgb p) { return qRed(p) == qGreen(p) && qGreen(p) == qBlue(p) && qRed(p) < 255; }

TEST(PlaceNames, NoTwoOverlapAt600KmOverCentralEurope) {
    for (int projection : {kCylindric, kAzimuthal}) {
        for (int mode : {2, 3}) {  // initials, names
            SCOPED_TRACE("projection " + std::to_string(projection) + ", mode " + std::to_string(mode));
            MapComposer composer;
            QImage image(1200, 800, QImage::Format_RGB32);
            GeoPosition centre{10 * kDeg, 50 * kDeg};
            composer.drawBaseMap(image, places(projection, mode, true), centre);
            const std::vector<QRect> boxes = composer.cityLabelBoxes();
            ASSERT_GT(boxes.size(), 40u);
            for (std::size_t i = 0; i < boxes.size(); ++i)
                for (std::size_t j = i + 1; j < boxes.size(); ++j)
                    ASSERT_FALSE(boxes[i].intersects(boxes[j])) << i << " and " << j;
            // The boxes are where the names are: no name pixel outside them.
            long outside = 0, named = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (!namePixel(image.pixel(x, y))) continue;
                    ++named;
                    outside += std::none_of(boxes.begin(), boxes.end(), [&](const QRect& r) { return r.contains(x, y); });
                }
            }
            EXPECT_GT(named, 2000);
            EXPECT_EQ(outside, 0);

            // Capitals come first: one whose name lies clear of other capitals' is shown.
            std::vector<QRect> capitals;
            CityInfo city;
            for (int i = 0; city_get(i, city); ++i) {
                double x, y;
                if (!(city.flags & kCityCapital) || !geo_to_pixel(composer.view(), city.lon, city.lat, &x, &y) ||
                    x < 2 || y < 2 || x >= image.width() || y >= image.height())
                    continue;
                std::string name(city.name, strnlen(city.name, sizeof city.name));
                QFont font("DejaVu Sans");
                font.setPixelSize(11);
                capitals.push_back(QFontMetrics(font).boundingRect(
                    QRect(int(x) + 4, int(y) - 4, 2000, 200), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                    toQString(mode == 2 ? name.substr(0, 2) : name)));
            }
            ASSERT_GT(capitals.size(), 5u);
            for (const QRect& c : capitals) {
                const bool alone = std::count_if(capitals.begin(), capitals.end(), [&](const QRect& o) {
                                       return o.intersects(c.adjusted(-3, -3, 3, 3));
                                   }) == 1;
                const bool shown = std::any_of(boxes.begin(), boxes.end(), [&](const QRect& r) { return r.contains(c); });
                EXPECT_TRUE(shown || !alone);
            }

            // Unticked: the old drawing, every name.
            QImage all(1200, 800, QImage::Format_RGB32);
            composer.drawBaseMap(all, places(projection, mode, false), centre);
            EXPECT_TRUE(composer.cityLabelBoxes().empty());
            long allNamed = 0;
            for (int y = 0; y < all.height(); ++y)
                for (int x = 0; x < all.width(); ++x) allNamed += namePixel(all.pixel(x, y));
            EXPECT_GT(allNamed, named * 5 / 4) << "overlapping names were left out";
        }
    }
}

// Names recur, and one measured where it first came serves wherever it
// recurs: every name placed takes the box it measures where it is drawn, no
// two such boxes overlap, and every name left out overlaps one placed.
TEST(PlaceNames, ARecurringNameTakesTheBoxItMeasuresWhereItIsDrawn) {
    QImage picture(800, 600, QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.setFont(QFont("DejaVu Sans", 7));
    const QFontMetrics metrics = painter.fontMetrics();
    const QString texts[] = {"Be", "Ba", "Jü", "gy", "Frankfurt am Main", "Ål", "Be", "Łódź", "Wy", "Ba"};
    std::vector<MapLabel> labels;
    std::srand(5);
    for (int i = 0; i < 400; ++i)
        labels.push_back({std::rand() % 900 - 50, std::rand() % 700 - 50, texts[i % 10], std::rand() % 3});
    LabelPlacer placer;
    const std::vector<const MapLabel*> shown = placer.placeAll(labels, metrics, kLabelFlags);
    ASSERT_EQ(placer.placed().size(), shown.size());
    ASSERT_GT(shown.size(), 20u);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const MapLabel& l = *shown[i];
        EXPECT_EQ(placer.placed()[i], LabelPlacer::boxOf(l.text, l.x, l.y, metrics, kLabelFlags)) << i;
    }
    for (const MapLabel& l : labels) {
        const QRect box = LabelPlacer::boxOf(l.text, l.x, l.y, metrics, kLabelFlags);
        const int overlaps = static_cast<int>(std::count_if(placer.placed().begin(), placer.placed().end(),
                                                            [&](const QRect& r) { return r.intersects(box); }));
        const bool placed = std::find(shown.begin(), shown.end(), &l) != shown.end();
        EXPECT_EQ(overlaps, placed ? 1 : std::max(overlaps, 1)) << l.x << "," << l.y;
    }
}

TEST(TerrainNotice, SaysWhenNoElevationFileCoversTheMap) {
    testing::TempDir empty;
    const std::string gtopo = elevation().gtopoDirectory(), srtm = elevation().srtmDirectory();
    const int source = elevation().source();
    elevation().setSource(kSrtm);
    elevation().setDirectories(gtopo, empty.path().string());
    elevation().forceReload();
    std::vector<std::string> warnings;
    setMessageSink([&](MessageLevel level, const std::string& text) {
        if (level == MessageLevel::Warning) warnings.push_back(text);
    });

    MapSettings s = places(kCylindric, 0, true);
    s.showTopo = true;
    QImage image(800, 500, QImage::Format_RGB32);
    GeoPosition centre{11.5 * kDeg, 57.5 * kDeg};
    MapComposer composer;
    for (int redraw = 0; redraw < 2; ++redraw) composer.drawBaseMap(image, s, centre);
    ASSERT_EQ(warnings.size(), 2u) << "once per drawing";
    EXPECT_EQ(warnings[0], "Warning: No terrain data in " + empty.path().string() + " \x97 Help -> Terrain data");
    auto letters = [&image] {  // dark pixels at the top left, of a white page otherwise
        int n = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 400; ++x) n += qGray(image.pixel(x, y)) < 100;
        return n;
    };
    EXPECT_GT(letters(), 100);

    // With a file under the map: neither.
    warnings.clear();
    ASSERT_EQ(std::system(("gzip -dc '" BEARFIX_SOURCE_DIR "/tests/data/N57E011.hgt.gz' > '" +
                           (empty.path() / "N57E011.hgt").string() + "'")
                              .c_str()),
              0);
    elevation().forceReload();
    composer.drawBaseMap(image, s, centre);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(letters(), 0);

    setMessageSink({});
    elevation().setSource(source);
    elevation().setDirectories(gtopo, srtm);
    elevation().forceReload();
}

}  // namespace
}  // namespace bearfix
