// The loops of bench_overhead.cpp once more, compiled with the kernels' own flags
// (ymm6-ymm15, rdi and rsi fixed): the inlined main path then has the same six
// vector registers as the export and cannot keep its constants in registers
// across iterations either, and reads the same constant rows, so the difference
// to the called export is the call and the frame alone.  The functions take their pointers in rdx, rcx and r8
// (rdi and rsi are placeholders, as in the generated entry points).
#include "bench/overhead_loops.h"
#include "explog/exp.h"
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

using F8 = Loops<qarn::exp_k<float, qarn::var::def>, qarn::vf8, &expf_lane_fallback>;
using D4 = Loops<qarn::exp_k<double, qarn::var::def>, qarn::vd4, &exp_lane_fallback>;

}  // namespace

const LoopSet expf8 = {&F8::main, &F8::frame, &F8::call};
const LoopSet exp4 = {&D4::main, &D4::frame, &D4::call};

}  // namespace qbench::kernel_flags
