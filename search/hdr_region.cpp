#include "search/hdr_region.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "support/number_format.h"

namespace bearfix {

namespace {

// Densities are binned by their float bits (monotonic for positive floats):
// 2^18 units are 1/32 of a factor of two; 2880 bins reach 2^-90 of the
// highest density, below which no mass counts.
constexpr int kBinShift = 18;
constexpr int kBins = 2880;
// Parts holding less are specks (a bearing's narrow wedge where it leaves its
// station, seen by a cell's centre): counted in the area, not as parts.
constexpr double kMinPartProbability = 0.01;

int binOf(uint32_t topBits, float d) {
    if (!(d > 0.0f)) return -1;
    const uint32_t bits = std::bit_cast<uint32_t>(d);
    const uint32_t b = (topBits - bits) >> kBinShift;
    return b < static_cast<uint32_t>(kBins) ? static_cast<int>(b) : -1;
}

float thresholdFor(const DensityGrid& g, double probability) {
    float top = 0.0f;
    for (float d : g.density) top = std::max(top, d);
    if (!(top > 0.0f)) return 0.0f;
    const uint32_t topBits = std::bit_cast<uint32_t>(top);
    std::vector<double> binMass(kBins, 0.0);
    for (int row = 0; row < g.rows; ++row) {
        const double area = g.cellAreaKm2[static_cast<std::size_t>(row)];
        for (int column = 0; column < g.columns; ++column) {
            const float d = g.at(column, row);
            const int b = binOf(topBits, d);
            if (b >= 0) binMass[static_cast<std::size_t>(b)] += d * area;
        }
    }
    double before = 0.0;
    int bin = 0;
    for (; bin < kBins; ++bin) {
        if (before + binMass[static_cast<std::size_t>(bin)] >= probability) break;
        before += binMass[static_cast<std::size_t>(bin)];
    }
    if (bin == kBins) {  // the probability is not reached: every cell with mass
        float lowest = top;
        for (float d : g.density)
            if (binOf(topBits, d) >= 0) lowest = std::min(lowest, d);
        return lowest;
    }
    // Within the bin, cell by cell from the highest density.
    std::vector<std::pair<float, double>> cells;
    for (int row = 0; row < g.rows; ++row) {
        const double area = g.cellAreaKm2[static_cast<std::size_t>(row)];
        for (int column = 0; column < g.columns; ++column) {
            const float d = g.at(column, row);
            if (binOf(topBits, d) == bin) cells.emplace_back(d, d * area);
        }
    }
    std::sort(cells.begin(), cells.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [d, mass] : cells) {
        before += mass;
        if (before >= probability) return d;
    }
    return cells.empty() ? top : cells.back().first;
}

// Marching squares over the cells' centres, with a ring of empty cells
// round the grid so that every outline closes. Corner (x, y) is the centre
// of cell (x, y), x in -1..columns, y in -1..rows (y southwards). Each edge
// between two neighbouring corners has an id; an outline runs from edge to
// edge with the inside on its right: clockwise round the inside.
class Tracer {
public:
    Tracer(const DensityGrid& g, float threshold) : g_(g), t_(threshold), stride_(g.columns + 2) {
        next_.assign(static_cast<std::size_t>(g.rows + 2) * stride_ * 2, -1);
    }

    struct Ring {
        std::vector<std::array<double, 2>> points;
        int insideColumn, insideRow;  // a cell the ring goes round
    };

    std::vector<Ring> outerRings() {
        for (int y = -1; y < g_.rows; ++y)
            for (int x = -1; x < g_.columns; ++x) square(x, y);
        std::vector<Ring> rings;
        for (std::size_t start = 0; start < next_.size(); ++start) {
            if (next_[start] < 0) continue;
            const auto [insideColumn, insideRow] = insideOf(static_cast<int32_t>(start));
            std::vector<std::array<double, 2>> ring;
            double area2 = 0.0;
            for (int32_t e = static_cast<int32_t>(start); next_[static_cast<std::size_t>(e)] >= 0;) {
                ring.push_back(pointOf(e));
                const int32_t following = next_[static_cast<std::size_t>(e)];
                next_[static_cast<std::size_t>(e)] = -1;
                e = following;
            }
            for (std::size_t i = 0; i < ring.size(); ++i) {
                const auto& a = ring[i];
                const auto& b = ring[(i + 1) % ring.size()];
                area2 += b[0] * a[1] - a[0] * b[1];  // with north up: x east, -y north
            }
            // Traced clockwise round the inside: outer rings have a
            // negative area here, and are turned round.
            if (area2 < 0.0 && ring.size() >= 3) {
                std::reverse(ring.begin(), ring.end());
                rings.push_back({std::move(ring), insideColumn, insideRow});
            }
        }
        return rings;
    }

private:
    float value(int x, int y) const {
        return x < 0 || y < 0 || x >= g_.columns || y >= g_.rows ? 0.0f : g_.at(x, y);
    }
    bool in(int x, int y) const { return value(x, y) >= t_; }
    int32_t horizontal(int x, int y) const { return ((y + 1) * stride_ + (x + 1)) * 2; }
    int32_t vertical(int x, int y) const { return ((y + 1) * stride_ + (x + 1)) * 2 + 1; }

    // The corner of an edge that is inside.
    std::pair<int, int> insideOf(int32_t id) const {
        const int cell = id / 2, x = cell % stride_ - 1, y = cell / stride_ - 1;
        const bool isVertical = id % 2 == 1;
        return in(x, y) ? std::pair(x, y) : isVertical ? std::pair(x, y + 1) : std::pair(x + 1, y);
    }

