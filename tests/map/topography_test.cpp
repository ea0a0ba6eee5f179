#include "map/topography.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <numbers>
#include <set>

#include "map/map_view.h"
#include "real_tile.h"
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

// An SRTM3 tile (N10E010 unless named) whose sample in tile row r, column c is z(r, c).
std::string makeSurface(const TempDir& dir, const std::function<int(int r, int c)>& z, const char* name = "N10E010.hgt") {
    const std::string path = (dir.path() / name).string();
    std::ofstream out(path, std::ios::binary);
    for (int r = 0; r < 1201; ++r)
        for (int c = 0; c < 1201; ++c) {
            const int v = z(r, c);
            out.put(static_cast<char>(v >> 8)).put(static_cast<char>(v & 0xFF));
        }
    return path;
}

// For any box inside N10E010 the grid is 2000 x 1000 samples of 6" (every
// other tile sample) centred on the tile: grid row 0 is tile row -400, grid
// column 699 tile column 0 (the tile's offset, -1399.5 samples, rounded
// towards zero). The grid position of a point counts
// (columns - 1) across the grid's box; the cell (j, i) it falls into holds
// sample (j, i), taken as lying in the middle of the cell. So a point's
// position in tile samples is:
struct TilePoint {
    double column, row;
};
TilePoint tilePoint(const ElevationCache& cache, double lat, double lon) {
    const double x = (lon - cache.west) / (cache.east - cache.west) * (cache.columns - 1);
    const double y = (cache.north - lat) / (cache.north - cache.south) * (cache.rows - 1);
    return {-1398 + 2 * (x - 0.5), -400 + 2 * (y - 0.5)};
}

// A zoomed-in cylindric box of 100 x 100 pixels, 0.0001 degrees each (the
// grid's samples are 0.0017 degrees apart).
constexpr double kSouth = 10.40, kNorth = 10.41, kWest = 10.40, kEast = 10.41;
double pixelLat(int y) { return kNorth - y * (kNorth - kSouth) / 99; }
double pixelLon(int x) { return kWest + x * (kEast - kWest) / 99; }

TEST(Topography, ZoomedInTheElevationIsInterpolatedBetweenSamples) {
    // A plane, 8 m up per tile column and 5 m down per row: interpolated
    // exactly, where the nearest sample would be up to 8 m off and a
    // misplaced one 8 m as well. Black-white palette, one grey step per metre.
    TempDir dir;
    makeSurface(dir, [](int r, int c) { return 2000 + 8 * c - 5 * r; });
    const double minElevation = 2200;
    auto plane = [](TilePoint p) { return 2000 + 8 * p.column - 5 * p.row; };
    TopoSettings flat;
    flat.shading = false;
    struct Case {
        const char* name;
        int projection;
        double metresOff;  // the pixel may be placed up to half a pixel off: the plane's change over it
    };
    for (const Case& t : {Case{"cylindric", kCylindric, 0}, Case{"azimuthal", kAzimuthal, 0.5 * std::hypot(8, 5) * 0.15}}) {
        ElevationCache cache;
        cache.setDirectories("", dir.path().string());
        QImage image(100, 100, QImage::Format_RGB32);
        MapView v;
        map_view_setup(v, t.projection, 10.405 / kDeg, 10.405 / kDeg, 0.5, 100, 100);  // about 10 m a pixel
        ASSERT_TRUE(renderTopography(image, cache, flat, minElevation, minElevation + 256, kSouth, kNorth, kWest,
                                     kEast, &blackWhitePalette(), t.projection == kAzimuthal ? &v : nullptr));
        int judged = 0, wrong = 0;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                double lat = pixelLat(y), lon = pixelLon(x);
                if (t.projection == kAzimuthal) {
                    ASSERT_TRUE(azimuthal_inverse(v, x, y, &lon, &lat));
                    lat *= kDeg, lon *= kDeg;
                }
                const double metres = plane(tilePoint(cache, lat, lon)) - minElevation;
                const int grey = static_cast<int>(image.pixel(x, y) & 0xFF);
                // Judged away from a grey step's edge.
                const double low = metres - t.metresOff - 1e-6, high = metres + t.metresOff + 1e-6;
                if (std::floor(low) != std::floor(high) && t.metresOff == 0) continue;
                ++judged;
                if ((grey < std::floor(low) || grey > std::floor(high)) && ++wrong <= 5)
                    ADD_FAILURE() << t.name << " pixel " << x << ", " << y << ": grey " << grey << ", elevation "
                                  << metres << " above the palette's foot";
            }
        }
        EXPECT_GT(judged, 9000) << t.name;
        EXPECT_EQ(wrong, 0) << t.name;
    }
}

