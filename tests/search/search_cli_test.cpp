// bearfix-cli fix --density, viewshed and next, read back by GDAL: the
// rasters stand where they say (gdalinfo, gdallocationinfo), the outlines
// are what ogrinfo reads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <regex>
#include <string>

#include "real_tile.h"
#include "temp_dir.h"

namespace bearfix::testing {
namespace {

struct Outcome {
    int status;
    std::string output;  // stdout and stderr
};

Outcome run(const std::string& command) {
    Outcome r{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string cli(const std::string& arguments) { return std::string(BEARFIX_CLI) + " " + arguments; }

double valueAt(const std::string& file, double lon, double lat) {
    const Outcome r = run("gdallocationinfo -valonly -wgs84 " + file + " " + std::to_string(lon) + " " + std::to_string(lat));
    char* end = nullptr;
    const double v = std::strtod(r.output.c_str(), &end);
    return r.status == 0 && end != r.output.c_str() && *end == '\n' ? v : NAN;
}

// "Origin = (x,y)" and "Pixel Size = (dx,dy)" of gdalinfo.
std::array<double, 4> placement(const std::string& info) {
    std::smatch m;
    const std::regex origin("Origin = \\(([-0-9.e]+),([-0-9.e]+)\\)"), size("Pixel Size = \\(([-0-9.e]+),([-0-9.e]+)\\)");
    std::array<double, 4> out{NAN, NAN, NAN, NAN};
    if (std::regex_search(info, m, origin)) out[0] = std::stod(m[1]), out[1] = std::stod(m[2]);
    if (std::regex_search(info, m, size)) out[2] = std::stod(m[1]), out[3] = std::stod(m[2]);
    return out;
}

// Three bearings that meet at 50.3182 N 8.5 E (GeographicLib, as in
// tests/fix): the density's peak is there, the file holds a probability of
// one (GDAL's mean times the grid's area on the sphere), the outlines are
// two polygons.
TEST(SearchCli, DensityAsGeoTiff) {
    TempDir dir;
    const std::string hunt = dir.write("hunt.csv", "A,50,8,45,2\nB,50,9,315,2\nN,51,8.5,180,2\n");
    const std::string tif = (dir.path() / "d.tif").string(), kml = (dir.path() / "d.kml").string();
    const Outcome fix = run(cli("fix --bearings " + hunt + " --density " + tif + " --outlines " + kml + " --json"));
    ASSERT_EQ(fix.status, 0) << fix.output;
    EXPECT_TRUE(std::regex_search(fix.output, std::regex("\"hdr50\": \\{\"area_km2\": [0-9.]+, \"parts\": 1, \"polygons\": "
                                                          "\\[\\[\\[50\\.[0-9]+, 8\\.[0-9]+\\], ")))
        << fix.output;
    EXPECT_TRUE(std::regex_search(fix.output, std::regex("\"hdr95\": \\{\"area_km2\": [0-9.]+, \"parts\": 1, ")));

    const Outcome info = run("gdalinfo -stats " + tif);
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("ID[\"EPSG\",4326]"), std::string::npos);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(info.output, m, std::regex("Size is ([0-9]+), ([0-9]+)")));
    const int columns = std::stoi(m[1]), rows = std::stoi(m[2]);
    ASSERT_TRUE(std::regex_search(info.output, m, std::regex("STATISTICS_MEAN=([-0-9.e]+)")));
    const double mean = std::stod(m[1]);
    const auto [west, north, dx, dy] = placement(info.output);
    const double r = 6371.0, rad = std::numbers::pi / 180;
    const double area = r * r * columns * dx * rad * (std::sin(north * rad) - std::sin((north + rows * dy) * rad));
    EXPECT_NEAR(mean * area, 1.0, 0.01) << "probability in the file";
    const double peak = valueAt(tif, 8.5, 50.3182);
    EXPECT_GT(peak, 0.2);
    EXPECT_LT(valueAt(tif, 8.5, 50.30), 0.5 * peak);
    EXPECT_LT(valueAt(tif, 8.48, 50.3182), 0.5 * peak);

    const Outcome kmlInfo = run("ogrinfo -ro -al -q " + kml);
    EXPECT_NE(kmlInfo.output.find("Name (String) = 50 % region"), std::string::npos) << kmlInfo.output;
    EXPECT_NE(kmlInfo.output.find("Name (String) = 95 % region"), std::string::npos);
    EXPECT_NE(kmlInfo.output.find("POLYGON (("), std::string::npos);
}

// On the real tile of tests/data: the samples stand at the pixels' centres,
// the station sees itself, the open sea round the coast is seen from 10 m.
TEST(SearchCli, ViewshedAsGeoTiff) {
    TempDir dir;
    ASSERT_FALSE(unpackRealTile(dir.path()).empty());
    const std::string ini = dir.write("s.ini", "[MAP]\nUseSRTM3=1\nSRTM3_dir=" + dir.path().string() + "\n");
    const std::string tif = (dir.path() / "v.tif").string();
    const Outcome v = run(cli("viewshed 'N57.5 E11.5' --height 10 --target-height 1.5 --radius 5 --out " + tif +
                              " --config " + ini));
    ASSERT_EQ(v.status, 0) << v.output;
    const Outcome info = run("gdalinfo " + tif);
    const auto [west, north, dx, dy] = placement(info.output);
    const double step = dx * 1200.0;  // 1 or 2 SRTM3 samples
    EXPECT_NEAR(step, std::round(step), 1e-9);
    EXPECT_NEAR(-dy, dx, 1e-12);
    EXPECT_NEAR((west + dx / 2) / dx, std::round((west + dx / 2) / dx), 1e-6) << "pixels centred on samples";
    EXPECT_NEAR((north + dy / 2) / dx, std::round((north + dy / 2) / dx), 1e-6);
    EXPECT_EQ(valueAt(tif, 11.5, 57.5), 1.0);
    EXPECT_EQ(valueAt(tif, 11.5, 57.53), 1.0) << "sea 3 km north";
    EXPECT_TRUE(std::isnan(valueAt(tif, 11.5, 57.6))) << "beyond the radius: outside the file";

    EXPECT_EQ(run(cli("viewshed 'N57.5 E11.5' --config " + ini)).status, 2) << "no --out";
    EXPECT_EQ(run(cli("viewshed 'N57.5 E11.5' --radius 80 --out " + tif + " --config " + ini)).status, 2);
    const Outcome none = run(cli("viewshed 'N40 E11.5' --out " + tif + " --config " + ini));
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.output.find("no elevation data at N40 E11.5"), std::string::npos) << none.output;
}

TEST(SearchCli, NextAsJson) {
    TempDir dir;
    const std::string hunt = dir.write("hunt.csv", "A,50,8,45,2\nB,50,9,315,2\n");
    const Outcome next = run(cli("next --bearings " + hunt + " --from 'N50 E8.2' --radius 5 --json"));
    ASSERT_EQ(next.status, 0) << next.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(next.output, m,
                                  std::regex("^\\{\"next\": \\{\"lat\": ([0-9.]+), \"lon\": ([0-9.]+), \"distance_km\": ([0-9.]+), "
                                             "\"course_deg\": [0-9.]+\\}, \"area95_km2\": ([0-9.]+), "
                                             "\"expected_area95_km2\": ([0-9.]+)\\}\n$")))
        << next.output;
    EXPECT_LE(std::stod(m[3]), 5.0);
    EXPECT_LT(std::stod(m[5]), std::stod(m[4]));
    EXPECT_EQ(run(cli("next --bearings " + hunt + " --radius 5")).status, 2) << "no --from";
    EXPECT_EQ(run(cli("fix --bearings " + hunt + " --density out.png")).status, 2);
}

}  // namespace
}  // namespace bearfix::testing
