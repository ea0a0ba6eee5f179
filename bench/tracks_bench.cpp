#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
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

enum Format { kKml, kGpx, kAux };

// A walk of `points` points in one of the formats, written once.
const std::string& walkFile(Format format, int points) {
    static std::map<std::pair<int, int>, std::string> files;
    std::string& path = files[{format, points}];
    if (!path.empty()) return path;
    static const char* const kExtensions[] = {".kml", ".gpx", ".aux"};
    path = temporary("walk" + std::to_string(points) + kExtensions[format]);
    std::ofstream out(path);
    char line[160];
    if (format == kKml)
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml><Document><Placemark><name>walk</name>"
               "<LineString><coordinates>\n";
    if (format == kGpx)
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"bench\">"
               "<trk><name>walk</name><trkseg>\n";
    if (format == kAux) out << "Wavemill auxiliary track file\n";
    for (int i = 0; i < points; ++i) {
        if (format == kKml) std::snprintf(line, sizeof line, "%.6f,%.6f,%d\n", lonAt(i), latAt(i), 100 + i % 50);
        if (format == kGpx) {
            const int s = i % 86400;
            std::snprintf(line, sizeof line,
                          "<trkpt lat=\"%.6f\" lon=\"%.6f\"><ele>%d.0</ele><time>2021-06-01T%02d:%02d:%02dZ</time>"
                          "</trkpt>\n",
                          latAt(i), lonAt(i), 100 + i % 50, s / 3600, s / 60 % 60, s % 60);
        }
        if (format == kAux)
            std::snprintf(line, sizeof line, "%d %d.25 %.6f %.6f %d.0 4.5 sr=48000\n", i, 1262304000 + i, latAt(i),
                          lonAt(i), 100 + i % 50);
        out << line;
    }
    if (format == kKml) out << "</coordinates></LineString></Placemark></Document></kml>\n";
    if (format == kGpx) out << "</trkseg></trk></gpx>\n";
    static const bool cleanup = [] {
        std::atexit([] {
            for (const auto& [key, file] : files) fs::remove(file);
        });
        return true;
    }();
    (void)cleanup;
    return path;
}

// Kilobytes of this process's peak resident memory (VmHWM).
long peakKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// The most memory an import takes per point, store included: measured in a
// child process that first gives back the memory it inherited unused and
// restarts its peak count.
double peakBytesPerPoint(const std::string& path, int points) {
    int ends[2];
    if (pipe(ends) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        clearTracks();
        malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = peakKilobytes();
        loadTrackFile(path, 0);
        const double bytes = (peakKilobytes() - before) * 1024.0 / points;
        _exit(write(ends[1], &bytes, sizeof bytes) == sizeof bytes ? 0 : 1);
    }
    double bytes = -1;
    if (child < 0 || read(ends[0], &bytes, sizeof bytes) != sizeof bytes) bytes = -1;
    close(ends[0]);
    close(ends[1]);
    if (child > 0) waitpid(child, nullptr, 0);
    return bytes;
}

// Imports of 1e4, 1e5 and 1e6 points: the rate stays the same when the
// import is linear in the file's size. Goals: KML >= 3 M points/s, GPX >=
// 1.5 M points/s with at most 200 bytes per point at the peak, auxiliary
// files >= 4 M points/s. Rates are against the wall clock: a reader may use
// more than one thread.
void import(benchmark::State& state, Format format) {
    const int points = static_cast<int>(state.range(0));
    const std::string& path = walkFile(format, points);
    for (auto _ : state) {
        state.PauseTiming();
        clearTracks();
        state.ResumeTiming();
        if (!loadTrackFile(path, 0)) state.SkipWithError("import failed");
    }
    state.counters["points/s"] = benchmark::Counter(double(points) * state.iterations(), benchmark::Counter::kIsRate);
    clearTracks();
    state.counters["peak bytes/point"] = peakBytesPerPoint(path, points);  // the store's blocks dominate from 1e6 on
}

void importSizes(benchmark::internal::Benchmark* b) {
    b->ArgName("points")->Arg(10'000)->Arg(100'000)->Arg(kPoints)->UseRealTime()->Unit(benchmark::kMillisecond);
}

void BM_ImportKml(benchmark::State& state) { import(state, kKml); }
BENCHMARK(BM_ImportKml)->Apply(importSizes);

void BM_ImportGpx(benchmark::State& state) { import(state, kGpx); }
BENCHMARK(BM_ImportGpx)->Apply(importSizes);

void BM_ImportAux(benchmark::State& state) { import(state, kAux); }
BENCHMARK(BM_ImportAux)->Apply(importSizes);

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
