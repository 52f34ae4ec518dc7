// qarn_bench: time per element of every present export against SLEEF, libm and libmvec,
// and the cost of the call itself; ends with the ratio tables.
//
//   qarn_bench                     full run: 5 repetitions of 0.1 s each, randomly
//                                  interleaved, best repetition reported
//   qarn_bench --quick             one short repetition per benchmark
//   qarn_bench --lib=PATH          time another build of libocl_qarn_e9.so
//   qarn_bench --base=PATH         time an earlier build beside it, interleaved
//                                  in the same run (before and after a change)
//   qarn_bench --slices [--check]  each export on eight slices of its operands'
//                                  intervals instead (bench_slices.cpp)
// Google Benchmark's flags (--benchmark_...) override these defaults, for example
//   qarn_bench --quick --benchmark_filter='expf|overhead'
// Every other option is checked here, before anything is loaded or timed
// (qarn_bench --help lists them).
//
// Speed is a property we measure and report, not a pass/fail test: the tables
// mark the rows that miss their target, and the exit status does not depend on
// them.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench.h"
#include "cli.h"

namespace qbench {

std::vector<Row>& rows() {
  static std::vector<Row> r;
  return r;
}
std::vector<OverheadRow>& overhead_rows() {
  static std::vector<OverheadRow> r;
  return r;
}
std::vector<std::pair<std::string, std::string>>& skipped() {
  static std::vector<std::pair<std::string, std::string>> r;
  return r;
}

void per_elem(benchmark::State& st, long elems) {
  st.counters[kPerElem] = benchmark::Counter(double(elems), benchmark::Counter::kIsIterationInvariantRate |
                                                                benchmark::Counter::kInvert);
}

static double min_of(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }

benchmark::internal::Benchmark* setup(benchmark::internal::Benchmark* b) {
  return b->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", min_of);
}

namespace {

// Best time per element (ns) of each benchmark by name.
std::map<std::string, double>& best() {
  static std::map<std::string, double> m;
  return m;
}

// Prints one line per benchmark (the single run, or the "min" over repetitions)
// and keeps the time per element for the tables.
class Reporter : public benchmark::ConsoleReporter {
 public:
  using ConsoleReporter::ConsoleReporter;
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& r : runs) {
      if (r.error_occurred) {
        shown.push_back(r);
        continue;
      }
      bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
      bool min = r.run_type == Run::RT_Aggregate && r.aggregate_name == "min";
      if (!single && !min) continue;
      auto c = r.counters.find(kPerElem);
      if (c != r.counters.end()) {
        double ns = c->second.value * 1e9;
        auto [it, fresh] = best().emplace(r.run_name.function_name, ns);
        if (!fresh) it->second = std::min(it->second, ns);
      }
      shown.push_back(r);
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }
};

const double* lookup(const std::string& name) {
  auto it = best().find(name);
  return name.empty() || it == best().end() ? nullptr : &it->second;
}

void print_tables() {
  std::printf("\nTime per element, ns (best run); ratio = ours / theirs, below 1 is faster.\n");
  std::printf("Targets: default at least as fast as SLEEF u10 at the same width, _native at least\n");
  std::printf("as fast as SLEEF u35 (u10 where SLEEF has no u35); '<-- miss' marks a missed target.\n");
  std::printf("SLEEF: scalar at width 1, SSE4 at 128 bits, AVX at 256 bits; 'xN' = N calls per one of ours.\n");
  std::printf("libmvec: glibc's vector functions, SSE4 at 128 bits, AVX at 256 bits (two or four calls for wider).\n");
  std::printf("base (with --base): the same export of the earlier build, and ours / base.\n\n");
  std::printf("%-22s %8s  %-28s %8s %7s  %8s %7s  %8s %7s\n", "export", "ours", "SLEEF", "SLEEF", "ratio", "libm",
              "ratio", "libmvec", "ratio");
  int misses = 0, targets = 0;
  std::string last_family;
  std::vector<std::pair<std::string, double>> alone;  // no counterpart to compare with
  for (const Row& r : rows()) {
    const double* ours = lookup(r.exp);
    if (!ours) continue;
    if (!lookup(r.sleef) && !lookup(r.libm)) {
      alone.emplace_back(r.exp.substr(r.exp.find('/') + 1), *ours);
      continue;
    }
    std::string fam = r.family + r.prec;
    if (!last_family.empty() && fam != last_family) std::printf("\n");
    last_family = fam;
    const double* s = lookup(r.sleef);
    const double* m = lookup(r.libm);
    const double* v = lookup(r.mvec);
    char sbuf[64] = "", srat[32] = "", mbuf[32] = "", mrat[32] = "", vbuf[32] = "", vrat[32] = "";
    if (v) {
      std::snprintf(vbuf, sizeof vbuf, "%8.3f", *v * r.mvec_factor);
      std::snprintf(vrat, sizeof vrat, "%7.2f", *ours / (*v * r.mvec_factor));
    }
    const char* mark = "";
    if (s) {
      double sn = *s * r.sleef_factor;
      std::snprintf(sbuf, sizeof sbuf, "%8.3f", sn);
      std::snprintf(srat, sizeof srat, "%7.2f", *ours / sn);
      if (r.variant == "default" || r.variant == "_native") {
        ++targets;
        if (*ours > sn) mark = "  <-- miss", ++misses;
      }
    }
    if (m) {
      std::snprintf(mbuf, sizeof mbuf, "%8.3f", *m);
      std::snprintf(mrat, sizeof mrat, "%7.2f", *ours / *m);
    }
    std::string name = r.exp.substr(r.exp.find('/') + 1);
    std::string sfn = r.sleef_fn.empty() ? "-" : r.sleef_fn + " (" + r.sleef_acc + ")";
    std::printf("%-22s %8.3f  %-28s %8s %7s  %8s %7s  %8s %7s", name.c_str(), *ours, sfn.c_str(), s ? sbuf : "-",
                s ? srat : "-", m ? mbuf : "-", m ? mrat : "-", v ? vbuf : "-", v ? vrat : "-");
    if (const double* b = lookup(r.base)) {
      std::printf("  base %8.3f %7.2f", *b, *ours / *b);
      if (m) std::printf(" (base/libm %5.2f)", *b / *m);
    }
    std::printf("%s\n", mark);
  }
  if (targets) std::printf("\nSpeed targets met: %d of %d.\n", targets - misses, targets);
  if (!alone.empty()) {
    std::printf("\nWithout a SLEEF or libm counterpart, ns per element:");
    for (size_t i = 0; i < alone.size(); ++i)
      std::printf("%s%-24s %7.3f", i % 4 ? "   " : "\n  ", alone[i].first.c_str(), alone[i].second);
    std::printf("\n");
  }

  bool header = false;
  for (const OverheadRow& o : overhead_rows()) {
    const double* im = lookup(o.inlined);
    if (!im) continue;
    if (!header) {
      std::printf("\nCall overhead, ns per element; percentages relative to the inlined main path (aim: < 10%%).\n");
      std::printf("%-22s %12s %21s %21s %21s\n", "loop", "inline main", "inline frame", "call (C)", "call (regs)");
      header = true;
    }
    std::printf("%-22s %12.3f", o.label.c_str(), *im);
    for (const std::string* n : {&o.framed, &o.called_c, &o.called_regs}) {
      if (const double* v = lookup(*n))
        std::printf(" %12.3f (%+6.1f%%)", *v, 100.0 * (*v - *im) / *im);
      else
        std::printf(" %21s", "-");
    }
    const double* call = lookup(o.called_regs);
    std::printf("%s\n", call && *call > 1.1 * *im ? "  <-- over 10%" : "");
  }
  if (!skipped().empty()) {
    // kind -> (number of exports, families)
    std::map<std::string, std::pair<int, std::vector<std::string>>> by_kind;
    for (const auto& [kind, family] : skipped()) {
      auto& k = by_kind[kind];
      ++k.first;
      if (std::find(k.second.begin(), k.second.end(), family) == k.second.end()) k.second.push_back(family);
    }
    std::printf("\nNot timed (no driver for the signature kind yet), %zu present exports:\n", skipped().size());
    for (const auto& [kind, k] : by_kind) {
      std::string fams;
      for (const std::string& f : k.second) fams += (fams.empty() ? "" : " ") + f;
      std::printf("  %-14s %4d  %s\n", kind.c_str(), k.first, fams.c_str());
    }
  }
}

}  // namespace
}  // namespace qbench

