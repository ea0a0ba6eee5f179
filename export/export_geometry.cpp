#include "export/export_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "geo/great_circle.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;

// A longitude difference into -180..180.
double wrap180(double degrees) { return std::remainder(degrees, 360.0); }

LonLat along(GeoPosition from, double dist, double course) {
    GeoPosition p;
    gc_destination(from.lon, from.lat, dist, course, &p.lon, &p.lat);
    return toDegrees(p);
}

// Longitudes made continuous: each differs from the one before by at most 180.
std::vector<LonLat> unwrapped(const std::vector<LonLat>& points) {
    std::vector<LonLat> out = points;
    for (std::size_t i = 1; i < out.size(); ++i)
        out[i].lon = out[i - 1].lon + wrap180(points[i].lon - points[i - 1].lon);
    return out;
}

// Strip k holds the longitudes 360k - 180 .. 360k + 180.
double stripOf(double lon) { return std::floor((lon + 180.0) / 360.0); }

double latAt(const LonLat& p, const LonLat& q, double lon) {
    return p.lat + (lon - p.lon) / (q.lon - p.lon) * (q.lat - p.lat);
}

void dropRepeats(std::vector<LonLat>& points, bool closed) {
    auto same = [](const LonLat& a, const LonLat& b) { return a.lon == b.lon && a.lat == b.lat; };
    points.erase(std::unique(points.begin(), points.end(), same), points.end());
    while (closed && points.size() > 1 && same(points.front(), points.back())) points.pop_back();
}

// The part of the ring on one side of the meridian `lon` (Sutherland-Hodgman;
// the ring's parts on that side must be connected).
Ring clipAt(const Ring& ring, double lon, bool keepWest) {
    Ring out;
    const auto inside = [&](const LonLat& p) { return keepWest ? p.lon <= lon : p.lon >= lon; };
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const LonLat& prev = ring[(i + ring.size() - 1) % ring.size()];
        const LonLat& cur = ring[i];
        if (inside(cur) != inside(prev)) out.push_back({lon, latAt(prev, cur, lon)});
        if (inside(cur)) out.push_back(cur);
    }
    return out;
}

// The pieces of a ring whose longitudes run continuously (beyond -180..180).
std::vector<Ring> cutIntoStrips(const Ring& ring) {
    double west = ring[0].lon, east = west;
    for (const LonLat& p : ring) {
        west = std::min(west, p.lon);
        east = std::max(east, p.lon);
    }
    std::vector<Ring> pieces;
    for (double k = stripOf(west); k <= stripOf(east); ++k) {
        Ring piece = clipAt(clipAt(ring, 360.0 * k - 180.0, false), 360.0 * k + 180.0, true);
        for (LonLat& p : piece) p.lon -= 360.0 * k;
        dropRepeats(piece, true);
        const double area = signedArea2(piece);
        if (piece.size() < 3 || !(std::fabs(area) > 1e-12)) continue;
        if (area < 0) std::reverse(piece.begin(), piece.end());
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

}  // namespace

int edgeSteps(double km, double degrees) {
    const double n = std::ceil(std::max(km, degrees));
    if (!(n >= 1.0)) return 1;
    return n >= kMaxEdgePoints ? kMaxEdgePoints : static_cast<int>(n);
}

LonLat toDegrees(GeoPosition p) { return {wrap180(p.lon * kRadToDeg), p.lat * kRadToDeg}; }

std::vector<LonLat> bearingLine(GeoPosition origin, double bearing, double length) {
    const int n = edgeSteps(length * kEarthRadiusKm, 0.0);
    std::vector<LonLat> line{toDegrees(origin)};
    for (int i = 1; i <= n; ++i) line.push_back(along(origin, length * i / n, bearing));
    return line;
}

Ring sectorRing(GeoPosition origin, double bearing, double half, double length) {
    const int radial = edgeSteps(length * kEarthRadiusKm, 0.0);
    const int arc = edgeSteps(2.0 * half * kEarthRadiusKm * std::sin(length), 2.0 * half * kRadToDeg);
    Ring ring{toDegrees(origin)};
    for (int i = 1; i <= radial; ++i) ring.push_back(along(origin, length * i / radial, bearing - half));
    for (int j = 1; j <= arc; ++j) ring.push_back(along(origin, length, bearing - half + 2.0 * half * j / arc));
    for (int i = radial - 1; i >= 1; --i) ring.push_back(along(origin, length * i / radial, bearing + half));
    return ring;
}

Ring ellipseRing(GeoPosition centre, double semiMajorKm, double semiMinorKm, double orientationDeg) {
    const double a = semiMajorKm, b = semiMinorKm;
    // Evenly in the parameter: a step of 2 pi a / n km at most, 360 / n degrees.
    const int n = edgeSteps(2.0 * kPi * a, 360.0);
    Ring ring;
    for (int k = 0; k < n; ++k) {
        const double t = 2.0 * kPi * k / n, x = a * std::cos(t), y = b * std::sin(t);
        ring.push_back(along(centre, std::hypot(x, y) / kEarthRadiusKm, orientationDeg * kDegToRad + std::atan2(y, x)));
    }
    return ring;
}

Ring greatCirclePolygon(const std::vector<GeoPosition>& corners) {
    Ring ring;
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const GeoPosition a = corners[i], b = corners[(i + 1) % corners.size()];
        double dist, course;
        gc_distance_course(a.lon, a.lat, b.lon, b.lat, &dist, &course);
        const int n = edgeSteps(dist * kEarthRadiusKm, 0.0);
        ring.push_back(toDegrees(a));
        for (int s = 1; s < n; ++s) ring.push_back(along(a, dist * s / n, course));
    }
    return ring;
}

