// Shared by the tests of the exact families (fmod, remainder, remquo, fma): the two
// formats, MPFR values to and from bit patterns, the rounding modes of MXCSR and
// the x87 control word, and one check of many cases through the register-level
// caller: every width under the default MXCSR, widths 1, 3 and 4 under another.
#pragma once
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cstdint>
#include <cstring>
#include <functional>
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
  uint64_t qbit() const { return uint64_t(1) << (shift - 1); }
  uint64_t default_nan() const { return sign | inf() | qbit(); }  // what 0/0 gives
  bool nan(uint64_t b) const { return (b & ~sign) > inf(); }
  bool is_inf(uint64_t b) const { return (b & ~sign) == inf(); }
  bool zero(uint64_t b) const { return (b & ~sign) == 0; }
  int field(uint64_t b) const { return int((b >> shift) & uint64_t(maxe)); }
  uint64_t make(bool neg, int e, uint64_t m) const { return (neg ? sign : 0) | (uint64_t(e + bias) << shift) | (m & mant); }
};
inline const Fmt kF{24, 127, 255, 23, 4, -148, 128, 0x80000000u, 0x7FFFFFu, 0xFFFFFFFFu};
inline const Fmt kD{53, 1023, 2047, 52, 8, -1073, 1024, 1ull << 63, (1ull << 52) - 1, ~0ull};
inline const Fmt& fmt(char prec) { return prec == 'f' ? kF : kD; }

struct Mp {
  mpfr_t v;
  explicit Mp(int prec) { mpfr_init2(v, prec); }
  ~Mp() { mpfr_clear(v); }
};
inline void set(mpfr_t v, const Fmt& f, uint64_t b) {
  if (f.bytes == 4) mpfr_set_flt(v, qa::as_float(b), MPFR_RNDN);
  else mpfr_set_d(v, qa::as_double(b), MPFR_RNDN);
}
inline uint64_t get(const Fmt& f, mpfr_t v) {
  return f.bytes == 4 ? qa::bits_of(mpfr_get_flt(v, MPFR_RNDN)) : qa::bits_of(mpfr_get_d(v, MPFR_RNDN));
}
// The format's exponent range while it lives: operations round into it, then
// mpfr_subnormalize() makes their subnormals.
struct Range {
  mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  explicit Range(const Fmt& f) { mpfr_set_emin(f.emin), mpfr_set_emax(f.emax); }
  ~Range() { mpfr_set_emin(emin), mpfr_set_emax(emax); }
};

