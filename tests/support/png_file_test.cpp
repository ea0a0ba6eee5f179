// Our PNG files read back pixel for pixel by three independent readers: Qt's,
// ImageMagick's and GDAL's.
#include "support/png_file.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace bearfix {
namespace {

struct Picture {
    const char* name;
    int width, height, stride;  // stride in pixels, beyond the width where the rows have a margin
    std::vector<uint32_t> pixels;
};

// Flat areas with lines across them, as a map has; noise that defeats any
// compression; and the smallest and oddest sizes.
std::vector<Picture> pictures() {
    std::mt19937 random(20);
    std::vector<Picture> list;
    auto add = [&list](const char* name, int w, int h, int stride, auto colour) {
        Picture p{name, w, h, stride, std::vector<uint32_t>(static_cast<std::size_t>(stride) * h)};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < stride; ++x) p.pixels[static_cast<std::size_t>(y) * stride + x] = colour(x, y);
        list.push_back(std::move(p));
    };
    add("map", 1201, 803, 1201, [](int x, int y) -> uint32_t {
        if ((x + 2 * y) % 97 == 0 || x == 600) return 0xFFFF0000u;
        return x * x + y * y < 300 * 300 ? 0xFFADD8E6u : 0xFFF0E68Cu;
    });
    add("noise", 317, 211, 317, [&random](int, int) { return static_cast<uint32_t>(random()); });
    add("one pixel", 1, 1, 1, [](int, int) { return 0xFF123456u; });
    add("one column", 1, 300, 1, [](int, int y) { return 0xFF000000u | static_cast<uint32_t>(y * 0x010203); });
    add("margin", 5, 7, 9, [](int x, int y) { return x >= 5 ? 0x12345678u : 0xFF000000u | (x * 40 << 16) | (y * 30); });
    add("white", 2000, 1500, 2000, [](int, int) { return 0xFFFFFFFFu; });
    return list;
}

// The picture's colours as 8-bit RGB bytes, row by row.
std::string rgbBytes(const Picture& p) {
    std::string bytes;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const uint32_t v = p.pixels[static_cast<std::size_t>(y) * p.stride + x];
            bytes += static_cast<char>(v >> 16);
            bytes += static_cast<char>(v >> 8);
            bytes += static_cast<char>(v);
        }
    }
    return bytes;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PngFile, ReadersSeeTheSamePixels) {
    testing::TempDir dir;
    for (const Picture& p : pictures()) {
        SCOPED_TRACE(p.name);
        const std::string png = (dir.path() / "picture.png").string();
        std::string reason;
        ASSERT_TRUE(writePngFile(png, p.pixels.data(), p.width, p.height, p.stride, &reason)) << reason;
        const std::string expected = rgbBytes(p);

        QImage qt(QString::fromStdString(png));
        ASSERT_FALSE(qt.isNull());
        qt = qt.convertToFormat(QImage::Format_RGB888);
        std::string fromQt;
        for (int y = 0; y < qt.height(); ++y)
            fromQt.append(reinterpret_cast<const char*>(qt.constScanLine(y)), static_cast<std::size_t>(3 * qt.width()));
        EXPECT_EQ(qt.size(), QSize(p.width, p.height));
        EXPECT_TRUE(fromQt == expected);

        // ImageMagick stops at a bad checksum or a short stream.
        const std::string magick = (dir.path() / "magick.rgb").string();
        ASSERT_EQ(std::system(("convert -regard-warnings '" + png + "' -depth 8 'rgb:" + magick + "' 2>/dev/null").c_str()), 0);
        EXPECT_TRUE(fileBytes(magick) == expected);

        // GDAL: bands interleaved by pixel, as the RGB bytes are.
        const std::string gdal = (dir.path() / "gdal.raw").string();
        ASSERT_EQ(std::system(("gdal_translate -q -of ENVI -co INTERLEAVE=BIP '" + png + "' '" + gdal + "' 2>/dev/null").c_str()), 0);
        EXPECT_TRUE(fileBytes(gdal) == expected);
    }
}

TEST(PngFile, UnwritablePlaceIsReported) {
    testing::TempDir dir;
    const uint32_t pixel = 0xFF000000u;
    std::string reason;
    EXPECT_FALSE(writePngFile((dir.path() / "no/such/dir/x.png").string(), &pixel, 1, 1, 1, &reason));
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_FALSE(writePngFile((dir.path() / "x.png").string(), &pixel, 0, 1, 1, &reason));
    EXPECT_TRUE(encodePng(&pixel, 1, 0, 1).empty());
}

}  // namespace
}  // namespace bearfix
