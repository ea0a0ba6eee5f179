#include "map/elevation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/message_log.h"
#include "temp_dir.h"
#include "tile_files.h"

namespace bearfix {
namespace {

using testing::makeTile;
using testing::TempDir;

struct Loaded {
    std::vector<std::string> files;  // in the order they were read
    std::vector<std::string> log;
};

Loaded ensure(ElevationCache& cache, double s, double n, double w, double e) {
    Loaded loaded;
    cache.setProgressHook([&loaded](const std::string& file, int) {
        if (loaded.files.empty() || loaded.files.back() != file) loaded.files.push_back(file);
    });
    setMessageSink([&loaded](MessageLevel, const std::string& text) { loaded.log.push_back(text); });
    cache.ensureCoverage(s, n, w, e);
    setMessageSink({});
    return loaded;
}

TEST(Elevation, Gtopo30BoxAndTileOrder) {
    TempDir dir;
    for (const char* name : {"W060N90.DEM", "W020N90.DEM", "E020N90.DEM", "E060N90.DEM", "W060N40.DEM",
                             "W020N40.DEM", "E020N40.DEM", "E060N40.DEM", "E100N40.DEM"})
        makeTile((dir.path() / name).string(), 6000, 4800);
    ElevationCache cache;
    cache.setSource(kGtopo30);
    cache.setDirectories(dir.path().string(), "");
    Loaded loaded = ensure(cache, 47, 48, 10, 12);
    // Aligned to 0..40 E, 0..50 N; k = 6 from the latitudes: 100 x 50 degrees.
    EXPECT_DOUBLE_EQ(cache.west, -30.0);
    EXPECT_DOUBLE_EQ(cache.east, 70.0);
    EXPECT_DOUBLE_EQ(cache.south, 0.0);
    EXPECT_DOUBLE_EQ(cache.north, 50.0);
    EXPECT_EQ(loaded.files, (std::vector<std::string>{"W060N90.DEM", "W020N90.DEM", "E020N90.DEM", "E060N90.DEM",
                                                      "W060N40.DEM", "W020N40.DEM", "E020N40.DEM", "E060N40.DEM"}));
    EXPECT_GE(cache.loadedSamples(), 2000L * 1000) << "the tiles cover the whole grid";
    int metres;
    for (double lat : {0.5, 25.0, 49.5})
        for (double lon : {-29.5, 0.0, 40.0, 69.5}) EXPECT_TRUE(cache.elevationAt(lat, lon, &metres) && metres == 0);
    ASSERT_FALSE(loaded.log.empty());
    EXPECT_EQ(loaded.log.back(), "Debug: Loaded \"" + (dir.path() / "E060N40.DEM").string() +
                                     "\" into the GTOPO cache, " + std::to_string(cache.loadedSamples()) + " points .");

    // Inside the box at the same scale: nothing to do.
    loaded = ensure(cache, 47.5, 47.9, 10.5, 11.5);
    EXPECT_TRUE(loaded.files.empty());
    EXPECT_EQ(cache.loadedSamples(), 0);
}

TEST(Elevation, SrtmBoxNamesAndSizes) {
    TempDir dir;
    // An SRTM1 tile (3601 x 3601) whose samples hold their row number.
    const std::string srtm1 = makeTile((dir.path() / "N46E007.hgt").string(), 3601, 3601);
    testing::numberRows(srtm1, 3601);
    makeTile((dir.path() / "s34w071.hgt").string(), 1201, 1201, 500);  // lower case works too
    makeTile((dir.path() / "N46E008.hgt").string(), 100, 100);         // not a tile
    ElevationCache cache;
    cache.setDirectories("", dir.path().string() + "/");
    Loaded loaded = ensure(cache, 46.2, 46.6, 7.2, 7.8);
    // Aligned to 7..8 E, 46..47 N; k = 2 from the latitudes.
    EXPECT_NEAR(cache.north - cache.south, 2 * 1000 / 1200.0, 1e-9);
    EXPECT_NEAR(cache.east - cache.west, 2 * 2000 / 1200.0, 1e-9);
    EXPECT_NEAR(cache.sampleSpacing, 2 * 6371000 * std::numbers::pi / 180 / 1200, 1e-9);
    EXPECT_EQ(loaded.files, std::vector<std::string>{"N46E007.hgt"});
    int metres;
    for (int r : {600, 1800, 3000}) {
        ASSERT_TRUE(cache.elevationAt(47.0 - r / 3600.0, 7.5, &metres));
        // A grid row is 6 arc seconds (k = 2), six SRTM1 rows; a lookup may land one grid row off.
        EXPECT_NEAR(metres, r, 12) << "SRTM1 rows are read six to a grid row";
    }
    ASSERT_EQ(loaded.log.size(), 2u);
    EXPECT_NE(loaded.log[1].find("\"" + dir.path().string() + "/N46E008.hgt\""), std::string::npos) << loaded.log[1];
    EXPECT_EQ(loaded.log[1].rfind("Error: ", 0), 0u);

    ensure(cache, -33.9, -33.1, -70.9, -70.1);
    ASSERT_TRUE(cache.elevationAt(-33.5, -70.5, &metres));
    EXPECT_EQ(metres, 500) << "read from S34W071.hgt";
}

TEST(Elevation, ThingsThatAreNotTiles) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "N10E010.hgt");  // a directory of that name
    makeTile((dir.path() / "N10E011.hgt").string(), 1201, 1200);     // cut short
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    Loaded loaded = ensure(cache, 10.2, 10.8, 10.2, 11.8);
    EXPECT_TRUE(loaded.files.empty());
    ASSERT_EQ(loaded.log.size(), 1u) << "the short tile is named, the directory passed over";
    EXPECT_NE(loaded.log[0].find("N10E011.hgt\" is not a tile"), std::string::npos) << loaded.log[0];
    int metres;
    EXPECT_TRUE(cache.elevationAt(10.5, 10.5, &metres));
    EXPECT_EQ(metres, kElevationNotLoaded);
}

