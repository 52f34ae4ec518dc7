// asin, acos, asinpi, acospi, atan, atanpi, atan2, atan2pi: the values fixed by
// the signs and classes of the operands, accuracy against MPFR where the
// reductions are most delicate, the two-argument families over every quadrant and
// magnitude ratio, the single rounding of tiny asinpi results, and the inline
// zero fix-up of atan2 against its lane fallback.  The exports come from the
// library's objects linked into this program.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <xmmintrin.h>
#include <cstring>
#include <string>
#include <vector>

#include "fallbacks.h"  // before the kernels, which name their fallbacks
#include "atrig/asin.h"
#include "atrig/atan.h"
#include "support/invoke.h"
#include "support/rng.h"
#include "support/oracle.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

using Rng = qarn::test::Rng;

const std::vector<std::string> kOneArg = {"asin", "acos", "asinpi", "acospi", "atan", "atanpi"};

std::vector<const Export*> exports_of(const std::vector<std::string>& families, int width = 0) {
  std::vector<const Export*> v;
  for (const Export& e : qarn::reg::all())
    for (const std::string& f : families)
      if (e.present && f == e.family && (width == 0 || e.width == width)) v.push_back(&e);
  return v;
}

bool single(const Export& e) { return e.prec == 'f'; }
uint64_t lane(const Export& e, double v) { return single(e) ? qa::bits_of(float(v)) : qa::bits_of(v); }
double value(const Export& e, uint64_t b) { return single(e) ? double(qa::as_float(b)) : qa::as_double(b); }
double nudge(const Export& e, double v, int k) {  // v moved by k ulps of its format
  for (; k > 0; --k) v = single(e) ? std::nextafter(float(v), INFINITY) : std::nextafter(v, INFINITY);
  for (; k < 0; ++k) v = single(e) ? std::nextafter(float(v), -INFINITY) : std::nextafter(v, -INFINITY);
  return v;
}

// Calls `e` on operand vectors, `width` lanes at a time, and returns every result.
std::vector<double> run(const Export& e, const std::vector<std::vector<double>>& args) {
  qa::Shape sh = qa::shape_of(e);
  size_t n = args[0].size();
  std::vector<double> out;
  for (size_t base = 0; base < n; base += sh.width) {
    std::vector<qa::Lanes> in(args.size(), qa::Lanes(sh.lanes, lane(e, 0.5)));
    for (size_t a = 0; a < args.size(); ++a)
      for (int i = 0; i < sh.width; ++i) in[a][i] = lane(e, args[a][(base + i) % n]);
    qa::Outcome o = self().call(e, in, base + 7);
    for (int i = 0; i < sh.width && base + i < n; ++i) out.push_back(value(e, o.results[0][i]));
  }
  return out;
}

// ---- MPFR reference of the two-argument families --------------------------------
// Error of `got` in ulps of the exact atan2(y, x) (or atan2pi) in the target format;
// 0 for matching NaNs, +inf for a NaN against a number.
double ulp_error2(bool pi, char prec, double y, double x, double got) {
  if (std::isnan(y) || std::isnan(x)) return std::isnan(got) ? 0 : INFINITY;
  if (std::isnan(got)) return INFINITY;
  mpfr_t my, mx, e, g;
  mpfr_inits2(256, my, mx, e, g, (mpfr_ptr)0);
  mpfr_set_d(my, y, MPFR_RNDN);
  mpfr_set_d(mx, x, MPFR_RNDN);
  if (pi) mpfr_atan2pi(e, my, mx, MPFR_RNDN);
  else mpfr_atan2(e, my, mx, MPFR_RNDN);
  int p = prec == 'f' ? 24 : 53;
  long emin_ulp = prec == 'f' ? -149 : -1074;
  long ex = mpfr_zero_p(e) ? emin_ulp + p : long(mpfr_get_exp(e));
  long ulp_exp = std::max(ex - p, emin_ulp);
  mpfr_set_d(g, got, MPFR_RNDN);
  mpfr_sub(g, g, e, MPFR_RNDN);
  mpfr_abs(g, g, MPFR_RNDN);
  mpfr_mul_2si(g, g, -ulp_exp, MPFR_RNDN);
  double err = mpfr_get_d(g, MPFR_RNDU);
  mpfr_clears(my, mx, e, g, (mpfr_ptr)0);
  return err;
}
// The exact atan2 (atan2pi) rounded to the target format.
double reference2(bool pi, char prec, double y, double x) {
  mpfr_t my, mx, e;
  mpfr_inits2(256, my, mx, e, (mpfr_ptr)0);
  mpfr_set_d(my, y, MPFR_RNDN);
  mpfr_set_d(mx, x, MPFR_RNDN);
  if (pi) mpfr_atan2pi(e, my, mx, MPFR_RNDN);
  else mpfr_atan2(e, my, mx, MPFR_RNDN);
  double r = prec == 'f' ? double(mpfr_get_flt(e, MPFR_RNDN)) : mpfr_get_d(e, MPFR_RNDN);
  mpfr_clears(my, mx, e, (mpfr_ptr)0);
  return r;
}

