// Random views of the whole globe, both projections, every zoom: lines,
// bearing sectors and the line A-B land where their geography is, within two
// pixels, and nowhere else. The expected places come from this file's own
// projection formulas (vectors for the azimuthal map) and its own
// subdivision of the paths.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <array>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "geo/great_circle.h"
#include "map/map_composer.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kCap = 0.49 * kPi;  // sectors end there at the latest
constexpr double kNear = 2.0;        // pixels
constexpr double kDrawn = 0.3;       // a line of one pixel, antialiased, is at least this strong near it

using Vec = std::array<double, 3>;
Vec unit(double lon, double lat) {
    return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}
double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double angle(const Vec& a, const Vec& b) {
    const Vec c = cross(a, b);
    return std::atan2(std::sqrt(dot(c, c)), dot(a, b));
}
double wrap(double a) { return a - 2 * kPi * std::round(a / (2 * kPi)); }
double lonOf(const Vec& p) { return std::atan2(p[1], p[0]); }
double latOf(const Vec& p) { return std::atan2(p[2], std::hypot(p[0], p[1])); }

struct Geo {
    double lon, lat;
};

// The view as a picture: its own formulas from the view's parameters.
struct Picture {
    const MapView& v;
    // The centre's unit vector and the directions north and east there.
    const Vec c = unit(v.center.lon, v.center.lat);
    const Vec north{-std::sin(v.center.lat) * std::cos(v.center.lon), -std::sin(v.center.lat) * std::sin(v.center.lon),
                    std::cos(v.center.lat)};
    const Vec east{-std::sin(v.center.lon), std::cos(v.center.lon), 0};

    bool azimuthal() const { return v.projection == kAzimuthal; }
    double period() const { return azimuthal() ? 0 : 2 * kPi * v.width / (v.lon_max - v.lon_min); }
    // Cylindric longitudes are taken as given (no wrapping).
    bool forward(double lon, double lat, double& x, double& y) const {
        if (!azimuthal()) {
            x = (lon - v.lon_min) / (v.lon_max - v.lon_min) * v.width;
            y = (v.lat_max - lat) / (v.lat_max - v.lat_min) * v.height;
            return true;
        }
        const Vec p = unit(lon, lat);
        const double rho = angle(c, p), theta = std::atan2(dot(p, east), dot(p, north));
        if (rho > kPi - 1e-7) return false;
        x = v.center_x + v.scale * rho * std::sin(theta);
        y = v.center_y - v.scale * rho * std::cos(theta);
        return true;
    }
    bool inverse(double x, double y, Geo& g) const {
        if (!azimuthal()) {
            g = {wrap(v.lon_min + x / v.width * (v.lon_max - v.lon_min)),
                 v.lat_max - y / v.height * (v.lat_max - v.lat_min)};
            return std::fabs(g.lat) <= kPi / 2;
        }
        const double dx = x - v.center_x, dy = v.center_y - y, r = std::hypot(dx, dy), rho = r / v.scale;
        if (rho >= kPi) return false;
        Vec p;
        for (int i = 0; i < 3; ++i)
            p[i] = std::cos(rho) * c[i] + (r > 0 ? std::sin(rho) / r : 0) * (dy * north[i] + dx * east[i]);
        g = {lonOf(p), latOf(p)};
        return true;
    }
    bool inside(double x, double y, double inset) const {
        return x >= inset && y >= inset && x <= v.width - inset && y <= v.height - inset;
    }
};

