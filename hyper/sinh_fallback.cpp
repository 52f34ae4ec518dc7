// Lane fallbacks of sinh, cosh and tanh.  The exports send sinh and cosh only
// |x| >= 707.7001953125 (float: above 87.3365326), infinities and NaN: there the
// result is +-e^|x|/2, computed from 64 steps of 2^(j/64) (table HXd) and a degree-6
// polynomial, or overflow.  The routines are complete scalar functions all the
// same: smaller arguments take a double-double (e^a -+ e^-a)/2, a short odd series
// or x itself.  The float fallbacks run the double routine with float's overflow
// bound and round once.
#include "frame/scalar.h"
#include "tables/hyper_tables.h"

using namespace qarn::sc;
using qarn::tab::HXd;

namespace {

constexpr double kHuge = 0x1.fffffffffffffp+1023;
const double kOvf = d_of(0x408633CE8FB9F87Eull);       // 710.475860073944
const double kOvfF = double(f_of(0x42B2D4FD));          // 89.4159927368164
const double kLarge = d_of(0x40357CD0E7026820ull);     // 21.487562597358306: e^-a below half an ulp
const double kSeries = 0.02720470510300388;

// e^a = 2^k * (hi + lo) with 64 steps: n = round(a*64/ln2), a = n*ln2/64 + r.
struct expd { double hi, lo; int k; };
double poly(double r) {
  return r + (r * r) * (0.5 + r * (d_of(0x3FC55555555548F8ull) +
                                   r * (d_of(0x3FA5555555558FCCull) +
                                        r * (d_of(0x3F8111123AAF20D3ull) + r * d_of(0x3F56C16A1C2A3FFDull)))));
}
struct red { double r; int j, k; };
red reduce(double a) {
  double S = a * d_of(0x40571547652B82FEull) + d_of(0x4338000000000000ull);
  double nd = S - d_of(0x4338000000000000ull);
  int n = int32_t(uint32_t(bits_of(S)));
  double r = (a - nd * d_of(0x3F862E42FEFA0000ull)) - nd * d_of(0x3D1CF79ABC9E3B3Aull);
  return {r, n & 63, n >> 6};
}

// e^a / 2 for a below the overflow bound.
double half_exp(double a) {
  red d = reduce(a);
  double e = poly(d.r);
  double v = (e * HXd[2 * d.j] + HXd[2 * d.j + 1]) + HXd[2 * d.j];
  if (d.k + 1022 > 2046) return (v * pow2i(d.k - 2)) * 2.0;
  return v * pow2i(d.k - 1);
}

// e^a and e^-a as double-double values (a below kLarge).
void exp_pair(double a, expd& p, expd& m) {
  red d = reduce(a);
  double ep = poly(d.r), em = poly(-d.r);
  int jm = 64 - d.j;
  p = {HXd[2 * d.j], HXd[2 * d.j] * ep + HXd[2 * d.j + 1], d.k};
  m = {HXd[2 * jm], HXd[2 * jm] * em + HXd[2 * jm + 1], -d.k - 1};
}

// (e^a +- e^-a)/2 for 0.027 <= a < 21.49: the heads subtract (or add) with their
// rounding error kept, then the tails join.
double half_sum(double a, bool minus) {
  expd p, m;
  exp_pair(a, p, m);
  double sp = pow2i(p.k), sm = pow2i(m.k);
  double ph = p.hi * sp, pl = p.lo * sp, mh = m.hi * sm, ml = m.lo * sm;
  if (minus) mh = -mh, ml = -ml;
  double s = ph + mh;
  double err = (ph - s) + mh;  // exact: |ph| > |mh|
  return 0.5 * (s + (err + (pl + ml)));
}

double sinh_scalar(double x, double ovf) {
  uint64_t b = bits_of(x);
  double a = d_of(b & 0x7FFFFFFFFFFFFFFFull);
  if (((b >> 52) & 0x7FF) == 0x7FF) return x + x;
  if (a >= ovf) return opaque(kHuge) * x;
  double v;
  if (a >= kLarge) v = half_exp(a);
  else if (a < 0x1p-53) return x;
  else if (a < kSeries) {
    double z = a * a;
    v = a + a * (z * (1.0 / 6 + z * (1.0 / 120 + z * (1.0 / 5040 + z * (1.0 / 362880)))));
  } else {
    v = half_sum(a, true);
  }
  return d_of(bits_of(v) | (b & 0x8000000000000000ull));
}

double cosh_scalar(double x, double ovf) {
  uint64_t b = bits_of(x);
  double a = d_of(b & 0x7FFFFFFFFFFFFFFFull);
  if (((b >> 52) & 0x7FF) == 0x7FF) return x * x;
  if (a >= ovf) return opaque(kHuge) * kHuge;
  if (a >= kLarge) return half_exp(a);
  if (a < 0x1p-53) return 1.0 + a;
  return half_sum(a, false);
}

}  // namespace

QARN_FALLBACK void sinh_lane_fallback(const double* x, double* r) { *r = sinh_scalar(*x, kOvf); }
QARN_FALLBACK void cosh_lane_fallback(const double* x, double* r) { *r = cosh_scalar(*x, kOvf); }
QARN_FALLBACK void sinhf_lane_fallback(const float* x, float* r) {
  if (*x != *x) { *r = *x + *x; return; }
  *r = float(sinh_scalar(double(*x), kOvfF));
}
QARN_FALLBACK void coshf_lane_fallback(const float* x, float* r) {
  if (*x != *x) { *r = *x * *x; return; }
  *r = float(cosh_scalar(double(*x), kOvfF));
}

// tanh of huge lanes, infinities and NaN.
QARN_FALLBACK void tanh_lane_fallback(const double* x, double* r) {
  static const double kOne[2] = {1.0, -1.0};
  double v = *x;
  if (v != v) { *r = v + v; return; }
  *r = kOne[bits_of(v) >> 63];
}
