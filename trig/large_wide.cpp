// The float large-argument routines of trig/large.h, compiled with ymm6-ymm9 free
// (the kernels' flags with four fewer reserved vector registers).  Each runs the
// inline code a kernel would, so the bits are the kernel's.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "trig/large.h"

namespace qarn::trig::wide {

#define QARN_TRIG_WIDE(S, N, V)                                  \
  QARN_WIDE N sinf_##S(N x) { return sinf_large_lanes(V{x}).v; } \
  QARN_WIDE N cosf_##S(N x) { return cosf_large_lanes(V{x}).v; } \
  QARN_WIDE N tanf_##S(N x) { return tanf_large_lanes(V{x}).v; }
QARN_TRIG_WIDE(4, __m128, vf4)
QARN_TRIG_WIDE(8, __m256, vf8)

}  // namespace qarn::trig::wide
