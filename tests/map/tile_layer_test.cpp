// Offline tiles against GDAL: an MBTiles file made by GDAL from a hillshade
// of a real SRTM tile, and the same tiles as a {z}/{x}/{y} folder, drawn into
// both projections; GDAL's own warp of the file to the view's extent is where
// their pixels belong.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QBuffer>
#include <QImage>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "geo/great_circle.h"
#include "map/map_composer.h"
#include "map/tile_cache.h"
#include "map/tile_layer.h"
#include "support/message_log.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr double kLat = 57.875, kLon = 11.85;  // the rocky coast north of Gothenburg
constexpr int kWidth = 600, kHeight = 400;

std::string number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// Runs a shell command; its error output goes to `log`.
bool run(const std::string& command, const fs::path& log) {
    return std::system(("(" + command + ") >>'" + log.string() + "' 2>&1").c_str()) == 0;
}

// Settings with nothing but the tiles.
MapSettings tilesOnly(const std::string& path, double rangeKm, int projection) {
    MapSettings s;
    s.projection = projection;
    s.rangeKm = number(rangeKm);
    s.showCoasts = s.showBorders = s.showRivers = s.showTopo = false;
    s.cityMode = s.centerHow = 0;
    s.showTiles = true;
    s.tilesPath = path;
    return s;
}

// The range at which a tile pixel of zoom level `zoom` (fractional) is as
// large as a view pixel at the centre.
double rangeForZoom(double zoom) {
    const double tileRadians = 2 * std::numbers::pi / (256 * std::exp2(zoom)) * std::cos(kLat * std::numbers::pi / 180);
    return tileRadians * kEarthRadiusKm * kHeight / 2;
}

QImage render(MapComposer& composer, const MapSettings& s) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    GeoPosition centre{kLon * std::numbers::pi / 180, kLat * std::numbers::pi / 180};
    composer.drawBaseMap(image, s, centre);
    return image;
}

struct Match {
    double difference = 1e9;  // mean over the colour channels, 0..255
    long pixels = 0;
};

// Our picture against GDAL's where GDAL has data (away from its edges),
// ours moved by (dx, dy).
Match compare(const QImage& ours, const QImage& gdal, int dx, int dy) {
    Match m{0, 0};
    double sum = 0;
    for (int y = 4; y < kHeight - 4; ++y) {
        for (int x = 4; x < kWidth - 4; ++x) {
            bool inside = true;
            for (int v = -2; v <= 2 && inside; ++v)
                for (int u = -2; u <= 2 && inside; ++u) inside = qAlpha(gdal.pixel(x + u, y + v)) == 255;
            if (!inside) continue;
            const QRgb a = ours.pixel(x + dx, y + dy), b = gdal.pixel(x, y);
            sum += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            ++m.pixels;
        }
    }
    m.difference = m.pixels ? sum / (3.0 * m.pixels) : 1e9;
    return m;
}

