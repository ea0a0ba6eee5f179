#include <benchmark/benchmark.h>

#include "geo/great_circle.h"
#include "geo/position.h"
#include "geo/position_patterns.h"

namespace bearfix {
namespace {

void BM_BearingIntersection(benchmark::State& state) {
    const double brg1 = 260 * kDegToRad, brg2 = 288 * kDegToRad;
    GeoPosition a{8.4825 * kDegToRad, 52.1406 * kDegToRad}, b{11.0 * kDegToRad, 49.45 * kDegToRad};
    IntersectionResult r;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        bearing_intersection(r, a.lon, a.lat, brg1, b.lon, b.lat, brg2);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_BearingIntersection);

void BM_ScanPosition(benchmark::State& state) {
    const std::string text = "N52\xB0" "08'26\" E008\xB0" "28'57\"";
    GeoPosition p;
    for (auto _ : state) {
        benchmark::DoNotOptimize(scan_position(text, p));
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_ScanPosition);

// Every keystroke in a position field reads it; the slowest forms go
// through scan_position and the patterns.
void BM_ReadPosition(benchmark::State& state) {
    static const char* const texts[] = {"N52\xB0" "08'26\" E008\xB0" "28'57\"", "50.3375, 8.7553",
                                        "50 20.25N 8 45.32E", "JO40hf31ij", "N 50.33 x"};
    const std::string text = texts[state.range(0)];
    GeoPosition p;
    for (auto _ : state) {
        benchmark::DoNotOptimize(read_position(text, p));
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_ReadPosition)->DenseRange(0, 4);

void BM_FormatPosition(benchmark::State& state) {
    GeoPosition p{8.4825 * kDegToRad, 52.1406 * kDegToRad};
    for (auto _ : state) {
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(format_position(p, PosFormat::Dms));
    }
}
BENCHMARK(BM_FormatPosition);

}  // namespace
}  // namespace bearfix
