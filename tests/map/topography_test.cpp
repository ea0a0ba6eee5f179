#include "map/topography.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <set>

#include "temp_dir.h"
#include "tile_files.h"

namespace bearfix {
namespace {

using testing::makeTile;
using testing::TempDir;

// A 100 x 100 picture of the middle of one SRTM cell filled with `metres`.
QImage render(int16_t metres, double minElevation, double maxElevation, TopoSettings settings,
              const ElevationPalette* palette = nullptr, int voidRow = -1) {
    TempDir dir;
    const std::string tile = makeTile((dir.path() / "N10E010.hgt").string(), 1201, 1201, metres);
    if (voidRow >= 0) testing::setSample(tile, 1201, voidRow, 600, kElevationVoid);
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    QImage image(100, 100, QImage::Format_RGB32);
    image.fill(Qt::black);
    EXPECT_TRUE(renderTopography(image, cache, settings, minElevation, maxElevation, 10.45, 10.55, 10.45, 10.55,
                                 palette));
    return image;
}

QRgb middle(const QImage& image) { return image.pixel(50, 50) & 0xFFFFFF; }

TEST(Topography, PaletteEntries) {
    TopoSettings flat;
    flat.shading = false;
    const ElevationPalette& p = defaultPalette();
    EXPECT_EQ(middle(render(1000, 0, 2000, flat)), p[128]);
    EXPECT_EQ(middle(render(2000, 0, 2000, flat)), p[255]) << "256 is clamped";
    EXPECT_EQ(middle(render(-5, 0, 2000, flat)), p[0]);
    EXPECT_EQ(middle(render(0, 0, 2000, flat)), 0x0000FFu) << "sea level is water";
    EXPECT_EQ(middle(render(-28, 0, 2000, flat)), 0x6080FFu);
    EXPECT_EQ(middle(render(100, 0, 256, flat, &blackWhitePalette())), 0x646464u);
    EXPECT_EQ(middle(render(100, 500, 500, flat, &blackWhitePalette())), 85u * 0x010101u)
        << "an empty range scales 256 per 300 m from 0";
}

TEST(Topography, Shading) {
    TopoSettings sun;  // from the south, 45 degrees high
    // Flat ground: FFFF00 becomes (180, 180, 0), with or without exaggeration.
    ASSERT_EQ(defaultPalette()[47], 0xFFFF00u);
    EXPECT_EQ(middle(render(47, 0, 256, sun)), 0xB4B400u);
    sun.exaggeration = 0;
    EXPECT_EQ(middle(render(47, 0, 256, sun)), 0xB4B400u);

    EXPECT_EQ(scalePixel(0xFF40FF80, 0.2), 0xFF0C3319u);
    EXPECT_EQ(scalePixel(0x00FFFFFF, 1.5), 0x00FFFFFFu);
    EXPECT_EQ(scalePixel(0x00102030, 0.0), 0x00000000u);

    // A hole in the data gives its neighbours no slope: they keep their
    // colour unshaded instead of turning black or glaring.
    const QImage holed = render(47, 0, 256, sun, nullptr, 600);
    std::set<QRgb> colours;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) colours.insert(holed.pixel(x, y) & 0xFFFFFF);
    EXPECT_EQ(colours, (std::set<QRgb>{0xB4B400, 0xFFFF00, 0xFFFFFF})) << "shaded, unshaded, the hole";
}

constexpr double kDeg = 180 / std::numbers::pi;

std::string srtmPath(const TempDir& dir, int lat, int lon) {
    lon = (lon + 540) % 360 - 180;
    char name[32];  // room for any int, as the compiler checks
    std::snprintf(name, sizeof name, "%c%02d%c%03d.hgt", lat < 0 ? 'S' : 'N', std::abs(lat), lon < 0 ? 'W' : 'E',
                  std::abs(lon));
    return (dir.path() / name).string();
}

TEST(Topography, WideCylindricMapsShowTheTerrainInEveryCopy) {
    TempDir dir;
    makeTile(srtmPath(dir, 50, 8), 1201, 1201, 500);
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    MapView v;
    map_view_setup(v, kCylindric, 0, 0, 20000, 1200, 600);  // 720 degrees of longitude
    QImage image(1200, 600, QImage::Format_RGB32);
    TopoSettings flat;
    flat.shading = false;
    const double west = v.lon_min * kDeg, east = v.lon_max * kDeg, south = v.lat_min * kDeg, north = v.lat_max * kDeg;
    ASSERT_TRUE(renderTopography(image, cache, flat, 0, 2000, south, north, west, east, nullptr, &v));
    // Column x shows west + x (east - west) / (width - 1), row y likewise.
    // Column x shows west + x (east - west) / (width - 1), row y likewise;
    // the grid's cells are a third of a degree, the tile 1.7 pixels wide.
    auto land = [&](QRect area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += (image.pixel(x, y) & 0xFFFFFF) == defaultPalette()[64];
        return n;
    };
    const int y = std::lround((north - 50.5) / (north - south) * 599);
    int copies = 0;
    for (double lon : {8.5, 8.5 - 360}) {
        const int x = std::lround((lon - west) / (east - west) * 1199);
        EXPECT_GT(land(QRect(x - 1, y - 1, 3, 3)), 0) << "500 m at 50.5 N " << lon << " E";
        copies += land(QRect(x - 1, y - 1, 3, 3));
    }
    EXPECT_EQ(land(image.rect()), copies) << "nowhere else";
}

TEST(Topography, AzimuthalPixelsShowTheTerrainOfTheirOwnPosition) {
    // A checkerboard of one-degree tiles of water (sparse files) round the
    // antipode of the map's centre, which is the rim of the disc, and round
    // the north pole; no data (white) between them.
    TempDir dir;
    for (int lat = -8; lat < 8; ++lat)
        for (int lon = 168; lon < 192; ++lon)
            if (((lat + lon) & 1) == 0) makeTile(srtmPath(dir, lat, lon), 1201, 1201);
    for (int lat = 84; lat < 90; ++lat)
        for (int lon = -180; lon < 180; ++lon)
            if (((lat + lon) & 1) == 0) makeTile(srtmPath(dir, lat, lon), 1201, 1201);
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    MapView v;
    const int size = 300;
    map_view_setup(v, kAzimuthal, 0, 0, 20000, size, size);
    QImage image(size, size, QImage::Format_RGB32);
    TopoSettings flat;
    flat.shading = false;
    ASSERT_TRUE(renderTopography(image, cache, flat, 0, 2000, -90, 90, -180, 180, nullptr, &v));

    // The position under a pixel, from the centre's unit vector turned
    // towards north and east.
    const std::array<double, 3> centre{1, 0, 0}, north{0, 0, 1}, east{0, 1, 0};
    auto colourAt = [&](double x, double y, QRgb* colour) {
        const double dx = x - v.center_x, dy = v.center_y - y, rho = std::hypot(dx, dy) / v.scale;
        if (rho > std::numbers::pi - 1e-3) return false;
        const double s = rho > 0 ? std::sin(rho) / std::hypot(dx, dy) : 0;
        std::array<double, 3> p;
        for (int i = 0; i < 3; ++i) p[i] = std::cos(rho) * centre[i] + s * (dy * north[i] + dx * east[i]);
        int metres;
        const bool inGrid = cache.elevationAt(std::asin(p[2]) * kDeg, std::atan2(p[1], p[0]) * kDeg, &metres);
        *colour = !inGrid ? 0xCFFFCF : metres == 0 ? 0x0000FF : 0xFFFFFF;
        return true;
    };
    int judged = 0, misplaced = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            // Judged where everything within half a pixel has one colour.
            QRgb expected = 0, other = 0;
            bool clear = colourAt(x, y, &expected);
            for (auto [ox, oy] : {std::pair{-0.5, 0.0}, {0.5, 0.0}, {0.0, -0.5}, {0.0, 0.5}})
                clear = clear && colourAt(x + ox, y + oy, &other) && other == expected;
            if (!clear) continue;
            ++judged;
            if ((image.pixel(x, y) & 0xFFFFFF) != expected && ++misplaced <= 5)
                ADD_FAILURE() << "pixel " << x << ", " << y << " shows " << std::hex << (image.pixel(x, y) & 0xFFFFFF)
                              << ", its position " << expected;
        }
    }
    EXPECT_GT(judged, size * size / 2);
    EXPECT_EQ(misplaced, 0);
}

TEST(Topography, SmallBitmapOrEmptyBoxIsLeftAlone) {
    ElevationCache cache;
    QImage narrow(9, 100, QImage::Format_RGB32), wide(100, 100, QImage::Format_RGB32);
    narrow.fill(Qt::black);
    EXPECT_FALSE(renderTopography(narrow, cache, TopoSettings{}, 0, 2000, 10, 11, 10, 11));
    EXPECT_EQ(narrow.pixel(4, 50) & 0xFFFFFF, 0u);
    EXPECT_FALSE(renderTopography(wide, cache, TopoSettings{}, 0, 2000, 11, 10, 10, 11));
}

}  // namespace
}  // namespace bearfix
