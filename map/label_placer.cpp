#include "map/label_placer.h"

#include <algorithm>

namespace bearfix {

bool LabelPlacer::place(const QRect& box) {
    if (std::any_of(placed_.begin(), placed_.end(), [&](const QRect& r) { return r.intersects(box); })) return false;
    placed_.push_back(box);
    return true;
}

std::vector<const MapLabel*> LabelPlacer::placeAll(const std::vector<MapLabel>& labels, const QFontMetrics& metrics,
                                                   int flags) {
    std::vector<const MapLabel*> order, shown;
    for (const MapLabel& label : labels) order.push_back(&label);
    std::stable_sort(order.begin(), order.end(), [](const MapLabel* a, const MapLabel* b) { return a->rank < b->rank; });
    for (const MapLabel* label : order) {
        // The line's box, and the ink that reaches beyond it (a J's hook),
        // with the pixels its smoothed edges touch.
        const QRect line = metrics.boundingRect(QRect(label->x, label->y, 2000, 200), flags, label->text);
        const QRect ink = metrics.tightBoundingRect(label->text).translated(line.left(), line.top() + metrics.ascent());
        if (place(line.united(ink.adjusted(-1, -1, 1, 1)))) shown.push_back(label);
    }
    return shown;
}

}  // namespace bearfix
