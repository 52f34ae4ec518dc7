// exp, exp2, exp10 in float and double: main paths, special-lane tests, inline
// fix-ups.  One kernel per family; the variant picks the main path, and all
// variants share the special test and the lane fallback (explog/exp_fallback.cpp).
//
// Accuracy measured against MPFR (tests/test_accuracy.cpp, registry bounds):
//   expf   default/_rm: T4 step + degree-4, < 1 ulp    _native/_half: cubic in the fraction of x*log2(e)
//   exp    default: 64 steps + degree-5, < 1 ulp         others: 128 steps + quadratic
//   exp2f  default/_rm: 64 (hi,lo) steps + quadratic     _native/_half: cubic
//   exp2   default: 64 steps + degree-5                  others: degree-6, no table
//   exp10f default: 128 steps + quadratic                others: cubic in the fraction of x*log2(10)
//   exp10  default: 128 steps + degree-5                 others: degree-6, no table
// The integer m is added to the result's exponent field straight from the
// shifter sum, which holds k in its low bits (two's complement, so negative m
// lowers the exponent); this is exact in the main path's range.
//
// In 256-bit registers (no integer add there) the hot part multiplies by a factor
// 2^k instead (hot_main): the add takes the result apart into 128-bit halves,
// while the factor comes from S alone (its halves shifted while the polynomial
// runs) and costs one multiply.  The shifter gains the exponent bias in an even
// number of its units, so that S - C, f or r (ties included) and the step's index
// are main()'s; S's low bits shifted into the exponent field are then the factor's
// pattern.  Where a table splits k into steps of 1/64 or 1/128, the bias is 127
// (1023) whole units, an even number of steps, and the factor 2^k; where the path
// steps by whole k the bias is 128 (1024; 127 would be odd), the factor 2^(k+1),
// and every coefficient of the polynomial is halved, which gives its exact half
// wherever its steps stay normal (above the tiny band's bound).
// A product by a power of two is the integer add's value wherever that value is
// a normal number.  With a table step the value before the factor lies within
// 2^(+-1/64) of a step, and at the lowest k the main path reaches the reduced
// argument is not negative (the range bound lies below that k's edge, -126 log(2)
// for expf, -1022 log(2) for exp, in every rounding direction), so it is at least
// 1 there.  Without one the shifter's rounding puts f anywhere in (-1, 1) under a
// directed rounding, where the value may fall below 1/2; those hot paths test a
// lower bound (hot_special), at which the lowest k comes with f >= 0 and the next
// with f >= -1/2 in every direction, and send the lanes above it to the cold part,
// whose main() gives them the integer add's bits.
#pragma once
#include "frame/band.h"
#include "frame/frame.h"
#include "frame/variant.h"
#include "tables/exp_tables.h"

