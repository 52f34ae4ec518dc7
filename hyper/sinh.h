// sinh, cosh, tanh in float and double: main paths and the special-lane tests.
//
//  * sinh, cosh (double): a = |x| is split as k*ln2 + j*ln2/N + r (N = 128 for sinh,
//    256 for cosh); the table gives the hyperbolic values at the step, scaled by 2^k
//    through the exponent field, and short polynomials give sinh r and cosh r - 1.
//    Lanes from 707.7001953125 up (and inf, NaN) go to the lane fallback, which
//    computes e^a/2 and overflows past 710.4758600739439.  Both variants are the
//    same code.
//  * sinhf, coshf: a = n*ln2 + r with 2^n/2 and 2^-n/2 built in the exponent field,
//    no table; the variants differ in the polynomials of r.  Lanes past 87.3365326
//    go to the fallback (the double routine, rounded once to float).
//  * tanh (double): one degree-10 polynomial per eighth of a binade over [0.125, 20),
//    a fixed fit below 0.125 and the constant 1 above; huge, inf and NaN lanes go
//    to the lane fallback.  Both variants are the same code.
//  * tanhf: rational functions with no special lanes; default a float/double mix
//    saturating at 8.015625, _native a float one saturating at 5.
// Tiny arguments come out as x itself from every default path (the polynomials
// start with r exactly), and sinh(-0) = -0, cosh(+-0) = 1.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "tables/hyper_tables.h"

namespace qarn {

namespace hyperk {

template <class V> QARN_INLINE V sign_of(V x) {
  if constexpr (sizeof(elem_t<V>) == 4) return x & kc<V, 0x80000000u>();
  else return x & kc<V, 0x8000000000000000ull>();
}

// 256 - j for int32 index lanes.
QARN_INLINE idx2 rsub(int m, idx2 a) { return {_mm_sub_epi32(_mm_set1_epi32(m), a.v)}; }
QARN_INLINE idx4 rsub(int m, idx4 a) { return {_mm_sub_epi32(_mm_set1_epi32(m), a.v)}; }

// Index lanes clamped to [0, 59] after an arithmetic shift by 17.
template <class I> QARN_INLINE I tanh_record(I d) {
  __m128i v = _mm_srai_epi32(d.v, 17);
  return {_mm_min_epi32(_mm_max_epi32(v, _mm_setzero_si128()), _mm_set1_epi32(59))};
}

// Records of 16 doubles, one per lane: pair(f, a, b) gives doubles f and f + 1
// (f even) of each lane's record as two vectors, so that a polynomial can consume
// them a pair at a time.  The rows' 16-byte halves are joined (lanes 0 and 2, 1 and
// 3) and unpacked: no shuffle crosses the register's halves.
template <class V> struct rows;
template <> struct rows<vd4> {
  const double* t;
  uint32_t o0, o1, o2, o3;  // offsets of the records, in doubles
  QARN_INLINE rows(const double* tab, idx4 i) : t(tab) {
    __m128i o = _mm_slli_epi32(i.v, 4);
    o0 = uint32_t(_mm_cvtsi128_si32(o)), o1 = uint32_t(_mm_extract_epi32(o, 1));
    o2 = uint32_t(_mm_extract_epi32(o, 2)), o3 = uint32_t(_mm_extract_epi32(o, 3));
  }
  QARN_INLINE void pair(int f, vd4& a, vd4& b) const {
    __m256d u = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(t + o0 + f)), _mm_load_pd(t + o2 + f), 1);
    __m256d v = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(t + o1 + f)), _mm_load_pd(t + o3 + f), 1);
    a = {_mm256_unpacklo_pd(u, v)}, b = {_mm256_unpackhi_pd(u, v)};
  }
};
template <> struct rows<vd2> {
  const double* t;
  uint32_t o0, o1;
  QARN_INLINE rows(const double* tab, idx2 i) : t(tab) {
    __m128i o = _mm_slli_epi32(i.v, 4);
    o0 = uint32_t(_mm_cvtsi128_si32(o)), o1 = uint32_t(_mm_extract_epi32(o, 1));
  }
  QARN_INLINE void pair(int f, vd2& a, vd2& b) const {
    __m128d u = _mm_load_pd(t + o0 + f), v = _mm_load_pd(t + o1 + f);
    a = {_mm_unpacklo_pd(u, v)}, b = {_mm_unpackhi_pd(u, v)};
  }
};

