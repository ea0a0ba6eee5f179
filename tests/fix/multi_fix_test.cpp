// The best fix against simulated hunts: stations placed around a transmitter
// and true bearings from GeographicLib's geodesics on the sphere, with
// Gaussian noise of known sigma.
#include "fix/multi_fix.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "geo/great_circle.h"

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
    int integer(int a, int b) { return a + static_cast<int>(rng_() % static_cast<uint64_t>(b - a + 1)); }
    double normal() {
        const double u = uniform(0.0, 1.0), v = uniform(0.0, 1.0);
        return std::sqrt(-2.0 * std::log1p(-u)) * std::cos(2.0 * std::numbers::pi * v);
    }
    std::mt19937_64& engine() { return rng_; }

private:
    std::mt19937_64 rng_;
};

struct Place {
    double lat, lon;  // degrees
};

// A station `km` from the transmitter in direction `azimuth`, with the true
// bearing from it to the transmitter plus `sigma` times a standard normal.
Bearing station(const Place& tx, double azimuth, double km, double sigma, double noise) {
    double lat, lon, s12, azi1, azi2;
    sphere().Direct(tx.lat, tx.lon, azimuth, km * 1000.0, lat, lon);
    sphere().Inverse(lat, lon, tx.lat, tx.lon, s12, azi1, azi2);
    Bearing b;
    b.station = "S";
    b.position = {lon * kDegToRad, lat * kDegToRad};
    b.bearingDeg = reduce_bearing_degrees(azi1 + sigma * noise);
    b.toleranceDeg = 2.0 * sigma;
    return b;
}

std::vector<Bearing> hunt(Random& r, const Place& tx, int stations, double minSigma, double maxSigma, bool noisy) {
    std::vector<Bearing> bearings;
    for (int i = 0; i < stations; ++i) {
        const double sigma = r.uniform(minSigma, maxSigma);
        const double azimuth = r.uniform(-180.0, 180.0), km = r.uniform(2.0, 80.0);
        bearings.push_back(station(tx, azimuth, km, sigma, noisy ? r.normal() : 0.0));
    }
    return bearings;
}

// Transmitters anywhere, crowding the poles and the date line.
Place transmitter(Random& r, int run) {
    const double lat = std::asin(r.uniform(-1.0, 1.0)) / kDegToRad, lon = r.uniform(-180.0, 180.0);
    if (run % 10 == 1) return {r.uniform(89.0, 90.0) * (run % 20 == 1 ? 1 : -1), lon};
    if (run % 10 == 2) return {lat, 180.0 - r.uniform(-0.5, 0.5)};
    return {lat, lon};
}

// The fix's error (transmitter minus fix) in km, east and north at the fix.
struct Error {
    double east, north;
};
Error errorOf(const FixResult& f, const Place& tx) {
    double s12, azi1, azi2;
    sphere().Inverse(f.x.lat / kDegToRad, f.x.lon / kDegToRad, tx.lat, tx.lon, s12, azi1, azi2);
    return {s12 / 1000.0 * std::sin(azi1 * kDegToRad), s12 / 1000.0 * std::cos(azi1 * kDegToRad)};
}

// Inside the ellipse as its axes and orientation describe it.
bool inside(const ConfidenceEllipse& e, const Error& d) {
    const double a = e.orientationDeg * kDegToRad;
    const double along = d.east * std::sin(a) + d.north * std::cos(a);
    const double across = d.east * std::cos(a) - d.north * std::sin(a);
    return std::pow(along / e.semiMajorKm, 2) + std::pow(across / e.semiMinorKm, 2) <= 1.0;
}

Bearing at(double lat, double lon, double brg, bool enabled = true, double tolerance = kDefaultToleranceDeg) {
    Bearing b;
    b.position = {lon * kDegToRad, lat * kDegToRad};
    b.bearingDeg = brg;
    b.toleranceDeg = tolerance;
    b.enabled = enabled;
    return b;
}

double arcBetween(GeoPosition p, GeoPosition q) {
    double s12, azi1, azi2;
    sphere().Inverse(p.lat / kDegToRad, p.lon / kDegToRad, q.lat / kDegToRad, q.lon / kDegToRad, s12, azi1, azi2);
    return s12 / (kEarthRadiusKm * 1000.0);
}

