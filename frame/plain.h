// The frame of the plain exports: conversions and integer division, which have
// no special lanes, no lane fallback and no branch.
//
// A plain kernel works on blocks of four lanes, whatever the lane type:
//   float -> __m128, double -> __m256d, 32-bit integers -> __m128i,
//   64-bit integers -> __m256i (the kernel works on its 128-bit halves),
// and is a struct K with
//   using arg = ...;  using res = ...;               lane types of arguments and results
//   static constexpr int nargs = 1 | 2, nres = 1 | 2;
//   static block<res> run(block<arg> a);                                  nargs 1, nres 1
//   static block<res> run(block<arg> a, block<arg> b);                    nargs 2, nres 1
//   static void run(block<arg> a, block<arg> b, block<res>& r0, block<res>& r1);   nres 2
// The frame splits each argument's registers into blocks (width 1 broadcasts lane 0,
// width 2 copies lanes 0-1 over 2-3, width 3 writes the filler into lane 3: 0.75 for
// floating arguments, the integer 1 for integer arguments), runs the kernel per block
// and packs the blocks into the result registers (width-1 integers in eax/rax, two
// width-1 32-bit results as the low and high halves of rax).
#pragma once
#include <cstdint>
#include <tuple>
#include <type_traits>
#include "frame/frame.h"

