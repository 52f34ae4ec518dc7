// The main paths shared by pow, powr, pown and rootn: logarithm of a positive
// normal x, product with the exponent, exponential, each in the precision its
// variant asks for.  Every function takes only lanes the caller's special test
// lets through (x positive normal finite, the product inside the range bound);
// other lanes compute garbage that the lane fallback replaces.
//
//   double default (pow, powr, pown, rootn): log2 x as a head and a tail from the
//     1025-row reciprocal table (r = m*rcp - log2(e), exact in two pieces), the
//     product with y in two words (26-bit heads, exact), exp2 by 128 steps and a
//     degree-5 polynomial.  About 68 bits in log2 x; < 1 ulp measured.
//   double _native (and powf default on widened floats): ln x from the bare
//     reciprocal estimate and LNd, exp by 2048 steps and a linear term.
//   float double-word (powrf, pownf, rootnf default): ln x = C + low from RL65,
//     exact product with y by Dekker's 4097 split, degree-5 exp.
//   float single (the short float variants): the logf _half polynomial and a cubic.
#pragma once
#include "explog/exp.h"
#include "explog/log.h"
#include "frame/frame.h"
#include "tables/pow_tables.h"

namespace qarn::powk {

// ---- table rows ----------------------------------------------------------------
// Rows of four values per index, loaded whole and transposed: columns 0..2.
template <class V> struct row3 { V a, b, c; };

QARN_INLINE row3<vf4> rows(const float* t, idx4 i) {
  __m128 r0 = _mm_load_ps(t + 4 * _mm_cvtsi128_si32(i.v)), r1 = _mm_load_ps(t + 4 * _mm_extract_epi32(i.v, 1));
  __m128 r2 = _mm_load_ps(t + 4 * _mm_extract_epi32(i.v, 2)), r3 = _mm_load_ps(t + 4 * _mm_extract_epi32(i.v, 3));
  __m128 t0 = _mm_unpacklo_ps(r0, r1), t1 = _mm_unpacklo_ps(r2, r3);  // a0 a1 b0 b1 | a2 a3 b2 b3
  __m128 t2 = _mm_unpackhi_ps(r0, r1), t3 = _mm_unpackhi_ps(r2, r3);  // c0 c1 . . | c2 c3 . .
  return {{_mm_movelh_ps(t0, t1)}, {_mm_movehl_ps(t1, t0)}, {_mm_movelh_ps(t2, t3)}};
}
QARN_INLINE row3<vf8> rows(const float* t, idx8 i) {
  row3<vf4> a = rows(t, idx4{i.lo}), b = rows(t, idx4{i.hi});
  auto j = [](vf4 l, vf4 h) { return vf8{_mm256_insertf128_ps(_mm256_castps128_ps256(l.v), h.v, 1)}; };
  return {j(a.a, b.a), j(a.b, b.b), j(a.c, b.c)};
}
QARN_INLINE row3<vd2> rows(const double* t, idx2 i) {
  int i0 = _mm_cvtsi128_si32(i.v), i1 = _mm_extract_epi32(i.v, 1);
  __m128d r0 = _mm_load_pd(t + 4 * i0), r1 = _mm_load_pd(t + 4 * i1);
  return {{_mm_unpacklo_pd(r0, r1)}, {_mm_unpackhi_pd(r0, r1)}, {_mm_setr_pd(t[4 * i0 + 2], t[4 * i1 + 2])}};
}
QARN_INLINE row3<vd4> rows(const double* t, idx4 i) {
  __m256d r0 = _mm256_load_pd(t + 4 * _mm_cvtsi128_si32(i.v)), r1 = _mm256_load_pd(t + 4 * _mm_extract_epi32(i.v, 1));
  __m256d r2 = _mm256_load_pd(t + 4 * _mm_extract_epi32(i.v, 2)), r3 = _mm256_load_pd(t + 4 * _mm_extract_epi32(i.v, 3));
  __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);  // a0 a1 c0 c1 | b0 b1 d0 d1
  __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
  return {{_mm256_permute2f128_pd(t0, t2, 0x20)}, {_mm256_permute2f128_pd(t1, t3, 0x20)},
          {_mm256_permute2f128_pd(t0, t2, 0x31)}};
}

