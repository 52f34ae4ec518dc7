// fma in float and double, default and _rm (one body): a*b + c rounded once.
//
// There is no fused multiply-add instruction; the main path rounds the exact sum
// once with ordinary operations, under the ordinary environment only (MXCSR
// rounding to nearest, subnormal operands read as they are, and the x87 control
// word rounding to nearest, whose direction the lane fallback's exact sums
// follow).  Where that holds and the lane is ordinary, its result is the
// correctly rounded a*b + c to nearest, which is what the lane fallback
// (fpmanip/fma_fallback.cpp) gives there too; every other lane, and every lane of
// a call in another environment, is finished by the fallback.
//
// Both precisions add the exact sum's parts in two roundings and send to the
// fallback the lanes where that can differ from one rounding: those where the
// first rounding lands exactly on a midpoint of the result's format.
//   float   a*b is exact in double, s = a*b + c rounded to double.  s is a
//           multiple of its last place and the exact sum lies within half of
//           it, so the two round to the same float unless s is a float
//           midpoint (its low 29 bits 0x10000000), which goes to the fallback
//           with every sum below 2^-126 other than zero (a subnormal result,
//           which a flushing environment would not keep) and every non-finite
//           result (some operand infinite or NaN, or an overflow).
//   double  the exact product uh + ul (a split by a mask into 26 leading bits
//           and 27 below, b by Veltkamp's 2^27 + 1 into 26 and 26 signed, so
//           every partial product of Dekker's is exact), th + tl = c + uh
//           (two-sum), v = tl + ul, r = th + v.  Where v is inexact, so is the
//           sum c + uh, which gives |uh| <= 2|th| and |v| <= 1.5 ulp(th): v's
//           last place is below 2^-52 ulp(th), every midpoint near th is a
//           multiple of it, and r is the correctly rounded sum unless th + v is
//           a midpoint; then v is +-1, 1.25, 1.5 or 1.75 times a power of two
//           (a quarter, a half or a whole ulp(th) apart), and such a v (nonzero,
//           its fraction below the top two bits zero) goes to the fallback.
//           With |a*b| >= 2^-900 every step is exact or rounds as it would with
//           an unbounded exponent, the result is zero or normal and a subnormal
//           v is far below ulp(th).  (Each partial product's last place is at
//           least 2^-1006 for normal operands; a subnormal operand, split the
//           same way, has a partner above 2^122, which keeps its products' last
//           places at 2^-1074 or above.)  Lanes whose rounded product is below
//           2^-900, zero operands aside (a product that underflows to zero is
//           below), are special, as are non-finite results.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"

namespace qarn {

namespace fmak {

// The x87 control word rounds to nearest (its direction is the fallback's).
QARN_INLINE bool x87_nearest() {
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return (cw & 0xC00) == 0;
}

// Every lane where the environment is not the ordinary one, else none.
template <class V> QARN_INLINE V env_lanes() {
  return (frame::plain_env() && x87_nearest()) ? bits<V>(0) : bits<V>(~typename lanes_of<V>::bits(0));
}

// s = a + b and its error e, a + b = s + e exactly (to nearest, no overflow).
template <class D> QARN_INLINE D two_sum(D a, D b, D& e) {
  D s = a + b;
  D bb = s - a;
  e = (a - (s - bb)) + (b - bb);
  return s;
}

// The exact product a*b = hi + lo (no partial product underflowing): a's 26 leading bits and the 27
// below (by a mask, same sign), b's 26 leading bits rounded and the 26-bit signed
// rest (Veltkamp's split), so that every partial product has at most 53 bits;
// Dekker's sums of them are exact.
template <class D> QARN_INLINE D two_prod(D a, D b, D& lo) {
  D ah = a & kc<D, 0xFFFFFFFFF8000000ull>();
  D al = a - ah;
  D tb = b * kc<D, 0x41A0000002000000ull>();  // 2^27 + 1
  D bh = tb - (tb - b);
  D bl = b - bh;
  D p = a * b;
  lo = al * bl - (((p - ah * bh) - al * bh) - ah * bl);
  return p;
}

// Float lanes as double lanes and back.
QARN_INLINE vd4 widen_lo(vf8 a) { return {_mm256_cvtps_pd(_mm256_castps256_ps128(a.v))}; }
QARN_INLINE vd4 widen_hi(vf8 a) { return {_mm256_cvtps_pd(_mm256_extractf128_ps(a.v, 1))}; }
QARN_INLINE vd4 widen_lo(vf4 a) { return {_mm256_cvtps_pd(a.v)}; }
QARN_INLINE vf8 narrow(vd4 lo, vd4 hi) {
  return {_mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(lo.v)), _mm256_cvtpd_ps(hi.v), 1)};
}
QARN_INLINE vf4 narrow(vd4 lo) { return {_mm256_cvtpd_ps(lo.v)}; }

