// Every float input of a one-argument float export, against the double-precision
// libm function (whose own error, below 1e-15 relative, is far beneath a float
// ulp).  Opt-in: not part of ctest; an export takes well under a minute.
//
//   float_sweep EXPORT...          e.g. float_sweep expf8 logf8_native
//
// Prints per export the worst error in float ulps, its input, and how many results
// are not the correctly rounded float; exits 1 if an export exceeds its registry
// bound, 2 on a bad name (every name is checked before the first sweep).  Exports
// are called eight lanes at a time through their width-8 sibling (all widths give
// the same lanes: test_abi), with the System V prototype that width 8 shares with
// our register form.
#include <immintrin.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "support/invoke.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

using ref_fn = double (*)(double);
double inv_ref(double x) { return 1.0 / x; }
double rsqrt_ref(double x) { return 1.0 / std::sqrt(x); }
double rcbrt_ref(double x) { return 1.0 / std::cbrt(x); }

// The pi-scaled references: the nearest integer (or half-integer) removed exactly,
// then libm on pi*r (relative error near 2^-53, far below a float ulp).
double sinpi_ref(double x) {
  if (std::isinf(x)) return NAN;
  double r = x - std::nearbyint(x);
  double s = std::sin(M_PI * r);
  return std::fmod(std::fabs(std::nearbyint(x)), 2.0) == 1.0 ? -s : s;
}
double cospi_ref(double x) {
  if (std::isinf(x)) return NAN;
  return std::fabs(x) >= 0x1p24 ? 1.0 : sinpi_ref(std::fabs(x) + 0.5);  // floats from 2^24 on are even
}
double tanpi_ref(double x) {
  if (std::isinf(x)) return NAN;
  double r = x - std::nearbyint(x);  // tan has period 1
  if (std::fabs(r) == 0.5) return r > 0 ? INFINITY : -INFINITY;
  return std::tan(M_PI * r);
}
struct Ref { const char* family; ref_fn fn; };
const Ref kRefs[] = {{"exp", ::exp},     {"exp2", ::exp2},   {"exp10", ::exp10}, {"expm1", ::expm1},
                     {"log", ::log},     {"log2", ::log2},   {"log10", ::log10}, {"log1p", ::log1p},
                     {"sin", ::sin},     {"cos", ::cos},     {"tan", ::tan},     {"sinpi", sinpi_ref},
                     {"cospi", cospi_ref}, {"tanpi", tanpi_ref},
                     {"sqrt", ::sqrt},   {"rsqrt", rsqrt_ref}, {"inv", inv_ref}, {"cbrt", ::cbrt},
                     {"rcbrt", rcbrt_ref},
                     {"asin", ::asin},   {"acos", ::acos},   {"atan", ::atan},
                     {"asinpi", [](double x) { return ::asin(x) / M_PI; }},
                     {"acospi", [](double x) { return ::acos(x) / M_PI; }},
                     {"atanpi", [](double x) { return ::atan(x) / M_PI; }},
                     {"sinh", ::sinh},   {"cosh", ::cosh},   {"tanh", ::tanh},
                     {"asinh", ::asinh}, {"acosh", ::acosh}, {"atanh", ::atanh},
                     {"erf", ::erf},     {"erfc", ::erfc},   {"tgamma", ::tgamma}, {"lgamma", ::lgamma}};

ref_fn ref_of(const char* family) {
  for (const Ref& r : kRefs)
    if (!std::strcmp(r.family, family)) return r.fn;
  return nullptr;
}

// Error of `got` against `want` (a double close to the exact value), in ulps of
// float at want's binade (subnormal ulp below the normal range).
double ulps(float got, double want) {
  if (std::isnan(want) || std::isnan(got)) return std::isnan(want) && std::isnan(got) ? 0 : INFINITY;
  float rounded = float(want);
  if (std::isinf(rounded) || std::isinf(got)) return rounded == got ? 0 : INFINITY;
  int e;
  std::frexp(want, &e);  // |want| in [2^(e-1), 2^e)
  int ulp_exp = std::max(e - 24, -149);
  return std::fabs(double(got) - want) / std::ldexp(1.0, ulp_exp);
}

struct Worst {
  double err = 0;
  uint32_t x = 0;
  uint64_t not_nearest = 0;
};