double signedArea2(const Ring& ring) {
    double sum = 0.0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const LonLat& p = ring[i];
        const LonLat& q = ring[(i + 1) % ring.size()];
        sum += p.lon * q.lat - q.lon * p.lat;
    }
    return sum;
}

std::vector<std::vector<LonLat>> splitLineAtAntimeridian(const std::vector<LonLat>& line) {
    std::vector<std::vector<LonLat>> pieces;
    if (line.size() < 2) return pieces;
    const std::vector<LonLat> u = unwrapped(line);
    const auto finish = [&pieces](std::vector<LonLat>& piece) {
        dropRepeats(piece, false);
        if (piece.size() >= 2) pieces.push_back(std::move(piece));
        piece.clear();
    };
    std::vector<LonLat> piece{{u[0].lon - 360.0 * stripOf(u[0].lon), u[0].lat, u[0].ele}};
    for (std::size_t i = 1; i < u.size(); ++i) {
        const LonLat& p = u[i - 1];
        const LonLat& q = u[i];
        const double kq = stripOf(q.lon), step = kq > stripOf(p.lon) ? 1.0 : -1.0;
        for (double k = stripOf(p.lon); k != kq; k += step) {
            const double boundary = 360.0 * k + 180.0 * step, t = (boundary - p.lon) / (q.lon - p.lon);
            const double lat = p.lat + t * (q.lat - p.lat), ele = p.ele + t * (q.ele - p.ele);
            piece.push_back({180.0 * step, lat, ele});
            finish(piece);
            piece.push_back({-180.0 * step, lat, ele});
        }
        piece.push_back({q.lon - 360.0 * kq, q.lat, q.ele});
    }
    finish(piece);
    return pieces;
}

std::vector<Ring> splitPolygonAtAntimeridian(const Ring& ring) {
    if (ring.size() < 3) return {};
    Ring u = unwrapped(ring);
    const double turn = u.back().lon + wrap180(ring.front().lon - ring.back().lon) - u.front().lon;
    if (std::fabs(turn) < 180.0) return cutIntoStrips(u);

    // Round a pole: start at a meridian 180 where the outline crosses it, go
    // round once, and close along the pole.
    u.push_back({u.front().lon + turn, u.front().lat});
    double meanLat = 0.0;
    for (const LonLat& p : ring) meanLat += p.lat / static_cast<double>(ring.size());
    for (std::size_t i = 0; i + 1 < u.size(); ++i) {
        const double k0 = stripOf(u[i].lon), k1 = stripOf(u[i + 1].lon);
        if (k0 == k1) continue;
        const double boundary = 360.0 * std::max(k0, k1) - 180.0, lat = latAt(u[i], u[i + 1], boundary);
        Ring band{{boundary, lat}};
        for (std::size_t j = i + 1; j + 1 < u.size(); ++j) band.push_back(u[j]);
        for (std::size_t j = 0; j <= i; ++j) band.push_back({u[j].lon + turn, u[j].lat});
        const double pole = meanLat >= 0 ? 90.0 : -90.0;
        band.push_back({boundary + turn, lat});
        band.push_back({boundary + turn, pole});
        band.push_back({boundary, pole});
        return cutIntoStrips(band);
    }
    return {};
}

}  // namespace bearfix
