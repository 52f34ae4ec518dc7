// sinh, cosh, tanh, asinh, acosh, atanh: the values promised at the special
// operands and the overflow and saturation edges (every width and variant), the
// accuracy against MPFR where the algorithms switch (dense around each switch
// point and over every binade down to the subnormals), and the sinh and cosh lane
// fallbacks as complete scalar functions.  The exports come from the static
// library linked into this test, so the hidden fallbacks can be called directly.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/rng.h"
#include "support/oracle.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

extern "C" {
__attribute__((ms_abi)) void sinh_lane_fallback(const double*, double*);
__attribute__((ms_abi)) void cosh_lane_fallback(const double*, double*);
__attribute__((ms_abi)) void sinhf_lane_fallback(const float*, float*);
__attribute__((ms_abi)) void coshf_lane_fallback(const float*, float*);
__attribute__((ms_abi)) void tanh_lane_fallback(const double*, double*);
}

namespace {

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

bool hyper_family(const std::string& f) {
  return f == "sinh" || f == "cosh" || f == "tanh" || f == "asinh" || f == "acosh" || f == "atanh";
}
std::vector<const Export*> exports(bool all_widths) {
  std::vector<const Export*> v;
  for (const Export& e : qarn::reg::all())
    if (e.present && hyper_family(e.family) && (all_widths || e.width == (e.prec == 'f' ? 8 : 4))) v.push_back(&e);
  return v;
}

uint64_t lane_of(const Export& e, double x) { return e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x); }
double value_of(const Export& e, uint64_t b) { return e.prec == 'f' ? double(qa::as_float(b)) : qa::as_double(b); }

// Results of e on xs, a vector of e's width at a time.
std::vector<double> run(const Export& e, const std::vector<double>& xs, uint64_t seed = 1) {
  qa::Shape sh = qa::shape_of(e);
  std::vector<double> out;
  for (size_t i = 0; i < xs.size(); i += sh.width) {
    qa::Lanes lanes(sh.lanes, lane_of(e, std::string(e.family) == "acosh" ? 2.0 : 0.75));
    for (int l = 0; l < sh.width; ++l) lanes[l] = lane_of(e, xs[std::min(i + l, xs.size() - 1)]);
    qa::Lanes r = self().call(e, {lanes}, seed + i).results[0];
    for (int l = 0; l < sh.width && i + l < xs.size(); ++l) out.push_back(value_of(e, r[l]));
  }
  return out;
}

constexpr double kRef = 12345.0;  // "compare with MPFR within the bound"
constexpr double kFinite = 54321.0;  // "finite, and within the bound"

struct Case {
  const char* family;
  char prec;
  char variants;  // 'a' both, 'd' default only, 'n' _native only
  double x, want;
};

