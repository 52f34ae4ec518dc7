// Large-argument reduction of the trigonometric families, vector form.
//
// x/(2*pi) mod 1 is formed from a row of the bits of 1/pi chosen by x's biased
// exponent (tables/gen_trig.cpp): the significand times the row, modulo the whole
// turns, in integer digits.  Double lanes: 53-bit significand times a 192-bit row,
// keeping fraction bits 1..128 as the sum of 32-bit digit products would (turns_d1
// forms that sum lane by lane in general registers from 64x64->128 multiplies).
// Float lanes: 24-bit significand times a 96-bit row, keeping bits 1..64 as the sum
// of 16-bit digit products would (turns_f4 forms that sum from four 32x32->64 and
// two 32-bit low multiplies).  The fraction is split into a step j of 1/512
// (float 1/256) turn and a remainder r + r_lo in radians, |r| <= pi/512 (pi/256).
//
// AVX has no 256-bit integer arithmetic: the float digit work runs on 128-bit
// halves (four lanes).  Every lane of the register is reduced; the callers keep
// only the lanes that need it.
#pragma once
#include "frame/frame.h"
#include "tables/trig_tables.h"

namespace qarn::trig {

template <class V> struct reduced {
  V r, r_lo;
  V sum;  // shifter sum: the step index in its low bits
};

namespace detail_red {

// Integer masks and offsets as memory operands (full-width constant rows), so that
// none of them takes one of the few registers the kernels have.
template <uint32_t B> QARN_INLINE __m128i k32i() { return _mm_castps_si128(kc<vf4, B>().v); }
template <uint64_t B> QARN_INLINE __m128i k64i() { return _mm_castpd_si128(kc<vd2, B>().v); }

// F_top, F_mid of one double lane, in general registers: five multiplies a lane
// there, against ten 32x32->64 multiplies, a carry chain and spills per two lanes
// in the six vector registers the kernels have.  With the row as 64-bit words
// W0 W1 W2 = a0a1 a2a3 a4a5, the digit sum is
//   F_top:F_mid = (m*W0*2^64 + m*W1 + T) mod 2^128,
//   T = m_hi*a4 + hi32(m_lo*a4) + hi32(m_hi*a5)
// (T is the column of weight 2^64 in units of F_mid's last bit: the two products
// of weight 2^32 keep their upper halves, m_lo*a5 is left out; m*W0 is needed
// modulo 2^64 only, which drops m_hi*a0, the whole turns).
QARN_INLINE void turns_d1(uint64_t xb, uint64_t& top, uint64_t& mid) {
  const uint64_t* w = tab::InvPiD + 3 * ((xb << 1) >> 53);
  uint64_t m = (xb & 0x000FFFFFFFFFFFFFull) | 0x0010000000000000ull;
  uint64_t mh = m >> 32, ml = uint32_t(m);
  uint64_t a4 = w[2] >> 32, a5 = uint32_t(w[2]);
  uint64_t T = mh * a4 + ((ml * a4) >> 32) + ((mh * a5) >> 32);
  unsigned __int128 p = static_cast<unsigned __int128>(m) * w[1] + T;
  mid = uint64_t(p);
  top = uint64_t(p >> 64) + m * w[0];
}
// G1, G2, G3 bit patterns (before the offsets are removed) of one double lane;
// `sgn` is its sign bit or zero.
QARN_INLINE void turns_d(uint64_t xb, uint64_t sgn, uint64_t& g1, uint64_t& g2, uint64_t& g3) {
  uint64_t top, mid;
  turns_d1(xb, top, mid);
  g1 = (top >> 12) | 0x3FF0000000000000ull | sgn;
  g2 = ((top & 0xFFF) << 40) | (mid >> 24) | 0x3CB0000000000000ull | sgn;
  g3 = ((mid & 0xFFFFFF) << 28) | 0x3970000000000000ull | sgn;
}
QARN_INLINE __m128i pair64(uint64_t a, uint64_t b) { return _mm_insert_epi64(_mm_cvtsi64_si128(int64_t(a)), int64_t(b), 1); }

// The same for four float lanes.  The ten digit products need not be formed one
// by one: with the row as 32-bit words w0 w1 w2 = b0b1 b2b3 b4b5, the digit sum is
//   F_top:F_mid = (m*w0*2^32 + m*w1 + H) mod 2^64,
//   H = m_hi*b4 + hi16(m_hi*b5) + hi16(m_lo*b4)   (the column of weight 2^32 in
// units of the digit below F_mid: the two products of weight 2^16 keep only their
// upper halves, m_lo*b5 is left out, as in the digit form).  The first two terms
// of H are the upper bits of the 40-bit m_hi*w2 = m_hi*b4*2^16 + m_hi*b5, exactly.
// m*w1 < 2^56 and m_hi*w2 are formed in 64-bit halves of the register (even and
// odd lanes), so the carry out of F_mid comes with them; m*w0 is needed modulo
// 2^32 only.  Out: F_top >> 9, then F's bits 24..46 and 47..64 in place for the
// patterns of G2 and G3 (the caller puts in the exponents and signs).
QARN_INLINE void turns_f4(__m128i xb, __m128i& q1, __m128i& q2, __m128i& q3) {
  __m128i e = _mm_and_si128(_mm_srli_epi32(xb, 23), k32i<0x000000FFu>());
  e = _mm_add_epi32(e, _mm_add_epi32(e, e));  // 3e
  alignas(16) int ei[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(ei), e);
  __m128 r0 = _mm_loadu_ps(reinterpret_cast<const float*>(tab::InvPiF + ei[0]));
  __m128 r1 = _mm_loadu_ps(reinterpret_cast<const float*>(tab::InvPiF + ei[1]));
  __m128 r2 = _mm_loadu_ps(reinterpret_cast<const float*>(tab::InvPiF + ei[2]));
  __m128 r3 = _mm_loadu_ps(reinterpret_cast<const float*>(tab::InvPiF + ei[3]));
  __m128 lo01 = _mm_unpacklo_ps(r0, r1), lo23 = _mm_unpacklo_ps(r2, r3);
  __m128i w2 = _mm_castps_si128(_mm_movelh_ps(_mm_unpackhi_ps(r0, r1), _mm_unpackhi_ps(r2, r3)));
  __m128i w1 = _mm_castps_si128(_mm_movehl_ps(lo23, lo01));
  __m128i w0 = _mm_castps_si128(_mm_movelh_ps(lo01, lo23));
  __m128i m = _mm_or_si128(_mm_and_si128(xb, k32i<0x007FFFFFu>()), k32i<0x00800000u>());
  __m128i lo = _mm_srli_epi32(_mm_mullo_epi32(_mm_and_si128(m, k32i<0x0000FFFFu>()), _mm_srli_epi32(w2, 16)), 16);
  // m*w1 + H as 64-bit sums: lanes 0 and 2 in `ev`, lanes 1 and 3 in `od`.
  __m128i ev = _mm_add_epi64(_mm_mul_epu32(m, w1), _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi32(m, 16), w2), 16));
  ev = _mm_add_epi64(ev, _mm_and_si128(lo, k64i<0x00000000FFFFFFFFull>()));
  __m128i od = _mm_add_epi64(_mm_mul_epu32(_mm_srli_epi64(m, 32), _mm_srli_epi64(w1, 32)),
                             _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(m, 48), _mm_srli_epi64(w2, 32)), 16));
  od = _mm_add_epi64(od, _mm_srli_epi64(lo, 32));
  __m128i mid = _mm_blend_epi16(ev, _mm_slli_epi64(od, 32), 0xCC);       // low halves
  __m128i carry_in = _mm_blend_epi16(_mm_srli_epi64(ev, 32), od, 0xCC);  // high halves
  __m128i top = _mm_add_epi32(_mm_mullo_epi32(m, w0), carry_in);
  q1 = _mm_srli_epi32(top, 9);
  q2 = _mm_or_si128(_mm_slli_epi32(_mm_and_si128(top, k32i<0x000001FFu>()), 14), _mm_srli_epi32(mid, 18));
  q3 = _mm_slli_epi32(_mm_and_si128(mid, k32i<0x0003FFFFu>()), 5);
}

