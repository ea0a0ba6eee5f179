#include "map/screen_path.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2 * std::numbers::pi;
// A path is first cut into steps of at most a degree, so that no step hides a
// bend that its middle would not show; then halved where its middle strays
// from the chord.
constexpr double kFirstStep = kPi / 180;
constexpr int kMaxFirstSteps = 1000;
constexpr double kShortChord = 2.0;  // pixels: drawn straight without a look at the middle
constexpr double kTolerance = 0.25;  // pixels a chord may stray from the path
constexpr int kMaxDepth = 36;        // a degree halved this often is well below a float's step
constexpr double kReachMargin = 32;  // pixels
constexpr int kStretch = 32;  // points whose box is looked at together
constexpr double kAntipodeGap = 1e-3;  // radians round an azimuthal map's antipode, where lines are cut

double aroundZero(double a) { return a >= -kPi && a <= kPi ? a : a - kTwoPi * std::round(a / kTwoPi); }

double distanceToSegment(const PixelPoint& p, const PixelPoint& a, const PixelPoint& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

}  // namespace

int clipSegment(PixelPoint& a, PixelPoint& b, const PixelBox& box) {
    const bool aIn = a.x >= box.left && a.x <= box.right && a.y >= box.top && a.y <= box.bottom;
    const bool bIn = b.x >= box.left && b.x <= box.right && b.y >= box.top && b.y <= box.bottom;
    if (aIn && bIn) return 0;
    if ((a.x < box.left && b.x < box.left) || (a.x > box.right && b.x > box.right) ||
        (a.y < box.top && b.y < box.top) || (a.y > box.bottom && b.y > box.bottom))
        return -1;
    const double dx = b.x - a.x, dy = b.y - a.y;
    double t0 = 0, t1 = 1;
    auto edge = [&](double p, double q) {  // keeps the part where p t <= q
        if (p == 0) return q >= 0;
        const double r = q / p;
        if (p < 0) {
            if (r > t1) return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0) return false;
            t1 = std::min(t1, r);
        }
        return true;
    };
    if (!edge(-dx, a.x - box.left) || !edge(dx, box.right - a.x) || !edge(-dy, a.y - box.top) ||
        !edge(dy, box.bottom - a.y))
        return -1;
    int moved = 0;
    if (t1 < 1) {
        b = {a.x + t1 * dx, a.y + t1 * dy};
        moved |= 2;
    }
    if (t0 > 0) {
        a = {a.x + t0 * dx, a.y + t0 * dy};
        moved |= 1;
    }
    return moved;
}

PixelBox pictureBox(double width, double height, double margin) {
    return {-margin, -margin, width - 1 + margin, height - 1 + margin};
}

double copyPeriod(const MapView& v) {
    const double extent = v.lon_max - v.lon_min;
    return v.projection != kAzimuthal && extent > 0 ? kTwoPi * v.width / extent : 0.0;
}

// ---- PathTracer ----------------------------------------------------------------

void PathTracer::start(const MapView& view, GeoEdge edge, const PixelBox& box, Crossing crossing) {
    view_ = view;
    edge_ = edge;
    box_ = box;
    crossing_ = crossing;
    azimuthal_ = view.projection == kAzimuthal;
    period_ = copyPeriod(view);
    const double lonExtent = view.lon_max - view.lon_min, latExtent = view.lat_max - view.lat_min;
    xPerRadian_ = lonExtent > 0 ? view.width / lonExtent : 0.0;
    yPerRadian_ = latExtent > 0 ? view.height / latExtent : 0.0;
    open_ = false;
    pending_ = false;
    points_.clear();
    starts_.clear();
    if (azimuthal_ && view.scale > 0) {
        // Pixels from the centre to the farthest corner of the box, and more
        // for chords that cut a corner of the path.
        const double dx = std::max(std::fabs(box.left - view.center_x), std::fabs(box.right - view.center_x));
        const double dy = std::max(std::fabs(box.top - view.center_y), std::fabs(box.bottom - view.center_y));
        const double reach = (std::hypot(dx, dy) + kReachMargin) / view.scale;
        if (reach == reach_ && view.center.lat == reachLat_) return;  // as for the batch before
        reach_ = reach;
        reachLat_ = view.center.lat;
        cosReach_ = -2;
        if (reach < kPi - 2 * kAntipodeGap) {
            cosReach_ = std::cos(reach);
            // How far in longitude a point that close may lie, when the
            // circle of that radius holds no pole.
            const double sinReach = std::sin(reach), cosLat = std::cos(view.center.lat);
            lonReach_ = sinReach < cosLat && reach < kPi / 2 ? std::asin(sinReach / cosLat) * 1.000001 + 1e-9 : kPi;
        }
    } else {
        cosReach_ = -2;
        reach_ = -1;
    }
}

