// sin and cos in float and double: main paths, special-lane tests, and the inline
// large-argument reduction (trig/reduce.h) as the fix-up of the special lanes
// (float lanes through trig/large.h, out of line with more vector registers).
//
//   sin, cos double default      4-piece reduction by pi, degree-15 odd polynomial;
//                                |x| > 2^24 (sin) or |pi/2 - |x|| > 2^23 (cos) reduced inline
//   sin, cos double others       3-piece reduction, degree 9; large lanes to the lane fallback
//   sinf, cosf default           4-piece reduction, degree 9; |x| > 10000 reduced inline
//   sinf, cosf others            3-piece reduction, c1*r + r*r2*(c3 + c5*r2); reduced inline too
// The sign of N (the multiple of pi removed) is bit 0 of the rounded sum, moved
// into the sign bit; cos works as sin(pi/2 - |x|) (double) or sin(|x| + pi/2)
// (float), with an exact 1.0 where the quarter-turn shift leaves pi/2 unchanged.
// Only NaN and infinite lanes reach the fallbacks, except in the double variants
// without inline reduction.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "trig/trig_scalar.h"
#include "trig/reduce.h"
#include "trig/large.h"

namespace qarn {

namespace trig {

// Bit 0 of the integer in the low bits of a shifter sum, as the sign bit.
template <class V> QARN_INLINE V parity_sign(V S) {
  if constexpr (sizeof(elem_t<V>) == 8) return ishl<63>(S);
  else return ishl<31>(S);
}

// The short sine correction of the double _native paths (sin, cos, sincos):
// sin(r) = r + r^3 * q(r^2).
template <class V> QARN_INLINE V sin_q_short(V r2) {
  return kc<V, 0xBFC55554AD3EAF1Full>() +
         r2 * (kc<V, 0x3F8110EA968A0185ull>() +
               r2 * (kc<V, 0xBF29F67D9395D587ull>() + r2 * kc<V, 0x3EC5D4567512BBD5ull>()));
}

}  // namespace trig

template <class T, var Vr> struct sin_k;
template <class T, var Vr> struct cos_k;

template <var Vr> struct sin_k<double, Vr> {
  using elem = double;
  static constexpr bool full = Vr == var::def;

  template <class V> static QARN_INLINE V main(V x) {
    V a = vabs(x);
    V S = a * kc<V, 0x3FD45F306DC9C883ull>() + kc<V, 0x4338000000000000ull>();
    V N = S - kc<V, 0x4338000000000000ull>();
    V r;
    if constexpr (full)
      r = (((a - N * kc<V, 0x400921FB40000000ull>()) - N * kc<V, 0x3E84442D00000000ull>()) -
           N * kc<V, 0x3D08469880000000ull>()) - N * kc<V, 0x3B88CC51701B839Aull>();
    else
      r = ((a - N * kc<V, 0x400921FB40000000ull>()) - N * kc<V, 0x3E84442D00000000ull>()) -
          N * kc<V, 0x3D08469898CC5170ull>();
    V rs = r ^ trig::parity_sign(S);
    V r2 = r * r;
    V q;
    if constexpr (full)
      q = kc<V, 0xBFC55555555554A8ull>() +
          r2 * (kc<V, 0x3F8111111110A573ull>() +
                r2 * (kc<V, 0xBF2A01A019A659DDull>() +
                      r2 * (kc<V, 0x3EC71DE3806ADD1Aull>() +
                            r2 * (kc<V, 0xBE5AE6355AAA4A53ull>() +
                                  r2 * (kc<V, 0x3DE60E6BEE01D83Eull>() + r2 * kc<V, 0xBD69F1517E9F65F0ull>())))));
    else
      q = trig::sin_q_short(r2);
    V y = rs + (r2 * q) * rs;
    return y ^ trig::sign_bits(x);
  }
  template <class V> static QARN_INLINE V large(V x) {
    return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x4170000000000000ull>());
  }
  // 2^-1022 <= |x| < 2^-170: N = 0, r = |x|, and r^3/6 is far below half an ulp
  // of r (it goes subnormal below 2^-340), so to nearest the result is x.
  // Without the inline reduction every large lane goes to the fallback: all of a
  // call's at once.
  static constexpr decltype(&sin_lanes_fallback) lanes_fallback = full ? nullptr : &sin_lanes_fallback;
  template <class V> static QARN_INLINE V tiny(V x) { return band_lanes<V, 0x0010000000000000ull, 0x3550000000000000ull>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) { r = blend(t, r, x); }
  template <class V> static QARN_INLINE V special(V x) { return large(x) | tiny(x); }
  // Finite lanes beyond the main path: the large-argument reduction recomputes them.
  template <class V> requires full static QARN_INLINE V fixable(V x) { return large(x) & trig::finite(x); }
  template <class V> requires full static QARN_INLINE V fixup(V x, V& r) {
    V fix = fixable(x);
    trig::reduced<V> q = trig::reduce_large(vabs(x), bits<V>(0));
    r = blend(fix, r, trig::sin_steps(q, 0) ^ trig::sign_bits(x));
    return fix;
  }
};

