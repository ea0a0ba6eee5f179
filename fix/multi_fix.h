// The best fix of any number of bearings: the point X that minimises
//   S(X) = sum over the enabled bearings of ((brg_i(X) - theta_i) / sigma_i)^2,
// where brg_i(X) is the initial great-circle course from station i to X and
// the difference is taken in (-180, 180] degrees, with its confidence
// ellipses and the residual of every bearing.
//
// A bearing is an outlier when its residual against the fix of the others
// (the outliers found before it left out too) is more than three of its
// standard deviations: an honest bearing is named one in 370 times, and a
// wild one cannot hide by pulling the fix towards itself. The ellipses are
// honest about what the model does not know: they are those of the fix of
// the bearings that are no outliers, grown by the square root of the reduced
// chi-square of those when it exceeds 1, and widened to take in the step
// from that fix to the fix of all (the outliers' pull). In simulated hunts
// (bench/fix_coverage) the 95 % ellipse holds the transmitter 95 to 98
// times in 100 when clean or with one or two wild bearings among 12 to 20,
// 91 to 97 with one among 5 to 7, but only 81 to 88 with two among 5 to 7:
// with a third of the bearings wild the honest ones are not always told.
// Tolerances that understate the scatter by half leave 82 to 89: the
// scale, estimated from few bearings, makes up for part of it only.
//
// Found by Newton steps (Gauss-Newton where the Hessian is not positive)
// within a trust radius, in the tangent plane at the current estimate
// (re-centred after every step, so poles and the date line are ordinary
// places), started from the pairwise crossing (bearing_intersection) of
// lowest S among those that lie ahead of every enabled station. With many
// bearings a bounded sample of pairs is tried.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "fix/bearing.h"

namespace bearfix {

// Quantiles of chi-square with two degrees of freedom: -2 ln(1 - p).
inline constexpr double kChiSquare50 = 1.3862943611198906;
inline constexpr double kChiSquare95 = 5.991464547107979;

// Where the robust fix's Huber weights begin, in standard deviations.
inline constexpr double kRobustCornerSigmas = 1.5;

// What one bearing whose residual is z standard deviations adds to S: z^2,
// or with robust Huber's cost, linear beyond kRobustCornerSigmas.
// exp(-cost / 2) is the bearing's likelihood, which the probability map
// uses (search/posterior.h).
double bearingCost(double z, bool robust);

struct ConfidenceEllipse {
    double semiMajorKm = 0.0;
    double semiMinorKm = 0.0;
    double orientationDeg = 0.0;  // of the major axis, degrees true, [0, 180)
};

enum class FixStatus {
    Found,
    TooFewBearings,  // fewer than two usable enabled bearings
    NoCrossing,      // no two bearings cross (parallel, along one line, too far)
    NoneAhead,       // every crossing lies behind some station
    OnStation,       // S falls towards a station's own position: a bearing points away from the others
    Singular,        // the bearings do not fix a point
};

// Why there is no fix ("fewer than two usable bearings", ...); empty for Found.
const char* fixStatusReason(FixStatus status);

struct BearingFit {
    double residualDeg = 0.0;  // brg_i(X) - theta_i, (-180, 180]; 0 without a fix
    // The residual against the fix of the other bearings that are no
    // outliers, over its standard deviation (the bearing's sigma combined
    // with the uncertainty of the others' fix along it); 0 where the others
    // have no fix.
    double deviationSigmas = 0.0;
    bool outlier = false;  // |deviationSigmas| > 3; of three used bearings or fewer, none is
    bool used = false;         // enabled and usable (finite, a real position)
    double weight = 0.0;       // relative weight in the fix: 1, less when robust, 0 unused
};

struct FixResult {
    FixStatus status = FixStatus::TooFewBearings;
    int used = 0;    // bearings that took part
    GeoPosition x;   // the fix, longitude in [-pi, pi)
    // Covariance of X in km^2, east and north at X: (J'WJ)^-1 with W the
    // weights 1 / sigma^2 (times the Huber weights when robust), not scaled by
    // the residuals.
    double covEastEast = 0.0, covEastNorth = 0.0, covNorthNorth = 0.0;
    // The square root of the reduced chi-square of the bearings that are no
    // outliers (at their own fix) when it exceeds 1, that is when they
    // scatter more than their tolerances say; else 1.
    double scale = 1.0;
    // Those of the fix of the bearings that are no outliers, its covariance
    // times scale^2, widened by the step from that fix to X; without
    // outliers, of the covariance above times scale^2.
    ConfidenceEllipse ellipse50;
    ConfidenceEllipse ellipse95;
    double chiSquare = 0.0;  // S at X
    int iterations = 0;
    std::vector<BearingFit> fits;  // one per input bearing, in its order
};

struct FixOptions {
    // Huber weights (k = 1.5 sigma): a bearing far off counts less.
    bool robust = false;
};

FixResult solveFix(std::span<const Bearing> bearings, const FixOptions& options = {});

// The ellipse of a covariance (km^2, east/north) holding probability p, with
// chiSquare the quantile of p.
ConfidenceEllipse confidenceEllipse(double covEastEast, double covEastNorth, double covNorthNorth,
                                    double chiSquare);

// "2.3 \xD7 0.8 km, 45\xB0" (Windows-1252): semi-axes and orientation.
std::string formatEllipse(const ConfidenceEllipse& ellipse);

// "scaled \xD7" "2.1 for scatter" (Windows-1252) for a FixResult::scale above 1;
// empty for 1.
std::string formatScale(double scale);

}  // namespace bearfix