bool same_bits(double a, double b) { return (std::isnan(a) && std::isnan(b)) || qa::bits_of(a) == qa::bits_of(b); }

// ---- values fixed by the operands' classes ----------------------------------------
// Every width and variant: zeros, +-1, the infinities, NaN, operands just outside
// [-1, 1], the smallest subnormal.  Expected values are the exact function rounded
// to the format (so +-0 keep their sign, pi/2 and pi are the rounded constants).
TEST(Atrig, ClassesOfOneArgument) {
  struct Group { std::string family; std::vector<double> xs; };
  const std::vector<Group> groups = {
      {"asin", {0.0, -0.0, 1.0, -1.0, INFINITY, -INFINITY, NAN, -NAN, 1.5, -1e300}},
      {"acos", {0.0, -0.0, 1.0, -1.0, INFINITY, -INFINITY, NAN, -NAN, 1.5, -1e300}},
      {"asinpi", {0.0, -0.0, 1.0, -1.0, INFINITY, -INFINITY, NAN, -NAN, 1.5, -1e300}},
      {"acospi", {0.0, -0.0, 1.0, -1.0, INFINITY, -INFINITY, NAN, -NAN, 1.5, -1e300}},
      {"atan", {0.0, -0.0, INFINITY, -INFINITY, NAN, -NAN}},
      {"atanpi", {0.0, -0.0, INFINITY, -INFINITY, NAN, -NAN}},
  };
  int checked = 0;
  for (const Group& g : groups)
    for (const Export* e : exports_of({g.family})) {
      std::vector<double> xs = g.xs;
      if (g.family.rfind("atan", 0) != 0)
        for (double v : {1.0, -1.0}) xs.push_back(nudge(*e, v, v > 0 ? 1 : -1));  // one ulp outside
      double tiny = single(*e) ? 0x1p-149 : 0x1p-1074;
      if (g.family != "acos" && g.family != "acospi") xs.insert(xs.end(), {tiny, -tiny});
      std::vector<double> got = run(*e, {xs});
      for (size_t i = 0; i < xs.size(); ++i) {
        double want = qarn::oracle::reference(e->family, e->prec, xs[i]);
        EXPECT_TRUE(same_bits(got[i], want)) << e->name << "(" << xs[i] << ") = " << got[i] << ", want " << want;
      }
      ++checked;
    }
  EXPECT_EQ(checked, 6 * 2 * 2 * 6);
}

// atan2 and atan2pi on every pairing of signed zeros, infinities, NaN and finite
// operands, and on ratios far below and above the format: exactly the rounded
// angle, sign of y included.
TEST(Atrig, ClassesOfTwoArguments) {
  const double vals[] = {0.0, -0.0, 1.0, -1.0, 3.5, -0.25, INFINITY, -INFINITY, NAN, 1e-300, -1e300};
  std::vector<double> ys, xs;
  for (double y : vals)
    for (double x : vals) ys.push_back(y), xs.push_back(x);
  int checked = 0;
  for (const Export* e : exports_of({"atan2", "atan2pi"})) {
    bool pi = std::string(e->family) == "atan2pi";
    std::vector<double> got = run(*e, {ys, xs});
    for (size_t i = 0; i < ys.size(); ++i) {
      double y = single(*e) ? double(float(ys[i])) : ys[i], x = single(*e) ? double(float(xs[i])) : xs[i];
      // A constant angle: a zero, infinite or NaN operand, or a ratio so far from 1
      // that the angle rounds to +-pi or +-pi/2 (y/x itself, for x > 0 and |y| << x,
      // is computed and held to the bound).
      double gap = std::log2(std::fabs(y)) - std::log2(std::fabs(x));
      bool exact = y == 0 || x == 0 || std::isinf(y) || std::isinf(x) || std::isnan(y) || std::isnan(x) ||
                   gap > 80 || (gap < -80 && x < 0);
      if (exact) {
        double want = reference2(pi, e->prec, y, x);
        EXPECT_TRUE(same_bits(got[i], want)) << e->name << "(" << y << ", " << x << ") = " << got[i] << ", want " << want;
      } else {
        EXPECT_LE(ulp_error2(pi, e->prec, y, x, got[i]), e->ulp) << e->name << "(" << y << ", " << x << ")";
      }
    }
    ++checked;
  }
  EXPECT_EQ(checked, 2 * 2 * 2 * 6);
}

