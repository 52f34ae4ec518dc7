// The slice benchmark: is an export as fast in every part of its domain?
//
// Each operand's interval (the one the timing loops use, operand_interval()) is
// cut into eight slices, log-spaced when it spans many binades of one sign, linear
// otherwise.  Each slice gets its own inputs (the other operands keep their whole
// interval, with the same values in every slice), and the export is timed per
// element on each, interleaved over several rounds, best round kept.  The line of
// an export shows the eight times and the slowest over the fastest; above 2 it is
// flagged.  Slices reaching into a band the family finishes in its lane fallback
// (or fixes inline) are timed and marked but left out of the ratio: there the
// scalar lane fallback is the design, not a stall.
//
// The tiny band: a floating operand whose interval reaches zero also gets a
// second slice set, magnitudes log-spaced from the smallest normal number to the
// interval's largest one (both signs where the interval has both), where squares
// and cubes of the operand go subnormal on a main path that does not watch for it.
// Its slices are held to the fastest of the operand's ordinary slices, timed in
// the same rounds: the question is whether tiny operands are slower than the
// main path, and a band finished in closed form is often faster than it.
//
//   qarn_bench --slices                    every present export
//   qarn_bench --slices --check            exit 1 if a ratio stays above 2 after
//                                          re-measuring the flagged exports
//   options: --filter=REGEX (short export names), --rounds=N, --elems=N,
//            --x=LO:HI and --y=LO:HI (replace the interval of the first and second
//            operand), --registry (the registry's intervals for floating operands)
//
// Every calling form is driven from the registry's signature kind, with no code
// per export: the register form gets its vector registers and integer registers
// prepared per call, the by-reference form its argument addresses.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <limits>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench.h"
#include "bench/call.h"
#include "support/registry.h"

