#include "map/elevation.h"

namespace bearfix {

// No elevation data is read yet: every position is outside the loaded area.
bool elevationAt(double, double, int* metres) {
    *metres = kElevationNotLoaded;
    return false;
}

}  // namespace bearfix
