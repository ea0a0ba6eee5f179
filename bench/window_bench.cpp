// A keystroke in the window, from the field's change to the picture on the
// screen, against the floor: copying the base map and showing it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QtTest/QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/map_image.h"
#include "qt_application.h"
#include "tracks/track_store.h"
#include "ui_bearfix.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;

// A window of 1200 x 800 whose settings, socket and data are in a private
// directory, its map 30 km round observer A (no terrain), with `points` of a
// walk round A in the store, shown and drawn.
std::unique_ptr<TBearfix> windowWithTrack(int points) {
    ensureQtApplication();
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("bearfix-bench-window-" + std::to_string(getpid()));
        fs::create_directories(d / "config/bearfix");
        std::ofstream(d / "config/bearfix/bearfix.ini")
            << "[PREV_SESSION]\nPos1=N52.1 E8.75\nPos2=N52.0 E8.9\nBrg1X=260\nBrg2X=300\n"
               "[MAP]\nShowTopo=0\nRange_km=30\n";
        setenv("XDG_CONFIG_HOME", (d / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (d / "data").c_str(), 1);
        setenv("BEARFIX_SOCKET", (d / "bearfix.sock").c_str(), 1);
        std::atexit([] { fs::remove_all(dir); });
        return d;
    }();
    clearTracks();
    beginTrackSegment("walk", -1);
    for (int i = 0; i < points; ++i) {
        TrackPoint p;
        initTrackPoint(p);
        p.lat = static_cast<int32_t>((52.0 + (i % 20000) * 1e-5) * kUnitsPerDegree);
        p.lon = static_cast<int32_t>((8.5 + (i / 20000) * 1e-2) * kUnitsPerDegree);
        p.valid = 1;
        appendTrackRecord(p);
    }
    auto w = std::make_unique<TBearfix>();
    w->resize(1200, 800);
    w->show();
    if (!QTest::qWaitFor([&w] { return !w->initialDrawPending; }, 60000)) return nullptr;
    return w;
}

// A bearing typed: the results, the overlay and the picture on the screen.
void BM_Keystroke(benchmark::State& state) {
    auto w = windowWithTrack(static_cast<int>(state.range(0)));
    if (!w) return state.SkipWithError("no first map");
    QLineEdit* field = w->form().Ed_Brg1X;
    int i = 0;
    for (auto _ : state) {
        field->setText(++i % 2 ? "261" : "260");
        w->form().Img_Map->repaintNow();
    }
    w->close();
    clearTracks();
}
BENCHMARK(BM_Keystroke)->ArgName("trackPoints")->Arg(0)->Arg(1'000'000)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// The floor: the base map copied into the picture, and the picture shown.
void BM_CopyAndBlit(benchmark::State& state) {
    auto w = windowWithTrack(0);
    if (!w) return state.SkipWithError("no first map");
    for (auto _ : state) {
        w->form().Img_Map->picture() = w->baseBitmap.copy();
        w->form().Img_Map->repaintNow();
    }
    w->close();
}
BENCHMARK(BM_CopyAndBlit)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
