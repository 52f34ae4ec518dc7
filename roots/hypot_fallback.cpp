// Lane fallbacks of hypot (float and double).
//
// An infinite argument gives +inf, also beside a NaN; otherwise a NaN gives NaN and
// two zeros +0.  Double: the magnitudes are ordered, both scaled by 2^-600 when the
// larger is above 2^500 or by 2^600 when it is below 2^-500, so that neither square
// overflows and the larger does not underflow; both squares are carried exactly in
// two parts (Dekker), the square root of their sum is corrected by the residual
// (s - r^2)/(2r), and the result is scaled back.  Float: squares and sum in double
// (the squares are exact), one square root, one rounding to float.
#include <cmath>

#include "frame/scalar.h"

using namespace qarn::sc;

namespace {

void two_prod(double a, double b, double& p, double& e) {
  p = a * b;
  double ca = a * 134217729.0, cb = b * 134217729.0;
  double ah = ca - (ca - a), al = a - ah, bh = cb - (cb - b), bl = b - bh;
  e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

double hypot_d(double x, double y) {
  double ax = std::fabs(x), ay = std::fabs(y);
  if (ax == __builtin_inf() || ay == __builtin_inf()) return __builtin_inf();
  if (x != x || y != y) return add_first(x, y);
  if (ax < ay) std::swap(ax, ay);
  if (ay == 0) return ax;
  if (ay < ax * 0x1p-60) return ax;  // the smaller square is below half an ulp of the larger
  double k = 1.0;
  if (ax > 0x1p500) ax *= 0x1p-600, ay *= 0x1p-600, k = 0x1p600;
  else if (ax < 0x1p-500) ax *= 0x1p600, ay *= 0x1p600, k = 0x1p-600;
  double a2, a2e, b2, b2e;
  two_prod(ax, ax, a2, a2e);
  two_prod(ay, ay, b2, b2e);
  double s = a2 + b2, se = ((a2 - s) + b2) + (a2e + b2e);
  double r = __builtin_sqrt(s), rr, rre;
  two_prod(r, r, rr, rre);
  double d = ((s - rr) - rre) + se;
  return (r + d / (2.0 * r)) * k;
}

}  // namespace

QARN_FALLBACK void hypot_lane_fallback(const double* x, const double* y, double* r) { *r = hypot_d(*x, *y); }

QARN_FALLBACK void hypotf_lane_fallback(const float* xp, const float* yp, float* r) {
  double x = *xp, y = *yp;
  if (std::fabs(x) == __builtin_inf() || std::fabs(y) == __builtin_inf()) *r = __builtin_inff();
  else if (x != x || y != y) *r = float(add_first(x, y));
  else *r = float(__builtin_sqrt(x * x + y * y));
}
