// The earth's magnetic field after the World Magnetic Model 2025 (WMM2025,
// NOAA NCEI and the British Geological Survey, valid from 2025.0 to
// 2030.0): declination, inclination and horizontal intensity at a place,
// height and time, and whether the model may be trusted there and then.
//
// Evaluated by GeographicLib's MagneticModel from the files wmm2025.wmm and
// wmm2025.wmm.cof that come with the program (map_data/magnetic/, made by
// tools/make-wmm-files). Positions are geodetic on WGS84 in degrees, heights
// in km above the ellipsoid, times decimal years as NOAA counts them
// (2027.5 is 2027-07-02 12:00 UTC).
//
// Accuracy: the evaluation gives NOAA's 100 test values of WMM2025 to
// 0.005 degrees in declination and inclination (the table's rounding) and
// 0.001 nT in horizontal intensity. The model itself is good to
// sqrt(0.26^2 + (5417 nT / H)^2) degrees of declination, one standard
// deviation of the WMM2025 error model: 0.38 degrees where H is 20000 nT
// (central Europe), 1.0 degree at H = 6000 nT, 2.7 degrees at 2000 nT. Local
// anomalies (ore, iron, the car) and magnetic storms come on top and can
// reach degrees.
//
// Where H is below 2000 nT (the blackout zone round the magnetic poles, as
// the WMM2025 report defines it) the declination is not to be relied on;
// below 6000 nT (the caution zone) a compass may be degraded. Outside the
// model's years and heights nothing is computed. Every answer that is not
// plainly valid carries a reason.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace bearfix {

inline constexpr double kBlackoutNt = 2000.0;  // H below: the blackout zone
inline constexpr double kCautionNt = 6000.0;   // H below: the caution zone

enum class FieldStatus {
    Valid,
    Caution,        // valid, but H < 6000 nT: compass accuracy may be degraded
    Blackout,       // H < 2000 nT: the numbers are given, the declination is not valid
    BeforeModel,    // the time lies before the model's years: no numbers
    AfterModel,     // after them: no numbers
    HeightOutside,  // below -1 km or above 850 km: no numbers
    NoPosition,     // latitude or longitude not finite or out of range
};

struct MagneticField {
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    FieldStatus status = FieldStatus::NoPosition;
    double declinationDeg = kNone;  // east of true north positive, (-180, 180]
    double inclinationDeg = kNone;  // below the horizontal positive
    double horizontalNt = kNone;    // H
    double totalNt = kNone;         // F
    double declinationSigmaDeg = kNone;  // one standard deviation, WMM2025 error model
    std::string reason;  // empty when Valid; what is wrong (or doubtful) otherwise

    // Valid or Caution: the declination may correct a compass bearing.
    bool valid() const { return status == FieldStatus::Valid || status == FieldStatus::Caution; }
};

class WorldMagneticModel {
public:
    // The model "wmm2025" from `directory` (wmm2025.wmm and wmm2025.wmm.cof);
    // nothing, with `why` ("no magnetic model: cannot open ..."), when the
    // files are missing or damaged.
    static std::unique_ptr<WorldMagneticModel> load(const std::string& directory, std::string& why);
    ~WorldMagneticModel();
    WorldMagneticModel(const WorldMagneticModel&) = delete;
    WorldMagneticModel& operator=(const WorldMagneticModel&) = delete;

    // The field at latitude and longitude (degrees), height above the
    // ellipsoid (km) and time (decimal year). Thread-safe.
    MagneticField at(double latDeg, double lonDeg, double heightKm, double year) const;

    std::string name() const;  // "WMM2025"
    double firstYear() const;  // 2025
    double lastYear() const;   // 2030, itself still valid

private:
    struct Impl;
    explicit WorldMagneticModel(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// NOAA's decimal year of a time in seconds since 1970 (UTC): the year and
// the part of it gone by, 2027-07-02 12:00 is 2027.5, 2028-12-31 00:00 is
// 2028 + 365/366.
double decimalYear(int64_t utcSeconds);

// The decimal year at the start (00:00 UTC) of a day "2027-07-02", years 1
// to 9999; nothing for any other text or a day that does not exist.
std::optional<double> decimalYearOfDate(std::string_view text);

}  // namespace bearfix