template <class V> QARN_INLINE V from_i(__m128i a, __m128i b) {
  if constexpr (std::is_same_v<V, vd4>) return {detail::join_pd(a, b)};
  else if constexpr (std::is_same_v<V, vf8>) return {detail::join_ps(a, b)};
  else if constexpr (std::is_same_v<V, vd2>) return {_mm_castsi128_pd(a)};
  else return {_mm_castsi128_ps(a)};
}
template <class V> QARN_INLINE void to_i(V v, __m128i& a, __m128i& b) {
  if constexpr (sizeof(V) == 32) { a = detail::lo(v.v); b = detail::hi(v.v); }
  else if constexpr (std::is_same_v<V, vd2>) a = b = _mm_castpd_si128(v.v);
  else a = b = _mm_castps_si128(v.v);
}

}  // namespace detail_red

// x/(2*pi) reduced: x ~ 2*pi*j/N + r + r_lo (mod 2*pi), j in the low bits of `sum`
// (N = 512 for double lanes, 256 for float lanes).  `sgn` holds each lane's sign
// bit to carry through the fraction (zero lanes to reduce |x|).
template <class V> QARN_INLINE reduced<V> reduce_large(V x, V sgn) {
  using namespace detail_red;
  if constexpr (sizeof(elem_t<V>) == 8) {
    constexpr int n = nlanes<V>;
    alignas(32) uint64_t xs[4], ss[4];
    if constexpr (n == 4) {
      _mm256_store_pd(reinterpret_cast<double*>(xs), x.v), _mm256_store_pd(reinterpret_cast<double*>(ss), sgn.v);
    } else {
      _mm_store_pd(reinterpret_cast<double*>(xs), x.v), _mm_store_pd(reinterpret_cast<double*>(ss), sgn.v);
    }
    asm("" : "+m"(xs), "+m"(ss));
    uint64_t a[4], b[4], c[4];
    #pragma GCC unroll 4
    for (int i = 0; i < n; ++i) turns_d(xs[i], ss[i], a[i], b[i], c[i]);
    V g1, g2, g3;
    if constexpr (n == 4) {
      g1 = from_i<V>(pair64(a[0], a[1]), pair64(a[2], a[3]));
      g2 = from_i<V>(pair64(b[0], b[1]), pair64(b[2], b[3]));
      g3 = from_i<V>(pair64(c[0], c[1]), pair64(c[2], c[3]));
    } else {
      g1 = {_mm_castsi128_pd(pair64(a[0], a[1]))};
      g2 = {_mm_castsi128_pd(pair64(b[0], b[1]))};
      g3 = {_mm_castsi128_pd(pair64(c[0], c[1]))};
    }
    g2 = g2 - (sgn | kc<V, 0x3CB0000000000000ull>());
    g3 = g3 - (sgn | kc<V, 0x3970000000000000ull>());
    V sum = g1 + kc<V, 0x42A8000000000000ull>();  // 1.5*2^43: steps of 2^-9 turn
    V R = g1 - (sum - kc<V, 0x42A8000000000000ull>());
    V h = R + g2;
    V l = ((R - h) + g2) + g3;
    V h_hi = h & kc<V, 0xFFFFFFFFF8000000ull>();
    V h_lo = h - h_hi;
    V small = (kc<V, 0x401921FB54000000ull>() * h_lo + kc<V, 0x3E310B4611A62633ull>() * h_hi) +
              (kc<V, 0x401921FB54442D18ull>() * l + kc<V, 0x3E310B4611A62633ull>() * h_lo);
    V big = kc<V, 0x401921FB54000000ull>() * h_hi;
    V r = big + small;
    return {r, (big - r) + small, sum};
  } else {
    __m128i xa, xb, q1a, q2a, q3a, q1b, q2b, q3b;
    to_i(x, xa, xb);
    turns_f4(xa, q1a, q2a, q3a);
    if constexpr (sizeof(V) == 32) turns_f4(xb, q1b, q2b, q3b);
    else q1b = q1a, q2b = q2a, q3b = q3a;
    // The patterns of G1 (behind +-1), G2 (+-2^-23) and G3 (+-2^-46), then the
    // leading 2^-23 and 2^-46 taken off again.
    V k2 = sgn | kc<V, 0x34000000u>(), k3 = sgn | kc<V, 0x28800000u>();
    V g1 = from_i<V>(q1a, q1b) | (sgn | kc<V, 0x3F800000u>());
    V g2 = (from_i<V>(q2a, q2b) | k2) - k2;
    V g3 = (from_i<V>(q3a, q3b) | k3) - k3;
    V sum = g1 + kc<V, 0x47400000u>();  // 1.5*2^15: steps of 2^-8 turn
    V R = g1 - (sum - kc<V, 0x47400000u>());
    V h = R + g2;
    V l = ((R - h) + g2) + g3;
    V h_hi = h & kc<V, 0xFFFFF000u>();
    V h_lo = h - h_hi;
    V small = (kc<V, 0x40C91000u>() * h_lo + kc<V, 0xB795777Au>() * h_hi) +
              (kc<V, 0x40C90FDBu>() * l + kc<V, 0xB795777Au>() * h_lo);
    V big = kc<V, 0x40C91000u>() * h_hi;
    V r = big + small;
    return {r, (big - r) + small, sum};
  }
}

