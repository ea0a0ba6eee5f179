// The probability map against independent numbers: GeographicLib's azimuths
// for the likelihood, its polygon areas for the outlines, the chi-square
// quantiles of a Gaussian for the regions' areas, the crossings of
// geo/fix_geometry for the parts, and simulated hunts for the coverage.
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "geo/great_circle.h"
#include "search/hdr_region.h"
#include "search/posterior.h"
#include "search/viewshed.h"

namespace bearfix {
namespace {

const GeographicLib::Geodesic& sphere() {
    static const GeographicLib::Geodesic instance(kEarthRadiusKm * 1000.0, 0.0);
    return instance;
}

Bearing bearing(double lat, double lon, double degrees, double tolerance) {
    Bearing b;
    b.position = {lon * kDegToRad, lat * kDegToRad};
    b.bearingDeg = degrees;
    b.toleranceDeg = tolerance;
    return b;
}

// -2 ln of the likelihood at a point, from GeographicLib's azimuths.
double misfitAt(const std::vector<Bearing>& bearings, const DensityOptions& o, GeoPosition p) {
    double sum = 0.0;
    for (std::size_t i = 0; i < bearings.size(); ++i) {
        const Bearing& b = bearings[i];
        double s12, azi1, azi2;
        sphere().Inverse(b.position.lat * kRadToDeg, b.position.lon * kRadToDeg, p.lat * kRadToDeg, p.lon * kRadToDeg, s12,
                         azi1, azi2);
        const auto cost = [&](double offset) {
            const double z = std::remainder(azi1 - b.bearingDeg - offset, 360.0) / (b.toleranceDeg / 2.0);
            return o.robust && std::fabs(z) > 1.5 ? 3.0 * std::fabs(z) - 2.25 : z * z;
        };
        if (i < o.ambiguous.size() && o.ambiguous[i]) {
            sum += -2.0 * std::log(0.5 * std::exp(-cost(0.0) / 2) + 0.5 * std::exp(-cost(180.0) / 2));
        } else {
            sum += cost(0.0);
        }
    }
    return sum;
}

DensityOptions optionsOf(bool robust, std::vector<bool> ambiguous = {}) {
    DensityOptions o;
    o.robust = robust;
    o.ambiguous = std::move(ambiguous);
    return o;
}

struct Case {
    const char* name;
    std::vector<Bearing> bearings;
    DensityOptions options;
};

std::vector<Case> cases() {
    return {
        {"three near Frankfurt", {bearing(50, 8, 45, 2), bearing(50, 9, 315, 2), bearing(51, 8.5, 180, 2)}, optionsOf(false)},
        {"robust, a fourth far off",
         {bearing(50, 8, 45, 2), bearing(50, 9, 315, 2), bearing(51, 8.5, 180, 2), bearing(50.3, 7.5, 100, 2)},
         optionsOf(true)},
        {"B's back bearing", {bearing(50, 8, 45, 2), bearing(50, 9, 135, 2)}, optionsOf(false, {false, true})},
        {"across the date line", {bearing(0.3, 179.8, 135, 3), bearing(-0.3, -179.7, 290, 3)}, optionsOf(false)},
        {"far north", {bearing(75, 20, 80, 4), bearing(74.5, 24, 20, 4)}, optionsOf(false)},
    };
}

// Every cell of notable density, against the peak, is the likelihood ratio
// of its centre: the grid's arithmetic (single precision, the polynomial
// arctangent) against GeographicLib's azimuths in double.
TEST(ProbabilityMap, DensityIsTheLikelihoodOfTheBearings) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const Posterior p = computePosterior(c.bearings, c.options);
        ASSERT_FALSE(p.grid.empty());
        EXPECT_LT(p.edgeMass, kEdgeMass);
        const auto peak = std::max_element(p.grid.density.begin(), p.grid.density.end()) - p.grid.density.begin();
        const int pc = static_cast<int>(peak % p.grid.columns), pr = static_cast<int>(peak / p.grid.columns);
        const double peakMisfit = misfitAt(c.bearings, c.options, p.grid.centreOf(pc, pr));
        int checked = 0;
        for (int row = 0; row < p.grid.rows; row += 3) {
            for (int column = 0; column < p.grid.columns; column += 5) {
                const double ratio = p.grid.at(column, row) / p.grid.at(pc, pr);
                if (ratio < 1e-4) continue;
                const double expected = std::exp(-(misfitAt(c.bearings, c.options, p.grid.centreOf(column, row)) - peakMisfit) / 2);
                EXPECT_NEAR(ratio, expected, 2e-3 * expected + 1e-6) << column << ", " << row;
                ++checked;
            }
        }
        EXPECT_GT(checked, 200);
    }
}