void PathTracer::clearPieces() {
    points_.clear();
    starts_.clear();
    if (open_ && !pending_) {
        starts_.push_back(0);
        points_.push_back(last_.p);
    }
}

// As geo_to_pixel, then moved by whole turns next to the point before.
PixelPoint PathTracer::cylindric(double lon, double lat, const double* previousRun, double* run) const {
    double east = view_.center.lon + aroundZero(lon - view_.center.lon);
    if (previousRun && std::fabs(*previousRun - east) > kPi)
        east += kTwoPi * std::round((*previousRun - east) / kTwoPi);
    *run = east;
    return {(east - view_.lon_min) * xPerRadian_, (view_.lat_max - lat) * yPerRadian_};
}

bool PathTracer::project(double lon, double lat, const Vertex* previous, Vertex& v) const {
    v.lon = lon;
    v.lat = lat;
    if (azimuthal_) {
        v.lonRun = previous ? previous->lonRun + aroundZero(lon - previous->lon) : lon;
        if (!azimuthal_forward(view_, lon, lat, &v.p.x, &v.p.y)) return false;
    } else {
        v.p = cylindric(lon, lat, previous ? &previous->lonRun : nullptr, &v.lonRun);
    }
    if (edge_ == GeoEdge::kGreatCircle) {
        const double c = std::cos(lat);
        v.v[0] = c * std::cos(lon);
        v.v[1] = c * std::sin(lon);
        v.v[2] = std::sin(lat);
    }
    return std::isfinite(v.p.x) && std::isfinite(v.p.y);
}

// Moves v's longitude by whole turns next to the point before.
void PathTracer::follow(const Vertex& previous, Vertex& v) const {
    if (std::fabs(previous.lonRun - v.lonRun) <= kPi) return;
    v.lonRun += kTwoPi * std::round((previous.lonRun - v.lonRun) / kTwoPi);
    if (!azimuthal_) v.p.x = (v.lonRun - view_.lon_min) * xPerRadian_;
}

// The point a fraction t of the way from a to b, projected next to a.
bool PathTracer::between(const Vertex& a, const Vertex& b, double t, Vertex& v) const {
    if (edge_ == GeoEdge::kLonLat)
        return project(a.lonRun + t * (b.lonRun - a.lonRun), a.lat + t * (b.lat - a.lat), &a, v);
    const double dot = std::clamp(a.v[0] * b.v[0] + a.v[1] * b.v[1] + a.v[2] * b.v[2], -1.0, 1.0);
    const double omega = std::acos(dot), s = std::sin(omega);
    double w0 = 1 - t, w1 = t;
    if (s > 1e-12) {
        w0 = std::sin((1 - t) * omega) / s;
        w1 = std::sin(t * omega) / s;
    } else if (dot < 0) {
        return false;  // antipodes: no one great circle
    }
    const double x = w0 * a.v[0] + w1 * b.v[0], y = w0 * a.v[1] + w1 * b.v[1], z = w0 * a.v[2] + w1 * b.v[2];
    return project(std::atan2(y, x), std::atan2(z, std::hypot(x, y)), &a, v);
}

void PathTracer::moveTo(double lon, double lat) {
    pending_ = false;
    Vertex v;
    open_ = project(lon, lat, nullptr, v);
    if (!open_) return;
    starts_.push_back(static_cast<int>(points_.size()));
    points_.push_back(v.p);
    last_ = v;
}

void PathTracer::lineTo(double lon, double lat) {
    if (pending_) settle();
    if (!open_) {
        moveTo(lon, lat);
        return;
    }
    if (!azimuthal_ && edge_ == GeoEdge::kLonLat) {  // straight on the cylindric map
        const PixelPoint p = cylindric(lon, lat, &last_.lonRun, &last_.lonRun);
        open_ = std::isfinite(p.x) && std::isfinite(p.y);
        if (!open_) return;
        points_.push_back(p);
        last_.lon = lon;
        last_.lat = lat;
        last_.p = p;
        return;
    }
    Vertex v;
    if (!project(lon, lat, &last_, v)) {
        open_ = false;  // the antipode: the line is cut there
        return;
    }
    join(last_, v);
}

