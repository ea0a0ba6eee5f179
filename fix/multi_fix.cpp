#include "fix/multi_fix.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "geo/great_circle.h"
#include "support/number_format.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kHuberK = 1.5;  // sigmas
static_assert(kHuberK == kRobustCornerSigmas);
constexpr double kOutlierSigmas = 3.0;
// Start candidates: every pair up to this many, a sample beyond; S of a
// candidate over at most kMaxScored bearings (evenly spread).
constexpr std::size_t kMaxPairs = 64;
constexpr std::size_t kMaxScored = 512;
constexpr int kMaxIterations = 60;
constexpr double kConverged = 1e-13;  // step in radians (0.6 micrometres)
// Unit vectors hold a position to about 1e-16 rad, which makes S uncertain in
// its last digits; a step below this that raises S only meets that noise.
constexpr double kNoiseFloor = 1e-9;
constexpr double kOnStation = 1e-8;  // radians (6 cm)

using Vec = std::array<double, 3>;

double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Vec unitVector(double lon, double lat) {
    return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}

// A bearing as vectors: the line leaves the station along t; r points 90
// degrees clockwise of t and is the normal of the line's great circle. For a
// point X, atan2(X.r, X.t) is brg(X) - theta.
struct Line {
    Vec t, r;
    double invSigma;    // 1 / sigma, radians
    std::size_t index;  // in the input
};

// North and east at the station; at a pole "north" is the direction of the
// meridian of its longitude, as the course functions take it.
Line lineOf(const Bearing& b, std::size_t index) {
    const double slat = std::sin(b.position.lat), clat = std::cos(b.position.lat);
    const double slon = std::sin(b.position.lon), clon = std::cos(b.position.lon);
    const double theta = b.bearingDeg * kDegToRad, sth = std::sin(theta), cth = std::cos(theta);
    const Vec north = {-slat * clon, -slat * slon, clat}, east = {-slon, clon, 0.0};
    Line line;
    for (int i = 0; i < 3; ++i) {
        line.t[i] = cth * north[i] + sth * east[i];
        line.r[i] = -sth * north[i] + cth * east[i];
    }
    line.invSigma = 1.0 / (bearingSigmaDeg(b.toleranceDeg) * kDegToRad);
    line.index = index;
    return line;
}

// East and north at a point; at a pole those of the meridian 0.
struct Frame {
    Vec p, east, north;
};

Frame frameAt(const Vec& p) {
    const double h = std::hypot(p[0], p[1]);
    if (!(h > 0.0)) return {p, {0.0, 1.0, 0.0}, {-p[2], 0.0, 0.0}};
    return {p, {-p[1] / h, p[0] / h, 0.0}, {-p[2] * p[0] / h, -p[2] * p[1] / h, h}};
}

double residual(const Line& line, const Vec& x) {
    const double a = std::atan2(dot(x, line.r), dot(x, line.t));
    return a <= -kPi ? kPi : a;  // (-pi, pi]
}

// The cost of one bearing at z = residual / sigma, and its weight in the
// normal equations (times 1 / sigma^2).
double cost(double z, bool robust) {
    const double az = std::fabs(z);
    return robust && az > kHuberK ? 2.0 * kHuberK * az - kHuberK * kHuberK : z * z;
}
double weight(double z, bool robust) {
    const double az = std::fabs(z);
    return robust && az > kHuberK ? kHuberK / az : 1.0;
}

// The objective at a point with the normal equations of its tangent plane.
struct Evaluation {
    double objective = 0.0;
    double a11 = 0.0, a12 = 0.0, a22 = 0.0;  // J'WJ
    double h11 = 0.0, h12 = 0.0, h22 = 0.0;  // J'WJ + sum of w res (Hessian of res)
    double g1 = 0.0, g2 = 0.0;               // J'W res
    double nearest = 1.0;                    // sin^2 of the distance to the nearest station
};

