// tan in float and double.
//
// Main path: N = round(|x|*2/pi), r = |x| - N*pi/2 in three or four pieces, and
// tan r as Num(r)/Den(r); for odd N the quotient is turned over and negated
// (tan(r + pi/2) = -1/tan r), one division for both cases.  Float _native,
// _half and _rm replace the division by a refined reciprocal estimate.
//
// Lanes beyond the main-path bound (|x| > 128000, float 8256) are reduced inline
// in every variant (trig/reduce.h; float lanes through trig/large.h) to a step
// theta_j = pi*j/256 (float pi*j/128) and r, and finished from a tangent table row
// (tables/gen_trig.cpp): the pole term E/(pi/2 - theta_j - r) by a refined
// reciprocal, plus a Taylor polynomial of what is left.  Only infinite and NaN
// lanes reach the lane fallbacks.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "trig/trig_scalar.h"
#include "trig/reduce.h"
#include "trig/large.h"

namespace qarn {

template <class T, var Vr> struct tan_k;

template <var Vr> struct tan_k<double, Vr> {
  using elem = double;

  template <class V> static QARN_INLINE V main(V x) {
    V a = vabs(x);
    V S = a * kc<V, 0x3FE45F306DC9C883ull>() + kc<V, 0x4338000000000000ull>();
    V N = S - kc<V, 0x4338000000000000ull>();
    V r, num, den;
    if constexpr (Vr == var::def) {
      r = ((a - N * kc<V, 0x3FF921FB54440000ull>()) - N * kc<V, 0x3D868C234C4C0000ull>()) -
          N * kc<V, 0x3B298A2E03707345ull>();
      V r2 = r * r;
      num = r + (r * r2) * (kc<V, 0xBFC06B97BE36D389ull>() +
                            r2 * (kc<V, 0x3F66FC6FDCE5D301ull>() + r2 * kc<V, 0xBEDF637DCE2A3800ull>()));
      den = kc<V, 0x3FF0000000000000ull>() +
            r2 * (kc<V, 0xBFDD8B213470BEEEull>() +
                  r2 * (kc<V, 0x3F97E7B68AC28A56ull>() + r2 * kc<V, 0xBF2B525B03BC92A6ull>()));
    } else {
      r = ((a - N * kc<V, 0x3FF921FB40000000ull>()) - N * kc<V, 0x3E74442D00000000ull>()) -
          N * kc<V, 0x3CF8469898CC5170ull>();
      V r2 = r * r;
      num = r * (kc<V, 0x3FF27E949512AA02ull>() +
                 r2 * (kc<V, 0xBFC079FF5BF6A4DFull>() + r2 * kc<V, 0x3F545C936ED9193Aull>()));
      den = kc<V, 0x3FF27E949510E8DEull>() +
            r2 * (kc<V, 0xBFE072E2E400EC37ull>() + r2 * kc<V, 0x3F92E825CC67D220ull>());
    }
    V odd = ishl<63>(S);
    V q = blend(odd, num, den) / blend(odd, den, num);
    return q ^ odd ^ trig::sign_bits(x);
  }
  template <class V> static QARN_INLINE V large(V x) {
    return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x40FF400000000000ull>());
  }
  // 2^-1022 <= |x| < 2^-170: N = 0, r = |x|, and every term beyond the leading
  // one of Num and Den is far below half an ulp (r^3 goes subnormal below 2^-340),
  // so Num = r*a0 and Den = b0 (r and 1 in the default variant).
  template <class V> static QARN_INLINE V tiny(V x) { return band_lanes<V, 0x0010000000000000ull, 0x3550000000000000ull>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    if constexpr (Vr == var::def) r = blend(t, r, x);
    else r = blend(t, r, ((vabs(x) * kc<V, 0x3FF27E949512AA02ull>()) / kc<V, 0x3FF27E949510E8DEull>()) ^ trig::sign_bits(x));
  }
  template <class V> static QARN_INLINE V special(V x) { return large(x) | tiny(x); }
  // Finite lanes beyond the main path: the large-argument reduction recomputes them.
  template <class V> static QARN_INLINE V fixable(V x) { return large(x) & trig::finite(x); }
  template <class V> static QARN_INLINE V fixup(V x, V& r) {
    V fix = fixable(x);
    r = blend(fix, r, trig::tan_steps_d(x));
    return fix;
  }
};