// Follows the path from a (already drawn) to b and leaves last_ at b.
void PathTracer::join(const Vertex& a, const Vertex& b) {
    double length;
    if (edge_ == GeoEdge::kGreatCircle) {
        length = std::acos(std::clamp(a.v[0] * b.v[0] + a.v[1] * b.v[1] + a.v[2] * b.v[2], -1.0, 1.0));
    } else {
        length = std::max(std::fabs(b.lat - a.lat), std::fabs(b.lonRun - a.lonRun));
    }
    const int steps =
        length > kFirstStep ? std::min(static_cast<int>(std::ceil(length / kFirstStep)), kMaxFirstSteps) : 1;
    Vertex from = a;
    for (int i = 1; i <= steps; ++i) {
        Vertex to = b;
        if (i < steps) {
            if (!between(a, b, i / static_cast<double>(steps), to)) {
                unresolved(from, b);
                last_ = b;
                return;
            }
        }
        follow(from, to);
        from = refine(from, to, 0);
    }
    last_ = from;
}

// Draws from a to b, halving where the chord strays from the path; returns b
// as it was drawn (its longitude continued from the points before).
PathTracer::Vertex PathTracer::refine(const Vertex& a, const Vertex& b, int depth) {
    const double dx = b.p.x - a.p.x, dy = b.p.y - a.p.y, chord2 = dx * dx + dy * dy;
    // Short, or far from the picture: a path strays from its chord by less
    // than the chord's length unless it turns by more than half a circle.
    if (chord2 <= kShortChord * kShortChord || !mayShow(a.p, b.p, a.p, std::sqrt(chord2) + kShortChord)) {
        points_.push_back(b.p);
        return b;
    }
    Vertex m;
    if (!between(a, b, 0.5, m)) {
        unresolved(a, b);
        return b;
    }
    const double stray = distanceToSegment(m.p, a.p, b.p);
    if (stray <= kTolerance || !mayShow(a.p, b.p, m.p, 2 * stray + kShortChord)) {
        points_.push_back(b.p);
        return b;
    }
    if (depth >= kMaxDepth) {
        unresolved(a, b);
        return b;
    }
    const Vertex middle = refine(a, m, depth + 1);
    Vertex end = b;
    follow(middle, end);
    return refine(middle, end, depth + 1);
}

// No chord comes close to the path between a and b: on an azimuthal map it
// passes the antipode of the centre, which is the whole rim.
void PathTracer::unresolved(const Vertex& a, const Vertex& b) {
    if (azimuthal_ && crossing_ == kCut) {
        starts_.push_back(static_cast<int>(points_.size()));
    } else if (azimuthal_) {
        rimArc(a.p, b.p);
        return;
    }
    points_.push_back(b.p);  // cylindric: over a pole, along its line
}

bool PathTracer::mayShow(const PixelPoint& a, const PixelPoint& b, const PixelPoint& m, double pad) const {
    const double top = std::min({a.y, b.y, m.y}) - pad, bottom = std::max({a.y, b.y, m.y}) + pad;
    if (bottom < box_.top || top > box_.bottom) return false;
    const double left = std::min({a.x, b.x, m.x}) - pad, right = std::max({a.x, b.x, m.x}) + pad;
    if (period_ <= 0) return right >= box_.left && left <= box_.right;
    return std::floor((box_.right - left) / period_) >= std::ceil((box_.left - right) / period_);
}

void PathTracer::rimArc(const PixelPoint& from, const PixelPoint& to) {
    const double cx = view_.center_x, cy = view_.center_y, r = kPi * view_.scale;
    const double a0 = std::atan2(from.y - cy, from.x - cx);
    const double sweep = aroundZero(std::atan2(to.y - cy, to.x - cx) - a0);
    // Chords of the rim that stray from it by a quarter pixel at most.
    const double step = std::sqrt(2.0 / std::max(r, 1.0));
    const int n = std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) / step)), 1, 2048);
    for (int i = 1; i < n; ++i) {
        const double angle = a0 + sweep * i / n;
        points_.push_back({cx + r * std::cos(angle), cy + r * std::sin(angle)});
    }
    points_.push_back(to);
}

