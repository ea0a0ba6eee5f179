// The background save: what a tick costs the GUI thread when nothing
// changed (the session read from the controls and serialised), against the
// write itself (read, merge, write, fsync, rename), which runs on a thread
// of its own.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QtTest/QTest>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "qt_application.h"
#include "session/settings_writer.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;

fs::path autosaveBenchDirectory() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("bearfix-bench-autosave-" + std::to_string(getpid()));
        fs::create_directories(d / "config/bearfix");
        std::atexit([] { fs::remove_all(dir); });
        return d;
    }();
    return dir;
}

void BM_AutosaveTickUnchanged(benchmark::State& state) {
    ensureQtApplication();
    const fs::path d = autosaveBenchDirectory();
    setenv("XDG_CONFIG_HOME", (d / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (d / "data").c_str(), 1);
    setenv("BEARFIX_SOCKET", (d / "bearfix.sock").c_str(), 1);
    setenv("BEARFIX_GPSD", "off", 1);
    auto w = std::make_unique<TBearfix>();
    w->takeSettingsAsSaved();
    for (auto _ : state) w->saveSettingsInBackground();
    w->close();
}
BENCHMARK(BM_AutosaveTickUnchanged)->Unit(benchmark::kMicrosecond);

void BM_SettingsWrite(benchmark::State& state) {
    const std::string path = (autosaveBenchDirectory() / "write/bearfix.ini").string();
    SettingsWriter writer;
    SessionSettings s;
    int i = 0;
    for (auto _ : state) {
        s.brg1x = std::to_string(++i);
        if (!writer.write(path, s, true).empty()) return state.SkipWithError("not written");
    }
}
BENCHMARK(BM_SettingsWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace bearfix
