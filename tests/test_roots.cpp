// sqrt, rsqrt, inv, div, cbrt, rcbrt and hypot: the members defined as IEEE
// operations bit for bit against MPFR, the estimate members against this
// processor's own estimate instructions, the two-argument members within their
// bounds against MPFR (with operands over every exponent, subnormal operands and
// results near overflow), and the values the families promise at zeros,
// infinities, NaN and the extremes, at every width.  One-argument accuracy over
// whole ranges is test_accuracy's; every float input: tools/float_sweep.
//
// QARN_ROOTS_PAIRS=N runs N random pairs per float two-argument export against a
// double reference (divf and hypotf; 10^9 for the long run).
#include <gtest/gtest.h>
#include <immintrin.h>
#include <mpfr.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/rng.h"
#include "support/oracle.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

qa::Invoker& lib() {
  static qa::Invoker inv(qa::library_path());
  return inv;
}

using Rng = qarn::test::Rng;

bool is(const Export& e, const char* fam, const char* var = nullptr) {
  return std::strcmp(e.family, fam) == 0 && (!var || std::strcmp(e.variant, var) == 0);
}
std::vector<const Export*> exports_of(const char* fam) {
  std::vector<const Export*> v;
  for (const Export& e : qarn::reg::all())
    if (e.present && is(e, fam)) v.push_back(&e);
  return v;
}
uint64_t lane(const Export& e, double x) { return e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x); }
double val(const Export& e, uint64_t b) { return e.prec == 'f' ? double(qa::as_float(b)) : qa::as_double(b); }
bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || qa::bits_of(a) == qa::bits_of(b); }

// Lane results of e on the operands x (and y), filled into as many calls as needed.
std::vector<double> run(const Export& e, const std::vector<double>& x, const std::vector<double>& y = {}) {
  qa::Shape sh = qa::shape_of(e);
  std::vector<double> out;
  for (size_t i = 0; i < x.size(); i += sh.width) {
    std::vector<qa::Lanes> args(y.empty() ? 1 : 2, qa::Lanes(sh.lanes, lane(e, 0.75)));
    for (int l = 0; l < sh.width && i + l < x.size(); ++l) {
      args[0][l] = lane(e, x[i + l]);
      if (!y.empty()) args[1][l] = lane(e, y[i + l]);
    }
    qa::Outcome o = lib().call(e, args, i + 7);
    for (int l = 0; l < sh.width && i + l < x.size(); ++l) out.push_back(val(e, o.results[0][l]));
  }
  return out;
}

// Any pattern of the format (every exponent, subnormals), with a share of specials.
double any_operand(char prec, Rng& r) {
  static const double kSpecial[] = {0.0, -0.0, INFINITY, -INFINITY, NAN, 1.0, -1.0, 0x1p-1074, 0x1p-149};
  if (r.next() % 16 == 0) return prec == 'f' ? double(float(kSpecial[r.next() % 9])) : kSpecial[r.next() % 9];
  return prec == 'f' ? double(qa::as_float(r.next())) : qa::as_double(r.next());
}

