#include "map/tile_layer.h"

#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <tuple>

#include "geo/great_circle.h"
#include "map/tile_image.h"
#include "map/topography.h"
#include "support/cp1252.h"
#include "support/message_log.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kDrawZoomLimit = 22;  // texel coordinates stay within 2^30
constexpr int kFallbackLevels = 8;  // a tile is filled from at most this many levels lower
constexpr int kMaxTilesPerView = 400;
constexpr int kWorkers = 2;
// Web Mercator ends where its square ends: 85.0511 degrees.
const double kMercatorLimit = std::atan(std::sinh(kPi));

int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// When and how large a file (or folder) was last changed; empty when there is none.
std::string stampOf(const std::string& path) {
    std::error_code ec;
    const auto time = std::filesystem::last_write_time(path, ec);
    if (ec) return {};
    const auto size = std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path, ec) : 0;
    return std::to_string(time.time_since_epoch().count()) + "/" + std::to_string(size);
}

// North..south of the Mercator square as 0..1.
double mercatorY(double lat) { return 0.5 - std::asinh(std::tan(lat)) / (2 * kPi); }

// The zoom level at which a tile's pixel is as large as the view's at its centre.
double zoomOf(const MapView& v) {
    const double pixelsPerRadian = v.height / (2.0 * v.range_km / kEarthRadiusKm);
    return std::log2(2 * kPi * pixelsPerRadian * std::cos(v.center.lat) / kTilePixels);
}

// a + (b - a) t / 256 for each byte of two premultiplied pixels; t 0..256.
inline uint32_t mix(uint32_t a, uint32_t b, uint32_t t) {
    const uint32_t s = 256 - t;
    const uint32_t rb = (((a & 0x00FF00FF) * s + (b & 0x00FF00FF) * t) >> 8) & 0x00FF00FF;
    const uint32_t ag = (((a >> 8) & 0x00FF00FF) * s + ((b >> 8) & 0x00FF00FF) * t) & 0xFF00FF00;
    return rb | ag;
}

// Each byte times t / 256; t 0..256.
inline uint32_t scaled(uint32_t a, uint32_t t) {
    return ((((a & 0x00FF00FF) * t) >> 8) & 0x00FF00FF) | ((((a >> 8) & 0x00FF00FF) * t) & 0xFF00FF00);
}

// A premultiplied pixel, already faded, over an opaque one.
inline uint32_t over(uint32_t source, uint32_t destination) {
    const uint32_t alpha = source >> 24;
    if (alpha == 255) return source;
    const uint32_t keep = 255 - alpha;
    return (source + scaled(destination, keep + (keep >> 7))) | 0xFF000000;
}

}  // namespace

// ---- reading in the background ----------------------------------------------

struct TileLayer::Loader {
    struct Result {
        TileKey key;
        TileRead status = TileRead::Missing;
        QImage picture;
        std::string reason;
        uint64_t generation = 0;
    };

    std::mutex mutex;
    std::condition_variable idle;
    std::deque<TileKey> queue;
    std::vector<TileKey> reading;
    std::vector<Result> arrivals;
    std::shared_ptr<TileSource> source;
    uint64_t generation = 0;
    int workers = 0;
    std::atomic<bool> arrived{false};
    QThreadPool pool;

    Loader() { pool.setMaxThreadCount(kWorkers); }
    ~Loader() {
        {
            std::lock_guard lock(mutex);
            queue.clear();
        }
        pool.waitForDone();
    }

    // Replaces what waits to be read; tiles being read are not asked for twice.
    void ask(const std::vector<TileKey>& keys) {
        std::lock_guard lock(mutex);
        queue.clear();
        for (const TileKey& key : keys)
            if (std::find(reading.begin(), reading.end(), key) == reading.end()) queue.push_back(key);
        while (workers < kWorkers && workers < static_cast<int>(queue.size())) {
            ++workers;
            pool.start([this] { work(); });
        }
    }

