// asinh, acosh, atanh in float and double: main paths and the special-lane tests.
//
// Every main path writes its function as the logarithm of an argument z >= 1 held
// in two parts, zh + zl, and runs one logarithm kernel of its precision on them:
//  * float: z = m*2^k with m in [2/3, 4/3) from the pattern of zh minus that of 2/3;
//    f = (m - 1) + zl*2^-k; ln z = k*ln2 + f + f^2*Q(f) (degree 7 in the default
//    variant, 3 in _native).
//  * double: the reciprocal reduction of the _native log (explog/log.h): y = the
//    mantissa of zh as 1.f*2^-10, c = round(rcp(y)), and r = c*y - 1 + c*zl*2^-e in
//    pieces whose first is exact (y cut to 27 bits, so y_hi*c is exact); the table
//    LNd holds k*ln2 - ln c; log(1 + r) is a degree-5 (default) or cubic (_native)
//    polynomial.
// Arguments (a = |x|):
//  * asinh: z = 1 + a + w with w = sqrt(1 + a^2) - 1.  Below 0.0625 (float) or 2^-9
//    (double) w = h - h^2/2 + h^3/2, h = a^2/2.  Above, sqrt(S), S + lo = 1 + a^2
//    exactly enough, comes from the processor's reciprocal square root estimate y0:
//    e = S*y0^2 - 1 is formed from exact partial products (y0 cut to 12 bits in
//    float; y0^2, S and their parts split so that every product that matters is
//    exact), and sqrt(S) = S*y0*(1 + e)^(-1/2) with the series 1 - e/2 + 3e^2/8 -
//    5e^3/16 (double: and + 35e^4/128 - 63e^5/256).  The root is kept as q_hi + the
//    rest, so w = (q_hi - 1) + rest keeps its relative accuracy near 0.  From 2^30
//    up z = a*2^-30 and 31*ln2 is added (ln 2a, no overflow).  The sign of x is
//    applied at the end, so tiny x (subnormal too) come out as x.
//  * acosh: z = 1 + (d + s), d = x - 1, s = sqrt(2d + d^2) (double default: the
//    hardware root; the others: the estimate and a short series); from 2^30 up as
//    asinh.
//  * atanh: z = 1 + 2a/(1 - a), the result half its logarithm with the sign of x.
// Below 2^-588 (float: 2^-20 for asinh, 2^-30 for atanh) asinh and atanh give x
// itself (their exact values round to x far above that), and the arithmetic runs on
// 0 instead.  In double, from there to 2^-100 squares still go subnormal; those
// lanes take the cold part, which gives x (the main path's value to nearest).
// Special lanes (inf, NaN, acosh at or below 1, atanh outside (-1, 1)) go to the
// lane fallbacks (hyper/asinh_fallback.cpp), which only settle special values.
#pragma once
#include "frame/band.h"
#include "frame/frame.h"
#include "frame/variant.h"
#include "tables/log_tables.h"

