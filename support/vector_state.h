// Code built for AVX (Qt's drawing, QImage::fill) may return with the upper
// halves of the vector registers in use; until they are cleared, every
// plain SSE instruction after it (all of ours, and libm's) runs many times
// slower. Call this after such code and before long stretches of arithmetic.
#pragma once

namespace bearfix {

// vzeroupper where the processor has AVX; nothing elsewhere. The build's
// instruction set stays as it is.
void clearUpperVectorState();

}  // namespace bearfix