Worst sweep(__m256 (*f)(__m256), ref_fn ref, uint64_t lo, uint64_t hi, std::atomic<uint64_t>& done) {
  Worst w;
  alignas(32) float in[8], out[8];
  uint64_t reported = lo;
  for (uint64_t b = lo; b < hi; b += 8) {
    if (b - reported >= 0x100000) done += b - reported, reported = b;
    for (int i = 0; i < 8; ++i) {
      uint32_t u = uint32_t(b + i);
      std::memcpy(&in[i], &u, 4);
    }
    _mm256_store_ps(out, f(_mm256_load_ps(in)));
    for (int i = 0; i < 8; ++i) {
      double want = ref(double(in[i]));
      double e = ulps(out[i], want);
      if (!std::isnan(in[i]) && float(want) != out[i] && !(std::isnan(want) && std::isnan(out[i]))) ++w.not_nearest;
      if (!(e <= w.err)) {
        w.err = e;
        w.x = uint32_t(b + i);
      }
    }
  }
  done += hi - reported;
  return w;
}

const char kHelp[] =
    "usage: float_sweep EXPORT...\n"
    "\n"
    "Every one of the 2^32 float inputs of each named export, against the libm function in double:\n"
    "the worst error in float ulps with its input, and how many results are not correctly rounded.\n"
    "EXPORT is a one-argument float export of a family with a libm reference, with or without the\n"
    "__ocl_qarn_e9_ prefix (expf8, logf4_native, sinpif1); it is swept through its width-8 sibling.\n"
    "\n"
    "options:\n"
    "  -h, --help   this text\n"
    "\n"
    "Exit status: 0 every export within its bound, 1 one above it, 2 bad input (all names are\n"
    "checked before the first sweep).  Progress goes to stderr.\n";

struct Job {
  const Export* e;
  const Export* w8;
  ref_fn ref;
};

}  // namespace

int main(int argc, char** argv) {
  for (int a = 1; a < argc; ++a)
    if (!std::strcmp(argv[a], "--help") || !std::strcmp(argv[a], "-h")) {
      std::fputs(kHelp, stdout);
      return 0;
    }
  if (argc < 2) {
    std::fprintf(stderr, "float_sweep: which exports? (float_sweep EXPORT...)\nTry 'float_sweep --help'.\n");
    return 2;
  }
  std::vector<Job> jobs;
  for (int a = 1; a < argc; ++a) {
    const char* why = nullptr;
    const Export* e = qarn::reg::find(argv[a]);
    ref_fn ref = e ? ref_of(e->family) : nullptr;
    const Export* w8 = e ? qarn::reg::sibling(*e, 8) : nullptr;
    if (argv[a][0] == '-') why = "is not an option of float_sweep";
    else if (!e) why = "is not an export";
    else if (e->prec != 'f' || std::strcmp(e->kind, "f:f")) why = "is not a one-argument float export";
    else if (!ref) why = "belongs to a family without a libm reference here";
    else if (!w8 || !w8->present) why = "is not in this build of the library";
    if (why) {
      std::fprintf(stderr, "float_sweep: '%s' %s; nothing swept\nTry 'float_sweep --help'.\n", argv[a], why);
      return 2;
    }
    jobs.push_back({e, w8, ref});
  }
  qa::Invoker inv(qa::library_path());
  int status = 0;
  unsigned nt = std::max(1u, std::thread::hardware_concurrency());
  for (size_t j = 0; j < jobs.size(); ++j) {
    const Job& job = jobs[j];
    auto f = reinterpret_cast<__m256 (*)(__m256)>(const_cast<void*>(inv.address(*job.w8)));
    std::vector<Worst> part(nt);
    std::vector<std::thread> th;
    std::atomic<uint64_t> done{0};
    std::atomic<unsigned> finished{0};
    uint64_t span = (1ull << 32) / nt;
    for (unsigned t = 0; t < nt; ++t)
      th.emplace_back([&, t] {
        part[t] = sweep(f, job.ref, t * span, t + 1 == nt ? (1ull << 32) : (t + 1) * span, done);
        ++finished;
      });
    {
      char label[96];
      std::snprintf(label, sizeof label, "float_sweep %s (%zu of %zu)", qarn::reg::short_name(*job.e), j + 1,
                    jobs.size());
      qarn::cli::Progress progress(label, 1ull << 32);
      while (finished < nt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        progress.update(done);
      }
    }
    for (auto& t : th) t.join();
    Worst all;
    for (const Worst& p : part) {
      all.not_nearest += p.not_nearest;
      if (!(p.err <= all.err)) all.err = p.err, all.x = p.x;
    }
    float x;
    std::memcpy(&x, &all.x, 4);
    const Export* e = job.e;
    bool ok = e->ulp < 0 || all.err <= e->ulp;
    std::printf("%s %-20s all 2^32 inputs: worst %.3f ulp (bound %g ulp) at x = %a (bits:0x%08" PRIx32 "), %" PRIu64
                " results not correctly rounded\n",
                ok ? "PASS" : "FAIL", qarn::reg::short_name(*e), all.err, e->ulp, double(x), all.x,
                all.not_nearest);
    std::fflush(stdout);
    if (!ok) status = 1;
  }
  return status;
}
