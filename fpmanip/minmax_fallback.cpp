// Lane fallbacks of fmax, fmin, maxmag, minmag and fdim.  Lanes come here when x
// or y is infinite or NaN; with no NaN the main path's value is already right
// and stays in the result slot.
#include "fpmanip/fpbits.h"

using namespace qarn::fpm;

namespace {
// fmax, fmin, maxmag, minmag: a NaN loses to a number; two NaNs give y's.
template <class T> void pick_number(const T* xp, const T* yp, T* r) {
  T x = *xp, y = *yp;
  if (is_nan(x)) *r = times1(y);
  else if (is_nan(y)) *r = times1(x);
}
// fdim: any NaN argument gives a NaN, y's first.
template <class T> void any_nan(const T* xp, const T* yp, T* r) {
  T x = *xp, y = *yp;
  if (is_nan(y)) *r = times1(y);
  else if (is_nan(x)) *r = times1(x);
}
}  // namespace

#define QARN_FB(name, how)                                                                              \
  QARN_FALLBACK void name##f_lane_fallback(const float* x, const float* y, float* r) { how(x, y, r); } \
  QARN_FALLBACK void name##_lane_fallback(const double* x, const double* y, double* r) { how(x, y, r); }
QARN_FB(fmax, pick_number)
QARN_FB(fmin, pick_number)
QARN_FB(maxmag, pick_number)
QARN_FB(minmag, pick_number)
QARN_FB(fdim, any_nan)
#undef QARN_FB
