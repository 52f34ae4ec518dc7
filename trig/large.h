// The large-argument results of sinf, cosf and tanf (trig/reduce.h), every lane,
// for the float kernels' fix-ups, run out of line with four more vector registers
// (trig/large_wide.cpp, frame::wide).  The integer digit work on two 128-bit
// halves and the step-table reconstruction hold more live values than the six
// registers a kernel has, and inline their spills fell on the critical path; the
// call and its four register saves cost less (about a tenth of the time).
// sincosf stays inline: its second result would come back through memory, and
// out of line it was no faster.  The double fix-ups stay inline too: their digit
// work runs in general registers, and there the call cost more than the spills
// it saved.
#pragma once
#include "frame/frame.h"
#include "trig/reduce.h"

namespace qarn::trig {

namespace wide {
#define QARN_TRIG_WIDE(S, N) \
  QARN_WIDE N sinf_##S(N x);   \
  QARN_WIDE N cosf_##S(N x);   \
  QARN_WIDE N tanf_##S(N x);
QARN_TRIG_WIDE(4, __m128)
QARN_TRIG_WIDE(8, __m256)
#undef QARN_TRIG_WIDE
}  // namespace wide

// What trig::<f>_large_lanes(x) gives, from the routine of x's width.
#define QARN_TRIG_LARGE(F)                                                 \
  template <class V> QARN_INLINE V F##_large(V x) {                        \
    if constexpr (std::is_same_v<V, vf4>) return {frame::wide(wide::F##_4, x.v)}; \
    else return {frame::wide(wide::F##_8, x.v)};                           \
  }
QARN_TRIG_LARGE(sinf)
QARN_TRIG_LARGE(cosf)
QARN_TRIG_LARGE(tanf)
#undef QARN_TRIG_LARGE

}  // namespace qarn::trig
