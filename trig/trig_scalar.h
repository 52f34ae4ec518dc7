// The scalar routines behind the trigonometric lane fallbacks (trig/trig_fallback.cpp).
#pragma once
#ifndef QARN_MS
#define QARN_MS __attribute__((ms_abi))
#define QARN_HIDDEN __attribute__((visibility("hidden")))
#endif

namespace qarn::trig {
// sin and cos of one double in the fallbacks' arithmetic.
double sin_scalar(double x);
double cos_scalar(double x);
// x = q*pi/2 + r + r_lo with |r| <= about pi/4 (finite x).
int reduce_quarter(double x, double* r, double* r_lo);
}  // namespace qarn::trig

// Every marked lane of one call (bit i of the mask: lane i of the arrays), for the
// double variants that send their large arguments to the lane fallback: each lane
// gets the lane fallback's bits (trig/trig_fallback.cpp).
extern "C" __attribute__((ms_abi, visibility("hidden"))) void sin_lanes_fallback(unsigned, const double*, double*);
extern "C" __attribute__((ms_abi, visibility("hidden"))) void cos_lanes_fallback(unsigned, const double*, double*);
extern "C" __attribute__((ms_abi, visibility("hidden"))) void sincos_lanes_fallback(unsigned, const double*, double*, double*);
