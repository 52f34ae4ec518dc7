// Lane fallbacks of ilogb, logb, frexp, ldexp, modf, fract and nextafter, float
// and double.  They receive zeros, subnormals, infinities and NaNs (ldexp also
// results outside the normal range, nextafter steps near the ends of the range).
// Subnormal inputs are first scaled into the normal range by 2^55 (float 2^25),
// which is exact.
#include <climits>

#include "fpmanip/fpbits.h"

using namespace qarn::fpm;
using qarn::sc::opaque;

namespace {

template <class T> constexpr int up = sizeof(T) == 4 ? 25 : 55;  // subnormal scaling 2^up

// Field of a subnormal, after scaling, minus `up`: the exponent it would have.
template <class T> int scaled_field(T& x) {
  x = opaque(x) * pow2<T>(up<T>);
  return field(x) - up<T>;
}

template <class T> void ilogb_fb(const T* xp, int32_t* r) {
  T x = *xp;
  int e = field(x);
  if (e == fmt<T>::maxe) *r = INT_MAX;
  else if (is_zero(x)) *r = INT_MIN;
  else *r = (e == 0 ? scaled_field(x) : e) - fmt<T>::bias;
}

template <class T> void logb_fb(const T* xp, T* r) {
  T x = times1(*xp);
  int e = field(x);
  if (e == fmt<T>::maxe) *r = value<T>(pattern(x) & ~fmt<T>::sign);
  else if (is_zero(x)) *r = opaque(T(-1)) / opaque(T(0));
  else *r = T((e == 0 ? scaled_field(x) : e) - fmt<T>::bias);
}

template <class T> void frexp_fb(const T* xp, T* m, int32_t* ep) {
  T x = times1(*xp);
  int e = field(x);
  if (e == fmt<T>::maxe || is_zero(x)) {
    *m = x;
    *ep = 0;
    return;
  }
  if (e == 0) e = scaled_field(x);
  *ep = e - (fmt<T>::bias - 1);
  *m = value<T>((pattern(x) & fmt<T>::keep) | fmt<T>::half);
}

template <class T> void ldexp_fb(const T* xp, const int32_t* kp, T* r) {
  using B = typename fmt<T>::bits_t;
  T x = times1(*xp);
  int e = field(x);
  if (e == fmt<T>::maxe || is_zero(x)) {
    *r = x;
    return;
  }
  if (e == 0) e = scaled_field(x);
  int k = *kp < -65536 ? -65536 : (*kp > 65536 ? 65536 : *kp);
  int n = e + k;
  B sign = pattern(x) & fmt<T>::sign, keep = pattern(x) & fmt<T>::keep;
  // Overflow and underflow by one product in the caller's rounding mode.
  constexpr int big = sizeof(T) == 4 ? 100 : 1000;
  auto tiny = [&] { return opaque(value<T>(sign | pattern(pow2<T>(-big)))) * pow2<T>(-big); };
  if (n > 0 && n < fmt<T>::maxe) {
    *r = value<T>(keep | B(n) << fmt<T>::shift);
  } else if (n >= fmt<T>::maxe) {
    *r = opaque(value<T>(sign | pattern(pow2<T>(big)))) * pow2<T>(big);
  } else if (n < -fmt<T>::mant) {
    *r = tiny();
  } else {
    // A subnormal result: build it 2^up too large and scale down, rounding once.
    T t = opaque(value<T>(keep | B(n + up<T>) << fmt<T>::shift)) * pow2<T>(-up<T>);
    *r = is_zero(t) ? tiny() : t;
  }
}

template <class T> void modf_fb(const T* xp, T* frac, T* ip) {
  T x = *xp;
  if (is_nan(x)) {
    *frac = *ip = add_first(x, x);
  } else if (field(x) == fmt<T>::maxe) {
    *ip = x;
    *frac = value<T>(pattern(x) & fmt<T>::sign);
  }
}

template <class T> void fract_fb(const T* xp, T* frac, T* fl) {
  T x = *xp;
  if (is_nan(x) || is_zero(x)) {
    *frac = *fl = x;
  } else if (field(x) == fmt<T>::maxe) {
    *fl = x;
    *frac = value<T>(pattern(x) & fmt<T>::sign);
  }
}

template <class T> void nextafter_fb(const T* xp, const T* yp, T* r) {
  using B = typename fmt<T>::bits_t;
  T x = *xp, y = *yp;
  if (is_nan(x) || is_nan(y)) {
    *r = add_first(x, y);
    return;
  }
  if (x == y) {
    *r = y;
    return;
  }
  B bx = pattern(x), by = pattern(y);
  if (is_zero(x)) {
    *r = value<T>((by & fmt<T>::sign) | 1);
    return;
  }
  bool down = ((bx ^ by) & fmt<T>::sign) || (bx & ~fmt<T>::sign) > (by & ~fmt<T>::sign);
  *r = value<T>(down ? bx - 1 : bx + 1);
}

}  // namespace

#define QARN_FB1(name, R)                                                                 \
  QARN_FALLBACK void name##f_lane_fallback(const float* x, R<float>* r) { name##_fb(x, r); } \
  QARN_FALLBACK void name##_lane_fallback(const double* x, R<double>* r) { name##_fb(x, r); }
template <class T> using same = T;
template <class T> using int32 = int32_t;
QARN_FB1(ilogb, int32)
QARN_FB1(logb, same)
#undef QARN_FB1

QARN_FALLBACK void frexpf_lane_fallback(const float* x, float* m, int32_t* e) { frexp_fb(x, m, e); }
QARN_FALLBACK void frexp_lane_fallback(const double* x, double* m, int32_t* e) { frexp_fb(x, m, e); }
QARN_FALLBACK void ldexpf_lane_fallback(const float* x, const int32_t* k, float* r) { ldexp_fb(x, k, r); }
QARN_FALLBACK void ldexp_lane_fallback(const double* x, const int32_t* k, double* r) { ldexp_fb(x, k, r); }
QARN_FALLBACK void modff_lane_fallback(const float* x, float* f, float* i) { modf_fb(x, f, i); }
QARN_FALLBACK void modf_lane_fallback(const double* x, double* f, double* i) { modf_fb(x, f, i); }
QARN_FALLBACK void fractf_lane_fallback(const float* x, float* f, float* fl) { fract_fb(x, f, fl); }
QARN_FALLBACK void fract_lane_fallback(const double* x, double* f, double* fl) { fract_fb(x, f, fl); }
QARN_FALLBACK void nextafterf_lane_fallback(const float* x, const float* y, float* r) { nextafter_fb(x, y, r); }
QARN_FALLBACK void nextafter_lane_fallback(const double* x, const double* y, double* r) { nextafter_fb(x, y, r); }
