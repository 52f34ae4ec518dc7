// Bitwise comparison of two builds of the library: for a change that must not
// move any result (a speed fix, a refactoring).  Opt-in, run by hand:
//
//   lib_diff OLD.so NEW.so EXPORT...        e.g. lib_diff /tmp/old.so build/libocl_qarn_e9.so expm1f8 expm14
//   options: --modes       also under the three directed rounding modes
//            --x87-nearest keep the x87 control word at nearest while MXCSR changes
//            --samples=N   sampled inputs per export and mode
//            --band=LO:HI  add N operands log-uniform in LO <= |x| < HI (both signs)
//            --y=LO:HI     the second floating operand log-uniform in that range
//            --mixed       each call's inputs from far-apart parts of the inputs
//            --ftz, --daz  subnormal results flushed to zero, subnormal operands read as
//                          zero (MXCSR bits 15 and 6), in every mode compared
// Every argument is checked before the first comparison (lib_diff --help).
//
// Exports: float width 8 and double width 4 in the register form, of the kinds
// f:f, ff:f, fff:f, fi:f, f:fpf, f:fpi and ff:fpi (every result, the one through
// the pointer too), and widths 1, 2, 3 (float 4 too) of the kinds f:f and ff:f:
// one call per input (or per two, three, four), with other inputs in the
// register's spare lanes, and the whole result register compared (what the spare
// lanes come back with too, width 3's filler lane among them); and of those two
// kinds the wider exports in registers (float 16, double 8, double 16 of f:f),
// one call per 16 (double 8 or 16) inputs, or by reference (double 16 of ff:f).
//
// Operands.  Float exports with one floating operand: every one of the 2^32 inputs
// (with a second operand drawn from the input's own hash).  fma in float: N random
// triples and N hard ones.  Double exports: N random bit patterns (every exponent
// alike), N log-uniform magnitudes of both signs in [2^-1074, 2^1024), every input
// within 2^10 patterns of each power of two and of the integers up to 1024 with
// both signs (where thresholds of the main paths sit), N in --band; fma: N random
// and N hard triples.  The hard fma triples: c cancelling the rounded product
// within a few units, products of short significands with c on a half unit
// (ties), results next to the underflow and overflow thresholds, c at any
// exponent distance, subnormal operands times large ones, and zeros, ones,
// infinities and NaNs in any position.
// Second operands: a quarter random patterns, the rest log-uniform over the whole
// range (or --y); integer operands: half in [-40, 40], half any int32.
//
// Rounding modes: MXCSR and the x87 control word alike (fma rounds its exact sums
// in the x87 direction), or only MXCSR with --x87-nearest.  Results are compared as
// bit patterns (NaNs too).  Exits 1 on any difference, printing the first few.
#include <dlfcn.h>
#include <immintrin.h>

#include <algorithm>
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

