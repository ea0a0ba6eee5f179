#include "search/posterior.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

#include "geo/great_circle.h"
#include "search/density_kernel.h"
#include "search/viewshed.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kKmPerDegree = kEarthRadiusKm * kPi / 180.0;
constexpr double kFirstBoxFactor = 2.0;  // times the 95 % ellipse
constexpr int kBandFraction = 16;        // the edge band: this part of the grid on each side
constexpr int kMinCellsPerSide = 16;
constexpr int kMaxGrowth = 16;
constexpr int kMaxAmbiguousCombinations = 6;  // ambiguous bearings whose every flip is tried
constexpr double kSeedMisfitSpan = 40.0;      // seeds this much above the best are left out
constexpr int kMaxRefinedReach = 24;          // cells round a station averaged over the cell
constexpr int kSubsamples = 8;
constexpr std::size_t kMaxRefined = 16;
constexpr std::size_t kMaxRefinedLines = 64;

using Vec = std::array<double, 3>;

double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Vec unitVector(GeoPosition p) {
    return {std::cos(p.lat) * std::cos(p.lon), std::cos(p.lat) * std::sin(p.lon), std::sin(p.lat)};
}

// A bearing as in multi_fix.cpp: t along the line at the station, r 90
// degrees clockwise of it; atan2(X.r, X.t) is brg(X) - theta.
struct Line {
    Vec t, r;
    double invSigma;
    bool ambiguous;
    GeoPosition station;
};

Line lineOf(const Bearing& b, bool ambiguous) {
    const double slat = std::sin(b.position.lat), clat = std::cos(b.position.lat);
    const double slon = std::sin(b.position.lon), clon = std::cos(b.position.lon);
    const double theta = b.bearingDeg * kDegToRad, sth = std::sin(theta), cth = std::cos(theta);
    const Vec north = {-slat * clon, -slat * slon, clat}, east = {-slon, clon, 0.0};
    Line line;
    for (int i = 0; i < 3; ++i) {
        line.t[i] = cth * north[i] + sth * east[i];
        line.r[i] = -sth * north[i] + cth * east[i];
    }
    line.invSigma = 1.0 / (bearingSigmaDeg(b.toleranceDeg) * kDegToRad);
    line.ambiguous = ambiguous;
    line.station = b.position;
    return line;
}

bool usable(const Bearing& b) {
    return b.enabled && std::isfinite(b.position.lat) && std::isfinite(b.position.lon) &&
           std::fabs(b.position.lat) <= kPi / 2 && std::isfinite(b.bearingDeg) && std::isfinite(b.toleranceDeg) &&
           b.toleranceDeg >= 0.0;
}

std::vector<Line> linesOf(std::span<const Bearing> bearings, const DensityOptions& options) {
    std::vector<Line> lines;
    for (std::size_t i = 0; i < bearings.size(); ++i) {
        if (!usable(bearings[i])) continue;
        lines.push_back(lineOf(bearings[i], i < options.ambiguous.size() && options.ambiguous[i]));
    }
    return lines;
}

double lineCost(const Line& line, const Vec& x, bool robust) {
    const double r = std::atan2(dot(x, line.r), dot(x, line.t));
    const double c1 = bearingCost(r * line.invSigma, robust);
    if (!line.ambiguous) return c1;
    const double c2 = bearingCost((r - std::copysign(kPi, r)) * line.invSigma, robust);
    return std::min(c1, c2) + 2.0 * std::numbers::ln2 - 2.0 * std::log1p(std::exp(-0.5 * std::fabs(c1 - c2)));
}

double misfit(const std::vector<Line>& lines, bool robust, const Vec& x) {
    double s = 0.0;
    for (const Line& line : lines) s += lineCost(line, x, robust);
    return s;
}

// A box of latitudes and longitudes, degrees; east may exceed 180.
struct Box {
    double south, north, west, east;
};

