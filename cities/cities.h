// Lookups in the built-in table of places, and the description of any
// position relative to the nearest one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cities/city_table.h"

namespace bearfix {

// An entry as handed out: like CityRecord, but latitude and longitude in
// radians (the stored degrees times kDegToRad, as floats).
struct CityInfo {
    float lat;
    float lon;
    char name[24];
    int32_t flags;
};

// Entries before the terminating (0, 0) record; counted once.
int city_count();

// False for an index outside 0..city_count()-1 (`out` is left alone).
bool city_get(int index, CityInfo& out);

// "%d km %s of %s" for the nearest place within 900 km (compass direction of
// the position as seen from the place), the bare name nearer than 0.5 km,
// else the empty text. Radians. Of equally near places the earlier wins.
std::string describe_near_city(double lon, double lat);

// The description over any table; the built-in one is used by
// describe_near_city. Precomputes each place's unit vector once, so that a
// lookup runs on every mouse move without trigonometry per place.
class PlaceIndex {
public:
    explicit PlaceIndex(std::span<const CityRecord> places);
    std::string describe(double lon, double lat) const;
    // Index of the nearest place and its angular distance; -1 for an empty table.
    int nearest(double lon, double lat, double* angle) const;

private:
    struct Place {
        float lat, lon;  // radians, as city_get gives them
        double x, y, z;
    };
    std::span<const CityRecord> records_;
    std::vector<Place> places_;
};

}  // namespace bearfix
