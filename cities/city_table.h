// The built-in table of places: names, positions and categories.
#pragma once

#include <cstdint>

namespace bearfix {

// Category bits of a place.
enum CityFlags : int32_t {
    kCityOrdinary = 0x01,
    kCityLocal = 0x02,   // small places around the authors' home region, and two in the far north
    kCityMarker4 = 0x04, // unused; the map still has a marker colour for it
    kCityLarge = 0x08,
    kCityCapital = 0x10,
    kCityIsland = 0x20,
    kCityTransmitter = 0x40,
};

// One stored entry: degrees, north and east positive; the name in
// Windows-1252, NUL-padded, at most 20 characters.
struct CityRecord {
    float lat;
    float lon;
    char name[24];
    int32_t flags;
};
static_assert(sizeof(CityRecord) == 36, "the table's records are 36 bytes");

// The table in its order (alphabetical, with a few placements of old), ended
// by a record whose latitude and longitude are both 0.
extern const CityRecord kCityTable[];

}  // namespace bearfix