// Twice the 95 % ellipse's box round a fix, at least 50 m each way.
Box ellipseBox(const FixResult& f) {
    const double lat = f.x.lat * kRadToDeg, lon = f.x.lon * kRadToDeg;
    const double east = std::max(0.05, kFirstBoxFactor * std::sqrt(kChiSquare95 * f.covEastEast));
    const double north = std::max(0.05, kFirstBoxFactor * std::sqrt(kChiSquare95 * f.covNorthNorth));
    const double dLat = north / kKmPerDegree;
    const double dLon = east / (kKmPerDegree * std::max(std::cos(f.x.lat), 0.01));
    return {lat - dLat, lat + dLat, lon - dLon, lon + dLon};
}

// The box clamped to the poles and to kMaxReachKm round its middle.
Box limited(Box b, double midLat, double midLon) {
    const double reachLat = kMaxReachKm / kKmPerDegree;
    const double reachLon = std::min(179.0, kMaxReachKm / (kKmPerDegree * std::max(std::cos(midLat * kDegToRad), 0.01)));
    b.south = std::max({b.south, midLat - reachLat, -90.0});
    b.north = std::min({b.north, midLat + reachLat, 90.0});
    b.west = std::max(b.west, midLon - reachLon);
    b.east = std::min(b.east, midLon + reachLon);
    return b;
}

// The grid's geometry for a box and about `cells` cells, nearly square on
// the ground at its middle latitude.
DensityGrid gridFor(const Box& b, long cells) {
    DensityGrid g;
    const double midLat = (b.south + b.north) / 2.0;
    const double heightKm = (b.north - b.south) * kKmPerDegree;
    const double widthKm = (b.east - b.west) * kKmPerDegree * std::max(std::cos(midLat * kDegToRad), 0.01);
    const double cellKm = std::sqrt(widthKm * heightKm / static_cast<double>(cells));
    g.columns = std::clamp(static_cast<int>(std::ceil(widthKm / cellKm)), kMinCellsPerSide, 1 << 14);
    g.rows = std::clamp(static_cast<int>(std::ceil(heightKm / cellKm)), kMinCellsPerSide, 1 << 14);
    g.west = b.west;
    g.north = b.north;
    g.cellLonDeg = (b.east - b.west) / g.columns;
    g.cellLatDeg = (b.north - b.south) / g.rows;
    g.cellAreaKm2.resize(static_cast<std::size_t>(g.rows));
    const double r2 = kEarthRadiusKm * kEarthRadiusKm, dLon = g.cellLonDeg * kDegToRad;
    for (int row = 0; row < g.rows; ++row) {
        const double top = (g.north - row * g.cellLatDeg) * kDegToRad, bottom = top - g.cellLatDeg * kDegToRad;
        g.cellAreaKm2[static_cast<std::size_t>(row)] = r2 * dLon * (std::sin(top) - std::sin(bottom));
    }
    return g;
}

// Near its station a bearing's wedge is narrower than a cell, and a cell's
// centre may or may not fall in it: cells closer to a station than about
// 1 / (4 sigma) cells (at least 2, at most kMaxRefinedReach) get the mean
// likelihood of kSubsamples^2 points spread through each. For the first
// kMaxRefined stations inside the grid, and only with at most
// kMaxRefinedLines bearings (with more the map is too narrow to hold them).
void refineNearStations(const std::vector<Line>& lines, const DensityGrid& g, bool robust,
                        std::vector<float>& misfitValues) {
    if (lines.size() > kMaxRefinedLines) return;
    std::vector<std::pair<int, int>> done;
    for (const Line& station : lines) {
        int column, row;
        if (done.size() >= kMaxRefined || !g.cellOf(station.station, &column, &row)) continue;
        if (std::find(done.begin(), done.end(), std::pair(column, row)) != done.end()) continue;
        done.emplace_back(column, row);
        const int reach = static_cast<int>(std::clamp(std::ceil(0.25 * station.invSigma), 2.0, double(kMaxRefinedReach)));
        for (int r = std::max(0, row - reach); r <= std::min(g.rows - 1, row + reach); ++r) {
            for (int c = std::max(0, column - reach); c <= std::min(g.columns - 1, column + reach); ++c) {
                std::array<double, kSubsamples * kSubsamples> values;
                std::size_t k = 0;
                for (int a = 0; a < kSubsamples; ++a) {
                    for (int b = 0; b < kSubsamples; ++b) {
                        const double lat = g.north - (r + (a + 0.5) / kSubsamples) * g.cellLatDeg;
                        const double lon = g.west + (c + (b + 0.5) / kSubsamples) * g.cellLonDeg;
                        values[k++] = misfit(lines, robust, unitVector({lon * kDegToRad, lat * kDegToRad}));
                    }
                }
                const double lowest = *std::min_element(values.begin(), values.end());
                double sum = 0.0;
                for (double v : values) sum += std::exp(-0.5 * (v - lowest));
                misfitValues[static_cast<std::size_t>(r) * g.columns + c] =
                    static_cast<float>(lowest - 2.0 * std::log(sum / static_cast<double>(values.size())));
            }
        }
    }
}

