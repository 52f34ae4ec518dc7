// sincos (sine returned, cosine through the caller's pointer) and sincosreg (both
// in registers), float and double: one kernel computes both from one reduction.
//
// N = round(|x|/pi); the sine remainder is r_s = |x| - N*pi, the cosine remainder
// r_c = |x| - (N +- 1/2)*pi with the half turn on the side of the partial
// remainder p = |x| - N*pi1 - N*pi2, so |r_c| <= pi/2 as well.  Both go through
// one odd polynomial; cos x = (-1)^N * sin(r_s + pi/2) = +-P(r_c).
//   double default: 4-piece reduction, degree 15; |x| > 2^23 reduced inline
//   double _native/_rm: 3-piece reduction, degree 9; |x| > 2^23 to the lane fallback
//   float default: 4 pieces, degree 9; _native/_rm: 3 pieces, c1*r + r*r2*(c3 + c5*r2);
//   every float variant reduces |x| > 10000 inline.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "trig/trig_scalar.h"
#include "trig/reduce.h"
#include "trig/sincos.h"

namespace qarn {

template <class T, var Vr, auto Fb> struct sincos_kernel;

template <var Vr, auto Fb> struct sincos_kernel<double, Vr, Fb> {
  using elem = double;
  using second = double;
  static constexpr bool full = Vr == var::def;
  // (sincos and sincosreg share their lane fallback's arithmetic.)
  static constexpr decltype(&sincos_lanes_fallback) lanes_fallback = full ? nullptr : &sincos_lanes_fallback;

  template <class V> static QARN_INLINE V poly(V r) {
    V r2 = r * r;
    V q;
    if constexpr (full)
      q = kc<V, 0xBFC55555555554A7ull>() +
          r2 * (kc<V, 0x3F8111111110A4A6ull>() +
                r2 * (kc<V, 0xBF2A01A019A5B86Dull>() +
                      r2 * (kc<V, 0x3EC71DE38030FEA0ull>() +
                            r2 * (kc<V, 0xBE5AE63546002231ull>() +
                                  r2 * (kc<V, 0x3DE60E6857A2F220ull>() + r2 * kc<V, 0xBD69F0D60811AAC8ull>())))));
    else
      q = trig::sin_q_short(r2);
    return r + (r * r2) * q;
  }

  template <class V> static QARN_INLINE V main(V x, V& cosine) {
    V a = vabs(x);
    V S = a * kc<V, 0x3FD45F306DC9C883ull>() + kc<V, 0x4338000000000000ull>();
    V N = S - kc<V, 0x4338000000000000ull>();
    V p = (a - N * kc<V, 0x400921FB40000000ull>()) - N * kc<V, 0x3E84442D00000000ull>();
    V M = N + (kc<V, 0x3FE0000000000000ull>() | trig::sign_bits(p));
    V rs;
    if constexpr (full) rs = (p - N * kc<V, 0x3D08469880000000ull>()) - N * kc<V, 0x3B88CC51701B839Aull>();
    else rs = p - N * kc<V, 0x3D08469898CC5170ull>();
    V odd = trig::parity_sign(S);
    V p_nonneg = andnot(kc<V, 0x8000000000000000ull>(), p);  // sign bit set where p >= 0
    V c = poly(rem_c(a, M)) ^ (odd ^ p_nonneg);
    cosine = blend(cmp<_CMP_EQ_OQ>(x, bits<V>(0)), c, kc<V, 0x3FF0000000000000ull>());
    return poly(rs) ^ odd ^ trig::sign_bits(x);
  }
  // The cosine remainder a - M*pi.
  template <class V> static QARN_INLINE V rem_c(V a, V M) {
    if constexpr (full)
      return (((a - M * kc<V, 0x400921FB40000000ull>()) - M * kc<V, 0x3E84442D00000000ull>()) -
              M * kc<V, 0x3D08469880000000ull>()) - M * kc<V, 0x3B88CC51701B839Aull>();
    else
      return ((a - M * kc<V, 0x400921FB40000000ull>()) - M * kc<V, 0x3E84442D00000000ull>()) -
             M * kc<V, 0x3D08469898CC5170ull>();
  }
  template <class V> static QARN_INLINE V large(V x) {
    return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x4160000000000000ull>());
  }
  // 2^-1022 <= |x| < 2^-170: N = 0, p = r_s = |x|, and the sine's r^3 term is far
  // below half an ulp (it goes subnormal below 2^-340): the sine is x.  The cosine
  // path never meets a subnormal (M = 1/2, r_c near -pi/2, p >= 0): it is run as is.
  template <class V> static QARN_INLINE V tiny(V x) { return band_lanes<V, 0x0010000000000000ull, 0x3550000000000000ull>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& s, V& c) {
    s = blend(t, s, x);
    c = blend(t, c, poly(rem_c(vabs(x), kc<V, 0x3FE0000000000000ull>())) ^ kc<V, 0x8000000000000000ull>());
  }
  template <class V> static QARN_INLINE V special(V x) { return large(x) | tiny(x); }
  // Finite lanes beyond the main path: the large-argument reduction recomputes them.
  template <class V> requires full static QARN_INLINE V fixable(V x) { return large(x) & trig::finite(x); }
  template <class V> requires full static QARN_INLINE V fixup(V x, V& s, V& c) {
    V fix = fixable(x);
    trig::reduced<V> q = trig::reduce_large(vabs(x), bits<V>(0));
    s = blend(fix, s, trig::sin_steps(q, 0) ^ trig::sign_bits(x));
    c = blend(fix, c, trig::sin_steps(q, 1));
    return fix;
  }
};

