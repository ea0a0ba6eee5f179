#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "app/bearing_log_model.h"
#include "geo/great_circle.h"
#include "qt_application.h"

namespace bearfix {
namespace {

// What the Bearings tab does when a file of 10 000 bearings is loaded or the
// log is cleared and filled again: one model reset, one fix, and the cells of
// a screenful of rows read by the view. Must stay well under 100 ms, so that
// the table stays responsive.
void BM_BearingTableReset(benchmark::State& state) {
    ensureQtApplication();
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> azimuth(0.0, 6.283185307179586), km(2.0, 80.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    const GeoPosition tx{8.7 * kDegToRad, 50.3 * kDegToRad};
    std::vector<Bearing> log(static_cast<std::size_t>(state.range(0)));
    const char* const stations[] = {"Car 1", "Car 2", "Hill", "Tower"};
    for (std::size_t i = 0; i < log.size(); ++i) {
        Bearing& b = log[i];
        gc_destination(tx.lon, tx.lat, km(rng) / kEarthRadiusKm, azimuth(rng), &b.position.lon, &b.position.lat);
        double course;
        gc_distance_course(b.position.lon, b.position.lat, tx.lon, tx.lat, nullptr, &course);
        b.bearingDeg = reduce_bearing_degrees(course * kRadToDeg + noise(rng));
        b.toleranceDeg = 2.0;
        b.station = stations[i % 4];
    }
    BearingLogModel model;
    model.setObservers({"N50 E8", "N51 E9", "100", "200"});
    for (auto _ : state) {
        model.replaceLog(log);
        for (int row = 0; row < 40; ++row)
            for (int column = 0; column < model.columnCount(); ++column)
                benchmark::DoNotOptimize(model.data(model.index(row, column), Qt::DisplayRole));
        if (model.rows().fix.status != FixStatus::Found) state.SkipWithError("no fix");
    }
}
BENCHMARK(BM_BearingTableReset)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
