// qarn: look at the library from the command line (qarn --help for the commands and
// the notation of values).  Every input is checked before any export is called: a
// bad one is reported on stderr with exit status 2.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli.h"
#include "support/invoke.h"
#include "support/lanehash.h"
#include "support/oracle.h"

namespace qa = qarn::abi;
namespace cli = qarn::cli;
using cli::BadInput;
using qarn::reg::Export;

namespace {

const char kUsage[] =
    "usage: qarn list [--missing | --present] [FAMILY...]\n"
    "       qarn eval EXPORT VALUE...\n"
    "       qarn ulp EXPORT [--range LO HI] [-n N]\n"
    "       qarn hash [--all | --modes]\n"
    "       qarn --help\n";

int help() {
  std::printf(
      "%s\n"
      "  list   the exports by family, present (+) or missing (-) in this build;\n"
      "         --missing or --present shows only those; FAMILY limits the list (exp, logb, cvtfptoi32, ...)\n"
      "  eval   calls EXPORT through the register-level caller and prints every result lane;\n"
      "         one VALUE per argument (used in every lane) or one per lane of each argument in turn\n"
      "  ulp    worst error of a one-argument export against MPFR, with the export's bound;\n"
      "         --range LO HI   operands drawn uniformly from [LO, HI] (default: the registry's interval)\n"
      "         -n N            how many operands (default 100000; 1e7 is accepted)\n"
      "         exit status 1 when the worst error is above the bound\n"
      "  hash   lane fingerprints of every present export, the format of tests/golden/lane_hashes.txt;\n"
      "         --all adds the exports whose lanes depend on this processor's estimate instructions;\n"
      "         --modes: one line per export (every width) and rounding direction, MXCSR and x87 alike,\n"
      "         for another build's test (tests/test_rounding_modes.cpp)\n"
      "\n"
      "EXPORT is a name with or without the __ocl_qarn_e9_ prefix: expf8, __ocl_qarn_e9_exp4_native.\n"
      "\n"
      "Values (eval's VALUE, ulp's LO and HI):\n%s"
      "eval prints each lane as value, hex float and bits:0x... pattern; each reads back as a VALUE.\n"
      "\n"
      "Exit status: 0 done, 1 ulp above the bound (or a failed call), 2 bad input.\n",
      kUsage, cli::kValueNotation);
  return 0;
}

int bad(const std::string& msg) {
  std::fprintf(stderr, "qarn: %s\nTry 'qarn --help'.\n", msg.c_str());
  return 2;
}

bool is_help(const char* a) { return !std::strcmp(a, "--help") || !std::strcmp(a, "-h"); }

const Export& export_named(const char* name) {
  const Export* e = qarn::reg::find(name);
  if (!e) throw BadInput(std::string("no export named '") + name + "' ('qarn list' shows them all)");
  return *e;
}

int cmd_list(int argc, char** argv) {
  bool only_missing = false, only_present = false;
  std::set<std::string> families;
  for (const Export& e : qarn::reg::all()) families.insert(e.family);
  std::set<std::string> wanted;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--missing")) only_missing = true;
    else if (!std::strcmp(argv[i], "--present")) only_present = true;
    else if (argv[i][0] == '-') throw BadInput(std::string("list: unknown option '") + argv[i] + "'");
    else if (!families.count(argv[i]))
      throw BadInput(std::string("list: no family named '") + argv[i] +
                     "' (families are the OpenCL names: exp, logb, sincos, cvtfptoi32, idiv, ...; "
                     "'qarn list' shows them all)");
    else wanted.insert(argv[i]);
  }
  if (only_missing && only_present) throw BadInput("list: --missing and --present exclude each other");
  std::map<std::string, std::vector<const Export*>> by_family;
  std::vector<std::string> order;
  for (const Export& e : qarn::reg::all()) {
    if (!by_family.count(e.family)) order.push_back(e.family);
    by_family[e.family].push_back(&e);
  }
  int total = 0, present = 0;
  for (const std::string& f : order) {
    if (!wanted.empty() && !wanted.count(f)) continue;
    auto& v = by_family[f];
    int p = 0;
    for (auto* e : v) p += e->present;
    total += int(v.size());
    present += p;
    std::printf("%-16s %4d of %4d present\n", f.c_str(), p, int(v.size()));
    for (auto* e : v) {
      if ((only_missing && e->present) || (only_present && !e->present)) continue;
      std::printf("  %s %-44s %s%s%s\n", e->present ? "+" : "-", e->name, e->kind, e->by_ref ? " by-reference" : "",
                  e->body ? (std::string(" = ") + e->body).c_str() : "");
    }
  }
  std::printf("%d of %d exports present\n", present, total);
  return 0;
}

