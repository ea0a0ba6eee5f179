// How often the fix's ellipses hold the transmitter, and how well outliers
// are named, over simulated hunts with a known truth (simulated_hunt.h):
// clean hunts and hunts with one or two wild bearings, few or many
// bearings, stations near or far. Run by hand:
//   build/bench/fix_coverage [HUNTS_PER_CASE]
// Every case has its own fixed seed, so the figures repeat exactly.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fix/multi_fix.h"
#include "bench/simulated_hunt.h"

namespace {

using namespace bearfix;
using namespace bearfix::simulation;

struct Case {
    std::string name;
    HuntClass hunt;
};

struct Tally {
    int hunts = 0, fixes = 0, in95 = 0, in50 = 0;
    int honest = 0, honestNamed = 0, wild = 0, wildNamed = 0;
    // Bearings beyond 2.5, 3 and 3.5 of their standard deviations.
    int honestBeyond[3] = {0, 0, 0}, wildBeyond[3] = {0, 0, 0};
    std::vector<double> scales;
};

constexpr double kLimits[3] = {2.5, 3.0, 3.5};

Tally run(const Case& c, bool robust, int hunts, uint64_t seed) {
    Random r(seed);
    Tally t;
    for (int i = 0; i < hunts; ++i) {
        const Hunt h = makeHunt(r, c.hunt);
        const FixResult f = solveFix(h.bearings, {.robust = robust});
        ++t.hunts;
        if (f.status != FixStatus::Found) continue;
        ++t.fixes;
        t.in95 += covers(f, f.ellipse95, h);
        t.in50 += covers(f, f.ellipse50, h);
        t.scales.push_back(f.scale);
        for (std::size_t k = 0; k < h.bearings.size(); ++k) {
            const BearingFit& fit = f.fits[k];
            (h.wild[k] ? t.wild : t.honest) += 1;
            (h.wild[k] ? t.wildNamed : t.honestNamed) += fit.outlier;
            for (int l = 0; l < 3; ++l)
                (h.wild[k] ? t.wildBeyond[l] : t.honestBeyond[l]) += std::fabs(fit.deviationSigmas) > kLimits[l];
        }
    }
    return t;
}

double percent(int part, int whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }

void print(const Case& c, const Tally& t) {
    std::vector<double> s = t.scales;
    std::sort(s.begin(), s.end());
    const double median = s.empty() ? 0.0 : s[s.size() / 2], high = s.empty() ? 0.0 : s[s.size() * 9 / 10];
    std::printf("%-34s %5d %5d  %5.1f  %5.1f   %4.2f %4.2f   %5.2f %6.1f", c.name.c_str(), t.hunts, t.fixes,
                percent(t.in95, t.fixes), percent(t.in50, t.fixes), median, high, percent(t.honestNamed, t.honest),
                percent(t.wildNamed, t.wild));
    std::printf("   %5.2f/%5.2f/%5.2f", percent(t.honestBeyond[0], t.honest), percent(t.honestBeyond[1], t.honest),
                percent(t.honestBeyond[2], t.honest));
    if (t.wild > 0)
        std::printf("   %5.1f/%5.1f/%5.1f", percent(t.wildBeyond[0], t.wild), percent(t.wildBeyond[1], t.wild),
                    percent(t.wildBeyond[2], t.wild));
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int hunts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    std::vector<Case> cases;
    const struct {
        const char* name;
        int low, high;
    } counts[] = {{"5-7", 5, 7}, {"12-20", 12, 20}};
    const struct {
        const char* name;
        double low, high;
    } ranges[] = {{"1-10 km", 1.0, 10.0}, {"20-80 km", 20.0, 80.0}, {"1-80 km", 1.0, 80.0}};
    const char* const kinds[] = {"clean", "one wild", "two wild"};
    for (int wild = 0; wild < 3; ++wild)
        for (const auto& n : counts)
            for (const auto& d : ranges)
                cases.push_back({std::string(kinds[wild]) + ", " + n.name + " bearings, " + d.name,
                                 {wild, n.low, n.high, d.low, d.high}});
    // How many wild bearings the method copes with: the share grows.
    // Tolerances that understate the scatter (the bearings scatter 1.5 times as much).
    for (const auto& n : counts)
        for (int wild = 0; wild < 2; ++wild)
            cases.push_back({std::string(kinds[wild]) + ", " + n.name + ", scatter 1.5x", {wild, n.low, n.high, 1.0, 80.0, 1.5}});
    const int shares[][2] = {{1, 4}, {1, 5}, {2, 5}, {2, 6}, {2, 8}, {3, 10}};
    for (const auto& [wild, n] : shares)
        cases.push_back({std::to_string(wild) + " wild of " + std::to_string(n) + " bearings, 1-80 km",
                         {wild, n, n, 1.0, 80.0}});

    std::printf("Simulated hunts: stations in a sector of 90 to 360 degrees around the transmitter, honest\n"
                "bearings with sigma 1 to 2.5 degrees (tolerance twice that), wild ones 20 to 60 degrees off.\n"
                "%d hunts per case, seeds fixed. Coverage counts hunts with a fix.\n",
                hunts);
    for (const bool robust : {true, false}) {
        std::printf("\n%s fit\n", robust ? "Robust (the window's default)" : "Plain maximum-likelihood");
        std::printf("%-34s %5s %5s  %5s  %5s   %9s   %5s %6s   %17s   %17s\n", "case", "hunts", "fixes", "95 %",
                    "50 %", "scale p50/p90", "honest", "wild", "honest>2.5/3/3.5", "wild>2.5/3/3.5");
        std::printf("%-34s %5s %5s  %5s  %5s   %9s   %5s %6s\n", "", "", "", "cover", "cover", "", "named%",
                    "named%");
        for (std::size_t i = 0; i < cases.size(); ++i) print(cases[i], run(cases[i], robust, hunts, 1000 + i));
    }
    return 0;
}
