// The processor's reciprocal-square-root estimate (relative error at most
// 1.5*2^-12; the exact value differs between processor makers).  Zero gives an
// infinity of its sign, subnormal operands count as zero, negative operands give
// NaN and +inf gives +0.  The double forms take it of the lanes rounded to float
// and widen the estimate back.
#pragma once
#include "frame/simd.h"

namespace qarn {
QARN_INLINE vf4 rsqrt_est(vf4 a) { return {_mm_rsqrt_ps(a.v)}; }
QARN_INLINE vf8 rsqrt_est(vf8 a) { return {_mm256_rsqrt_ps(a.v)}; }
QARN_INLINE vd2 rsqrt_est(vd2 a) { return {_mm_cvtps_pd(_mm_rsqrt_ps(_mm_cvtpd_ps(a.v)))}; }
QARN_INLINE vd4 rsqrt_est(vd4 a) { return {_mm256_cvtps_pd(_mm_rsqrt_ps(_mm256_cvtpd_ps(a.v)))}; }

// The estimate of float patterns held in the low 32 bits of each double lane,
// widened to double.
QARN_INLINE vd2 rsqrt_est_low32(vd2 p) { return {_mm_cvtps_pd(_mm_rsqrt_ps(_mm_castsi128_ps(low32(p).v)))}; }
QARN_INLINE vd4 rsqrt_est_low32(vd4 p) { return {_mm256_cvtps_pd(_mm_rsqrt_ps(_mm_castsi128_ps(low32(p).v)))}; }
}  // namespace qarn
