// The scalar routines of lgamma, lgamma_r and tgamma, called directly (every lane
// of these families runs through them): accuracy against MPFR, the special values
// and range limits, the sign output of lgamma_r on both sides of every pole, and
// the x87 control word (the double routines work at 64-bit precision whatever the
// caller's precision control, and give the caller's word back).
//
// Opt-in: QARN_GAMMA_SWEEP=1 runs every float input of lgammaf and tgammaf against
// double libm and prints the worst case.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>

#include "support/oracle.h"

extern "C" {
__attribute__((ms_abi)) void tgamma_lane_fallback(const double* x, double* r);
__attribute__((ms_abi)) void tgammaf_lane_fallback(const float* x, float* r);
__attribute__((ms_abi)) void lgamma_lane_fallback(const double* x, double* r);
__attribute__((ms_abi)) void lgammaf_lane_fallback(const float* x, float* r);
__attribute__((ms_abi)) void lgammar_lane_fallback(const double* x, double* r, int32_t* s);
__attribute__((ms_abi)) void lgammarf_lane_fallback(const float* x, float* r, int32_t* s);
}

namespace {

// Accuracy bounds the routines are held to (measured: tgamma 0.51 ulp, tgammaf 0.51;
// lgamma 0.51 ulp, lgammaf 0.51 ulp, 1.07 next to 2 where the [1.75, 2) fit in x
// loses relative accuracy).  tgamma: ulps (OpenCL allows 16).  lgamma: ulps, and
// where |lgamma(x)| < 0.25 (next to its zeros, where the reflection's terms cancel
// outside the windows) the ulp bound or an absolute one: measured 1.4e-17 (double,
// x = -3.9653).
constexpr double kTgammaUlpD = 1.0, kTgammaUlpF = 1.0;
constexpr double kLgammaUlpD = 1.0, kLgammaUlpF = 1.5;
constexpr double kLgammaAbsD = 0x1p-55, kLgammaAbsF = 0x1p-45;

double tg(double x) { double r; tgamma_lane_fallback(&x, &r); return r; }
double tgf(double x) { float f = float(x), r; tgammaf_lane_fallback(&f, &r); return r; }
double lg(double x, int* s = nullptr) {
  double r; int32_t sg = 7;
  lgammar_lane_fallback(&x, &r, &sg);
  double r2 = -1; lgamma_lane_fallback(&x, &r2);
  EXPECT_TRUE((std::isnan(r) && std::isnan(r2)) || std::memcmp(&r, &r2, 8) == 0) << "lgamma and lgamma_r differ at " << x;
  if (s) *s = sg;
  return r;
}
double lgf(double x, int* s = nullptr) {
  float f = float(x), r, r2 = -1; int32_t sg = 7;
  lgammarf_lane_fallback(&f, &r, &sg);
  lgammaf_lane_fallback(&f, &r2);
  EXPECT_TRUE((std::isnan(r) && std::isnan(r2)) || std::memcmp(&r, &r2, 4) == 0) << "lgammaf and lgamma_rf differ at " << x;
  if (s) *s = sg;
  return r;
}

// |got - lgamma(x)|, exact reference.
double abs_err_lgamma(double x, double got) {
  mpfr_t e, m;
  mpfr_inits2(256, e, m, (mpfr_ptr)0);
  mpfr_set_d(m, x, MPFR_RNDN);
  int s;
  mpfr_lgamma(e, &s, m, MPFR_RNDN);
  mpfr_sub_d(e, e, got, MPFR_RNDN);
  double r = std::fabs(mpfr_get_d(e, MPFR_RNDN));
  mpfr_clears(e, m, (mpfr_ptr)0);
  return r;
}

struct Rng {
  uint64_t s;
  double unit() { s = s * 6364136223846793005ull + 1442695040888963407ull; return double(s >> 11) * 0x1p-53; }
};

// Operands: uniform over the ordinary ranges, log-uniform magnitudes, and points
// next to the negative integers and to the zeros of lgamma.
std::vector<double> operands(char prec, int n, uint64_t seed) {
  Rng r{seed};
  std::vector<double> v;
  double top = prec == 'f' ? 36 : 172;
  for (int i = 0; i < n; ++i) {
    double u = r.unit(), x;
    switch (i % 5) {
      case 0: x = -top + 2 * top * u; break;
      case 1: x = std::ldexp(1.0, int(-60 + 70 * u)) * (1 + r.unit()) * (r.unit() < 0.5 ? -1 : 1); break;
      case 2: x = -std::floor(u * (prec == 'f' ? 40 : 180)) + std::ldexp(r.unit() - 0.5, -int(1 + 30 * r.unit())); break;
      case 3: x = 0.5 + 4 * u; break;
      default: x = -15 + 13 * u; break;
    }
    v.push_back(prec == 'f' ? double(float(x)) : x);
  }
  return v;
}

TEST(Tgamma, AccuracyAgainstMpfr) {
  for (char p : {'d', 'f'}) {
    double worst = 0, wx = 0;
    for (double x : operands(p, p == 'd' ? 40000 : 40000, 11)) {
      double got = p == 'd' ? tg(x) : tgf(x);
      double e = qarn::oracle::ulp_error("tgamma", p, x, got);
      if (!(e <= worst)) worst = e, wx = x;
    }
    std::printf("tgamma%s worst %.3f ulp (bound %g) at %a\n", p == 'f' ? "f" : "", worst,
                p == 'd' ? kTgammaUlpD : kTgammaUlpF, wx);
    EXPECT_LE(worst, p == 'd' ? kTgammaUlpD : kTgammaUlpF) << std::hexfloat << wx;
  }
}

TEST(Lgamma, AccuracyAgainstMpfr) {
  for (char p : {'d', 'f'}) {
    double worst = 0, wx = 0, worst_abs = 0, wax = 0;
    for (double x : operands(p, 40000, 12)) {
      double got = p == 'd' ? lg(x) : lgf(x);
      double want = qarn::oracle::reference("lgamma", p, x);
      if (std::fabs(want) >= 0.25 || std::isinf(want) || std::isnan(want)) {
        double e = qarn::oracle::ulp_error("lgamma", p, x, got);
        if (!(e <= worst)) worst = e, wx = x;
      } else {
        double u = qarn::oracle::ulp_error("lgamma", p, x, got);
        double a = abs_err_lgamma(x, got);
        if (u > (p == 'd' ? kLgammaUlpD : kLgammaUlpF) && !(a <= worst_abs)) worst_abs = a, wax = x;
      }
    }
    std::printf("lgamma%s worst %.3f ulp (bound %g) at %a; near zeros, past the ulp bound: %.3g absolute (bound %g) at %a\n",
                p == 'f' ? "f" : "", worst, p == 'd' ? kLgammaUlpD : kLgammaUlpF, wx, worst_abs,
                p == 'd' ? kLgammaAbsD : kLgammaAbsF, wax);
    EXPECT_LE(worst, p == 'd' ? kLgammaUlpD : kLgammaUlpF) << std::hexfloat << wx;
    EXPECT_LE(worst_abs, p == 'd' ? kLgammaAbsD : kLgammaAbsF) << std::hexfloat << wax;
  }
}

// Next to the zeros at 1 and 2 and in the windows on the negative axis, the result
// keeps its relative accuracy (no cancellation there).
TEST(Lgamma, RelativeAccuracyAtTheZeros) {
  const double zeros[] = {1.0, 2.0, -2.4570247382208006, -2.7476826467274127, -3.1435808883499798,
                          -3.9552942848585979, -5.0082181683225935, -9.0000027557148226, -14.999999999999236};
  for (double z : zeros)
    for (int k = -40; k <= 40; ++k) {
      double x = z;
      for (int i = 0; i < std::abs(k); ++i) x = std::nextafter(x, k < 0 ? -INFINITY : INFINITY);
      EXPECT_LE(qarn::oracle::ulp_error("lgamma", 'd', x, lg(x)), kLgammaUlpD) << std::hexfloat << x;
      x = z + k * 1e-4;
      EXPECT_LE(qarn::oracle::ulp_error("lgamma", 'd', x, lg(x)), kLgammaUlpD) << std::hexfloat << x;
    }
  for (double z : {1.0, 2.0}) {
    for (int k = -30; k <= 30; ++k) {
      float x = float(z);
      for (int i = 0; i < std::abs(k); ++i) x = std::nextafter(x, k < 0 ? -INFINITY : INFINITY);
      EXPECT_LE(qarn::oracle::ulp_error("lgamma", 'f', x, lgf(x)), kLgammaUlpF) << std::hexfloat << x;
    }
  }
}

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b)); }