TEST(Elevation, LookupsAtTheEdges) {
    TempDir dir;
    makeTile((dir.path() / "N10E010.hgt").string(), 1201, 1201, 7);
    ElevationCache cache;
    int metres = 0;
    EXPECT_FALSE(cache.elevationAt(10.5, 10.5, &metres)) << "nothing loaded yet";
    EXPECT_EQ(metres, kElevationNotLoaded);
    cache.setDirectories("", dir.path().string());
    ensure(cache, 10.2, 10.8, 10.2, 10.8);
    int column, row;
    ASSERT_TRUE(cache.positionOf(cache.north, cache.west, &column, &row));
    EXPECT_EQ(column, 0);
    EXPECT_EQ(row, 0);
    EXPECT_FALSE(cache.elevationAt(cache.north + 1e-9, cache.west, &metres));
    EXPECT_EQ(metres, kElevationNotLoaded);
    EXPECT_TRUE(cache.elevationAt(10.5, 10.5, &metres));
    EXPECT_EQ(metres, 7);
}

TEST(Elevation, EscapeAbortsAndTheBoxStays) {
    TempDir dir;
    makeTile((dir.path() / "N10E010.hgt").string(), 1201, 1201, 7);
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    int polls = 0;
    cache.setAbortPoll([&polls] {
        ++polls;
        return true;  // Escape held down
    });
    cache.ensureCoverage(10.2, 10.8, 10.2, 10.8);
    EXPECT_EQ(cache.loadedSamples(), 0);
    EXPECT_EQ(polls, 1);
    int metres;
    EXPECT_TRUE(cache.elevationAt(10.5, 10.5, &metres));
    EXPECT_EQ(metres, kElevationNotLoaded) << "the box is the new one, its samples not loaded";
    cache.setAbortPoll({});
    cache.ensureCoverage(10.2, 10.8, 10.2, 10.8);
    EXPECT_EQ(cache.loadedSamples(), 0) << "the same view is not loaded again";
    cache.forceReload();
    cache.ensureCoverage(10.2, 10.8, 10.2, 10.8);
    EXPECT_GT(cache.loadedSamples(), 0);
}

// Real SRTM3 tiles, where the machine has them.
class RealTiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDirectory + "/N47E009.hgt"))
            GTEST_SKIP() << "real SRTM3 tiles not found in " << kDirectory;
    }
    const std::string kDirectory = std::string(BEARFIX_SOURCE_DIR) + "/../shared/data/srtm";
};

TEST_F(RealTiles, KnownHeights) {
    ElevationCache cache;
    cache.setDirectories("", kDirectory);
    ensure(cache, 47.0, 47.1, 9.6, 9.8);  // every second sample (k = 2)
    int metres, highest = -1;
    double highLat = 0, highLon = 0;
    for (double lat = 47.0; lat < 47.1; lat += 0.0004) {
        for (double lon = 9.6; lon < 9.8; lon += 0.0004) {
            if (cache.elevationAt(lat, lon, &metres) && metres > highest) {
                highest = metres;
                highLat = lat;
                highLon = lon;
            }
        }
    }
    EXPECT_LE(highest, 2937) << "the tile's highest sample";
    EXPECT_GE(highest, 2880);
    EXPECT_NEAR(highLat, 47.053, 0.005) << "Schesaplana";
    EXPECT_NEAR(highLon, 9.708, 0.005);
    ensure(cache, 47.55, 47.65, 9.35, 9.45);
    ASSERT_TRUE(cache.elevationAt(47.6, 9.4, &metres));
    EXPECT_NEAR(metres, 392, 3) << "the surface of Lake Constance";

    // N50E008 has voids: none of them is taken for an elevation.
    ensure(cache, 50.0, 51.0, 8.0, 9.0);
    int16_t sample;
    int lowest = 10000;
    for (int row = 0; row < cache.rows; ++row)
        for (int column = 0; column < cache.columns; ++column)
            if (cache.sampleAt(column, row, &sample) && sample != kElevationNotLoaded) lowest = std::min<int>(lowest, sample);
    EXPECT_GE(lowest, 62) << "the tile's lowest real sample: no void is taken for an elevation";
}

}  // namespace
}  // namespace bearfix
