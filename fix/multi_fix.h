// The best fix of any number of bearings: the point X that minimises
//   S(X) = sum over the enabled bearings of ((brg_i(X) - theta_i) / sigma_i)^2,
// where brg_i(X) is the initial great-circle course from station i to X and
// the difference is taken in (-180, 180] degrees, with its confidence
// ellipses and the residual of every bearing.
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
    bool outlier = false;      // |residual| > 3 sigma
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

}  // namespace bearfix