// ---- table rows per lane --------------------------------------------------------
// Lane indices as plain ints.
template <class V> QARN_INLINE void lane_ints(int* o, idx_t<V> i) {
  if constexpr (std::is_same_v<V, vd2>) { o[0] = _mm_cvtsi128_si32(i.v); o[1] = _mm_extract_epi32(i.v, 1); }
  else if constexpr (std::is_same_v<V, vf8>) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), i.lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 4), i.hi);
  } else _mm_storeu_si128(reinterpret_cast<__m128i*>(o), i.v);
}

// Fields f..f+3 (float) or f, f+1 (double) of each lane's row, read as one vector
// per row and transposed in registers: one load per row and field group instead of
// one per lane and field.  The group may run past the row's last field into the
// next row or the table's tail; those values are never used.
QARN_INLINE void quad(const float* t, const int* j, int stride, int f, vf4 (&o)[4]) {
  __m128 a = _mm_loadu_ps(t + j[0] * stride + f), b = _mm_loadu_ps(t + j[1] * stride + f);
  __m128 c = _mm_loadu_ps(t + j[2] * stride + f), d = _mm_loadu_ps(t + j[3] * stride + f);
  _MM_TRANSPOSE4_PS(a, b, c, d);
  o[0] = {a}, o[1] = {b}, o[2] = {c}, o[3] = {d};
}
// Lanes i and i + 4 (double: i + 2) in the two halves of one register.
QARN_INLINE __m256 halves(const float* t, const int* j, int stride, int f, int i) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(t + j[i] * stride + f)),
                              _mm_loadu_ps(t + j[i + 4] * stride + f), 1);
}
QARN_INLINE __m256d halves(const double* t, const int* j, int stride, int f, int i) {
  return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(t + j[i] * stride + f)),
                              _mm_loadu_pd(t + j[i + 2] * stride + f), 1);
}
QARN_INLINE void quad(const float* t, const int* j, int stride, int f, vf8 (&o)[4]) {
  __m256 a = halves(t, j, stride, f, 0), b = halves(t, j, stride, f, 1);
  __m256 c = halves(t, j, stride, f, 2), d = halves(t, j, stride, f, 3);
  __m256 t0 = _mm256_unpacklo_ps(a, b), t1 = _mm256_unpackhi_ps(a, b);
  __m256 t2 = _mm256_unpacklo_ps(c, d), t3 = _mm256_unpackhi_ps(c, d);
  o[0] = {_mm256_shuffle_ps(t0, t2, 0x44)}, o[1] = {_mm256_shuffle_ps(t0, t2, 0xEE)};
  o[2] = {_mm256_shuffle_ps(t1, t3, 0x44)}, o[3] = {_mm256_shuffle_ps(t1, t3, 0xEE)};
}
QARN_INLINE __m128 two_rows(const float* t, const int* j, int stride, int f, int i) {
  __m128d p = _mm_load_sd(reinterpret_cast<const double*>(t + j[i] * stride + f));
  return _mm_castpd_ps(_mm_loadh_pd(p, reinterpret_cast<const double*>(t + j[i + 1] * stride + f)));
}
QARN_INLINE void pair_of(const float* t, const int* j, int stride, int f, vf4 (&o)[2]) {
  __m128 p = two_rows(t, j, stride, f, 0), q = two_rows(t, j, stride, f, 2);
  o[0] = {_mm_shuffle_ps(p, q, 0x88)}, o[1] = {_mm_shuffle_ps(p, q, 0xDD)};
}
QARN_INLINE void pair_of(const float* t, const int* j, int stride, int f, vf8 (&o)[2]) {
  __m256 p = _mm256_insertf128_ps(_mm256_castps128_ps256(two_rows(t, j, stride, f, 0)), two_rows(t, j, stride, f, 4), 1);
  __m256 q = _mm256_insertf128_ps(_mm256_castps128_ps256(two_rows(t, j, stride, f, 2)), two_rows(t, j, stride, f, 6), 1);
  o[0] = {_mm256_shuffle_ps(p, q, 0x88)}, o[1] = {_mm256_shuffle_ps(p, q, 0xDD)};
}
QARN_INLINE void pair_of(const double* t, const int* j, int stride, int f, vd2 (&o)[2]) {
  __m128d a = _mm_loadu_pd(t + j[0] * stride + f), b = _mm_loadu_pd(t + j[1] * stride + f);
  o[0] = {_mm_unpacklo_pd(a, b)}, o[1] = {_mm_unpackhi_pd(a, b)};
}
QARN_INLINE void pair_of(const double* t, const int* j, int stride, int f, vd4 (&o)[2]) {
  __m256d a = halves(t, j, stride, f, 0), b = halves(t, j, stride, f, 1);
  o[0] = {_mm256_unpacklo_pd(a, b)}, o[1] = {_mm256_unpackhi_pd(a, b)};
}