// With c = X.t and k = X.r, res = atan2(k, c). Along the tangent step
// (u, v) the second derivatives of X are -X, so those of c and k are -c and
// -k, and the derivatives of res below follow.
Evaluation evaluate(std::span<const Line> lines, const Frame& f, bool robust) {
    Evaluation e;
    for (const Line& line : lines) {
        const double c = dot(f.p, line.t), k = dot(f.p, line.r);
        double res = std::atan2(k, c);
        if (res <= -kPi) res = kPi;
        const double z = res * line.invSigma;
        e.objective += cost(z, robust);
        const double q = c * c + k * k;
        e.nearest = std::min(e.nearest, q);
        if (!(q > 1e-24)) continue;  // on the station: no direction
        const double cu = dot(f.east, line.t), cv = dot(f.north, line.t);
        const double ku = dot(f.east, line.r), kv = dot(f.north, line.r);
        const double ru = (c * ku - k * cu) / q, rv = (c * kv - k * cv) / q;
        const double qu = 2.0 * (c * cu + k * ku) / q, qv = 2.0 * (c * cv + k * kv) / q;
        const double ruu = -ru * qu, rvv = -rv * qv, ruv = (cv * ku - kv * cu) / q - ru * qv;
        const double w = weight(z, robust) * line.invSigma * line.invSigma;
        e.a11 += w * ru * ru;
        e.a12 += w * ru * rv;
        e.a22 += w * rv * rv;
        e.h11 += w * res * ruu;
        e.h12 += w * res * ruv;
        e.h22 += w * res * rvv;
        e.g1 += w * ru * res;
        e.g2 += w * rv * res;
    }
    e.h11 += e.a11;
    e.h12 += e.a12;
    e.h22 += e.a22;
    return e;
}

// The point reached from f.p by the tangent step (u east, v north), radians.
Vec step(const Frame& f, double u, double v) {
    const double rho = std::hypot(u, v);
    const double s = rho > 0.0 ? std::sin(rho) / rho : 1.0, c = std::cos(rho);
    Vec x;
    for (int i = 0; i < 3; ++i) x[i] = c * f.p[i] + s * (u * f.east[i] + v * f.north[i]);
    const double n = std::sqrt(dot(x, x));
    for (double& xi : x) xi /= n;
    return x;
}

bool ahead(std::span<const Line> lines, const Vec& x) {
    for (const Line& line : lines)
        if (!(dot(x, line.t) > 0.0)) return false;
    return true;
}

uint64_t splitmix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool usable(const Bearing& b) {
    return b.enabled && std::isfinite(b.position.lat) && std::isfinite(b.position.lon) &&
           std::fabs(b.position.lat) <= kPi / 2 && std::isfinite(b.bearingDeg) && std::isfinite(b.toleranceDeg) &&
           b.toleranceDeg >= 0.0;
}

}  // namespace

const char* fixStatusReason(FixStatus status) {
    switch (status) {
        case FixStatus::Found: return "";
        case FixStatus::TooFewBearings: return "fewer than two usable bearings";
        case FixStatus::NoCrossing: return "the bearings do not cross (parallel or along one line)";
        case FixStatus::NoneAhead: return "no crossing lies ahead of every station";
        case FixStatus::OnStation: return "the best point is a station's own position: a bearing points away from the others";
        case FixStatus::Singular: return "the bearings do not fix a point";
    }
    return "";
}

ConfidenceEllipse confidenceEllipse(double ee, double en, double nn, double chiSquare) {
    const double mean = (ee + nn) / 2.0, half = std::hypot((ee - nn) / 2.0, en);
    const double major = mean + half, minor = std::max(mean - half, 0.0);
    // The major axis at angle phi from east towards north; true bearing 90 - phi.
    double orientation = 90.0 - 0.5 * std::atan2(2.0 * en, ee - nn) * kRadToDeg;
    orientation = std::fmod(orientation, 180.0);
    if (orientation < 0.0) orientation += 180.0;
    if (orientation >= 180.0 - 1e-9) orientation = 0.0;  // a hair below 180 is the axis of 0
    return {std::sqrt(chiSquare * major), std::sqrt(chiSquare * minor), orientation};
}

