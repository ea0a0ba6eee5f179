// Spherical geometry of the direction finder: distance and course between two
// points, the point reached along a course, the latitude of a great circle at
// a given longitude, and the intersection of two bearing lines.
//
// The earth is a sphere of radius 6371 km. All angles are radians; courses are
// clockwise from true north; longitudes east positive. Degenerate inputs
// (coincident points, antipodes, poles) give finite results, never NaN.
#pragma once

#include <cstdint>

#include "geo/position.h"

namespace bearfix {

inline constexpr double kEarthRadiusKm = 6371.0;

// x reduced into [0, m] with floor; a negative exact multiple of m gives m.
double angle_modulo(double x, double m);

// A bearing in degrees reduced into [0, 360) exactly (-355 gives 5, 765 gives
// 45); a value that is not finite is returned as it is.
double reduce_bearing_degrees(double degrees);

// asin of x limited to [-1, 1]; NaN counts as -1.
double clamped_asin(double x);

// Angular distance and initial course from point 1 to point 2. The course lies
// in [0, 2pi]: due north gives 2pi, due south pi, the point itself 0. Outputs
// given as null are not written.
void gc_distance_course(double lon1, double lat1, double lon2, double lat2, double* dist, double* course);

// The point reached from point 1 after angular distance `dist` on initial
// course `course`; the longitude is wrapped into [-pi, pi).
void gc_destination(double lon1, double lat1, double dist, double course, double* lon2, double* lat2);

// Latitude at longitude `lon` of the great circle through points 1 and 2.
// For a circle along a meridian (or through a pole) the latitude is not a
// function of longitude; the answer is then lat1, a point of the circle.
double gc_latitude_at(double lon, double lon1, double lat1, double lon2, double lat2);

struct IntersectionResult {
    GeoPosition x;         // the intersection X
    double dist_ab = 0.0;  // angular distances
    double dist_ax = 0.0;
    double dist_bx = 0.0;
    double course_ab = 0.0;  // initial courses between the observers
    double course_ba = 0.0;
    int32_t status = 0;  // 0: X found; 1: no intersection
};

// Where the bearing line leaving A (lon1, lat1) on course13 meets the one
// leaving B (lon2, lat2) on course23, both followed forward from their
// observer; the answer does not change when A and B swap. dist_ab, course_ab
// and course_ba are always written; x, dist_ax and dist_bx only with status 0.
// Status 1 when the bearings point to different sides of the line A-B, run
// (nearly) along it, meet more than 90 degrees of arc (10 000 km) from either
// observer, or a course is not finite. Positions must be finite.
void bearing_intersection(IntersectionResult& result, double lon1, double lat1, double course13, double lon2,
                          double lat2, double course23);

}  // namespace bearfix