bool PathTracer::mayReach(double south, double north, double west, double east) const {
    if (cosReach_ < -1) return true;
    const double lat0 = view_.center.lat, lon0 = view_.center.lon;
    // First the plain bounds: every point that may show lies within reach_
    // of the centre's latitude and lonReach_ of its longitude; the
    // antipode's latitude is -lat0.
    const bool offAntipode = south > -lat0 + kAntipodeGap || north < -lat0 - kAntipodeGap;
    if (offAntipode && (south > lat0 + reach_ || north < lat0 - reach_)) return false;
    if (offAntipode && lonReach_ < kPi && east - west < kTwoPi) {
        // The longitude gap between the centre and the stretch, either way round.
        const double after = west - lon0 - kTwoPi * std::floor((west - lon0) / kTwoPi);  // 0..2 pi east of lon0
        if (after > lonReach_ && kTwoPi - after - (east - west) > lonReach_) return false;
    }
    const double sin0 = view_.sin_lat0, cos0 = view_.cos_lat0;
    // The largest and smallest cosine of the distance from the centre over
    // the box: the nearest and farthest points lie on the centre's meridian
    // or its opposite when the box spans them, else on the box's east or
    // west edge, where cos(distance) = a sin(lat) + b cos(lat).
    auto spans = [&](double lon) { return lon + kTwoPi * std::ceil((west - lon) / kTwoPi) <= east; };
    double most = -1, least = 1;
    if (east - west >= kTwoPi || spans(lon0)) most = std::cos(lat0 - std::clamp(lat0, south, north));
    if (east - west >= kTwoPi || spans(lon0 + kPi)) least = -std::cos(-lat0 - std::clamp(-lat0, south, north));
    if (most < cosReach_ || least > -1) {
        const double sinS = std::sin(south), cosS = std::cos(south), sinN = std::sin(north), cosN = std::cos(north);
        for (double lon : {west, east}) {
            const double a = sin0, b = cos0 * std::cos(lon - lon0);
            const double atS = a * sinS + b * cosS, atN = a * sinN + b * cosN;
            most = std::max({most, atS, atN});
            least = std::min({least, atS, atN});
            const double peak = std::atan2(a, b), amplitude = std::hypot(a, b);
            if (peak >= south && peak <= north) most = std::max(most, amplitude);
            for (double trough : {peak - kPi, peak + kPi})
                if (trough >= south && trough <= north) least = std::min(least, -amplitude);
        }
    }
    return most >= cosReach_ - 1e-9 || least <= -std::cos(kAntipodeGap);
}

void PathTracer::lineThrough(const MapPoint* points, int count, bool first) {
    if (count <= 0) return;
    if (!azimuthal_ && edge_ == GeoEdge::kLonLat) return cylindricThrough(points, count, first);
    if (cosReach_ < -1) {
        for (int i = 0; i < count; ++i) {
            if (i == 0 && first) {
                moveTo(points[i].lon, points[i].lat);
            } else {
                lineTo(points[i].lon, points[i].lat);
            }
        }
        return;
    }
    if (first) {
        // Where moveTo would stand; projected only when the path shows.
        last_.lon = last_.lonRun = points[0].lon;
        last_.lat = points[0].lat;
        open_ = pending_ = true;
        ++points;
        --count;
    }
    if (count <= 0 || passUnseen(points, count)) return;
    for (int from = 0; from < count; from += kStretch) {
        const int n = std::min(kStretch, count - from);
        if (count > kStretch && passUnseen(points + from, n)) continue;
        for (int i = from; i < from + n; ++i) lineTo(points[i].lon, points[i].lat);
    }
}

void PathTracer::cylindricThrough(const MapPoint* points, int count, bool first) {
    int i = 0;
    if (first) {
        moveTo(points[0].lon, points[0].lat);
        i = 1;
    }
    while (i < count) {
        const int n = std::min(kStretch, count - i);
        if (n > 2 && chordSuffices(points + i, n)) {
            lineTo(points[i + n - 1].lon, points[i + n - 1].lat);
        } else {
            for (int j = i; j < i + n; ++j) lineTo(points[j].lon, points[j].lat);
        }
        i += n;
    }
}