template <class V> struct row4 { V f0, f1, f2, f3; };

// The four values of row j[i] for each lane (rows of 4 elements, 32 or 16 bytes).
template <class V> QARN_INLINE row4<V> rows_of(const elem_t<V>* t, const int* j) {
  if constexpr (std::is_same_v<V, vd4>) {
    __m256d a = _mm256_load_pd(t + 4 * j[0]), b = _mm256_load_pd(t + 4 * j[1]);
    __m256d c = _mm256_load_pd(t + 4 * j[2]), d = _mm256_load_pd(t + 4 * j[3]);
    __m256d t0 = _mm256_unpacklo_pd(a, b), t1 = _mm256_unpackhi_pd(a, b);
    __m256d t2 = _mm256_unpacklo_pd(c, d), t3 = _mm256_unpackhi_pd(c, d);
    return {{_mm256_permute2f128_pd(t0, t2, 0x20)}, {_mm256_permute2f128_pd(t1, t3, 0x20)},
            {_mm256_permute2f128_pd(t0, t2, 0x31)}, {_mm256_permute2f128_pd(t1, t3, 0x31)}};
  } else if constexpr (std::is_same_v<V, vd2>) {
    V a[2], b[2];
    pair_of(t, j, 4, 0, a), pair_of(t, j, 4, 2, b);
    return {a[0], a[1], b[0], b[1]};
  } else {
    V q[4];
    quad(t, j, 4, 0, q);
    return {q[0], q[1], q[2], q[3]};
  }
}