template <var Vr> struct cos_k<double, Vr> {
  using elem = double;
  static constexpr bool full = Vr == var::def;

  template <class V> static QARN_INLINE V main(V x) {
    V a = vabs(x);
    V y = kc<V, 0x3FF921FB54442D18ull>() - a;
    V S = y * kc<V, 0x3FD45F306DC9C883ull>() + kc<V, 0x4338000000000000ull>();
    V N = S - kc<V, 0x4338000000000000ull>();
    V M = kc<V, 0x3FE0000000000000ull>() - N;
    V r;
    if constexpr (full)
      r = (((M * kc<V, 0x400921FB40000000ull>() - a) + M * kc<V, 0x3E84442D00000000ull>()) +
           M * kc<V, 0x3D08469880000000ull>()) + M * kc<V, 0x3B88CC51701B839Aull>();
    else
      r = ((M * kc<V, 0x400921FB40000000ull>() - a) + M * kc<V, 0x3E84442D00000000ull>()) +
          M * kc<V, 0x3D08469898CC5170ull>();
    V rs = r ^ trig::parity_sign(S);
    V r2 = r * r;
    V q;
    if constexpr (full)
      q = kc<V, 0xBFC55555555554A7ull>() +
          r2 * (kc<V, 0x3F8111111110A4A8ull>() +
                r2 * (kc<V, 0xBF2A01A019A5B87Bull>() +
                      r2 * (kc<V, 0x3EC71DE38030FEA0ull>() +
                            r2 * (kc<V, 0xBE5AE63546002231ull>() +
                                  r2 * (kc<V, 0x3DE60E6857A2F220ull>() + r2 * kc<V, 0xBD69F0D60811AAC8ull>())))));
    else
      q = trig::sin_q_short(r2);
    V res = rs + (r2 * q) * rs;
    return blend(cmp<_CMP_EQ_OQ>(y, kc<V, 0x3FF921FB54442D18ull>()), res, kc<V, 0x3FF0000000000000ull>());
  }
  static constexpr decltype(&cos_lanes_fallback) lanes_fallback = full ? nullptr : &cos_lanes_fallback;
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NLE_UQ>(vabs(kc<V, 0x3FF921FB54442D18ull>() - vabs(x)), kc<V, 0x4160000000000000ull>());
  }
  // Finite lanes beyond the main path: the large-argument reduction recomputes them.
  template <class V> requires full static QARN_INLINE V fixable(V x) { return special(x) & trig::finite(x); }
  template <class V> requires full static QARN_INLINE V fixup(V x, V& r) {
    V fix = fixable(x);
    trig::reduced<V> q = trig::reduce_large(x, trig::sign_bits(x));
    r = blend(fix, r, trig::sin_steps(q, 1));
    return fix;
  }
};

