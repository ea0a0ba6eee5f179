#include "map/elevation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "support/message_log.h"
#include "temp_dir.h"
#include "real_tile.h"
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

// What elevationAt says of a position: inside the grid, and the metres.
std::pair<bool, int> at(const ElevationCache& cache, double lat, double lon) {
    int metres = 0;
    const bool inside = cache.elevationAt(lat, lon, &metres);
    return {inside, metres};
}

const std::pair<bool, int> kOffGrid{false, kElevationNotLoaded}, kUnloaded{true, kElevationNotLoaded};

TEST(Elevation, Gtopo30BoxAndTileOrder) {
    TempDir dir;
    for (const char* name : {"W060N90.DEM", "W020N90.DEM", "E020N90.DEM", "E060N90.DEM", "W060N40.DEM",
                             "W020N40.DEM", "E020N40.DEM", "E060N40.DEM", "E100N40.DEM"})
        makeTile((dir.path() / name).string(), 6000, 4800);
    ElevationCache cache;
    cache.setSource(kGtopo30);
    cache.setDirectories(dir.path().string(), "");
    const Loaded loaded = ensure(cache, 47, 48, 10, 12);
    // Aligned to 0..40 E, 0..50 N; k = 6 from the latitudes: 100 x 50 degrees.
    EXPECT_EQ((std::vector{cache.west, cache.east, cache.south, cache.north}), (std::vector{-30.0, 70.0, 0.0, 50.0}));
    EXPECT_EQ(loaded.files, (std::vector<std::string>{"W060N90.DEM", "W020N90.DEM", "E020N90.DEM", "E060N90.DEM",
                                                      "W060N40.DEM", "W020N40.DEM", "E020N40.DEM", "E060N40.DEM"}));
    EXPECT_GE(cache.loadedSamples(), 2000L * 1000) << "the tiles cover the whole grid";
    for (double lat : {0.5, 25.0, 49.5})
        for (double lon : {-29.5, 0.0, 40.0, 69.5}) EXPECT_EQ(at(cache, lat, lon), std::pair(true, 0)) << lat << " " << lon;
    ASSERT_FALSE(loaded.log.empty());
    EXPECT_EQ(loaded.log.back(), "Debug: Loaded \"" + (dir.path() / "E060N40.DEM").string() +
                                     "\" into the GTOPO cache, " + std::to_string(cache.loadedSamples()) + " points .");
}

TEST(Elevation, SrtmBoxNamesSizesAndThingsThatAreNotTiles) {
    TempDir dir;
    makeTile((dir.path() / "N46E007.hgt").string(), 3601, 3601, 0, true);  // SRTM1, samples hold their row
    makeTile((dir.path() / "s34w071.hgt").string(), 1201, 1201, 500);      // lower case works too
    makeTile((dir.path() / "N46E008.hgt").string(), 100, 100);             // no tile's size
    makeTile((dir.path() / "N47E008.hgt").string(), 1201, 1200);           // cut short
    std::filesystem::create_directory(dir.path() / "N45E006.hgt");         // passed over
    ElevationCache cache;
    cache.setDirectories("", dir.path().string() + "/");
    Loaded loaded = ensure(cache, 46.2, 46.6, 7.2, 7.8);
    // Aligned to 7..8 E, 46..47 N; k = 2 from the latitudes.
    EXPECT_NEAR(cache.north - cache.south, 2 * 1000 / 1200.0, 1e-9);
    EXPECT_NEAR(cache.east - cache.west, 2 * 2000 / 1200.0, 1e-9);
    EXPECT_NEAR(cache.sampleSpacing, 2 * 6371000 * std::numbers::pi / 180 / 1200, 1e-9);
    EXPECT_EQ(loaded.files, std::vector<std::string>{"N46E007.hgt"});
    for (int r : {600, 1800, 3000}) {
        const auto [inside, metres] = at(cache, 47.0 - r / 3600.0, 7.5);
        // A grid row is six SRTM1 rows (k = 2); a lookup may land one grid row off.
        EXPECT_TRUE(inside && std::abs(metres - r) <= 12) << r << ": " << metres;
    }
    ASSERT_EQ(loaded.log.size(), 3u);
    for (auto [i, file] : {std::pair{1, "N46E008"}, {2, "N47E008"}}) {
        const std::string text = "Error: \"" + dir.path().string() + "/" + file + ".hgt\" is not a tile";
        EXPECT_TRUE(loaded.log[i].starts_with(text)) << loaded.log[i];
    }
    for (auto [lat, lon] : {std::pair{45.8, 6.5}, {46.5, 8.5}, {47.2, 8.5}})
        EXPECT_EQ(at(cache, lat, lon), kUnloaded) << lat << " " << lon;

    ensure(cache, -33.9, -33.1, -70.9, -70.1);
    EXPECT_EQ(at(cache, -33.5, -70.5), std::pair(true, 500)) << "read from S34W071.hgt";
}