// ---- operands --------------------------------------------------------------------
uint64_t mix(uint64_t z) {  // splitmix64's finaliser
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

struct Fmt {
  int bytes, p, bias, emax;  // significand bits with the hidden one
  uint64_t sign, expo, mant, all;
  uint64_t make(bool neg, int e, uint64_t m) const {  // normal number 2^e * 1.m
    return (neg ? sign : 0) | (uint64_t(e + bias) << (p - 1)) | (m & mant);
  }
};
constexpr Fmt kF{4, 24, 127, 127, 0x80000000u, 0x7F800000u, 0x7FFFFFu, 0xFFFFFFFFu};
constexpr Fmt kD{8, 53, 1023, 1023, 1ull << 63, 0x7FFull << 52, (1ull << 52) - 1, ~0ull};

double as_d(uint64_t b) { double d; std::memcpy(&d, &b, 8); return d; }
float as_f(uint64_t b) { uint32_t u = uint32_t(b); float f; std::memcpy(&f, &u, 4); return f; }
uint64_t bits_d(double d) { uint64_t b; std::memcpy(&b, &d, 8); return b; }
uint64_t bits_f(float f) { uint32_t b; std::memcpy(&b, &f, 4); return b; }

struct Range {
  double lo = 0, hi = 0;
  bool set() const { return hi > lo; }
};

// A magnitude log-uniform in [lo, hi) from 53 random bits, with a random sign.
uint64_t log_uniform(const Fmt& f, uint64_t r, Range g) {
  double l0 = std::log2(g.lo), l1 = std::log2(g.hi), u = double(r >> 11) * 0x1p-53;
  double v = std::exp2(l0 + u * (l1 - l0));
  if (r & 1) v = -v;
  return f.bytes == 4 ? bits_f(float(v)) : bits_d(v);
}

// A second floating operand from a hash.
uint64_t other(const Fmt& f, uint64_t h, Range y) {
  if (y.set()) return log_uniform(f, h, y);
  if ((h & 3) == 0) return mix(h) & f.all;
  Range whole{f.bytes == 4 ? 0x1p-149 : 0x1p-1074, f.bytes == 4 ? 0x1p128 : 0x1p1024};
  return log_uniform(f, mix(h), whole);
}

int32_t int_operand(uint64_t h) { return (h & 1) ? int32_t(h >> 32) : int32_t((h >> 8) % 81) - 40; }

// An fma triple: random patterns (hard = false) or one of the hard shapes.
struct Stream {  // splitmix64: cheap to start per triple
  uint64_t s;
  uint64_t operator()() { return mix(s++); }
};
void fma_triple(const Fmt& f, uint64_t seed, bool hard, uint64_t& a, uint64_t& b, uint64_t& c) {
  Stream g{seed};
  auto sgn = [&] { return (g() & 1) != 0; };
  const int emin = 1 - f.bias;
  auto normal = [&](int e) { return f.make(sgn(), std::clamp(e, emin, f.emax), g()); };
  a = g() & f.all, b = g() & f.all, c = g() & f.all;
  if (!hard) return;
  int ea = int(g() % uint64_t(2 * f.emax)) - f.emax, eb = int(g() % uint64_t(2 * f.emax)) - f.emax;
  ea /= 2, eb /= 2;
  auto prod = [&](uint64_t x, uint64_t y) {  // the product rounded to nearest
    return f.bytes == 4 ? bits_f(as_f(x) * as_f(y)) : bits_d(as_d(x) * as_d(y));
  };
  switch (g() % 8) {
    case 0:  // c cancels the rounded product within two units
      a = normal(ea), b = normal(eb), c = (prod(a, b) ^ f.sign) + (g() % 5) - 2;
      break;
    case 1: {  // short significands: the product is exact, c a half unit away (ties)
      uint64_t keep = ~(f.mant >> (f.p / 2 - 1));
      a = normal(ea % 40) & keep, b = normal(eb % 40) & keep;
      int ep = int((prod(a, b) >> (f.p - 1)) & (f.expo >> (f.p - 1))) - f.bias;
      c = f.make(sgn(), ep - f.p - int(g() % 3), uint64_t(g() % 4) << (f.p - 3));
      break;
    }
    case 2: {  // results next to the underflow threshold
      int e = emin - int(g() % uint64_t(f.p + 4)), e1 = e / 2 + int(g() % 21) - 10;
      a = normal(e1), b = normal(e - e1);
      c = (g() % 3) ? ((sgn() ? f.sign : 0) | ((g() & f.mant) >> (g() % uint64_t(f.p)))) : normal(emin);
      break;
    }
    case 3: {  // results next to overflow
      int e = f.emax + 1 - int(g() % 3), e1 = e / 2 + int(g() % 11) - 5;
      a = normal(e1), b = normal(e - e1), c = normal(f.emax - int(g() % uint64_t(f.p + 2)));
      break;
    }
    case 4:  // c at any distance from the product
      a = normal(ea), b = normal(eb), c = normal(ea + eb + int(g() % uint64_t(4 * f.p + 10)) - 2 * f.p - 5);
      break;
    case 5: {  // zeros, ones, infinities, NaNs, extremes anywhere
      const uint64_t picks[] = {0, uint64_t(f.bias) << (f.p - 1), f.expo, f.expo | 5, f.expo | (f.mant >> 1) | 7, 1,
                                f.make(false, f.emax, f.mant), f.make(false, emin, 0)};
      a = normal(ea), b = normal(eb), c = normal(ea + eb);
      for (uint64_t* v : {&a, &b, &c})
        if (g() & 1) *v = picks[g() % 8] ^ (sgn() ? f.sign : 0);
      break;
    }
    case 6: {  // a subnormal operand times a large one; c subnormal, tiny or near the product
      a = (sgn() ? f.sign : 0) | ((g() & f.mant) >> (g() % uint64_t(f.p))), b = normal(f.p + int(g() % uint64_t(f.emax)));
      if (g() & 1) std::swap(a, b);
      uint64_t pr = prod(a, b);
      switch (g() % 3) {
        case 0: c = (sgn() ? f.sign : 0) | ((g() & f.mant) >> (g() % uint64_t(f.p))); break;
        case 1: c = (pr ^ f.sign) + (g() % 5) - 2; break;
        default: c = normal(emin + int(g() % uint64_t(4 * f.p))); break;
      }
      break;
    }
    default:  // ordinary operands of moderate size
      a = normal(ea % 20), b = normal(eb % 20), c = normal((ea + eb) % 40);
      break;
  }
}

// ---- calling ---------------------------------------------------------------------
// The register form as System V prototypes: vectors in ymm0.. (the int vector of
// the int argument after them), the pointer for a second result in rcx (the
// fourth integer slot).
struct KindInfo {
  int nf = 0;
  bool int_arg = false, ptr = false, ptr_int = false;
  bool one = false;  // width 1: one call per lane
  int part = 0;      // widths 2 and 3 (float 4 too): live lanes per call of one narrower register
  int reg = 32;      // bytes of that register
  int regs = 1;      // float 16, double 8 and 16: 256-bit registers per operand
  bool ref = false;  // by reference: the result buffer and the operands' addresses
};
bool kind_of(std::string_view k, KindInfo& ki) {
  if (k == "f:f") ki = {1};
  else if (k == "ff:f") ki = {2};
  else if (k == "fff:f") ki = {3};
  else if (k == "fi:f") ki = {1, true};
  else if (k == "f:fpf") ki = {1, false, true, false};
  else if (k == "f:fpi") ki = {1, false, true, true};
  else if (k == "ff:fpi") ki = {2, false, true, true};
  else return false;
  return true;
}

// One block of lanes: operands in, results out (second result in r2).  A block
// is one 256-bit register's lanes, or all of a wider export's (up to four).
template <class T> struct Block {
  static constexpr int L = 32 / sizeof(T);
  alignas(32) T x[3][4 * L];
  alignas(32) int32_t k[8];
  alignas(32) T r[4 * L];
  alignas(32) uint64_t r2[L];  // the second result's storage (floats or int32 pairs)
  alignas(32) uint64_t whole[L][4];  // widths 1 to 3: each call's whole result register
};

// The register form with more than one register per operand: the operands'
// registers in ymm0 up (four at most), the result's registers back from ymm0 up.
// The call is made here with the stack aligned below the red zone; the entries
// keep rbx, rbp, rsi, rdi and r12 to r15, as their convention has it.
__attribute__((noinline)) void call_regs(const void* fn, const void* in, void* out) {
  asm volatile(
      "vmovups 0(%[in]), %%ymm0\n\t"
      "vmovups 32(%[in]), %%ymm1\n\t"
      "vmovups 64(%[in]), %%ymm2\n\t"
      "vmovups 96(%[in]), %%ymm3\n\t"
      "mov %%rsp, %%r12\n\t"
      "sub $128, %%rsp\n\t"
      "and $-32, %%rsp\n\t"
      "call *%[fn]\n\t"
      "mov %%r12, %%rsp\n\t"
      "vmovups %%ymm0, 0(%[out])\n\t"
      "vmovups %%ymm1, 32(%[out])\n\t"
      "vmovups %%ymm2, 64(%[out])\n\t"
      "vmovups %%ymm3, 96(%[out])\n\t"
      "vzeroupper"
      :
      : [fn] "a"(fn), [in] "c"(in), [out] "b"(out)
      : "rdx", "r8", "r9", "r10", "r11", "r12", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7",
        "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "memory", "cc");
}

template <class T> void call(const void* fn, const KindInfo& ki, Block<T>& b) {
  using V = std::conditional_t<sizeof(T) == 4, __m256, __m256d>;
  auto ld = [&](int i) {
    if constexpr (sizeof(T) == 4) return _mm256_load_ps(b.x[i]);
    else return _mm256_load_pd(b.x[i]);
  };
  V r;
  std::memset(b.r2, 0, sizeof b.r2);
  if (ki.one) {
    // Lane l's input in lane 0, the next lanes' inputs above it.
    using N = std::conditional_t<sizeof(T) == 4, __m128, __m128d>;
    constexpr int NL = 16 / sizeof(T);
    for (int l = 0; l < Block<T>::L; ++l) {
      alignas(16) T in[3][NL] = {};
      for (int a = 0; a < ki.nf; ++a)
        for (int j = 0; j < NL; ++j) in[a][j] = b.x[a][(l + j) % Block<T>::L];
      N a0, a1;
      std::memcpy(&a0, in[0], 16), std::memcpy(&a1, in[1], 16);
      N res = ki.nf == 1 ? reinterpret_cast<N (*)(N)>(const_cast<void*>(fn))(a0)
                         : reinterpret_cast<N (*)(N, N)>(const_cast<void*>(fn))(a0, a1);
      std::memcpy(b.whole[l], &res, 16);
      std::memcpy(&b.r[l], &res, sizeof(T));
    }
    return;
  }
  if (ki.part) {
    // Lanes l to l + part - 1 in the register's live lanes, the next inputs in its
    // spare ones (width 3: lane 3, which the filler replaces).
    using N = std::conditional_t<sizeof(T) == 4, __m128, __m128d>;
    const int RL = ki.reg / int(sizeof(T));
    for (int l = 0; l < Block<T>::L; l += ki.part) {
      alignas(32) T in[3][8] = {};
      for (int a = 0; a < ki.nf; ++a)
        for (int j = 0; j < RL; ++j) in[a][j] = b.x[a][(l + j) % Block<T>::L];
      alignas(32) T res[8];
      if (ki.reg == 16) {
        N a0, a1, o;
        std::memcpy(&a0, in[0], 16), std::memcpy(&a1, in[1], 16);
        o = ki.nf == 1 ? reinterpret_cast<N (*)(N)>(const_cast<void*>(fn))(a0)
                       : reinterpret_cast<N (*)(N, N)>(const_cast<void*>(fn))(a0, a1);
        std::memcpy(res, &o, 16);
      } else {
        V a0, a1, o;
        std::memcpy(&a0, in[0], 32), std::memcpy(&a1, in[1], 32);
        o = ki.nf == 1 ? reinterpret_cast<V (*)(V)>(const_cast<void*>(fn))(a0)
                       : reinterpret_cast<V (*)(V, V)>(const_cast<void*>(fn))(a0, a1);
        std::memcpy(res, &o, 32);
      }
      std::memcpy(b.whole[l], res, ki.reg);
      for (int j = 0; j < ki.part && l + j < Block<T>::L; ++j) b.r[l + j] = res[j];
    }
    return;
  }
  if (ki.ref) {
    // The by-reference form (the Windows x64 convention): the result buffer, then
    // each operand's address; the result comes back in the buffer.
    typedef void* __attribute__((ms_abi)) (*F)(void*, const void*, const void*);
    alignas(64) T out[4 * Block<T>::L];
    reinterpret_cast<F>(const_cast<void*>(fn))(out, b.x[0], b.x[1]);
    std::memcpy(b.r, out, ki.regs * Block<T>::L * sizeof(T));
    return;
  }
  if (ki.regs > 1) {
    // Operand a's registers follow operand a - 1's; the result is the block's lanes.
    alignas(32) T in[4 * Block<T>::L] = {}, out[4 * Block<T>::L];
    const int n = ki.regs * Block<T>::L;
    for (int a = 0; a < ki.nf; ++a) std::memcpy(in + a * n, b.x[a], n * sizeof(T));
    call_regs(fn, in, out);
    std::memcpy(b.r, out, n * sizeof(T));
    return;
  }
  if (ki.ptr) {
    if (ki.nf == 1) r = reinterpret_cast<V (*)(V, long, long, long, void*)>(const_cast<void*>(fn))(ld(0), 0, 0, 0, b.r2);
    else r = reinterpret_cast<V (*)(V, V, long, long, long, void*)>(const_cast<void*>(fn))(ld(0), ld(1), 0, 0, 0, b.r2);
  } else if (ki.int_arg) {
    if constexpr (sizeof(T) == 4)
      r = reinterpret_cast<V (*)(V, __m256i)>(const_cast<void*>(fn))(ld(0), _mm256_load_si256(reinterpret_cast<const __m256i*>(b.k)));
    else
      r = reinterpret_cast<V (*)(V, __m128i)>(const_cast<void*>(fn))(ld(0), _mm_load_si128(reinterpret_cast<const __m128i*>(b.k)));
  } else if (ki.nf == 1) {
    r = reinterpret_cast<V (*)(V)>(const_cast<void*>(fn))(ld(0));
  } else if (ki.nf == 2) {
    r = reinterpret_cast<V (*)(V, V)>(const_cast<void*>(fn))(ld(0), ld(1));
  } else {
    r = reinterpret_cast<V (*)(V, V, V)>(const_cast<void*>(fn))(ld(0), ld(1), ld(2));
  }
  if constexpr (sizeof(T) == 4) _mm256_store_ps(b.r, r);
  else _mm256_store_pd(b.r, r);
}

struct Diff {
  uint64_t count = 0;
  std::string first[4];
  void add(std::string s) {
    if (count < 4) first[count] = std::move(s);
    ++count;
  }
  void merge(const Diff& o) {
    for (uint64_t i = 0; i < o.count && i < 4; ++i) add(o.first[i]);
    count += o.count > 4 ? o.count - 4 : 0;
  }
};

std::string hex(uint64_t v, int bytes) {
  char s[24];
  std::snprintf(s, sizeof s, "0x%0*" PRIx64, 2 * bytes, v);
  return s;
}

// The operands of one export and mode: count() inputs, fill(i, lane, block) writes input i.
struct Source {
  const qarn::reg::Export* e;
  KindInfo ki;
  uint64_t samples;
  Range band, y;
  const std::vector<uint64_t>* xs;  // double x list (f:f family of inputs)
  bool mixed = false;
  bool is_fma() const { return ki.nf == 3; }
  // --mixed: the i-th operand set goes to lane i mod L of a block, from the
  // (i mod L)-th of L equal parts of the inputs (the tail past L whole parts in
  // order), so that every register holds operands far apart: a bijection of
  // [0, count()).
  uint64_t spread(uint64_t i, uint64_t L) const {
    const uint64_t q = count() / L;
    if (!mixed || i >= q * L) return i;
    return (i % L) * q + i / L;
  }
  bool exhaustive() const { return e->prec == 'f' && !is_fma(); }
  uint64_t count() const {
    if (is_fma()) return 2 * samples;
    if (exhaustive()) return 1ull << 32;
    return xs->size() + (band.set() ? samples : 0);
  }
  template <class T> void fill(uint64_t i, int l, Block<T>& b) const {
    const Fmt& f = sizeof(T) == 4 ? kF : kD;
    auto put = [&](int a, uint64_t v) {
      if constexpr (sizeof(T) == 4) b.x[a][l] = as_f(v);
      else b.x[a][l] = as_d(v);
    };
    if (is_fma()) {
      uint64_t a, bb, c;
      fma_triple(f, mix(i * 3 + 1), i >= samples, a, bb, c);
      put(0, a), put(1, bb), put(2, c);
      return;
    }
    uint64_t x;
    if (exhaustive()) x = i;
    else if (i < xs->size()) x = (*xs)[i];
    else x = log_uniform(f, mix(i ^ 0xBA4D), band);
    put(0, x);
    uint64_t h = mix(x * 0x9E3779B97F4A7C15ull + 7);
    if (ki.nf == 2) put(1, other(f, h, y));
    if (ki.int_arg) b.k[l] = int_operand(h);
  }
};

template <class T>
Diff run_range(const Source& src, const void* fa, const void* fb, uint64_t lo, uint64_t hi, unsigned mode,
               unsigned flush, bool x87_follow, std::atomic<uint64_t>& done) {
  _mm_setcsr((_mm_getcsr() & ~0xE040u) | mode << 13 | flush);
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  cw = uint16_t((cw & ~0xC00) | (x87_follow ? mode << 10 : 0));
  asm volatile("fldcw %0" ::"m"(cw));
  const int L = Block<T>::L * src.ki.regs;
  const int res_bytes = sizeof(T), r2_bytes = src.ki.ptr_int ? 4 : sizeof(T);
  Block<T> A{}, B{};
  Diff d;
  uint64_t reported = lo;
  for (uint64_t base = lo; base < hi; base += L) {
    if (base - reported >= 0x100000) done += base - reported, reported = base;
    for (int l = 0; l < L; ++l) src.fill(src.spread(std::min(base + l, hi - 1), L), l, A);
    std::memcpy(B.x, A.x, sizeof A.x);
    std::memcpy(B.k, A.k, sizeof A.k);
    call(fa, src.ki, A);
    call(fb, src.ki, B);
    bool same = !std::memcmp(A.r, B.r, sizeof A.r) &&
                (!src.ki.ptr || !std::memcmp(A.r2, B.r2, size_t(r2_bytes) * L)) &&
                (!(src.ki.one || src.ki.part) || !std::memcmp(A.whole, B.whole, sizeof A.whole));
    if (same) continue;
    for (int l = 0; l < L && base + l < hi; ++l) {
      uint64_t ra = 0, rb = 0, sa = 0, sb = 0;
      std::memcpy(&ra, &A.r[l], res_bytes), std::memcpy(&rb, &B.r[l], res_bytes);
      if (src.ki.ptr) {
        std::memcpy(&sa, reinterpret_cast<char*>(A.r2) + l * r2_bytes, r2_bytes);
        std::memcpy(&sb, reinterpret_cast<char*>(B.r2) + l * r2_bytes, r2_bytes);
      }
      bool spare = (src.ki.one || src.ki.part) && std::memcmp(A.whole[l], B.whole[l], sizeof A.whole[l]);
      if (ra == rb && sa == sb && !spare) continue;
      std::string in;
      for (int a = 0; a < src.ki.nf; ++a) {
        uint64_t v = 0;
        std::memcpy(&v, &A.x[a][l], sizeof(T));
        in += (a ? ", " : "") + hex(v, sizeof(T));
      }
      if (src.ki.int_arg) in += ", " + std::to_string(A.k[l]);
      std::string s = "(" + in + "): " + hex(ra, res_bytes) + " -> " + hex(rb, res_bytes);
      if (src.ki.ptr) s += ", second " + hex(sa, r2_bytes) + " -> " + hex(sb, r2_bytes);
      if (spare) s += ", spare lanes " + hex(A.whole[l][1], 8) + " -> " + hex(B.whole[l][1], 8);
      d.add(s);
    }
  }
  done += hi - reported;
  return d;
}

std::vector<uint64_t> double_inputs(uint64_t samples) {
  std::vector<uint64_t> xs;
  std::mt19937_64 g(0xd1ff);
  for (uint64_t i = 0; i < samples; ++i) xs.push_back(g());
  std::uniform_real_distribution<double> u(-1074.0, 1024.0);
  for (uint64_t i = 0; i < samples; ++i) {
    double v = std::exp2(u(g));
    if (g() & 1) v = -v;
    xs.push_back(bits_d(v));
  }
  auto around = [&](double c) {
    uint64_t b = bits_d(c);
    for (int64_t k = -(1 << 10); k <= (1 << 10); ++k) xs.push_back(b + uint64_t(k));
  };
  for (int e = -1022; e <= 1023; e += 1) around(std::ldexp(1.0, e)), around(-std::ldexp(1.0, e));
  for (int n = 1; n <= 1024; ++n) around(n), around(-n);
  return xs;
}

Range parse_range(std::string_view v, const char* what) {
  size_t c = v.find(':');
  if (c == std::string_view::npos) throw qarn::cli::BadInput(std::string(what) + " takes LO:HI");
  Range r{qarn::cli::parse_finite(v.substr(0, c), qarn::cli::Lane::f64),
          qarn::cli::parse_finite(v.substr(c + 1), qarn::cli::Lane::f64)};
  if (!(r.lo > 0 && r.hi > r.lo)) throw qarn::cli::BadInput(std::string(what) + " takes magnitudes 0 < LO < HI");
  return r;
}

const char kHelp[] =
    "usage: lib_diff OLD.so NEW.so [--modes] [--x87-nearest] [--samples=N] [--band=LO:HI] [--y=LO:HI]\n"
    "                [--ftz] [--daz] [--mixed] EXPORT...\n"
    "\n"
    "Two builds of the library compared bit for bit on float width-8 and double width-4 exports of\n"
    "the kinds f:f, ff:f, fff:f, fi:f, f:fpf, f:fpi, ff:fpi (expf8, atan24, fmaf8, pownf8, sincos4),\n"
    "and, of the kinds f:f and ff:f, the exports of widths 1 to 3 (float 4 too) and the wider ones\n"
    "in registers or by reference (logf1, pow2, log1pf3, expf16, log1p16, atan28, pow16; the whole\n"
    "result compared):\n"
    "every float input of a float export (fma: 2N random and hard triples), or 2N sampled inputs plus\n"
    "the neighbourhoods of powers of two and small integers for a double export.\n"
    "  --modes        also under the three directed rounding modes, not only to nearest\n"
    "  --x87-nearest  keep the x87 control word at nearest (by default it follows MXCSR)\n"
    "  --samples=N    N random patterns and N log-uniform magnitudes per double export, N random\n"
    "                 and N hard fma triples (1 to 1e9, default 16777216; 1e6 and 0x100000 are accepted)\n"
    "  --band=LO:HI   N more double operands, log-uniform in LO <= |x| < HI, both signs\n"
    "  --y=LO:HI      the second floating operand log-uniform in LO <= |y| < HI, both signs\n"
    "  --ftz          subnormal results flushed to zero (MXCSR bit 15) in every mode compared\n"
    "  --daz          subnormal operands read as zero (MXCSR bit 6) in every mode compared\n"
    "  --mixed        the inputs of one call taken from far-apart parts of the inputs (every\n"
    "                 input still once): registers mixing tiny, ordinary and huge lanes\n"
    "  -h, --help     this text\n"
    "\n"
    "Exit status: 0 the same bits everywhere, 1 a difference (the first few are printed), 2 bad\n"
    "input (every argument is checked before the first comparison).  Progress goes to stderr.\n";

struct Job {
  const char* arg;
  const qarn::reg::Export* e;
  KindInfo ki;
  void *fa, *fb;
};

}  // namespace

int main(int argc, char** argv) {
  for (int a = 1; a < argc; ++a)
    if (!std::strcmp(argv[a], "--help") || !std::strcmp(argv[a], "-h")) {
      std::fputs(kHelp, stdout);
      return 0;
    }
  unsigned modes = 1, flush = 0;
  bool x87_follow = true, mixed = false;
  uint64_t samples = 1 << 24;
  Range band, y;
  std::vector<Job> jobs;
  try {
    std::vector<const char*> names, libs;
    for (int a = 1; a < argc; ++a) {
      std::string_view arg = argv[a];
      if (arg == "--modes") modes = 4;
      else if (arg == "--x87-nearest") x87_follow = false;
      else if (arg == "--ftz") flush |= 0x8000;
      else if (arg == "--daz") flush |= 0x40;
      else if (arg == "--mixed") mixed = true;
      else if (arg.starts_with("--samples=")) samples = qarn::cli::parse_count(arg.substr(10), "--samples", 1, 1000000000);
      else if (arg.starts_with("--band=")) band = parse_range(arg.substr(7), "--band");
      else if (arg.starts_with("--y=")) y = parse_range(arg.substr(4), "--y");
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
      const qarn::reg::Export* e = qarn::reg::find(n);
      if (!e) throw qarn::cli::BadInput(std::string("'") + n + "' is not an export");
      KindInfo ki;
      const bool narrow = (e->prec == 'f' && (e->width == 2 || e->width == 3 || e->width == 4)) ||
                          (e->prec == 'd' && (e->width == 2 || e->width == 3));
      const int regs = e->width * (e->prec == 'f' ? 4 : 8) / 32;
      const bool wide = (e->prec == 'f' || e->prec == 'd') && regs > 1;
      bool ok = kind_of(e->kind, ki) &&
                (e->by_ref ? wide && !ki.int_arg && !ki.ptr && ki.nf <= 2
                           : ((e->prec == 'f' && e->width == 8) || (e->prec == 'd' && e->width == 4) ||
                              ((e->prec == 'f' || e->prec == 'd') && (e->width == 1 || narrow || wide) && !ki.int_arg &&
                               !ki.ptr && ki.nf <= 2 && (!wide || ki.nf * regs <= 4))));
      ki.ref = e->by_ref;
      ki.one = e->width == 1;
      if (narrow) ki.part = e->width, ki.reg = e->prec == 'd' && e->width == 3 ? 32 : 16;
      if (wide) ki.regs = regs;
      if (!ok)
        throw qarn::cli::BadInput(std::string("'") + n +
                                  "' is not a float width-8, double width-4 or, of the kinds f:f and ff:f, another export that lib_diff calls");
      void* fa = dlsym(la, e->name);
      void* fb = dlsym(lb, e->name);
      if (!fa || !fb) throw qarn::cli::BadInput(std::string("'") + n + "' is not in both libraries");
      jobs.push_back({n, e, ki, fa, fb});
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
    Source src{job.e, job.ki, samples, band, y, &xs, mixed};
    if (job.e->prec == 'd' && !src.is_fma() && xs.empty()) xs = double_inputs(samples);
    for (unsigned mode = 0; mode < modes; ++mode) {
      std::vector<Diff> part(nt);
      std::vector<std::thread> th;
      std::atomic<uint64_t> done{0};
      std::atomic<unsigned> finished{0};
      const uint64_t total = src.count(), L = (job.e->prec == 'f' ? 8 : 4) * uint64_t(job.ki.regs);
      const uint64_t span = (total / nt + L - 1) / L * L;
      for (unsigned t = 0; t < nt; ++t)
        th.emplace_back([&, t, span] {  // span by value: its block ends before the threads do
          uint64_t lo = std::min(total, t * span), hi = t + 1 == nt ? total : std::min(total, (t + 1) * span);
          part[t] = job.e->prec == 'f' ? run_range<float>(src, job.fa, job.fb, lo, hi, mode, flush, x87_follow, done)
                                       : run_range<double>(src, job.fa, job.fb, lo, hi, mode, flush, x87_follow, done);
          ++finished;
        });
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
      const char* fl = flush == 0x8040 ? " (ftz, daz)" : flush == 0x8000 ? " (ftz)" : flush ? " (daz)" : "";
      std::printf("%s %-24s %-11s%s%s %" PRIu64 " inputs, %" PRIu64 " differ\n", all.count ? "DIFF" : "SAME", job.arg,
                  kMode[mode], x87_follow || mode == 0 ? "" : " (x87 nearest)", fl, total, all.count);
      for (uint64_t i = 0; i < all.count && i < 4; ++i) std::printf("     %s\n", all.first[i].c_str());
      if (all.count) status = 1;
    }
  }
  return status;
}
