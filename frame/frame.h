// The export frame: one protocol for every math export, whatever its shape.
//
// A family writes a kernel K, one template over the vector type V (frame/simd.h):
//   using elem = float | double;
//   main(inputs...)            -> result               branch-free, all lanes
//   main(inputs..., R2& r2)    -> result               with a second result
//   special(inputs...)         -> V, all-ones lanes need more work
//   fixup(inputs..., V& r)     -> V, optional: fixes some special lanes in r and
//                                 returns the lanes it fixed
//   using second = elem | int32_t;                     type of the second result
// Inputs are V per floating argument (one to three) and idx_t<V> (32-bit lanes
// paired with V's lanes) for an integer argument; the integer code of `nan` is
// handed over as V's bit patterns.
//
// Everything else comes from the export registry through the generated entry
// (frame/gen.py): the signature kind ("ff:f", "fi:f", "f:fpi", "f:ff", ...), the
// width-3 filler, whether the export has special lanes (none, some, or all: the
// families with no vector main path), and the lane fallback, an ms_abi scalar
// routine called with pointers to one lane of every input, then every output.
//
// Kernels are compiled with ymm6-ymm15, rdi and rsi reserved (-ffixed-*), so a
// main path can never write a register our callers expect preserved; only the
// lane loop, which calls ordinary Windows x64 code, saves ymm6-ymm15 in full.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>
#include "frame/simd.h"

#define QARN_MS __attribute__((ms_abi))
// The register form's own convention: on Linux the platform's default; on Windows
// the entries and their cold parts say it, so the cold part is still reached by a
// jump with the arguments in their registers.
#ifdef _WIN32
#define QARN_REG __attribute__((sysv_abi))
#else
#define QARN_REG
#endif
#define QARN_HIDDEN __attribute__((visibility("hidden")))

