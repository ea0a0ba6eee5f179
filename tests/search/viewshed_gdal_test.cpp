// The viewshed against GDAL's gdal_viewshed on real SRTM3 terrain (the
// Taunus, tests/data/taunus_srtm3.be16.gz). GDAL is handed the same samples
// in a local equidistant cylindrical projection whose true scale is at the
// station, so that both measure the same metres per sample.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "search/viewshed.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

// tests/data/README.md: 241 rows x 421 columns of 3", the first at 50.32 N 8.30 E.
constexpr int kColumns = 421, kRows = 241;
constexpr double kWest = 8.30, kNorth = 50.32, kStep = 1.0 / 1200.0;
constexpr double kRadiusM = 6371000.0;

std::string readPacked(const std::string& path) {
    gzFile in = gzopen(path.c_str(), "rb");
    std::string bytes;
    if (!in) return bytes;
    char buffer[65536];
    for (int n; (n = gzread(in, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(n));
    gzclose(in);
    return bytes;
}

int run(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Station {
    double lat, lon;  // degrees
};

TEST(ViewshedAgainstGdal, FiveStationsInTheTaunus) {
    testing::TempDir dir;
    const std::string bytes = readPacked(std::string(BEARFIX_SOURCE_DIR) + "/tests/data/taunus_srtm3.be16.gz");
    ASSERT_EQ(bytes.size(), 2u * kColumns * kRows);
    const std::string raw = dir.write("taunus.be16", bytes);
    std::vector<int16_t> samples(static_cast<std::size_t>(kColumns) * kRows);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) << 8 | static_cast<uint8_t>(bytes[2 * i + 1]));
    const TerrainGrid terrain{samples.data(), kColumns, kRows, kWest, kNorth, kStep, kStep};

    // The Grosser Feldberg, slopes and valleys round it; 7 km each.
    const Station stations[] = {{50.2325, 8.4575}, {50.20, 8.42}, {50.24, 8.50}, {50.19, 8.54}, {50.25, 8.41}};
    const ViewshedOptions options{.antennaHeightM = 2.0, .targetHeightM = 1.5, .radiusKm = 7.0};
    for (const Station& s : stations) {
        SCOPED_TRACE(std::to_string(s.lat) + " N " + std::to_string(s.lon) + " E");
        const Viewshed mine = computeViewshed(terrain, {s.lon * kDegToRad, s.lat * kDegToRad}, options);
        ASSERT_FALSE(mine.empty());

        const double scale = kRadiusM * std::numbers::pi / 180.0, dx = scale * std::cos(s.lat * kDegToRad) * kStep,
                     dy = scale * kStep;
        const double x0 = (kWest - kStep / 2 - s.lon) * scale * std::cos(s.lat * kDegToRad);
        const double y0 = (kNorth + kStep / 2) * scale;
        char transform[256];
        std::snprintf(transform, sizeof transform, "%.6f, %.9f, 0, %.6f, 0, %.9f", x0, dx, y0, -dy);
        std::ostringstream vrt;
        vrt << "<VRTDataset rasterXSize=\"" << kColumns << "\" rasterYSize=\"" << kRows << "\">\n"
            << "<SRS>+proj=eqc +lat_ts=" << s.lat << " +lon_0=" << s.lon << " +R=6371000 +units=m +no_defs</SRS>\n"
            << "<GeoTransform>" << transform << "</GeoTransform>\n"
            << "<VRTRasterBand dataType=\"Int16\" band=\"1\" subClass=\"VRTRawRasterBand\">\n"
            << "<SourceFilename relativeToVRT=\"1\">taunus.be16</SourceFilename><ImageOffset>0</ImageOffset>"
            << "<PixelOffset>2</PixelOffset><LineOffset>" << 2 * kColumns << "</LineOffset><ByteOrder>MSB</ByteOrder>\n"
            << "</VRTRasterBand></VRTDataset>\n";
        const std::string in = dir.write("taunus.vrt", vrt.str());
        const std::string out = (dir.path() / "seen.tif").string(), xyz = (dir.path() / "seen.xyz").string();
        char observer[128];
        std::snprintf(observer, sizeof observer, "-ox 0 -oy %.6f", s.lat * scale);
        ASSERT_EQ(run("gdal_viewshed -q -oz 2 -tz 1.5 -md 7000 -cc 0.75 " + std::string(observer) + " " + in + " " + out), 0);
        ASSERT_EQ(run("gdal_translate -q -of XYZ " + out + " " + xyz), 0);

        // Each of GDAL's cells within the radius against the same sample of ours.
        std::ifstream lines(xyz);
        int compared = 0, agreed = 0, visible = 0;
        double x, y, value;
        while (lines >> x >> y >> value) {
            const long column = std::lround((x - x0) / dx - 0.5), row = std::lround((y0 - y) / dy - 0.5);
            const double east = (column * kStep + kWest - s.lon) * scale * std::cos(s.lat * kDegToRad);
            const double north = (kNorth - row * kStep - s.lat) * scale;
            if (east * east + north * north > 7000.0 * 7000.0) continue;
            const double lat = kNorth - row * kStep, lon = kWest + column * kStep;
            bool seen = false;
            ASSERT_TRUE(mine.covers({lon * kDegToRad, lat * kDegToRad}, &seen)) << lat << " " << lon;
            ++compared;
            agreed += seen == (value > 0);
            visible += value > 0;
        }
        EXPECT_GT(compared, 25000);
        EXPECT_GE(agreed, 0.98 * compared) << agreed << " of " << compared << " cells agree";
        // Hilly: the station sees some of its circle, not all of it.
        EXPECT_TRUE(visible > compared / 50 && visible < compared * 19 / 20) << visible << " of " << compared;
    }
}

}  // namespace
}  // namespace bearfix