template <var Vr> struct tan_k<float, Vr> {
  using elem = float;

  template <class V> static QARN_INLINE V main(V x) { return run<false>(x); }
  // To nearest, lanes below 2^-30 may square zero in place of r (N = 0 and r = |x|
  // there, r^2 would go subnormal, and its terms are far below half an ulp of a0):
  // Num = r*a0 and Den = a0, the band's closed form, in the same pass.
  template <class V> static QARN_INLINE V main_band(V x, V) { return run<true>(x); }
  template <bool Band, class V> static QARN_INLINE V run(V x) {
    V a = vabs(x);
    V S = a * kc<V, 0x3F22F983u>() + kc<V, 0x4B400000u>();
    V N = S - kc<V, 0x4B400000u>();
    V r = (a - N * kc<V, 0x3FC90000u>()) - N * kc<V, 0x39FDA000u>();
    if constexpr (Vr == var::def) r = (r - N * kc<V, 0x33A22000u>()) - N * kc<V, 0x2C34611Au>();
    else r = r - N * kc<V, 0x33A22169u>();
    V rq = r;
    if constexpr (Band) rq = andnot(r, cmp<_CMP_LT_OQ>(a, kc<V, 0x30800000u>()));
    V r2 = rq * rq;
    V num = r * (kc<V, 0x3F7FFFFCu>() + kc<V, 0xBDC433B4u>() * r2);
    V den = kc<V, 0x3F7FFFFCu>() + r2 * (kc<V, 0xBEDBB7ABu>() + kc<V, 0x3C1F336Bu>() * r2);
    V odd = ishl<31>(S);
    V dividend = blend(odd, num, den), divisor = blend(odd, den, num);
    V q;
    if constexpr (Vr == var::def) {
      q = dividend / divisor;
    } else {
      V y0 = rcp_est(divisor);
      V y1 = y0 * (kc<V, 0x40000000u>() - y0 * divisor);
      q = y1 * dividend;
    }
    return q ^ odd ^ trig::sign_bits(x);
  }
  template <class V> static QARN_INLINE V large(V x) { return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x46010000u>()); }
  // |x| below 2^-30: N = 0, r = |x|, Num = r*a0 and Den = a0 to nearest (r^2 goes
  // subnormal below 2^-63).  The band starts where r*a0 is normal: from
  // 0x1.000006p-126 (default, then the quotient is at least as large).  The other
  // variants start at the smallest normal: below 2^-125 their r^2 is zero whether
  // or not anything is flushed, so that Num = r*a0 and Den = a0 are the closed
  // form's very operations, and a subnormal r*a0 or result (their reciprocal of a0
  // is about 1 + 2^-22) is flushed or kept alike on both sides.
  template <class V> static QARN_INLINE V tiny(V x) {
    if constexpr (Vr == var::def) return band_lanes<V, 0x00800003u, 0x30800000u>(x);
    else return band_lanes<V, 0x00800000u, 0x30800000u>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    V a0 = kc<V, 0x3F7FFFFCu>();
    V num = vabs(x) * a0, q;
    if constexpr (Vr == var::def) {
      q = num / a0;
    } else {
      V y0 = rcp_est(a0);
      q = (y0 * (kc<V, 0x40000000u>() - y0 * a0)) * num;
    }
    r = blend(t, r, q ^ trig::sign_bits(x));
  }
  template <class V> static QARN_INLINE V special(V x) { return large(x) | tiny(x); }
  // Finite lanes beyond the main path: the large-argument reduction recomputes them.
  template <class V> static QARN_INLINE V fixable(V x) { return large(x) & trig::finite(x); }
  template <class V> static QARN_INLINE V fixup(V x, V& r) {
    V fix = fixable(x);
    V l = trig::tanf_large(x);
    r = blend(fix, r, l);
    return fix;
  }
};

}  // namespace qarn
