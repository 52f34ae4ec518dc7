// The other export shapes, built on the same frame as `unary`:
//   binary     two floating inputs                       (x, y)
//   scale      a floating input and an int-lane input    (x, k)
//   to_int     one or more floating inputs, int-lane result
//   from_code  an integer code reinterpreted as the floating lanes (no special lanes)
//   with_ptr   floating inputs, a second result stored through the caller's pointer
//   *_ref      the by-reference form: result buffer, argument addresses, buffer returned
//
// A kernel K supplies, besides `elem`, `filler` and `fallback` as for `unary`:
//   main(inputs...)            -> result            (V, or idx_t<V> for int lanes)
//   main(inputs..., R2& r2)    -> result            when it has a second result
//   special(inputs...)         -> V                 all-ones lanes need the fallback
//   using second = int32_t | elem;                  type of the second result
// Inputs are V per floating argument and idx_t<V> (32-bit lanes paired with the
// lanes of V) for an int argument.  The lane fallback is called with pointers to
// one lane of every input, in argument order, then of every output.
//
// Int lanes of a double family are 32 bits wide, so they do not sit in registers
// the way the floating lanes do: a double8 comes in ymm0, ymm1 and its int8 in
// ymm2.  Every int-lane vector is therefore handled as a row of 128-bit pieces,
// piece j holding lanes 4j..4j+3 (lanes 0-1 only for one or two double lanes).
#pragma once
#include <tuple>
#include <utility>
#include "frame/frame.h"