// ---- MPFR references of the two-argument functions ------------------------------
enum class op2 { div, hypot };
void exact2(mpfr_t r, op2 op, double x, double y) {
  mpfr_t a, b;
  mpfr_inits2(64, a, b, (mpfr_ptr)0);
  mpfr_set_d(a, x, MPFR_RNDN);
  mpfr_set_d(b, y, MPFR_RNDN);
  if (op == op2::div) mpfr_div(r, a, b, MPFR_RNDN);
  else mpfr_hypot(r, a, b, MPFR_RNDN);
  mpfr_clears(a, b, (mpfr_ptr)0);
}
// The exact value rounded once to the format, subnormals included.
double rounded2(op2 op, char prec, double x, double y) {
  mpfr_t e, t;
  mpfr_init2(e, 256);
  mpfr_init2(t, prec == 'f' ? 24 : 53);
  exact2(e, op, x, y);
  mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  mpfr_set_emin(prec == 'f' ? -148 : -1073);
  mpfr_set_emax(prec == 'f' ? 128 : 1024);
  int tern = mpfr_set(t, e, MPFR_RNDN);
  tern = mpfr_check_range(t, tern, MPFR_RNDN);
  mpfr_subnormalize(t, tern, MPFR_RNDN);
  double r = prec == 'f' ? double(mpfr_get_flt(t, MPFR_RNDN)) : mpfr_get_d(t, MPFR_RNDN);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  mpfr_clears(e, t, (mpfr_ptr)0);
  return r;
}
double ulps2(op2 op, char prec, double x, double y, double got) {
  double want = rounded2(op, prec, x, y);
  if (std::isnan(want) || std::isnan(got)) return std::isnan(want) && std::isnan(got) ? 0 : INFINITY;
  if (std::isinf(want) || std::isinf(got)) return want == got ? 0 : INFINITY;
  mpfr_t e, g;
  mpfr_inits2(256, e, g, (mpfr_ptr)0);
  exact2(e, op, x, y);
  mpfr_set_d(g, got, MPFR_RNDN);
  int p = prec == 'f' ? 24 : 53;
  long ex = mpfr_zero_p(e) ? 0 : long(mpfr_get_exp(e)), ulp = std::max(ex - p, prec == 'f' ? -149L : -1074L);
  mpfr_sub(g, g, e, MPFR_RNDN);
  mpfr_abs(g, g, MPFR_RNDN);
  mpfr_mul_2si(g, g, -ulp, MPFR_RNDN);
  double err = mpfr_zero_p(e) ? (got == 0 ? 0 : INFINITY) : mpfr_get_d(g, MPFR_RNDU);
  mpfr_clears(e, g, (mpfr_ptr)0);
  return err;
}

// ---- IEEE members: bit for bit --------------------------------------------------
bool ieee_member(const Export& e) {
  if (e.prec == 'd') return is(e, "sqrt") || is(e, "inv") || is(e, "div");
  return is(e, "sqrt", "default") || is(e, "inv", "default") || is(e, "inv", "_rm") || is(e, "div", "default") ||
         is(e, "div", "_rm");
}

TEST(Roots, IeeeMembersCorrectlyRoundedBitForBit) {
  int checked = 0;
  for (const char* fam : {"sqrt", "inv", "div"})
    for (const Export* e : exports_of(fam)) {
      if (!ieee_member(*e)) continue;
      Rng r{0xD1u + uint64_t(e->width) * 131 + std::hash<std::string>{}(e->variant) + e->prec};
      const int n = e->width == 1 ? 20000 : 3000;
      bool two = is(*e, "div");
      std::vector<double> x(n), y(two ? n : 0);
      for (int i = 0; i < n; ++i) {
        x[i] = any_operand(e->prec, r);
        if (two) y[i] = i % 4 == 0 ? any_operand(e->prec, r) * 0x1p-1000 : any_operand(e->prec, r);  // deep quotients too
        if (two && e->prec == 'f') y[i] = float(y[i]);
      }
      std::vector<double> got = run(*e, x, y);
      int bad = 0;
      for (int i = 0; i < n && bad < 5; ++i) {
        double want = two ? rounded2(op2::div, e->prec, x[i], y[i])
                          : qarn::oracle::reference(e->family, e->prec, x[i]);
        if (!same(got[i], want)) {
          ++bad;
          ADD_FAILURE() << e->name << "(" << std::hexfloat << x[i] << (two ? ", " + std::to_string(y[i]) : "")
                        << ") = " << got[i] << ", want " << want;
        }
      }
      ++checked;
    }
  EXPECT_EQ(checked, 24 + 36 + 36);  // sqrt 18 + 6, inv 24 + 12, div 24 + 12
}

// ---- estimate members: this processor's instruction, used as defined ---------------
float rsqrt_ins(float x) { return _mm_cvtss_f32(_mm_rsqrt_ps(_mm_set1_ps(x))); }
float rcp_ins(float x) { return _mm_cvtss_f32(_mm_rcp_ps(_mm_set1_ps(x))); }
float opq(float v) { asm volatile("" : "+x"(v)); return v; }

