#include "support/oracle.h"

#include <mpfr.h>

#include <cmath>
#include <cstring>
#include <limits>

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

}  // namespace

bool has_unary(const char* family) { return lookup(family) != nullptr; }

double reference(const char* family, char prec, double x) {
  mpfr_t e;
  mpfr_init2(e, kPrec);
  eval(e, family, x);
  // Round once to the target format, with its exponent range and subnormals
  // (MPFR's exponents: 0.5 <= m < 1, so float spans -148..128, double -1073..1024).
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
  mpfr_clear(e);
  return r;
}

double ulp_error(const char* family, char prec, double x, double got) {
  const double inf = std::numeric_limits<double>::infinity();
  double rounded = reference(family, prec, x);
  if (std::isnan(rounded) || std::isnan(got)) return std::isnan(rounded) && std::isnan(got) ? 0 : inf;
  if (std::isinf(rounded) || std::isinf(got)) return rounded == got ? 0 : inf;
  mpfr_t e, g;
  mpfr_init2(e, kPrec);
  mpfr_init2(g, kPrec);
  eval(e, family, x);
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
  mpfr_clear(e);
  mpfr_clear(g);
  return err;
}

}  // namespace qarn::oracle
