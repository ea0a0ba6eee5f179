#include "fix/multi_fix.h"

#include <algorithm>
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
constexpr double kJudged = 1e-10;     // the same for the fixes outliers are judged by (0.6 mm)
// Unit vectors hold a position to about 1e-16 rad, which makes S uncertain in
// its last digits; a step below this that raises S only meets that noise.
constexpr double kNoiseFloor = 1e-9;
constexpr double kOnStation = 1e-8;  // radians (6 cm)
// Up to this many used bearings the fix of the others is refined anew for
// a bearing of leverage above kHighLeverage or with a linear step beyond
// kNearLimit sigmas; beyond, no bearing moves the fix far and the step does.
constexpr std::size_t kExactLeaveOneOut = 100;
constexpr double kHighLeverage = 0.2;
constexpr double kNearLimit = 2.0;

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

// The change of a line's residual per radian of tangent step east (ru) and
// north (rv) at f.p; false on the station itself.
bool residualGradient(const Line& line, const Frame& f, double& ru, double& rv) {
    const double c = dot(f.p, line.t), k = dot(f.p, line.r), q = c * c + k * k;
    if (!(q > 1e-24)) return false;
    ru = (c * dot(f.east, line.r) - k * dot(f.east, line.t)) / q;
    rv = (c * dot(f.north, line.r) - k * dot(f.north, line.t)) / q;
    return true;
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

// Newton steps in the tangent plane of the current estimate, Gauss-Newton
// steps where the Hessian is not positive, both within a trust radius:
// never more than half the way to the nearest station (where a bearing
// turns fast), and shrunk after a step that did not lower the objective.
struct Refined {
    Frame frame;
    Evaluation at;
    int iterations = 0;
};

Refined refine(std::span<const Line> lines, const Vec& start, bool robust, double converged = kConverged,
               int maxIterations = kMaxIterations) {
    Refined out{frameAt(start), {}, 0};
    Frame& frame = out.frame;
    Evaluation& current = out.at;
    current = evaluate(lines, frame, robust);
    double radius = std::numeric_limits<double>::infinity();
    int& iterations = out.iterations;
    for (; iterations < maxIterations; ++iterations) {
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
            if (size < converged) break;
            radius = std::max(radius, 4.0 * size);
        } else {
            // A tiny step that does not pay meets the rounding in S.
            if (size < kNoiseFloor) break;
            radius = size / 4.0;
        }
    }
    return out;
}

// The covariance of a refined point in radians^2, east and north: the
// inverse of J'WJ; false where the lines do not fix a point.
bool covarianceOf(const Evaluation& e, double& ee, double& en, double& nn) {
    const double det = e.a11 * e.a22 - e.a12 * e.a12;
    if (!(det > 1e-12 * e.a11 * e.a22) || !std::isfinite(det)) return false;
    ee = e.a22 / det;
    en = -e.a12 / det;
    nn = e.a11 / det;
    return true;
}

bool usable(const Bearing& b) {
    return b.enabled && std::isfinite(b.position.lat) && std::isfinite(b.position.lon) &&
           std::fabs(b.position.lat) <= kPi / 2 && std::isfinite(b.bearingDeg) && std::isfinite(b.toleranceDeg) &&
           b.toleranceDeg >= 0.0;
}

// A residual over its standard deviation: that of the bearing combined with
// that of the fix it is measured against (covariance ee, en, nn in radians^2)
// along the bearing's gradient.
double deviation(const Line& line, const Frame& at, double res, double ee, double en, double nn) {
    double ru, rv;
    if (!residualGradient(line, at, ru, rv)) return 0.0;
    const double sigma2 = 1.0 / (line.invSigma * line.invSigma);
    return res / std::sqrt(sigma2 + ru * ru * ee + 2.0 * ru * rv * en + rv * rv * nn);
}

// A refined point with its covariance (radians^2, east and north there).
struct PointFit {
    Refined refined;
    double ee = 0.0, en = 0.0, nn = 0.0;
    const Frame& frame() const { return refined.frame; }
};

// The fix of `lines` refined from `start`; false where it falls onto a
// station or the lines do not fix a point.
bool fitFrom(std::span<const Line> lines, const Vec& start, bool robust, PointFit& out,
             int maxIterations = kMaxIterations) {
    out.refined = refine(lines, start, robust, kJudged, maxIterations);
    return out.refined.at.nearest >= kOnStation * kOnStation &&
           covarianceOf(out.refined.at, out.ee, out.en, out.nn);
}

