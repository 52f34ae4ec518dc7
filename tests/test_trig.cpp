// The trigonometric families beyond what the registry-wide accuracy and ABI tests
// cover: arguments nearest the multiples of pi/2 in every binade (found with MPFR
// from the continued fraction of 2^e/(pi/2), not typed in), the arguments either
// side of each main-path bound, the signed zeros and the exact values of the
// pi-scaled functions, sincos in both of its results, the scalar reduction of
// the lane fallbacks on its three ranges, and the routines that finish all marked
// lanes of a call at once against the lane fallbacks.  Accuracy is in ulps against MPFR with
// the registry's bounds.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/oracle.h"
#include "trig/trig_scalar.h"
#include "fallbacks.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

const Export& exp_of(const std::string& short_name) {
  const Export* e = qarn::reg::find("__ocl_qarn_e9_" + short_name);
  if (!e || !e->present) throw std::runtime_error("missing export " + short_name);
  return *e;
}

uint64_t lane_bits(char prec, double x) { return prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x); }
double lane_value(char prec, uint64_t b) { return prec == 'f' ? double(qa::as_float(b)) : qa::as_double(b); }

// Results of export `e` on the lanes xs (as many calls as needed), every result vector.
std::vector<std::vector<double>> run(const Export& e, const std::vector<double>& xs) {
  qa::Shape sh = qa::shape_of(e);
  std::vector<std::vector<double>> out;
  for (size_t at = 0; at < xs.size(); at += sh.width) {
    qa::Lanes l(sh.lanes, lane_bits(e.prec, 0.75));
    for (int i = 0; i < sh.width && at + i < xs.size(); ++i) l[i] = lane_bits(e.prec, xs[at + i]);
    qa::Outcome o = self().call(e, {l}, at + 11);
    out.resize(o.results.size());
    for (size_t k = 0; k < o.results.size(); ++k)
      for (int i = 0; i < sh.width && at + i < xs.size(); ++i) out[k].push_back(lane_value(e.prec, o.results[k][i]));
  }
  return out;
}

// The doubles (binary64 or binary32 values) nearest to a multiple of pi/2 in each binade
// 2^E <= x < 2^(E+1): m*2^(E-p+1) with m of p bits minimising ||m*beta||, beta =
// frac(2^(E-p+1)/(pi/2)).  Candidates come from the convergents q of beta's
// continued fraction: multiples of q and their neighbours by the previous
// denominator, brought into [2^(p-1), 2^p).
std::vector<double> nearest_quarter_turns(int p, int emin, int emax) {
  std::vector<double> out;
  const mpfr_prec_t W = 2300;
  mpfr_t beta, t, a, best, cur;
  mpfr_inits2(W, beta, t, a, best, cur, (mpfr_ptr)0);
  for (int E = emin; E <= emax; ++E) {
    mpfr_const_pi(beta, MPFR_RNDN);
    mpfr_ui_div(beta, 2, beta, MPFR_RNDN);
    mpfr_mul_2si(beta, beta, E - p + 1, MPFR_RNDN);
    mpfr_frac(beta, beta, MPFR_RNDN);
    // convergent denominators
    std::vector<unsigned __int128> q = {0, 1};
    mpfr_set(t, beta, MPFR_RNDN);
    const unsigned __int128 lim = (unsigned __int128)1 << p;
    for (int it = 0; it < 200 && !mpfr_zero_p(t); ++it) {
      mpfr_ui_div(t, 1, t, MPFR_RNDN);
      mpfr_floor(a, t);
      mpfr_sub(t, t, a, MPFR_RNDN);
      double ad = mpfr_get_d(a, MPFR_RNDN);
      if (ad > 1e30) break;
      unsigned __int128 next = (unsigned __int128)ad * q.back() + q[q.size() - 2];
      if (next >= lim) break;
      q.push_back(next);
    }
    const unsigned __int128 lo = (unsigned __int128)1 << (p - 1);
    double best_d = 1, best_x = 0;
    auto consider = [&](unsigned __int128 m) {
      if (m < lo || m >= lim) return;
      mpfr_set_ui(cur, uint64_t(m >> 32), MPFR_RNDN);
      mpfr_mul_2ui(cur, cur, 32, MPFR_RNDN);
      mpfr_add_ui(cur, cur, uint64_t(m & 0xFFFFFFFFu), MPFR_RNDN);
      mpfr_mul(cur, cur, beta, MPFR_RNDN);
      mpfr_frac(cur, cur, MPFR_RNDN);
      double f = mpfr_get_d(cur, MPFR_RNDN);
      double d = std::min(f, 1 - f);
      if (d < best_d) best_d = d, best_x = std::ldexp(double(uint64_t(m)), E - p + 1);
    };
    for (size_t i = 2; i < q.size(); ++i) {
      unsigned __int128 qi = q[i], qp = q[i - 1];
      if (qi == 0) continue;
      unsigned __int128 c0 = (lo + qi - 1) / qi;
      for (unsigned __int128 c = c0; c < c0 + 3; ++c)
        for (int s = -2; s <= 2; ++s) {
          unsigned __int128 m = c * qi;
          if (s < 0 && m < (unsigned __int128)(-s) * qp) continue;
          consider(s < 0 ? m - (unsigned __int128)(-s) * qp : m + (unsigned __int128)s * qp);
        }
    }
    if (best_x != 0) out.push_back(best_x);
  }
  mpfr_clears(beta, t, a, best, cur, (mpfr_ptr)0);
  return out;
}

