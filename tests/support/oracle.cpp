#include "support/oracle.h"

#include <mpfr.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace qarn::oracle {
namespace {

using unary_fn = int (*)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t);

// 1/sqrt with the IEEE sign of zero: rsqrt(-0) = -inf (MPFR gives +inf).
int mpfr_rsqrt(mpfr_ptr r, mpfr_srcptr x, mpfr_rnd_t rnd) {
  if (mpfr_zero_p(x) && mpfr_signbit(x)) { mpfr_set_inf(r, -1); return 0; }
  return mpfr_rec_sqrt(r, x, rnd);
}
// Reciprocal and reciprocal cube root (the cube root 64 bits wider, then one division).
int mpfr_inv(mpfr_ptr r, mpfr_srcptr x, mpfr_rnd_t rnd) { return mpfr_ui_div(r, 1, x, rnd); }
int mpfr_rcbrt(mpfr_ptr r, mpfr_srcptr x, mpfr_rnd_t rnd) {
  mpfr_t c;
  mpfr_init2(c, mpfr_get_prec(r) + 64);
  mpfr_cbrt(c, x, MPFR_RNDN);
  int t = mpfr_ui_div(r, 1, c, rnd);
  mpfr_clear(c);
  return t;
}

// MPFR's erf and erfc are slow at 256 bits for operands from about 5 to 35 (and
// erf for large negative ones): a long series where a lower precision takes the
// asymptotic one.  Past |x| = 1 both come from erfc of the positive operand,
// correctly rounded to 96 bits (2^-43 ulp of a double result):
// erf(x) = sign(x)*(1 - erfc(|x|)), erfc(x) = 2 - erfc(-x) for x < -1.
int erf_fast(mpfr_ptr r, mpfr_srcptr x, mpfr_rnd_t rnd) {
  if (!mpfr_number_p(x) || mpfr_cmpabs_ui(x, 1) <= 0) return mpfr_erf(r, x, rnd);
  mpfr_t a;
  mpfr_init2(a, 96);
  mpfr_abs(a, x, MPFR_RNDN);
  mpfr_erfc(a, a, MPFR_RNDN);
  mpfr_prec_round(a, mpfr_get_prec(r), MPFR_RNDN);
  mpfr_ui_sub(a, 1, a, MPFR_RNDN);
  if (mpfr_sgn(x) < 0) mpfr_neg(a, a, MPFR_RNDN);
  int t = mpfr_set(r, a, rnd);
  mpfr_clear(a);
  return t;
}
int erfc_fast(mpfr_ptr r, mpfr_srcptr x, mpfr_rnd_t rnd) {
  if (!mpfr_number_p(x) || mpfr_cmpabs_ui(x, 1) <= 0) return mpfr_erfc(r, x, rnd);
  mpfr_t a;
  mpfr_init2(a, 96);
  mpfr_abs(a, x, MPFR_RNDN);
  mpfr_erfc(a, a, MPFR_RNDN);
  mpfr_prec_round(a, mpfr_get_prec(r), MPFR_RNDN);
  if (mpfr_sgn(x) < 0) mpfr_ui_sub(a, 2, a, MPFR_RNDN);
  int t = mpfr_set(r, a, rnd);
  mpfr_clear(a);
  return t;
}

// log|gamma(x)| (MPFR's lgamma also gives the sign, not needed here).
int lgamma_abs(mpfr_ptr r, mpfr_srcptr x, mpfr_rnd_t rnd) {
  int sign;
  return mpfr_lgamma(r, &sign, x, rnd);
}

struct Entry { const char* name; unary_fn fn; };
const Entry kUnary[] = {
    {"exp", mpfr_exp},     {"exp2", mpfr_exp2},   {"exp10", mpfr_exp10}, {"expm1", mpfr_expm1},
    {"log", mpfr_log},     {"log2", mpfr_log2},   {"log10", mpfr_log10}, {"log1p", mpfr_log1p},
    {"sqrt", mpfr_sqrt},   {"rsqrt", mpfr_rsqrt}, {"cbrt", mpfr_cbrt},
    {"inv", mpfr_inv},     {"rcbrt", mpfr_rcbrt},
    {"sin", mpfr_sin},     {"cos", mpfr_cos},     {"tan", mpfr_tan},
    {"sinpi", mpfr_sinpi}, {"cospi", mpfr_cospi}, {"tanpi", mpfr_tanpi},
    {"asin", mpfr_asin},   {"acos", mpfr_acos},   {"atan", mpfr_atan},
    {"asinpi", mpfr_asinpi}, {"acospi", mpfr_acospi}, {"atanpi", mpfr_atanpi},
    {"sinh", mpfr_sinh},   {"cosh", mpfr_cosh},   {"tanh", mpfr_tanh},
    {"asinh", mpfr_asinh}, {"acosh", mpfr_acosh}, {"atanh", mpfr_atanh},
    {"erf", erf_fast},     {"erfc", erfc_fast},   {"tgamma", mpfr_gamma},
    {"lgamma", lgamma_abs},
};

