// asin, acos, asinpi, acospi in float and double: main paths and special-lane
// tests.  Lane fallbacks in atrig/asin_fallback.cpp.
//
// One core serves all four.  With a = |x| and h = (1 - a)/2:
//   a < 0.5:  asin(a) = a + a*z*Q(z),          z = a^2
//   a >= 0.5: asin(a) = pi/2 - 2*asin(sqrt(h)) = pi/2 + w + w*z*Q(z),  w = -2*sqrt(h), z = h
// z = min(a^2, h) picks the right argument without a branch; acos and the
// pi-scaled forms add fixed offsets (pi/2, pi, 0.5, 1) and flip signs.
//
// 2*sqrt(h) comes either from the square-root instruction or from the processor's
// reciprocal-square-root estimate y0 of h (taken in float) with one correction:
// s0 = 2h*y0, e = s0*y0 - 2 (= 2h*y0^2 - 2), 2*sqrt(h) = s0 - s0*e*D(e), where D
// holds the leading terms of -((1 + e/2)^(-1/2) - 1)/e.  h = 0 (|x| = 1) gives
// exactly 0, with no infinity on the way.
//
//   family   precision  variant   sqrt        polynomial
//   asin     both       both      estimate    12-term / 6-term (double), 5-term / quadratic (float)
//   acos     both       both      estimate    as asin
//   asinpi   double     default   instruction 12-term, coefficients over pi
//   asinpi   double     _native   estimate    6-term over pi
//   asinpi   float      both      instruction 5-term over pi / quadratic
//   acospi   as asinpi
//
// Special lanes: asin |x| > 1 (NaN stays on the main path); acos and acospi
// |x| > 1 or NaN, and |x| = 1 for acospi; asinpi |x| >= 1, and in double also
// |x| <= pi*2^-970 (zero and subnormals: their results need a single rounding
// below the normal range, done by the fallback).
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"