class TilesFromGdal : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        const fs::path d = dir_->path(), log = d / "gdal.log";
        mbtiles_ = (d / "coast.mbtiles").string();
        xyz_ = (d / "coast").string();
        ready_ =
            run("gzip -dc '" BEARFIX_SOURCE_DIR "/tests/data/N57E011.hgt.gz' > '" + (d / "N57E011.hgt").string() + "'",
                log) &&
            run("cd '" + d.string() + "' && gdaldem hillshade -q -z 5 -s 111120 -compute_edges N57E011.hgt hs.tif", log);
        // One file per zoom level, each warped to that level's pixel size on
        // its pixel grid, so that GDAL takes the tiles as they are. (The
        // overviews gdaladdo makes do not keep to the tile grid exactly.)
        for (int z = 10; ready_ && z <= 14; ++z) {
            const std::string size = number(2 * 20037508.342789244 / (256 << z)), name = "z" + std::to_string(z);
            ready_ = run("cd '" + d.string() + "' && gdalwarp -q -t_srs EPSG:3857 -r near -tr " + size + " " + size +
                             " -tap -te_srs EPSG:4326 -te 11.75 57.80 11.95 57.95 hs.tif " + name + ".tif && " +
                             "gdal_translate -q -of MBTILES " + name + ".tif " + name + ".mbtiles",
                         log);
        }
        ready_ = ready_ && mergeLevels() && exportTiles();
        if (!ready_) {
            std::ifstream in(log);
            why_ = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // All levels in one file: zoom 14's with the rows of the others.
    static bool mergeLevels() {
        const fs::path d = dir_->path();
        fs::copy_file(d / "z14.mbtiles", mbtiles_);
        sqlite3* db = nullptr;
        bool ok = sqlite3_open(mbtiles_.c_str(), &db) == SQLITE_OK;
        for (int z = 10; ok && z < 14; ++z) {
            const std::string level = (d / ("z" + std::to_string(z) + ".mbtiles")).string();
            const std::string sql = "ATTACH '" + level + "' AS level; INSERT INTO tiles SELECT * FROM level.tiles; "
                                    "DETACH level; UPDATE metadata SET value='10' WHERE name='minzoom';";
            ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        }
        sqlite3_close(db);
        return ok;
    }

    // The rows of the MBTiles file as {z}/{x}/{y}.png files.
    static bool exportTiles() {
        sqlite3* db = nullptr;
        sqlite3_stmt* rows = nullptr;
        bool ok = sqlite3_open_v2(mbtiles_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
                  sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1, &rows,
                                     nullptr) == SQLITE_OK;
        int count = 0;
        while (ok && sqlite3_step(rows) == SQLITE_ROW) {
            const int z = sqlite3_column_int(rows, 0), x = sqlite3_column_int(rows, 1);
            const int y = (1 << z) - 1 - sqlite3_column_int(rows, 2);
            const fs::path folder = fs::path(xyz_) / std::to_string(z) / std::to_string(x);
            fs::create_directories(folder);
            std::ofstream out(folder / (std::to_string(y) + ".png"), std::ios::binary);
            out.write(static_cast<const char*>(sqlite3_column_blob(rows, 3)), sqlite3_column_bytes(rows, 3));
            ok = static_cast<bool>(out);
            ++count;
        }
        sqlite3_finalize(rows);
        sqlite3_close(db);
        return ok && count > 100;
    }

    // GDAL's warp of the tiles of `zoom` to the view the composer drew last.
    static QImage gdalView(const MapView& v, int zoom, const std::string& name) {
        constexpr double deg = 180 / std::numbers::pi;
        std::string target;
        if (v.projection == kAzimuthal) {
            const double metres = kEarthRadiusKm * 1000 / v.scale, x = v.width / 2 * metres, y = v.height / 2 * metres;
            target = "-t_srs '+proj=aeqd +lat_0=" + number(v.center.lat * deg) + " +lon_0=" + number(v.center.lon * deg) +
                     " +R=6371000 +units=m +no_defs' -te " + number(-x) + " " + number(-y) + " " + number(x) + " " +
                     number(y);
        } else {
            target = "-t_srs EPSG:4326 -te " + number(v.lon_min * deg) + " " + number(v.lat_min * deg) + " " +
                     number(v.lon_max * deg) + " " + number(v.lat_max * deg);
        }
        const fs::path d = dir_->path();
        const std::string tif = (d / (name + ".tif")).string(), png = (d / (name + ".png")).string();
        const std::string level = (d / ("z" + std::to_string(zoom) + ".mbtiles")).string();
        const bool ok = run("gdalwarp -q -overwrite -r bilinear " + target + " -ts " + std::to_string(kWidth) + " " +
                                std::to_string(kHeight) + " '" + level + "' '" + tif + "'",
                            d / "gdal.log") &&
                        run("gdal_translate -q -of PNG '" + tif + "' '" + png + "'", d / "gdal.log");
        return ok ? QImage(QString::fromStdString(png)).convertToFormat(QImage::Format_ARGB32) : QImage();
    }

    static inline TempDir* dir_ = nullptr;
    static inline std::string mbtiles_, xyz_, why_;
    static inline bool ready_ = false;
};

