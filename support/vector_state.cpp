#include "support/vector_state.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace bearfix {

#if defined(__x86_64__) || defined(__i386__)

namespace {

__attribute__((target("avx"))) void zeroUpper() { _mm256_zeroupper(); }

}  // namespace

void clearUpperVectorState() {
    static const bool haveAvx = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    if (haveAvx) zeroUpper();
}

#else

void clearUpperVectorState() {}

#endif

}  // namespace bearfix
