// Bitwise comparison of two builds of the library on one-argument exports: for a
// change that must not move any result (a speed fix, a refactoring).  Opt-in, run
// by hand:
//
//   lib_diff OLD.so NEW.so EXPORT...        e.g. lib_diff /tmp/old.so build/libocl_qarn_e9.so expm1f8 expm18
//   options: --modes      also under the three directed rounding modes (MXCSR),
//                         not only to nearest
//            --samples=N  double inputs per export and mode
// Every argument is checked before the first comparison (lib_diff --help).
//
// Float exports: every one of the 2^32 inputs.  Double exports: N random bit
// patterns (every exponent alike), N log-uniform magnitudes of both signs in
// [2^-1074, 2^1024), and every input within 2^10 patterns of each power of two and
// of the integers up to 1024 with both signs (where thresholds of the main paths
// sit).  Results are compared as bit patterns (NaNs too).  Exits 1 on any
// difference, printing the first few.
#include <dlfcn.h>
#include <immintrin.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli.h"
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

Diff sweep_float(f8 fa, f8 fb, uint64_t lo, uint64_t hi, unsigned mode, std::atomic<uint64_t>& done) {
  _mm_setcsr((_mm_getcsr() & ~0x6000u) | mode << 13);
  Diff d;
  alignas(32) uint32_t in[8], ra[8], rb[8];
  uint64_t reported = lo;
  for (uint64_t base = lo; base < hi; base += 8) {
    if (base - reported >= 0x100000) done += base - reported, reported = base;
    for (int i = 0; i < 8; ++i) in[i] = uint32_t(base + i);
    __m256 x = _mm256_load_ps(reinterpret_cast<float*>(in));
    _mm256_store_ps(reinterpret_cast<float*>(ra), fa(x));
    _mm256_store_ps(reinterpret_cast<float*>(rb), fb(x));
    if (std::memcmp(ra, rb, 32))
      for (int i = 0; i < 8; ++i)
        if (ra[i] != rb[i]) d.add(in[i], ra[i], rb[i]);
  }
  done += hi - reported;
  return d;
}

void compare_double(d4 fa, d4 fb, const std::vector<uint64_t>& xs, size_t lo, size_t hi, unsigned mode, Diff& d,
                    std::atomic<uint64_t>& done) {
  _mm_setcsr((_mm_getcsr() & ~0x6000u) | mode << 13);
  alignas(32) uint64_t in[4], ra[4], rb[4];
  size_t reported = lo;
  for (size_t i = lo; i < hi; i += 4) {
    if (i - reported >= 0x10000) done += i - reported, reported = i;
    for (int l = 0; l < 4; ++l) in[l] = xs[std::min(i + l, xs.size() - 1)];
    __m256d x = _mm256_load_pd(reinterpret_cast<double*>(in));
    _mm256_store_pd(reinterpret_cast<double*>(ra), fa(x));
    _mm256_store_pd(reinterpret_cast<double*>(rb), fb(x));
    for (int l = 0; l < 4; ++l)
      if (ra[l] != rb[l]) d.add(in[l], ra[l], rb[l]);
  }
  done += hi > reported ? hi - reported : 0;
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

const char kHelp[] =
    "usage: lib_diff OLD.so NEW.so [--modes] [--samples=N] EXPORT...\n"
    "\n"
    "Two builds of the library compared bit for bit on one-argument exports: every float input of a\n"
    "float width-8 export, or 2N sampled inputs plus the neighbourhoods of powers of two and small\n"
    "integers for a double width-4 export (expf8, exp4_native, __ocl_qarn_e9_logf8).\n"
    "  --modes       also under the three directed rounding modes, not only to nearest\n"
    "  --samples=N   N random patterns and N log-uniform magnitudes per double export\n"
    "                (1 to 1e8, default 16777216; 1e6 and 0x100000 are accepted)\n"
    "  -h, --help    this text\n"
    "\n"
    "Exit status: 0 the same bits everywhere, 1 a difference (the first few are printed), 2 bad\n"
    "input (every argument is checked before the first comparison).  Progress goes to stderr.\n";

struct Job {
  const char* arg;
  void *fa, *fb;
  bool is_float;
};

}  // namespace

