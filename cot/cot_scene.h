// What Bearfix shows, as CoT events for the phones of a search team:
// - observers and team stations: friendly ground points ("a-f-G"),
// - the fix: a spot marker ("b-m-p-s-m") whose ce is the 95 % ellipse's
//   semi-major axis in metres,
// - the search area or the 95 % region: a closed shape ("u-d-f" whose last
//   vertex repeats the first, as ATAK writes closed shapes),
// - each used bearing: an open line ("u-d-f") from its station along the
//   great circle, as long as the map draws it.
// Uids are stable ("PREFIX.station.A", "PREFIX.fix", "PREFIX.area",
// "PREFIX.bearing.<hash of station, time, position, bearing>"), so that a
// phone replaces a thing as it moves instead of adding another. Names are
// UTF-8 (Windows-1252 is taken too).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cot/cot_event.h"
#include "geo/position.h"

namespace bearfix {

inline constexpr std::size_t kMaxCotShapePoints = 64;
inline constexpr std::size_t kMaxCotLinePoints = 33;

struct CotStation {
    std::string key;   // stable: "A", "B", a team station's name
    std::string name;  // shown
    GeoPosition position;
};

struct CotFix {
    GeoPosition position;
    double semiMajor95Km = 0.0;  // 0: not known
    std::string name = "Fix";
    std::string remarks;         // e.g. "95 %: 2.3 x 0.8 km, 45 deg"
};

struct CotLine {
    std::string station;  // the bearing's station, shown with the bearing
    std::optional<int64_t> utc;
    GeoPosition from;
    double bearingDeg = 0.0;
    double lengthKm = 0.0;
    int32_t argb = -65536;  // the line's colour as ATAK's Android colour int (red)
};

struct CotScene {
    std::vector<CotStation> stations;
    std::optional<CotFix> fix;
    std::vector<GeoPosition> area;  // the outline, not closed; empty: none
    std::string areaName = "Search area";
    std::vector<CotLine> lines;
};

struct CotOptions {
    std::string uidPrefix = "bearfix";  // one per installation, so that two Bearfix do not replace each other's
    int64_t staleSeconds = 600;
};

// The events of a scene at `nowMs`, in its order: stations, fix, area, lines.
std::vector<CotEvent> cotSceneEvents(const CotScene& scene, const CotOptions& options, int64_t nowMs);

// What to send of a scene's events: each new or changed one (type, how,
// point or detail), each other one again when half its stale time has
// passed, and a delete for each one sent before that is gone.
class CotUpdates {
public:
    std::vector<CotEvent> next(const std::vector<CotEvent>& events, int64_t nowMs);
    void forget() { sent_.clear(); }

private:
    struct Sent {
        std::string type, content;
        int64_t refreshMs;
    };
    std::map<std::string, Sent> sent_;
};

}  // namespace bearfix