template <class V> QARN_INLINE V sign_bits(V x) {
  if constexpr (sizeof(elem_t<V>) == 8) return x & kc<V, 0x8000000000000000ull>();
  else return x & kc<V, 0x80000000u>();
}

// ---- sine of 2*pi*j/N + r + r_lo from the step table ---------------------------------
// `quarter` rotates the row by a quarter turn (giving the cosine).
template <class V> QARN_INLINE V sin_steps(const reduced<V>& q, int quarter) {
  constexpr bool dbl = sizeof(elem_t<V>) == 8;
  constexpr int N = dbl ? 512 : 256;
  alignas(32) int j[8];
  idx_t<V> ji = low32(q.sum);
  if (quarter) ji = ji - (-quarter * N / 4);
  lane_ints<V>(j, ji & (N - 1));
  V r = q.r, r2 = r * r;
  if constexpr (dbl) {
    row4<V> w = rows_of<V>(tab::SinD, j);
    V c_lo = w.f0, c_hi = w.f1, s_hi = w.f2, s_lo = w.f3;
    V a = s_hi + r * c_hi;
    V e1 = (s_hi - a) + r * c_hi;
    V b = a + c_lo * r;
    V e2 = (a - b) + c_lo * r;
    V C = c_hi + c_lo;
    V ps = (r * r2) * (kc<V, 0xBFC5555555554448ull>() + kc<V, 0x3F81110FABB3551Cull>() * r2);
    V pc = r2 * (kc<V, 0xBFE0000000000000ull>() +
                 r2 * (kc<V, 0x3FA5555555554CCFull>() + kc<V, 0xBF56C16AB163B2D7ull>() * r2));
    V t = (((e2 + e1) + ps * C) + pc * s_hi) + (q.r_lo * (C - r * s_hi) + s_lo);
    return b + t;
  } else {
    row4<V> w = rows_of<V>(tab::SinF, j);
    V c_lo = w.f0, s_hi = w.f1, s_lo = w.f2, c_hi = w.f3;
    V a = s_hi + r * c_hi;
    V e1 = (s_hi - a) + r * c_hi;
    V b = a + c_lo * r;
    V e2 = (a - b) + c_lo * r;
    V C = c_hi + c_lo;
    V D = C - r * s_hi;
    V ps = (r * r2) * (kc<V, 0xBE2AAAABu>() + kc<V, 0x3C08885Cu>() * r2);
    V pc = r2 * (kc<V, 0xBF000000u>() + kc<V, 0x3D2AAA7Cu>() * r2);
    V t = (ps * D + (e2 + e1)) + (pc * s_hi + (q.r_lo * D + s_lo));
    return b + t;
  }
}