double ulp_err(const char* family, char prec, double x, double got) {
  return qarn::oracle::ulp_error(family, prec, x, got);
}

// Worst error of export `name` (family `fam` for the reference) over xs, checked
// against the registry bound.
void expect_within(const std::string& name, const char* fam, const std::vector<double>& xs, int result = 0) {
  const Export& e = exp_of(name);
  auto r = run(e, xs);
  double worst = 0, wx = 0;
  for (size_t i = 0; i < xs.size(); ++i) {
    double err = ulp_err(fam, e.prec, xs[i], r[result][i]);
    if (!(err <= worst)) worst = err, wx = xs[i];
  }
  std::printf("%-22s %-4s worst %8.3f ulp (bound %g) at %a over %zu operands\n", name.c_str(), fam, worst, e.ulp, wx,
              xs.size());
  EXPECT_LE(worst, e.ulp) << name << " at x = " << std::hexfloat << wx;
}

const std::vector<double>& near_double() {
  static std::vector<double> v = [] {
    std::vector<double> x = nearest_quarter_turns(53, -1, 1023);
    size_t n = x.size();
    for (size_t i = 0; i < n; ++i) x.push_back(-x[i]);
    return x;
  }();
  return v;
}
const std::vector<double>& near_float() {
  static std::vector<double> v = [] {
    std::vector<double> x = nearest_quarter_turns(24, -1, 127);
    size_t n = x.size();
    for (size_t i = 0; i < n; ++i) x.push_back(-x[i]);
    return x;
  }();
  return v;
}

// The generator finds what it should: the double nearest a multiple of pi/2 below
// 2^1024 is known to lie within 2^-61 of it (x = 6381956970095103 * 2^797).
TEST(Trig, NearestQuarterTurnsAreNear) {
  double x = 6381956970095103.0 * 0x1p797;
  bool found = false;
  for (double v : near_double()) found |= v == x;
  EXPECT_TRUE(found);
  EXPECT_GE(near_float().size(), 2u * 120);
}

// sin, cos, tan and sincos of every variant whose large arguments stay exact, on
// the arguments nearest the zeros and poles, in both precisions.
TEST(Trig, NearestMultiplesOfHalfPi) {
  for (const char* v : {"", "_native", "_half", "_rm"}) {
    for (const char* f : {"sin", "cos", "tan"}) {
      expect_within(std::string(f) + "f4" + v, f, near_float());
      // Double variants without the inline reduction keep their 3-piece main path up
      // to 2^24 (2^23 for cos), whose error bound excludes the arguments near kpi/2.
      if (!*v || !std::strcmp(f, "tan")) expect_within(std::string(f) + "4" + v, f, near_double());
    }
  }
  for (const char* v : {"", "_native", "_rm"}) {
    expect_within(std::string("sincosf8") + v, "sin", near_float(), 0);
    expect_within(std::string("sincosf8") + v, "cos", near_float(), 1);
  }
  expect_within("sincos4", "sin", near_double(), 0);
  expect_within("sincos4", "cos", near_double(), 1);
}

