// Lines stroked in two bands on two threads give the pixels of the same lines
// drawn with one painter on the whole picture, wherever the bands meet.
#include "map/vector_bands.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QThreadPool>
#include <random>

namespace bearfix {
namespace {

constexpr int kWidth = 240, kHeight = 180;

// Random walks of every length, some crossing the whole picture, some leaving
// it, with sub-pixel and repeated points, in hairline and wide pens.
std::vector<VectorRuns> randomLayers(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> x(-20, kWidth + 20), y(-20, kHeight + 20), step(-9, 9), tiny(-0.3, 0.3);
    std::vector<VectorRuns> layers(4);
    const QColor colours[] = {QColor(207, 127, 127), QColor(128, 0, 0), QColor(127, 127, 255), Qt::black};
    for (int l = 0; l < 4; ++l) {
        layers[l].colour = colours[l];
        layers[l].width = l < 3 ? 2 : 1;
        for (int r = 0; r < 60; ++r) {
            std::vector<PixelPoint> run{{x(random), y(random)}};
            const int length = r % 7 == 0 ? 200 : 1 + static_cast<int>(random() % 12);
            for (int i = 1; i < length; ++i) {
                const bool small = r % 3 == 0;
                run.push_back({run.back().x + (small ? tiny(random) : step(random)),
                               run.back().y + (small ? tiny(random) : step(random))});
            }
            if (r % 11 == 0) run.push_back(run.back());
            layers[l].add(run.data(), static_cast<int>(run.size()));
        }
    }
    return layers;
}

QImage plainDrawing(const std::vector<VectorRuns>& layers) {
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const VectorRuns& layer : layers) {
        painter.setPen(QPen(layer.colour, layer.width));
        for (const VectorRuns::Run& run : layer.runs) painter.drawPolyline(layer.points.data() + run.first, run.count);
    }
    return picture;
}

TEST(VectorBands, TheBandsDrawWhatOnePainterDraws) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        const std::vector<VectorRuns> layers = randomLayers(seed);
        const QImage expected = plainDrawing(layers);
        const int balanced = balancedSplit(layers.data(), 4, kHeight);
        for (int split : {0, 1, 2, 45, 89, 90, 91, 133, kHeight - 1, kHeight, balanced}) {
            QImage picture(kWidth, kHeight, QImage::Format_RGB32);
            picture.fill(Qt::white);
            drawInBands(picture, layers.data(), 4, split);
            EXPECT_TRUE(picture == expected) << "seed " << seed << ", split at row " << split;
        }
    }
}

TEST(VectorBands, DrawnFromAPoolThreadAsWell) {
    const std::vector<VectorRuns> layers = randomLayers(5);
    const QImage expected = plainDrawing(layers);
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QThreadPool pool;
    pool.start([&] { drawInBands(picture, layers.data(), 4, kHeight / 2); });
    pool.waitForDone();
    EXPECT_TRUE(picture == expected);
}

TEST(VectorBands, TheSplitHalvesTheWork) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::vector<PixelPoint>, int>> runs;  // points, pen width
        int low, high;                                              // the split lies in low..high
    };
    const std::vector<PixelPoint> column{{5, 0}, {5, 99}}, topTen{{0, 0}, {0, 3}, {0, 6}, {0, 9}};
    std::vector<PixelPoint> bottomHairline;
    for (int i = 0; i < 16; ++i) bottomHairline.push_back({static_cast<double>(i), 90.0 + i % 10});
    const Case cases[] = {
        // Two points over rows 0..99: half the rows above.
        {"one even line", {{column, 1}}, 50, 50},
        // A wide pen's 4 points weigh as a hairline's 16: any row between the two
        // halves the work.
        {"wide against hairline", {{topTen, 2}, {bottomHairline, 1}}, 10, 90},
        {"all at the bottom", {{bottomHairline, 1}}, 91, 99},
        {"nothing", {}, 1, 99},
    };
    for (const Case& c : cases) {
        std::vector<VectorRuns> layers;
        for (const auto& [points, width] : c.runs) {
            layers.emplace_back();
            layers.back().width = width;
            layers.back().add(points.data(), static_cast<int>(points.size()));
        }
        const int split = balancedSplit(layers.data(), static_cast<int>(layers.size()), 100);
        EXPECT_GE(split, c.low) << c.what;
        EXPECT_LE(split, c.high) << c.what;
    }
}

}  // namespace
}  // namespace bearfix
