#include "session/probability_picture.h"

#include <algorithm>
#include <cmath>

namespace bearfix {

namespace {

// matplotlib's viridis at 0, 1/8, ..., 1.
constexpr uint8_t kRamp[9][3] = {{68, 1, 84},    {71, 44, 122},  {59, 81, 139},  {44, 113, 142}, {33, 144, 141},
                                 {39, 173, 129}, {92, 200, 99},  {170, 220, 50}, {253, 231, 37}};
constexpr int kEdgeSamples = 64;  // points along each edge of the grid when finding its pixels
constexpr int kLattice = 4;       // pixels between positions projected back exactly

using Point = ProbabilityPicture::Point;

std::vector<std::vector<Point>> outlines(const HdrRegion& region, const MapView& view) {
    std::vector<std::vector<Point>> out;
    for (const auto& ring : region.polygons) {
        std::vector<Point> run;
        for (std::size_t i = 0; i <= ring.size(); ++i) {
            const GeoPosition& p = ring[i % ring.size()];
            Point q;
            const bool shown = geo_to_pixel(view, p.lon, p.lat, &q.x, &q.y) && std::isfinite(q.x) && std::isfinite(q.y);
            // A step of half the picture is the line leaving the earth on one
            // side and coming back on the other.
            if (!shown || (!run.empty() && std::fabs(q.x - run.back().x) > view.width / 2)) {
                if (run.size() > 1) out.push_back(std::move(run));
                run.clear();
            }
            if (shown) run.push_back(q);
        }
        if (run.size() > 1) out.push_back(std::move(run));
    }
    return out;
}

}  // namespace

uint32_t probabilityColour(double density, double low, double peak) {
    if (!(density >= low) || !(low > 0.0)) return 0;
    const double s = peak > low ? std::clamp(std::log(density / low) / std::log(peak / low), 0.0, 1.0) : 1.0;
    const double at = s * 8.0;
    const int i = std::min(7, static_cast<int>(at));
    const double f = at - i;
    uint32_t colour = kProbabilityAlpha << 24;
    for (int c = 0; c < 3; ++c) {
        const double v = kRamp[i][c] + f * (kRamp[i + 1][c] - kRamp[i][c]);
        colour |= static_cast<uint32_t>(std::lround(v * kProbabilityAlpha / 255.0)) << (16 - 8 * c);
    }
    return colour;
}

void paintProbability(const DensityGrid& g, const HdrRegion& region50, const HdrRegion& region95, const MapView& view,
                      ProbabilityPicture& picture) {
    picture.width = static_cast<int>(view.width);
    picture.height = static_cast<int>(view.height);
    picture.pixels.assign(static_cast<std::size_t>(picture.width) * picture.height, 0);
    picture.outline50.clear();
    picture.outline95.clear();
    if (g.empty() || !(region95.threshold > 0.0)) return;
    const double low = region95.threshold / 10.0;
    const double peak = *std::max_element(g.density.begin(), g.density.end());

    // The pixels the grid covers: the box round its projected edges (all of
    // the picture when an edge does not show; a grid a cylindric map shows
    // at both its sides has edges at both).
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    bool whole = false;
    for (int k = 0; k <= kEdgeSamples && !whole; ++k) {
        const double f = static_cast<double>(k) / kEdgeSamples;
        const double west = g.west, east = g.west + g.columns * g.cellLonDeg;
        const double north = g.north, south = g.north - g.rows * g.cellLatDeg;
        const double lon = west + f * (east - west), lat = south + f * (north - south);
        for (const auto& [x0, y0] : {std::pair{lon, north}, {lon, south}, {west, lat}, {east, lat}}) {
            double x, y;
            if (!geo_to_pixel(view, x0 * kDegToRad, y0 * kDegToRad, &x, &y) || !std::isfinite(x)) {
                whole = true;
                break;
            }
            left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    if (whole) {
        left = top = 0;
        right = view.width;
        bottom = view.height;
    }
    const int x0 = std::clamp(static_cast<int>(std::floor(left)) - 1, 0, picture.width);
    const int x1 = std::clamp(static_cast<int>(std::ceil(right)) + 1, 0, picture.width);
    const int y0 = std::clamp(static_cast<int>(std::floor(top)) - 1, 0, picture.height);
    const int y1 = std::clamp(static_cast<int>(std::ceil(bottom)) + 1, 0, picture.height);

    // Each cell's colour once; the cell under each pixel from its position
    // on a lattice of every kLattice-th pixel, in between interpolated, but
    // found pixel by pixel in a block whose corners do not all lie on the
    // earth or that spans the grid's seam in longitude.
    std::vector<uint32_t> colours(g.density.size());
    for (std::size_t i = 0; i < colours.size(); ++i) colours[i] = probabilityColour(g.density[i], low, peak);
    const auto cellAt = [&g, &view](double x, double y, double* cx, double* cy) {
        double lon, lat;
        if (!screen_to_geo(view, static_cast<int>(x), static_cast<int>(y), &lon, &lat)) return false;
        double degrees = lon * kRadToDeg;
        while (degrees < g.west) degrees += 360.0;
        while (degrees >= g.west + 360.0) degrees -= 360.0;
        *cx = (degrees - g.west) / g.cellLonDeg;
        *cy = (g.north - lat * kRadToDeg) / g.cellLatDeg;
        return true;
    };
    const auto paint = [&](uint32_t* pixel, double cx, double cy) {
        if (cx >= 0.0 && cy >= 0.0 && cx < g.columns && cy < g.rows)
            *pixel = colours[static_cast<std::size_t>(cy) * g.columns + static_cast<std::size_t>(cx)];
    };
    const int nx = (x1 - x0 + kLattice - 1) / kLattice + 1, ny = (y1 - y0 + kLattice - 1) / kLattice + 1;
    std::vector<double> latticeX(static_cast<std::size_t>(nx) * ny), latticeY(latticeX.size());
    std::vector<uint8_t> onEarth(latticeX.size());
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const std::size_t k = static_cast<std::size_t>(j) * nx + i;
            onEarth[k] = cellAt(x0 + i * kLattice, y0 + j * kLattice, &latticeX[k], &latticeY[k]);
        }
    for (int j = 0; j + 1 < ny; ++j) {
        for (int i = 0; i + 1 < nx; ++i) {
            const std::size_t k[4] = {static_cast<std::size_t>(j) * nx + i, static_cast<std::size_t>(j) * nx + i + 1,
                                      static_cast<std::size_t>(j + 1) * nx + i, static_cast<std::size_t>(j + 1) * nx + i + 1};
            double lowX = latticeX[k[0]], highX = lowX;
            bool smooth = true;
            for (std::size_t c : k) {
                smooth = smooth && onEarth[c];
                lowX = std::min(lowX, latticeX[c]);
                highX = std::max(highX, latticeX[c]);
            }
            smooth = smooth && highX - lowX < g.columns / 2.0;
            for (int y = y0 + j * kLattice; y < std::min(y1, y0 + (j + 1) * kLattice); ++y) {
                uint32_t* row = &picture.pixels[static_cast<std::size_t>(y) * picture.width];
                const double v = static_cast<double>(y - y0 - j * kLattice) / kLattice;
                for (int x = x0 + i * kLattice; x < std::min(x1, x0 + (i + 1) * kLattice); ++x) {
                    double cx, cy;
                    if (smooth) {
                        const double u = static_cast<double>(x - x0 - i * kLattice) / kLattice;
                        cx = (1 - v) * ((1 - u) * latticeX[k[0]] + u * latticeX[k[1]]) + v * ((1 - u) * latticeX[k[2]] + u * latticeX[k[3]]);
                        cy = (1 - v) * ((1 - u) * latticeY[k[0]] + u * latticeY[k[1]]) + v * ((1 - u) * latticeY[k[2]] + u * latticeY[k[3]]);
                    } else if (!cellAt(x, y, &cx, &cy)) {
                        continue;
                    }
                    paint(&row[x], cx, cy);
                }
            }
        }
    }
    picture.outline50 = outlines(region50, view);
    picture.outline95 = outlines(region95, view);
}

}  // namespace bearfix