namespace trig {
// The float main path of sin (u = |x|, M = N) and cos (u = |x| + pi/2, M = N - 1/2).
// With Band (sin, to nearest only), lanes below 2^-20 square zero in place of r:
// there N = 0 and r = |x|, r^2 would go subnormal, and the polynomial's correction
// is far below half an ulp of the leading term, so to nearest zeroing it leaves
// their bits alone.  The band's lanes come out as its closed form, x (c1*x in the
// short variants), in the same pass.  (The mask is taken from |x|, not from the
// band's own, to keep one register free.)
template <bool Cos, var Vr, bool Band = false, class V> QARN_INLINE V sinf_main(V x) {
  constexpr bool full = Vr == var::def;
  V a = vabs(x);
  V u = a;
  if constexpr (Cos) u = a + kc<V, 0x3FC90FDBu>();
  V S = u * kc<V, 0x3EA2F983u>() + kc<V, 0x4B400000u>();
  V N = S - kc<V, 0x4B400000u>();
  V M = N;
  if constexpr (Cos) M = N - kc<V, 0x3F000000u>();
  V r = ((a - M * kc<V, 0x40490000u>()) - M * kc<V, 0x3A7DA000u>());
  if constexpr (full) r = (r - M * kc<V, 0x34222000u>()) - M * kc<V, 0x2CB4611Au>();
  else r = r - M * kc<V, 0x34222169u>();
  V rs = r ^ parity_sign(S);
  V rq = r;
  if constexpr (Band) rq = andnot(r, cmp<_CMP_LT_OQ>(a, kc<V, 0x35800000u>()));
  V r2 = rq * rq;
  V y;
  if constexpr (full) {
    V q = kc<V, 0xBE2AAAA6u>() + r2 * (kc<V, 0x3C088766u>() + r2 * (kc<V, 0xB94FB7FFu>() + r2 * kc<V, 0x362EDEF8u>()));
    y = rs + (r2 * q) * rs;
  } else {
    V c3 = Cos ? kc<V, 0xBE29E73Fu>() : kc<V, 0xBE29E72Fu>();
    y = (r2 * (c3 + kc<V, 0x3BF84524u>() * r2)) * rs + rs * kc<V, 0x3F7FF87Cu>();
  }
  if constexpr (Cos) return blend(cmp<_CMP_EQ_OQ>(u, kc<V, 0x3FC90FDBu>()), y, kc<V, 0x3F800000u>());
  else return y ^ sign_bits(x);
}
}  // namespace trig

template <var Vr> struct sin_k<float, Vr> {
  using elem = float;
  template <class V> static QARN_INLINE V main(V x) { return trig::sinf_main<false, Vr>(x); }
  template <class V> static QARN_INLINE V large(V x) { return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x461C4000u>()); }
  // |x| from the smallest normal to 2^-20: N = 0, r = |x|, and r^3/6 is far below
  // half an ulp of r (its square and cube go subnormal below 2^-41), so to nearest
  // the result is x, or c1*x rounded once in the short variants.  There the band
  // starts where c1*x is normal (0x1.000786p-126).  Subnormal x stay out: with
  // subnormal results flushed the main path gives them a zero.
  template <class V> static QARN_INLINE V tiny(V x) {
    if constexpr (Vr == var::def) return band_lanes<V, 0x00800000u, 0x35800000u>(x);
    else return band_lanes<V, 0x008003C3u, 0x35800000u>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    if constexpr (Vr == var::def) r = blend(t, r, x);
    else r = blend(t, r, x * kc<V, 0x3F7FF87Cu>());
  }
  template <class V> static QARN_INLINE V main_band(V x, V) { return trig::sinf_main<false, Vr, true>(x); }
  template <class V> static QARN_INLINE V special(V x) { return large(x) | tiny(x); }
  // Both on the lane's pattern (width 1).
  static QARN_INLINE bool special_bits(uint32_t x) {
    constexpr uint32_t lo = Vr == var::def ? 0x00800000u : 0x008003C3u;
    uint32_t a = x & 0x7FFFFFFFu;
    return a > 0x461C4000u || a - lo < 0x35800000u - lo;
  }
  // Finite lanes beyond the main path: the large-argument reduction recomputes them.
  template <class V> static QARN_INLINE V fixable(V x) { return large(x) & trig::finite(x); }
  template <class V> static QARN_INLINE V fixup(V x, V& r) {
    V fix = fixable(x);
    V l = trig::sinf_large(x);
    r = blend(fix, r, l);
    return fix;
  }
};

template <var Vr> struct cos_k<float, Vr> {
  using elem = float;
  template <class V> static QARN_INLINE V main(V x) { return trig::sinf_main<true, Vr>(x); }
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x461C4000u>()); }
  static QARN_INLINE bool special_bits(uint32_t x) { return (x & 0x7FFFFFFFu) > 0x461C4000u; }
  // Finite lanes beyond the main path: the large-argument reduction recomputes them.
  template <class V> static QARN_INLINE V fixable(V x) { return special(x) & trig::finite(x); }
  template <class V> static QARN_INLINE V fixup(V x, V& r) {
    V fix = fixable(x);
    V l = trig::cosf_large(x);
    r = blend(fix, r, l);
    return fix;
  }
};

}  // namespace qarn