// The lane type of a vector of kind k (see frame/registry.py) in an export of precision prec.
cli::Lane lane_of(char kind, char prec) {
  switch (kind) {
    case 'f': return prec == 'd' ? cli::Lane::f64 : cli::Lane::f32;
    case 'c': return prec == 'd' ? cli::Lane::u64 : cli::Lane::u32;  // the code of nan
    case 'F': return cli::Lane::f32;
    case 'D': return cli::Lane::f64;
    case 'i': return cli::Lane::i32;
    case 'u': return cli::Lane::u32;
    case 'l': return cli::Lane::i64;
    default: return cli::Lane::u64;  // 'q'
  }
}

int cmd_eval(int argc, char** argv) {
  if (argc < 1) throw BadInput("eval: which export? (qarn eval EXPORT VALUE...)");
  const Export& e = export_named(argv[0]);
  if (!e.present) throw BadInput(std::string("eval: ") + e.name + " is not in this build of the library");
  qa::Shape sh = qa::shape_of(e);
  int nvals = argc - 1;
  int nargs = int(sh.args.size());
  bool broadcast = nvals == nargs;
  if (!broadcast && nvals != nargs * sh.width)
    throw BadInput("eval: " + std::string(qarn::reg::short_name(e)) + " takes " + std::to_string(nargs) +
                   " argument(s) of " + std::to_string(sh.width) + " lane(s): give " + std::to_string(nargs) +
                   " value(s) (one per argument) or " + std::to_string(nargs * sh.width) + " (one per lane); got " +
                   std::to_string(nvals));
  // Lane 3 of width 3 gets lane 0's value: the export replaces it by its filler.
  std::vector<qa::Lanes> args(nargs, qa::Lanes(sh.lanes, 0));
  for (int a = 0; a < nargs; ++a) {
    const cli::Lane t = lane_of(sh.args[a], e.prec);
    for (int i = 0; i < (broadcast ? 1 : sh.width); ++i) {
      try {
        args[a][i] = cli::parse_lane(argv[1 + (broadcast ? a : a * sh.width + i)], t);
      } catch (const BadInput& x) {
        std::string where = "argument " + std::to_string(a + 1) + (broadcast ? "" : " lane " + std::to_string(i));
        throw BadInput("eval: " + where + " (" + cli::lane_name(t) + "): " + x.what());
      }
    }
    for (int i = broadcast ? 1 : sh.width; i < sh.lanes; ++i) args[a][i] = args[a][0];
  }
  qa::Invoker inv(qa::library_path());
  qa::Outcome o = inv.call(e, args, 1);
  std::string results = sh.results + sh.ptrs;
  for (size_t k = 0; k < o.results.size(); ++k) {
    std::printf("%s %zu (%s):\n", k < sh.results.size() ? "result" : "stored result", k,
                cli::lane_name(lane_of(results[k], e.prec)));
    for (int i = 0; i < sh.width && i < int(o.results[k].size()); ++i)
      std::printf("  [%2d] %s\n", i, cli::format_lane(o.results[k][i], lane_of(results[k], e.prec)).c_str());
  }
  return 0;
}