TEST_F(TilesFromGdal, TilePixelsLieWhereGdalWarpsThem) {
    ASSERT_TRUE(ready_) << why_;
    for (int projection : {kCylindric, kAzimuthal}) {
        for (int zoom = 10; zoom <= 14; ++zoom) {
            // Between levels, so that the tiles are scaled too.
            const double range = rangeForZoom(zoom + 0.3);
            MapComposer fromFile, fromFolder;
            const QImage file = render(fromFile, tilesOnly(mbtiles_, range, projection));
            const QImage folder = render(fromFolder, tilesOnly(xyz_, range, projection));
            EXPECT_EQ(fromFile.tiles().zoom(), zoom);
            EXPECT_EQ(file, folder) << "the same tiles, from a file or a folder";
            const QImage gdal = gdalView(fromFile.view(), zoom, "view" + std::to_string(projection) + std::to_string(zoom));
            ASSERT_FALSE(gdal.isNull());

            const Match here = compare(file, gdal, 0, 0);
            ASSERT_GT(here.pixels, 5000) << "the tiles cover a good part of the view";
            int bestX = 0, bestY = 0;
            double best = here.difference;
            for (int dy = -2; dy <= 2; ++dy) {
                for (int dx = -2; dx <= 2; ++dx) {
                    const double d = compare(file, gdal, dx, dy).difference;
                    if (d < best) best = d, bestX = dx, bestY = dy;
                }
            }
            // Measured: at most 1.05 (GDAL and this program interpolate a little differently).
            EXPECT_LT(here.difference, 2.0) << "projection " << projection << ", zoom " << zoom;
            EXPECT_EQ(bestX, 0) << "projection " << projection << ", zoom " << zoom;
            EXPECT_EQ(bestY, 0) << "projection " << projection << ", zoom " << zoom;
        }
    }
}

TEST_F(TilesFromGdal, AMissingTileIsFilledFromALowerLevel) {
    ASSERT_TRUE(ready_) << why_;
    // Every third tile of zoom 14 gone from a copy of the folder.
    const fs::path holes = dir_->path() / "holes";
    fs::copy(xyz_, holes, fs::copy_options::recursive);
    int removed = 0, index = 0;
    for (const auto& entry : fs::recursive_directory_iterator(holes / "14"))
        if (entry.is_regular_file() && index++ % 3 == 0) removed += fs::remove(entry.path());
    ASSERT_GT(removed, 20);

    MapComposer composer;
    const QImage image = render(composer, tilesOnly(holes.string(), rangeForZoom(14.3), kCylindric));
    const QImage gdal = gdalView(composer.view(), 14, "holes");
    long blank = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) blank += qAlpha(gdal.pixel(x, y)) == 255 && image.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_EQ(blank, 0) << "every place with data shows tiles";
    // Zoom 13 scaled up stands in: close, though not as close as zoom 14 (0.1).
    EXPECT_LT(compare(image, gdal, 0, 0).difference, 6.0);
}

TEST_F(TilesFromGdal, TilesReadInTheBackgroundCompleteThePicture) {
    ASSERT_TRUE(ready_) << why_;
    MapView view;
    map_view_setup(view, kAzimuthal, kLon * std::numbers::pi / 180, kLat * std::numbers::pi / 180,
                   rangeForZoom(12.3), kWidth, kHeight);
    QImage waited(kWidth, kHeight, QImage::Format_RGB32);
    waited.fill(Qt::white);
    TileLayer reader;
    reader.draw(waited, view, mbtiles_, 60);

    TileLayer layer;
    layer.setAsynchronous(true);
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    layer.draw(image, view, mbtiles_, 60);
    const QImage white = image;
    EXPECT_TRUE(layer.loading()) << "the drawing returns before the tiles are read";
    for (int round = 0; round < 50 && layer.loading(); ++round) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return layer.arrived(); }, 10000));
        image.fill(Qt::white);
        layer.draw(image, view, mbtiles_, 60);
    }
    EXPECT_FALSE(layer.loading());
    EXPECT_NE(white, waited);
    EXPECT_EQ(image, waited) << "the same picture as a drawing that waited";
}

// A file of the given SQL, made with SQLite.
std::string database(const fs::path& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok ? path.string() : std::string();
}

std::string pngOf(QColor colour) {
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    tile.save(&buffer, "PNG");
    std::string hex;
    for (unsigned char c : bytes) hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
    return "X'" + hex + "'";
}