namespace qbench {
namespace {

namespace reg = qarn::reg;

constexpr int kSlices = 8;
constexpr double kLimit = 2.0;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Operand bands whose lanes the family sends to its lane fallback or fixes inline
// (the special-lane tests of the kernel headers), per family, precision and
// operand.  A slice that overlaps one is not held to the ratio.
struct Band {
  const char* families;  // space-separated
  char prec;
  int arg;
  double lo, hi;
};
const Band kFallbackBands[] = {
    // exponentials: beyond the main path's bound on |x|
    {"exp", 'f', 0, -kInf, -87.3365402}, {"exp", 'f', 0, 87.3365402, kInf},
    {"exp", 'd', 0, -kInf, -708.39599609375}, {"exp", 'd', 0, 708.39599609375, kInf},
    {"exp2", 'f', 0, -kInf, -126.0}, {"exp2", 'f', 0, 126.0, kInf},
    {"exp2", 'd', 0, -kInf, -1022.0}, {"exp2", 'd', 0, 1022.0, kInf},
    {"exp10", 'f', 0, -kInf, -37.9297791}, {"exp10", 'f', 0, 37.9297791, kInf},
    {"exp10", 'd', 0, -kInf, -307.652587890625}, {"exp10", 'd', 0, 307.652587890625, kInf},
    {"expm1", 'f', 0, -kInf, -86.6433945}, {"expm1", 'f', 0, 86.6433945, kInf},
    {"expm1", 'd', 0, -kInf, -707.7032713517041}, {"expm1", 'd', 0, 707.7032713517041, kInf},
    // logarithms: zero, negative and subnormal operands
    {"log log2 log10", 'f', 0, -kInf, 1.17549435e-38}, {"log log2 log10", 'd', 0, -kInf, 2.2250738585072014e-308},
    {"log1p", 'f', 0, -kInf, -0.99999994}, {"log1p", 'd', 0, -kInf, -0.99999999999999989},
    // rsqrt (double): exponent fields below 0x035 (the _native and _half variants' 0x003 is not told apart)
    {"rsqrt", 'd', 0, -kInf, 0x1p-970},
    // x to an integer power: n ln|x| out of the path's range for some n in [-8, 8], the timing
    // loops' interval (overflowing, zero and subnormal results)
    {"pown rootn", 'f', 0, -0x1p-15, 0x1p-15}, {"pown rootn", 'd', 0, -0x1p-127, 0x1p-127},
    // fma (double): products below 2^-900, which the vector path leaves to the exact sums
    // (the other operand of the timing loops' interval is at most 1000)
    {"fma", 'd', 0, -0x1p-890, 0x1p-890}, {"fma", 'd', 1, -0x1p-890, 0x1p-890},
    // ldexp: tiny x scaled down by n in [-20, 20] (subnormal results)
    {"ldexp", 'f', 0, -0x1p-106, 0x1p-106}, {"ldexp", 'd', 0, -0x1p-1002, 0x1p-1002},
    // atan2, atan2pi: an operand below the range test's floor goes to the lane fallback
    {"atan2 atan2pi", 'f', 0, -0x1p-125, 0x1p-125}, {"atan2 atan2pi", 'f', 1, -0x1p-125, 0x1p-125},
    {"atan2 atan2pi", 'd', 0, -0x1p-1020, 0x1p-1020}, {"atan2 atan2pi", 'd', 1, -0x1p-1020, 0x1p-1020},
    // results below the smallest normal number (quotients by pi), not stalls of the main path
    {"asinpi atanpi", 'f', 0, -0x1.92p-125, 0x1.92p-125}, {"asinpi atanpi", 'd', 0, -0x1.92p-1021, 0x1.92p-1021},
    {"atan2pi", 'f', 0, -0x1.92p-125, 0x1.92p-125}, {"atan2pi", 'd', 0, -0x1.92p-1021, 0x1.92p-1021},
    // div: quotients below the smallest normal number (y of the timing loops is at
    // most 1000), a subnormal result rather than a stall of the main path
    {"div", 'f', 0, -0x1.f4p-117, 0x1.f4p-117}, {"div", 'd', 0, -0x1.f4p-1013, 0x1.f4p-1013},
    // erfc: results below half the smallest subnormal number (zero), +infinity
    {"erfc", 'f', 0, 10.0541, kInf}, {"erfc", 'd', 0, 27.2263, kInf},
};

bool word_in(std::string_view words, std::string_view w) {
  size_t i = 0;
  while (i < words.size()) {
    size_t j = words.find(' ', i);
    if (j == std::string_view::npos) j = words.size();
    if (words.substr(i, j - i) == w) return true;
    i = j + 1;
  }
  return false;
}

bool in_band(const reg::Export& e, int arg, double lo, double hi, bool both = false) {
  for (const Band& b : kFallbackBands)
    if (b.prec == e.prec && b.arg == arg && word_in(b.families, e.family) &&
        ((lo < b.hi && hi > b.lo) || (both && -hi < b.hi && -lo > b.lo)))
      return true;
  return false;
}

// Bytes per lane of an operand kind (see frame/registry.py).
int lane_bytes(char k, char prec) {
  switch (k) {
    case 'f': case 'c': return prec == 'd' ? 8 : 4;
    case 'F': case 'i': case 'u': return 4;
    default: return 8;  // D l q
  }
}
bool floating(char k) { return k == 'f' || k == 'F' || k == 'D'; }
bool is_double(char k, char prec) { return k == 'D' || (k == 'f' && prec == 'd'); }
int storage_bytes(int lb, int w) { return lb * (w == 3 ? 4 : w); }

// Slice s of [lo, hi] out of kSlices.
bool log_spaced(const Interval& iv) {
  if (iv.integer) return false;
  if (iv.log) return true;
  return (iv.lo > 0 && iv.hi / iv.lo >= 1024) || (iv.hi < 0 && iv.lo / iv.hi >= 1024);
}
Interval slice_of(const Interval& iv, int s) {
  Interval r = iv;
  r.log = iv.both || log_spaced(iv);
  double a = double(s) / kSlices, b = double(s + 1) / kSlices;
  if (r.log) {
    double sg = iv.lo < 0 ? -1 : 1, l0 = std::log(std::fabs(iv.lo)), l1 = std::log(std::fabs(iv.hi));
    r.lo = sg * std::exp(l0 + a * (l1 - l0));
    r.hi = sg * std::exp(l0 + b * (l1 - l0));
  } else {
    r.lo = iv.lo + a * (iv.hi - iv.lo);
    r.hi = iv.lo + b * (iv.hi - iv.lo);
  }
  if (iv.integer) r.lo = std::ceil(r.lo), r.hi = std::max(r.lo, std::floor(r.hi));
  return r;
}

// One lane value drawn from an interval, written as an operand of kind k.
void draw(std::mt19937_64& g, const Interval& iv, char k, char prec, bool divisor, unsigned char* p) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  if (floating(k)) {
    double t = u(g), v;
    if (iv.both) {
      v = std::exp(std::log(iv.lo) + t * (std::log(iv.hi) - std::log(iv.lo)));
      if (g() & 1) v = -v;
    } else if (iv.log) {
      double sg = iv.lo < 0 ? -1 : 1, l0 = std::log(std::fabs(iv.lo)), l1 = std::log(std::fabs(iv.hi));
      v = sg * std::exp(l0 + t * (l1 - l0));
    } else {
      v = iv.lo + t * (iv.hi - iv.lo);
    }
    if (is_double(k, prec)) std::memcpy(p, &v, 8);
    else { float f = float(v); std::memcpy(p, &f, 4); }
    return;
  }
  int64_t lo = int64_t(iv.lo), hi = std::max(int64_t(iv.lo), int64_t(iv.hi));
  int64_t v = std::uniform_int_distribution<int64_t>(lo, hi)(g);
  if (divisor && v == 0) v = 1;
  std::memcpy(p, &v, lane_bytes(k, prec));  // little endian: the low bytes
}

// The operands of one export: kinds, and where each goes in a register-form call.
struct Shape {
  std::string args, ptrs;
  int nv = 0, ng = 0;            // vector and integer registers of the register form
  bool ok = true;
};
Shape shape_of(const reg::Export& e) {
  Shape s;
  std::string_view kind(e.kind);
  size_t colon = kind.find(':');
  for (size_t i = 0; i < kind.size(); ++i) {
    if (i == colon) continue;
    if (kind[i] == 'p') s.ptrs += kind[++i];
    else if (i < colon) s.args += kind[i];
  }
  if (e.by_ref) {
    s.ok = 1 + s.args.size() + s.ptrs.size() <= 4;
    return s;
  }
  for (char k : s.args) {
    if (e.width == 1 && !floating(k)) ++s.ng;
    else s.nv += (storage_bytes(lane_bytes(k, e.prec), e.width) + 31) / 32;
  }
  s.ng += int(s.ptrs.size());
  s.ok = s.nv <= 4 && s.ng <= 4;
  return s;
}

// Calls prepared for one slice: per call, the register contents (register form) or
// the argument addresses (by-reference form).
struct Calls {
  int n = 0;
  struct Reg {
    R r;
  };
  std::vector<Reg> v;                    // n * nv registers
  std::vector<uint64_t> g;               // n * ng (register form) or n * 4 (by reference)
  std::vector<std::vector<unsigned char>> mem;  // argument storage of by-reference calls
};

struct Scratch {  // where results and pointer results go: one area, reused by every call
  alignas(64) unsigned char bytes[1024];
};

Calls prepare(const reg::Export& e, const Shape& sh, const std::vector<Interval>& ivs, int elems, Scratch& out,
              Scratch& second) {
  const int w = e.width, calls = std::max(1, elems / w), lanes = w == 3 ? 4 : w;
  // Operand streams: calls vectors of full storage each.
  std::vector<std::vector<unsigned char>> ops;
  int int_index = 0;
  for (size_t a = 0; a < sh.args.size(); ++a) {
    char k = sh.args[a];
    int lb = lane_bytes(k, e.prec), sb = storage_bytes(lb, w);
    std::vector<unsigned char> bytes(size_t(calls) * sb + 32, 0);
    std::mt19937_64 g(0x51ce0 + a);
    bool divisor = !floating(k) && int_index++ > 0;
    for (int c = 0; c < calls; ++c)
      for (int l = 0; l < lanes; ++l) draw(g, ivs[a], k, e.prec, divisor, bytes.data() + size_t(c) * sb + size_t(l) * lb);
    ops.push_back(std::move(bytes));
  }
  Calls cs;
  cs.n = calls;
  if (e.by_ref) {
    cs.mem = std::move(ops);
    cs.g.resize(size_t(calls) * 4, 0);
    for (int c = 0; c < calls; ++c) {
      uint64_t* g = &cs.g[size_t(c) * 4];
      g[0] = reinterpret_cast<uintptr_t>(out.bytes);
      size_t a = 0;
      for (; a < sh.args.size(); ++a) {
        int sb = storage_bytes(lane_bytes(sh.args[a], e.prec), w);
        g[1 + a] = reinterpret_cast<uintptr_t>(cs.mem[a].data() + size_t(c) * sb);
      }
      if (!sh.ptrs.empty()) g[1 + a] = reinterpret_cast<uintptr_t>(second.bytes);
    }
    return cs;
  }
  cs.v.resize(size_t(calls) * sh.nv);
  cs.g.resize(size_t(calls) * sh.ng, 0);
  for (int c = 0; c < calls; ++c) {
    Calls::Reg* v = cs.v.data() + size_t(c) * sh.nv;
    uint64_t* g = cs.g.data() + size_t(c) * sh.ng;
    int nv = 0, ng = 0;
    for (size_t a = 0; a < sh.args.size(); ++a) {
      char k = sh.args[a];
      int lb = lane_bytes(k, e.prec), sb = storage_bytes(lb, w);
      const unsigned char* p = ops[a].data() + size_t(c) * sb;
      if (w == 1 && !floating(k)) {
        uint64_t x = 0;
        std::memcpy(&x, p, lb);
        g[ng++] = x;
        continue;
      }
      for (int off = 0; off < sb; off += 32) {
        R r = _mm256_setzero_ps();
        std::memcpy(&r, p + off, std::min(32, sb - off));
        v[nv++].r = r;
      }
    }
    for (size_t i = 0; i < sh.ptrs.size(); ++i) g[ng++] = reinterpret_cast<uintptr_t>(second.bytes);
  }
  return cs;
}

// The timed loops: NV vector and NG integer registers loaded per call.
template <int NV, int NG> void loop_regs(const void* fn, const Calls& cs) {
  const Calls::Reg* v = cs.v.data();
  const uint64_t* g = cs.g.data();
  for (int c = 0; c < cs.n; ++c) {
    // One 32-byte load per register, written out: as a loop, GCC turns the copy
    // into a memcpy to the stack in 16-byte pieces, and the 32-byte reloads of
    // those cannot be forwarded (about 20 cycles a call, 4x the time of fmaf8).
    const float* p = reinterpret_cast<const float*>(v + size_t(c) * NV);
    R r[4] = {NV > 0 ? _mm256_load_ps(p) : _mm256_setzero_ps(), NV > 1 ? _mm256_load_ps(p + 8) : _mm256_setzero_ps(),
              NV > 2 ? _mm256_load_ps(p + 16) : _mm256_setzero_ps(), NV > 3 ? _mm256_load_ps(p + 24) : _mm256_setzero_ps()};
    uint64_t q[4] = {0, 0, 0, 0};
    for (int i = 0; i < NG; ++i) q[i] = g[size_t(c) * NG + i];
    call_regs_gp(fn, r, q);
  }
}
using Loop = void (*)(const void*, const Calls&);
template <int NV> Loop pick_ng(int ng) {
  switch (ng) {
    case 0: return loop_regs<NV, 0>;
    case 1: return loop_regs<NV, 1>;
    case 2: return loop_regs<NV, 2>;
    case 3: return loop_regs<NV, 3>;
    default: return loop_regs<NV, 4>;
  }
}
void loop_ref(const void* fn, const Calls& cs) {
  for (int c = 0; c < cs.n; ++c) {
    const uint64_t* p = &cs.g[size_t(c) * 4];
    const uint64_t q[4] = {p[0], p[1], p[2], p[3]};
    call_ref(fn, q);
  }
}
Loop pick_loop(const reg::Export& e, const Shape& sh) {
  if (e.by_ref) return loop_ref;
  switch (sh.nv) {
    case 0: return pick_ng<0>(sh.ng);
    case 1: return pick_ng<1>(sh.ng);
    case 2: return pick_ng<2>(sh.ng);
    case 3: return pick_ng<3>(sh.ng);
    default: return pick_ng<4>(sh.ng);
  }
}

struct Options : SliceOptions {
  std::regex re;
};

// The interval of operand a: the timing loops', or the one the options give.
Interval interval(const reg::Export& e, const Shape& sh, int a, const Options& o) {
  Interval iv = operand_interval(e, a);
  if (o.registry && floating(sh.args[a]) && e.lo < e.hi) iv = {e.lo, e.hi, false, false};
  if (a == 0 && o.xset) iv = {o.xlo, o.xhi, false, iv.integer};
  if (a == 1 && o.yset) iv = {o.ylo, o.yhi, false, iv.integer};
  return iv;
}

// Time per element (ns) of each slice of operand a, best of the rounds.
struct Result {
  std::string name;
  int arg;
  bool tiny = false;
  Interval whole;
  double ns[kSlices];
  bool band[kSlices];
  double ratio;  // slowest over fastest among the slices outside the bands
  double ref = 0;  // tiny band: the operand's fastest ordinary slice, same rounds
};

// The tiny band of an operand's interval, if the interval reaches zero.
bool tiny_of(const reg::Export& e, const Shape& sh, const Interval& iv, int a, Interval& t) {
  if (iv.integer || !floating(sh.args[a])) return false;
  double top = std::max(std::fabs(iv.lo), std::fabs(iv.hi)), bottom = std::min(std::fabs(iv.lo), std::fabs(iv.hi));
  if (!(iv.lo <= 0 && iv.hi >= 0) && bottom > 1e-30) return false;
  double smallest = is_double(sh.args[a], e.prec) ? 0x1p-1022 : 0x1p-126;
  if (!(top > 16 * smallest)) return false;
  t = {smallest, top, true, false, iv.lo < 0 && iv.hi > 0};
  if (!t.both && iv.hi <= 0) t = {-top, -smallest, true, false, false};
  return true;
}

Result measure(const void* fn, const reg::Export& e, const Shape& sh, int a, const Options& o, int rounds,
               bool tiny = false) {
  static Scratch out, second;
  Result res;
  res.name = std::string(e.name).substr(std::strlen("__ocl_qarn_e9_"));
  res.arg = a;
  res.tiny = tiny;
  std::vector<Interval> ivs;
  for (size_t i = 0; i < sh.args.size(); ++i) ivs.push_back(interval(e, sh, int(i), o));
  const Interval ordinary = ivs[a];
  if (tiny) tiny_of(e, sh, ivs[a], a, ivs[a]);
  res.whole = ivs[a];
  // A tiny set also times the operand's ordinary slices in the same rounds: they
  // are what its slices are held to (a band finished in closed form may well be
  // faster than the main path; that is no pocket).
  const int sets = tiny ? 2 * kSlices : kSlices;
  std::vector<Calls> calls;
  bool band[2 * kSlices];
  for (int s = 0; s < sets; ++s) {
    std::vector<Interval> v = ivs;
    v[a] = slice_of(s < kSlices ? ivs[a] : ordinary, s % kSlices);
    band[s] = in_band(e, a, v[a].lo, v[a].hi, v[a].both);
    calls.push_back(prepare(e, sh, v, o.elems, out, second));
  }
  Loop loop = pick_loop(e, sh);
  double ns[2 * kSlices];
  for (int s = 0; s < sets; ++s) loop(fn, calls[s]), ns[s] = kInf;  // warm up
  const double per = double(calls[0].n * e.width);
  for (int r = 0; r < rounds; ++r)
    for (int s = 0; s < sets; ++s) {
      auto t0 = std::chrono::steady_clock::now();
      loop(fn, calls[s]);
      auto t1 = std::chrono::steady_clock::now();
      ns[s] = std::min(ns[s], std::chrono::duration<double, std::nano>(t1 - t0).count() / per);
    }
  double lo = kInf, hi = 0, ref = kInf;
  for (int s = 0; s < kSlices; ++s) {
    res.ns[s] = ns[s], res.band[s] = band[s];
    if (!band[s]) lo = std::min(lo, ns[s]), hi = std::max(hi, ns[s]);
  }
  for (int s = kSlices; s < sets; ++s)
    if (!band[s]) ref = std::min(ref, ns[s]);
  if (tiny && ref < kInf) lo = ref, res.ref = ref;
  res.ratio = lo < kInf ? hi / lo : 1.0;
  return res;
}

void print(const Result& r) {
  std::printf("%-28s %c%c[%-9.4g, %9.4g]%s", r.name.c_str(), "xyz"[std::min(r.arg, 2)], r.tiny ? '~' : ' ',
              r.whole.lo, r.whole.hi, r.whole.both ? " +-  " : log_spaced(r.whole) ? " log" : "    ");
  for (int s = 0; s < kSlices; ++s) std::printf(" %7.2f%c", r.ns[s], r.band[s] ? '*' : ' ');
  std::printf("  %6.2f%s", r.ratio, r.ratio > kLimit ? "  <-- over 2" : "");
  if (r.tiny && r.ref > 0) std::printf("  (main %.2f)", r.ref);
  std::printf("\n");
}

}  // namespace