// Exact values at special operands and edges; kRef / kFinite rows are checked
// against MPFR within the registry's bound.
const Case kCases[] = {
    // sinh: sign of zero, tiny x is x, the fallback band, overflow at 710.4758600739439...
    {"sinh", 'd', 'a', -0.0, -0.0}, {"sinh", 'd', 'a', 0x1p-1074, 0x1p-1074}, {"sinh", 'd', 'a', -1e-310, -1e-310},
    {"sinh", 'd', 'a', 1e-200, 1e-200}, {"sinh", 'd', 'a', 707.7, kRef}, {"sinh", 'd', 'a', 707.7001953125, kRef},
    {"sinh", 'd', 'a', -709.5, kRef}, {"sinh", 'd', 'a', 0x1.633ce8fb9f87dp+9, kFinite},
    {"sinh", 'd', 'a', 0x1.633ce8fb9f87ep+9, INFINITY}, {"sinh", 'd', 'a', -0x1.633ce8fb9f87ep+9, -INFINITY},
    {"sinh", 'd', 'a', 1e300, INFINITY}, {"sinh", 'd', 'a', -INFINITY, -INFINITY}, {"sinh", 'd', 'a', NAN, NAN},
    {"cosh", 'd', 'a', 0.0, 1.0}, {"cosh", 'd', 'a', -0.0, 1.0}, {"cosh", 'd', 'a', 1e-310, 1.0},
    {"cosh", 'd', 'a', 707.7, kRef}, {"cosh", 'd', 'a', -707.7001953125, kRef},
    {"cosh", 'd', 'a', -0x1.633ce8fb9f87dp+9, kFinite}, {"cosh", 'd', 'a', 0x1.633ce8fb9f87ep+9, INFINITY},
    {"cosh", 'd', 'a', -INFINITY, INFINITY}, {"cosh", 'd', 'a', NAN, NAN},
    {"tanh", 'd', 'a', -0.0, -0.0}, {"tanh", 'd', 'a', -1e-310, -1e-310}, {"tanh", 'd', 'a', 1e-30, 1e-30},
    {"tanh", 'd', 'a', 19.999, kRef}, {"tanh", 'd', 'a', 20.0, 1.0}, {"tanh", 'd', 'a', -123.0, -1.0},
    {"tanh", 'd', 'a', 1e308, 1.0}, {"tanh", 'd', 'a', -1.02e308, -1.0}, {"tanh", 'd', 'a', -INFINITY, -1.0},
    {"tanh", 'd', 'a', NAN, NAN},
    // float: the main path's strict and inclusive bounds, overflow past 89.41599
    {"sinh", 'f', 'a', -0.0, -0.0}, {"sinh", 'f', 'd', 0x1p-149, 0x1p-149}, {"sinh", 'f', 'd', -1e-30, -1e-30},
    {"sinh", 'f', 'a', 87.3365326, kRef}, {"sinh", 'f', 'a', -87.34, kRef}, {"sinh", 'f', 'a', 89.4, kFinite},
    {"sinh", 'f', 'a', 89.41598, kFinite}, {"sinh", 'f', 'a', 89.42, INFINITY}, {"sinh", 'f', 'a', -89.42, -INFINITY},
    {"sinh", 'f', 'a', INFINITY, INFINITY}, {"sinh", 'f', 'a', NAN, NAN},
    {"cosh", 'f', 'a', -0.0, 1.0}, {"cosh", 'f', 'a', 87.3365326, kRef}, {"cosh", 'f', 'a', -89.4, kFinite},
    {"cosh", 'f', 'a', 89.42, INFINITY}, {"cosh", 'f', 'a', -INFINITY, INFINITY}, {"cosh", 'f', 'a', NAN, NAN},
    {"tanh", 'f', 'a', -0.0, -0.0}, {"tanh", 'f', 'd', -0x1p-149, -0x1p-149}, {"tanh", 'f', 'd', 1e-20, 1e-20},
    {"tanh", 'f', 'd', 8.0, kRef}, {"tanh", 'f', 'd', 8.015625, 1.0}, {"tanh", 'f', 'd', -1e30, -1.0},
    {"tanh", 'f', 'n', 4.99, kRef}, {"tanh", 'f', 'n', 5.0, 1.0}, {"tanh", 'f', 'n', -7.0, -1.0},
    {"tanh", 'f', 'a', INFINITY, 1.0}, {"tanh", 'f', 'a', -INFINITY, -1.0}, {"tanh", 'f', 'a', NAN, NAN},
    // inverse functions
    {"asinh", 'd', 'a', -0.0, -0.0}, {"asinh", 'd', 'a', 0x1p-1074, 0x1p-1074}, {"asinh", 'd', 'a', -1e-200, -1e-200},
    {"asinh", 'd', 'a', 1e30, kRef}, {"asinh", 'd', 'a', -DBL_MAX, kRef}, {"asinh", 'd', 'a', INFINITY, INFINITY},
    {"asinh", 'd', 'a', -INFINITY, -INFINITY}, {"asinh", 'd', 'a', NAN, NAN},
    {"asinh", 'f', 'a', -0.0, -0.0}, {"asinh", 'f', 'a', 0x1p-149, 0x1p-149}, {"asinh", 'f', 'a', -1e-20, -1e-20},
    {"asinh", 'f', 'a', 1e30, kRef}, {"asinh", 'f', 'a', -FLT_MAX, kRef}, {"asinh", 'f', 'a', -INFINITY, -INFINITY},
    {"asinh", 'f', 'a', NAN, NAN},
    {"acosh", 'd', 'a', 1.0, 0.0}, {"acosh", 'd', 'a', 0.5, NAN}, {"acosh", 'd', 'a', -1.0, NAN},
    {"acosh", 'd', 'a', 0.0, NAN}, {"acosh", 'd', 'a', INFINITY, INFINITY}, {"acosh", 'd', 'a', -INFINITY, NAN},
    {"acosh", 'd', 'a', NAN, NAN}, {"acosh", 'd', 'a', 0x1.0000000000001p+0, kRef}, {"acosh", 'd', 'a', DBL_MAX, kRef},
    {"acosh", 'f', 'a', 1.0, 0.0}, {"acosh", 'f', 'a', 0.5, NAN}, {"acosh", 'f', 'a', -INFINITY, NAN},
    {"acosh", 'f', 'a', INFINITY, INFINITY}, {"acosh", 'f', 'a', NAN, NAN}, {"acosh", 'f', 'a', 0x1.000002p+0, kRef},
    {"acosh", 'f', 'a', FLT_MAX, kRef},
    {"atanh", 'd', 'a', 1.0, INFINITY}, {"atanh", 'd', 'a', -1.0, -INFINITY}, {"atanh", 'd', 'a', 1.5, NAN},
    {"atanh", 'd', 'a', -INFINITY, NAN}, {"atanh", 'd', 'a', -0.0, -0.0}, {"atanh", 'd', 'a', -1e-300, -1e-300},
    {"atanh", 'd', 'a', 0x1p-1074, 0x1p-1074}, {"atanh", 'd', 'a', NAN, NAN},
    {"atanh", 'd', 'a', 0x1.fffffffffffffp-1, kRef}, {"atanh", 'd', 'a', -0x1p-969, kRef},
    {"atanh", 'f', 'a', 1.0, INFINITY}, {"atanh", 'f', 'a', -1.0, -INFINITY}, {"atanh", 'f', 'a', -1.5, NAN},
    {"atanh", 'f', 'a', INFINITY, NAN}, {"atanh", 'f', 'a', -0.0, -0.0}, {"atanh", 'f', 'a', -0x1p-149, -0x1p-149},
    {"atanh", 'f', 'a', 1e-35, 1e-35}, {"atanh", 'f', 'a', 0x1.fffffep-1, kRef}, {"atanh", 'f', 'a', NAN, NAN},
};

