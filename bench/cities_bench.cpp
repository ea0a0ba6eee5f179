#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#include "app/city_dialog.h"
#include "cities/cities.h"
#include "geo/position.h"

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
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    TCitySelForm dialog;
    for (auto _ : state) dialog.prepare(8.4825 * kDegToRad, 52.1406 * kDegToRad);
}
BENCHMARK(BM_CityDialogFill)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
