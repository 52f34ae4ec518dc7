// pow, powr, pown and rootn: accuracy against MPFR in ulps on the populations that
// stress a power (x next to 1 with a large exponent, results near overflow, near
// underflow and subnormal, integer and half-integer y, negative x, huge and tiny n),
// and the special operands of each family's table as grouped cases, on every
// variant and precision at a wide width (the other widths give the same lanes:
// TEST Abi).  The worst case per export is printed.
//   QARN_POW_SAMPLES=N   operands per population (default 1500)
#include <gtest/gtest.h>
#include <mpfr.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "support/invoke.h"
#include "support/rng.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

qa::Invoker& invoker() {
  static qa::Invoker inv(qa::library_path());
  return inv;
}

struct Rng : qarn::test::Rng {
  using qarn::test::Rng::Rng;
  int32_t n_in(int lo, int hi) { return int32_t(lo + int64_t(next() % uint64_t(int64_t(hi) - lo + 1))); }
};

int samples() {
  const char* s = std::getenv("QARN_POW_SAMPLES");
  return s ? std::atoi(s) : 1500;
}

// ---- reference -------------------------------------------------------------------
enum class fn { pow, powr, pown, rootn };
fn fn_of(const Export& e) {
  std::string f = e.family;
  return f == "pow" ? fn::pow : f == "powr" ? fn::powr : f == "pown" ? fn::pown : fn::rootn;
}
bool int_arg(fn f) { return f == fn::pown || f == fn::rootn; }

// The exact value at 256 bits with an unbounded exponent range.
void exact(mpfr_t v, fn f, double x, double y) {
  mpfr_t mx, my;
  mpfr_inits2(64, mx, my, (mpfr_ptr)0);
  mpfr_set_d(mx, x, MPFR_RNDN);
  mpfr_set_d(my, y, MPFR_RNDN);
  if (f == fn::pown) mpfr_pow_si(v, mx, long(y), MPFR_RNDN);
  else if (f == fn::rootn) mpfr_rootn_si(v, mx, long(y), MPFR_RNDN);
  else mpfr_pow(v, mx, my, MPFR_RNDN);
  mpfr_clears(mx, my, (mpfr_ptr)0);
}

// Error of `got` in ulps of the exact value in the target format (subnormal ulps
// below the normal range); an infinity is right only where the exact value rounds
// to it, and a NaN only where the exact value is NaN.
double ulp_error(fn f, char prec, double x, double y, double got) {
  mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  mpfr_set_emin(mpfr_get_emin_min());
  mpfr_set_emax(mpfr_get_emax_max());
  mpfr_t e, g;
  mpfr_inits2(256, e, g, (mpfr_ptr)0);
  exact(e, f, x, y);
  double err;
  const double inf = std::numeric_limits<double>::infinity();
  int p = prec == 'f' ? 24 : 53;
  long emax_fmt = prec == 'f' ? 128 : 1024, emin_ulp = prec == 'f' ? -149 : -1074;
  if (mpfr_nan_p(e) || std::isnan(got)) {
    err = mpfr_nan_p(e) && std::isnan(got) ? 0 : inf;
  } else if (mpfr_inf_p(e) || std::isinf(got)) {
    // The exact value overflows when it rounds above the largest finite value.
    bool over = mpfr_inf_p(e);
    if (!over) {
      mpfr_t t;
      mpfr_init2(t, p);
      mpfr_set(t, e, MPFR_RNDN);
      over = mpfr_get_exp(t) > emax_fmt;
      mpfr_clear(t);
    }
    err = over && std::isinf(got) && (got > 0) == (mpfr_sgn(e) > 0) ? 0 : inf;
  } else {
    long ex = mpfr_zero_p(e) ? emin_ulp + p : long(mpfr_get_exp(e));
    long ulp_exp = std::max(ex - p, emin_ulp);
    mpfr_set_d(g, got, MPFR_RNDN);
    mpfr_sub(g, g, e, MPFR_RNDN);
    mpfr_abs(g, g, MPFR_RNDN);
    mpfr_mul_2si(g, g, -ulp_exp, MPFR_RNDN);
    err = mpfr_get_d(g, MPFR_RNDU);
    // A zero of the wrong sign is wrong even when the value is tiny.
    if (got == 0 && mpfr_zero_p(e) && std::signbit(got) != (mpfr_signbit(e) != 0)) err = inf;
    if (got != 0 && !mpfr_zero_p(e) && std::signbit(got) != (mpfr_sgn(e) < 0)) err = inf;
  }
  mpfr_clears(e, g, (mpfr_ptr)0);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  return err;
}