// Many bearings make the map Gaussian: the regions are ellipses whose areas
// are pi chi2(p) sqrt(det Cov), 4.32 times as large at 95 % as at 50 %, and
// the fix's own 95 % ellipse has the 95 % region's area.
TEST(ProbabilityMap, RegionsOfANearlyGaussianMap) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> azimuth(0.0, 360.0), km(20.0, 60.0);
    for (double tolerance : {1.0, 4.0}) {
        std::vector<Bearing> bearings;
        for (int i = 0; i < 40; ++i) {
            double lat, lon, s12, azi1, azi2;
            sphere().Direct(47.3, 11.4, azimuth(rng), km(rng) * 1000.0, lat, lon);
            sphere().Inverse(lat, lon, 47.3, 11.4, s12, azi1, azi2);
            bearings.push_back(bearing(lat, lon, reduce_bearing_degrees(azi1), tolerance));
        }
        const Posterior p = computePosterior(bearings);
        const HdrRegion h50 = highestDensityRegion(p.grid, 0.5), h95 = highestDensityRegion(p.grid, 0.95);
        const double det = p.covEastEast * p.covNorthNorth - p.covEastNorth * p.covEastNorth;
        EXPECT_NEAR(h95.areaKm2 / h50.areaKm2, kChiSquare95 / kChiSquare50, 0.08) << tolerance;
        EXPECT_NEAR(h95.areaKm2, std::numbers::pi * kChiSquare95 * std::sqrt(det), 0.02 * h95.areaKm2);
        const ConfidenceEllipse& e = p.fix.ellipse95;
        EXPECT_NEAR(h95.areaKm2, std::numbers::pi * e.semiMajorKm * e.semiMinorKm, 0.03 * h95.areaKm2);
        EXPECT_EQ(h95.parts, 1);
    }
}

bool insidePolygon(const std::vector<GeoPosition>& ring, GeoPosition p) {
    bool in = false;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const GeoPosition a = ring[i], b = ring[j];
        if ((a.lat > p.lat) != (b.lat > p.lat) && p.lon < a.lon + (b.lon - a.lon) * (p.lat - a.lat) / (b.lat - a.lat))
            in = !in;
    }
    return in;
}

// The outlines hold what the cells hold (GeographicLib's area of each
// polygon). B's bearing runs through A, whose bearing crosses it: with A's
// antenna unable to tell front from back, the transmitter can be on either
// side of A, and the 95 % region has two parts, each outline round the points
// of A's line 2 km off A on its side.
TEST(ProbabilityMap, OutlinesAndParts) {
    double s12, toA, azi2;
    sphere().Inverse(50.0, 8.6, 50.0, 8.0, s12, toA, azi2);
    const std::vector<Bearing> bearings = {bearing(50.0, 8.0, 30.0, 6.0), bearing(50.0, 8.6, toA, 4.0)};
    for (bool ambiguous : {false, true}) {
        SCOPED_TRACE(ambiguous ? "A ambiguous" : "A as it is");
        const Posterior p = computePosterior(bearings, optionsOf(false, {ambiguous, false}));
        const HdrRegion h95 = highestDensityRegion(p.grid, 0.95);
        ASSERT_EQ(h95.parts, ambiguous ? 2 : 1);
        ASSERT_EQ(h95.polygons.size(), static_cast<std::size_t>(h95.parts));
        double area = 0.0;
        for (const auto& ring : h95.polygons) {
            GeographicLib::PolygonArea polygon(sphere());
            for (const GeoPosition& q : ring) polygon.AddPoint(q.lat * kRadToDeg, q.lon * kRadToDeg);
            double perimeter, squareMetres;
            polygon.Compute(false, true, perimeter, squareMetres);
            area += squareMetres / 1e6;
        }
        EXPECT_NEAR(area, h95.areaKm2, 0.05 * h95.areaKm2);
        for (double course : {30.0, 210.0}) {
            double lat, lon;
            sphere().Direct(50.0, 8.0, course, 2000.0, lat, lon);
            const auto holding = std::count_if(h95.polygons.begin(), h95.polygons.end(), [&](const auto& ring) {
                return insidePolygon(ring, {lon * kDegToRad, lat * kDegToRad});
            });
            EXPECT_EQ(holding, course < 180.0 || ambiguous ? 1 : 0) << course;
        }
    }
}

