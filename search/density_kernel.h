// The inner loop of the probability map: what one bearing adds to -2 ln of
// the likelihood along one row of cells. Kept apart so that it alone is
// compiled for wide vectors (and, on x86-64, also for AVX2 with FMA, picked
// at start-up where the processor has them).
#pragma once

namespace bearfix::density {

// Along the row the point X of cell j gives X.r = k0 + kg g[j] + ks s[j] and
// X.t = c0 + cg g[j] + cs s[j] (t, r of the bearing as in multi_fix.cpp); the
// residual is atan2(X.r, X.t) and z = residual * invSigma.
struct RowBearing {
    float k0, kg, ks, c0, cg, cs, invSigma;
};

// misfit[j] += z^2 (or Huber's cost when robust), for n cells.
void addBearing(float* misfit, const float* g, const float* s, int n, const RowBearing& b, bool robust);

// The same for a bearing that may be its back bearing: -2 ln of the mixture
// of the two, half and half.
void addAmbiguousBearing(float* misfit, const float* g, const float* s, int n, const RowBearing& b, bool robust);

// atan2(y, x) in (-pi, pi], to within 1e-6 rad; for tests.
float fastAtan2(float y, float x);

}  // namespace bearfix::density
