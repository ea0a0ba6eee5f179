#include "map/topography.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "support/vector_state.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr uint32_t kWater = 0x0000FF;
constexpr uint32_t kNotLoaded = 0xFFFFFF;
constexpr uint32_t kLowWater = 0x6080FF;   // -28 m, the Caspian Sea's level
constexpr uint32_t kOutside = 0xCFFFCF;    // beyond the elevation grid
constexpr uint32_t kOpaque = 0xFF000000;  // QImage's 32-bit RGB keeps 0xFF there

}  // namespace

const ElevationPalette& defaultPalette() {
    static const ElevationPalette palette = {
    0x008000, 0x009000, 0x00A000, 0x00B000, 0x00B620, 0x00BA48, 0x00BC58, 0x00BC68,  // 0
    0x00C470, 0x00CC60, 0x00D450, 0x00DC40, 0x00E430, 0x00EC20, 0x00F510, 0x00FF00,  // 8
    0x00FF08, 0x08FF10, 0x10FF18, 0x18FF20, 0x20FF28, 0x30FF30, 0x40FF38, 0x48FF40,  // 16
    0x50FF48, 0x54FF50, 0x58FF58, 0x5CFF60, 0x60FF68, 0x68FF70, 0x70FF78, 0x80FF80,  // 24
    0x88FF80, 0x90FF70, 0x98FF60, 0xA0FF50, 0xA8FF40, 0xB0FF30, 0xB8FF20, 0xC0FF10,  // 32
    0xC8FF00, 0xD0FF00, 0xD8FF00, 0xE0FF00, 0xE8FF00, 0xF0FF00, 0xF8FF00, 0xFFFF00,  // 40
    0xF8F800, 0xF0F000, 0xE8E800, 0xE0E000, 0xE0D800, 0xD8D800, 0xD0D800, 0xD0D000,  // 48
    0xC8D000, 0xC8C800, 0xC0C800, 0xC0C000, 0xB8C000, 0xB8B800, 0xB0B800, 0xB0B000,  // 56
    0xB8B000, 0xBCB000, 0xC0B000, 0xC4AC00, 0xC8A800, 0xCCA400, 0xCBA000, 0xCEA000,  // 64
    0xD0A000, 0xD2A000, 0xD4A000, 0xD6A000, 0xD8A000, 0xDCA000, 0xD0A800, 0xD0B000,  // 72
    0xBCBC00, 0xB8B800, 0xB4B400, 0xB0B000, 0xACAC00, 0xA8A800, 0xA4A400, 0xA0A000,  // 80
    0x9C9C00, 0x989800, 0x949400, 0x909000, 0x8C8C00, 0x888800, 0x848400, 0x808000,  // 88
    0x7C7C00, 0x787800, 0x747400, 0x707000, 0x6C6C00, 0x686800, 0x646400, 0x606000,  // 96
    0x5C5C00, 0x5A5A00, 0x585800, 0x565600, 0x585400, 0x585300, 0x585200, 0x605000,  // 104
    0x644E00, 0x684C00, 0x704A00, 0x784800, 0x804600, 0x884400, 0x8C4200, 0x8C4000,  // 112
    0x884000, 0x804000, 0x784000, 0x704000, 0x684000, 0x604000, 0x504000, 0x404000,  // 120
    0x404004, 0x404008, 0x40400C, 0x40400E, 0x404010, 0x404014, 0x404018, 0x40401C,  // 128
    0x404020, 0x404024, 0x404028, 0x40402C, 0x404030, 0x404034, 0x404038, 0x40403C,  // 136
    0x404040, 0x404044, 0x404048, 0x40404C, 0x404050, 0x404054, 0x404058, 0x40405C,  // 144
    0x404060, 0x404064, 0x404068, 0x40406C, 0x404070, 0x404074, 0x404078, 0x40407C,  // 152
    0x404080, 0x444480, 0x484880, 0x4C4C80, 0x505080, 0x545480, 0x585880, 0x5C5C80,  // 160
    0x606080, 0x646480, 0x686880, 0x6C6C80, 0x707080, 0x747480, 0x787880, 0x7C7C80,  // 168
    0x808080, 0x848484, 0x888888, 0x8C8C8C, 0x909090, 0x949494, 0x989898, 0x9C9C9C,  // 176
    0xA0A0A0, 0xA4A4A4, 0xA8A8A8, 0xACACAC, 0xBAB0B0, 0xB4B4B4, 0xB8B8B8, 0xBCBCBC,  // 184
    0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0,  // 192
    0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0,  // 200
    0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0,  // 208
    0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0,  // 216
    0xC0C0C0, 0xC4C4C4, 0xC0C0C0, 0xC0C0C0, 0xC8C8C8, 0xCACACA, 0xCCCCCC, 0xCECECE,  // 224
    0xD0D0D0, 0xD2D2D2, 0xD4D4D4, 0xD6D6D6, 0xD8D8D8, 0xDADADA, 0xDCDCDC, 0xDEDEDE,  // 232
    0xE0E0E0, 0xE2E2E2, 0xE4E4E4, 0xE6E6E6, 0xE8E8E8, 0xEAEAEA, 0xECECEC, 0xEEEEEE,  // 240
    0xF0F0F0, 0xF2F2F2, 0xF4F4F4, 0xF6F6F6, 0xF8F8F8, 0xFAFAFA, 0xFDFDFD, 0xFFFFFF,  // 248
    };
    return palette;
}