// Width 1 (every lane a copy of lane 0, see simd.h): lane 0's row read once.
template <int Lanes, class T, class I> QARN_INLINE auto rows(const T* t, I i) {
  if constexpr (std::is_same_v<I, int64_t> && sizeof(T) == 8) {  // lane 0's index, a scalar
    const double* p = t + 4 * i;
    return row3<vd2>{{_mm_loaddup_pd(p)}, {_mm_loaddup_pd(p + 1)}, {_mm_loaddup_pd(p + 2)}};
  } else if constexpr (Lanes == 1 && std::is_same_v<I, idx2>) {
    const double* p = t + 4 * _mm_cvtsi128_si32(i.v);
    return row3<vd2>{{_mm_loaddup_pd(p)}, {_mm_loaddup_pd(p + 1)}, {_mm_loaddup_pd(p + 2)}};
  } else if constexpr (Lanes == 1 && std::is_same_v<I, idx4> && sizeof(T) == 4) {
    const float* p = t + 4 * _mm_cvtsi128_si32(i.v);
    return row3<vf4>{{_mm_broadcast_ss(p)}, {_mm_broadcast_ss(p + 1)}, {_mm_broadcast_ss(p + 2)}};
  } else {
    return rows(t, i);
  }
}

// ---- small integer helpers on index lanes -----------------------------------------
template <int N> QARN_INLINE idx2 sra(idx2 a) { return {_mm_srai_epi32(a.v, N)}; }
template <int N> QARN_INLINE idx4 sra(idx4 a) { return {_mm_srai_epi32(a.v, N)}; }
QARN_INLINE idx2 operator+(idx2 a, int m) { return {_mm_add_epi32(a.v, _mm_set1_epi32(m))}; }
QARN_INLINE idx4 operator+(idx4 a, int m) { return {_mm_add_epi32(a.v, _mm_set1_epi32(m))}; }
template <int N> QARN_INLINE idx8 shr(idx8 a) { return {_mm_srli_epi32(a.lo, N), _mm_srli_epi32(a.hi, N)}; }
QARN_INLINE idx8 operator+(idx8 a, int m) {
  return {_mm_add_epi32(a.lo, _mm_set1_epi32(m)), _mm_add_epi32(a.hi, _mm_set1_epi32(m))};
}

// Float lanes' sign bit from the low bit of n (odd n), and the same for doubles.
template <class V> QARN_INLINE V odd_sign(idx_t<V> n) {
  if constexpr (sizeof(elem_t<V>) == 4) return ishl<31>(widen<V>(n));
  else return ishl<63>(widen<V>(n));
}

// Dekker's split by a factor 2^s + 1: a = hi + lo, hi with the top bits of a.
template <class V> struct dw { V hi, lo; };
template <class V> QARN_INLINE dw<V> split(V a, V factor) {
  V t = a * factor;
  V hi = t - (t - a);
  return {hi, a - hi};
}
template <class V> QARN_INLINE V split_factor() {
  if constexpr (sizeof(elem_t<V>) == 4) return kc<V, 0x45800800u>();  // 4097
  else return kc<V, 0x41A0000002000000ull>();                        // 2^27 + 1
}
// The rounding error of a*b given p = a*b, from the splits of a and b.
template <class V> QARN_INLINE V prod_err(dw<V> a, dw<V> b, V p) {
  return (((a.hi * b.hi - p) + a.hi * b.lo) + a.lo * b.hi) + a.lo * b.lo;
}

// 1/n in two words: y_hi the rounded quotient, y_lo = (1 - n*y_hi)*y_hi with
// n*y_hi formed exactly from the splits.  The split serves only that product; y_hi
// stays the full quotient (a split head alone would carry only half its bits).
template <class V> QARN_INLINE dw<V> recip2(V nf) {
  V one;
  if constexpr (sizeof(elem_t<V>) == 4) one = kc<V, 0x3F800000u>(); else one = kc<V, 0x3FF0000000000000ull>();
  V yh = one / nf;
  V p = nf * yh;
  V e = prod_err(split(nf, split_factor<V>()), split(yh, split_factor<V>()), p);
  return {yh, ((one - p) - e) * yh};
}

