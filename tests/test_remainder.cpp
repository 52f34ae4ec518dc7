// fmod, remainder and remquo against MPFR, bit for bit, remquo's quotient
// included: random operands over every exponent (so both the main path and the
// long division of the lane fallbacks), quotients up to 2^2100, subnormal and
// huge divisors, the bands around every threshold, exact ties, zeros,
// infinities and NaNs; every width through the register-level caller, and the
// register forms under every MXCSR rounding mode.
//
// QARN_REM_SWEEP=N checks N random float pairs of fmodf and remainderf more
// (through fmodf8 and remainderf8) and prints the count of mismatches.
#include <immintrin.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "exact_ref.h"

using namespace qarn::exact;
namespace reg = qarn::reg;

namespace {

struct Want {
  uint64_t r;
  int32_t q;
};

// The exact remainder (with the quotient's sign and low 31 bits for remquo).
// NaN operands give the first NaN, quieted; y = 0 and infinite x the default NaN.
Want reference(const std::string& fam, const Fmt& f, uint64_t x, uint64_t y) {
  if (f.nan(x)) return {x | f.quiet_bit(), 0};
  if (f.nan(y)) return {y | f.quiet_bit(), 0};
  if (f.zero(y) || f.is_inf(x)) return {f.default_nan(), 0};
  Mp a, b, r(f.p);
  set(a.v, f, x);
  set(b.v, f, y);
  long q = 0;
  if (fam == "fmod") mpfr_fmod(r.v, a.v, b.v, MPFR_RNDN);
  else mpfr_remquo(r.v, &q, a.v, b.v, MPFR_RNDN);
  int32_t low = int32_t((q < 0 ? -q : q) & 0x7FFFFFFF);
  if (fam != "remquo") low = 0;
  return {get(f, r.v), q < 0 ? -low : low};
}

// Operand pairs for one precision: special values against each other, random
// patterns, exponents near each other (the main path and its gap limit), the
// thresholds on y, exact ties, and huge quotients.
std::vector<std::pair<uint64_t, uint64_t>> pairs(const Fmt& f, uint64_t seed, int n) {
  qarn::test::Rng r(seed);
  bool d = f.bytes == 8;
  std::vector<uint64_t> sp = {0, 1, 0x2A5, f.mant, f.mant + 1, f.one(), f.one() + 1, f.one() - 1,
                              f.make(false, 1, uint64_t(1) << (f.shift - 1)),  // 3
                              f.make(false, -1, uint64_t(1) << (f.shift - 1)),  // 0.75
                              f.make(false, 1, 0), f.make(false, f.p, 1), f.make(false, f.bias, f.mant),
                              f.make(false, d ? 60 : 30, 0), f.inf(), f.inf() | f.quiet_bit() | 0x123, f.inf() | 0x45};
  for (size_t i = 0, m = sp.size(); i < m; ++i) sp.push_back(sp[i] | f.sign);
  std::vector<std::pair<uint64_t, uint64_t>> out;
  for (uint64_t x : sp)
    for (uint64_t y : sp) out.push_back({x, y});
  const int gap = d ? 25 : 11;
  // y's threshold bands: tiny, large (fmod's and remainder's), as fields.
  const int bands[] = {d ? 51 : 12, d ? 2021 : 243, d ? 2046 : 253, 1};
  for (int i = 0; i < n; ++i) {
    uint64_t x = random_pattern(f, r), y = random_pattern(f, r);
    bool nx = r.below(2), ny = r.below(2);
    switch (r.below(8)) {
      case 0: case 1: break;
      case 2: case 3: {  // exponents within the main path's reach, and just beyond it
        int ey = int(r.below(f.maxe - 2)) + 1 - f.bias;
        int ex = ey + int(r.below(gap + 4)) - 2;
        if (ex + f.bias >= f.maxe) ex = f.maxe - 1 - f.bias;
        x = f.make(nx, ex, r.next()), y = f.make(ny, ey, r.next());
        break;
      }
      case 4: {  // y on either side of a threshold
        int field = bands[r.below(4)] + int(r.below(3)) - 1;
        y = (ny ? f.sign : 0) | (uint64_t(field) << f.shift) | (r.next() & f.mant & -uint64_t(r.below(2)));
        x = f.make(nx, field - f.bias + int(r.below(gap + 3)) - 1, r.next());
        if (f.field(x) >= f.maxe || f.field(x) == 0) x = random_pattern(f, r);
        break;
      }
      case 5: {  // x = (k + 1/2) y exactly, and x = k y: ties and zero remainders
        uint64_t k = r.below(uint64_t(1) << (d ? 20 : 8));
        int ey = int(r.below(200)) - 100;
        Mp a, b;
        mpfr_set_ui(a.v, 2 * k + (r.below(3) ? 1 : 0), MPFR_RNDN);
        y = f.make(ny, ey, r.next() & ~((uint64_t(1) << (d ? 24 : 10)) - 1));
        set(b.v, f, y);
        mpfr_mul(a.v, a.v, b.v, MPFR_RNDN);
        mpfr_div_2ui(a.v, a.v, 1, MPFR_RNDN);
        Mp t(f.p);
        mpfr_set(t.v, a.v, MPFR_RNDN);
        x = get(f, t.v) ^ (nx ? f.sign : 0);
        break;
      }
      case 6: {  // huge quotients: x near the top, y near the bottom
        x = f.make(nx, f.bias - int(r.below(40)), r.next());
        y = r.below(2) ? (ny ? f.sign : 0) | (r.next() & f.mant) | 1 : f.make(ny, 1 - f.bias + int(r.below(40)), r.next());
        break;
      }
      default: {  // subnormal operands
        x = (nx ? f.sign : 0) | (r.next() & f.mant) >> r.below(f.shift);
        y = (ny ? f.sign : 0) | (r.next() & f.mant) >> r.below(f.shift);
        if (r.below(2)) std::swap(x, y);
        break;
      }
    }
    out.push_back({x, y});
  }
  return out;
}

std::string call_name(const std::string& fam, char prec, int w) {
  return fam + (prec == 'f' ? "f" : "") + std::to_string(w);
}

// Every width, default MXCSR, garbage in every other register and lane.
void every_width(const std::string& fam, char prec) {
  const Fmt& f = fmt(prec);
  auto ps = pairs(f, 0xD1F0 + prec + fam.size(), 6000);
  std::vector<Want> want;
  for (auto& p : ps) want.push_back(reference(fam, f, p.first, p.second));
  bool quo = fam == "remquo";
  int failures = 0;
  for (int w : {1, 2, 3, 4, 8, 16}) {
    const reg::Export* e = reg::find(call_name(fam, prec, w));
    ASSERT_TRUE(e && e->present);
    int lanes = w == 3 ? 4 : w;
    for (size_t c0 = 0; c0 < ps.size(); c0 += w) {
      std::vector<Lanes> args(2, Lanes(lanes, f.inf() | 1));  // NaN in lane 3 of width 3
      for (int i = 0; i < w; ++i) {
        args[0][i] = ps[(c0 + i) % ps.size()].first;
        args[1][i] = ps[(c0 + i) % ps.size()].second;
      }
      qa::Outcome o = invoker().call(*e, args, c0 * 7 + w, int(c0 % 5));
      ASSERT_TRUE(o.guards_intact) << e->name << " wrote beside its result or quotient";
      for (int i = 0; i < w; ++i) {
        const Want& wt = want[(c0 + i) % ps.size()];
        uint64_t got = o.results[0][i] & f.all;
        int32_t gq = quo ? int32_t(uint32_t(o.results[1][i])) : 0;
        if ((got != wt.r || gq != wt.q) && ++failures <= 10)
          ADD_FAILURE() << e->name << " lane " << i << " (" << hex(args[0][i]) << ", " << hex(args[1][i])
                        << "): got " << hex(got) << " q " << gq << ", want " << hex(wt.r) << " q " << wt.q;
      }
      // The quotient store covers the whole width-3 vector: lane 3 divides the fillers.
      if (quo && w == 3) {
        EXPECT_EQ(uint32_t(o.results[1][3]), 1u) << e->name;
        EXPECT_EQ(o.results[0][3] & f.all, 0u) << e->name;
      }
    }
  }
  EXPECT_EQ(failures, 0) << call_name(fam, prec, 0) << " over " << ps.size() << " pairs per width";
}

TEST(Remainders, FmodExactAtEveryWidth) { every_width("fmod", 'f'), every_width("fmod", 'd'); }
TEST(Remainders, RemainderExactAtEveryWidth) { every_width("remainder", 'f'), every_width("remainder", 'd'); }
TEST(Remainders, RemquoExactAtEveryWidth) { every_width("remquo", 'f'), every_width("remquo", 'd'); }

// Under every MXCSR mode fmod stays exact.  remainder and remquo round their
// main-path quotient in the caller's mode, so an exact tie (|r| = |y|/2) may take
// the odd quotient there: r changes sign and the quotient moves by one toward it.
// Everything else, and every zero remainder's sign (x's), is the same in all modes.
TEST(Remainders, EveryRoundingMode) {
  for (const char* fam : {"fmod", "remainder", "remquo"})
    for (char prec : {'f', 'd'}) {
      const Fmt& f = fmt(prec);
      auto ps = pairs(f, 0x0DE5 + prec, 1500);
      bool quo = std::string(fam) == "remquo", ties_free = std::string(fam) == "fmod";
      for (int mode = 0; mode < 4; ++mode) {
        int failures = 0, ties = 0;
        for (int w : {1, 4}) {
          const reg::Export* e = reg::find(call_name(fam, prec, w));
          for (size_t c0 = 0; c0 + w <= ps.size(); c0 += w) {
            std::vector<Lanes> args(2, Lanes(4, 0));
            for (int i = 0; i < w; ++i) args[0][i] = ps[c0 + i].first, args[1][i] = ps[c0 + i].second;
            auto res = call_with_mxcsr(*e, args, mxcsr_for(mode), c0 + mode);
            for (int i = 0; i < w; ++i) {
              Want wt = reference(fam, f, args[0][i], args[1][i]);
              uint64_t got = res[0][i] & f.all;
              int32_t gq = quo ? int32_t(uint32_t(res[1][i])) : 0;
              if (got == wt.r && gq == wt.q) continue;
              // The odd neighbour of a tie: -r, and the quotient one step toward r's side.
              bool tie = false;
              if (!ties_free && mode != 0 && !f.zero(wt.r) && got == (wt.r ^ f.sign)) {
                Mp rr, yy;
                set(rr.v, f, wt.r);
                set(yy.v, f, args[1][i]);
                mpfr_mul_2ui(rr.v, rr.v, 1, MPFR_RNDN);
                tie = mpfr_cmpabs(rr.v, yy.v) == 0;
                int32_t s = ((wt.r ^ args[1][i]) & f.sign) ? -1 : 1;  // r's side of the quotient
                if (quo) tie = tie && gq == wt.q + s;
              }
              if (tie) {
                ++ties;
                continue;
              }
              if (++failures <= 6)
                ADD_FAILURE() << e->name << " rounding " << kModeName[mode] << " (" << hex(args[0][i]) << ", "
                              << hex(args[1][i]) << "): got " << hex(got) << " q " << gq << ", want "
                              << hex(wt.r) << " q " << wt.q;
            }
          }
        }
        EXPECT_EQ(failures, 0) << fam << prec << " rounding " << kModeName[mode];
        if (mode == 0) {
          EXPECT_EQ(ties, 0);
        }
      }
    }
}

// Values worth stating outright, in every mode: zero remainders take x's sign
// (also where a subtraction gives -0 rounding downward), the |y| = 1 cases, huge
// quotients and remquo's quotient bits.
TEST(Remainders, StatedValues) {
  auto d = [](double v) { return qa::bits_of(v); };
  auto fl = [](float v) { return qa::bits_of(v); };
  struct Case {
    const char* fn;
    uint64_t x, y, r;
    int32_t q;
  };
  // The ties (7/2, 2.5/1, -3/6, ...) are stated for the default mode only.
  const Case cases[] = {
      {"fmod1", d(5.5), d(2), d(1.5), 0},         {"fmod1", d(-5.5), d(2), d(-1.5), 0},
      {"fmod1", d(5.5), d(-2), d(1.5), 0},        {"fmod1", d(-4), d(2), d(-0.0), 0},
      {"fmod1", d(4), d(2), d(0.0), 0},           {"fmod1", d(0x1p30), d(1), d(0.0), 0},
      {"fmod1", d(-0x1p30), d(1), d(-0.0), 0},    {"fmod1", d(-0x1p30 - 0.75), d(-1), d(-0.75), 0},
      {"fmod1", d(0x1p60), d(3), d(1), 0},        {"fmod1", d(-0x1p60), d(3), d(-1), 0},
      {"fmod1", d(3), d(-INFINITY), d(3), 0},     {"fmod1", d(-0.0), d(5), d(-0.0), 0},
      {"fmod1", d(1e-310), d(3e-310), d(1e-310), 0}, {"fmod1", d(0x1p1023), d(0x1p-1074), d(0), 0},
      {"fmodf1", fl(0x1p30f), fl(1), fl(0.0f), 0}, {"fmodf1", fl(-0x1p127f), fl(0x1.8p-148f), fl(-0x1p-149f), 0},
      {"remainder1", d(4), d(2), d(0.0), 0},      {"remainder1", d(-4), d(2), d(-0.0), 0},
      {"remainder1", d(5), d(2), d(1), 0},        {"remainder1", d(7), d(2), d(-1), 0},
      {"remainderf1", fl(2.5f), fl(1), fl(0.5f), 0}, {"remainderf1", fl(3.5f), fl(1), fl(-0.5f), 0},
      {"remquo1", d(7), d(2), d(-1), 4},          {"remquo1", d(5), d(2), d(1), 2},
      {"remquo1", d(-7), d(2), d(1), -4},         {"remquo1", d(0x1p60), d(3), d(1), 1431655765},
      {"remquo1", d(0x1p61), d(3), d(-1), 715827883}, {"remquo1", d(-0x1p60), d(3), d(-1), -1431655765},
      {"remquo1", d(3), d(5), d(-2), 1},          {"remquo1", d(3), d(7), d(3), 0},
      {"remquo1", d(-3), d(6), d(-3), 0},         {"remquo1", d(3), d(-5), d(-2), -1},
      {"remquo1", d(0x1p1023), d(-0x1.8p1023), d(-0x1p1022), -1},
      {"remquof1", fl(0x1p127f), fl(0x1p-149f), fl(0.0f), 0},  // 2^276 mod 2^31 = 0
  };
  auto tie = [](const Case& c) {
    return std::fabs(std::fmod(qa::as_double(c.x) / qa::as_double(c.y), 1.0)) == 0.5 ||
           std::fabs(std::fmod(double(qa::as_float(c.x)) / double(qa::as_float(c.y)), 1.0)) == 0.5;
  };
  for (const Case& c : cases)
    for (int mode = 0; mode < (tie(c) ? 1 : 4); ++mode) {
      const reg::Export* e = reg::find(c.fn);
      X87Mode x87(mode);
      auto res = call_with_mxcsr(*e, {{c.x}, {c.y}}, mxcsr_for(mode), 9);
      EXPECT_EQ(hex(res[0][0] & fmt(e->prec).all), hex(c.r)) << c.fn << "(" << hex(c.x) << ", " << hex(c.y)
                                                              << ") rounding " << kModeName[mode];
      if (res.size() > 1) {
        EXPECT_EQ(int32_t(uint32_t(res[1][0])), c.q) << c.fn << " quotient";
      }
    }
  // Invalid operations: the default NaN and quotient 0.
  const Fmt& f = kD;
  for (uint64_t x : {d(3), d(INFINITY), d(-INFINITY)}) {
    qa::Outcome o = invoker().call(*reg::find("remquo1"), {{x}, {x == d(3) ? d(0) : d(2)}});
    EXPECT_EQ(hex(o.results[0][0]), hex(f.default_nan()));
    EXPECT_EQ(o.results[1][0] & 0xFFFFFFFFu, 0u);
  }
}

// ---- the opt-in sweep --------------------------------------------------------------
TEST(Remainders, FloatSweep) {
  const char* env = std::getenv("QARN_REM_SWEEP");
  if (!env) GTEST_SKIP() << "set QARN_REM_SWEEP=N for N random float pairs of fmodf and remainderf";
  long n = std::atol(env);
  using F2 = __m256 (*)(__m256, __m256);
  for (const char* fam : {"fmod", "remainder"}) {
    F2 fn = reinterpret_cast<F2>(const_cast<void*>(invoker().address(*reg::find(std::string(fam) + "f8"))));
    qarn::test::Rng r(0x5EEB + std::string(fam).size());
    long bad = 0;
    alignas(32) uint32_t x[8], y[8], got[8];
    for (long i = 0; i < n; i += 8) {
      for (int l = 0; l < 8; ++l) {
        uint64_t b = r.next();
        x[l] = uint32_t(b);
        y[l] = uint32_t(b >> 32);
        if (l & 1) y[l] = (y[l] & 0x807FFFFFu) | ((x[l] + (uint32_t(r.below(40)) << 23) - (20u << 23)) & 0x7F800000u);
      }
      __m256 res = fn(_mm256_load_ps(reinterpret_cast<float*>(x)), _mm256_load_ps(reinterpret_cast<float*>(y)));
      _mm256_store_ps(reinterpret_cast<float*>(got), res);
      for (int l = 0; l < 8; ++l) {
        Want w = reference(fam, kF, x[l], y[l]);
        if (got[l] != w.r && ++bad <= 10)
          ADD_FAILURE() << fam << "f(" << hex(x[l]) << ", " << hex(y[l]) << "): got " << hex(got[l]) << ", want "
                        << hex(w.r);
      }
    }
    std::printf("%sf: %ld random pairs, %ld mismatches\n", fam, n, bad);
    EXPECT_EQ(bad, 0);
  }
}

}  // namespace
