#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QImage>
#include <filesystem>
#include <string>

#include "map/elevation.h"
#include "map/map_view.h"
#include "map/topography.h"
#include "qt_application.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;

const fs::path kRealTiles = fs::path(BEARFIX_SOURCE_DIR) / "../shared/data/srtm";

// 2 x 2 SRTM3 tiles around 9 E 51 N: the two real ones and a copy of each to
// the north (links, so the page cache holds them once).
const std::string& squareOfTiles() {
    static const std::string dir = [] {
        fs::path d = fs::temp_directory_path() / ("bearfix-bench-srtm-" + std::to_string(getpid()));
        fs::create_directories(d);
        for (auto [name, source] : {std::pair{"N50E008.hgt", "N50E008.hgt"}, {"N50E009.hgt", "N50E009.hgt"},
                                    {"N51E008.hgt", "N50E008.hgt"}, {"N51E009.hgt", "N50E009.hgt"}}) {
            std::error_code ec;
            fs::create_symlink(kRealTiles / source, d / name, ec);
        }
        std::atexit([] { fs::remove_all(dir); });
        return d.string();
    }();
    return dir;
}

// The 33 GTOPO30 tiles at their real sizes, sparse (all zero).
const std::string& gtopoWorld() {
    static const std::string dir = [] {
        fs::path d = fs::temp_directory_path() / ("bearfix-bench-gtopo-" + std::to_string(getpid()));
        fs::create_directories(d);
        for (const char* lon : {"W180", "W140", "W100", "W060", "W020", "E020", "E060", "E100", "E140"})
            for (const char* lat : {"N90", "N40", "S10"}) {
                int fd = ::open((d / (std::string(lon) + lat + ".DEM")).c_str(), O_WRONLY | O_CREAT, 0644);
                if (ftruncate(fd, 2LL * 6000 * 4800) != 0) {
                }
                ::close(fd);
            }
        for (const char* name : {"W180S60", "W120S60", "W060S60", "W000S60", "E060S60", "E120S60"}) {
            int fd = ::open((d / (std::string(name) + ".DEM")).c_str(), O_WRONLY | O_CREAT, 0644);
            if (ftruncate(fd, 2LL * 3600 * 7200) != 0) {
            }
            ::close(fd);
        }
        std::atexit([] { fs::remove_all(dir); });
        return d.string();
    }();
    return dir;
}

bool haveRealTiles(benchmark::State& state) {
    if (fs::exists(kRealTiles / "N50E008.hgt")) return true;
    state.SkipWithError("the real SRTM3 tiles are not in ../shared/data/srtm");
    return false;
}

void BM_EnsureCoverageSrtm2x2(benchmark::State& state) {
    if (!haveRealTiles(state)) return;
    ElevationCache cache;
    cache.setDirectories("", squareOfTiles());
    for (auto _ : state) {
        cache.forceReload();
        cache.ensureCoverage(50.0, 52.0, 8.0, 10.0);
    }
    state.counters["samples"] = static_cast<double>(cache.loadedSamples());
}
BENCHMARK(BM_EnsureCoverageSrtm2x2)->Unit(benchmark::kMillisecond);

void BM_EnsureCoverageGtopoWorld(benchmark::State& state) {
    ElevationCache cache;
    cache.setSource(kGtopo30);
    cache.setDirectories(gtopoWorld(), "");
    for (auto _ : state) {
        cache.forceReload();
        cache.ensureCoverage(-90.0, 90.0, -180.0, 180.0);
    }
    state.counters["samples"] = static_cast<double>(cache.loadedSamples());
}
BENCHMARK(BM_EnsureCoverageGtopoWorld)->Unit(benchmark::kMillisecond);

// 1600 x 1000 pixels of shaded terrain from a filled grid.
void BM_RenderTopography(benchmark::State& state) {
    if (!haveRealTiles(state)) return;
    ensureQtApplication();
    ElevationCache cache;
    cache.setDirectories("", squareOfTiles());
    cache.ensureCoverage(50.0, 52.0, 8.0, 10.0);
    QImage image(1600, 1000, QImage::Format_RGB32);
    TopoSettings settings;
    settings.shading = state.range(0) != 0;
    // Zoomed in, neighbouring pixels share grid samples; over the whole grid
    // each pixel has its own.
    const bool whole = state.range(1) != 0;
    const double s = whole ? cache.south : 50.2, n = whole ? cache.north : 51.8;
    const double w = whole ? cache.west : 8.2, e = whole ? cache.east : 9.8;
    for (auto _ : state) renderTopography(image, cache, settings, 0, 1000, s, n, w, e);
}
BENCHMARK(BM_RenderTopography)
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->ArgNames({"shading", "wholeGrid"})
    ->Unit(benchmark::kMillisecond);

// 1600 x 1000 pixels of an azimuthal view from the sparse GTOPO30 world:
// range 20000 km (the disc's rim and a pole on the picture) and 600 km.
void BM_RenderTopographyAzimuthal(benchmark::State& state) {
    ensureQtApplication();
    ElevationCache cache;
    cache.setSource(kGtopo30);
    cache.setDirectories(gtopoWorld(), "");
    MapView view;
    map_view_setup(view, kAzimuthal, 0.15, 0.9, state.range(0), 1600, 1000);
    QImage image(1600, 1000, QImage::Format_RGB32);
    renderTopography(image, cache, TopoSettings{}, 0, 1000, 0, 1, 0, 1, nullptr, &view);  // loads the grid
    for (auto _ : state) renderTopography(image, cache, TopoSettings{}, 0, 1000, 0, 1, 0, 1, nullptr, &view);
}
BENCHMARK(BM_RenderTopographyAzimuthal)->ArgName("rangeKm")->Arg(20000)->Arg(600)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
