// sinpi, cospi and tanpi in float and double.
//
// The period is an integer, so the reduction is exact: x - n for the nearest
// integer n (or the nearest multiple of 1/2 for tanpi) loses nothing, and no
// table is needed.  sinpi and cospi finish every lane on the main path (the
// infinities and NaN come out as NaN from inf - inf); tanpi sends only infinite
// and NaN lanes to its fallback.  Signs: sinpi(n) is a zero with the sign of x,
// cospi(n + 1/2) is +0, tanpi(n) is +0 for even and -0 for odd n (before the sign
// of x), tanpi(n + 1/2) is +inf or -inf by the parity of n.
//   sinpi/cospi double default: sin(pi r) = r*S(r2), S of degree 8 in r2; _native degree 5
//   sinpif/cospif: degree 4, both variants the same
//   tanpi: Num/Den of degrees 7/8 (double), 3/4 (float); _native 5/4 and 3/2
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "trig/trig_scalar.h"
#include "trig/reduce.h"

namespace qarn {

namespace trigpi {

// S(r2) of each precision and variant.
template <bool Dbl, bool Full, class V> QARN_INLINE V S(V z) {
  if constexpr (Dbl && Full)
    return kc<V, 0x400921FB54442D18ull>() +
           z * (kc<V, 0xC014ABBCE625BE52ull>() +
                z * (kc<V, 0x400466BC6775AA7Cull>() +
                     z * (kc<V, 0xBFE32D2CCE627C9Eull>() +
                          z * (kc<V, 0x3FB50783485523F4ull>() +
                               z * (kc<V, 0xBF7E3074DFB5BB14ull>() +
                                    z * (kc<V, 0x3F3E8F3677C334D3ull>() +
                                         z * (kc<V, 0xBEF6F7AD23B5CD51ull>() + z * kc<V, 0x3EA9D46B06CE620Eull>())))))));
  else if constexpr (Dbl)
    return kc<V, 0x400921FB54442D18ull>() +
           z * (kc<V, 0xC014ABBCE51D46FFull>() +
                z * (kc<V, 0x400466BC06D54F0Bull>() +
                     z * (kc<V, 0xBFE32D12F805BE40ull>() +
                          z * (kc<V, 0x3FB501422DFC7159ull>() + z * kc<V, 0xBF7CC9E2457440BAull>()))));
  else
    return kc<V, 0x40490FDBu>() +
           z * (kc<V, 0xC0A55DE2u>() + z * (kc<V, 0x40233479u>() + z * (kc<V, 0xBF1929ADu>() + z * kc<V, 0x3D9F0000u>())));
}

// Integral float lanes converted to int32 (out of range: 0x80000000, even).
QARN_INLINE __m128 cvt_bits(vf4 n) { return _mm_castsi128_ps(_mm_cvtps_epi32(n.v)); }
QARN_INLINE __m256 cvt_bits(vf8 n) { return _mm256_castsi256_ps(_mm256_cvtps_epi32(n.v)); }

// The parity of the integral lanes n, in the sign bit (integers of 2^53 and up are even).
template <class V> QARN_INLINE V odd_sign(V n) {
  if constexpr (sizeof(elem_t<V>) == 8) {
    V an = vabs(n);
    V m = blend(cmp<_CMP_LT_OQ>(an, kc<V, 0x4330000000000000ull>()), an, an + kc<V, 0x4330000000000000ull>());
    m = vmin(m, kc<V, 0x4340000000000000ull>());
    return ishl<63>(m);
  } else {
    return ishl<31>(V{cvt_bits(n)});
  }
}

template <class T> constexpr auto tanpi_fallback() {
  if constexpr (sizeof(T) == 8) return &tanpi_lane_fallback;
  else return &tanpif_lane_fallback;
}
template <class V> QARN_INLINE V zero() { return bits<V>(0); }

}  // namespace trigpi

template <class T, var Vr> struct sinpi_k {
  using elem = T;
  static constexpr bool has_special = false;
  template <class V> static QARN_INLINE V main(V x) { return run<false>(x); }
  // To nearest, lanes below 2^-30 may square zero in place of r (n = 0 and r = x
  // there, r^2 would go subnormal, and S(r^2) rounds to its constant pi): pi*x,
  // the band's closed form, in the same pass.
  template <class V> requires std::is_same_v<T, float> static QARN_INLINE V main_band(V x, V) { return run<true>(x); }
  template <bool Band, class V> static QARN_INLINE V run(V x) {
    V n = vround<_MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC>(x);
    V r = x - n;
    V odd = trigpi::odd_sign(n);
    V nz = cmp<_CMP_NEQ_UQ>(r, trigpi::zero<V>());
    V s = blend(nz, trig::sign_bits(x), odd);
    V rs = r ^ s;
    V rq = r;
    if constexpr (Band) rq = andnot(r, cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x30800000u>()));
    return trigpi::S<sizeof(T) == 8, Vr == var::def>(rq * rq) * rs;
  }
  // No special lanes, but a tiny band: n = 0, r = x, and S(r^2) is pi to nearest
  // (r^2 goes subnormal below 2^-511, float 2^-63), so the result is pi*x rounded
  // once; below 2^-250 (float 2^-30).
  template <class V> static QARN_INLINE V tiny(V x) {
    if constexpr (sizeof(T) == 8) return band_lanes<V, 0x0010000000000000ull, 0x3050000000000000ull>(x);
    else return band_lanes<V, 0x00800000u, 0x30800000u>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    if constexpr (sizeof(T) == 8) r = blend(t, r, kc<V, 0x400921FB54442D18ull>() * x);
    else r = blend(t, r, kc<V, 0x40490FDBu>() * x);
  }
  template <class V> static QARN_INLINE V special(V x) { return tiny(x); }
};