TEST(Roots, EstimateMembersUseThisProcessorsEstimate) {
  Rng r{42};
  std::vector<double> x(4000), y(4000);
  for (size_t i = 0; i < x.size(); ++i) x[i] = float(any_operand('f', r)), y[i] = float(any_operand('f', r));
  x[0] = 1.0, y[0] = 3.0;  // divf _native(1, 3) is the estimate of 1/3
  auto normal = [](float v, uint32_t top) { uint32_t b = uint32_t(qa::bits_of(v)) & 0x7FFFFFFF; return b >= 0x00800000 && b <= top; };
  for (const char* var : {"_native", "_half"}) {
    for (const Export& e : qarn::reg::all()) {
      if (!e.present || e.prec != 'f' || std::strcmp(e.variant, var)) continue;
      bool sq = is(e, "sqrt"), iv = is(e, "inv"), dv = is(e, "div");
      if (!sq && !iv && !dv) continue;
      std::vector<double> got = dv ? run(e, x, y) : run(e, x);
      for (size_t i = 0; i < x.size(); ++i) {
        float a = float(x[i]), b = float(y[i]), want;
        if (sq && !std::strcmp(var, "_native")) want = opq(a) * rsqrt_ins(a);
        else if (sq) want = a > 0 && normal(a, 0x7F7FF000) ? opq(a) * rsqrt_ins(a) : float(qarn::oracle::reference("sqrt", 'f', a));
        else if (iv) want = normal(a, 0x7E7FE800) ? rcp_ins(a) : opq(1.0f) / a;
        else want = normal(b, 0x7E7FFFFF) ? opq(a) * rcp_ins(b) : opq(a) / b;
        if (sq && a == 0 && !std::strcmp(var, "_half")) want = a;  // sqrt(-0) = -0
        ASSERT_TRUE(same(got[i], want)) << e.name << "(" << std::hexfloat << a << (dv ? ", " + std::to_string(b) : "")
                                        << ") = " << got[i] << ", want " << want;
      }
    }
  }
}

// ---- two-argument accuracy -----------------------------------------------------------
// Pairs over every exponent, pairs of close magnitude (hypot's hardest sums),
// subnormal operands, and operands whose result is near overflow.
std::pair<double, double> pair_operand(char prec, Rng& r, int i) {
  bool f = prec == 'f';
  double big = f ? FLT_MAX : DBL_MAX, tiny = f ? 0x1p-149 : 0x1p-1074;
  auto round = [&](double v) { return f ? double(float(v)) : v; };
  switch (i % 6) {
    case 0: case 1: return {any_operand(prec, r), any_operand(prec, r)};
    case 2: { double a = round(std::ldexp(1 + r.unit(), int(r.next() % 60) - 30)); return {a, round(a * (0.5 + r.unit()))}; }
    case 3: return {round(tiny * double(r.next() % 100000)), round(tiny * double(r.next() % 100000 + 1))};
    case 4: return {round(big * (0.25 + 0.75 * r.unit())), round(big * (0.75 * r.unit()))};
    default: return {round((r.unit() - 0.5) * 8), round(big * r.unit() * (r.next() & 1 ? 1 : 0x1p-60))};
  }
}

TEST(Roots, TwoArgumentExportsWithinBound) {
  for (const char* fam : {"div", "hypot"})
    for (const Export* e : exports_of(fam)) {
      if (ieee_member(*e)) continue;  // held bit for bit above
      Rng r{0xAB + uint64_t(e->width) * 7 + std::hash<std::string>{}(e->name)};
      const int n = e->width == 1 ? 20000 : 2000;
      std::vector<double> x(n), y(n);
      for (int i = 0; i < n; ++i) std::tie(x[i], y[i]) = pair_operand(e->prec, r, i);
      std::vector<double> got = run(*e, x, y);
      double worst = 0;
      int wi = 0;
      for (int i = 0; i < n; ++i) {
        double err = ulps2(is(*e, "div") ? op2::div : op2::hypot, e->prec, x[i], y[i], got[i]);
        if (!(err <= worst)) worst = err, wi = i;
      }
      std::printf("ULP %-32s worst %.3f (bound %g) at (%a, %a)\n", e->name, worst, e->ulp, x[wi], y[wi]);
      EXPECT_LE(worst, e->ulp) << e->name << std::hexfloat << " at (" << x[wi] << ", " << y[wi] << ") got " << got[wi];
    }
}