namespace qarn {

// Registers that hold one vector of element type T and width W (the register form).
template <class T, int W> struct group;
template <int W> requires (W <= 4) struct group<float, W> { using V = vf4; using N = __m128; static constexpr int n = 1; };
template <> struct group<float, 8> { using V = vf8; using N = __m256; static constexpr int n = 1; };
template <> struct group<float, 16> { using V = vf8; using N = __m256; static constexpr int n = 2; };
template <int W> requires (W <= 2) struct group<double, W> { using V = vd2; using N = __m128d; static constexpr int n = 1; };
template <int W> requires (W == 3 || W == 4) struct group<double, W> { using V = vd4; using N = __m256d; static constexpr int n = 1; };
template <> struct group<double, 8> { using V = vd4; using N = __m256d; static constexpr int n = 2; };
template <> struct group<double, 16> { using V = vd4; using N = __m256d; static constexpr int n = 4; };

// ---- int lanes paired with floating lanes -------------------------------------
template <class I> inline constexpr int pieces_in = std::is_same_v<I, idx8> ? 2 : 1;

QARN_INLINE idx4 clamp(idx4 a, int lo, int hi) { return {_mm_min_epi32(_mm_max_epi32(a.v, _mm_set1_epi32(lo)), _mm_set1_epi32(hi))}; }
QARN_INLINE idx2 clamp(idx2 a, int lo, int hi) { return {clamp(idx4{a.v}, lo, hi).v}; }
QARN_INLINE idx8 clamp(idx8 a, int lo, int hi) { return {clamp(idx4{a.lo}, lo, hi).v, clamp(idx4{a.hi}, lo, hi).v}; }

// The int lanes sign-extended to the lane size of V, as V's bit patterns.
template <class V> QARN_INLINE V widen(idx_t<V> a) {
  if constexpr (std::is_same_v<V, vf4>) return {_mm_castsi128_ps(a.v)};
  else if constexpr (std::is_same_v<V, vf8>) return {detail::join_ps(a.lo, a.hi)};
  else if constexpr (std::is_same_v<V, vd2>) return {_mm_castsi128_pd(_mm_cvtepi32_epi64(a.v))};
  else return {detail::join_pd(_mm_cvtepi32_epi64(a.v), _mm_cvtepi32_epi64(_mm_unpackhi_epi64(a.v, a.v)))};
}

// The int lanes converted to V's floating lanes (exact for every int32 in double,
// and for the small values the callers convert in float).
template <class V> QARN_INLINE V to_floating(idx_t<V> a) {
  if constexpr (std::is_same_v<V, vf4>) return {_mm_cvtepi32_ps(a.v)};
  else if constexpr (std::is_same_v<V, vf8>) return {_mm256_cvtepi32_ps(_mm256_castps_si256(detail::join_ps(a.lo, a.hi)))};
  else if constexpr (std::is_same_v<V, vd2>) return {_mm_cvtepi32_pd(a.v)};
  else return {_mm256_cvtepi32_pd(a.v)};
}

// Lanes with LO <= |x| < HI: the shape of a kernel's tiny band (see
// body::run_tiny below).  It starts where the closed form's result is a normal
// number (LO the smallest normal or a little above), so that whether subnormal
// results are flushed never decides it, and zeros, common and cheap on the main
// path, stay out.
template <class V, typename lanes_of<V>::bits LO, typename lanes_of<V>::bits HI> QARN_INLINE V band_lanes(V x) {
  V a = vabs(x);
  return andnot(cmp<_CMP_LT_OQ>(a, kc<V, HI>()), cmp<_CMP_LT_OQ>(a, kc<V, LO>()));
}

namespace frame {

// ---- what the registry says about an export ---------------------------------------
// Lanes a kernel may hand to its lane fallback.
enum class lanes { none, some, all };

// The signature kind as a template argument: "ff:f", "fi:f", "f:fpi", "f:ff", ...
template <size_t N> struct kind {
  char s[N];
  constexpr kind(const char (&a)[N]) { for (size_t i = 0; i < N; ++i) s[i] = a[i]; }
  constexpr int colon() const { int i = 0; while (s[i] != ':') ++i; return i; }
  constexpr int count_in(char c) const { int n = 0; for (int i = 0; i < colon(); ++i) n += s[i] == c; return n; }
  constexpr bool result_is(const char* r) const {
    int i = colon() + 1, j = 0;
    while (r[j] && s[i] == r[j]) ++i, ++j;
    return r[j] == 0 && s[i] == 0;
  }
};

template <kind Kd> struct sig {
  static constexpr int floats = Kd.count_in('f');  // floating inputs, in argument order
  static constexpr bool int_arg = Kd.count_in('i') == 1;  // then one int-lane input
  static constexpr bool code = Kd.count_in('c') == 1;     // nan's code: the only input
  static constexpr bool int_result = Kd.result_is("i");
  static constexpr bool second_ptr = Kd.result_is("fpf") || Kd.result_is("fpi");
  static constexpr bool second_int = Kd.result_is("fpi");
  static constexpr bool second_reg = Kd.result_is("ff");
  static constexpr bool two = second_ptr || second_reg;
  static constexpr int inputs = floats + int_arg + code;
  static_assert(Kd.result_is("f") || int_result || two, "result kind without a frame form");
  static_assert(inputs == Kd.colon() && floats + code <= 3, "argument kind without a frame form");
};

// Bits of the special-lane mask that belong to the value (lane 3 of width 3 holds
// the filler and never counts, except where every lane goes to the fallback).
template <int W> inline constexpr uint32_t width_mask = W == 3 ? 0x7u : (1u << W) - 1;
template <int W, lanes L> inline constexpr uint32_t lane_mask = L == lanes::all && W == 3 ? 0xFu : width_mask<W>;

template <class V> QARN_INLINE V splat(elem_t<V> v) { return bits<V>(__builtin_bit_cast(typename lanes_of<V>::bits, v)); }

// Whether the caller's SSE environment is the ordinary one for the purposes of a
// closed form: rounding to nearest, and subnormal operands read as they are.
// Told by one multiply and one compare, never by reading the control register,
// and without touching a subnormal in an arithmetic unit (which costs a microcode
// assist on some processors; a compare does not):
//   lanes 0, 1: (1 + 2^-23)(1.5 + 2^-23) = 1.5 + 2.5*2^-23 + 2^-46 and its
//   negation round to +-(1.5 + 3*2^-23) only to nearest (upward and downward
//   each move one of them, toward zero both);
//   lane 2: 0 compares unequal to 2^-149 unless subnormal operands are read as
//   zero, so the unequal lanes are exactly lane 2 in the ordinary environment.
// Whether subnormal results are flushed is not told; callers keep such results
// out of their closed forms.  The operand passes an empty asm so that the
// compiler cannot fold the product in its own rounding mode.
QARN_INLINE bool plain_env() {
  __m128 a = _mm_setr_ps(0x1.000002p0f, -0x1.000002p0f, 0.0f, 1.0f);
  asm("" : "+x"(a));
  __m128 p = _mm_mul_ps(a, _mm_setr_ps(0x1.800002p0f, 0x1.800002p0f, 1.0f, 1.0f));
  __m128 off = _mm_cmpneq_ps(p, _mm_setr_ps(0x1.800006p0f, -0x1.800006p0f, 0x1p-149f, 1.0f));
  return _mm_movemask_ps(off) == 4;
}

// Whether subnormal results are flushed to zero (MXCSR's flush bit with the
// underflow exception masked).  Two ways to tell, and each is slow on one maker's
// processors: on Intel ones every instruction with a subnormal result, exact or
// not, takes a microcode assist of well over a hundred cycles, while reading the
// control register costs a few; on AMD ones the read (stmxcsr) costs some twenty
// cycles and an exact subnormal result nothing.  So the maker, read once when the
// library loads, picks: on AMD processors 1.5*2^-1022 - 2^-1022 is formed and its
// bits tested (they are zero only where results are flushed), elsewhere the
// register is read.  For cold parts only.
inline const bool subnormal_results_free = [] {
  unsigned a = 0, b = 0, c = 0, d = 0;
  __asm__("cpuid" : "+a"(a), "=b"(b), "+c"(c), "=d"(d));
  return b == 0x68747541u && d == 0x69746E65u && c == 0x444D4163u;  // "AuthenticAMD"
}();
QARN_INLINE bool flushes_subnormals() {
  if (subnormal_results_free) {
    __m128d h = _mm_set_sd(0x1.8p-1022);
    asm("" : "+x"(h));
    return _mm_cvtsi128_si64(_mm_castpd_si128(_mm_sub_sd(h, _mm_set_sd(0x1p-1022)))) == 0;
  }
  return (_mm_getcsr() & 0x8800u) == 0x8800u;
}

// Widths 1 and 2 copy the live lanes over the others; width 3 writes the filler into lane 3.
template <int W, class V> QARN_INLINE V fill(V x, elem_t<V> filler) {
  if constexpr (std::is_same_v<V, vf4>) {
    if constexpr (W == 1) return {_mm_shuffle_ps(x.v, x.v, 0)};
    else if constexpr (W == 2) return {_mm_movelh_ps(x.v, x.v)};
    else if constexpr (W == 3) return {_mm_blend_ps(x.v, splat<vf4>(filler).v, 8)};
    else return x;
  } else if constexpr (std::is_same_v<V, vd2>) {
    if constexpr (W == 1) return {_mm_unpacklo_pd(x.v, x.v)};
    else return x;
  } else if constexpr (std::is_same_v<V, vd4>) {
    if constexpr (W == 3) return {_mm256_blend_pd(x.v, splat<vd4>(filler).v, 8)};
    else return x;
  } else {
    return x;
  }
}

// Int-lane input: widths 1 and 2 copy the live lanes over the others, width 3
// writes the filler 1 into lane 3.
template <class T, int W, class I> QARN_INLINE I fill_int(I a) {
  if constexpr (std::is_same_v<I, idx8>) return a;
  else if constexpr (W == 1) return {_mm_shuffle_epi32(a.v, 0)};
  else if constexpr (W == 2 && sizeof(T) == 4) return {_mm_unpacklo_epi64(a.v, a.v)};
  else if constexpr (W == 3) return {_mm_blend_epi16(a.v, _mm_set1_epi32(1), 0xC0)};
  else return a;
}

// Results in more than one register: the first goes back as the C return value,
// the others are pinned to the registers that follow it.
template <class N> QARN_INLINE N give(N r0) { return r0; }
template <class N> QARN_INLINE N give(N r0, N r1) {
  register N a asm("xmm0") = r0;
  register N b asm("xmm1") = r1;
  asm volatile("" : "+x"(a), "+x"(b));
  return a;
}
template <class N> QARN_INLINE N give(N r0, N r1, N r2, N r3) {
  register N a asm("xmm0") = r0;
  register N b asm("xmm1") = r1;
  register N c asm("xmm2") = r2;
  register N d asm("xmm3") = r3;
  asm volatile("" : "+x"(a), "+x"(b), "+x"(c), "+x"(d));
  return a;
}

// ymm6-ymm15 in full, into 320 bytes aligned to 32 and back.
QARN_INLINE void keep_upper_vectors(unsigned char* keep) {
  asm volatile(
      "vmovdqa %%ymm6, 0(%0)\n\tvmovdqa %%ymm7, 32(%0)\n\tvmovdqa %%ymm8, 64(%0)\n\t"
      "vmovdqa %%ymm9, 96(%0)\n\tvmovdqa %%ymm10, 128(%0)\n\tvmovdqa %%ymm11, 160(%0)\n\t"
      "vmovdqa %%ymm12, 192(%0)\n\tvmovdqa %%ymm13, 224(%0)\n\tvmovdqa %%ymm14, 256(%0)\n\t"
      "vmovdqa %%ymm15, 288(%0)" ::"r"(keep) : "memory");
}
QARN_INLINE void restore_upper_vectors(const unsigned char* keep) {
  asm volatile(
      "vmovdqa 0(%0), %%ymm6\n\tvmovdqa 32(%0), %%ymm7\n\tvmovdqa 64(%0), %%ymm8\n\t"
      "vmovdqa 96(%0), %%ymm9\n\tvmovdqa 128(%0), %%ymm10\n\tvmovdqa 160(%0), %%ymm11\n\t"
      "vmovdqa 192(%0), %%ymm12\n\tvmovdqa 224(%0), %%ymm13\n\tvmovdqa 256(%0), %%ymm14\n\t"
      "vmovdqa 288(%0), %%ymm15" ::"r"(keep) : "memory");
}

// The lane loop: ymm6-ymm15 saved in full, upper halves cleared before every
// call, each marked lane finished once, in increasing lane order.
template <class... P>
[[gnu::noinline, gnu::cold]] QARN_MS QARN_HIDDEN void lane_loop(uint32_t mask, void (*fb)(P...) QARN_MS, P... base) {
  alignas(32) unsigned char keep[10 * 32];
  keep_upper_vectors(keep);
  for (uint32_t m = mask; m != 0; m &= m - 1) {
    int i = __builtin_ctz(m);
    asm volatile("vzeroupper" ::: "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5");
    fb((base + i)...);
  }
  restore_upper_vectors(keep);
}
// The same for a kernel that finishes all marked lanes in one call of its own
// (K::lanes_fallback: the mask, then the spill arrays), each lane as its lane
// fallback would.
template <class... P>
[[gnu::noinline, gnu::cold]] QARN_MS QARN_HIDDEN void lane_batch(uint32_t mask, void (*fb)(unsigned, P...) QARN_MS, P... base) {
  alignas(32) unsigned char keep[10 * 32];
  keep_upper_vectors(keep);
  asm volatile("vzeroupper" ::: "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5");
  fb(mask, base...);
  restore_upper_vectors(keep);
}

// ---- routines with more vector registers ----------------------------------------------
// A cold-part computation too long for the six vector registers a kernel has
// (it would spill on its critical path) may live in a *_wide.cpp file, compiled
// with ymm6-ymm9 free as well: a System V function of vector arguments only (an
// integer argument would take rdi or rsi, which stay reserved there, as do
// ymm10-ymm15).  wide() calls it with ymm6-ymm9 kept in full around the call.
#define QARN_WIDE __attribute__((sysv_abi))
template <class R, class... A> QARN_INLINE R wide(R (*f)(A...) QARN_WIDE, A... a) {
  alignas(32) unsigned char keep[4 * 32];
  asm volatile("vmovdqa %%ymm6, 0(%0)\n\tvmovdqa %%ymm7, 32(%0)\n\tvmovdqa %%ymm8, 64(%0)\n\tvmovdqa %%ymm9, 96(%0)"
               ::"r"(keep) : "memory");
  R r = f(a...);
  asm volatile("vmovdqa 0(%0), %%ymm6\n\tvmovdqa 32(%0), %%ymm7\n\tvmovdqa 64(%0), %%ymm8\n\tvmovdqa 96(%0), %%ymm9"
               ::"r"(keep) : "memory");
  return r;
}

// ---- moving lanes between registers, spill arrays and memory ------------------------
QARN_INLINE __m256i join(__m128i a, __m128i b) { return _mm256_insertf128_si256(_mm256_castsi128_si256(a), b, 1); }

// 128-bit pieces of a register or lane vector.
QARN_INLINE int cut(__m128i* q, __m128i a) { q[0] = a; return 1; }
QARN_INLINE int cut(__m128i* q, __m256i a) { q[0] = _mm256_castsi256_si128(a); q[1] = _mm256_extractf128_si256(a, 1); return 2; }
QARN_INLINE int cut(__m128i* q, idx2 a) { q[0] = a.v; return 1; }
QARN_INLINE int cut(__m128i* q, idx4 a) { q[0] = a.v; return 1; }
QARN_INLINE int cut(__m128i* q, idx8 a) { q[0] = a.lo; q[1] = a.hi; return 2; }
QARN_INLINE int cut(__m128i* q, vf4 a) { q[0] = _mm_castps_si128(a.v); return 1; }
QARN_INLINE int cut(__m128i* q, vd2 a) { q[0] = _mm_castpd_si128(a.v); return 1; }
QARN_INLINE int cut(__m128i* q, vf8 a) { q[0] = detail::lo(a.v); q[1] = detail::hi(a.v); return 2; }
QARN_INLINE int cut(__m128i* q, vd4 a) { q[0] = detail::lo(a.v); q[1] = detail::hi(a.v); return 2; }

template <class I> QARN_INLINE I glue(const __m128i* q) {
  if constexpr (std::is_same_v<I, idx8>) return {q[0], q[1]};
  else return {q[0]};
}
template <class V> QARN_INLINE V glue_floating(const __m128i* q) {
  if constexpr (std::is_same_v<V, vf4>) return {_mm_castsi128_ps(q[0])};
  else if constexpr (std::is_same_v<V, vd2>) return {_mm_castsi128_pd(q[0])};
  else if constexpr (std::is_same_v<V, vf8>) return {detail::join_ps(q[0], q[1])};
  else return {detail::join_pd(q[0], q[1])};
}

// One store of `Bytes` bytes (two or four for 64 and 128) at an unaligned address.
template <int Bytes> QARN_INLINE void put(void* p, const __m128i* q) {
  if constexpr (Bytes == 4) _mm_storeu_si32(p, q[0]);
  else if constexpr (Bytes == 8) _mm_storel_epi64(static_cast<__m128i*>(p), q[0]);
  else if constexpr (Bytes == 16) _mm_storeu_si128(static_cast<__m128i*>(p), q[0]);
  else {
    #pragma GCC unroll 16
    for (int j = 0; j < Bytes / 32; ++j) _mm256_storeu_si256(static_cast<__m256i*>(p) + j, join(q[2 * j], q[2 * j + 1]));
  }
}

// Storage in bytes of a vector of W lanes of `Lane` bytes.
template <int Lane, int W> inline constexpr int storage = Lane * (W == 3 ? 4 : W);

// Lane type of a register value: the floating element, or int32 for int lanes.
template <class X> struct lane_of { using type = int32_t; };
template <> struct lane_of<vf4> { using type = float; };
template <> struct lane_of<vf8> { using type = float; };
template <> struct lane_of<vd2> { using type = double; };
template <> struct lane_of<vd4> { using type = double; };
template <class X> inline constexpr bool is_int_lanes = std::is_same_v<typename lane_of<X>::type, int32_t>;

// Spill array length in elements: 64 bytes, or 128 for sixteen 8-byte lanes.
template <class T, int W> inline constexpr int spill_len = (W == 16 && sizeof(T) == 8) ? 16 : 64 / int(sizeof(T));
template <class T, int W, class X> inline constexpr int array_len = is_int_lanes<X> ? 16 : spill_len<T, W>;

template <class V> QARN_INLINE void store(elem_t<V>* p, V v) {
  if constexpr (sizeof(V) == 16) {
    if constexpr (sizeof(elem_t<V>) == 4) _mm_store_ps(p, v.v); else _mm_store_pd(p, v.v);
  } else {
    if constexpr (sizeof(elem_t<V>) == 4) _mm256_store_ps(p, v.v); else _mm256_store_pd(p, v.v);
  }
}
template <class V> QARN_INLINE V load(const elem_t<V>* p) {
  if constexpr (sizeof(V) == 16) {
    if constexpr (sizeof(elem_t<V>) == 4) return {_mm_load_ps(p)}; else return {_mm_load_pd(p)};
  } else {
    if constexpr (sizeof(elem_t<V>) == 4) return {_mm256_load_ps(p)}; else return {_mm256_load_pd(p)};
  }
}
template <class V> QARN_INLINE V loadu(const void* p) {
  using T = elem_t<V>;
  const T* q = static_cast<const T*>(p);
  if constexpr (sizeof(V) == 16) {
    if constexpr (sizeof(T) == 4) return {_mm_loadu_ps(q)}; else return {_mm_loadu_pd(q)};
  } else {
    if constexpr (sizeof(T) == 4) return {_mm256_loadu_ps(q)}; else return {_mm256_loadu_pd(q)};
  }
}

// Floating lanes: one aligned store per register.  Int lanes: piece by piece.
template <class X, int n> QARN_INLINE void spill(typename lane_of<X>::type* a, const X (&v)[n]) {
  if constexpr (is_int_lanes<X>) {
    __m128i q[8];
    int m = 0;
    #pragma GCC unroll 16
    for (int g = 0; g < n; ++g) m += cut(q + m, v[g]);
    #pragma GCC unroll 16
    for (int j = 0; j < m; ++j) _mm_store_si128(reinterpret_cast<__m128i*>(a + 4 * j), q[j]);
  } else {
    #pragma GCC unroll 16
    for (int g = 0; g < n; ++g) store(a + g * nlanes<X>, v[g]);
  }
}
template <class X, int n> QARN_INLINE void reload(X (&v)[n], const typename lane_of<X>::type* a) {
  #pragma GCC unroll 16
  for (int g = 0; g < n; ++g) {
    if constexpr (is_int_lanes<X>) v[g] = glue<X>(reinterpret_cast<const __m128i*>(a) + g * pieces_in<X>);
    else v[g] = load<X>(a + g * nlanes<X>);
  }
}

// Lanes of a register row as 128-bit pieces, in lane order.
template <class X, int n> QARN_INLINE int pieces(__m128i* q, const X (&v)[n]) {
  int m = 0;
  #pragma GCC unroll 16
  for (int g = 0; g < n; ++g) m += cut(q + m, v[g]);
  return m;
}

// Unaligned store of a register row of W lanes (the by-reference result buffer).
template <int W, class X, int n> QARN_INLINE void put_row(void* p, const X (&v)[n]) {
  __m128i q[8];
  pieces(q, v);
  put<storage<int(sizeof(typename lane_of<X>::type)), W>>(p, q);
}

// Result registers of the register form.
template <class V, int n> QARN_INLINE auto give_row(const V (&r)[n]) {
  if constexpr (n == 1) return give(r[0].v);
  else if constexpr (n == 2) return give(r[0].v, r[1].v);
  else return give(r[0].v, r[1].v, r[2].v, r[3].v);
}
template <int W, class I, int n> QARN_INLINE auto give_int(const I (&r)[n]) {
  __m128i q[8];
  pieces(q, r);
  constexpr int bytes = storage<4, W>;
  if constexpr (bytes == 4) return int32_t(_mm_cvtsi128_si32(q[0]));
  else if constexpr (bytes <= 16) return q[0];
  else if constexpr (bytes == 32) return join(q[0], q[1]);
  else return give(join(q[0], q[1]), join(q[2], q[3]));
}
// Two floating results: the first row's registers, then the second's; at width 1
// both share one register, the first in lane 0 and the second in lane 1.
template <int W, class V, int n> QARN_INLINE auto give_pair(const V (&a)[n], const V (&b)[n]) {
  if constexpr (W == 1) {
    if constexpr (std::is_same_v<V, vf4>) return give(_mm_unpacklo_ps(a[0].v, b[0].v));
    else return give(_mm_unpacklo_pd(a[0].v, b[0].v));
  } else if constexpr (n == 1) {
    return give(a[0].v, b[0].v);
  } else {
    static_assert(n == 2, "two results of more than two registers each travel by reference");
    return give(a[0].v, a[1].v, b[0].v, b[1].v);
  }
}

// ---- what a kernel may provide ---------------------------------------------------
template <class K> concept declares_has_special = requires { K::has_special; };
template <class K> concept declares_all_lanes = requires { K::all_lanes; };
template <class K> concept declares_filler = requires { K::filler; };

// ---- the body of every export ---------------------------------------------------------
// The lanes of one call.  They live in a struct that depends only on the element
// type, the width and the kind, not on the kernel, so that variants whose code is
// the same compile to the same function (identical code folding sees equal types).
template <class T, int W, class S> struct lane_state {
  using V = typename group<T, W>::V;
  using I = idx_t<V>;
  static constexpr int n = group<T, W>::n, NF = S::floats + S::code;
  V x[NF > 0 ? NF : 1][n];
  I k[n];
  std::conditional_t<S::int_result, I, V> r[n];
  std::conditional_t<S::second_int, I, V> r2[n];
};

// Inputs, results and the protocol's steps for kernel K at width W.
template <class K, int W, class S, double Filler, lanes Mode, auto Fallback>
struct body {
  using T = typename K::elem;
  using G = group<T, W>;
  using V = typename G::V;
  using I = idx_t<V>;
  static constexpr int n = G::n, L = nlanes<V>;
  static constexpr int NF = S::floats + S::code;   // inputs held as V
  using R = std::conditional_t<S::int_result, I, V>;
  using R2 = std::conditional_t<S::second_int, I, V>;
  using RT = typename lane_of<R>::type;
  using R2T = typename lane_of<R2>::type;