TEST(Hyper, SpecialValuesAndEdges) {
  for (const Export* e : exports(true)) {
    bool native = std::string(e->variant) == "_native";
    std::vector<const Case*> cs;
    std::vector<double> xs;
    for (const Case& c : kCases)
      if (c.family == std::string(e->family) && c.prec == e->prec &&
          (c.variants == 'a' || c.variants == (native ? 'n' : 'd')))
        cs.push_back(&c), xs.push_back(c.x);
    std::vector<double> got = run(*e, xs, e->width);
    for (size_t i = 0; i < cs.size(); ++i) {
      const Case& c = *cs[i];
      double x = value_of(*e, lane_of(*e, c.x));
      if (c.want == kRef || c.want == kFinite) {
        if (c.want == kFinite) {
          EXPECT_TRUE(std::isfinite(got[i])) << e->name << "(" << x << ") = " << got[i];
        }
        EXPECT_LE(qarn::oracle::ulp_error(e->family, e->prec, x, got[i]), e->ulp) << e->name << "(" << x << ")";
      } else if (std::isnan(c.want)) {
        EXPECT_TRUE(std::isnan(got[i])) << e->name << "(" << x << ") = " << got[i];
      } else {
        EXPECT_EQ(lane_of(*e, got[i]), lane_of(*e, c.want))
            << e->name << std::hexfloat << "(" << x << ") = " << got[i] << ", want " << c.want;
      }
    }
  }
}

using Rng = qarn::test::Rng;

// Points where an algorithm changes hands: table or polynomial switch, small- and
// large-argument forms, the reductions' interval ends, the main path's edges.
std::vector<double> switch_points(const std::string& f, char prec) {
  bool fl = prec == 'f';
  if (f == "sinh" || f == "cosh")
    return fl ? std::vector<double>{87.3365326, 0.5 * M_LN2, 1.5 * M_LN2, 44.0}
              : std::vector<double>{707.7, M_LN2 / 256, 0.5, 21.487562597358306, 350.0};
  if (f == "tanh") {
    if (fl) return {8.015625, 5.0, 1.0, 0.25};
    std::vector<double> p{0.125};
    for (uint64_t h = 0x3FC20000; h <= 0x40340000; h += 0x20000) p.push_back(qa::as_double(h << 32));
    return p;
  }
  if (f == "asinh") return {fl ? 0.0625 : 0x1p-9, 7.0 / 24, 0.75, 1.0, 0x1p30, 3e3};
  if (f == "acosh") return {1.0, 1.0 + 0x1p-12, 1.25, 17.0 / 8, 0x1p30};
  return {1.0, 0.5, 1.0 / 7, 0x1p-12, fl ? 0x1p-103 : 0x1p-970};  // atanh
}