TEST(MultiFix, EllipsesCoverTheTransmitterAsOftenAsTheySay) {
    Random r(19);
    int runs = 0, in50 = 0, in95 = 0, noFix = 0;
    for (int run = 0; run < 1000; ++run) {
        const Place tx = transmitter(r, run);
        const std::vector<Bearing> bearings = hunt(r, tx, r.integer(2, 12), 0.25, 1.5, true);
        const FixResult f = solveFix(bearings);
        ++runs;
        if (f.status != FixStatus::Found) {
            ++noFix;
            continue;
        }
        const Error d = errorOf(f, tx);
        in50 += inside(f.ellipse50, d);
        in95 += inside(f.ellipse95, d);
    }
    const double p50 = 100.0 * in50 / runs, p95 = 100.0 * in95 / runs;
    RecordProperty("coverage50", std::to_string(p50));
    RecordProperty("coverage95", std::to_string(p95));
    std::printf("coverage over %d hunts: 50 %%: %.1f %%, 95 %%: %.1f %% (%d without a fix)\n", runs, p50, p95, noFix);
    EXPECT_GE(p50, 47.0);
    EXPECT_LE(p50, 53.0);
    EXPECT_GE(p95, 93.0);
    EXPECT_LE(p95, 97.0);
}

TEST(MultiFix, UnbiasedOverRepeatedNoise) {
    // One hunt, heard 1000 times: the mean error is a small part of the
    // standard ellipse (its expected size is sqrt(2 / 1000) = 0.045).
    Random r(7);
    const Place tx{50.3, 8.7};
    const double azimuths[] = {10, 75, 160, 250};
    const double kms[] = {5, 30, 12, 60};
    double sumEast = 0, sumNorth = 0;
    FixResult last;
    for (int run = 0; run < 1000; ++run) {
        std::vector<Bearing> bearings;
        for (int i = 0; i < 4; ++i) bearings.push_back(station(tx, azimuths[i], kms[i], 2.0, r.normal()));
        last = solveFix(bearings);
        ASSERT_EQ(last.status, FixStatus::Found);
        const Error d = errorOf(last, tx);
        sumEast += d.east;
        sumNorth += d.north;
    }
    // Whitened by the covariance of the last fix (the geometry does not change).
    const double ee = last.covEastEast, en = last.covEastNorth, nn = last.covNorthNorth;
    const double me = sumEast / 1000, mn = sumNorth / 1000, det = ee * nn - en * en;
    const double mahalanobis = std::sqrt((nn * me * me - 2 * en * me * mn + ee * mn * mn) / det);
    EXPECT_LT(mahalanobis, 0.15) << "mean error " << me << " km east, " << mn << " km north";
}

TEST(MultiFix, ExactForNoiseFreeBearingsAnywhere) {
    Random r(3);
    for (int run = 0; run < 300; ++run) {
        Place tx = transmitter(r, run);
        if (run == 5) tx = {90.0, 0.0};
        if (run == 6) tx = {-90.0, 0.0};
        if (run == 7) tx = {0.0, -180.0};
        const std::vector<Bearing> bearings = hunt(r, tx, r.integer(2, 12), 0.25, 1.5, false);
        const FixResult f = solveFix(bearings);
        ASSERT_EQ(f.status, FixStatus::Found) << run;
        EXPECT_LT(arcBetween(f.x, {tx.lon * kDegToRad, tx.lat * kDegToRad}), 1e-9) << run << " " << tx.lat;
        EXPECT_GE(f.x.lon, -std::numbers::pi);
        EXPECT_LT(f.x.lon, std::numbers::pi);
        EXPECT_TRUE(std::isfinite(f.ellipse95.semiMajorKm) && f.ellipse95.semiMinorKm > 0) << run;
        for (const BearingFit& fit : f.fits) EXPECT_LT(std::fabs(fit.residualDeg), 1e-6);
    }
}