const ElevationPalette& blackWhitePalette() {
    static const ElevationPalette palette = [] {
        ElevationPalette p{};
        for (uint32_t i = 0; i < 256; ++i) p[i] = i << 16 | i << 8 | i;
        return p;
    }();
    return palette;
}

uint32_t scalePixel(uint32_t pixel, double factor) {
    auto channel = [&](int shift) {
        double v = ((pixel >> shift) & 0xFF) * factor;
        return static_cast<uint32_t>(std::clamp(static_cast<int>(v), 0, 255)) << shift;
    };
    return (pixel & 0xFF000000) | channel(16) | channel(8) | channel(0);
}

namespace {

// Where each pixel lies: a row's latitude and a column's longitude for the
// cylindric map; for the azimuthal one, positions interpolated between
// exactly projected points every 8 pixels, or every 4 where that is not close
// enough, and exact ones where interpolating would still put a pixel half a
// pixel or more off (at the rim of the disc, near the poles).
class PixelPositions {
public:
    PixelPositions(int width, int height, const MapView* view) : fine_(fineStore()), mode_(modeStore()) {
        if (!view || view->projection != kAzimuthal) return;
        view_ = view;
        cellsWide_ = (width + kCell - 1) / kCell;
        const int cellsHigh = (height + kCell - 1) / kCell;
        // Exact positions every half cell: the corners, and the middles of
        // the edges and of the cell, where interpolation strays most.
        // The corners first; the middles only where a cell needs a closer look.
        fineWide_ = 2 * cellsWide_ + 1;
        fineHigh_ = 2 * cellsHigh + 1;
        fine_.assign(static_cast<std::size_t>(fineWide_) * fineHigh_, Position{});
        for (int j = 0; j < fineHigh_; j += 2)
            for (int i = 0; i < fineWide_; i += 2)
                fine_[static_cast<std::size_t>(j) * fineWide_ + i] = exact(i * kHalf, j * kHalf);
        mode_.resize(static_cast<std::size_t>(cellsWide_) * cellsHigh);
        for (int j = 0; j < cellsHigh; ++j)
            for (int i = 0; i < cellsWide_; ++i) mode_[static_cast<std::size_t>(j) * cellsWide_ + i] = modeOf(i, j);
    }

    bool azimuthal() const { return view_ != nullptr; }

    // The box of all positions on the picture (azimuthal maps).
    void bounds(double* south, double* north, double* west, double* east) const {
        *south = 90, *north = -90, *west = 1e9, *east = -1e9;
        const double lon0 = view_->center.lon * 180 / kPi;
        for (const Position& p : fine_) {
            if (!p.ok) continue;  // outside the disc, or not computed
            *south = std::min(*south, p.lat);
            *north = std::max(*north, p.lat);
            *west = std::min(*west, lon0 + p.dlon);
            *east = std::max(*east, lon0 + p.dlon);
        }
        if (*north >= 89.0 || *south <= -89.0) {  // a pole on the map: every longitude
            *west = lon0 - 180;
            *east = lon0 + 180;
        }
    }