// Dense operands around each switch point (steps of one ulp, then a relative
// spread), and log-uniform operands over every binade down to the subnormals.
TEST(Hyper, AccuracyAtSwitchPointsAndEveryBinade) {
  for (const Export* e : exports(false)) {
    bool fl = e->prec == 'f';
    Rng r{0xC0FFEEull + std::hash<std::string>{}(e->name)};
    std::vector<double> xs;
    for (double p : switch_points(e->family, e->prec)) {
      double v = fl ? double(float(p)) : p;
      double up = v, down = v;
      for (int k = 0; k < 64; ++k) {
        xs.push_back(up), xs.push_back(down);
        up = fl ? std::nextafter(float(up), INFINITY) : std::nextafter(up, INFINITY);
        down = fl ? std::nextafter(float(down), 0.0f) : std::nextafter(down, 0.0);
      }
      for (int k = 0; k < 400; ++k) xs.push_back(v * (1 + (2 * r.unit() - 1) * std::ldexp(1.0, -4 - int(r.next() % 40))));
    }
    int lowest = fl ? -149 : -1074;
    for (int ex = lowest; ex < 12; ++ex)
      for (int k = 0; k < 6; ++k) xs.push_back(std::ldexp(1.0 + r.unit(), ex) * (k % 2 ? -1 : 1));
    std::string fam = e->family;
    for (double& x : xs) {
      if (fam == "acosh") x = std::fabs(x) < 1 ? 1 + std::fabs(x) : std::fabs(x);
      if (fam == "atanh" && std::fabs(x) >= 1) x = 0.999 / x;
      if (fl) x = float(x);
    }
    std::vector<double> got = run(*e, xs, 5);
    double worst = 0, worst_x = 0;
    for (size_t i = 0; i < xs.size(); ++i) {
      double err = qarn::oracle::ulp_error(e->family, e->prec, xs[i], got[i]);
      if (!(err <= worst)) worst = err, worst_x = xs[i];
    }
    std::printf("switch points %-34s worst %.3f ulp (bound %g) at %a\n", e->name, worst, e->ulp, worst_x);
    EXPECT_LE(worst, e->ulp) << e->name << " at " << std::hexfloat << worst_x;
  }
}

// The sinh and cosh fallbacks are whole scalar functions: the double-double branch,
// the odd series and the tiny branch also hold, although the exports send them only
// |x| from 707.7 (87.34 float) up.
TEST(Hyper, FallbacksAreCompleteFunctions) {
  Rng r{42};
  double worst_d = 0, worst_f = 0;
  for (int i = 0; i < 40000; ++i) {
    double x = std::ldexp(1.0 + r.unit(), -int(r.next() % 64)) * (r.next() % 3 + 1) * (i % 2 ? -1 : 1);
    if (i % 4 == 0) x = (r.unit() * 2 - 1) * 709.0;
    double s, c;
    sinh_lane_fallback(&x, &s);
    cosh_lane_fallback(&x, &c);
    worst_d = std::max({worst_d, qarn::oracle::ulp_error("sinh", 'd', x, s), qarn::oracle::ulp_error("cosh", 'd', x, c)});
    float xf = float(x * 0.125), sf, cf;
    sinhf_lane_fallback(&xf, &sf);
    coshf_lane_fallback(&xf, &cf);
    worst_f = std::max({worst_f, qarn::oracle::ulp_error("sinh", 'f', xf, sf), qarn::oracle::ulp_error("cosh", 'f', xf, cf)});
  }
  std::printf("sinh/cosh fallbacks: worst %.3f ulp (double), %.3f ulp (float)\n", worst_d, worst_f);
  EXPECT_LE(worst_d, 1.0);
  EXPECT_LE(worst_f, 0.51);
  for (double x : {0.0, -0.0, 0x1p-1074, -1e-300}) {
    double s, c;
    sinh_lane_fallback(&x, &s);
    cosh_lane_fallback(&x, &c);
    EXPECT_EQ(qa::bits_of(s), qa::bits_of(x));
    EXPECT_EQ(c, 1.0);
  }
  for (double x : {DBL_MAX, -1.0112e308, 3.0}) {  // ordinary lanes too: +-1
    double t;
    tanh_lane_fallback(&x, &t);
    EXPECT_EQ(t, x < 0 ? -1.0 : 1.0);
  }
}

}  // namespace
