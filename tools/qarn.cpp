// qarn: look at the library from the command line (qarn --help for the commands and
// the notation of values).  Every input is checked before any export is called: a
// bad one is reported on stderr with exit status 2.
#include <algorithm>
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
    "       qarn ulp EXPORT [--range LO HI] [--y LO HI] [--z LO HI] [--n LO HI] [--bins K] [-n N]\n"
    "       qarn hash [--all | --modes]\n"
    "       qarn --help\n";

int help() {
  std::printf(
      "%s\n"
      "  list   the exports by family, present (+) or missing (-) in this build;\n"
      "         --missing or --present shows only those; FAMILY limits the list (exp, logb, cvtfptoi32, ...)\n"
      "  eval   calls EXPORT through the register-level caller and prints every result lane;\n"
      "         one VALUE per argument (used in every lane) or one per lane of each argument in turn\n"
      "  ulp    worst error of an export against MPFR, with the export's bound, for each of its\n"
      "         results (a second one: sincos's cosine, modf's and fract's integral part, frexp's\n"
      "         exponent, lgamma_r's sign, remquo's quotient, which must agree in sign and low 3 bits);\n"
      "         --range LO HI   first operands drawn uniformly from [LO, HI] (default: the registry's interval)\n"
      "         --y LO HI, --z LO HI   the second and third floating operands (default: the registry's)\n"
      "         --n LO HI       the integer operand of pown, rootn, ldexp (default [-8, 8], ldexp [-20, 20])\n"
      "         --bins K        also the worst error of the first result in each of K slices of the\n"
      "                         first operand's range (log-spaced over a wide range of one sign): 'bin LO HI ULP'\n"
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

// An operand interval: floating bounds, or integer ones for the int operand.
struct Range {
  double lo = 0, hi = 0;
  bool set = false;
};

// One result of an export against its reference over the run.
struct Worst {
  double err = 0;     // floating results: ulps
  uint64_t bad = 0;   // integer results: lanes that disagree
  qarn::oracle::Operands at;
  double got = 0;
  long got_n = 0;
  bool seen = false;
};

std::string operands_text(const std::string& args, const qarn::oracle::Operands& in) {
  std::string t;
  int f = 0;
  char buf[48];
  for (char k : args) {
    if (!t.empty()) t += ", ";
    if (k == 'f') std::snprintf(buf, sizeof buf, "%a", in.f[f++]);
    else std::snprintf(buf, sizeof buf, "%ld", in.n);
    t += buf;
  }
  return t;
}

int cmd_ulp(int argc, char** argv) {
  if (argc < 1) throw BadInput("ulp: which export? (qarn ulp EXPORT [--range LO HI] [--y LO HI] ... [-n N])");
  const Export& e = export_named(argv[0]);
  qa::Shape sh = qa::shape_of(e);
  std::string kind(e.kind), args = kind.substr(0, kind.find(':'));
  const int known = e.present ? qarn::oracle::results_known(e.family, args.c_str()) : 0;
  if (known == 0)
    throw BadInput(std::string("ulp: ") + qarn::reg::short_name(e) + " is not a present export with an MPFR reference");
  const cli::Lane t = e.prec == 'd' ? cli::Lane::f64 : cli::Lane::f32;
  const int nfloat = int(std::count(args.begin(), args.end(), 'f'));
  const bool has_int = args.find('i') != std::string::npos;
  // Defaults: the registry's intervals; the integer operand in [-8, 8] (ldexp [-20, 20]).
  Range r[3], rn;
  r[0] = {e.lo, e.hi, false};
  r[1] = e.y_lo < e.y_hi ? Range{e.y_lo, e.y_hi, false} : r[0];
  r[2] = r[0];
  rn = std::string_view(e.family) == "ldexp" ? Range{-20, 20, false} : Range{-8, 8, false};
  uint64_t n = 100000;
  bool have_n = false;
  int bins = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--range" || a == "--y" || a == "--z" || a == "--n") {
      Range* target = a == "--range" ? &r[0] : a == "--y" ? &r[1] : a == "--z" ? &r[2] : &rn;
      if (a == "--n" && !has_int) throw BadInput("ulp: " + a + ": " + qarn::reg::short_name(e) + " has no integer operand");
      if (a == "--y" && nfloat < 2) throw BadInput("ulp: " + a + ": " + qarn::reg::short_name(e) + " has no second floating operand");
      if (a == "--z" && nfloat < 3) throw BadInput("ulp: " + a + ": " + qarn::reg::short_name(e) + " has no third floating operand");
      if (target->set) throw BadInput("ulp: " + a + " given twice");
      if (i + 2 >= argc) throw BadInput("ulp: " + a + " takes two values, LO and HI");
      try {
        if (a == "--n") {
          target->lo = double(int32_t(cli::parse_lane(argv[i + 1], cli::Lane::i32)));
          target->hi = double(int32_t(cli::parse_lane(argv[i + 2], cli::Lane::i32)));
        } else {
          target->lo = cli::parse_finite(argv[i + 1], t);
          target->hi = cli::parse_finite(argv[i + 2], t);
        }
      } catch (const BadInput& x) {
        throw BadInput("ulp: " + a + ": " + x.what());
      }
      if (!(target->lo < target->hi))
        throw BadInput("ulp: " + a + " " + argv[i + 1] + " " + argv[i + 2] + " is empty: LO must be below HI");
      if (!std::isfinite(target->hi - target->lo)) throw BadInput("ulp: " + a + " is wider than the largest double");
      target->set = true;
      i += 2;
    } else if (a == "--bins") {
      if (bins) throw BadInput("ulp: --bins given twice");
      if (i + 1 >= argc) throw BadInput("ulp: --bins takes a count");
      bins = int(cli::parse_count(argv[++i], "ulp: --bins", 1, 10000));
    } else if (a == "-n") {
      if (have_n) throw BadInput("ulp: -n given twice");
      if (i + 1 >= argc) throw BadInput("ulp: -n takes a count");
      n = cli::parse_count(argv[++i], "ulp: -n", 1, 1000000000000ull);
      have_n = true;
    } else {
      throw BadInput("ulp: unknown option '" + a + "'");
    }
  }
  qa::Invoker inv(qa::library_path());
  cli::Progress progress(std::string("qarn ulp ") + qarn::reg::short_name(e), n);
  uint64_t s = 0x5EED;
  auto uniform = [&s] {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return double(s >> 11) * 0x1p-53;
  };
  std::vector<Worst> worst(known);
  // --bins: the first result's worst error per slice of the first operand's range,
  // log-spaced (and the operand drawn log-uniformly) over a wide range of one sign.
  const bool log_bins = bins && r[0].lo * r[0].hi > 0 && std::max(r[0].hi / r[0].lo, r[0].lo / r[0].hi) >= 1000;
  std::vector<double> bin_worst(size_t(bins), 0.0);
  auto bin_of = [&](double x) {
    double u = log_bins ? std::log(x / r[0].lo) / std::log(r[0].hi / r[0].lo) : (x - r[0].lo) / (r[0].hi - r[0].lo);
    return std::clamp(int(u * bins), 0, bins - 1);
  };
  const std::string results = sh.results + sh.ptrs;
  qarn::oracle::Exact ex;
  uint64_t done = 0;
  while (done < n) {
    std::vector<qa::Lanes> lanes(args.size(), qa::Lanes(sh.lanes));
    std::vector<qarn::oracle::Operands> ops(sh.lanes);
    for (int i = 0; i < sh.lanes; ++i) {
      int f = 0;
      for (size_t a = 0; a < args.size(); ++a) {
        if (args[a] == 'f') {
          double x = f == 0 && log_bins ? r[0].lo * std::exp(std::log(r[0].hi / r[0].lo) * uniform())
                                        : std::min(r[f].hi, r[f].lo + (r[f].hi - r[f].lo) * uniform());
          if (e.prec == 'f') x = float(x);
          ops[i].f[f++] = x;
          ops[i].prec = e.prec;
          lanes[a][i] = e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x);
        } else {
          long k = long(std::floor(rn.lo + (rn.hi - rn.lo + 1) * uniform()));
          ops[i].n = std::min(k, long(rn.hi));
          lanes[a][i] = uint32_t(int32_t(ops[i].n));
        }
      }
    }
    qa::Outcome o = inv.call(e, lanes, s);
    for (int i = 0; i < sh.width && done < n; ++i, ++done) {
      for (int k = 0; k < known && k < int(o.results.size()); ++k) {
        qarn::oracle::exact(e.family, args.c_str(), k, ops[i], ex);
        Worst& w = worst[k];
        uint64_t bits = o.results[k][i];
        if (ex.integer) {
          long got = results[k] == 'f' ? 0 : long(int32_t(uint32_t(bits)));
          bool ok = qarn::oracle::int_agrees(e.family, ex, got);
          if (!ok) ++w.bad;
          if (!ok && !w.seen) w.at = ops[i], w.got_n = got, w.seen = true;
        } else {
          double got = e.prec == 'f' ? double(qa::as_float(bits)) : qa::as_double(bits);
          double err = qarn::oracle::ulp_of(ex, e.prec, got);
          if (bins && k == 0) {
            double& b = bin_worst[size_t(bin_of(ops[i].f[0]))];
            b = std::max(b, err);
          }
          // A bound of 0: the correctly rounded value, bit for bit (NaN for NaN).
          if (e.ulp == 0) {
            double want = qarn::oracle::rounded(ex, e.prec);
            bool same = std::isnan(want) ? std::isnan(got) : qa::bits_of(want) == qa::bits_of(got);
            if (!same) ++w.bad;
            if (!same && w.bad == 1) w.err = err, w.at = ops[i], w.got = got, w.seen = true;
            if (w.bad == 0 && (!(err <= w.err) || !w.seen)) w.err = std::max(w.err, err), w.at = ops[i], w.got = got, w.seen = true;
            continue;
          }
          if (!(err <= w.err) || !w.seen) w.err = std::max(w.err, err), w.at = ops[i], w.got = got, w.seen = true;
        }
      }
    }
    progress.update(done);
  }
  // One line per result: the returned one against the export's bound, a second
  // floating one against the same bound, a second integer one exactly.
  bool all_ok = true;
  std::string where;
  char buf[96];
  for (int f = 0; f < nfloat; ++f) {
    std::snprintf(buf, sizeof buf, "%s[%g, %g]", where.empty() ? "" : " ", r[f].lo, r[f].hi);
    where += buf;
  }
  if (has_int) std::snprintf(buf, sizeof buf, " n in [%g, %g]", rn.lo, rn.hi), where += buf;
  for (int k = 0; k < known; ++k) {
    const Worst& w = worst[k];
    qarn::oracle::exact(e.family, args.c_str(), k, w.at, ex);
    std::string label = std::string(qarn::reg::short_name(e)) + (k ? " (second result)" : "");
    if (ex.integer) {
      bool ok = w.bad == 0;
      all_ok &= ok;
      if (ok) std::printf("PASS %-18s %s n=%" PRIu64 ": every integer result agrees\n", label.c_str(), where.c_str(), n);
      else
        std::printf("FAIL %-18s %s n=%" PRIu64 ": %" PRIu64 " integer results disagree, first at (%s) (got %ld, want %ld)\n",
                    label.c_str(), where.c_str(), n, w.bad, operands_text(args, w.at).c_str(), w.got_n, ex.n);
      continue;
    }
    std::string at = args == "f" ? "x = " + operands_text(args, w.at) : "(" + operands_text(args, w.at) + ")";
    if (e.ulp == 0) {
      bool ok = w.bad == 0;
      all_ok &= ok;
      if (ok)
        std::printf("PASS %-18s %s n=%" PRIu64 ": every result correctly rounded (worst %.3f ulp at %s)\n",
                    label.c_str(), where.c_str(), n, w.err, at.c_str());
      else
        std::printf("FAIL %-18s %s n=%" PRIu64 ": %" PRIu64 " results not correctly rounded, first at %s (got %a, want %a)\n",
                    label.c_str(), where.c_str(), n, w.bad, at.c_str(), w.got, qarn::oracle::rounded(ex, e.prec));
      continue;
    }
    bool ok = e.ulp < 0 || w.err <= e.ulp;
    all_ok &= ok;
    char bound[48];
    if (e.ulp < 0) std::snprintf(bound, sizeof bound, "no bound stated");
    else std::snprintf(bound, sizeof bound, "bound %g ulp", e.ulp);
    std::printf("%s %-18s %s n=%" PRIu64 ": worst %.3f ulp (%s) at %s (got %a, want %a)\n", ok ? "PASS" : "FAIL",
                label.c_str(), where.c_str(), n, w.err, bound, at.c_str(), w.got, qarn::oracle::rounded(ex, e.prec));
  }
  for (int b = 0; b < bins; ++b) {
    double t0 = double(b) / bins, t1 = double(b + 1) / bins;
    double lo = log_bins ? r[0].lo * std::pow(r[0].hi / r[0].lo, t0) : r[0].lo + (r[0].hi - r[0].lo) * t0;
    double hi = log_bins ? r[0].lo * std::pow(r[0].hi / r[0].lo, t1) : r[0].lo + (r[0].hi - r[0].lo) * t1;
    std::printf("bin %.17g %.17g %.6g\n", lo, hi, bin_worst[size_t(b)]);
  }
  return all_ok ? 0 : 1;
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
