// log1p in float and double: main paths and the special-lane test.
//
// 1 + x is formed as a head u_hi and an exact tail u_lo: u_hi is u = 1 + x with its
// low bits cleared (so that c*y stays exact for the reciprocal c), except for tiny
// x, where u_hi = u itself (then c is a power of two and nothing needs clearing).
// The logarithm paths of explog/log.h then run on u_hi with the tail, scaled like
// u_hi, added to the reduced argument.  The sign of x is OR-ed into the result, so
// that log1p(-0) = -0.  Special lanes (x <= -1, huge, inf, NaN) go to the lane
// fallback, which runs the log fallback on 1 + x.
#pragma once
#include "explog/log.h"
#include "frame/band.h"

namespace qarn {

template <class T, var Vr> struct log1p_k;

template <var Vr> struct log1p_k<float, Vr> {
  using elem = float;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    V one = bits<V>(0x3F800000);
    V u = one + x;
    V res;
    if constexpr (Vr == var::def) {
      V small = cmp<_CMP_LT_OQ>(vabs(x), bits<V>(0x39800000));  // 2^-12
      V uh = blend(small, u & bits<V>(0xFFFFFF00), u);
      V ul = (one - uh) + x;
      V y = logk::mant(uh, 0x3B800000);  // 1.f * 2^-8
      V c = vround<0>(rcp_est(y));       // 128..256
      // R = c * 2^-(exponent of uh) - 8: uh*R = c*y exactly.
      V R = c * isub(bits<V>(0x7B000000), uh & bits<V>(0x7F800000));
      V r = (uh * R - one) + ul * R;
      V E = logk::expo(uh);
      auto t = lookup2<Lanes>(tab::L1Pf, rounded_idx<Lanes>(c, 128));
      V H = E * bits<V>(0x3F317200) + t.hi;
      V S = H + r;
      V err = r - (S - H);
      V Q = (r * r) * (bits<V>(0xBF000036) + bits<V>(0x3EAAAB39) * r);
      res = S + (((E * bits<V>(0x35BFBE00) + t.lo) + err) + Q);
    } else {
      V tail = (x - u) + one;
      V w = isub(u, bits<V>(0x3F2AAAAB));
      V e = cvt_int(isra<23>(w));
      V m = iadd(w & bits<V>(0x007FFFFF), bits<V>(0x3F2AAAAB));
      V scale = isub(one, w & bits<V>(0xFF800000));  // 2^-e
      V f = (m - one) + tail * scale;
      V P = f + (f * f) * (bits<V>(0xBF000000) +
                           f * (bits<V>(0x3EAA7160) + f * (bits<V>(0xBE88E8FE) + f * bits<V>(0x3E612933))));
      res = e * bits<V>(0x3F317218) + P;
    }
    return res | (x & bits<V>(0x80000000));
  }
  // The same test on the lane's pattern (width 1), default variant: positive
  // patterns above that of 2^118, negative ones below -(1 - 2^-24), NaN of either sign.
  static QARN_INLINE bool special_bits(uint32_t x) requires(Vr == var::def) {
    return x > (x >> 31 ? 0xBF7FFFFFu : 0x7A800000u);
  }
  // Tiny x, default variant (|x| below 2^-40, zeros and subnormals too): u = 1, so
  // uh = 1, the tail is 0 + x, c = 256, R = 1 and r is that tail; E*ln2_hi +
  // L1Pf[128].hi and E*ln2_lo + L1Pf[128].lo are both exactly 0, and the result is
  // r + Q, Q about -r^2/2, far below half an ulp of r: 0 + x with the sign of x, to
  // nearest (x itself, or a zero of x's sign where subnormal results are flushed).
  // The main path gets there through r^2, subnormal below 2^-63, and crawls; the
  // cold part gives that value.  (_native keeps no band: its subnormal square costs
  // it nothing measurable.)
  // At widths 2 to 4 the band's compare and or cost 0-4%.  At width 16, register by
  // register they cost 5-20% (timed and modelled); the hot test there takes both
  // registers at once, as double does (-0.5% and +1.6% timed, 6% modelled).
  template <int W> static constexpr bool band_at = true;
  template <class V> static QARN_INLINE V tiny(V x) requires(Vr == var::def) {
    return cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x2B800000u>());
  }
  template <int W> static constexpr bool pair_at = W == 16;
  template <class V> static QARN_INLINE V special_band_pair(V x0, V x1) requires(Vr == var::def) {
    return bands::pair_outside_or_below<V, 0xBF7FFFFFu, 0x7A800000u, 0x2B800000u>(x0, x1);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) requires(Vr == var::def) {
    r = blend(t, r, (bits<V>(0) + x) | (x & bits<V>(0x80000000)));
  }
  template <class V> static QARN_INLINE V special_band(V x) requires(Vr == var::def) { return special(x) | tiny(x); }
  static QARN_INLINE bool special_band_bits(uint32_t x) requires(Vr == var::def) {
    return special_bits(x) || (x & 0x7FFFFFFFu) < 0x2B800000u;
  }
  template <class V> static QARN_INLINE V special(V x) {
    if constexpr (Vr == var::def) {
      return cmp<_CMP_LT_OQ>(x, bits<V>(0xBF7FFFFF)) | cmp<_CMP_NLE_UQ>(x, bits<V>(0x7A800000));
    } else {
      V u = bits<V>(0x3F800000) + x;  // u not in [2^-126, 2^127)
      if constexpr (sizeof(V) == 16) return icmpgt(bits<V>(0x01800000), iadd(u, bits<V>(0x01000000)));
      else return cmp<_CMP_NGE_UQ>(u, bits<V>(0x00800000)) | cmp<_CMP_NLT_UQ>(u, bits<V>(0x7F000000));
    }
  }
};

