// Double to float with an explicit rounding direction: cvtfp64tofp32.
//
// f = the packed narrowing of x, rounded in the current MXCSR mode: that is the
// rte result.  The directed members widen f back (exactly) and compare it with x;
// where f lies on the wrong side they step f's pattern by one toward their
// direction, using f's own sign, so a zero from a tiny x steps to the smallest
// subnormal of x's sign and an infinity from a finite x steps back to the largest
// float.  NaN lanes fail the ordered compares and keep f (a quiet NaN).
#pragma once
#include "convert/convert.h"

namespace qarn {

template <rnd R, class T> struct cvtfp64tofp32_k {
  static_assert(std::is_same_v<T, double>);
  using arg = double;
  using res = float;
  static constexpr int nargs = 1, nres = 1;
  static QARN_INLINE __m128 run(__m256d x) {
    using namespace cv;
    __m128 f = _mm256_cvtpd_ps(x);
    if constexpr (R == rnd::rte) {
      return f;
    } else {
      const __m256d b = _mm256_cvtps_pd(f);
      __m128i p = _mm_castps_si128(f);
      __m128i minus = _mm_srai_epi32(p, 31);  // f negative
      __m128i step;                           // +1 or -1 per lane, where f must move
      if constexpr (R == rnd::rtz) {
        // |x| < |f|: one step toward zero, which lowers the magnitude.
        const __m256d m = d64(0x7FFFFFFFFFFFFFFF);
        __m128i away = low32(_mm256_cmp_pd(_mm256_and_pd(x, m), _mm256_and_pd(b, m), _CMP_LT_OQ));
        step = away;  // -1
      } else if constexpr (R == rnd::rtn) {
        __m128i above = low32(_mm256_cmp_pd(x, b, _CMP_LT_OQ));
        step = _mm_and_si128(above, _mm_or_si128(_mm_xor_si128(minus, c32(0xFFFFFFFF)), c32(1)));
      } else {
        __m128i below = low32(_mm256_cmp_pd(b, x, _CMP_LT_OQ));
        step = _mm_and_si128(below, _mm_or_si128(minus, c32(1)));
      }
      return _mm_castsi128_ps(_mm_add_epi32(p, step));
    }
  }
};

}  // namespace qarn