  // The registry and the kernel must tell the same story.
  static constexpr bool agrees() {
    if constexpr (declares_has_special<K>) static_assert(K::has_special == (Mode != lanes::none),
                                                         "the kernel's has_special disagrees with the registry");
    if constexpr (declares_all_lanes<K>) static_assert(K::all_lanes == (Mode == lanes::all),
                                                       "the kernel's all_lanes disagrees with the registry");
    if constexpr (declares_filler<K>) static_assert(K::filler == Filler, "the kernel's filler disagrees with the registry");
    static_assert((Mode == lanes::none) == std::is_same_v<decltype(Fallback), std::nullptr_t>,
                  "a lane fallback exactly where lanes can be special");
    return true;
  }
  static_assert(agrees());

  using state = lane_state<T, W, S>;
  state& s;

  template <class F> QARN_INLINE decltype(auto) with_inputs(int g, F f) {
    return [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) -> decltype(auto) {
      if constexpr (S::int_arg) return f(s.x[J][g]..., s.k[g]);
      else return f(s.x[J][g]...);
    }(std::make_index_sequence<NF>{});
  }

  // Width 1 holds copies of its one lane in every lane of the register.  A kernel
  // whose main and special take the count of distinct lanes as a second template
  // argument, after V, is told so (1), and may read a table once for all lanes
  // (simd.h).
  template <class... In> static QARN_INLINE auto k_main(In&&... in) {
    if constexpr (W == 1 && requires { K::template main<V, 1>(in...); }) return K::template main<V, 1>(in...);
    else return K::main(in...);
  }
  template <class... In> static QARN_INLINE V k_special(In... in) {
    if constexpr (band_apart) return K::special_band(in...);
    else if constexpr (W == 1 && requires { K::template special<V, 1>(in...); }) return K::template special<V, 1>(in...);
    else return K::special(in...);
  }