    void waitUntilIdle() {
        std::unique_lock lock(mutex);
        idle.wait(lock, [this] { return workers == 0; });
    }

    void work() {
        for (;;) {
            Result result;
            std::shared_ptr<TileSource> from;
            {
                std::lock_guard lock(mutex);
                if (queue.empty() || !source) {
                    --workers;
                    idle.notify_all();
                    return;
                }
                result.key = queue.front();
                queue.pop_front();
                reading.push_back(result.key);
                from = source;
                result.generation = generation;
            }
            std::string bytes;
            result.status = from->read(result.key, bytes, &result.reason);
            if (result.status == TileRead::Found && !decodeTile(bytes, result.picture, &result.reason))
                result.status = TileRead::BadTile;
            {
                std::lock_guard lock(mutex);
                reading.erase(std::find(reading.begin(), reading.end(), result.key));
                arrivals.push_back(std::move(result));
                arrived = true;  // under the lock, or a taking in between leaves it set for nothing
            }
        }
    }
};

TileLayer::TileLayer() : loader_(std::make_unique<Loader>()), offsets_(std::make_unique<Offsets>()) {}

TileLayer::~TileLayer() = default;

bool TileLayer::arrived() const { return loader_->arrived.load(); }

bool TileLayer::loading() const {
    std::lock_guard lock(loader_->mutex);
    return !loader_->queue.empty() || !loader_->reading.empty() || !loader_->arrivals.empty();
}

void TileLayer::openSource(const std::string& path) {
    {
        std::lock_guard lock(loader_->mutex);
        loader_->queue.clear();
        loader_->source.reset();
        ++loader_->generation;
    }
    loader_->waitUntilIdle();
    loader_->arrivals.clear();
    cache_.clear();
    path_ = path;
    stamp_ = stampOf(path);
    broken_ = badTileSaid_ = false;
    std::string reason;
    source_ = TileSource::open(path, &reason);
    if (!source_) {
        broken_ = true;
        logMessage(MessageLevel::Error, "Error: Cannot use the tiles %s: %s; the map is drawn without them",
                   fileNameText(path).c_str(), reason.c_str());
        return;
    }
    logMessage(MessageLevel::Debug, "Debug: Tiles %s: zoom levels %d to %d", fileNameText(path).c_str(),
               source_->minZoom(), source_->maxZoom());
    std::lock_guard lock(loader_->mutex);
    loader_->source = source_;
}

// Moves what the workers delivered into the cache; says what went wrong.
void TileLayer::takeArrivals() {
    std::vector<Loader::Result> arrivals;
    {
        std::lock_guard lock(loader_->mutex);
        loader_->arrived = false;
        arrivals.swap(loader_->arrivals);
    }
    for (Loader::Result& r : arrivals) {
        if (r.generation != loader_->generation || broken_) continue;
        switch (r.status) {
            case TileRead::Found:
                cache_.put(r.key, r.picture);
                break;
            case TileRead::Missing:
                cache_.put(r.key, QImage());
                break;
            case TileRead::BadTile:
                cache_.put(r.key, QImage());
                logMessage(badTileSaid_ ? MessageLevel::Debug : MessageLevel::Error,
                           "%sTile %d/%d/%d of %s is left out: %s", badTileSaid_ ? "Debug: " : "Error: ", r.key.z,
                           r.key.x, r.key.y, fileNameText(path_).c_str(), r.reason.c_str());
                badTileSaid_ = true;
                break;
            case TileRead::Broken:
                broken_ = true;
                cache_.clear();
                logMessage(MessageLevel::Error, "Error: Cannot read the tiles %s: %s; the map is drawn without them",
                           fileNameText(path_).c_str(), r.reason.c_str());
                break;
        }
    }
}

void TileLayer::load(const std::vector<TileKey>& keys) {
    loader_->ask(keys);
    if (asynchronous_) return;
    loader_->waitUntilIdle();
    takeArrivals();
}

// ---- where the view's pixels lie in the tiles ---------------------------------

