#include "map/topography.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

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
// exactly projected points every few pixels.
class PixelPositions {
public:
    PixelPositions(int width, int height, const MapView* view) {
        if (view && view->projection == kAzimuthal) {
            view_ = view;
            const int gx = (width + kCell - 1) / kCell + 1, gy = (height + kCell - 1) / kCell + 1;
            grid_.resize(static_cast<std::size_t>(gx) * gy);
            gridWidth_ = gx;
            for (int j = 0; j < gy; ++j)
                for (int i = 0; i < gx; ++i) grid_[static_cast<std::size_t>(j) * gx + i] = exact(i * kCell, j * kCell);
        }
    }

    bool azimuthal() const { return view_ != nullptr; }

    // The box of all positions on the picture (azimuthal maps).
    void bounds(double* south, double* north, double* west, double* east) const {
        *south = 90, *north = -90, *west = 1e9, *east = -1e9;
        const double lon0 = view_->center.lon * 180 / kPi;
        for (const Position& p : grid_) {
            if (!p.ok) continue;
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
        const Position& a = cell(i, j);
        const Position& b = cell(i + 1, j);
        const Position& c = cell(i, j + 1);
        const Position& d = cell(i + 1, j + 1);
        const bool smooth = a.ok && b.ok && c.ok && d.ok &&
                            std::max({a.dlon, b.dlon, c.dlon, d.dlon}) - std::min({a.dlon, b.dlon, c.dlon, d.dlon}) < 20;
        Position p;
        if (smooth) {
            const double fx = (x - i * kCell) / double(kCell), fy = (y - j * kCell) / double(kCell);
            p.lat = (a.lat * (1 - fx) + b.lat * fx) * (1 - fy) + (c.lat * (1 - fx) + d.lat * fx) * fy;
            p.dlon = (a.dlon * (1 - fx) + b.dlon * fx) * (1 - fy) + (c.dlon * (1 - fx) + d.dlon * fx) * fy;
            p.ok = true;
        } else {
            p = exact(x, y);  // near a pole or the disc's edge
        }
        *lat = p.lat;
        *lon = view_->center.lon * 180 / kPi + p.dlon;
        return p.ok;
    }

private:
    static constexpr int kCell = 8;
    struct Position {
        double lat = 0, dlon = 0;  // degrees; longitude east of the centre, -180..180
        bool ok = false;
    };

    Position exact(int x, int y) const {
        Position p;
        double lon, lat;
        if (!azimuthal_inverse(*view_, x, y, &lon, &lat)) return p;
        double d = lon - view_->center.lon;
        d -= 2 * kPi * std::round(d / (2 * kPi));
        return {lat * 180 / kPi, d * 180 / kPi, true};
    }
    const Position& cell(int i, int j) const { return grid_[static_cast<std::size_t>(j) * gridWidth_ + i]; }

    const MapView* view_ = nullptr;
    std::vector<Position> grid_;
    int gridWidth_ = 0;
};

}  // namespace

bool renderTopography(QImage& bitmap, ElevationCache& cache, const TopoSettings& settings, double minElevation,
                      double maxElevation, double south, double north, double west, double east,
                      const ElevationPalette* palette, const MapView* view) {
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
    if (north > south && east > west) cache.ensureCoverage(south, north, west, east);

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

    // For the cylindric map each column has one grid column, each row one grid row.
    std::vector<int> gridColumn(static_cast<std::size_t>(w), -1);
    if (!positions.azimuthal()) {
        const double lonStep = (east - west) / (w - 1);
        for (int x = 0; x < w; ++x) {
            int column, row;
            gridColumn[static_cast<std::size_t>(x)] =
                cache.positionOf(cache.north, west + x * lonStep, &column, &row) ? column : -1;
        }
    }

    const int16_t* grid = cache.data();
    const int columns = cache.columns, rows = cache.rows;
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(bitmap.scanLine(y));
        const double rowLat = north - y / double(h - 1) * (north - south);
        const double rowCos = std::cos(rowLat * kPi / 180);
        int rowIndex = -1, column0;
        if (!positions.azimuthal()) cache.positionOf(rowLat, cache.west, &column0, &rowIndex);
        // Neighbouring pixels often share a grid sample; keep the last result.
        int lastColumn = -1, lastRow = -1;
        uint32_t lastColour = 0;
        for (int x = 0; x < w; ++x) {
            int column, row;
            double c = rowCos;
            if (positions.azimuthal()) {
                double lat, lon;
                if (!positions.at(x, y, &lat, &lon) || !cache.positionOf(lat, lon, &column, &row)) {
                    line[x] = kOpaque | kOutside;
                    continue;
                }
                c = std::cos(lat * kPi / 180);
            } else {
                column = gridColumn[static_cast<std::size_t>(x)];
                row = rowIndex;
                if (column < 0 || row < 0) {
                    line[x] = kOpaque | kOutside;
                    continue;
                }
            }
            if (column == lastColumn && row == lastRow) {
                line[x] = lastColour;
                continue;
            }
            const int16_t* here = grid + static_cast<std::ptrdiff_t>(row) * columns + column;
            const int16_t s = *here;
            uint32_t colour;
            if (s == kElevationOcean || s == 0) {
                colour = kWater;
            } else if (s == kElevationNotLoaded) {
                colour = kNotLoaded;
            } else if (s == -28) {
                colour = kLowWater;
            } else {
                const double v = std::clamp((s - minElevation) * scale, 0.0, 255.0);
                colour = colours[static_cast<std::size_t>(v)];
            }
            colour |= kOpaque;
            // The samples one row south and one column east; the grid's south
            // and east edges stay unshaded.
            if (settings.shading && s != kElevationNotLoaded && row + 1 < rows && column + 1 < columns) {
                bool usable = true;
                const double z = neighbour(s, &usable), zS = neighbour(here[columns], &usable),
                             zE = neighbour(here[1], &usable);
                if (usable) {
                    const double n0 = d * (zE - z) * k, n1 = d * c * (zS - z) * k, n2 = d * d * c;
                    const double length = std::sqrt(n0 * n0 + n1 * n1 + n2 * n2);
                    double b = n0 * light[0] + n1 * light[1] + n2 * light[2];
                    if (length > 0) b /= length;
                    colour = scalePixel(colour, b > 0 ? b : -0.2 * b);
                }
            }
            line[x] = colour;
            lastColumn = column;
            lastRow = row;
            lastColour = colour;
        }
    }
    return true;
}

}  // namespace bearfix