// Where rounding the double sum s to float may differ from rounding the exact sum
// (s a float midpoint) or the result would be subnormal: an all-ones pattern (a
// NaN when ORed into s).
QARN_INLINE vd4 fmaf_marks(vd4 s) {
  const vd4 zero = bits<vd4>(0);
  vd4 tiny = andnot(cmp<_CMP_LT_OQ>(vabs(s), kc<vd4, 0x3810000000000000ull>()), cmp<_CMP_EQ_OQ>(s, zero));
  return tiny | cmp<_CMP_EQ_OQ>(s & kc<vd4, 0x1FFFFFFFull>(), kc<vd4, 0x10000000ull>());
}

// The float kernel's work on eight lanes held in double: a*b + c rounded to double
// (both products first, so that only c and the sums stay alive with the marks).
QARN_INLINE vf8 fmaf_lanes(vf8 a, vf8 b, vf8 c) {
  vd4 plo = widen_lo(a) * widen_lo(b), phi = widen_hi(a) * widen_hi(b);
  vd4 slo = plo + widen_lo(c), shi = phi + widen_hi(c);
  return narrow(slo | fmaf_marks(slo), shi | fmaf_marks(shi));
}
QARN_INLINE vf4 fmaf_lanes(vf4 a, vf4 b, vf4 c) {
  vd4 s = widen_lo(a) * widen_lo(b) + widen_lo(c);
  return narrow(s | fmaf_marks(s));
}

}  // namespace fmak

template <class T, var Vr> struct fma_k;

// Both precisions give their result and their special lanes at once (the frame's
// main_special): the test needs the sum the result is made from.
template <var Vr> struct fma_k<float, Vr> {
  using elem = float;
  // Special: the lanes the double work marks (NaNs when narrowed), and infinite
  // and NaN results (some operand infinite or NaN, or an overflow, which the
  // fallback rounds in its own way).
  template <class V> static QARN_INLINE V main_special(V a, V b, V c, V& sp) {
    V r = fmak::fmaf_lanes(a, b, c);
    sp = cmp<_CMP_NLT_UQ>(vabs(r), kc<V, 0x7F800000u>()) | fmak::env_lanes<V>();
    return r;
  }
};

template <var Vr> struct fma_k<double, Vr> {
  using elem = double;
  // Special: non-finite results, the lanes where th + v may be a midpoint, and
  // those where uh is below 2^-900 with neither operand zero.  Every other way
  // out of the normal range ends non-finite: an operand too large to split gives
  // NaN, an overflowing product, sum or split product an infinity or NaN that
  // each later step keeps.  Where v = 0
  // the sum is th exactly (zero operands, c = -a*b: the signed zero of the first
  // sum stays).  The product and its test come first: then a and b are dead and
  // the fewest values are alive at once.
  template <class V> static QARN_INLINE V main_special(V a, V b, V c, V& sp) {
    const V zero = bits<V>(0);
    V ul, tl;
    V uh = fmak::two_prod(a, b, ul);
    V small = andnot(cmp<_CMP_LT_OQ>(vabs(uh), kc<V, 0x07B0000000000000ull>()),
                     cmp<_CMP_EQ_OQ>(vmin(vabs(a), vabs(b)), zero));
    V th = fmak::two_sum(c, uh, tl);
    V v = tl + ul;
    V vz = cmp<_CMP_EQ_OQ>(v, zero);
    V r = blend(vz, th + v, th);
    V mid = andnot(cmp<_CMP_EQ_OQ>(v & kc<V, 0x0003FFFFFFFFFFFFull>(), zero), vz);
    sp = ((cmp<_CMP_NLT_UQ>(vabs(r), kc<V, 0x7FF0000000000000ull>()) | mid) | small) | fmak::env_lanes<V>();
    return r;
  }
};

}  // namespace qarn