// Follows a path given as position(t), t from 0 to 1, into pixel chords of
// at most a pixel (halving from 64 first steps), skipping what stays far
// from the picture; a stretch that never gets short (across an azimuthal
// map's rim) gives no chord. Cylindric longitudes run on without jumps.
void tracePath(const Picture& pic, const std::function<Geo(double)>& at,
               const std::function<void(double, double, double, double)>& chord) {
    struct Point {
        double t, lon, lat, x, y;
        bool ok;
    };
    auto point = [&](double t, const Point* before) {
        Geo g = at(t);
        double lon =
            before ? before->lon + wrap(g.lon - before->lon) : pic.v.center.lon + wrap(g.lon - pic.v.center.lon);
        Point p{t, lon, g.lat, 0, 0, false};
        p.ok = pic.forward(lon, g.lat, p.x, p.y);
        return p;
    };
    auto nearPicture = [&](double left, double right, double top, double bottom) {
        if (bottom < -3 || top > pic.v.height + 3) return false;
        if (pic.period() == 0) return right >= -3 && left <= pic.v.width + 3;
        return std::floor((pic.v.width + 3 - left) / pic.period()) >= std::ceil((-3 - right) / pic.period());
    };
    std::function<void(const Point&, const Point&, int)> go = [&](const Point& a, const Point& b, int depth) {
        if (a.ok && b.ok && std::hypot(b.x - a.x, b.y - a.y) <= 1) {
            chord(a.x, a.y, b.x, b.y);
            return;
        }
        if (depth > 44) return;
        const Point m = point((a.t + b.t) / 2, &a);
        if (a.ok && b.ok && m.ok) {
            const double stray = std::hypot(m.x - (a.x + b.x) / 2, m.y - (a.y + b.y) / 2);
            const double pad = 4 * stray + std::hypot(b.x - a.x, b.y - a.y) / 4 + 4;
            if (!nearPicture(std::min({a.x, b.x, m.x}) - pad, std::max({a.x, b.x, m.x}) + pad,
                             std::min({a.y, b.y, m.y}) - pad, std::max({a.y, b.y, m.y}) + pad))
                return;
        }
        go(a, m, depth + 1);
        go(m, point(b.t, &m), depth + 1);
    };
    Point a = point(0, nullptr);
    for (int i = 1; i <= 64; ++i) {
        const Point b = point(i / 64.0, &a);
        go(a, b, 0);
        a = b;
    }
}

// Pixels whose centres lie within kNear of a path, for every copy of it.
struct Nearness {
    const Picture& pic;
    std::vector<char> mask = std::vector<char>(static_cast<std::size_t>(pic.v.width * pic.v.height), 0);
    void add(double x0, double y0, double x1, double y1) {
        const double p = pic.period();
        for (int k = -8; k <= 8; ++k) {
            const double sx0 = x0 + k * p, sx1 = x1 + k * p;
            if (std::max(sx0, sx1) < -kNear - 1 || std::min(sx0, sx1) > pic.v.width + kNear + 1) {
                if (p == 0) break;
                continue;
            }
            const int steps = 1 + static_cast<int>(std::hypot(sx1 - sx0, y1 - y0) * 4);
            for (int s = 0; s <= steps; ++s) {
                const double x = sx0 + (sx1 - sx0) * s / steps, y = y0 + (y1 - y0) * s / steps;
                for (int py = static_cast<int>(y - kNear - 1); py <= y + kNear; ++py)
                    for (int px = static_cast<int>(x - kNear - 1); px <= x + kNear; ++px)
                        if (px >= 0 && py >= 0 && px < pic.v.width && py < pic.v.height &&
                            (px + 0.5 - x) * (px + 0.5 - x) + (py + 0.5 - y) * (py + 0.5 - y) <= kNear * kNear)
                            mask[static_cast<std::size_t>(py * pic.v.width + px)] = 1;
            }
            if (p == 0) break;
        }
    }
    bool at(int x, int y) const { return mask[static_cast<std::size_t>(y * pic.v.width + x)] != 0; }
};

// How strongly `colour` is laid over white in a pixel: 0 for another colour.
double strength(QRgb pixel, QRgb colour) {
    const int p[] = {qRed(pixel), qGreen(pixel), qBlue(pixel)}, c[] = {qRed(colour), qGreen(colour), qBlue(colour)};
    int k = 0;
    for (int i = 1; i < 3; ++i)
        if (c[i] < c[k]) k = i;
    const double alpha = (255.0 - p[k]) / (255.0 - c[k]);
    for (int i = 0; i < 3; ++i)
        if (std::abs(p[i] - (255 - alpha * (255 - c[i]))) > 25) return 0;
    return alpha;
}

