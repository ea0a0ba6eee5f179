// Labels that do not cover each other: each is placed only where it overlaps
// none placed before, the more important first.
#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QString>
#include <vector>

namespace bearfix {

struct MapLabel {
    int x = 0, y = 0;  // the top left of the text
    QString text;
    int rank = 0;  // lower ranks are placed first
};

class LabelPlacer {
public:
    void clear() { placed_.clear(); }
    // True, and the box taken, when it overlaps no box placed before.
    bool place(const QRect& box);
    const std::vector<QRect>& placed() const { return placed_; }

    // The box a text takes, drawn with `metrics` and `flags` into a rectangle
    // from (x, y): its line, and the ink that reaches beyond it (a J's hook)
    // with the pixels its smoothed edges touch.
    static QRect boxOf(const QString& text, int x, int y, const QFontMetrics& metrics, int flags);

    // Places `labels` by rank, in their order within a rank, each as text
    // drawn with `metrics` and `flags` into a rectangle from its (x, y);
    // the labels placed, in that order.
    std::vector<const MapLabel*> placeAll(const std::vector<MapLabel>& labels, const QFontMetrics& metrics,
                                          int flags);

private:
    std::vector<QRect> placed_;
};

}  // namespace bearfix
