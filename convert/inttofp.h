// Integer to floating with an explicit rounding direction: cvti32tofp,
// cvtu32tofp, cvti64tofp, cvtu64tofp to float or double.
//
// Signed sources convert their magnitude and OR the sign in at the end (the most
// negative value has the magnitude 2^31 or 2^63), so every rounding below is that
// of the magnitude.  The magnitude is split into pieces that convert exactly with
// a magic-number trick (p OR the bits of 2^k, read as floating, minus 2^k), and
// the pieces are added in the current MXCSR mode: that sum is the rte result,
// which so follows MXCSR (under round-down a negative value therefore rounds
// toward zero, under round-up away from it).  The directed members compare the
// sum with the exact magnitude and step the pattern by one where it went the
// wrong way, so they give their own direction under any MXCSR mode.  Under
// round-down a zero piece comes out of the trick as -0, and zero converts to -0
// in every direction; in the other modes it converts to +0.
//
// 64-bit to float needs three pieces of at most 23 bits.  rte adds the upper two
// first, gets that sum's rounding error exactly, and where the sum fell exactly
// half an ulp short of the upper value while the low piece is non-zero, sets the
// sum's lowest fraction bit so that the tie does not go down; adding the low piece
// is the final rounding.  The directed members add the low pieces first and only
// need the sign of the total rounding error of the two additions.
#pragma once
#include "convert/convert.h"