unary_fn lookup(const char* family) {
  for (const Entry& e : kUnary)
    if (std::strcmp(e.name, family) == 0) return e.fn;
  return nullptr;
}

constexpr mpfr_prec_t kPrec = 256;

// exact <- f(x) with the exponent range wide enough for every double result.
void eval(mpfr_t exact, const char* family, double x) {
  mpfr_t mx;
  mpfr_init2(mx, 64);
  mpfr_set_d(mx, x, MPFR_RNDN);
  lookup(family)(exact, mx, MPFR_RNDN);
  mpfr_clear(mx);
}

// Rounds `e` once to the target format, with its exponent range and subnormals
// (MPFR's exponents: 0.5 <= m < 1, so float spans -148..128, double -1073..1024).
double round_to(mpfr_srcptr e, char prec) {
  bool single = prec == 'f';
  mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  mpfr_t t;
  mpfr_init2(t, single ? 24 : 53);
  int ternary = mpfr_set(t, e, MPFR_RNDN);
  mpfr_set_emin(single ? -148 : -1073);
  mpfr_set_emax(single ? 128 : 1024);
  ternary = mpfr_check_range(t, ternary, MPFR_RNDN);
  mpfr_subnormalize(t, ternary, MPFR_RNDN);
  double r = single ? double(mpfr_get_flt(t, MPFR_RNDN)) : mpfr_get_d(t, MPFR_RNDN);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  mpfr_clear(t);
  return r;
}

double ulp_between(mpfr_srcptr e, char prec, double got) {
  const double inf = std::numeric_limits<double>::infinity();
  double rounded = round_to(e, prec);
  if (std::isnan(rounded) || std::isnan(got)) return std::isnan(rounded) && std::isnan(got) ? 0 : inf;
  if (std::isinf(rounded) || std::isinf(got)) return rounded == got ? 0 : inf;
  mpfr_t g;
  mpfr_init2(g, kPrec);
  mpfr_set_d(g, got, MPFR_RNDN);
  int p = prec == 'f' ? 24 : 53;
  long emin_ulp = prec == 'f' ? -149 : -1074;
  long ex = mpfr_zero_p(e) ? emin_ulp + p : long(mpfr_get_exp(e));  // |e| in [2^(ex-1), 2^ex)
  long ulp_exp = ex - p;
  if (ulp_exp < emin_ulp) ulp_exp = emin_ulp;
  mpfr_sub(g, g, e, MPFR_RNDN);
  mpfr_abs(g, g, MPFR_RNDN);
  mpfr_mul_2si(g, g, -ulp_exp, MPFR_RNDN);
  double err = mpfr_get_d(g, MPFR_RNDU);
  mpfr_clear(g);
  return err;
}

// ---- references of more than one operand or result --------------------------
struct Op {
  mpfr_t v;
  explicit Op(double d) { mpfr_init2(v, 64), mpfr_set_d(v, d, MPFR_RNDN); }
  ~Op() { mpfr_clear(v); }
};

// powr: exp(y log x), defined for x >= 0 only, with 0^0, inf^0 and 1^inf NaN.
void powr(mpfr_ptr r, mpfr_srcptr x, mpfr_srcptr y) {
  if (mpfr_nan_p(x) || mpfr_nan_p(y) || mpfr_sgn(x) < 0 || (mpfr_zero_p(x) && mpfr_signbit(x)) ||
      (mpfr_zero_p(y) && (mpfr_zero_p(x) || mpfr_inf_p(x))) || (mpfr_cmp_ui(x, 1) == 0 && mpfr_inf_p(y)))
    mpfr_set_nan(r);
  else
    mpfr_pow(r, x, y, MPFR_RNDN);
}

