// atan, atanpi, atan2, atan2pi in float and double: main paths, special-lane
// tests and the zero fix-up of atan2.  Lane fallbacks in atrig/atan_fallback.cpp.
//
// atan, double default: a = |x| rounded to a multiple of 1/4 (b, k = 4b), then
// atan(a) = atan(b) + atan(t) with t = (a - b)/(1 + a*b) and atan(b) from a table
// of 32 rows; from a = 7.875 on, atan(a) = pi/2 + atan(-1/a).  Every lane finishes
// here: infinities give t = -2^-128, NaN stays NaN.
// atan, float default, and every other one-argument path: t = x for |x| <= 1,
// t = -1/x beyond, plus pi/2 (0.5) carrying the sign of x, zero included.
// atan2(y, x): t = min/max of the magnitudes with a sign, V = base + atan(t) in
// [0, pi/2], then the quadrant from the signs of x and y.
//
//   family   default                                   _native
//   atan     d: table + degree-6 Q; f: division, 8     estimate 1/x + Newton; 10 (d) / 4 (f) terms
//   atanpi   division; 22 (d) / 9 (f) terms of t*R     division; 10 (d) / 4 (f) terms
//   atan2    division; 19 (d) / 8 (f) terms            estimate 1/den + Newton; 10 / 4 terms
//   atan2pi  division; 22 (d) / 9 (f) terms of t*R     estimate 1/den + Newton; 10 / 4 terms
//
// Special lanes: atan _native the infinities (the Newton step turns them into NaN);
// atanpi a magnitude outside [2^-1020, 2^993) (float [2^-125, 2^123)) or NaN;
// atan2 and atan2pi either operand so.  atan2 fixes its zero lanes inline.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "tables/atan_tables.h"

