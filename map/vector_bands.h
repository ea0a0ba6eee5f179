// The base map's vector layers drawn on two threads: the lines are projected
// once into pixel runs, then each thread strokes the runs that reach its band
// of rows, on its own painter clipped to that band. The pixels are those of
// drawing every run on the whole picture in order.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <vector>

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

    void clear() {
        points.clear();
        runs.clear();
    }
    void add(const QPointF *run, int count);
};

// The row that splits the layers' stroking into two halves of about the same
// work, within 1..height-1.
int balancedSplit(const VectorRuns *layers, int count, int height);

// Strokes the layers in order, antialiased, rows above `split` on this thread
// and the rest on one of Qt's pool threads (here too when none is free).
void drawInBands(QImage &picture, const VectorRuns *layers, int count, int split);

}  // namespace bearfix
