// Shared by the tests of the exact families fmod, remainder, remquo and fma: the
// two formats, MPFR values converted to and from bit patterns (subnormals
// included, in any rounding direction), the rounding modes of MXCSR and of the
// x87 control word, a register-level call under a chosen MXCSR, and random
// operands over every exponent.
#pragma once
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/rng.h"

namespace qarn::exact {

namespace qa = qarn::abi;
using qa::Lanes;

struct Fmt {
  int p, bias, maxe, shift, bytes, emin, emax;
  uint64_t sign, mant, all;
  uint64_t inf() const { return uint64_t(maxe) << shift; }
  uint64_t quiet_bit() const { return uint64_t(1) << (shift - 1); }
  uint64_t one() const { return uint64_t(bias) << shift; }
  uint64_t default_nan() const { return sign | inf() | quiet_bit(); }  // what 0/0 gives
  bool nan(uint64_t b) const { return (b & ~sign) > inf(); }
  bool is_inf(uint64_t b) const { return (b & ~sign) == inf(); }
  bool zero(uint64_t b) const { return (b & ~sign) == 0; }
  int field(uint64_t b) const { return int((b >> shift) & uint64_t(maxe)); }
  // A value of exponent e (unbiased, normal range) and fraction m.
  uint64_t make(bool neg, int e, uint64_t m) const {
    return (neg ? sign : 0) | (uint64_t(e + bias) << shift) | (m & mant);
  }
};
inline const Fmt kF{24, 127, 255, 23, 4, -148, 128, 0x80000000u, 0x7FFFFFu, 0xFFFFFFFFu};
inline const Fmt kD{53, 1023, 2047, 52, 8, -1073, 1024, 1ull << 63, (1ull << 52) - 1, ~0ull};
inline const Fmt& fmt(char prec) { return prec == 'f' ? kF : kD; }

// An MPFR number of the given precision (enough for any exact sum of two doubles
// by default).
struct Mp {
  mpfr_t v;
  explicit Mp(int prec = 2400) { mpfr_init2(v, prec); }
  ~Mp() { mpfr_clear(v); }
  Mp(const Mp&) = delete;
  Mp& operator=(const Mp&) = delete;
};

inline void set(mpfr_t v, const Fmt& f, uint64_t b) {
  if (f.bytes == 4) mpfr_set_flt(v, qa::as_float(b), MPFR_RNDN);
  else mpfr_set_d(v, qa::as_double(b), MPFR_RNDN);
}
inline uint64_t get(const Fmt& f, mpfr_t v) {
  if (f.bytes == 4) return qa::bits_of(mpfr_get_flt(v, MPFR_RNDN));
  return qa::bits_of(mpfr_get_d(v, MPFR_RNDN));
}

// The exponent range of the format while `Range` lives, so that an operation
// rounds into it (then subnormalize()).
struct Range {
  mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  explicit Range(const Fmt& f) { mpfr_set_emin(f.emin), mpfr_set_emax(f.emax); }
  ~Range() { mpfr_set_emin(emin), mpfr_set_emax(emax); }
};

// Rounding directions in the order of MXCSR's and the x87's control fields.
inline constexpr mpfr_rnd_t kMpfrMode[] = {MPFR_RNDN, MPFR_RNDD, MPFR_RNDU, MPFR_RNDZ};
inline const char* const kModeName[] = {"nearest", "down", "up", "toward zero"};
inline uint32_t mxcsr_for(int mode) { return 0x1F80u | uint32_t(mode) << 13; }

// The x87 control word's rounding field set to `mode` while the object lives.
struct X87Mode {
  uint16_t saved;
  explicit X87Mode(int mode) {
    asm volatile("fnstcw %0" : "=m"(saved));
    uint16_t cw = uint16_t((saved & ~0xC00u) | unsigned(mode) << 10);
    asm volatile("fldcw %0" ::"m"(cw));
  }
  ~X87Mode() { asm volatile("fldcw %0" ::"m"(saved)); }
};

inline qa::Invoker& invoker() {
  static qa::Invoker inv(qa::library_path());
  return inv;
}

// A register-form export called with MXCSR set to `mxcsr`; every result lane
// (register results, then the vector stored through the pointer argument).
inline std::vector<Lanes> call_with_mxcsr(const reg::Export& e, const std::vector<Lanes>& args, uint32_t mxcsr,
                                          uint64_t seed) {
  static qa::Stack stack;
  qa::Shape sh = qa::shape_of(e);
  EXPECT_FALSE(e.by_ref) << e.name;
  qa::RegBlock in = qa::random_block(seed), out{};
  in.mxcsr = mxcsr;
  int vr = 0;
  auto regs = [&](char k) { int b = sh.lane_bytes(k) * sh.lanes; return b <= 32 ? 1 : b / 32; };
  for (size_t a = 0; a < args.size(); ++a) {
    int lb = sh.lane_bytes(sh.args[a]);
    for (int i = 0; i < sh.lanes; ++i) std::memcpy(in.ymm[vr] + i * lb, &args[a][i], lb);  // continues into the next register
    vr += regs(sh.args[a]);
  }
  alignas(64) uint8_t second[64 + 64];
  std::memset(second, 0x5C, sizeof second);
  if (!sh.ptrs.empty()) in.gpr[qa::RCX] = reinterpret_cast<uintptr_t>(second + 32);
  stack.call(invoker().address(e), in, out);
  EXPECT_EQ(out.mxcsr & ~0x3Fu, mxcsr) << e.name << ": MXCSR's controls changed";
  std::vector<Lanes> res;
  int lb = sh.lane_bytes(sh.results[0]);
  Lanes r(sh.lanes, 0);
  for (int i = 0; i < sh.lanes; ++i) std::memcpy(&r[i], out.ymm[0] + i * lb, lb);
  res.push_back(r);
  if (!sh.ptrs.empty()) {
    Lanes q(sh.lanes, 0);
    for (int i = 0; i < sh.lanes; ++i) std::memcpy(&q[i], second + 32 + 4 * i, 4);
    res.push_back(q);
  }
  return res;
}

// A random pattern: any exponent (zero, subnormal and the all-ones field
// included), a fraction that is random, short (few low bits) or all ones.
inline uint64_t random_pattern(const Fmt& f, qarn::test::Rng& r) {
  uint64_t e = r.below(f.maxe + 1), m = r.next() & f.mant;
  switch (r.below(6)) {
    case 0: m &= ~((uint64_t(1) << r.below(f.shift + 1)) - 1); break;
    case 1: m |= f.mant >> r.below(f.shift + 1); break;
    case 2: e = r.below(3) == 0 ? 0 : e; break;
    default: break;
  }
  if (e == uint64_t(f.maxe) && r.below(4)) e -= 1 + r.below(4);  // fewer NaNs and infinities
  return (r.below(2) ? f.sign : 0) | (e << f.shift) | m;
}

inline std::string hex(uint64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(v));
  return b;
}

}  // namespace qarn::exact
