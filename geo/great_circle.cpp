#include "geo/great_circle.h"

#include <array>
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

using Vec = std::array<double, 3>;

Vec unit_vector(double lon, double lat) {
    return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}

// The unit tangent at (lon, lat) pointing along the course.
Vec direction(double lon, double lat, double course) {
    const double north = std::cos(course), east = std::sin(course);
    return {-north * std::sin(lat) * std::cos(lon) - east * std::sin(lon),
            -north * std::sin(lat) * std::sin(lon) + east * std::cos(lon), north * std::cos(lat)};
}

Vec cross(const Vec& u, const Vec& v) {
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

double dot(const Vec& u, const Vec& v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

double norm(const Vec& u) { return std::hypot(u[0], u[1], u[2]); }

}  // namespace

double angle_modulo(double x, double m) {
    if (x >= 0.0) return x - m * std::floor(x / m);
    return x + m * (std::floor(-x / m) + 1.0);
}

double reduce_bearing_degrees(double degrees) {
    if (!std::isfinite(degrees)) return degrees;
    double r = std::fmod(degrees, 360.0) + 0.0;  // exact; + 0.0 makes -0 read 0
    if (r < 0.0) r += 360.0;
    return r < 360.0 ? r : 0.0;  // a tiny negative rounds up to a whole turn
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
    if (!std::isfinite(course13) || !std::isfinite(course23)) {
        r.status = 1;
        return;
    }
    // Far out of one turn the difference below would swallow the course.
    if (std::fabs(course13) > kTwoPi) course13 = std::fmod(course13, kTwoPi);
    if (std::fabs(course23) > kTwoPi) course23 = std::fmod(course23, kTwoPi);

    // Interior angles of the triangle A-B-X at A and at B. Their sines have
    // one sign when both bearings point to the same side of the line A-B; a
    // small product means a bearing runs (nearly) along that line.
    const double ang1 = reduce_to_pi(course13 - course12);
    const double ang2 = reduce_to_pi(course21 - course23);
    if (!(std::sin(ang1) * std::sin(ang2) >= 0.0005)) {
        r.status = 1;
        return;
    }
    // With A and B at one place the bearings meet at A.
    if (d == 0.0) {
        gc_destination(lon1, lat1, 0.0, course13, &r.x.lon, &r.x.lat);
        r.dist_ax = r.dist_bx = 0.0;
        r.status = 0;
        return;
    }

    // The bearing lines as great circles (their normals); they cross at two
    // antipodal points. Bearings on one side of A-B leave both observers
    // towards the same one of them, so the one ahead of both is symmetric in
    // A and B.
    const Vec a = unit_vector(lon1, lat1), b = unit_vector(lon2, lat2);
    const Vec ta = direction(lon1, lat1, course13), tb = direction(lon2, lat2, course23);
    Vec x = cross(cross(a, ta), cross(b, tb));
    const double length = norm(x);
    if (!(length > 1e-15)) {  // both bearing lines on one circle (antipodal observers)
        r.status = 1;
        return;
    }
    const double sign = dot(x, ta) + dot(x, tb) >= 0.0 ? 1.0 : -1.0;
    for (double& c : x) c *= sign / length;
    // Ahead on both lines, and at most 90 degrees of arc from either observer.
    if (!(dot(x, ta) > 0.0 && dot(x, tb) > 0.0 && dot(x, a) >= 0.0 && dot(x, b) >= 0.0)) {
        r.status = 1;
        return;
    }
    r.x.lon = std::atan2(x[1], x[0]);
    if (r.x.lon >= kPi) r.x.lon = -kPi;
    r.x.lat = std::atan2(x[2], std::hypot(x[0], x[1]));
    r.dist_ax = std::atan2(norm(cross(a, x)), dot(a, x));
    r.dist_bx = std::atan2(norm(cross(b, x)), dot(b, x));
    r.status = 0;
}

}  // namespace bearfix