TEST(Elevation, EscapeTheBoxAndItsEdges) {
    TempDir dir;
    makeTile((dir.path() / "N10E010.hgt").string(), 1201, 1201, 7);
    ElevationCache cache;
    EXPECT_EQ(at(cache, 10.5, 10.5), kOffGrid) << "nothing loaded yet";
    cache.setDirectories("", dir.path().string());
    int polls = 0;
    cache.setAbortPoll([&polls] { return ++polls > 0; });  // Escape held down
    cache.ensureCoverage(10.2, 10.8, 10.2, 10.8);
    EXPECT_EQ(cache.loadedSamples(), 0);
    EXPECT_EQ(polls, 1);
    EXPECT_EQ(at(cache, 10.5, 10.5), kUnloaded) << "the box is the new one, its samples not loaded";
    cache.setAbortPoll({});
    cache.ensureCoverage(10.2, 10.8, 10.2, 10.8);
    EXPECT_EQ(cache.loadedSamples(), 0) << "the same view is not loaded again";
    cache.forceReload();
    cache.ensureCoverage(10.2, 10.8, 10.2, 10.8);
    EXPECT_EQ(at(cache, 10.5, 10.5), std::pair(true, 7));

    int column, row;
    ASSERT_TRUE(cache.positionOf(cache.north, cache.west, &column, &row));
    EXPECT_EQ(std::pair(column, row), std::pair(0, 0));
    EXPECT_EQ(at(cache, cache.north + 1e-9, cache.west), kOffGrid);
}

// The real tile of tests/data; its known values come from a separate reading
// of the raw samples (tests/data/README.md).
TEST(RealTile, KnownHeightsSeaAndVoids) {
    TempDir dir;
    const std::string tile = testing::unpackRealTile(dir.path());
    ASSERT_FALSE(tile.empty());
    ElevationCache cache;
    cache.setDirectories("", dir.path().string());
    const Loaded loaded = ensure(cache, 57.0, 58.0, 11.0, 11.99);  // every second sample (k = 2)
    EXPECT_EQ(loaded.files, std::vector<std::string>{"N57E011.hgt"});
    int metres, highest = -1, lowest = 10000;
    double highLat = 0, highLon = 0;
    // Lookups land up to one grid row or column off, so they keep clear of the tile's edges.
    for (double lat = 57.005; lat < 57.995; lat += 0.0008) {
        for (double lon = 11.005; lon < 11.99; lon += 0.0008) {
            if (!cache.elevationAt(lat, lon, &metres)) continue;
            lowest = std::min(lowest, metres);
            if (metres > highest) std::tie(highest, highLat, highLon) = std::tuple(metres, lat, lon);
        }
    }
    EXPECT_TRUE(highest >= 150 && highest <= 160) << highest << ", the highest sample there is 160";
    EXPECT_NEAR(highLat, 57.9833, 0.005);
    EXPECT_NEAR(highLon, 11.9325, 0.005);
    EXPECT_GE(lowest, -6) << "the tile's lowest sample";
    EXPECT_EQ(at(cache, 57.5, 11.5), std::pair(true, 0)) << "the Kattegat";

    // A void in the data is no elevation: it reads as not loaded.
    for (int row = 596; row <= 604; ++row)
        for (int column = 596; column <= 604; ++column) testing::setSample(tile, 1201, row, column, kElevationVoid);
    cache.forceReload();
    ensure(cache, 57.45, 57.55, 11.45, 11.55);
    EXPECT_EQ(at(cache, 57.5, 11.5), kUnloaded);
    EXPECT_EQ(at(cache, 57.5, 11.51), std::pair(true, 0));
}

// A tile the user may not read is named in one error line; the others load.
// Root reads any file, so as root the load runs as "nobody".
TEST(Elevation, UnreadableTileIsNamed) {
    TempDir dir;
    const std::string locked = makeTile((dir.path() / "N10E010.hgt").string(), 1201, 1201, 7);
    makeTile((dir.path() / "N10E011.hgt").string(), 1201, 1201, 9);
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        ElevationCache cache;
        cache.setDirectories("", dir.path().string());
        const Loaded loaded = ensure(cache, 10.2, 10.8, 10.2, 11.8);
        std::vector<std::string> errors;
        for (const std::string& line : loaded.log)
            if (line.starts_with("Error")) errors.push_back(line);
        const bool ok = errors == std::vector<std::string>{"Error: Cannot read \"" + locked + "\": Permission denied."} &&
                        at(cache, 10.5, 11.5) == std::pair(true, 9) && at(cache, 10.5, 10.5) == kUnloaded;
        if (!ok)
            for (const std::string& line : loaded.log) std::fprintf(stderr, "%s\n", line.c_str());
        _exit(ok ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// Boxes no view of the globe has (a range typed beyond any zoom) ask for the
// whole globe, and nothing in the sizes overflows.
TEST(Elevation, BoxesBeyondTheGlobe) {
    TempDir dir;
    ElevationCache cache;
    cache.setSource(kGtopo30);
    cache.setDirectories(dir.path().string(), "");
    const double boxes[][4] = {{-1e300, 1e300, -1e300, 1e300}, {89.9, 95.0, -1e6, 1e6}, {-90.0, 90.0, 1e10, 1e10 + 1}};
    for (const auto& box : boxes) {
        cache.ensureCoverage(box[0], box[1], box[2], box[3]);
        EXPECT_TRUE(cache.south <= -90 && cache.north >= 90 && cache.west <= -180 && cache.east >= 180)
            << cache.south << " " << cache.north << " " << cache.west << " " << cache.east;
    }
}

}  // namespace
}  // namespace bearfix