// ---- accuracy where the reductions are delicate -----------------------------------
// Width 1 (the wide exports give the same lanes, TEST Abi) and width 8, which runs
// the 256-bit code: operands packed next to +-1, around the seam at 0.5, on the
// quarter steps of the atan table and the 7.875 and 1 switches to -1/x, and tiny
// and subnormal magnitudes, which keep their value and sign where the function is
// x to within half an ulp.
TEST(Atrig, DenseAtTheSeams) {
  for (const Export* e : exports_of(kOneArg)) {
    if (e->width != 1 && e->width != 8) continue;
    std::string f = e->family;
    bool f32 = single(*e);
    std::vector<double> xs;
    auto around = [&](double c, int k) {
      for (int i = -k; i <= k; ++i) xs.push_back(nudge(*e, c, i)), xs.push_back(-nudge(*e, c, i));
    };
    if (f.rfind("atan", 0) == 0) {
      for (int k = 1; k < 32; ++k) around(k / 4.0, 20);
      for (double c : {0.125, 7.875, 1.0, 1e10}) around(c, 100);
    } else {
      around(1.0, 1200);
      around(0.5, 400);
      for (int i = 0; i < 1000; ++i) xs.push_back(1.0 - std::ldexp(double(i + 1), f32 ? -13 : -39));
    }
    Rng r{uint64_t(e->width) * 31 + std::hash<std::string>{}(e->name)};
    std::vector<double> tiny;
    for (int i = 0; i < 1500; ++i) {
      int ex = -int(r.next() % (f32 ? 150 : 1075));
      double v = std::ldexp(1.0 + r.unit(), ex);
      if (f32) v = float(v);
      if (v == 0) continue;
      tiny.push_back(r.next() & 1 ? -v : v);
    }
    xs.insert(xs.end(), tiny.begin(), tiny.end());
    std::vector<double> got = run(*e, {xs});
    double worst = 0;
    for (size_t i = 0; i < xs.size(); ++i) {
      double err = qarn::oracle::ulp_error(e->family, e->prec, xs[i], got[i]);
      worst = std::max(worst, err);
      ASSERT_LE(err, e->ulp) << e->name << "(" << std::hexfloat << xs[i] << ") = " << got[i];
    }
    // Where f(x) = x to within half an ulp, the default paths return x itself.
    bool identity = (f == "asin" || f == "atan") && std::string(e->variant) == "default";
    size_t first_tiny = xs.size() - tiny.size();
    for (size_t i = first_tiny; identity && i < xs.size(); ++i)
      if (std::fabs(xs[i]) < (f32 ? 0x1p-13 : 0x1p-28)) {
        ASSERT_EQ(lane(*e, got[i]), lane(*e, xs[i])) << e->name << "(" << std::hexfloat << xs[i] << ")";
      }
    std::printf("seams %-34s worst %.3f ulp (bound %g)\n", e->name, worst, e->ulp);
  }
}