// The inline large-argument reduction lane by lane: a register of only large
// lanes (which the cold part finishes without the main path), large lanes next to
// small ones, and next to infinities and NaN, every lane position, every width,
// against width 1 bit for bit, and one export per family against MPFR.  Catches
// table rows gathered into the wrong lane, registers left unfinished and results
// that depend on the neighbours.
TEST(Trig, LargeLanesWhateverTheirNeighbours) {
  uint64_t seed = 11;
  auto rnd = [&] { seed = seed * 6364136223846793005ull + 1442695040888963407ull; return seed >> 11; };
  for (char p : {'f', 'd'}) {
    std::vector<double> big;  // every binade from above the bounds to the largest finite
    int e0 = p == 'f' ? 14 : 24, e1 = p == 'f' ? 127 : 1023;
    for (int e = e0; e <= e1; ++e) {
      double m = 1 + double(rnd()) * 0x1p-53;
      double v = p == 'f' ? double(float(std::ldexp(m, e))) : std::ldexp(m, e);
      big.push_back(rnd() & 1 ? -v : v);
    }
    big.push_back(p == 'f' ? double(FLT_MAX) : DBL_MAX);
    std::vector<std::vector<double>> sets = {big, big, big};
    for (size_t i = 0; i < big.size(); i += 3) sets[1][i] = 0.5;
    for (size_t i = 1; i < big.size(); i += 5) sets[2][i] = i % 2 ? INFINITY : NAN;
    const char* stems[] = {"sin", "cos", "tan", "sincos", "sincosreg"};
    for (const char* stem : stems)
      for (const char* v : {"", "_native", "_half", "_rm"}) {
        std::string base = std::string(stem) + (p == 'f' ? "f" : "");
        const Export* one = qarn::reg::find("__ocl_qarn_e9_" + base + "1" + v);
        if (!one || !one->present) continue;
        for (const std::vector<double>& xs : sets) {
          std::vector<std::vector<double>> want = run(*one, xs);
          for (int w : {2, 3, 4, 8, 16}) {
            const Export* e = qarn::reg::find("__ocl_qarn_e9_" + base + std::to_string(w) + v);
            if (!e || !e->present) continue;
            std::vector<std::vector<double>> got = run(*e, xs);
            ASSERT_EQ(got.size(), want.size());
            for (size_t k = 0; k < got.size(); ++k)
              for (size_t i = 0; i < xs.size(); ++i)
                EXPECT_EQ(qa::bits_of(got[k][i]), qa::bits_of(want[k][i]))
                    << e->name << " result " << k << " lane " << i % w << " x = " << xs[i];
          }
        }
      }
    for (const char* f : {"sin", "cos", "tan"}) expect_within(std::string(f) + (p == 'f' ? "f8" : "4"), f, sets[0]);
  }
}

double up(char p, double v) { return p == 'f' ? std::nextafter(float(v), INFINITY) : std::nextafter(v, INFINITY); }
double down(char p, double v) { return p == 'f' ? std::nextafter(float(v), -INFINITY) : std::nextafter(v, -INFINITY); }

// Either side of each main-path bound (the last main-path operand and the first
// reduced one), both signs, a few ulps around.
TEST(Trig, AroundMainPathBounds) {
  struct B { const char* stem; char p; const char* fam; double bound; int result; };
  const B bounds[] = {
      {"sin", 'd', "sin", 0x1p24, 0},      {"cos", 'd', "cos", 0x1p23 + 1.5707963267948966, 0},
      {"tan", 'd', "tan", 128000.0, 0},    {"sinf", 'f', "sin", 10000.0, 0},
      {"cosf", 'f', "cos", 10000.0, 0},    {"tanf", 'f', "tan", 8256.0, 0},
      {"sincos", 'd', "sin", 0x1p23, 0},   {"sincos", 'd', "cos", 0x1p23, 1},
      {"sincosf", 'f', "sin", 10000.0, 0}, {"sincosf", 'f', "cos", 10000.0, 1},
  };
  for (const B& b : bounds) {
    std::vector<double> xs;
    double lo = b.bound, hi = b.bound;
    for (int i = 0; i < 6; ++i) lo = down(b.p, lo), hi = up(b.p, hi);
    for (double x = lo; x <= hi; x = up(b.p, x)) xs.insert(xs.end(), {x, -x});
    for (int w : {1, 3, 8}) expect_within(std::string(b.stem) + std::to_string(w), b.fam, xs, b.result);
  }
}