// Float lanes widened to double and back, for the mixed tanhf.
QARN_INLINE vd4 widen(vf4 a) { return {_mm256_cvtps_pd(a.v)}; }
QARN_INLINE vf4 narrow(vd4 a) { return {_mm256_cvtpd_ps(a.v)}; }

}  // namespace hyperk

// --------------------------------------------------------------------------- sinh
template <class T, var Vr> struct sinh_k;
template <class T, var Vr> struct cosh_k;

template <var Vr> struct sinh_k<double, Vr> {
  using elem = double;

  template <class V> static QARN_INLINE V main(V x) {
    V tiny = cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x2D30000000000000ull>());  // 2^-300: the result is x
    V a = andnot(vabs(x), tiny);
    V S = a * kc<V, 0x3FF71547652B82FEull>() + kc<V, 0x42C8000000000000ull>();  // a*128/ln2 in steps of 1/128
    V N = S - kc<V, 0x42C8000000000000ull>();
    auto ab = lookup2(tab::SHd, low32(S) & 127);                                 // (A_j, B_j)
    V K = ishl<45>(S & kc<V, 0xFFFFFFFFFFFFFF80ull>());                           // k * 2^52
    V r = (a - N * kc<V, 0x3FE62E42FEFA0000ull>()) - N * kc<V, 0x3D7CF79ABC9E3B3Aull>();
    V z = r * r;
    V SH = r + r * (z * (kc<V, 0x3FC55555555554ADull>() + kc<V, 0x3F8111115712F425ull>() * z));
    V CH = z * (kc<V, 0x3FDFFFFFFFFFFDBDull>() + kc<V, 0x3FA55555CF16D299ull>() * z);
    V P = iadd(ab.hi, K), Qp = iadd(ab.lo, K), Qm = isub(ab.lo, K);
    V U = P + (Qp - Qm);
    V C = P + (Qp + Qm);
    return blend(tiny, ((SH * C + CH * U) + U) | hyperk::sign_of(x), x);
  }
  // High word of |x| above 0x40861D99: |x| >= 707.7001953125, inf, NaN.
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NLT_UQ>(vabs(x), kc<V, 0x40861D9A00000000ull>());
  }
};

template <var Vr> struct cosh_k<double, Vr> {
  using elem = double;

  template <class V> static QARN_INLINE V main(V x) {
    V a = vabs(x);
    a = andnot(a, cmp<_CMP_LT_OQ>(a, kc<V, 0x3370000000000000ull>()));  // below 2^-200 as 0: cosh is 1
    V S = a * kc<V, 0x3FF71547652B82FEull>() + kc<V, 0x42B8000000000000ull>();  // steps of 1/256
    V N = S - kc<V, 0x42B8000000000000ull>();
    auto j = low32(S) & 255;
    V Hp = lookup(tab::CHd, j), Hm = lookup(tab::CHd, hyperk::rsub(256, j));
    V K = ishl<44>(S) & kc<V, 0x7FF0000000000000ull>();                         // k * 2^52
    V r = (a - N * kc<V, 0x3FE62E42FEFC0000ull>()) - N * kc<V, 0xBDAC610CA86C3899ull>();
    V z = r * r;
    V SH = r + (kc<V, 0x3FC5555570813E14ull>() * z) * r;
    V CH = z * (kc<V, 0x3FDFFFFFFFFFFDBDull>() + kc<V, 0x3FA55555CF16D299ull>() * z);
    V Ep = iadd(Hp, K);
    V Em = isub(Hm, iadd(K, kc<V, 0x0010000000000000ull>()));                     // H_(256-j) * 2^(-k-1)
    V D = Ep - Em, E = Ep + Em;
    return (CH * E + SH * D) + E;
  }
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NLT_UQ>(vabs(x), kc<V, 0x40861D9A00000000ull>());
  }
};

