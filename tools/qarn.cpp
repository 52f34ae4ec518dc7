// qarn: look at the library from the command line.
//
//   qarn list [--missing|--present] [FAMILY]   every export by family, present or missing
//   qarn eval EXPORT VALUE...                  call one export through the register-level caller
//   qarn ulp EXPORT [--range LO HI] [-n N]     worst error against MPFR and its input
//   qarn hash [--all]                          lane fingerprints of every present export
//                                              (the format of tests/golden/lane_hashes.txt)
//
// eval takes one VALUE per argument (used in every lane) or one per lane of each
// argument in turn.  A VALUE is a decimal or hexadecimal float (1.5, -0x1.8p+3, nan,
// inf) or, written 0x followed by hex digits only, a raw lane pattern.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/lanehash.h"
#include "support/oracle.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: qarn list [--missing|--present] [FAMILY]\n"
               "       qarn eval EXPORT VALUE...\n"
               "       qarn ulp EXPORT [--range LO HI] [-n N]\n"
               "       qarn hash [--all]\n");
  return 2;
}

const Export* find_export(const char* name) {
  const Export* e = qarn::reg::find(name);
  if (!e) e = qarn::reg::find(name);
  if (!e) std::fprintf(stderr, "qarn: no export named %s\n", name);
  return e;
}

int cmd_list(int argc, char** argv) {
  bool only_missing = false, only_present = false;
  const char* family = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--missing")) only_missing = true;
    else if (!std::strcmp(argv[i], "--present")) only_present = true;
    else family = argv[i];
  }
  std::map<std::string, std::vector<const Export*>> by_family;
  std::vector<std::string> order;
  for (const Export& e : qarn::reg::all()) {
    if (!by_family.count(e.family)) order.push_back(e.family);
    by_family[e.family].push_back(&e);
  }
  int total = 0, present = 0;
  for (const std::string& f : order) {
    if (family && f != family) continue;
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

bool is_int_kind(char k) { return std::strchr("iulqc", k) != nullptr; }

uint64_t parse_value(const char* s, char kind, const qa::Shape& sh) {
  int lb = sh.lane_bytes(kind);
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && std::strspn(s + 2, "0123456789abcdefABCDEF") == std::strlen(s + 2))
    return std::strtoull(s, nullptr, 16);
  if (is_int_kind(kind)) {
    long long v = std::strtoll(s, nullptr, 0);
    return lb == 4 ? uint64_t(uint32_t(v)) : uint64_t(v);
  }
  double d = std::strtod(s, nullptr);
  return lb == 4 ? qa::bits_of(float(d)) : qa::bits_of(d);
}

void print_lane(char kind, const qa::Shape& sh, int i, uint64_t v) {
  int lb = sh.lane_bytes(kind);
  if (is_int_kind(kind)) {
    if (lb == 4) std::printf("  [%2d] %" PRId32 " (%" PRIu32 ")  0x%08" PRIx32 "\n", i, int32_t(v), uint32_t(v), uint32_t(v));
    else std::printf("  [%2d] %" PRId64 " (%" PRIu64 ")  0x%016" PRIx64 "\n", i, int64_t(v), v, v);
  } else if (lb == 4) {
    std::printf("  [%2d] %.9g  %a  0x%08" PRIx32 "\n", i, qa::as_float(v), qa::as_float(v), uint32_t(v));
  } else {
    std::printf("  [%2d] %.17g  %a  0x%016" PRIx64 "\n", i, qa::as_double(v), qa::as_double(v), v);
  }
}

int cmd_eval(int argc, char** argv) {
  if (argc < 2) return usage();
  const Export* e = find_export(argv[0]);
  if (!e) return 1;
  if (!e->present) {
    std::fprintf(stderr, "qarn: %s is not in this build of the library\n", e->name);
    return 1;
  }
  qa::Shape sh = qa::shape_of(*e);
  int nvals = argc - 1;
  int nargs = int(sh.args.size());
  bool broadcast = nvals == nargs;
  if (!broadcast && nvals != nargs * sh.width) {
    std::fprintf(stderr, "qarn: %s takes %d argument(s) of %d lane(s): give %d or %d values\n", e->name, nargs,
                 sh.width, nargs, nargs * sh.width);
    return 2;
  }
  std::vector<qa::Lanes> args(nargs, qa::Lanes(sh.lanes, 0));
  for (int a = 0; a < nargs; ++a)
    for (int i = 0; i < sh.lanes; ++i) {
      int li = i < sh.width ? i : 0;  // lane 3 of width 3: anything; the export writes the filler
      const char* s = argv[1 + (broadcast ? a : a * sh.width + li)];
      args[a][i] = parse_value(s, sh.args[a], sh);
    }
  qa::Invoker inv(qa::library_path());
  qa::Outcome o = inv.call(*e, args, 1);
  std::string results = sh.results + sh.ptrs;
  for (size_t k = 0; k < o.results.size(); ++k) {
    std::printf("%s %zu:\n", k < sh.results.size() ? "result" : "stored result", k);
    for (int i = 0; i < sh.width && i < int(o.results[k].size()); ++i) print_lane(results[k], sh, i, o.results[k][i]);
  }
  return 0;
}

