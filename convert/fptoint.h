// Floating to integer with an explicit rounding direction, with or without
// saturation: cvtfptoi32, cvtfptoi64, cvtfptou32, cvtfptou64 from float or double.
//
// Every kernel first rounds x to an integral value r in its direction with the
// rounding instruction (the only place the direction enters), and then works on r:
// the packed convert instructions only ever see integral values, so nothing
// depends on MXCSR.  Results outside the destination range:
//
//   kind   nosat: NaN, +-inf, too large   nosat: negative   sat: NaN   sat: too large   sat: too small
//   i32    0x80000000                     the value         0          0x7FFFFFFF       0x80000000
//   i64    0x8000000000000000             the value         0          0x7FFF...FF      0x8000...00
//   u32    0x80000000                     the magnitude     0          0xFFFFFFFF       0
//   u64    0x8000000000000000             the magnitude     0          0xFFFF...FF      0
//
// "Too large" is judged on r, so a value that rounds up to the limit is out of range.
// The 64-bit kinds build the integer from the bits of |r|: below 2^23 (2^52) adding
// 2^23 (2^52) leaves it in the fraction field; above, the significand with its
// implicit bit shifted left by the exponent minus 23 (52), one lane at a time.
#pragma once
#include "convert/convert.h"

namespace qarn {

namespace fti {
using namespace cv;

template <rnd R> QARN_INLINE __m128 round(__m128 x) { return _mm_round_ps(x, imm<R>); }
template <rnd R> QARN_INLINE __m256d round(__m256d x) { return _mm256_round_pd(x, imm<R>); }

// The integer value of integral a >= 0 below 2^64, as four 64-bit lanes (lanes with
// larger a, infinities and NaN get some pattern the caller replaces).
QARN_INLINE __m256d magnitude(__m128 a) {
  const __m128i ai = _mm_castps_si128(a), z = _mm_setzero_si128();
  __m128i m = _mm_or_si128(_mm_and_si128(ai, c32(0x007FFFFF)), c32(0x00800000));
  __m128i s = _mm_sub_epi32(_mm_srli_epi32(ai, 23), c32(150));  // negative: a count >= 2^32
  __m128i big0 = shl_lanes(_mm_unpacklo_epi32(m, z), _mm_unpacklo_epi32(s, z));
  __m128i big1 = shl_lanes(_mm_unpackhi_epi32(m, z), _mm_unpackhi_epi32(s, z));
  __m128i small = _mm_and_si128(_mm_castps_si128(_mm_add_ps(a, f32(0x4B000000))), c32(0x007FFFFF));
  __m256d is_small = widen(_mm_cmp_ps(a, f32(0x4B000000), _CMP_LT_OQ));
  return sel(joind(big0, big1),
                          joind(_mm_unpacklo_epi32(small, z), _mm_unpackhi_epi32(small, z)), is_small);
}
QARN_INLINE __m256d magnitude(__m256d a) {
  const __m256d small = _mm256_and_pd(_mm256_add_pd(a, d64(0x4330000000000000)), d64(0x000FFFFFFFFFFFFF));
  const __m256d m = _mm256_xor_pd(_mm256_and_pd(a, d64(0x000FFFFFFFFFFFFF)), d64(0x0010000000000000));
  auto big = [](__m128i ai, __m128i mi) {
    __m128i s = _mm_sub_epi64(_mm_srli_epi64(ai, 52), c64(1075));  // negative: a huge count
    return shl_lanes(mi, s);
  };
  __m256d v = joind(big(lo(a), lo(m)), big(hi(a), hi(m)));
  return sel(v, small, _mm256_cmp_pd(a, d64(0x4330000000000000), _CMP_LT_OQ));
}

// Lane masks of the 64-bit kinds, as 64-bit lanes.
struct masks64 {
  __m256d neg;    // r < 0
  __m256d sign;   // sign bit set where r's sign bit is set (other bits vary)
  __m256d ord;    // x is not NaN
  __m256d lt63;   // |r| < 2^63
  __m256d lt64;   // |r| < 2^64
};
QARN_INLINE masks64 masks(__m128 r, __m128 a) {
  return {widen(_mm_cmp_ps(r, _mm_setzero_ps(), _CMP_LT_OQ)), widen(_mm_srai_epi32(_mm_castps_si128(r), 31)),
          widen(_mm_cmp_ps(r, r, _CMP_ORD_Q)), widen(_mm_cmp_ps(a, f32(0x5F000000), _CMP_LT_OQ)),
          widen(_mm_cmp_ps(a, f32(0x5F800000), _CMP_LT_OQ))};
}
QARN_INLINE masks64 masks(__m256d r, __m256d a) {
  return {_mm256_cmp_pd(r, _mm256_setzero_pd(), _CMP_LT_OQ), r, _mm256_cmp_pd(r, r, _CMP_ORD_Q),
          _mm256_cmp_pd(a, d64(0x43E0000000000000), _CMP_LT_OQ),
          _mm256_cmp_pd(a, d64(0x43F0000000000000), _CMP_LT_OQ)};
}

QARN_INLINE __m128 vabs(__m128 r) { return _mm_andnot_ps(f32(0x80000000), r); }
QARN_INLINE __m256d vabs(__m256d r) { return _mm256_andnot_pd(d64(0x8000000000000000), r); }

}  // namespace fti

// ---- i32 ------------------------------------------------------------------------
template <rnd R, bool Sat, class T> struct cvtfptoi32_k {
  using arg = T;
  using res = int32_t;
  static constexpr int nargs = 1, nres = 1;
  static QARN_INLINE __m128i run(block<T> x) {
    using namespace cv;
    const auto r = fti::round<R>(x);
    __m128i c, w, ord;  // the packed conversion, the high word (float: the pattern), not NaN
    if constexpr (std::is_same_v<T, float>) {
      c = _mm_cvtps_epi32(r);
      w = _mm_castps_si128(r);
      ord = _mm_castps_si128(_mm_cmp_ps(r, r, _CMP_ORD_Q));
    } else {
      c = _mm256_cvtpd_epi32(r);
      w = high32(r);
      ord = high32(_mm256_cmp_pd(r, r, _CMP_ORD_Q));
    }
    if constexpr (!Sat) {
      return c;
    } else {
      const uint32_t limit = std::is_same_v<T, float> ? 0x4F000000u : 0x41E00000u;  // 2^31
      __m128i in_range = _mm_cmpgt_epi32(c32(limit), _mm_and_si128(w, c32(0x7FFFFFFF)));
      __m128i sat = _mm_xor_si128(c32(0x7FFFFFFF), _mm_srai_epi32(w, 31));
      return _mm_and_si128(sel(sat, c, in_range), ord);
    }
  }
};

// ---- u32 ------------------------------------------------------------------------
template <rnd R, bool Sat, class T> struct cvtfptou32_k {
  using arg = T;
  using res = uint32_t;
  static constexpr int nargs = 1, nres = 1;
  static QARN_INLINE __m128i run(block<T> x) {
    using namespace cv;
    const auto r = fti::round<R>(x);
    // nosat converts |r|, sat converts r and clamps.
    const auto v = Sat ? r : fti::vabs(r);
    // hi: the value of v in [2^31, 2^32), from its fraction bits; c: the signed
    // conversion; w: v's high word (float: its pattern).
    __m128i hi, c, w;
    if constexpr (std::is_same_v<T, float>) {
      w = _mm_castps_si128(v);
      hi = _mm_or_si128(_mm_slli_epi32(w, 8), c32(0x80000000));
      c = _mm_cvtps_epi32(v);
    } else {
      w = high32(v);
      __m256d sh = joind(_mm_slli_epi64(lo(v), 11), _mm_slli_epi64(cv::hi(v), 11));
      hi = _mm_or_si128(high32(sh), c32(0x80000000));
      c = _mm256_cvtpd_epi32(v);
    }
    const uint32_t emask = std::is_same_v<T, float> ? 0x7F800000u : 0x7FF00000u;
    const uint32_t e31 = std::is_same_v<T, float> ? 0x4F000000u : 0x41E00000u;
    __m128i top = _mm_cmpeq_epi32(_mm_and_si128(w, c32(emask)), c32(e31));
    __m128i u = sel(c, hi, top);
    if constexpr (!Sat) {
      return u;
    } else {
      __m128i below, ord;  // r < 2^32, r not NaN
      if constexpr (std::is_same_v<T, float>) {
        below = _mm_castps_si128(_mm_cmp_ps(r, f32(0x4F800000), _CMP_LT_OQ));
        ord = _mm_castps_si128(_mm_cmp_ps(r, r, _CMP_ORD_Q));
      } else {
        below = _mm_cmpgt_epi32(c32(0x41F00000), w);
        ord = high32(_mm256_cmp_pd(r, r, _CMP_ORD_Q));
      }
      u = _mm_or_si128(u, _mm_xor_si128(below, c32(0xFFFFFFFF)));
      return _mm_andnot_si128(_mm_srai_epi32(w, 31), _mm_and_si128(u, ord));
    }
  }
};

// ---- i64 and u64 ------------------------------------------------------------------
template <bool Signed, rnd R, bool Sat, class T> struct fptoi64_base {
  using arg = T;
  using res = std::conditional_t<Signed, int64_t, uint64_t>;
  static constexpr int nargs = 1, nres = 1;
  static QARN_INLINE __m256i run(block<T> x) {
    using namespace cv;
    const auto r = fti::round<R>(x);
    const auto a = fti::vabs(r);
    const fti::masks64 k = fti::masks(r, a);
    __m256d v = fti::magnitude(a);
    if constexpr (Signed) {
      v = sub64(_mm256_xor_pd(v, k.neg), k.neg);  // -v where r < 0
      if constexpr (!Sat) {
        v = sel(d64(0x8000000000000000), v, k.lt63);
      } else {
        __m256d sat = _mm256_xor_pd(d64(0x7FFFFFFFFFFFFFFF), k.neg);  // 0x8000... where negative
        v = _mm256_and_pd(sel(sat, v, k.lt63), k.ord);
      }
    } else {
      if constexpr (!Sat) {
        v = sel(d64(0x8000000000000000), v, k.lt64);
      } else {
        v = sel(d64(0xFFFFFFFFFFFFFFFF), v, k.lt64);
        v = sel(_mm256_and_pd(v, k.ord), _mm256_setzero_pd(), k.sign);
      }
    }
    return _mm256_castpd_si256(v);
  }
};

template <rnd R, bool Sat, class T> struct cvtfptoi64_k : fptoi64_base<true, R, Sat, T> {};
template <rnd R, bool Sat, class T> struct cvtfptou64_k : fptoi64_base<false, R, Sat, T> {};

}  // namespace qarn