namespace qarn {

namespace expk {
// Float paths add n (from S = t + 1.5*2^23) to the exponent: the low 9 bits of S.
template <class V> QARN_INLINE V add_exp23(V p, V S) { return iadd(p, ishl<23>(S)); }
// Double paths with k in S's low bits, N = 2^B steps per octave: m = k >> B lands in
// bits 52-63 after shifting left 52 - B and clearing the fraction bits.  Taken as
// soon as S exists, so S need not stay live through the polynomial.
template <int B, class V> QARN_INLINE V exp52(V S) { return ishl<52 - B>(S) & kc<V, 0xFFF0000000000000ull>(); }
// The cubic of expf and exp10f _native/_half, and its exact half (every
// coefficient's exponent one lower) for the hot part's factor 2^(k+1).
template <class V> QARN_INLINE V cubic2(V f) {
  return ((kc<V, 0x3D63582B>() * f + kc<V, 0x3E77D66A>()) * f + kc<V, 0x3F317422>()) * f + kc<V, 0x3F800000>();
}
template <class V> QARN_INLINE V cubic2_half(V f) {
  return ((kc<V, 0x3CE3582B>() * f + kc<V, 0x3DF7D66A>()) * f + kc<V, 0x3EB17422>()) * f + kc<V, 0x3F000000>();
}
// c0 + f*(c1 + f*(c2 + ...)), Horner's order, the coefficients as double patterns
// (the short polynomials of exp2 and exp10, and their halves).
template <uint64_t C0, uint64_t... Cs, class V> QARN_INLINE V horner(V f) {
  if constexpr (sizeof...(Cs) == 0) return kc<V, C0>();
  else return kc<V, C0>() + f * horner<Cs...>(f);
}
}  // namespace expk

template <class T, var Vr> struct exp_k;

template <var Vr> struct exp_k<float, Vr> {
  using elem = float;

  // main(): k added to the exponent field; form<true>: the hot part's factor, for
  // _native and _half (the default variant and _rm multiply by theirs already).
  template <bool Factor, class V> static QARN_INLINE V form(V x) {
    if constexpr (Vr == var::def || Vr == var::rm) {
      V k = vround<0>(x * kc<V, 0x40B8AA3B>());                       // x * 4/ln2
      V r = (x - k * kc<V, 0x3E317000>()) - k * kc<V, 0x3705FDF4>();  // ln2/4 in two pieces
      V S = k + kc<V, 0x4B4001FC>();                                    // 1.5*2^23 + 4*127
      V s = ((r * r) * (kc<V, 0x3EFFFFFF>() + r * (kc<V, 0x3E2ABB12>() + r * kc<V, 0x3D2ABB12>())) +
             permute4(tab::D4f, S)) + r;
      V t = permute4(tab::T4f, S);
      return (t + t * s) * (ishl<21>(S) & kc<V, 0x7F800000>());        // * 2^floor(k/4)
    } else {
      constexpr uint32_t C = Factor ? 0x4B400080u : 0x4B400000u;  // 1.5*2^23 (+ 128)
      V t = x * kc<V, 0x3FB8AA3B>();
      V S = t + kc<V, C>();
      V f = t - (S - kc<V, C>());
      if constexpr (Factor) return expk::cubic2_half(f) * ishl<23>(S);
      else return expk::add_exp23(expk::cubic2(f), S);
    }
  }
  template <class V> static QARN_INLINE V main(V x) { return form<false>(x); }
  // The hot part's factor (see the top of the file); _native and _half test
  // |x| <= 86.5 (|t| <= 124.8).
  template <class V> static QARN_INLINE V hot_special(V x) {
    if constexpr (sizeof(V) == 32 && Vr != var::def && Vr != var::rm)
      return bands::below_or_above<V, 0x0D800000u, 0x42AD0000u, 0x72800000u, 0xB52D0000u>(x);
    else return special_band(x);
  }
  template <class V> static QARN_INLINE V hot_special_pair(V x0, V x1) {
    if constexpr (Vr != var::def && Vr != var::rm) return bands::pair_below_or_above<V, 0x0D800000u, 0x42AD0000u>(x0, x1);
    else return special_band_pair(x0, x1);
  }
  template <class V> static QARN_INLINE V hot_main(V x) {
    if constexpr (sizeof(V) != 32 || Vr == var::def || Vr == var::rm) return main(x);
    else return form<true>(x);
  }
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x42AEAC4F>()); }
  // The same on one lane's pattern: |x| above the bound, infinities and NaNs.
  static QARN_INLINE bool special_bits(uint32_t x) { return (x & 0x7FFFFFFFu) > 0x42AEAC4Fu; }
  // Tiny x, zeros and subnormals too: the result is 1.  Default and _rm: k = 0 and
  // r = x (or 0 where subnormal results are flushed), r^2 times the polynomial lies
  // far below half an ulp of r (below 2^-40 it is at most 2^-80), D4[0] = 0, so s is
  // r and t + t*s = 1 + r rounds to 1 (r below 2^-25).  _native and _half: f = t =
  // x*log2(e), the cubic is 1 + (about 0.69 f) and rounds to 1, and the shifter sum
  // adds 0 to the exponent.  Where the main path's products go subnormal (r^2 below
  // 2^-63, x*log2(e) below 2^-126) it crawls; below the bound the cold part gives 1.
  // At width 16 the hot test takes both registers at once (special_band_pair).
  // That costs 0-3% timed on an Intel processor (where the crawl is 15-23x the
  // main path: an assist of over a hundred cycles per subnormal result), 2.5-10%
  // on an AMD one (where the crawl was 2.5-4x).
  template <int W> static constexpr bool band_at = true;
  template <class V> static QARN_INLINE V special_band_pair(V x0, V x1) {
    if constexpr (tiny_bound == 0x2B800000u) return bands::pair_below_or_above<V, 0x2B800000u, 0x42AEAC4Fu>(x0, x1);
    else return bands::pair_below_or_above<V, 0x0D800000u, 0x42AEAC4Fu>(x0, x1);
  }
  static constexpr uint32_t tiny_bound = Vr == var::def || Vr == var::rm ? 0x2B800000u : 0x0D800000u;  // 2^-40, 2^-100
  template <class V> static QARN_INLINE V tiny(V x) {
    if constexpr (tiny_bound == 0x2B800000u) return cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x2B800000>());
    else return cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x0D800000>());
  }
  template <class V> static QARN_INLINE void tiny_fix(V, V t, V& r) { r = blend(t, r, kc<V, 0x3F800000>()); }
  // The test with the band.  In 128-bit registers one integer compare: |x|'s
  // pattern plus 2^31 - bound is, as a signed number, above 0x42AEAC4F's image
  // exactly when |x| lies below the tiny bound or above 0x42AEAC4F (or is a NaN).
  // In 256-bit registers (no integer compare) two float compares.
  template <class V> static QARN_INLINE V special_band(V x) {
    V a = vabs(x);
    if constexpr (std::is_same_v<V, vf4>) {
      if constexpr (tiny_bound == 0x2B800000u) return icmpgt(iadd(a, kc<V, 0x54800000>()), kc<V, 0x972EAC4F>());
      else return icmpgt(iadd(a, kc<V, 0x72800000>()), kc<V, 0xB52EAC4F>());
    } else {
      V band = tiny_bound == 0x2B800000u ? cmp<_CMP_LT_OQ>(a, kc<V, 0x2B800000>()) : cmp<_CMP_LT_OQ>(a, kc<V, 0x0D800000>());
      return cmp<_CMP_NLE_UQ>(a, kc<V, 0x42AEAC4F>()) | band;
    }
  }
  // The same on one lane's pattern (one unsigned compare).
  static QARN_INLINE bool special_band_bits(uint32_t x) { return (x & 0x7FFFFFFFu) - tiny_bound > 0x42AEAC4Fu - tiny_bound; }
  template <class V> static QARN_INLINE V fixup(V x, V& r) {
    V over = cmp<_CMP_GT_OQ>(x, kc<V, 0x42B17217>()), under = cmp<_CMP_LT_OQ>(x, kc<V, 0xC2CFF1B4>());
    r = blend(under, blend(over, r, kc<V, 0x7F800000>()), bits<V>(0));
    return over | under;
  }
};