namespace qarn {

// Processor reciprocal-square-root estimate; the double forms take it of the lanes
// rounded to float and widen it back.
QARN_INLINE vf4 rsqrt_est(vf4 a) { return {_mm_rsqrt_ps(a.v)}; }
QARN_INLINE vf8 rsqrt_est(vf8 a) { return {_mm256_rsqrt_ps(a.v)}; }
QARN_INLINE vd2 rsqrt_est(vd2 a) { return {_mm_cvtps_pd(_mm_rsqrt_ps(_mm_cvtpd_ps(a.v)))}; }
QARN_INLINE vd4 rsqrt_est(vd4 a) { return {_mm256_cvtps_pd(_mm_rsqrt_ps(_mm256_cvtpd_ps(a.v)))}; }

namespace asink {

template <class V> inline constexpr bool single = sizeof(elem_t<V>) == 4;

template <class V> QARN_INLINE V sign_bit() {
  if constexpr (single<V>) return kc<V, 0x80000000u>();
  else return kc<V, 0x8000000000000000ull>();
}
template <class V> QARN_INLINE V sign(V x) { return x & sign_bit<V>(); }
template <class V> QARN_INLINE V minus_one() {
  if constexpr (single<V>) return kc<V, 0xBF800000u>();
  else return kc<V, 0xBFF0000000000000ull>();
}
template <class V> QARN_INLINE V half() {
  if constexpr (single<V>) return kc<V, 0x3F000000u>();
  else return kc<V, 0x3FE0000000000000ull>();
}
template <class V> QARN_INLINE V one() {
  if constexpr (single<V>) return kc<V, 0x3F800000u>();
  else return kc<V, 0x3FF0000000000000ull>();
}
template <class V> QARN_INLINE V pi() {
  if constexpr (single<V>) return kc<V, 0x40490FDBu>();
  else return kc<V, 0x400921FB54442D18ull>();
}
template <class V> QARN_INLINE V pi_2() {
  if constexpr (single<V>) return kc<V, 0x3FC90FDBu>();
  else return kc<V, 0x3FF921FB54442D18ull>();
}
template <class V> QARN_INLINE V inv_pi() {
  if constexpr (single<V>) return kc<V, 0x3EA2F983u>();
  else return kc<V, 0x3FD45F306DC9C883ull>();
}

// 2*sqrt(h) (or -2*sqrt(h), Neg) from the reciprocal-square-root estimate; Long
// selects the longer correction (the default variants).  The negative form runs
// the same steps on -2h: every product and difference is the negation of the
// positive form's, so the bits are those of -(2*sqrt(h)).
template <bool Long, bool Neg, class V> QARN_INLINE V two_root_est(V h) {
  V y0, p, e;
  // h is 0 or at least 2^-25 (float) / 2^-54 (double).  Raising h = 0 to a guard
  // gives a finite y0, and s0 = 2h*y0 = 0, e = -2 and the root 0 exactly as y0 = 0
  // would; NaN lanes stay NaN through h.  (The double guard must be a normal float.)
  if constexpr (single<V>) {
    y0 = rsqrt_est(vmax(h, kc<V, 0x2F800000u>()));  // 2^-32
  } else {
    y0 = rsqrt_est(vmax(h, kc<V, 0x39B0000000000000ull>()));  // 2^-100
  }
  V h2;
  if constexpr (!Neg) h2 = h + h;
  else if constexpr (single<V>) h2 = h * kc<V, 0xC0000000u>();
  else h2 = h * kc<V, 0xC000000000000000ull>();
  V s0 = h2 * y0;
  if constexpr (single<V>) {
    if constexpr (!Neg) e = s0 * y0 - kc<V, 0x40000000u>();
    else e = kc<V, 0xC0000000u>() - s0 * y0;
    if constexpr (Long) p = kc<V, 0x3E800001u>() + e * kc<V, 0xBDC00004u>();
    else p = kc<V, 0x3E800001u>();
  } else {
    if constexpr (!Neg) e = s0 * y0 - kc<V, 0x4000000000000000ull>();
    else e = kc<V, 0xC000000000000000ull>() - s0 * y0;
    if constexpr (Long)
      p = kc<V, 0x3FCFFFFFFFFFFF9Dull>() +
          e * (kc<V, 0xBFB7FFFFFFFFFE97ull>() + e * (kc<V, 0x3FA400006F70D42Dull>() + e * kc<V, 0xBF918000993B24C3ull>()));
    else
      p = kc<V, 0x3FCFFFFFFFFFFF9Dull>() + e * kc<V, 0xBFB7FFFFFFFFFE97ull>();
  }
  return s0 - (s0 * e) * p;
}
template <bool Neg, class V> QARN_INLINE V two_root_exact(V h) {
  V s = vsqrt(h);
  if constexpr (!Neg) return s + s;
  else if constexpr (single<V>) return s * kc<V, 0xC0000000u>();
  else return s * kc<V, 0xC000000000000000ull>();
}

// Q(z) of asin, acos (Pi = false) or of the pi-scaled forms (Pi = true), long
// (default) or short (_native double; float _native has its own quadratics).
template <bool Pi, bool Long, class V> QARN_INLINE V poly_q(V z) {
  if constexpr (single<V>) {
    // a0 + z*(P1 + z^2*P3)
    V z2 = z * z;
    if constexpr (!Pi) {
      V p1 = kc<V, 0x3D997C12u>() + kc<V, 0x3D3A9AB4u>() * z;
      V p3 = kc<V, 0x3CC32A6Bu>() + kc<V, 0x3D2EDC07u>() * z;
      return kc<V, 0x3E2AAAFFu>() + z * (p1 + z2 * p3);
    } else {
      V p1 = kc<V, 0x3CC36C37u>() + kc<V, 0x3C6D978Cu>() * z;
      V p3 = kc<V, 0x3BF87E20u>() + kc<V, 0x3C5EA355u>() * z;
      return kc<V, 0x3D594D1Bu>() + z * (p1 + z2 * p3);
    }
  } else if constexpr (Long) {
    V z2 = z * z, z4 = z2 * z2;
    V p0, p2, p4, p6, p8, p10;
    if constexpr (!Pi) {
      p0 = kc<V, 0x3FC555555555529Cull>() + kc<V, 0x3FB333333337E0DEull>() * z;
      p2 = kc<V, 0x3FA6DB6DB3B445F8ull>() + kc<V, 0x3F9F1C72E13AD8BEull>() * z;
      p4 = kc<V, 0x3F96E89CEBDEFADDull>() + kc<V, 0x3F91C6DCF538AD2Eull>() * z;
      p6 = kc<V, 0x3F8C6DBBCB88BD57ull>() + kc<V, 0x3F88F8DC2AFCCAD6ull>() * z;
      p8 = kc<V, 0x3F7A583395D45ED5ull>() + kc<V, 0x3F943F44BFBC3BAEull>() * z;
      p10 = kc<V, 0xBF90FB17F7DBB0EDull>() + kc<V, 0x3FA07520C70EB909ull>() * z;
    } else {
      p0 = kc<V, 0x3FAB2995E7B7B28Bull>() + kc<V, 0x3F98723A1D5E7F21ull>() * z;
      p2 = kc<V, 0x3F8D1A452B1C8F4Eull>() + kc<V, 0x3F83CE53573AD4F4ull>() * z;
      p4 = kc<V, 0x3F7D2B0EA1978F74ull>() + kc<V, 0x3F76A256C108AAEDull>() * z;
      p6 = kc<V, 0x3F7219262ADC70A8ull>() + kc<V, 0x3F6FCBA466EA069Bull>() * z;
      p8 = kc<V, 0x3F60C57DF579794Aull>() + kc<V, 0x3F79C78AE09A5457ull>() * z;
      p10 = kc<V, 0xBF759EE439EEE799ull>() + kc<V, 0x3F84F4523BC020D8ull>() * z;
    }
    return p0 + z2 * (p2 + z2 * ((p4 + z2 * p6) + z4 * (p8 + z2 * p10)));
  } else {
    V z2 = z * z;
    V p0, p2, p4;
    if constexpr (!Pi) {
      p0 = kc<V, 0x3FC5555480C83A45ull>() + kc<V, 0x3FB33399EBF85B6Aull>() * z;
      p2 = kc<V, 0x3FA6C8ED2A4CCE54ull>() + kc<V, 0x3FA056B4151FA155ull>() * z;
      p4 = kc<V, 0x3F8CE147EA9E9282ull>() + kc<V, 0x3FA36C5AF645A11Eull>() * z;
    } else {
      p0 = kc<V, 0x3FAB2994D916CB05ull>() + kc<V, 0x3F9872BCE76EFA44ull>() * z;
      p2 = kc<V, 0x3F8D02B66C2AD236ull>() + kc<V, 0x3F84CD955BDDED9Full>() * z;
      p4 = kc<V, 0x3F7262B57524FB3Bull>() + kc<V, 0x3F88BAFFDA4549F0ull>() * z;
    }
    return p0 + z2 * (p2 + z2 * p4);
  }
}

// The float _native quadratics: asin's b0 + z*(b1 + b2*z), and R(z) of the
// pi-scaled forms (asin(s)/pi = s*R(s^2)).
template <class V> QARN_INLINE V quad_b(V z) {
  return kc<V, 0x380561A3u>() + z * (kc<V, 0x3E2876B2u>() + kc<V, 0x3DC4C6AEu>() * z);
}
template <class V> QARN_INLINE V quad_r(V z) {
  return kc<V, 0x3EA2FAD7u>() + z * (kc<V, 0x3D567E9Du>() + kc<V, 0x3CFA8B09u>() * z);
}

// The float _native band's core a + b0*a (a = |x|) where b0*a is below the
// smallest normal number: a below 0x1.eb57c8p-112, the least a whose product
// is normal.  There the float product would take a microcode assist on every
// register holding such a lane.  Here b0*a is formed exactly in double (24 by 24
// bits), rounded to a multiple of 2^-149 by adding and subtracting 1.5*2^-97 (to
// nearest, ties to even, as the float product rounds to a subnormal), and a plus
// that, exact in double, is rounded once to float, as the float sum rounds it.
// No exact product lies within half an ulp below 2^-126, so whether the product
// is subnormal does not depend on when tininess is told.  Where subnormal results
// are flushed the product is 0 and the core is a (frame::flushes_subnormals tells:
// forming a subnormal to see whether it survives would take the assist this
// avoids).  The sum is normal: no conversion here has a subnormal operand or
// result.
template <class V> QARN_INLINE V low_core_lanes(V a) {
  return cmp<_CMP_LT_OQ>(a, kc<V, 0x07F5ABE4u>());
}
QARN_INLINE vd4 low_core_d(vd4 a, vd4 flushed) {
  vd4 p = a * kc<vd4, 0x3F00AC3460000000ull>();  // b0
  p = (p + kc<vd4, 0x39E8000000000000ull>()) - kc<vd4, 0x39E8000000000000ull>();
  return a + andnot(p, flushed);
}
template <class V> QARN_INLINE V low_core(V a) {
  vd4 flushed = frame::flushes_subnormals() ? bits<vd4>(~0ull) : bits<vd4>(0);
  if constexpr (std::is_same_v<V, vf4>) {
    return {_mm256_cvtpd_ps(low_core_d({_mm256_cvtps_pd(a.v)}, flushed).v)};
  } else {
    __m128 lo = _mm256_cvtpd_ps(low_core_d({_mm256_cvtps_pd(_mm256_castps256_ps128(a.v))}, flushed).v);
    __m128 hi = _mm256_cvtpd_ps(low_core_d({_mm256_cvtps_pd(_mm256_extractf128_ps(a.v, 1))}, flushed).v);
    return {_mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1)};
  }
}

// 2*sqrt(h) by the form each family, precision and variant uses.
template <bool Est, bool Long, bool Neg, class V> QARN_INLINE V two_root(V h) {
  if constexpr (Est) return two_root_est<Long, Neg>(h);
  else return two_root_exact<Neg>(h);
}

// The argument reduction shared by asin and asinpi: a = |x|, z, sel, w.  Lanes
// `calm` (tiny ones, where the square would go subnormal) take z = 0.
template <class V> struct up { V z, sel, w; };
template <bool Est, bool Long, bool Calm = false, class V> QARN_INLINE up<V> reduce_asin(V x, V calm = V{}) {
  V a = vabs(x);
  V h = half<V>() - half<V>() * a;
  V s = a;
  if constexpr (Calm) s = andnot(a, calm);
  V z = vmin(s * s, h);
  V sel = cmp<_CMP_NLT_UQ>(a, half<V>());  // also NaN
  V w = blend(sel, a, two_root<Est, Long, true>(h));
  return {z, sel, w};
}
// ... and by acos and acospi: n = -|x|, z, sel, ws (w with the sign of x), neg.
template <class V> struct down { V z, sel, ws, neg; };
template <bool Est, bool Long, bool Calm = false, class V> QARN_INLINE down<V> reduce_acos(V x, V calm = V{}) {
  V n = x | sign_bit<V>();
  V h = half<V>() * n + half<V>();
  V s = n;
  if constexpr (Calm) s = andnot(n, calm);
  V z = vmin(s * s, h);
  V sel = cmp<_CMP_GE_OQ>(z, h);
  V w = blend(sel, n, two_root<Est, Long, false>(h));
  return {z, sel, w ^ sign(x), cmp<_CMP_LT_OQ>(x, z)};
}

// The tiny band of asin and acos and of acospi: from the smallest normal to
// 2^-100 (double default), 2^-128 (double _native), 2^-15 (float), 2^-19 (float
// _native), where z*Q(z) is still negligible against 1 (float _native: where
// b0 + z*(b1 + b2*z) is still b0, below 2^-18.2).  The main path turns subnormal
// below 2^-127.75 (double default, its z^4 = x^8), 2^-255 (double _native) and
// 2^-30 (float).
// The band on one lane's pattern (width 1).
template <bool Dflt, class P> QARN_INLINE bool tiny_bits(P x) {
  if constexpr (sizeof(P) == 8) {
    const uint64_t a = x & 0x7FFFFFFFFFFFFFFFull, lo = 0x0010000000000000ull;
    return a - lo < (Dflt ? 0x39B0000000000000ull : 0x37F0000000000000ull) - lo;
  } else {
    const uint32_t a = x & 0x7FFFFFFFu, lo = 0x00800000u;
    return a - lo < (Dflt ? 0x38000000u : 0x36000000u) - lo;
  }
}
template <bool Dflt, class V> QARN_INLINE V tiny(V x) {
  if constexpr (!single<V>) return band_lanes<V, 0x0010000000000000ull, Dflt ? 0x39B0000000000000ull : 0x37F0000000000000ull>(x);
  else if constexpr (Dflt) return band_lanes<V, 0x00800000u, 0x38000000u>(x);
  else return band_lanes<V, 0x00800000u, 0x36000000u>(x);
}
// x, or 0 where |x| < 2^-100 (float 2^-60): operands whose contribution to a sum
// with 1/2 or pi/2 is far below half an ulp.
template <class V> QARN_INLINE V negligible_out(V x) {
  if constexpr (single<V>) return andnot(x, cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x21800000u>()));
  else return andnot(x, cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x39B0000000000000ull>()));
}

}  // namespace asink