TEST_F(TilesFromGdal, AFileThatCannotBeReadGivesOneErrorLineAndTheMap) {
    ASSERT_TRUE(ready_) << why_;
    const fs::path d = dir_->path();
    std::string bytes;
    {
        std::ifstream in(mbtiles_, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string schema = "CREATE TABLE metadata (name text, value text); CREATE TABLE tiles (zoom_level integer, "
                               "tile_column integer, tile_row integer, tile_data blob);";
    // The tile in the middle of the view at zoom 10 is (545, 308); TMS rows count from the south.
    const std::string green = pngOf(QColor(0, 200, 0));
    struct Case {
        const char* what;
        std::string path;
        const char* says;
        bool greenTile;  // a good tile beside the bad one still shows
    } cases[] = {
        {"truncated", dir_->write("truncated.mbtiles", bytes.substr(0, bytes.size() * 2 / 5)), "malformed", false},
        {"wrong schema", database(d / "schema.mbtiles", "CREATE TABLE tiles (z, x, y, image);"), "no such column", false},
        {"no tiles table", database(d / "notable.mbtiles", "CREATE TABLE metadata (name, value);"), "no such table", false},
        {"not SQLite", dir_->write("text.mbtiles", std::string(5000, 'x')), "no MBTiles", false},
        {"no file", (d / "nowhere.mbtiles").string(), "No such file", false},
        {"vector tiles", database(d / "pbf.mbtiles", schema + "INSERT INTO metadata VALUES ('format', 'pbf');"), "pbf",
         false},
        {"undecodable tile",
         database(d / "badtile.mbtiles", schema + "INSERT INTO tiles VALUES (10, 545, 715, X'89504E470D0A1A0A0000');" +
                                             "INSERT INTO tiles VALUES (10, 544, 715, " + green + ");"),
         "545/308", true},
        {"tile over 1 MB",
         database(d / "large.mbtiles", schema + "INSERT INTO tiles VALUES (10, 545, 715, zeroblob(1100000));" +
                                           "INSERT INTO tiles VALUES (10, 544, 715, " + green + ");"),
         "larger than 1 MB", true},
        {"view without end",
         database(d / "endless.mbtiles", "CREATE VIEW tiles AS WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                          "FROM r) SELECT 10 AS zoom_level, 545 AS tile_column, 715 AS tile_row, "
                                          "NULL AS tile_data FROM r WHERE i = 0;"),
         "too long", false},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.path.empty()) << c.what;
        std::vector<std::string> errors;
        setMessageSink([&](MessageLevel level, const std::string& text) {
            if (level == MessageLevel::Error) errors.push_back(text);
        });
        MapComposer composer;
        composer.setMapDataDirectory(BEARFIX_SOURCE_DIR "/map_data");
        MapSettings s = tilesOnly(c.path, rangeForZoom(10.3), kCylindric);
        s.showCoasts = true;
        QImage image;
        for (int redraw = 0; redraw < 2; ++redraw) image = render(composer, s);
        setMessageSink({});
        ASSERT_EQ(errors.size(), 1u) << c.what;
        EXPECT_EQ(errors[0].rfind("Error: ", 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find(c.says), std::string::npos) << c.what << ": " << errors[0];
        long coast = 0, tile = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const QRgb p = image.pixel(x, y);  // the coastline, black and its grey edges
                coast += qRed(p) == qGreen(p) && qGreen(p) == qBlue(p) && qRed(p) < 200;
                tile += image.pixel(x, y) == qRgb(0, 200, 0);
            }
        }
        EXPECT_GT(coast, 50) << c.what << ": the map is drawn";
        EXPECT_EQ(tile > 1000, c.greenTile) << c.what;
    }

    // The missing file put in place: drawn from the next redraw on.
    MapComposer composer;
    const MapSettings s = tilesOnly((d / "nowhere.mbtiles").string(), rangeForZoom(10.3), kCylindric);
    render(composer, s);
    EXPECT_EQ(composer.tiles().zoom(), -1);
    fs::copy_file(mbtiles_, d / "nowhere.mbtiles");
    render(composer, s);
    EXPECT_EQ(composer.tiles().zoom(), 10);
}

