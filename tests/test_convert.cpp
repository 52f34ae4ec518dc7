// Conversions against independent references: floating to integer against the
// exact rounded value and the out-of-range table, integer to floating and double
// to float against MPFR in the requested direction.  Width-1 exports are called
// directly through their System V prototypes (bulk and MXCSR tests); every width
// goes through the register-level caller, lane by lane.
#include <gtest/gtest.h>
#include <immintrin.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/registry.h"

namespace {

using qarn::abi::as_double;
using qarn::abi::as_float;
using qarn::abi::bits_of;
using qarn::abi::Lanes;
using qarn::reg::Export;

const std::string kPrefix(qarn::reg::kPrefix);
enum Rnd { RTE, RTN, RTP, RTZ };
const mpfr_rnd_t kMpfr[] = {MPFR_RNDN, MPFR_RNDD, MPFR_RNDU, MPFR_RNDZ};

const qarn::abi::Invoker& lib() {
  static qarn::abi::Invoker inv(qarn::abi::library_path());
  return inv;
}

// One conversion name, parsed from the registry row.
struct Conv {
  const Export* e;
  char src, dst;  // lane kinds: F D i u l q
  Rnd rnd;
  bool sat;
};
Conv parse(const Export& e) {
  std::string rest = std::string(e.stem).substr(kPrefix.size() + std::strlen(e.family));
  const char* r[] = {"rte", "rtn", "rtp", "rtz"};
  Rnd rnd = RTE;
  for (int i = 0; i < 4; ++i)
    if (rest.compare(0, 3, r[i]) == 0) rnd = Rnd(i);
  return {&e, e.kind[0], e.kind[2], rnd, rest.compare(3, 3, "sat") == 0};
}
std::vector<Conv> conversions(int width) {
  std::vector<Conv> out;
  for (const Export& e : qarn::reg::all())
    if (std::strncmp(e.family, "cvt", 3) == 0 && e.width == width) out.push_back(parse(e));
  return out;
}
bool is_fp(char k) { return k == 'F' || k == 'D'; }
bool wide(char k) { return k == 'D' || k == 'l' || k == 'q'; }

// ---- references ------------------------------------------------------------------
// Floating to integer: the value rounded in the direction, then the out-of-range table.
uint64_t ref_fptoint(char dst, Rnd rnd, bool sat, double x) {
  bool w = dst == 'l' || dst == 'q';
  const uint64_t indef = w ? 0x8000000000000000ull : 0x80000000ull;
  if (std::isnan(x)) return sat ? 0 : indef;
  double v = rnd == RTE ? std::nearbyint(x) : rnd == RTN ? std::floor(x) : rnd == RTP ? std::ceil(x) : std::trunc(x);
  double lim = w ? 0x1p63 : 0x1p31;
  if (dst == 'i' || dst == 'l') {
    if (v >= -lim && v < lim) return w ? uint64_t(int64_t(v)) : uint32_t(int32_t(v));
    if (!sat || v < 0) return indef;
    return w ? 0x7FFFFFFFFFFFFFFFull : 0x7FFFFFFFull;
  }
  if (!sat) {
    double a = std::fabs(v);
    return a < 2 * lim ? (w ? uint64_t(a) : uint32_t(a)) : indef;
  }
  if (std::signbit(v)) return 0;
  if (v >= 2 * lim) return w ? ~0ull : 0xFFFFFFFFull;
  return w ? uint64_t(v) : uint32_t(v);
}

// x rounded to float in an MPFR mode, with float's exponent range (subnormals, overflow).
float mpfr_to_float(mpfr_t x, mpfr_rnd_t m) {
  mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  mpfr_set_emin(-148);
  mpfr_set_emax(128);
  mpfr_t y;
  mpfr_init2(y, 24);
  int t = mpfr_set(y, x, m);
  t = mpfr_check_range(y, t, m);
  mpfr_subnormalize(y, t, m);
  float f = mpfr_get_flt(y, MPFR_RNDN);
  mpfr_clear(y);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  return f;
}

// Integer to floating (result bits).  The directed members round the signed value
// in their own direction whatever MXCSR says.  rte rounds the magnitude in MXCSR's
// mode and then takes the sign, so under round-down a negative value rounds toward
// zero; the 64-bit to float rte members round twice (see upper_then_low).  Zero is
// +0, except under round-down where it is -0 in every direction (but for the signed
// 32-bit to double members, which use the processor's conversion).
float upper_then_low(uint64_t a, mpfr_rnd_t m);
uint64_t ref_inttofp(char src, char dst, Rnd rnd, uint64_t v, mpfr_rnd_t mxcsr) {
  const bool is_signed = src == 'i' || src == 'l';
  const int64_t sv = src == 'i' ? int64_t(int32_t(v)) : int64_t(v);
  const bool neg = is_signed && sv < 0;
  const uint64_t a = src == 'i' || src == 'u' ? (neg ? 0 - uint64_t(sv) : v & 0xFFFFFFFF) : (neg ? 0 - v : v);
  const bool flt = dst == 'F';
  if (a == 0) {
    const bool minus = mxcsr == MPFR_RNDD && !(src == 'i' && !flt);
    return flt ? bits_of(minus ? -0.0f : 0.0f) : bits_of(minus ? -0.0 : 0.0);
  }
  mpfr_t x;
  mpfr_init2(x, 64);
  mpfr_set_uj(x, a, MPFR_RNDN);
  uint64_t r;
  if (rnd == RTE && flt && wide(src) && mxcsr != MPFR_RNDN) {
    r = bits_of(neg ? -upper_then_low(a, mxcsr) : upper_then_low(a, mxcsr));
  } else {
    // Directed: the signed value in the direction; rte: the magnitude in the mode.
    mpfr_rnd_t m = rnd == RTE ? mxcsr : kMpfr[rnd];
    if (neg && rnd != RTE) mpfr_neg(x, x, MPFR_RNDN);
    mpfr_t y;
    mpfr_init2(y, flt ? 24 : 53);
    mpfr_set(y, x, m);
    if (neg && rnd == RTE) mpfr_neg(y, y, MPFR_RNDN);
    r = flt ? bits_of(mpfr_get_flt(y, MPFR_RNDN)) : bits_of(mpfr_get_d(y, MPFR_RNDN));
    mpfr_clear(y);
  }
  mpfr_clear(x);
  return r;
}

// The 64-bit to float rte result for a magnitude a in a rounding mode: the value
// without its low 23 bits rounds to S; if S is low by exactly half its ulp and the
// low 23 bits are not all zero, S's lowest significand bit is set; then S plus the
// low bits rounds again.  Under round-to-nearest this is the correctly rounded value;
// under the other modes the two roundings can land an ulp from the mode's own result.
float upper_then_low(uint64_t a, mpfr_rnd_t m) {
  const uint64_t low = a & 0x7FFFFF, upper = a - low;
  mpfr_t s, err, r;
  mpfr_inits2(24, s, r, (mpfr_ptr)0);
  mpfr_init2(err, 128);
  mpfr_set_uj(s, upper, m);
  mpfr_set_uj(err, upper, MPFR_RNDN);
  mpfr_sub(err, err, s, MPFR_RNDN);  // exact
  if (low != 0 && upper != 0) {
    const mpfr_exp_t e = mpfr_get_exp(s);  // s in [2^(e-1), 2^e): ulp 2^(e-24)
    mpfr_t q;
    mpfr_init2(q, 24);
    mpfr_div_2si(q, s, e - 24, MPFR_RNDN);  // s in ulps, an integer below 2^24
    if (mpfr_cmp_si_2exp(err, 1, e - 25) == 0 && mpfr_get_ui(q, MPFR_RNDN) % 2 == 0) mpfr_nextabove(s);
    mpfr_clear(q);
  }
  mpfr_add_ui(r, s, low, m);
  float f = mpfr_get_flt(r, MPFR_RNDN);
  mpfr_clears(s, r, err, (mpfr_ptr)0);
  return f;
}

uint64_t ref_narrow(double x, mpfr_rnd_t m) {
  if (std::isnan(x)) return bits_of(float(x));  // quiet, payload truncated
  mpfr_t t;
  mpfr_init2(t, 53);
  mpfr_set_d(t, x, MPFR_RNDN);
  float f = mpfr_to_float(t, m);
  mpfr_clear(t);
  return bits_of(f);
}

// The expected result bits of one lane; MXCSR's mode matters to the rte members of
// integer to floating and double to float, and to zero from integer to floating.
uint64_t expect(const Conv& c, uint64_t in, mpfr_rnd_t mxcsr_mode = MPFR_RNDN) {
  mpfr_rnd_t m = c.rnd == RTE ? mxcsr_mode : kMpfr[c.rnd];
  if (is_fp(c.src) && is_fp(c.dst)) return ref_narrow(as_double(in), m);
  if (is_fp(c.src)) return ref_fptoint(c.dst, c.rnd, c.sat, c.src == 'F' ? double(as_float(in)) : as_double(in));
  return ref_inttofp(c.src, c.dst, c.rnd, in, mxcsr_mode);
}
uint64_t filler_of(char src) { return src == 'F' ? 0x3F400000 : src == 'D' ? 0x3FE8000000000000 : 1; }

// ---- inputs ------------------------------------------------------------------------
std::mt19937_64& rng() {
  static std::mt19937_64 g(0x5EEDC0DE);
  return g;
}
// Random patterns over every exponent, and the values at and next to each limit.
std::vector<uint64_t> fp_inputs(bool dbl, int random) {
  std::vector<double> v = {0.0, 0.25, 0.5, 0.75, 1.5, 2.5, 3.5, -1.9, 1e-300, 1e-45, 3.0e9, 5.0e9, 1e19,
                           0x1p60 + 256, 4503599627370495.0, 2147483647.5, 4294967295.5, INFINITY};
  for (double lim : {0x1p23, 0x1p24, 0x1p31, 0x1p32, 0x1p52, 0x1p53, 0x1p63, 0x1p64})
    for (double d : {-1.5, -1.0, -0.5, 0.0, 0.5, 1.0})
      v.push_back(lim + d);
  for (int k = -4; k <= 4; ++k) v.push_back(k + 0.5);
  std::vector<uint64_t> out;
  auto add = [&](double x) {
    if (dbl) {
      for (double y : {x, std::nextafter(x, 0.0), std::nextafter(x, INFINITY)})
        for (double s : {1.0, -1.0}) out.push_back(bits_of(s * y));
    } else {
      float f = float(x);
      for (float y : {f, std::nextafter(f, 0.0f), std::nextafter(f, INFINITY)})
        for (float s : {1.0f, -1.0f}) out.push_back(bits_of(s * y));
    }
  };
  for (double x : v) add(x);
  for (uint64_t nan : {0x7FF8000000000000ull, 0xFFF8000000000000ull, 0x7FF0000000000001ull, 0x7FF4000000012345ull})
    out.push_back(dbl ? nan : (nan >> 32) | 1);
  out.push_back(dbl ? 1 : 0x7FC00000);
  out.push_back(dbl ? 0x000FFFFFFFFFFFFF : 0x807FFFFF);
  // Half of the random patterns anywhere, half with an exponent between 2^-2 and 2^66.
  for (int i = 0; i < random; ++i) {
    uint64_t r = rng()(), e = rng()() % 69;
    if (dbl) out.push_back(i % 2 ? r : (r & 0x800FFFFFFFFFFFFFull) | (1021 + e) << 52);
    else out.push_back(i % 2 ? uint32_t(r) : (r & 0x807FFFFF) | (125 + e) << 23);
  }
  return out;
}
// Integers next to every power of two, ties of float and double, extremes, random sizes.
std::vector<uint64_t> int_inputs(bool is64, int random) {
  int n = is64 ? 64 : 32;
  std::vector<uint64_t> out = {0, 1, 16777217, 16777219, 4294967295ull, 9007199254740993ull,
                               (1ull << 63) + (1ull << 39) + 1, (1ull << 63) + (1ull << 39)};
  for (int k = 0; k < n; ++k) {
    uint64_t p = 1ull << k;
    for (int d = -2; d <= 2; ++d) out.push_back(p + d);
    for (int prec : {24, 53})
      if (k > prec) {
        uint64_t half = 1ull << (k - prec);
        for (uint64_t t : {p + half, p + 3 * half, p + half + 1, p + 3 * half - 1, p - half / 2})
          out.push_back(t);
      }
  }
  for (int i = 0; i < random; ++i) out.push_back(rng()() >> (rng()() % 64));
  // Float ties in the bits above the low 23 (even and odd lower neighbours), with and
  // without low bits: the case the 64-bit to float rte members settle separately.
  if (is64)
    for (int k = 47; k < 64; ++k)
      for (int i = 0; i < 8; ++i) {
        uint64_t ulp = 1ull << (k - 23), top = (1ull << k) | (rng()() & ((1ull << k) - 1) & ~(ulp - 1));
        out.push_back(top + ulp / 2 + (i < 2 ? 0 : i < 4 ? 1 : rng()() & 0x7FFFFF));
      }
  size_t m = out.size();
  for (size_t i = 0; i < m; ++i) out.push_back(0 - out[i]);  // negatives, and values near 2^n
  if (!is64)
    for (auto& x : out) x &= 0xFFFFFFFF;
  return out;
}
std::vector<uint64_t> inputs(char src, int random) {
  return is_fp(src) ? fp_inputs(src == 'D', random) : int_inputs(wide(src), random);
}

// ---- width-1 calls through the System V prototypes ----------------------------------
uint64_t call1(const Conv& c, uint64_t in) {
  const void* f = lib().address(*c.e);
  const uint64_t junk = 0xDEADBEEF00000000ull;  // above a 32-bit argument: must be ignored
  uint64_t r;
  if (c.src == 'F') {
    __m128 x = _mm_castsi128_ps(_mm_set_epi32(-1, 0x7F800001, 0x4F800000, int32_t(in)));
    r = reinterpret_cast<uint64_t (*)(__m128)>(f)(x);
  } else if (c.src == 'D') {
    __m128d x = _mm_castsi128_pd(_mm_set_epi64x(0x7FF0000000000001, int64_t(in)));
    if (c.dst == 'F') r = bits_of(_mm_cvtss_f32(reinterpret_cast<__m128 (*)(__m128d)>(f)(x)));
    else r = reinterpret_cast<uint64_t (*)(__m128d)>(f)(x);
  } else {
    uint64_t a = wide(c.src) ? in : (in & 0xFFFFFFFF) | junk;
    if (c.dst == 'F') r = bits_of(_mm_cvtss_f32(reinterpret_cast<__m128 (*)(long, long, long, uint64_t)>(f)(0, 0, 0, a)));
    else r = bits_of(_mm_cvtsd_f64(reinterpret_cast<__m128d (*)(long, long, long, uint64_t)>(f)(0, 0, 0, a)));
  }
  return wide(c.dst) ? r : r & 0xFFFFFFFF;
}
uint64_t call1_mxcsr(const Conv& c, uint64_t in, unsigned mode) {
  unsigned saved = _mm_getcsr();
  _mm_setcsr((saved & ~0x6000u) | mode << 13);
  uint64_t r = call1(c, in);
  _mm_setcsr(saved);
  return r;
}

// Reports the first few mismatches of one export.
struct Check {
  const char* name;
  int bad = 0;
  void operator()(uint64_t in, uint64_t got, uint64_t want, const char* note = "") {
    if (got == want) return;
    if (++bad <= 5)
      ADD_FAILURE() << name << note << " input 0x" << std::hex << in << ": got 0x" << got << ", want 0x" << want;
  }
};

// ---- tests ---------------------------------------------------------------------------
TEST(Conversions, AllPresent) {
  int n = 0;
  for (const Export& e : qarn::reg::all())
    if (std::strncmp(e.family, "cvt", 3) == 0) {
      EXPECT_TRUE(e.present) << e.name;
      EXPECT_NE(lib().address(e), nullptr) << e.name;
      ++n;
    }
  EXPECT_EQ(n, 384 + 192 + 24);
}

// Every conversion at width 1, on the boundary values and random patterns
// (QARN_CONVERT_SAMPLES=n raises the random count per export for a longer sweep).
TEST(Conversions, WidthOneAgainstReference) {
  const char* env = std::getenv("QARN_CONVERT_SAMPLES");
  const int samples = env ? std::atoi(env) : 4000;
  for (const Conv& c : conversions(1)) {
    Check chk{c.e->name};
    for (uint64_t in : inputs(c.src, samples)) chk(in, call1(c, in), expect(c, in));
  }
}

// The directed members give their own direction whatever MXCSR says; rte rounds in
// MXCSR's mode as described at ref_inttofp; floating to integer never depends on it.
TEST(Conversions, MxcsrModes) {
  const mpfr_rnd_t mode_of[] = {MPFR_RNDN, MPFR_RNDD, MPFR_RNDU, MPFR_RNDZ};
  const char* env = std::getenv("QARN_CONVERT_SAMPLES");
  const int samples = env ? std::atoi(env) : 300;
  for (const Conv& c : conversions(1)) {
    Check chk{c.e->name};
    std::vector<uint64_t> in = inputs(c.src, samples);
    for (unsigned mode = 1; mode < 4; ++mode)
      for (uint64_t x : in) chk(x, call1_mxcsr(c, x, mode), expect(c, x, mode_of[mode]), " (MXCSR mode)");
  }
}

// Values fixed by hand under a non-default MXCSR mode (1 down, 2 up, 3 toward zero).
TEST(Conversions, NamedValuesInMxcsrModes) {
  struct Row { const char* name; unsigned mode; uint64_t in, want; };
  const uint64_t tie_up = (1ull << 63) + (1ull << 39) + 1;  // upper bits a tie, low bit set
  const uint64_t minus_tie = 0 - ((1ull << 62) + (1ull << 38) + 1);
  const Row rows[] = {
      // rte rounds the magnitude: toward zero under round-down, away from it under round-up.
      {"cvti32tofprtef1", 1, uint32_t(-16777217), bits_of(-16777216.0f)},
      {"cvti32tofprtef1", 2, uint32_t(-16777217), bits_of(-16777218.0f)},
      {"cvti32tofprtef1", 2, 16777217, bits_of(16777218.0f)},
      {"cvti64tofprte1", 1, uint64_t(-9007199254740993ll), bits_of(-9007199254740992.0)},
      {"cvti64tofprtef1", 2, uint64_t(-16777217ll), bits_of(-16777218.0f)},
      // The upper tie broken upward even under round-down and toward zero; under
      // round-up the upper sum is already above and the low bit lifts it once more.
      {"cvtu64tofprtef1", 1, tie_up, bits_of(9223373136366403584.0f)},
      {"cvtu64tofprtef1", 3, tie_up, bits_of(9223373136366403584.0f)},
      {"cvti64tofprtef1", 1, minus_tie, bits_of(-4611686568183201792.0f)},
      {"cvtu64tofprtef1", 2, tie_up, bits_of(9223374235878031360.0f)},
      {"cvtu64tofprtef1", 1, (1ull << 63) + (1ull << 39), bits_of(9223372036854775808.0f)},
      // The directed members keep their direction.
      {"cvtu64tofprtzf1", 2, ~0ull, bits_of(18446742974197923840.0f)},
      {"cvtu64tofprtpf1", 1, tie_up, bits_of(9223373136366403584.0f)},
      {"cvti64tofprtnf1", 2, minus_tie, bits_of(-4611686568183201792.0f)},
      {"cvti64tofprtzf1", 1, minus_tie, bits_of(-4611686018427387904.0f)},
      {"cvti32tofprtnf1", 2, uint32_t(-16777217), bits_of(-16777218.0f)},
      {"cvtu32tofprtzf1", 2, 4294967295u, bits_of(4294967040.0f)},
      // Zero: -0 under round-down, from every magic-number path, +0 otherwise.
      {"cvti32tofprtef1", 1, 0, 0x80000000}, {"cvti32tofprtpf1", 1, 0, 0x80000000},
      {"cvtu32tofprtn1", 1, 0, 0x8000000000000000}, {"cvti32tofprtn1", 1, 0, 0},
      {"cvti64tofprtz1", 1, 0, 0x8000000000000000}, {"cvtu64tofprtef1", 1, 0, 0x80000000},
      {"cvti64tofprtpf1", 1, 0, 0x80000000}, {"cvtu64tofprtnf1", 2, 0, 0}, {"cvti32tofprtzf1", 3, 0, 0},
  };
  for (const Row& r : rows) {
    const Export* e = qarn::reg::find(kPrefix + r.name);
    ASSERT_NE(e, nullptr) << r.name;
    Check chk{r.name};
    chk(r.in, call1_mxcsr(parse(*e), r.in, r.mode), r.want, " (MXCSR mode)");
  }
}

// Named values whose results are fixed independently of any reference.
TEST(Conversions, NamedValues) {
  struct Row { const char* name; uint64_t in, want; };
  const float nanf_ = NAN;
  const Row rows[] = {
      {"cvtfptoi32rtenosatf1", bits_of(2.5f), 2}, {"cvtfptoi32rtenosatf1", bits_of(3.5f), 4},
      {"cvtfptoi32rtnnosatf1", bits_of(-0.5f), 0xFFFFFFFF}, {"cvtfptoi32rtpnosatf1", bits_of(-0.5f), 0},
      {"cvtfptoi32rtznosatf1", bits_of(-1.9f), 0xFFFFFFFF}, {"cvtfptoi32rtznosatf1", bits_of(nanf_), 0x80000000},
      {"cvtfptoi32rtzsatf1", bits_of(3.0e9f), 0x7FFFFFFF}, {"cvtfptoi32rtzsatf1", bits_of(-INFINITY), 0x80000000},
      {"cvtfptoi32rtzsat1", bits_of(2147483647.0), 0x7FFFFFFF}, {"cvtfptoi32rtpsat1", bits_of(2147483647.5), 0x7FFFFFFF},
      {"cvtfptoi32rtpnosat1", bits_of(2147483647.5), 0x80000000}, {"cvtfptou32rtznosatf1", bits_of(-3.0f), 3},
      {"cvtfptou32rtznosatf1", bits_of(3.0e9f), 3000000000u}, {"cvtfptou32rtznosatf1", bits_of(5.0e9f), 0x80000000},
      {"cvtfptou32rtzsatf1", bits_of(-0.0f), 0}, {"cvtfptou32rtzsatf1", bits_of(5.0e9f), 0xFFFFFFFF},
      {"cvtfptou32rtzsatf1", 0xFFC00000, 0}, {"cvtfptoi64rtznosat1", bits_of(1.0e19), 0x8000000000000000},
      {"cvtfptoi64rtzsat1", bits_of(1.0e19), 0x7FFFFFFFFFFFFFFF},
      {"cvtfptoi64rtznosat1", bits_of(0x1p60 + 256), 1152921504606847232ull},
      {"cvtfptoi64rtznosat1", bits_of(-0x1p63), 0x8000000000000000}, {"cvtfptou64rtznosat1", bits_of(-7.0), 7},
      {"cvtfptou64rtzsat1", bits_of(-7.0), 0}, {"cvtfptou64rtzsat1", bits_of(0x1p64), ~0ull},
      {"cvtfptou64rtzsat1", bits_of(0x1p63), 0x8000000000000000},
      {"cvti32tofprtef1", 16777219, bits_of(16777220.0f)}, {"cvti32tofprtnf1", uint32_t(-16777217), bits_of(-16777218.0f)},
      {"cvti32tofprtzf1", uint32_t(-16777217), bits_of(-16777216.0f)}, {"cvtu32tofprtzf1", 4294967295u, bits_of(4294967040.0f)},
      {"cvti32tofprtz1", 0x80000000, bits_of(-2147483648.0)}, {"cvti64tofprtp1", 9007199254740993ull, bits_of(9007199254740994.0)},
      {"cvtu64tofprtzf1", ~0ull, bits_of(18446742974197923840.0f)},
      {"cvtu64tofprtef1", (1ull << 63) + (1ull << 39) + 1, bits_of(9223373136366403584.0f)},
      {"cvtu64tofprtef1", (1ull << 63) + (1ull << 39), bits_of(9223372036854775808.0f)},
      {"cvtfp64tofp32rtp1", bits_of(1.0000000596046448), 0x3F800001}, {"cvtfp64tofp32rtn1", bits_of(-1.0000000596046448), 0xBF800001},
      {"cvtfp64tofp32rtz1", bits_of(1e300), 0x7F7FFFFF}, {"cvtfp64tofp32rtp1", bits_of(-1e300), 0xFF7FFFFF},
      {"cvtfp64tofp32rtp1", bits_of(1e-60), 0x00000001}, {"cvtfp64tofp32rtz1", bits_of(-1e-60), 0x80000000},
  };
  for (const Row& r : rows) {
    const Export* e = qarn::reg::find(kPrefix + r.name);
    ASSERT_NE(e, nullptr) << r.name;
    Check chk{r.name};
    chk(r.in, call1(parse(*e), r.in), r.want);
  }
}

// Every width through the register-level caller: each lane equals the reference of its
// value (so every width agrees with width 1), the lanes past the width never matter,
// and lane 3 of width 3 is the conversion of the filler.
TEST(Conversions, EveryWidthLaneByLane) {
  for (int width : {1, 2, 3, 4, 8, 16})
    for (const Conv& c : conversions(width)) {
      Check chk{c.e->name};
      std::vector<uint64_t> pool = inputs(c.src, 64);
      const int lanes = width == 3 ? 4 : width;
      for (size_t start = 0; start < pool.size(); start += 37) {
        Lanes a(lanes);
        for (int i = 0; i < lanes; ++i) a[i] = pool[(start + 7 * i) % pool.size()];
        auto o = lib().call(*c.e, {a}, start + 1);
        ASSERT_EQ(o.results.size(), 1u);
        for (int i = 0; i < width; ++i) chk(a[i], o.results[0][i], expect(c, a[i]));
        if (width == 3) chk(a[3], o.results[0][3], expect(c, filler_of(c.src)), " (lane 3)");
      }
    }
}

}  // namespace
