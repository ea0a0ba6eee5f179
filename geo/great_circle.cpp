#include "geo/great_circle.h"

#include <cmath>
#include <numbers>

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// The classic navigation formulas take acos and asin of quotients, which lose
// up to half of the digits near 0 and 180 degrees and near the poles. These
// are the same functions in their atan2 forms, exact everywhere.

struct DistanceCourse {
    double dist;
    double course;
};

// Distance and initial course from point 1 to point 2, longitudes east
// positive. Due north reads 2pi; coincident points and a start at a pole
// read course 0.
DistanceCourse distance_course(double lon1, double lat1, double lon2, double lat2) {
    const double dlon = lon2 - lon1;
    const double east = std::cos(lat2) * std::sin(dlon);
    const double north = std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dlon);
    const double up = std::sin(lat1) * std::sin(lat2) + std::cos(lat1) * std::cos(lat2) * std::cos(dlon);
    DistanceCourse r{std::atan2(std::hypot(east, north), up), 0.0};
    if (std::fabs(std::cos(lat1) * std::sin(r.dist)) > 1e-30) {
        r.course = std::atan2(east, north);
        if (r.course <= 0.0) r.course += kTwoPi;
    }
    return r;
}

double reduce_to_pi(double a) {
    if (a < -kPi) a += kTwoPi;
    if (a > kPi) a -= kTwoPi;
    return a;
}

}  // namespace

double angle_modulo(double x, double m) {
    if (x >= 0.0) return x - m * std::floor(x / m);
    return x + m * (std::floor(-x / m) + 1.0);
}

double clamped_asin(double x) {
    if (x > 1.0) return kPi / 2.0;
    if (!(x >= -1.0)) return -kPi / 2.0;
    return std::asin(x);
}

void gc_distance_course(double lon1, double lat1, double lon2, double lat2, double* dist, double* course) {
    DistanceCourse r = distance_course(lon1, lat1, lon2, lat2);
    if (dist) *dist = r.dist;
    if (course) *course = r.course;
}

void gc_destination(double lon1, double lat1, double dist, double course, double* lon2, double* lat2) {
    // The destination as a vector in a frame where the start lies on the
    // meridian 0: x towards (0, 0), y towards 90 E, z towards the north pole.
    const double x = std::cos(lat1) * std::cos(dist) - std::sin(lat1) * std::sin(dist) * std::cos(course);
    const double y = std::sin(course) * std::sin(dist);
    const double z = std::sin(lat1) * std::cos(dist) + std::cos(lat1) * std::sin(dist) * std::cos(course);
    if (lon2) *lon2 = angle_modulo(lon1 + std::atan2(y, x) + kPi, kTwoPi) - kPi;
    if (lat2) *lat2 = std::atan2(z, std::hypot(x, y));
}

double gc_latitude_at(double lon, double lon1, double lat1, double lon2, double lat2) {
    double s = std::sin(lon2 - lon1);
    double q = std::cos(lat1) * std::cos(lat2) * s;
    if (std::fabs(s) <= 1e-100 || q == 0.0) return lat1;
    return std::atan((std::sin(lat1) * std::cos(lat2) * std::sin(lon2 - lon) -
                      std::sin(lat2) * std::cos(lat1) * std::sin(lon1 - lon)) /
                     q);
}

void bearing_intersection(IntersectionResult& r, double lon1, double lat1, double course13, double lon2,
                          double lat2, double course23) {
    const DistanceCourse ab = distance_course(lon1, lat1, lon2, lat2);
    const double d = ab.dist;
    const double course12 = ab.course;
    const double course21 = distance_course(lon2, lat2, lon1, lat1).course;
    r.dist_ab = d;
    r.course_ab = course12;
    r.course_ba = course21;

    // Interior angles of the triangle A-B-X at A and at B. Their sines have
    // one sign when both bearings point to the same side of the line A-B; a
    // small product means a bearing runs (nearly) along that line.
    double ang1 = reduce_to_pi(course13 - course12);
    double ang2 = reduce_to_pi(course21 - course23);
    if (!(std::sin(ang1) * std::sin(ang2) >= 0.0005)) {
        r.status = 1;
        return;
    }
    ang1 = std::fabs(ang1);
    ang2 = std::fabs(ang2);

    // Sides A-X and B-X from the sine rule (their sines) and the cosine rule
    // (their cosines), so that sides beyond 90 degrees are told apart from
    // their supplements. With A and B at one place the bearings meet at A.
    double dist13 = 0.0, dist23 = 0.0;
    const double sin_d = std::sin(d);
    if (sin_d != 0.0) {
        double cos_ang3 = std::sin(ang1) * std::sin(ang2) * std::cos(d) - std::cos(ang1) * std::cos(ang2);
        if (cos_ang3 > 1.0) cos_ang3 = 1.0;
        if (cos_ang3 < -1.0) cos_ang3 = -1.0;
        double sines = std::sin(ang1) * std::sin(ang2) * sin_d;
        dist13 = std::atan2(sines, std::cos(ang2) + std::cos(ang1) * cos_ang3);
        dist23 = std::atan2(sines, std::cos(ang1) + std::cos(ang2) * cos_ang3);
    }
    // Bearings that diverge meet only on the far side of the earth.
    if (dist13 > kPi / 2.0) {
        r.status = 1;
        return;
    }
    gc_destination(lon1, lat1, dist13, course13, &r.x.lon, &r.x.lat);
    r.dist_ax = dist13;
    r.dist_bx = dist23;
    r.status = 0;
}

}  // namespace bearfix
