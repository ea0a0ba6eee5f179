#include "search/viewshed.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "geo/great_circle.h"

namespace bearfix {

namespace {

constexpr double kEarthRadiusM = kEarthRadiusKm * 1000.0;
constexpr double kNoHeight = 1e9;  // metres: below any sight line

// The sample's height in metres; NaN where there is none.
double heightOf(const TerrainGrid& t, int column, int row) {
    const int16_t v = t.samples[static_cast<std::size_t>(row) * t.columns + column];
    return v == kTerrainSea ? 0.0 : v <= kTerrainNoData ? std::numeric_limits<double>::quiet_NaN() : v;
}

// Longitude brought within a turn east of `west`.
double unwrap(double lonDeg, double west) {
    while (lonDeg < west - 180.0) lonDeg += 360.0;
    while (lonDeg >= west + 180.0) lonDeg -= 360.0;
    return lonDeg;
}

// The sight line's height over a cell i steps from the station along one
// axis and j <= i along the other (gdal_viewshed's edge mode): the line
// crosses the cells one step nearer on the first axis between the one j - 1
// steps along the second (height a) and the one j steps along it (height b).
double overEdge(double zo, int i, int j, double a, double b) {
    if (i == j) return zo + (a - zo) * i / (i - 1);
    return zo + ((a - zo) * j + (b - zo) * (i - j)) / (i - 1);
}

}  // namespace

bool Viewshed::covers(GeoPosition p, bool* seen) const {
    if (empty()) return false;
    const double lon = unwrap(p.lon * kRadToDeg, west), lat = p.lat * kRadToDeg;
    const long column = std::lround((lon - west) / stepLonDeg), row = std::lround((north - lat) / stepLatDeg);
    if (column < 0 || row < 0 || column >= columns || row >= rows) return false;
    const double dEast = (lon - unwrap(station.lon * kRadToDeg, west)) * kDegToRad * std::cos(station.lat) * kEarthRadiusKm;
    const double dNorth = (lat - station.lat * kRadToDeg) * kDegToRad * kEarthRadiusKm;
    if (dEast * dEast + dNorth * dNorth > radiusKm * radiusKm) return false;
    *seen = visible[static_cast<std::size_t>(row) * columns + column] != 0;
    return true;
}

Viewshed computeViewshed(const TerrainGrid& t, GeoPosition station, const ViewshedOptions& o) {
    Viewshed v;
    if (!t.samples || t.columns < 2 || t.rows < 2 || !(t.stepLonDeg > 0.0) || !(t.stepLatDeg > 0.0) ||
        !std::isfinite(o.antennaHeightM) || !std::isfinite(o.targetHeightM) || !(o.radiusKm > 0.0) ||
        !(o.radiusKm <= kMaxViewshedRadiusKm) || !(o.refraction > 0.0) || !std::isfinite(station.lat) ||
        !std::isfinite(station.lon))
        return v;
    const double lon = unwrap(station.lon * kRadToDeg, t.west + 180.0), lat = station.lat * kRadToDeg;
    const long ox = std::lround((lon - t.west) / t.stepLonDeg), oy = std::lround((t.north - lat) / t.stepLatDeg);
    if (ox < 0 || oy < 0 || ox >= t.columns || oy >= t.rows) return v;

    // Metres per step east and north at the station; the window of the radius.
    const double dx = t.stepLonDeg * kDegToRad * kEarthRadiusM * std::cos(station.lat);
    const double dy = t.stepLatDeg * kDegToRad * kEarthRadiusM;
    const double radius = o.radiusKm * 1000.0, radius2 = radius * radius;
    if (!(dx > 0.0)) return v;
    const long nx = std::min<long>(static_cast<long>(radius / dx), t.columns), ny = static_cast<long>(radius / dy);
    const int c0 = static_cast<int>(std::max(0L, ox - nx)), c1 = static_cast<int>(std::min<long>(t.columns - 1, ox + nx));
    const int r0 = static_cast<int>(std::max(0L, oy - ny)), r1 = static_cast<int>(std::min<long>(t.rows - 1, oy + ny));
    v.station = station;
    v.radiusKm = o.radiusKm;
    v.columns = c1 - c0 + 1;
    v.rows = r1 - r0 + 1;
    v.west = t.west + c0 * t.stepLonDeg;
    v.north = t.north - r0 * t.stepLatDeg;
    v.stepLonDeg = t.stepLonDeg;
    v.stepLatDeg = t.stepLatDeg;
    v.visible.assign(static_cast<std::size_t>(v.columns) * v.rows, 0);

    const int cx = static_cast<int>(ox), cy = static_cast<int>(oy);
    const double sink = 1.0 / (2.0 * o.refraction * kEarthRadiusM);
    // As gdal_viewshed has it, sight lines leave the station's cell north
    // and south (straight or slanting) over neighbours no lower than its own
    // ground; its neighbours east and west are seen as they are.
    const double foot = heightOf(t, cx, cy), zo = foot + o.antennaHeightM, target = o.targetHeightM;
    if (std::isnan(foot)) return {};
    // The lowest height a sight line passes over, per column of the window,
    // for the row just done (last) and this one.
    std::vector<double> first(static_cast<std::size_t>(v.columns)), last, here(first.size());
    const auto at = [&](std::vector<double>& row, int column) -> double& {
        return row[static_cast<std::size_t>(column - c0)];
    };
    // Judges cell (column, row), i and j steps from the station, given the
    // sight line's height over it.
    const auto judge = [&](std::vector<double>& row, int column, int r, int i, int j, double sight) {
        const double ground = heightOf(t, column, r) - (i * i * dx * dx + j * j * dy * dy) * sink;
        // A cell without elevation is not seen and hides nothing.
        v.visible[static_cast<std::size_t>(r - r0) * v.columns + (column - c0)] = ground + target >= sight;
        at(row, column) = std::isnan(ground) ? sight : std::max(ground, sight);
    };
    const auto inRange = [&](int i, int j) { return i * i * dx * dx + j * j * dy * dy <= radius2; };
    // Along a row or a column: extended from the cell one step nearer.
    const auto straight = [&](int steps, double nearer) { return steps == 1 ? foot : zo + (nearer - zo) * steps / (steps - 1); };

    // The station's row: the line runs along it.
    at(first, cx) = foot;
    v.visible[static_cast<std::size_t>(cy - r0) * v.columns + (cx - c0)] = 1;
    for (int side : {-1, 1}) {
        for (int column = cx + side, i = 1; column >= c0 && column <= c1 && inRange(i, 0); column += side, ++i)
            judge(first, column, cy, i, 0, i == 1 ? -kNoHeight : straight(i, at(first, column - side)));
    }
    // The rows above, then those below, each from the station's column out.
    for (int up : {-1, 1}) {
        last = first;
        for (int r = cy + up, j = 1; r >= r0 && r <= r1 && inRange(0, j); r += up, ++j) {
            judge(here, cx, r, 0, j, straight(j, at(last, cx)));
            for (int side : {-1, 1}) {
                for (int column = cx + side, i = 1; column >= c0 && column <= c1 && inRange(i, j); column += side, ++i) {
                    const int nearer = column - side;
                    const double sight = i == 1 && j == 1 ? foot
                                         : i >= j         ? overEdge(zo, i, j, at(last, nearer), at(here, nearer))
                                                          : overEdge(zo, j, i, at(last, nearer), at(last, column));
                    judge(here, column, r, i, j, sight);
                }
            }
            std::swap(last, here);
        }
    }
    return v;
}

}  // namespace bearfix