// ---- calling ----------------------------------------------------------------------
struct Pair { double x, y; };  // y holds n for pown and rootn

std::vector<double> run(const Export& e, const std::vector<Pair>& in, uint64_t seed) {
  qa::Shape sh = qa::shape_of(e);
  std::vector<double> out;
  fn f = fn_of(e);
  for (size_t at = 0; at < in.size(); at += sh.width) {
    qa::Lanes xs(sh.lanes), ys(sh.lanes);
    for (int i = 0; i < sh.lanes; ++i) {
      const Pair& p = in[std::min(at + i, in.size() - 1)];
      xs[i] = e.prec == 'f' ? qa::bits_of(float(p.x)) : qa::bits_of(p.x);
      if (int_arg(f)) ys[i] = uint32_t(int32_t(p.y));
      else ys[i] = e.prec == 'f' ? qa::bits_of(float(p.y)) : qa::bits_of(p.y);
    }
    qa::Outcome o = invoker().call(e, {xs, ys}, seed + at);
    for (int i = 0; i < sh.width && at + i < in.size(); ++i)
      out.push_back(e.prec == 'f' ? double(qa::as_float(o.results[0][i])) : qa::as_double(o.results[0][i]));
  }
  return out;
}

// ---- operands ---------------------------------------------------------------------
// Every population for one export, rounded to its precision.
std::vector<Pair> operands(const Export& e, Rng& r, int n) {
  fn f = fn_of(e);
  bool fl = e.prec == 'f';
  double zmax = fl ? 88.7 : 709.7, zmin = fl ? -103.3 : -744.4, znorm = fl ? -87.3 : -708.3;
  std::vector<Pair> v;
  auto add = [&](double x, double y) {
    if (fl) x = float(x), y = int_arg(f) ? y : double(float(y));
    v.push_back({x, y});
  };
  // The exponent for a target ln of the result: y = z / ln x (float: rounded, so the
  // result lands near, not exactly at, the target).
  auto y_for = [&](double x, double z) { return z / std::log(x); };
  for (int i = 0; i < n; ++i) {
    if (!int_arg(f)) {
      double x = r.in(0.1, 10);
      add(x, r.in(-20, 20));                                        // ordinary
      double xn = 1 + (r.next() & 1 ? 1 : -1) * std::ldexp(1 + r.unit(), -int(r.next() % (fl ? 23 : 52)) - 1);
      add(xn, y_for(xn, r.in(zmin, zmax) * 0.98));                  // x next to 1, large |y|
      double xw = std::exp(r.in(-80, 80));
      add(xw, y_for(xw, r.in(zmax - 2, zmax + 0.5)));               // near overflow
      add(xw, y_for(xw, r.in(znorm - 1, znorm + 1)));               // the normal range's edge
      add(xw, y_for(xw, r.in(zmin - 0.5, znorm)));                  // subnormal results
      add(r.in(0.01, 100), double(r.n_in(-60, 60)) + (r.next() & 1 ? 0.5 : 0));  // (half-)integer y
      double b = fl ? std::ldexp(1.0, int(r.next() % 250) - 125) : std::ldexp(1.0, int(r.next() % 2000) - 1000);
      add(b * (1 + r.unit()), r.in(-1.5, 1.5));                     // any binade
      if (f == fn::pow) add(-r.in(0.1, 10), double(r.n_in(-40, 40)));  // negative x, integer y
    } else if (f == fn::pown) {
      add(r.in(-8, 8), r.n_in(-40, 40));
      double xn = 1 + (r.next() & 1 ? 1 : -1) * std::ldexp(1 + r.unit(), -int(r.next() % 24) - 8);
      add(r.next() & 1 ? xn : -xn, double(int32_t(r.next())));       // huge n next to 1
      int32_t big = r.n_in(2, 5000);
      double xw = std::exp((r.next() & 1 ? zmax : zmin + 0.3) * r.in(0.9, 1.0) / big);
      add(r.next() & 1 ? xw : -xw, big);                              // results at the range's ends
      add(r.in(-2, 2), r.n_in(-200, 200));
    } else {
      int32_t k = r.n_in(-60, 60);
      if (k == 0) k = 3;
      double xr = fl ? std::ldexp(1 + r.unit(), int(r.next() % 250) - 126)
                     : std::ldexp(1 + r.unit(), int(r.next() % 2040) - 1020);
      add((k & 1) && (r.next() & 1) ? -xr : xr, k);                  // any binade, odd n of negative x
      add(r.in(0.001, 1000), double(int32_t(r.next())));             // huge and tiny n
      add(r.in(-100, 100), r.n_in(1, 9) * 2 - 1);                    // small odd n
      add(r.in(0, 1e6), r.n_in(1, 4));
    }
  }
  return v;
}