namespace qarn {

namespace itf {
using namespace cv;

// The float of 32-bit lanes with magnitude a, sign bits sign and all-ones neg
// where negative.
template <rnd R> QARN_INLINE __m128 from_u32(__m128i a, __m128i neg, __m128i sign) {
  __m128 lo = _mm_sub_ps(_mm_castsi128_ps(_mm_or_si128(_mm_and_si128(a, c32(0x007FFFFF)), c32(0x4B000000))),
                         f32(0x4B000000));                                 // a mod 2^23
  __m128 hi = _mm_sub_ps(_mm_castsi128_ps(_mm_or_si128(_mm_srli_epi32(a, 23), c32(0x56800000))),
                         f32(0x56800000));                                 // (a >> 23) * 2^23
  __m128 r = _mm_add_ps(hi, lo);                                           // the one rounding
  __m128i p = _mm_castps_si128(r);
  if constexpr (R != rnd::rte) {
    __m128 d = _mm_sub_ps(r, hi);  // exact: r - hi against lo tells the side r rounded to
    __m128i above = _mm_castps_si128(_mm_cmp_ps(d, lo, _CMP_GT_OQ));
    __m128i below = _mm_castps_si128(_mm_cmp_ps(d, lo, _CMP_LT_OQ));
    p = step32(p, directed<R>(above, below, neg));
  }
  return _mm_castsi128_ps(_mm_or_si128(p, sign));
}

// The double of 64-bit lanes with magnitude a (patterns), the same way.
template <rnd R> QARN_INLINE __m256d from_u64(__m256d a, __m256d neg, __m256d sign) {
  const __m256d two52 = d64(0x4330000000000000), two104 = d64(0x4670000000000000);
  __m256d lo = _mm256_sub_pd(_mm256_or_pd(_mm256_and_pd(a, d64(0x000FFFFFFFFFFFFF)), two52), two52);
  __m256d top = joind(_mm_srli_epi64(cv::lo(a), 52), _mm_srli_epi64(cv::hi(a), 52));
  __m256d hi = _mm256_sub_pd(_mm256_or_pd(top, two104), two104);
  __m256d r = _mm256_add_pd(hi, lo);  // the one rounding
  if constexpr (R != rnd::rte) {
    __m256d d = _mm256_sub_pd(r, hi);  // exact
    steps64 st = directed<R>(_mm256_cmp_pd(d, lo, _CMP_GT_OQ), _mm256_cmp_pd(d, lo, _CMP_LT_OQ), neg);
    r = add64(sub64(r, st.inc), st.dec);
  }
  return _mm256_or_pd(r, sign);
}

// The float of 64-bit lanes with magnitude a (patterns); neg and sign are 32-bit
// lanes.  All the work is on the four 32-bit halves at once.
template <rnd R> QARN_INLINE __m128 f_from_u64(__m256d a, __m128i neg, __m128i sign) {
  const __m128i l = low32(a), h = high32(a);
  const __m128i m23 = c32(0x007FFFFF);
  const __m128i q0 = _mm_and_si128(l, m23);                                            // bits 0-22
  const __m128i q1 = _mm_and_si128(_mm_or_si128(_mm_srli_epi32(l, 23), _mm_slli_epi32(h, 9)), m23);  // 23-45
  const __m128i q2 = _mm_srli_epi32(h, 14);                                            // 46-63
  __m128 p0 = _mm_sub_ps(_mm_castsi128_ps(_mm_or_si128(q0, c32(0x4B000000))), f32(0x4B000000));
  __m128 f1 = _mm_sub_ps(_mm_castsi128_ps(_mm_or_si128(q1, c32(0x56800000))), f32(0x56800000));
  __m128 f2 = _mm_sub_ps(_mm_castsi128_ps(_mm_or_si128(q2, c32(0x62000000))), f32(0x62000000));
  __m128i p;
  if constexpr (R == rnd::rte) {
    __m128 s = _mm_add_ps(f2, f1);
    __m128 e = _mm_add_ps(f1, _mm_sub_ps(f2, s));  // exact: f2 + f1 - s
    // Half an ulp of s: its sign and exponent with 24 taken off the exponent.
    __m128 half = _mm_castsi128_ps(_mm_sub_epi32(_mm_and_si128(_mm_castps_si128(s), c32(0xFF800000)),
                                                 c32(0x0C000000)));
    __m128i tie = _mm_andnot_si128(_mm_cmpeq_epi32(q0, _mm_setzero_si128()),
                                   _mm_castps_si128(_mm_cmp_ps(e, half, _CMP_EQ_OQ)));
    s = _mm_or_ps(s, _mm_castsi128_ps(_mm_and_si128(tie, c32(1))));
    p = _mm_castps_si128(_mm_add_ps(s, p0));
  } else {
    __m128 t = _mm_add_ps(f1, p0);
    __m128 e1 = _mm_add_ps(p0, _mm_sub_ps(f1, t));
    __m128 r = _mm_add_ps(f2, t);
    __m128 e2 = _mm_add_ps(t, _mm_sub_ps(f2, r));
    __m128 e = _mm_add_ps(e1, e2);  // only its sign is used: below zero, r is above
    const __m128 z = _mm_setzero_ps();
    __m128i above = _mm_castps_si128(_mm_cmp_ps(e, z, _CMP_LT_OQ));
    __m128i below = _mm_castps_si128(_mm_cmp_ps(e, z, _CMP_GT_OQ));
    p = step32(_mm_castps_si128(r), directed<R>(above, below, neg));
  }
  return _mm_castsi128_ps(_mm_or_si128(p, sign));
}

// |v| and the sign of 64-bit signed lanes.
struct split64 { __m256d a, neg, sign; };
QARN_INLINE split64 signed64(__m256i v) {
  const __m128i z = _mm_setzero_si128();
  __m128i n0 = _mm_cmpgt_epi64(z, cv::lo(v)), n1 = _mm_cmpgt_epi64(z, cv::hi(v));
  __m128i a0 = _mm_sub_epi64(_mm_xor_si128(cv::lo(v), n0), n0);
  __m128i a1 = _mm_sub_epi64(_mm_xor_si128(cv::hi(v), n1), n1);
  __m256d neg = joind(n0, n1);
  return {joind(a0, a1), neg, _mm256_and_pd(neg, d64(0x8000000000000000))};
}

}  // namespace itf

template <rnd R, class T> struct cvti32tofp_k {
  using arg = int32_t;
  using res = T;
  static constexpr int nargs = 1, nres = 1;
  static QARN_INLINE block<T> run(__m128i v) {
    if constexpr (std::is_same_v<T, double>) {
      return _mm256_cvtepi32_pd(v);  // exact, the same in every direction
    } else {
      __m128i neg = _mm_srai_epi32(v, 31);
      return itf::from_u32<R>(_mm_abs_epi32(v), neg, _mm_and_si128(v, cv::c32(0x80000000)));
    }
  }
};

template <rnd R, class T> struct cvtu32tofp_k {
  using arg = uint32_t;
  using res = T;
  static constexpr int nargs = 1, nres = 1;
  static QARN_INLINE block<T> run(__m128i v) {
    using namespace cv;
    if constexpr (std::is_same_v<T, double>) {
      // v in the low half of 2^52's pattern reads as 2^52 + v: exact (zero gives
      // -0 under round-down, like every magic-number piece).
      const __m128i h = c32(0x43300000);
      __m256d d = joind(_mm_unpacklo_epi32(v, h), _mm_unpackhi_epi32(v, h));
      return _mm256_sub_pd(d, d64(0x4330000000000000));
    } else {
      const __m128i z = _mm_setzero_si128();
      return itf::from_u32<R>(v, z, z);
    }
  }
};

template <rnd R, class T> struct cvti64tofp_k {
  using arg = int64_t;
  using res = T;
  static constexpr int nargs = 1, nres = 1;
  static QARN_INLINE block<T> run(__m256i v) {
    itf::split64 s = itf::signed64(v);
    if constexpr (std::is_same_v<T, double>) return itf::from_u64<R>(s.a, s.neg, s.sign);
    else return itf::f_from_u64<R>(s.a, cv::low32(s.neg), cv::high32(s.sign));
  }
};

template <rnd R, class T> struct cvtu64tofp_k {
  using arg = uint64_t;
  using res = T;
  static constexpr int nargs = 1, nres = 1;
  static QARN_INLINE block<T> run(__m256i v) {
    const __m256d a = _mm256_castsi256_pd(v);
    if constexpr (std::is_same_v<T, double>) {
      const __m256d z = _mm256_setzero_pd();
      return itf::from_u64<R>(a, z, z);
    } else {
      const __m128i z = _mm_setzero_si128();
      return itf::f_from_u64<R>(a, z, z);
    }
  }
};

}  // namespace qarn
