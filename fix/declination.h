// The declinations of the World Magnetic Model for compass bearings.
#pragma once

#include "fix/bearing.h"
#include "magnetic/world_magnetic_model.h"

namespace bearfix {

// The model's declination at a bearing's station (on the ground) and time,
// or in `yearUntimed` (a decimal year) for a bearing without one;
// nothing, with the model's reason, where it is not valid (before or after
// its years, in the blackout zone). `model` must outlive the source.
DeclinationSource modelDeclination(const WorldMagneticModel& model, double yearUntimed);

}  // namespace bearfix
