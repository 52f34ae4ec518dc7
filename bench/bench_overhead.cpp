// What a call costs: expf8 and exp4 called in a loop against the same loop with
// the main path inlined.  This file is compiled with the library's instruction
// set and floating-point flags (no contraction), so the inlined code is the
// export's own arithmetic; it is not compiled with the kernels' fixed registers,
// since it also calls ordinary System V code (the benchmark library).
//
// Four loops per export, identical but for the work on each vector:
//   inline/main    the main path alone, inlined
//   inline/frame   the whole export body (main path, special-lane test and the
//                  never-taken branch to the lane loop), inlined
//   call/c         the export through a C prototype (the compiler assumes all
//                  vector registers destroyed)
//   call/regs      the export called the way a compiled kernel calls it (ymm6-15
//                  and rdi, rsi, rbx, r12-r15 kept across the call)
// Inlined here, the main path may keep its constants in ymm6-ymm15 for the whole
// loop, which the export cannot; the kernel-flags/ loops (bench_overhead_kernel.cpp)
// take that away and leave the cost of the call and the frame alone.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/bench.h"
#include "bench/call.h"
#include "bench/overhead_loops.h"
#include "explog/exp.h"
#include "fallbacks.h"

namespace qbench {
namespace {

template <class T, int L, class Op> void loop(benchmark::State& st, double lo, double hi, Op op) {
  T* x = static_cast<T*>(std::aligned_alloc(64, kElems * sizeof(T)));
  T* out = static_cast<T*>(std::aligned_alloc(64, kElems * sizeof(T)));
  std::mt19937_64 g(0x5eed1);
  std::uniform_real_distribution<double> u(lo, hi);
  for (int i = 0; i < kElems; ++i) x[i] = T(u(g)), out[i] = 0;
  for (auto _ : st) {
    for (int i = 0; i < kElems; i += L) op(x + i, out + i);
    benchmark::ClobberMemory();
  }
  per_elem(st, kElems);
  std::free(x);
  std::free(out);
}

template <class K, class V, int W, auto Fallback> struct Case {
  using T = typename K::elem;
  static constexpr int L = qarn::nlanes<V>;

  static V ld(const T* p) {
    if constexpr (sizeof(T) == 4) return {_mm256_load_ps(p)};
    else return {_mm256_load_pd(p)};
  }
  static void st(T* p, V v) {
    if constexpr (sizeof(T) == 4) _mm256_store_ps(p, v.v);
    else _mm256_store_pd(p, v.v);
  }

  static void add(const char* label, const void* fn, double lo, double hi) {
    std::string base = std::string("overhead/") + label;
    auto reg = [&](const std::string& name, auto op) {
      setup(benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) { loop<T, L>(s, lo, hi, op); }));
    };
    reg(base + "/inline/main", [](const T* x, T* r) { st(r, K::template main<V>(ld(x))); });
    reg(base + "/inline/frame", [](const T* x, T* r) { st(r, V{qarn::frame::reg<K, W, "f:f", 0.75, qarn::frame::lanes::some, Fallback>(ld(x).v)}); });
    using N = decltype(V::v);
    auto f = reinterpret_cast<N (*)(N)>(const_cast<void*>(fn));
    reg(base + "/call/c", [f](const T* x, T* r) { st(r, V{f(ld(x).v)}); });
    reg(base + "/call/regs", [fn](const T* x, T* r) {
      R v[4] = {as_r(ld(x).v), R{}, R{}, R{}};
      call_regs(fn, v);
      if constexpr (sizeof(T) == 4) st(r, V{v[0]});
      else st(r, V{_mm256_castps_pd(v[0])});
    });
    overhead_rows().push_back(
        {label, base + "/inline/main", base + "/inline/frame", base + "/call/c", base + "/call/regs"});
  }