namespace qarn {

namespace ahyp {

template <class V> inline constexpr bool is_f = sizeof(elem_t<V>) == 4;

template <class V> QARN_INLINE V one() {
  if constexpr (is_f<V>) return kc<V, 0x3F800000>(); else return kc<V, 0x3FF0000000000000ull>();
}
template <class V> QARN_INLINE V sign_of(V x) {
  if constexpr (is_f<V>) return x & kc<V, 0x80000000u>(); else return x & kc<V, 0x8000000000000000ull>();
}
// Constants by precision: F for float lanes, D for double lanes.
template <class V, uint32_t F, uint64_t D> QARN_INLINE V k2() {
  if constexpr (is_f<V>) return kc<V, F>(); else return kc<V, D>();
}

// Processor reciprocal square root estimate (double lanes through float).
QARN_INLINE vf4 rsqrt_est(vf4 a) { return {_mm_rsqrt_ps(a.v)}; }
QARN_INLINE vf8 rsqrt_est(vf8 a) { return {_mm256_rsqrt_ps(a.v)}; }
QARN_INLINE vd2 rsqrt_est(vd2 a) { return {_mm_cvtps_pd(_mm_rsqrt_ps(_mm_cvtpd_ps(a.v)))}; }
QARN_INLINE vd4 rsqrt_est(vd4 a) { return {_mm256_cvtps_pd(_mm_rsqrt_ps(_mm256_cvtpd_ps(a.v)))}; }

// z = hi + lo, the sum of two values with no lost bits (either may be larger).
template <class V> struct two { V hi, lo; };
template <class V> QARN_INLINE two<V> sum2(V a, V b) {
  V big = vmax(a, b), small = vmin(a, b);
  V s = big + small;
  return {s, (big - s) + small};
}
// 1 + m + w with w small against 1 + m: the rounding error of 1 + m is kept and
// the two parts renormalised.
template <class V> QARN_INLINE two<V> one_plus(V m, V w) {
  two<V> s = sum2(one<V>(), m);
  V t = s.lo + w;
  V h = s.hi + t;
  return {h, (s.hi - h) + t};
}

// ln(zh + zl) + count*ln2, zh >= 1 normal, |zl| small against zh.
template <var Vr, int Lanes = 0, class V> QARN_INLINE V log2p(V zh, V zl, V count) {
  if constexpr (is_f<V>) {
    V u = isub(zh, kc<V, 0x3F2AAAAB>());
    V k = cvt_int(isra<23>(u)) + count;
    V m = iadd(u & kc<V, 0x007FFFFF>(), kc<V, 0x3F2AAAAB>());
    V scale = isub(kc<V, 0x3F800000>(), u & kc<V, 0xFF800000>());  // 2^-k
    V f = (m - kc<V, 0x3F800000>()) + zl * scale;
    V Q;
    if constexpr (Vr == var::def) {
      Q = kc<V, 0xBF000000>() +
          f * (kc<V, 0x3EAAAA94>() +
               f * (kc<V, 0xBE80058E>() +
                    f * (kc<V, 0x3E4CE190>() +
                         f * (kc<V, 0xBE28AD37>() +
                              f * (kc<V, 0x3E0FCB12>() + f * (kc<V, 0xBE1AD9E3>() + f * kc<V, 0x3E0D84ED>()))))));
    } else {
      Q = kc<V, 0xBF000000>() + f * (kc<V, 0x3EAA7160>() + f * (kc<V, 0xBE88E8FE>() + f * kc<V, 0x3E612933>()));
    }
    return k * kc<V, 0x3F317218>() + (f + (f * f) * Q);
  } else {
    V E = cvt_int(shr<20>(high32(zh)));                                       // biased exponent
    V y = (zh & kc<V, 0x000FFFFFFFFFFFFFull>()) | kc<V, 0x3F50000000000000ull>();  // 1.f * 2^-10
    V c = vround<0>(rcp_est(y));                                              // 512..1024
    V yh = y & kc<V, 0xFFFFFFFFFC000000ull>();
    // c * 2^-(e + 10) for zh = 1.f * 2^e: takes zl to the scale of y, times c (exact).
    V cs = c * isub(kc<V, 0x7F40000000000000ull>(), zh & kc<V, 0x7FF0000000000000ull>());
    V r = (yh * c - kc<V, 0x3FF0000000000000ull>()) + ((y - yh) * c + zl * cs);
    V r2 = r * r;
    V P;
    if constexpr (Vr == var::def)
      P = r + r2 * ((kc<V, 0xBFDFFFFFFFFFF81Full>() + r * kc<V, 0x3FD55555555543C5ull>()) +
                    r2 * (kc<V, 0xBFD0000148058EE1ull>() + r * kc<V, 0x3FC9999CACDB4D0Aull>()));
    else
      P = r + r2 * (kc<V, 0xBFDFFFFFFFFFF81Full>() + r * kc<V, 0x3FD55555555543C5ull>());
    V bias = blend(cmp<_CMP_GT_OQ>(c, kc<V, 0x4086A00000000000ull>()),        // c > 724
                   kc<V, 0x408FF00000000000ull>(), kc<V, 0x408FF80000000000ull>());  // 1022, 1023
    return (P + lookup<Lanes>(tab::LNd, rounded_idx<Lanes>(c, 512))) + ((E - bias) + count) * kc<V, 0x3FE62E42FEFA39EFull>();
  }
}

// From 2^30 up the argument is a*2^-30 and 31*ln2 joins the result.
template <class V> QARN_INLINE V huge_arg(V a) {
  return cmp<_CMP_GE_OQ>(a, k2<V, 0x4E800000, 0x41D0000000000000ull>());
}
template <class V> QARN_INLINE V scaled(V a) { return a * k2<V, 0x30800000, 0x3E10000000000000ull>(); }
template <class V> QARN_INLINE V thirty_one() { return k2<V, 0x41F80000, 0x403F000000000000ull>(); }

// sqrt(1 + a^2) - 1 for a above the small-argument bound.
template <class V> QARN_INLINE V root_minus_one(V a) {
  V ah = a & k2<V, 0xFFFFE000, 0xFFFFFFFFF8000000ull>();
  V al = a - ah;
  V a2 = ah * ah;                                       // exact
  two<V> s = sum2(one<V>(), a2);                        // S + lo = 1 + ah^2
  V S = s.hi;
  V lo = s.lo + (a + ah) * al;                          // + a^2 - ah^2
  V y0 = rsqrt_est(S);
  if constexpr (is_f<V>) y0 = y0 & kc<V, 0xFFFFF000>();  // 12 bits
  V t = y0 * y0;                                        // exact
  V Sh = S & k2<V, 0xFFFFF000, 0xFFFFFFFFFF000000ull>();
  V Sl = S - Sh;
  V th = t & k2<V, 0xFFFFF000, 0xFFFFFFFFE0000000ull>();
  V e = (Sh * th - one<V>()) + ((Sh * (t - th) + Sl * t) + lo * t);
  V rho;
  if constexpr (is_f<V>)
    rho = e * (kc<V, 0xBF000000>() + e * (kc<V, 0x3EC00000>() - kc<V, 0x3EA00000>() * e));
  else
    rho = e * (kc<V, 0xBFE0000000000000ull>() +
               e * (kc<V, 0x3FD8000000000000ull>() +
                    e * (kc<V, 0xBFD4000000000000ull>() +
                         e * (kc<V, 0x3FD1800000000000ull>() - kc<V, 0x3FCF800000000000ull>() * e))));
  V qh = Sh * y0;                                       // exact
  V ql = Sl * y0 + lo * y0;
  return (qh - one<V>()) + (ql + (qh + ql) * rho);
}

}  // namespace ahyp

// -------------------------------------------------------------------------- asinh
template <class T, var Vr> struct asinh_k;
template <class T, var Vr> struct acosh_k;
template <class T, var Vr> struct atanh_k;

template <class T, var Vr> struct asinh_k {
  using elem = T;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    using namespace ahyp;
    if constexpr (Lanes == 1) return one_lane(x);
    V tiny = cmp<_CMP_LT_OQ>(vabs(x), k2<V, 0x35800000, 0x1B30000000000000ull>());  // 2^-20, 2^-588: x
    V a = andnot(vabs(x), tiny);
    V small = cmp<_CMP_LE_OQ>(a, k2<V, 0x3D800000, 0x3F60000000000000ull>());  // 0.0625, 2^-9
    V h = (a * a) * k2<V, 0x3F000000, 0x3FE0000000000000ull>();
    V half = k2<V, 0x3F000000, 0x3FE0000000000000ull>();
    V ws = h + (h * h) * (h * half - half);
    V w = blend(small, root_minus_one(vmin(a, k2<V, 0x4E800000, 0x41D0000000000000ull>())), ws);
    two<V> z = one_plus(a, w);
    V big = huge_arg(a);
    V zh = blend(big, z.hi, scaled(a));
    V zl = andnot(z.lo, big);
    V res = log2p<Vr, Lanes>(zh, zl, thirty_one<V>() & big);
    return blend(tiny, res ^ sign_of(x), x);
  }
  // One lane copied over the register (width 1): the branch its |x| takes, with
  // the operations whose results the blends above keep for it.  (A NaN lane, which
  // the cold part replaces, still gets the blends' value: the register's spare
  // lanes keep it.)
  template <class V> static QARN_INLINE V one_lane(V x) {
    using namespace ahyp;
    V a = vabs(x);
    const pattern_t<T> p = frame::lane_bits(a.v);
    if (p < (is_f<V> ? 0x35800000u : 0x1B30000000000000ull)) return x;  // 2^-20, 2^-588
    V zh, zl, count;
    constexpr pattern_t<T> huge = is_f<V> ? 0x4E800000u : 0x41D0000000000000ull;  // 2^30
    if (p - huge <= (is_f<V> ? 0x7F800000u : 0x7FF0000000000000ull) - huge) {   // 2^30 to inf
      zh = scaled(a), zl = bits<V>(0), count = thirty_one<V>();
    } else {
      V w;
      if (p <= (is_f<V> ? 0x3D800000u : 0x3F60000000000000ull)) {       // 0.0625, 2^-9
        V half = k2<V, 0x3F000000, 0x3FE0000000000000ull>();
        V h = (a * a) * half;
        w = h + (h * h) * (h * half - half);
      } else {
        w = root_minus_one(vmin(a, k2<V, 0x4E800000, 0x41D0000000000000ull>()));  // (NaN: 2^30)
      }
      two<V> z = one_plus(a, w);
      zh = z.hi, zl = z.lo, count = bits<V>(0);
    }
    return log2p<Vr, 1>(zh, zl, count) ^ sign_of(x);
  }
  // Not |x| <= largest finite: inf, NaN.
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NLE_UQ>(vabs(x), ahyp::k2<V, 0x7F7FFFFF, 0x7FEFFFFFFFFFFFFFull>());
  }
  static QARN_INLINE bool special_bits(pattern_t<T> x) {
    if constexpr (sizeof(T) == 4) return (x & 0x7FFFFFFFu) > 0x7F7FFFFFu;
    else return (x & 0x7FFFFFFFFFFFFFFFull) > 0x7FEFFFFFFFFFFFFFull;
  }
  // Double, |x| below 2^-100: 1 + a is 1 with a as its error, h = a^2/2 and the
  // series' h^2 term add nothing to it, so z = 1 + a; the logarithm's r is a
  // exactly, its polynomial adding far less than half an ulp, and the table entry
  // for c = 1024 and the exponent term are 0: the result is x itself, to nearest,
  // whether or not subnormal results are flushed.  Below 2^-588 (zeros and
  // subnormals too) the main path picks x outright.  Between the two bounds h^2
  // goes subnormal (a below 2^-255, and a^2 and r^2 below 2^-511) and the main path
  // crawls; the cold part gives x.
  template <class V> static QARN_INLINE V tiny(V x) requires(sizeof(T) == 8) {
    return bands::below<V, 0x39B0000000000000ull>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) requires(sizeof(T) == 8) { r = blend(t, r, x); }
  template <class V> static QARN_INLINE V special_band(V x) requires(sizeof(T) == 8) {
    return bands::below_or_above<V, 0x39B0000000000000ull, 0x7FEFFFFFFFFFFFFFull, 0x4650000000000000ull, 0xC63FFFFFFFFFFFFFull>(x);
  }
  static QARN_INLINE bool special_band_bits(uint64_t x) requires(sizeof(T) == 8) {
    return bands::below_or_above_bits<uint64_t, 0x39B0000000000000ull, 0x7FEFFFFFFFFFFFFFull>(x);
  }
};