template <var Vr, auto Fb> struct sincos_kernel<float, Vr, Fb> {
  using elem = float;
  using second = float;
  static constexpr bool full = Vr == var::def;

  template <class V> static QARN_INLINE V poly(V r) {
    V r2 = r * r;
    if constexpr (full)
      return r + (r * r2) * (kc<V, 0xBE2AAAA7u>() +
                             r2 * (kc<V, 0x3C08876Au>() + r2 * (kc<V, 0xB94FB7FFu>() + r2 * kc<V, 0x362EDEF8u>())));
    else
      return kc<V, 0x3F7FF87Cu>() * r + (r * r2) * (kc<V, 0xBE29E72Fu>() + kc<V, 0x3BF84524u>() * r2);
  }

  template <class V> static QARN_INLINE V main(V x, V& cosine) { return both<false>(x, x, cosine); }
  // The same with the lanes t of the tiny band finished on the way: their sine
  // polynomial runs on zero (its cube would go subnormal), their cosine as is.
  template <class V> static QARN_INLINE V main_band(V x, V t, V& cosine) { return both<true>(x, t, cosine); }
  template <bool Band, class V> static QARN_INLINE V both(V x, V t, V& cosine) {
    V a = vabs(x);
    V S = a * kc<V, 0x3EA2F983u>() + kc<V, 0x4B400000u>();
    V N = S - kc<V, 0x4B400000u>();
    V p = (a - N * kc<V, 0x40490000u>()) - N * kc<V, 0x3A7DA000u>();
    V M = N + (kc<V, 0x3F000000u>() | trig::sign_bits(p));
    V rs;
    if constexpr (full) rs = (p - N * kc<V, 0x34222000u>()) - N * kc<V, 0x2CB4611Au>();
    else rs = p - N * kc<V, 0x34222169u>();
    V odd = trig::parity_sign(S);
    V p_nonneg = andnot(kc<V, 0x80000000u>(), p);
    V c = poly(rem_c(a, M)) ^ (odd ^ p_nonneg);
    cosine = blend(cmp<_CMP_EQ_OQ>(x, bits<V>(0)), c, kc<V, 0x3F800000u>());
    if constexpr (Band) {
      V y = poly(andnot(rs, t)) ^ odd ^ trig::sign_bits(x);
      return blend(t, y, band_sine(x));
    } else {
      return poly(rs) ^ odd ^ trig::sign_bits(x);
    }
  }
  template <class V> static QARN_INLINE V band_sine(V x) {
    if constexpr (full) return x;
    else return x * kc<V, 0x3F7FF87Cu>();
  }
  template <class V> static QARN_INLINE V rem_c(V a, V M) {
    if constexpr (full)
      return (((a - M * kc<V, 0x40490000u>()) - M * kc<V, 0x3A7DA000u>()) - M * kc<V, 0x34222000u>()) -
             M * kc<V, 0x2CB4611Au>();
    else
      return ((a - M * kc<V, 0x40490000u>()) - M * kc<V, 0x3A7DA000u>()) - M * kc<V, 0x34222169u>();
  }
  template <class V> static QARN_INLINE V large(V x) { return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x461C4000u>()); }
  // |x| below 2^-20: as in double, the sine is x (c1*x rounded once in the short
  // variant, whose band starts where that is normal, 0x1.000786p-126) and the
  // cosine path, free of subnormals, is run as is.
  template <class V> static QARN_INLINE V tiny(V x) {
    if constexpr (full) return band_lanes<V, 0x00800000u, 0x35800000u>(x);
    else return band_lanes<V, 0x008003C3u, 0x35800000u>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& s, V& c) {
    s = blend(t, s, band_sine(x));
    c = blend(t, c, poly(rem_c(vabs(x), kc<V, 0x3F000000u>())) ^ kc<V, 0x80000000u>());
  }
  template <class V> static QARN_INLINE V special(V x) { return large(x) | tiny(x); }
  // Finite lanes beyond the main path: the large-argument reduction recomputes them.
  template <class V> static QARN_INLINE V fixable(V x) { return large(x) & trig::finite(x); }
  template <class V> static QARN_INLINE V fixup(V x, V& s, V& c) {
    V fix = fixable(x);
    V lc, ls = trig::sincosf_large_lanes(x, lc);
    s = blend(fix, s, ls);
    c = blend(fix, c, lc);
    return fix;
  }
};

template <class T, var Vr> struct sincos_k;
template <var Vr> struct sincos_k<float, Vr> : sincos_kernel<float, Vr, &sincosf_lane_fallback> {};
template <var Vr> struct sincos_k<double, Vr> : sincos_kernel<double, Vr, &sincos_lane_fallback> {};

// sincosreg: the same kernel, its own lane fallbacks.
template <class T, var Vr> struct sincosreg_k;
template <var Vr> struct sincosreg_k<float, Vr> : sincos_kernel<float, Vr, &sincosregf_lane_fallback> {};
template <var Vr> struct sincosreg_k<double, Vr> : sincos_kernel<double, Vr, &sincosreg_lane_fallback> {};

}  // namespace qarn
