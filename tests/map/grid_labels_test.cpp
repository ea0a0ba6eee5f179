// Grid labels that can always be read: none covers another, and each sits on
// the line (or in the locator field or square) it names.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "map/map_composer.h"

namespace bearfix {
namespace {

constexpr double kDeg = std::numbers::pi / 180;

// A label's value and kind read back from its text: "8.680°E", "89°S", "JO40".
struct Named {
    bool longitude = false, locator = false;
    double value = 0;                        // degrees, for a meridian or parallel
    double west = 0, south = 0, width = 0, height = 0;  // degrees, for a locator field or square
};

Named readLabel(const std::string& text) {
    Named n;
    if (text.size() >= 2 && text[0] >= 'A' && text[0] <= 'R' && text[1] >= 'A' && text[1] <= 'R') {
        n.locator = true;
        n.west = (text[0] - 'A') * 20.0 - 180;
        n.south = (text[1] - 'A') * 10.0 - 90;
        n.width = 20, n.height = 10;
        if (text.size() == 4) {
            n.west += (text[2] - '0') * 2.0, n.south += text[3] - '0';
            n.width = 2, n.height = 1;
        }
        return n;
    }
    const char hemisphere = text.back();
    n.longitude = hemisphere == 'E' || hemisphere == 'W';
    n.value = std::strtod(text.c_str(), nullptr) * (hemisphere == 'W' || hemisphere == 'S' ? -1 : 1);
    return n;
}

double distanceToBox(QPoint p, const QRect& r) {
    const int dx = std::max({r.left() - p.x(), 0, p.x() - r.right()});
    const int dy = std::max({r.top() - p.y(), 0, p.y() - r.bottom()});
    return std::hypot(dx, dy);
}

// The nearest a line of constant longitude or latitude comes to `p`,
// projected point by point (and its copies one earth apart on a cylindric
// map): sampled along the whole line, then ever more finely round the
// nearest sample.
double distanceToLine(const MapView& view, const Named& n, QPoint p) {
    double x0, y0, x1, y1;
    geo_to_pixel(view, view.center.lon, 0, &x0, &y0);
    geo_to_pixel(view, view.center.lon + kDeg, 0, &x1, &y1);
    const double period = view.projection == kCylindric ? 360 * (x1 - x0) : 0;
    auto distanceAt = [&](double t) {
        double x, y, best = HUGE_VAL;
        const bool ok = n.longitude ? geo_to_pixel(view, n.value * kDeg, t * kDeg, &x, &y)
                                    : geo_to_pixel(view, t * kDeg, n.value * kDeg, &x, &y);
        for (int k = -2; ok && k <= 2; ++k) best = std::min(best, std::hypot(x + k * period - p.x(), y - p.y()));
        return best;
    };
    double low = n.longitude ? -90 : -180, high = -low, best = HUGE_VAL, bestT = 0;
    for (int round = 0; round < 12; ++round) {
        constexpr int kSamples = 400;
        for (int i = 0; i <= kSamples; ++i) {
            const double t = low + (high - low) * i / kSamples, d = distanceAt(t);
            if (d < best) best = d, bestT = t;
        }
        const double span = (high - low) / kSamples;
        low = bestT - span, high = bestT + span;
    }
    return best;
}

struct GridView {
    int projection;
    double lat, lon, rangeKm;
    int mode;
    bool poleInView = false;  // meridian labels keep away from it
};

TEST(GridLabels, NoneCoversAnotherAndEachNamesItsLine) {
    const GridView views[] = {
        {kCylindric, 50.5, 8.7, 1, 1},       {kAzimuthal, 50.5, 8.7, 1, 1},       {kCylindric, 50.5, 8.7, 20, 1},
        {kAzimuthal, 50.5, 8.7, 20, 1},      {kCylindric, 50.5, 8.7, 600, 1},     {kAzimuthal, 50.5, 8.7, 600, 1},
        {kCylindric, 50.5, 8.7, 20000, 1},   {kAzimuthal, 50.5, 8.7, 20000, 1},   {kAzimuthal, 89, 10, 400, 1, true},
        {kAzimuthal, -90, 0, 3000, 1, true}, {kAzimuthal, -89, 10, 400, 1, true}, {kCylindric, -17, 179.9, 200, 1},
        {kAzimuthal, -17, 179.9, 200, 1},    {kCylindric, 89.99, 0, 1, 1},        {kCylindric, 50.5, 8.7, 3000, 2},
        {kAzimuthal, 50.5, 8.7, 600, 3},     {kCylindric, 50.5, 8.7, 200, 3},     {kAzimuthal, 50.5, 8.7, 2000, 3},
        {kCylindric, 50.5, 8.7, 20000, 2},   {kAzimuthal, -17, 179.9, 600, 3},
    };
    int rulerOffCornerLabels = 0;
    for (const GridView& v : views) {
        const bool ruler = (&v - views) % 2 == 0;
        const std::string name = std::to_string(v.projection) + " " + std::to_string(v.lat) + " " +
                                 std::to_string(v.lon) + " " + std::to_string(v.rangeKm) + " km, mode " +
                                 std::to_string(v.mode);
        SCOPED_TRACE(name);
        MapSettings s;
        s.rangeKm = std::to_string(v.rangeKm);
        s.showCoasts = s.showBorders = s.showRivers = s.showTopo = false;
        s.cityMode = s.centerHow = 0;
        s.projection = v.projection;
        s.gridMode = v.mode;
        s.showRuler = ruler;
        MapComposer composer;
        QImage image(900, 600, QImage::Format_RGB32);
        GeoPosition centre{v.lon * kDeg, v.lat * kDeg};
        composer.drawBaseMap(image, s, centre);
        const MapView& view = composer.view();
        const std::vector<GridLabelSpot>& labels = composer.gridLabels();

        int meridians = 0, parallels = 0;
        std::vector<double> longitudes;
        for (std::size_t i = 0; i < labels.size(); ++i) {
            const GridLabelSpot& l = labels[i];
            const std::string text = l.text.toStdString();
            for (std::size_t j = i + 1; j < labels.size(); ++j)
                EXPECT_FALSE(l.box.intersects(labels[j].box)) << text << " and " << labels[j].text.toStdString();
            EXPECT_LE(distanceToBox(l.anchor, l.box), 3.0) << text;
            const Named n = readLabel(text);
            if (n.locator) {
                double lon, lat;
                ASSERT_TRUE(screen_to_geo(view, l.anchor.x(), l.anchor.y(), &lon, &lat)) << text;
                lon = std::remainder(lon / kDeg - n.west, 360.0) + n.west;  // the copy nearest the field
                EXPECT_TRUE(lon > n.west && lon < n.west + n.width && lat / kDeg > n.south &&
                            lat / kDeg < n.south + n.height)
                    << text << " at " << lon << ", " << lat / kDeg;
                continue;
            }
            EXPECT_LE(distanceToLine(view, n, l.anchor), 2.0) << text;
            if (n.longitude) {
                ++meridians;
                longitudes.push_back(std::remainder(n.value - v.lon, 360.0));  // from the centre, across the antimeridian
                double px, py;
                for (double pole : {90.0, -90.0}) {
                    if (v.poleInView && geo_to_pixel(view, 0, pole * kDeg, &px, &py)) {
                        EXPECT_GE(std::hypot(px - l.anchor.x(), py - l.anchor.y()), 150) << text;
                    }
                }
            } else {
                ++parallels;
                // Where a cylindric parallel enters the picture, even one wider than the earth.
                if (v.projection == kCylindric) {
                    EXPECT_LE(l.anchor.x(), 2) << text;
                }
            }
        }
        if (v.mode == 1) {
            EXPECT_GE(meridians, 3);
            EXPECT_GE(parallels, 3);
        } else {
            EXPECT_GE(labels.size(), 3u);
        }
        // Where lines crowd, every k-th is labelled: evenly, not as room happens to fall.
        std::sort(longitudes.begin(), longitudes.end());
        for (std::size_t i = 2; v.projection == kCylindric && i < longitudes.size(); ++i) {
            EXPECT_NEAR(longitudes[i] - longitudes[i - 1], longitudes[1] - longitudes[0], 1e-6) << longitudes[i];
        }
        // Observer A usually stands at the centre: no label on it.
        for (const GridLabelSpot& l : labels) {
            if (v.projection == kAzimuthal && v.rangeKm <= 600) {
                EXPECT_GT(distanceToBox(QPoint(450, 300), l.box), 8) << l.text.toStdString();
            }
        }

        // Every label pixel (the labels' dark grey, darker than any grid line) lies in a recorded box.
        long outside = 0, inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p) || qRed(p) >= 130) continue;
                ++inked;
                outside += std::none_of(labels.begin(), labels.end(), [&](const GridLabelSpot& l) {
                    return l.box.contains(x, y);
                });
            }
        EXPECT_GT(inked, 50);
        EXPECT_EQ(outside, 0);

        // The ruler, found as what the overlay changes in the lower left
        // quarter (no observers to mark), covers no label; without the
        // ruler its corner is free for them.
        QImage withOverlay = image;
        const GeoPosition nowhere{NAN, NAN};
        composer.drawOverlayOnce(withOverlay, s, nowhere, nowhere);
        int rulerPixels = 0;
        for (int y = image.height() / 2; y < image.height(); ++y)
            for (int x = 0; x < image.width() / 2; ++x) {
                if (withOverlay.pixel(x, y) == image.pixel(x, y)) continue;
                ++rulerPixels;
                for (const GridLabelSpot& l : labels) EXPECT_FALSE(l.box.contains(x, y)) << l.text.toStdString();
            }
        EXPECT_EQ(rulerPixels > 0, ruler);
        const QRect corner(0, image.height() - 36, image.width() / 4, 36);
        if (!ruler)
            rulerOffCornerLabels += std::count_if(labels.begin(), labels.end(),
                                                  [&](const GridLabelSpot& l) { return l.box.intersects(corner); });
    }
    EXPECT_GT(rulerOffCornerLabels, 0);
}

}  // namespace
}  // namespace bearfix
