// fmax, fmin, maxmag, minmag, fdim in float and double.
//
// The main paths are compares and blends written so that equal operands (+0
// against -0 included) give the second argument, as the max and min
// instructions do.  Lanes where x or y is infinite or NaN are special; the main
// path is already right for infinities, so the lane fallbacks
// (fpmanip/minmax_fallback.cpp) only settle NaNs.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"

namespace qarn {

namespace mm {
template <class T> struct base {
  using elem = T;
  // Infinite or NaN x or y: the exponent field all ones.
  template <class V> static QARN_INLINE V special(V x, V y) {
    V e = kc<V, (sizeof(T) == 4 ? 0x7F800000u : 0x7FF0000000000000ull)>();
    return cmp<_CMP_EQ_OQ>(x & e, e) | cmp<_CMP_EQ_OQ>(y & e, e);
  }
};
}  // namespace mm

template <class T, var Vr> struct fmax_k : mm::base<T> {
  template <class V> static QARN_INLINE V main(V x, V y) { return vmax(x, y); }  // x > y ? x : y
};

template <class T, var Vr> struct fmin_k : mm::base<T> {
  template <class V> static QARN_INLINE V main(V x, V y) { return vmin(x, y); }  // x < y ? x : y
};

// |x| > |y|: x; |x| < |y|: y; equal magnitudes: the larger (y when y > x, else x).
template <class T, var Vr> struct maxmag_k : mm::base<T> {
  template <class V> static QARN_INLINE V main(V x, V y) {
    V ax = vabs(x), ay = vabs(y);
    V r = blend(cmp<_CMP_LT_OQ>(ax, ay), vmax(y, x), y);
    return blend(cmp<_CMP_GT_OQ>(ax, ay), r, x);
  }
};

// |x| < |y|: x; |x| > |y|: y; equal magnitudes: the smaller (y when y < x, else x).
template <class T, var Vr> struct minmag_k : mm::base<T> {
  template <class V> static QARN_INLINE V main(V x, V y) {
    V ax = vabs(x), ay = vabs(y);
    V r = blend(cmp<_CMP_GT_OQ>(ax, ay), vmin(y, x), y);
    return blend(cmp<_CMP_LT_OQ>(ax, ay), r, x);
  }
};

// x - y where x > y, else +0.
template <class T, var Vr> struct fdim_k : mm::base<T> {
  template <class V> static QARN_INLINE V main(V x, V y) { return (x - y) & cmp<_CMP_GT_OQ>(x, y); }
};

}  // namespace qarn