// The azimuthal view's pixel centres as offsets from its centre in the
// Mercator square, NaN where there is no tile; kept for redraws of the same
// view, which the tiles arriving one by one ask for.
struct TileLayer::Offsets {
    MapView view;
    int z = -1;
    std::vector<float> dx, dy;
    double originX = 0, originY = 0;
    double minX = 0, maxX = -1, minY = 0, maxY = -1;

    bool holds(const MapView& v, int zoom) const {
        return z == zoom && v.center.lon == view.center.lon && v.center.lat == view.center.lat &&
               v.range_km == view.range_km && v.width == view.width && v.height == view.height;
    }
};

// Positions are in pixels of the whole Mercator square at zoom z (256 * 2^z
// wide), continuous: a pixel's centre at (i + 0.5).
struct TileLayer::Grid {
    int z = 0;
    int64_t world = kTilePixels;  // the square's width in pixels
    bool azimuthal = false;
    int width = 0, height = 0;
    std::vector<double> columnX, rowY;  // cylindric; a row beyond the square is NaN
    double originX = 0, originY = 0;  // azimuthal: positions are offsets from here, times `scale`
    const Offsets* offsets = nullptr;
    double scale = 1;
    double minX = 0, maxX = -1, minY = 0, maxY = -1;

    // The tiles: columns firstColumn.. (all of them, modulo 2^z, when `wraps`), rows firstRow..
    int64_t firstColumn = 0, firstRow = 0;
    int columns = 0, rows = 0;
    bool wraps = false;
    std::vector<QImage> tiles;  // row by row
    std::vector<const uint32_t*> bits;

    bool empty() const { return !(maxX >= minX && maxY >= minY); }
    void place(const MapView& view, Offsets& store);

    void lower() {
        --z;
        world /= 2;
        for (double& v : columnX) v *= 0.5;
        for (double& v : rowY) v *= 0.5;
        originX *= 0.5;
        originY *= 0.5;
        scale *= 0.5;
        minX *= 0.5, maxX *= 0.5, minY *= 0.5, maxY *= 0.5;
        box();
    }

    // The tiles that the texels around the positions lie in.
    void box() {
        const int64_t n = world / kTilePixels;
        const int64_t left = floorDiv(static_cast<int64_t>(std::floor(minX - 0.5)), kTilePixels);
        const int64_t right = floorDiv(static_cast<int64_t>(std::floor(maxX - 0.5)) + 1, kTilePixels);
        const int64_t top = std::clamp<int64_t>(static_cast<int64_t>(std::floor(minY - 0.5)), 0, world - 1);
        const int64_t bottom = std::clamp<int64_t>(static_cast<int64_t>(std::floor(maxY - 0.5)) + 1, 0, world - 1);
        wraps = right - left + 1 >= n;
        firstColumn = wraps ? 0 : left;
        columns = static_cast<int>(wraps ? n : right - left + 1);
        firstRow = top / kTilePixels;
        rows = static_cast<int>(bottom / kTilePixels - firstRow + 1);
    }

    // The slot column of a tile column (any integer), -1 outside the grid.
    int slotColumn(int64_t column) const {
        if (wraps) return static_cast<int>(column - floorDiv(column, columns) * columns);
        const int64_t c = column - firstColumn;
        return c >= 0 && c < columns ? static_cast<int>(c) : -1;
    }

    TileKey key(int slot) const {
        const int64_t n = world / kTilePixels;
        const int64_t column = firstColumn + slot % columns;
        return {z, static_cast<int32_t>(column - floorDiv(column, n) * n),
                static_cast<int32_t>(firstRow + slot / columns)};
    }
};

// More than a view can hold: beyond the limit, or so many that the cache
// would push out the view's own tiles while they arrive.
bool TileLayer::tooManyTiles(const Grid& grid) const {
    const long fit = static_cast<long>(cache_.limitBytes() / (2 * 4 * kTilePixels * kTilePixels));
    return static_cast<long>(grid.columns) * grid.rows > std::min<long>(kMaxTilesPerView, fit);
}