    bool at(int x, int y, double* lat, double* lon) const {
        const int i = x / kCell, j = y / kCell;
        Position p;
        switch (mode_[static_cast<std::size_t>(j) * cellsWide_ + i]) {
            case kWhole:
                p = interpolated(2 * i, 2 * j, 2, (x - i * kCell) / double(kCell), (y - j * kCell) / double(kCell));
                break;
            case kQuarters: {
                const int fi = x / kHalf, fj = y / kHalf;
                p = interpolated(fi, fj, 1, (x - fi * kHalf) / double(kHalf), (y - fj * kHalf) / double(kHalf));
                break;
            }
            default:
                p = exact(x, y);
        }
        *lat = p.lat;
        *lon = view_->center.lon * 180 / kPi + p.dlon;
        return p.ok;
    }

private:
    static constexpr int kCell = 8, kHalf = kCell / 2;
    enum Mode : uint8_t { kExact, kWhole, kQuarters };
    struct Position {
        double lat = 0, dlon = 0;  // degrees; longitude east of the centre, -180..180
        bool ok = false;
        bool known = false;  // of the half-cell grid: computed yet
    };

    Position exact(double x, double y) const {
        Position p;
        double lon, lat;
        if (!azimuthal_inverse(*view_, x, y, &lon, &lat)) return p;
        double d = lon - view_->center.lon;
        d -= 2 * kPi * std::round(d / (2 * kPi));
        return {lat * 180 / kPi, d * 180 / kPi, true, true};
    }
    // Half-cell grid point (i, j), computed when first asked for.
    const Position& fine(int i, int j) const {
        Position& p = fine_[static_cast<std::size_t>(j) * fineWide_ + i];
        if (!p.known) {
            p = exact(i * kHalf, j * kHalf);
            p.known = true;
        }
        return p;
    }

    // Bilinear between the half-cell grid points (i, j) and (i + n, j + n).
    Position interpolated(int i, int j, int n, double fx, double fy) const {
        const Position &a = fine(i, j), &b = fine(i + n, j), &c = fine(i, j + n), &d = fine(i + n, j + n);
        return {(a.lat * (1 - fx) + b.lat * fx) * (1 - fy) + (c.lat * (1 - fx) + d.lat * fx) * fy,
                (a.dlon * (1 - fx) + b.dlon * fx) * (1 - fy) + (c.dlon * (1 - fx) + d.dlon * fx) * fy, true};
    }

    // Whether interpolating over the square of `size` pixels between the
    // half-cell grid points (i, j) and (i + n, j + n) keeps every pixel
    // within half a pixel of its place. `middle` gives the exact position at
    // a fraction (fx, fy) of the square. Bilinear interpolation strays by
    // f_xx x (h - x) / 2 + f_yy y (h - y) / 2, so at most by the strays in
    // the middles of two neighbouring edges together; a stray in degrees
    // becomes one in pixels through the square's own change per pixel.
    template <class Middle>
    bool fits(int i, int j, int n, double size, Middle&& middle) const {
        const Position &a = fine(i, j), &b = fine(i + n, j), &c = fine(i, j + n), &d = fine(i + n, j + n);
        if (!(a.ok && b.ok && c.ok && d.ok)) return false;
        if (std::max({a.dlon, b.dlon, c.dlon, d.dlon}) - std::min({a.dlon, b.dlon, c.dlon, d.dlon}) >= 20) return false;
        // Degrees per pixel to the right (x) and down (y).
        const double latX = (b.lat + d.lat - a.lat - c.lat) / (2 * size);
        const double lonX = (b.dlon + d.dlon - a.dlon - c.dlon) / (2 * size);
        const double latY = (c.lat + d.lat - a.lat - b.lat) / (2 * size);
        const double lonY = (c.dlon + d.dlon - a.dlon - b.dlon) / (2 * size);
        const double det = latX * lonY - latY * lonX;
        if (!(std::fabs(det) > 1e-300)) return false;
        auto stray = [&](double fx, double fy) {
            const Position e = middle(fx, fy);
            if (!e.ok) return 1e9;
            const Position p = interpolated(i, j, n, fx, fy);
            const double dLat = p.lat - e.lat, dLon = p.dlon - e.dlon;
            return std::hypot(lonY * dLat - latY * dLon, latX * dLon - lonX * dLat) / std::fabs(det);
        };
        const double centre = stray(0.5, 0.5);
        const double across = std::max(stray(0.5, 0), stray(0.5, 1)), down = std::max(stray(0, 0.5), stray(1, 0.5));
        return std::max(centre, across + down) < 0.5;
    }