double deviationFrom(const Line& line, const PointFit& fit) {
    return deviation(line, fit.frame(), residual(line, fit.frame().p), fit.ee, fit.en, fit.nn);
}

// Each of `lines` against the fix of the others. That fix lies one linear
// step from `fix`, at (A - a_i)^-1 g_i w_i res_i / sigma_i^2, so the residual
// grows by 1 / (1 - h_i) with the leverage h_i = w_i g_i'Cg_i / sigma_i^2,
// and the fix's variance along g_i by the same factor. The step is off by
// about h_i^2: while there are few lines, the others' fix is refined anew
// for a line of high leverage and for one that may be near the limit. 0
// where the others have no fix.
std::vector<double> leaveEachOut(std::span<const Line> lines, const PointFit& fix, bool robust) {
    const std::size_t m = lines.size();
    std::vector<double> out(m, 0.0);
    if (m < 3) return out;
    std::vector<Line> others;
    PointFit fit;
    for (std::size_t k = 0; k < m; ++k) {
        const Line& line = lines[k];
        double ru, rv, h = 1.0;
        if (residualGradient(line, fix.frame(), ru, rv)) {
            const double res = residual(line, fix.frame().p), inv2 = line.invSigma * line.invSigma;
            const double q = ru * ru * fix.ee + 2.0 * ru * rv * fix.en + rv * rv * fix.nn;
            h = weight(res * line.invSigma, robust) * q * inv2;
            if (h < 1.0 - 1e-9) out[k] = res / (1.0 - h) / std::sqrt(1.0 / inv2 + q / (1.0 - h));
        }
        if (m > kExactLeaveOneOut || (h < kHighLeverage && std::fabs(out[k]) < kNearLimit)) continue;
        others.assign(lines.begin(), lines.end());
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(k));
        out[k] = fitFrom(others, fix.frame().p, robust, fit) ? deviationFrom(line, fit) : 0.0;
    }
    return out;
}

// What the fix of all makes of its bearings: the outliers, the fix of the
// others, and the covariance (radians^2, east and north) the ellipses are
// drawn from.
struct Judgement {
    std::vector<bool> outlier;  // per line
    PointFit rest;              // the fix of the others
    double scale = 1.0;
    double ee = 0.0, en = 0.0, nn = 0.0;
};

