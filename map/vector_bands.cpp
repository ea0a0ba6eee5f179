#include "map/vector_bands.h"

#include <QPainter>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <cmath>

#include "map/vector_file.h"
#include "support/vector_state.h"

namespace bearfix {

namespace {

// Stroking a wide pen costs several times a point of a hairline.
double workPerPoint(int width) { return width > 1 ? 4.0 : 1.0; }

void drawBand(uchar* bits, const QImage& picture, const VectorRuns* layers, int count, int top, int bottom) {
    // A picture of its own over the same pixels: each thread paints with its
    // own painter, and the clip keeps it to its rows. Qt strokes and rasters
    // in the picture's coordinates either way, so the pixels are the same.
    QImage band(bits, picture.width(), picture.height(), picture.bytesPerLine(), picture.format());
    QPainter painter(&band);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(0, top, picture.width(), bottom - top);
    for (int l = 0; l < count; ++l) {
        const VectorRuns& layer = layers[l];
        if (layer.runs.empty()) continue;
        painter.setPen(QPen(layer.colour, layer.width));
        const double r = penReach(layer.width);
        for (const VectorRuns::Run& run : layer.runs) {
            if (run.bottom < top - r || run.top > bottom + r) continue;
            painter.drawPolyline(layer.points.data() + run.first, run.count);
            clearUpperVectorState();
        }
    }
}

}  // namespace

void VectorRuns::add(const PixelPoint* run, int count) {
    if (count <= 0) return;
    float top = static_cast<float>(run[0].y), bottom = top;
    runs.push_back({static_cast<int>(points.size()), count, top, bottom});
    for (int i = 0; i < count; ++i) {
        top = std::min(top, static_cast<float>(run[i].y));
        bottom = std::max(bottom, static_cast<float>(run[i].y));
        points.emplace_back(run[i].x, run[i].y);
    }
    runs.back().top = top;
    runs.back().bottom = bottom;
}

int balancedSplit(const VectorRuns* layers, int count, int height) {
    if (height < 2) return 1;
    // Each run's work spread over its rows, as differences from row to row.
    std::vector<double> step(static_cast<std::size_t>(height) + 1, 0.0);
    double total = 0;
    for (int l = 0; l < count; ++l) {
        for (const VectorRuns::Run& run : layers[l].runs) {
            const int first = std::clamp(static_cast<int>(std::floor(run.top)), 0, height - 1);
            const int last = std::clamp(static_cast<int>(std::floor(run.bottom)), 0, height - 1);
            const double work = run.count * workPerPoint(layers[l].width);
            step[first] += work / (last - first + 1);
            step[last + 1] -= work / (last - first + 1);
            total += work;
        }
    }
    const double half = total / 2 * (1 - 1e-9);  // the sums' rounding
    double row = 0, above = 0;
    for (int y = 0; y < height - 1; ++y) {
        row += step[y];
        above += row;
        if (above >= half) return std::max(1, y + 1);
    }
    return height - 1;
}

void drawInBands(QImage& picture, const VectorRuns* layers, int count, int split) {
    const int height = picture.height();
    split = std::clamp(split, 0, height);
    // Not bits(): a painter may be open on the picture, which made it the
    // pixels' only owner already, and bits() would count a needless change.
    uchar* const bits = const_cast<uchar*>(std::as_const(picture).constBits());
    QSemaphore lowerDone;
    auto lower = [&] {
        drawBand(bits, picture, layers, count, split, height);
        lowerDone.release();
    };
    QThreadPool* pool = QThreadPool::globalInstance();
    const bool elsewhere = split < height && !pool->contains(QThread::currentThread()) && pool->tryStart(lower);
    if (split > 0) drawBand(bits, picture, layers, count, 0, split);
    if (elsewhere) {
        lowerDone.acquire();
    } else if (split < height) {
        lower();
    }
}

VectorLayers::VectorLayers(QSize picture, const MapView& view, const std::string& directory,
                           std::initializer_list<Layer> layers)
    : picture_(picture), view_(view), directory_(directory), layers_(layers), runs_(layers.size()) {}

VectorLayers::~VectorLayers() {
    if (aside_) read_.acquire();  // the pool thread still reads into this
}

void VectorLayers::readAside() {
    QThreadPool* pool = QThreadPool::globalInstance();
    aside_ = !pool->contains(QThread::currentThread()) && pool->tryStart([this] {
        read();
        read_.release();
    });
}

void VectorLayers::read() {
    messages_.assign(layers_.size(), {});
    std::vector<PixelPoint> scratch;
    for (std::size_t i = 0; i < layers_.size(); ++i) {
        HeldMessages held(messages_[i]);
        const Layer& layer = layers_[i];
        VectorRuns& runs = runs_[i];
        if (!layer.shown) continue;
        runs.colour = layer.colour;
        runs.width = layer.width;
        const PixelBox box = pictureBox(picture_.width(), picture_.height(), clipMargin(layer.width));
        LineTrace trace;
        PathTracer probe;
        clearUpperVectorState();  // the segments refused never reach the sink, which clears it
        probe.start(view_, GeoEdge::kLonLat, box, PathTracer::kCut);
        auto sink = [&](const MapView& view, const MapPoint* points, int count) {
            clearUpperVectorState();
            if (count == kItemBegin || count == kItemEnd) trace.breakLine();
            if (count <= 0 || points == nullptr) return;
            trace.batch(view, points, count, box, [&](const PixelPoint* pixels, int n, double period) {
                clipPolyline(pixels, n, period, box, scratch, [&](const PixelPoint* run, int m) { runs.add(run, m); });
            });
        };
        loadVectorFile(directory_ + "/" + layer.file, view_, sink,
                       [&](const SegmentBounds& b) { return probe.lineMayShow(b.south, b.north, b.west, b.east); });
    }
}

void VectorLayers::draw(QImage& picture, Said* said) {
    if (aside_) {
        read_.acquire();
        aside_ = false;
    } else {
        read();
    }
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        if (said && layers_[i].shown) {
            std::vector<LoggedMessage>& last = (*said)[layers_[i].file];
            const auto same = [](const LoggedMessage& a, const LoggedMessage& b) {
                return a.level == b.level && a.text == b.text;
            };
            if (std::equal(last.begin(), last.end(), messages_[i].begin(), messages_[i].end(), same)) continue;
            last = messages_[i];
        }
        passOn(messages_[i]);
    }
    messages_.clear();
    const int count = static_cast<int>(runs_.size());
    if (std::all_of(runs_.begin(), runs_.end(), [](const VectorRuns& r) { return r.runs.empty(); })) return;
    drawInBands(picture, runs_.data(), count, balancedSplit(runs_.data(), count, picture.height()));
}

}  // namespace bearfix
