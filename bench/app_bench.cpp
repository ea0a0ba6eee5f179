#include <benchmark/benchmark.h>

#include "app/results.h"

namespace bearfix {
namespace {

// What every keystroke in an observer field costs before drawing.
void BM_ComputeResults(benchmark::State& state) {
    const ObserverTexts in{"N52\xB0" "08'26\" E008\xB0" "28'57\"", "N49\xB0" "27'00\" E011\xB0" "00'00\"", "260",
                           "288"};
    for (auto _ : state) benchmark::DoNotOptimize(computeResults(in));
}
BENCHMARK(BM_ComputeResults);

}  // namespace
}  // namespace bearfix