TEST(Tgamma, SpecialValuesAndRangeLimits) {
  const double inf = INFINITY;
  struct { double x, d, f; } cases[] = {
      {NAN, NAN, NAN}, {inf, inf, inf}, {-inf, NAN, NAN}, {0.0, inf, inf}, {-0.0, -inf, -inf},
      {-1.0, NAN, NAN}, {-2.0, NAN, NAN}, {-1e10, NAN, NAN}, {-0x1p53, NAN, NAN},
      {1.0, 1.0, 1.0}, {2.0, 1.0, 1.0}, {3.0, 2.0, 2.0}, {1e-309, inf, inf}, {-1e-309, -inf, -inf},
      {171.62437695630274, inf, inf}, {200.0, inf, inf}, {1e300, inf, inf},
      {-185.5, 0.0, 0.0}, {-186.5, -0.0, -0.0}, {-1e15 - 0.5, -0.0, NAN},
  };
  for (auto c : cases) {
    EXPECT_TRUE(same(tg(c.x), c.d)) << "tgamma(" << c.x << ") = " << tg(c.x);
    EXPECT_TRUE(same(tgf(c.x), c.f)) << "tgammaf(" << c.x << ") = " << tgf(c.x);
  }
  EXPECT_DOUBLE_EQ(tg(0.5), 1.7724538509055159);
  EXPECT_DOUBLE_EQ(tg(-0.5), -2 * 1.7724538509055159);
  EXPECT_TRUE(std::isfinite(tg(171.6)));
  EXPECT_TRUE(std::isfinite(tg(std::nextafter(171.62437695630274, 0.0))));
  EXPECT_TRUE(std::isfinite(tgf(35.04f)));
  EXPECT_TRUE(std::isinf(tgf(35.0401001f)));
  // Just above the overflow of 1/x, and the subnormals: gamma(x) ~ 1/x - 0.5772.
  for (double x : {0x1.0000000000001p-1024, 0x1p-1023, 0x1.8p-1023, 0x1p-1022, 0x1p-1000, -0x1p-1023})
    EXPECT_LE(qarn::oracle::ulp_error("tgamma", 'd', x, tg(x)), 1.0) << std::hexfloat << x;
  for (float x : {0x1.00002p-128f, 0x1p-127f, 0x1p-126f, -0x1p-127f, 0x1p-100f})
    EXPECT_LE(qarn::oracle::ulp_error("tgamma", 'f', x, tgf(x)), 1.0) << std::hexfloat << x;
}

