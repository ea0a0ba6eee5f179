#include "map/screen_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace bearfix {
namespace {

using Stretch = std::vector<std::pair<double, double>>;

std::vector<Stretch> clipped(const std::vector<PixelPoint>& line, double period) {
    std::vector<Stretch> runs;
    std::vector<PixelPoint> scratch;
    clipPolyline(line.data(), static_cast<int>(line.size()), period, {0, 0, 100, 50}, scratch,
                 [&](const PixelPoint* p, int n) {
                     runs.emplace_back();
                     for (int i = 0; i < n; ++i) runs.back().emplace_back(p[i].x, p[i].y);
                 });
    return runs;
}

TEST(ScreenPath, PolylinesAreCutAtTheBoxOncePerCopy) {
    struct Case {
        const char* what;
        std::vector<PixelPoint> line;
        double period;
        std::vector<Stretch> runs;
    };
    const Case cases[] = {
        {"through, both ends far outside", {{-1e6, 25}, {1e6, 25}}, 0, {{{0, 25}, {100, 25}}}},
        {"out and back in", {{50, 10}, {50, 200}, {60, 0}}, 0, {{{50, 10}, {50, 50}}, {{57.5, 50}, {60, 0}}}},
        {"beside the box", {{-10, -10}, {-10, 60}}, 0, {}},
        {"across the right edge, a copy every 120",
         {{90, 10}, {130, 10}},
         120,
         {{{0, 10}, {10, 10}}, {{90, 10}, {100, 10}}}},
        {"a copy only", {{300, 10}, {310, 20}}, 120, {{{60, 10}, {70, 20}}}},
    };
    for (const Case& c : cases) EXPECT_EQ(clipped(c.line, c.period), c.runs) << c.what;
}

double area(const std::vector<PixelPoint>& polygon) {
    double twice = 0;
    for (std::size_t i = 0; i < polygon.size(); ++i) {
        const PixelPoint &a = polygon[i], &b = polygon[(i + 1) % polygon.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return std::fabs(twice) / 2;
}

TEST(ScreenPath, PolygonsAreCutAtTheBox) {
    std::vector<PixelPoint> out;
    clipPolygon({{-50, -50}, {150, -50}, {150, 100}, {-50, 100}}, 0, {0, 0, 100, 50}, out);
    EXPECT_DOUBLE_EQ(area(out), 100 * 50) << "covering the box";
    clipPolygon({{0, 0}, {200, 0}, {0, 200}}, -100, {0, 0, 100, 50}, out);  // shifted left: x + y <= 100
    EXPECT_DOUBLE_EQ(area(out), 100 * 50 - 50 * 50 / 2.0);
    clipPolygon({{200, 0}, {300, 0}, {300, 50}}, 0, {0, 0, 100, 50}, out);
    EXPECT_TRUE(out.empty());
}

// The clipped runs of every piece a tracer made.
std::vector<Stretch> tracedRuns(const PathTracer& tracer, const PixelBox& box) {
    std::vector<Stretch> runs;
    std::vector<PixelPoint> scratch;
    const std::vector<PixelPoint>& points = tracer.points();
    const std::vector<int>& starts = tracer.starts();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const int end = i + 1 < starts.size() ? starts[i + 1] : static_cast<int>(points.size());
        clipPolyline(points.data() + starts[i], end - starts[i], tracer.period(), box, scratch,
                     [&](const PixelPoint* p, int n) {
                         runs.emplace_back();
                         for (int k = 0; k < n; ++k) runs.back().emplace_back(p[k].x, p[k].y);
                     });
    }
    return runs;
}

// Fills `walk` with the points of a walk on from (lat, lon) in steps of
// about `step` radians, eastward on the whole, round the antimeridian and
// held at the poles; lat and lon end at its last point.
void walkOn(std::vector<MapPoint>& walk, double& lat, double& lon, double step, std::mt19937& random) {
    constexpr double kPi = std::numbers::pi;
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < static_cast<int>(walk.size()); ++i) {
        lon += step * (unit(random) - 0.3);
        lat = std::clamp(lat + step * (unit(random) - 0.5), -kPi / 2, kPi / 2);
        if (lon > kPi) lon -= 2 * kPi;
        walk[i] = {static_cast<float>(lat), static_cast<float>(lon), 0, i};
    }
}

// Passing over what cannot show changes nothing that shows: the same runs,
// bit for bit, as tracing every point, for walks round the world (across the
// antimeridian, over the poles, through the antipode) on azimuthal views from
// a few metres to the whole earth, handed over in batches that go on from one
// another. Half the views are centred on one of the walk's points.
// On the azimuthal map hidden stretches are passed over, on the cylindric
// one traced as their chords; either way the pieces in the picture, in every
// copy and in the order they are drawn, are those of tracing each point.
TEST(ScreenPath, PassingOverHiddenStretchesKeepsEveryVisibleRun) {
    constexpr double kPi = std::numbers::pi;
    for (const int projection : {kAzimuthal, kCylindric}) {
    std::mt19937 random(20);
    std::uniform_real_distribution<double> unit(0, 1);
    const PixelBox box = pictureBox(400, 300, 6);
    int culled = 0;
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<MapPoint> walk(600);
        double lat = (unit(random) - 0.5) * kPi, lon = (unit(random) - 0.5) * 2 * kPi;
        const double step = std::pow(10.0, -5 + 5 * unit(random));
        walkOn(walk, lat, lon, step, random);
        MapView view;
        const MapPoint& on = walk[random() % walk.size()];
        const bool centred = trial % 2 == 0;
        map_view_setup(view, projection, centred ? on.lon : lon + unit(random), centred ? on.lat : unit(random) - 0.5,
                       std::pow(10.0, -2 + 6.5 * unit(random)), 400, 300);
        if (trial % 50 == 0) map_view_setup(view, projection, -lon, -on.lat, 19000, 400, 300);  // the walk's antipode in view
        if (trial % 7 == 0) map_view_setup(view, projection, kPi - 0.01, on.lat, 3000, 400, 300);  // the antimeridian in view

        PathTracer each, passing;
        each.start(view, GeoEdge::kLonLat, box, PathTracer::kCut);
        passing.start(view, GeoEdge::kLonLat, box, PathTracer::kCut);
        std::vector<Stretch> eachRuns, passingRuns;
        for (std::size_t first = 0; first < walk.size(); first += 150) {
            if (first > 0) {
                each.clearPieces();
                passing.clearPieces();
            }
            for (std::size_t i = first; i < first + 150; ++i) {
                if (i == 0) {
                    each.moveTo(walk[i].lon, walk[i].lat);
                } else {
                    each.lineTo(walk[i].lon, walk[i].lat);
                }
            }
            passing.lineThrough(walk.data() + first, 150, first == 0);
            for (const Stretch& run : tracedRuns(each, box)) eachRuns.push_back(run);
            for (const Stretch& run : tracedRuns(passing, box)) passingRuns.push_back(run);
            culled += passing.points().size() < each.points().size() ? 1 : 0;
        }
        ASSERT_EQ(passingRuns, eachRuns) << "projection " << projection << ", trial " << trial;
    }
    EXPECT_GT(culled, 100) << "projection " << projection << ": stretches were passed over";
    }
}

