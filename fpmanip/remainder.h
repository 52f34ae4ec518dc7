// fmod, remainder and remquo in float and double.
//
// The main path divides, rounds the quotient to an integer q and forms x - q*y
// exactly: y is split into a head of 26 significant bits (float 12) and a tail,
// so that both products with |q| < 2^26 (2^12) are exact, and the two
// subtractions are exact because their results are representable.  A zero
// remainder is given x's sign whatever the rounding mode of the subtractions.
//
// Lanes leave the main path when y is tiny (2^-972, float 2^-103: its tail could
// underflow), too large (fmod: infinite or NaN; remainder and remquo: 2^998, float
// 2^116), or when the exponent field of x exceeds y's by more than 25 (11), which
// bounds the quotient and catches infinite and NaN x, except in fmod against a
// finite y within that many binades of the top: there the main path itself gives
// the fallback's NaN (the default NaN for infinite x, x's NaN quieted).  The lane
// fallbacks (fpmanip/remainder_fallback.cpp) divide the integer significands
// exactly.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"

namespace qarn {

namespace rem {
template <class T> struct fmt;
template <> struct fmt<float> {
  using bits_t = uint32_t;
  static constexpr int shift = 23;
  static constexpr bits_t sign = 0x80000000u;
  static constexpr bits_t split = 0xFFFFF000u;     // head: the top 12 significant bits
  static constexpr bits_t tiny = 0x0C000000u;      // 2^-103
  static constexpr bits_t fmod_big = 0x7E900000u;  // 1.125 * 2^126
  static constexpr bits_t rem_big = 0x79800000u;   // 2^116
  static constexpr bits_t gap = 0xBu;              // exponent fields apart
  static constexpr bits_t exp = 0x7F800000u;
  static constexpr bits_t past_gap = 0x45800000u;  // 2^(gap + 1)
  static constexpr bits_t gap_top = 0x7A000000u;   // 2^117: no finite x is gap + 1 binades above
  static constexpr bits_t one = 0x3F800000u;
};
template <> struct fmt<double> {
  using bits_t = uint64_t;
  static constexpr int shift = 52;
  static constexpr bits_t sign = 0x8000000000000000ull;
  static constexpr bits_t split = 0xFFFFFFFFF8000000ull;  // head: the top 26 significant bits
  static constexpr bits_t tiny = 0x0330000000000000ull;   // 2^-972
  static constexpr bits_t fmod_big = 0x7FF0000000000000ull;  // infinity
  static constexpr bits_t rem_big = 0x7E50000000000000ull;   // 2^998
  static constexpr bits_t gap = 0x19ull;
  static constexpr bits_t exp = 0x7FF0000000000000ull;
  static constexpr bits_t past_gap = 0x4190000000000000ull;  // 2^(gap + 1)
  static constexpr bits_t gap_top = 0x7E60000000000000ull;   // 2^999
  static constexpr bits_t one = 0x3FF0000000000000ull;
};
template <class V> using F = fmt<elem_t<V>>;
template <class V, typename lanes_of<V>::bits B> QARN_INLINE V c() { return kc<V, B>(); }

// The exponent fields of |x| and |y| more than `gap` apart.  In 128-bit registers
// on the fields as integers.  In 256-bit ones, where AVX has integer work on halves
// only (eleven operations a register), on floats: |x| at least y's power of two
// times 2^(gap + 1).  That is the same test wherever y's field is not zero and
// |y| lies below gap_top (where the power overflows, an infinite or NaN x still
// passes it, as it must up to there).  A zero or subnormal y is below the tiny
// bound and its lane special anyway, and so is a |y| from gap_top up where the
// family's bound `Big` lies below it; fmod's lies above, so there the lanes of
// such a y leave the float test (an and and a compare more).
template <class V, typename lanes_of<V>::bits Big> QARN_INLINE V gap_over(V ax, V ay) {
  using Fm = F<V>;
  if constexpr (sizeof(V) == 16) return icmpgt(isub(ishr<Fm::shift>(ax), ishr<Fm::shift>(ay)), c<V, Fm::gap>());
  else {
    V over = cmp<_CMP_NLT_UQ>(ax, (ay & c<V, Fm::exp>()) * c<V, Fm::past_gap>());
    if constexpr (Big > Fm::gap_top) return over & cmp<_CMP_LT_OQ>(ay, c<V, Fm::gap_top>());
    else return over;
  }
}

// |y| below the tiny bound or not below `Big` (NaN included), or an exponent gap
// above the limit.
template <class V, typename lanes_of<V>::bits Big> QARN_INLINE V special(V x, V y) {
  using Fm = F<V>;
  V ax = vabs(x), ay = vabs(y);
  V out = cmp<_CMP_LT_OQ>(ay, c<V, Fm::tiny>()) | cmp<_CMP_NLT_UQ>(ay, c<V, Big>());
  return out | gap_over<V, Big>(ax, ay);
}

// A zero remainder becomes a zero of x's sign (sx: x's sign bit alone).
template <class V> QARN_INLINE V zero_sign(V r, V sx) {
  return blend(cmp<_CMP_EQ_OQ>(r, V{}), r, sx);
}

// The float band: |x| below |y| by more than 109 binades, where the quotient x/y
// may be subnormal and the divider finishes it slowly (5x the lane's time for
// fmod).  There the main path's quotient is 0 (|x/y| < 2^-109; rounded up or down,
// remainder's second candidate takes it back to 0) and its products with y's parts
// are zeros, so the remainder is x - 0 (x, or a zero where a subnormal x is
// flushed) with x's sign on a zero, and remquo's quotient is 0.  The band's lanes
// are exactly those the test with the band adds to special(), so that none of them
// reaches the lane fallback.  (The limit sits where few ordinary operands mix
// with the band in one call: a call with both takes the cold part.)
// In 128-bit registers the band is on the exponent fields, gap < -109, and shares
// the gap's compare: gap + 109 - 2^31 is above 11 + 109 - 2^31 where the gap
// exceeds 11, and wraps to the top where it is below -109.  In 256-bit registers
// (integer work in halves) it is |x|*2^110 < |y|, a product and a float compare,
// beside gap_over's float operations: less than the integer gap test alone cost
// there, so the band is at every width.
template <class V> QARN_INLINE V far_below(V ax, V ay) {
  if constexpr (sizeof(V) == 16) return icmpgt(kc<V, 0xFFFFFF93u>(), isub(ishr<23>(ax), ishr<23>(ay)));
  else return cmp<_CMP_LT_OQ>(ax * kc<V, 0x76800000u>(), ay);
}
template <class V, typename lanes_of<V>::bits Big> QARN_INLINE V special_band(V x, V y) {
  using Fm = F<V>;
  static_assert(sizeof(elem_t<V>) == 4 && Fm::gap == 0xBu, "the band is float's");
  V ax = vabs(x), ay = vabs(y);
  V out = cmp<_CMP_LT_OQ>(ay, c<V, Fm::tiny>()) | cmp<_CMP_NLT_UQ>(ay, c<V, Big>());
  if constexpr (sizeof(V) == 16) {
    V gap = isub(ishr<Fm::shift>(ax), ishr<Fm::shift>(ay));
    return out | icmpgt(iadd(gap, kc<V, 0x8000006Du>()), kc<V, 0x80000078u>());
  } else {
    return out | gap_over<V, Big>(ax, ay) | far_below(ax, ay);
  }
}
// The band's lanes: far below y, and y neither tiny nor large (the gap limit
// cannot hold with them).
template <class V, typename lanes_of<V>::bits Big> QARN_INLINE V band(V x, V y) {
  using Fm = F<V>;
  V ax = vabs(x), ay = vabs(y);
  V bad = cmp<_CMP_LT_OQ>(ay, c<V, Fm::tiny>()) | cmp<_CMP_NLT_UQ>(ay, c<V, Big>());
  return andnot(far_below(ax, ay), bad);
}
// Their remainder: x - 0 as the main path forms it, a zero given x's sign.
template <class V> QARN_INLINE V band_rem(V x) {
  V z{};
  asm("" : "+x"(z.v));  // a zero the compiler cannot fold away: x - 0 flushes like the main path
  return zero_sign(x - z, x & c<V, F<V>::sign>());
}

// y's head (the low bits of the pattern cleared) and tail.
template <class V> QARN_INLINE void split(V y, V& yh, V& yl) {
  yh = y & c<V, F<V>::split>();
  yl = y - yh;
}

// remainder's r and the correction of its quotient: q rounded in the caller's
// mode, r = x - q*y, then one step toward the nearest quotient where that gives a
// smaller remainder (|r| above |y|/2).  `step` is +-1 in the corrected lanes (the
// sign of r against the sign of y) and +0 elsewhere.
//
// Rounded to nearest, q is the nearest quotient or, next to a half-integral x/y,
// its neighbour, and x - q*y is exact.  Rounded up or down, q can be one step off
// anywhere, and x - q*y may then need more bits than it has (x = -1 + 2^-24,
// y = 2 rounding down: q = -1, x + 2 rounds to exactly 1 = |y|/2).  So the other
// candidate x - (q + step)*y is formed exactly in the same way, and the smaller
// of the two is the remainder: the nearest quotient's is exact and below |y|/2,
// the other one's is at least |y|/2 however it rounds, and at a tie, where both
// are exact, the first quotient stays.
//
// The quotient is that of d: x itself, or x with the band's lanes cleared (their
// quotient a zero, their remainder x, see fmod_k::main_band).
template <class V> QARN_INLINE V ieee_rem(V x, V y, V& q, V& step, V d) {
  using Fm = F<V>;
  q = vround<_MM_FROUND_CUR_DIRECTION | _MM_FROUND_NO_EXC>(d / y);
  V yh, yl;
  split(y, yh, yl);
  V r = (x - q * yh) - q * yl;
  V s = c<V, Fm::one>() | ((r ^ y) & c<V, Fm::sign>());
  V q2 = q + s;
  V r2 = (x - q2 * yh) - q2 * yl;
  V fix = cmp<_CMP_LT_OQ>(vabs(r2), vabs(r));
  step = fix & s;
  r = blend(fix, r, r2);
  return zero_sign(r, x & c<V, Fm::sign>());
}
}  // namespace rem

template <class T, var Vr> struct fmod_k {
  using elem = T;
  static constexpr bool test_shares_main = true;  // |x| and |y| (by-reference form)
  template <class V> static QARN_INLINE V main(V x, V y) { return with_dividend(x, y, x); }
  // The band's lanes t in the same pass: their dividend is +0, so the quotient is
  // a zero and the remainder |x| - 0 - 0 with x's sign, which is x, as tiny_fix
  // has it under the ordinary environment; the division meets no subnormal quotient.
  template <class V> static QARN_INLINE V main_band(V x, V y, V t) { return with_dividend(x, y, andnot(x, t)); }
  // The main path with the quotient of d (x itself, or x with the band's lanes cleared).
  template <class V> static QARN_INLINE V with_dividend(V x, V y, V d) {
    using Fm = rem::F<V>;
    V sx = x & rem::c<V, Fm::sign>();
    V ax = vabs(x), ay = vabs(y);
    V q = vround<_MM_FROUND_TO_ZERO>(d / y);
    V yh, yl;
    rem::split(y, yh, yl);
    // Both products are |q|*|y-part|: the sign of x folded into the divisor
    // cancels the sign of q.
    V r = (ax - q * (yh ^ sx)) - q * (yl ^ sx);
    // The quotient rounded up to the next integer: one divisor back.
    r = blend(cmp<_CMP_LT_OQ>(r, V{}), r, r + ay);
    // x's sign on the remainder; a NaN from an infinite or NaN x keeps its bits.
    return rem::zero_sign(r | sx, sx);
  }
  template <class V> static QARN_INLINE V special(V x, V y) { return rem::special<V, rem::F<V>::fmod_big>(x, y); }
  // Float: the band of x far below y (rem::band), whose remainder is x.
  template <int W> static constexpr bool band_at = sizeof(T) == 4;
  template <class V> static QARN_INLINE V special_band(V x, V y) { return rem::special_band<V, rem::F<V>::fmod_big>(x, y); }
  template <class V> static QARN_INLINE V tiny(V x, V y) { return rem::band<V, rem::F<V>::fmod_big>(x, y); }
  template <class V> static QARN_INLINE void tiny_fix(V x, V, V t, V& r) { r = blend(t, r, rem::band_rem(x)); }
};

template <class T, var Vr> struct remainder_k {
  using elem = T;
  static constexpr bool test_shares_main = true;  // |x| and |y| (by-reference form)
  template <class V> static QARN_INLINE V main(V x, V y) {
    V q, step;
    return rem::ieee_rem(x, y, q, step, x);
  }
  template <class V> static QARN_INLINE V main_band(V x, V y, V t) {
    V q, step;
    return rem::ieee_rem(x, y, q, step, andnot(x, t));
  }
  template <class V> static QARN_INLINE V special(V x, V y) { return rem::special<V, rem::F<V>::rem_big>(x, y); }
  template <int W> static constexpr bool band_at = sizeof(T) == 4;
  template <class V> static QARN_INLINE V special_band(V x, V y) { return rem::special_band<V, rem::F<V>::rem_big>(x, y); }
  template <class V> static QARN_INLINE V tiny(V x, V y) { return rem::band<V, rem::F<V>::rem_big>(x, y); }
  template <class V> static QARN_INLINE void tiny_fix(V x, V, V t, V& r) { r = blend(t, r, rem::band_rem(x)); }
};

// remainder, and the quotient it rounded to (at most 2^26 in magnitude on the
// main path) as an int.
template <class T, var Vr> struct remquo_k {
  using elem = T;
  using second = int32_t;
  template <class V> static QARN_INLINE V main(V x, V y, idx_t<V>& k) { return with_dividend(x, y, x, k); }
  // The band's quotient is a zero, and step 0 there: k = 0, as tiny_fix has it.
  template <class V> static QARN_INLINE V main_band(V x, V y, V t, idx_t<V>& k) {
    return with_dividend(x, y, andnot(x, t), k);
  }
  template <class V> static QARN_INLINE V with_dividend(V x, V y, V d, idx_t<V>& k) {
    V q, step;
    V r = rem::ieee_rem(x, y, q, step, d);
    k = to_idx(q + step);  // exact: an integer of at most 2^26
    return r;
  }
  template <class V> static QARN_INLINE V special(V x, V y) { return rem::special<V, rem::F<V>::rem_big>(x, y); }
  template <int W> static constexpr bool band_at = sizeof(T) == 4;
  template <class V> static QARN_INLINE V special_band(V x, V y) { return rem::special_band<V, rem::F<V>::rem_big>(x, y); }
  template <class V> static QARN_INLINE V tiny(V x, V y) { return rem::band<V, rem::F<V>::rem_big>(x, y); }
  // The band's remainder is x and its quotient 0.
  template <class V> static QARN_INLINE void tiny_fix(V x, V, V t, V& r, idx_t<V>& k) {
    r = blend(t, r, rem::band_rem(x));
    idx_t<V> m = low32(t);
    if constexpr (std::is_same_v<V, vf8>) k = {_mm_andnot_si128(m.lo, k.lo), _mm_andnot_si128(m.hi, k.hi)};
    else k = {_mm_andnot_si128(m.v, k.v)};
  }
};

}  // namespace qarn