// -2 ln of the likelihood at every cell's centre (near stations, its mean
// over the cell), terrain weights included.
std::vector<float> misfitGrid(const std::vector<Line>& lines, const DensityGrid& g, const DensityOptions& options) {
    const int columns = g.columns;
    const double midLon = (g.west + columns * g.cellLonDeg / 2.0) * kDegToRad;
    std::vector<float> gamma(static_cast<std::size_t>(columns)), sine(static_cast<std::size_t>(columns));
    for (int j = 0; j < columns; ++j) {
        const double dl = (g.west + (j + 0.5) * g.cellLonDeg) * kDegToRad - midLon;
        const double half = std::sin(dl / 2.0);
        gamma[static_cast<std::size_t>(j)] = static_cast<float>(-2.0 * half * half);  // cos(dl) - 1
        sine[static_cast<std::size_t>(j)] = static_cast<float>(std::sin(dl));
    }
    // The lines turned by -midLon about the axis, so that the grid's middle
    // meridian is 0.
    const double cm = std::cos(midLon), sm = std::sin(midLon);
    std::vector<Line> turned = lines;
    for (Line& l : turned) {
        for (Vec* v : {&l.t, &l.r}) {
            const Vec w = *v;
            *v = {w[0] * cm + w[1] * sm, -w[0] * sm + w[1] * cm, w[2]};
        }
    }
    std::vector<float> out(static_cast<std::size_t>(columns) * g.rows, 0.0f);
    for (int row = 0; row < g.rows; ++row) {
        const double lat = (g.north - (row + 0.5) * g.cellLatDeg) * kDegToRad;
        const double cl = std::cos(lat), sl = std::sin(lat);
        float* misfitRow = &out[static_cast<std::size_t>(row) * columns];
        for (const Line& l : turned) {
            const density::RowBearing b{static_cast<float>(cl * l.r[0] + sl * l.r[2]), static_cast<float>(cl * l.r[0]),
                                        static_cast<float>(cl * l.r[1]),           static_cast<float>(cl * l.t[0] + sl * l.t[2]),
                                        static_cast<float>(cl * l.t[0]),           static_cast<float>(cl * l.t[1]),
                                        static_cast<float>(l.invSigma)};
            if (l.ambiguous) {
                density::addAmbiguousBearing(misfitRow, gamma.data(), sine.data(), columns, b, options.robust);
            } else {
                density::addBearing(misfitRow, gamma.data(), sine.data(), columns, b, options.robust);
            }
        }
    }
    refineNearStations(lines, g, options.robust, out);
    if (options.viewsheds.empty() || !(options.hiddenWeight < 1.0)) return out;
    const float penalty = options.hiddenWeight > 0.0 ? static_cast<float>(-2.0 * std::log(options.hiddenWeight))
                                                     : std::numeric_limits<float>::infinity();
    for (int row = 0; row < g.rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const GeoPosition p = g.centreOf(column, row);
            for (const Viewshed& v : options.viewsheds) {
                bool seen;
                if (v.covers(p, &seen) && !seen) out[static_cast<std::size_t>(row) * columns + column] += penalty;
            }
        }
    }
    return out;
}

// Fills the density (per km²) from the misfit; the mass in the edge bands
// of each side (west, east, north, south) and of them all.
struct EdgeMass {
    std::array<double, 4> side{};
    double total = 0.0;
};