namespace {

const char kHelp[] =
    "usage: qarn_bench [--quick] [--lib=PATH] [--base=PATH] [--benchmark_...=...]\n"
    "       qarn_bench --slices [--check] [--registry] [--no-tiny] [--filter=REGEX] [--rounds=N]\n"
    "                  [--elems=N] [--x=LO:HI] [--y=LO:HI] [--lib=PATH]\n"
    "\n"
    "Time per element of every present export against SLEEF and libm, the call overhead, and the\n"
    "ratio tables (5 interleaved repetitions of 0.1 s, best kept).\n"
    "  --quick          one short repetition per benchmark\n"
    "  --lib=PATH       time another build of libocl_qarn_e9.so\n"
    "  --base=PATH      also time every export of an earlier build, interleaved in the same run,\n"
    "                   and show ours / base\n"
    "  --benchmark_...  Google Benchmark's own flags (listed below), after and over these defaults\n"
    "\n"
    "--slices: each export on eight slices of its operands' intervals; a ratio above 2 between\n"
    "slices is flagged.  An operand whose interval reaches zero also gets its tiny band (marked\n"
    "'~'): magnitudes log-spaced from the smallest normal number to the interval's largest.\n"
    "  --check          exit 1 when a ratio stays above 2 after measuring the flagged exports again\n"
    "  --registry       the registry's intervals for floating operands\n"
    "  --no-tiny        leave the tiny bands out\n"
    "  --filter=REGEX   only the exports whose short name (expf8) matches\n"
    "  --rounds=N       rounds per slice set, best kept (1 to 1000, default 15)\n"
    "  --elems=N        elements per timed call batch (16 to 1048576, default 2048)\n"
    "  --x=LO:HI        the first operand's interval instead (finite, LO below HI)\n"
    "  --y=LO:HI        the second operand's interval instead\n"
    "LO and HI are written like 1.5, -2e-3, 0x1.8p+3 or bits:0x3ff8000000000000 (doubles).\n"
    "\n"
    "Exit status: 0 done (speed never fails a run, except --slices --check), 2 bad input.\n";

// "LO:HI" with both finite and LO below HI (the colon of a bits: prefix is not the separator).
void parse_interval(std::string_view opt, std::string_view v, double& lo, double& hi) {
  size_t from = v.starts_with("bits:") ? 5 : 0;
  size_t colon = v.find(':', from);
  if (colon == v.npos)
    throw qarn::cli::BadInput(std::string(opt) + " takes LO:HI, for example " + std::string(opt) + "=-1:1");
  try {
    lo = qarn::cli::parse_finite(v.substr(0, colon), qarn::cli::Lane::f64);
    hi = qarn::cli::parse_finite(v.substr(colon + 1), qarn::cli::Lane::f64);
  } catch (const qarn::cli::BadInput& x) {
    throw qarn::cli::BadInput(std::string(opt) + ": " + x.what());
  }
  if (!(lo < hi)) throw qarn::cli::BadInput(std::string(opt) + "=" + std::string(v) + " is empty: LO must be below HI");
}

}  // namespace