std::vector<const Export*> pow_exports(bool wide_only) {
  std::vector<const Export*> v;
  for (const Export& e : qarn::reg::all()) {
    std::string f = e.family;
    if (!e.present || (f != "pow" && f != "powr" && f != "pown" && f != "rootn")) continue;
    if (wide_only && e.width != (e.prec == 'f' ? 16 : 8)) continue;
    v.push_back(&e);
  }
  return v;
}

std::string param_name(const testing::TestParamInfo<const Export*>& p) {
  return std::string(p.param->name).substr(std::strlen("__ocl_qarn_e9_"));
}

class PowAccuracy : public testing::TestWithParam<const Export*> {};

TEST_P(PowAccuracy, WithinBound) {
  const Export& e = *GetParam();
  Rng r{0xC0FFEEull + std::hash<std::string>{}(e.name)};
  std::vector<Pair> in = operands(e, r, samples());
  std::vector<double> got = run(e, in, r.next());
  fn f = fn_of(e);
  double worst = 0;
  Pair at{};
  double at_got = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    double err = ulp_error(f, e.prec, in[i].x, in[i].y, got[i]);
    if (!(err <= worst)) worst = err, at = in[i], at_got = got[i];
  }
  std::printf("ULP %-36s worst %.3f (bound %g) at (%a, %a): got %a\n", e.name, worst, e.ulp, at.x, at.y, at_got);
  RecordProperty("worst_ulp", std::to_string(worst));
  ASSERT_GE(e.ulp, 0) << "no bound stated";
  EXPECT_LE(worst, e.ulp) << e.name << " at x = " << std::hexfloat << at.x << ", y = " << at.y;
}
INSTANTIATE_TEST_SUITE_P(Registry, PowAccuracy, testing::ValuesIn(pow_exports(true)), param_name);

// ---- special operands ---------------------------------------------------------------------
const double inf = std::numeric_limits<double>::infinity(), qnan = std::numeric_limits<double>::quiet_NaN();

// Same value, with zeros and infinities of the same sign; any NaN matches NaN.
bool same(double got, double want) {
  if (std::isnan(want)) return std::isnan(got);
  return got == want && std::signbit(got) == std::signbit(want);
}

struct Case { double x, y, want; };