// ---- tangent of pi*j/N + r from the tangent step table -------------------------------
// (N = 256 for double lanes, 128 for float lanes; the pole term by a refined
// reciprocal, the rest by a Taylor polynomial of the row.)
// s + e = a + b exactly.
template <class V> QARN_INLINE V two_sum_err(V a, V b, V s) {
  V bb = s - a;
  return (a - (s - bb)) + (b - bb);
}

template <class V> QARN_INLINE V tan_steps_d(V x) {
  reduced<V> q = reduce_large(x, sign_bits(x));
  alignas(32) int j[8];
  lane_ints<V>(j, low32(q.sum) & 255);
  V r = q.r + q.r_lo;
  // Row fields, read in pairs: [0] P_hi, [2] E, [3] T, [5] L_head, [6] L_rest,
  // [7] .. [12] c2 .. c7 (the pair at 0 brings the unread [1] along).
  const double* t = tab::TanD;
  V f0[2], f2[2], f5[2], f7[2], f9[2], f11[2];
  pair_of(t, j, 13, 0, f0), pair_of(t, j, 13, 2, f2), pair_of(t, j, 13, 5, f5);
  pair_of(t, j, 13, 7, f7), pair_of(t, j, 13, 9, f9), pair_of(t, j, 13, 11, f11);
  V w[13] = {f0[0], f0[1], f2[0], f2[1], {}, f5[0], f5[1], f7[0], f7[1], f9[0], f9[1], f11[0], f11[1]};
  V p_hi = w[0], E = w[2], T = w[3];
  V y = p_hi - r;
  V y_hi = y & kc<V, 0xFFFFFFFFF8000000ull>();
  V y_lo = y - y_hi;
  V u0 = rcp_est(y);
  V e = (kc<V, 0x3FF0000000000000ull>() - y_hi * u0) - y_lo * u0;
  V e2 = e * e;
  V u = u0 + (u0 + u0 * e2) * (e + e2);
  V A = E * u + (T + w[5] * r);
  V r2 = r * r;
  V B = ((w[6] + w[7] * r) + r2 * (w[8] + w[9] * r)) + (r2 * r2) * ((w[10] + w[11] * r) + w[12] * r2);
  return A + B * r;
}