// atan2 and atan2pi over every quadrant and magnitude ratios from 2^-1100 to
// 2^1100 (far beyond what either format holds: the quotient underflows and
// overflows), plus the exponent differences where the lane fallback changes
// method, and operands of equal magnitude.
TEST(Atrig, Atan2EveryQuadrantAndRatio) {
  for (const Export* e : exports_of({"atan2", "atan2pi"})) {
    bool pi = std::string(e->family) == "atan2pi", f32 = single(*e);
    int n = e->width == 1 ? 30000 : 3000;
    Rng r{std::hash<std::string>{}(e->name)};
    std::vector<double> ys, xs;
    int emax = f32 ? 127 : 1023, emin = f32 ? -149 : -1074;
    for (int i = 0; i < n; ++i) {
      double y, x;
      switch (i % 4) {
        case 0: {  // any two exponents: ratios 2^-2200 .. 2^2200, clipped by the format
          y = std::ldexp(1 + r.unit(), emin + int(r.next() % (emax - emin + 1)));
          x = std::ldexp(1 + r.unit(), emin + int(r.next() % (emax - emin + 1)));
          break;
        }
        case 1: {  // ratio 2^-1100 .. 2^1100 around a random magnitude
          int d = int(r.next() % 2201) - 1100;
          double m = std::ldexp(1 + r.unit(), int(r.next() % 200) - 100);
          y = m;
          x = std::ldexp(1 + r.unit(), std::ilogb(m) - d);
          break;
        }
        case 2: {  // exponent differences at the fallback's boundaries
          const int ds[] = {-55, -54, -53, -52, 52, 53, 54, 55, 72, 73, 74, 75};
          int d = ds[r.next() % 12];
          int ex = int(r.next() % 1800) - 900;
          if (f32) ex = int(r.next() % 200) - 100;
          x = std::ldexp(1 + r.unit(), ex);
          y = std::ldexp(1 + r.unit(), ex + d);
          break;
        }
        default: {  // ordinary operands and equal magnitudes
          y = (r.unit() - 0.5) * 200;
          x = r.next() % 8 == 0 ? y * (r.next() & 1 ? 1 : -1) : (r.unit() - 0.5) * 200;
          break;
        }
      }
      if (r.next() & 1) y = -y;
      if (r.next() & 1) x = -x;
      if (f32) y = float(y), x = float(x);
      ys.push_back(y), xs.push_back(x);
    }
    std::vector<double> got = run(*e, {ys, xs});
    double worst = 0;
    for (size_t i = 0; i < ys.size(); ++i) {
      double err = ulp_error2(pi, e->prec, ys[i], xs[i], got[i]);
      worst = std::max(worst, err);
      ASSERT_LE(err, e->ulp) << e->name << "(" << std::hexfloat << ys[i] << ", " << xs[i] << ") = " << got[i];
      // The sign is always y's.
      ASSERT_EQ(std::signbit(got[i]), std::signbit(ys[i])) << e->name << "(" << ys[i] << ", " << xs[i] << ")";
    }
    std::printf("ratios %-33s worst %.3f ulp (bound %g)\n", e->name, worst, e->ulp);
  }
}

// ---- asinpi of tiny doubles ---------------------------------------------------------
// Results below the normal range are rounded once: x/pi exactly as MPFR rounds it,
// over the whole band the exports send to the fallback, subnormal inputs included.
TEST(Atrig, TinyAsinpiRoundsOnce) {
  std::vector<double> xs = {qa::as_double(0x00406d08bf487060ull), 0x1p-1074, 0x1p-1073, 3 * 0x1p-1074,
                            0x1p-1022, qa::as_double(0x036921FB54442D18ull), 1e-300};
  Rng r{99};
  for (int i = 0; i < 40000; ++i) {
    uint64_t b = r.next() & 0x036FFFFFFFFFFFFFull;  // exponents up to that of pi*2^-970
    if (b > 0x036921FB54442D18ull) b >>= 4;
    xs.push_back(qa::as_double(b));
  }
  for (size_t i = 0, n = xs.size(); i < n; ++i) xs.push_back(-xs[i]);
  for (const Export* e : exports_of({"asinpi"})) {
    if (single(*e) || (e->width != 1 && e->width != 4)) continue;
    std::vector<double> got = run(*e, {xs});
    for (size_t i = 0; i < xs.size(); ++i) {
      double want = qarn::oracle::reference("asinpi", 'd', xs[i]);
      ASSERT_EQ(qa::bits_of(got[i]), qa::bits_of(want)) << e->name << "(" << std::hexfloat << xs[i] << ")";
    }
  }
}

