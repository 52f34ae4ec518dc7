// Lane fallbacks of asinh, acosh and atanh: they receive only the lanes whose value
// is settled without arithmetic on the main path's argument (NaN, infinities,
// acosh at or below 1, atanh at or beyond +-1) and return the IEEE value.
#include "frame/scalar.h"

using qarn::sc::opaque;

namespace {

template <class T> T asinh_special(T x) {
  if (x != x) return x * x;
  return x;  // +-inf
}

template <class T> T acosh_special(T x) {
  if (x != x) return x * x;
  if (x == T(1)) return T(0);
  if (x > T(1)) return x;  // +inf
  return opaque(T(__builtin_inf())) * T(0);  // x < 1, -inf: NaN
}

template <class T> T atanh_special(T x) {
  if (x != x) return x * x;
  if (x == T(1) || x == T(-1)) return x / opaque(T(0));  // +-inf
  return opaque(T(0)) / T(0);  // |x| > 1, +-inf: NaN
}

}  // namespace

QARN_FALLBACK void asinh_lane_fallback(const double* x, double* r) { *r = asinh_special(*x); }
QARN_FALLBACK void asinhf_lane_fallback(const float* x, float* r) { *r = asinh_special(*x); }
QARN_FALLBACK void acosh_lane_fallback(const double* x, double* r) { *r = acosh_special(*x); }
QARN_FALLBACK void acoshf_lane_fallback(const float* x, float* r) { *r = acosh_special(*x); }
QARN_FALLBACK void atanh_lane_fallback(const double* x, double* r) { *r = atanh_special(*x); }
QARN_FALLBACK void atanhf_lane_fallback(const float* x, float* r) { *r = atanh_special(*x); }