template <var Vr> struct exp_k<double, Vr> {
  using elem = double;

  // main(): k added to the exponent field; form<true>: the hot part's factor (see
  // the top of the file), the shifter moved by 1023 whole units.
  template <bool Factor, class V, int Lanes> static QARN_INLINE V form(V x) {
    if constexpr (Vr == var::def) {
      constexpr uint64_t C = Factor ? 0x433800000000FFC0ull : 0x4338000000000000ull;
      V S = x * kc<V, 0x40571547652B82FEull>() + kc<V, C>();  // x * 64/ln2, rounded
      V m = expk::exp52<6>(S);
      V k = S - kc<V, C>();
      V r = (x - k * kc<V, 0x3F862E42FEFA0000ull>()) - k * kc<V, 0x3D1CF79ABC9E3B3Aull>();
      V p = r + (r * r) * (kc<V, 0x3FDFFFFFFFFFDB3Bull>() +
                           r * (kc<V, 0x3FC555555555653Eull>() +
                                r * (kc<V, 0x3FA555573F218B93ull>() + r * kc<V, 0x3F8111112D9F549Bull>())));
      auto e = lookup2<Lanes>(tab::E64d, low_idx<Lanes>(S, 63));
      V v = e.hi + (e.hi * p + e.lo);
      if constexpr (Factor) return v * m;
      else return iadd(v, m);
    } else {
      constexpr uint64_t C = Factor ? 0x433800000001FF80ull : 0x4338000000000000ull;
      V S = x * kc<V, 0x40671547652B82FEull>() + kc<V, C>();  // x * 128/ln2, rounded
      V m = expk::exp52<7>(S);
      V k = S - kc<V, C>();
      V r = x - k * kc<V, 0x3F762E42FEFA39EFull>();
      V p = (kc<V, 0x3FDFFFFC2808F7E8ull>() * r + kc<V, 0x3FF0000000000000ull>()) * r + kc<V, 0x3FF0000000000000ull>();
      V v = p * lookup(tab::P128d, low32(S) & 127);
      if constexpr (Factor) return v * m;
      else return iadd(v, m);
    }
  }
  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) { return form<false, V, Lanes>(x); }
  template <class V, int Lanes = 0> static QARN_INLINE V hot_main(V x) {
    if constexpr (sizeof(V) != 32) return main<V, Lanes>(x);
    else return form<true, V, 0>(x);
  }
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NLT_UQ>(vabs(x), kc<V, 0x4086232B00000000ull>());  // high word > 0x4086232A
  }
  static QARN_INLINE bool special_bits(uint64_t x) { return (x & 0x7FFFFFFFFFFFFFFFull) >= 0x4086232B00000000ull; }
  // Default variant, tiny x (zeros and subnormals too): S is the shifter, k = 0 and
  // r = x, r^2 times the polynomial lies far below half an ulp of r (it is at most
  // 2^-1000 where r is below 2^-500), so p = r, and E64d[0] = (1, 0) gives 1 + r,
  // which rounds to 1.  Its square goes subnormal below 2^-511 and the main path
  // crawls there; below 2^-500 the cold part gives 1.  At widths 8 and 16 the hot
  // test takes two registers at once (special_band_pair): timed on an Intel
  // processor 0-2% at 8 (2-9% on an AMD one), nothing measurable at 16.
  template <int W> static constexpr bool band_at = true;
  template <class V> static QARN_INLINE V tiny(V x) requires (Vr == var::def) { return bands::below<V, 0x20B0000000000000ull>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V, V t, V& r) requires (Vr == var::def) {
    r = blend(t, r, kc<V, 0x3FF0000000000000ull>());
  }
  template <class V> static QARN_INLINE V special_band(V x) {
    return bands::below_or_above<V, 0x20B0000000000000ull, 0x4086232AFFFFFFFFull, 0x5F50000000000000ull, 0x9FD6232AFFFFFFFFull>(x);
  }
  template <class V> static QARN_INLINE V special_band_pair(V x0, V x1) {
    return bands::pair_below_or_above<V, 0x20B0000000000000ull, 0x4086232AFFFFFFFFull>(x0, x1);
  }
  static QARN_INLINE bool special_band_bits(uint64_t x) {
    return bands::below_or_above_bits<uint64_t, 0x20B0000000000000ull, 0x4086232AFFFFFFFFull>(x);
  }
  template <class V> static QARN_INLINE V fixup(V x, V& r) {
    V over = cmp<_CMP_GT_OQ>(x, kc<V, 0x40862E42FEFA39EFull>());
    V under = cmp<_CMP_LT_OQ>(x, kc<V, 0xC0874910D52D3051ull>());
    r = blend(under, blend(over, r, kc<V, 0x7FF0000000000000ull>()), bits<V>(0));
    return over | under;
  }
};