template <class T, var Vr> struct cospi_k {
  using elem = T;
  static constexpr bool has_special = false;
  template <class V> static QARN_INLINE V main(V x) {
    V n = vround<_MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC>(x);
    V r = x - n;
    V u;
    if constexpr (sizeof(T) == 8) u = kc<V, 0x3FE0000000000000ull>() - vabs(r);
    else u = kc<V, 0x3F000000u>() - vabs(r);
    V odd = trigpi::odd_sign(n);
    V s = andnot(odd, cmp<_CMP_EQ_OQ>(u, trigpi::zero<V>()));
    return trigpi::S<sizeof(T) == 8, Vr == var::def>(u * u) * (u ^ s);
  }
};

template <class T, var Vr> struct tanpi_k {
  using elem = T;
  template <class V> static QARN_INLINE V main(V x) { return run<false>(x); }
  // To nearest, lanes below the band's top may square zero in place of r (h = 0
  // and r = |x| there, and the r^2 terms of Num and Den lie far below half an ulp
  // of their leading ones): the band's closed form, (|x|*c)/d, in the same pass.
  template <class V> static QARN_INLINE V main_band(V x, V) { return run<true>(x); }
  template <bool Band, class V> static QARN_INLINE V run(V x) {
    constexpr bool dbl = sizeof(T) == 8;
    V a = vabs(x);
    // Far out, whole numbers of periods go first: multiples of 256 below 2^59 (2^31),
    // everything at or above it is an even integer.
    V big, huge, red;
    if constexpr (dbl) {
      big = cmp<_CMP_NLE_UQ>(a, kc<V, 0x4300000000000000ull>());
      huge = cmp<_CMP_NLT_UQ>(a, kc<V, 0x43A0000000000000ull>());
      red = a - ((a + kc<V, 0x43B8000000000000ull>()) - kc<V, 0x43B8000000000000ull>());
    } else {
      big = cmp<_CMP_NLE_UQ>(a, kc<V, 0x49800000u>());
      huge = cmp<_CMP_NLT_UQ>(a, kc<V, 0x4F000000u>());
      red = a - ((a + kc<V, 0x4FC00000u>()) - kc<V, 0x4FC00000u>());
    }
    a = blend(big, a, andnot(red, huge));
    V H;
    if constexpr (dbl) H = a + kc<V, 0x4328000000000000ull>();
    else H = a + kc<V, 0x4AC00000u>();
    V h;
    if constexpr (dbl) h = H - kc<V, 0x4328000000000000ull>();
    else h = H - kc<V, 0x4AC00000u>();
    V r = a - h;
    V rq = r;
    if constexpr (Band) {
      if constexpr (dbl) rq = andnot(r, cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x3050000000000000ull>()));
      else rq = andnot(r, cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x30800000u>()));
    }
    V r2 = rq * rq;
    V num, den;
    if constexpr (dbl && Vr == var::def) {
      num = r * (kc<V, 0x400921FB54442D18ull>() +
                 r2 * (kc<V, 0xC0108BB113B2D25Aull>() +
                       r2 * (kc<V, 0x3FF0C8580FA6B9B9ull>() + r2 * kc<V, 0xBFABB103D68EE571ull>())));
      den = kc<V, 0x3FF0000000000000ull>() +
            r2 * (kc<V, 0xC0126D1667518600ull>() +
                  r2 * (kc<V, 0x400401CCE5F3A97Bull>() +
                        r2 * (kc<V, 0xBFD336A7EAFF7F8Eull>() + r2 * kc<V, 0x3F73727E6E36B82Full>())));
    } else if constexpr (dbl) {
      num = r * (kc<V, 0x400921FB54546C23ull>() +
                 r2 * (kc<V, 0xC00BA6A41A1305ECull>() + r2 * kc<V, 0x3FD53574825D38E0ull>()));
      den = kc<V, 0x3FF0000000000000ull>() +
            r2 * (kc<V, 0xC0118F6CF4345389ull>() + r2 * kc<V, 0x3FF8F71DB651327Full>());
    } else if constexpr (Vr == var::def) {
      num = r * (kc<V, 0x40490FD7u>() + r2 * kc<V, 0xC03E1BF0u>());
      den = kc<V, 0x3F7FFFFCu>() + r2 * (kc<V, 0xC0878864u>() + r2 * kc<V, 0x3F724E71u>());
    } else {
      num = r * (kc<V, 0x40490FD6u>() + r2 * kc<V, 0xC009A99Au>());
      den = kc<V, 0x3F800000u>() + r2 * kc<V, 0xC07E2A1Eu>();
    }
    // Bits 0 and 1 of q = 2h, moved to the sign bit.
    V b0, b1;
    if constexpr (dbl) b0 = ishl<63>(H), b1 = ishl<62>(H) & kc<V, 0x8000000000000000ull>();
    else b0 = ishl<31>(H), b1 = ishl<30>(H) & kc<V, 0x80000000u>();
    V v = blend(b0, num, den) / blend(b0, den, num);
    V zr = cmp<_CMP_EQ_OQ>(r, trigpi::zero<V>());
    v = v ^ blend(zr, b0, b1);
    return v ^ trig::sign_bits(x);
  }
  template <class V> static QARN_INLINE V inf_nan(V x) {
    if constexpr (sizeof(T) == 8) return cmp<_CMP_NLT_UQ>(vabs(x), kc<V, 0x7FF0000000000000ull>());
    else return cmp<_CMP_NLT_UQ>(vabs(x), kc<V, 0x7F800000u>());
  }
  // Below 2^-250 (float 2^-30): h = 0, r = |x|, and to nearest Num = r*c (c the
  // leading coefficient) and Den its constant term (r^2 goes subnormal below 2^-511,
  // float 2^-63), so the result is (|x|*c)/d with the sign of x.
  template <class V> static QARN_INLINE V tiny(V x) {
    if constexpr (sizeof(T) == 8) return band_lanes<V, 0x0010000000000000ull, 0x3050000000000000ull>(x);
    else return band_lanes<V, 0x00800000u, 0x30800000u>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    constexpr bool dbl = sizeof(T) == 8;
    V a = vabs(x), v;
    if constexpr (dbl && Vr == var::def) v = a * kc<V, 0x400921FB54442D18ull>();
    else if constexpr (dbl) v = a * kc<V, 0x400921FB54546C23ull>();
    else if constexpr (Vr == var::def) v = (a * kc<V, 0x40490FD7u>()) / kc<V, 0x3F7FFFFCu>();
    else v = a * kc<V, 0x40490FD6u>();
    r = blend(t, r, v ^ trig::sign_bits(x));
  }
  template <class V> static QARN_INLINE V special(V x) { return inf_nan(x) | tiny(x); }
};

}  // namespace qarn
