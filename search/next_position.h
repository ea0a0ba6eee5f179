// Where to drive next: of the points within a drive radius of the hunter,
// the one from which one more bearing would shrink the 95 % region most.
//
// Scored by the Fisher information as a fast proxy of the expected posterior
// area: a bearing from C adds g g' / sigma^2 to the information, g the
// gradient of the course from C at the transmitter, so the area of a
// Gaussian region shrinks by (1 + g' Cov g / sigma^2)^(-1/2), Cov the map's
// covariance. That factor is averaged over 64 positions drawn from the map
// (evenly through its cumulative mass), so that a banana or two blobs count
// where they lie; the expected 95 % area is today's times the factor.
// Candidates: the hunter's own place and 10 rings of 36 points out to the
// radius. Points nearer a drawn position than 100 m count as 100 m away.
#pragma once

#include "geo/position.h"
#include "search/hdr_region.h"
#include "search/posterior.h"

namespace bearfix {

struct Viewshed;

inline constexpr double kDefaultDriveRadiusKm = 5.0;

struct NextOptions {
    double driveRadiusKm = kDefaultDriveRadiusKm;
    // Of the new bearing; 0 takes the median of the used bearings'.
    double sigmaDeg = 0.0;
    // With terrain: what the map's centre sees (the transmitter's height as
    // the station's, the antenna's as the target's). Candidates it covers
    // and does not see are left out; those beyond its radius stay.
    const Viewshed* centreView = nullptr;
};

struct NextSuggestion {
    bool found = false;
    GeoPosition point;
    double distanceKm = 0.0;  // from the hunter
    double courseDeg = 0.0;   // from the hunter, true
    double currentAreaKm2 = 0.0;   // of the 95 % region now
    double expectedAreaKm2 = 0.0;  // after one more bearing from the point
};

NextSuggestion suggestNextPosition(const Posterior& posterior, const HdrRegion& region95,
                                   std::span<const Bearing> bearings, GeoPosition from, const NextOptions& options = {});

// The proxy's expected 95 % area for one candidate (for the simulations).
double expectedAreaFrom(const Posterior& posterior, const HdrRegion& region95, GeoPosition candidate, double sigmaDeg);

}  // namespace bearfix
