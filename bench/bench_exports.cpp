// Time per element of every present export, of the SLEEF function of the same
// width, and of scalar libm, all from the export registry: a new family shows up
// here as soon as the registry marks it present, with no code per export.
//
// The kinds 'f:f', 'ff:f' and 'fff:f' have typed loops (exact-size loads and stores) and
// are compared with SLEEF and libm.  Every other kind (conversions, integer
// division, pointer results, integer operands, by-reference forms) goes through
// one generic loop that places the operands by the calling convention; those
// numbers stand alone and include a little more loop overhead.
#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "bench/bench.h"
#include "bench/call.h"
#include "support/registry.h"

namespace reg = qarn::reg;

namespace qbench {
namespace {

// ---- input intervals per family --------------------------------------------
// Inputs are drawn uniformly from the registry's benchmark interval (or log-
// uniformly where it says so), inside the main path of the family, so the numbers
// are those of the common case.
struct Domain {
  std::string families;
  double flo, fhi;          // float x
  double dlo, dhi;          // double x
  double ylo = 0, yhi = 0;  // second argument, if any
  bool log = false;         // log-uniform x over [lo, hi] (lo > 0)
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

// Both precisions of the family, as the registry states them.
const Domain& domain_of(const qarn::reg::Export& e) {
  static std::deque<Domain> made;
  for (const Domain& d : made)
    if (d.families == e.family) return d;
  const qarn::reg::Export* by_prec[2] = {&e, &e};
  for (const qarn::reg::Export& x : qarn::reg::all())
    if (std::string_view(x.family) == e.family && (x.prec == 'f' || x.prec == 'd'))
      by_prec[x.prec == 'd'] = &x;
  return made.emplace_back(Domain{e.family, by_prec[0]->bench_lo, by_prec[0]->bench_hi, by_prec[1]->bench_lo,
                                  by_prec[1]->bench_hi, e.y_lo, e.y_hi, e.logspaced});
}

// Deterministic inputs: value i of a family's x (or y) sequence is the same in
// every benchmark, so ours, SLEEF and libm see the same numbers.
template <class T> std::vector<T> values(const Domain& d, bool second, int n) {
  std::mt19937_64 g(second ? 0x5eed2 : 0x5eed1);
  double lo = second ? d.ylo : (sizeof(T) == 4 ? d.flo : d.dlo);
  double hi = second ? d.yhi : (sizeof(T) == 4 ? d.fhi : d.dhi);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<T> v(n);
  for (T& x : v) {
    double t = u(g);
    x = T(d.log && !second ? std::exp(std::log(lo) + t * (std::log(hi) - std::log(lo))) : lo + t * (hi - lo));
  }
  return v;
}

// The third operand (fma's c): the x sequence in reverse order, so it is drawn
// from the same interval without repeating x lane by lane.
template <class T> std::vector<T> third(const Domain& d, int n) {
  std::vector<T> v = values<T>(d, false, n);
  return std::vector<T>(v.rbegin(), v.rend());
}

// 64-byte aligned array.
template <class T> struct Buf {
  T* p;
  explicit Buf(size_t n) : p(static_cast<T*>(std::aligned_alloc(64, (n * sizeof(T) + 63) / 64 * 64))) {
    std::memset(p, 0, n * sizeof(T));
  }
  ~Buf() { std::free(p); }
  Buf(const Buf&) = delete;
  Buf& operator=(const Buf&) = delete;
};

// Lays out n values as vectors of width w: value c*w+l goes to lane l of vector c;
// the spare lane 3 of width 3 repeats lane 0.
template <class T> void layout(T* dst, const std::vector<T>& src, int w, int calls) {
  int s = w == 3 ? 4 : w;
  for (int c = 0; c < calls; ++c) {
    for (int l = 0; l < w; ++l) dst[c * s + l] = src[c * w + l];
    if (w == 3) dst[c * s + 3] = src[c * w];
  }
}

// ---- drivers ------------------------------------------------------------------
using Fn = std::function<void(benchmark::State&)>;

// One of our register-form exports with NA floating arguments.
template <class T, int W, int NA> Fn run_export(const void* fn, const Domain& d) {
  return [fn, &d](benchmark::State& st) {
    constexpr int S = stride<W>, calls = kElems / W, regs = shape<T, W>::regs;
    Buf<T> x(calls * S), y(calls * S), z(calls * S), out(calls * S);
    layout(x.p, values<T>(d, false, kElems), W, calls);
    layout(y.p, values<T>(d, true, kElems), W, calls);
    layout(z.p, third<T>(d, kElems), W, calls);
    R v[4] = {};
    for (auto _ : st) {
      for (int c = 0; c < calls; ++c) {
        load<T, W>(x.p + c * S, v);
        if constexpr (NA >= 2) load<T, W>(y.p + c * S, v + regs);
        if constexpr (NA == 3) load<T, W>(z.p + c * S, v + 2 * regs);
        call_regs(fn, v);
        store<T, W>(out.p + c * S, v);
      }
      benchmark::ClobberMemory();
    }
    per_elem(st, long(calls) * W);
  };
}

// The by-reference form (double width 16 with two arguments, and fma's widest):
// result buffer in rcx, argument addresses in rdx, r8 and r9.
template <class T, int W = 16, int NA = 2> Fn run_export_ref2(const void* fn, const Domain& d) {
  return [fn, &d](benchmark::State& st) {
    constexpr int calls = kElems / W;
    Buf<T> x(kElems), y(kElems), z(kElems), out(kElems);
    layout(x.p, values<T>(d, false, kElems), W, calls);
    layout(y.p, values<T>(d, true, kElems), W, calls);
    layout(z.p, third<T>(d, kElems), W, calls);
    for (auto _ : st) {
      for (int c = 0; c < calls; ++c) {
        uint64_t g[4] = {reinterpret_cast<uintptr_t>(out.p + c * W), reinterpret_cast<uintptr_t>(x.p + c * W),
                         reinterpret_cast<uintptr_t>(y.p + c * W),
                         NA == 3 ? reinterpret_cast<uintptr_t>(z.p + c * W) : 0};
        call_ref(fn, g);
      }
      benchmark::ClobberMemory();
    }
    per_elem(st, long(calls) * W);
  };
}

// A function with an ordinary C prototype on V (a scalar, or SLEEF's __m128,
// __m128d, __m256, __m256d), over the same elements, at its own width.
template <class T, class V, int NA> Fn run_plain(const void* fn, const Domain& d) {
  return [fn, &d](benchmark::State& st) {
    constexpr int L = sizeof(V) / sizeof(T), calls = kElems / L;
    Buf<T> x(kElems), y(kElems), z(kElems), out(kElems);
    std::vector<T> xv = values<T>(d, false, kElems), yv = values<T>(d, true, kElems), zv = third<T>(d, kElems);
    std::copy(xv.begin(), xv.end(), x.p);
    std::copy(yv.begin(), yv.end(), y.p);
    std::copy(zv.begin(), zv.end(), z.p);
    for (auto _ : st) {
      for (int c = 0; c < calls; ++c) {
        V a, b, e, r;
        std::memcpy(&a, x.p + c * L, sizeof(V));
        if constexpr (NA == 1) {
          r = reinterpret_cast<V (*)(V)>(const_cast<void*>(fn))(a);
        } else if constexpr (NA == 3) {
          std::memcpy(&b, y.p + c * L, sizeof(V));
          std::memcpy(&e, z.p + c * L, sizeof(V));
          r = reinterpret_cast<V (*)(V, V, V)>(const_cast<void*>(fn))(a, b, e);
        } else {
          std::memcpy(&b, y.p + c * L, sizeof(V));
          r = reinterpret_cast<V (*)(V, V)>(const_cast<void*>(fn))(a, b);
        }
        std::memcpy(out.p + c * L, &r, sizeof(V));
      }
      benchmark::ClobberMemory();
    }
    per_elem(st, long(calls) * L);
  };
}

template <class T, int W> Fn export_driver(int na, bool by_ref, const void* fn, const Domain& d) {
  if (by_ref) {
    if constexpr (W == 16 && sizeof(T) == 8) {
      if (na == 2) return run_export_ref2<T>(fn, d);
    }
    if constexpr (W >= 8) {
      if (na == 3) return run_export_ref2<T, W, 3>(fn, d);
    }
    return nullptr;
  }
  if (na == 3) {
    if constexpr (shape<T, W>::regs == 1) return run_export<T, W, 3>(fn, d);
    return nullptr;
  }
  if constexpr (W == 16 && sizeof(T) == 8) return na == 1 ? run_export<T, W, 1>(fn, d) : nullptr;  // two: by reference
  else return na == 1 ? run_export<T, W, 1>(fn, d) : run_export<T, W, 2>(fn, d);
}

template <class T> Fn export_driver(int w, int na, bool by_ref, const void* fn, const Domain& d) {
  switch (w) {
    case 1: return export_driver<T, 1>(na, by_ref, fn, d);
    case 2: return export_driver<T, 2>(na, by_ref, fn, d);
    case 3: return export_driver<T, 3>(na, by_ref, fn, d);
    case 4: return export_driver<T, 4>(na, by_ref, fn, d);
    case 8: return export_driver<T, 8>(na, by_ref, fn, d);
    case 16: return export_driver<T, 16>(na, by_ref, fn, d);
  }
  return nullptr;
}

// ---- any other signature ------------------------------------------------------
// Integer operands per family: first and second integer argument (the second is
// never zero: divisors, rootn's n).
struct IntDomain {
  const char* families;
  int64_t lo0, hi0, lo1, hi1;
};
const IntDomain kIntDomains[] = {
    {"idiv irem idivrem", -1000000, 1000000, -1000, 1000},
    {"udiv urem udivrem", 0, 4000000000, 1, 1000},
    {"pown", -8, 8, -8, 8},
    {"rootn", 1, 8, 1, 8},
    {"ldexp", -20, 20, -20, 20},
    {"nan", 0, 1000, 0, 1000},
    {"cvti32tofp", INT32_MIN, INT32_MAX, 0, 0},
    {"cvtu32tofp", 0, UINT32_MAX, 0, 0},
    {"cvti64tofp", INT64_MIN / 2, INT64_MAX / 2, 0, 0},
    {"cvtu64tofp", 0, INT64_MAX, 0, 0},
};
const IntDomain kDefaultIntDomain = {"", -1000, 1000, 1, 1000};

// Float domains of the conversions (the others come from the registry).
const Domain kConvDomains[] = {
    {"cvtfptoi32 cvtfptoi64", -1e6, 1e6, -1e6, 1e6},
    {"cvtfptou32 cvtfptou64", 0, 2e6, 0, 2e6},
    {"cvtfp64tofp32", -1e30, 1e30, -1e30, 1e30},
};

const Domain& any_domain(const reg::Export& e) {
  for (const Domain& d : kConvDomains)
    if (word_in(d.families, e.family)) return d;
  return domain_of(e);
}
const IntDomain& int_domain(std::string_view family) {
  for (const IntDomain& d : kIntDomains)
    if (word_in(d.families, family)) return d;
  return kDefaultIntDomain;
}

// Bytes per lane of an operand kind (see frame/registry.py).
int lane_bytes(char k, char prec) {
  switch (k) {
    case 'f': case 'c': return prec == 'd' ? 8 : 4;
    case 'F': case 'i': case 'u': return 4;
    default: return 8;  // D l q
  }
}
int storage_bytes(int lb, int w) { return lb * (w == 3 ? 4 : w); }

// One operand stream: `calls` vectors at `stride` bytes, filled lane by lane.
struct Stream {
  std::vector<unsigned char> bytes;
  int stride = 0;
};
Stream operand(char k, char prec, int w, int calls, const reg::Export& e, int index, int int_index) {
  int lb = lane_bytes(k, prec), sb = storage_bytes(lb, w);
  Stream s;
  s.stride = sb;
  s.bytes.assign(size_t(calls) * sb + 64, 0);
  std::mt19937_64 g(0x5eed1 + index);
  const Domain& d = any_domain(e);
  const IntDomain& id = int_domain(e.family);
  for (int c = 0; c < calls; ++c)
    for (int l = 0; l < (w == 3 ? 4 : w); ++l) {
      unsigned char* p = s.bytes.data() + size_t(c) * sb + size_t(l) * lb;
      bool fl = k == 'f' || k == 'F' || k == 'D';
      if (fl) {
        bool dbl = k == 'D' || (k == 'f' && prec == 'd');
        double lo = index ? d.ylo : (dbl ? d.dlo : d.flo), hi = index ? d.yhi : (dbl ? d.dhi : d.fhi);
        if (lo == hi) lo = -10, hi = 10;
        double v = std::uniform_real_distribution<double>(lo, hi)(g);
        if (dbl) std::memcpy(p, &v, 8);
        else { float f = float(v); std::memcpy(p, &f, 4); }
      } else {
        int64_t lo = int_index ? id.lo1 : id.lo0, hi = int_index ? id.hi1 : id.hi0;
        int64_t v = std::uniform_int_distribution<int64_t>(lo, hi)(g);
        if (int_index && v == 0) v = 1;
        std::memcpy(p, &v, lb);  // little endian: the low bytes
      }
    }
  return s;
}

// Any register-form or by-reference export, from its kind: operands laid out as
// the calling convention wants them.  The loads and stores are whole 16- or
// 32-byte registers (the unused lanes are ignored), so the loop costs a little
// more than the typed ones above; no SLEEF or libm counterpart is timed.
Fn run_any(const void* fn, const reg::Export& e) {
  if (!e.by_ref) {  // the register form has four vector and four integer registers
    std::string kind = e.kind;
    int v = 0, g = 0, o = 0, i = 0;
    for (; kind[i] != ':'; ++i) {
      char k = kind[i];
      if (k == 'p') ++g, ++i;
      else if (e.width == 1 && !(k == 'f' || k == 'F' || k == 'D')) ++g;
      else v += (storage_bytes(lane_bytes(k, e.prec), e.width) + 31) / 32;
    }
    for (++i; i < int(kind.size()); ++i) {
      if (kind[i] == 'p') ++g, ++i;
      else o += (storage_bytes(lane_bytes(kind[i], e.prec), e.width) + 31) / 32;
    }
    if (v > 4 || g > 4 || o > 4) return nullptr;
  }
  return [fn, &e](benchmark::State& st) {
    const int w = e.width, calls = kElems / w;
    std::string kind = e.kind;
    std::string a = kind.substr(0, kind.find(':')), r = kind.substr(kind.find(':') + 1);
    std::string args, ptrs, res;
    for (size_t i = 0; i < a.size(); ++i) (a[i] == 'p' ? ptrs += a[++i] : args += a[i]);
    for (size_t i = 0; i < r.size(); ++i) (r[i] == 'p' ? ptrs += r[++i] : res += r[i]);
    std::vector<Stream> in;
    int fl = 0, in_ = 0;
    for (char k : args) {
      bool isint = !(k == 'f' || k == 'F' || k == 'D');
      in.push_back(operand(k, e.prec, w, calls, e, isint ? 0 : fl++, isint ? in_++ : 0));
    }
    std::vector<Stream> pout;  // pointer results, whole vectors
    for (size_t j = 0; j < ptrs.size(); ++j) pout.push_back(Stream{std::vector<unsigned char>(size_t(calls) * 128 + 64), 128});
    std::vector<unsigned char> out(size_t(calls) * 256 + 64);
    auto base = [](Stream& s) { return s.bytes.data(); };

    if (e.by_ref) {
      // rcx: result buffer, then the arguments' addresses and the pointer.
      const unsigned char* p[3] = {nullptr, nullptr, nullptr};
      int n = 0;
      for (Stream& s : in) p[n++] = base(s);
      for (Stream& s : pout) p[n++] = base(s);
      int str[3] = {0, 0, 0};
      for (int i = 0; i < int(in.size()); ++i) str[i] = in[i].stride;
      for (int i = 0; i < int(pout.size()); ++i) str[in.size() + i] = pout[i].stride;
      for (auto _ : st) {
        for (int c = 0; c < calls; ++c) {
          uint64_t g[4] = {reinterpret_cast<uintptr_t>(out.data() + size_t(c) * 256),
                           reinterpret_cast<uintptr_t>(p[0] + size_t(c) * str[0]),
                           p[1] ? reinterpret_cast<uintptr_t>(p[1] + size_t(c) * str[1]) : 0,
                           p[2] ? reinterpret_cast<uintptr_t>(p[2] + size_t(c) * str[2]) : 0};
          call_ref(fn, g);
        }
        benchmark::ClobberMemory();
      }
      per_elem(st, long(calls) * w);
      return;
    }

    // Register form: vector operands in ymm0.., width-1 integers and pointers in
    // rcx, rdx, r8, r9.
    struct Src { const unsigned char* p; int stride; bool ymm; };
    Src vs[4];
    int nv = 0;
    struct Gp { const unsigned char* p; int stride; int size; };  // size 0: address
    Gp gs[4];
    int ng = 0;
    for (size_t i = 0; i < args.size(); ++i) {
      char k = args[i];
      if (w == 1 && !(k == 'f' || k == 'F' || k == 'D')) {
        gs[ng++] = {base(in[i]), in[i].stride, lane_bytes(k, e.prec)};
        continue;
      }
      int sb = in[i].stride;
      for (int off = 0; off < sb || off == 0; off += 32) vs[nv++] = {base(in[i]) + off, sb, sb - off > 16};
    }
    for (Stream& s : pout) gs[ng++] = {base(s), s.stride, 0};
    int nout = 0;
    bool ymm_out[4] = {};
    bool rax = w == 1 && !(res[0] == 'f' || res[0] == 'F' || res[0] == 'D');
    if (!rax)
      for (char k : res) {
        int sb = storage_bytes(lane_bytes(k, e.prec), w);
        for (int off = 0; off < sb; off += 32) ymm_out[nout++] = sb - off > 16;
      }
    R v[4] = {};
    uint64_t g[4] = {};
    for (auto _ : st) {
      for (int c = 0; c < calls; ++c) {
        for (int i = 0; i < nv; ++i) {
          const float* p = reinterpret_cast<const float*>(vs[i].p + size_t(c) * vs[i].stride);
          v[i] = vs[i].ymm ? _mm256_loadu_ps(p) : _mm256_castps128_ps256(_mm_loadu_ps(p));
        }
        for (int i = 0; i < ng; ++i) {
          const unsigned char* p = gs[i].p + size_t(c) * gs[i].stride;
          if (gs[i].size == 0) g[i] = reinterpret_cast<uintptr_t>(p);
          else if (gs[i].size == 4) g[i] = *reinterpret_cast<const uint32_t*>(p);
          else g[i] = *reinterpret_cast<const uint64_t*>(p);
        }
        uint64_t ra = call_regs_gp(fn, v, g);
        unsigned char* o = out.data() + size_t(c) * 256;
        if (rax) std::memcpy(o, &ra, 8);
        for (int i = 0; i < nout; ++i) {
          float* p = reinterpret_cast<float*>(o + 32 * i);
          if (ymm_out[i]) _mm256_storeu_ps(p, v[i]);
          else _mm_storeu_ps(p, _mm256_castps256_ps128(v[i]));
        }
      }
      benchmark::ClobberMemory();
    }
    per_elem(st, long(calls) * w);
  };
}

// ---- SLEEF and libm counterparts ------------------------------------------------
void* sleef_lib() {
  static void* h = dlopen(QARN_BENCH_SLEEF, RTLD_NOW | RTLD_LOCAL);
  return h;
}
void* libm_lib() {
  static void* h = dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
  return h;
}

void* libmvec_lib() {
  static void* h = dlopen("libmvec.so.1", RTLD_NOW | RTLD_LOCAL);
  return h;
}

// libm functions that are the same function as our family of that name.
constexpr std::string_view kLibm =
    "exp exp2 exp10 expm1 log log2 log10 log1p pow sqrt cbrt hypot sin cos tan sinpi cospi tanpi "
    "asin acos atan atan2 sinh cosh tanh asinh acosh atanh erf erfc lgamma tgamma ceil floor trunc "
    "round rint nearbyint fabs logb copysign nextafter fmax fmin fdim fmod remainder fma";

struct Counterpart {
  std::string fn, acc;
  int lanes = 1;  // elements per call of fn
};

// SLEEF's function for our family at width w: the scalar one for width 1, the
// SSE4 ones for 128-bit vectors, the AVX ones for 256 bits (wider ones are called
// two or four times).  The accuracy asked for comes first; SLEEF has u35 only
// for some families, and none for the exact ones (rounding, min/max, ...).
Counterpart sleef_for(const std::string& fam, char prec, int w, std::string_view variant) {
  static const char* kDefault[] = {"u10", "u05", "u15", "", "u35", "u3500"};
  static const char* kFast[] = {"u35", "u3500", "u10", "u05", "u15", ""};
  const bool fast = variant == "_native" || variant == "_half";
  std::string stem, isa;
  int lanes;
  if (prec == 'f') {
    if (w == 1) stem = fam + "f", lanes = 1;
    else if (w <= 4) stem = fam + "f4", isa = "sse4", lanes = 4;
    else stem = fam + "f8", isa = "avx", lanes = 8;
  } else {
    if (w == 1) stem = fam, lanes = 1;
    else if (w == 2) stem = fam + "d2", isa = "sse4", lanes = 2;
    else stem = fam + "d4", isa = "avx", lanes = 4;
  }
  if (!sleef_lib()) return {};
  for (const char* acc : fast ? kFast : kDefault) {
    std::string name = "Sleef_" + stem;
    if (*acc || !isa.empty()) name += "_" + std::string(acc) + isa;
    if (dlsym(sleef_lib(), name.c_str())) return {name, acc, lanes};
  }
  return {};
}

// glibc's vector function for our family at width w (2 and more): the SSE4 one
// ('b') for 128-bit vectors, the AVX one ('c') for 256 bits, called twice or four
// times for wider ones; none where libmvec lacks the family.
Counterpart mvec_for(const std::string& fam, char prec, int w, int na) {
  if (w == 1 || !libmvec_lib()) return {};
  int bytes = w * (prec == 'f' ? 4 : 8);
  int lanes = (bytes <= 16 ? 16 : 32) / (prec == 'f' ? 4 : 8);
  std::string name = std::string("_ZGV") + (bytes <= 16 ? "b" : "c") + "N" + std::to_string(lanes) +
                     std::string(size_t(na), 'v') + "_" + fam + (prec == 'f' ? "f" : "");
  if (!dlsym(libmvec_lib(), name.c_str())) return {};
  return {name, "", lanes};
}

template <class T> struct sleef_vec;
template <> struct sleef_vec<float> { using v4 = __m128; using v8 = __m256; };
template <> struct sleef_vec<double> { using v4 = __m128d; using v8 = __m256d; };

template <class T> Fn plain_driver(int lanes, int na, const void* fn, const Domain& d) {
  using V4 = typename sleef_vec<T>::v4;
  using V8 = typename sleef_vec<T>::v8;
  if (na == 3) {
    if (lanes == 1) return run_plain<T, T, 3>(fn, d);
    if (lanes * sizeof(T) == 16) return run_plain<T, V4, 3>(fn, d);
    return run_plain<T, V8, 3>(fn, d);
  }
  if (lanes == 1) return na == 1 ? run_plain<T, T, 1>(fn, d) : run_plain<T, T, 2>(fn, d);
  if (lanes * sizeof(T) == 16) return na == 1 ? run_plain<T, V4, 1>(fn, d) : run_plain<T, V4, 2>(fn, d);
  return na == 1 ? run_plain<T, V8, 1>(fn, d) : run_plain<T, V8, 2>(fn, d);
}

void add(const std::string& name, Fn fn) { setup(benchmark::RegisterBenchmark(name.c_str(), std::move(fn))); }

// The bare instructions of the root families inlined in the same loop (aligned
// loads and stores of whole registers): the floor for sqrt, div and inv.
template <class T, class V, int NA, class Op> Fn run_bare(const Domain& d, Op op) {
  return [&d, op](benchmark::State& st) {
    constexpr int L = sizeof(V) / sizeof(T);
    Buf<T> x(kElems), y(kElems), out(kElems);
    std::vector<T> xv = values<T>(d, false, kElems), yv = values<T>(d, true, kElems);
    std::copy(xv.begin(), xv.end(), x.p);
    std::copy(yv.begin(), yv.end(), y.p);
    for (auto _ : st) {
      for (int c = 0; c < kElems; c += L) {
        V a, b;
        std::memcpy(&a, x.p + c, sizeof(V));
        if constexpr (NA == 2) std::memcpy(&b, y.p + c, sizeof(V));
        V r = op(a, b);
        std::memcpy(out.p + c, &r, sizeof(V));
      }
      benchmark::ClobberMemory();
    }
    per_elem(st, kElems);
  };
}
void register_bare_roots() {
  static const Domain kRoot = {"", 1e-6, 1e6, 1e-30, 1e30, 0, 0, true};
  static const Domain kDiv = {"", -1e3, 1e3, -1e3, 1e3, 0.5, 1e3};
  add("bare/vsqrtps8", run_bare<float, __m256, 1>(kRoot, [](__m256 a, __m256) { return _mm256_sqrt_ps(a); }));
  add("bare/vsqrtpd4", run_bare<double, __m256d, 1>(kRoot, [](__m256d a, __m256d) { return _mm256_sqrt_pd(a); }));
  add("bare/vdivps8", run_bare<float, __m256, 2>(kDiv, [](__m256 a, __m256 b) { return _mm256_div_ps(a, b); }));
  add("bare/vdivpd4", run_bare<double, __m256d, 2>(kDiv, [](__m256d a, __m256d b) { return _mm256_div_pd(a, b); }));
  add("bare/vdivps8-inv", run_bare<float, __m256, 1>(kRoot, [](__m256 a, __m256) { return _mm256_div_ps(_mm256_set1_ps(1.0f), a); }));
  add("bare/vdivpd4-inv", run_bare<double, __m256d, 1>(kRoot, [](__m256d a, __m256d) { return _mm256_div_pd(_mm256_set1_pd(1.0), a); }));
  add("bare/vrcpps8", run_bare<float, __m256, 1>(kRoot, [](__m256 a, __m256) { return _mm256_rcp_ps(a); }));
  add("bare/vrsqrtps8", run_bare<float, __m256, 1>(kRoot, [](__m256 a, __m256) { return _mm256_rsqrt_ps(a); }));
}

}  // namespace

// The interval the loops above draw operand `arg` of e from (arguments counted in
// the order of the signature kind, floating and integer alike), for the slice
// benchmark: one place to change if the intervals move.
Interval operand_interval(const reg::Export& e, int arg) {
  std::string_view kind(e.kind);
  int fl = 0, in = 0;
  for (int i = 0; i < arg; ++i) {
    char k = kind[i];
    if (k == 'p' || k == ':') break;
    (k == 'f' || k == 'F' || k == 'D' ? fl : in) += 1;
  }
  char k = kind[arg];
  if (k == 'f' || k == 'F' || k == 'D') {
    const Domain& d = any_domain(e);
    bool dbl = k == 'D' || (k == 'f' && e.prec == 'd');
    double lo = fl ? d.ylo : (dbl ? d.dlo : d.flo), hi = fl ? d.yhi : (dbl ? d.dhi : d.fhi);
    if (lo == hi) lo = -10, hi = 10;
    return {lo, hi, d.log && !fl, false};
  }
  const IntDomain& id = int_domain(e.family);
  return {double(in ? id.lo1 : id.lo0), double(in ? id.hi1 : id.hi0), false, true};
}

void register_exports(void* lib, void* base) {
  register_bare_roots();
  std::set<std::string> done;  // SLEEF and libm benchmarks already registered
  std::vector<const qarn::reg::Export*> present;
  for (const auto& e : qarn::reg::all())
    if (e.present) present.push_back(&e);
  // Family, precision, width, variant: the order of the ratio table.
  auto vrank = [](std::string_view v) { return v == "default" ? 0 : v == "_native" ? 1 : v == "_half" ? 2 : 3; };
  std::stable_sort(present.begin(), present.end(), [&](auto* a, auto* b) {
    int fa = std::strcmp(a->family, b->family);
    if (fa) return fa < 0;
    if (a->prec != b->prec) return a->prec == 'f';
    if (a->width != b->width) return a->width < b->width;
    return vrank(a->variant) < vrank(b->variant);
  });
  constexpr std::string_view prefix = "__ocl_qarn_e9_";
  for (const auto* e : present) {
    std::string kind = e->kind, short_name = std::string(e->name).substr(prefix.size());
    int na = kind == "f:f" ? 1 : kind == "ff:f" ? 2 : kind == "fff:f" ? 3 : 0;
    const void* fn = dlsym(lib, e->name);
    const Domain& d = domain_of(*e);
    Fn drv;
    if (na && fn && (e->prec == 'f' || e->prec == 'd'))
      drv = e->prec == 'f' ? export_driver<float>(e->width, na, e->by_ref, fn, d)
                           : export_driver<double>(e->width, na, e->by_ref, fn, d);
    if (!drv && fn) drv = run_any(fn, *e);
    if (!drv) {
      skipped().push_back({fn ? kind + (e->by_ref ? ", by reference" : "") : "not exported", e->family});
      continue;
    }
    add("qarn/" + short_name, std::move(drv));
    std::string base_name;
    if (const void* bf = base ? dlsym(base, e->name) : nullptr) {
      Fn bd;
      if (na && (e->prec == 'f' || e->prec == 'd'))
        bd = e->prec == 'f' ? export_driver<float>(e->width, na, e->by_ref, bf, d)
                            : export_driver<double>(e->width, na, e->by_ref, bf, d);
      if (!bd) bd = run_any(bf, *e);
      if (bd) add(base_name = "base/" + short_name, std::move(bd));
    }

    Row row;
    row.family = e->family;
    row.variant = e->variant;
    row.exp = "qarn/" + short_name;
    row.prec = e->prec;
    row.width = e->width;
    row.base = base_name;
    if (!na) {  // SLEEF and libm are compared for 'f:f', 'ff:f' and 'fff:f' only
      rows().push_back(std::move(row));
      continue;
    }
    Counterpart s = sleef_for(e->family, e->prec, e->width, e->variant);
    if (!s.fn.empty()) {
      int calls = (e->width + s.lanes - 1) / s.lanes;
      row.sleef = "sleef/" + s.fn;
      row.sleef_acc = s.acc.empty() ? "exact" : s.acc;
      row.sleef_fn = s.fn + (calls > 1 ? " x" + std::to_string(calls) : "");
      row.sleef_factor = double(s.lanes * calls) / e->width;
      if (done.insert(row.sleef).second) {
        const void* sf = dlsym(sleef_lib(), s.fn.c_str());
        add(row.sleef, e->prec == 'f' ? plain_driver<float>(s.lanes, na, sf, d)
                                      : plain_driver<double>(s.lanes, na, sf, d));
      }
    }
    Counterpart v = word_in(kLibm, e->family) ? mvec_for(e->family, e->prec, e->width, na) : Counterpart{};
    if (!v.fn.empty()) {
      int calls = (e->width + v.lanes - 1) / v.lanes;
      row.mvec = "libmvec/" + v.fn;
      row.mvec_factor = double(v.lanes * calls) / e->width;
      if (done.insert(row.mvec).second) {
        const void* vf = dlsym(libmvec_lib(), v.fn.c_str());
        add(row.mvec, e->prec == 'f' ? plain_driver<float>(v.lanes, na, vf, d) : plain_driver<double>(v.lanes, na, vf, d));
      }
    }
    std::string lname = std::string(e->family) + (e->prec == 'f' ? "f" : "");
    const void* lf = word_in(kLibm, e->family) && libm_lib() ? dlsym(libm_lib(), lname.c_str()) : nullptr;
    if (lf) {
      row.libm = "libm/" + lname;
      if (done.insert(row.libm).second)
        add(row.libm, e->prec == 'f' ? plain_driver<float>(1, na, lf, d) : plain_driver<double>(1, na, lf, d));
    }
    rows().push_back(std::move(row));
  }
}

}  // namespace qbench