template <class T, var Vr> struct exp2_k;

template <var Vr> struct exp2_k<float, Vr> {
  using elem = float;

  // main(): k added to the exponent field; form<true>: the hot part's factor (see
  // the top of the file).
  template <bool Factor, class V, int Lanes> static QARN_INLINE V form(V x) {
    if constexpr (Vr == var::def || Vr == var::rm) {
      constexpr uint32_t C = Factor ? 0x48401FC0u : 0x48400000u;  // 1.5*2^17 (+ 127): x to a multiple of 1/64
      V S = x + kc<V, C>();
      V f = x - (S - kc<V, C>());
      V q = f * (kc<V, 0x3F317243>() + kc<V, 0x3E75FDFC>() * f);
      auto e = lookup2<Lanes>(tab::E64f, low_idx<Lanes>(S, 63));
      if constexpr (Factor) return (e.hi + (e.hi * q + e.lo)) * (ishl<17>(S) & kc<V, 0xFF800000>());
      else return iadd(e.hi + (e.hi * q + e.lo), ishl<17>(S) & kc<V, 0xFF800000>());
    } else {
      constexpr uint32_t C = Factor ? 0x4B400080u : 0x4B400000u;  // 1.5*2^23 (+ 128)
      V S = x + kc<V, C>();
      V f = x - (S - kc<V, C>());
      if constexpr (Factor) {
        V p = ((kc<V, 0x3CE1FBCC>() * f + kc<V, 0x3DF86F13>()) * f + kc<V, 0x3EB1798D>()) * f + kc<V, 0x3EFFFB49>();
        return p * ishl<23>(S);
      } else {
        V p = ((kc<V, 0x3D61FBCC>() * f + kc<V, 0x3E786F13>()) * f + kc<V, 0x3F31798D>()) * f + kc<V, 0x3F7FFB49>();
        return expk::add_exp23(p, S);
      }
    }
  }
  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) { return form<false, V, Lanes>(x); }
  // The hot part's factor; _native and _half test |x| <= 125.5.
  template <class V, int Lanes = 0> static QARN_INLINE V hot_main(V x) {
    if constexpr (sizeof(V) != 32) return main<V, Lanes>(x);
    else return form<true, V, 0>(x);
  }
  // (Not the default variant and _rm at width 16: there the factor cost 2-6%
  // timed, the band being in its test already.)
  template <int W> static constexpr bool hot_at = W != 16 || (Vr != var::def && Vr != var::rm);
  template <class V> static QARN_INLINE V hot_special(V x) {
    if constexpr (sizeof(V) == 32 && Vr != var::def && Vr != var::rm)
      return bands::below_or_above<V, 0x0D800000u, 0x42FB0000u, 0x72800000u, 0xB57B0000u>(x);
    else return special_band(x);
  }
  template <class V> static QARN_INLINE V hot_special_pair(V x0, V x1) {
    if constexpr (Vr != var::def && Vr != var::rm) return bands::pair_below_or_above<V, 0x0D800000u, 0x42FB0000u>(x0, x1);
    else return special_band_pair(x0, x1);
  }
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x42FC0000>()); }
  // Tiny x (zeros and subnormals too): the shifter sum is the shifter and f = x.
  // _native and _half: the cubic is its constant term (c1 f lies far below half its
  // ulp); default and _rm: E64f[0] = (1, 0) and 1 + q rounds to 1.  Their products
  // go subnormal below 2^-121; below 2^-100 the cold part gives the value.  At
  // every width: in 256-bit registers hot_main's factor pays for the band's compare
  // and or.
  template <class V> static QARN_INLINE V special_band_pair(V x0, V x1) {
    return bands::pair_below_or_above<V, 0x0D800000u, 0x42FC0000u>(x0, x1);
  }
  template <class V> static QARN_INLINE V tiny(V x) { return bands::below<V, 0x0D800000u>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V, V t, V& r) {
    if constexpr (Vr == var::def || Vr == var::rm) r = blend(t, r, kc<V, 0x3F800000u>());
    else r = blend(t, r, kc<V, 0x3F7FFB49u>());
  }
  template <class V> static QARN_INLINE V special_band(V x) {
    return bands::below_or_above<V, 0x0D800000u, 0x42FC0000u, 0x72800000u, 0xB57C0000u>(x);
  }
  static QARN_INLINE bool special_band_bits(uint32_t x) { return bands::below_or_above_bits<uint32_t, 0x0D800000u, 0x42FC0000u>(x); }
};