// maxmag and minmag: the operand of larger (smaller) magnitude, else fmax (fmin).
void mag(mpfr_ptr r, mpfr_srcptr x, mpfr_srcptr y, bool larger) {
  if (mpfr_nan_p(x) || mpfr_nan_p(y) || mpfr_cmpabs(x, y) == 0) {
    larger ? mpfr_max(r, x, y, MPFR_RNDN) : mpfr_min(r, x, y, MPFR_RNDN);
    return;
  }
  bool x_larger = mpfr_cmpabs(x, y) > 0;
  mpfr_set(r, x_larger == larger ? x : y, MPFR_RNDN);
}

struct Known {
  const char* family;
  const char* kind;  // argument kinds
  int results;
};
const Known kKnown[] = {
    {"pow", "ff", 1},       {"powr", "ff", 1},  {"div", "ff", 1},       {"hypot", "ff", 1},
    {"atan2", "ff", 1},     {"atan2pi", "ff", 1}, {"copysign", "ff", 1}, {"fmax", "ff", 1},
    {"fmin", "ff", 1},      {"maxmag", "ff", 1}, {"minmag", "ff", 1},   {"fdim", "ff", 1},
    {"fmod", "ff", 1},      {"remainder", "ff", 1}, {"remquo", "ff", 2}, {"fma", "fff", 1},
    {"pown", "fi", 1},      {"rootn", "fi", 1}, {"ldexp", "fi", 1},     {"sincos", "f", 2},
    {"sincosreg", "f", 2},  {"modf", "f", 2},   {"fract", "f", 2},      {"lgammar", "f", 2},
    {"frexp", "f", 2},      {"ilogb", "f", 1},
};

}  // namespace

Exact::Exact() {
  auto* m = new __mpfr_struct;
  mpfr_init2(m, kPrec);
  v_ = m;
}
Exact::~Exact() {
  auto* m = static_cast<__mpfr_struct*>(v_);
  mpfr_clear(m);
  delete m;
}

int results_known(const char* family, const char* kind) {
  if (std::strcmp(kind, "f") == 0 && lookup(family)) return 1;
  for (const Known& k : kKnown)
    if (std::strcmp(k.family, family) == 0 && std::strcmp(k.kind, kind) == 0) return k.results;
  return 0;
}