namespace qarn {
namespace atank {

template <class V> inline constexpr bool single = sizeof(elem_t<V>) == 4;

template <class V> QARN_INLINE V sign_bit() {
  if constexpr (single<V>) return kc<V, 0x80000000u>();
  else return kc<V, 0x8000000000000000ull>();
}
template <class V> QARN_INLINE V sign(V x) { return x & sign_bit<V>(); }
template <class V> QARN_INLINE V one() {
  if constexpr (single<V>) return kc<V, 0x3F800000u>();
  else return kc<V, 0x3FF0000000000000ull>();
}
template <class V> QARN_INLINE V minus_one() {
  if constexpr (single<V>) return kc<V, 0xBF800000u>();
  else return kc<V, 0xBFF0000000000000ull>();
}
template <class V> QARN_INLINE V two() {
  if constexpr (single<V>) return kc<V, 0x40000000u>();
  else return kc<V, 0x4000000000000000ull>();
}
// The quarter and half turn in radians or in turns of pi (Pi).
template <bool Pi, class V> QARN_INLINE V quarter() {
  if constexpr (Pi) {
    if constexpr (single<V>) return kc<V, 0x3F000000u>();
    else return kc<V, 0x3FE0000000000000ull>();
  } else {
    if constexpr (single<V>) return kc<V, 0x3FC90FDBu>();
    else return kc<V, 0x3FF921FB54442D18ull>();
  }
}
template <bool Pi, class V> QARN_INLINE V halfturn() {
  if constexpr (Pi) return one<V>();
  else if constexpr (single<V>) return kc<V, 0x40490FDBu>();
  else return kc<V, 0x400921FB54442D18ull>();
}

// Magnitude outside the main path's range, or NaN: below 2^-1020 or from 2^993 on
// (float: below 2^-125 or from 2^123 on).
template <class V> QARN_INLINE V out_of_range(V a) {
  if constexpr (single<V>)
    return cmp<_CMP_NGE_UQ>(a, kc<V, 0x01000000u>()) | cmp<_CMP_NLT_UQ>(a, kc<V, 0x7D000000u>());
  else
    return cmp<_CMP_NGE_UQ>(a, kc<V, 0x0030000000000000ull>()) | cmp<_CMP_NLT_UQ>(a, kc<V, 0x7E00000000000000ull>());
}

// ---- polynomials: atan(t) for |t| <= 1 ------------------------------------------
// Double default of atan2: t + S*t, 19 coefficients in four chains of z^4.
template <class V> QARN_INLINE V atan_q19(V t) {
  V z = t * t, z2 = z * z, w = z2 * z2;
  V A = kc<V, 0xBFD55555555553C5ull>() +
        w * (kc<V, 0xBFB745D009BADA94ull>() +
             w * (kc<V, 0xBFAAD261EAA09954ull>() + w * (kc<V, 0xBF9A5E83B081F69Cull>() + w * kc<V, 0xBF52E67C93954C23ull>())));
  V B = kc<V, 0x3FC999999997EE34ull>() +
        w * (kc<V, 0x3FB3B12A49295651ull>() +
             w * (kc<V, 0x3FA7EC0FBC50683Bull>() + w * (kc<V, 0x3F914F4C661116A5ull>() + w * kc<V, 0x3F2CED0A36665209ull>())));
  V C = kc<V, 0xBFC2492491EE55C7ull>() +
        w * (kc<V, 0xBFB11084009435E0ull>() +
             w * (kc<V, 0xBFA4EFA2E563C1BCull>() + w * (kc<V, 0xBF82B2EC618E4BADull>() + w * kc<V, 0xBEF4FDB537ABC7A3ull>())));
  V D = kc<V, 0x3FBC71C707F7D5B5ull>() +
        w * (kc<V, 0x3FAE1749BD612DCFull>() + w * (kc<V, 0x3FA169980CB6AD4Full>() + w * kc<V, 0x3F6F5A1DAE82AFB3ull>()));
  V S = z2 * (B + z * C) + (z * A + w * D);
  return t + S * t;
}
// Float default: t*(1 + z*(O + z*E)), chains in z^2.
template <class V> QARN_INLINE V atan_c8(V t) {
  V z = t * t, z2 = z * z;
  V E = kc<V, 0x3E4CB79Fu>() + z2 * (kc<V, 0x3DD96474u>() + z2 * (kc<V, 0x3D2BC384u>() + z2 * kc<V, 0x3B322CC0u>()));
  V O = kc<V, 0xBEAAAA49u>() + z2 * (kc<V, 0xBE1161F8u>() + z2 * (kc<V, 0xBD987629u>() + z2 * kc<V, 0xBC7F2631u>()));
  return t * (one<V>() + z * (O + z * E));
}
// _native: t*P(z), even and odd chains in z^2 (double 10 terms, float 4).
// (With Band, float, to nearest: lanes with |t| below 2^-16 square zero in place
// of t; there z and z^2 are far below half an ulp of the constant term, and t
// times it is what they give.)
template <bool Band = false, class V> QARN_INLINE V atan_native(V t) {
  V tq = t;
  if constexpr (Band) {
    static_assert(single<V>);
    tq = andnot(t, cmp<_CMP_LT_OQ>(vabs(t), kc<V, 0x37800000u>()));
  }
  V z = tq * tq, z2 = z * z;
  if constexpr (single<V>) {
    return t * ((kc<V, 0x3F7FF145u>() + kc<V, 0x3E1E481Bu>() * z2) + z * (kc<V, 0xBEA6A8A3u>() + kc<V, 0xBD324820u>() * z2));
  } else {
    V ev = kc<V, 0x3FEFFFFFFEB5A845ull>() +
           z2 * (kc<V, 0x3FC999069C08617Cull>() +
                 z2 * (kc<V, 0x3FBC0236E7018BA7ull>() + z2 * (kc<V, 0x3FAD6EE2DACE07AFull>() + z2 * kc<V, 0x3F85E36A8CED7474ull>())));
    V od = kc<V, 0xBFD55553391CE4C9ull>() +
           z2 * (kc<V, 0xBFC2414862594647ull>() +
                 z2 * (kc<V, 0xBFB56FCD7489159Aull>() + z2 * (kc<V, 0xBF9F791909CB44C4ull>() + z2 * kc<V, 0xBF5C95B5AB286A02ull>())));
    return t * (ev + z * od);
  }
}
// atan(t)/pi = t*R(z).  Default: Horner from the last coefficient (double 22
// terms, float 9).  _native: even and odd chains (double 10 terms, float 4).
template <bool Dflt, class V> QARN_INLINE V atanpi_r(V t) {
  V z = t * t;
  if constexpr (Dflt && single<V>) {
    V r = kc<V, 0x3A62DBF5u>();
    r = kc<V, 0xBBA26EDAu>() + z * r;
    r = kc<V, 0x3C5AB246u>() + z * r;
    r = kc<V, 0xBCC21EBEu>() + z * r;
    r = kc<V, 0x3D0A6574u>() + z * r;
    r = kc<V, 0xBD391B64u>() + z * r;
    r = kc<V, 0x3D8253BAu>() + z * r;
    r = kc<V, 0xBDD94C33u>() + z * r;
    r = kc<V, 0x3EA2F983u>() + z * r;
    return t * r;
  } else if constexpr (Dflt) {
    V r = kc<V, 0xBEC435D571D7FB69ull>();
    r = kc<V, 0x3EFEE969B7DB1149ull>() + z * r;
    r = kc<V, 0xBF26798A20DC9977ull>() + z * r;
    r = kc<V, 0x3F44C3C0C907686Full>() + z * r;
    r = kc<V, 0xBF5B8DDB0F1CD2C5ull>() + z * r;
    r = kc<V, 0x3F6C3A72776AC84Dull>() + z * r;
    r = kc<V, 0xBF778AC56B6FECF2ull>() + z * r;
    r = kc<V, 0x3F80BAD5CF20A9EDull>() + z * r;
    r = kc<V, 0xBF85278CBEF8B02Eull>() + z * r;
    r = kc<V, 0x3F88CA8EE19B9723ull>() + z * r;
    r = kc<V, 0xBF8BE48C140DF0C8ull>() + z * r;
    r = kc<V, 0x3F8EEA5306D0465Full>() + z * r;
    r = kc<V, 0xBF9124120821BA9Dull>() + z * r;
    r = kc<V, 0x3F932BC4F824F7C6ull>() + z * r;
    r = kc<V, 0xBF95BAC83A460E3Eull>() + z * r;
    r = kc<V, 0x3F9912AF904B4DD1ull>() + z * r;
    r = kc<V, 0xBF9DA1BAA68634ECull>() + z * r;
    r = kc<V, 0x3FA21BB94433ED0Aull>() + z * r;
    r = kc<V, 0xBFA7483758DF91CFull>() + z * r;
    r = kc<V, 0x3FB04C26BE3AF8D5ull>() + z * r;
    r = kc<V, 0xBFBB2995E7B7B5EDull>() + z * r;
    r = kc<V, 0x3FD45F306DC9C883ull>() + z * r;
    return t * r;
  } else if constexpr (single<V>) {
    V z2 = z * z;
    return t * ((kc<V, 0x3EA2F023u>() + kc<V, 0x3D4987CDu>() * z2) + z * (kc<V, 0xBDD4324Du>() + kc<V, 0xBC62FED0u>() * z2));
  } else {
    V z2 = z * z;
    V ev = kc<V, 0x3FD45F306CF77B05ull>() +
           z2 * (kc<V, 0x3FB04BC92A8107F5ull>() +
                 z2 * (kc<V, 0x3FA1D4B346C946CDull>() + z2 * (kc<V, 0x3F92BCDB8589EE51ull>() + z2 * kc<V, 0x3F6BDE7DB93E8B55ull>())));
    V od = kc<V, 0xBFBB299337E33714ull>() +
           z2 * (kc<V, 0xBFA73E3559D3A6F6ull>() +
                 z2 * (kc<V, 0xBF9B4B49880FA760ull>() + z2 * (kc<V, 0xBF84094ECA14A044ull>() + z2 * kc<V, 0xBF42329940F01541ull>())));
    return t * (ev + z * od);
  }
}

// ---- reciprocals without a division ------------------------------------------
// 1/x for 1 < |x| (one-argument _native paths): float one Newton step; double the
// estimate of x rounded to float (0 beyond float's range, where 1/x is far below
// an ulp of the result) and one step of second order.
template <class V> QARN_INLINE V recip_x(V x) {
  V y0 = rcp_est(x);
  if constexpr (single<V>) {
    return y0 * (two<V>() - x * y0);
  } else {
    V e = one<V>() - x * y0;
    return y0 + y0 * (e + e * e);
  }
}
// 1/d for a positive normal d of any exponent (atan2 _native): double, the estimate
// of d's mantissa with the exponent rebuilt by integer arithmetic, then two steps
// (second order, then first order) to double precision; float, one Newton step.
template <class V> QARN_INLINE V recip_den(V d) {
  if constexpr (single<V>) {
    V y0 = rcp_est(d);
    return y0 * (two<V>() - d * y0);
  } else {
    V m = (d & kc<V, 0x000FFFFFFFFFFFFFull>()) | kc<V, 0x3FF0000000000000ull>();
    V sc = isub(kc<V, 0x7FE0000000000000ull>(), d & kc<V, 0x7FF0000000000000ull>());  // 2^-e
    V y0 = rcp_est(m) * sc;
    V e = one<V>() - d * y0;
    V y1 = y0 + y0 * (e + e * e);
    V e1 = one<V>() - d * y1;
    return y1 + y1 * e1;
  }
}

// ---- one-argument paths without a table ------------------------------------------
// base + f(t): t = x (|x| <= 1) or -1/x; base = 0 or pi/2 (0.5), with x's sign.
// NaN lanes take t = x, so that every operation on them sees x's NaN alone and the
// NaN that comes out does not depend on the order of commuted operands.
template <bool Pi, bool Div, class V> QARN_INLINE V split(V x, V& base) {
  V small = cmp<_CMP_NGT_UQ>(vabs(x), one<V>());
  V inv;
  if constexpr (Div) inv = minus_one<V>() / x;
  else inv = recip_x(x) ^ sign_bit<V>();
  base = andnot(quarter<Pi, V>(), small) | sign(x);
  return blend(small, inv, x);
}

// ---- atan2: the angle in [0, pi/2] and its quadrant ---------------------------------
template <class V> struct ratio { V t, swap, den; };
template <bool Div, class V> QARN_INLINE ratio<V> angle_ratio(V y, V x) {
  V ay = vabs(y), ax = vabs(x);
  V swap = cmp<_CMP_NLT_UQ>(ay, ax);  // also NaN
  V num = blend(swap, ay, ax ^ sign_bit<V>());
  V den = blend(swap, ax, ay);
  V t;
  if constexpr (Div) t = num / den;
  else t = num * recip_den(den);
  return {t, swap, den};
}
// The same ratio for the tiny band's closed form, where a quotient far below the
// base's last place only has to stay there: wherever the angle is a quarter turn
// (swap) or a half turn (x < 0) plus t, |t| is raised to at least 2^-40 (double
// 2^-80), still far below half an ulp of either, so that no quotient goes
// subnormal (a microcode assist per call).  Only t itself, where x > 0 and no
// swap, keeps its exact (maybe subnormal) value: there it is the result.
template <bool Div, class V> QARN_INLINE ratio<V> angle_ratio_calm(V y, V x) {
  V ay = vabs(y), ax = vabs(x);
  V swap = cmp<_CMP_NLT_UQ>(ay, ax);
  V den = blend(swap, ax, ay);
  V floor;
  if constexpr (single<V>) floor = den * kc<V, 0x2B800000u>();  // 2^-40
  else floor = den * kc<V, 0x3AF0000000000000ull>();            // 2^-80
  V absorbed = swap | cmp<_CMP_LT_OQ>(x, bits<V>(0));
  V mag = blend(absorbed, blend(swap, ay, ax), vmax(blend(swap, ay, ax), floor));
  V num = mag | (swap & sign_bit<V>());
  V t;
  if constexpr (Div) t = num / den;
  else t = num * recip_den(den);
  return {t, swap, den};
}
// V in [0, quarter turn] -> the angle of (x, y).
template <bool Pi, class V> QARN_INLINE V quadrant(V v, V y, V x) {
  V r = (v | sign(x)) + (cmp<_CMP_LE_OQ>(x, bits<V>(0)) & halfturn<Pi, V>());
  return r | sign(y);
}

// ---- the tiny band: atan(t) = t*c to nearest -----------------------------------
// For |t| below 2^-E every polynomial above is its leading term alone: t, or t
// times its constant coefficient c, rounded once.  E is well above where the main
// path first turns subnormal (the lowest power of z that goes subnormal there).
// One-argument paths: LO <= |x| < 2^-E, LO where t*c is normal.
template <class V, typename lanes_of<V>::bits LO, int E> QARN_INLINE V small_band(V x) {
  if constexpr (single<V>) return band_lanes<V, LO, uint32_t(127 - E) << 23>(x);
  else return band_lanes<V, LO, uint64_t(1023 - E) << 52>(x);
}
// atan2: the smaller magnitude below 2^-E times the larger (the quotient may then
// be anything below 2^-E, subnormal or zero included: the closed form divides as
// the main path does).
template <int E, class V> QARN_INLINE V ratio_small(V y, V x) {
  V ay = vabs(y), ax = vabs(x);
  V k;
  if constexpr (single<V>) k = kc<V, uint32_t(127 + E) << 23>();
  else k = kc<V, uint64_t(1023 + E) << 52>();
  return cmp<_CMP_LT_OQ>(vmin(ay, ax) * k, vmax(ay, ax));
}
// Either operand outside the main path's range.
template <class V> QARN_INLINE V outside(V y, V x) { return out_of_range(vabs(y)) | out_of_range(vabs(x)); }

}  // namespace atank

template <class T, var Vr> struct atan_k;

// Default: no special lanes.
template <class T> struct atan_k<T, var::def> {
  using elem = T;
  static constexpr bool has_special = false;

  template <class V> static QARN_INLINE V main(V x) {
    using namespace atank;
    if constexpr (single<V>) {
      V base;
      V t = split<false, true>(x, base);
      return base + atan_c8(t);
    } else {
      V a = vabs(x);
      V big = cmp<_CMP_GE_OQ>(a, kc<V, 0x401F800000000000ull>());  // 7.875
      V s = a + kc<V, 0x4318000000000000ull>();                        // 1.5*2^50: quarters
      V b = s - kc<V, 0x4318000000000000ull>();
      V base = blend(big, lookup(tab::ATAN32d, low32(s) & 31), kc<V, 0x3FF921FB54442D18ull>());
      V num = blend(big, a - b, minus_one<V>());
      V den = blend(big, one<V>() + a * b, vmin(a, kc<V, 0x47F0000000000000ull>()));  // 2^128
      V t = num / den;
      V z = t * t, z2 = z * z;
      V q = (kc<V, 0xBFD555555555554Dull>() + kc<V, 0x3FC999999998741Eull>() * z) +
            z2 * ((kc<V, 0xBFC249248EEF04DAull>() + kc<V, 0x3FBC71BFEFF916A0ull>() * z) +
                  z2 * (kc<V, 0xBFB74257C46790CCull>() + kc<V, 0x3FB2E9B9F5C4FE97ull>() * z));
      return (base + (t + (t * z) * q)) ^ sign(x);
    }
  }
  // No special lanes, but a tiny band: t = x (double: b = 0, base = 0, t = |x|),
  // and the result is x.
  template <class V> static QARN_INLINE V tiny(V x) {
    if constexpr (atank::single<V>) return atank::small_band<V, 0x00800000u, 16>(x);
    else return atank::small_band<V, 0x0010000000000000ull, 128>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) { r = blend(t, r, x); }
  template <class V> static QARN_INLINE V special(V x) { return tiny(x); }
};

template <class T> struct atan_k<T, var::native> {
  using elem = T;

  template <class V> static QARN_INLINE V main(V x) {
    V base;
    V t = atank::split<false, false>(x, base);
    return base + atank::atan_native(t);
  }
  // The band's lanes in the same pass: t = x and base = +-0 there, and the
  // polynomial on t's square zeroed gives x*p0, the closed form.
  template <class V> requires std::is_same_v<T, float> static QARN_INLINE V main_band(V x, V) {
    V base;
    V t = atank::split<false, false>(x, base);
    return base + atank::atan_native<true>(t);
  }
  // Tiny x: t = x, base = +-0, and the result is x*p0 rounded once; from where
  // that is normal (0x1.000ebcp-126, 0x1.0000000a52bdep-1022).  Double up to 2^-120:
  // the reciprocal estimate of x rounded to float is subnormal below 2^-126.
  template <class V> static QARN_INLINE V tiny(V x) {
    if constexpr (atank::single<V>) return atank::small_band<V, 0x0080075Eu, 16>(x);
    else return atank::small_band<V, 0x0010000000A52BDEull, 120>(x);
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    if constexpr (atank::single<V>) r = blend(t, r, x * kc<V, 0x3F7FF145u>());
    else r = blend(t, r, x * kc<V, 0x3FEFFFFFFEB5A845ull>());
  }
  template <class V> static QARN_INLINE V special(V x) {
    if constexpr (atank::single<V>) return cmp<_CMP_EQ_OQ>(vabs(x), kc<V, 0x7F800000u>()) | tiny(x);
    else return cmp<_CMP_EQ_OQ>(vabs(x), kc<V, 0x7FF0000000000000ull>()) | tiny(x);
  }
};

template <class T, var Vr> struct atanpi_k {
  using elem = T;

  template <class V> static QARN_INLINE V main(V x) {
    V base;
    V t = atank::split<true, true>(x, base);
    return base + atank::atanpi_r<Vr == var::def>(t);
  }
  // Tiny x in the main path's range: t = x, base = +-0, and the result is x*r0
  // rounded once; float from where that is normal (0x1.921fb8p-125, _native
  // 0x1.9236dap-125).
  template <class V> static QARN_INLINE V tiny(V x) {
    constexpr bool d = Vr == var::def;
    if constexpr (atank::single<V>) {
      if constexpr (d) return atank::small_band<V, 0x01490FDCu, 30>(x);
      else return atank::small_band<V, 0x01491B6Du, 16>(x);
    } else {
      return atank::small_band<V, 0x0030000000000000ull, d ? 250 : 128>(x);
    }
  }
  template <class V> static QARN_INLINE void tiny_fix(V x, V t, V& r) {
    constexpr bool d = Vr == var::def;
    V c;
    if constexpr (atank::single<V>) c = d ? kc<V, 0x3EA2F983u>() : kc<V, 0x3EA2F023u>();
    else c = d ? kc<V, 0x3FD45F306DC9C883ull>() : kc<V, 0x3FD45F306CF77B05ull>();
    r = blend(t, r, x * c);
  }
  template <class V> static QARN_INLINE V special(V x) { return atank::out_of_range(vabs(x)) | tiny(x); }
};

template <class T, var Vr> struct atan2_k {
  using elem = T;
  static constexpr bool dflt = Vr == var::def;

  template <class V> static QARN_INLINE V main(V y, V x) {
    using namespace atank;
    auto q = angle_ratio<dflt>(y, x);
    return quadrant<false>((q.swap & quarter<false, V>()) + atan_of(q.t), y, x);
  }
  template <class V> static QARN_INLINE V atan_of(V t) {
    using namespace atank;
    if constexpr (!dflt) return atan_native(t);
    else if constexpr (single<V>) return atan_c8(t);
    else return atan_q19(t);
  }
  template <class V> static QARN_INLINE V band_atan(V t) {
    if constexpr (dflt) return t;
    else if constexpr (atank::single<V>) return t * kc<V, 0x3F7FF145u>();
    else return t * kc<V, 0x3FEFFFFFFEB5A845ull>();
  }
  // The main path with the lanes t of the band finished on the way: the calm
  // quotient (the main path's own on every other lane in range, whose smaller
  // operand is at least 2^-16 times the larger, far above the floor), the
  // polynomial on zero there.  Float only: the double band of _native reaches
  // below the floor.
  template <class V> requires std::is_same_v<T, float> static QARN_INLINE V main_band(V y, V x, V t) {
    using namespace atank;
    auto q = angle_ratio_calm<dflt>(y, x);
    V at = blend(t, atan_of(andnot(q.t, t)), band_atan(q.t));
    return quadrant<false>((q.swap & quarter<false, V>()) + at, y, x);
  }
  // The quotient t below 2^-E, both operands in range: atan(t) = t (t*p0 in
  // _native) to nearest.
  static constexpr int E = std::is_same_v<T, float> ? 16 : dflt ? 64 : 128;
  template <class V> static QARN_INLINE V tiny(V y, V x) { return andnot(atank::ratio_small<E>(y, x), atank::outside(y, x)); }
  template <class V> static QARN_INLINE void tiny_fix(V y, V x, V t, V& r) {
    using namespace atank;
    auto q = angle_ratio_calm<dflt>(y, x);
    r = blend(t, r, quadrant<false>((q.swap & quarter<false, V>()) + band_atan(q.t), y, x));
  }
  template <class V> static QARN_INLINE V special(V y, V x) { return atank::outside(y, x) | atank::ratio_small<E>(y, x); }
  // Lanes with a zero operand and no NaN: the angle from the signs alone.
  template <class V> static QARN_INLINE V fixup(V y, V x, V& r) {
    using namespace atank;
    V ay = vabs(y), ax = vabs(x);
    V swap = cmp<_CMP_NLT_UQ>(ay, ax);
    V den = blend(swap, ax, ay);
    V fixed = (cmp<_CMP_EQ_OQ>(ay, bits<V>(0)) | cmp<_CMP_EQ_OQ>(ax, bits<V>(0))) & cmp<_CMP_ORD_Q>(y, x);
    V b = andnot(swap & quarter<false, V>(), cmp<_CMP_EQ_OQ>(den, bits<V>(0)));
    V v = ((b | sign(x)) + blend(x, bits<V>(0), halfturn<false, V>())) | sign(y);
    r = blend(fixed, r, v);
    return fixed;
  }
};

template <class T, var Vr> struct atan2pi_k {
  using elem = T;
  static constexpr bool dflt = Vr == var::def;

  template <class V> static QARN_INLINE V main(V y, V x) {
    using namespace atank;
    auto q = angle_ratio<dflt>(y, x);
    return quadrant<true>((q.swap & quarter<true, V>()) + atanpi_r<dflt>(q.t), y, x);
  }
  template <class V> static QARN_INLINE V band_c() {
    if constexpr (atank::single<V>) return dflt ? kc<V, 0x3EA2F983u>() : kc<V, 0x3EA2F023u>();
    else return dflt ? kc<V, 0x3FD45F306DC9C883ull>() : kc<V, 0x3FD45F306CF77B05ull>();
  }
  // The main path with the lanes t of the band finished on the way (as atan2's;
  // the float band ends at 2^-30 or 2^-16, above the floor).
  template <class V> requires std::is_same_v<T, float> static QARN_INLINE V main_band(V y, V x, V t) {
    using namespace atank;
    auto q = angle_ratio_calm<dflt>(y, x);
    V at = blend(t, atanpi_r<dflt>(andnot(q.t, t)), q.t * band_c<V>());
    return quadrant<true>((q.swap & quarter<true, V>()) + at, y, x);
  }
  // The quotient t below 2^-E, both operands in range: atan(t)/pi = t*r0 to nearest.
  static constexpr int E = std::is_same_v<T, float> ? (dflt ? 30 : 16) : dflt ? 250 : 128;
  template <class V> static QARN_INLINE V tiny(V y, V x) { return andnot(atank::ratio_small<E>(y, x), atank::outside(y, x)); }
  template <class V> static QARN_INLINE void tiny_fix(V y, V x, V t, V& r) {
    using namespace atank;
    auto q = angle_ratio_calm<dflt>(y, x);
    r = blend(t, r, quadrant<true>((q.swap & quarter<true, V>()) + q.t * band_c<V>(), y, x));
  }
  template <class V> static QARN_INLINE V special(V y, V x) { return atank::outside(y, x) | atank::ratio_small<E>(y, x); }
};

}  // namespace qarn