// The view's pixel centres in the Mercator square of zoom z.
void TileLayer::Grid::place(const MapView& view, Offsets& store) {
    const double world = std::ldexp(kTilePixels, z);
    minX = minY = INFINITY;
    maxX = maxY = -INFINITY;
    if (!azimuthal) {
        columnX.resize(static_cast<std::size_t>(width));
        rowY.resize(static_cast<std::size_t>(height));
        const double lonStep = (view.lon_max - view.lon_min) / width, latStep = (view.lat_max - view.lat_min) / height;
        for (int x = 0; x < width; ++x)
            columnX[static_cast<std::size_t>(x)] = (view.lon_min + (x + 0.5) * lonStep + kPi) / (2 * kPi) * world;
        minX = columnX.front();
        maxX = columnX.back();
        for (int y = 0; y < height; ++y) {
            const double lat = view.lat_max - (y + 0.5) * latStep;
            double& v = rowY[static_cast<std::size_t>(y)];
            v = std::fabs(lat) <= kMercatorLimit ? mercatorY(lat) * world : NAN;
            if (std::isnan(v)) continue;
            minY = std::min(minY, v);
            maxY = std::max(maxY, v);
        }
        return;
    }

    if (!store.holds(view, z)) placeAzimuthal(view, z, store);
    offsets = &store;
    originX = store.originX, originY = store.originY;
    minX = store.minX, maxX = store.maxX, minY = store.minY, maxY = store.maxY;
}

void TileLayer::placeAzimuthal(const MapView& view, int z, Offsets& store) {
    const int width = static_cast<int>(view.width), height = static_cast<int>(view.height);
    const double world = std::ldexp(kTilePixels, z);
    store.z = -1;
    store.minX = store.minY = INFINITY;
    store.maxX = store.maxY = -INFINITY;
    // Mercator y by a table over the latitudes the view can show, fine
    // enough to stay within a hundredth of a pixel.
    const double reach = std::min(kPi, std::hypot(width, height) / 2 / view.scale + 1e-6);
    const double south = std::max(-kMercatorLimit, view.center.lat - reach);
    const double north = std::min(kMercatorLimit, view.center.lat + reach);
    std::vector<double> table;
    double tableStep = 1;
    if (north > south) {
        const double poleward = std::max(std::fabs(south), std::fabs(north));
        const double bend = 1 / std::cos(poleward) * std::tan(poleward) / (2 * kPi);  // |d2y/dlat2|
        const double step = std::sqrt(8 * (0.01 / world) / std::max(bend, 1e-3));
        const int entries = static_cast<int>(std::clamp(std::ceil((north - south) / step), 2.0, double(1 << 20)));
        tableStep = (north - south) / entries;
        table.resize(static_cast<std::size_t>(entries) + 2);
        for (int i = 0; i <= entries + 1; ++i) table[static_cast<std::size_t>(i)] = mercatorY(south + i * tableStep);
    }

    store.originX = (view.center.lon + kPi) / (2 * kPi) * world;
    store.originY = mercatorY(std::clamp(view.center.lat, -kMercatorLimit, kMercatorLimit)) * world;
    store.dx.assign(static_cast<std::size_t>(width) * height, NAN);
    store.dy.assign(static_cast<std::size_t>(width) * height, NAN);
    if (table.empty()) return;
    // The positions of the pixels' centres.
    MapView centres = view;
    centres.center_x -= 0.5;
    centres.center_y -= 0.5;
    constexpr double deg = kPi / 180;
    const double limitDeg = kMercatorLimit / deg, lon0 = view.center.lon / deg, originY = store.originY;
    double lowX = INFINITY, highX = -INFINITY, lowY = INFINITY, highY = -INFINITY;
    azimuthalPixelRows(centres, width, height, [&](int y, const double* lat, const double* lon) {
        float* lineX = store.dx.data() + static_cast<std::size_t>(y) * width;
        float* lineY = store.dy.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            if (!(std::fabs(lat[x]) <= limitDeg)) continue;
            const double t = (lat[x] * deg - south) / tableStep;
            const int i = std::clamp(static_cast<int>(t), 0, static_cast<int>(table.size()) - 2);
            const double f = t - i;
            const double my = (table[static_cast<std::size_t>(i)] * (1 - f) + table[static_cast<std::size_t>(i) + 1] * f) *
                                  world - originY;
            double mx = (lon[x] - lon0) / 360 * world;
            mx -= world * std::round(mx / world);
            lineX[x] = static_cast<float>(mx);
            lineY[x] = static_cast<float>(my);
            lowX = std::min(lowX, mx), highX = std::max(highX, mx);
            lowY = std::min(lowY, my), highY = std::max(highY, my);
        }
    });
    store.view = view;
    store.z = z;
    if (lowX > highX) return;
    store.minX = store.originX + lowX, store.maxX = store.originX + highX;
    store.minY = store.originY + lowY, store.maxY = store.originY + highY;
}