TEST(MultiFix, TwoBearingsCrossWhereBearingIntersectionSays) {
    Random r(11);
    int compared = 0;
    for (int run = 0; run < 500; ++run) {
        const Place tx = transmitter(r, run);
        std::vector<Bearing> two = hunt(r, tx, 2, 0.5, 5.0, true);
        IntersectionResult x;
        bearing_intersection(x, two[0].position.lon, two[0].position.lat, two[0].bearingDeg * kDegToRad,
                             two[1].position.lon, two[1].position.lat, two[1].bearingDeg * kDegToRad);
        for (int order = 0; order < 2; ++order) {
            const FixResult f = solveFix(two);
            ASSERT_EQ(f.status == FixStatus::Found, x.status == 0) << run;
            if (x.status == 0) {
                EXPECT_LT(arcBetween(f.x, x.x), 1e-9) << run;
            }
            std::swap(two[0], two[1]);
        }
        compared += x.status == 0;
    }
    EXPECT_GT(compared, 400);
}

TEST(MultiFix, OrderDoesNotMatter) {
    Random r(5);
    for (int run = 0; run < 100; ++run) {
        const Place tx = transmitter(r, run);
        std::vector<Bearing> bearings = hunt(r, tx, r.integer(3, 12), 0.5, 3.0, true);
        for (const bool robust : {false, true}) {
            const FixResult a = solveFix(bearings, {.robust = robust});
            std::vector<Bearing> shuffled = bearings;
            std::shuffle(shuffled.begin(), shuffled.end(), r.engine());
            const FixResult b = solveFix(shuffled, {.robust = robust});
            ASSERT_EQ(a.status, b.status) << run;
            if (a.status != FixStatus::Found) continue;
            EXPECT_LT(arcBetween(a.x, b.x), 1e-9) << run;
            EXPECT_NEAR(a.ellipse95.semiMajorKm, b.ellipse95.semiMajorKm, 1e-6 * a.ellipse95.semiMajorKm);
            EXPECT_NEAR(a.ellipse95.orientationDeg, b.ellipse95.orientationDeg, 1e-6);
            EXPECT_NEAR(a.chiSquare, b.chiSquare, 1e-6 * (1 + a.chiSquare));
        }
    }
}

TEST(MultiFix, GrossOutlierIsNamedAndRobustModeDiscountsIt) {
    // Eight good bearings (sigma 1 degree) and one 30 degrees off, taken as
    // far away as the others.
    Random r(23);
    double plainError = 0, robustError = 0;
    for (int run = 0; run < 100; ++run) {
        const Place tx{r.uniform(-60, 60), r.uniform(-180, 180)};
        std::vector<Bearing> bearings;
        for (int i = 0; i < 8; ++i) bearings.push_back(station(tx, r.uniform(-180, 180), r.uniform(20, 80), 1.0, r.normal()));
        const std::size_t at = static_cast<std::size_t>(run % 9);
        Bearing wild = station(tx, r.uniform(-180, 180), r.uniform(20, 80), 1.0, run % 2 ? 30.0 : -30.0);
        bearings.insert(bearings.begin() + static_cast<std::ptrdiff_t>(at), wild);

        const FixResult plain = solveFix(bearings);
        const FixResult robust = solveFix(bearings, {.robust = true});
        ASSERT_EQ(plain.status, FixStatus::Found) << run;
        ASSERT_EQ(robust.status, FixStatus::Found) << run;
        EXPECT_TRUE(plain.fits[at].outlier) << run << ": " << plain.fits[at].residualDeg;
        EXPECT_TRUE(robust.fits[at].outlier) << run;
        EXPECT_LT(robust.fits[at].weight, 0.1) << run;
        EXPECT_EQ(plain.fits[at].weight, 1.0);
        const auto length = [](Error e) { return std::hypot(e.east, e.north); };
        plainError += length(errorOf(plain, tx));
        robustError += length(errorOf(robust, tx));
    }
    EXPECT_LT(robustError, 0.5 * plainError) << plainError / 100 << " km on average without robust mode";
}