TEST(Tiles, NoneNorthOrSouthOfWebMercatorsSquare) {
    TempDir dir;
    fs::create_directories(dir.path() / "0" / "0");
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(QColor(0, 0, 200));
    ASSERT_TRUE(tile.save(QString::fromStdString((dir.path() / "0" / "0" / "0.png").string())));
    const double limit = std::atan(std::sinh(std::numbers::pi)) * 180 / std::numbers::pi;  // 85.0511 degrees
    for (int projection : {kCylindric, kAzimuthal}) {
        MapComposer composer;
        MapSettings s = tilesOnly(dir.path().string(), 2500, projection);
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        GeoPosition centre{0.3, 80 * std::numbers::pi / 180};
        composer.drawBaseMap(image, s, centre);
        int wrong = 0, checked = 0;
        for (int y = 0; y < kHeight; y += 3) {
            for (int x = 0; x < kWidth; x += 3) {
                double lon, lat;
                if (!screen_to_geo(composer.view(), x, y, &lon, &lat)) continue;
                if (projection == kCylindric) lat = composer.view().lat_max - (y + 0.5) / kHeight *
                                                        (composer.view().lat_max - composer.view().lat_min);
                lat *= 180 / std::numbers::pi;
                if (std::fabs(std::fabs(lat) - limit) < 0.3) continue;  // the edge's own pixels
                const bool blue = image.pixel(x, y) == qRgb(0, 0, 200);
                wrong += blue != (std::fabs(lat) < limit);
                ++checked;
            }
        }
        EXPECT_GT(checked, 10000);
        EXPECT_EQ(wrong, 0) << "projection " << projection;
    }
}

// Tiles switched off while they are read: the window polls `arrived` to
// redraw the map, so it must go quiet, not stay set for ever.
TEST(Tiles, SwitchedOffWhileReadingNothingMoreAsksForARedraw) {
    testing::TempDir dir;
    for (int z = 0; z <= 3; ++z) {
        for (int x = 0; x < (1 << z); ++x) {
            std::filesystem::create_directories(dir.path() / std::to_string(z) / std::to_string(x));
            for (int y = 0; y < (1 << z); ++y) {
                QImage t(256, 256, QImage::Format_RGB32);
                t.fill(Qt::red);
                const auto file = dir.path() / std::to_string(z) / std::to_string(x) / (std::to_string(y) + ".png");
                ASSERT_TRUE(t.save(QString::fromStdString(file.string()), "PNG"));
            }
        }
    }
    MapView view;
    map_view_setup(view, kCylindric, 0.2, 0.8, 3000, 600, 400);
    TileLayer layer;
    layer.setAsynchronous(true);
    QImage image(600, 400, QImage::Format_RGB32);
    layer.draw(image, view, dir.path().string(), 60);
    ASSERT_TRUE(QTest::qWaitFor([&] { return layer.arrived(); }, 10000));
    for (const auto& [path, opacity] : {std::pair{dir.path().string(), 0}, std::pair{std::string(), 60}}) {
        layer.draw(image, view, path, opacity);
        // Tiles being read when it stopped still come in, each taken by the next drawing.
        for (int round = 0; round < 10 && layer.loading(); ++round) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return layer.arrived() || !layer.loading(); }, 10000));
            layer.draw(image, view, path, opacity);
        }
        EXPECT_FALSE(layer.loading()) << "the reading stops";
        EXPECT_FALSE(layer.arrived()) << "opacity " << opacity << ", path '" << path << "'";
        EXPECT_EQ(layer.zoom(), -1);
        layer.draw(image, view, dir.path().string(), 60);  // on again for the next case
        ASSERT_TRUE(QTest::qWaitFor([&] { return layer.arrived() || !layer.loading(); }, 10000));
    }
}

TEST(Tiles, TheCacheKeepsTheMostRecentlyUsedWithinItsBound) {
    TileCache cache(1);  // 1 MB: three pictures of 256 x 256 x 4 bytes, not four
    const QImage picture(256, 256, QImage::Format_ARGB32_Premultiplied);
    cache.put({1, 0, 0}, picture);
    cache.put({1, 1, 0}, picture);
    cache.put({1, 0, 1}, picture);
    ASSERT_NE(cache.find({1, 0, 0}), nullptr);  // now the most recent
    cache.put({1, 1, 1}, picture);
    EXPECT_EQ(cache.find({1, 1, 0}), nullptr) << "the least recently used went";
    for (TileKey kept : {TileKey{1, 0, 0}, TileKey{1, 0, 1}, TileKey{1, 1, 1}}) EXPECT_NE(cache.find(kept), nullptr);
    EXPECT_LE(cache.bytes(), std::size_t{1} << 20);
    cache.put({2, 3, 3}, QImage());  // a tile the source lacks costs next to nothing
    EXPECT_EQ(cache.size(), 4u);
}

}  // namespace
}  // namespace bearfix