    std::array<double, 2> pointOf(int32_t id) const {
        const int cell = id / 2, x = cell % stride_ - 1, y = cell / stride_ - 1;
        const bool isVertical = id % 2 == 1;
        const int x1 = isVertical ? x : x + 1, y1 = isVertical ? y + 1 : y;
        const double v0 = value(x, y), v1 = value(x1, y1);
        const double f = v1 != v0 ? std::clamp((t_ - v0) / (v1 - v0), 0.0, 1.0) : 0.5;
        return {x + f * (x1 - x), y + f * (y1 - y)};
    }

    void square(int x, int y) {
        // Corners and edges clockwise (y down): TL, TR, BR, BL; top, right, bottom, left.
        const std::array<bool, 4> corner = {in(x, y), in(x + 1, y), in(x + 1, y + 1), in(x, y + 1)};
        if (corner[0] == corner[1] && corner[1] == corner[2] && corner[2] == corner[3]) return;
        const std::array<int32_t, 4> edge = {horizontal(x, y), vertical(x + 1, y), horizontal(x, y + 1), vertical(x, y)};
        // An edge leaving the inside ends a run of inside corners; it is
        // joined to the next edge clockwise that enters the inside (which
        // joins the inside corners of a saddle).
        for (int k = 0; k < 4; ++k) {
            if (!(corner[static_cast<std::size_t>(k)] && !corner[static_cast<std::size_t>((k + 1) % 4)])) continue;
            for (int step = 1; step < 4; ++step) {
                const int m = (k + step) % 4;
                if (!corner[static_cast<std::size_t>(m)] && corner[static_cast<std::size_t>((m + 1) % 4)]) {
                    next_[static_cast<std::size_t>(edge[static_cast<std::size_t>(k)])] = edge[static_cast<std::size_t>(m)];
                    break;
                }
            }
        }
    }

    const DensityGrid& g_;
    float t_;
    int stride_;
    std::vector<int32_t> next_;
};

// The parts: the cells at or above the threshold that touch, also corner to
// corner (as the outlines join a saddle); each cell's part and each part's
// probability.
struct Parts {
    std::vector<int32_t> label;  // -1 outside
    std::vector<double> mass;
};

Parts partsOf(const DensityGrid& g, float t) {
    Parts parts;
    parts.label.assign(g.density.size(), -1);
    std::vector<int32_t> stack;
    for (std::size_t start = 0; start < g.density.size(); ++start) {
        if (parts.label[start] >= 0 || !(g.density[start] >= t)) continue;
        const auto id = static_cast<int32_t>(parts.mass.size());
        double mass = 0.0;
        parts.label[start] = id;
        stack.push_back(static_cast<int32_t>(start));
        while (!stack.empty()) {
            const int32_t i = stack.back();
            stack.pop_back();
            const int x = i % g.columns, y = i / g.columns;
            mass += g.density[static_cast<std::size_t>(i)] * g.cellAreaKm2[static_cast<std::size_t>(y)];
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= g.columns || ny >= g.rows) continue;
                    const std::size_t n = static_cast<std::size_t>(ny) * g.columns + nx;
                    if (parts.label[n] >= 0 || !(g.density[n] >= t)) continue;
                    parts.label[n] = id;
                    stack.push_back(static_cast<int32_t>(n));
                }
            }
        }
        parts.mass.push_back(mass);
    }
    return parts;
}

}  // namespace

HdrRegion highestDensityRegion(const DensityGrid& g, double probability) {
    HdrRegion region;
    region.probability = probability;
    if (g.empty()) return region;
    const float t = thresholdFor(g, probability);
    if (!(t > 0.0f)) return region;
    region.threshold = t;
    for (int row = 0; row < g.rows; ++row) {
        int inside = 0;
        for (int column = 0; column < g.columns; ++column) inside += g.at(column, row) >= t;
        region.areaKm2 += inside * g.cellAreaKm2[static_cast<std::size_t>(row)];
    }
    const Parts parts = partsOf(g, t);
    for (const auto& ring : Tracer(g, t).outerRings()) {
        const int32_t part = parts.label[static_cast<std::size_t>(ring.insideRow) * g.columns + ring.insideColumn];
        if (part < 0 || parts.mass[static_cast<std::size_t>(part)] < kMinPartProbability) continue;
        std::vector<GeoPosition> polygon;
        polygon.reserve(ring.points.size());
        for (const auto& [x, y] : ring.points) {
            double lon = g.west + (x + 0.5) * g.cellLonDeg;
            lon = std::fmod(lon + 540.0, 360.0) - 180.0;
            polygon.push_back({lon * kDegToRad, (g.north - (y + 0.5) * g.cellLatDeg) * kDegToRad});
        }
        region.polygons.push_back(std::move(polygon));
    }
    region.parts = static_cast<int>(region.polygons.size());
    return region;
}

bool insideRegion(const DensityGrid& grid, const HdrRegion& region, GeoPosition p) {
    int column, row;
    return region.threshold > 0.0 && grid.cellOf(p, &column, &row) && grid.at(column, row) >= region.threshold;
}

std::string formatRegion(const HdrRegion& region) {
    const double a = region.areaKm2;
    const char* pattern = a >= 100 ? "####0" : a >= 10 ? "###0.0" : a >= 1 ? "##0.00" : "#0.000";
    std::string out = formatPicture(a, pattern) + " km\xB2";
    if (region.parts > 1) out += ", " + std::to_string(region.parts) + " parts";
    return out;
}

}  // namespace bearfix