std::string formatEllipse(const ConfidenceEllipse& e) {
    const auto km = [](double v) {
        return formatPicture(v, v >= 0.095 ? "##0.0" : v >= 0.0095 ? "0.00" : "0.000");
    };
    // Whole degrees; 179.6 is the axis of 0.
    const double orientation = std::round(e.orientationDeg);
    return km(e.semiMajorKm) + " \xD7 " + km(e.semiMinorKm) + " km, " +
           formatPicture(orientation >= 180.0 ? orientation - 180.0 : orientation, "##0") + "\xB0";
}

FixResult solveFix(std::span<const Bearing> bearings, const FixOptions& options) {
    FixResult result;
    result.fits.resize(bearings.size());
    std::vector<Line> lines;
    lines.reserve(bearings.size());
    for (std::size_t i = 0; i < bearings.size(); ++i)
        if (usable(bearings[i])) lines.push_back(lineOf(bearings[i], i));
    result.used = static_cast<int>(lines.size());
    const std::size_t m = lines.size();
    if (m < 2) {
        result.status = FixStatus::TooFewBearings;
        return result;
    }

    // The start: of the pairwise crossings ahead of every station, the one
    // of lowest objective. The crossing of two lines is the cross product of
    // their normals, which is bearing_intersection's X where that finds one;
    // bearing_intersection itself judges only a crossing that would be the
    // best so far.
    const bool robust = options.robust;
    std::vector<Line> sample;
    std::span<const Line> scored = lines;
    if (m > kMaxScored) {
        for (std::size_t k = 0; k < kMaxScored; ++k) sample.push_back(lines[k * m / kMaxScored]);
        scored = sample;
    }
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    if (m * (m - 1) / 2 <= kMaxPairs) {
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = i + 1; j < m; ++j) pairs.emplace_back(i, j);
    } else {
        uint64_t state = m;
        for (std::size_t n = 0; n < kMaxPairs; ++n) {
            const std::size_t i = splitmix(state) % m;
            std::size_t j = splitmix(state) % (m - 1);
            if (j >= i) ++j;
            pairs.emplace_back(i, j);
        }
    }
    const auto crossing = [&](std::size_t i, std::size_t j, Vec& x) {
        IntersectionResult r;
        const Bearing& a = bearings[lines[i].index];
        const Bearing& b = bearings[lines[j].index];
        bearing_intersection(r, a.position.lon, a.position.lat, a.bearingDeg * kDegToRad, b.position.lon,
                             b.position.lat, b.bearingDeg * kDegToRad);
        if (r.status == 0) x = unitVector(r.x.lon, r.x.lat);
        return r.status == 0;
    };
    bool found = false;
    Vec start{};
    double best = std::numeric_limits<double>::infinity();
    for (const auto& [i, j] : pairs) {
        const Line &a = lines[i], &b = lines[j];
        Vec x = {a.r[1] * b.r[2] - a.r[2] * b.r[1], a.r[2] * b.r[0] - a.r[0] * b.r[2],
                 a.r[0] * b.r[1] - a.r[1] * b.r[0]};
        const double length = std::sqrt(dot(x, x));
        if (!(length > 1e-15)) continue;
        const double sign = dot(x, a.t) + dot(x, b.t) >= 0.0 ? 1.0 : -1.0;
        for (double& c : x) c *= sign / length;
        if (!(dot(x, a.t) > 0.0 && dot(x, b.t) > 0.0) || !ahead(scored, x)) continue;
        double s = 0.0;
        for (const Line& line : scored) {
            s += cost(residual(line, x) * line.invSigma, robust);
            if (s >= best) break;
        }
        Vec exact;
        if (s < best && crossing(i, j, exact) && ahead(lines, exact)) {
            best = s;
            start = exact;
            found = true;
        }
    }
    if (!found) {
        Vec x;
        bool crossed = false;
        for (const auto& [i, j] : pairs)
            if ((crossed = crossing(i, j, x))) break;
        result.status = crossed ? FixStatus::NoneAhead : FixStatus::NoCrossing;
        return result;
    }

    // Newton steps in the tangent plane of the current estimate, Gauss-Newton
    // steps where the Hessian is not positive, both within a trust radius:
    // never more than half the way to the nearest station (where a bearing
    // turns fast), and shrunk after a step that did not lower the objective.
    Frame frame = frameAt(start);
    Evaluation current = evaluate(lines, frame, robust);
    double radius = std::numeric_limits<double>::infinity();
    int iterations = 0;
    for (; iterations < kMaxIterations; ++iterations) {
        const bool newton = current.h11 > 0.0 && current.h11 * current.h22 - current.h12 * current.h12 > 0.0;
        const double m11 = newton ? current.h11 : current.a11;
        const double m22 = newton ? current.h22 : current.a22;
        const double m12 = newton ? current.h12 : current.a12;
        const double det = m11 * m22 - m12 * m12;
        if (!(det > 0.0) || !std::isfinite(det)) break;
        double u = -(m22 * current.g1 - m12 * current.g2) / det;
        double v = -(m11 * current.g2 - m12 * current.g1) / det;
        double size = std::hypot(u, v);
        if (!std::isfinite(size)) break;
        const double limit = std::min(radius, 0.5 * std::asin(std::min(1.0, std::sqrt(current.nearest))));
        if (size > limit) {
            u *= limit / size;
            v *= limit / size;
            size = limit;
        }
        const Frame next = frameAt(step(frame, u, v));
        const Evaluation trial = evaluate(lines, next, robust);
        if (trial.objective <= current.objective) {
            frame = next;
            current = trial;
            if (size < kConverged) break;
            radius = std::max(radius, 4.0 * size);
        } else {
            // A tiny step that does not pay meets the rounding in S.
            if (size < kNoiseFloor) break;
            radius = size / 4.0;
        }
    }
    result.iterations = iterations;

    // Where S falls all the way onto a station, that station's bearing
    // leaves the others behind it: no fix, whatever the rounding left of J.
    if (current.nearest < kOnStation * kOnStation) {
        result.status = FixStatus::OnStation;
        return result;
    }
    // The covariance is the inverse of J'WJ at the fix, in km^2.
    const double det = current.a11 * current.a22 - current.a12 * current.a12;
    const double scale = current.a11 * current.a22;
    if (!(det > 1e-12 * scale) || !std::isfinite(det)) {
        result.status = FixStatus::Singular;
        return result;
    }
    const double r2 = kEarthRadiusKm * kEarthRadiusKm;
    result.covEastEast = current.a22 / det * r2;
    result.covEastNorth = -current.a12 / det * r2;
    result.covNorthNorth = current.a11 / det * r2;
    result.ellipse50 = confidenceEllipse(result.covEastEast, result.covEastNorth, result.covNorthNorth, kChiSquare50);
    result.ellipse95 = confidenceEllipse(result.covEastEast, result.covEastNorth, result.covNorthNorth, kChiSquare95);

    const Vec& x = frame.p;
    result.x.lon = std::atan2(x[1], x[0]);
    if (result.x.lon >= kPi) result.x.lon = -kPi;
    result.x.lat = std::atan2(x[2], std::hypot(x[0], x[1]));
    result.status = FixStatus::Found;

    // Residuals of every bearing that can have one, the disabled included.
    for (std::size_t i = 0; i < bearings.size(); ++i) {
        const Bearing& b = bearings[i];
        Bearing probe = b;
        probe.enabled = true;
        if (!usable(probe)) continue;
        const Line line = lineOf(b, i);
        const double res = residual(line, x), z = res * line.invSigma;
        BearingFit& fit = result.fits[i];
        fit.residualDeg = res * kRadToDeg;
        fit.outlier = std::fabs(z) > kOutlierSigmas;
        fit.used = b.enabled;
        fit.weight = b.enabled ? weight(z, robust) : 0.0;
        if (b.enabled) result.chiSquare += z * z;
    }
    return result;
}

double bearingCost(double z, bool robust) { return cost(z, robust); }

}  // namespace bearfix