EdgeMass fillDensity(DensityGrid& g, const std::vector<float>& misfitValues) {
    float lowest = std::numeric_limits<float>::infinity();
    for (float v : misfitValues) lowest = std::min(lowest, v);
    g.density.assign(misfitValues.size(), 0.0f);
    EdgeMass edge;
    if (!std::isfinite(lowest)) return edge;
    double total = 0.0;
    const int bandColumns = std::max(1, g.columns / kBandFraction), bandRows = std::max(1, g.rows / kBandFraction);
    std::array<double, 4> side{};
    double band = 0.0;
    for (int row = 0; row < g.rows; ++row) {
        const double area = g.cellAreaKm2[static_cast<std::size_t>(row)];
        double rowMass = 0.0, west = 0.0, east = 0.0;
        for (int column = 0; column < g.columns; ++column) {
            const std::size_t i = static_cast<std::size_t>(row) * g.columns + column;
            const float d = std::exp(-0.5f * (misfitValues[i] - lowest));
            g.density[i] = d;
            rowMass += d;
            if (column < bandColumns) west += d;
            if (column >= g.columns - bandColumns) east += d;
        }
        rowMass *= area;
        total += rowMass;
        side[0] += west * area;
        side[1] += east * area;
        const bool northBand = row < bandRows, southBand = row >= g.rows - bandRows;
        if (northBand) side[2] += rowMass;
        if (southBand) side[3] += rowMass;
        band += northBand || southBand ? rowMass : (west + east) * area;
    }
    if (!(total > 0.0)) return edge;
    const auto scale = static_cast<float>(1.0 / total);
    for (float& d : g.density) d *= scale;
    for (int i = 0; i < 4; ++i) edge.side[static_cast<std::size_t>(i)] = side[static_cast<std::size_t>(i)] / total;
    edge.total = band / total;
    return edge;
}

// The unit vectors of the cells' centres, by rows and columns: one cosine
// and sine per row and per column.
struct CentreVectors {
    std::vector<double> cosLat, sinLat, cosLon, sinLon;
    explicit CentreVectors(const DensityGrid& g) {
        for (int row = 0; row < g.rows; ++row) {
            const double lat = (g.north - (row + 0.5) * g.cellLatDeg) * kDegToRad;
            cosLat.push_back(std::cos(lat));
            sinLat.push_back(std::sin(lat));
        }
        for (int column = 0; column < g.columns; ++column) {
            const double lon = (g.west + (column + 0.5) * g.cellLonDeg) * kDegToRad;
            cosLon.push_back(std::cos(lon));
            sinLon.push_back(std::sin(lon));
        }
    }
    Vec at(int column, int row) const {
        const auto r = static_cast<std::size_t>(row), c = static_cast<std::size_t>(column);
        return {cosLat[r] * cosLon[c], cosLat[r] * sinLon[c], sinLat[r]};
    }
};

void moments(Posterior& p) {
    const DensityGrid& g = p.grid;
    const CentreVectors centres(g);
    Vec sum{};
    for (int row = 0; row < g.rows; ++row) {
        const double area = g.cellAreaKm2[static_cast<std::size_t>(row)];
        for (int column = 0; column < g.columns; ++column) {
            const double m = g.at(column, row) * area;
            if (m == 0.0) continue;
            const Vec x = centres.at(column, row);
            for (std::size_t i = 0; i < 3; ++i) sum[i] += m * x[i];
        }
    }
    const double n = std::sqrt(dot(sum, sum));
    if (!(n > 0.0)) return;
    p.mean = {std::atan2(sum[1], sum[0]), std::asin(std::clamp(sum[2] / n, -1.0, 1.0))};
    const double so = std::sin(p.mean.lon), co = std::cos(p.mean.lon), sa = std::sin(p.mean.lat), ca = std::cos(p.mean.lat);
    const Vec east = {-so, co, 0.0}, north = {-sa * co, -sa * so, ca};
    double ee = 0.0, en = 0.0, nn = 0.0;
    for (int row = 0; row < g.rows; ++row) {
        const double area = g.cellAreaKm2[static_cast<std::size_t>(row)];
        for (int column = 0; column < g.columns; ++column) {
            const double m = g.at(column, row) * area;
            if (m == 0.0) continue;
            const Vec x = centres.at(column, row);
            const double u = kEarthRadiusKm * dot(x, east), v = kEarthRadiusKm * dot(x, north);
            ee += m * u * u;
            en += m * u * v;
            nn += m * v * v;
        }
    }
    p.covEastEast = ee;
    p.covEastNorth = en;
    p.covNorthNorth = nn;
}