// ---- double default: log2 x in two words ---------------------------------------------
// (E: the unbiased exponent, +1 from m >= 1.4995; t: the row of the top 10
// mantissa bits, rounded.)
template <class V> QARN_INLINE dw<V> log2_dd_rows(V x, V E, row3<V> t);
template <int Lanes = 0, class V> QARN_INLINE dw<V> log2_dd(V x) {
  if constexpr (Lanes == 1) {
    // Width 1: E and the row index from lane 0's high word in an integer register.
    uint32_t hw = uint32_t(uint64_t(_mm_cvtsi128_si64(_mm_castpd_si128(x.v))) >> 32);
    V E = {_mm_set1_pd(double(int32_t(hw - 0x3FE7FE00u) >> 20))};
    return log2_dd_rows(x, E, rows<1>(tab::RL1025d, int64_t(((hw & 0x000FFE00) + 0x200) >> 10)));
  } else {
    auto hw = high32(x);
    V E = cvt_int(sra<20>(hw - 0x3FE7FE00));              // unbiased exponent, +1 from m >= 1.4995
    auto j = shr<10>((hw & 0x000FFE00) + 0x200);          // top 10 mantissa bits, rounded: 0..1024
    return log2_dd_rows(x, E, rows<Lanes>(tab::RL1025d, j));  // rcp_j, hi_j, lo_j
  }
}
template <class V> QARN_INLINE dw<V> log2_dd_rows(V x, V E, row3<V> t) {
  V m = (x & kc<V, 0x000FFFFFFFFFFFFFull>()) | kc<V, 0x3FF0000000000000ull>();
  V m_hi = m & kc<V, 0xFFFFFFFFF8000000ull>();
  V m_lo = m - m_hi;
  V v = m * t.a;
  V t1 = v - kc<V, 0x3FF7154740000000ull>();             // exact
  V c = m_lo * t.a + (m_hi * t.a - v);                   // the rounding error of v
  V u = t1 + c;
  V Eh = E + t.b;                                        // exact: hi_j has 21 bits
  V A = Eh + t1;
  V eA = (Eh - A) + t1;                                  // |Eh| >= |t1| or Eh = 0
  V A2 = A + c;
  V eA2 = (A - A2) + c;
  V p = u * (kc<V, 0x3E79C3A6966457EEull>() +
             u * (kc<V, 0xBFD62E4346694107ull>() +
                  u * (kc<V, 0x3FC47FD462B3B816ull>() +
                       u * (kc<V, 0xBFB550472A8BB463ull>() +
                            u * (kc<V, 0x3FA7A334DDFC9F86ull>() + u * kc<V, 0xBF9B4EA0E9419F52ull>())))));
  V low = ((eA + eA2) + t.c) + p;
  // Head and tail: the low part holds p(u) ~ u^2/3, not small against A2 next to
  // x = 1, and t = y*log2 x must keep its tail below 2^-26 of its head so that the
  // exp2 step's fraction stays inside its interval.
  V H = A2 + low;
  return {H, low - (H - A2)};
}

// t = y*log2 x in two words; y = y_hi + y_lo (y_lo = 0 for pow), heads of 26 bits.
template <class V> QARN_INLINE dw<V> mul_dd(dw<V> l, V y, V ylo) {
  V yh = y & kc<V, 0xFFFFFFFFF8000000ull>();
  V lh = l.hi & kc<V, 0xFFFFFFFFF8000000ull>();
  V th = yh * lh;                                         // exact
  V tl = ((yh * (l.hi - lh) + (y - yh) * l.hi) + y * l.lo) + ylo * l.hi;
  return {th, tl};
}
template <class V> QARN_INLINE dw<V> mul_dd(dw<V> l, V y) {
  V yh = y & kc<V, 0xFFFFFFFFF8000000ull>();
  V lh = l.hi & kc<V, 0xFFFFFFFFF8000000ull>();
  return {yh * lh, (yh * (l.hi - lh) + (y - yh) * l.hi) + y * l.lo};
}