// Zeros, infinities and NaN must match exactly, and so must the ones the tables
// promise (x = 1, y = 0, n = 0, x = -1), except on the short pown and rootn paths,
// which compute |x| = 1 like any other x.  Other values are held to the bound.
void check(const char* family, const std::vector<Case>& cases, char only_prec = 0) {
  fn f = std::string(family) == "pow" ? fn::pow : std::string(family) == "powr" ? fn::powr
       : std::string(family) == "pown" ? fn::pown : fn::rootn;
  for (const Export* e : pow_exports(false)) {
    if (std::string(e->family) != family || (e->width != 8 && e->width != 3)) continue;
    if (only_prec && e->prec != only_prec) continue;
    bool short_int = int_arg(f) && std::string(e->variant) != "default";
    std::vector<Pair> in;
    for (const Case& c : cases) in.push_back({c.x, c.y});
    std::vector<double> got = run(*e, in, 7);
    for (size_t i = 0; i < cases.size(); ++i) {
      double want = e->prec == 'f' ? double(float(cases[i].want)) : cases[i].want;
      double x = e->prec == 'f' ? double(float(in[i].x)) : in[i].x;
      double y = e->prec == 'f' && !int_arg(f) ? double(float(in[i].y)) : in[i].y;
      bool exact = !std::isfinite(want) || want == 0 || (std::fabs(want) == 1 && !short_int);
      if (exact)
        EXPECT_TRUE(same(got[i], want)) << e->name << "(" << x << ", " << y << ") = " << got[i] << ", want " << want;
      else
        EXPECT_LE(ulp_error(f, e->prec, x, y, got[i]), e->ulp) << e->name << "(" << x << ", " << y << ") = " << got[i];
    }
  }
}

TEST(PowSpecial, ExactOnesAndNaN) {
  check("pow", {{qnan, 0.0, 1}, {qnan, -0.0, 1}, {inf, 0.0, 1}, {-0.0, -0.0, 1}, {1, qnan, 1}, {1, inf, 1},
                {1, -inf, 1}, {1, 1e30, 1}, {qnan, 2, qnan}, {2, qnan, qnan}, {-1, qnan, qnan}});
  check("powr", {{qnan, 0.0, qnan}, {1, qnan, qnan}, {qnan, 1, qnan}, {0.0, 0.0, qnan}, {-0.0, 0.0, qnan},
                 {inf, 0.0, qnan}, {inf, -0.0, qnan}, {1, inf, qnan}, {1, -inf, qnan}, {1, 1e30, 1},
                 {1, 3e38, 1}, {1, -3e38, 1}, {5, 0.0, 1}, {1e-40, -0.0, 1}});
}

TEST(PowSpecial, ZerosAndInfinitiesOfX) {
  check("pow", {{0.0, 3, 0.0},        {-0.0, 3, -0.0},     {-0.0, 2, 0.0},      {-0.0, 0.5, 0.0},
                {-0.0, inf, 0.0},     {0.0, -3, inf},      {-0.0, -3, -inf},    {-0.0, -2, inf},
                {-0.0, -inf, inf},    {-0.0, -0.5, inf},   {inf, 0.5, inf},     {-inf, 3, -inf},
                {-inf, 2, inf},       {-inf, -3, -0.0},    {-inf, -2, 0.0},     {-inf, -0.5, 0.0},
                {inf, -1e-30, 0.0}});
  check("powr", {{0.0, 3, 0.0}, {-0.0, 3, 0.0}, {-0.0, inf, 0.0}, {0.0, -3, inf}, {-0.0, -3, inf},
                 {-0.0, -inf, inf}, {inf, 2, inf}, {inf, -2, 0.0}, {-inf, 3, qnan}, {-inf, -2, qnan}});
}

// Tiny exponents give exactly 1 for every positive finite x, in one call with
// lanes whose x is special (zero, negative, infinite, NaN): those keep their own
// results.  Both sides of 2^-110 and subnormal y.
TEST(PowSpecial, TinyExponents) {
  const std::vector<Case> mixed = {{2, 0x1p-111, 1},         {-2, 0x1p-120, qnan},  {0.5, -0x1p-110, 1},
                                   {0.0, 0x1p-120, 0.0},      {1e30, 0x1.fffffep-111, 1}, {inf, 0x1p-120, inf},
                                   {3, 0x1p-149, 1},          {qnan, 0x1p-120, qnan}, {1e-40, 0x1p-120, 1},
                                   {7, 1e-30, 1},             {0x1.fffffep127, -0x1p-126, 1}};
  check("pow", mixed);
  check("powr", mixed);
  // Float: both sides of 2^-33, where powrf's default variant takes its band, with
  // |ln x| at its largest.
  const std::vector<Case> edge = {{0x1.fffffcp127, 0x1.fffffep-34, 1}, {0x1p-126, -0x1p-33, 1},
                                  {0x1p-126, 0x1.000002p-33, 1},     {0x1.fffffcp127, -0x1p-34, 1},
                                  {-3, 0x1p-40, qnan},               {1e-40, 0x1p-35, 1}};
  check("pow", edge, 'f');
  check("powr", edge, 'f');
}