int cmd_ulp(int argc, char** argv) {
  if (argc < 1) throw BadInput("ulp: which export? (qarn ulp EXPORT [--range LO HI] [-n N])");
  const Export& e = export_named(argv[0]);
  if (!e.present || std::string(e.kind) != "f:f" || !qarn::oracle::has_unary(e.family))
    throw BadInput(std::string("ulp: ") + qarn::reg::short_name(e) +
                   " is not a present one-argument export with an MPFR reference");
  const cli::Lane t = e.prec == 'd' ? cli::Lane::f64 : cli::Lane::f32;
  double lo = e.lo, hi = e.hi;
  uint64_t n = 100000;
  bool have_range = false, have_n = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--range") {
      if (have_range) throw BadInput("ulp: --range given twice");
      if (i + 2 >= argc) throw BadInput("ulp: --range takes two values, LO and HI");
      try {
        lo = cli::parse_finite(argv[i + 1], t);
        hi = cli::parse_finite(argv[i + 2], t);
      } catch (const BadInput& x) {
        throw BadInput(std::string("ulp: --range: ") + x.what());
      }
      if (!(lo < hi))
        throw BadInput(std::string("ulp: --range ") + argv[i + 1] + " " + argv[i + 2] +
                       " is empty: LO must be below HI");
      if (!std::isfinite(hi - lo)) throw BadInput("ulp: --range is wider than the largest double");
      have_range = true;
      i += 2;
    } else if (a == "-n") {
      if (have_n) throw BadInput("ulp: -n given twice");
      if (i + 1 >= argc) throw BadInput("ulp: -n takes a count");
      n = cli::parse_count(argv[++i], "ulp: -n", 1, 1000000000000ull);
      have_n = true;
    } else {
      throw BadInput("ulp: unknown option '" + a + "'");
    }
  }
  qa::Shape sh = qa::shape_of(e);
  qa::Invoker inv(qa::library_path());
  cli::Progress progress(std::string("qarn ulp ") + qarn::reg::short_name(e), n);
  uint64_t s = 0x5EED;
  double worst = 0, wx = 0, wgot = 0;
  uint64_t done = 0;
  while (done < n) {
    qa::Lanes l(sh.lanes);
    std::vector<double> xs(sh.lanes);
    for (int i = 0; i < sh.lanes; ++i) {
      s = s * 6364136223846793005ull + 1442695040888963407ull;
      double u = double(s >> 11) * 0x1p-53;
      double x = std::min(hi, lo + (hi - lo) * u);
      if (e.prec == 'f') x = float(x);
      xs[i] = x;
      l[i] = e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x);
    }
    qa::Outcome o = inv.call(e, {l}, s);
    for (int i = 0; i < sh.width && done < n; ++i, ++done) {
      double got = e.prec == 'f' ? double(qa::as_float(o.results[0][i])) : qa::as_double(o.results[0][i]);
      double err = qarn::oracle::ulp_error(e.family, e.prec, xs[i], got);
      if (!(err <= worst)) worst = err, wx = xs[i], wgot = got;
    }
    progress.update(done);
  }
  bool ok = e.ulp < 0 || worst <= e.ulp;
  char bound[48];
  if (e.ulp < 0) std::snprintf(bound, sizeof bound, "no bound stated");
  else std::snprintf(bound, sizeof bound, "bound %g ulp", e.ulp);
  std::printf("%s %-18s [%g, %g] n=%" PRIu64 ": worst %.3f ulp (%s) at x = %a (got %a, want %a)\n",
              ok ? "PASS" : "FAIL", qarn::reg::short_name(e), lo, hi, n, worst, bound, wx, wgot,
              qarn::oracle::reference(e.family, e.prec, wx));
  return ok ? 0 : 1;
}

// One line per family, precision and variant: the width-1 export's fingerprint.
// Families whose lanes depend on the processor's reciprocal estimate are left out
// of the checked-in file; --all adds them (fingerprints of this machine only).
// --modes: every present export, each width on its own, in each rounding direction.
int cmd_hash(int argc, char** argv) {
  bool all = false, modes = false;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--all")) all = true;
    else if (!std::strcmp(argv[i], "--modes")) modes = true;
    else throw BadInput(std::string("hash: unknown option '") + argv[i] + "'");
  }
  qa::Invoker inv(qa::library_path());
  if (modes) {
    for (const Export& e : qarn::reg::all()) {
      if (!e.present) continue;
      for (int m = 0; m < 4; ++m) {
        inv.set_rounding(m);
        std::printf("%s %s %016" PRIx64 "\n", qarn::reg::short_name(e), qa::kModeNames[m],
                    qa::lane_hash(inv, e, qa::kModeOperands, true));
      }
    }
    return 0;
  }
  std::map<std::string, uint64_t> lines;
  for (const Export& e : qarn::reg::all())
    if (e.present && e.width == 1 && (all || !e.estimate)) lines[qa::hash_key(e)] = qa::lane_hash(inv, e);
  for (auto& [k, h] : lines) std::printf("%s %016" PRIx64 "\n", k.c_str(), h);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string cmd = argv[1];
  if (is_help(argv[1]) || cmd == "help") return help();
  for (int i = 2; i < argc; ++i)
    if (is_help(argv[i])) return help();
  try {
    if (cmd == "list") return cmd_list(argc - 2, argv + 2);
    if (cmd == "eval") return cmd_eval(argc - 2, argv + 2);
    if (cmd == "ulp") return cmd_ulp(argc - 2, argv + 2);
    if (cmd == "hash") return cmd_hash(argc - 2, argv + 2);
    return bad("unknown command '" + cmd + "' (list, eval, ulp, hash)");
  } catch (const BadInput& x) {
    return bad(x.what());
  } catch (const std::exception& x) {
    std::fprintf(stderr, "qarn: %s\n", x.what());
    return 1;
  }
}