// Where a station cannot see, the density is times the weight: against the
// map without terrain, the cells its viewshed hides (here everything south of
// the fix) stand to those it sees as the weight, and a weight of 1 changes
// nothing.
TEST(ProbabilityMap, HiddenCellsWeighed) {
    const std::vector<Bearing> bearings = {bearing(50, 8, 45, 2), bearing(50, 9, 315, 2), bearing(51, 8.5, 180, 2)};
    Viewshed view;
    view.station = {8.5 * kDegToRad, 50.3 * kDegToRad};
    view.radiusKm = kMaxViewshedRadiusKm;
    view.columns = 300;
    view.rows = 300;
    view.west = 8.0;
    view.north = 51.0;
    view.stepLonDeg = view.stepLatDeg = 1.0 / 300;
    for (int row = 0; row < view.rows; ++row)
        for (int column = 0; column < view.columns; ++column) view.visible.push_back(view.north - row * view.stepLatDeg > 50.3182);
    const Posterior plain = computePosterior(bearings);
    for (double weight : {0.3, 1.0}) {
        DensityOptions options;
        options.viewsheds = std::span<const Viewshed>(&view, 1);
        options.hiddenWeight = weight;
        const Posterior p = computePosterior(bearings, options);
        ASSERT_EQ(p.grid.columns, plain.grid.columns);
        ASSERT_EQ(p.grid.rows, plain.grid.rows);
        double seen = 0.0, hidden = 0.0;
        for (int row = 0; row < p.grid.rows; ++row) {
            for (int column = 0; column < p.grid.columns; ++column) {
                if (plain.grid.at(column, row) < 1e-3f) continue;
                bool visible;
                if (!view.covers(p.grid.centreOf(column, row), &visible)) continue;
                (visible ? seen : hidden) = p.grid.at(column, row) / plain.grid.at(column, row);
            }
        }
        EXPECT_NEAR(hidden / seen, weight, 1e-4 * weight) << weight;
    }
}

// A seeded handful of the hard hunts of bench/search_sim: the transmitter
// lies in the 95 % region of 95 % of them, within the binomial spread of
// 200 hunts (1.5 %) times 2.3.
TEST(ProbabilityMap, CoverageOfSimulatedHunts) {
    std::mt19937_64 rng(7);
    const auto uniform = [&rng](double a, double b) { return a + (b - a) * static_cast<double>(rng() >> 11) * 0x1.0p-53; };
    const auto normal = [&] { return std::sqrt(-2.0 * std::log1p(-uniform(0, 1))) * std::cos(2 * std::numbers::pi * uniform(0, 1)); };
    int covered = 0;
    const int hunts = 200;
    for (int hunt = 0; hunt < hunts; ++hunt) {
        const double txLat = uniform(-50, 50), txLon = uniform(-180, 180), first = uniform(0, 360);
        std::vector<Bearing> bearings;
        DensityOptions options;
        const int count = 2 + hunt % 2;
        for (int i = 0; i < count; ++i) {
            const double azimuth = first + (i == 1 ? uniform(10, 170) : i == 2 ? uniform(0, 360) : 0.0);
            double lat, lon, s12, azi1, azi2;
            sphere().Direct(txLat, txLon, azimuth, std::exp(uniform(std::log(5.0), std::log(200.0))) * 1000.0, lat, lon);
            sphere().Inverse(lat, lon, txLat, txLon, s12, azi1, azi2);
            const double sigma = uniform(1, 5);
            const bool ambiguous = hunt % 4 == 3;
            const double back = ambiguous && uniform(0, 1) < 0.5 ? 180.0 : 0.0;
            bearings.push_back(bearing(lat, lon, reduce_bearing_degrees(azi1 + back + sigma * normal()), 2 * sigma));
            options.ambiguous.push_back(ambiguous);
        }
        const Posterior p = computePosterior(bearings, options);
        covered += insideRegion(p.grid, highestDensityRegion(p.grid, 0.95), {txLon * kDegToRad, txLat * kDegToRad});
    }
    EXPECT_GE(covered, 183) << covered << " of " << hunts;
    EXPECT_LE(covered, 197) << covered << " of " << hunts;
}

}  // namespace
}  // namespace bearfix