// The long float run: a double reference (x/y in double rounds to the correct
// float; the double hypot of two floats is within 2^-53 relative).
TEST(Roots, FloatPairsAgainstDouble) {
  const char* env = std::getenv("QARN_ROOTS_PAIRS");
  const long n = env ? std::atol(env) : 200000;
  for (const char* name : {"__ocl_qarn_e9_divf8", "__ocl_qarn_e9_hypotf8", "__ocl_qarn_e9_divf8_native",
                           "__ocl_qarn_e9_hypotf8_native"}) {
    const Export* e = qarn::reg::find(name);
    ASSERT_TRUE(e && e->present) << name;
    Rng r{0x5EED + uint64_t(name[15])};
    double worst = 0, wx = 0, wy = 0;
    const long chunk = 1 << 16;
    for (long done = 0; done < n; done += chunk) {
      long m = std::min(chunk, n - done);
      std::vector<double> x(m), y(m);
      for (long i = 0; i < m; ++i) std::tie(x[i], y[i]) = pair_operand('f', r, int(i));
      std::vector<double> got = run(*e, x, y);
      for (long i = 0; i < m; ++i) {
        double want = is(*e, "div") ? x[i] / y[i] : std::sqrt(x[i] * x[i] + y[i] * y[i]);
        if (is(*e, "hypot") && (std::isinf(x[i]) || std::isinf(y[i]))) want = INFINITY;
        double err;
        if (std::isnan(want) || std::isnan(got[i])) err = std::isnan(want) && std::isnan(got[i]) ? 0 : INFINITY;
        else if (std::isinf(float(want)) || std::isinf(got[i])) err = float(want) == float(got[i]) ? 0 : INFINITY;
        else {
          int ex;
          std::frexp(want, &ex);
          err = std::fabs(got[i] - want) / std::ldexp(1.0, std::max(ex - 24, -149));
        }
        if (!(err <= worst)) worst = err, wx = x[i], wy = y[i];
      }
    }
    std::printf("pairs %-30s n=%ld worst %.3f ulp (bound %g) at (%a, %a)\n", name, n, worst, e->ulp, wx, wy);
    EXPECT_LE(worst, e->ulp) << name;
  }
}

