// What the conversion kernels share: the rounding directions and the integer
// helpers on four-lane blocks.  AVX has no 256-bit integer arithmetic and no
// variable 64-bit shift, so 64-bit lanes are handled as two 128-bit halves and
// shifted one lane at a time.
#pragma once
#include <cstdint>
#include "frame/plain.h"

namespace qarn {

// Rounding direction of a conversion: to nearest (ties to even), toward -inf,
// toward +inf, toward zero.
enum class rnd { rte, rtn, rtp, rtz };

namespace cv {

// Immediate of the rounding instruction for a direction (precision exception not suppressed).
template <rnd R> inline constexpr int imm = R == rnd::rte ? 0 : R == rnd::rtn ? 1 : R == rnd::rtp ? 2 : 3;

QARN_INLINE __m128i c32(uint32_t v) { return _mm_set1_epi32(int32_t(v)); }
QARN_INLINE __m128i c64(uint64_t v) { return _mm_set1_epi64x(int64_t(v)); }
QARN_INLINE __m256d d64(uint64_t v) { return _mm256_castsi256_pd(_mm256_set1_epi64x(int64_t(v))); }
QARN_INLINE __m128 f32(uint32_t v) { return _mm_castsi128_ps(_mm_set1_epi32(int32_t(v))); }

QARN_INLINE __m128i lo(__m256d v) { return _mm_castpd_si128(_mm256_castpd256_pd128(v)); }
QARN_INLINE __m128i hi(__m256d v) { return _mm_castpd_si128(_mm256_extractf128_pd(v, 1)); }
QARN_INLINE __m128i lo(__m256i v) { return _mm256_castsi256_si128(v); }
QARN_INLINE __m128i hi(__m256i v) { return _mm256_extractf128_si256(v, 1); }
QARN_INLINE __m256d joind(__m128i l, __m128i h) {
  return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_castsi128_pd(l)), _mm_castsi128_pd(h), 1);
}

// The low (high) 32 bits of four 64-bit lanes, packed into four 32-bit lanes.
QARN_INLINE __m128i low32(__m128i l, __m128i h) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(l), _mm_castsi128_ps(h), 0x88));
}
QARN_INLINE __m128i high32(__m128i l, __m128i h) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(l), _mm_castsi128_ps(h), 0xDD));
}
QARN_INLINE __m128i low32(__m256d v) { return low32(lo(v), hi(v)); }
QARN_INLINE __m128i high32(__m256d v) { return high32(lo(v), hi(v)); }

// Lane selects: the sign bit of each of m's lanes picks b over a.  Written as the
// blend instruction itself: the compiler would otherwise turn some of these selects
// into per-lane branches.
QARN_INLINE __m256d sel(__m256d a, __m256d b, __m256d m) {
  __m256d r;
  asm("vblendvpd %3, %2, %1, %0" : "=x"(r) : "x"(a), "x"(b), "x"(m));
  return r;
}
QARN_INLINE __m128i sel(__m128i a, __m128i b, __m128i m) {
  __m128i r;
  asm("vpblendvb %3, %2, %1, %0" : "=x"(r) : "x"(a), "x"(b), "x"(m));
  return r;
}

// A 32-bit lane mask widened to 64-bit lanes.
QARN_INLINE __m256d widen(__m128i m) { return joind(_mm_unpacklo_epi32(m, m), _mm_unpackhi_epi32(m, m)); }
QARN_INLINE __m256d widen(__m128 m) { return widen(_mm_castps_si128(m)); }

// m << s lane by lane, for two 64-bit lanes with their own unsigned 64-bit counts
// (a count of 64 or more gives 0).
QARN_INLINE __m128i shl_lanes(__m128i m, __m128i s) {
  __m128i r0 = _mm_sll_epi64(m, s);
  __m128i r1 = _mm_sll_epi64(m, _mm_unpackhi_epi64(s, s));
  return _mm_blend_epi16(r0, r1, 0xF0);
}

// Lane-wise 64-bit add and subtract on a block of four 64-bit patterns.
QARN_INLINE __m256d add64(__m256d a, __m256d b) {
  return joind(_mm_add_epi64(lo(a), lo(b)), _mm_add_epi64(hi(a), hi(b)));
}
QARN_INLINE __m256d sub64(__m256d a, __m256d b) {
  return joind(_mm_sub_epi64(lo(a), lo(b)), _mm_sub_epi64(hi(a), hi(b)));
}

// Masks that turn a magnitude rounded in some mode into the result of direction R.
// above (below) marks the lanes whose magnitude came out above (below) the exact
// magnitude, neg the lanes whose exact value is negative; dec lanes step the
// magnitude's pattern down by one, inc lanes up by one (the sign bit stays).
struct steps32 { __m128i dec, inc; };
struct steps64 { __m256d dec, inc; };
template <rnd R> QARN_INLINE steps32 directed(__m128i above, __m128i below, __m128i neg) {
  const __m128i z = _mm_setzero_si128();
  if constexpr (R == rnd::rtz) return {above, z};
  else if constexpr (R == rnd::rtn) return {_mm_andnot_si128(neg, above), _mm_and_si128(neg, below)};
  else if constexpr (R == rnd::rtp) return {_mm_and_si128(neg, above), _mm_andnot_si128(neg, below)};
  else return {z, z};
}
template <rnd R> QARN_INLINE steps64 directed(__m256d above, __m256d below, __m256d neg) {
  const __m256d z = _mm256_setzero_pd();
  if constexpr (R == rnd::rtz) return {above, z};
  else if constexpr (R == rnd::rtn) return {_mm256_andnot_pd(neg, above), _mm256_and_pd(neg, below)};
  else if constexpr (R == rnd::rtp) return {_mm256_and_pd(neg, above), _mm256_andnot_pd(neg, below)};
  else return {z, z};
}
// Applies the steps to 32-bit patterns (mask lanes are all-ones, that is -1).
QARN_INLINE __m128i step32(__m128i p, steps32 s) {
  return _mm_add_epi32(_mm_sub_epi32(p, s.inc), s.dec);
}

}  // namespace cv
}  // namespace qarn