namespace qarn {

template <class T> struct block_of;
template <> struct block_of<float> { using type = __m128; };
template <> struct block_of<double> { using type = __m256d; };
template <> struct block_of<int32_t> { using type = __m128i; };
template <> struct block_of<uint32_t> { using type = __m128i; };
template <> struct block_of<int64_t> { using type = __m256i; };
template <> struct block_of<uint64_t> { using type = __m256i; };
template <class T> using block = typename block_of<T>::type;

namespace frame {
namespace plainx {

template <class T> inline constexpr bool is_float = std::is_floating_point_v<T>;

// Lane-3 value of a width-3 argument.
template <class T> QARN_INLINE block<T> filler() {
  if constexpr (std::is_same_v<T, float>) return _mm_set1_ps(0.75f);
  else if constexpr (std::is_same_v<T, double>) return _mm256_set1_pd(0.75);
  else if constexpr (sizeof(T) == 4) return _mm_set1_epi32(1);
  else return _mm256_set1_epi64x(1);
}

QARN_INLINE __m128i lo128(__m256i v) { return _mm256_castsi256_si128(v); }
QARN_INLINE __m128i hi128(__m256i v) { return _mm256_extractf128_si256(v, 1); }

// Registers of one argument (or a width-1 integer) -> blocks.
template <class T, int W, class N>
QARN_INLINE void split(block<T>* out, const N* in) {
  using B = block<T>;
  if constexpr (W == 1 && !is_float<T>) {
    if constexpr (sizeof(T) == 4) out[0] = _mm_set1_epi32(int32_t(in[0]));
    else out[0] = _mm256_set1_epi64x(int64_t(in[0]));
  } else if constexpr (W <= 4 && sizeof(T) == 4) {
    B x = in[0];
    if constexpr (std::is_same_v<T, float>) {
      if constexpr (W == 1) x = _mm_shuffle_ps(x, x, 0);
      else if constexpr (W == 2) x = _mm_movelh_ps(x, x);
      else if constexpr (W == 3) x = _mm_blend_ps(x, filler<T>(), 8);
    } else {
      if constexpr (W == 2) x = _mm_unpacklo_epi64(x, x);
      else if constexpr (W == 3) x = _mm_blend_epi16(x, filler<T>(), 0xC0);
    }
    out[0] = x;
  } else if constexpr (W <= 2) {  // 64-bit lanes in one xmm
    if constexpr (std::is_same_v<T, double>) {
      __m128d x = in[0];
      if constexpr (W == 1) x = _mm_unpacklo_pd(x, x);
      out[0] = _mm256_insertf128_pd(_mm256_castpd128_pd256(x), x, 1);
    } else {
      __m128i x = in[0];
      out[0] = join(x, x);
    }
  } else if constexpr (sizeof(T) == 8) {  // 64-bit lanes, one ymm per block
    if constexpr (W == 3) {
      if constexpr (std::is_same_v<T, double>) out[0] = _mm256_blend_pd(in[0], filler<T>(), 8);
      else out[0] = _mm256_castpd_si256(_mm256_blend_pd(_mm256_castsi256_pd(in[0]),
                                                        _mm256_castsi256_pd(filler<T>()), 8));
    } else {
      #pragma GCC unroll 4
      for (int i = 0; i < W / 4; ++i) out[i] = in[i];
    }
  } else {  // 32-bit lanes, widths 8 and 16: two blocks per ymm
    #pragma GCC unroll 4
    for (int i = 0; i < W / 8; ++i) {
      if constexpr (std::is_same_v<T, float>) {
        out[2 * i] = _mm256_castps256_ps128(in[i]);
        out[2 * i + 1] = _mm256_extractf128_ps(in[i], 1);
      } else {
        out[2 * i] = lo128(in[i]);
        out[2 * i + 1] = hi128(in[i]);
      }
    }
  }
}

// Number of four-lane blocks of a width.
template <int W> inline constexpr int nblocks = W <= 4 ? 1 : W / 4;

// Result register type of lane type T at width W (width-1 integers: the scalar).
template <class T, int W> struct reg_of;
template <class T, int W> requires (W == 1 && !std::is_floating_point_v<T>) struct reg_of<T, W> { using type = T; };
template <int W> requires (W <= 4) struct reg_of<float, W> { using type = __m128; };
template <int W> requires (W > 4) struct reg_of<float, W> { using type = __m256; };
template <int W> requires (W <= 2) struct reg_of<double, W> { using type = __m128d; };
template <int W> requires (W > 2) struct reg_of<double, W> { using type = __m256d; };
template <class T, int W> requires (W > 1 && !std::is_floating_point_v<T> && (sizeof(T) == 4 ? W <= 4 : W <= 2))
struct reg_of<T, W> { using type = __m128i; };
template <class T, int W> requires (W > 1 && !std::is_floating_point_v<T> && (sizeof(T) == 4 ? W > 4 : W > 2))
struct reg_of<T, W> { using type = __m256i; };
template <class T, int W> using reg_t = typename reg_of<T, W>::type;
// How many registers a result of lane type T takes at width W.
template <class T, int W> inline constexpr int nregs = W <= 4 ? 1 : (sizeof(T) == 4 ? W / 8 : W / 4);

// Blocks -> result registers.
template <class T, int W>
QARN_INLINE void pack(reg_t<T, W>* out, const block<T>* in) {
  if constexpr (W == 1 && !is_float<T>) {
    if constexpr (sizeof(T) == 4) out[0] = T(_mm_cvtsi128_si32(in[0]));
    else out[0] = T(_mm_cvtsi128_si64(lo128(in[0])));
  } else if constexpr (sizeof(T) == 4) {
    if constexpr (W <= 4) {
      out[0] = in[0];
    } else {
      #pragma GCC unroll 4
      for (int i = 0; i < W / 8; ++i) {
        if constexpr (std::is_same_v<T, float>)
          out[i] = _mm256_insertf128_ps(_mm256_castps128_ps256(in[2 * i]), in[2 * i + 1], 1);
        else
          out[i] = join(in[2 * i], in[2 * i + 1]);
      }
    }
  } else if constexpr (W <= 2) {
    if constexpr (std::is_same_v<T, double>) out[0] = _mm256_castpd256_pd128(in[0]);
    else out[0] = lo128(in[0]);
  } else {
    #pragma GCC unroll 4
    for (int i = 0; i < nblocks<W>; ++i) out[i] = in[i];
  }
}

}  // namespace plainx

// Entry of a plain export: the argument registers in order, then the result.
template <class K, int W, class... N> QARN_INLINE auto plain(N... in) {
  using A = typename K::arg;
  using R = typename K::res;
  constexpr int nb = plainx::nblocks<W>;
  constexpr int per_arg = int(sizeof...(N)) / K::nargs;
  using N0 = std::tuple_element_t<0, std::tuple<N...>>;
  const N0 regs[] = {in...};
  block<A> a[nb], b[nb];
  block<R> r0[nb], r1[nb];
  plainx::split<A, W>(a, regs);
  if constexpr (K::nargs == 2) plainx::split<A, W>(b, regs + per_arg);
  #pragma GCC unroll 4
  for (int i = 0; i < nb; ++i) {
    if constexpr (K::nres == 2) K::run(a[i], b[i], r0[i], r1[i]);
    else if constexpr (K::nargs == 2) r0[i] = K::run(a[i], b[i]);
    else r0[i] = K::run(a[i]);
  }
  constexpr int n = plainx::nregs<R, W>;
  using Reg = plainx::reg_t<R, W>;
  Reg o0[n];
  plainx::pack<R, W>(o0, r0);
  if constexpr (K::nres == 1) {
    if constexpr (n == 1) return give(o0[0]);
    else if constexpr (n == 2) return give(o0[0], o0[1]);
    else return give(o0[0], o0[1], o0[2], o0[3]);
  } else {
    Reg o1[n];
    plainx::pack<R, W>(o1, r1);
    if constexpr (W == 1) {
      static_assert(sizeof(R) == 4);
      return uint64_t(uint32_t(o0[0])) | (uint64_t(uint32_t(o1[0])) << 32);
    } else if constexpr (n == 1) {
      return give(o0[0], o1[0]);
    } else {
      static_assert(n == 2);
      return give(o0[0], o0[1], o1[0], o1[1]);
    }
  }
}

}  // namespace frame
}  // namespace qarn
