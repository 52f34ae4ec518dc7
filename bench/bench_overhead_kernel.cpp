// The loops of bench_overhead.cpp once more, compiled with the kernels' own flags
// (ymm6-ymm15, rdi and rsi fixed): the inlined main path then has the same six
// vector registers as the export and cannot keep its constants in registers
// across iterations either, and reads the same constant rows, so the difference
// to the called export is the call and the frame alone.  The functions take their pointers in rdx, rcx and r8
// (rdi and rsi are placeholders, as in the generated entry points).
#include "bench/overhead_loops.h"
#include "bench/width1_loops.h"
#include "explog/exp.h"
#include "explog/log.h"
#include "pow/pow.h"
// The same constant rows as the library, so the inlined loops run the export's own
// instruction stream.
#include "constants.h"
#include "fallbacks.h"
// After the fallbacks, which some families name in their headers.
#include "explog/expm1.h"
#include "explog/log1p.h"
#include "hyper/asinh.h"
#include "trig/sincos.h"

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
    {"expm1f1", 1, Loops1<qarn::expm1_k<float, var::def>, 1, &expm1f_lane_fallback>::set},
    {"expm11", 1, Loops1<qarn::expm1_k<double, var::def>, 1, &expm1_lane_fallback>::set},
    {"log1pf1", 1, Loops1<qarn::log1p_k<float, var::def>, 1, &log1pf_lane_fallback>::set},
    {"log1p1", 1, Loops1<qarn::log1p_k<double, var::def>, 1, &log1p_lane_fallback>::set},
    {"asinhf1", 1, Loops1<qarn::asinh_k<float, var::def>, 1, &asinhf_lane_fallback>::set},
    {"asinh1", 1, Loops1<qarn::asinh_k<double, var::def>, 1, &asinh_lane_fallback>::set},
    {"acoshf1", 1, Loops1<qarn::acosh_k<float, var::def>, 1, &acoshf_lane_fallback, 2.0>::set},
    {"acosh1", 1, Loops1<qarn::acosh_k<double, var::def>, 1, &acosh_lane_fallback, 2.0>::set},
    {"sinf1", 1, Loops1<qarn::sin_k<float, var::def>, 1, &sinf_lane_fallback>::set},
    {"cosf1", 1, Loops1<qarn::cos_k<float, var::def>, 1, &cosf_lane_fallback>::set},
    {nullptr, 0, {}},
};

}  // namespace qbench::kernel_flags