// Signed zeros, and the exact values of the pi-scaled functions at integers and
// half-integers, in every width the bits could differ by.
TEST(Trig, ExactValuesAndSignedZeros) {
  struct C { const char* stem; double x, want; };
  const C cases[] = {
      {"sin", 0.0, 0.0},       {"sin", -0.0, -0.0},     {"tan", 0.0, 0.0},         {"tan", -0.0, -0.0},
      {"cos", 0.0, 1.0},       {"cos", -0.0, 1.0},      {"sin", 0x1p-1074, 0x1p-1074}, {"sin", -0x1p-1022, -0x1p-1022},
      {"sinpi", 1.0, 0.0},     {"sinpi", -1.0, -0.0},   {"sinpi", 2.5, 1.0},      {"sinpi", -0.5, -1.0},
      {"sinpi", 0x1p60, 0.0},  {"sinpi", -3.0, -0.0},   {"sinpi", 0.0, 0.0},      {"sinpi", -0.0, -0.0},
      {"sinpi", 0x1.8p52, 0.0}, {"sinpi", 1.5, -1.0},
      {"cospi", 0.0, 1.0},     {"cospi", 0.5, 0.0},     {"cospi", 1.0, -1.0},     {"cospi", -2.5, 0.0},
      {"cospi", -1.5, 0.0},    {"cospi", 0x1p60, 1.0},  {"cospi", 3.0, -1.0},     {"cospi", -0.0, 1.0},
      {"tanpi", 0.5, INFINITY}, {"tanpi", 1.5, -INFINITY}, {"tanpi", -0.5, -INFINITY}, {"tanpi", 2.5, INFINITY},
      {"tanpi", 1.0, -0.0},    {"tanpi", 2.0, 0.0},     {"tanpi", -1.0, 0.0},     {"tanpi", 0.0, 0.0},
      {"tanpi", -0.0, -0.0},   {"tanpi", -3.0, 0.0},    {"tanpi", 0x1p60, 0.0},
  };
  for (const C& c : cases)
    for (const char* prec : {"f", ""})
      for (const char* v : {"", "_native", "_half", "_rm"})
        for (int w : {1, 3, 16}) {
          std::string name = std::string(c.stem) + prec + std::to_string(w) + v;
          const Export* e = qarn::reg::find("__ocl_qarn_e9_" + name);
          if (!e || !e->present) continue;
          double x = *prec ? double(float(c.x)) : c.x;
          if (*prec && c.x == 0x1p-1074) continue;
          if (*prec && c.x == -0x1p-1022) continue;
          double got = run(*e, {x})[0][0];
          EXPECT_EQ(lane_bits(e->prec, got), lane_bits(e->prec, c.want)) << name << "(" << x << ") = " << got;
        }
  // tanpi(0.25) is exactly 1 in the default variants, and whole periods far out change nothing.
  for (const char* n : {"tanpi1", "tanpif1"}) EXPECT_EQ(run(exp_of(n), {0.25})[0][0], 1.0) << n;
  EXPECT_EQ(run(exp_of("tanpi1"), {0x1p50 + 0.25})[0][0], 1.0);
  EXPECT_EQ(run(exp_of("tanpif1"), {0x1p21 + 0.25})[0][0], 1.0);
  // sinpif and cospif _native are the default's code.
  for (const char* f : {"sinpif8", "cospif8"}) {
    std::vector<double> xs;
    for (int i = 0; i < 4000; ++i) xs.push_back(double(float(std::ldexp(std::sin(i * 1.7), i % 40 - 20))));
    auto a = run(exp_of(f), xs), b = run(exp_of(std::string(f) + "_native"), xs);
    for (size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(lane_bits('f', a[0][i]), lane_bits('f', b[0][i])) << f;
  }
  // sincos: sine with the sign of x, cosine exactly 1 at zero; the pointer always written.
  for (const char* n : {"sincos3", "sincosf3", "sincos3_native", "sincosf3_rm", "sincos16", "sincosf16_native"}) {
    auto r = run(exp_of(n), {0.0, -0.0, NAN, INFINITY});
    EXPECT_EQ(qa::bits_of(r[0][0]), qa::bits_of(0.0)) << n;
    EXPECT_EQ(qa::bits_of(r[0][1]), qa::bits_of(-0.0)) << n;
    EXPECT_EQ(r[1][0], 1.0) << n;
    EXPECT_EQ(r[1][1], 1.0) << n;
    for (int k = 0; k < 2; ++k) EXPECT_TRUE(std::isnan(r[k][2]) && std::isnan(r[k][3])) << n;
  }
}

// sincos over every binade in both results, every variant and several widths.
TEST(Trig, SincosAccuracy) {
  uint64_t s = 99;
  auto rnd = [&] { s = s * 6364136223846793005ull + 1442695040888963407ull; return s >> 11; };
  std::vector<double> xf, xd, xf_small, xd_small;
  for (int i = 0; i < 6000; ++i) {
    double m = 1 + double(rnd() & 0xFFFFFFFFFFFFull) * 0x1p-48;
    double sg = (rnd() & 1) ? -1 : 1;
    xf.push_back(double(float(sg * std::ldexp(m, int(rnd() % 254) - 126))));
    xd.push_back(sg * std::ldexp(m, int(rnd() % 2046) - 1022));
    xf_small.push_back(double(float(sg * m * 5000 * (rnd() & 3))));
    xd_small.push_back(sg * std::ldexp(m, int(rnd() % 24)));
  }
  for (const std::vector<double>* xs : {&xf, &xf_small})
    for (const char* n : {"sincosf1", "sincosf8", "sincosf16_native", "sincosf4_rm"}) {
      expect_within(n, "sin", *xs, 0);
      expect_within(n, "cos", *xs, 1);
    }
  for (const char* n : {"sincos1", "sincos4", "sincos16"}) {
    expect_within(n, "sin", xd, 0);
    expect_within(n, "cos", xd, 1);
  }
  for (const char* n : {"sincos2_native", "sincos8_rm"}) {
    expect_within(n, "sin", xd_small, 0);
    expect_within(n, "cos", xd_small, 1);
  }
}

// The scalar reduction of the lane fallbacks, called directly: no reduction below
// 2^17, the two sets of pi/4 pieces below and above 2^23, the window table from
// 2^30 (i = 0) to the largest double, and the special operands.
TEST(Trig, FallbackScalarReduction) {
  std::vector<double> xs = {0x1p17, 0x1p23, 0x1p30, 0x1.fffffffffffffp29, 0x1.fffffffffffffp+1023,
                            0x1p1000, 3 * 0x1p200, 6381956970095103.0 * 0x1p797, 1e22, 0x1.0000000000001p17};
  uint64_t s = 5;
  auto rnd = [&] { s = s * 6364136223846793005ull + 1442695040888963407ull; return s >> 11; };
  for (int i = 0; i < 3000; ++i) xs.push_back(std::ldexp(1 + double(rnd()) * 0x1p-53, int(rnd() % 1040) - 16));
  for (double v : near_double()) if (std::fabs(v) > 1) xs.push_back(v);
  double worst[3] = {0, 0, 0};
  for (double x : xs)
    for (double sx : {x, -x}) {
      double s1, c1, s2, c2, t;
      sin_lane_fallback(&sx, &s1);
      cos_lane_fallback(&sx, &c1);
      sincos_lane_fallback(&sx, &s2, &c2);
      tan_lane_fallback(&sx, &t);
      EXPECT_EQ(qa::bits_of(s1), qa::bits_of(s2));
      EXPECT_EQ(qa::bits_of(c1), qa::bits_of(c2));
      sincosreg_lane_fallback(&sx, &s2, &c2);  // the register form's fallback: the same values
      EXPECT_EQ(qa::bits_of(s1), qa::bits_of(s2));
      EXPECT_EQ(qa::bits_of(c1), qa::bits_of(c2));
      worst[0] = std::max(worst[0], ulp_err("sin", 'd', sx, s1));
      worst[1] = std::max(worst[1], ulp_err("cos", 'd', sx, c1));
      worst[2] = std::max(worst[2], ulp_err("tan", 'd', sx, t));
      float fx = float(sx), fs, fc;
      if (std::isfinite(fx)) {
        sinf_lane_fallback(&fx, &fs);
        cosf_lane_fallback(&fx, &fc);
        EXPECT_LE(ulp_err("sin", 'f', fx, fs), 0.5001) << fx;
        EXPECT_LE(ulp_err("cos", 'f', fx, fc), 0.5001) << fx;
        // sincosf: beyond 10000 the exports' vector reduction (within 1 ulp), below it double.
        float ss, sc, rs, rc;
        sincosf_lane_fallback(&fx, &ss, &sc);
        sincosregf_lane_fallback(&fx, &rs, &rc);
        EXPECT_EQ(qa::bits_of(ss), qa::bits_of(rs));
        EXPECT_EQ(qa::bits_of(sc), qa::bits_of(rc));
        EXPECT_LE(ulp_err("sin", 'f', fx, ss), 1.0) << fx;
        EXPECT_LE(ulp_err("cos", 'f', fx, sc), 1.0) << fx;
      }
    }
  std::printf("fallbacks: sin %.3f, cos %.3f, tan %.3f ulp\n", worst[0], worst[1], worst[2]);
  EXPECT_LE(worst[0], 1.0);
  EXPECT_LE(worst[1], 1.0);
  EXPECT_LE(worst[2], 2.0);
  // Special operands: NaN for the infinities, a quiet NaN for a NaN, x itself when tiny.
  const double snan = qa::as_double(0x7FF0000000000001ull);
  for (double x : {double(INFINITY), -double(INFINITY), double(NAN), snan}) {
    double r;
    for (auto fb : {sin_lane_fallback, cos_lane_fallback, tan_lane_fallback, tanpi_lane_fallback}) {
      fb(&x, &r);
      EXPECT_TRUE(std::isnan(r));
      EXPECT_TRUE(qa::bits_of(r) & 0x0008000000000000ull) << "signalling NaN returned";
    }
  }
  for (double x : {0x1p-300, -0x1.5p-260, 0.0, -0.0, 0x1p-1074}) {
    double r;
    sin_lane_fallback(&x, &r);
    EXPECT_EQ(qa::bits_of(r), qa::bits_of(x));
    cos_lane_fallback(&x, &r);
    EXPECT_EQ(r, 1.0);
  }
}

// The double variants without the inline reduction finish a call's marked lanes in
// one call: each marked lane must get its lane fallback's bits, whatever lanes
// share the call (tiny, moderate, either reduction, infinite, NaN), and unmarked
// lanes must stay untouched.
TEST(Trig, MarkedLanesAtOnceAsOneByOne) {
  const double pool[] = {0x1p-300, -0.0, 0.3, -1e4, 0x1p17, -0x1.fffffffffffffp29, 0x1p30, 1e22, -0x1p1000,
                         0x1.fffffffffffffp+1023, 6381956970095103.0 * 0x1p797, INFINITY, -INFINITY, NAN,
                         qa::as_double(0x7FF0000000000001ull), 5e5, -3e9};
  const uint64_t fence = 0x5A5A5A5A5A5A5A5Aull;
  uint64_t s = 17;
  auto rnd = [&] { s = s * 6364136223846793005ull + 1442695040888963407ull; return s >> 11; };
  for (int round = 0; round < 400; ++round) {
    double x[16];
    for (double& v : x) v = rnd() % 4 ? pool[rnd() % std::size(pool)] : std::ldexp(1 + double(rnd()) * 0x1p-53, int(rnd() % 1100) - 60);
    unsigned m = unsigned(rnd()) & 0xFFFFu;
    double sa[16], ca[16], ss[16], sc[16];
    for (int i = 0; i < 16; ++i) sa[i] = ca[i] = ss[i] = sc[i] = qa::as_double(fence);
    sin_lanes_fallback(m, x, sa);
    cos_lanes_fallback(m, x, ca);
    sincos_lanes_fallback(m, x, ss, sc);
    for (int i = 0; i < 16; ++i) {
      if (!(m >> i & 1)) {
        for (double v : {sa[i], ca[i], ss[i], sc[i]}) EXPECT_EQ(qa::bits_of(v), fence) << "lane " << i << " not marked";
        continue;
      }
      double s1, c1, s2, c2;
      sin_lane_fallback(&x[i], &s1);
      cos_lane_fallback(&x[i], &c1);
      sincos_lane_fallback(&x[i], &s2, &c2);
      EXPECT_EQ(qa::bits_of(sa[i]), qa::bits_of(s1)) << "sin x = " << x[i];
      EXPECT_EQ(qa::bits_of(ca[i]), qa::bits_of(c1)) << "cos x = " << x[i];
      EXPECT_EQ(qa::bits_of(ss[i]), qa::bits_of(s2)) << "sincos x = " << x[i];
      EXPECT_EQ(qa::bits_of(sc[i]), qa::bits_of(c2)) << "sincos x = " << x[i];
    }
  }
}

}  // namespace