// A line ruled out by its bounds alone, as a map file gives them, gives no
// piece in the picture when each of its points is traced: lines of a few
// metres to a quarter of the earth, some across the antimeridian or round a
// pole, on views of both projections from metres to the whole earth, some
// on the antimeridian or a pole.
TEST(ScreenPath, LinesRuledOutByTheirBoundsShowNothing) {
    constexpr double kPi = std::numbers::pi;
    const PixelBox box = pictureBox(400, 300, 6);
    for (const int projection : {kAzimuthal, kCylindric}) {
        std::mt19937 random(31);
        std::uniform_real_distribution<double> unit(0, 1);
        int ruledOut = 0;
        for (int trial = 0; trial < 1500; ++trial) {
            std::vector<MapPoint> line(2 + random() % 80);
            double lat = (unit(random) - 0.5) * kPi, lon = (unit(random) - 0.5) * 2 * kPi;
            const double step = std::pow(10.0, -5 + 4.5 * unit(random));
            const bool across = trial % 5 == 0;  // the antimeridian within its first points
            if (across) lon = kPi - 3 * step;
            walkOn(line, lat, lon, step, random);
            double south = line[0].lat, north = south, west = line[0].lon, east = west;
            for (const MapPoint& p : line) {
                south = std::min<double>(south, p.lat);
                north = std::max<double>(north, p.lat);
                west = std::min<double>(west, p.lon);
                east = std::max<double>(east, p.lon);
            }
            MapView view;
            const MapPoint& near = line[random() % (across ? std::min<std::size_t>(line.size(), 12) : line.size())];
            const double nearby = std::pow(10.0, -4 + 4 * unit(random));
            map_view_setup(view, projection, near.lon + nearby * (unit(random) - 0.5),
                           std::clamp(near.lat + nearby * (unit(random) - 0.5), -kPi / 2, kPi / 2),
                           std::pow(10.0, -2 + 6.5 * unit(random)), 400, 300);
            if (trial % 7 == 0) map_view_setup(view, projection, kPi - 0.01, near.lat, 3000, 400, 300);
            if (trial % 11 == 0) map_view_setup(view, projection, near.lon, kPi / 2 - 0.001, 2000, 400, 300);
            PathTracer tracer;
            tracer.start(view, GeoEdge::kLonLat, box, PathTracer::kCut);
            if (tracer.lineMayShow(south, north, west, east)) continue;
            ++ruledOut;
            tracer.moveTo(line[0].lon, line[0].lat);
            for (std::size_t i = 1; i < line.size(); ++i) tracer.lineTo(line[i].lon, line[i].lat);
            ASSERT_TRUE(tracedRuns(tracer, box).empty()) << "projection " << projection << ", trial " << trial;
        }
        EXPECT_GT(ruledOut, 300) << "projection " << projection;
        // A line across the antimeridian, its bounds round the rest of the
        // earth, seen where it crosses.
        const float lat = 0.3f, before = static_cast<float>(kPi - 0.01), after = static_cast<float>(-kPi + 0.01);
        const std::vector<MapPoint> across = {{lat, before, 0, 0}, {lat, after, 0, 1}, {lat, after + 0.01f, 0, 2}};
        for (const double range : {10.0, 300.0}) {
            MapView view;
            map_view_setup(view, projection, kPi, lat, range, 400, 300);
            PathTracer tracer;
            tracer.start(view, GeoEdge::kLonLat, box, PathTracer::kCut);
            for (const MapPoint& p : across) p.index == 0 ? tracer.moveTo(p.lon, p.lat) : tracer.lineTo(p.lon, p.lat);
            ASSERT_FALSE(tracedRuns(tracer, box).empty());
            EXPECT_TRUE(tracer.lineMayShow(lat, lat, after, before)) << "projection " << projection << ", " << range;
        }
    }
}