TEST(Topography, ZoomedInTheShadeChangesSmoothlyFromSampleToSample) {
    // Ridges of 40 m between neighbouring samples, every slope turned
    // another way; the palette entry stays 255 so the grey is the shade.
    // Along a row of pixels the interpolated shade changes at most by its
    // whole range per sample spacing; the nearest sample's shade would jump
    // by all of it at once.
    TempDir dir;
    makeSurface(dir, [](int r, int c) { return 1000 + 40 * ((r + c) / 2 % 2); });
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    QImage image(100, 100, QImage::Format_RGB32);
    ASSERT_TRUE(renderTopography(image, cache, TopoSettings{}, -24000, 1040, kSouth, kNorth, kWest, kEast,
                                 &blackWhitePalette()));
    int low = 255, high = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            low = std::min(low, int(image.pixel(x, y) & 0xFF));
            high = std::max(high, int(image.pixel(x, y) & 0xFF));
        }
    ASSERT_GT(high - low, 40) << "the ridges are lit and shaded";
    // Sample spacings per pixel across and down.
    const double across = (kEast - kWest) / 99 / ((cache.east - cache.west) / (cache.columns - 1));
    const double down = (kNorth - kSouth) / 99 / ((cache.north - cache.south) / (cache.rows - 1));
    int steepAcross = 0, steepDown = 0;
    for (int y = 0; y + 1 < 100; ++y)
        for (int x = 0; x + 1 < 100; ++x) {
            const int g = image.pixel(x, y) & 0xFF;
            steepAcross = std::max(steepAcross, std::abs(int(image.pixel(x + 1, y) & 0xFF) - g));
            steepDown = std::max(steepDown, std::abs(int(image.pixel(x, y + 1) & 0xFF) - g));
        }
    // The shade's whole range: the extremes lie on samples, and a pixel
    // within half a pixel each way of them misses them by at most half a
    // pixel's change each way; one more for the truncation to a grey.
    const double range = (high - low + 1) / (1 - across - down);
    EXPECT_LE(steepAcross, range * across + 1);
    EXPECT_LE(steepDown, range * down + 1);
    EXPECT_LT(range * std::max(across, down) + 1, 0.2 * (high - low)) << "a jump would be caught";
}

TEST(Topography, ZoomedInSeaAndMissingDataAreNotBlended) {
    // Sea (0 m) west of tile column 600, land of 10 m from it on, and a hole
    // in the land at row 712, column 604. Blended, the coast is where the
    // land falls below half a metre: a twentieth of the way from the last
    // sea sample (598) to the first land one (600). A cell with the hole in
    // a corner shows each pixel's nearest sample, the hole white.
    TempDir dir;
    const std::string tile = makeSurface(dir, [](int, int c) { return c < 600 ? 0 : 10; });
    const int holeRow = 712, holeColumn = 604;
    testing::setSample(tile, 1201, holeRow, holeColumn, kElevationVoid);
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    QImage image(100, 100, QImage::Format_RGB32);
    TopoSettings flat;
    flat.shading = false;
    const double west = 10.4945, east = 10.5045;  // tile columns 593.4 ... 605.4
    ASSERT_TRUE(renderTopography(image, cache, flat, 0, 256, kSouth, kNorth, west, east));
    const uint32_t sea = 0x0000FF, land = defaultPalette()[10];
    int holes = 0, sand = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            const TilePoint p = tilePoint(cache, pixelLat(y), west + x * (east - west) / 99);
            // The cell's north-west sample, and the nearest one (the cell half a sample on).
            const int c0 = 2 * static_cast<int>(std::floor(p.column / 2)), r0 = 2 * static_cast<int>(std::floor(p.row / 2));
            const int c = 2 * static_cast<int>(std::floor(p.column / 2 + 0.5)), r = 2 * static_cast<int>(std::floor(p.row / 2 + 0.5));
            const bool holeCell = (holeColumn == c0 || holeColumn == c0 + 2) && (holeRow == r0 || holeRow == r0 + 2);
            uint32_t expected;
            if (holeCell) {
                expected = c == holeColumn && r == holeRow ? 0xFFFFFF : c < 600 ? sea : land;
                holes += expected == 0xFFFFFF;
            } else {
                const double metres = 10 * std::clamp((p.column - 598) / 2, 0.0, 1.0);
                if (std::fabs(metres - 0.5) < 1e-6 || std::fabs(metres - std::round(metres)) < 1e-6) continue;
                expected = metres < 0.5 ? sea : defaultPalette()[static_cast<std::size_t>(metres)];
                sand += expected != sea && expected != land;
            }
            ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, expected) << "pixel " << x << ", " << y;
        }
    }
    EXPECT_GT(holes, 20);
    EXPECT_GT(sand, 500) << "the shore is blended";
}