int run_slices(void* lib, const SliceOptions& options) {
  Options o;
  static_cast<SliceOptions&>(o) = options;
  if (!o.filter.empty()) o.re = std::regex(o.filter);
  std::printf("ns per element on %d slices of each operand's interval (best of %d rounds); '*': the slice\n"
              "reaches a band the family finishes in its lane fallback (not counted); last column: slowest\n"
              "over fastest of the other slices; a tiny set ('~') over the fastest of the operand's ordinary\n"
              "slices, timed in the same rounds (shown as 'main').\n\n",
              kSlices, o.rounds);
  struct Todo {
    const reg::Export* e;
    const void* fn;
    Shape sh;
    int arg;
    bool tiny;
  };
  std::vector<Todo> todo;
  int not_timed = 0;
  for (const reg::Export& e : reg::all()) {
    if (!e.present) continue;
    std::string short_name = std::string(e.name).substr(std::strlen("__ocl_qarn_e9_"));
    if (!o.filter.empty() && !std::regex_search(short_name, o.re)) continue;
    Shape sh = shape_of(e);
    const void* fn = dlsym(lib, e.name);
    if (!fn || !sh.ok || sh.args.empty()) {
      ++not_timed;
      continue;
    }
    for (size_t a = 0; a < sh.args.size(); ++a) {
      todo.push_back({&e, fn, sh, int(a), false});
      Interval t;
      if (o.tiny && tiny_of(e, sh, interval(e, sh, int(a), o), int(a), t)) todo.push_back({&e, fn, sh, int(a), true});
    }
  }
  std::vector<Result> flagged;
  double worst = 0;
  std::string worst_name;
  for (const Todo& t : todo) {
    Result r = measure(t.fn, *t.e, t.sh, t.arg, o, o.rounds, t.tiny);
    print(r);
    std::fflush(stdout);
    if (r.ratio > worst) worst = r.ratio, worst_name = r.name;
    if (r.ratio > kLimit) flagged.push_back(r);
  }
  std::printf("\n%zu slice sets timed (%d exports not timed: no such symbol or no driver); largest ratio %.2f (%s).\n",
              todo.size(), not_timed, worst, worst_name.c_str());
  if (flagged.empty()) {
    std::printf("No ratio above %.0f.\n", kLimit);
    return 0;
  }
  std::printf("%zu over %.0f.\n", flagged.size(), kLimit);
  if (!o.check) return 0;
  // A loaded machine can spoil one round: the flagged ones are measured again, twice,
  // with more rounds; a stall stays.
  int failed = 0;
  std::printf("\nMeasured again:\n");
  for (const Result& f : flagged) {
    for (const Todo& t : todo) {
      if (std::string(t.e->name).substr(std::strlen("__ocl_qarn_e9_")) != f.name || t.arg != f.arg || t.tiny != f.tiny)
        continue;
      Result r = f;
      for (int again = 0; again < 2 && r.ratio > kLimit; ++again)
        r = measure(t.fn, *t.e, t.sh, t.arg, o, 3 * o.rounds, t.tiny);
      print(r);
      failed += r.ratio > kLimit;
    }
  }
  std::printf("\n%d over %.0f after measuring again.\n", failed, kLimit);
  return failed ? 1 : 0;
}

}  // namespace qbench
