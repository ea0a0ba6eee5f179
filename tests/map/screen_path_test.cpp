#include "map/screen_path.h"

#include <gtest/gtest.h>

#include <cmath>
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

}  // namespace
}  // namespace bearfix