// A pixel drawn in `colour` that lies away from the path, if any.
std::string strayPixel(const QImage& image, QRgb colour, const Nearness& near) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (strength(image.pixel(x, y), colour) >= kDrawn && !near.at(x, y))
                return "stray pixel at " + std::to_string(x) + ", " + std::to_string(y);
    return "";
}

// A point without a pixel drawn in `colour` within kNear, if any.
std::string missingPoint(const QImage& image, QRgb colour, const std::vector<std::pair<double, double>>& points) {
    for (auto [x, y] : points) {
        bool shown = false;
        for (int py = static_cast<int>(y - kNear - 1); py <= y + kNear && !shown; ++py)
            for (int px = static_cast<int>(x - kNear - 1); px <= x + kNear && !shown; ++px)
                shown = image.valid(px, py) && std::hypot(px + 0.5 - x, py + 0.5 - y) <= kNear &&
                        strength(image.pixel(px, py), colour) >= kDrawn;
        if (!shown) return "nothing drawn at " + std::to_string(x) + ", " + std::to_string(y);
    }
    return "";
}

// The copies of pixel (x, y) well inside the picture.
void addCopies(const Picture& pic, double x, double y, std::vector<std::pair<double, double>>& points) {
    for (int k = -8; k <= 8; ++k)
        if ((pic.period() > 0 || k == 0) && pic.inside(x + k * pic.period(), y, 3))
            points.emplace_back(x + k * pic.period(), y);
}

std::string pnt(const std::vector<std::vector<std::pair<int, int>>>& lines) {  // arc-minutes
    std::string bytes;
    for (const auto& line : lines)
        for (std::size_t i = 0; i < line.size(); ++i)
            for (long v : {i == 0 ? 1000L : 0L, long(line[i].first), long(line[i].second)})
                bytes += {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
    return bytes;
}

// What `draw` paints on white with a one-pixel pen and hatching in `colour`.
template <class Draw>
QImage painted(int width, int height, QRgb colour, Draw draw) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(colour), 1));
    painter.setBrush(QBrush(QColor(colour), Qt::BDiagPattern));
    draw(painter);
    painter.end();
    return image;
}

