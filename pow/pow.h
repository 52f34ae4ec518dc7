// pow and powr in float and double.  The two share their main paths (pow/powcore.h)
// and differ in the lane fallback, which gives each its results at the special
// operands (pow/pow_fallback.cpp).  A lane is special when x is not a positive
// normal finite number (the largest float included), when y is infinite or NaN
// (double: |y| >= 2^1017), or when the product of y and the logarithm leaves the
// path's range; there are no inline fix-ups.
//
//   powf default          ln x and e^z in double (LNd with a cubic, 2048 steps),
//                         rounded once to float: overflow and subnormal results
//                         come out of that rounding up to |y ln x| < 103.97
//   powf _native, _rm;    one float path: the logf _half logarithm, a cubic e^r
//   powrf _native, _half
//   powrf default         float double-word; the range test is on the head of z.
//                         Lanes with |y| >= 2^115 are special too: the 4097 split of
//                         such a y overflows, and x = 1 would give NaN instead of 1
//                         (for any other normal x, |y ln x| is far past the range)
//   pow, powr default     log2 x and y*log2 x in two words, exp2 by 128 steps
//   the other double      ln x with LNd and a quartic, e^z by 2048 steps and a
//   variants              linear term
#pragma once
#include "frame/band.h"
#include "pow/powcore.h"