template <class T, var Vr> struct asin_k;
template <class T, var Vr> struct acos_k;
template <class T, var Vr> struct asinpi_k;
template <class T, var Vr> struct acospi_k;

template <class T> struct asin_fb;
template <> struct asin_fb<float> {
  static constexpr auto asin = &asinf_lane_fallback, acos = &acosf_lane_fallback;
  static constexpr auto asinpi = &asinpif_lane_fallback, acospi = &acospif_lane_fallback;
};
template <> struct asin_fb<double> {
  static constexpr auto asin = &asin_lane_fallback, acos = &acos_lane_fallback;
  static constexpr auto asinpi = &asinpi_lane_fallback, acospi = &acospi_lane_fallback;
};

template <class T, var Vr> struct asin_k {
  using elem = T;
  static constexpr bool dflt = Vr == var::def;

  template <class V> static QARN_INLINE V main(V x) { return run<false>(x, x); }
  // Float: the main path with the lanes t of the band finished on the way.  There
  // z = 0, and the core is w + b0*w (w alone in the default variant), tiny_fix's
  // operations; in _native the lanes whose b0*w would be subnormal enter as zero
  // and take low_core.
  template <class V> requires std::is_same_v<T, float> static QARN_INLINE V main_band(V x, V t) {
    using namespace asink;
    if constexpr (dflt) {
      return run<true>(x, t);
    } else {
      V low = t & low_core_lanes(vabs(x));
      V r = run<true>(andnot(x, low), t);
      if (movemask(low) != 0) r = blend(low, r, low_core(vabs(x)) ^ sign(x));
      return r;
    }
  }
  template <bool Band, class V> static QARN_INLINE V run(V x, V t) {
    using namespace asink;
    auto u = reduce_asin<true, dflt, Band>(x, t);
    V core;
    if constexpr (single<V> && !dflt) core = u.w + quad_b(u.z) * u.w;
    else core = u.w + (poly_q<false, dflt>(u.z) * u.z) * u.w;
    return (core + (u.sel & pi_2<V>())) ^ sign(x);
  }
  // Tiny |x|: z = x^2, w = |x|, and the core is w to nearest (float _native:
  // w + b0*w, b0 = 3.2e-5, with the same operations, or low_core's where b0*w
  // would be subnormal; the float product is then taken of a normal one's a).
  template <class V> static QARN_INLINE V tiny(V x) { return asink::tiny<dflt>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    using namespace asink;
    V a = vabs(x), core = a;
    if constexpr (single<V> && !dflt) {
      core = a + kc<V, 0x380561A3u>() * vmax(a, kc<V, 0x07F5ABE4u>());
      V low = t & low_core_lanes(a);
      if (movemask(low) != 0) core = blend(low, core, low_core(a));
    }
    r = blend(t, r, core ^ sign(x));
  }
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_GT_OQ>(vabs(x), asink::one<V>()) | tiny(x); }
  // Both on the lane's pattern (width 1): 1 < |x| <= inf (NaN stays on the main
  // path), or the band.
  static QARN_INLINE bool special_bits(pattern_t<T> x) {
    if constexpr (sizeof(T) == 8) {
      const uint64_t a = x & 0x7FFFFFFFFFFFFFFFull;
      return a - 0x3FF0000000000001ull < 0x7FF0000000000000ull - 0x3FF0000000000000ull || asink::tiny_bits<dflt>(x);
    } else {
      const uint32_t a = x & 0x7FFFFFFFu;
      return a - 0x3F800001u < 0x7F800000u - 0x3F800000u || asink::tiny_bits<dflt>(x);
    }
  }
};

