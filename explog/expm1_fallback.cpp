// Lane fallbacks of expm1.  The main paths send only NaN and operands beyond
// +-1021*ln2 (double) or +-125*ln2 (float).  Below that, e^x - 1 rounds to -1; above
// it, the 1 is far below half an ulp of e^x, so the lane is finished as e^x by the
// exp fallbacks' scalar routine (with its overflow to +infinity); the float one runs
// in double with float's bounds and rounds once to float.
#include "explog/exp_scalar.h"
#include "frame/scalar.h"

namespace {
template <class T> T expm1_lane(T x, double (*exp_of)(T)) {
  if (x < T(0)) return T(-1);  // -infinity included
  if (x != x) return x * x;    // quiet NaN
  return T(exp_of(x));          // +infinity gives +infinity
}
}  // namespace

QARN_FALLBACK void expm1_lane_fallback(const double* x, double* r) {
  *r = expm1_lane<double>(*x, qarn::explog::exp_scalar);
}
QARN_FALLBACK void expm1f_lane_fallback(const float* x, float* r) {
  *r = expm1_lane<float>(*x, qarn::explog::expf_scalar);
}