// ---- values promised at the edges, at every width ------------------------------------
struct Case { const char* fam; const char* var; char prec; double x, y, want; };
const double kNaN = NAN, kInf = INFINITY;
const Case kCases[] = {
    {"sqrt", nullptr, 'd', -0.0, 0, -0.0},       {"sqrt", nullptr, 'd', kInf, 0, kInf},
    {"sqrt", nullptr, 'd', -1.0, 0, kNaN},       {"sqrt", nullptr, 'd', 0x1p-1074, 0, 0x1p-537},
    {"sqrt", "default", 'f', -0.0, 0, -0.0},     {"sqrt", "_half", 'f', -0.0, 0, -0.0},
    {"sqrt", "_half", 'f', kInf, 0, kInf},       {"sqrt", "_half", 'f', -kInf, 0, kNaN},
    {"sqrt", "_half", 'f', 0x1p-148, 0, 0x1p-74},
    {"sqrt", "_native", 'f', 0.0, 0, kNaN},      {"sqrt", "_native", 'f', -0.0, 0, kNaN},
    {"sqrt", "_native", 'f', kInf, 0, kNaN},     {"sqrt", "_native", 'f', 1e-40, 0, kInf},
    {"sqrt", "_native", 'f', -4.0, 0, kNaN},    {"sqrt", "_native", 'f', -1e-40, 0, kInf},
    {"rsqrt", nullptr, 'f', 0.0, 0, kInf},       {"rsqrt", nullptr, 'f', -0.0, 0, -kInf},
    {"rsqrt", nullptr, 'f', kInf, 0, 0.0},       {"rsqrt", nullptr, 'f', -1.0, 0, kNaN},
    {"rsqrt", nullptr, 'f', 0x1p-148, 0, 0x1p74}, {"rsqrt", nullptr, 'f', -kInf, 0, kNaN},
    {"rsqrt", nullptr, 'd', 0.0, 0, kInf},       {"rsqrt", nullptr, 'd', -0.0, 0, -kInf},
    {"rsqrt", nullptr, 'd', kInf, 0, 0.0},       {"rsqrt", nullptr, 'd', -1e-300, 0, kNaN},
    {"rsqrt", "default", 'd', 0x1p-1000, 0, 0x1p500}, {"rsqrt", nullptr, 'd', 0x1p-1074, 0, 0x1p537},
    {"inv", nullptr, 'f', 0.0, 0, kInf},         {"inv", nullptr, 'f', -0.0, 0, -kInf},
    {"inv", nullptr, 'd', 0.0, 0, kInf},         {"inv", nullptr, 'd', -0.0, 0, -kInf},
    {"inv", nullptr, 'f', 0x1p-127, 0, 0x1p127}, {"inv", nullptr, 'f', 0x1p127, 0, 0x1p-127},
    {"inv", nullptr, 'f', -kInf, 0, -0.0},
    {"div", nullptr, 'f', 1.0, 0.0, kInf},       {"div", nullptr, 'f', 1.0, -0.0, -kInf},
    {"div", nullptr, 'd', -1.0, 0.0, -kInf},     {"div", nullptr, 'd', 0.0, 0.0, kNaN},
    {"div", nullptr, 'f', 5.0, kInf, 0.0},       {"div", nullptr, 'f', 5.0, -kInf, -0.0},
    {"div", nullptr, 'f', kInf, kInf, kNaN},     {"div", nullptr, 'd', 1.0, 0x1p-1074, kInf},
    {"div", nullptr, 'd', 0x1p-1070, 0x1p-1074, 16.0},
    {"cbrt", nullptr, 'd', -0.0, 0, -0.0},       {"cbrt", nullptr, 'd', kInf, 0, kInf},
    {"cbrt", nullptr, 'd', -kInf, 0, -kInf},     {"cbrt", nullptr, 'd', kNaN, 0, kNaN},
    {"cbrt", nullptr, 'f', -0.0, 0, -0.0},       {"cbrt", nullptr, 'f', -kInf, 0, -kInf},
    {"cbrt", nullptr, 'd', 0x1p-1074, 0, 0x1p-358}, {"cbrt", nullptr, 'd', -0x1p-1073, 0, -0x1.428a2f98d728bp-358},
    {"cbrt", nullptr, 'f', 0x1p-149, 0, 0x1.428a3p-50},
    {"rcbrt", nullptr, 'd', 0.0, 0, kInf},       {"rcbrt", nullptr, 'd', -0.0, 0, -kInf},
    {"rcbrt", nullptr, 'd', -kInf, 0, -0.0},     {"rcbrt", nullptr, 'f', -kInf, 0, -0.0},
    {"rcbrt", nullptr, 'f', -0.0, 0, -kInf},     {"rcbrt", nullptr, 'd', 0x1p-1074, 0, 0x1p358},
    {"rcbrt", nullptr, 'f', kNaN, 0, kNaN},
    {"hypot", nullptr, 'd', kInf, kNaN, kInf},   {"hypot", nullptr, 'd', kNaN, -kInf, kInf},
    {"hypot", nullptr, 'f', -kInf, kNaN, kInf},  {"hypot", nullptr, 'f', kNaN, kInf, kInf},
    {"hypot", nullptr, 'd', kNaN, 1.0, kNaN},    {"hypot", nullptr, 'f', 1.0, kNaN, kNaN},
    {"hypot", nullptr, 'd', 0.0, 0.0, 0.0},      {"hypot", nullptr, 'd', -0.0, -0.0, 0.0},
    {"hypot", nullptr, 'f', -0.0, -0.0, 0.0},    {"hypot", "default", 'd', 3.0, 4.0, 5.0},
    {"hypot", nullptr, 'f', 3e19, 4e19, 5e19},   {"hypot", nullptr, 'd', -0x1p1023, 0x1p1023, 0x1.6a09e667f3bcdp1023},
    {"hypot", nullptr, 'd', 0x1p-1074, 0x1p-1074, 0x1p-1074},  {"hypot", nullptr, 'f', 0x1p-149, -0x1p-149, 0x1p-149},
    {"hypot", nullptr, 'd', DBL_MAX, DBL_MAX, kInf},
};

