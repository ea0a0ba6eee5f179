// Offline tiles at 1600 x 1000: a redraw from the cache, and a first drawing
// that reads and decodes every tile from an MBTiles file on disk.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <cmath>
#include <filesystem>
#include <numbers>

#include "map/map_composer.h"
#include "map/tile_layer.h"
#include "qt_application.h"

namespace bearfix {
namespace {

constexpr double kLat = 50.1, kLon = 8.7;
constexpr int kZoom = 12;

// A street map's tile: many thin lines in a few colours and some names on a
// light ground, about as large a PNG as real ones.
QByteArray streetTile(QRandomGenerator& random) {
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(QColor(242, 239, 233));
    QPainter p(&tile);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colours[] = {Qt::white, QColor(250, 200, 120), QColor(170, 210, 160), QColor(170, 200, 230)};
    for (int i = 0; i < 60; ++i) {
        p.setPen(QPen(colours[random.bounded(4)], 1 + random.bounded(5)));
        QPointF a(random.bounded(256), random.bounded(256));
        for (int k = 0; k < 4; ++k) {
            const QPointF b = a + QPointF(random.bounded(80) - 40, random.bounded(80) - 40);
            p.drawLine(a, b);
            a = b;
        }
    }
    p.setPen(Qt::darkGray);
    for (int i = 0; i < 8; ++i) p.drawText(random.bounded(200), random.bounded(250), "Hauptstra\u00DFe");
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    tile.save(&buffer, "PNG");
    return bytes;
}

// Zoom levels 9 to 12 around the view, once per run.
const std::string& streetMbtiles() {
    static const std::string path = [] {
        const std::string file = (std::filesystem::temp_directory_path() / "bearfix-bench-streets.mbtiles").string();
        std::filesystem::remove(file);
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        sqlite3_exec(db,
                     "CREATE TABLE metadata (name text, value text); CREATE TABLE tiles (zoom_level integer, "
                     "tile_column integer, tile_row integer, tile_data blob); CREATE UNIQUE INDEX tile_index ON tiles "
                     "(zoom_level, tile_column, tile_row); INSERT INTO metadata VALUES ('format', 'png'); BEGIN;",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
        QRandomGenerator random(24);
        for (int z = 9; z <= kZoom; ++z) {
            const double n = std::exp2(z), lat = kLat * std::numbers::pi / 180;
            const int x0 = static_cast<int>((kLon + 180) / 360 * n);
            const int y0 = static_cast<int>((1 - std::asinh(std::tan(lat)) / std::numbers::pi) / 2 * n);
            for (int y = y0 - 6; y <= y0 + 6; ++y) {
                for (int x = x0 - 8; x <= x0 + 8; ++x) {
                    const QByteArray png = streetTile(random);
                    sqlite3_bind_int(insert, 1, z);
                    sqlite3_bind_int(insert, 2, x);
                    sqlite3_bind_int(insert, 3, static_cast<int>(n) - 1 - y);
                    sqlite3_bind_blob(insert, 4, png.constData(), static_cast<int>(png.size()), SQLITE_TRANSIENT);
                    sqlite3_step(insert);
                    sqlite3_reset(insert);
                }
            }
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return file;
    }();
    return path;
}

MapView streetView(int projection) {
    // The range at which zoom level 12's pixels are the view's.
    const double range = std::numbers::pi * 1000 * 6371 * std::cos(kLat * std::numbers::pi / 180) / (256 << kZoom);
    MapView view;
    map_view_setup(view, projection, kLon * std::numbers::pi / 180, kLat * std::numbers::pi / 180, range, 1600, 1000);
    return view;
}

// The tiles alone, all in the cache.
void BM_TilesRedrawCached(benchmark::State& state) {
    ensureQtApplication();
    const MapView view = streetView(static_cast<int>(state.range(0)));
    TileLayer layer;
    QImage bitmap(1600, 1000, QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    layer.draw(bitmap, view, streetMbtiles(), 100);
    for (auto _ : state) layer.draw(bitmap, view, streetMbtiles(), 100);
    state.counters["zoom"] = layer.zoom();
}
BENCHMARK(BM_TilesRedrawCached)->ArgName("projection")->Arg(kCylindric)->Arg(kAzimuthal)->Unit(benchmark::kMillisecond);

// The whole base map with tiles in the cache: lines and place names on top.
void BM_TilesBaseMapCached(benchmark::State& state) {
    if (!std::filesystem::exists("map_data/coast.pnt")) {
        state.SkipWithError("run from the repository root, where map_data/ is");
        return;
    }
    ensureQtApplication();
    MapSettings s;
    s.projection = static_cast<int>(state.range(0));
    s.showTopo = false;
    s.centerHow = 0;
    s.rangeKm = std::to_string(streetView(s.projection).range_km);
    s.showTiles = true;
    s.tilesPath = streetMbtiles();
    MapComposer composer;
    QImage bitmap(1600, 1000, QImage::Format_RGB32);
    GeoPosition centre{kLon * std::numbers::pi / 180, kLat * std::numbers::pi / 180};
    composer.drawBaseMap(bitmap, s, centre);
    for (auto _ : state) composer.drawBaseMap(bitmap, s, centre);
}
BENCHMARK(BM_TilesBaseMapCached)->ArgName("projection")->Arg(kCylindric)->Arg(kAzimuthal)->Unit(benchmark::kMillisecond);

// A first drawing: every tile read from the file and decoded.
void BM_TilesFirstDrawFromDisk(benchmark::State& state) {
    ensureQtApplication();
    const MapView view = streetView(static_cast<int>(state.range(0)));
    QImage bitmap(1600, 1000, QImage::Format_RGB32);
    int zoom = -1;
    for (auto _ : state) {
        TileLayer layer;
        bitmap.fill(Qt::white);
        layer.draw(bitmap, view, streetMbtiles(), 100);
        zoom = layer.zoom();
    }
    state.counters["zoom"] = zoom;
}
BENCHMARK(BM_TilesFirstDrawFromDisk)->ArgName("projection")->Arg(kCylindric)->Arg(kAzimuthal)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bearfix