template <var Vr> struct exp2_k<double, Vr> {
  using elem = double;

  // main(): k added to the exponent field; form<true>: the hot part's factor (see
  // the top of the file).
  template <bool Factor, class V, int Lanes> static QARN_INLINE V form(V x) {
    if constexpr (Vr == var::def) {
      constexpr uint64_t C = Factor ? 0x42D800000000FFC0ull : 0x42D8000000000000ull;  // 1.5*2^46 (+ 1023)
      V S = x + kc<V, C>();  // x rounded to a multiple of 1/64
      V m = expk::exp52<6>(S);
      V f = x - (S - kc<V, C>());
      V q = f * (kc<V, 0x3FE62E42FEFA39EFull>() +
                 f * (kc<V, 0x3FCEBFBDFF82A23Aull>() +
                      f * (kc<V, 0x3FAC6B08D7076268ull>() +
                           f * (kc<V, 0x3F83B2AD33F8B48Bull>() + f * kc<V, 0x3F55D870C4D8440Aull>()))));
      auto e = lookup2<Lanes>(tab::E64d, low_idx<Lanes>(S, 63));
      if constexpr (Factor) return (e.hi + (e.hi * q + e.lo)) * m;
      else return iadd(e.hi + (e.hi * q + e.lo), m);
    } else {
      constexpr uint64_t C = Factor ? 0x4338000000000400ull : 0x4338000000000000ull;  // 1.5*2^52 (+ 1024)
      V S = x + kc<V, C>();
      V m = Factor ? ishl<52>(S) : expk::exp52<0>(S);
      V f = x - (S - kc<V, C>());
      if constexpr (Factor) {
        V p = expk::horner<0x3FE0000000261500ull, 0x3FD62E430C7E923Cull, 0x3FBEBFBDADCB0BA8ull, 0x3F9C6AED4B950AE1ull,
                           0x3F73B2DBBC0FE08Eull, 0x3F45F456A8ADF058ull, 0x3F141D3336B2AE61ull>(f);
        return p * m;
      } else {
        V p = expk::horner<0x3FF0000000261500ull, 0x3FE62E430C7E923Cull, 0x3FCEBFBDADCB0BA8ull, 0x3FAC6AED4B950AE1ull,
                           0x3F83B2DBBC0FE08Eull, 0x3F55F456A8ADF058ull, 0x3F241D3336B2AE61ull>(f);
        return iadd(p, m);
      }
    }
  }
  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) { return form<false, V, Lanes>(x); }
  template <class V, int Lanes = 0> static QARN_INLINE V hot_main(V x) {
    if constexpr (sizeof(V) != 32) return main<V, Lanes>(x);
    else return form<true, V, 0>(x);
  }
  // The hot part's factor; _native, _half and _rm test |x| <= 1021.5.
  template <class V> static QARN_INLINE V hot_special(V x) {
    if constexpr (sizeof(V) == 32 && Vr != var::def)
      return bands::below_or_above<V, 0x0170000000000000ull, 0x408FEC0000000000ull, 0x7E90000000000000ull, 0xBF1FEC0000000000ull>(x);
    else return special_band(x);
  }
  template <class V> static QARN_INLINE V hot_special_pair(V x0, V x1) {
    if constexpr (Vr != var::def) return bands::pair_below_or_above<V, 0x0170000000000000ull, 0x408FEC0000000000ull>(x0, x1);
    else return special_band_pair(x0, x1);
  }
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NLT_UQ>(vabs(x), kc<V, 0x408FF00000000000ull>());  // high word > 0x408FEFFF
  }
  // Tiny x (zeros and subnormals too): the shifter sum is the shifter, f = x, and
  // the polynomial is its constant term (default: E64d[0] = (1, 0) and 1 + q rounds
  // to 1).  Its products go subnormal below 2^-1009; below 2^-1000 the cold part
  // gives that value.  At every width: at 8 and 16 the hot test takes two
  // registers at once (special_band_pair), and in 256-bit registers hot_main's
  // factor pays for the band's compare and or.
  template <class V> static QARN_INLINE V tiny(V x) { return bands::below<V, 0x0170000000000000ull>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V, V t, V& r) {
    if constexpr (Vr == var::def) r = blend(t, r, kc<V, 0x3FF0000000000000ull>());
    else r = blend(t, r, kc<V, 0x3FF0000000261500ull>());
  }
  template <class V> static QARN_INLINE V special_band(V x) {
    return bands::below_or_above<V, 0x0170000000000000ull, 0x408FEFFFFFFFFFFFull, 0x7E90000000000000ull, 0xBF1FEFFFFFFFFFFFull>(x);
  }
  template <class V> static QARN_INLINE V special_band_pair(V x0, V x1) {
    return bands::pair_below_or_above<V, 0x0170000000000000ull, 0x408FEFFFFFFFFFFFull>(x0, x1);
  }
  static QARN_INLINE bool special_band_bits(uint64_t x) {
    return bands::below_or_above_bits<uint64_t, 0x0170000000000000ull, 0x408FEFFFFFFFFFFFull>(x);
  }
};