    // Whether the cell is surely smooth enough, judged from the bends of the
    // corner grid around it (a quarter of the stray allowed, for safety).
    bool plainlySmooth(int i, int j) const {
        if (i < 1 || j < 1 || i + 2 > cellsWide_ || 2 * j + 4 >= fineHigh_) return false;
        double lat[4][4], dlon[4][4];
        for (int v = 0; v < 4; ++v) {
            for (int u = 0; u < 4; ++u) {
                const Position& p = fine(2 * (i - 1 + u), 2 * (j - 1 + v));
                if (!p.ok) return false;
                lat[v][u] = p.lat;
                dlon[v][u] = p.dlon;
            }
        }
        double lonMin = dlon[0][0], lonMax = lonMin;
        for (auto& row : dlon) {
            lonMin = std::min({lonMin, row[0], row[1], row[2], row[3]});
            lonMax = std::max({lonMax, row[0], row[1], row[2], row[3]});
        }
        if (lonMax - lonMin >= 20) return false;
        double bendLat = 0, bendLon = 0;  // |f_xx| h^2 + |f_yy| h^2, the largest near the cell
        for (int a = 1; a <= 2; ++a) {
            for (int b = 1; b <= 2; ++b) {
                bendLat = std::max(bendLat, std::fabs(lat[a][b - 1] - 2 * lat[a][b] + lat[a][b + 1]) +
                                                std::fabs(lat[a - 1][b] - 2 * lat[a][b] + lat[a + 1][b]));
                bendLon = std::max(bendLon, std::fabs(dlon[a][b - 1] - 2 * dlon[a][b] + dlon[a][b + 1]) +
                                                std::fabs(dlon[a - 1][b] - 2 * dlon[a][b] + dlon[a + 1][b]));
            }
        }
        const double latX = (lat[1][2] - lat[1][1]) / kCell, lonX = (dlon[1][2] - dlon[1][1]) / kCell;
        const double latY = (lat[2][1] - lat[1][1]) / kCell, lonY = (dlon[2][1] - dlon[1][1]) / kCell;
        const double det = std::fabs(latX * lonY - latY * lonX);
        if (!(det > 1e-300)) return false;
        // The inverse of the change per pixel, applied to a stray of (bendLat, bendLon) / 8 in any sign.
        const double pixels = (std::fabs(lonY) * bendLat + std::fabs(latY) * bendLon + std::fabs(latX) * bendLon +
                               std::fabs(lonX) * bendLat) / (8 * det);
        return pixels < 0.125;
    }

    Mode modeOf(int i, int j) const {
        if (plainlySmooth(i, j)) return kWhole;
        auto fromGrid = [&](double fx, double fy) { return fine(2 * i + int(2 * fx), 2 * j + int(2 * fy)); };
        if (fits(2 * i, 2 * j, 2, kCell, fromGrid)) return kWhole;
        for (int q = 0; q < 4; ++q) {
            const int fi = 2 * i + q % 2, fj = 2 * j + q / 2;
            auto computed = [&](double fx, double fy) { return exact((fi + fx) * kHalf, (fj + fy) * kHalf); };
            if (!fits(fi, fj, 1, kHalf, computed)) return kExact;
        }
        return kQuarters;
    }

    // Kept from picture to picture: fresh pages for every picture cost more
    // than filling them.
    static std::vector<Position>& fineStore() {
        static thread_local std::vector<Position> store;
        return store;
    }
    static std::vector<uint8_t>& modeStore() {
        static thread_local std::vector<uint8_t> store;
        return store;
    }

    const MapView* view_ = nullptr;
    std::vector<Position>& fine_;  // filled as needed
    std::vector<uint8_t>& mode_;
    int fineWide_ = 0, fineHigh_ = 0, cellsWide_ = 0;
};

// A longitude in degrees into [-180, 180).
double wrap180(double lon) { return lon - 360 * std::floor((lon + 180) / 360); }

}  // namespace

