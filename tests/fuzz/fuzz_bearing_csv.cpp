// A bearing log file of any content: read with the usual caps and with tight
// ones (so that short inputs reach them), magnetic bearings given a
// declination north of the equator and refused one south of it; what is
// read holds only valid values, is written and read back to the same text,
// and gives a fix or a reason.
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "fix/bearing_log.h"
#include "fix/multi_fix.h"
#include "fuzz_input.h"

namespace {

void checkBearing(const bearfix::Bearing& b) {
    constexpr double kPi = std::numbers::pi;
    bearfix::fuzz::check(std::fabs(b.position.lat) <= kPi / 2 + 1e-15 && std::fabs(b.position.lon) <= kPi + 1e-15);
    bearfix::fuzz::check(b.bearingDeg >= 0.0 && b.bearingDeg < 360.0);
    bearfix::fuzz::check(b.toleranceDeg >= 0.0 && b.toleranceDeg <= 180.0);
    bearfix::fuzz::check(b.station.size() <= bearfix::kMaxStationName);
    for (char c : b.station) bearfix::fuzz::check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    bearfix::fuzz::check(!b.utc || (*b.utc >= 0 && *b.utc <= bearfix::kMaxUtcSeconds));
    bearfix::fuzz::check(std::fabs(b.correctionDeg) <= 360.0);
}

void checkFix(const std::vector<bearfix::Bearing>& bearings, bool robust) {
    const bearfix::FixResult f = bearfix::solveFix(bearings, {.robust = robust});
    bearfix::fuzz::check(f.fits.size() == bearings.size());
    if (f.status != bearfix::FixStatus::Found) {
        bearfix::fuzz::check(*bearfix::fixStatusReason(f.status) != '\0');
        return;
    }
    bearfix::fuzz::check(f.used >= 2 && std::isfinite(f.x.lat) && std::isfinite(f.x.lon));
    for (const auto& e : {f.ellipse50, f.ellipse95}) {
        bearfix::fuzz::check(e.semiMajorKm >= e.semiMinorKm && e.semiMinorKm >= 0.0 && std::isfinite(e.semiMajorKm));
        bearfix::fuzz::check(e.orientationDeg >= 0.0 && e.orientationDeg < 180.0);
    }
    for (const auto& fit : f.fits) bearfix::fuzz::check(std::fabs(fit.residualDeg) <= 180.0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    const std::string text = fuzz::text(data, size);
    CsvLimits tight;
    tight.maxFileBytes = 4000;
    tight.maxLineBytes = 48;
    tight.maxBearings = 6;
    const DeclinationSource northOnly = [](const Bearing& b, std::string& why) -> std::optional<double> {
        if (b.position.lat > 0.0) return 13.0;
        why = "south";
        return std::nullopt;
    };
    for (const CsvLimits& limits : {CsvLimits{}, tight}) {
        std::vector<Bearing> read(1);
        std::string errors;
        if (!parseBearingCsv(text, read, errors, limits, northOnly)) {
            bearfix::fuzz::check(read.size() == 1 && !errors.empty() && errors.back() != '\n');
            bearfix::fuzz::check(errors.rfind("line ", 0) == 0 || errors.rfind("larger than ", 0) == 0);
            continue;
        }
        bearfix::fuzz::check(errors.empty() && read.size() <= limits.maxBearings);
        for (const Bearing& b : read) checkBearing(b);
        const std::string once = formatBearingCsv(read);
        std::vector<Bearing> back;
        bearfix::fuzz::check(parseBearingCsv(once, back, errors));
        bearfix::fuzz::check(back.size() == read.size() && formatBearingCsv(back) == once);
        if (read.size() <= 64) {
            checkFix(read, false);
            checkFix(read, true);
        }
    }
    return 0;
}
