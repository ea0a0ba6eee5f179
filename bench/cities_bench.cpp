#include <benchmark/benchmark.h>

#include "app/city_dialog.h"
#include "cities/cities.h"
#include "geo/position.h"
#include "qt_application.h"

namespace bearfix {
namespace {

// Runs on every mouse move over the map. Central Europe is where the table
// is densest, so the latitude window lets the most places through there.
void BM_DescribeNearCity(benchmark::State& state) {
    double lon = 8.4825 * kDegToRad, lat = 52.1406 * kDegToRad;
    describe_near_city(lon, lat);  // the one-time index build stays out of the timing
    for (auto _ : state) {
        benchmark::DoNotOptimize(describe_near_city(lon, lat));
        lon += 1e-7;
    }
}
BENCHMARK(BM_DescribeNearCity);

// Filling the dialog's list of all places and preselecting the nearest.
void BM_CityDialogFill(benchmark::State& state) {
    ensureQtApplication();
    TCitySelForm dialog;
    for (auto _ : state) dialog.prepare(8.4825 * kDegToRad, 52.1406 * kDegToRad);
}
BENCHMARK(BM_CityDialogFill)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
