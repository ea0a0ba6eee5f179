// What the composer's source files share: label placement flags and the
// round steps of the grid and the ruler.
#pragma once

#include <Qt>
#include <cmath>

namespace bearfix {

inline constexpr int kLabelFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip;

// One of 1, 2, 5 times a power of ten, at most `limit` (limit > 0).
inline double niceStepBelow(double limit) {
    double power = std::pow(10.0, std::floor(std::log10(limit)));
    for (double m : {5.0, 2.0, 1.0}) {
        if (m * power <= limit) return m * power;
    }
    return power;
}

// One of 1, 2, 5 times a power of ten, at least `limit` (limit > 0).
inline double niceStepAbove(double limit) {
    const double below = niceStepBelow(limit);
    if (below >= limit) return below;
    const double power = std::pow(10.0, std::floor(std::log10(below)));
    const double m = below / power;
    return m < 1.5 ? 2 * power : m < 3.5 ? 5 * power : 10 * power;
}

}  // namespace bearfix
