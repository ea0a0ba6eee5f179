// Which north a bearing is taken from: true north (what the fix wants, and
// what a bearing is unless said otherwise), magnetic north (a compass), or
// the station's heading (an antenna array on a car). Adding its correction,
// the declination or the heading, makes a bearing true.
#pragma once

#include <optional>
#include <string_view>

namespace bearfix {

enum class BearingReference : int { True = 0, Magnetic = 1, Relative = 2 };

// "true", "magnetic", "relative".
inline const char* bearingReferenceName(BearingReference reference) {
    switch (reference) {
        case BearingReference::Magnetic: return "magnetic";
        case BearingReference::Relative: return "relative";
        case BearingReference::True: break;
    }
    return "true";
}

// The reference of a name of bearingReferenceName or of its first letter
// as a capital ("T", "M", "R"); nothing for any other text.
inline std::optional<BearingReference> bearingReferenceFromName(std::string_view name) {
    for (const BearingReference r : {BearingReference::True, BearingReference::Magnetic, BearingReference::Relative}) {
        const std::string_view full = bearingReferenceName(r);
        if (name == full || (name.size() == 1 && name[0] == full[0] - 'a' + 'A')) return r;
    }
    return std::nullopt;
}

}  // namespace bearfix
