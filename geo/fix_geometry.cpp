#include "geo/fix_geometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "geo/position_patterns.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;

using Vec = std::array<double, 3>;

Vec unit_vector(GeoPosition p) {
    return {std::cos(p.lat) * std::cos(p.lon), std::cos(p.lat) * std::sin(p.lon), std::sin(p.lat)};
}

GeoPosition position_of(const Vec& v) {
    GeoPosition p{std::atan2(v[1], v[0]), std::atan2(v[2], std::hypot(v[0], v[1]))};
    if (p.lon >= kPi) p.lon = -kPi;
    return p;
}

// Unit vectors east and north at p.
Vec east_at(GeoPosition p) { return {-std::sin(p.lon), std::cos(p.lon), 0.0}; }
Vec north_at(GeoPosition p) {
    return {-std::sin(p.lat) * std::cos(p.lon), -std::sin(p.lat) * std::sin(p.lon), std::cos(p.lat)};
}

// The unit tangent at p pointing along the course.
Vec direction(GeoPosition p, double course) {
    const Vec e = east_at(p), n = north_at(p);
    const double c = std::cos(course), s = std::sin(course);
    return {c * n[0] + s * e[0], c * n[1] + s * e[1], c * n[2] + s * e[2]};
}

Vec cross(const Vec& u, const Vec& v) {
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

double dot(const Vec& u, const Vec& v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

double norm(const Vec& u) { return std::hypot(u[0], u[1], u[2]); }

double angle_between(const Vec& u, const Vec& v) { return std::atan2(norm(cross(u, v)), dot(u, v)); }

Vec negated(const Vec& v) { return {-v[0], -v[1], -v[2]}; }

// A point of the gnomonic plane tangent at X: u east, v north. Great circles
// are straight lines there, and a hemisphere whose pole is not too far from
// X a half-plane.
struct Planar {
    double u, v;
};

// The half-plane c + u*e + v*n >= 0: the hemisphere {Q : Q.normal >= 0}.
struct HalfPlane {
    double c, e, n;
    double at(Planar p) const { return c + p.u * e + p.v * n; }
};

// Points this close to a boundary count as on it; the zero tolerance of a
// sector puts X on both of its edges.
constexpr double kOnBoundary = 1e-12;
// The plane is clipped to this square first: tan 63 degrees, far beyond the
// 5000 km (tan 45 degrees) up to which an area counts as bounded.
constexpr double kSquare = 2.0;

using Polygon = std::vector<Planar>;

// Sutherland-Hodgman: what of the convex polygon lies in the half-plane.
Polygon clip(const Polygon& in, const HalfPlane& h) {
    Polygon out;
    if (in.empty()) return out;
    out.reserve(in.size() + 1);
    for (std::size_t i = 0; i < in.size(); ++i) {
        const Planar p = in[i], q = in[(i + 1) % in.size()];
        const double sp = h.at(p), sq = h.at(q);
        const bool pIn = sp >= -kOnBoundary, qIn = sq >= -kOnBoundary;
        if (pIn) out.push_back(p);
        if (pIn != qIn) {
            const double t = std::clamp(sp / (sp - sq), 0.0, 1.0);
            out.push_back({p.u + t * (q.u - p.u), p.v + t * (q.v - p.v)});
        }
    }
    return out;
}

// Sector of an observer: left of its edge at bearing + tolerance, right of
// its edge at bearing - tolerance, and ahead of it (which a tolerance of 0
// needs: both edges are then one great circle, both ways round).
std::array<Vec, 3> sector_normals(GeoPosition p, double bearing, double tolerance) {
    const Vec at = unit_vector(p);
    return {cross(at, direction(p, bearing + tolerance)), negated(cross(at, direction(p, bearing - tolerance))),
            direction(p, bearing)};
}

// Area of the spherical triangle of unit vectors (Van Oosterom and Strackee).
double triangle_excess(const Vec& a, const Vec& b, const Vec& c) {
    const double numerator = std::fabs(dot(a, cross(b, c)));
    const double denominator = 1.0 + dot(a, b) + dot(b, c) + dot(c, a);
    return 2.0 * std::atan2(numerator, denominator);
}

}  // namespace

SearchArea search_area(GeoPosition x, GeoPosition a, double bearingA, double toleranceA, GeoPosition b,
                       double bearingB, double toleranceB) {
    SearchArea r;
    toleranceA = std::fabs(toleranceA);
    toleranceB = std::fabs(toleranceB);
    if (!(toleranceA < kPi / 2) || !(toleranceB < kPi / 2) || !std::isfinite(bearingA) || !std::isfinite(bearingB)) {
        r.kind = SearchArea::kUnbounded;  // a sector of a hemisphere or more, or no sector at all
        return r;
    }
    r.kind = SearchArea::kBounded;
    if (toleranceA == 0.0 && toleranceB == 0.0) {
        r.polygon = {x};
        return r;
    }

    const Vec centre = unit_vector(x), east = east_at(x), north = north_at(x);
    Polygon polygon = {{-kSquare, -kSquare}, {kSquare, -kSquare}, {kSquare, kSquare}, {-kSquare, kSquare}};
    for (const auto& normals : {sector_normals(a, bearingA, toleranceA), sector_normals(b, bearingB, toleranceB)}) {
        for (const Vec& n : normals) polygon = clip(polygon, {dot(centre, n), dot(east, n), dot(north, n)});
    }
    // Corners that rounding doubled.
    Polygon corners;
    for (const Planar& p : polygon) {
        if (corners.empty() || std::hypot(p.u - corners.back().u, p.v - corners.back().v) > kOnBoundary)
            corners.push_back(p);
    }
    while (corners.size() > 1 &&
           std::hypot(corners.front().u - corners.back().u, corners.front().v - corners.back().v) <= kOnBoundary)
        corners.pop_back();
    if (corners.empty()) {  // X on the boundary of an overlap too thin to hold a point
        r.polygon = {x};
        return r;
    }

    const double limit = std::tan(kUnboundedSearchKm / kEarthRadiusKm);
    std::vector<Vec> vertices;
    for (const Planar& p : corners) {
        if (std::hypot(p.u, p.v) > limit) {
            r.kind = SearchArea::kUnbounded;
            return r;
        }
        Vec q = {centre[0] + p.u * east[0] + p.v * north[0], centre[1] + p.u * east[1] + p.v * north[1],
                 centre[2] + p.u * east[2] + p.v * north[2]};
        const double length = norm(q);
        for (double& c : q) c /= length;
        vertices.push_back(q);
    }

    // The longest distance between two points of a convex area within 45
    // degrees of X lies between two of its corners.
    std::size_t far1 = 0, far2 = 0;
    double longest = 0.0;
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        for (std::size_t j = i + 1; j < vertices.size(); ++j) {
            const double d = angle_between(vertices[i], vertices[j]);
            if (d > longest) {
                longest = d;
                far1 = i;
                far2 = j;
            }
        }
    }
    r.size_km = longest * kEarthRadiusKm;
    if (toleranceA == 0.0 || toleranceB == 0.0) {  // a piece of one bearing line: no area
        r.polygon = {position_of(vertices[far1]), position_of(vertices[far2])};
        if (far1 == far2) r.polygon.pop_back();
        return r;
    }
    double excess = 0.0;
    for (std::size_t i = 1; i + 1 < vertices.size(); ++i)
        excess += triangle_excess(vertices[0], vertices[i], vertices[i + 1]);
    r.area_km2 = excess * kEarthRadiusKm * kEarthRadiusKm;
    for (const Vec& v : vertices) r.polygon.push_back(position_of(v));
    return r;
}

