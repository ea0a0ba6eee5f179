// The colours of the bearing log's stations, toolkit-free: the map draws each
// station's lines in its colour, and the exports write the same.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fix/bearing.h"

namespace bearfix {

inline constexpr int kStationColours = 12;

// The colour slot (0..kStationColours-1) of every bearing's station. A
// station keeps the slot its name hashes to, so that colours do not change
// when bearings come and go; a station whose slot an earlier one took gets
// the next free one, so that up to kStationColours stations differ.
std::vector<int> stationColourSlots(std::span<const Bearing> bearings);
// The colour of a slot as 0x00BBGGRR; any slot number is taken round.
uint32_t stationColourRef(int slot);

}  // namespace bearfix