TEST(PowSpecial, InfiniteExponents) {
  check("pow", {{-1, inf, 1}, {-1, -inf, 1}, {0.5, inf, 0.0}, {0.5, -inf, inf}, {-0.5, inf, 0.0},
                {-0.5, -inf, inf}, {2, inf, inf}, {-2, inf, inf}, {2, -inf, 0.0}, {-2, -inf, 0.0},
                {1e-40, -inf, inf}});
  check("powr", {{0.5, inf, 0.0}, {0.5, -inf, inf}, {2, inf, inf}, {2, -inf, 0.0}, {1e-40, inf, 0.0},
                 {-2, inf, qnan}, {-0.5, -inf, qnan}});
}

TEST(PowSpecial, NegativeBases) {
  check("pow", {{-2, 3, -8}, {-2, 2, 4}, {-2, -1, -0.5}, {-2, 0.5, qnan}, {-1, 3, -1}, {-1, 2, 1},
                {-1, 0.5, qnan}, {-3, 0x1p53, inf}, {-0.5, 0x1p60, 0.0}, {-2, -1075, -0.0},
                {-1e-40, 1, -1e-40}});
  check("powr", {{-2, 3, qnan}, {-2, 2, qnan}, {-1, 2, qnan}, {-1e-40, 1, qnan}});
}

TEST(PowSpecial, OverflowUnderflowAndRangeEnds) {
  for (const char* f : {"pow", "powr"}) {
    check(f, {{2, 1024, inf}, {2, -1075, 0.0}, {2, -1074, 0x1p-1074}, {2, 1023, 0x1p1023},
              {2, -1022, 0x1p-1022}, {0x1p-1074, 1, 0x1p-1074}, {0x1p-1074, 0.5, 0x1p-537}});
    check(f, {{1.7976931348623157e308, 1, 1.7976931348623157e308}, {1.7976931348623157e308, 0.0, 1}}, 'd');
  }
  // Floats: the largest float goes to the fallback.
  for (const char* f : {"pow", "powr"})
    check(f, {{0x1.fffffep127, 1, 0x1.fffffep127}, {0x1.fffffep127, 0.0, 1}, {2, 128, inf}, {2, -150, 0.0},
              {2, -149, 0x1p-149}, {2, -126, 0x1p-126}, {0x1p-149, 1, 0x1p-149}, {0x1p-149, 0.5, 0x1.6a09e6p-75}},
          'f');
  // |y| = 2^1017 with x = 1 + 2^-52 leaves the double main paths.
  check("pow", {{1 + 0x1p-52, 0x1p1017, inf}, {1 + 0x1p-52, -0x1p1017, 0.0}}, 'd');
}

TEST(PownSpecial, Table) {
  check("pown", {{qnan, 0, 1},   {inf, 0, 1},        {0.0, 0, 1},      {1, INT_MIN, 1},   {qnan, 3, qnan},
                 {0.0, 3, 0.0},  {-0.0, 3, -0.0},    {-0.0, 2, 0.0},   {0.0, -3, inf},    {-0.0, -3, -inf},
                 {-0.0, -2, inf}, {0.0, INT_MIN, inf}, {-1, 3, -1},    {-1, INT_MIN, 1},  {-1, INT_MAX, -1},
                 {inf, 3, inf},  {inf, -3, 0.0},     {-inf, 3, -inf},  {-inf, 2, inf},    {-inf, -3, -0.0},
                 {-inf, -2, 0.0}, {-2, 3, -8},       {-2, 2, 4},       {3, 1, 3},         {-3, -1, -1.0 / 3},
                 {2, -1074, 0x1p-1074}, {-2, -1075, -0.0}, {2, 1024, inf}, {-2, 1025, -inf}, {1 + 0x1p-20, INT_MIN, 0.0},
                 {1.0, 1, 1}});
  // n that float cannot hold: 16777217 = 2^24 + 1 uses n exactly.
  for (const Export* e : pow_exports(false)) {
    if (std::string(e->family) != "pown" || e->prec != 'f' || e->width != 4 || std::string(e->variant) != "default")
      continue;
    double x = 1 + 0x1p-23;
    std::vector<double> got = run(*e, {{x, 16777217}, {x, -16777217}}, 5);
    EXPECT_LE(ulp_error(fn::pown, 'f', x, 16777217, got[0]), 2) << got[0];
    EXPECT_LE(ulp_error(fn::pown, 'f', x, -16777217, got[1]), 2) << got[1];
  }
}