PathTracer::Stretch PathTracer::stretchTo(const MapPoint* points, int count) const {
    double lon = last_.lon, run = last_.lonRun, west = run, east = run, south = last_.lat, north = south, all = 0;
    for (int i = 0; i < count; ++i) {
        const double lat = points[i].lat;
        run += aroundZero(points[i].lon - lon);
        lon = points[i].lon;
        west = std::min(west, run);
        east = std::max(east, run);
        south = std::min(south, lat);
        north = std::max(north, lat);
        all += lat;
    }
    return {west, east, south, north, run, std::isfinite(all + run)};
}

// Whether the stretch from the last point through `points` shows in no copy
// of the cylindric map, so that its chord, which stays within its box, cuts
// the same pieces out of the picture. Not across half the earth: the last
// point must take the longitude run it takes when the stretch is traced.
bool PathTracer::chordSuffices(const MapPoint* points, int count) const {
    if (!open_ || pending_ || !(xPerRadian_ > 0) || !(yPerRadian_ > 0)) return false;
    const Stretch s = stretchTo(points, count);
    if (!s.finite || s.east - s.west >= kPi / 2) return false;
    return unseenOnCylinder(s.south, s.north, s.west, s.east, true);
}

// Whether a box of latitudes and of longitudes as run on along a path shows
// in no copy of the cylindric map; by its latitudes alone unless
// `alongLongitude`.
bool PathTracer::unseenOnCylinder(double south, double north, double west, double east, bool alongLongitude) const {
    constexpr double kSlack = 2;  // pixels: these runs and the tracer's round apart
    const double top = (view_.lat_max - north) * yPerRadian_, bottom = (view_.lat_max - south) * yPerRadian_;
    if (bottom < box_.top - kSlack || top > box_.bottom + kSlack) return true;
    if (!alongLongitude) return false;
    const double left = (west - view_.lon_min) * xPerRadian_, right = (east - view_.lon_min) * xPerRadian_;
    // The first copy not wholly left of the box must lie wholly right of it
    // (the period is 2 pi xPerRadian_, above 0 whenever that is).
    const double k = std::ceil((box_.left - kSlack - right) / period_);
    return left + k * period_ > box_.right + kSlack;
}

bool PathTracer::lineMayShow(double south, double north, double west, double east) const {
    if (!(south <= north && west <= east)) return true;
    // Within a quarter of the earth in longitude, a line's steps are its
    // points' differences, and its longitudes run on as given, up to whole
    // turns (a copy of the cylindric map, nothing to the azimuthal one).
    const bool bounded = east - west < kPi / 2;
    if (azimuthal_ || edge_ != GeoEdge::kLonLat) {
        constexpr double kPad = 1e-9;  // radians: the runs' rounding
        return mayReach(south - kPad, north + kPad, bounded ? west - kPad : -kPi, bounded ? east + kPad : 3 * kPi);
    }
    if (!(xPerRadian_ > 0) || !(yPerRadian_ > 0)) return true;
    return !unseenOnCylinder(south, north, west, east, bounded);
}

// Passes over the stretch from the last point through `points` when it
// cannot show, keeping the longitude run as lineTo would; false, and nothing
// done, when it may.
bool PathTracer::passUnseen(const MapPoint* points, int count) {
    if (!open_) return false;
    const Stretch s = stretchTo(points, count);
    if (!s.finite || mayReach(s.south, s.north, s.west, s.east)) return false;
    last_.lon = points[count - 1].lon;
    last_.lat = points[count - 1].lat;
    last_.lonRun = s.run;
    pending_ = true;  // a new piece starts here when the path goes on
    return true;
}

// Projects the point the tracer stands on and starts a piece there, as
// moveTo would (keeping the longitude run).
void PathTracer::settle() {
    pending_ = false;
    Vertex v;
    open_ = project(last_.lon, last_.lat, nullptr, v);
    if (!open_) return;
    v.lonRun = last_.lonRun;
    last_ = v;
    starts_.push_back(static_cast<int>(points_.size()));
    points_.push_back(v.p);
}

// ---- clipping ----------------------------------------------------------------

void copiesOnBox(double left, double right, double period, const PixelBox& box, double* first, double* last) {
    *first = *last = 0;
    if (!(period > 0)) return;
    *first = std::ceil((box.left - right) / period);
    *last = std::floor((box.right - left) / period);
    const double middle = std::round(((box.left + box.right) - (left + right)) / 2 / period);
    *first = std::max(*first, middle - kMaxCopies / 2);
    *last = std::min(*last, middle + kMaxCopies / 2);
}

