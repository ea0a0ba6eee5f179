#include "search/density_kernel.h"

#include <cmath>

#include "fix/multi_fix.h"

namespace bearfix::density {

namespace {

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define BEARFIX_WIDE __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define BEARFIX_WIDE
#endif

constexpr float kHalfPi = 1.57079632679f;
constexpr float kPiF = 3.14159265359f;
constexpr float kHuber = static_cast<float>(kRobustCornerSigmas);
constexpr float kTwoLn2 = 1.38629436112f;

// atan on [0, 1]: Abramowitz and Stegun 4.4.49, |error| <= 2e-8.
inline float atanUnit(float a) {
    const float s = a * a;
    float p = 0.0028662257f;
    p = p * s - 0.0161657367f;
    p = p * s + 0.0429096138f;
    p = p * s - 0.0752896400f;
    p = p * s + 0.1065626393f;
    p = p * s - 0.1420889944f;
    p = p * s + 0.1999355085f;
    p = p * s - 0.3333314528f;
    return a + a * s * p;
}

// Branch-free, so that the loops below become vector code.
inline float residual(float k, float c) {
    const float ak = std::fabs(k), ac = std::fabs(c);
    const float big = ak > ac ? ak : ac, small = ak > ac ? ac : ak;
    const float a = small / (big > 0.0f ? big : 1.0f);
    float p = atanUnit(a);
    p = ak > ac ? kHalfPi - p : p;
    p = c < 0.0f ? kPiF - p : p;
    return std::copysign(p, k);
}

inline float cost(float z, bool robust) {
    const float az = std::fabs(z);
    return robust && az > kHuber ? 2.0f * kHuber * az - kHuber * kHuber : z * z;
}

}  // namespace

float fastAtan2(float y, float x) { return residual(y, x); }

BEARFIX_WIDE
void addBearing(float* misfit, const float* g, const float* s, int n, const RowBearing& b, bool robust) {
    const float k0 = b.k0, kg = b.kg, ks = b.ks, c0 = b.c0, cg = b.cg, cs = b.cs, inv = b.invSigma;
    if (robust) {
        for (int j = 0; j < n; ++j) {
            const float z = residual(k0 + kg * g[j] + ks * s[j], c0 + cg * g[j] + cs * s[j]) * inv;
            const float az = std::fabs(z);
            misfit[j] += az > kHuber ? 2.0f * kHuber * az - kHuber * kHuber : z * z;
        }
    } else {
        for (int j = 0; j < n; ++j) {
            const float z = residual(k0 + kg * g[j] + ks * s[j], c0 + cg * g[j] + cs * s[j]) * inv;
            misfit[j] += z * z;
        }
    }
}

void addAmbiguousBearing(float* misfit, const float* g, const float* s, int n, const RowBearing& b, bool robust) {
    for (int j = 0; j < n; ++j) {
        const float r = residual(b.k0 + b.kg * g[j] + b.ks * s[j], b.c0 + b.cg * g[j] + b.cs * s[j]);
        const float back = r - std::copysign(kPiF, r);
        const float c1 = cost(r * b.invSigma, robust), c2 = cost(back * b.invSigma, robust);
        const float low = c1 < c2 ? c1 : c2, gap = std::fabs(c1 - c2);
        // -2 ln((e^(-c1/2) + e^(-c2/2)) / 2)
        misfit[j] += low + kTwoLn2 - (gap < 80.0f ? 2.0f * std::log1p(std::exp(-0.5f * gap)) : 0.0f);
    }
}

}  // namespace bearfix::density
