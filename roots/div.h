// inv and div in float and double.
//
//   inv (double, every variant), invf default/_rm: 1.0 / x, every lane on the main path.
//   div (double, every variant): x / y; lanes whose divisor is zero or subnormal go
//     to div_lane_fallback, which gives the same IEEE quotient.
//   divf default/_rm: x / y, every lane on the main path.
//   invf _native/_half: the reciprocal estimate R(x) alone; |x| below 2^-126 or above
//     0x7E7FE800, infinities and NaN go to invf_lane_fallback (1.0f / x).
//   divf _native/_half: x * R(y); |y| below 2^-126 or from 2^126 up, infinities and
//     NaN go to divf_lane_fallback (x / y).  Outside those bands the estimate would
//     see a subnormal or flush its result.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"

namespace qarn {

template <class T, var Vr> struct inv_k;

template <var Vr> struct inv_k<double, Vr> {
  using elem = double;
  static constexpr bool has_special = false;
  template <class V> static QARN_INLINE V main(V x) { return kc<V, 0x3FF0000000000000ull>() / x; }
};

template <var Vr> struct inv_k<float, Vr> {
  using elem = float;
  static constexpr bool has_special = Vr == var::native || Vr == var::half;

  template <class V> static QARN_INLINE V main(V x) {
    if constexpr (has_special) return rcp_est(x);
    else return kc<V, 0x3F800000u>() / x;
  }
  template <class V> static QARN_INLINE V special(V x) {
    V a = vabs(x);
    return cmp<_CMP_NGE_UQ>(a, kc<V, 0x00800000u>()) | cmp<_CMP_NLE_UQ>(a, kc<V, 0x7E7FE800u>());
  }
};

template <class T, var Vr> struct div_k;

template <var Vr> struct div_k<double, Vr> {
  using elem = double;

  template <class V> static QARN_INLINE V main(V x, V y) { return x / y; }
  // Divisor with a zero exponent field.
  template <class V> static QARN_INLINE V special(V, V y) {
    return cmp<_CMP_LT_OQ>(vabs(y), kc<V, 0x0010000000000000ull>());
  }
};

template <var Vr> struct div_k<float, Vr> {
  using elem = float;
  static constexpr bool has_special = Vr == var::native || Vr == var::half;

  template <class V> static QARN_INLINE V main(V x, V y) {
    if constexpr (has_special) return x * rcp_est(y);
    else return x / y;
  }
  template <class V> static QARN_INLINE V special(V, V y) {
    V a = vabs(y);
    return cmp<_CMP_NGE_UQ>(a, kc<V, 0x00800000u>()) | cmp<_CMP_NLT_UQ>(a, kc<V, 0x7E800000u>());
  }
};

}  // namespace qarn