  QARN_INLINE void main_path() {
    #pragma GCC unroll 16
    for (int g = 0; g < n; ++g)
      with_inputs(g, [&](auto... in) __attribute__((always_inline)) {
        if constexpr (S::two) s.r[g] = k_main(in..., s.r2[g]);
        else if constexpr (fused && !tiny_band) {
          V sp;
          s.r[g] = K::main_special(in..., sp);
        } else s.r[g] = k_main(in...);
      });
  }

  // V for every floating input (written so that the pack expands per input).
  template <size_t J> using input_t = std::conditional_t<J < 64, V, void>;
  // fixup(inputs..., r), or fixup(inputs..., r, r2) where there is a second result.
  template <size_t... J> static constexpr bool has_fixup(std::index_sequence<J...>) {
    if constexpr (S::two && S::int_arg)
      return requires { K::fixup(std::declval<input_t<J>&>()..., std::declval<I&>(), std::declval<R&>(), std::declval<R2&>()); };
    else if constexpr (S::two)
      return requires { K::fixup(std::declval<input_t<J>&>()..., std::declval<R&>(), std::declval<R2&>()); };
    else if constexpr (S::int_arg)
      return requires { K::fixup(std::declval<input_t<J>&>()..., std::declval<I&>(), std::declval<R&>()); };
    else
      return requires { K::fixup(std::declval<input_t<J>&>()..., std::declval<R&>()); };
  }

  // A kernel may say which lanes its fix-up recomputes from scratch, whatever the
  // main path gave them (fixable(inputs...), the lanes fixup() returns).  In the
  // cold part a register whose every lane is such skips the main path: its results
  // would all be replaced.  Lanes the main path finishes still get it.
  template <size_t... J> static constexpr bool has_fixable(std::index_sequence<J...>) {
    return requires { K::fixable(std::declval<input_t<J>&>()...); };
  }
  QARN_INLINE void main_path_unless_fixed() {
    if constexpr (!S::int_arg && has_fixable(std::make_index_sequence<NF>{})) {
      #pragma GCC unroll 16
      for (int g = 0; g < n; ++g) {
        V f = with_inputs(g, [](auto... in) __attribute__((always_inline)) { return K::fixable(in...); });
        if (movemask(f) == (1 << L) - 1) {
          s.r[g] = R{};
          if constexpr (S::two) s.r2[g] = R2{};
          continue;
        }
        with_inputs(g, [&](auto... in) __attribute__((always_inline)) {
          if constexpr (S::two) s.r[g] = k_main(in..., s.r2[g]);
          else s.r[g] = k_main(in...);
        });
      }
    } else {
      main_path();
    }
  }
  // Register g is all lanes its fix-up recomputes (never, for kernels without fixable).
  QARN_INLINE bool all_fixable(int g) {
    if constexpr (!S::int_arg && has_fixable(std::make_index_sequence<NF>{}))
      return movemask(with_inputs(g, [](auto... in) __attribute__((always_inline)) { return K::fixable(in...); })) ==
             (1 << L) - 1;
    else return false;
  }

  QARN_INLINE V special_lanes(int g) {
    if constexpr (fused) {
      V sp;
      with_inputs(g, [&](auto... in) __attribute__((always_inline)) { return K::main_special(in..., sp); });
      return sp;
    } else {
      return with_inputs(g, [](auto... in) __attribute__((always_inline)) { return k_special(in...); });
    }
  }

  // The hot test: one sign-bit test over the OR of the special lanes.  Every lane
  // of the registers may take part: widths 1 and 2 hold copies of their live lanes
  // and lane 3 of width 3 holds the filler, so the extra lanes are special exactly
  // when a live lane is, or never.
  // A kernel whose special-lane test falls out of its own main path (one result,
  // no int argument) may give both at once:
  //   main_special(inputs..., V& sp)   -> the result, with the special lanes in sp
  // and then needs no main() or special() of its own.  The hot part computes it
  // once, before its test, so that nothing but the result and the operands stays
  // alive across the test.  With a tiny band its result in the band's lanes may be
  // anything (they leave for the cold part, whose main path is main()).
  template <size_t... J> static constexpr bool has_fused(std::index_sequence<J...>) {
    if constexpr (S::int_arg || S::two) return false;
    else return requires { K::main_special(std::declval<input_t<J>&>()..., std::declval<V&>()); };
  }
  // (A kernel may keep it to some widths: fused_at<W>.)
  static constexpr bool fused = has_fused(std::make_index_sequence<NF>{}) && [] {
    if constexpr (requires { K::template fused_at<W>; }) return bool(K::template fused_at<W>);
    else return true;
  }();

  static QARN_INLINE bool any_lane(V m) {
    if constexpr (std::is_same_v<V, vf4>) return !_mm_testz_ps(m.v, m.v);
    else if constexpr (std::is_same_v<V, vf8>) return !_mm256_testz_ps(m.v, m.v);
    else if constexpr (std::is_same_v<V, vd2>) return !_mm_testz_pd(m.v, m.v);
    else return !_mm256_testz_pd(m.v, m.v);
  }

  // Fused kernels: every result into the state, and the special lanes of all
  // registers in one.
  QARN_INLINE V main_and_mask() {
    V m;
    #pragma GCC unroll 4
    for (int g = 0; g < n; ++g) {
      V sp;
      s.r[g] = with_inputs(g, [&](auto... in) __attribute__((always_inline)) { return K::main_special(in..., sp); });
      asm volatile("" : "+x"(s.r[g].v));  // finished here, not after the test
      m = g ? m | sp : sp;
    }
    return m;
  }

  // Width 1, a kernel whose test is partly on its inputs' patterns (special_bits)
  // and partly on values of its main path: whether the one lane is special for
  // the second reason, special_rest<V, 1>(inputs...).
  template <size_t... J> static constexpr bool has_rest(std::index_sequence<J...>) {
    if constexpr (S::int_arg || S::two || W != 1) return false;
    else return requires { K::template special_rest<V, 1>(std::declval<input_t<J>&>()...); };
  }
  static constexpr bool split_test = has_rest(std::make_index_sequence<NF>{});
  template <class... In> static QARN_INLINE V k_special_rest(In... in) { return K::template special_rest<V, 1>(in...); }
  QARN_INLINE bool any_special_rest() {
    V m = with_inputs(0, [](auto... in) __attribute__((always_inline)) { return k_special_rest(in...); });
    if constexpr (std::is_same_v<V, vf4>) return !_mm_testz_ps(m.v, m.v);
    else return !_mm_testz_pd(m.v, m.v);
  }

