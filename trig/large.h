// The large-argument results of sinf, cosf, tanf and sincosf (trig/reduce.h),
// every lane, for the float kernels' fix-ups, run out of line with four more
// vector registers (trig/large_wide.cpp, frame::wide).  The integer digit work on
// two 128-bit halves and the step-table reconstruction hold more live values than
// the six registers a kernel has, and inline their spills fell on the critical
// path; the call and its four register saves cost less.  The double fix-ups stay
// inline: their digit work runs in general registers, and there the call cost
// more than the spills it saved.
#pragma once
#include "frame/frame.h"
#include "trig/reduce.h"

namespace qarn::trig {

namespace wide {
#define QARN_TRIG_WIDE(S, N)                      \
  QARN_WIDE N sinf_##S(N x);                      \
  QARN_WIDE N cosf_##S(N x);                      \
  QARN_WIDE N tanf_##S(N x);                      \
  QARN_WIDE N sincosf_##S(N x, __m128i cos_to);  // the cosine stored at the address in cos_to
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

template <class V> QARN_INLINE V sincosf_large(V x, V& c) {
  alignas(32) float cs[nlanes<V>];
  __m128i to = _mm_cvtsi64_si128(int64_t(reinterpret_cast<uintptr_t>(cs)));
  V s;
  if constexpr (std::is_same_v<V, vf4>) s = {frame::wide(wide::sincosf_4, x.v, to)};
  else s = {frame::wide(wide::sincosf_8, x.v, to)};
  c = frame::load<V>(cs);
  return s;
}

}  // namespace qarn::trig