// Float: |x| reduced, the pole term's tails (the rounding of P_hi - r, P_lo, the
// head's remainder) folded into the reciprocal's correction, the two leading
// additions compensated.
template <class V> QARN_INLINE V tan_steps_f(V a) {
  reduced<V> q = reduce_large(a, bits<V>(0));
  alignas(32) int j[8];
  lane_ints<V>(j, low32(q.sum) & 127);
  V r = q.r + q.r_lo;
  const float* t = tab::TanF;
  V lo[4], mid[4], hi[2];  // fields 0..3, 4..7, 8..9 of each lane's row
  quad(t, j, 10, 0, lo), quad(t, j, 10, 4, mid), pair_of(t, j, 10, 8, hi);
  V w[10] = {lo[0], lo[1], lo[2], lo[3], mid[0], mid[1], mid[2], mid[3], hi[0], hi[1]};
  V p_hi = w[0];
  V y = p_hi - r;
  V err = (p_hi - y) - r;
  V y_hi = y & kc<V, 0xFFFFF000u>();
  V d_lo = ((y - y_hi) + err) + w[1];
  V u0 = rcp_est(y_hi);
  V e = (kc<V, 0x3F800000u>() - y_hi * u0) - d_lo * u0;
  V u = (u0 + u0 * e) * (kc<V, 0x3F800000u>() + e * e);
  V pole = w[2] * u;
  V T = w[3];
  V s1 = pole + T;
  V e1 = two_sum_err(pole, T, s1);
  V lr = w[5] * r;
  V s2 = s1 + lr;
  V e2 = two_sum_err(s1, lr, s2);
  V r2 = r * r;
  V poly = r * ((w[6] + w[7] * r) + r2 * (w[8] + w[9] * r));
  return s2 + (((e1 + e2) + w[4]) + poly);
}

// ---- every float lane reduced and finished (trig/large_wide.cpp) ------------------
// sin and cos carry x's sign through the fraction; sincos and tan reduce |x| and
// sign the sine and the tangent after.
template <class V> QARN_INLINE V sinf_large_lanes(V x) { return sin_steps(reduce_large(x, sign_bits(x)), 0); }
template <class V> QARN_INLINE V cosf_large_lanes(V x) { return sin_steps(reduce_large(x, sign_bits(x)), 1); }
template <class V> QARN_INLINE V sincosf_large_lanes(V x, V& c) {
  reduced<V> q = reduce_large(vabs(x), bits<V>(0));
  V s = sin_steps(q, 0) ^ sign_bits(x);
  c = sin_steps(q, 1);
  return s;
}
template <class V> QARN_INLINE V tanf_large_lanes(V x) { return tan_steps_f(vabs(x)) ^ sign_bits(x); }

// Lanes whose input is finite (ordered and not infinite).
template <class V> QARN_INLINE V finite(V x) {
  if constexpr (sizeof(elem_t<V>) == 8) return cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x7FF0000000000000ull>());
  else return cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x7F800000u>());
}

}  // namespace qarn::trig