  // A kernel may give its hot part a main path of its own, hot_main(inputs...),
  // and with it a test of its own, hot_special(inputs...) (hot_special_pair(x0,
  // x1) where the test takes two registers at once; at width 1 the pattern test
  // stays), which marks every lane the special test and the band mark and perhaps
  // more (without one, the usual test): on every lane the hot test passes,
  // hot_main gives main()'s bits.  The cold part keeps main() and the special
  // test, so a lane only the hot test marks gets main()'s bits there.
  template <size_t... J> static constexpr bool has_hot_main(std::index_sequence<J...>) {
    if constexpr (S::int_arg || S::two) return false;
    else return requires { K::hot_main(std::declval<input_t<J>&>()...); };
  }
  template <size_t... J> static constexpr bool has_hot_special(std::index_sequence<J...>) {
    return requires { K::hot_special(std::declval<input_t<J>&>()...); };
  }
  // (A kernel may keep it to some widths: hot_at<W>.)
  static constexpr bool own_hot = !fused && Mode == lanes::some && has_hot_main(std::make_index_sequence<NF>{}) && [] {
    if constexpr (requires { K::template hot_at<W>; }) return bool(K::template hot_at<W>);
    else return true;
  }();
  QARN_INLINE V hot_lanes(int g) {
    if constexpr (own_hot && has_hot_special(std::make_index_sequence<NF>{}))
      return with_inputs(g, [](auto... in) __attribute__((always_inline)) { return K::hot_special(in...); });
    else return special_lanes(g);
  }
  static QARN_INLINE V hot_pair(V x0, V x1) {
    if constexpr (own_hot && requires { K::hot_special_pair(x0, x1); }) return K::hot_special_pair(x0, x1);
    else return K::special_band_pair(x0, x1);
  }
  QARN_INLINE void hot_main_path() {
    if constexpr (own_hot) {
      #pragma GCC unroll 16
      for (int g = 0; g < n; ++g)
        s.r[g] = with_inputs(g, [](auto... in) __attribute__((always_inline)) {
          if constexpr (W == 1 && requires { K::template hot_main<V, 1>(in...); }) return K::template hot_main<V, 1>(in...);
          else return K::hot_main(in...);
        });
    } else {
      main_path();
    }
  }

  QARN_INLINE bool any_special() {
    V m;
    if constexpr (pair_test) {
      m = hot_pair(s.x[0][0], s.x[0][1]);
      #pragma GCC unroll 4
      for (int g = 2; g < n; g += 2) m = m | hot_pair(s.x[0][g], s.x[0][g + 1]);
    } else {
      m = hot_lanes(0);
      #pragma GCC unroll 4
      for (int g = 1; g < n; ++g) m = m | hot_lanes(g);
    }
    if constexpr (std::is_same_v<V, vf4>) return !_mm_testz_ps(m.v, m.v);
    else if constexpr (std::is_same_v<V, vf8>) return !_mm256_testz_ps(m.v, m.v);
    else if constexpr (std::is_same_v<V, vd2>) return !_mm_testz_pd(m.v, m.v);
    else return !_mm256_testz_pd(m.v, m.v);
  }

  // A kernel whose special test reads values of its main path (pow's range of
  // y*log2 x) would run that path on the band's lanes only to mark lanes that
  // leave the mask anyway, and crawl there as the band was meant to spare it.
  // With calm_test the cold part tests with the filler in the band's lanes t.
  static constexpr bool calm_test = [] {
    if constexpr (requires { K::calm_test; }) return bool(K::calm_test);
    else return false;
  }();
  // (With no fix-up and one result, the cold part then also takes the calmed
  // operands' results from the same pass: one_pass.)
  QARN_INLINE V special_lanes_calm(int g, V t) {
    static_assert(!S::int_arg);
    const V fill = splat<V>(T(Filler));
    return [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) {
      if constexpr (fused) {
        V sp;
        K::main_special(blend(t, s.x[J][g], fill)..., sp);
        return sp;
      } else {
        return k_special(blend(t, s.x[J][g], fill)...);
      }
    }(std::make_index_sequence<NF>{});
  }
  // The special lanes of register g with the band's lanes t (calm_test), else as they are.
  QARN_INLINE V special_lanes(int g, const V* t) {
    if constexpr (calm_test) {
      if (t) return special_lanes_calm(g, t[g]);
    }
    return special_lanes(g);
  }

  // The packed special-lane mask, after the inline fix-ups; lanes `done` (a tiny
  // band's, already final, t by register) are left out.
  QARN_INLINE uint32_t mask(uint32_t done = 0, const V* t = nullptr) {
    if constexpr (Mode == lanes::all) {
      return lane_mask<W, Mode>;
    } else {
      uint32_t m = 0;
      #pragma GCC unroll 16
      for (int g = 0; g < n; ++g) m |= uint32_t(movemask(special_lanes(g, t))) << (g * L);
      m &= ~done;
      if constexpr (has_fixup(std::make_index_sequence<NF>{})) {
        #pragma GCC unroll 16
        for (int g = 0; g < n; ++g) {
          V fixed = with_inputs(g, [&](auto... in) __attribute__((always_inline)) {
            if constexpr (S::two) return K::fixup(in..., s.r[g], s.r2[g]);
            else return K::fixup(in..., s.r[g]);
          });
          m &= ~(uint32_t(movemask(fixed)) << (g * L));
        }
      }
      return m & width_mask<W>;
    }
  }

  // A kernel whose special test repeats most of its main path (nextafter's tests
  // the result; ldexp's forms the same exponent fields) says so: the by-reference
  // form then runs both in one pass on every call.
  static constexpr bool test_shares_main = [] {
    if constexpr (requires { K::test_shares_main; }) return bool(K::test_shares_main);
    else return false;
  }();

  // A kernel may finish the marked lanes in one call (K::lanes_fallback, null where
  // a variant keeps the lane loop).
  static constexpr bool batch_fallback = [] {
    if constexpr (requires { K::lanes_fallback; }) return K::lanes_fallback != nullptr;
    else return false;
  }();

  // Spill, finish the marked lanes one by one (or all at once), reload.
  QARN_INLINE void finish_lanes(uint32_t m) {
    alignas(64) T xs[NF > 0 ? NF : 1][spill_len<T, W>];
    alignas(64) int32_t ks[16];
    alignas(64) RT rs[array_len<T, W, R>];
    alignas(64) R2T r2s[S::two ? array_len<T, W, R2> : 1];
    #pragma GCC unroll 4
    for (int a = 0; a < NF; ++a) spill(xs[a], s.x[a]);
    if constexpr (S::int_arg) spill(ks, s.k);
    spill(rs, s.r);
    if constexpr (S::two) spill(r2s, s.r2);
    auto ins = [&]<size_t... J>(std::index_sequence<J...>) {
      if constexpr (S::int_arg) return std::tuple<decltype(J, (const T*)nullptr)..., const int32_t*>(xs[J]..., ks);
      else return std::tuple<decltype(J, (const T*)nullptr)...>(xs[J]...);
    }(std::make_index_sequence<NF>{});
    auto outs = [&] {
      if constexpr (S::two) return std::tuple<RT*, R2T*>(rs, r2s);
      else return std::tuple<RT*>(rs);
    }();
    std::apply([&](auto... p) {
      if constexpr (batch_fallback) lane_batch<decltype(p)...>(m, K::lanes_fallback, p...);
      else lane_loop<decltype(p)...>(m, Fallback, p...);
    }, std::tuple_cat(ins, outs));
    // Width 1: only lane 0 came back through memory.  Loading that lane alone is
    // forwarded from the fallback's store; a full-width load would wait for the
    // store to reach the cache.  The other lanes are the register's own.
    if constexpr (W == 1 && !is_int_lanes<R> && sizeof(R) == 16) {
      if constexpr (sizeof(T) == 4) s.r[0].v = _mm_move_ss(s.r[0].v, _mm_load_ss(rs));
      else s.r[0].v = _mm_move_sd(s.r[0].v, _mm_load_sd(rs));
    } else {
      reload(s.r, rs);
    }
    if constexpr (S::two) reload(s.r2, r2s);
  }

