#include "fix/declination.h"

#include "geo/great_circle.h"

namespace bearfix {

DeclinationSource modelDeclination(const WorldMagneticModel& model, double yearUntimed) {
    return [&model, yearUntimed](const Bearing& b, std::string& why) -> std::optional<double> {
        const MagneticField f = model.at(b.position.lat * kRadToDeg, b.position.lon * kRadToDeg, 0.0,
                                         b.utc ? decimalYear(*b.utc) : yearUntimed);
        if (!f.valid()) {
            why = f.reason;
            return std::nullopt;
        }
        return f.declinationDeg;
    };
}

}  // namespace bearfix
