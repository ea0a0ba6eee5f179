#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "map/map_composer.h"
#include "qt_application.h"
#include "support/message_log.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;
constexpr int kPoints = 1'000'000;

std::string temporary(const std::string& name) {
    return (fs::temp_directory_path() / ("bearfix-bench-" + std::to_string(getpid()) + "-" + name)).string();
}

// A walk of a million points around Bielefeld, one second apart.
double latAt(int i) { return 52.0 + (i % 20000) * 1e-5; }
double lonAt(int i) { return 8.5 + (i / 20000) * 1e-3; }

const std::string& kmlFile() {
    static const std::string path = [] {
        std::string p = temporary("walk.kml");
        std::ofstream out(p);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml><Document><Placemark><name>walk</name>"
               "<LineString><coordinates>\n";
        char tuple[64];
        for (int i = 0; i < kPoints; ++i) {
            std::snprintf(tuple, sizeof tuple, "%.6f,%.6f,%d\n", lonAt(i), latAt(i), 100 + i % 50);
            out << tuple;
        }
        out << "</coordinates></LineString></Placemark></Document></kml>\n";
        std::atexit([] { fs::remove(temporary("walk.kml")); });
        return p;
    }();
    return path;
}

const std::string& auxFile() {
    static const std::string path = [] {
        std::string p = temporary("walk.aux");
        std::ofstream out(p);
        out << "Wavemill auxiliary track file\n";
        char line[128];
        for (int i = 0; i < kPoints; ++i) {
            std::snprintf(line, sizeof line, "%d %d.25 %.6f %.6f %d.0 4.5 sr=48000\n", i, 1262304000 + i, latAt(i),
                          lonAt(i), 100 + i % 50);
            out << line;
        }
        std::atexit([] { fs::remove(temporary("walk.aux")); });
        return p;
    }();
    return path;
}

void import(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        state.PauseTiming();
        clearTracks();
        state.ResumeTiming();
        if (!loadTrackFile(path, 0)) state.SkipWithError("import failed");
    }
    state.counters["points/s"] = benchmark::Counter(double(kPoints) * state.iterations(), benchmark::Counter::kIsRate);
    clearTracks();
}

void BM_ImportKml(benchmark::State& state) { import(state, kmlFile()); }
BENCHMARK(BM_ImportKml)->Unit(benchmark::kMillisecond);

void BM_ImportAux(benchmark::State& state) { import(state, auxFile()); }
BENCHMARK(BM_ImportAux)->Unit(benchmark::kMillisecond);

void fillStore(int points) {
    clearTracks();
    beginTrackSegment("walk", -1);
    for (int i = 0; i < points; ++i) {
        TrackPoint p;
        initTrackPoint(p);
        p.lat = static_cast<int32_t>(latAt(i) * kUnitsPerDegree);
        p.lon = static_cast<int32_t>(lonAt(i) * kUnitsPerDegree);
        p.valid = 1;
        appendTrackRecord(p);
    }
}

void BM_ForEachTrackBatch(benchmark::State& state) {
    fillStore(kPoints);
    MapView view;
    long delivered = 0;
    for (auto _ : state) {
        forEachTrackBatch(view, [&delivered](const MapView&, const MapPoint*, int n) {
            if (n > 0) delivered += n;
        });
    }
    state.counters["points/s"] = benchmark::Counter(double(delivered), benchmark::Counter::kIsRate);
    clearTracks();
}
BENCHMARK(BM_ForEachTrackBatch)->Unit(benchmark::kMillisecond);

// The overlay on every keystroke with a million track points in view: the
// tracks drawn on the base map are kept (/1) or, as before, drawn every time
// (/0, what a change of the tracks or the view costs).
void BM_DrawOverlayWithTrack(benchmark::State& state) {
    ensureQtApplication();
    fillStore(kPoints);
    MapComposer composer;
    if (state.range(0)) {
        composer.setTrackSource(forEachTrackBatch, trackChanges);
    } else {
        composer.setTrackSource(forEachTrackBatch);
    }
    MapSettings s;
    s.showCoasts = s.showBorders = s.showRivers = s.showTopo = false;
    s.cityMode = 0;
    s.rangeKm = "30";
    s.brg1x = "260";
    s.brg2x = "288";
    QImage base(1600, 1000, QImage::Format_RGB32), visible;
    GeoPosition centre{8.75 * 0.017453292519943295, 52.1 * 0.017453292519943295};
    composer.drawBaseMap(base, s, centre);
    for (auto _ : state) composer.drawOverlay(base, visible, s, centre, centre);
    clearTracks();
}
BENCHMARK(BM_DrawOverlayWithTrack)->ArgName("kept")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
