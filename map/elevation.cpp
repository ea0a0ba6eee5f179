#include "map/elevation.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <numbers>

#include "support/buffered_file.h"
#include "support/cp1252.h"
#include "support/message_log.h"

namespace bearfix {

namespace {

constexpr double kGtopoStep = 1.0 / 120.0;  // 30 arc seconds
constexpr double kSrtmStep = 1.0 / 1200.0;  // 3 arc seconds
constexpr std::size_t kMaxDirectory = 240;

struct GtopoTile {
    const char* name;
    double west, north, width, height;
    int32_t rows, columns;
};

constexpr GtopoTile kGtopoTiles[] = {
    {"W180N90.DEM", -180, 90, 40, 50, 6000, 4800}, {"W140N90.DEM", -140, 90, 40, 50, 6000, 4800},
    {"W100N90.DEM", -100, 90, 40, 50, 6000, 4800}, {"W060N90.DEM", -60, 90, 40, 50, 6000, 4800},
    {"W020N90.DEM", -20, 90, 40, 50, 6000, 4800},  {"E020N90.DEM", 20, 90, 40, 50, 6000, 4800},
    {"E060N90.DEM", 60, 90, 40, 50, 6000, 4800},   {"E100N90.DEM", 100, 90, 40, 50, 6000, 4800},
    {"E140N90.DEM", 140, 90, 40, 50, 6000, 4800},  {"W180N40.DEM", -180, 40, 40, 50, 6000, 4800},
    {"W140N40.DEM", -140, 40, 40, 50, 6000, 4800}, {"W100N40.DEM", -100, 40, 40, 50, 6000, 4800},
    {"W060N40.DEM", -60, 40, 40, 50, 6000, 4800},  {"W020N40.DEM", -20, 40, 40, 50, 6000, 4800},
    {"E020N40.DEM", 20, 40, 40, 50, 6000, 4800},   {"E060N40.DEM", 60, 40, 40, 50, 6000, 4800},
    {"E100N40.DEM", 100, 40, 40, 50, 6000, 4800},  {"E140N40.DEM", 140, 40, 40, 50, 6000, 4800},
    {"W180S10.DEM", -180, -10, 40, 50, 6000, 4800}, {"W140S10.DEM", -140, -10, 40, 50, 6000, 4800},
    {"W100S10.DEM", -100, -10, 40, 50, 6000, 4800}, {"W060S10.DEM", -60, -10, 40, 50, 6000, 4800},
    {"W020S10.DEM", -20, -10, 40, 50, 6000, 4800},  {"E020S10.DEM", 20, -10, 40, 50, 6000, 4800},
    {"E060S10.DEM", 60, -10, 40, 50, 6000, 4800},   {"E100S10.DEM", 100, -10, 40, 50, 6000, 4800},
    {"E140S10.DEM", 140, -10, 40, 50, 6000, 4800},  {"W180S60.DEM", -180, -60, 60, 30, 3600, 7200},
    {"W120S60.DEM", -120, -60, 60, 30, 3600, 7200}, {"W060S60.DEM", -60, -60, 60, 30, 3600, 7200},
    {"W000S60.DEM", 0, -60, 60, 30, 3600, 7200},    {"E060S60.DEM", 60, -60, 60, 30, 3600, 7200},
    {"E120S60.DEM", 120, -60, 60, 30, 3600, 7200},
};

int16_t bigEndian(const uint8_t* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }

// A stored sample: SRTM's voids are no elevation, they read as "not loaded".
int16_t sampleOf(const uint8_t* p) {
    int16_t v = bigEndian(p);
    return v == kElevationVoid ? kElevationNotLoaded : v;
}

std::string srtmName(int lat, int lon) {
    lon = ((lon + 180) % 360 + 360) % 360 - 180;  // a cell east of 180 E is a western one
    char name[32];
    std::snprintf(name, sizeof name, "%c%02d%c%03d.hgt", lat < 0 ? 'S' : 'N', std::abs(lat), lon < 0 ? 'W' : 'E',
                  std::abs(lon));
    return name;
}

bool isFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

ElevationCache& elevation() {
    static ElevationCache cache;
    return cache;
}

void ElevationCache::setSource(int source) {
    if (source != source_) forceReload_ = true;
    source_ = source;
}

void ElevationCache::setDirectories(std::string gtopo30, std::string srtm) {
    if (gtopo30 != gtopoDir_ || srtm != srtmDir_) forceReload_ = true;
    gtopoDir_ = std::move(gtopo30);
    srtmDir_ = std::move(srtm);
}

std::string ElevationCache::findFile(const std::string& directory, const std::string& name) {
    std::string base = directory.substr(0, kMaxDirectory);
    if (!base.empty() && base.back() != '/') base += '/';
    std::string lower = name, upper = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& candidate : {name, lower, upper}) {
        if (isFile(base + candidate)) return base + candidate;
    }
    return {};
}

void ElevationCache::ensureCoverage(double s, double n, double w, double e) {
    loadedSamples_ = 0;
    bool reload = forceReload_;
    forceReload_ = false;
    if (!(std::isfinite(s) && std::isfinite(n) && std::isfinite(w) && std::isfinite(e))) return;
    // A box beyond the globe (a view no zoom reaches) asks for the whole of it,
    // so that the sizes below stay within their integers.
    s = std::clamp(s, -90.0, 90.0);
    n = std::clamp(n, -90.0, 90.0);
    if (!(e - w < 360.0 && std::fabs(w) <= 540.0 && std::fabs(e) <= 540.0)) {
        w = -180.0;
        e = 180.0;
    }
    const bool gtopo = source_ == kGtopo30;
    const double step = gtopo ? kGtopoStep : kSrtmStep;
    const double alignLon = gtopo ? 40.0 : 1.0, alignLat = gtopo ? 50.0 : 1.0;

    if (samples_.empty()) {
        columns = kColumns;
        rows = kRows;
        try {
            samples_.assign(static_cast<std::size_t>(columns) * rows, kElevationNotLoaded);
        } catch (const std::bad_alloc&) {
            columns = rows = 0;
            return;
        }
        reload = true;
    }
    if (s < south || n > north || w < west || e > east) reload = true;

    w = std::floor(w / alignLon) * alignLon;
    e = std::ceil(e / alignLon) * alignLon;
    s = std::floor(s / alignLat) * alignLat;
    n = std::ceil(n / alignLat) * alignLat;

    // One decimation factor for both directions, so the grid stays 2000 x 1000.
    const double fx = (e - w) / (columns * step);
    int k = fx >= 1.0 ? static_cast<int>(std::floor(fx + 0.999)) : 1;
    double fy = (n - s) / (rows * step);
    fy = fy >= 0.9 ? fy + 0.999 : 1.0;
    if (k < fy) k = static_cast<int>(std::floor(fy));
    const double height = k * rows * step, width = k * columns * step;
    const double s2 = (s + n) / 2 - height / 2, n2 = (s + n) / 2 + height / 2;
    const double w2 = (w + e) / 2 - width / 2, e2 = (w + e) / 2 + width / 2;
    if (north - south > 1.1 * (n2 - s2) || east - west > 1.1 * (e2 - w2)) reload = true;  // too coarse now
    if (!reload || !(n2 > s2) || !(e2 > w2)) return;

    south = s2;
    north = n2;
    west = w2;
    east = e2;
    sampleSpacing = k * step * 6371000.0 * std::numbers::pi / 180.0;
    std::fill(samples_.begin(), samples_.end(), kElevationNotLoaded);
    aborted_ = false;

    if (gtopo) {
        // The table's tiles, and their copies a turn east or west for a grid
        // that reaches across the antimeridian.
        for (double shift : {0.0, -360.0, 360.0}) {
            for (const GtopoTile& t : kGtopoTiles) {
                Tile tile{t.name, t.west + shift, t.north, t.width, t.height, t.rows, t.columns};
                if (tile.west + tile.width > west && tile.west < east && tile.north > south &&
                    tile.north - tile.height < north && !aborted_) {
                    loadTile(tile, gtopoDir_);
                }
            }
        }
    } else {
        // Every cell of the grid, however wide: one reaching across the
        // antimeridian holds some tiles at both ends.
        const int firstLat = std::max(-90, static_cast<int>(std::floor(south)));
        const int firstLon = static_cast<int>(std::floor(west)), lastLon = std::min(static_cast<int>(std::ceil(east)), firstLon + 720);
        for (int lat = firstLat; lat < 90 && lat < north && !aborted_; ++lat) {
            for (int lon = firstLon; lon < lastLon && !aborted_; ++lon)
                loadTile({srtmName(lat, lon), double(lon), double(lat + 1), 1.0, 1.0, 1201, 1201}, srtmDir_);
        }
    }
    rowBuffer_ = {};
}

void ElevationCache::loadTile(const Tile& tile, const std::string& directory) {
    const std::string path = findFile(directory, tile.name);
    if (path.empty()) return;  // tiles the user does not have leave their area white
    auto file = std::make_unique<BufferedFile>();
    if (!file->open(path)) {
        logMessage(MessageLevel::Error, "Error: Cannot read \"%s\": %s.", fileNameText(path).c_str(), std::strerror(errno));
        return;
    }

    int32_t tileRows = tile.rows, tileColumns = tile.columns;
    const int64_t size = file->seek(0, 2);
    if (source_ == kSrtm) {
        // SRTM3 and SRTM1 tiles share their names; their sizes differ.
        tileRows = tileColumns = size == 2LL * 1201 * 1201 ? 1201 : size == 2LL * 3601 * 3601 ? 3601 : 0;
    } else if (size != 2LL * tileRows * tileColumns) {
        tileRows = 0;
    }
    if (tileRows == 0) {
        logMessage(MessageLevel::Error, "Error: \"%s\" is not a tile of the expected size (%lld bytes).", fileNameText(path).c_str(),
                   static_cast<long long>(size));
        return;
    }
    // SRTM's rows and columns include both edges of the cell.
    const double latSpacing = tile.height / (source_ == kSrtm ? tileRows - 1 : tileRows);
    const double lonSpacing = tile.width / (source_ == kSrtm ? tileColumns - 1 : tileColumns);
    const double cacheStep = (east - west) / columns;
    const int kt = std::max(1, static_cast<int>(std::lround(cacheStep / lonSpacing)));  // tile samples per grid column

    const double rowDelta = (north - south) / rows;
    int previousRow = -1, lastPercent = -1;
    for (int i = 0; i < rows; ++i) {
        if (aborted_ || (abortPoll_ && abortPoll_())) {
            aborted_ = true;
            break;
        }
        const double lat = north - i * rowDelta;
        const int r = static_cast<int>((tile.north - lat) / latSpacing + 0.499);
        if (r == previousRow || r < 0 || r >= tileRows) continue;
        previousRow = r;
        const int percent = r * 100 / tileRows;
        if (percent != lastPercent && progress_) progress_(tile.name, percent);
        lastPercent = percent;

        const int c = static_cast<int>((west - tile.west) / lonSpacing + 0.499);
        const int firstColumn = c < 0 ? -c / kt : 0;
        const int firstTileColumn = c < 0 ? 0 : c;
        if (firstColumn >= columns || firstTileColumn >= tileColumns) continue;
        if (file->seek((static_cast<int64_t>(r) * tileColumns + firstTileColumn) * 2, 0) < 0) continue;
        const int available = tileColumns - firstTileColumn;
        int16_t* row = &samples_[static_cast<std::size_t>(i) * columns];
        if (kt > 1) {
            rowBuffer_.resize(static_cast<std::size_t>(available) * 2);
            const int got = file->readBytes(rowBuffer_.data(), available * 2) / 2;
            for (int j = firstColumn; j < columns && (j - firstColumn) * kt < got; ++j) {
                row[j] = sampleOf(&rowBuffer_[static_cast<std::size_t>(j - firstColumn) * kt * 2]);
                ++loadedSamples_;
            }
        } else {
            const int wanted = std::min(columns - firstColumn, available);
            auto* bytes = reinterpret_cast<uint8_t*>(row + firstColumn);
            const int got = file->readBytes(bytes, wanted * 2) / 2;
            for (int j = 0; j < got; ++j) {
                uint8_t pair[2] = {bytes[2 * j], bytes[2 * j + 1]};
                row[firstColumn + j] = sampleOf(pair);
            }
            loadedSamples_ += got;
        }
    }
    file->close();
    logMessage(MessageLevel::Debug, "Debug: Loaded \"%s\" into the GTOPO cache, %ld points .", fileNameText(path).c_str(),
               loadedSamples_);
}

bool ElevationCache::positionOf(double lat, double lon, int* column, int* row) const {
    double x, y;
    if (!gridPoint(lat, lon, &x, &y)) return false;
    *column = static_cast<int>(x);
    *row = static_cast<int>(y);
    return true;
}

bool ElevationCache::gridPoint(double lat, double lon, double* x, double* y) const {
    if (samples_.empty() || columns <= 0 || !(north > south) || !(east > west)) return false;
    double u = (lon - west) / (east - west);
    // The grid may reach across the antimeridian; positions come within +-180.
    if (u < 0 && lon + 360 <= east) u = (lon + 360 - west) / (east - west);
    if (u > 1 && lon - 360 >= west) u = (lon - 360 - west) / (east - west);
    const double v = (north - lat) / (north - south);
    if (!(u >= 0 && u <= 1 && v >= 0 && v <= 1)) return false;
    *x = u * (columns - 1);
    *y = v * (rows - 1);
    return true;
}

bool ElevationCache::sampleAt(int column, int row, int16_t* sample) const {
    if (column < 0 || column >= columns || row < 0 || row >= rows || samples_.empty()) return false;
    *sample = samples_[static_cast<std::size_t>(row) * columns + column];
    return true;
}

bool ElevationCache::elevationAt(double lat, double lon, int* metres) const {
    int column, row;
    int16_t sample;
    if (positionOf(lat, lon, &column, &row) && sampleAt(column, row, &sample)) {
        *metres = sample;
        return true;
    }
    *metres = kElevationNotLoaded;
    return false;
}

}  // namespace bearfix