  // ---- the tiny band (optional) ----
  // Ordinary operands on which the main path crawls through subnormal
  // intermediates (squares and cubes of tiny arguments) although its result is a
  // plain number.  A kernel that has such a band provides
  //   tiny(inputs...)                  -> V, all-ones lanes in the band; special()
  //                                       includes them, fixup() leaves them alone
  //   tiny_fix(inputs..., V t, R& r)   -> writes the main path's result into the
  //                                       lanes t of r (with R2& r2 after r where
  //                                       there is a second result)
  // (inputs: the floating ones, then the int lanes where the kind has them.)
  // In the cold part, under the ordinary environment (plain_env()), those lanes
  // enter the main path with the filler in place of their floating operands and
  // take tiny_fix's result; under any other the main path runs on them as they
  // are.  Either way their result is final: they leave the special-lane mask.
  // The closed form must give the main path's bits to nearest whether or not
  // subnormal results are flushed (plain_env does not tell that).
  template <size_t... J> static constexpr bool has_tiny(std::index_sequence<J...>) {
    if constexpr (S::int_arg && S::two) return false;
    else if constexpr (S::int_arg)
      return requires { K::tiny(std::declval<input_t<J>&>()..., std::declval<I&>()); K::tiny_fix(std::declval<input_t<J>&>()..., std::declval<I&>(), std::declval<V>(), std::declval<R&>()); };
    else if constexpr (S::two)
      return requires { K::tiny(std::declval<input_t<J>&>()...); K::tiny_fix(std::declval<input_t<J>&>()..., std::declval<V>(), std::declval<R&>(), std::declval<R2&>()); };
    else
      return requires { K::tiny(std::declval<input_t<J>&>()...); K::tiny_fix(std::declval<input_t<J>&>()..., std::declval<V>(), std::declval<R&>()); };
  }
  // A kernel may keep its band to some widths (band_at<W>, where the test's cost
  // on the hot path is small), and may state its test with the band in one piece
  // (special_band(inputs...), special() | tiny(); special() is then without it).
  static constexpr bool band_here = [] {
    if constexpr (requires { K::template band_at<W>; }) return bool(K::template band_at<W>);
    else return true;
  }();
  static constexpr bool tiny_band = band_here && has_tiny(std::make_index_sequence<NF>{});
  template <size_t... J> static constexpr bool has_band_test(std::index_sequence<J...>) {
    if constexpr (S::int_arg) return requires { K::special_band(std::declval<input_t<J>&>()..., std::declval<I&>()); };
    else return requires { K::special_band(std::declval<input_t<J>&>()...); };
  }
  static constexpr bool band_apart = tiny_band && has_band_test(std::make_index_sequence<NF>{});
  // A kernel with the band in its test may also give that test for two registers
  // at once, special_band_pair(x0, x1): all-ones lanes where a lane of either is
  // special or in the band.  The hot part only asks whether any lane is, and the
  // cold part takes the exact masks register by register.
  // (A kernel may keep it to some widths: pair_at<W>.)
  static constexpr bool pair_test = [] {
    if constexpr (requires { K::template pair_at<W>; })
      if constexpr (!K::template pair_at<W>) return false;
    if constexpr (band_apart && NF == 1 && !S::int_arg && n % 2 == 0)
      return requires(V a) { K::special_band_pair(a, a); };
    else return false;
  }();
  // A kernel may also give its main path with the band's closed form inside it,
  //   main_band(inputs..., V t)        -> result (R2& r2 after t where there is a
  //                                       second result)
  // tiny_fix's result on the lanes t, the main path's on the others, in one pass
  // on the operands as they are and without a subnormal intermediate on the lanes
  // t (the kernel calms only the step that would go subnormal there).  The cold
  // part then runs it instead of the main path on calmed operands plus tiny_fix:
  // in a register that mixes the band and ordinary lanes that is most of the
  // cold part's time.
  template <size_t... J> static constexpr bool has_main_band(std::index_sequence<J...>) {
    if constexpr (S::int_arg) return false;
    else if constexpr (S::two)
      return requires { K::main_band(std::declval<input_t<J>&>()..., std::declval<V>(), std::declval<R2&>()); };
    else
      return requires { K::main_band(std::declval<input_t<J>&>()..., std::declval<V>()); };
  }
  static constexpr bool band_pass = tiny_band && has_main_band(std::make_index_sequence<NF>{});
  static constexpr bool one_pass = tiny_band && fused && calm_test && !S::two && !S::int_arg &&
                                   !has_fixup(std::make_index_sequence<NF>{}) &&
                                   !has_fixable(std::make_index_sequence<NF>{});
  // Such a kernel's hot part has run that pass already, on the operands as they
  // are; outside the band each lane's result and test are the calmed pass's, so
  // with one register per operand (all in the argument registers) it hands both to
  // the cold part, which then only fills in the band.
  static constexpr bool hand_over = one_pass && Mode == lanes::some && n == 1;

  // Width 3: lane 3 holds the filler, never in the band, so a register whose three
  // lanes all are in it would still run the main path for that one lane.  Under
  // the ordinary environment that lane's result is the function at the filler to
  // nearest, the same on every call (the filler meets no subnormal step, flushed
  // or not): the first such call keeps it, later ones take the closed form alone
  // and that lane from here.  (Racing first calls store the same bits.)
  struct filler_memo {
    std::atomic<bool> ready{false};
    std::atomic<uint64_t> r{0}, r2{0};
  };
  static inline filler_memo memo3;
  template <class X> static uint64_t lane3_of(const X& v) {
    constexpr size_t b = sizeof(X) / 4;
    unsigned char raw[sizeof(X)];
    uint64_t u = 0;
    __builtin_memcpy(raw, &v, sizeof(X));
    __builtin_memcpy(&u, raw + 3 * b, b);
    return u;
  }
  // (A blend in registers: storing the lane over the register in memory and
  // reading it back stalls the store forwarding, which cost more than the main path.)
  template <class X> static QARN_INLINE void set_lane3(X& v, uint64_t u) {
    static_assert(sizeof(X) == 16 || sizeof(X) == 32);
    if constexpr (sizeof(X) == 16) {
      __m128 a;
      __builtin_memcpy(&a, &v, 16);
      a = _mm_blend_ps(a, _mm_castsi128_ps(_mm_set1_epi32(int(uint32_t(u)))), 8);
      __builtin_memcpy(&v, &a, 16);
    } else {
      __m256d a;
      __builtin_memcpy(&a, &v, 32);
      a = _mm256_blend_pd(a, _mm256_castsi256_pd(_mm256_set1_epi64x(int64_t(u))), 8);
      __builtin_memcpy(&v, &a, 32);
    }
  }

  // The band's lanes of every register (t) and their packed mask.
  QARN_INLINE uint32_t band_lanes_of(V* t) {
    uint32_t tm = 0;
    #pragma GCC unroll 4
    for (int g = 0; g < n; ++g) {
      t[g] = with_inputs(g, [](auto... in) __attribute__((always_inline)) { return K::tiny(in...); });
      tm |= uint32_t(movemask(t[g])) << (g * L);
    }
    return tm;
  }
  static constexpr uint32_t all_lanes_mask = n * L >= 32 ? ~0u : (1u << (n * L)) - 1;
  // The closed form into the band's lanes t of register g.  With main_band and two
  // or more operands it takes them afresh (an empty asm), so that what main_band
  // derives from them (magnitudes, signs, masks) is not computed before the branch
  // and kept on the stack for it.
  QARN_INLINE void close(int g, V t) {
    auto fresh = [](auto v) __attribute__((always_inline)) {
      if constexpr (band_pass && NF > 1) asm("" : "+x"(v.v));
      return v;
    };
    with_inputs(g, [&](auto... in) __attribute__((always_inline)) {
      if constexpr (S::two) K::tiny_fix(fresh(in)..., t, s.r[g], s.r2[g]);
      else K::tiny_fix(fresh(in)..., t, s.r[g]);
    });
  }
  // Every register's results under the ordinary environment, the band's lanes t
  // included: main_band, or the main path on calmed operands and the closed form.
  // Without band_only, registers whose every result a fix-up replaces are skipped.
  QARN_INLINE void plain_results(const V* t, bool band_only) {
    const V fill = splat<V>(T(Filler));
    #pragma GCC unroll 4
    for (int g = 0; g < n; ++g) {
      if (!band_only && all_fixable(g)) {  // no lane of the band here, and every result replaced
        s.r[g] = R{};
        if constexpr (S::two) s.r2[g] = R2{};
        continue;
      }
      if constexpr (band_pass) {
        with_inputs(g, [&](auto... in) __attribute__((always_inline)) {
          if constexpr (S::two) s.r[g] = K::main_band(in..., t[g], s.r2[g]);
          else s.r[g] = K::main_band(in..., t[g]);
        });
      } else {
        [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) {
          if constexpr (S::int_arg) s.r[g] = k_main(blend(t[g], s.x[J][g], fill)..., s.k[g]);
          else if constexpr (S::two) s.r[g] = k_main(blend(t[g], s.x[J][g], fill)..., s.r2[g]);
          else s.r[g] = k_main(blend(t[g], s.x[J][g], fill)...);
        }(std::make_index_sequence<NF>{});
        close(g, t[g]);
      }
    }
  }
  // Lanes special for another reason than the band (t), packed.
  QARN_INLINE uint32_t special_beyond_band(const V* t, uint32_t tm) {
    uint32_t sm = 0;
    #pragma GCC unroll 4
    for (int g = 0; g < n; ++g) sm |= uint32_t(movemask(special_lanes(g, t))) << (g * L);
    return sm & ~tm & width_mask<W>;
  }

