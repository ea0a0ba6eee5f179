// Where the transmitter can be: the posterior density of its position given
// the used bearings, on the 6371 km sphere, with a uniform prior and the
// bearing model of the best fix (fix/multi_fix.h): each bearing's error is
// normal with sigma = tolerance / 2, with Huber's heavier tails when robust,
// and a bearing whose antenna cannot tell front from back is the mixture,
// half and half, of itself and its back bearing.
//
// The density is held on a grid of latitude and longitude cells, square on
// the ground at the grid's middle latitude, that covers the probability mass:
// centred on the fix (and on every fix of back bearings the mixture supports),
// its first extent the box of twice the 95 % ellipse, grown on each side
// until the mass in the outer sixteenth of the grid is below 0.5 %, or until
// it reaches kMaxReachKm from its centre. The growing is done on a coarse
// grid of about 4096 cells; the final grid has cells × bearings of about
// kWorkBudget (between 16384 and kMaxCells cells). The likelihood of a cell
// is that at its centre: with the residual from a polynomial arctangent
// (error below 1e-6 rad) in single precision, relative to the grid's middle
// so that no digits cancel; near a station, where its bearing's wedge is
// narrower than a cell, the mean likelihood of 64 points in the cell.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fix/multi_fix.h"
#include "geo/position.h"

namespace bearfix {

struct Viewshed;

inline constexpr double kMaxReachKm = 2000.0;
inline constexpr long kWorkBudget = 16'000'000;  // cells times bearings of the final grid
inline constexpr int kMaxCells = 1 << 18;
inline constexpr double kEdgeMass = 0.005;

struct DensityOptions {
    bool robust = false;
    // One flag per bearing (or none): the bearing may be its back bearing.
    std::vector<bool> ambiguous;
    // Where a station cannot see (its viewshed says 0), the density is
    // multiplied by hiddenWeight, once per station; 1 ignores the terrain.
    std::span<const Viewshed> viewsheds;
    double hiddenWeight = 0.3;
    long workBudget = kWorkBudget;
    int maxCells = kMaxCells;
};

// Cell (column, row) spans the longitudes west + column * cellLonDeg ... +
// cellLonDeg and the latitudes north - row * cellLatDeg ... - cellLatDeg.
// west may lie below -180 for a grid across the antimeridian.
struct DensityGrid {
    int columns = 0, rows = 0;
    double west = 0.0, north = 0.0;  // degrees, the outer edges of the corner cell
    double cellLonDeg = 0.0, cellLatDeg = 0.0;
    std::vector<float> density;       // probability per km², row by row from the north
    std::vector<double> cellAreaKm2;  // of one cell of each row, on the sphere

    bool empty() const { return density.empty(); }
    float at(int column, int row) const { return density[static_cast<std::size_t>(row) * columns + column]; }
    GeoPosition centreOf(int column, int row) const;
    // The cell holding a position; false outside the grid.
    bool cellOf(GeoPosition p, int* column, int* row) const;
    // The density at a position: its cell's, 0 outside the grid.
    double densityAt(GeoPosition p) const;
};

struct Posterior {
    FixStatus status = FixStatus::TooFewBearings;  // Found when there is a density
    FixResult fix;             // the best fix of the bearings as given (not of back bearings)
    DensityGrid grid;
    double edgeMass = 0.0;     // probability in the outer sixteenth of the grid
    GeoPosition mean;          // of the density (by the mean unit vector)
    // Covariance of the density in km², east and north at `mean`.
    double covEastEast = 0.0, covEastNorth = 0.0, covNorthNorth = 0.0;
    int usedBearings = 0;
};

Posterior computePosterior(std::span<const Bearing> bearings, const DensityOptions& options = {});

// -2 ln of the likelihood of the used bearings at a point, up to a constant
// (the S of multi_fix.h where no bearing is ambiguous); for tests and for
// scoring starts. Exact arithmetic, no grid.
double bearingMisfit(std::span<const Bearing> bearings, const DensityOptions& options, GeoPosition p);

}  // namespace bearfix
