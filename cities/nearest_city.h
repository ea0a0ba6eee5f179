// Describing a position relative to the nearest built-in place.
#pragma once

#include <string>

namespace bearfix {

// "%d km %s of %s" for the nearest place within 900 km, the place's bare name
// when it is nearer than 0.5 km, else the empty text. Radians.
std::string describe_near_city(double lon, double lat);

}  // namespace bearfix