bool renderTopography(QImage& bitmap, ElevationCache& cache, const TopoSettings& settings, double minElevation,
                      double maxElevation, double south, double north, double west, double east,
                      const ElevationPalette* palette, const MapView* view) {
    clearUpperVectorState();  // before a picture's worth of arithmetic
    const int w = bitmap.width(), h = bitmap.height();
    if (w < 10 || h < 10 || !(north > south) || !(east > west)) return false;
    if (bitmap.format() != QImage::Format_RGB32) bitmap = bitmap.convertToFormat(QImage::Format_RGB32);
    if (bitmap.format() != QImage::Format_RGB32) {
        QPainter painter(&bitmap);
        painter.fillRect(bitmap.rect(), painter.brush());
        painter.drawText(0, 12, "Unsupported bitmap format");
        return false;
    }
    const ElevationPalette& colours = palette ? *palette : defaultPalette();

    const double az = settings.sunAzimuth * kPi / 180, el = settings.sunElevation * kPi / 180;
    double light[3] = {-std::sin(az) * std::cos(el), std::cos(az) * std::cos(el), std::sin(el)};
    const double lightLength = std::sqrt(light[0] * light[0] + light[1] * light[1] + light[2] * light[2]);
    if (lightLength > 0)
        for (double& v : light) v /= lightLength;

    const PixelPositions positions(w, h, view);
    if (positions.azimuthal()) positions.bounds(&south, &north, &west, &east);
    // Every pixel's longitude is looked up wrapped, as the map's lines are
    // drawn: a box once round the earth or more needs each longitude once.
    double gridWest = west, gridEast = east;
    if (gridEast - gridWest >= 360) {
        gridWest = -180;
        gridEast = 180;
    } else {
        gridEast = wrap180(gridWest) + (gridEast - gridWest);
        gridWest = wrap180(gridWest);
    }
    if (north > south && east > west) cache.ensureCoverage(south, north, gridWest, gridEast);

    double scale;
    if (minElevation < maxElevation) {
        scale = 256.0 / (maxElevation - minElevation);
    } else {
        minElevation = 0;
        scale = 0.8533333333333334;
    }
    const double d = cache.sampleSpacing, k = settings.exaggeration;
    // A neighbour that is sea counts as sea level; one that is not loaded
    // (or a hole in the data) gives no slope at all.
    auto neighbour = [](int16_t v, bool* usable) {
        *usable = *usable && v != kElevationNotLoaded;
        return v == kElevationOcean ? 0.0 : double(v);
    };

    const int16_t* grid = cache.data();
    const int columns = cache.columns, rows = cache.rows;
    // The colour of a sample by itself, and its shade from the slope towards
    // the samples one row south and one column east (the grid's south and
    // east edges stay unshaded); `c` is the cosine of the latitude.
    auto sampleColour = [&](double s) {
        if (s == kElevationOcean || s == 0) return kWater;
        if (s == kElevationNotLoaded) return kNotLoaded;
        if (s == -28) return kLowWater;
        return colours[static_cast<std::size_t>(std::clamp((s - minElevation) * scale, 0.0, 255.0))];
    };
    auto shadeOf = [&](const int16_t* here, int column, int row, double c, double* factor) {
        if (!settings.shading || *here == kElevationNotLoaded || row + 1 >= rows || column + 1 >= columns) return false;
        bool usable = true;
        const double z = neighbour(*here, &usable), zS = neighbour(here[columns], &usable),
                     zE = neighbour(here[1], &usable);
        if (!usable) return false;
        const double n0 = d * (zE - z) * k, n1 = d * c * (zS - z) * k, n2 = d * d * c;
        const double length = std::sqrt(n0 * n0 + n1 * n1 + n2 * n2);
        double b = n0 * light[0] + n1 * light[1] + n2 * light[2];
        if (length > 0) b /= length;
        *factor = b > 0 ? b : -0.2 * b;
        return true;
    };
    auto nearestColour = [&](int column, int row, double c) {
        const int16_t* here = grid + static_cast<std::ptrdiff_t>(row) * columns + column;
        uint32_t colour = sampleColour(*here) | kOpaque;
        double factor;
        if (shadeOf(here, column, row, c, &factor)) colour = scalePixel(colour, factor);
        return colour;
    };

    // Where a pixel is finer than the grid both ways, the terrain
    // is drawn from the elevation and shade interpolated between the four
    // samples round it, each taken as lying in the middle of its cell, so
    // that zoomed in the relief is smooth rather than squares; coarser
    // pictures show each pixel's own sample.
    double pixelLat, pixelLon;
    if (positions.azimuthal()) {
        pixelLat = 180 / (kPi * view->scale);
        pixelLon = pixelLat / std::max(std::cos(view->center.lat), 1e-9);
    } else {
        pixelLat = (north - south) / (h - 1);
        pixelLon = (east - west) / (w - 1);
    }
    const bool smooth = rows > 1 && columns > 1 && pixelLat < (cache.north - cache.south) / (rows - 1) &&
                        pixelLon < (cache.east - cache.west) / (columns - 1);
    // The shades of the samples under the picture, each worked out when
    // first needed and lit at its own latitude: -1 not yet, -2 none.
    const double rowDegrees = (cache.north - cache.south) / std::max(rows - 1, 1);
    static thread_local std::vector<float> shades;
    int firstRow = 0, lastRow = -1, firstColumn = 0, lastColumn = -1;
    if (smooth && settings.shading) {
        firstRow = std::clamp(static_cast<int>((cache.north - north) / rowDegrees) - 1, 0, rows - 1);
        lastRow = std::clamp(static_cast<int>((cache.north - south) / rowDegrees) + 2, 0, rows - 1);
        firstColumn = 0;
        lastColumn = columns - 1;
        double x0, x1, unused;
        if (cache.gridPoint(cache.north, wrap180(west), &x0, &unused) &&
            cache.gridPoint(cache.north, wrap180(east), &x1, &unused) && x0 <= x1) {
            firstColumn = std::max(static_cast<int>(x0) - 1, 0);
            lastColumn = std::min(static_cast<int>(x1) + 2, columns - 1);
        }
        shades.assign(static_cast<std::size_t>(lastRow - firstRow + 1) * (lastColumn - firstColumn + 1), -1.0f);
    }
    // The cosine of the latitude of a (fractional) grid row.
    auto rowCosine = [&](double row) { return std::cos((cache.north - row * rowDegrees) * kPi / 180); };
    std::vector<double> rowCosines(static_cast<std::size_t>(lastRow - firstRow + 1));
    for (int r = firstRow; r <= lastRow; ++r) rowCosines[static_cast<std::size_t>(r - firstRow)] = rowCosine(r);
    const int windowColumns = lastColumn - firstColumn + 1;
    auto shadeAt = [&](int column, int row) {
        auto work = [&](double c) {
            double factor;
            return shadeOf(grid + static_cast<std::ptrdiff_t>(row) * columns + column, column, row, c, &factor)
                       ? static_cast<float>(factor)
                       : -2.0f;
        };
        if (row < firstRow || row > lastRow || column < firstColumn || column > lastColumn)
            return work(rowCosine(row));
        float& shade = shades[static_cast<std::size_t>(row - firstRow) * windowColumns + (column - firstColumn)];
        if (shade == -1.0f) shade = work(rowCosines[static_cast<std::size_t>(row - firstRow)]);
        return shade;
    };
    struct {
        int column = -1, row = -1;
        std::array<int16_t, 4> z;
        std::array<float, 4> shade;
        bool valid;
    } cell;
    auto smoothColour = [&](double x, double y) {
        // Before the middle of the first sample, or past the last, the edge
        // sample stands alone.
        const double fx = std::max(x - 0.5, 0.0), fy = std::max(y - 0.5, 0.0);
        const int c0 = static_cast<int>(fx), r0 = static_cast<int>(fy);
        const int c1 = std::min(c0 + 1, columns - 1), r1 = std::min(r0 + 1, rows - 1);
        const double tx = fx - c0, ty = fy - r0;
        const int column = static_cast<int>(x), row = static_cast<int>(y);
        // Neighbouring pixels mostly share their four samples.
        if (c0 != cell.column || r0 != cell.row) {
            cell.column = c0;
            cell.row = r0;
            const int16_t* upper = grid + static_cast<std::ptrdiff_t>(r0) * columns;
            const int16_t* lower = grid + static_cast<std::ptrdiff_t>(r1) * columns;
            cell.z = {upper[c0], upper[c1], lower[c0], lower[c1]};
            cell.valid = std::none_of(cell.z.begin(), cell.z.end(),
                                      [](int16_t v) { return v == kElevationOcean || v == kElevationNotLoaded; });
            if (cell.valid && settings.shading)
                cell.shade = {shadeAt(c0, r0), shadeAt(c1, r0), shadeAt(c0, r1), shadeAt(c1, r1)};
        }
        // Sea and missing data are never blended with elevations.
        if (!cell.valid) return nearestColour(column, row, rowCosine(y));
        auto blend = [&](auto a, auto b, auto c, auto d) {
            return (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty;
        };
        // Coloured as a sample of the interpolated elevation (rounded), so
        // that the coast is the line where the land falls to sea level.
        const auto& z = cell.z;
        const double e = blend(z[0], z[1], z[2], z[3]);
        uint32_t colour = e > -0.5 && e < 0.5       ? kWater
                          : e > -28.5 && e <= -27.5 ? kLowWater
                                                    : sampleColour(e);
        colour |= kOpaque;
        if (settings.shading) {
            const auto [a, b, c, d] = cell.shade;
            // At the edges of the data, the nearest sample's own shade.
            const float shade = std::min({a, b, c, d}) >= 0 ? static_cast<float>(blend(a, b, c, d)) : shadeAt(column, row);
            if (shade >= 0) {
                // scalePixel in fixed point: shades lie within 0..1.
                const uint32_t f = static_cast<uint32_t>(std::min(shade, 1.0f) * 65536.0f);
                colour = kOpaque | (((colour >> 16 & 0xFF) * f) >> 16) << 16 | (((colour >> 8 & 0xFF) * f) >> 16) << 8 |
                         (((colour & 0xFF) * f) >> 16);
            }
        }
        return colour;
    };

    // For the cylindric map each column has one grid column, each row one grid row.
    std::vector<int> gridColumn(static_cast<std::size_t>(w), -1);
    std::vector<double> gridX(smooth ? static_cast<std::size_t>(w) : 0);
    if (!positions.azimuthal()) {
        const double lonStep = (east - west) / (w - 1);
        for (int x = 0; x < w; ++x) {
            double u, v;
            if (!cache.gridPoint(cache.north, wrap180(west + x * lonStep), &u, &v)) continue;
            gridColumn[static_cast<std::size_t>(x)] = static_cast<int>(u);
            if (smooth) gridX[static_cast<std::size_t>(x)] = u;
        }
    }

    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(bitmap.scanLine(y));
        const double rowLat = north - y / double(h - 1) * (north - south);
        const double rowCos = std::cos(rowLat * kPi / 180);
        int rowIndex = -1;
        double rowY = -1, unused;
        if (!positions.azimuthal() && cache.gridPoint(rowLat, cache.west, &unused, &rowY))
            rowIndex = static_cast<int>(rowY);
        // Neighbouring pixels often share a grid sample; keep the last result.
        int lastColumn = -1, lastRow = -1;
        uint32_t lastColour = 0;
        for (int x = 0; x < w; ++x) {
            int column, row;
            double lat = rowLat;
            if (positions.azimuthal()) {
                double lon, gx, gy;
                if (!positions.at(x, y, &lat, &lon) || !cache.gridPoint(lat, wrap180(lon), &gx, &gy)) {
                    line[x] = kOpaque | kOutside;
                    continue;
                }
                if (smooth) {
                    line[x] = smoothColour(gx, gy);
                    continue;
                }
                column = static_cast<int>(gx);
                row = static_cast<int>(gy);
            } else {
                column = gridColumn[static_cast<std::size_t>(x)];
                row = rowIndex;
                if (column < 0 || row < 0) {
                    line[x] = kOpaque | kOutside;
                    continue;
                }
                if (smooth) {
                    line[x] = smoothColour(gridX[static_cast<std::size_t>(x)], rowY);
                    continue;
                }
            }
            if (column == lastColumn && row == lastRow) {
                line[x] = lastColour;
                continue;
            }
            const uint32_t colour = nearestColour(column, row, positions.azimuthal() ? std::cos(lat * kPi / 180) : rowCos);
            line[x] = colour;
            lastColumn = column;
            lastRow = row;
            lastColour = colour;
        }
    }
    return true;
}

void azimuthalPixelRows(const MapView& view, int width, int height,
                        const std::function<void(int y, const double* lat, const double* lon)>& row) {
    if (width < 1 || height < 1 || view.projection != kAzimuthal) return;
    const PixelPositions positions(width, height, &view);
    std::vector<double> lat(static_cast<std::size_t>(width)), lon(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (!positions.at(x, y, &lat[static_cast<std::size_t>(x)], &lon[static_cast<std::size_t>(x)]))
                lat[static_cast<std::size_t>(x)] = lon[static_cast<std::size_t>(x)] = NAN;
        }
        row(y, lat.data(), lon.data());
    }
}

}  // namespace bearfix
