// sqrt and rsqrt in float and double.
//
//   sqrt (double, every variant), sqrtf default: the square-root instruction; every
//     lane finishes on the main path.
//   sqrtf _native: x * E(x), E the reciprocal-square-root estimate, no special lanes:
//     zeros and +inf give NaN, positive subnormals +inf (the estimate counts them as 0).
//   sqrtf _half: x * E(x) for positive normal x up to 0x7F7FF000; the rest goes to
//     sqrtf_lane_fallback.
//   rsqrtf default: E cut to 8 fraction bits (its square is exact), e = y0^2 x - 1,
//     and the cubic of (1 + e)^(-1/2) - 1 in e.
//   rsqrtf _native/_half: one Newton step on E.
//   rsqrt (double): x = 4^k f with f in [1, 4) built from the bits (no division, no
//     exponent range for the float estimate to see), y = E(f) 2^-k, e = 1 - y^2 x
//     (default: x split in two so y^2 x loses little), and a polynomial in e.
// Every rsqrt lane that is not a positive normal float (rsqrtf), or whose exponent
// field is outside 0x035..0x7FC (default) or 0x003..0x7FC (_native/_half), goes to
// the lane fallback (roots/sqrt_fallback.cpp).
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "roots/estimate.h"

namespace qarn {

template <class T, var Vr> struct sqrt_k;

template <var Vr> struct sqrt_k<double, Vr> {
  using elem = double;
  static constexpr bool has_special = false;
  template <class V> static QARN_INLINE V main(V x) { return vsqrt(x); }
};

template <var Vr> struct sqrt_k<float, Vr> {
  using elem = float;
  static constexpr bool has_special = Vr == var::half;

  template <class V> static QARN_INLINE V main(V x) {
    if constexpr (Vr == var::def) return vsqrt(x);
    else return x * rsqrt_est(x);
  }
  // Every lane but the positive normal floats up to 0x7F7FF000.
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NGE_UQ>(x, kc<V, 0x00800000u>()) | cmp<_CMP_NLE_UQ>(x, kc<V, 0x7F7FF000u>());
  }
};

template <class T, var Vr> struct rsqrt_k;

template <var Vr> struct rsqrt_k<float, Vr> {
  using elem = float;

  template <class V> static QARN_INLINE V main(V x) {
    if constexpr (Vr == var::def) {
      V y0 = rsqrt_est(x) & kc<V, 0xFFFF8000u>();
      V e = (y0 * y0) * x - kc<V, 0x3F800000u>();
      V p = ((kc<V, 0xBEA00000u>() * e + kc<V, 0x3EC00000u>()) * e + kc<V, 0xBF000000u>()) * e;
      return p * y0 + y0;
    } else {
      V y0 = rsqrt_est(x);
      return (kc<V, 0xBF000000u>() * y0) * (((y0 * x) * y0) - kc<V, 0x40400000u>());
    }
  }
  // Every lane that is not a positive normal finite float.
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NGE_UQ>(x, kc<V, 0x00800000u>()) | cmp<_CMP_NLE_UQ>(x, kc<V, 0x7F7FFFFFu>());
  }
};

namespace rsqrtk {
// s = 2^-k for x = 4^k f: the high word (0xBFD00000 + p 2^20 - (h AND 0x7FF00000)) / 2,
// p = 1 for an even exponent field (the difference is then even), low word zero.
template <class V> QARN_INLINE V two_pow_minus_k(V x) {
  __m128i h = high32(x).v;
  __m128i p = _mm_andnot_si128(h, _mm_set1_epi32(0x00100000));
  __m128i t = _mm_srli_epi32(_mm_sub_epi32(_mm_add_epi32(_mm_set1_epi32(int(0xBFD00000u)), p),
                                           _mm_and_si128(h, _mm_set1_epi32(0x7FF00000))), 1);
  __m128i z = _mm_setzero_si128();
  if constexpr (std::is_same_v<V, vd2>) return {_mm_castsi128_pd(_mm_unpacklo_epi32(z, t))};
  else return {detail::join_pd(_mm_unpacklo_epi32(z, t), _mm_unpackhi_epi32(z, t))};
}
}  // namespace rsqrtk

template <var Vr> struct rsqrt_k<double, Vr> {
  using elem = double;

  template <class V> static QARN_INLINE V main(V x) {
    // f = 1.m (odd exponent field) or 2 * 1.m (even), the fraction cut to 23 bits:
    // the field's low bit flips the exponent of 1.0 to that of 0.5, then times 2
    // (exact, and exact again in float).
    V f = ((x & kc<V, 0x001FFFFFE0000000ull>()) ^ kc<V, 0x3FF0000000000000ull>()) * kc<V, 0x4000000000000000ull>();
    V y = rsqrt_est(f) * rsqrtk::two_pow_minus_k(x);
    V yy = y * y;
    if constexpr (Vr == var::def) {
      V xh = x & kc<V, 0xFFFFFFFFF8000000ull>();
      V xl = x - xh;
      V e = (kc<V, 0x3FF0000000000000ull>() - yy * xh) - yy * xl;
      V q = kc<V, 0x3FDFFFFFFFFFFE71ull>() +
            e * (kc<V, 0x3FD80000000000F6ull>() + e * (kc<V, 0x3FD40000B13001D9ull>() + e * kc<V, 0x3FD1800032338CBBull>()));
      return y + (e * q) * y;
    } else {
      V e = kc<V, 0x3FF0000000000000ull>() - yy * x;
      return (e * (kc<V, 0x3FE000004379ADB7ull>() + e * kc<V, 0x3FD80000C4CD9197ull>()) + kc<V, 0x3FEFFFFFFFFFFF4Full>()) * y;
    }
  }
  // Exponent field outside 0x035..0x7FC (0x003..0x7FC), any sign bit, NaN.
  template <class V> static QARN_INLINE V special(V x) {
    if constexpr (Vr == var::def)
      return cmp<_CMP_NGE_UQ>(x, kc<V, 0x0350000000000000ull>()) | cmp<_CMP_NLT_UQ>(x, kc<V, 0x7FD0000000000000ull>());
    else
      return cmp<_CMP_NGE_UQ>(x, kc<V, 0x0030000000000000ull>()) | cmp<_CMP_NLT_UQ>(x, kc<V, 0x7FD0000000000000ull>());
  }
};

}  // namespace qarn
