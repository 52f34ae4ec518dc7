// The width-1 loops of the kernel-flags benchmarks (bench_overhead_kernel*.cpp),
// one template for every family.  Include it after the family's header, in a file
// compiled with the kernels' flags.
#pragma once
#include <type_traits>

#include "bench/overhead_loops.h"
#include "frame/frame.h"

namespace qbench::kernel_flags {

// Width 1: one element per call, copied over the register's lanes as the entry
// does, and lane 0 stored.  Two-argument kernels read y from x + n.  `main` is the
// arithmetic alone (told, as the entry tells it, that there is one distinct lane),
// `frame` the whole export body inlined, `call` the export.
template <class K, int NA, auto Fallback, double Filler = 0.75> struct Loops1 {
  using T = typename K::elem;
  using V = std::conditional_t<sizeof(T) == 4, qarn::vf4, qarn::vd2>;
  using N = decltype(V::v);
  static V ld(const T* p) {
    if constexpr (sizeof(T) == 4) return {_mm_broadcast_ss(p)};
    else return {_mm_loaddup_pd(p)};
  }
  static void st(T* p, V v) {
    if constexpr (sizeof(T) == 4) _mm_store_ss(p, v.v);
    else _mm_store_sd(p, v.v);
  }
  static V arith(V x, V y) {
    if constexpr (NA == 1) {
      if constexpr (requires { K::template main<V, 1>(x); }) return K::template main<V, 1>(x);
      else return K::template main<V>(x);
    } else {
      if constexpr (requires { K::template main<V, 1>(x, y); }) return K::template main<V, 1>(x, y);
      else return K::template main<V>(x, y);
    }
  }
  static void main(long, long, const void* x, void* r, long n, const void*) {
    auto xs = static_cast<const T*>(x);
    auto rs = static_cast<T*>(r);
    for (long i = 0; i < n; ++i) st(rs + i, arith(ld(xs + i), ld(xs + n + i)));
  }
  static void frame(long, long, const void* x, void* r, long n, const void*) {
    auto xs = static_cast<const T*>(x);
    auto rs = static_cast<T*>(r);
    using namespace qarn::frame;
    for (long i = 0; i < n; ++i)
      if constexpr (NA == 1) st(rs + i, V{reg<K, 1, "f:f", Filler, lanes::some, Fallback>(ld(xs + i).v)});
      else st(rs + i, V{reg<K, 1, "ff:f", Filler, lanes::some, Fallback>(ld(xs + i).v, ld(xs + n + i).v)});
  }
  static void call(long, long, const void* x, void* r, long n, const void* fn) {
    auto xs = static_cast<const T*>(x);
    auto rs = static_cast<T*>(r);
    if constexpr (NA == 1) {
      auto f = reinterpret_cast<N (*)(N)>(const_cast<void*>(fn));
      for (long i = 0; i < n; ++i) st(rs + i, V{f(ld(xs + i).v)});
    } else {
      auto f = reinterpret_cast<N (*)(N, N)>(const_cast<void*>(fn));
      for (long i = 0; i < n; ++i) st(rs + i, V{f(ld(xs + i).v, ld(xs + n + i).v)});
    }
  }
  static constexpr LoopSet set = {&main, &frame, &call};
};

}  // namespace qbench::kernel_flags
