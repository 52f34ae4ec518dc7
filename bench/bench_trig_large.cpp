// sin, cos and tan on large arguments: |x| log-uniform over [1e5, largest finite],
// random signs, where every lane takes the large-argument reduction, against
// SLEEF's AVX functions and libm on the same elements.  The rows join the ratio
// table under the names '<export>@large'.
#include <dlfcn.h>
#include <immintrin.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench.h"

namespace qbench {
namespace {

template <class T> const std::vector<T>& large_inputs() {
  static std::vector<T> v = [] {
    std::mt19937_64 g(7);
    std::vector<T> x(kElems);
    double lmax = std::log(sizeof(T) == 4 ? double(FLT_MAX) : DBL_MAX), lmin = std::log(1e5);
    for (auto& e : x) {
      double l = lmin + (lmax - lmin) * double(g() >> 11) * 0x1p-53;
      e = T(std::exp(std::min(l, lmax - 1e-12)));
      if (g() & 1) e = -e;
    }
    return x;
  }();
  return v;
}

void* open_or_null(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

template <class T, class Vec> void run_vec(benchmark::State& st, const void* fn) {
  const std::vector<T>& in = large_inputs<T>();
  alignas(32) static T out[kElems];
  constexpr int L = sizeof(Vec) / sizeof(T);
  auto f = reinterpret_cast<Vec (*)(Vec)>(const_cast<void*>(fn));
  for (auto _ : st) {
    for (int i = 0; i < kElems; i += L) {
      Vec x;
      std::memcpy(&x, in.data() + i, sizeof x);
      Vec r = f(x);
      std::memcpy(out + i, &r, sizeof r);
    }
    benchmark::DoNotOptimize(out);
  }
  per_elem(st, kElems);
}

template <class T> void run_libm(benchmark::State& st, T (*f)(T)) {
  const std::vector<T>& in = large_inputs<T>();
  static T out[kElems];
  for (auto _ : st) {
    for (int i = 0; i < kElems; ++i) out[i] = f(in[i]);
    benchmark::DoNotOptimize(out);
  }
  per_elem(st, kElems);
}

struct Reg {
  Reg() {
    void* lib = open_or_null(QARN_BENCH_LIB);
    void* sleef = open_or_null(QARN_BENCH_SLEEF);
    if (!lib) return;
    struct F { const char* fam; bool f; float (*lf)(float); double (*ld)(double); };
    const F fams[] = {{"sin", true, ::sinf, nullptr}, {"cos", true, ::cosf, nullptr}, {"tan", true, ::tanf, nullptr},
                      {"sin", false, nullptr, ::sin}, {"cos", false, nullptr, ::cos}, {"tan", false, nullptr, ::tan}};
    for (const F& f : fams) {
      std::string libm = std::string("libm/") + f.fam + (f.f ? "f" : "") + "@large";
      if (f.f) setup(benchmark::RegisterBenchmark(libm.c_str(), [lf = f.lf](benchmark::State& s) { run_libm<float>(s, lf); }));
      else setup(benchmark::RegisterBenchmark(libm.c_str(), [ld = f.ld](benchmark::State& s) { run_libm<double>(s, ld); }));
      for (const char* var : {"", "_native"}) {
        std::string ours = std::string("__ocl_qarn_e9_") + f.fam + (f.f ? "f8" : "4") + var;
        const void* fn = dlsym(lib, ours.c_str());
        if (!fn) continue;
        Row row;
        row.family = std::string(f.fam) + "@large";
        row.variant = *var ? var : "default";
        row.prec = f.f ? 'f' : 'd';
        row.width = f.f ? 8 : 4;
        row.exp = "qarn/" + ours.substr(14) + "@large";
        if (f.f) setup(benchmark::RegisterBenchmark(row.exp.c_str(), [fn](benchmark::State& s) { run_vec<float, __m256>(s, fn); }));
        else setup(benchmark::RegisterBenchmark(row.exp.c_str(), [fn](benchmark::State& s) { run_vec<double, __m256d>(s, fn); }));
        std::string sl = std::string("Sleef_") + f.fam + (f.f ? "f8" : "d4") + (*var ? "_u35avx" : "_u10avx");
        const void* sfn = sleef ? dlsym(sleef, sl.c_str()) : nullptr;
        if (sfn) {
          row.sleef = "sleef/" + sl + "@large";
          row.sleef_fn = sl;
          row.sleef_acc = *var ? "u35" : "u10";
          if (f.f) setup(benchmark::RegisterBenchmark(row.sleef.c_str(), [sfn](benchmark::State& s) { run_vec<float, __m256>(s, sfn); }));
          else setup(benchmark::RegisterBenchmark(row.sleef.c_str(), [sfn](benchmark::State& s) { run_vec<double, __m256d>(s, sfn); }));
        }
        row.libm = libm;
        rows().push_back(row);
      }
    }
  }
} reg;

}  // namespace
}  // namespace qbench
