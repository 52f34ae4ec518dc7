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
//   float   a*b is exact in double; s = a*b + c with its exact error e (two-sum),
//           rounded to odd, so that it sits on no float value or midpoint unless
//           it is exact; then rounded to float.  Special: non-finite results
//           (some operand infinite or NaN, or an overflow) and sums below 2^-126
//           other than zero (a subnormal result, which a flushing environment
//           would not keep).
//   double  the exact product uh + ul (Veltkamp's split by 2^27 + 1 and Dekker's
//           product), th + tl = c + uh (two-sum), v = tl + ul rounded to odd, then
//           th + v rounded once (the emulation of a fused multiply-add by rounding
//           to odd).  With |a*b| >= 2^-900 (or a zero operand) every step is
//           exact or rounds as it would with an unbounded exponent: the
//           product's low part is exact, the two-sums always are, tl + ul is
//           exact where it is subnormal, and the result is zero or normal (a
//           multiple of 2^-1022 at least); other lanes, and non-finite
//           results, are special.  A zero v leaves th as it is (keeping -0).
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

// s rounded to odd, given the exact rest e of a sum rounded to nearest: where
// e != 0, the neighbour of the exact sum (s, or s one unit nearer zero) whose last
// bit is 1.  On the patterns: (s - [e != 0 and its sign differs from s's]) |
// [e != 0].  One unit nearer zero is s*(1 - 2^-53) to nearest: s - s*2^-53 lies
// within (s - ulp, s - ulp/2) when s is no power of two, and is the representable
// 2^k - 2^(k-53) when s = 2^k (an inexact sum is far above the subnormals).
template <class D> QARN_INLINE D to_odd(D s, D e) {
  D nz = cmp<_CMP_NEQ_OQ>(e, bits<D>(0));
  D below = blend((s ^ e) & nz, s, s * kc<D, 0x3FEFFFFFFFFFFFFFull>());
  return below | (nz & kc<D, 1ull>());
}

// The exact product a*b = hi + lo (Veltkamp's split and Dekker's product).
template <class D> QARN_INLINE D two_prod(D a, D b, D& lo) {
  const D split = kc<D, 0x41A0000002000000ull>();  // 2^27 + 1
  D ta = a * split, tb = b * split;
  D ah = ta - (ta - a), bh = tb - (tb - b);
  D al = a - ah, bl = b - bh;
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

// The float kernel's work on four lanes held in double: the sum rounded to odd
// (which sits on no float value or midpoint unless it is exact, so that rounding
// it to float rounds the exact sum), or an all-ones pattern (a NaN) where the
// result would be subnormal.
QARN_INLINE vd4 fmaf_lanes(vd4 a, vd4 b, vd4 c) {
  vd4 e;
  vd4 s = two_sum(a * b, c, e);
  const vd4 zero = bits<vd4>(0);
  vd4 tiny = andnot(cmp<_CMP_LT_OQ>(vabs(s), kc<vd4, 0x3810000000000000ull>()), cmp<_CMP_EQ_OQ>(s, zero));
  return to_odd(s, e) | tiny;
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
    V r;
    if constexpr (std::is_same_v<V, vf4>) {
      r = fmak::narrow(fmak::fmaf_lanes(fmak::widen_lo(a), fmak::widen_lo(b), fmak::widen_lo(c)));
    } else {
      vd4 lo = fmak::fmaf_lanes(fmak::widen_lo(a), fmak::widen_lo(b), fmak::widen_lo(c));
      r = fmak::narrow(lo, fmak::fmaf_lanes(fmak::widen_hi(a), fmak::widen_hi(b), fmak::widen_hi(c)));
    }
    sp = cmp<_CMP_NLT_UQ>(vabs(r), kc<V, 0x7F800000u>()) | fmak::env_lanes<V>();
    return r;
  }
};

template <var Vr> struct fma_k<double, Vr> {
  using elem = double;
  // Special: non-finite results, and products below 2^-900 other than those of a
  // zero operand (Dekker's product is exact only while ulp(a)*ulp(b) >= 2^-1022),
  // made NaN.  Every other way out of the normal range ends there: an operand too
  // large to split gives NaN, an overflowing product, sum or split product an
  // infinity or NaN that each later step keeps (to_odd included).
  template <class V> static QARN_INLINE V main_special(V a, V b, V c, V& sp) {
    V ul, tl, ev;
    V uh = fmak::two_prod(a, b, ul);
    const V zero = bits<V>(0);
    // Small products become NaNs, which the result keeps (special lanes' results
    // are replaced): no mask stays alive to the end.
    // (Marked on the low part, which comes last: the sum with c does not wait.)
    V th = fmak::two_sum(c, uh, tl);
    ul = ul | andnot(cmp<_CMP_LT_OQ>(vabs(uh), kc<V, 0x07B0000000000000ull>()),
                     cmp<_CMP_EQ_OQ>(a, zero) | cmp<_CMP_EQ_OQ>(b, zero));
    V v = fmak::to_odd(fmak::two_sum(tl, ul, ev), ev);
    V r = blend(cmp<_CMP_EQ_OQ>(v, zero), th + v, th);
    sp = cmp<_CMP_NLT_UQ>(vabs(r), kc<V, 0x7FF0000000000000ull>()) | fmak::env_lanes<V>();
    return r;
  }
};

}  // namespace qarn
