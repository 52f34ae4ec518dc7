// hypot in float and double.
//
// The main path forms s = x*x + y*y directly and takes its square root without a
// division: y0 = the reciprocal-square-root estimate of s, then
//   double:        e = s y0^2 - 1, sqrt(s) = s y0 + (e P(e) y0) s, e P(e) the series
//                  of (1 + e)^(-1/2) - 1 to e^4 (_native: to e^2);
//   float:         one coupled Newton step for sqrt(s) and 1/(2 sqrt(s)) and a final
//                  correction with the residual g^2 - s;
//   float _native: s E(s), E forced to 0 where s has a zero exponent field.
// Lanes where s is out of a safe range (double below 2^-67 or with a high word
// above 0x44100000; float with a pattern below 0x1E300000 or above 0x60A00000;
// float _native zero, subnormal, infinite or NaN) go to the lane fallback
// (roots/hypot_fallback.cpp): there the squares might have overflowed, underflowed
// or lost bits.  Their main-path values are never used (the fallback overwrites
// them), so s is not replaced there: the registers are better spent.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "roots/estimate.h"

namespace qarn {

template <class T, var Vr> struct hypot_k;

template <var Vr> struct hypot_k<double, Vr> {
  using elem = double;

  template <class V> static QARN_INLINE V out_of_range(V s) {
    return cmp<_CMP_NGE_UQ>(s, kc<V, 0x3BC0000000000000ull>()) | cmp<_CMP_NLT_UQ>(s, kc<V, 0x4410000100000000ull>());
  }
  template <class V> static QARN_INLINE V main(V x, V y) {
    V s = x * x + y * y;
    V y0 = rsqrt_est(s);
    V e = s * (y0 * y0) - kc<V, 0x3FF0000000000000ull>();
    V ep;
    if constexpr (Vr == var::def)
      ep = ((((kc<V, 0x3FD1800000000000ull>() * e + kc<V, 0xBFD4000000000000ull>()) * e + kc<V, 0x3FD8000000000000ull>()) * e +
             kc<V, 0xBFE0000000000000ull>()) * e);
    else
      ep = (kc<V, 0x3FD8000000000000ull>() * e + kc<V, 0xBFE0000000000000ull>()) * e;
    return s * y0 + (ep * y0) * s;
  }
  template <class V> static QARN_INLINE V special(V x, V y) { return out_of_range(x * x + y * y); }
};

template <var Vr> struct hypot_k<float, Vr> {
  using elem = float;

  template <class V> static QARN_INLINE V out_of_range(V s) {
    if constexpr (Vr == var::def)
      return cmp<_CMP_NGE_UQ>(s, kc<V, 0x1E300000u>()) | cmp<_CMP_NLE_UQ>(s, kc<V, 0x60A00000u>());
    else
      return cmp<_CMP_NGE_UQ>(s, kc<V, 0x00800000u>()) | cmp<_CMP_NLE_UQ>(s, kc<V, 0x7F7FFFFFu>());
  }
  template <class V> static QARN_INLINE V main(V x, V y) {
    V s = x * x + y * y;
    if constexpr (Vr == var::def) {
      V y0 = rsqrt_est(s);
      V g = s * y0, h = kc<V, 0x3F000000u>() * y0;
      // r = 0.5 - g h, h1 = h + r h, g1 = g + g r, carried as -r (the same bits, one
      // register less: the constant stays in memory).
      V nr = g * h - kc<V, 0x3F000000u>();
      V h1 = h - nr * h, g1 = g - g * nr;
      return g1 - h1 * (g1 * g1 - s);
    } else {
      return s * (rsqrt_est(s) & cmp<_CMP_NLT_UQ>(s, kc<V, 0x00800000u>()));
    }
  }
  template <class V> static QARN_INLINE V special(V x, V y) { return out_of_range(x * x + y * y); }
};

}  // namespace qarn