template <class T, var Vr> struct exp10_k;

template <var Vr> struct exp10_k<float, Vr> {
  using elem = float;

  // main(): k added to the exponent field; form<true>: the hot part's factor (see
  // the top of the file).
  template <bool Factor, class V, int Lanes> static QARN_INLINE V form(V x) {
    if constexpr (Vr == var::def) {
      constexpr uint32_t C = Factor ? 0x4B403F80u : 0x4B400000u;  // 1.5*2^23 (+ 127 steps of 128)
      V S = x * kc<V, 0x43D49A78>() + kc<V, C>();  // x * 128*log2(10), rounded
      V k = S - kc<V, C>();
      V r = (x - k * kc<V, 0x3B1A4000>()) - k * kc<V, 0xB5FB2BD8>();
      V q = r * (kc<V, 0x40135D97>() + kc<V, 0x4029A929>() * r);
      auto e = lookup2<Lanes>(tab::E128f, low_idx<Lanes>(S, 127));
      if constexpr (Factor) return (e.hi + (e.hi * q + e.lo)) * (ishl<16>(S) & kc<V, 0xFF800000>());
      else return iadd(e.hi + (e.hi * q + e.lo), ishl<16>(S) & kc<V, 0xFF800000>());
    } else {
      constexpr uint32_t C = Factor ? 0x4B400080u : 0x4B400000u;  // 1.5*2^23 (+ 128)
      V t = x * kc<V, 0x40549A78>();
      V S = t + kc<V, C>();
      V f = t - (S - kc<V, C>());
      if constexpr (Factor) return expk::cubic2_half(f) * ishl<23>(S);
      else return expk::add_exp23(expk::cubic2(f), S);
    }
  }
  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) { return form<false, V, Lanes>(x); }
  template <class V, int Lanes = 0> static QARN_INLINE V hot_main(V x) {
    if constexpr (sizeof(V) != 32) return main<V, Lanes>(x);
    else return form<true, V, 0>(x);
  }
  // The hot part's factor; not the default variant at width 16, where it cost 2%
  // timed, as exp2f's does.  The others test |x| <= 37.75 (|t| <= 125.4).
  template <int W> static constexpr bool hot_at = W != 16 || Vr != var::def;
  template <class V> static QARN_INLINE V hot_special(V x) {
    if constexpr (sizeof(V) == 32 && band)
      return bands::below_or_above<V, 0x0D800000u, 0x42170000u, 0x72800000u, 0xB4970000u>(x);
    else if constexpr (band) return special_band(x);
    else return special(x);
  }
  template <class V> static QARN_INLINE V hot_special_pair(V x0, V x1) {
    return bands::pair_below_or_above<V, 0x0D800000u, 0x42170000u>(x0, x1);
  }
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x4217B818>()); }
  // Tiny x (zeros and subnormals too), every variant but the default: f = t =
  // x*log2(10), the cubic rounds to 1 and the shifter sum adds nothing to the
  // exponent.  Its products go subnormal below 2^-123; below 2^-100 the cold part
  // gives 1.  At width 16 both registers at once (special_band_pair): 0-2% on an
  // Intel processor (5% on an AMD one).
  template <int W> static constexpr bool band_at = true;
  static constexpr bool band = Vr != var::def;
  template <class V> static QARN_INLINE V special_band_pair(V x0, V x1) {
    return bands::pair_below_or_above<V, 0x0D800000u, 0x4217B818u>(x0, x1);
  }
  template <class V> static QARN_INLINE V tiny(V x) requires band { return bands::below<V, 0x0D800000u>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V, V t, V& r) requires band { r = blend(t, r, kc<V, 0x3F800000u>()); }
  template <class V> static QARN_INLINE V special_band(V x) {
    return bands::below_or_above<V, 0x0D800000u, 0x4217B818u, 0x72800000u, 0xB497B818u>(x);
  }
  static QARN_INLINE bool special_band_bits(uint32_t x) { return bands::below_or_above_bits<uint32_t, 0x0D800000u, 0x4217B818u>(x); }
};

