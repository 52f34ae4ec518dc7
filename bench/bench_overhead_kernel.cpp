// The loops of bench_overhead.cpp once more, compiled with the kernels' own flags
// (ymm6-ymm15, rdi and rsi fixed): the inlined main path then has the same six
// vector registers as the export and cannot keep its constants in registers
// across iterations either, and reads the same constant rows, so the difference
// to the called export is the call and the frame alone.  The functions take their pointers in rdx, rcx and r8
// (rdi and rsi are placeholders, as in the generated entry points).
#include "bench/overhead_loops.h"
#include "explog/exp.h"
#include "explog/log.h"
#include "pow/pow.h"
// The same constant rows as the library, so the inlined loops run the export's own
// instruction stream.
#include "constants.h"
#include "fallbacks.h"

namespace qbench::kernel_flags {
namespace {

template <class K, class V, auto Fallback> struct Loops {
  using T = typename K::elem;
  using N = decltype(V::v);
  static constexpr int L = qarn::nlanes<V>;
  static V ld(const T* p) {
    if constexpr (sizeof(T) == 4) return {_mm256_load_ps(p)};
    else return {_mm256_load_pd(p)};
  }
  static void st(T* p, V v) {
    if constexpr (sizeof(T) == 4) _mm256_store_ps(p, v.v);
    else _mm256_store_pd(p, v.v);
  }
  static void main(long, long, const void* x, void* r, long n, const void*) {
    auto xs = static_cast<const T*>(x);
    auto rs = static_cast<T*>(r);
    for (long i = 0; i < n; i += L) st(rs + i, K::template main<V>(ld(xs + i)));
  }
  static void frame(long, long, const void* x, void* r, long n, const void*) {
    auto xs = static_cast<const T*>(x);
    auto rs = static_cast<T*>(r);
    for (long i = 0; i < n; i += L) st(rs + i, V{qarn::frame::reg<K, 8 * 4 / int(sizeof(T)), "f:f", 0.75, qarn::frame::lanes::some, Fallback>(ld(xs + i).v)});
  }
  static void call(long, long, const void* x, void* r, long n, const void* fn) {
    auto xs = static_cast<const T*>(x);
    auto rs = static_cast<T*>(r);
    auto f = reinterpret_cast<N (*)(N)>(const_cast<void*>(fn));
    for (long i = 0; i < n; i += L) st(rs + i, V{f(ld(xs + i).v)});
  }
};

// Width 1: one element per call, copied over the register's lanes as the entry
// does, and lane 0 stored.  Two-argument kernels read y from x + n.  `main` is the
// arithmetic alone (told, as the entry tells it, that there is one distinct lane),
// `frame` the whole export body inlined, `call` the export.
template <class K, int NA, auto Fallback> struct Loops1 {
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
      if constexpr (NA == 1) st(rs + i, V{reg<K, 1, "f:f", 0.75, lanes::some, Fallback>(ld(xs + i).v)});
      else st(rs + i, V{reg<K, 1, "ff:f", 0.75, lanes::some, Fallback>(ld(xs + i).v, ld(xs + n + i).v)});
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

using F8 = Loops<qarn::exp_k<float, qarn::var::def>, qarn::vf8, &expf_lane_fallback>;
using D4 = Loops<qarn::exp_k<double, qarn::var::def>, qarn::vd4, &exp_lane_fallback>;

}  // namespace

const LoopSet expf8 = {&F8::main, &F8::frame, &F8::call};
const LoopSet exp4 = {&D4::main, &D4::frame, &D4::call};

using qarn::var;
const Width1Loops width1[] = {
    {"expf1", 1, Loops1<qarn::exp_k<float, var::def>, 1, &expf_lane_fallback>::set},
    {"exp1", 1, Loops1<qarn::exp_k<double, var::def>, 1, &exp_lane_fallback>::set},
    {"logf1", 1, Loops1<qarn::log_k<float, var::def>, 1, &logf_lane_fallback>::set},
    {"log1", 1, Loops1<qarn::log_k<double, var::def>, 1, &log_lane_fallback>::set},
    {"log2f1", 1, Loops1<qarn::log2_k<float, var::def>, 1, &log2f_lane_fallback>::set},
    {"log21", 1, Loops1<qarn::log2_k<double, var::def>, 1, &log2_lane_fallback>::set},
    {"powf1", 2, Loops1<qarn::pow_k<float, var::def>, 2, &powf_lane_fallback>::set},
    {"pow1", 2, Loops1<qarn::pow_k<double, var::def>, 2, &pow_lane_fallback>::set},
    {nullptr, 0, {}},
};

}  // namespace qbench::kernel_flags