template <class T, var Vr> struct acos_k {
  using elem = T;
  static constexpr bool dflt = Vr == var::def;

  template <class V> static QARN_INLINE V main(V x) { return run<false>(x, x); }
  // Float: the main path with the lanes t of the band finished on the way.  There
  // z = 0 and K = pi/2, and the operand is taken as zero below 2^-60, as tiny_fix
  // does.
  template <class V> requires std::is_same_v<T, float> static QARN_INLINE V main_band(V x, V t) {
    return run<true>(andnot(x, t & cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x21800000u>())), t);
  }
  template <bool Band, class V> static QARN_INLINE V run(V x, V t) {
    using namespace asink;
    auto d = reduce_acos<true, dflt, Band>(x, t);
    V K = blend(d.sel, pi_2<V>(), d.neg & pi<V>());
    V core;
    if constexpr (single<V> && !dflt) core = d.ws + quad_b(d.z) * d.ws;
    else core = d.ws + (poly_q<false, dflt>(d.z) * d.z) * d.ws;
    return K + core;
  }
  // Tiny |x|: K = pi/2 and the core is ws = -x to nearest (float _native: ws +
  // b0*ws); below 2^-60 the core is far below half an ulp of pi/2 and is left out.
  template <class V> static QARN_INLINE V tiny(V x) { return asink::tiny<dflt>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    using namespace asink;
    V ws = asink::negligible_out(x) ^ sign_bit<V>(), core = ws;
    if constexpr (single<V> && !dflt) core = ws + kc<V, 0x380561A3u>() * ws;
    r = blend(t, r, pi_2<V>() + core);
  }
  // -|x| not >= -1: |x| > 1 or NaN.
  template <class V> static QARN_INLINE V special(V x) {
    V n = x | asink::sign_bit<V>();
    return cmp<_CMP_NGE_UQ>(n, asink::minus_one<V>()) | tiny(x);
  }
  // Both on the lane's pattern (width 1): |x| > 1 (NaN too), or the band.
  static QARN_INLINE bool special_bits(pattern_t<T> x) {
    if constexpr (sizeof(T) == 8) return (x & 0x7FFFFFFFFFFFFFFFull) > 0x3FF0000000000000ull || asink::tiny_bits<dflt>(x);
    else return (x & 0x7FFFFFFFu) > 0x3F800000u || asink::tiny_bits<dflt>(x);
  }
};