template <var Vr> struct exp10_k<double, Vr> {
  using elem = double;

  // main(): k added to the exponent field; form<true>: the hot part's factor (see
  // the top of the file).
  template <bool Factor, class V, int Lanes> static QARN_INLINE V form(V x) {
    if constexpr (Vr == var::def) {
      constexpr uint64_t C = Factor ? 0x433880000001FF80ull : 0x4338800000000000ull;  // (+ 1023 steps of 128)
      V S = x * kc<V, 0x407A934F0979A371ull>() + kc<V, C>();  // x * 128*log2(10), rounded
      V m = expk::exp52<7>(S);
      V k = S - kc<V, C>();
      V r = (x - k * kc<V, 0x3F63441350A00000ull>()) - k * kc<V, 0xBD10C0219DC1DA99ull>();
      V q = r * (kc<V, 0x40026BB1BBB55516ull>() +
                 r * (kc<V, 0x40053524C73CE8E3ull>() +
                      r * (kc<V, 0x4000470591CCEA8Bull>() +
                           r * (kc<V, 0x3FF2BD767584DB59ull>() + r * kc<V, 0x3FE144C03EFAFB54ull>()))));
      auto e = lookup2<Lanes>(tab::E128d, low_idx<Lanes>(S, 127));
      if constexpr (Factor) return (e.hi + (e.hi * q + e.lo)) * m;
      else return iadd(e.hi + (e.hi * q + e.lo), m);
    } else {
      constexpr uint64_t C = Factor ? 0x4338800000000400ull : 0x4338800000000000ull;  // (+ 1024)
      V t = x * kc<V, 0x400A934F0979A371ull>();
      V S = t + kc<V, C>();
      V m = Factor ? ishl<52>(S) : expk::exp52<0>(S);
      V f = t - (S - kc<V, C>());
      if constexpr (Factor) {
        V p = expk::horner<0x3FE0000000000000ull, 0x3FD62E4302EEB44Dull, 0x3FBEBFBDEC29C82Aull, 0x3F9C6AF6E92BE375ull,
                           0x3F73B2B9FBD8970Full, 0x3F45F07B4611E454ull, 0x3F14308FABC18DECull>(f);
        return p * m;
      } else {
        V p = expk::horner<0x3FF0000000000000ull, 0x3FE62E4302EEB44Dull, 0x3FCEBFBDEC29C82Aull, 0x3FAC6AF6E92BE375ull,
                           0x3F83B2B9FBD8970Full, 0x3F55F07B4611E454ull, 0x3F24308FABC18DECull>(f);
        return iadd(p, m);
      }
    }
  }
  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) { return form<false, V, Lanes>(x); }
  template <class V, int Lanes = 0> static QARN_INLINE V hot_main(V x) {
    if constexpr (sizeof(V) != 32) return main<V, Lanes>(x);
    else return form<true, V, 0>(x);
  }
  // The hot part's factor; _native, _half and _rm test |x| <= 307.5 (|t| <= 1021.5).
  template <class V> static QARN_INLINE V hot_special(V x) {
    if constexpr (sizeof(V) == 32 && band)
      return bands::below_or_above<V, 0x0170000000000000ull, 0x4073380000000000ull, 0x7E90000000000000ull, 0xBF03380000000000ull>(x);
    else if constexpr (band) return special_band(x);
    else return special(x);
  }
  template <class V> static QARN_INLINE V hot_special_pair(V x0, V x1) {
    return bands::pair_below_or_above<V, 0x0170000000000000ull, 0x4073380000000000ull>(x0, x1);
  }
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NLT_UQ>(vabs(x), kc<V, 0x40733A7100000000ull>());  // high word > 0x40733A70
  }
  // Tiny x (zeros and subnormals too), every variant but the default: f = t =
  // x*log2(10) and the polynomial is 1.  Its products go subnormal below 2^-1011;
  // below 2^-1000 the cold part gives 1.  At 8 and 16 two registers at once
  // (special_band_pair): 0-3% on an Intel processor (4-8% on an AMD one).
  template <int W> static constexpr bool band_at = true;
  static constexpr bool band = Vr != var::def;
  template <class V> static QARN_INLINE V special_band_pair(V x0, V x1) {
    return bands::pair_below_or_above<V, 0x0170000000000000ull, 0x40733A70FFFFFFFFull>(x0, x1);
  }
  template <class V> static QARN_INLINE V tiny(V x) requires band { return bands::below<V, 0x0170000000000000ull>(x); }
  template <class V> static QARN_INLINE void tiny_fix(V, V t, V& r) requires band {
    r = blend(t, r, kc<V, 0x3FF0000000000000ull>());
  }
  template <class V> static QARN_INLINE V special_band(V x) {
    return bands::below_or_above<V, 0x0170000000000000ull, 0x40733A70FFFFFFFFull, 0x7E90000000000000ull, 0xBF033A70FFFFFFFFull>(x);
  }
  static QARN_INLINE bool special_band_bits(uint64_t x) {
    return bands::below_or_above_bits<uint64_t, 0x0170000000000000ull, 0x40733A70FFFFFFFFull>(x);
  }
};

}  // namespace qarn
