// The base map's vector layers drawn on two threads: the lines are projected
// once into pixel runs, then each thread strokes the runs that reach its band
// of rows, on its own painter clipped to that band. The pixels are those of
// drawing every run on the whole picture in order.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QSemaphore>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "map/map_view.h"
#include "map/screen_path.h"
#include "support/message_log.h"

namespace bearfix {

// One layer's lines in pixels, in drawing order.
struct VectorRuns {
    struct Run {
        int first = 0, count = 0;
        float top = 0, bottom = 0;  // rows the points span
    };
    QColor colour;
    int width = 1;
    std::vector<QPointF> points;
    std::vector<Run> runs;

    void add(const PixelPoint* run, int count);
};

// The row that splits the layers' stroking into two halves of about the same
// work, within 1..height-1.
int balancedSplit(const VectorRuns* layers, int count, int height);

// Strokes the layers in order, antialiased, rows above `split` on this thread
// and the rest on one of Qt's pool threads (here too when none is free).
void drawInBands(QImage& picture, const VectorRuns* layers, int count, int split);

// A group of the base map's line files, read into pixel runs (with
// readAside() on one of Qt's pool threads, while this one draws what comes
// before them), then drawn in bands.
class VectorLayers {
public:
    struct Layer {
        const char* file;
        QColor colour;
        int width;
        bool shown;
    };
    VectorLayers(QSize picture, const MapView& view, const std::string& directory, std::initializer_list<Layer> layers);
    ~VectorLayers();
    VectorLayers(const VectorLayers&) = delete;
    VectorLayers& operator=(const VectorLayers&) = delete;

    // Starts reading on a pool thread when one is free.
    void readAside();
    // What was said last about each file, by its name: a map drawn again
    // says only what changed.
    using Said = std::map<std::string, std::vector<LoggedMessage>>;
    // Reads what is not read yet and passes on what reading logged (with
    // `said`, only what differs from the last time), then strokes the layers
    // in order.
    void draw(QImage& picture, Said* said = nullptr);

private:
    void read();
    QSize picture_;
    MapView view_;
    std::string directory_;
    std::vector<Layer> layers_;
    std::vector<VectorRuns> runs_;
    std::vector<std::vector<LoggedMessage>> messages_;  // of each layer
    QSemaphore read_;
    bool aside_ = false;
};

}  // namespace bearfix