TEST(MultiFix, EllipseOfPerpendicularBearings) {
    // Worked by hand: X at 0 N 1 E; A on the equator at 0 E looks east, B at
    // 1 N 1 E looks south. Moving X by d across a line seen from r away turns
    // the bearing by d / (R sin r), so the standard deviations are
    // R sin(1 deg) sigma: north-south from A (sigma 1 deg), east-west from B
    // (sigma 0.5 deg).
    const Bearing pair[] = {at(0, 0, 90, true, 2), at(1, 1, 180, true, 1)};
    const FixResult f = solveFix(pair);
    ASSERT_EQ(f.status, FixStatus::Found);
    const double unit = kEarthRadiusKm * std::sin(kDegToRad) * kDegToRad;  // km per degree of bearing
    EXPECT_NEAR(f.ellipse95.semiMajorKm, std::sqrt(5.991464547) * 1.0 * unit, 1e-6);
    EXPECT_NEAR(f.ellipse95.semiMinorKm, std::sqrt(5.991464547) * 0.5 * unit, 1e-6);
    EXPECT_NEAR(std::fmod(f.ellipse95.orientationDeg + 90.0, 180.0), 90.0, 1e-6) << "major axis north-south";
    EXPECT_NEAR(f.ellipse50.semiMajorKm, std::sqrt(2 * std::log(2.0)) * unit, 1e-6);
    EXPECT_EQ(formatEllipse(f.ellipse95), "4.8 \xD7 2.4 km, 0\xB0");

    // Turned by 45 degrees in the plane: the same ellipse along 45 degrees.
    const ConfidenceEllipse turned = confidenceEllipse(2.5, 1.5, 2.5, 1.0);
    EXPECT_NEAR(turned.semiMajorKm, 2.0, 1e-12);
    EXPECT_NEAR(turned.semiMinorKm, 1.0, 1e-12);
    EXPECT_NEAR(turned.orientationDeg, 45.0, 1e-12);
    EXPECT_NEAR(confidenceEllipse(1.0, -0.5, 1.0, 1.0).orientationDeg, 135.0, 1e-12);
    EXPECT_NEAR(confidenceEllipse(4.0, 0.0, 1.0, 1.0).orientationDeg, 90.0, 1e-12);
}

TEST(MultiFix, NoFixAndWhy) {
    Bearing broken = at(50, 9, 315);
    broken.bearingDeg = std::nan("");
    const struct {
        std::vector<Bearing> bearings;
        FixStatus status;
        int used;
    } cases[] = {
        {{}, FixStatus::TooFewBearings, 0},
        {{at(50, 8, 45)}, FixStatus::TooFewBearings, 1},
        {{at(50, 8, 45), at(50, 9, 315, false)}, FixStatus::TooFewBearings, 1},
        {{at(50, 8, 45), broken}, FixStatus::TooFewBearings, 1},
        {{at(0, 0, 90), at(0, 1, 90), at(0, 2, 270)}, FixStatus::NoCrossing, 3},  // one line
        {{at(0, 0, 270), at(0, 1, 90)}, FixStatus::NoCrossing, 2},                // apart
        {{at(50, 8, 45), at(50, 9, 315), at(50.5, 8.5, 0)}, FixStatus::NoneAhead, 3},  // behind the third
        // The third, just south of the crossing, looks away east-south-east:
        // its line meets the second's ahead of all, but S falls towards its station.
        {{at(50, 8, 45), at(50, 9, 315), at(50.25, 8.5, 100)}, FixStatus::OnStation, 3},
        {{at(50, 8, 45), at(50, 9, 315), at(50.5, 8.5, 0, false)}, FixStatus::Found, 2},
    };
    for (const auto& c : cases) {
        const FixResult f = solveFix(c.bearings);
        EXPECT_EQ(f.status, c.status) << c.bearings.size();
        EXPECT_EQ(f.used, c.used);
        EXPECT_EQ(f.fits.size(), c.bearings.size());
        EXPECT_EQ(std::string(fixStatusReason(f.status)).empty(), c.status == FixStatus::Found);
    }
    // A disabled bearing gets its residual but changes nothing.
    const std::vector<Bearing> three = {at(50, 8, 45), at(50, 9, 315), at(50.5, 8.5, 0, false)};
    const FixResult f = solveFix(three);
    EXPECT_FALSE(f.fits[2].used);
    EXPECT_NEAR(std::fabs(f.fits[2].residualDeg), 180.0, 1e-9);
    EXPECT_EQ(f.fits[2].weight, 0.0);
}

}  // namespace
}  // namespace bearfix
