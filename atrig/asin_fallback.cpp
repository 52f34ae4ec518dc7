// Lane fallbacks of asin, acos, asinpi and acospi (float and double).  They see
// only the lanes the main paths leave: out-of-domain operands, NaN (acos,
// acospi), |x| = 1 (the pi-scaled forms) and the tiny operands of double asinpi.
// Any other lane is left as the main path computed it.
#include <cmath>

#include "frame/scalar.h"

using namespace qarn::sc;

namespace {

// NaN for an operand outside [-1, 1]: x/x for the infinities, (x - x)/(x - x) for
// the finite ones (both raise invalid, as the operation would).
template <class T> T domain_nan(T x) {
  if (std::isinf(x)) return opaque(x) / x;
  T d = opaque(x) - x;
  return d / d;
}

// asin(x)/pi for |x| <= 2^-53, where asin(x) = x to far below an ulp: x/pi from a
// double-double product, rounded once, also when the result is subnormal.
double asinpi_tiny(double x) {
  double a = std::fabs(x);
  double A = a * 0x1p82;                                 // exact, normal
  double c = A * 134217729.0;                            // split by 2^27 + 1
  double Ah = c - (c - A), Al = A - Ah;
  const double Ph = d_of(0x3FD45F3070000000ull);         // 1/pi, head (25 bits)
  const double Pl = -2.0598845603958264e-09;             // 1/pi - Ph
  double p1 = Ah * Ph, p2 = Al * Ph;                     // both exact
  double hi = p1 + p2;
  double lo = (p1 - hi) + p2;                            // exact: |p1| >= |p2|
  lo += A * Pl;
  double s = hi + lo;
  lo = lo - (s - hi);
  hi = s;                                                // hi + lo, normalised
  double r;
  if (hi >= 0x1p-940) {
    r = hi * 0x1p-82;                                    // normal result: exact scaling
  } else {
    // Subnormal result: round hi to the grid 2^-1074 (2^-992 before scaling),
    // then let lo decide the halfway cases hi alone cannot see.
    r = hi * 0x1p-82;                                    // rounds once, to nearest even
    double rest = hi - r * 0x1p82;                       // exact, |rest| <= half a grid step
    const double half_step = 0x1p-993;
    if ((rest == half_step && lo > 0) || rest + lo > half_step) r += 0x1p-1074;
    else if ((rest == -half_step && lo < 0) || rest + lo < -half_step) r -= 0x1p-1074;
  }
  return std::copysign(r, x);
}

}  // namespace

QARN_FALLBACK void asin_lane_fallback(const double* x, double* r) {
  if (std::fabs(*x) > 1) *r = domain_nan(*x);
}
QARN_FALLBACK void asinf_lane_fallback(const float* x, float* r) {
  if (std::fabs(*x) > 1) *r = domain_nan(*x);
}

QARN_FALLBACK void acos_lane_fallback(const double* x, double* r) {
  if (std::isnan(*x)) *r = opaque(*x) / *x;
  else if (std::fabs(*x) > 1) *r = domain_nan(*x);
}
QARN_FALLBACK void acosf_lane_fallback(const float* x, float* r) {
  if (std::isnan(*x)) *r = opaque(*x) / *x;
  else if (std::fabs(*x) > 1) *r = domain_nan(*x);
}

QARN_FALLBACK void asinpi_lane_fallback(const double* x, double* r) {
  double v = *x, a = std::fabs(v);
  if (std::isnan(v)) *r = v + v;
  else if (a == 1) *r = std::copysign(0.5, v);
  else if (a > 1) *r = domain_nan(v);
  else if (a <= 0x1p-53) *r = asinpi_tiny(v);
}
QARN_FALLBACK void asinpif_lane_fallback(const float* x, float* r) {
  float v = *x, a = std::fabs(v);
  if (std::isnan(v)) *r = v + v;
  else if (a == 1) *r = std::copysign(0.5f, v);
  else if (a > 1) *r = domain_nan(v);
}

QARN_FALLBACK void acospi_lane_fallback(const double* x, double* r) {
  double v = *x;
  if (std::isnan(v)) *r = v + v;
  else if (v == 1) *r = 0.0;
  else if (v == -1) *r = 1.0;
  else if (std::fabs(v) > 1) *r = domain_nan(v);
}
QARN_FALLBACK void acospif_lane_fallback(const float* x, float* r) {
  float v = *x;
  if (std::isnan(v)) *r = v + v;
  else if (v == 1) *r = 0.0f;
  else if (v == -1) *r = 1.0f;
  else if (std::fabs(v) > 1) *r = domain_nan(v);
}