// Float: a = n*ln2 + r, P = 2^n/2 and M = 2^-n/2 from the exponent field.
namespace hyperk {
template <class V> struct redf { V r, z, C, Sd; };
template <class V> QARN_INLINE redf<V> reduce_f(V a) {
  V S = a * kc<V, 0x3FB8AA3B>() + kc<V, 0x4B400000>();
  V N = S - kc<V, 0x4B400000>();
  V K = ishl<23>(S);
  V r = (a - N * kc<V, 0x3F317000>()) - N * kc<V, 0x3805FDF4>();
  V P = iadd(kc<V, 0x3F000000>(), K), M = isub(kc<V, 0x3F000000>(), K);
  return {r, r * r, P + M, P - M};
}
}  // namespace hyperk

template <var Vr> struct sinh_k<float, Vr> {
  using elem = float;

  template <class V> static QARN_INLINE V main(V x) {
    V tiny = cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x2B800000>());  // 2^-40: the result is x
    auto [r, z, C, Sd] = hyperk::reduce_f(andnot(vabs(x), tiny));
    V res;
    if constexpr (Vr == var::def) {
      V SH = r + (z * (kc<V, 0x3E2AAA57>() + kc<V, 0x3C091461>() * z)) * r;
      V CH = z * (kc<V, 0x3F000000>() + z * (kc<V, 0x3D2AAA72>() + kc<V, 0x3AB6A8A3>() * z));
      res = (C * SH + CH * Sd) + Sd;
    } else {
      V SQ = kc<V, 0x3F7FFBC9>() + kc<V, 0x3E2CCD2E>() * z;
      V CQ = kc<V, 0x3EFFFB2F>() + kc<V, 0x3D2CA395>() * z;
      res = r * (r * (CQ * Sd) + SQ * C) + Sd;
    }
    return blend(tiny, res | hyperk::sign_of(x), x);
  }
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x42AEAC4E>()); }
};

template <var Vr> struct cosh_k<float, Vr> {
  using elem = float;

  template <class V> static QARN_INLINE V main(V x) {
    V a = vabs(x);
    auto [r, z, C, Sd] = hyperk::reduce_f(andnot(a, cmp<_CMP_LT_OQ>(a, kc<V, 0x30800000>())));  // 2^-30: 1
    if constexpr (Vr == var::def) {
      V SH = r + (z * (kc<V, 0x3E2AAA57>() + kc<V, 0x3C091461>() * z)) * r;
      V CH = z * (kc<V, 0x3F000000>() + z * (kc<V, 0x3D2AAA72>() + kc<V, 0x3AB6A8A3>() * z));
      return (Sd * SH + CH * C) + C;
    } else {
      V SQ = kc<V, 0x3F7FFBC9>() + kc<V, 0x3E2CCD2E>() * z;
      V CQ = kc<V, 0x3EFFFB2F>() + kc<V, 0x3D2CA395>() * z;
      return r * (r * (CQ * C) + SQ * Sd) + C;
    }
  }
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLT_UQ>(vabs(x), kc<V, 0x42AEAC4E>()); }
};

// --------------------------------------------------------------------------- tanh
template <class T, var Vr> struct tanh_k;