int main(int argc, char** argv) {
  for (int a = 1; a < argc; ++a)
    if (!std::strcmp(argv[a], "--help") || !std::strcmp(argv[a], "-h")) {
      std::fputs(kHelp, stdout);
      return 0;
    }
  unsigned modes = 1;
  uint64_t samples = 1 << 24;
  std::vector<Job> jobs;
  try {
    std::vector<const char*> names, libs;
    for (int a = 1; a < argc; ++a) {
      std::string_view arg = argv[a];
      if (arg == "--modes") modes = 4;
      else if (arg.starts_with("--samples=")) samples = qarn::cli::parse_count(arg.substr(10), "--samples", 1, 100000000);
      else if (arg.starts_with("-")) throw qarn::cli::BadInput("unknown option '" + std::string(arg) + "'");
      else (libs.size() < 2 ? libs : names).push_back(argv[a]);
    }
    if (libs.size() < 2 || names.empty())
      throw qarn::cli::BadInput("give two builds of the library and at least one export (lib_diff OLD.so NEW.so EXPORT...)");
    void* la = dlopen(libs[0], RTLD_NOW | RTLD_LOCAL);
    if (!la) throw qarn::cli::BadInput(std::string("cannot load ") + dlerror());
    void* lb = dlopen(libs[1], RTLD_NOW | RTLD_LOCAL);
    if (!lb) throw qarn::cli::BadInput(std::string("cannot load ") + dlerror());
    if (la == lb) throw qarn::cli::BadInput(std::string(libs[0]) + " and " + libs[1] + " are the same library");
    for (const char* n : names) {
      // float8 and double4 take and return one ymm, as a System V prototype does.
      const qarn::reg::Export* e = qarn::reg::find(n);
      bool ok = e && std::string_view(e->kind) == "f:f";
      bool is_float = ok && e->prec == 'f' && e->width == 8, is_double = ok && e->prec == 'd' && e->width == 4;
      void* fa = e ? dlsym(la, e->name) : nullptr;
      void* fb = e ? dlsym(lb, e->name) : nullptr;
      if (!e) throw qarn::cli::BadInput(std::string("'") + n + "' is not an export");
      if (is_float == is_double)
        throw qarn::cli::BadInput(std::string("'") + n + "' is not a one-argument float width-8 or double width-4 export");
      if (!fa || !fb) throw qarn::cli::BadInput(std::string("'") + n + "' is not in both libraries");
      jobs.push_back({n, fa, fb, is_float});
    }
  } catch (const qarn::cli::BadInput& x) {
    std::fprintf(stderr, "lib_diff: %s; nothing compared\nTry 'lib_diff --help'.\n", x.what());
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a line per export and mode as it finishes
  std::vector<uint64_t> xs;
  unsigned nt = std::max(1u, std::thread::hardware_concurrency());
  int status = 0;
  for (const Job& job : jobs) {
    for (unsigned mode = 0; mode < modes; ++mode) {
      std::vector<Diff> part(nt);
      std::vector<std::thread> th;
      std::atomic<uint64_t> done{0};
      std::atomic<unsigned> finished{0};
      uint64_t total;
      if (job.is_float) {
        total = 1ull << 32;
        uint64_t span = total / nt;
        for (unsigned t = 0; t < nt; ++t)
          th.emplace_back([&, t, span] {  // span by value: its block ends before the threads do
            part[t] = sweep_float(reinterpret_cast<f8>(job.fa), reinterpret_cast<f8>(job.fb), t * span,
                                  t + 1 == nt ? total : (t + 1) * span, mode, done);
            ++finished;
          });
      } else {
        if (xs.empty()) xs = double_inputs(samples);
        total = xs.size();
        size_t span = (xs.size() / nt + 3) / 4 * 4;
        for (unsigned t = 0; t < nt; ++t)
          th.emplace_back([&, t, span] {  // span by value: its block ends before the threads do
            compare_double(reinterpret_cast<d4>(job.fa), reinterpret_cast<d4>(job.fb), xs,
                           std::min(xs.size(), t * span), t + 1 == nt ? xs.size() : std::min(xs.size(), (t + 1) * span),
                           mode, part[t], done);
            ++finished;
          });
      }
      static const char* kMode[] = {"to nearest", "down", "up", "toward zero"};
      {
        qarn::cli::Progress progress(std::string("lib_diff ") + job.arg + " " + kMode[mode], total);
        while (finished < nt) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          progress.update(done);
        }
      }
      for (auto& t : th) t.join();
      Diff all;
      for (const Diff& p : part) all.merge(p);
      std::printf("%s %-24s %-11s %" PRIu64 " inputs, %" PRIu64 " differ\n", all.count ? "DIFF" : "SAME", job.arg,
                  kMode[mode], total, all.count);
      for (uint64_t i = 0; i < all.count && i < 4; ++i)
        std::printf("     x 0x%0*" PRIx64 ": 0x%0*" PRIx64 " -> 0x%0*" PRIx64 "\n", job.is_float ? 8 : 16, all.first[i],
                    job.is_float ? 8 : 16, all.a[i], job.is_float ? 8 : 16, all.b[i]);
      if (all.count) status = 1;
    }
  }
  return status;
}