// Results below the float range and in its subnormals: between -43 and -40 the
// float result is gamma(x) rounded, not zero; below -43 it is a signed zero.
TEST(Tgamma, FloatUnderflowOnTheNegativeAxis) {
  int nonzero = 0;
  for (float x = -43.0f; x < -39.9f; x = std::nextafter(x, 0.0f)) {
    if (x == std::trunc(x)) continue;
    float fx = x;
    if (std::fmod(double(-fx) * 1024, 1.0) != 0 && std::fabs(fx + 40) > 0x1p-12 && std::fabs(fx + 41) > 0x1p-12 &&
        std::fabs(fx + 42) > 0x1p-12)
      continue;  // dense next to the integers, every 1/1024 elsewhere
    double got = tgf(fx);
    nonzero += got != 0;
    ASSERT_LE(qarn::oracle::ulp_error("tgamma", 'f', fx, got), kTgammaUlpF) << std::hexfloat << fx;
  }
  EXPECT_GT(nonzero, 100);
  for (double x : {-43.5, -44.5, -100.25}) EXPECT_TRUE(same(tgf(x), std::signbit(std::tgamma(x)) ? -0.0 : 0.0)) << x;
}

TEST(Lgamma, SpecialValuesAndSigns) {
  const double inf = INFINITY;
  struct { double x, r; int s; } cases[] = {
      {NAN, NAN, 1}, {inf, inf, 1}, {-inf, inf, 1}, {0.0, inf, 1}, {-0.0, inf, -1},
      {1.0, 0.0, 1}, {2.0, 0.0, 1}, {-1.0, inf, 1}, {-2.0, inf, 1}, {-1e300, inf, 1},
      {1.7976931348623157e308, inf, 1},
  };
  for (auto c : cases) {
    int s;
    EXPECT_TRUE(same(lg(c.x, &s), c.r)) << "lgamma(" << c.x << ")";
    EXPECT_EQ(s, c.s) << "lgamma_r(" << c.x << ")";
    EXPECT_TRUE(same(lgf(c.x, &s), c.r)) << "lgammaf(" << c.x << ")";
    EXPECT_EQ(s, c.s) << "lgamma_rf(" << c.x << ")";
  }
  int s;
  EXPECT_DOUBLE_EQ(lg(-0.5, &s), 1.2655121234846454);
  EXPECT_EQ(s, -1);
  lg(-1.5, &s);
  EXPECT_EQ(s, 1);
  EXPECT_TRUE(std::isfinite(lg(0x1.754D9278B51A7p+1014)));
  EXPECT_TRUE(std::isinf(lg(0x1.754D9278B51A8p+1014)));
  EXPECT_TRUE(std::isinf(lgf(4.1e36f)));
  EXPECT_TRUE(std::isfinite(lgf(4.0e36f)));
}