template <var Vr> struct log1p_k<double, Vr> {
  using elem = double;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    V one = bits<V>(0x3FF0000000000000ull);
    V u = one + x;
    V small = cmp<_CMP_LT_OQ>(vabs(x), bits<V>(0x3E00000000000000ull));  // 2^-29
    V uh = blend(small, u & bits<V>(0xFFFFFFFFFFFFFC00ull), u);
    V ul = (one - uh) + x;
    V E = logk::expo(uh);
    V y = logk::mant(uh, 0x3F50000000000000ull);  // 1.f * 2^-10
    V c = vround<0>(rcp_est(y));                   // 512..1024
    // c * 2^-(exponent of uh) - 10, the factor that takes uh to c*y.
    V cs = c * isub(bits<V>(0x7F40000000000000ull), uh & bits<V>(0x7FF0000000000000ull));
    V r = (c * y - one) + ul * cs;  // c*y exact: y has 43 bits, c at most 10
    V res;
    if constexpr (Vr == var::def) {
      auto t = lookup2<Lanes>(tab::LDd, rounded_idx<Lanes>(c, 512));
      V H = E * bits<V>(0x3FE62E42FEFA0000ull) + t.hi;
      V S = H + r;
      V err = r - (S - H);
      V Q = logk::quintic_ln(r);
      res = S + (((E * bits<V>(0x3D7CF79ABC9E0000ull) + t.lo) + err) + Q);
    } else {
      V P = logk::cubic_ln(r);
      res = (P + lookup<Lanes>(tab::LNd, rounded_idx<Lanes>(c, 512))) + (E - logk::native_bias(c)) * bits<V>(0x3FE62E42FEFA39EFull);
    }
    return res | (x & bits<V>(0x8000000000000000ull));
  }
  static QARN_INLINE bool special_bits(uint64_t x) {
    return x > (x >> 63 ? 0xBFEFFFFFFFFFFFFFull : 0x7F3FFFFFFFFFF000ull);
  }
  // Tiny x (|x| below 2^-100, zeros and subnormals too): u = 1, the tail is 0 + x,
  // c = 1024, cs = 1 and r is that tail; the default path's H and the table's low
  // part with E*L_lo cancel exactly (the _native path's table entry and E - bias
  // are 0), and the polynomial adds about -r^2/2, far below half an ulp of r: the
  // result is 0 + x with the sign of x, to nearest (x itself, or a zero of x's sign
  // where subnormal results are flushed).  The main path gets there through r^2,
  // subnormal below 2^-511, and crawls; the cold part gives that value.
  // At every width; at 16, and at 8 in _native, the hot test takes two registers at
  // once (at 8 in _native that costs 2-3% timed, 5.5% modelled; register by
  // register it cost 10-30%, and the tiny slices crawled at 3.6x the main path).
  template <int W> static constexpr bool band_at = true;
  template <class V> static QARN_INLINE V tiny(V x) { return cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x39B0000000000000ull>()); }
  // Widths 16 (and 8 in _native) test two registers at once (the hot test only
  // asks whether any lane is special or in the band).  The magnitudes are the
  // test's own: shared with the main path's, they spilled.  (At width 8 the default
  // variant's test register by register is the faster: the pair cost it 6% timed.)
  template <int W> static constexpr bool pair_at = W == 16 || Vr != var::def;
  template <class V> static QARN_INLINE V special_band_pair(V x0, V x1) {
    return bands::pair_outside_or_below<V, 0xBFEFFFFFFFFFFFFFull, 0x7F3FFFFFFFFFF000ull, 0x39B0000000000000ull>(x0, x1);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    r = blend(t, r, (bits<V>(0) + x) | (x & bits<V>(0x8000000000000000ull)));
  }
  template <class V> static QARN_INLINE V special_band(V x) { return special(x) | tiny(x); }
  static QARN_INLINE bool special_band_bits(uint64_t x) {
    return special_bits(x) || (x & 0x7FFFFFFFFFFFFFFFull) < 0x39B0000000000000ull;
  }
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_LT_OQ>(x, bits<V>(0xBFEFFFFFFFFFFFFFull)) | cmp<_CMP_NLE_UQ>(x, bits<V>(0x7F3FFFFFFFFFF000ull));
  }
};

}  // namespace qarn