namespace qarn {

namespace powk {

// Each path gives its result and the value its range test reads.
template <class V> struct res { V r, z; };

// powf default on four float lanes through double.
QARN_INLINE res<vd4> powf_wide4(vf4 x, vf4 y) {
  vd4 z = ln_native<false>(widen_pd(x)) * widen_pd(y);
  return {exp_2048(z, tab::X2048f), z};
}
template <int Lanes = 0, class V> QARN_INLINE V powf_wide(V x, V y, bool want_range) {
  if constexpr (Lanes == 1) {
    // Width 1: the one lane in double takes two lanes of an xmm register, not four
    // of a ymm one.  Result lanes 2-3 come out zero: never special, never returned.
    vd2 z = ln_native<false, 1>(vd2{_mm_cvtps_pd(x.v)}) * vd2{_mm_cvtps_pd(y.v)};
    if (!want_range) return vf4{_mm_cvtpd_ps(exp_2048<1>(z, tab::X2048f).v)};
    return vf4{_mm_cvtpd_ps(cmp<_CMP_NLT_UQ>(vabs(z), kc<vd2, 0x4059FE3700000000ull>()).v)};
  }
  auto one = [&](vf4 a, vf4 b) __attribute__((always_inline)) {
    res<vd4> t = powf_wide4(a, b);
    if (!want_range) return narrow_ps(t.r);
    // All-ones lanes narrow to a NaN with its sign bit set: the mask survives.
    return narrow_ps(cmp<_CMP_NLT_UQ>(vabs(t.z), kc<vd4, 0x4059FE3700000000ull>()));
  };
  if constexpr (std::is_same_v<V, vf4>) return one(x, y);
  else return join8(one(lo4(x), lo4(y)), one(hi4(x), hi4(y)));
}

// The short float path.
template <class V> QARN_INLINE res<V> powf_short(V x, V y) {
  V z = ln_half(x) * y;
  V S = z * kc<V, 0x3FB8AA3Bu>() + kc<V, 0x4B400000u>();
  V r = z - (S - kc<V, 0x4B400000u>()) * kc<V, 0x3F317218u>();
  V p = kc<V, 0x3F800000u>() + r * (kc<V, 0x3F8003DEu>() + r * (kc<V, 0x3F00F2D6u>() + r * kc<V, 0x3E2963ACu>()));
  return {expk::add_exp23(p, S), z};
}
template <class V> QARN_INLINE V short_range(V z) { return cmp<_CMP_NLE_UQ>(vabs(z), kc<V, 0x42AE9A00u>()); }

// The short path's tiny band: |y| below 2^-110, zeros and subnormals too, for a
// positive normal finite x (every other x is special).  There |z| = |y ln x| is
// below 2^-103: the shifter sum is the shifter itself, r = z, and the cubic is 1
// plus about r, which rounds to 1; the result is 1 whether or not a subnormal z is
// flushed.  Where z is subnormal the multiplier takes its slow path (2.3x the
// lane's time); above 2^-110, z and r*c3 stay normal for every x with |ln x| >=
// 2^-13.  The band's lanes go to the cold part, which gives them 1.  (At width 16
// the band's compare was too dear beside the integer tests of x and y, which AVX
// runs on 128-bit halves; with those tests on floats in 256-bit registers the
// whole test, band included, costs less than it did without the band.)
template <class V> QARN_INLINE V short_tiny(V x, V y) {
  return andnot(cmp<_CMP_LT_OQ>(vabs(y), kc<V, 0x08800000u>()), bad_x_float(x));
}
// |y| below 2^-110 or not finite.  In 128-bit registers one integer compare: |y|'s
// pattern plus 2^31 less 2^-110's, as a signed number, above the image of the
// largest finite float.  In 256-bit registers (integer work in halves) two float
// compares: big_y_float's and the band's.
template <class V> QARN_INLINE V short_y_band(V y) {
  if constexpr (sizeof(V) == 16) return icmpgt(iadd(vabs(y), kc<V, 0x77800000u>()), kc<V, 0xF6FFFFFFu>());
  else return big_y_float<0x7F800000u>(y) | cmp<_CMP_LT_OQ>(vabs(y), kc<V, 0x08800000u>());
}
// powrf default's band: |y| below 2^-33 for a positive normal finite x.  There
// |z| = |y ln x| is below 2^-26: the double-word path's S is the shifter, n = 0,
// r = z_hi + z_lo and 1 + r*(C1 + ...) rounds to 1, flushed or not.  The products
// of y's and ln x's split parts go subnormal far above the short path's band
// (up to about |y ln x| = 2^-100), hence the wider band.
template <class V> QARN_INLINE V dw_tiny(V x, V y) {
  return andnot(cmp<_CMP_LT_OQ>(vabs(y), kc<V, 0x2F000000u>()), bad_x_float(x));
}
// With the test of big y: |y| below 2^-33 or from 2^115 on (as short_y_band).
template <class V> QARN_INLINE V dw_y_band(V y) {
  if constexpr (sizeof(V) == 16) return icmpgt(iadd(vabs(y), kc<V, 0x51000000u>()), kc<V, 0xC9FFFFFFu>());
  else return big_y_float<0x79000000u>(y) | cmp<_CMP_LT_OQ>(vabs(y), kc<V, 0x2F000000u>());
}

// powrf default.
template <class V> QARN_INLINE res<V> powrf_dw(V x, V y) {
  dw<V> z = mul_dw(ln_dw(x), y);
  return {exp_dw<0x3F7FFFFEu, 0x3EFFFF34u, 0x3E2AACACu, 0x3D2B8392u, 0x3C07D9FEu>(z), z.hi};
}

// Double default.
template <int Lanes = 0, class V> QARN_INLINE res<V> pow_dd(V x, V y) {
  dw<V> t = mul_dd(log2_dd<Lanes>(x), y);
  return {exp2_dd<Lanes>(t), t.hi};
}
// Double short paths.
template <int Lanes = 0, class V> QARN_INLINE res<V> pow_short(V x, V y) {
  V z = ln_native<true, Lanes>(x) * y;
  return {exp_2048<Lanes>(z, tab::X2048d), z};
}

template <class V> QARN_INLINE V big_y_double(V y) {
  return cmp<_CMP_NLT_UQ>(vabs(y), kc<V, 0x7F80000000000000ull>());
}

// Main path and special test of both families in one precision and variant.
template <class T, var Vr> struct pow_main;
template <var Vr> struct pow_main<float, Vr> {
  static constexpr bool wide = Vr == var::def;  // powf default only; powrf default is its own
  template <class V, int Lanes = 0> static QARN_INLINE V main(V x, V y) {
    if constexpr (wide) return powf_wide<Lanes>(x, y, false);
    else return powf_short(x, y).r;
  }
  template <class V, int Lanes = 0> static QARN_INLINE V special(V x, V y) {
    V xy = bad_x_float(x) | big_y_float<0x7F800000u>(y);
    if constexpr (wide) return xy | powf_wide<Lanes>(x, y, true);
    else return xy | short_range(powf_short(x, y).z);
  }
  // special() in two parts for width 1: the operands' patterns (x outside
  // [2^-126, 0x7F7FFFFF), |y| infinite or NaN), and the product's range.
  static QARN_INLINE bool special_bits(uint32_t x, uint32_t y) {
    return (x - 0x00800000u >= 0x7EFFFFFFu) | ((y & 0x7FFFFFFFu) >= 0x7F800000u);
  }
  // The patterns' part with the short variants' tiny band (see short_tiny).
  static QARN_INLINE bool special_band_bits(uint32_t x, uint32_t y) requires(!wide) {
    return (x - 0x00800000u >= 0x7EFFFFFFu) | ((y & 0x7FFFFFFFu) - 0x08800000u >= 0x7F800000u - 0x08800000u);
  }
  template <class V, int Lanes = 0> static QARN_INLINE V special_rest(V x, V y) {
    if constexpr (wide) return powf_wide<Lanes>(x, y, true);
    else return short_range(powf_short(x, y).z);
  }
  // The tiny band of the short variants, and the test with it.
  template <int W> static constexpr bool band_at = !wide;

  template <class V> static QARN_INLINE V tiny(V x, V y) { return short_tiny(x, y); }
  template <class V> static QARN_INLINE void tiny_fix(V, V, V t, V& r) { r = blend(t, r, kc<V, 0x3F800000u>()); }
  template <class V> static QARN_INLINE V special_band(V x, V y) {
    return bad_x_float(x) | short_y_band(y) | short_range(powf_short(x, y).z);
  }
};
template <var Vr> struct pow_main<double, Vr> {
  template <class V, int Lanes = 0> static QARN_INLINE V main(V x, V y) {
    if constexpr (Vr == var::def) return pow_dd<Lanes>(x, y).r;
    else return pow_short<Lanes>(x, y).r;
  }
  template <class V, int Lanes = 0> static QARN_INLINE V special(V x, V y) {
    V xy = bad_x_double(x) | big_y_double(y);
    if constexpr (Vr == var::def)
      return xy | cmp<_CMP_NLT_UQ>(vabs(pow_dd<Lanes>(x, y).z), kc<V, 0x408F3FFF00000000ull>());
    else
      return xy | cmp<_CMP_NLT_UQ>(vabs(pow_short<Lanes>(x, y).z), kc<V, 0x4086232B00000000ull>());
  }
  // special() in two parts for width 1: the operands' patterns (x not a positive
  // normal finite number, |y| >= 2^1017 or NaN), and the product's range.
  static QARN_INLINE bool special_bits(uint64_t x, uint64_t y) {
    return logk::not_normal_positive_bits(x) | ((y & 0x7FFFFFFFFFFFFFFFull) >= 0x7F80000000000000ull);
  }
  template <class V, int Lanes = 0> static QARN_INLINE V special_rest(V x, V y) {
    if constexpr (Vr == var::def)
      return cmp<_CMP_NLT_UQ>(vabs(pow_dd<Lanes>(x, y).z), kc<V, 0x408F3FFF00000000ull>());
    else
      return cmp<_CMP_NLT_UQ>(vabs(pow_short<Lanes>(x, y).z), kc<V, 0x4086232B00000000ull>());
  }
  // The default variant's tiny band: |y| below 2^-900, zeros and subnormals too,
  // for a positive normal finite x (every other x is special).  There |y log2 x|
  // is below 2^-889, so the double-word exponential of it is 1 plus far less than
  // half an ulp, and the result is 1 to nearest, flushed or not.  Below about
  // 2^-945 the split products of y and log2 x go subnormal and the main path
  // crawls (on some processors 7x its time).  The test is one compare and an or on
  // a path of over a hundred operations.  (The other variants' single product
  // y*ln x meets no subnormal step above y's own.)
  template <int W> static constexpr bool band_at = Vr == var::def;
  static constexpr bool calm_test = true;  // the range test forms y*log2 x: not on the band's lanes
  template <class V> static QARN_INLINE V tiny(V x, V y) requires(Vr == var::def) {
    return andnot(cmp<_CMP_LT_OQ>(vabs(y), kc<V, 0x07B0000000000000ull>()), bad_x_double(x));
  }
  template <class V> static QARN_INLINE void tiny_fix(V, V, V t, V& r) requires(Vr == var::def) {
    r = blend(t, r, kc<V, 0x3FF0000000000000ull>());
  }
  template <class V, int Lanes = 0> static QARN_INLINE V special_band(V x, V y) requires(Vr == var::def) {
    return special_band(x, y, pow_dd<Lanes>(x, y).z);
  }
  // The result and the test at once (the frame's fused form).  The band's lanes
  // (and those of infinite or huge y) enter the double-word path with y = 0: they
  // leave for the cold part whatever the path gives them, and a tiny y would make
  // the hot part crawl on the way.  (Computed apart, the test's double-word product
  // was not shared with the main path's at width 16, which then formed both: +53%.)
  // Not at width 1, whose hot part tests the operands' patterns in integer
  // registers first and reads its tables once for its one lane.
  template <int W> static constexpr bool fused_at = W != 1;
  template <class V> static QARN_INLINE V main_special(V x, V y, V& sp) requires(Vr == var::def) {
    V yb = bands::below_or_above<V, 0x07B0000000000000ull, 0x7F7FFFFFFFFFFFFFull, 0x7850000000000000ull,
                                 0xF7CFFFFFFFFFFFFFull>(y);
    res<V> p = pow_dd<0>(x, andnot(y, yb));
    sp = bad_x_double(x) | yb | cmp<_CMP_NLT_UQ>(vabs(p.z), kc<V, 0x408F3FFF00000000ull>());
    return p.r;
  }
  template <class V> static QARN_INLINE V special_band(V x, V y, V z) requires(Vr == var::def) {
    return bad_x_double(x) |
           bands::below_or_above<V, 0x07B0000000000000ull, 0x7F7FFFFFFFFFFFFFull, 0x7850000000000000ull,
                                 0xF7CFFFFFFFFFFFFFull>(y) |
           cmp<_CMP_NLT_UQ>(vabs(z), kc<V, 0x408F3FFF00000000ull>());
  }
  // The patterns' part with the band (width 1): |y| below 2^-900 or at least 2^1017.
  static QARN_INLINE bool special_band_bits(uint64_t x, uint64_t y) requires(Vr == var::def) {
    return logk::not_normal_positive_bits(x) |
           ((y & 0x7FFFFFFFFFFFFFFFull) - 0x07B0000000000000ull >= 0x7F80000000000000ull - 0x07B0000000000000ull);
  }
};

}  // namespace powk

template <class T, var Vr> struct pow_k;
template <var Vr> struct pow_k<float, Vr> : powk::pow_main<float, Vr> {
  using elem = float;
};
template <var Vr> struct pow_k<double, Vr> : powk::pow_main<double, Vr> {
  using elem = double;
};

template <class T, var Vr> struct powr_k;
template <var Vr> struct powr_k<float, Vr> {
  using elem = float;
  template <class V> static QARN_INLINE V main(V x, V y) {
    if constexpr (Vr == var::def) return powk::powrf_dw(x, y).r;
    else return powk::powf_short(x, y).r;
  }
  template <class V> static QARN_INLINE V special(V x, V y) {
    V bx = powk::bad_x_float(x);
    if constexpr (Vr == var::def)
      return bx | powk::big_y_float<0x79000000u>(y) |
             cmp<_CMP_NLE_UQ>(vabs(powk::powrf_dw(x, y).z), kc<V, 0x42819F00u>());
    else
      return bx | powk::big_y_float<0x7F800000u>(y) | powk::short_range(powk::powf_short(x, y).z);
  }
  // _native and _half: pow's tiny band (powk::short_tiny); the default variant its
  // own (powk::dw_tiny) up to width 8.  The result there is 1.
  template <int W> static constexpr bool band_at = Vr != var::def || W != 16;
  // Default variant at widths 2 to 8: the result and the test at once, the band's
  // lanes (and those of huge or infinite y) entering the double-word path with
  // y = 0, so that they do not crawl in it on their way to the cold part.  (At 16
  // that cost 9%.)  Width 1 tests the patterns first.
  template <int W> static constexpr bool fused_at = W != 1 && W != 16;
  static constexpr bool calm_test = Vr == var::def;
  template <class V> static QARN_INLINE V main_special(V x, V y, V& sp) requires(Vr == var::def) {
    V yb = powk::dw_y_band(y);
    auto p = powk::powrf_dw(x, andnot(y, yb));
    sp = powk::bad_x_float(x) | yb | cmp<_CMP_NLE_UQ>(vabs(p.z), kc<V, 0x42819F00u>());
    return p.r;
  }
  template <class V> static QARN_INLINE V tiny(V x, V y) {
    if constexpr (Vr == var::def) return powk::dw_tiny(x, y);
    else return powk::short_tiny(x, y);
  }
  template <class V> static QARN_INLINE void tiny_fix(V, V, V t, V& r) { r = blend(t, r, kc<V, 0x3F800000u>()); }
  template <class V> static QARN_INLINE V special_band(V x, V y) {
    if constexpr (Vr == var::def)
      return powk::bad_x_float(x) | powk::dw_y_band(y) |
             cmp<_CMP_NLE_UQ>(vabs(powk::powrf_dw(x, y).z), kc<V, 0x42819F00u>());
    else
      return powk::bad_x_float(x) | powk::short_y_band(y) | powk::short_range(powk::powf_short(x, y).z);
  }
};
template <var Vr> struct powr_k<double, Vr> : powk::pow_main<double, Vr> {
  using elem = double;
};

}  // namespace qarn