TEST(MapGeometry, RandomViewsDrawEverythingWhereItsGeographyIs) {
    testing::TempDir dir;
    dir.write("island.pnt", "");
    std::mt19937_64 rng(20240615);
    std::uniform_real_distribution<double> u(0, 1);
    auto anywhere = [&] { return Geo{(2 * u(rng) - 1) * kPi, std::asin(2 * u(rng) - 1)}; };
    const QRgb black = qRgb(0, 0, 0), teal = qRgb(0, 128, 128), orange = qRgb(255, 127, 0);

    for (int view = 0; view < 300; ++view) {
        // The view: anywhere, often by the antimeridian or a pole.
        Geo centre = anywhere();
        if (view % 5 == 1) centre.lon = std::copysign(kPi - u(rng) * 0.02, centre.lon);
        if (view % 7 == 2) centre.lat = std::copysign(kPi / 2 - u(rng) * u(rng) * 0.1, centre.lat);
        const int projection = view % 2 == 0 ? kAzimuthal : kCylindric;
        const double rangeKm = std::exp(std::log(1.0) + u(rng) * std::log(20000.0));
        const int height = 120, width = static_cast<int>(height * (0.5 + 2.5 * u(rng)));
        std::ostringstream what;
        what << "view " << view << ": " << (projection == kAzimuthal ? "azimuthal" : "cylindric") << " centre "
             << centre.lat * 180 / kPi << ", " << centre.lon * 180 / kPi << ", range " << rangeKm << " km, " << width
             << " x " << height;

        MapComposer composer;
        MapSettings s;
        s.rangeKm = std::to_string(rangeKm);
        s.projection = projection;
        s.centerHow = s.cityMode = 0;
        s.showCoasts = s.showBorders = s.showRivers = s.showTopo = false;
        QImage base(width, height, QImage::Format_RGB32);
        GeoPosition mapCentre{centre.lon, centre.lat};
        composer.drawBaseMap(base, s, mapCentre);  // sets the view
        const MapView v = composer.view();
        const Picture pic{v};
        // A position near the picture, mostly.
        auto nearby = [&] {
            Geo g;
            if (u(rng) < 0.85 && pic.inverse((2 * u(rng) - 0.5) * width, (2 * u(rng) - 0.5) * height, g)) return g;
            return anywhere();
        };

        // Lines: straight in longitude and latitude between arc-minute vertices.
        std::vector<std::vector<std::pair<int, int>>> lines(3);
        for (auto& line : lines) {
            const int n = 2 + static_cast<int>(u(rng) * 6);
            for (int i = 0; i < n; ++i) {
                const Geo g = nearby();
                line.emplace_back(std::lround(g.lat * 10800 / kPi), std::lround(g.lon * 10800 / kPi));
            }
        }
        dir.write("coast.pnt", pnt(lines));
        composer.setMapDataDirectory(dir.path().string());
        s.showCoasts = true;
        composer.drawBaseMap(base, s, mapCentre);
        Nearness lineNear{pic};
        std::vector<std::pair<double, double>> vertices;
        for (const auto& line : lines) {
            for (std::size_t i = 0; i + 1 < line.size(); ++i) {
                const Geo a{line[i].second * kPi / 10800, line[i].first * kPi / 10800};
                const Geo b{line[i + 1].second * kPi / 10800, line[i + 1].first * kPi / 10800};
                const double dLon = wrap(b.lon - a.lon);
                tracePath(
                    pic,
                    [&](double t) {
                        return Geo{a.lon + t * dLon, a.lat + t * (b.lat - a.lat)};
                    },
                    [&](double x0, double y0, double x1, double y1) { lineNear.add(x0, y0, x1, y1); });
            }
            for (auto [lat, lon] : line) {
                double x, y;
                const double east = v.center.lon + wrap(lon * kPi / 10800 - v.center.lon);
                if (pic.forward(east, lat * kPi / 10800, x, y)) addCopies(pic, x, y, vertices);
            }
        }
        ASSERT_EQ(strayPixel(base, black, lineNear) + missingPoint(base, black, vertices), "")
            << what.str() << ", lines";

        // A bearing sector.
        const Geo p = nearby();
        const double bearing = u(rng) * 2 * kPi;
        const double tolerance = view % 10 == 0 ? 0 : view % 3 == 0 ? u(rng) * kPi : u(rng) * 10 * kPi / 180;
        const QImage sector = painted(width, height, teal, [&](QPainter& painter) {
            composer.drawBearingSector(painter, {p.lon, p.lat}, bearing, tolerance);
        });
        const Vec pv = unit(p.lon, p.lat);
        auto inSector = [&](const Geo& q) {
            const Vec qv = unit(q.lon, q.lat);
            const double d = angle(pv, qv);
            const double course = std::atan2(
                std::sin(q.lon - p.lon) * std::cos(q.lat),
                std::cos(p.lat) * std::sin(q.lat) - std::sin(p.lat) * std::cos(q.lat) * std::cos(q.lon - p.lon));
            return d <= kCap + 1e-9 && (d < 1e-9 || std::fabs(wrap(course - bearing)) <= tolerance + 1e-9);
        };
        // Inside the sector as far as the cap, or near its outline.
        Nearness outline{pic};
        auto outlineChord = [&](double x0, double y0, double x1, double y1) { outline.add(x0, y0, x1, y1); };
        auto along = [&](double course, double dist) {
            double lon, lat;
            gc_destination(p.lon, p.lat, dist, course, &lon, &lat);
            return Geo{lon, lat};
        };
        for (double side : {-1.0, 1.0})
            tracePath(
                pic, [&](double t) { return along(bearing + side * tolerance, t * kCap); }, outlineChord);
        tracePath(
            pic, [&](double t) { return along(bearing + (2 * t - 1) * tolerance, kCap); }, outlineChord);
        // An azimuthal map's rim is the antipode of its centre.
        const bool rimInside = pic.azimuthal() && inSector({v.center.lon + kPi, -v.center.lat});
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                Geo q;
                const double rim = std::fabs(std::hypot(x + 0.5 - v.center_x, y + 0.5 - v.center_y) - kPi * v.scale);
                if (strength(sector.pixel(x, y), teal) < kDrawn || outline.at(x, y) || (rimInside && rim <= kNear) ||
                    (pic.inverse(x + 0.5, y + 0.5, q) && inSector(q)))
                    continue;
                ADD_FAILURE() << what.str() << ", sector from " << p.lat * 180 / kPi << ", " << p.lon * 180 / kPi
                              << " bearing " << bearing * 180 / kPi << " +- " << tolerance * 180 / kPi << ": pixel "
                              << x << ", " << y << " outside it";
                return;
            }
        }
        // Its edges show as far as the picture's farthest edge point from P,
        // or the cap.
        double farthest = 0;
        for (int i = 0; i <= 200; ++i) {
            const double f = i / 200.0;
            for (auto [x, y] : {std::pair{f * width, 0.0},
                                {f * width, double(height)},
                                {0.0, f * height},
                                {double(width), f * height}}) {
                Geo q;
                farthest = std::max(farthest, pic.inverse(x, y, q)
                                                  ? angle(pv, unit(q.lon, std::clamp(q.lat, -kPi / 2, kPi / 2)))
                                                  : kCap);
            }
        }
        std::vector<std::pair<double, double>> edgePoints;
        for (double side : {-1.0, 1.0}) {
            const double reach = std::min(farthest, kCap) * 0.999;
            tracePath(
                pic, [&](double t) { return along(bearing + side * tolerance, t * reach); },
                [&](double x0, double y0, double, double) { addCopies(pic, x0, y0, edgePoints); });
        }
        ASSERT_EQ(missingPoint(sector, teal, edgePoints), "")
            << what.str() << ", sector edges from " << p.lat * 180 / kPi << ", " << p.lon * 180 / kPi << " bearing "
            << bearing * 180 / kPi << " +- " << tolerance * 180 / kPi;

        // The line A-B: the shorter great-circle arc.
        const Geo a = nearby(), b = nearby();
        const Vec av = unit(a.lon, a.lat), bv = unit(b.lon, b.lat);
        const double omega = angle(av, bv);
        if (omega > 0.95 * kPi) continue;  // nearly antipodal: no one arc
        const QImage wedge = painted(width, height, orange, [&](QPainter& painter) {
            composer.drawGreatCircleWedge(painter, {a.lon, a.lat}, {b.lon, b.lat}, {b.lon, b.lat});
        });
        Nearness arcNear{pic};
        std::vector<std::pair<double, double>> arcPoints;
        tracePath(
            pic,
            [&](double t) {
                if (omega < 1e-12) return a;
                Vec q;
                for (int i = 0; i < 3; ++i)
                    q[i] = (std::sin((1 - t) * omega) * av[i] + std::sin(t * omega) * bv[i]) / std::sin(omega);
                return Geo{lonOf(q), latOf(q)};
            },
            [&](double x0, double y0, double x1, double y1) {
                arcNear.add(x0, y0, x1, y1);
                addCopies(pic, x0, y0, arcPoints);
            });
        ASSERT_EQ(strayPixel(wedge, orange, arcNear) + missingPoint(wedge, orange, arcPoints), "")
            << what.str() << ", line from " << a.lat * 180 / kPi << ", " << a.lon * 180 / kPi << " to "
            << b.lat * 180 / kPi << ", " << b.lon * 180 / kPi;
    }
}

}  // namespace
}  // namespace bearfix