void LineTrace::batch(const MapView& view, const MapPoint* points, int count, const PixelBox& box,
                      const std::function<void(const PixelPoint*, int, double period)>& stretch) {
    const bool goesOn = goesOn_ && points[0].index == index_ + 1;
    if (goesOn) {
        lines_.clearPieces();
    } else {
        lines_.start(view, GeoEdge::kLonLat, box, PathTracer::kCut);
    }
    lines_.lineThrough(points, count, !goesOn);
    goesOn_ = true;
    index_ = points[count - 1].index;
    const std::vector<PixelPoint>& pixels = lines_.points();
    const std::vector<int>& starts = lines_.starts();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const int end = i + 1 < starts.size() ? starts[i + 1] : static_cast<int>(pixels.size());
        stretch(pixels.data() + starts[i], end - starts[i], lines_.period());
    }
}

void clipPolyline(const PixelPoint* points, int count, double period, const PixelBox& box, std::vector<PixelPoint>& run,
                  const std::function<void(const PixelPoint*, int)>& emit) {
    if (count < 2) return;
    double left = points[0].x, right = left, top = points[0].y, bottom = top;
    for (int i = 1; i < count; ++i) {
        left = std::min(left, points[i].x);
        right = std::max(right, points[i].x);
        top = std::min(top, points[i].y);
        bottom = std::max(bottom, points[i].y);
    }
    if (bottom < box.top || top > box.bottom) return;
    double first, last;
    copiesOnBox(left, right, period, box, &first, &last);
    auto flush = [&] {
        if (run.size() >= 2) emit(run.data(), static_cast<int>(run.size()));
        run.clear();
    };
    for (double k = first; k <= last; ++k) {
        const double shift = k * period;
        run.clear();
        for (int i = 0; i + 1 < count; ++i) {
            PixelPoint a{points[i].x + shift, points[i].y}, b{points[i + 1].x + shift, points[i + 1].y};
            const int moved = clipSegment(a, b, box);
            if (moved < 0) {
                flush();
                continue;
            }
            if (moved & 1) flush();
            if (run.empty()) run.push_back(a);
            run.push_back(b);
            if (moved & 2) flush();
        }
        flush();
    }
}

void clipPolygon(const std::vector<PixelPoint>& polygon, double shift, const PixelBox& box,
                 std::vector<PixelPoint>& out) {
    out.clear();
    for (const PixelPoint& p : polygon) out.push_back({p.x + shift, p.y});
    std::vector<PixelPoint> in;
    // Sutherland-Hodgman, one edge of the box after the other.
    for (int edge = 0; edge < 4 && !out.empty(); ++edge) {
        in.swap(out);
        out.clear();
        auto inside = [&](const PixelPoint& p) {
            switch (edge) {
                case 0: return p.x >= box.left;
                case 1: return p.x <= box.right;
                case 2: return p.y >= box.top;
                default: return p.y <= box.bottom;
            }
        };
        auto crossing = [&](const PixelPoint& a, const PixelPoint& b) {
            if (edge < 2) {
                const double x = edge == 0 ? box.left : box.right, t = (x - a.x) / (b.x - a.x);
                return PixelPoint{x, a.y + t * (b.y - a.y)};
            }
            const double y = edge == 2 ? box.top : box.bottom, t = (y - a.y) / (b.y - a.y);
            return PixelPoint{a.x + t * (b.x - a.x), y};
        };
        PixelPoint previous = in.back();
        bool previousIn = inside(previous);
        for (const PixelPoint& p : in) {
            const bool pIn = inside(p);
            if (pIn != previousIn) out.push_back(crossing(previous, p));
            if (pIn) out.push_back(p);
            previous = p;
            previousIn = pIn;
        }
    }
}

// ---- areas -------------------------------------------------------------------

