// Shared between the benchmark files: element count, the per-element time
// counter, and what the final summary needs to pair our exports with SLEEF and
// libm.
#pragma once
#include <benchmark/benchmark.h>
#include <string>
#include <utility>
#include <vector>

#include "support/registry.h"

namespace qbench {

// Elements per benchmark iteration: a few thousand, so that inputs and results
// stay in L1 and the loop measures the function, not memory.
inline constexpr int kElems = 4096;

// Every benchmark reports seconds per element in this counter (shown as "1.23n"
// for 1.23 ns) and computes a "min" statistic over its repetitions.
inline constexpr const char* kPerElem = "time/el";
void per_elem(benchmark::State& st, long elems);
benchmark::internal::Benchmark* setup(benchmark::internal::Benchmark* b);

// One line of the ratio table: an export and the benchmarks it is compared with.
struct Row {
  std::string family, variant, exp;  // exp: our benchmark
  char prec = 'f';
  int width = 1;
  std::string sleef;           // SLEEF benchmark (its native width), or empty
  std::string sleef_fn;        // the SLEEF function and how many calls one of our calls is worth
  std::string sleef_acc;       // "u10", "u35", ... (what the target is stated against)
  double sleef_factor = 1.0;   // SLEEF ns/element at its width -> ns/element at ours
  std::string libm;            // scalar libm benchmark, or empty
  std::string mvec;            // glibc's vector function (libmvec, SSE4 at 128 bits, AVX at 256), or empty
  double mvec_factor = 1.0;    // its ns/element at its width -> ns/element at ours
  std::string base;            // the same export of the --base build, or empty
};
std::vector<Row>& rows();

// One line of the call-overhead table: the export called in a loop against its
// main path inlined into the same loop.
struct OverheadRow {
  std::string label, inlined, framed, called_c, called_regs;
};
std::vector<OverheadRow>& overhead_rows();

// Present exports that no driver here can call yet: (signature kind, family).
std::vector<std::pair<std::string, std::string>>& skipped();

// Registration (bench_exports.cpp, bench_overhead.cpp); lib is the dlopen handle
// of libocl_qarn_e9.so, base that of an earlier build timed beside it (or null).
void register_exports(void* lib, void* base = nullptr);
void register_overhead(void* lib);

// Interval of one operand of an export in the timing loops (bench_exports.cpp):
// integer operands are drawn as whole numbers in [lo, hi]; log marks a log-uniform
// floating interval.
struct Interval {
  double lo, hi;
  bool log, integer;
  bool both = false;  // magnitudes in [lo, hi], each of either sign
};
Interval operand_interval(const qarn::reg::Export& e, int arg);

// The slice benchmark (bench_slices.cpp) and its options (read in bench_main.cpp).
struct SliceOptions {
  std::string filter;  // regular expression over short export names; empty: every export
  bool check = false, registry = false, tiny = true;
  int rounds = 15, elems = 2048;
  bool xset = false, yset = false;
  double xlo = 0, xhi = 0, ylo = 0, yhi = 0;
};
int run_slices(void* lib, const SliceOptions& o);

}  // namespace qbench