int main(int argc, char** argv) {
  namespace cli = qarn::cli;
  std::vector<std::string> args = {argv[0], "--benchmark_min_time=0.1", "--benchmark_repetitions=5",
                                   "--benchmark_enable_random_interleaving=true"};
  std::string lib = QARN_BENCH_LIB, base;
  bool slices = false, quick = false;
  qbench::SliceOptions so;
  std::vector<std::string> slice_only, bench_flags;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string_view a = argv[i];
      if (a == "--help" || a == "-h") {
        std::fputs(kHelp, stdout);
        std::printf("\nGoogle Benchmark's flags:\n");
        std::fflush(stdout);
        std::vector<char*> hv = {argv[0], const_cast<char*>("--help"), nullptr};
        int hc = 2;
        benchmark::Initialize(&hc, hv.data());  // prints its flags and exits 0
        return 0;
      } else if (a == "--quick") {
        quick = true;
      } else if (a == "--slices") {
        slices = true;
      } else if (a.starts_with("--lib=")) {
        if (a.size() == 6) throw cli::BadInput("--lib= needs a path to a build of libocl_qarn_e9.so");
        lib = std::string(a.substr(6));
      } else if (a.starts_with("--base=")) {
        if (a.size() == 7) throw cli::BadInput("--base= needs a path to a build of libocl_qarn_e9.so");
        base = std::string(a.substr(7));
      } else if (a == "--check") {
        so.check = true, slice_only.emplace_back(a);
      } else if (a == "--registry") {
        so.registry = true, slice_only.emplace_back(a);
      } else if (a == "--no-tiny") {
        so.tiny = false, slice_only.emplace_back(a);
      } else if (a.starts_with("--filter=")) {
        so.filter = std::string(a.substr(9));
        try {
          std::regex test(so.filter);
        } catch (const std::regex_error& x) {
          throw cli::BadInput(std::string(a) + ": not a regular expression (" + x.what() + ")");
        }
        slice_only.emplace_back("--filter");
      } else if (a.starts_with("--rounds=")) {
        so.rounds = int(cli::parse_count(a.substr(9), "--rounds", 1, 1000));
        slice_only.emplace_back("--rounds");
      } else if (a.starts_with("--elems=")) {
        so.elems = int(cli::parse_count(a.substr(8), "--elems", 16, 1 << 20));
        slice_only.emplace_back("--elems");
      } else if (a.starts_with("--x=")) {
        parse_interval("--x", a.substr(4), so.xlo, so.xhi), so.xset = true;
        slice_only.emplace_back("--x");
      } else if (a.starts_with("--y=")) {
        parse_interval("--y", a.substr(4), so.ylo, so.yhi), so.yset = true;
        slice_only.emplace_back("--y");
      } else if (a.starts_with("--benchmark_") || a.starts_with("--v=")) {
        bench_flags.emplace_back(a);
      } else {
        bool valued = a == "--lib" || a == "--base" || a == "--filter" || a == "--rounds" || a == "--elems" || a == "--x" || a == "--y";
        throw cli::BadInput("unknown option '" + std::string(a) + "'" +
                            (valued ? " (write its value after '=': " + std::string(a) + "=...)" : ""));
      }
    }
    if (!slices && !slice_only.empty())
      throw cli::BadInput(slice_only[0] + " belongs to --slices (qarn_bench --slices " + slice_only[0] + "...)");
    if (slices && !base.empty()) throw cli::BadInput("--base is for the full run, not --slices");
    if (slices && quick) throw cli::BadInput("--quick is for the full run, not --slices (try --rounds=N)");
    if (slices && !bench_flags.empty())
      throw cli::BadInput(bench_flags[0] + ": Google Benchmark's flags are for the full run, not --slices");
  } catch (const cli::BadInput& x) {
    std::fprintf(stderr, "qarn_bench: %s\nTry 'qarn_bench --help'.\n", x.what());
    return 2;
  }
  if (quick) {
    args.push_back("--benchmark_min_time=0.005");
    args.push_back("--benchmark_repetitions=1");
    args.push_back("--benchmark_enable_random_interleaving=false");
  }
  args.insert(args.end(), bench_flags.begin(), bench_flags.end());
  void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    std::fprintf(stderr, "qarn_bench: cannot load %s: %s\n", lib.c_str(), dlerror());
    return 2;
  }
  if (slices) return qbench::run_slices(h, so);
  void* bh = nullptr;
  if (!base.empty() && !(bh = dlopen(base.c_str(), RTLD_NOW | RTLD_LOCAL))) {
    std::fprintf(stderr, "qarn_bench: cannot load %s: %s\n", base.c_str(), dlerror());
    return 2;
  }
  qbench::register_exports(h, bh);
  qbench::register_overhead(h);

  std::vector<char*> av;
  for (std::string& a : args) av.push_back(a.data());
  int ac = int(av.size());
  av.push_back(nullptr);
  benchmark::Initialize(&ac, av.data());
  if (benchmark::ReportUnrecognizedArguments(ac, av.data())) return 1;
  qbench::Reporter rep(isatty(1) ? benchmark::ConsoleReporter::OO_ColorTabular
                                 : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&rep);
  qbench::print_tables();
  benchmark::Shutdown();
  return 0;
}