template <class T, var Vr> struct asinpi_k {
  using elem = T;
  static constexpr bool dflt = Vr == var::def;
  // The double native form takes the estimate; the others the instruction.
  static constexpr bool est = std::is_same_v<T, double> && !dflt;

  template <class V> static QARN_INLINE V main(V x) { return run<false>(x, x); }
  // Float _native: the main path with the lanes t of the band finished on the way.
  // There z = 0, off = 0 and w = |x|, and the result is w*c, tiny_fix's product.
  // (The default variant keeps the main path on calmed operands and tiny_fix: with
  // this pass its registers mixing band and ordinary lanes measured faster at
  // widths 4 and 8 but slower at width 16.)
  template <class V> requires (std::is_same_v<T, float> && !dflt) static QARN_INLINE V main_band(V x, V t) { return run<true>(x, t); }
  template <bool Band, class V> static QARN_INLINE V run(V x, V t) {
    using namespace asink;
    auto u = reduce_asin<est, dflt, Band>(x, t);
    V off = u.sel & half<V>();
    V r;
    if constexpr (dflt) r = (u.w * inv_pi<V>() + off) + (poly_q<true, true>(u.z) * u.z) * u.w;
    else if constexpr (single<V>) r = quad_r(u.z) * u.w + off;
    else r = (inv_pi<V>() + u.z * poly_q<true, false>(u.z)) * u.w + off;
    return r ^ sign(x);
  }
  // Tiny |x|: w = |x|, and the result is w*c rounded once, c = 1/pi (float
  // _native: its R(0)).  The band starts where that is normal: above the
  // fallback's bound in double, from 0x1.921fb8p-125 (0x1.921c7p-125) in float.
  template <class V> static QARN_INLINE V tiny(V x) {
    if constexpr (!asink::single<V>) return band_lanes<V, 0x036921FB54442D19ull, dflt ? 0x39B0000000000000ull : 0x37F0000000000000ull>(x);
    else if constexpr (dflt) return band_lanes<V, 0x01490FDCu, 0x38000000u>(x);
    else return band_lanes<V, 0x01490E38u, 0x36000000u>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    using namespace asink;
    V c;
    if constexpr (single<V> && !dflt) c = kc<V, 0x3EA2FAD7u>();
    else c = inv_pi<V>();
    r = blend(t, r, (vabs(x) * c) ^ sign(x));
  }
  template <class V> static QARN_INLINE V special(V x) {
    V a = vabs(x);
    if constexpr (asink::single<V>) return cmp<_CMP_GE_OQ>(a, asink::one<V>()) | tiny(x);
    else return cmp<_CMP_GE_OQ>(a, asink::one<V>()) | cmp<_CMP_LE_OQ>(a, kc<V, 0x036921FB54442D18ull>()) | tiny(x);
  }
};