// ---- drawing --------------------------------------------------------------------

void TileLayer::draw(QImage& bitmap, const MapView& view, const std::string& path, int opacity) {
    zoom_ = -1;
    if (path.empty() || opacity <= 0 || bitmap.width() < 1 || bitmap.height() < 1) {
        // Tiles off: nothing more is read, and what came in asks for no redraw.
        loader_->ask({});
        takeArrivals();
        return;
    }
    // A file put in place or replaced since it was opened is opened anew.
    if (path != path_ || stampOf(path) != stamp_) openSource(path);
    takeArrivals();
    if (broken_ || !source_) return;

    const double wanted = zoomOf(view);
    const int top = std::min(source_->maxZoom(), kDrawZoomLimit);
    int z = std::isfinite(wanted) ? static_cast<int>(std::clamp(std::lround(wanted), 0L, long{top})) : 0;
    z = std::max(z, source_->minZoom());
    if (z > top) return;

    Grid grid;
    grid.z = z;
    grid.world = int64_t{kTilePixels} << z;
    grid.width = bitmap.width();
    grid.height = bitmap.height();
    grid.azimuthal = view.projection == kAzimuthal;
    grid.place(view, *offsets_);
    if (grid.empty()) return;
    grid.box();
    // Zoomed far out from what the tiles hold: fewer, coarser tiles, or none.
    while (tooManyTiles(grid) && grid.z > source_->minZoom()) grid.lower();
    if (tooManyTiles(grid)) {
        logMessage(MessageLevel::Debug, "Debug: The view needs too many tiles at zoom level %d; none drawn", grid.z);
        return;
    }

    std::vector<TileKey> missing;
    pictures(grid, missing);
    if (!asynchronous_) {
        // Each round reads the next lower level of the tiles still missing.
        for (int round = 0; round <= kFallbackLevels && !missing.empty() && !broken_; ++round) {
            load(missing);
            missing.clear();
            pictures(grid, missing);
        }
        if (broken_) return;
    } else {
        load(missing);
    }
    zoom_ = grid.z;
    render(bitmap, grid, opacity);
}