TEST(RootnSpecial, Table) {
  check("rootn", {{8, 0, qnan},     {qnan, 0, qnan},   {0.0, 0, qnan},    {0.0, 2, 0.0},    {-0.0, 2, 0.0},
                  {-0.0, -2, inf},  {0.0, -4, inf},    {-0.0, 3, -0.0},   {0.0, 3, 0.0},    {-0.0, -3, -inf},
                  {inf, 3, inf},    {-inf, 3, -inf},   {-inf, -3, -0.0},  {inf, -3, 0.0},   {inf, 2, inf},
                  {inf, -2, 0.0},   {-inf, 2, qnan},   {-8, 2, qnan},     {-8, 3, -2},      {-8, -3, -0.5},
                  {8, 3, 2},        {-1, INT_MIN, qnan}, {-5, 1, -5},     {qnan, 3, qnan},  {16, 4, 2},
                  {1, INT_MIN, 1},  {0x1p-1074, -1, inf}, {0x1p-1074, 2, 0x1p-537}});
  // A huge negative x with n = 3 needs 1/3 to twice the working precision.
  for (const Export* e : pow_exports(false)) {
    if (std::string(e->family) != "rootn" || e->prec != 'd' || e->width != 2 || std::string(e->variant) != "default")
      continue;
    std::vector<double> got = run(*e, {{-1.73e305, 3}, {1.73e305, -3}}, 5);
    EXPECT_LE(ulp_error(fn::rootn, 'd', -1.73e305, 3, got[0]), 2) << got[0];
    EXPECT_LE(ulp_error(fn::rootn, 'd', 1.73e305, -3, got[1]), 2) << got[1];
  }
}

// powrf default: inputs where an unnormalised logarithm or a rounded table head
// would lose the product's head.
TEST(PowrfDefault, HeadsOfTheProduct) {
  for (const Export* e : pow_exports(false)) {
    if (std::string(e->family) != "powr" || e->prec != 'f' || std::string(e->variant) != "default") continue;
    std::vector<Pair> in = {{0.996020675, 16226.93}, {0.999961555, 2841229.75}, {1, 1e35}, {1, -3e38}};
    std::vector<double> got = run(*e, in, 9);
    for (size_t i = 0; i < in.size(); ++i)
      EXPECT_LE(ulp_error(fn::powr, 'f', float(in[i].x), float(in[i].y), got[i]), 2)
          << e->name << "(" << in[i].x << ", " << in[i].y << ") = " << got[i];
  }
}

// Double default: next to x = 1 the logarithm's low word is not small against its
// head, and an exponent of 2^20 would carry it into the exp2 step's fraction.
TEST(PowDefault, TailOfTheLogarithm) {
  for (const Export* e : pow_exports(false)) {
    std::string f = e->family;
    if ((f != "pow" && f != "powr") || e->prec != 'd' || e->width != 4 || std::string(e->variant) != "default")
      continue;
    std::vector<Pair> in = {{0x1.001f252a1cef7p+0, -0x1.6285e87c75e5dp+20}, {0x1.001f252a1cef7p+0, 262144},
                            {0x1.fffffffffffdp-1, 0x1.0b4639a54ca89p+56}, {1 - 0x1p-30, -0x1.5p+39}};
    std::vector<double> got = run(*e, in, 11);
    for (size_t i = 0; i < in.size(); ++i)
      EXPECT_LE(ulp_error(fn_of(*e), 'd', in[i].x, in[i].y, got[i]), e->ulp)
          << e->name << "(" << in[i].x << ", " << in[i].y << ") = " << got[i];
  }
}

}  // namespace
