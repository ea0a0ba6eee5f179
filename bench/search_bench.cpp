#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "geo/great_circle.h"
#include "map/map_view.h"
#include "search/hdr_region.h"
#include "search/posterior.h"
#include "search/viewshed.h"
#include "session/probability_picture.h"

namespace bearfix {
namespace {

// 1000 bearings of stations 2 to 80 km round a transmitter near Frankfurt,
// 1 degree of noise (tolerance 2), as the fix's benchmark has them.
std::vector<Bearing> thousandBearings() {
    std::mt19937_64 rng(1000);
    std::uniform_real_distribution<double> azimuth(0.0, 2.0 * 3.141592653589793), km(2.0, 80.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    const GeoPosition tx{8.7 * kDegToRad, 50.3 * kDegToRad};
    std::vector<Bearing> bearings(1000);
    for (Bearing& b : bearings) {
        gc_destination(tx.lon, tx.lat, km(rng) / kEarthRadiusKm, azimuth(rng), &b.position.lon, &b.position.lat);
        double course;
        gc_distance_course(b.position.lon, b.position.lat, tx.lon, tx.lat, nullptr, &course);
        b.bearingDeg = reduce_bearing_degrees(course * kRadToDeg + noise(rng));
        b.toleranceDeg = 2.0;
    }
    return bearings;
}

// The probability map of 1000 bearings with its 50 % and 95 % regions, their
// outlines, and the layer painted for a 1600 x 1000 view in the cylindric
// (0) or azimuthal (1) projection, zoomed so that the grid fills the view:
// every pixel looked up. The grid covers the probability, whatever the view.
void BM_ProbabilityMapOf1000Bearings(benchmark::State& state) {
    const std::vector<Bearing> bearings = thousandBearings();
    const int projection = static_cast<int>(state.range(0));
    ProbabilityPicture picture;
    for (auto _ : state) {
        const Posterior p = computePosterior(bearings);
        const HdrRegion h50 = highestDensityRegion(p.grid, 0.5), h95 = highestDensityRegion(p.grid, 0.95);
        if (h95.parts != 1) state.SkipWithError("not one part");
        MapView view;
        const double rangeKm = p.grid.rows * p.grid.cellLatDeg * kDegToRad * kEarthRadiusKm / 2;
        map_view_setup(view, projection, p.mean.lon, p.mean.lat, rangeKm, 1600, 1000);
        paintProbability(p.grid, h50, h95, view, picture);
        benchmark::DoNotOptimize(picture.pixels.data());
        state.counters["cells"] = p.grid.columns * p.grid.rows;
    }
}
BENCHMARK(BM_ProbabilityMapOf1000Bearings)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Two bearings crossing at 40 degrees, 30 and 60 km away: the largest grid.
void BM_ProbabilityMapOf2Bearings(benchmark::State& state) {
    std::vector<Bearing> bearings(2);
    const GeoPosition tx{8.7 * kDegToRad, 50.3 * kDegToRad};
    for (int i = 0; i < 2; ++i) {
        Bearing& b = bearings[static_cast<std::size_t>(i)];
        gc_destination(tx.lon, tx.lat, (30.0 + 30.0 * i) / kEarthRadiusKm, (10.0 + 40.0 * i) * kDegToRad, &b.position.lon,
                       &b.position.lat);
        double course;
        gc_distance_course(b.position.lon, b.position.lat, tx.lon, tx.lat, nullptr, &course);
        b.bearingDeg = reduce_bearing_degrees(course * kRadToDeg + 1.0);
        b.toleranceDeg = 4.0;
    }
    for (auto _ : state) {
        const Posterior p = computePosterior(bearings);
        const HdrRegion h50 = highestDensityRegion(p.grid, 0.5), h95 = highestDensityRegion(p.grid, 0.95);
        benchmark::DoNotOptimize(h95.polygons.data());
        state.counters["cells"] = p.grid.columns * p.grid.rows;
    }
}
BENCHMARK(BM_ProbabilityMapOf2Bearings)->Unit(benchmark::kMillisecond);

// One 30 km viewshed on the real SRTM3 tile N50E008 (../shared/data), from
// the Taunus at 50.5 N 8.5 E: about 650 x 1250 samples.
void BM_Viewshed30KmSrtm3(benchmark::State& state) {
    const auto path = std::filesystem::path(BEARFIX_SOURCE_DIR) / "../shared/data/srtm/N50E008.hgt";
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() != 2u * 1201 * 1201) {
        state.SkipWithError("no ../shared/data/srtm/N50E008.hgt");
        return;
    }
    std::vector<int16_t> samples(1201 * 1201);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) << 8 | static_cast<uint8_t>(bytes[2 * i + 1]));
    const TerrainGrid terrain{samples.data(), 1201, 1201, 8.0, 51.0, 1.0 / 1200, 1.0 / 1200};
    for (auto _ : state) {
        const Viewshed v = computeViewshed(terrain, {8.5 * kDegToRad, 50.5 * kDegToRad}, {.radiusKm = 30.0});
        if (v.empty()) state.SkipWithError("no viewshed");
        benchmark::DoNotOptimize(v.visible.data());
        state.counters["cells"] = v.columns * v.rows;
    }
}
BENCHMARK(BM_Viewshed30KmSrtm3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