// Outliers are found one at a time, the worst first, each against the fix
// of the bearings not found yet: a wild bearing pulls the fix towards it,
// and judged together with it honest bearings would look wild too. Beyond
// kExactLeaveOneOut bearings, where no one bearing moves the fix far, those
// at least half as far out as the worst go together. At least three
// bearings are kept: of two, neither can be told wrong. The ellipses are
// those of the fix of the rest, scaled by the rest's scatter and widened by
// the step from that fix to the fix of all (how far the outliers pull it).
Judgement judge(std::span<const Line> lines, const PointFit& all, bool robust, std::vector<BearingFit>& fits) {
    const std::size_t m = lines.size();
    Judgement j;
    j.outlier.assign(m, false);
    std::vector<std::size_t> kept(m);  // indexes into lines
    for (std::size_t k = 0; k < m; ++k) kept[k] = k;
    std::vector<Line> rest(lines.begin(), lines.end());
    PointFit fit = all;
    std::vector<double> deviations = leaveEachOut(rest, fit, robust);
    while (rest.size() > 3) {
        std::vector<std::size_t> wild;  // positions in rest
        for (std::size_t k = 0; k < rest.size(); ++k)
            if (std::fabs(deviations[k]) > kOutlierSigmas) wild.push_back(k);
        if (wild.empty()) break;
        // The worst first; one at a time while there are few, else those at
        // least half as far out as the worst (nearer ones may only be pulled
        // out by it).
        std::sort(wild.begin(), wild.end(),
                  [&](std::size_t a, std::size_t b) { return std::fabs(deviations[a]) > std::fabs(deviations[b]); });
        const double half = std::fabs(deviations[wild[0]]) / 2.0;
        std::size_t count = 1;
        if (rest.size() > kExactLeaveOneOut)
            while (count < wild.size() && std::fabs(deviations[wild[count]]) >= half) ++count;
        wild.resize(std::min(count, rest.size() - 3));
        std::sort(wild.begin(), wild.end());
        std::vector<Line> fewer;
        std::vector<std::size_t> fewerKept;
        for (std::size_t k = 0, w = 0; k < rest.size(); ++k) {
            if (w < wild.size() && wild[w] == k) {
                ++w;
                continue;
            }
            fewer.push_back(rest[k]);
            fewerKept.push_back(kept[k]);
        }
        // With many lines, no few of them move the fix far: one Newton step
        // reaches the fix of the rest to about the square of its length.
        PointFit next;
        if (!fitFrom(fewer, fit.frame().p, robust, next, rest.size() > kExactLeaveOneOut ? 1 : kMaxIterations))
            break;  // the rest fix no point: keep them all
        for (std::size_t k : wild) j.outlier[kept[k]] = true;
        rest = std::move(fewer);
        kept = std::move(fewerKept);
        fit = next;
        deviations = leaveEachOut(rest, fit, robust);
    }

    double chiSquare = 0.0;
    for (std::size_t k = 0; k < rest.size(); ++k) {
        fits[rest[k].index].deviationSigmas = deviations[k];
        const double z = residual(rest[k], fit.frame().p) * rest[k].invSigma;
        chiSquare += z * z;
    }
    for (std::size_t k = 0; k < m; ++k)
        if (j.outlier[k]) fits[lines[k].index].deviationSigmas = deviationFrom(lines[k], fit);
    if (rest.size() > 2) j.scale = std::max(1.0, std::sqrt(chiSquare / static_cast<double>(rest.size() - 2)));
    // The step from the rest's fix to the fix of all, east and north there.
    const Frame& at = all.frame();
    const Vec& p = fit.frame().p;
    const double de = std::atan2(dot(p, at.east), dot(p, at.p)), dn = std::atan2(dot(p, at.north), dot(p, at.p));
    const double k2 = j.scale * j.scale;
    j.ee = k2 * fit.ee + de * de;
    j.en = k2 * fit.en + de * dn;
    j.nn = k2 * fit.nn + dn * dn;
    j.rest = fit;
    return j;
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

std::string formatScale(double scale) {
    return scale > 1.0 ? "scaled \xD7" + formatPicture(scale, "##0.0") + " for scatter" : std::string();
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

    const Refined refined = refine(lines, start, robust);
    result.iterations = refined.iterations;
    const Evaluation& current = refined.at;
    const Frame& frame = refined.frame;

    // Where S falls all the way onto a station, that station's bearing
    // leaves the others behind it: no fix, whatever the rounding left of J.
    if (current.nearest < kOnStation * kOnStation) {
        result.status = FixStatus::OnStation;
        return result;
    }
    // The covariance is the inverse of J'WJ at the fix, in km^2.
    double ee, en, nn;
    if (!covarianceOf(current, ee, en, nn)) {
        result.status = FixStatus::Singular;
        return result;
    }
    const double r2 = kEarthRadiusKm * kEarthRadiusKm;
    result.covEastEast = ee * r2;
    result.covEastNorth = en * r2;
    result.covNorthNorth = nn * r2;

    const Vec& x = frame.p;
    result.x.lon = std::atan2(x[1], x[0]);
    if (result.x.lon >= kPi) result.x.lon = -kPi;
    result.x.lat = std::atan2(x[2], std::hypot(x[0], x[1]));
    result.status = FixStatus::Found;

    // Residuals of every bearing that can have one, the disabled included.
    PointFit all;
    all.refined = refined;
    all.ee = ee;
    all.en = en;
    all.nn = nn;
    const Judgement judgement = judge(lines, all, robust, result.fits);
    for (std::size_t k = 0; k < m; ++k) result.fits[lines[k].index].outlier = judgement.outlier[k];
    for (std::size_t i = 0; i < bearings.size(); ++i) {
        const Bearing& b = bearings[i];
        Bearing probe = b;
        probe.enabled = true;
        if (!usable(probe)) continue;
        const Line line = lineOf(b, i);
        const double res = residual(line, x), z = res * line.invSigma;
        BearingFit& fit = result.fits[i];
        fit.residualDeg = res * kRadToDeg;
        fit.used = b.enabled;
        fit.weight = b.enabled ? weight(z, robust) : 0.0;
        if (b.enabled) result.chiSquare += z * z;
        if (!b.enabled) {
            fit.deviationSigmas = deviationFrom(line, judgement.rest);
            fit.outlier = std::fabs(fit.deviationSigmas) > kOutlierSigmas;
        }
    }
    result.scale = judgement.scale;
    result.ellipse50 = confidenceEllipse(judgement.ee * r2, judgement.en * r2, judgement.nn * r2, kChiSquare50);
    result.ellipse95 = confidenceEllipse(judgement.ee * r2, judgement.en * r2, judgement.nn * r2, kChiSquare95);
    return result;
}

double bearingCost(double z, bool robust) { return cost(z, robust); }

}  // namespace bearfix