  // Width 3, its three lanes in the band under the ordinary environment: the
  // closed form and lane 3 from the memo, once a call has kept it.
  QARN_INLINE bool from_memo3(const V* t) {
    if (!memo3.ready.load(std::memory_order_acquire)) return false;
    s.r[0] = R{}, s.r2[0] = R2{}, close(0, t[0]);
    set_lane3(s.r[0], memo3.r.load(std::memory_order_relaxed));
    if constexpr (S::two) set_lane3(s.r2[0], memo3.r2.load(std::memory_order_relaxed));
    return true;
  }

  // The protocol with a tiny band: main path on calmed operands, the band's
  // closed form, the mask without the band.
  // (given: the hot part's result and special lanes, where it hands them over.)
  QARN_INLINE uint32_t run_tiny(const V* given = nullptr) {
    V t[n];
    const uint32_t tm = band_lanes_of(t);
    const bool plain = plain_env();
    // Every lane of every register in the band (width 3 never: lane 3 holds the
    // filler, whose result the main path gives): the closed form alone.
    if (plain && tm == all_lanes_mask) {
      #pragma GCC unroll 4
      for (int g = 0; g < n; ++g) s.r[g] = R{}, s.r2[g] = R2{}, close(g, t[g]);
      return 0;
    }
    const bool three_in_band = W == 3 && plain && (tm & 7u) == 7u;
    if (three_in_band && from_memo3(t)) return 0;
    // A fused kernel that tests with the band's lanes calmed (calm_test), under
    // the ordinary environment: its main_special on the calmed operands gives the
    // other lanes' results and the special lanes in one pass.
    if constexpr (one_pass) {
      if (plain) {
        const V fill = splat<V>(T(Filler));
        uint32_t sm = 0;
        // The hot part's pass gave the same on every lane outside the band.
        const bool passed = hand_over && given;
        if (passed) {
          s.r[0] = given[0];
          sm = uint32_t(movemask(given[1]));
          close(0, t[0]);
        } else {
          #pragma GCC unroll 4
          for (int g = 0; g < n; ++g) {
            V sp;
            s.r[g] = [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) {
              return K::main_special(blend(t[g], s.x[J][g], fill)..., sp);
            }(std::make_index_sequence<NF>{});
            sm |= uint32_t(movemask(sp)) << (g * L);
            close(g, t[g]);
          }
        }
        if (three_in_band) {
          memo3.r.store(lane3_of(s.r[0]), std::memory_order_relaxed);
          memo3.ready.store(true, std::memory_order_release);
        }
        return sm & ~tm & width_mask<W>;
      }
    }
    // No special lane but the band's: nothing to fix up, no lane loop.  (The
    // special test only now: registers all in the band never need it.)
    const bool band_only = special_beyond_band(t, tm) == 0;
    if (plain) plain_results(t, band_only);
    else main_path_unless_fixed();
    if (three_in_band) {
      memo3.r.store(lane3_of(s.r[0]), std::memory_order_relaxed);
      if constexpr (S::two) memo3.r2.store(lane3_of(s.r2[0]), std::memory_order_relaxed);
      memo3.ready.store(true, std::memory_order_release);
    }
    if (band_only) return 0;
    return mask(tm, t);
  }

  // The common case of the band, first and without the whole protocol's frame
  // (its aligned spill area, the saved registers): under the ordinary
  // environment, registers whose only special lanes are the band's.  False where
  // the whole protocol must run (it then starts afresh).  Width 3 with its three
  // lanes in the band takes the memo, or leaves it to the protocol to keep.
  static constexpr bool light = Mode == lanes::some && tiny_band && !one_pass;
  QARN_INLINE bool run_light() {
    V t[n];
    const uint32_t tm = band_lanes_of(t);
    if (tm == all_lanes_mask) {
      if (!plain_env()) return false;
      #pragma GCC unroll 4
      for (int g = 0; g < n; ++g) s.r[g] = R{}, s.r2[g] = R2{}, close(g, t[g]);
      return true;
    }
    // (Registers without a lane in the band leave first, then those with other
    // special lanes, before the environment is probed: registers of arguments
    // beyond the main path's bound pay the least here.)
    if (tm == 0) return false;
    if (W == 3 && (tm & 7u) == 7u) return plain_env() && from_memo3(t);
    if (special_beyond_band(t, tm) != 0 || !plain_env()) return false;
    plain_results(t, true);
    return true;
  }

  // The whole protocol: main path, mask, fix-ups, lane loop.
  QARN_INLINE void run(const V* given = nullptr) {
    // A kernel without special lanes may still have a tiny band: its special()
    // is the band alone, and nothing is left for a fallback.
    if constexpr (Mode != lanes::all && tiny_band) {
      uint32_t m = run_tiny(given);
      if constexpr (Mode == lanes::some)
        if (m != 0) finish_lanes(m);
      return;
    }
    if constexpr (Mode != lanes::all) {
      main_path_unless_fixed();
    } else {
      #pragma GCC unroll 4
      for (int g = 0; g < n; ++g) s.r[g] = R{}, s.r2[g] = R2{};
    }
    if constexpr (Mode != lanes::none) {
      uint32_t m = mask();
      if (m != 0) finish_lanes(m);
    }
  }

  // ---- inputs ----
  // Register form: n registers per floating argument, then the int argument (a
  // scalar at width 1, else its registers).  nan's code: floating-sized lanes in
  // integer registers (a scalar at width 1).
  template <class... A> QARN_INLINE void take(A... a) {
    auto t = std::tuple<A...>(a...);
    if constexpr (S::code) {
      __m128i q[8];
      if constexpr (W == 1) {
        if constexpr (sizeof(T) == 4) q[0] = _mm_cvtsi32_si128(int(std::get<0>(t)));
        else q[0] = _mm_cvtsi64_si128(int64_t(std::get<0>(t)));
      } else {
        int m = 0;
        std::apply([&](auto... c) { ((m += cut(q + m, c)), ...); }, t);
      }
      #pragma GCC unroll 4
      for (int g = 0; g < n; ++g) s.x[0][g] = fill<W>(glue_floating<V>(q + g * (sizeof(V) / 16)), T(Filler));
      return;
    } else {
      using N = typename G::N;
      [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) {
        const N in[] = {std::get<J>(t)...};
        #pragma GCC unroll 4
        for (int i = 0; i < NF; ++i)
          #pragma GCC unroll 4
          for (int g = 0; g < n; ++g) s.x[i][g] = fill<W>(V{in[i * n + g]}, T(Filler));
      }(std::make_index_sequence<NF * n>{});
      if constexpr (S::int_arg) {
        __m128i q[8];
        if constexpr (W == 1) {
          q[0] = _mm_cvtsi32_si128(std::get<NF * n>(t));
        } else {
          [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) {
            int m = 0;
            ((m += cut(q + m, std::get<NF * n + J>(t))), ...);
          }(std::make_index_sequence<sizeof...(A) - NF * n>{});
        }
        #pragma GCC unroll 4
        for (int g = 0; g < n; ++g) s.k[g] = fill_int<T, W>(glue<I>(q + g * pieces_in<I>));
      }
    }
  }

  // By-reference form: unaligned loads from the argument addresses.
  QARN_INLINE void take_ref(const void* const* args) {
    #pragma GCC unroll 4
    for (int i = 0; i < NF; ++i)
      #pragma GCC unroll 4
      for (int g = 0; g < n; ++g) s.x[i][g] = loadu<V>(static_cast<const T*>(args[i]) + g * L);
    if constexpr (S::int_arg) {
      const __m128i* p = static_cast<const __m128i*>(args[NF]);
      #pragma GCC unroll 4
      for (int g = 0; g < n; ++g) {
        __m128i q[2];
        #pragma GCC unroll 2
        for (int j = 0; j < pieces_in<I>; ++j) q[j] = _mm_loadu_si128(p + g * pieces_in<I> + j);
        s.k[g] = glue<I>(q);
      }
    }
  }