template <class T, var Vr> struct acospi_k {
  using elem = T;
  static constexpr bool dflt = Vr == var::def;
  static constexpr bool est = std::is_same_v<T, double> && !dflt;

  template <class V> static QARN_INLINE V main(V x) { return run<false>(x, x); }
  // Float: the main path with the lanes t of the band finished on the way.  There
  // z = 0 and K = 1/2, and the operand is taken as zero below 2^-60, as tiny_fix
  // does.
  template <class V> requires std::is_same_v<T, float> static QARN_INLINE V main_band(V x, V t) {
    return run<true>(andnot(x, t & cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x21800000u>())), t);
  }
  template <bool Band, class V> static QARN_INLINE V run(V x, V t) {
    using namespace asink;
    auto d = reduce_acos<est, dflt, Band>(x, t);
    V R;
    if constexpr (single<V> && !dflt) R = quad_r(d.z);
    else R = inv_pi<V>() + d.z * poly_q<true, dflt>(d.z);
    V K = blend(d.sel, half<V>(), d.neg & one<V>());
    return K + R * d.ws;
  }
  // Tiny |x|: K = 1/2, R = R(0) to nearest, ws = -x; below 2^-60 R*ws is far below
  // half an ulp of 1/2 and is left out (it would be subnormal for the smallest x).
  template <class V> static QARN_INLINE V tiny(V x) { return asink::tiny<dflt>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    using namespace asink;
    V R;
    if constexpr (single<V> && !dflt) R = kc<V, 0x3EA2FAD7u>();
    else R = inv_pi<V>();
    r = blend(t, r, half<V>() + R * (negligible_out(x) ^ sign_bit<V>()));
  }
  // -|x| not > -1: |x| >= 1 or NaN.
  template <class V> static QARN_INLINE V special(V x) {
    V n = x | asink::sign_bit<V>();
    return cmp<_CMP_NGT_UQ>(n, asink::minus_one<V>()) | tiny(x);
  }
};

}  // namespace qarn
