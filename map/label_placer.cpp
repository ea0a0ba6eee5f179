#include "map/label_placer.h"

#include <QHash>
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
    // Names recur on a map (all the more cut to two letters), and measuring
    // one lays its text out; a box from (0, 0) serves each place it recurs.
    QHash<QString, QRect> boxes;
    for (const MapLabel* label : order) {
        auto box = boxes.constFind(label->text);
        if (box == boxes.cend()) box = boxes.insert(label->text, boxOf(label->text, 0, 0, metrics, flags));
        if (place(box->translated(label->x, label->y))) shown.push_back(label);
    }
    return shown;
}

QRect LabelPlacer::boxOf(const QString& text, int x, int y, const QFontMetrics& metrics, int flags) {
    const QRect line = metrics.boundingRect(QRect(x, y, 2000, 200), flags, text);
    const QRect ink = metrics.tightBoundingRect(text).translated(line.left(), line.top() + metrics.ascent());
    return line.united(ink.adjusted(-1, -1, 1, 1));
}

}  // namespace bearfix