// A stretch said not to reach the picture has no point that projects into
// it: points all over such boxes, projected one by one.
TEST(ScreenPath, StretchesRuledOutLieOffThePicture) {
    constexpr double kPi = std::numbers::pi;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    const PixelBox box = pictureBox(400, 300, 6);
    int ruledOut = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        MapView view;
        map_view_setup(view, kAzimuthal, (unit(random) - 0.5) * 2 * kPi, (unit(random) - 0.5) * kPi,
                       std::pow(10.0, -2 + 6 * unit(random)), 400, 300);
        PathTracer tracer;
        tracer.start(view, GeoEdge::kLonLat, box, PathTracer::kCut);
        const double south = (unit(random) - 0.5) * kPi, north = std::min(kPi / 2, south + unit(random) * unit(random));
        const double west = (unit(random) - 0.5) * 4 * kPi, east = west + unit(random) * unit(random) * 7;
        if (tracer.mayReach(south, north, west, east)) continue;
        ++ruledOut;
        for (int i = 0; i <= 40; ++i) {
            for (int j = 0; j <= 40; ++j) {
                double x, y;
                const double lat = south + (north - south) * i / 40, lon = west + (east - west) * j / 40;
                ASSERT_TRUE(azimuthal_forward(view, lon, lat, &x, &y)) << "the antipode is never ruled out";
                ASSERT_FALSE(x >= box.left && x <= box.right && y >= box.top && y <= box.bottom)
                    << "trial " << trial << ": " << lat << ", " << lon << " shows at " << x << ", " << y;
            }
        }
    }
    EXPECT_GT(ruledOut, 500);
}

}  // namespace
}  // namespace bearfix