// ---- asin _native below 2^-111 -------------------------------------------------------
// Where b0*|x| of the band's core is subnormal the cold part forms it without the
// float product.  Its bits must still be the main path's, rounded as a subnormal
// product rounds (2^-112 makes it a tie) and flushed where MXCSR flushes: every
// lane of every width against the kernel's main path run here under the same
// MXCSR, in registers of the band alone and among ordinary and special lanes.
TEST(Atrig, AsinNativeSubnormalCoreIsTheMainPath) {
  using K = qarn::asin_k<float, qarn::var::native>;
  std::vector<uint32_t> low = {0x00800000u, 0x00800001u, 0x00FFFFFFu, 0x077FFFFFu, 0x07800000u, 0x07800001u,
                               0x07F5ABE2u, 0x07F5ABE3u, 0x07F5ABE4u, 0x07F5ABE5u, 0x07FFFFFFu, 0x08000000u};
  Rng r{113};
  for (int i = 0; i < 3000; ++i)  // log-uniform from 2^-126 up to 2^-110
    low.push_back(qa::bits_of(float(std::exp2(-126.0 + 16.0 * r.unit()))));
  for (size_t i = 0, n = low.size(); i < n; ++i) low.push_back(low[i] | 0x80000000u);
  const float company[] = {0.3f, -0.7f, 0.55f, 2e-3f, -1e-4f, 3e-6f, NAN, 1.5f};
  // The main path on one lane under `csr` (asin's fallback takes |x| > 1 only).
  auto want = [](uint32_t b, uint32_t csr) {
    float x = qa::as_float(b);
    if (std::fabs(x) > 1) {
      float f;
      asinf_lane_fallback(&x, &f);
      return uint32_t(qa::bits_of(f));
    }
    qarn::vf4 v{_mm_set1_ps(x)};
    asm volatile("" : "+x"(v.v));
    _mm_setcsr(csr);
    v = K::main(v);
    asm volatile("" : "+x"(v.v));
    _mm_setcsr(0x1F80);
    return uint32_t(qa::bits_of(_mm_cvtss_f32(v.v)));
  };
  const unsigned entry_csr = _mm_getcsr();  // the calls leave their MXCSR behind
  int checked = 0;
  for (const Export* e : exports_of({"asin"})) {
    if (!single(*e) || e->variant != std::string("_native")) continue;
    const int lanes = qa::shape_of(*e).lanes;
    for (uint32_t flush : {0u, 0x8000u})
      for (int mode = 0; mode < 4; ++mode) {
        self().set_rounding(mode);
        const uint32_t csr = 0x1F80u | flush | uint32_t(mode) << 13;
        // company 0: the band alone; 1: every other lane ordinary or special.
        for (int company_kind = 0; company_kind < 2; ++company_kind)
          for (size_t b = 0; b < low.size(); b += e->width) {
            qa::Lanes x(lanes, qa::bits_of(0.25f));
            for (int i = 0; i < e->width; ++i)
              x[i] = company_kind && (i + b / e->width) % 2 ? qa::bits_of(company[(b + i) % 8]) : low[(b + i) % low.size()];
            qa::Outcome o = self().call(*e, {x}, b + 3, 0, 0x1F80u | flush);
            for (int i = 0; i < e->width; ++i, ++checked)
              ASSERT_EQ(o.results[0][i], want(uint32_t(x[i]), csr))
                  << e->name << std::hex << " lane " << i << " x " << x[i] << ", " << qa::kModeNames[mode]
                  << (flush ? ", flushed" : "");
          }
      }
    self().set_rounding(0);
  }
  _mm_setcsr(entry_csr);
  EXPECT_GT(checked, 100000);
}

// ---- the zero fix-up of atan2 -------------------------------------------------------
// The inline fix-up and the lane fallback give the same bits for every lane the
// fix-up takes, and it takes exactly the lanes with a zero operand and no NaN.
template <class T, class V> void fixup_matches_fallback() {
  using K = qarn::atan2_k<T, qarn::var::def>;
  const double vals[] = {0.0, -0.0, 1.0, -1.0, 1e-40, -3e38, INFINITY, -INFINITY, NAN, 0x1p-140};
  constexpr int L = qarn::nlanes<V>;
  for (double y : vals)
    for (double x : vals) {
      alignas(32) T ya[L], xa[L], ra[L];
      for (int i = 0; i < L; ++i) ya[i] = T(y), xa[i] = T(x), ra[i] = T(12345);
      V yv, xv, rv;
      std::memcpy(&yv, ya, sizeof yv);
      std::memcpy(&xv, xa, sizeof xv);
      std::memcpy(&rv, ra, sizeof rv);
      V fixed = K::fixup(yv, xv, rv);
      bool want_fixed = (T(y) == 0 || T(x) == 0) && !std::isnan(y) && !std::isnan(x);
      EXPECT_EQ(qarn::movemask(fixed), want_fixed ? (1 << L) - 1 : 0) << "(" << y << ", " << x << ")";
      if (!want_fixed) continue;
      T fb;
      if constexpr (sizeof(T) == 4) atan2f_lane_fallback(&ya[0], &xa[0], &fb);
      else atan2_lane_fallback(&ya[0], &xa[0], &fb);
      std::memcpy(ra, &rv, sizeof rv);
      for (int i = 0; i < L; ++i)
        EXPECT_EQ(qa::bits_of(ra[i]), qa::bits_of(fb)) << "(" << y << ", " << x << ") lane " << i;
    }
}
TEST(Atrig, Atan2ZeroFixupIsTheFallback) {
  fixup_matches_fallback<float, qarn::vf8>();
  fixup_matches_fallback<double, qarn::vd4>();
  fixup_matches_fallback<double, qarn::vd2>();
}

}  // namespace