TEST(Roots, EdgeValuesAtEveryWidth) {
  for (const Case& c : kCases) {
    int found = 0;
    for (const Export& e : qarn::reg::all()) {
      if (!e.present || !is(e, c.fam, c.var) || e.prec != c.prec) continue;
      ++found;
      std::vector<double> x(16, c.x), y(16, c.y);
      x[5] = 0.75, y[5] = 0.75;  // an ordinary neighbour lane
      std::vector<double> got = std::string(e.kind) == "ff:f" ? run(e, x, y) : run(e, x);
      double want = e.prec == 'f' ? double(float(c.want)) : c.want;
      for (int i = 0; i < int(got.size()); ++i) {
        if (i != 5) {
          EXPECT_TRUE(same(got[i], want)) << e.name << "(" << std::hexfloat << c.x << ", " << c.y << ") lane " << i
                                          << " = " << got[i] << ", want " << want;
        }
      }
    }
    EXPECT_GT(found, 0) << c.fam << " " << (c.var ? c.var : "") << " " << c.prec;
  }
}

// Fallback lanes of the extremes: what MPFR says, within the family's bound.
TEST(Roots, FallbackResultsAtTheExtremes) {
  const double d[] = {1e200, 1e-200, 1e-310, 0x1p1023, 0x1p-1022, 3.402e38, 1e-40, 0x1.fffffep127};
  for (const char* fam : {"sqrt", "rsqrt", "cbrt", "rcbrt", "hypot"})
    for (const Export* e : exports_of(fam)) {
      if (is(*e, "sqrt", "_native") && e->prec == 'f') continue;
      for (double v : d) {
        double x = e->prec == 'f' ? double(float(v)) : v;
        if (std::isinf(x)) continue;
        bool two = is(*e, "hypot");
        std::vector<double> got = two ? run(*e, {x, -x}, {x, x}) : run(*e, {x, -x});
        for (int s = 0; s < 2; ++s) {
          double xs = s ? -x : x;
          double err = two ? ulps2(op2::hypot, e->prec, xs, x, got[s]) : qarn::oracle::ulp_error(e->family, e->prec, xs, got[s]);
          EXPECT_LE(err, e->ulp) << e->name << "(" << xs << ") = " << got[s];
        }
      }
    }
}

// The cube roots' exponent split at its ends: exponent fields 1, 2, 3 (q = 0, every
// residue r) and the three largest, with random mantissas of both signs.
TEST(Roots, CubeRootsAtTheEndsOfTheExponentRange) {
  Rng r{77};
  for (const char* fam : {"cbrt", "rcbrt"})
    for (const Export* e : exports_of(fam)) {
      bool f = e->prec == 'f';
      int top = f ? 254 : 2046;
      std::vector<double> x;
      for (int E : {1, 2, 3, top - 2, top - 1, top})
        for (int i = 0; i < 40; ++i) {
          uint64_t m = r.next();
          double v = f ? double(qa::as_float((uint64_t(E) << 23) | (m & 0x007FFFFF) | (m >> 63 << 31)))
                       : qa::as_double((uint64_t(E) << 52) | (m & 0x800FFFFFFFFFFFFFull));
          x.push_back(v);
        }
      std::vector<double> got = run(*e, x);
      for (size_t i = 0; i < x.size(); ++i)
        EXPECT_LE(qarn::oracle::ulp_error(e->family, e->prec, x[i], got[i]), e->ulp)
            << e->name << "(" << std::hexfloat << x[i] << ") = " << got[i];
    }
}

}  // namespace