void traceArea(const MapView& view, const std::vector<GeoPosition>& ring,
               const std::function<bool(double lon, double lat)>& contains, const PixelBox& box, PixelArea& area) {
    area.fill.clear();
    area.outline.clear();
    if (ring.empty()) return;
    PathTracer tracer;
    tracer.start(view, GeoEdge::kGreatCircle, box, PathTracer::kRim);
    auto put = [&](GeoPosition q, bool first) {
        double x, y;
        // A vertex on the antipode of an azimuthal map's centre has no one
        // pixel; one a little beside it has.
        if (view.projection == kAzimuthal && !azimuthal_forward(view, q.lon, q.lat, &x, &y))
            q.lat += q.lat > 0 ? -1e-4 : 1e-4;
        if (first) {
            tracer.moveTo(q.lon, q.lat);
        } else {
            tracer.lineTo(q.lon, q.lat);
        }
    };
    for (const GeoPosition& q : ring) {
        if (!std::isfinite(q.lon) || !std::isfinite(q.lat)) return;
    }
    put(ring[0], true);
    for (std::size_t i = 1; i < ring.size(); ++i) put(ring[i], false);
    put(ring[0], false);
    area.outline = tracer.points();
    if (area.outline.size() < 2) return;

    std::vector<PixelPoint> polygon = area.outline;
    const double period = copyPeriod(view);
    const double run = polygon.back().x - polygon.front().x;
    if (period > 0 && std::fabs(run) > period / 2) {
        // Once round the earth: the area holds a pole, reached across the
        // pole's line. The ring runs anticlockwise, so one running east has
        // the north pole inside, unless `contains` says otherwise.
        const bool north = contains(0, kPi / 2), south = contains(0, -kPi / 2);
        const double pole = north != south ? (north ? kPi / 2 : -kPi / 2) : (run > 0 ? kPi / 2 : -kPi / 2);
        const double y = (view.lat_max - pole) * view.height / (view.lat_max - view.lat_min);
        polygon.push_back({polygon.back().x, y});
        polygon.push_back({polygon.front().x, y});
    }
    area.fill.push_back(std::move(polygon));
    if (view.projection == kAzimuthal && contains(view.center.lon + kPi, -view.center.lat)) {
        // The antipode of the centre is the rim: the area lies between its
        // outline and the rim.
        const double r = kPi * view.scale;
        const int n = std::clamp(static_cast<int>(std::ceil(kTwoPi / std::sqrt(2.0 / std::max(r, 1.0)))), 16, 4096);
        std::vector<PixelPoint> rim;
        for (int i = 0; i < n; ++i)
            rim.push_back({view.center_x + r * std::cos(kTwoPi * i / n), view.center_y + r * std::sin(kTwoPi * i / n)});
        area.fill.push_back(std::move(rim));
    }
}

// ---- pixels drawn on ----------------------------------------------------------

void RowSpans::reset(int width, int height) {
    width_ = width;
    left_.assign(static_cast<std::size_t>(std::max(height, 0)), width);
    right_.assign(left_.size(), -1);
}

void RowSpans::addToRow(int y, double from, double to) {
    if (y < 0 || y >= height() || !(from <= to) || width_ <= 0) return;  // NaN too
    // A piece beyond the sides still counts: an area's inside lies between it
    // and the row's other pieces.
    const double last = width_ - 1.0;
    const auto i = static_cast<std::size_t>(y);
    left_[i] = std::min(left_[i], static_cast<int>(std::floor(std::clamp(from, 0.0, last))));
    right_[i] = std::max(right_[i], static_cast<int>(std::ceil(std::clamp(to, 0.0, last))));
}

void RowSpans::addSegment(PixelPoint a, PixelPoint b, double reach) {
    if (b.y < a.y) std::swap(a, b);
    if (!(a.y - reach < height()) || !(b.y + reach >= 0)) return;  // beyond the rows, or NaN
    const int first = static_cast<int>(std::floor(std::max(a.y - reach, 0.0)));
    const int last = static_cast<int>(std::floor(std::min(b.y + reach, height() - 1.0)));
    const double dy = b.y - a.y;
    for (int y = first; y <= last; ++y) {
        // The stretch of the segment whose pen can reach row y (pixels y..y+1).
        double from = a.x, to = b.x;
        if (dy > 1e-9) {
            const double t0 = std::clamp((y - reach - a.y) / dy, 0.0, 1.0);
            const double t1 = std::clamp((y + 1 + reach - a.y) / dy, 0.0, 1.0);
            from = a.x + (b.x - a.x) * t0;
            to = a.x + (b.x - a.x) * t1;
        }
        addToRow(y, std::min(from, to) - reach, std::max(from, to) + reach);
    }
}

void RowSpans::addBox(double left, double top, double right, double bottom) {
    if (!(top < height()) || !(bottom >= 0)) return;
    const int last = static_cast<int>(std::floor(std::min(bottom, height() - 1.0)));
    for (int y = static_cast<int>(std::floor(std::max(top, 0.0))); y <= last; ++y) addToRow(y, left, right);
}

}  // namespace bearfix
