// cbrt and rcbrt in float and double.
//
// |x| = 2^(3(q - B)) 2^r m with m in [1, 2) and r = 0, 1, 2 (q from the exponent
// field by a multiply and shift: 0x1556 / 2^14 in double, 0x555 / 2^12 in float
// on E - 1).  With b the top five fraction bits and c_b = 1 + b/32 + 1/64,
// u = (m - c_b)/c_b is formed without division as ((-m) - (-c_b)) * (-1/c_b), both
// negatives built by OR-ing fraction bits into the pattern of -1 (the subtraction
// is exact), and
//   cbrt(x) = S T (1 + u)^(1/3),   S = ±2^(q - B), T = (2^r c_b)^(1/3) from a table
// (rcbrt the same with the exponents negated).  (1 + u)^(±1/3) = 1 + u P(u), P the
// binomial series, |u| <= 1/64.  The default variants add the table's low part;
// _native have a shorter P and no low part.
// Lanes that are not normal finite numbers (zero, subnormal, infinity, NaN) go to
// the lane fallback (roots/cbrt_fallback.cpp).
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "tables/roots_tables.h"

namespace qarn {

namespace cbrtk {

QARN_INLINE __m128i k32(int v) { return _mm_set1_epi32(v); }

// Exponent work on one 128-bit piece of 32-bit words w (float patterns, or the
// high words of doubles): the table index 32r + b, the reciprocal index b and the
// scale's pattern (float pattern, or the double's high word).
struct ints { __m128i idx, b, s; };
template <bool Dbl, bool Recip> QARN_INLINE ints exponent_work(__m128i w) {
  __m128i E, q, r, b, s;
  __m128i sign = _mm_and_si128(w, k32(int(0x80000000u)));
  if constexpr (Dbl) {
    E = _mm_and_si128(_mm_srli_epi32(w, 20), k32(0x7FF));
    q = _mm_srli_epi32(_mm_mullo_epi32(E, k32(0x1556)), 14);
    r = _mm_sub_epi32(E, _mm_add_epi32(q, _mm_add_epi32(q, q)));
    b = _mm_and_si128(_mm_srli_epi32(w, 15), k32(31));
    if constexpr (Recip) s = _mm_sub_epi32(_mm_or_si128(sign, k32(0x55400000)), _mm_slli_epi32(q, 20));
    else s = _mm_add_epi32(_mm_or_si128(sign, k32(0x2AA00000)), _mm_slli_epi32(q, 20));
  } else {
    E = _mm_and_si128(_mm_srli_epi32(w, 23), k32(0xFF));
    q = _mm_srli_epi32(_mm_mullo_epi32(E, k32(0x555)), 12);
    r = _mm_sub_epi32(_mm_sub_epi32(E, k32(1)), _mm_add_epi32(q, _mm_add_epi32(q, q)));
    b = _mm_and_si128(_mm_srli_epi32(w, 18), k32(31));
    if constexpr (Recip) s = _mm_or_si128(sign, _mm_slli_epi32(_mm_sub_epi32(k32(169), q), 23));
    else s = _mm_or_si128(sign, _mm_slli_epi32(_mm_add_epi32(q, k32(85)), 23));
  }
  return {_mm_add_epi32(_mm_slli_epi32(r, 5), b), b, s};
}

// The indices and the scale of every lane of x.
template <class V> struct reduced { idx_t<V> idx, b; V s; };
template <bool Recip, class V> QARN_INLINE reduced<V> reduce(V x) {
  if constexpr (std::is_same_v<V, vf4>) {
    ints a = exponent_work<false, Recip>(_mm_castps_si128(x.v));
    return {{a.idx}, {a.b}, {_mm_castsi128_ps(a.s)}};
  } else if constexpr (std::is_same_v<V, vf8>) {
    ints a = exponent_work<false, Recip>(detail::lo(x.v)), c = exponent_work<false, Recip>(detail::hi(x.v));
    return {{a.idx, c.idx}, {a.b, c.b}, {detail::join_ps(a.s, c.s)}};
  } else {
    ints a = exponent_work<true, Recip>(high32(x).v);
    __m128i z = _mm_setzero_si128();
    if constexpr (std::is_same_v<V, vd2>) return {{a.idx}, {a.b}, {_mm_castsi128_pd(_mm_unpacklo_epi32(z, a.s))}};
    else return {{a.idx}, {a.b}, {detail::join_pd(_mm_unpacklo_epi32(z, a.s), _mm_unpackhi_epi32(z, a.s))}};
  }
}

// Lanes that are not normal finite numbers.
template <class V> QARN_INLINE V not_normal(V x) {
  V a = vabs(x);
  if constexpr (sizeof(elem_t<V>) == 4)
    return cmp<_CMP_NGE_UQ>(a, kc<V, 0x00800000u>()) | cmp<_CMP_NLE_UQ>(a, kc<V, 0x7F7FFFFFu>());
  else
    return cmp<_CMP_NGE_UQ>(a, kc<V, 0x0010000000000000ull>()) | cmp<_CMP_NLE_UQ>(a, kc<V, 0x7FEFFFFFFFFFFFFFull>());
}

// u = (m - c_b)/c_b.
template <class V> QARN_INLINE V reduced_u(V x, idx_t<V> b) {
  if constexpr (sizeof(elem_t<V>) == 4) {
    V nm = (x & kc<V, 0x007FFFFFu>()) | kc<V, 0xBF800000u>();
    V nc = (x & kc<V, 0x007E0000u>()) | kc<V, 0xBF820000u>();
    return (nm - nc) * lookup(tab::CbrtRcpF, b);
  } else {
    V nm = (x & kc<V, 0x000FFFFFFFFFFFFFull>()) | kc<V, 0xBFF0000000000000ull>();
    V nc = (x & kc<V, 0x000FC00000000000ull>()) | kc<V, 0xBFF0400000000000ull>();
    return (nm - nc) * lookup(tab::CbrtRcpD, b);
  }
}

// Root tables: (hi, lo) pairs, or the hi values alone.
template <class T, bool Recip, bool Pairs> QARN_INLINE const T* root_table() {
  if constexpr (sizeof(T) == 4) {
    if constexpr (Pairs) return Recip ? tab::RcbrtF : tab::CbrtF;
    else return Recip ? tab::RcbrtHiF : tab::CbrtHiF;
  } else {
    if constexpr (Pairs) return Recip ? tab::RcbrtD : tab::CbrtD;
    else return Recip ? tab::RcbrtHiD : tab::CbrtHiD;
  }
}

template <class T, bool Recip, var Vr> struct root3 {
  using elem = T;

  template <class V> static QARN_INLINE V poly(V u) {
    constexpr bool d = sizeof(T) == 8, nat = Vr != var::def;
    if constexpr (d && !Recip && !nat)
      return ((((((kc<V, 0xBF9036DE5C9CC8E7ull>() * u + kc<V, 0x3F93750AD588F115ull>()) * u +
                  kc<V, 0xBF98090D6221A247ull>()) * u + kc<V, 0x3F9EE7113506AC12ull>()) * u +
                kc<V, 0xBFA511E8D2B3183Bull>()) * u + kc<V, 0x3FAF9ADD3C0CA458ull>()) * u +
              kc<V, 0xBFBC71C71C71C71Cull>()) * u + kc<V, 0x3FD5555555555555ull>();
    else if constexpr (d && !Recip)
      return (kc<V, 0x3FAF9ADD3C0CA458ull>() * u + kc<V, 0xBFBC71C71C71C71Cull>()) * u + kc<V, 0x3FD5555555555555ull>();
    else if constexpr (d && !nat)
      return ((((((kc<V, 0x3FB791D4F50A7B47ull>() * u + kc<V, 0xBFB9B33CA7A65562ull>()) * u +
                  kc<V, 0x3FBC67C9DD3D11BBull>()) * u + kc<V, 0xBFBFF4C33F90EF5Full>()) * u +
                kc<V, 0x3FC26FABB85D0196ull>()) * u + kc<V, 0xBFC61F9ADD3C0CA3ull>()) * u +
              kc<V, 0x3FCC71C71C71C71Cull>()) * u + kc<V, 0xBFD5555555555555ull>();
    else if constexpr (d)
      return ((kc<V, 0x3FC26FABB85D0196ull>() * u + kc<V, 0xBFC61F9ADD3C0CA3ull>()) * u +
              kc<V, 0x3FCC71C71C71C71Cull>()) * u + kc<V, 0xBFD5555555555555ull>();
    else if constexpr (!Recip && !nat)
      return ((kc<V, 0xBD288F47u>() * u + kc<V, 0x3D7CD6EAu>()) * u + kc<V, 0xBDE38E39u>()) * u + kc<V, 0x3EAAAAABu>();
    else if constexpr (!Recip)
      return kc<V, 0x3EAAAAABu>();
    else if constexpr (!nat)
      return ((kc<V, 0x3E137D5Eu>() * u + kc<V, 0xBE30FCD7u>()) * u + kc<V, 0x3E638E39u>()) * u + kc<V, 0xBEAAAAABu>();
    else
      return kc<V, 0xBEAAAAABu>();
  }

  template <class V> static QARN_INLINE V main(V x) {
    reduced<V> rd = reduce<Recip>(x);
    V u = reduced_u(x, rd.b);
    V p = poly(u);
    if constexpr (Vr == var::def) {
      auto tt = lookup2(root_table<T, Recip, true>(), rd.idx);
      V A = tt.hi * rd.s, B = tt.lo * rd.s;
      return (p * (A * u) + B) + A;
    } else {
      V A = lookup(root_table<T, Recip, false>(), rd.idx) * rd.s;
      return p * (A * u) + A;
    }
  }
  template <class V> static QARN_INLINE V special(V x) { return not_normal(x); }
};

}  // namespace cbrtk

template <class T, var Vr> struct cbrt_k;
template <var Vr> struct cbrt_k<float, Vr> : cbrtk::root3<float, false, Vr> {
};
template <var Vr> struct cbrt_k<double, Vr> : cbrtk::root3<double, false, Vr> {
};
template <class T, var Vr> struct rcbrt_k;
template <var Vr> struct rcbrt_k<float, Vr> : cbrtk::root3<float, true, Vr> {
};
template <var Vr> struct rcbrt_k<double, Vr> : cbrtk::root3<double, true, Vr> {
};

}  // namespace qarn
