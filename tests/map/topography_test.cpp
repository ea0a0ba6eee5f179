#include "map/topography.h"

#include <gtest/gtest.h>

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