int cmd_ulp(int argc, char** argv) {
  if (argc < 1) return usage();
  const Export* e = find_export(argv[0]);
  if (!e) return 1;
  if (!e->present || std::string(e->kind) != "f:f" || !qarn::oracle::has_unary(e->family)) {
    std::fprintf(stderr, "qarn: %s is not a present one-argument export with an MPFR reference\n", e->name);
    return 1;
  }
  double lo = e->lo, hi = e->hi;
  long n = 100000;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--range") && i + 2 < argc) lo = std::strtod(argv[i + 1], nullptr), hi = std::strtod(argv[i + 2], nullptr), i += 2;
    else if (!std::strcmp(argv[i], "-n") && i + 1 < argc) n = std::strtol(argv[++i], nullptr, 0);
    else return usage();
  }
  qa::Shape sh = qa::shape_of(*e);
  qa::Invoker inv(qa::library_path());
  uint64_t s = 0x5EED;
  double worst = 0, wx = 0, wgot = 0;
  long done = 0;
  while (done < n) {
    qa::Lanes l(sh.lanes);
    std::vector<double> xs(sh.lanes);
    for (int i = 0; i < sh.lanes; ++i) {
      s = s * 6364136223846793005ull + 1442695040888963407ull;
      double u = double(s >> 11) * 0x1p-53;
      double x = lo + (hi - lo) * u;
      if (e->prec == 'f') x = float(x);
      xs[i] = x;
      l[i] = e->prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x);
    }
    qa::Outcome o = inv.call(*e, {l}, s);
    for (int i = 0; i < sh.width && done < n; ++i, ++done) {
      double got = e->prec == 'f' ? double(qa::as_float(o.results[0][i])) : qa::as_double(o.results[0][i]);
      double err = qarn::oracle::ulp_error(e->family, e->prec, xs[i], got);
      if (!(err <= worst)) worst = err, wx = xs[i], wgot = got;
    }
  }
  std::printf("%s %s [%g;%g] n=%ld maxerr %.3f ulp at x = %a (got %a, want %a)\n",
              (e->ulp < 0 || worst <= e->ulp) ? "PASS" : "FAIL", e->name, lo, hi, n, worst, wx, wgot,
              qarn::oracle::reference(e->family, e->prec, wx));
  return (e->ulp < 0 || worst <= e->ulp) ? 0 : 1;
}

// One line per family, precision and variant: the width-1 export's fingerprint.
// Families whose lanes depend on the processor's reciprocal estimate are left out
// of the checked-in file; --all adds them (fingerprints of this machine only).
int cmd_hash(bool all) {
  qa::Invoker inv(qa::library_path());
  std::map<std::string, uint64_t> lines;
  for (const Export& e : qarn::reg::all())
    if (e.present && e.width == 1 && (all || !e.estimate)) lines[qa::hash_key(e)] = qa::lane_hash(inv, e);
  for (auto& [k, h] : lines) std::printf("%s %016" PRIx64 "\n", k.c_str(), h);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  try {
    if (!std::strcmp(argv[1], "list")) return cmd_list(argc - 2, argv + 2);
    if (!std::strcmp(argv[1], "eval")) return cmd_eval(argc - 2, argv + 2);
    if (!std::strcmp(argv[1], "ulp")) return cmd_ulp(argc - 2, argv + 2);
    if (!std::strcmp(argv[1], "hash")) return cmd_hash(argc > 2 && !std::strcmp(argv[2], "--all"));
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "qarn: %s\n", ex.what());
    return 1;
  }
  return usage();
}