// 2^(t_hi + t_lo) for |t_hi| < 1022.
template <int Lanes = 0, class V> QARN_INLINE V exp2_dd(dw<V> t) {
  V S = t.hi + kc<V, 0x42C8000000000000ull>();           // 1.5*2^45: t to a multiple of 1/128
  V f = (t.hi - (S - kc<V, 0x42C8000000000000ull>())) + t.lo;
  V Sc = iadd(lookup<Lanes>(tab::X128d, low_idx<Lanes>(S, 127)), expk::exp52<7>(S));
  V p = f * (kc<V, 0x3FE62E42FEFA39EFull>() +
             f * (kc<V, 0x3FCEBFBDFF82C58Eull>() +
                  f * (kc<V, 0x3FAC6B08D704A0BFull>() +
                       f * (kc<V, 0x3F83B2AB6FBA4E77ull>() + f * kc<V, 0x3F55D87FE78A6731ull>()))));
  return Sc + Sc * p;
}

// ---- double _native (and powf default): ln x, then e^z by 2048 steps ---------------------
template <bool Quartic, int Lanes = 0, class V> QARN_INLINE V ln_native(V x) {
  auto n = logk::reduce_native(x);
  V r = n.r, P;
  if constexpr (Quartic)
    P = r + (r * r) * (kc<V, 0xBFDFFFFFFFFFF81Full>() +
                       r * (kc<V, 0x3FD55555555543C5ull>() + r * kc<V, 0xBFD0000148058EE1ull>()));
  else
    P = r + (r * r) * (kc<V, 0xBFDFFFFFFFFFF81Full>() + kc<V, 0x3FD55555555543C5ull>() * r);
  if constexpr (Lanes == 1)
    return (P + lookup<1>(tab::LNd, rounded_idx<1>(n.c, 512))) + (n.E - logk::native_bias(n.c)) * kc<V, 0x3FE62E42FEFA39EFull>();
  else
    return (P + lookup<Lanes>(tab::LNd, n.i)) + (n.E - logk::native_bias(n.c)) * kc<V, 0x3FE62E42FEFA39EFull>();
}
template <int Lanes = 0, class V> QARN_INLINE V exp_2048(V z, const double* X) {
  V t = z * kc<V, 0x40A71547652B82FEull>();               // 2048/ln2
  V S = (t - kc<V, 0x3FE0000000000000ull>()) + kc<V, 0x4338000000000000ull>();
  V n = S - kc<V, 0x4338000000000000ull>();
  V q = (t - n) * kc<V, 0x3F362F3904051FA1ull>();         // ln2/2048
  V Xj = lookup<Lanes>(X, low_idx<Lanes>(S, 2047));
  return iadd(Xj + Xj * q, expk::exp52<11>(S));
}

// ---- float double-word: ln x = C + low ---------------------------------------------------
template <class V> QARN_INLINE dw<V> ln_dw(V x) {
  V e = cvt_int(isub(ishr<23>(x), bits<V>(127)));
  auto j = shr<17>((low32(x) & 0x007F0000) + 0x00010000);  // top 6 mantissa bits, rounded: 0..64
  row3<V> t = rows(tab::RL65f, j);                           // hi_j, lo_j, rcp_j
  V m = (x & kc<V, 0x007FFFFFu>()) | kc<V, 0x3F800000u>();
  V m_hi = m & kc<V, 0x7FFFFF00u>();
  V r_hi = m_hi * t.c - kc<V, 0x3F800000u>();                // exact
  V r_lo = (m - m_hi) * t.c;                                  // exact
  V r = r_hi + r_lo;
  V P = (r * r) * (kc<V, 0xBF000000u>() + r * (kc<V, 0x3EAAAAABu>() - kc<V, 0x3E800000u>() * r));
  V A = e * kc<V, 0x3F317000u>() + t.a;                       // exact
  V B = A + r_hi;
  V Bv = B - A;
  V eB = (A - (B - Bv)) + (r_hi - Bv);                        // exact error of B
  V C = B + r_lo;
  V eC = r_lo - (C - B);                                      // |B| >= |r_lo| or B = 0
  V low = ((eB + eC) + (e * kc<V, 0x3805FDF4u>() + t.b)) + P;
  // Renormalised: near x = 1 the low word is not small against C, and the product
  // below splits only C.
  V Cn = C + low;
  return {Cn, low - (Cn - C)};
}
// z = (C + low)*(y + ylo) in two words; C*y exact by the 4097 splits.
template <class V> QARN_INLINE dw<V> mul_dw(dw<V> l, V y, V ylo) {
  V zh = l.hi * y;
  V zl = prod_err(split(l.hi, split_factor<V>()), split(y, split_factor<V>()), zh);
  return {zh, (zl + l.lo * y) + l.hi * ylo};
}
template <class V> QARN_INLINE dw<V> mul_dw(dw<V> l, V y) {
  V zh = l.hi * y;
  V zl = prod_err(split(l.hi, split_factor<V>()), split(y, split_factor<V>()), zh);
  return {zh, zl + l.lo * y};
}
// e^(z_hi + z_lo) with the five coefficients of the caller, |z_hi| <= 87.3.
template <uint32_t C1, uint32_t C2, uint32_t C3, uint32_t C4, uint32_t C5, class V>
QARN_INLINE V exp_dw(dw<V> z) {
  V S = z.hi * kc<V, 0x3FB8AA3Bu>() + kc<V, 0x4B400000u>();
  V n = S - kc<V, 0x4B400000u>();
  V r = ((z.hi - n * kc<V, 0x3F317200u>()) - n * kc<V, 0x35BFBE8Eu>()) + z.lo;
  V p = kc<V, 0x3F800000u>() +
        r * (kc<V, C1>() + r * (kc<V, C2>() + r * (kc<V, C3>() + r * (kc<V, C4>() + r * kc<V, C5>()))));
  return expk::add_exp23(p, S);
}