void exact(const char* family, const char* kind, int which, const Operands& in, Exact& out) {
  auto* r = static_cast<__mpfr_struct*>(out.value());
  std::string_view f(family);
  Op x(in.f[0]), y(in.f[1]), z(in.f[2]);
  out.integer = false;
  if (std::strcmp(kind, "f") == 0 && lookup(family) && which == 0) {
    lookup(family)(r, x.v, MPFR_RNDN);
  } else if (f == "pow") {
    mpfr_pow(r, x.v, y.v, MPFR_RNDN);
  } else if (f == "powr") {
    powr(r, x.v, y.v);
  } else if (f == "div") {
    mpfr_div(r, x.v, y.v, MPFR_RNDN);
  } else if (f == "hypot") {
    mpfr_hypot(r, x.v, y.v, MPFR_RNDN);
  } else if (f == "atan2") {
    mpfr_atan2(r, x.v, y.v, MPFR_RNDN);  // atan2(y, x): the first operand is y
  } else if (f == "atan2pi") {
    mpfr_atan2pi(r, x.v, y.v, MPFR_RNDN);
  } else if (f == "copysign") {
    mpfr_copysign(r, x.v, y.v, MPFR_RNDN);
  } else if (f == "fmax" || f == "fmin") {
    f == "fmax" ? mpfr_max(r, x.v, y.v, MPFR_RNDN) : mpfr_min(r, x.v, y.v, MPFR_RNDN);
  } else if (f == "maxmag" || f == "minmag") {
    mag(r, x.v, y.v, f == "maxmag");
  } else if (f == "fdim") {
    if (mpfr_nan_p(x.v) || mpfr_nan_p(y.v)) mpfr_set_nan(r);
    else if (mpfr_greater_p(x.v, y.v)) mpfr_sub(r, x.v, y.v, MPFR_RNDN);
    else mpfr_set_zero(r, 1);
  } else if (f == "fmod") {
    mpfr_fmod(r, x.v, y.v, MPFR_RNDN);
  } else if (f == "remainder" || f == "remquo") {
    long q = 0;
    mpfr_remquo(r, &q, x.v, y.v, MPFR_RNDN);
    if (which == 1) out.integer = true, out.n = q;
  } else if (f == "fma") {
    mpfr_fma(r, x.v, y.v, z.v, MPFR_RNDN);
  } else if (f == "pown") {
    mpfr_pow_si(r, x.v, in.n, MPFR_RNDN);
  } else if (f == "rootn") {
    if (in.n == 0) mpfr_set_nan(r);
    else if (in.n > 0) mpfr_rootn_ui(r, x.v, (unsigned long)in.n, MPFR_RNDN);
    else mpfr_rootn_ui(r, x.v, (unsigned long)-in.n, MPFR_RNDN), mpfr_ui_div(r, 1, r, MPFR_RNDN);
  } else if (f == "ldexp") {
    mpfr_mul_2si(r, x.v, in.n, MPFR_RNDN);
  } else if (f == "sincos" || f == "sincosreg") {
    which == 0 ? mpfr_sin(r, x.v, MPFR_RNDN) : mpfr_cos(r, x.v, MPFR_RNDN);
  } else if (f == "modf") {
    // The fractional part (with x's sign; 0 for infinities) and the integral one.
    if (which == 1) mpfr_trunc(r, x.v);
    else if (mpfr_inf_p(x.v)) mpfr_set_zero(r, mpfr_signbit(x.v) ? -1 : 1);
    else mpfr_frac(r, x.v, MPFR_RNDN), mpfr_setsign(r, r, mpfr_signbit(x.v), MPFR_RNDN);
  } else if (f == "fract") {
    // x - floor(x) rounded to the format, at most its largest number below 1; and floor(x).
    mpfr_floor(r, x.v);
    if (which == 0) {
      if (mpfr_inf_p(x.v)) {
        mpfr_set_zero(r, mpfr_signbit(x.v) ? -1 : 1);
      } else if (!mpfr_nan_p(x.v)) {
        mpfr_sub(r, x.v, r, MPFR_RNDN);
        double d = std::min(round_to(r, in.prec), in.prec == 'f' ? double(0x1.fffffep-1f) : 0x1.fffffffffffffp-1);
        mpfr_set_d(r, d, MPFR_RNDN);
      }
    }
  } else if (f == "lgammar") {
    int sign = 0;
    mpfr_lgamma(r, &sign, x.v, MPFR_RNDN);
    if (which == 1) out.integer = true, out.n = sign;
  } else if (f == "frexp" || f == "ilogb") {
    bool finite = mpfr_number_p(x.v) && !mpfr_zero_p(x.v);
    long e = finite ? long(mpfr_get_exp(x.v)) : 0;
    if (f == "ilogb") {
      out.integer = true;
      out.n = finite ? e - 1 : mpfr_zero_p(x.v) ? INT_MIN : mpfr_nan_p(x.v) ? INT_MIN : INT_MAX;
    } else if (which == 1) {
      out.integer = true, out.n = e;
    } else {
      mpfr_set(r, x.v, MPFR_RNDN);
      if (finite) mpfr_mul_2si(r, r, -e, MPFR_RNDN);
    }
  } else {
    mpfr_set_nan(r);
  }
}

double ulp_of(const Exact& e, char prec, double got) {
  return ulp_between(static_cast<const __mpfr_struct*>(e.value()), prec, got);
}
double rounded(const Exact& e, char prec) { return round_to(static_cast<const __mpfr_struct*>(e.value()), prec); }

bool int_agrees(const char* family, const Exact& e, long got) {
  if (std::strcmp(family, "remquo") != 0) return got == e.n;
  if (e.n == 0) return (got & 7) == 0;
  return (got < 0) == (e.n < 0) && ((got < 0 ? -got : got) & 7) == ((e.n < 0 ? -e.n : e.n) & 7);
}

bool has_unary(const char* family) { return lookup(family) != nullptr; }

double reference(const char* family, char prec, double x) {
  mpfr_t e;
  mpfr_init2(e, kPrec);
  eval(e, family, x);
  double r = round_to(e, prec);
  mpfr_clear(e);
  return r;
}

double ulp_error(const char* family, char prec, double x, double got) {
  mpfr_t e;
  mpfr_init2(e, kPrec);
  eval(e, family, x);
  double err = ulp_between(e, prec, got);
  mpfr_clear(e);
  return err;
}

}  // namespace qarn::oracle
