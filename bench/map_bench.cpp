#include <benchmark/benchmark.h>

#include <QImage>
#include <filesystem>
#include <string>

#include "map/map_composer.h"
#include "map/vector_file.h"
#include "qt_application.h"

namespace bearfix {
namespace {

MapSettings defaultMap() {
    MapSettings s;
    s.pos1 = "N52\xB0" "08'26\" E008\xB0" "28'57\"";
    s.pos2 = "N49\xB0" "27'00\" E011\xB0" "00'00\"";
    s.brg1x = "260";
    s.brg2x = "288";
    s.brg1Tol = s.brg2Tol = "1";
    s.showTopo = false;
    s.cityMode = 3;  // names
    return s;
}

bool haveMapData(benchmark::State& state) {
    if (std::filesystem::exists("map_data/coast.pnt")) return true;
    state.SkipWithError("run from the repository root, where map_data/ is");
    return false;
}

// All vector layers and city names, 1600 x 1000, no topography, round
// observer A at 1, 20, 600 km and the whole earth. The azimuthal map should
// take at most 1.5 times the cylindric one's time at every range.
void BM_DrawBaseMap(benchmark::State& state) {
    if (!haveMapData(state)) return;
    ensureQtApplication();
    MapComposer composer;
    MapSettings s = defaultMap();
    s.projection = static_cast<int>(state.range(0));
    s.rangeKm = std::to_string(state.range(1));
    QImage bitmap(1600, 1000, QImage::Format_RGB32);
    GeoPosition centre;
    for (auto _ : state) composer.drawBaseMap(bitmap, s, centre);
}
BENCHMARK(BM_DrawBaseMap)
    ->ArgsProduct({{kCylindric, kAzimuthal}, {1, 20, 600, 20000}})
    ->ArgNames({"projection", "rangeKm"})
    ->Unit(benchmark::kMillisecond);

// Runs on every keystroke in an observer field.
void BM_DrawOverlay(benchmark::State& state) {
    ensureQtApplication();
    MapComposer composer;
    MapSettings s = defaultMap();
    s.showCoasts = s.showBorders = s.showRivers = false;
    s.cityMode = 0;
    QImage base(1600, 1000, QImage::Format_RGB32), visible;
    GeoPosition centre, a, b;
    composer.drawBaseMap(base, s, centre);
    scan_position(s.pos1, a);
    scan_position(s.pos2, b);
    for (auto _ : state) composer.drawOverlay(base, visible, s, a, b);
}
BENCHMARK(BM_DrawOverlay)->Unit(benchmark::kMillisecond);

void BM_GeoToScreen(benchmark::State& state) {
    MapView view;
    map_view_setup(view, static_cast<int>(state.range(0)), 0.15, 0.9, 600, 1600, 1000);
    double lon = 0.1, lat = 0.85;
    int x, y;
    for (auto _ : state) {
        benchmark::DoNotOptimize(geo_to_screen(view, lon, lat, &x, &y));
        lon += 1e-7;
    }
}
BENCHMARK(BM_GeoToScreen)->Arg(kCylindric)->Arg(kAzimuthal);

void BM_LoadCoast(benchmark::State& state) {
    if (!haveMapData(state)) return;
    MapView view;
    long points = 0;
    for (auto _ : state) {
        loadVectorFile("map_data/coast.pnt", view, [&points](const MapView&, const MapPoint*, int n) {
            if (n > 0) points += n;
        });
    }
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadCoast)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
