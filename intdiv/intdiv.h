// 32-bit integer quotient and remainder, signed and unsigned, without a divide
// instruction: idiv, udiv, irem, urem, idivrem, udivrem.
//
// The divisor's single-precision reciprocal estimate (about 12 bits) is refined by
// one Newton step in double (about 24 bits); the second Newton step is applied to
// the quotient itself with 2 + 2^-42 in place of 2, which lifts it above a/b by a
// relative 2^-42 or so.  Exact quotients so never fall below their integer, and
// inexact ones stay below the next integer (that distance is at least 1/|b|, and
// |a/b| * 2^-42 < 1/|b| for |a| < 2^42), so truncation gives the exact quotient.
// The remainder is a - q*b in wrapping 32-bit arithmetic.
//
// No case traps:
//   signed,   b = 0:        1/0 = inf, 0*inf = NaN, truncated to 0x80000000; rem = a
//   unsigned, b = 0:        the NaN's low 32 bits are 0, so q = 0; rem = a
//   INT_MIN / -1:           q = 2^31 truncates to 0x80000000; rem = 0
#pragma once
#include "frame/plain.h"

namespace qarn {

namespace idv {

QARN_INLINE __m256d cd(uint64_t b) { return _mm256_castsi256_pd(_mm256_set1_epi64x(int64_t(b))); }

// q slightly above a/b in magnitude, from exact doubles ad, bd and b as a float.
QARN_INLINE __m256d quotient(__m256d ad, __m256d bd, __m128 bf) {
  const __m256d two = cd(0x4000000000000000), two_up = cd(0x4000000000000200);  // 2, 2 + 2^-42
  __m256d y0 = _mm256_cvtps_pd(_mm_rcp_ps(bf));
  __m256d y1 = _mm256_mul_pd(y0, _mm256_sub_pd(two, _mm256_mul_pd(bd, y0)));
  __m256d q1 = _mm256_mul_pd(ad, y1);
  __m256d e = _mm256_sub_pd(two_up, _mm256_mul_pd(bd, y1));
  return _mm256_mul_pd(q1, e);
}

QARN_INLINE __m128i sdiv(__m128i a, __m128i b) {
  __m256d q = quotient(_mm256_cvtepi32_pd(a), _mm256_cvtepi32_pd(b), _mm_cvtepi32_ps(b));
  return _mm256_cvttpd_epi32(q);
}

// 2^52 + 2^51: an unsigned lane under this pattern's high word reads as 2^52 + 2^51 + v.
inline constexpr uint64_t kMagic = 0x4338000000000000ull;

QARN_INLINE __m256d u2d(__m128i v) {
  const __m128i h = _mm_set1_epi32(0x43380000);
  __m128i l0 = _mm_unpacklo_epi32(v, h), l1 = _mm_unpackhi_epi32(v, h);
  __m256d d = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_castsi128_pd(l0)), _mm_castsi128_pd(l1), 1);
  return _mm256_sub_pd(d, cd(kMagic));
}

QARN_INLINE __m128i udiv(__m128i a, __m128i b) {
  __m256d bd = u2d(b);
  __m256d q = quotient(u2d(a), bd, _mm256_cvtpd_ps(bd));
  __m256d t = _mm256_add_pd(_mm256_round_pd(q, 3), cd(kMagic));  // the integer in the low 32 bits
  __m128 l = _mm_castpd_ps(_mm256_castpd256_pd128(t)), h = _mm_castpd_ps(_mm256_extractf128_pd(t, 1));
  return _mm_castps_si128(_mm_shuffle_ps(l, h, 0x88));
}

QARN_INLINE __m128i rem(__m128i a, __m128i b, __m128i q) { return _mm_sub_epi32(a, _mm_mullo_epi32(q, b)); }

template <class T> struct base {
  using arg = T;
  using res = T;
  static constexpr int nargs = 2;
  static QARN_INLINE __m128i quot(__m128i a, __m128i b) {
    if constexpr (std::is_same_v<T, int32_t>) return sdiv(a, b);
    else return udiv(a, b);
  }
};

}  // namespace idv

template <class T> struct div_k : idv::base<T> {
  static constexpr int nres = 1;
  static QARN_INLINE __m128i run(__m128i a, __m128i b) { return div_k::quot(a, b); }
};
template <class T> struct rem_k : idv::base<T> {
  static constexpr int nres = 1;
  static QARN_INLINE __m128i run(__m128i a, __m128i b) { return idv::rem(a, b, rem_k::quot(a, b)); }
};
template <class T> struct divrem_k : idv::base<T> {
  static constexpr int nres = 2;
  static QARN_INLINE void run(__m128i a, __m128i b, __m128i& q, __m128i& r) {
    q = divrem_k::quot(a, b);
    r = idv::rem(a, b, q);
  }
};

using idiv_k = div_k<int32_t>;
using udiv_k = div_k<uint32_t>;
using irem_k = rem_k<int32_t>;
using urem_k = rem_k<uint32_t>;
using idivrem_k = divrem_k<int32_t>;
using udivrem_k = divrem_k<uint32_t>;

}  // namespace qarn