  // ---- results ----
  QARN_INLINE auto give_result() {
    if constexpr (S::second_reg) return give_pair<W>(s.r, s.r2);
    else if constexpr (S::int_result) return give_int<W>(s.r);
    else return give_row(s.r);
  }
  // The second result, whole, through the caller's pointer (after all lanes are final).
  QARN_INLINE void put_second(void* p) { put_row<W>(p, s.r2); }
};

// ---- entry functions ------------------------------------------------------------
// The hot part tests for special lanes first; when there is one it jumps (a tail
// call: the arguments are still in their registers) to the cold part, which runs
// the whole protocol.  Both parts run the same instructions on the same lanes, so
// their bits agree, and the fast path needs no frame, no saved register and no call.
//
// Integer and pointer arguments ride to the cold part in vector registers: as
// ordinary arguments they would take rdi and rsi, which our callers keep.
template <class A> inline constexpr bool in_gpr = std::is_integral_v<A> || std::is_pointer_v<A>;
template <class A> using carrier = std::conditional_t<in_gpr<A>, long long __attribute__((vector_size(16))), A>;
template <class A> QARN_INLINE carrier<A> carry(A a) {
  if constexpr (std::is_pointer_v<A>) return carrier<A>(_mm_cvtsi64_si128(int64_t(reinterpret_cast<uintptr_t>(a))));
  else if constexpr (in_gpr<A>) return carrier<A>(_mm_cvtsi64_si128(int64_t(a)));
  else return a;
}
template <class A> QARN_INLINE A unload(carrier<A> c) {
  if constexpr (std::is_pointer_v<A>) return reinterpret_cast<A>(uintptr_t(_mm_cvtsi128_si64(__m128i(c))));
  else if constexpr (in_gpr<A>) return A(_mm_cvtsi128_si64(__m128i(c)));
  else return c;
}

// Width 1: the lane's bit pattern in an integer register.  A kernel whose special
// test reads only its inputs may also state it on these patterns,
// special_bits(uint32_t | uint64_t...), true exactly where special() marks the
// lane; the hot part of a width-1 export then tests in integer registers (one move
// out of the vector register), and the vector units run the main path alone.  The
// cold part still builds the mask with special().
// A kernel whose test also reads values of its main path (pow's range) states the
// inputs' part as special_bits and the rest as special_rest<V, 1>(inputs...), and
// special() is their union: the hot part tests the patterns first, then the rest,
// which the compiler shares with the main path.
// special_bits mirrors special() (a kernel whose special() holds its tiny band
// holds it in special_bits too); a kernel that states its band apart
// (special_band) mirrors that test with special_band_bits (its patterns' part,
// where special_rest gives the rest), and without it takes the vector test at
// width 1.
QARN_INLINE uint32_t lane_bits(__m128 a) { return uint32_t(_mm_cvtsi128_si32(_mm_castps_si128(a))); }
QARN_INLINE uint64_t lane_bits(__m128d a) { return uint64_t(_mm_cvtsi128_si64(_mm_castpd_si128(a))); }

// Register form.  A pointer argument, when the kind has one, comes last.
template <class B, class... A> QARN_INLINE auto finish_reg(B& b, A... a) {
  if constexpr (B::S_two_ptr) {
    auto t = std::tuple<A...>(a...);
    b.put_second(std::get<sizeof...(A) - 1>(t));
  }
  return b.give_result();
}
template <class B, class... A> QARN_INLINE void take_reg(B& b, A... a) {
  if constexpr (B::S_two_ptr) {
    auto t = std::tuple<A...>(a...);
    [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) {
      b.take(std::get<J>(t)...);
    }(std::make_index_sequence<sizeof...(A) - 1>{});
  } else {
    b.take(a...);
  }
}

template <class K, int W, kind Kd, double Filler, lanes Mode, auto Fallback>
struct entry {
  using S = sig<Kd>;
  struct B : body<K, W, S, Filler, Mode, Fallback> {
    static constexpr bool S_two_ptr = S::second_ptr;
  };

  template <class... A> [[gnu::noinline, gnu::cold]] QARN_REG static auto cold(carrier<A>... c) {
    typename B::state st;
    B b{{st}};
    take_reg(b, unload<A>(c)...);
    b.run();
    return finish_reg(b, unload<A>(c)...);
  }

  // The light cold part (body::run_light), which leaves the rest to cold().
  template <class... A> [[gnu::noinline, gnu::cold]] QARN_REG static auto cold_light(carrier<A>... c) {
    {
      typename B::state st;
      B b{{st}};
      take_reg(b, unload<A>(c)...);
      if (b.run_light()) return finish_reg(b, unload<A>(c)...);
    }
    return cold<A...>(c...);
  }
  // The cold part of a kernel that hands over its pass (body::hand_over).
  template <class... A>
  [[gnu::noinline, gnu::cold]] QARN_REG static auto cold_given(carrier<A>... c, typename B::G::N r, typename B::G::N sp) {
    typename B::state st;
    B b{{st}};
    take_reg(b, unload<A>(c)...);
    const typename B::V given[2] = {{r}, {sp}};
    b.run(given);
    return finish_reg(b, unload<A>(c)...);
  }
  template <class... A> QARN_INLINE static auto to_cold(A... a) {
    if constexpr (B::light) return cold_light<A...>(carry(a)...);
    else return cold<A...>(carry(a)...);
  }

  template <class... A> QARN_INLINE static auto hot(A... a) {
    if constexpr (Mode == lanes::all) {
      return cold<A...>(carry(a)...);
    } else {
      typename B::state st;
      B b{{st}};
      if constexpr (Mode == lanes::some && B::fused) {
        take_reg(b, a...);
        const auto m = b.main_and_mask();
        if (__builtin_expect(B::any_lane(m), 0)) {
          if constexpr (B::hand_over) return cold_given<A...>(carry(a)..., st.r[0].v, m.v);
          else return to_cold(a...);
        }
        return finish_reg(b, a...);
      }
      take_reg(b, a...);
      // (At width 1 the pattern test that mirrors the vector test in use, then
      // the rest of a split test.)
      if constexpr (Mode == lanes::some || B::tiny_band) {
        constexpr bool band_bits = B::band_apart && requires { K::special_band_bits(lane_bits(a)...); };
        constexpr bool plain_bits = !B::band_apart && requires { K::special_bits(lane_bits(a)...); };
        if constexpr (W == 1 && (band_bits || plain_bits)) {
          bool out;
          if constexpr (band_bits) out = K::special_band_bits(lane_bits(a)...);
          else out = K::special_bits(lane_bits(a)...);
          if (__builtin_expect(out, 0)) return to_cold(a...);
          if constexpr (B::split_test)
            if (__builtin_expect(b.any_special_rest(), 0)) return to_cold(a...);
        } else {
          if (__builtin_expect(b.any_special(), 0)) return to_cold(a...);
        }
      }
      b.hot_main_path();
      return finish_reg(b, a...);
    }
  }

  // By-reference form: the result buffer, the argument addresses, then the pointer
  // for a second result; returns the buffer.  Two results in registers go to the
  // buffer one after the other.
  template <class... P> QARN_INLINE static void* ref(void* out, P... p) {
    // A fused kernel's hot part computes each register once and leaves the
    // protocol to the cold part, which loads the operands again.
    if constexpr (Mode == lanes::some && B::fused) {
      typename B::state st;
      B b{{st}};
      const void* args[] = {p...};
      b.take_ref(args);
      if (__builtin_expect(B::any_lane(b.main_and_mask()), 0)) return ref_cold(out, p...);
      put_row<W>(out, st.r);
      return out;
    } else if constexpr (Mode == lanes::some && !B::test_shares_main) {
      // Others as in the register form: the special test, then the main path, and
      // the whole protocol out of line where a lane is special.  (Run inline on
      // every call, the protocol's band test, environment probe and second pass
      // made these exports 1.6-1.8 times slower per element than width 8.)
      typename B::state st;
      B b{{st}};
      const void* args[] = {p...};
      b.take_ref(args);
      if (__builtin_expect(b.any_special(), 0)) return ref_cold(out, p...);
      b.hot_main_path();
      return put_results(b, out, args);
    } else {
      return ref_all(out, p...);
    }
  }
  template <class... P> [[gnu::noinline, gnu::cold]] QARN_MS static void* ref_cold(void* out, P... p) {
    return ref_all(out, p...);
  }
  template <class... P> QARN_INLINE static void* ref_all(void* out, P... p) {
    typename B::state st;
    B b{{st}};
    const void* args[] = {p...};
    b.take_ref(args);
    b.run();
    return put_results(b, out, args);
  }
  // The results into the buffer (and a second result through its pointer, the last argument).
  template <size_t NA> QARN_INLINE static void* put_results(B& b, void* out, const void* const (&args)[NA]) {
    put_row<W>(out, b.s.r);
    if constexpr (S::second_reg) put_row<W>(static_cast<char*>(out) + storage<sizeof(typename B::RT), W>, b.s.r2);
    if constexpr (S::second_ptr) b.put_second(const_cast<void*>(args[NA - 1]));
    return out;
  }
};

template <class K, int W, kind Kd, double Filler, lanes Mode, auto Fallback, class... A>
QARN_INLINE auto reg(A... a) {
  return entry<K, W, Kd, Filler, Mode, Fallback>::hot(a...);
}
template <class K, int W, kind Kd, double Filler, lanes Mode, auto Fallback, class... P>
QARN_INLINE void* ref(void* out, P... p) {
  return entry<K, W, Kd, Filler, Mode, Fallback>::ref(out, p...);
}

}  // namespace frame
}  // namespace qarn
