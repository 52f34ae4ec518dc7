// Thin typed layer over the AVX registers: float x4/x8, double x2/x4.
//
// A family kernel is one template over these four types; the frame instantiates
// it per register and per width.  Only AVX is assumed: 256-bit integer work is
// split into its two 128-bit halves, and there is no fused multiply-add, so every
// product and sum rounds exactly where the source says.
#pragma once
#include <immintrin.h>
#include <cstdint>
#include <cstring>
#include <type_traits>

#define QARN_INLINE inline __attribute__((always_inline))

namespace qarn {

struct vf4 { __m128 v; };
struct vf8 { __m256 v; };
struct vd2 { __m128d v; };
struct vd4 { __m256d v; };

template <class V> struct lanes_of;
template <> struct lanes_of<vf4> { static constexpr int n = 4; using elem = float; using bits = uint32_t; };
template <> struct lanes_of<vf8> { static constexpr int n = 8; using elem = float; using bits = uint32_t; };
template <> struct lanes_of<vd2> { static constexpr int n = 2; using elem = double; using bits = uint64_t; };
template <> struct lanes_of<vd4> { static constexpr int n = 4; using elem = double; using bits = uint64_t; };
template <class V> using elem_t = typename lanes_of<V>::elem;
template <class V> inline constexpr int nlanes = lanes_of<V>::n;
// The bit pattern of one float or double lane as an unsigned integer.
template <class T> using pattern_t = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;

// ---- constants: every constant is an exact bit pattern ---------------------
template <class V> QARN_INLINE V bits(typename lanes_of<V>::bits b);
template <> QARN_INLINE vf4 bits<vf4>(uint32_t b) { return {_mm_castsi128_ps(_mm_set1_epi32(int(b)))}; }
template <> QARN_INLINE vf8 bits<vf8>(uint32_t b) { return {_mm256_castsi256_ps(_mm256_set1_epi32(int(b)))}; }
template <> QARN_INLINE vd2 bits<vd2>(uint64_t b) { return {_mm_castsi128_pd(_mm_set1_epi64x(int64_t(b)))}; }
template <> QARN_INLINE vd4 bits<vd4>(uint64_t b) { return {_mm256_castsi256_pd(_mm256_set1_epi64x(int64_t(b)))}; }

// Constants read from full-width rows in read-only data: kc<V, 0x3FB8AA3B>() is a
// memory operand of the instruction that uses it, with no broadcast and no register
// held for it.  The build finds every kc<...> in the sources and defines one row per
// value (build/gen/constants.h, weak so the compiler cannot fold it back into an
// immediate broadcast); values it has not seen fall back to bits<V>().
template <uint32_t B> struct row32;
template <uint64_t B> struct row64;
template <class V, typename lanes_of<V>::bits B> QARN_INLINE V kc() {
  if constexpr (sizeof(elem_t<V>) == 4) {
    if constexpr (requires { row32<uint32_t(B)>::v; }) {
      const float* p = reinterpret_cast<const float*>(row32<uint32_t(B)>::v);
      if constexpr (sizeof(V) == 16) return {_mm_load_ps(p)}; else return {_mm256_load_ps(p)};
    } else {
      return bits<V>(B);
    }
  } else {
    if constexpr (requires { row64<uint64_t(B)>::v; }) {
      const double* p = reinterpret_cast<const double*>(row64<uint64_t(B)>::v);
      if constexpr (sizeof(V) == 16) return {_mm_load_pd(p)}; else return {_mm256_load_pd(p)};
    } else {
      return bits<V>(B);
    }
  }
}

// ---- arithmetic -------------------------------------------------------------
#define QARN_ARITH(V, sfx, w)                                                              \
  QARN_INLINE V operator+(V a, V b) { return {w##_add_##sfx(a.v, b.v)}; }                 \
  QARN_INLINE V operator-(V a, V b) { return {w##_sub_##sfx(a.v, b.v)}; }                 \
  QARN_INLINE V operator*(V a, V b) { return {w##_mul_##sfx(a.v, b.v)}; }                 \
  QARN_INLINE V operator/(V a, V b) { return {w##_div_##sfx(a.v, b.v)}; }                 \
  QARN_INLINE V operator&(V a, V b) { return {w##_and_##sfx(a.v, b.v)}; }                 \
  QARN_INLINE V operator|(V a, V b) { return {w##_or_##sfx(a.v, b.v)}; }                  \
  QARN_INLINE V operator^(V a, V b) { return {w##_xor_##sfx(a.v, b.v)}; }                 \
  /* a AND NOT m */                                                                        \
  QARN_INLINE V andnot(V a, V m) { return {w##_andnot_##sfx(m.v, a.v)}; }                 \
  QARN_INLINE int movemask(V m) { return w##_movemask_##sfx(m.v); }                        \
  QARN_INLINE V vsqrt(V a) { return {w##_sqrt_##sfx(a.v)}; }                               \
  /* a if a > b (a < b), else b: NaN or equal operands give b */                            \
  QARN_INLINE V vmax(V a, V b) { return {w##_max_##sfx(a.v, b.v)}; }                       \
  QARN_INLINE V vmin(V a, V b) { return {w##_min_##sfx(a.v, b.v)}; }                       \
  template <int Imm> QARN_INLINE V vround(V a) { return {w##_round_##sfx(a.v, Imm)}; }     \
  template <int Pred> QARN_INLINE V cmp(V a, V b) { return {w##_cmp_##sfx(a.v, b.v, Pred)}; }
QARN_ARITH(vf4, ps, _mm)
QARN_ARITH(vf8, ps, _mm256)
QARN_ARITH(vd2, pd, _mm)
QARN_ARITH(vd4, pd, _mm256)
#undef QARN_ARITH

// m ? b : a, lane by lane, from the sign bit of m.  The 256-bit forms are written
// as the instruction itself: the compiler rewrites the intrinsic as a select on
// (m < 0), and without 256-bit integer compares it would split that select into
// one branch per lane.
QARN_INLINE vf4 blend(vf4 m, vf4 a, vf4 b) { return {_mm_blendv_ps(a.v, b.v, m.v)}; }
QARN_INLINE vd2 blend(vd2 m, vd2 a, vd2 b) { return {_mm_blendv_pd(a.v, b.v, m.v)}; }
QARN_INLINE vf8 blend(vf8 m, vf8 a, vf8 b) {
  __m256 r;
  asm("vblendvps %3, %2, %1, %0" : "=x"(r) : "x"(a.v), "x"(b.v), "x"(m.v));
  return {r};
}
QARN_INLINE vd4 blend(vd4 m, vd4 a, vd4 b) {
  __m256d r;
  asm("vblendvpd %3, %2, %1, %0" : "=x"(r) : "x"(a.v), "x"(b.v), "x"(m.v));
  return {r};
}

template <class V> QARN_INLINE V vabs(V a) {
  if constexpr (sizeof(elem_t<V>) == 4) return a & kc<V, 0x7FFFFFFFu>();
  else return a & kc<V, 0x7FFFFFFFFFFFFFFFull>();
}

// ---- integer work on the lane patterns (same lane size as the elements) ----
// 256-bit registers are split into 128-bit halves: AVX has no 256-bit integer ops.
namespace detail {
QARN_INLINE __m128i lo(__m256 a) { return _mm_castps_si128(_mm256_castps256_ps128(a)); }
QARN_INLINE __m128i hi(__m256 a) { return _mm_castps_si128(_mm256_extractf128_ps(a, 1)); }
QARN_INLINE __m128i lo(__m256d a) { return _mm_castpd_si128(_mm256_castpd256_pd128(a)); }
QARN_INLINE __m128i hi(__m256d a) { return _mm_castpd_si128(_mm256_extractf128_pd(a, 1)); }
QARN_INLINE __m256 join_ps(__m128i l, __m128i h) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_castsi128_ps(l)), _mm_castsi128_ps(h), 1);
}
QARN_INLINE __m256d join_pd(__m128i l, __m128i h) {
  return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_castsi128_pd(l)), _mm_castsi128_pd(h), 1);
}
}  // namespace detail

#define QARN_INT2(name, op32, op64)                                                                   \
  QARN_INLINE vf4 name(vf4 a, vf4 b) {                                                                \
    return {_mm_castsi128_ps(op32(_mm_castps_si128(a.v), _mm_castps_si128(b.v)))};                    \
  }                                                                                                   \
  QARN_INLINE vf8 name(vf8 a, vf8 b) {                                                                \
    return {detail::join_ps(op32(detail::lo(a.v), detail::lo(b.v)), op32(detail::hi(a.v), detail::hi(b.v)))}; \
  }                                                                                                   \
  QARN_INLINE vd2 name(vd2 a, vd2 b) {                                                                \
    return {_mm_castsi128_pd(op64(_mm_castpd_si128(a.v), _mm_castpd_si128(b.v)))};                    \
  }                                                                                                   \
  QARN_INLINE vd4 name(vd4 a, vd4 b) {                                                                \
    return {detail::join_pd(op64(detail::lo(a.v), detail::lo(b.v)), op64(detail::hi(a.v), detail::hi(b.v)))}; \
  }
QARN_INT2(iadd, _mm_add_epi32, _mm_add_epi64)
QARN_INT2(isub, _mm_sub_epi32, _mm_sub_epi64)
QARN_INT2(icmpgt, _mm_cmpgt_epi32, _mm_cmpgt_epi64)
QARN_INT2(icmpeq, _mm_cmpeq_epi32, _mm_cmpeq_epi64)
#undef QARN_INT2

#define QARN_SHIFT(name, op32, op64)                                                                  \
  template <int N> QARN_INLINE vf4 name(vf4 a) { return {_mm_castsi128_ps(op32(_mm_castps_si128(a.v), N))}; } \
  template <int N> QARN_INLINE vf8 name(vf8 a) {                                                      \
    return {detail::join_ps(op32(detail::lo(a.v), N), op32(detail::hi(a.v), N))};                     \
  }                                                                                                   \
  template <int N> QARN_INLINE vd2 name(vd2 a) { return {_mm_castsi128_pd(op64(_mm_castpd_si128(a.v), N))}; } \
  template <int N> QARN_INLINE vd4 name(vd4 a) {                                                      \
    return {detail::join_pd(op64(detail::lo(a.v), N), op64(detail::hi(a.v), N))};                     \
  }
QARN_SHIFT(ishl, _mm_slli_epi32, _mm_slli_epi64)
QARN_SHIFT(ishr, _mm_srli_epi32, _mm_srli_epi64)
#undef QARN_SHIFT

// Arithmetic (sign-filling) right shift of 32-bit lanes.
template <int N> QARN_INLINE vf4 isra(vf4 a) { return {_mm_castsi128_ps(_mm_srai_epi32(_mm_castps_si128(a.v), N))}; }
template <int N> QARN_INLINE vf8 isra(vf8 a) {
  return {detail::join_ps(_mm_srai_epi32(detail::lo(a.v), N), _mm_srai_epi32(detail::hi(a.v), N))};
}
// The lane patterns read as int32 and converted to float.
QARN_INLINE vf4 cvt_int(vf4 a) { return {_mm_cvtepi32_ps(_mm_castps_si128(a.v))}; }
QARN_INLINE vf8 cvt_int(vf8 a) { return {_mm256_cvtepi32_ps(_mm256_castps_si256(a.v))}; }

// Processor reciprocal estimate (relative error at most 1.5*2^-12, value differs
// between makers).  The double forms take it of the lanes rounded to float and
// widen the estimate back.
QARN_INLINE vf4 rcp_est(vf4 a) { return {_mm_rcp_ps(a.v)}; }
QARN_INLINE vf8 rcp_est(vf8 a) { return {_mm256_rcp_ps(a.v)}; }
QARN_INLINE vd2 rcp_est(vd2 a) { return {_mm_cvtps_pd(_mm_rcp_ps(_mm_cvtpd_ps(a.v)))}; }
QARN_INLINE vd4 rcp_est(vd4 a) { return {_mm256_cvtps_pd(_mm_rcp_ps(_mm256_cvtpd_ps(a.v)))}; }

// ---- per-lane table loads ------------------------------------------------------
// Index vectors are plain int32 lanes in one xmm (4 lanes) or two (8 lanes).
struct idx2 { __m128i v; };  // two double lanes: int32 lanes 0-1
struct idx4 { __m128i v; };
struct idx8 { __m128i lo, hi; };
template <class V> struct idx_of;
template <> struct idx_of<vf4> { using type = idx4; };
template <> struct idx_of<vf8> { using type = idx8; };
template <> struct idx_of<vd2> { using type = idx2; };
template <> struct idx_of<vd4> { using type = idx4; };
template <class V> using idx_t = typename idx_of<V>::type;

// The low 32 bits of each lane's pattern, as int32 lanes.
QARN_INLINE idx4 low32(vf4 a) { return {_mm_castps_si128(a.v)}; }
QARN_INLINE idx8 low32(vf8 a) { return {detail::lo(a.v), detail::hi(a.v)}; }
QARN_INLINE idx2 low32(vd2 a) { return {_mm_shuffle_epi32(_mm_castpd_si128(a.v), 0x08)}; }
QARN_INLINE idx4 low32(vd4 a) {
  return {_mm_castps_si128(_mm_shuffle_ps(_mm_castpd_ps(_mm256_castpd256_pd128(a.v)),
                                          _mm_castpd_ps(_mm256_extractf128_pd(a.v, 1)), 0x88))};
}
// The high 32 bits of each lane's pattern (double only).
QARN_INLINE idx2 high32(vd2 a) { return {_mm_shuffle_epi32(_mm_castpd_si128(a.v), 0x0D)}; }
QARN_INLINE idx4 high32(vd4 a) {
  return {_mm_castps_si128(_mm_shuffle_ps(_mm_castpd_ps(_mm256_castpd256_pd128(a.v)),
                                          _mm_castpd_ps(_mm256_extractf128_pd(a.v, 1)), 0xDD))};
}
QARN_INLINE idx2 operator&(idx2 a, int m) { return {_mm_and_si128(a.v, _mm_set1_epi32(m))}; }
QARN_INLINE idx4 operator&(idx4 a, int m) { return {_mm_and_si128(a.v, _mm_set1_epi32(m))}; }
QARN_INLINE idx8 operator&(idx8 a, int m) {
  return {_mm_and_si128(a.lo, _mm_set1_epi32(m)), _mm_and_si128(a.hi, _mm_set1_epi32(m))};
}

QARN_INLINE idx2 operator-(idx2 a, int m) { return {_mm_sub_epi32(a.v, _mm_set1_epi32(m))}; }
QARN_INLINE idx4 operator-(idx4 a, int m) { return {_mm_sub_epi32(a.v, _mm_set1_epi32(m))}; }
QARN_INLINE idx8 operator-(idx8 a, int m) {
  return {_mm_sub_epi32(a.lo, _mm_set1_epi32(m)), _mm_sub_epi32(a.hi, _mm_set1_epi32(m))};
}
template <int N> QARN_INLINE idx2 shr(idx2 a) { return {_mm_srli_epi32(a.v, N)}; }
template <int N> QARN_INLINE idx4 shr(idx4 a) { return {_mm_srli_epi32(a.v, N)}; }
// Integral-valued lanes as int32 indices (exact for the integers they hold).
QARN_INLINE idx4 to_idx(vf4 a) { return {_mm_cvtps_epi32(a.v)}; }
QARN_INLINE idx8 to_idx(vf8 a) {
  __m256i i = _mm256_cvtps_epi32(a.v);
  return {_mm256_castsi256_si128(i), _mm256_extractf128_si256(i, 1)};
}
QARN_INLINE idx2 to_idx(vd2 a) { return {_mm_cvtpd_epi32(a.v)}; }
QARN_INLINE idx4 to_idx(vd4 a) { return {_mm256_cvtpd_epi32(a.v)}; }
// int32 index lanes converted to double lanes.
QARN_INLINE vd2 cvt_int(idx2 a) { return {_mm_cvtepi32_pd(a.v)}; }
QARN_INLINE vd4 cvt_int(idx4 a) { return {_mm256_cvtepi32_pd(a.v)}; }

// Table of single values.
QARN_INLINE vf4 lookup(const float* t, idx4 i) {
  return {_mm_setr_ps(t[_mm_cvtsi128_si32(i.v)], t[_mm_extract_epi32(i.v, 1)],
                      t[_mm_extract_epi32(i.v, 2)], t[_mm_extract_epi32(i.v, 3)])};
}
QARN_INLINE vf8 lookup(const float* t, idx8 i) {
  vf4 a = lookup(t, idx4{i.lo}), b = lookup(t, idx4{i.hi});
  return {_mm256_insertf128_ps(_mm256_castps128_ps256(a.v), b.v, 1)};
}
QARN_INLINE vd2 lookup(const double* t, idx2 i) {
  return {_mm_setr_pd(t[_mm_cvtsi128_si32(i.v)], t[_mm_extract_epi32(i.v, 1)])};
}
QARN_INLINE vd4 lookup(const double* t, idx4 i) {
  __m128d a = _mm_setr_pd(t[_mm_cvtsi128_si32(i.v)], t[_mm_extract_epi32(i.v, 1)]);
  __m128d b = _mm_setr_pd(t[_mm_extract_epi32(i.v, 2)], t[_mm_extract_epi32(i.v, 3)]);
  return {_mm256_insertf128_pd(_mm256_castpd128_pd256(a), b, 1)};
}

// Table of (hi, lo) pairs stored side by side: t[2j], t[2j+1].
template <class V> struct pair { V hi, lo; };
QARN_INLINE pair<vf4> lookup2(const float* t, idx4 i) {
  auto ld = [&](int j) { return _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(t + 2 * j))); };
  __m128 p0 = ld(_mm_cvtsi128_si32(i.v)), p1 = ld(_mm_extract_epi32(i.v, 1));
  __m128 p2 = ld(_mm_extract_epi32(i.v, 2)), p3 = ld(_mm_extract_epi32(i.v, 3));
  __m128 a = _mm_unpacklo_ps(p0, p1), b = _mm_unpacklo_ps(p2, p3);  // h0 h1 l0 l1 | h2 h3 l2 l3
  return {{_mm_movelh_ps(a, b)}, {_mm_movehl_ps(b, a)}};
}
QARN_INLINE pair<vf8> lookup2(const float* t, idx8 i) {
  pair<vf4> a = lookup2(t, idx4{i.lo}), b = lookup2(t, idx4{i.hi});
  return {{_mm256_insertf128_ps(_mm256_castps128_ps256(a.hi.v), b.hi.v, 1)},
          {_mm256_insertf128_ps(_mm256_castps128_ps256(a.lo.v), b.lo.v, 1)}};
}
QARN_INLINE pair<vd2> lookup2(const double* t, idx2 i) {
  __m128d p0 = _mm_loadu_pd(t + 2 * _mm_cvtsi128_si32(i.v)), p1 = _mm_loadu_pd(t + 2 * _mm_extract_epi32(i.v, 1));
  return {{_mm_unpacklo_pd(p0, p1)}, {_mm_unpackhi_pd(p0, p1)}};
}
QARN_INLINE pair<vd4> lookup2(const double* t, idx4 i) {
  __m256d a = _mm256_castpd128_pd256(_mm_loadu_pd(t + 2 * _mm_cvtsi128_si32(i.v)));
  __m256d b = _mm256_castpd128_pd256(_mm_loadu_pd(t + 2 * _mm_extract_epi32(i.v, 1)));
  a = _mm256_insertf128_pd(a, _mm_loadu_pd(t + 2 * _mm_extract_epi32(i.v, 2)), 1);
  b = _mm256_insertf128_pd(b, _mm_loadu_pd(t + 2 * _mm_extract_epi32(i.v, 3)), 1);
  return {{_mm256_unpacklo_pd(a, b)}, {_mm256_unpackhi_pd(a, b)}};
}

// Lookups for a register whose lanes are all copies of lane 0 (width 1, where the
// frame copies the one lane over the others): lane 0's entry is read once and
// broadcast, which gives exactly the register the per-lane lookups above would,
// for one load instead of one per lane.  `Lanes` is the kernels' template
// argument: 1 for such a register, 0 for independent lanes.
//
// At width 1 the index itself may be lane 0's alone, in an integer register
// (rounded_idx and low_idx below give one there): the vector unit then neither
// builds the index constants nor moves the index out before the load.
template <int Lanes, class T, class I> QARN_INLINE auto lookup(const T* t, I i) {
  if constexpr (std::is_same_v<I, int64_t>) {
    static_assert(Lanes == 1, "a scalar index reads the entry of every lane");
    if constexpr (sizeof(T) == 4) return vf4{_mm_broadcast_ss(t + i)};
    else return vd2{_mm_loaddup_pd(t + i)};
  } else if constexpr (Lanes != 1) return lookup(t, i);
  else if constexpr (std::is_same_v<I, idx4> && sizeof(T) == 4) return vf4{_mm_broadcast_ss(t + _mm_cvtsi128_si32(i.v))};
  else if constexpr (std::is_same_v<I, idx2>) return vd2{_mm_loaddup_pd(t + _mm_cvtsi128_si32(i.v))};
  else return lookup(t, i);
}
template <int Lanes, class T, class I> QARN_INLINE auto lookup2(const T* t, I i) {
  if constexpr (std::is_same_v<I, int64_t>) {
    static_assert(Lanes == 1, "a scalar index reads the entry of every lane");
    if constexpr (sizeof(T) == 4) return pair<vf4>{{_mm_broadcast_ss(t + 2 * i)}, {_mm_broadcast_ss(t + 2 * i + 1)}};
    else return pair<vd2>{{_mm_loaddup_pd(t + 2 * i)}, {_mm_loaddup_pd(t + 2 * i + 1)}};
  } else if constexpr (Lanes != 1) {
    return lookup2(t, i);
  } else if constexpr (std::is_same_v<I, idx4> && sizeof(T) == 4) {
    const float* p = t + 2 * _mm_cvtsi128_si32(i.v);
    return pair<vf4>{{_mm_broadcast_ss(p)}, {_mm_broadcast_ss(p + 1)}};
  } else if constexpr (std::is_same_v<I, idx2>) {
    const double* p = t + 2 * _mm_cvtsi128_si32(i.v);
    return pair<vd2>{{_mm_loaddup_pd(p)}, {_mm_loaddup_pd(p + 1)}};
  } else {
    return lookup2(t, i);
  }
}

// Table indices for the lookups above: the index lanes, or at width 1 lane 0's
// index as a scalar (its conversion or pattern read straight into an integer
// register, which the load then uses as it is).
//   rounded_idx<Lanes>(c, off)  c - off, for lanes holding whole numbers
//   low_idx<Lanes>(S, mask)     the low 32 bits of each lane's pattern, & mask
template <int Lanes, class V> QARN_INLINE auto rounded_idx(V c, int off) {
  if constexpr (Lanes == 1 && std::is_same_v<V, vf4>) return int64_t(_mm_cvtss_si64(c.v)) - off;
  else if constexpr (Lanes == 1 && std::is_same_v<V, vd2>) return int64_t(_mm_cvtsd_si64(c.v)) - off;
  else return to_idx(c) - off;
}
template <int Lanes, class V> QARN_INLINE auto low_idx(V S, int mask) {
  if constexpr (Lanes == 1 && std::is_same_v<V, vf4>) return int64_t(_mm_cvtsi128_si32(_mm_castps_si128(S.v)) & mask);
  else if constexpr (Lanes == 1 && std::is_same_v<V, vd2>) return int64_t(_mm_cvtsi128_si32(_mm_castpd_si128(S.v)) & mask);
  else return low32(S) & mask;
}

// In-register selection from a 4-entry float table by the low 2 bits of each lane
// of `sel` (the table is replicated in both 128-bit halves for 8 lanes).
QARN_INLINE vf4 permute4(const float* t4, vf4 sel) {
  return {_mm_permutevar_ps(_mm_loadu_ps(t4), _mm_castps_si128(sel.v))};
}
QARN_INLINE vf8 permute4(const float* t4, vf8 sel) {
  __m256 t = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(t4));
  return {_mm256_permutevar_ps(t, _mm256_castps_si256(sel.v))};
}

}  // namespace qarn
