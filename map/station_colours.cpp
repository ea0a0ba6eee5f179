#include "map/station_colours.h"

#include <string_view>
#include <unordered_map>

namespace bearfix {

namespace {

// Away from the observers' teal and purple, X's black and the search area's
// red; as red, green, blue.
constexpr uint8_t kPalette[kStationColours][3] = {
    {31, 119, 180}, {44, 160, 44},   {140, 86, 75}, {23, 190, 207}, {227, 119, 194}, {188, 189, 34},
    {0, 0, 140},    {148, 103, 189}, {90, 90, 90},  {0, 110, 80},  {200, 150, 0},   {110, 60, 0},
};

uint32_t nameHash(std::string_view name) {  // FNV-1a: the same in every run
    uint32_t h = 2166136261u;
    for (unsigned char c : name) h = (h ^ c) * 16777619u;
    return h;
}

}  // namespace

std::vector<int> stationColourSlots(std::span<const Bearing> bearings) {
    std::unordered_map<std::string_view, int> slotOf;
    bool taken[kStationColours] = {};
    int used = 0;
    std::vector<int> slotOfRow(bearings.size());
    for (std::size_t i = 0; i < bearings.size(); ++i) {
        const std::string_view name = bearings[i].station;
        auto it = slotOf.find(name);
        if (it == slotOf.end()) {
            int slot = static_cast<int>(nameHash(name) % kStationColours);
            if (used < kStationColours) {
                while (taken[slot]) slot = (slot + 1) % kStationColours;
                taken[slot] = true;
                ++used;
            }
            it = slotOf.emplace(name, slot).first;
        }
        slotOfRow[i] = it->second;
    }
    return slotOfRow;
}

uint32_t stationColourRef(int slot) {
    const uint8_t* c = kPalette[((slot % kStationColours) + kStationColours) % kStationColours];
    return uint32_t{c[0]} | uint32_t{c[1]} << 8 | uint32_t{c[2]} << 16;
}

}  // namespace bearfix