namespace qarn {

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

namespace frame {

struct none {};

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

// Int-lane input: widths 1 and 2 copy the live lanes over the others, width 3
// writes the filler 1 into lane 3.
template <class T, int W, class I> QARN_INLINE I fill_int(I a) {
  if constexpr (std::is_same_v<I, idx8>) return a;
  else if constexpr (W == 1) return {_mm_shuffle_epi32(a.v, 0)};
  else if constexpr (W == 2 && sizeof(T) == 4) return {_mm_unpacklo_epi64(a.v, a.v)};
  else if constexpr (W == 3) return {_mm_blend_epi16(a.v, _mm_set1_epi32(1), 0xC0)};
  else return a;
}

template <class T, int W> struct shape {
  using G = group<T, W>;
  using V = typename G::V;
  using I = idx_t<V>;
  static constexpr int n = G::n, L = nlanes<V>;
};

template <class X> struct lane_of { using type = int32_t; };
template <> struct lane_of<vf4> { using type = float; };
template <> struct lane_of<vf8> { using type = float; };
template <> struct lane_of<vd2> { using type = double; };
template <> struct lane_of<vd4> { using type = double; };

// Spill arrays: floating lanes as in `unary`; int lanes piece by piece (64 bytes).
template <class T, int W, class X> inline constexpr int array_len =
    std::is_same_v<typename lane_of<X>::type, int32_t> ? 16 : spill_len<T, W>;

template <class V, int n> QARN_INLINE void spill(elem_t<V>* a, const V (&v)[n]) {
  #pragma GCC unroll 16
  for (int g = 0; g < n; ++g) store(a + g * nlanes<V>, v[g]);
}
template <class V, int n> QARN_INLINE void reload(V (&v)[n], const elem_t<V>* a) {
  #pragma GCC unroll 16
  for (int g = 0; g < n; ++g) v[g] = load<V>(a + g * nlanes<V>);
}
template <class I, int n> requires (!std::is_same_v<typename lane_of<I>::type, float> &&
                                    !std::is_same_v<typename lane_of<I>::type, double>)
QARN_INLINE void spill(int32_t* a, const I (&v)[n]) {
  __m128i q[8];
  int m = 0;
  #pragma GCC unroll 16
  for (int g = 0; g < n; ++g) m += cut(q + m, v[g]);
  #pragma GCC unroll 16
  for (int j = 0; j < m; ++j) _mm_store_si128(reinterpret_cast<__m128i*>(a + 4 * j), q[j]);
}
template <class I, int n> requires (!std::is_same_v<typename lane_of<I>::type, float> &&
                                    !std::is_same_v<typename lane_of<I>::type, double>)
QARN_INLINE void reload(I (&v)[n], const int32_t* a) {
  #pragma GCC unroll 16
  for (int g = 0; g < n; ++g) v[g] = glue<I>(reinterpret_cast<const __m128i*>(a) + g * pieces_in<I>);
}

// Lanes of a result as 128-bit pieces, in lane order.
template <class X, int n> QARN_INLINE int pieces(__m128i* q, const X (&v)[n]) {
  int m = 0;
  #pragma GCC unroll 16
  for (int g = 0; g < n; ++g) m += cut(q + m, v[g]);
  return m;
}

// Result registers of the register form.
template <class V, int n> QARN_INLINE auto give_float(const V (&r)[n]) {
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

// The common body: NF floating inputs (x, y), an optional int input, result R
// (V or int lanes), optional second result R2.
template <class K, int W, int NF, bool HasK, class R, class R2>
struct body {
  using T = typename K::elem;
  using S = shape<T, W>;
  using V = typename S::V;
  using I = typename S::I;
  static constexpr int n = S::n, L = S::L;
  static constexpr bool two = !std::is_same_v<R2, none>;
  using RT = typename lane_of<R>::type;
  using R2T = typename lane_of<std::conditional_t<two, R2, I>>::type;

  V x[NF][n];
  I k[n];
  R r[n];
  R2 r2[n];

  template <class F> QARN_INLINE decltype(auto) with_inputs(int g, F f) {
    if constexpr (NF == 1 && !HasK) return f(x[0][g]);
    else if constexpr (NF == 1) return f(x[0][g], k[g]);
    else if constexpr (!HasK) return f(x[0][g], x[1][g]);
    else return f(x[0][g], x[1][g], k[g]);
  }

  static constexpr bool specials = !no_special<K>;

  // Main path over every group, and the special-lane mask.
  QARN_INLINE uint32_t compute() {
    uint32_t mask = 0;
    #pragma GCC unroll 16
    for (int g = 0; g < n; ++g) {
      with_inputs(g, [&](auto... in) __attribute__((always_inline)) {
        if constexpr (two) r[g] = K::main(in..., r2[g]);
        else r[g] = K::main(in...);
      });
      if constexpr (specials)
        mask |= uint32_t(movemask(with_inputs(g, [](auto... in) __attribute__((always_inline)) {
                  return K::special(in...);
                }))) << (g * L);
    }
    return mask & width_mask<W>;
  }

  QARN_INLINE void run() {
    uint32_t mask = compute();
    if constexpr (specials)
      if (__builtin_expect(mask != 0, 0)) slow(mask);
  }

  // Spill, finish the marked lanes one by one, reload.
  QARN_INLINE void slow(uint32_t mask) {
    alignas(64) T xs[NF][spill_len<T, W>];
    alignas(64) int32_t ks[16];
    alignas(64) RT rs[array_len<T, W, R>];
    alignas(64) R2T r2s[two ? array_len<T, W, std::conditional_t<two, R2, I>> : 1];
    #pragma GCC unroll 16
    for (int a = 0; a < NF; ++a) spill(xs[a], x[a]);
    if constexpr (HasK) spill(ks, k);
    spill(rs, r);
    if constexpr (two) spill(r2s, r2);
    auto ins = [&] {
      if constexpr (NF == 1 && !HasK) return std::tuple<const T*>(xs[0]);
      else if constexpr (NF == 1) return std::tuple<const T*, const int32_t*>(xs[0], ks);
      else if constexpr (!HasK) return std::tuple<const T*, const T*>(xs[0], xs[1]);
      else return std::tuple<const T*, const T*, const int32_t*>(xs[0], xs[1], ks);
    }();
    auto outs = [&] {
      if constexpr (two) return std::tuple<RT*, R2T*>(rs, r2s);
      else return std::tuple<RT*>(rs);
    }();
    std::apply([&](auto... p) { lane_loop<decltype(p)...>(mask, K::fallback, p...); }, std::tuple_cat(ins, outs));
    reload(r, rs);
    if constexpr (two) reload(r2, r2s);
  }

  // Register-form inputs: n registers per floating argument, then the int argument
  // (a scalar at width 1, else its registers).
  template <class... A> QARN_INLINE void take(A... a) {
    using N = typename S::G::N;
    auto t = std::tuple<A...>(a...);
    [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) {
      const N in[] = {std::get<J>(t)...};
      #pragma GCC unroll 16
      for (int i = 0; i < NF; ++i)
        #pragma GCC unroll 16
        for (int g = 0; g < n; ++g) x[i][g] = fill<W>(V{in[i * n + g]}, T(K::filler));
    }(std::make_index_sequence<NF * n>{});
    if constexpr (HasK) {
      __m128i q[8];
      if constexpr (W == 1) {
        q[0] = _mm_cvtsi32_si128(std::get<NF * n>(t));
      } else {
        [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) {
          int m = 0;
          ((m += cut(q + m, std::get<NF * n + J>(t))), ...);
        }(std::make_index_sequence<sizeof...(A) - NF * n>{});
      }
      #pragma GCC unroll 16
      for (int g = 0; g < n; ++g) k[g] = fill_int<T, W>(glue<I>(q + g * pieces_in<I>));
    }
  }

  // By-reference inputs: unaligned loads from the argument addresses.
  QARN_INLINE void take_ref(const void* const* args) {
    #pragma GCC unroll 16
    for (int i = 0; i < NF; ++i)
      #pragma GCC unroll 16
      for (int g = 0; g < n; ++g) {
        const T* p = static_cast<const T*>(args[i]) + g * L;
        if constexpr (sizeof(V) == 32) {
          if constexpr (sizeof(T) == 4) x[i][g] = V{_mm256_loadu_ps(p)}; else x[i][g] = V{_mm256_loadu_pd(p)};
        } else {
          if constexpr (sizeof(T) == 4) x[i][g] = V{_mm_loadu_ps(p)}; else x[i][g] = V{_mm_loadu_pd(p)};
        }
      }
    if constexpr (HasK) {
      const __m128i* p = static_cast<const __m128i*>(args[NF]);
      #pragma GCC unroll 16
      for (int g = 0; g < n; ++g) {
        __m128i q[2];
        #pragma GCC unroll 16
        for (int j = 0; j < pieces_in<I>; ++j) q[j] = _mm_loadu_si128(p + g * pieces_in<I> + j);
        k[g] = glue<I>(q);
      }
    }
  }

  QARN_INLINE auto give_result() {
    if constexpr (std::is_same_v<R, V>) return give_float(r);
    else return give_int<W>(r);
  }

  // The second result, whole, through the caller's pointer (after all lanes are final).
  QARN_INLINE void put_second(void* p) {
    __m128i q[8];
    pieces(q, r2);
    put<storage<sizeof(R2T), W>>(p, q);
  }
};

// ---- entry functions, one per signature kind --------------------------------------
// Each form takes its registers into a body and gives its results back.  The hot
// part computes every lane and the mask; when a lane is special it jumps (a tail
// call, the arguments still in their registers) to the cold part, which computes
// the same lanes again with the same instructions, then runs the lane loop.  So
// the fast path needs no frame and no call.
//
// Integer and pointer arguments ride to the cold part in vector registers: as
// ordinary arguments they would take rdi and rsi, which our callers keep.
template <class A> inline constexpr bool in_gpr = std::is_integral_v<A> || std::is_pointer_v<A>;
template <class A> using carrier = std::conditional_t<in_gpr<A>, __m128i, A>;
template <class A> QARN_INLINE carrier<A> carry(A a) {
  if constexpr (std::is_pointer_v<A>) return _mm_cvtsi64_si128(int64_t(reinterpret_cast<uintptr_t>(a)));
  else if constexpr (in_gpr<A>) return _mm_cvtsi64_si128(int64_t(a));
  else return a;
}
template <class A> QARN_INLINE A unload(carrier<A> c) {
  if constexpr (std::is_pointer_v<A>) return reinterpret_cast<A>(uintptr_t(_mm_cvtsi128_si64(c)));
  else if constexpr (in_gpr<A>) return A(_mm_cvtsi128_si64(c));
  else return c;
}

template <class F> struct entry {
  template <class... A> [[gnu::noinline, gnu::cold]] QARN_REG static auto cold(carrier<A>... c) {
    typename F::B b;
    F::take(b, unload<A>(c)...);
    b.slow(b.compute());
    return F::finish(b, unload<A>(c)...);
  }
  template <class... A> QARN_INLINE static auto hot(A... a) {
    typename F::B b;
    F::take(b, a...);
    uint32_t mask = b.compute();
    if constexpr (F::B::specials)
      if (__builtin_expect(mask != 0, 0)) return cold<A...>(carry(a)...);
    return F::finish(b, a...);
  }
};

// Inputs in registers, results in registers.
template <class Body> struct plain_form {
  using B = Body;
  template <class... A> QARN_INLINE static void take(B& b, A... a) { b.take(a...); }
  template <class... A> QARN_INLINE static auto finish(B& b, A...) { return b.give_result(); }
};

// 'ff:f': two floating inputs.
template <class K, int W, class... A> QARN_INLINE auto binary(A... a) {
  using V = typename shape<typename K::elem, W>::V;
  return entry<plain_form<body<K, W, 2, false, V, none>>>::hot(a...);
}
// 'fi:f': floating x and int lanes k.
template <class K, int W, class... A> QARN_INLINE auto scale(A... a) {
  using V = typename shape<typename K::elem, W>::V;
  return entry<plain_form<body<K, W, 1, true, V, none>>>::hot(a...);
}
// 'f:i': int-lane result (width 1 in eax).
template <class K, int W, class... A> QARN_INLINE auto to_int(A... a) {
  using S = shape<typename K::elem, W>;
  constexpr int nf = int(sizeof...(A)) / S::n;
  return entry<plain_form<body<K, W, nf, false, typename S::I, none>>>::hot(a...);
}

// 'c:f': the code's lanes have the floating lanes' size and travel like them
// (width 1: a general register); the kernel sees them as bit patterns.
template <class K, int W> struct code_form {
  using T = typename K::elem;
  using S = shape<T, W>;
  using V = typename S::V;
  using B = body<K, W, 1, false, V, none>;
  template <class... A> QARN_INLINE static void take(B& b, A... a) {
    if constexpr (W == 1) {
      if constexpr (sizeof(T) == 4) b.x[0][0] = fill<W>(V{_mm_castsi128_ps(_mm_cvtsi32_si128(int(a)...))}, T(K::filler));
      else b.x[0][0] = fill<W>(V{_mm_castsi128_pd(_mm_cvtsi64_si128(int64_t(a)...))}, T(K::filler));
    } else {
      __m128i q[8];
      int m = 0;
      ((m += cut(q + m, a)), ...);
      #pragma GCC unroll 16
      for (int g = 0; g < S::n; ++g) {
        V v;
        if constexpr (sizeof(V) == 16) {
          if constexpr (sizeof(T) == 4) v = V{_mm_castsi128_ps(q[g])}; else v = V{_mm_castsi128_pd(q[g])};
        } else {
          if constexpr (sizeof(T) == 4) v = V{_mm256_castsi256_ps(join(q[2 * g], q[2 * g + 1]))};
          else v = V{_mm256_castsi256_pd(join(q[2 * g], q[2 * g + 1]))};
        }
        b.x[0][g] = fill<W>(v, T(K::filler));
      }
    }
  }
  template <class... A> QARN_INLINE static auto finish(B& b, A...) { return b.give_result(); }
};
template <class K, int W, class... A> QARN_INLINE auto from_code(A... a) {
  return entry<code_form<K, W>>::hot(a...);
}

// 'f:fpi', 'f:fpf', 'ff:fpi': floating inputs, then the pointer for the second
// result, which is stored whole once every lane is final.
template <class K, int W, int NA> struct ptr_form {
  using S = shape<typename K::elem, W>;
  using R2 = std::conditional_t<std::is_same_v<typename K::second, int32_t>, typename S::I, typename S::V>;
  using B = body<K, W, (NA - 1) / S::n, false, typename S::V, R2>;
  template <class... A> QARN_INLINE static void take(B& b, A... a) {
    auto t = std::tuple<A...>(a...);
    [&]<size_t... J>(std::index_sequence<J...>) __attribute__((always_inline)) {
      b.take(std::get<J>(t)...);
    }(std::make_index_sequence<NA - 1>{});
  }
  template <class... A> QARN_INLINE static auto finish(B& b, A... a) {
    b.put_second(std::get<NA - 1>(std::tuple<A...>(a...)));
    return b.give_result();
  }
};
template <class K, int W, class... A> QARN_INLINE auto with_ptr(A... a) {
  return entry<ptr_form<K, W, int(sizeof...(A))>>::hot(a...);
}

// By-reference forms: out, then the argument addresses; returns out.
template <class B> QARN_INLINE void* finish_ref(B& b, void* out) {
  b.run();
  using T = typename B::T;
  #pragma GCC unroll 16
  for (int g = 0; g < B::n; ++g) {
    T* p = static_cast<T*>(out) + g * B::L;
    if constexpr (sizeof(b.r[g]) == 32) {
      if constexpr (sizeof(T) == 4) _mm256_storeu_ps(p, b.r[g].v); else _mm256_storeu_pd(p, b.r[g].v);
    } else {
      if constexpr (sizeof(T) == 4) _mm_storeu_ps(p, b.r[g].v); else _mm_storeu_pd(p, b.r[g].v);
    }
  }
  return out;
}
template <class K, int W> QARN_INLINE void* binary_ref(void* out, const void* a0, const void* a1) {
  using V = typename shape<typename K::elem, W>::V;
  body<K, W, 2, false, V, none> b;
  const void* args[] = {a0, a1};
  b.take_ref(args);
  return finish_ref(b, out);
}
template <class K, int W> QARN_INLINE void* scale_ref(void* out, const void* a0, const void* a1) {
  using V = typename shape<typename K::elem, W>::V;
  body<K, W, 1, true, V, none> b;
  const void* args[] = {a0, a1};
  b.take_ref(args);
  return finish_ref(b, out);
}

}  // namespace frame
}  // namespace qarn