double crossing_angle(GeoPosition x, GeoPosition a, double bearingA, GeoPosition b, double bearingB) {
    // A great circle with the normal n is travelled at Q in the direction n x Q.
    const Vec at = unit_vector(x);
    const Vec alongA = cross(cross(unit_vector(a), direction(a, bearingA)), at);
    const Vec alongB = cross(cross(unit_vector(b), direction(b, bearingB)), at);
    return angle_between(alongA, alongB);
}

bool is_shallow_crossing(double angle) { return angle < 20.0 * kDegToRad || angle > 160.0 * kDegToRad; }

std::vector<BackBearingCrossing> back_bearing_crossings(GeoPosition a, double bearingA, bool ambiguityA,
                                                        GeoPosition b, double bearingB, bool ambiguityB) {
    struct Combination {
        bool needsA, needsB;
        double turnA, turnB;
        const char* combination;
        const char* label;
    };
    static constexpr Combination kCombinations[] = {
        {true, false, kPi, 0.0, "A+180/B", "A+180 \xD7 B"},
        {false, true, 0.0, kPi, "A/B+180", "A \xD7 B+180"},
        {true, true, kPi, kPi, "A+180/B+180", "A+180 \xD7 B+180"},
    };
    std::vector<BackBearingCrossing> found;
    for (const Combination& c : kCombinations) {
        if ((c.needsA && !ambiguityA) || (c.needsB && !ambiguityB)) continue;
        IntersectionResult r;
        bearing_intersection(r, a.lon, a.lat, bearingA + c.turnA, b.lon, b.lat, bearingB + c.turnB);
        if (r.status == 0) found.push_back({c.combination, c.label, r.x});
    }
    return found;
}

double read_bearing_degrees(std::string_view text, double correctionDeg) {
    const double typed = scan_decimal(text);
    return reduce_bearing_degrees(correctionDeg == 0.0 ? typed : typed + correctionDeg);
}

double read_tolerance(std::string_view text) { return scan_decimal(text) * kDegToRad; }

Fix compute_fix(const FixTexts& in) {
    Fix f;
    f.validA = read_position(in.pos1, f.observerA);
    f.validB = read_position(in.pos2, f.observerB);
    if (in.brg1x.empty() || in.brg2x.empty()) return f;
    f.computed = true;
    if (!f.validA || !f.validB) {
        f.crossing.status = 1;
        return f;
    }
    // Whole turns are taken off in degrees, where it is exact.
    const double brg1 = read_bearing_degrees(in.brg1x, in.correction1) * kDegToRad;
    const double brg2 = read_bearing_degrees(in.brg2x, in.correction2) * kDegToRad;
    const GeoPosition a = f.observerA, b = f.observerB;
    bearing_intersection(f.crossing, a.lon, a.lat, brg1, b.lon, b.lat, brg2);
    if (f.crossing.status == 0) {
        f.crossingAngle = crossing_angle(f.crossing.x, a, brg1, b, brg2);
        f.area = search_area(f.crossing.x, a, brg1, read_tolerance(in.tol1), b, brg2, read_tolerance(in.tol2));
    }
    f.alternatives = back_bearing_crossings(a, brg1, in.ambiguity1, b, brg2, in.ambiguity2);
    return f;
}

}  // namespace bearfix
