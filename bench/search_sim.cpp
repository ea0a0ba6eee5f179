// Simulated hunts for the probability map and the advice where to drive
// next; run by hand, the same figures every time (fixed seeds):
//
//   search_sim calibration [HUNTS]   (default 2000)
//   search_sim next [HUNTS]          (default 200)
//
// calibration: hard cases of 2 or 3 bearings, stations 5 to 200 km from the
// transmitter (log-uniform), crossing angles 10 to 170 degrees, sigma 1 to
// 5 degrees (tolerance twice that), some with 180 degree ambiguity; the
// share of hunts whose transmitter lies in the 95 % (and 50 %) region, and
// in the best fix's 95 % ellipse. True bearings from GeographicLib's
// geodesics on the 6371 km sphere.
//
// next: a hunter 10 to 40 km from the transmitter has two bearings (from
// where she stands and from 2 km aside); then three more, each either from
// the point the advice names within 5 km of where she is, or from a random
// point within the same 5 km, driving there each time. The median 95 %
// area after the five bearings, advised against random.
#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fix/multi_fix.h"
#include "geo/great_circle.h"
#include "search/hdr_region.h"
#include "search/next_position.h"
#include "search/posterior.h"

namespace bearfix {
namespace {

const GeographicLib::Geodesic& sphere() {
    static const GeographicLib::Geodesic instance(kEarthRadiusKm * 1000.0, 0.0);
    return instance;
}

// Deterministic on every platform (std::normal_distribution is not).
class Random {
public:
    explicit Random(uint64_t seed) : rng_(seed) {}
    double uniform(double a, double b) { return a + (b - a) * static_cast<double>(rng_() >> 11) * 0x1.0p-53; }
    double normal() {
        const double u = uniform(0.0, 1.0), v = uniform(0.0, 1.0);
        return std::sqrt(-2.0 * std::log1p(-u)) * std::cos(2.0 * std::numbers::pi * v);
    }
    bool chance(double p) { return uniform(0.0, 1.0) < p; }

private:
    std::mt19937_64 rng_;
};

struct Place {
    double lat, lon;  // degrees
};

GeoPosition radians(const Place& p) { return {p.lon * kDegToRad, p.lat * kDegToRad}; }

Place from(const Place& p, double azimuth, double km) {
    Place q;
    sphere().Direct(p.lat, p.lon, azimuth, km * 1000.0, q.lat, q.lon);
    return q;
}

// A bearing from `station` to `tx` with noise of `sigma` degrees; turned
// round half the time when ambiguous.
Bearing measure(Random& r, const Place& station, const Place& tx, double sigma, bool ambiguous) {
    double s12, azi1, azi2;
    sphere().Inverse(station.lat, station.lon, tx.lat, tx.lon, s12, azi1, azi2);
    Bearing b;
    b.position = radians(station);
    const double back = ambiguous && r.chance(0.5) ? 180.0 : 0.0;
    b.bearingDeg = reduce_bearing_degrees(azi1 + back + sigma * r.normal());
    b.toleranceDeg = 2.0 * sigma;
    return b;
}

// Whether the transmitter lies in the 95 % ellipse the fix shows.
bool inEllipse(const FixResult& f, const Place& tx) {
    const ConfidenceEllipse& e = f.ellipse95;
    if (f.status != FixStatus::Found || !(e.semiMinorKm > 0.0)) return false;
    double s12, azi1, azi2;
    sphere().Inverse(f.x.lat * kRadToDeg, f.x.lon * kRadToDeg, tx.lat, tx.lon, s12, azi1, azi2);
    const double km = s12 / 1000.0, off = (azi1 - e.orientationDeg) * kDegToRad;
    const double along = km * std::cos(off) / e.semiMajorKm, across = km * std::sin(off) / e.semiMinorKm;
    return along * along + across * across <= 1.0;
}

double cpuMilliseconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Tally {
    const char* name;
    int hunts = 0, noMap = 0, in95 = 0, in50 = 0, inEllipse = 0, twoParts = 0;
    double ms = 0.0;
};

void report(const Tally& t) {
    const auto pct = [&t](int n) { return 100.0 * n / std::max(t.hunts, 1); };
    // The binomial spread of a share of 95 % over these hunts.
    const double spread = 100.0 * std::sqrt(0.95 * 0.05 / std::max(t.hunts, 1));
    std::printf("%-34s %5d  %5.1f %%  %5.1f %%  %5.1f %%   (+-%.1f)  %4d  %4d  %6.1f\n", t.name, t.hunts, pct(t.in95),
                pct(t.in50), pct(t.inEllipse), spread, t.noMap, t.twoParts, t.ms / std::max(t.hunts, 1));
}

int calibration(int hunts) {
    Random r(20240601);
    Tally classes[] = {{"2 bearings, crossing 10-45/135-170"},
                       {"2 bearings, crossing 45-135"},
                       {"3 bearings"},
                       {"2-3 bearings, 180 deg ambiguous"}};
    Tally bySigma[] = {{"  sigma 1-2 deg (all classes)"}, {"  sigma 2-3.5 deg"}, {"  sigma 3.5-5 deg"}};
    for (int hunt = 0; hunt < hunts; ++hunt) {
        const int kind = hunt % 4;
        const Place tx{std::asin(r.uniform(-0.8, 0.8)) * kRadToDeg, r.uniform(-180.0, 180.0)};
        const int count = kind == 2 ? 3 : kind == 3 ? (r.chance(0.5) ? 2 : 3) : 2;
        double crossing = r.uniform(10.0, 170.0);
        if (kind == 0) crossing = r.chance(0.5) ? r.uniform(10.0, 45.0) : r.uniform(135.0, 170.0);
        if (kind == 1) crossing = r.uniform(45.0, 135.0);
        const double first = r.uniform(0.0, 360.0);
        std::vector<Bearing> bearings;
        DensityOptions options;
        double sigmaMean = 0.0;
        for (int i = 0; i < count; ++i) {
            const double azimuth = i == 0 ? first : i == 1 ? first + crossing : r.uniform(0.0, 360.0);
            const double km = std::exp(r.uniform(std::log(5.0), std::log(200.0)));
            const double sigma = r.uniform(1.0, 5.0);
            sigmaMean += sigma / count;
            bearings.push_back(measure(r, from(tx, azimuth, km), tx, sigma, kind == 3));
            options.ambiguous.push_back(kind == 3);
        }
        const double start = cpuMilliseconds();
        const Posterior p = computePosterior(bearings, options);
        const HdrRegion h95 = highestDensityRegion(p.grid, 0.95), h50 = highestDensityRegion(p.grid, 0.5);
        const double ms = cpuMilliseconds() - start;
        const bool ellipse = inEllipse(p.fix, tx);
        for (Tally* t : {&classes[kind], &bySigma[sigmaMean < 2.0 ? 0 : sigmaMean < 3.5 ? 1 : 2]}) {
            ++t->hunts;
            t->ms += ms;
            t->noMap += p.grid.empty();
            t->in95 += insideRegion(p.grid, h95, radians(tx));
            t->in50 += insideRegion(p.grid, h50, radians(tx));
            t->inEllipse += ellipse;
            t->twoParts += h95.parts > 1;
        }
    }
    std::printf("%-34s %5s  %7s  %7s  %7s   %6s  %4s  %4s  %6s\n", "class", "hunts", "HDR95", "HDR50", "ell95", "spread",
                "none", "2+pt", "ms");
    for (const Tally& t : classes) report(t);
    for (const Tally& t : bySigma) report(t);
    return 0;
}

// One hunt of the advice's test: the 95 % area after the two first bearings
// and three more, each from the advised or a random point.
double huntArea(uint64_t seed, bool advised) {
    Random r(seed);  // the same transmitter, start and noise for both ways
    const Place tx{std::asin(r.uniform(-0.8, 0.8)) * kRadToDeg, r.uniform(-180.0, 180.0)};
    const double sigma = 2.0;
    Place here = from(tx, r.uniform(0.0, 360.0), r.uniform(10.0, 40.0));
    std::vector<Bearing> bearings{measure(r, here, tx, sigma, false)};
    double s12, azi1, azi2;
    sphere().Inverse(here.lat, here.lon, tx.lat, tx.lon, s12, azi1, azi2);
    bearings.push_back(measure(r, from(here, azi1 + 90.0, 2.0), tx, sigma, false));
    Random noise(seed ^ 0x5EEDull), walk(seed ^ 0xD21FEull);
    for (int step = 0; step < 3; ++step) {
        const Posterior p = computePosterior(bearings);
        if (advised && !p.grid.empty()) {
            const HdrRegion h95 = highestDensityRegion(p.grid, 0.95);
            const NextSuggestion s = suggestNextPosition(p, h95, bearings, radians(here), {.sigmaDeg = sigma});
            if (s.found) here = {s.point.lat * kRadToDeg, s.point.lon * kRadToDeg};
        } else {
            // Uniform over the disc.
            here = from(here, walk.uniform(0.0, 360.0), kDefaultDriveRadiusKm * std::sqrt(walk.uniform(0.0, 1.0)));
        }
        bearings.push_back(measure(noise, here, tx, sigma, false));
    }
    const Posterior p = computePosterior(bearings);
    return highestDensityRegion(p.grid, 0.95).areaKm2;
}

int next(int hunts) {
    std::vector<double> advised, random;
    int better = 0;
    for (int hunt = 0; hunt < hunts; ++hunt) {
        const uint64_t seed = 7000 + static_cast<uint64_t>(hunt);
        advised.push_back(huntArea(seed, true));
        random.push_back(huntArea(seed, false));
        better += advised.back() < random.back();
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
    };
    const double a = median(advised), b = median(random);
    std::printf("%d hunts: median 95 %% area %.2f km2 advised, %.2f km2 random; ratio %.3f; advised smaller in %d\n",
                hunts, a, b, a / b, better);
    return 0;
}

}  // namespace
}  // namespace bearfix

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    const int hunts = argc > 2 ? std::atoi(argv[2]) : 0;
    if (what == "calibration") return bearfix::calibration(hunts > 0 ? hunts : 2000);
    if (what == "next") return bearfix::next(hunts > 0 ? hunts : 200);
    std::fprintf(stderr, "usage: search_sim calibration|next [HUNTS]\n");
    return 2;
}