// Between 2^51 and 2^52 in magnitude the negative non-integers are the half-integers:
// x - (nearest integer) is 1/2 there, not the 0 that the rounding shifter gives
// (which made ln|r| infinite, and the result +infinity).
TEST(Lgamma, HugeNegativeHalfIntegers) {
  for (double base : {0x1p51, 0x1.5p51, 0x1.fffffffffffep51, 0x1.ffffffffffffep51 - 1})
    for (int k = 0; k < 8; ++k) {
      double x = -(base + k) - 0.5;
      if (-x >= 0x1p52 || x == std::trunc(x)) continue;
      int s;
      double got = lg(x, &s);
      EXPECT_LE(qarn::oracle::ulp_error("lgamma", 'd', x, got), kLgammaUlpD) << std::hexfloat << x << " -> " << got;
      EXPECT_EQ(s, int64_t(std::trunc(x)) % 2 ? 1 : -1) << std::hexfloat << x;
    }
}

// Both sides of every pole down to -170: the sign follows trunc(x), and matches MPFR's.
TEST(Lgamma, SignOnBothSidesOfEveryPole) {
  mpfr_t e, m;
  mpfr_inits2(128, e, m, (mpfr_ptr)0);
  for (int n = 0; n <= 170; ++n)
    for (double d : {-0.25, -1e-9, 1e-9, 0.25}) {
      double x = -n + d;
      if (x >= 0) continue;
      int want;
      mpfr_set_d(m, x, MPFR_RNDN);
      mpfr_lgamma(e, &want, m, MPFR_RNDN);
      int s;
      lg(x, &s);
      EXPECT_EQ(s, want) << "lgamma_r(" << x << ")";
      if (n <= 40) {
        lgf(float(x), &s);
        mpfr_set_d(m, float(x), MPFR_RNDN);
        mpfr_lgamma(e, &want, m, MPFR_RNDN);
        if (float(x) != std::trunc(float(x))) {
          EXPECT_EQ(s, want) << "lgamma_rf(" << float(x) << ")";
        }
      }
    }
  mpfr_clears(e, m, (mpfr_ptr)0);
}

