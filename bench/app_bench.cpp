#include <benchmark/benchmark.h>

#include "session/results.h"
#include "cities/cities.h"
#include "geo/fix_geometry.h"

namespace bearfix {
namespace {

const char* const kPosA = "N52\xB0" "08'26\" E008\xB0" "28'57\"";
const char* const kPosB = "N49\xB0" "27'00\" E011\xB0" "00'00\"";

// What every keystroke in an observer field costs before drawing: with the
// default tolerances (1 degree) and, for /1, both 180-degree ambiguity
// switches ticked.
void BM_ComputeResults(benchmark::State& state) {
    const bool ambiguity = state.range(0) != 0;
    const ObserverTexts in{kPosA, kPosB, "260", "288", "1", "1", ambiguity, ambiguity};
    for (auto _ : state) benchmark::DoNotOptimize(computeResults(in));
}
BENCHMARK(BM_ComputeResults)->Arg(0)->Arg(1);

// What the fix beyond X adds to computeResults, both ambiguity switches
// ticked: /0 the default fix (the search area; no back bearings meet when the
// typed ones do), /1 bearings that do not meet (no search area; one back-
// bearing crossing with its nearest place). Must stay under 20 us.
void BM_FixBeyondX(benchmark::State& state) {
    const bool crossing = state.range(0) == 0;
    GeoPosition a, b;
    scan_position(kPosA, a);
    scan_position(kPosB, b);
    const double brgA = (crossing ? 260 : 80) * kDegToRad, brgB = 288 * kDegToRad;
    const double tolerance = 1 * kDegToRad;
    IntersectionResult x;
    bearing_intersection(x, a.lon, a.lat, brgA, b.lon, b.lat, brgB);
    describe_near_city(a.lon, a.lat);  // the one-time index build stays out of the timing
    for (auto _ : state) {
        if (x.status == 0) {
            benchmark::DoNotOptimize(crossing_angle(x.x, a, brgA, b, brgB));
            benchmark::DoNotOptimize(formatSearchArea(search_area(x.x, a, brgA, tolerance, b, brgB, tolerance)));
        }
        for (const BackBearingCrossing& c : back_bearing_crossings(a, brgA, true, b, brgB, true)) {
            benchmark::DoNotOptimize(format_position(c.x, PosFormat::Dms));
            benchmark::DoNotOptimize(describe_near_city(c.x.lon, c.x.lat));
        }
    }
}
BENCHMARK(BM_FixBeyondX)->Arg(0)->Arg(1);

}  // namespace
}  // namespace bearfix
