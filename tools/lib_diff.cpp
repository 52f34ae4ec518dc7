// Bitwise comparison of two builds of the library on one-argument exports: for a
// change that must not move any result (a speed fix, a refactoring).  Opt-in, run
// by hand:
//
//   lib_diff OLD.so NEW.so EXPORT...        e.g. lib_diff /tmp/old.so build/libocl_qarn_e9.so expm1f8 expm18
//   options (before the exports): --modes  also under the three directed rounding
//                                          modes (MXCSR), not only to nearest
//                                 --samples=N  double inputs per export and mode
//
// Float exports: every one of the 2^32 inputs.  Double exports: N random bit
// patterns (every exponent alike), N log-uniform magnitudes of both signs in
// [2^-1074, 2^1024), and every input within 2^10 patterns of each power of two and
// of the integers up to 1024 with both signs (where thresholds of the main paths
// sit).  Results are compared as bit patterns (NaNs too).  Exits 1 on any
// difference, printing the first few.
#include <dlfcn.h>
#include <immintrin.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/registry.h"

namespace {

using f8 = __m256 (*)(__m256);
using d4 = __m256d (*)(__m256d);

struct Diff {
  uint64_t count = 0, first[4] = {}, a[4] = {}, b[4] = {};
  void add(uint64_t x, uint64_t ra, uint64_t rb) {
    if (count < 4) first[count] = x, a[count] = ra, b[count] = rb;
    ++count;
  }
  void merge(const Diff& o) {
    for (uint64_t i = 0; i < o.count && i < 4; ++i) add(o.first[i], o.a[i], o.b[i]);
    count += o.count > 4 ? o.count - 4 : 0;
  }
};

Diff sweep_float(f8 fa, f8 fb, uint64_t lo, uint64_t hi, unsigned mode) {
  _mm_setcsr((_mm_getcsr() & ~0x6000u) | mode << 13);
  Diff d;
  alignas(32) uint32_t in[8], ra[8], rb[8];
  for (uint64_t base = lo; base < hi; base += 8) {
    for (int i = 0; i < 8; ++i) in[i] = uint32_t(base + i);
    __m256 x = _mm256_load_ps(reinterpret_cast<float*>(in));
    _mm256_store_ps(reinterpret_cast<float*>(ra), fa(x));
    _mm256_store_ps(reinterpret_cast<float*>(rb), fb(x));
    if (std::memcmp(ra, rb, 32))
      for (int i = 0; i < 8; ++i)
        if (ra[i] != rb[i]) d.add(in[i], ra[i], rb[i]);
  }
  return d;
}

void compare_double(d4 fa, d4 fb, const std::vector<uint64_t>& xs, size_t lo, size_t hi, unsigned mode, Diff& d) {
  _mm_setcsr((_mm_getcsr() & ~0x6000u) | mode << 13);
  alignas(32) uint64_t in[4], ra[4], rb[4];
  for (size_t i = lo; i < hi; i += 4) {
    for (int l = 0; l < 4; ++l) in[l] = xs[std::min(i + l, xs.size() - 1)];
    __m256d x = _mm256_load_pd(reinterpret_cast<double*>(in));
    _mm256_store_pd(reinterpret_cast<double*>(ra), fa(x));
    _mm256_store_pd(reinterpret_cast<double*>(rb), fb(x));
    for (int l = 0; l < 4; ++l)
      if (ra[l] != rb[l]) d.add(in[l], ra[l], rb[l]);
  }
}

std::vector<uint64_t> double_inputs(uint64_t samples) {
  std::vector<uint64_t> xs;
  std::mt19937_64 g(0xd1ff);
  for (uint64_t i = 0; i < samples; ++i) xs.push_back(g());
  std::uniform_real_distribution<double> u(-1074.0, 1024.0);
  for (uint64_t i = 0; i < samples; ++i) {
    double v = std::exp2(u(g));
    if (g() & 1) v = -v;
    uint64_t b;
    std::memcpy(&b, &v, 8);
    xs.push_back(b);
  }
  auto around = [&](double c) {
    uint64_t b;
    std::memcpy(&b, &c, 8);
    for (int64_t k = -(1 << 10); k <= (1 << 10); ++k) xs.push_back(b + uint64_t(k));
  };
  for (int e = -1022; e <= 1023; e += 1) around(std::ldexp(1.0, e)), around(-std::ldexp(1.0, e));
  for (int n = 1; n <= 1024; ++n) around(n), around(-n);
  return xs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: lib_diff OLD.so NEW.so [--modes] [--samples=N] EXPORT...\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a line per export and mode as it finishes
  void* la = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  void* lb = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
  if (!la || !lb || la == lb) {
    std::fprintf(stderr, "lib_diff: cannot load two distinct libraries (%s)\n", dlerror());
    return 2;
  }
  unsigned modes = 1;
  uint64_t samples = 1 << 24;
  std::vector<uint64_t> xs;
  unsigned nt = std::max(1u, std::thread::hardware_concurrency());
  int status = 0;
  for (int a = 3; a < argc; ++a) {
    std::string arg = argv[a];
    if (arg == "--modes") { modes = 4; continue; }
    if (arg.rfind("--samples=", 0) == 0) { samples = std::strtoull(argv[a] + 10, nullptr, 10); continue; }
    std::string name = arg.rfind("__ocl_qarn_e9_", 0) == 0 ? arg : "__ocl_qarn_e9_" + arg;
    void* fa = dlsym(la, name.c_str());
    void* fb = dlsym(lb, name.c_str());
    // float8 and double4 take and return one ymm, as a System V prototype does.
    const qarn::reg::Export* e = qarn::reg::find(name);
    bool ok = e && std::string_view(e->kind) == "f:f";
    bool is_float = ok && e->prec == 'f' && e->width == 8, is_double = ok && e->prec == 'd' && e->width == 4;
    if (!fa || !fb || is_float == is_double) {
      std::fprintf(stderr, "lib_diff: %s: need a float width-8 or double width-4 export present in both\n", argv[a]);
      status = 2;
      continue;
    }
    for (unsigned mode = 0; mode < modes; ++mode) {
      std::vector<Diff> part(nt);
      std::vector<std::thread> th;
      uint64_t total;
      if (is_float) {
        total = 1ull << 32;
        uint64_t span = total / nt;
        for (unsigned t = 0; t < nt; ++t)
          th.emplace_back([&, t] {
            part[t] = sweep_float(reinterpret_cast<f8>(fa), reinterpret_cast<f8>(fb), t * span,
                                  t + 1 == nt ? total : (t + 1) * span, mode);
          });
      } else {
        if (xs.empty()) xs = double_inputs(samples);
        total = xs.size();
        size_t span = (xs.size() / nt + 3) / 4 * 4;
        for (unsigned t = 0; t < nt; ++t)
          th.emplace_back([&, t] {
            compare_double(reinterpret_cast<d4>(fa), reinterpret_cast<d4>(fb), xs, std::min(xs.size(), t * span),
                           t + 1 == nt ? xs.size() : std::min(xs.size(), (t + 1) * span), mode, part[t]);
          });
      }
      for (auto& t : th) t.join();
      Diff all;
      for (const Diff& p : part) all.merge(p);
      static const char* kMode[] = {"to nearest", "down", "up", "toward zero"};
      std::printf("%s %-24s %-11s %" PRIu64 " inputs, %" PRIu64 " differ\n", all.count ? "DIFF" : "SAME",
                  argv[a], kMode[mode], total, all.count);
      for (uint64_t i = 0; i < all.count && i < 4; ++i)
        std::printf("     x 0x%0*" PRIx64 ": 0x%0*" PRIx64 " -> 0x%0*" PRIx64 "\n", is_float ? 8 : 16, all.first[i],
                    is_float ? 8 : 16, all.a[i], is_float ? 8 : 16, all.b[i]);
      if (all.count) status = 1;
    }
  }
  return status;
}
