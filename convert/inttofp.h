// Integer to floating with an explicit rounding direction: cvti32tofp,
// cvtu32tofp, cvti64tofp, cvtu64tofp to float or double.
//
// Signed sources convert their magnitude and put the sign back at the end (the
// most negative value has the magnitude 2^31 or 2^63).  The magnitude is split
// into pieces that convert exactly with a magic-number trick (p OR the bits of
// 2^k, read as floating, minus 2^k), and the pieces are added with one rounding
// in the current MXCSR mode: that sum is the rte result, which so follows MXCSR.
// The directed members compare the sum with the exact magnitude and step the
// pattern by one where it went the wrong way, so they give their own direction
// under any MXCSR mode.  Zero always converts to +0.
//
// 64-bit to float: above 2^53 the low 11 bits (all below the float's rounding
// bit) are folded into one sticky bit, which makes the value exact in double
// without changing how it rounds to float; the double then narrows with one
// rounding, and the directed members correct that like the narrowing does.
#pragma once
#include "convert/convert.h"

namespace qarn {

namespace itf {
using namespace cv;

// The float of 32-bit lanes with magnitude a, sign bits sign and all-ones neg where
// negative.  The signed pieces are added, so the one rounding is that of the signed
// value in MXCSR's mode; the sum's sign is then rebuilt (zero is +0 in every mode).
template <rnd R> QARN_INLINE __m128 from_u32(__m128i a, __m128i neg, __m128i sign) {
  __m128 lo = _mm_sub_ps(_mm_castsi128_ps(_mm_or_si128(_mm_and_si128(a, c32(0x007FFFFF)), c32(0x4B000000))),
                         f32(0x4B000000));                                 // a mod 2^23
  __m128 hi = _mm_sub_ps(_mm_castsi128_ps(_mm_or_si128(_mm_srli_epi32(a, 23), c32(0x56800000))),
                         f32(0x56800000));                                 // (a >> 23) * 2^23
  lo = _mm_xor_ps(lo, _mm_castsi128_ps(sign));
  hi = _mm_xor_ps(hi, _mm_castsi128_ps(sign));
  __m128 s = _mm_add_ps(hi, lo);
  __m128i p = _mm_or_si128(_mm_andnot_si128(c32(0x80000000), _mm_castps_si128(s)), sign);
  if constexpr (R != rnd::rte) {
    __m128 d = _mm_sub_ps(s, hi);  // exact: s - hi against lo tells the side s rounded to
    __m128i above = _mm_castps_si128(_mm_cmp_ps(d, lo, _CMP_GT_OQ));
    __m128i below = _mm_castps_si128(_mm_cmp_ps(d, lo, _CMP_LT_OQ));
    p = step32(p, directed<R>(above, below, neg));
  }
  return _mm_castsi128_ps(p);
}

// The double of 64-bit lanes with magnitude a (patterns), the same way.
template <rnd R> QARN_INLINE __m256d from_u64(__m256d a, __m256d neg, __m256d sign) {
  const __m256d two52 = d64(0x4330000000000000), two104 = d64(0x4670000000000000);
  __m256d lo = _mm256_sub_pd(_mm256_or_pd(_mm256_and_pd(a, d64(0x000FFFFFFFFFFFFF)), two52), two52);
  __m256d top = joind(_mm_srli_epi64(cv::lo(a), 52), _mm_srli_epi64(cv::hi(a), 52));
  __m256d hi = _mm256_sub_pd(_mm256_or_pd(top, two104), two104);
  lo = _mm256_xor_pd(lo, sign);
  hi = _mm256_xor_pd(hi, sign);
  __m256d s = _mm256_add_pd(hi, lo);
  __m256d p = _mm256_or_pd(_mm256_andnot_pd(d64(0x8000000000000000), s), sign);
  if constexpr (R != rnd::rte) {
    __m256d d = _mm256_sub_pd(s, hi);  // exact
    steps64 st = directed<R>(_mm256_cmp_pd(d, lo, _CMP_GT_OQ), _mm256_cmp_pd(d, lo, _CMP_LT_OQ), neg);
    p = add64(sub64(p, st.inc), st.dec);
  }
  return p;
}

// The float of 64-bit lanes with magnitude a.
template <rnd R> QARN_INLINE __m128 f_from_u64(__m256d a, __m256d neg, __m256d sign) {
  // Above 2^53 keep bits 11-63, with bit 11 also set when any of bits 0-10 is.
  auto fold = [](__m128i v) {
    const __m128i z = _mm_setzero_si128();
    __m128i low_zero = _mm_cmpeq_epi64(_mm_and_si128(v, c64(0x7FF)), z);
    __m128i folded = _mm_andnot_si128(c64(0x7FF), _mm_or_si128(v, _mm_andnot_si128(low_zero, c64(0x800))));
    __m128i narrow = _mm_cmpeq_epi64(_mm_srli_epi64(v, 53), z);
    return sel(folded, v, narrow);
  };
  __m256d e = joind(fold(cv::lo(a)), fold(cv::hi(a)));
  const __m256d two52 = d64(0x4330000000000000), two104 = d64(0x4670000000000000);
  __m256d lo = _mm256_sub_pd(_mm256_or_pd(_mm256_and_pd(e, d64(0x000FFFFFFFFFFFFF)), two52), two52);
  __m256d top = joind(_mm_srli_epi64(cv::lo(e), 52), _mm_srli_epi64(cv::hi(e), 52));
  __m256d hi = _mm256_sub_pd(_mm256_or_pd(top, two104), two104);
  // Exact, signed, and +0 for zero.
  __m256d d = _mm256_or_pd(_mm256_andnot_pd(d64(0x8000000000000000), _mm256_add_pd(hi, lo)), sign);
  __m128 f = _mm256_cvtpd_ps(d);  // the one rounding, in MXCSR's mode
  __m128i p = _mm_castps_si128(f);
  if constexpr (R != rnd::rte) {
    __m256d b = _mm256_cvtps_pd(f);
    __m128i above = low32(_mm256_cmp_pd(d, b, _CMP_LT_OQ));
    __m128i below = low32(_mm256_cmp_pd(b, d, _CMP_LT_OQ));
    p = step32(p, directed<R>(above, below, low32(neg)));
  }
  return _mm_castsi128_ps(p);
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
      // v in the low half of 2^52's pattern reads as 2^52 + v: exact.
      const __m128i h = c32(0x43300000);
      __m256d d = joind(_mm_unpacklo_epi32(v, h), _mm_unpackhi_epi32(v, h));
      return _mm256_andnot_pd(d64(0x8000000000000000), _mm256_sub_pd(d, d64(0x4330000000000000)));
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
    else return itf::f_from_u64<R>(s.a, s.neg, s.sign);
  }
};

template <rnd R, class T> struct cvtu64tofp_k {
  using arg = uint64_t;
  using res = T;
  static constexpr int nargs = 1, nres = 1;
  static QARN_INLINE block<T> run(__m256i v) {
    const __m256d a = _mm256_castsi256_pd(v), z = _mm256_setzero_pd();
    if constexpr (std::is_same_v<T, double>) return itf::from_u64<R>(a, z, z);
    else return itf::f_from_u64<R>(a, z, z);
  }
};

}  // namespace qarn