TEST(Topography, ZoomedInTheReliefRunsOnAcrossTheAntimeridian) {
    // A ramp rising 4 m a sample eastwards through 180 degrees, whose two
    // tiles meet there: each row of pixels rises steadily, at most the
    // ramp's 0.5 m a pixel (one grey step), where the samples would rise
    // by 8 m at once; and no pixel falls outside the grid.
    TempDir dir;
    makeSurface(dir, [](int, int c) { return 1000 + 4 * c; }, "N10E179.hgt");
    makeSurface(dir, [](int, int c) { return 5800 + 4 * c; }, "N10W180.hgt");
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    QImage image(100, 100, QImage::Format_RGB32);
    TopoSettings flat;
    flat.shading = false;
    ASSERT_TRUE(renderTopography(image, cache, flat, 5700, 5956, kSouth, kNorth, 179.995, 180.005, &blackWhitePalette()));
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x + 1 < 100; ++x) {
            const QRgb a = image.pixel(x, y) & 0xFFFFFF, b = image.pixel(x + 1, y) & 0xFFFFFF;
            ASSERT_EQ(a, (a & 0xFF) * 0x010101u) << "a grey at " << x << ", " << y;
            ASSERT_GE(b & 0xFF, a & 0xFF) << x << ", " << y;
            ASSERT_LE((b & 0xFF) - (a & 0xFF), 1u) << x << ", " << y;
        }
        ASSERT_GE((image.pixel(99, y) & 0xFF) - (image.pixel(0, y) & 0xFF), 40u) << "the ramp's 48 m";
    }
}

TEST(Topography, CoarserThanTheGridEachPixelShowsItsOwnSample) {
    // The real tile, 450 x 300 pixels over all of it: more than a sample
    // a pixel. Each pixel is coloured by the sample the mouse read-out gives
    // for its position, as before.
    TempDir dir;
    ASSERT_FALSE(testing::unpackRealTile(dir.path()).empty());
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    QImage image(450, 300, QImage::Format_RGB32);
    TopoSettings flat;
    flat.shading = false;
    const double south = 57, north = 58, west = 11, east = 12;
    ASSERT_TRUE(renderTopography(image, cache, flat, -10, 246, south, north, west, east));
    int sea = 0;
    for (int y = 0; y < 300; ++y) {
        for (int x = 0; x < 450; ++x) {
            int metres;
            ASSERT_TRUE(cache.elevationAt(north - y * (north - south) / 299, west + x * (east - west) / 449, &metres));
            const uint32_t expected = metres == 0                     ? 0x0000FF
                                      : metres == kElevationNotLoaded ? 0xFFFFFF
                                                                      : defaultPalette()[static_cast<std::size_t>(metres + 10)];
            sea += metres == 0;
            ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, expected) << "pixel " << x << ", " << y;
        }
    }
    EXPECT_GT(sea, 50000);
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
