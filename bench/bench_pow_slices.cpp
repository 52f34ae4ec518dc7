// pow and powr on slices of their domain where a power is hard (x next to 1 with
// a large exponent, results near the ends of the range), against SLEEF u10 and
// libm on the same elements; pown and rootn against libm's pow with the integer
// exponent or its reciprocal.  The first three slices keep every lane on the main
// paths of our default exports; "beyond" goes past the end of the main paths of
// powrf (|y ln x| > 64.8) and of the double defaults (|y log2 x| >= 1000), so there
// the lane fallbacks take part (powf's main path reaches 103.97 and stays).
// Listed in the console output as slice/<slice>/<who>/<function>:
//   qarn_bench --quick --benchmark_filter=slice/
#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "bench/call.h"

namespace qbench {
namespace {

struct Slice {
  const char* name;
  double zlo, zhi;    // float: |y ln x| drawn from [zlo, zhi] (the sign of z at random)
  double dzlo, dzhi;  // the same for double
  double xspread;     // x = exp(+-u), u log-uniform in [2^-30, xspread]
};
const Slice kSlices[] = {
    {"near1", 5, 60, 40, 600, 0x1p-10},   // x within 2^-10 of 1, |y| from 5e3 up
    {"bigy", 1, 60, 10, 600, 0x1p-20},    // x within 2^-20 of 1, |y| ~ 2^20 and more
    {"ends", 55, 64, 650, 690, 2},        // results near the ends of the main paths
    {"beyond", 80, 87, 695, 708, 2},      // near overflow and underflow
};

template <class T> void pairs(const Slice& s, std::vector<T>& x, std::vector<T>& y) {
  std::mt19937_64 g(0x511ce);
  std::uniform_real_distribution<double> u(0, 1);
  bool dbl = sizeof(T) == 8;
  for (int i = 0; i < kElems; ++i) {
    double l = std::exp(std::log(0x1p-30) + u(g) * (std::log(s.xspread) - std::log(0x1p-30)));
    double lx = u(g) < 0.5 ? -l : l;
    double lo = dbl ? s.dzlo : s.zlo, hi = dbl ? s.dzhi : s.zhi;
    double z = (lo + u(g) * (hi - lo)) * (u(g) < 0.5 ? -1 : 1);
    x[i] = T(std::exp(lx));
    double lnx = std::log(double(x[i]));
    y[i] = T(lnx == 0 ? 1.0 : z / lnx);
  }
}

void* open_lib(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void* qarn_lib() { static void* h = open_lib(QARN_BENCH_LIB); return h; }
void* sleef_lib() { static void* h = open_lib(QARN_BENCH_SLEEF); return h; }
void* libm_lib() { static void* h = open_lib("libm.so.6"); return h; }

using Fn = std::function<void(benchmark::State&)>;
void add(const std::string& name, Fn f) { setup(benchmark::RegisterBenchmark(name.c_str(), std::move(f))); }

// Our export with 8 float or 4 double lanes in one ymm per argument.
template <class T> Fn ours(const void* fn, std::vector<T> x, std::vector<T> y) {
  return [fn, x, y](benchmark::State& st) {
    constexpr int L = 32 / sizeof(T);
    std::vector<T> out(kElems);
    R v[4] = {};
    for (auto _ : st) {
      for (int c = 0; c < kElems / L; ++c) {
        std::memcpy(&v[0], x.data() + c * L, 32);
        std::memcpy(&v[1], y.data() + c * L, 32);
        call_regs(fn, v);
        std::memcpy(out.data() + c * L, &v[0], 32);
      }
      benchmark::ClobberMemory();
    }
    per_elem(st, kElems);
  };
}
// Ours with an int vector second argument (8 ints in ymm1 for float, 4 in xmm1 for double).
template <class T> Fn ours_n(const void* fn, std::vector<T> x, std::vector<int32_t> n) {
  return [fn, x, n](benchmark::State& st) {
    constexpr int L = 32 / sizeof(T);
    std::vector<T> out(kElems);
    R v[4] = {};
    for (auto _ : st) {
      for (int c = 0; c < kElems / L; ++c) {
        std::memcpy(&v[0], x.data() + c * L, 32);
        std::memcpy(&v[1], n.data() + c * L, L * 4);
        call_regs(fn, v);
        std::memcpy(out.data() + c * L, &v[0], 32);
      }
      benchmark::ClobberMemory();
    }
    per_elem(st, kElems);
  };
}
// SLEEF's AVX function on the same elements.
template <class T, class V> Fn sleef(const void* fn, std::vector<T> x, std::vector<T> y) {
  return [fn, x, y](benchmark::State& st) {
    constexpr int L = 32 / sizeof(T);
    std::vector<T> out(kElems);
    for (auto _ : st) {
      for (int c = 0; c < kElems / L; ++c) {
        V a, b;
        std::memcpy(&a, x.data() + c * L, 32);
        std::memcpy(&b, y.data() + c * L, 32);
        V r = reinterpret_cast<V (*)(V, V)>(const_cast<void*>(fn))(a, b);
        std::memcpy(out.data() + c * L, &r, 32);
      }
      benchmark::ClobberMemory();
    }
    per_elem(st, kElems);
  };
}
// libm's scalar pow per element.
template <class T> Fn libm(const void* fn, std::vector<T> x, std::vector<T> y) {
  return [fn, x, y](benchmark::State& st) {
    std::vector<T> out(kElems);
    auto f = reinterpret_cast<T (*)(T, T)>(const_cast<void*>(fn));
    for (auto _ : st) {
      for (int i = 0; i < kElems; ++i) out[i] = f(x[i], y[i]);
      benchmark::ClobberMemory();
    }
    per_elem(st, kElems);
  };
}

template <class T> void slices() {
  bool f = sizeof(T) == 4;
  for (const Slice& s : kSlices) {
    std::vector<T> x(kElems), y(kElems);
    pairs(s, x, y);
    std::string p = std::string("slice/") + s.name + "/";
    for (const char* e : {"pow", "powr"}) {
      std::string name = std::string("__ocl_qarn_e9_") + e + (f ? "f8" : "4");
      if (const void* fn = qarn_lib() ? dlsym(qarn_lib(), name.c_str()) : nullptr)
        add(p + "qarn/" + name.substr(14), ours<T>(fn, x, y));
    }
    const char* sl = f ? "Sleef_powf8_u10avx" : "Sleef_powd4_u10avx";
    if (const void* fn = sleef_lib() ? dlsym(sleef_lib(), sl) : nullptr) {
      if (f) add(p + "sleef/" + sl, sleef<T, __m256>(fn, x, y));
      else add(p + "sleef/" + sl, sleef<T, __m256d>(fn, x, y));
    }
    if (const void* fn = libm_lib() ? dlsym(libm_lib(), f ? "powf" : "pow") : nullptr)
      add(p + "libm/" + (f ? "powf" : "pow"), libm<T>(fn, x, y));
  }
  // pown and rootn on ordinary operands against libm's pow.
  std::mt19937_64 g(0x7007);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<T> x(kElems), xr(kElems), yn(kElems), yr(kElems);
  std::vector<int32_t> n(kElems), k(kElems);
  for (int i = 0; i < kElems; ++i) {
    x[i] = T(-8 + 16 * u(g));
    n[i] = int32_t(g() % 17) - 8;
    yn[i] = T(n[i]);
    xr[i] = T(std::exp(std::log(0.01) + u(g) * std::log(1e5)));
    k[i] = int32_t(g() % 8) + 1;
    yr[i] = T(1.0 / k[i]);
  }
  std::string pn = std::string("__ocl_qarn_e9_pown") + (f ? "f8" : "4");
  std::string rn = std::string("__ocl_qarn_e9_rootn") + (f ? "f8" : "4");
  if (const void* fn = qarn_lib() ? dlsym(qarn_lib(), pn.c_str()) : nullptr)
    add("slice/pown/qarn/" + pn.substr(14), ours_n<T>(fn, x, n));
  if (const void* fn = qarn_lib() ? dlsym(qarn_lib(), rn.c_str()) : nullptr)
    add("slice/rootn/qarn/" + rn.substr(14), ours_n<T>(fn, xr, k));
  if (const void* fn = libm_lib() ? dlsym(libm_lib(), f ? "powf" : "pow") : nullptr) {
    add(std::string("slice/pown/libm/") + (f ? "powf" : "pow"), libm<T>(fn, x, yn));
    add(std::string("slice/rootn/libm/") + (f ? "powf" : "pow"), libm<T>(fn, xr, yr));
  }
}

const int registered = (slices<float>(), slices<double>(), 0);

}  // namespace
}  // namespace qbench