template <var Vr> struct tanh_k<double, Vr> {
  using elem = double;

  template <class V> static QARN_INLINE V main(V x) {
    // Below 2^-900 the result is x: those lanes evaluate at 0 (no subnormal powers
    // of t) and take x at the end, where the test is made again rather than kept
    // in a register across the polynomial.
    V a = andnot(vabs(x), tiny_lanes(x));
    auto h = high32(x) & 0x7FFE0000;  // exponent and top three fraction bits of |x|
    auto i = hyperk::tanh_record(h - 0x3FBE0000);
    hyperk::rows<V> rec(tab::THd, i);  // -point, c10, ..., c0, read two at a time
    V u, c;
    rec.pair(0, u, c);  // -point, c10
    V t = a + u, p = c;
    #pragma GCC unroll 5
    for (int f = 2; f < 12; f += 2) {  // c9 c8, ..., c1 c0
      asm volatile("" : "+x"(p.v) : : "memory");  // each pair read where it is used: hoisted, they spill
      rec.pair(f, u, c);
      p = c + t * (u + t * p);
    }
    return blend(tiny_lanes(opaque_copy(x)), p | hyperk::sign_of(x), x);
  }
  template <class V> static QARN_INLINE V tiny_lanes(V x) {
    return cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x07B0000000000000ull>());
  }
  template <class V> static QARN_INLINE V opaque_copy(V x) {
    asm("" : "+x"(x.v));
    return x;
  }
  // High word AND 0x7FFE0000 above 0x7FE00000: |x| >= 0x7FE2000000000000, inf, NaN.
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NLT_UQ>(vabs(x), kc<V, 0x7FE2000000000000ull>());
  }
};

template <var Vr> struct tanh_k<float, Vr> {
  using elem = float;
  static constexpr bool has_special = false;

  template <class V> static QARN_INLINE V main(V x) {
    V tiny = cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x2B800000>());  // 2^-40: the result is x
    V a = andnot(vabs(x), tiny);
    V z = a * a;
    V q;
    V one = kc<V, 0x3F800000>();
    if constexpr (Vr == var::def) {
      V big = cmp<_CMP_GE_OQ>(a, kc<V, 0x41004000>());  // 8.015625
      V p = (kc<V, 0x32750800>() * z + kc<V, 0x37B239C3>()) * z + kc<V, 0x3B679600>();
      V qq = kc<V, 0x355A9223>() * z + kc<V, 0x39AF8D12>();
      V num, den;
      if constexpr (std::is_same_v<V, vf4>) {
        rational(hyperk::widen(p), hyperk::widen(qq), hyperk::widen(a), num, den);
      } else {
        vf4 nl, nh, dl, dh;
        vf4 pl{_mm256_castps256_ps128(p.v)}, ph{_mm256_extractf128_ps(p.v, 1)};
        vf4 ql{_mm256_castps256_ps128(qq.v)}, qh{_mm256_extractf128_ps(qq.v, 1)};
        vf4 al{_mm256_castps256_ps128(a.v)}, ah{_mm256_extractf128_ps(a.v, 1)};
        rational(hyperk::widen(pl), hyperk::widen(ql), hyperk::widen(al), nl, dl);
        rational(hyperk::widen(ph), hyperk::widen(qh), hyperk::widen(ah), nh, dh);
        num = {_mm256_insertf128_ps(_mm256_castps128_ps256(nl.v), nh.v, 1)};
        den = {_mm256_insertf128_ps(_mm256_castps128_ps256(dl.v), dh.v, 1)};
      }
      q = blend(big, (num * a) / den, one);
    } else {
      V N = a + a * (z * (kc<V, 0x3DD1C060>() + kc<V, 0x3A2FC8E6>() * z) + kc<V, 0xB859E195>());
      V D = one + z * (kc<V, 0x3EDEF102>() + kc<V, 0x3C520A84>() * z);
      q = blend(cmp<_CMP_GE_OQ>(a, kc<V, 0x40A00000>()), N / D, one);
    }
    return blend(tiny, q ^ hyperk::sign_of(x), x);
  }

 private:
  // The double part of the default variant: numerator and denominator in Z = a^2,
  // rounded to float.
  static QARN_INLINE void rational(vd4 p, vd4 q, vd4 a, vf4& num, vf4& den) {
    vd4 Z = a * a;
    vd4 n = (p * Z + kc<vd4, 0x3FC12B2ADE806E60ull>()) * Z + kc<vd4, 0x3FF0000000000000ull>();
    vd4 d = ((q * Z + kc<vd4, 0x3F9AA5668F92C8DFull>()) * Z + kc<vd4, 0x3FDDEAEA531EA139ull>()) * Z +
            kc<vd4, 0x3FF000000341B1A6ull>();
    num = hyperk::narrow(n);
    den = hyperk::narrow(d);
  }
};

}  // namespace qarn