void TileLayer::pictures(Grid& grid, std::vector<TileKey>& wanted) {
    const int count = grid.columns * grid.rows;
    grid.tiles.assign(static_cast<std::size_t>(count), QImage());
    grid.bits.assign(static_cast<std::size_t>(count) + 1, nullptr);  // the last: outside the grid
    const int lowest = std::max(source_->minZoom(), grid.z - kFallbackLevels);
    for (int slot = 0; slot < count; ++slot) {
        const TileKey key = grid.key(slot);
        for (int level = key.z; level >= lowest; --level) {
            const int k = key.z - level;
            const TileKey from{level, key.x >> k, key.y >> k};
            const QImage* cached = cache_.find(from);
            if (!cached) {
                wanted.push_back(from);
                if (k == 0 && asynchronous_) continue;  // meanwhile a lower level may stand in
                break;
            }
            if (cached->isNull()) continue;  // the source lacks it
            QImage picture = *cached;
            if (k > 0) {
                const int size = kTilePixels >> k, mask = (1 << k) - 1;
                picture = picture.copy((key.x & mask) * size, (key.y & mask) * size, size, size)
                              .scaled(kTilePixels, kTilePixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            }
            grid.tiles[static_cast<std::size_t>(slot)] = picture;
            grid.bits[static_cast<std::size_t>(slot)] = reinterpret_cast<const uint32_t*>(
                grid.tiles[static_cast<std::size_t>(slot)].constBits());
            break;
        }
    }
    // Lower levels first (a few tiles that stand in for many), then from the middle out.
    std::sort(wanted.begin(), wanted.end(), [](const TileKey& a, const TileKey& b) {
        return std::tie(a.z, a.x, a.y) < std::tie(b.z, b.x, b.y);
    });
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    const TileKey middle = grid.key(grid.rows / 2 * grid.columns + grid.columns / 2);
    auto order = [&](const TileKey& t) {
        const int k = middle.z - t.z;
        return std::pair(t.z, std::abs(t.x - (middle.x >> k)) + std::abs(t.y - (middle.y >> k)));
    };
    std::stable_sort(wanted.begin(), wanted.end(), [&](const TileKey& a, const TileKey& b) { return order(a) < order(b); });
}

void TileLayer::render(QImage& bitmap, const Grid& grid, int opacity) const {
    if (bitmap.format() != QImage::Format_RGB32 && bitmap.format() != QImage::Format_ARGB32)
        bitmap = bitmap.convertToFormat(QImage::Format_RGB32);
    const uint32_t fade = static_cast<uint32_t>(std::clamp(opacity, 0, 100) * 256 / 100);
    const int w = grid.width, h = grid.height;
    const int outside = grid.columns * grid.rows;  // the slot without a picture
    const int64_t last = grid.world - 1;
    auto slotOf = [&](int64_t column, int64_t row) {
        const int c = grid.slotColumn(column);
        const int64_t r = row - grid.firstRow;
        return c < 0 || r < 0 || r >= grid.rows ? outside : static_cast<int>(r) * grid.columns + c;
    };
    auto put = [fade](uint32_t* pixel, uint32_t texel) {
        if (texel == 0) return;
        *pixel = over(fade >= 256 ? texel : scaled(texel, fade), *pixel);
    };

    if (!grid.azimuthal) {
        // The two texel columns of each pixel column: their slot columns,
        // their place within the tile and the weight of the second.
        struct Column {
            int slot0, slot1;
            int offset0, offset1;
            uint32_t weight;
        };
        std::vector<Column> columns(static_cast<std::size_t>(w));
        for (int x = 0; x < w; ++x) {
            const double s = grid.columnX[static_cast<std::size_t>(x)] - 0.5;
            const int64_t i0 = static_cast<int64_t>(std::floor(s)), i1 = i0 + 1;
            Column& c = columns[static_cast<std::size_t>(x)];
            c.weight = static_cast<uint32_t>(std::lround((s - i0) * 256));
            auto slot = [&](int64_t i) {
                const int k = grid.slotColumn(floorDiv(i, kTilePixels));
                return k < 0 ? grid.columns : k;
            };
            c.slot0 = slot(i0);
            c.slot1 = slot(i1);
            c.offset0 = static_cast<int>(i0 - floorDiv(i0, kTilePixels) * kTilePixels);
            c.offset1 = static_cast<int>(i1 - floorDiv(i1, kTilePixels) * kTilePixels);
        }
        std::vector<const uint32_t*> line0(static_cast<std::size_t>(grid.columns) + 1),
            line1(static_cast<std::size_t>(grid.columns) + 1);
        for (int y = 0; y < h; ++y) {
            const double gy = grid.rowY[static_cast<std::size_t>(y)];
            if (std::isnan(gy)) continue;
            const double s = gy - 0.5;
            int64_t j0 = static_cast<int64_t>(std::floor(s));
            const uint32_t wy = static_cast<uint32_t>(std::lround((s - j0) * 256));
            const int64_t j1 = std::clamp<int64_t>(j0 + 1, 0, last);
            j0 = std::clamp<int64_t>(j0, 0, last);
            for (int c = 0; c <= grid.columns; ++c) {
                const uint32_t* b0 = c < grid.columns ? grid.bits[static_cast<std::size_t>(slotOf(grid.firstColumn + c, j0 / kTilePixels))] : nullptr;
                const uint32_t* b1 = c < grid.columns ? grid.bits[static_cast<std::size_t>(slotOf(grid.firstColumn + c, j1 / kTilePixels))] : nullptr;
                line0[static_cast<std::size_t>(c)] = b0 ? b0 + (j0 % kTilePixels) * kTilePixels : nullptr;
                line1[static_cast<std::size_t>(c)] = b1 ? b1 + (j1 % kTilePixels) * kTilePixels : nullptr;
            }
            auto* out = reinterpret_cast<uint32_t*>(bitmap.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const Column& c = columns[static_cast<std::size_t>(x)];
                const uint32_t* a0 = line0[static_cast<std::size_t>(c.slot0)];
                const uint32_t* a1 = line0[static_cast<std::size_t>(c.slot1)];
                const uint32_t* b0 = line1[static_cast<std::size_t>(c.slot0)];
                const uint32_t* b1 = line1[static_cast<std::size_t>(c.slot1)];
                const uint32_t top = mix(a0 ? a0[c.offset0] : 0, a1 ? a1[c.offset1] : 0, c.weight);
                const uint32_t bottom = mix(b0 ? b0[c.offset0] : 0, b1 ? b1[c.offset1] : 0, c.weight);
                put(out + x, mix(top, bottom, wy));
            }
        }
        return;
    }

    // Most pixels take their four texels from one tile; those at a tile's
    // edge look up each.
    auto texel = [&](int64_t i, int64_t j) -> uint32_t {
        const uint32_t* b = grid.bits[static_cast<std::size_t>(slotOf(i >> 8, j >> 8))];
        return b ? b[(j & 255) * kTilePixels + (i & 255)] : 0;
    };
    const float* dx = grid.offsets->dx.data();
    const float* dy = grid.offsets->dy.data();
    const double scale = grid.scale, originX = grid.originX - 0.5, originY = grid.originY - 0.5;
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<uint32_t*>(bitmap.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * w + x;
            if (std::isnan(dy[at])) continue;
            const double sx = originX + dx[at] * scale, sy = originY + dy[at] * scale;
            const int64_t i0 = static_cast<int64_t>(std::floor(sx));
            int64_t j0 = static_cast<int64_t>(std::floor(sy));
            const uint32_t wx = static_cast<uint32_t>((sx - i0) * 256 + 0.5);
            const uint32_t wy = static_cast<uint32_t>((sy - j0) * 256 + 0.5);
            uint32_t top, bottom;
            if ((i0 & 255) != 255 && (j0 & 255) != 255 && j0 >= 0 && j0 < last) {
                const uint32_t* b = grid.bits[static_cast<std::size_t>(slotOf(i0 >> 8, j0 >> 8))];
                if (!b) continue;
                const uint32_t* t = b + (j0 & 255) * kTilePixels + (i0 & 255);
                top = mix(t[0], t[1], wx);
                bottom = mix(t[kTilePixels], t[kTilePixels + 1], wx);
            } else {
                const int64_t j1 = std::clamp<int64_t>(j0 + 1, 0, last);
                j0 = std::clamp<int64_t>(j0, 0, last);
                top = mix(texel(i0, j0), texel(i0 + 1, j0), wx);
                bottom = mix(texel(i0, j1), texel(i0 + 1, j1), wx);
            }
            put(out + x, mix(top, bottom, wy));
        }
    }
}

}  // namespace bearfix
