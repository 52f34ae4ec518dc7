// The export frame: register groups per width, the width-1/2/3 input rules, the
// special-lane mask, the cold spill-and-call path and the lane loop.
//
// A family supplies only arithmetic, as a struct K with
//   using elem = float | double;
//   template <class V> static V main(V x);          branch-free main path
//   template <class V> static V special(V x);       lanes needing more work (all-ones lanes)
//   template <class V> static V fixup(V x, V& r);   optional: fixes some special lanes in r
//                                                   and returns the lanes it fixed
//   static constexpr auto fallback = &name_lane_fallback;   scalar, ms_abi, pointers
//   static constexpr double filler = 0.75;          lane-3 value for width 3
// and the generated entry points call qarn::frame::unary<K, W>(registers...).
//
// Kernels are compiled with xmm6-xmm15, rdi and rsi fixed, so the main path can
// never write a register our callers expect preserved; only the lane loop, which
// calls ordinary Windows x64 code, saves ymm6-ymm15 (in full) around its calls.
#pragma once
#include <cstdint>
#include <type_traits>
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

// Integer lanes travel the same way: 32-bit lanes as float lanes do, 64-bit lanes as
// double lanes do (AVX has no 256-bit integer arithmetic: work on the 128-bit halves).
template <int W> requires (W <= 4) struct group<int32_t, W> { using N = __m128i; static constexpr int n = 1; };
template <> struct group<int32_t, 8> { using N = __m256i; static constexpr int n = 1; };
template <> struct group<int32_t, 16> { using N = __m256i; static constexpr int n = 2; };
template <int W> requires (W <= 2) struct group<int64_t, W> { using N = __m128i; static constexpr int n = 1; };
template <int W> requires (W == 3 || W == 4) struct group<int64_t, W> { using N = __m256i; static constexpr int n = 1; };
template <> struct group<int64_t, 8> { using N = __m256i; static constexpr int n = 2; };
template <> struct group<int64_t, 16> { using N = __m256i; static constexpr int n = 4; };