// ---- float single: ln x as logf _half with the split ln2 ----------------------------------
template <class V> QARN_INLINE V ln_half(V x) {
  auto [e, f] = logk::reduce23(x);
  V P = f + (f * f) *
                (kc<V, 0xBF000000u>() +
                 f * (kc<V, 0x3EAAAEE7u>() +
                      f * (kc<V, 0xBE80061Du>() +
                           f * (kc<V, 0x3E4AFB81u>() +
                                f * (kc<V, 0xBE289358u>() + f * (kc<V, 0x3E2DB86Bu>() + f * kc<V, 0xBE1B6A22u>()))))));
  return e * kc<V, 0x3F317200u>() + (e * kc<V, 0x35BFBE8Eu>() + P);
}

// ---- special tests -----------------------------------------------------------------------
// x outside [2^-126, 0x7F7FFFFF): zero, subnormal, negative, the largest float, inf, NaN.
// In 128-bit registers one integer compare on the pattern; in 256-bit ones, where
// AVX has integer work on halves only, two float compares (a subnormal x is below
// 2^-126 whether or not operands are read as zero).
template <class V> QARN_INLINE V bad_x_float(V x) {
  if constexpr (sizeof(V) == 16) return icmpgt(isub(x, kc<V, 0x80800000u>()), kc<V, 0xFEFFFFFEu>());
  else return cmp<_CMP_NGE_UQ>(x, kc<V, 0x00800000u>()) | cmp<_CMP_NLT_UQ>(x, kc<V, 0x7F7FFFFFu>());
}
// y with a pattern of at least `lim` in magnitude (a normal number or infinity;
// NaN patterns lie above it).
template <uint32_t Lim, class V> QARN_INLINE V big_y_float(V y) {
  if constexpr (sizeof(V) == 16) return icmpgt(vabs(y), kc<V, Lim - 1>());
  else return cmp<_CMP_NLT_UQ>(vabs(y), kc<V, Lim>());
}
// x not a positive normal finite double.
template <class V> QARN_INLINE V bad_x_double(V x) { return logk::not_normal_positive(x); }

// ---- float lanes through double arithmetic ---------------------------------------------------
QARN_INLINE vd4 widen_pd(vf4 a) { return {_mm256_cvtps_pd(a.v)}; }
QARN_INLINE vf4 narrow_ps(vd4 a) { return {_mm256_cvtpd_ps(a.v)}; }
QARN_INLINE vf4 lo4(vf8 a) { return {_mm256_castps256_ps128(a.v)}; }
QARN_INLINE vf4 hi4(vf8 a) { return {_mm256_extractf128_ps(a.v, 1)}; }
QARN_INLINE vf8 join8(vf4 l, vf4 h) { return {_mm256_insertf128_ps(_mm256_castps128_ps256(l.v), h.v, 1)}; }

}  // namespace qarn::powk