// -------------------------------------------------------------------------- acosh
template <class T, var Vr> struct acosh_k {
  using elem = T;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    using namespace ahyp;
    V d = x - one<V>();
    V P = (d + d) + d * d;                              // x^2 - 1
    V s;
    if constexpr (!is_f<V> && Vr == var::def) {
      s = vsqrt(P);
    } else {
      V y0 = rsqrt_est(P);
      V q = P * y0;
      V e = q * y0 - one<V>();
      V rho;
      if constexpr (is_f<V>)
        rho = e * (kc<V, 0xBF000000>() + e * (kc<V, 0x3EC00000>() - kc<V, 0x3EA00000>() * e));
      else
        rho = e * (kc<V, 0xBFE0000000000000ull>() + kc<V, 0x3FD8000000000000ull>() * e);
      s = q + q * rho;
    }
    two<V> z = sum2(one<V>(), d + s);
    if constexpr (Lanes == 1)  // one lane: the branch it takes
      if (!(frame::lane_bits(x.v) >= (is_f<V> ? 0x4E800000u : 0x41D0000000000000ull)))  // 2^30
        return log2p<Vr, 1>(z.hi, z.lo, bits<V>(0));
    V big = huge_arg(x);
    V zh = blend(big, z.hi, scaled(x));
    V zl = andnot(z.lo, big);
    return log2p<Vr, Lanes>(zh, zl, thirty_one<V>() & big);
  }
  // Not x > 1, or not x <= largest finite: x <= 1, NaN, +inf.
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NGT_UQ>(x, ahyp::one<V>()) |
           cmp<_CMP_NLE_UQ>(x, ahyp::k2<V, 0x7F7FFFFF, 0x7FEFFFFFFFFFFFFFull>());
  }
  static QARN_INLINE bool special_bits(pattern_t<T> x) {  // not 1 < x <= largest finite
    if constexpr (sizeof(T) == 4) return x - 0x3F800001u >= 0x7F7FFFFFu - 0x3F800000u;
    else return x - 0x3FF0000000000001ull >= 0x7FEFFFFFFFFFFFFFull - 0x3FF0000000000000ull;
  }
};