// Where no fix is found (bearings that cross behind a station, or not at
// all), the density still lies somewhere: the best of the points along each
// line (and back line) out to 5000 km, with a box half as wide as its
// distance from the station.
std::vector<FixResult> fallbackSeed(const std::vector<Line>& lines, bool robust) {
    double best = std::numeric_limits<double>::infinity(), bestKm = 0.0;
    Vec bestPoint{};
    for (const Line& line : lines) {
        const Vec s = unitVector(line.station);
        for (double side : {1.0, -1.0}) {
            if (side < 0.0 && !line.ambiguous) continue;
            for (double km = 0.5; km < 5000.0; km *= 1.3) {
                const double a = km / kEarthRadiusKm;
                Vec x;
                for (std::size_t i = 0; i < 3; ++i) x[i] = std::cos(a) * s[i] + side * std::sin(a) * line.t[i];
                const double m = misfit(lines, robust, x);
                if (m < best) {
                    best = m;
                    bestPoint = x;
                    bestKm = km;
                }
            }
        }
    }
    if (!std::isfinite(best)) return {};
    FixResult f;
    f.status = FixStatus::Found;
    f.x = {std::atan2(bestPoint[1], bestPoint[0]), std::asin(std::clamp(bestPoint[2], -1.0, 1.0))};
    const double half = std::max(10.0, 0.5 * bestKm) / kFirstBoxFactor;
    f.covEastEast = f.covNorthNorth = half * half / kChiSquare95;
    return {f};
}

// The fixes the density is centred on: the fix of the bearings as given and,
// with ambiguous bearings, of their back bearings in every combination (of
// the first few), those whose misfit is near the best.
std::vector<FixResult> seeds(std::span<const Bearing> bearings, const std::vector<Line>& lines,
                             const DensityOptions& options, const FixResult& plain) {
    std::vector<std::size_t> flippable;
    for (std::size_t i = 0; i < bearings.size() && i < options.ambiguous.size(); ++i)
        if (options.ambiguous[i] && usable(bearings[i])) flippable.push_back(i);
    std::vector<FixResult> found;
    if (plain.status == FixStatus::Found) found.push_back(plain);
    if (!flippable.empty()) {
        std::vector<uint32_t> masks;
        if (flippable.size() <= kMaxAmbiguousCombinations) {
            for (uint32_t m = 1; m < (1u << flippable.size()); ++m) masks.push_back(m);
        } else {
            masks.push_back(~0u);  // all back bearings
        }
        std::vector<Bearing> flipped(bearings.begin(), bearings.end());
        for (uint32_t mask : masks) {
            for (std::size_t k = 0; k < flippable.size(); ++k) {
                const Bearing& b = bearings[flippable[k]];
                const bool back = k < 32 && ((mask >> k) & 1u);
                flipped[flippable[k]].bearingDeg = back ? reduce_bearing_degrees(b.bearingDeg + 180.0) : b.bearingDeg;
            }
            FixResult f = solveFix(flipped, {.robust = options.robust});
            if (f.status == FixStatus::Found) found.push_back(std::move(f));
        }
    }
    if (found.empty()) found = fallbackSeed(lines, options.robust);
    if (found.size() <= 1) return found;
    std::vector<double> scores;
    double best = std::numeric_limits<double>::infinity();
    for (const FixResult& f : found) {
        scores.push_back(misfit(lines, options.robust, unitVector(f.x)));
        best = std::min(best, scores.back());
    }
    std::vector<FixResult> kept;
    for (std::size_t i = 0; i < found.size(); ++i)
        if (scores[i] <= best + kSeedMisfitSpan) kept.push_back(found[i]);
    return kept;
}

}  // namespace