namespace frame {

// Bits of the special-lane mask that belong to the value (lane 3 of width 3 holds
// the filler and never counts).
template <int W> inline constexpr uint32_t width_mask = W == 3 ? 0x7u : (W == 32 ? ~0u : (1u << W) - 1);

template <class V> QARN_INLINE V splat(elem_t<V> v) { return bits<V>(__builtin_bit_cast(typename lanes_of<V>::bits, v)); }

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

// The lane loop: ymm6-ymm15 saved in full, upper halves cleared before every
// call, each marked lane finished once, in increasing lane order.
template <class... P>
[[gnu::noinline, gnu::cold]] QARN_MS QARN_HIDDEN void lane_loop(uint32_t mask, void (*fb)(P...) QARN_MS, P... base) {
  alignas(32) unsigned char keep[10 * 32];
  asm volatile(
      "vmovdqa %%ymm6, 0(%0)\n\tvmovdqa %%ymm7, 32(%0)\n\tvmovdqa %%ymm8, 64(%0)\n\t"
      "vmovdqa %%ymm9, 96(%0)\n\tvmovdqa %%ymm10, 128(%0)\n\tvmovdqa %%ymm11, 160(%0)\n\t"
      "vmovdqa %%ymm12, 192(%0)\n\tvmovdqa %%ymm13, 224(%0)\n\tvmovdqa %%ymm14, 256(%0)\n\t"
      "vmovdqa %%ymm15, 288(%0)" ::"r"(keep) : "memory");
  for (uint32_t m = mask; m != 0; m &= m - 1) {
    int i = __builtin_ctz(m);
    asm volatile("vzeroupper" ::: "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5");
    fb((base + i)...);
  }
  asm volatile(
      "vmovdqa 0(%0), %%ymm6\n\tvmovdqa 32(%0), %%ymm7\n\tvmovdqa 64(%0), %%ymm8\n\t"
      "vmovdqa 96(%0), %%ymm9\n\tvmovdqa 128(%0), %%ymm10\n\tvmovdqa 160(%0), %%ymm11\n\t"
      "vmovdqa 192(%0), %%ymm12\n\tvmovdqa 224(%0), %%ymm13\n\tvmovdqa 256(%0), %%ymm14\n\t"
      "vmovdqa 288(%0), %%ymm15" ::"r"(keep) : "memory");
}

// Spill array length in elements: 64 bytes, or 128 for sixteen 8-byte lanes.
template <class T, int W> inline constexpr int spill_len = (W == 16 && sizeof(T) == 8) ? 16 : 64 / int(sizeof(T));

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

template <class K, class V> concept has_fixup = requires(V x, V& r) { K::fixup(x, r); };
// Families whose every lane finishes on the main path say `static constexpr bool
// has_special = false;` and never build a mask.
template <class K> concept no_special = requires { requires !K::has_special; };

// One floating input, one floating result.
//
// The hot part builds the mask first; when a lane is special it jumps (a tail
// call: the arguments are still in their registers) to the cold part, which runs
// the whole protocol: main path, mask, inline fix-ups, spill, lane loop.  Both
// parts run the same instructions on the same lanes, so their bits agree, and the
// fast path needs no frame, no saved register and no call.
template <class K, int W, class... N> QARN_INLINE void unary_inputs(typename group<typename K::elem, W>::V (&x)[sizeof...(N)], N... in) {
  using T = typename K::elem;
  int g = 0;
  ((x[g++] = {in}), ...);
  #pragma GCC unroll 4
  for (g = 0; g < int(sizeof...(N)); ++g) x[g] = fill<W>(x[g], T(K::filler));
}

template <class K, int W, class V, int n> QARN_INLINE uint32_t unary_mask(const V (&x)[n]) {
  uint32_t mask = 0;
  if constexpr (!no_special<K>) {
    #pragma GCC unroll 4
    for (int g = 0; g < n; ++g) mask |= uint32_t(movemask(K::special(x[g]))) << (g * nlanes<V>);
  }
  return mask & width_mask<W>;
}

// The hot test: one sign-bit test over the OR of the special lanes.  Every lane of
// the registers may take part: widths 1 and 2 hold copies of their live lanes and
// lane 3 of width 3 holds the filler, so the extra lanes are special exactly when
// a live lane is, or never.
template <class K, class V, int n> QARN_INLINE bool any_special(const V (&x)[n]) {
  V m = K::special(x[0]);
  #pragma GCC unroll 4
  for (int g = 1; g < n; ++g) m = m | K::special(x[g]);
  if constexpr (std::is_same_v<V, vf4>) return !_mm_testz_ps(m.v, m.v);
  else if constexpr (std::is_same_v<V, vf8>) return !_mm256_testz_ps(m.v, m.v);
  else if constexpr (std::is_same_v<V, vd2>) return !_mm_testz_pd(m.v, m.v);
  else return !_mm256_testz_pd(m.v, m.v);
}

template <class V, int n> QARN_INLINE auto give_all(const V (&r)[n]) {
  if constexpr (n == 1) return give(r[0].v);
  else if constexpr (n == 2) return give(r[0].v, r[1].v);
  else return give(r[0].v, r[1].v, r[2].v, r[3].v);
}

template <class K, int W, class... N> [[gnu::noinline, gnu::cold]] QARN_REG auto unary_slow(N... in) {
  using T = typename K::elem;
  using V = typename group<T, W>::V;
  constexpr int n = sizeof...(N), L = nlanes<V>;
  V x[n], r[n];
  unary_inputs<K, W>(x, in...);
  for (int g = 0; g < n; ++g) r[g] = K::main(x[g]);
  uint32_t mask = unary_mask<K, W>(x);
  if constexpr (has_fixup<K, V>) {
    for (int g = 0; g < n; ++g) mask &= ~(uint32_t(movemask(K::fixup(x[g], r[g]))) << (g * L));
    mask &= width_mask<W>;
  }
  if (mask != 0) {
    alignas(64) T xs[spill_len<T, W>];
    alignas(64) T rs[spill_len<T, W>];
    for (int g = 0; g < n; ++g) {
      store(xs + g * L, x[g]);
      store(rs + g * L, r[g]);
    }
    lane_loop<const T*, T*>(mask, K::fallback, xs, rs);
    for (int g = 0; g < n; ++g) r[g] = load<V>(rs + g * L);
  }
  return give_all(r);
}

template <class K, int W, class... N> QARN_INLINE auto unary(N... in) {
  using V = typename group<typename K::elem, W>::V;
  constexpr int n = sizeof...(N);
  static_assert(n == group<typename K::elem, W>::n);
  V x[n], r[n];
  unary_inputs<K, W>(x, in...);
  if constexpr (!no_special<K>)
    if (__builtin_expect(any_special<K>(x), 0)) return unary_slow<K, W>(in...);
  #pragma GCC unroll 4
  for (int g = 0; g < n; ++g) r[g] = K::main(x[g]);
  return give_all(r);
}

}  // namespace frame
}  // namespace qarn