uint16_t get_cw() { uint16_t c; asm volatile("fnstcw %0" : "=m"(c)); return c; }
void set_cw(uint16_t c) { asm volatile("fldcw %0" ::"m"(c)); }

// The double routines give the same bits under a 53-bit or 24-bit precision control
// as under the 64-bit one, and leave the caller's control word as they found it.
TEST(X87, DoubleRoutinesSetAndRestoreThePrecisionControl) {
  const uint16_t saved = get_cw();
  std::vector<double> xs = operands('d', 2000, 5);
  std::vector<double> ref_t, ref_l;
  for (double x : xs) ref_t.push_back(tg(x)), ref_l.push_back(lg(x));
  for (uint16_t cw : {uint16_t(0x027F), uint16_t(0x007F), uint16_t(0x0E7F)}) {
    for (size_t i = 0; i < xs.size(); ++i) {
      set_cw(cw);
      double t = tg(xs[i]);
      uint16_t after_t = get_cw();
      double l = lg(xs[i]);
      uint16_t after_l = get_cw();
      set_cw(saved);
      ASSERT_EQ(after_t, cw);
      ASSERT_EQ(after_l, cw);
      if ((cw & 0x0C00) == 0) {  // same rounding direction: same bits
        ASSERT_TRUE(same(t, ref_t[i])) << std::hexfloat << xs[i] << " cw " << cw;
        ASSERT_TRUE(same(l, ref_l[i])) << std::hexfloat << xs[i] << " cw " << cw;
      }
    }
  }
  set_cw(saved);
}

// Every float input of tgammaf and lgammaf against libm's double functions: ulps,
// and for lgammaf next to its zeros (|result| < 1/4) the absolute error of the
// results that are past the ulp bound, as in Lgamma.AccuracyAgainstMpfr.
TEST(GammaSweep, EveryFloatAgainstLibm) {
  if (!std::getenv("QARN_GAMMA_SWEEP")) GTEST_SKIP() << "set QARN_GAMMA_SWEEP=1";
  for (int which = 0; which < 2; ++which) {
    double worst = 0, wx = 0, worst_abs = 0, wax = 0;
    const double bound = which == 0 ? kTgammaUlpF : kLgammaUlpF;
    for (uint64_t b = 0; b < (1ull << 32); ++b) {
      float x;
      uint32_t u = uint32_t(b);
      std::memcpy(&x, &u, 4);
      if (std::isnan(x)) continue;
      float got, xf = x;
      double want;
      if (which == 0) tgammaf_lane_fallback(&xf, &got), want = std::tgamma(double(x));
      else lgammaf_lane_fallback(&xf, &got), want = std::lgamma(double(x));
      if (std::isinf(want) || std::isinf(got) || std::isnan(want)) {
        if (!(std::isnan(want) && std::isnan(got)) && double(got) != want && float(want) != got) worst = INFINITY, wx = x;
        continue;
      }
      int ex;
      std::frexp(float(want), &ex);
      double err = std::fabs(double(got) - want) / std::ldexp(1.0, std::max(ex - 24, -149));
      if (which == 1 && std::fabs(want) < 0.25 && err > bound) {
        double a = std::fabs(double(got) - want);
        if (a > worst_abs) worst_abs = a, wax = x;
      } else if (err > worst) {
        worst = err, wx = x;
      }
    }
    std::printf("%s: worst %.3f ulp at %a; next to the zeros, past the ulp bound: %.3g absolute at %a\n",
                which == 0 ? "tgammaf" : "lgammaf", worst, wx, worst_abs, wax);
    EXPECT_LE(worst, bound) << std::hexfloat << wx;
    EXPECT_LE(worst_abs, kLgammaAbsF) << std::hexfloat << wax;
  }
}

}  // namespace