// -------------------------------------------------------------------------- atanh
template <class T, var Vr> struct atanh_k {
  using elem = T;

  template <class V> static QARN_INLINE V main(V x) {
    using namespace ahyp;
    V tiny = cmp<_CMP_LT_OQ>(vabs(x), k2<V, 0x30800000, 0x1B30000000000000ull>());  // 2^-30, 2^-588: x
    V a = andnot(vabs(x), tiny);
    V m = (a + a) / (one<V>() - a);
    two<V> z = sum2(one<V>(), m);
    V res = log2p<Vr>(z.hi, z.lo, bits<V>(0)) * (k2<V, 0x3F000000, 0x3FE0000000000000ull>() | sign_of(x));
    return blend(tiny, res, x);
  }
  // Not |x| < 1: |x| >= 1, NaN.
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLT_UQ>(vabs(x), ahyp::one<V>()); }
  // Double, |x| below 2^-100: from 2^-588 up (below 2^-54 in fact) 1 - a is 1, m = 2a,
  // z = 1 + 2a, and the logarithm's r is 2a exactly, its polynomial adding far
  // less than half an ulp; the table entry for c = 1024 and the exponent term are
  // 0, so the result is a with the sign of x: x itself, to nearest, whether or not
  // subnormal results are flushed.  Below 2^-588 (zeros and subnormals too) the
  // main path picks x outright.  Between the two bounds r^2 goes subnormal (a below
  // 2^-512) and the main path crawls; the cold part gives x.
  template <class V> static QARN_INLINE V tiny(V x) requires(sizeof(T) == 8) {
    return bands::below<V, 0x39B0000000000000ull>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) requires(sizeof(T) == 8) { r = blend(t, r, x); }
  // The test with the band: |x| below 2^-100 or at or above 1 (NaN too).
  template <class V> static QARN_INLINE V special_band(V x) requires(sizeof(T) == 8) {
    return bands::below_or_above<V, 0x39B0000000000000ull, 0x3FEFFFFFFFFFFFFFull, 0x4650000000000000ull, 0x863FFFFFFFFFFFFFull>(x);
  }
};

}  // namespace qarn