// Rounding directions in the order of MXCSR's and the x87's fields.
inline constexpr mpfr_rnd_t kMpfrMode[] = {MPFR_RNDN, MPFR_RNDD, MPFR_RNDU, MPFR_RNDZ};
inline uint32_t mxcsr_for(int mode) { return 0x1F80u | uint32_t(mode) << 13; }
struct X87Mode {  // the x87 rounding field set to `mode` while it lives
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

// A register-form export under `mxcsr`: the result lanes, then the stored ones.
inline std::vector<Lanes> call_with_mxcsr(const reg::Export& e, const std::vector<Lanes>& args, uint32_t mxcsr) {
  static qa::Stack stack;
  qa::Shape sh = qa::shape_of(e);
  qa::RegBlock in = qa::random_block(mxcsr + e.width), out{};
  in.mxcsr = mxcsr;
  uint8_t* regs = in.ymm[0];  // argument k starts in the register after argument k-1's
  for (size_t a = 0; a < args.size(); ++a) {
    int lb = sh.lane_bytes(sh.args[a]), bytes = lb * sh.lanes;
    for (int i = 0; i < sh.lanes; ++i) std::memcpy(regs + i * lb, &args[a][i], lb);
    regs += bytes <= 32 ? 32 : bytes;
  }
  alignas(64) uint8_t second[64];
  in.gpr[qa::RCX] = reinterpret_cast<uintptr_t>(second);
  stack.call(invoker().address(e), in, out);
  EXPECT_EQ(out.mxcsr & ~0x3Fu, mxcsr) << e.name;
  std::vector<Lanes> res(1 + sh.ptrs.size(), Lanes(sh.lanes, 0));
  for (int i = 0; i < sh.lanes; ++i) {
    std::memcpy(&res[0][i], out.ymm[0] + i * sh.lane_bytes('f'), sh.lane_bytes('f'));
    if (res.size() > 1) std::memcpy(&res[1][i], second + 4 * i, 4);
  }
  return res;
}

// One case: operands, the wanted result and (remquo) quotient.
struct Case {
  std::vector<uint64_t> in;
  uint64_t r;
  int32_t q = 0;
};
// A different answer a mode allows (remainder's ties), or nullptr.
using Allow = std::function<bool(const Case&, uint64_t r, int32_t q)>;

// `cases` through every width of `stem` (e.g. "fmodf"), or widths 1, 3 and 4 when
// `mode` is not nearest (the x87 control word set alike); lane 3 of width 3 holds
// NaN operands that must not matter, and its result is `lane3` (the fillers').
inline void check(const std::string& stem, const Fmt& f, const std::vector<Case>& cs, int mode, const Case& lane3,
                  const Allow& allow = nullptr) {
  X87Mode x87(mode);
  int failures = 0;
  for (int w : mode == 0 ? std::vector<int>{1, 2, 3, 4, 8, 16} : std::vector<int>{1, 3, 4}) {
    const reg::Export* e = reg::find(stem + std::to_string(w));
    ASSERT_TRUE(e && e->present) << stem << w;
    int lanes = w == 3 ? 4 : w;
    for (size_t c0 = 0; c0 < cs.size(); c0 += w) {
      std::vector<Lanes> args(cs[0].in.size(), Lanes(lanes, f.inf() | 1));
      for (int i = 0; i < w; ++i)
        for (size_t a = 0; a < args.size(); ++a) args[a][i] = cs[(c0 + i) % cs.size()].in[a];
      std::vector<Lanes> res;
      if (mode == 0) {
        qa::Outcome o = invoker().call(*e, args, c0 + w, int(c0 % 5));
        ASSERT_TRUE(o.guards_intact) << e->name;
        res = o.results;
      } else {
        res = call_with_mxcsr(*e, args, mxcsr_for(mode));
      }
      for (int i = 0; i < lanes; ++i) {
        const Case& c = i < w ? cs[(c0 + i) % cs.size()] : lane3;
        uint64_t r = res[0][i] & f.all;
        int32_t q = res.size() > 1 ? int32_t(uint32_t(res[1][i])) : 0;
        if ((r == c.r && q == c.q) || (allow && i < w && allow(c, r, q))) continue;
        if (++failures <= 8) {
          ADD_FAILURE() << e->name << " mode " << mode << " lane " << i << std::hex << " in " << c.in[0] << " "
                        << c.in[1] << " " << c.in.back() << ": got " << r << " q " << std::dec << q << ", want "
                        << std::hex << c.r << " q " << std::dec << c.q;
        }
      }
    }
  }
  EXPECT_EQ(failures, 0) << stem << " mode " << mode << ", " << cs.size() << " cases";
}

// A random pattern of any exponent (zero and all ones included) with a fraction
// that is random, short or all ones.
inline uint64_t random_pattern(const Fmt& f, qarn::test::Rng& r) {
  uint64_t e = r.below(f.maxe + 1), m = r.next() & f.mant;
  switch (r.below(6)) {
    case 0: m &= ~((uint64_t(1) << r.below(f.shift + 1)) - 1); break;
    case 1: m |= f.mant >> r.below(f.shift + 1); break;
    case 2: e = r.below(3) ? e : 0; break;
  }
  if (e == uint64_t(f.maxe) && r.below(4)) e -= 1 + r.below(4);  // fewer NaNs and infinities
  return (r.below(2) ? f.sign : 0) | (e << f.shift) | m;
}

}  // namespace qarn::exact