  // The same loops built with the kernels' flags.
  static void add_kernel_flags(const char* label, const kernel_flags::LoopSet& k, const void* fn, double lo,
                               double hi) {
    std::string base = std::string("overhead/") + label + "/kernel-flags";
    auto reg = [&](const std::string& name, kernel_flags::Loop f) {
      setup(benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) {
        loop<T, kElems>(s, lo, hi, [f, fn](const T* x, T* r) { f(0, 0, x, r, kElems, fn); });
      }));
    };
    reg(base + "/inline/main", k.main);
    reg(base + "/inline/frame", k.frame);
    reg(base + "/call", k.call);
    overhead_rows().push_back({std::string(label) + " (kernel flags)", base + "/inline/main",
                               base + "/inline/frame", "", base + "/call"});
  }
};

// The width-1 floors: the arithmetic alone, the whole body and the export, each
// on the inputs of the export's own benchmark (qarn/<name>), one element a call.
template <class T> void add_width1(const kernel_flags::Width1Loops& w, const void* fn) {
  const qarn::reg::Export* e = qarn::reg::find(std::string("__ocl_qarn_e9_") + w.name);
  if (!e) return;
  std::vector<T> in(2 * kElems);
  for (int a = 0; a < w.args; ++a) {
    Interval iv = operand_interval(*e, a);
    std::mt19937_64 g(a ? 0x5eed2 : 0x5eed1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < kElems; ++i) {
      double t = u(g);
      in[a * kElems + i] =
          T(iv.log ? std::exp(std::log(iv.lo) + t * (std::log(iv.hi) - std::log(iv.lo))) : iv.lo + t * (iv.hi - iv.lo));
    }
  }
  std::string base = std::string("overhead/") + w.name + "/kernel-flags";
  auto reg = [&](const std::string& name, kernel_flags::Loop f) {
    setup(benchmark::RegisterBenchmark(name.c_str(), [f, fn, in](benchmark::State& st) {
      T* x = static_cast<T*>(std::aligned_alloc(64, 2 * kElems * sizeof(T)));
      T* out = static_cast<T*>(std::aligned_alloc(64, kElems * sizeof(T)));
      std::copy(in.begin(), in.end(), x);
      for (auto _ : st) {
        f(0, 0, x, out, kElems, fn);
        benchmark::ClobberMemory();
      }
      per_elem(st, kElems);
      std::free(x);
      std::free(out);
    }));
  };
  reg(base + "/inline/main", w.loops.main);
  reg(base + "/inline/frame", w.loops.frame);
  reg(base + "/call", w.loops.call);
  overhead_rows().push_back({std::string(w.name) + " (kernel flags)", base + "/inline/main", base + "/inline/frame", "",
                             base + "/call"});
}

}  // namespace

void register_overhead(void* lib) {
  for (const kernel_flags::Width1Loops* list : {kernel_flags::width1, kernel_flags::width1_atrig})
  for (const kernel_flags::Width1Loops* w = list; w->name; ++w)
    if (const void* f = dlsym(lib, (std::string("__ocl_qarn_e9_") + w->name).c_str())) {
      const qarn::reg::Export* e = qarn::reg::find(std::string("__ocl_qarn_e9_") + w->name);
      if (e && e->prec == 'f') add_width1<float>(*w, f);
      else if (e) add_width1<double>(*w, f);
    }
  if (const void* f = dlsym(lib, "__ocl_qarn_e9_expf8"))
  {
    Case<qarn::exp_k<float, qarn::var::def>, qarn::vf8, 8, &expf_lane_fallback>::add("expf8", f, -80, 80);
    Case<qarn::exp_k<float, qarn::var::def>, qarn::vf8, 8, &expf_lane_fallback>::add_kernel_flags("expf8", kernel_flags::expf8, f, -80, 80);
  }
  if (const void* f = dlsym(lib, "__ocl_qarn_e9_exp4"))
  {
    Case<qarn::exp_k<double, qarn::var::def>, qarn::vd4, 4, &exp_lane_fallback>::add("exp4", f, -700, 700);
    Case<qarn::exp_k<double, qarn::var::def>, qarn::vd4, 4, &exp_lane_fallback>::add_kernel_flags("exp4", kernel_flags::exp4, f, -700, 700);
  }
}

}  // namespace qbench
