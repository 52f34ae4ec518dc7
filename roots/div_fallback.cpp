// Lane fallbacks of inv and div: one scalar IEEE division each.
#include "frame/scalar.h"

using qarn::sc::opaque;

QARN_FALLBACK void invf_lane_fallback(const float* x, float* r) { *r = opaque(1.0f) / *x; }
QARN_FALLBACK void divf_lane_fallback(const float* x, const float* y, float* r) { *r = opaque(*x) / *y; }
QARN_FALLBACK void div_lane_fallback(const double* x, const double* y, double* r) { *r = opaque(*x) / *y; }