GeoPosition DensityGrid::centreOf(int column, int row) const {
    double lon = west + (column + 0.5) * cellLonDeg;
    lon = std::fmod(lon + 540.0, 360.0) - 180.0;
    return {lon * kDegToRad, (north - (row + 0.5) * cellLatDeg) * kDegToRad};
}

bool DensityGrid::cellOf(GeoPosition p, int* column, int* row) const {
    if (empty()) return false;
    double lon = p.lon * kRadToDeg;
    while (lon < west) lon += 360.0;
    while (lon >= west + 360.0) lon -= 360.0;
    const double x = (lon - west) / cellLonDeg, y = (north - p.lat * kRadToDeg) / cellLatDeg;
    if (!(x >= 0.0 && x < columns && y >= 0.0 && y < rows)) return false;
    *column = static_cast<int>(x);
    *row = static_cast<int>(y);
    return true;
}

double DensityGrid::densityAt(GeoPosition p) const {
    int column, row;
    return cellOf(p, &column, &row) ? at(column, row) : 0.0;
}

double bearingMisfit(std::span<const Bearing> bearings, const DensityOptions& options, GeoPosition p) {
    return misfit(linesOf(bearings, options), options.robust, unitVector(p));
}

Posterior computePosterior(std::span<const Bearing> bearings, const DensityOptions& options) {
    Posterior result;
    const std::vector<Line> lines = linesOf(bearings, options);
    result.usedBearings = static_cast<int>(lines.size());
    result.fix = solveFix(bearings, {.robust = options.robust});
    result.status = result.fix.status;
    if (lines.size() < 2) return result;
    const std::vector<FixResult> centres = seeds(bearings, lines, options, result.fix);
    if (centres.empty()) return result;

    // The first box: round every seed, longitudes taken near the first's.
    const double refLon = centres[0].x.lon * kRadToDeg;
    Box box{90.0, -90.0, 1e9, -1e9};
    for (const FixResult& f : centres) {
        Box b = ellipseBox(f);
        const double shift = std::round((refLon - (b.west + b.east) / 2.0) / 360.0) * 360.0;
        box = {std::min(box.south, b.south), std::max(box.north, b.north), std::min(box.west, b.west + shift),
               std::max(box.east, b.east + shift)};
    }
    const double midLat = centres[0].x.lat * kRadToDeg, midLon = refLon;
    box = limited(box, midLat, midLon);

    // Grown on a coarse grid until little mass lies at its edges.
    const long n = static_cast<long>(lines.size());
    const long coarseCells = std::clamp(options.workBudget / n / 4, 4096L, 65536L);
    for (int round = 0; round < kMaxGrowth; ++round) {
        DensityGrid coarse = gridFor(box, coarseCells);
        const EdgeMass edge = fillDensity(coarse, misfitGrid(lines, coarse, options));
        if (edge.total < kEdgeMass) break;
        const double width = box.east - box.west, height = box.north - box.south;
        const Box before = box;
        if (edge.side[0] > kEdgeMass / 4) box.west -= width / 2;
        if (edge.side[1] > kEdgeMass / 4) box.east += width / 2;
        if (edge.side[2] > kEdgeMass / 4) box.north += height / 2;
        if (edge.side[3] > kEdgeMass / 4) box.south -= height / 2;
        box = limited(box, midLat, midLon);
        if (box.west == before.west && box.east == before.east && box.north == before.north &&
            box.south == before.south)
            break;  // nowhere left to grow
    }

    const long cells = std::clamp(options.workBudget / n, 16384L, static_cast<long>(std::max(options.maxCells, 16384)));
    result.grid = gridFor(box, cells);
    const EdgeMass edge = fillDensity(result.grid, misfitGrid(lines, result.grid, options));
    result.edgeMass = edge.total;
    moments(result);
    result.status = FixStatus::Found;
    return result;
}

}  // namespace bearfix
