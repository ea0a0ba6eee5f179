#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "fix/bearing_log.h"
#include "fix/multi_fix.h"
#include "geo/great_circle.h"

namespace bearfix {
namespace {

// A hunt: stations 2 to 80 km around a transmitter near Frankfurt, bearings
// with 1 degree of noise (tolerance 2).
std::vector<Bearing> hunt(int count) {
    std::mt19937_64 rng(count);
    std::uniform_real_distribution<double> azimuth(0.0, 2.0 * 3.141592653589793), km(2.0, 80.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    const GeoPosition tx{8.7 * kDegToRad, 50.3 * kDegToRad};
    std::vector<Bearing> bearings(static_cast<std::size_t>(count));
    for (Bearing& b : bearings) {
        gc_destination(tx.lon, tx.lat, km(rng) / kEarthRadiusKm, azimuth(rng), &b.position.lon, &b.position.lat);
        double course;
        gc_distance_course(b.position.lon, b.position.lat, tx.lon, tx.lat, nullptr, &course);
        b.bearingDeg = reduce_bearing_degrees(course * kRadToDeg + noise(rng));
        b.toleranceDeg = 2.0;
        b.station = "Car";
    }
    return bearings;
}

void BM_FixOfBearings(benchmark::State& state) {
    const std::vector<Bearing> bearings = hunt(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const FixResult r = solveFix(bearings);
        if (r.status != FixStatus::Found) state.SkipWithError("no fix");
        benchmark::DoNotOptimize(r.x);
    }
}
BENCHMARK(BM_FixOfBearings)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_FixOfBearingsRobust(benchmark::State& state) {
    const std::vector<Bearing> bearings = hunt(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(solveFix(bearings, {.robust = true}).x);
}
BENCHMARK(BM_FixOfBearingsRobust)->Arg(10)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_BearingCsvRead(benchmark::State& state) {
    const std::string text = formatBearingCsv(hunt(100000));
    std::vector<Bearing> out;
    std::string errors;
    for (auto _ : state) benchmark::DoNotOptimize(parseBearingCsv(text, out, errors));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_BearingCsvRead)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
