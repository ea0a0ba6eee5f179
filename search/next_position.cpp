#include "search/next_position.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "geo/great_circle.h"
#include "search/viewshed.h"

namespace bearfix {

namespace {

constexpr int kSamples = 64;
constexpr int kRings = 10;
constexpr int kSpokes = 36;
constexpr double kNearestKm = 0.1;

// Positions drawn from the map evenly through its cumulative mass, and the
// map's covariance.
class AreaProxy {
public:
    explicit AreaProxy(const Posterior& p) : p_(p) {
        const DensityGrid& g = p.grid;
        double total = 0.0;
        for (int row = 0; row < g.rows; ++row) {
            const double area = g.cellAreaKm2[static_cast<std::size_t>(row)];
            for (int column = 0; column < g.columns; ++column) total += g.at(column, row) * area;
        }
        if (!(total > 0.0)) return;
        int next = 0;
        double sum = 0.0;
        for (int row = 0; row < g.rows && next < kSamples; ++row) {
            const double area = g.cellAreaKm2[static_cast<std::size_t>(row)];
            for (int column = 0; column < g.columns && next < kSamples; ++column) {
                sum += g.at(column, row) * area;
                while (next < kSamples && sum >= (next + 0.5) / kSamples * total) {
                    samples_.push_back(g.centreOf(column, row));
                    ++next;
                }
            }
        }
    }

    // The mean over the samples of (1 + g' Cov g / sigma^2)^(-1/2).
    double factor(GeoPosition c, double sigmaRad) const {
        if (samples_.empty()) return 1.0;
        double sum = 0.0;
        for (const GeoPosition& x : samples_) {
            double dist, course;
            gc_distance_course(x.lon, x.lat, c.lon, c.lat, &dist, &course);
            // The course from C changes by 1 / (R sin d) per km across the line.
            const double across = 1.0 / std::max(kEarthRadiusKm * std::sin(std::min(dist, std::numbers::pi / 2)), kNearestKm);
            const double e = std::cos(course) * across, n = -std::sin(course) * across;
            const double q = (e * e * p_.covEastEast + 2.0 * e * n * p_.covEastNorth + n * n * p_.covNorthNorth) /
                             (sigmaRad * sigmaRad);
            sum += 1.0 / std::sqrt(1.0 + q);
        }
        return sum / static_cast<double>(samples_.size());
    }

private:
    const Posterior& p_;
    std::vector<GeoPosition> samples_;
};

double medianSigmaDeg(std::span<const Bearing> bearings) {
    std::vector<double> sigmas;
    for (const Bearing& b : bearings)
        if (b.enabled && std::isfinite(b.toleranceDeg)) sigmas.push_back(bearingSigmaDeg(b.toleranceDeg));
    if (sigmas.empty()) return bearingSigmaDeg(kDefaultToleranceDeg);
    std::nth_element(sigmas.begin(), sigmas.begin() + static_cast<std::ptrdiff_t>(sigmas.size() / 2), sigmas.end());
    return sigmas[sigmas.size() / 2];
}

}  // namespace

double expectedAreaFrom(const Posterior& posterior, const HdrRegion& region95, GeoPosition candidate, double sigmaDeg) {
    return region95.areaKm2 * AreaProxy(posterior).factor(candidate, sigmaDeg * kDegToRad);
}

NextSuggestion suggestNextPosition(const Posterior& posterior, const HdrRegion& region95,
                                   std::span<const Bearing> bearings, GeoPosition from, const NextOptions& options) {
    NextSuggestion best;
    if (posterior.grid.empty() || !(options.driveRadiusKm >= 0.0) || !std::isfinite(from.lat) || !std::isfinite(from.lon))
        return best;
    const double sigma = (options.sigmaDeg > 0.0 ? options.sigmaDeg : medianSigmaDeg(bearings)) * kDegToRad;
    const AreaProxy proxy(posterior);
    double bestFactor = 2.0;
    for (int ring = 0; ring <= kRings; ++ring) {
        const double km = options.driveRadiusKm * ring / kRings;
        for (int spoke = 0; spoke < (ring == 0 ? 1 : kSpokes); ++spoke) {
            const double course = 2.0 * std::numbers::pi * spoke / kSpokes;
            GeoPosition c;
            gc_destination(from.lon, from.lat, km / kEarthRadiusKm, course, &c.lon, &c.lat);
            bool seen = true;
            if (options.centreView && options.centreView->covers(c, &seen) && !seen) continue;
            const double f = proxy.factor(c, sigma);
            if (f < bestFactor) {
                bestFactor = f;
                best.found = true;
                best.point = c;
                best.distanceKm = km;
                best.courseDeg = ring == 0 ? 0.0 : course * kRadToDeg;
            }
        }
    }
    best.currentAreaKm2 = region95.areaKm2;
    best.expectedAreaKm2 = best.found ? region95.areaKm2 * bestFactor : 0.0;
    return best;
}

}  // namespace bearfix
