// Lane fallbacks of the trigonometric families (trig/trig_fallback.cpp) and the
// scalar routines behind them.
#pragma once
#ifndef QARN_MS
#define QARN_MS __attribute__((ms_abi))
#define QARN_HIDDEN __attribute__((visibility("hidden")))
#endif

extern "C" {
QARN_HIDDEN QARN_MS void sin_lane_fallback(const double* x, double* r);
QARN_HIDDEN QARN_MS void sinf_lane_fallback(const float* x, float* r);
QARN_HIDDEN QARN_MS void cos_lane_fallback(const double* x, double* r);
QARN_HIDDEN QARN_MS void cosf_lane_fallback(const float* x, float* r);
QARN_HIDDEN QARN_MS void tan_lane_fallback(const double* x, double* r);
QARN_HIDDEN QARN_MS void tanf_lane_fallback(const float* x, float* r);
QARN_HIDDEN QARN_MS void tanpi_lane_fallback(const double* x, double* r);
QARN_HIDDEN QARN_MS void tanpif_lane_fallback(const float* x, float* r);
QARN_HIDDEN QARN_MS void sincos_lane_fallback(const double* x, double* s, double* c);
QARN_HIDDEN QARN_MS void sincosf_lane_fallback(const float* x, float* s, float* c);
QARN_HIDDEN QARN_MS void sincosreg_lane_fallback(const double* x, double* s, double* c);
QARN_HIDDEN QARN_MS void sincosregf_lane_fallback(const float* x, float* s, float* c);
}

namespace qarn::trig {
// sin and cos of one double in the fallbacks' arithmetic.
double sin_scalar(double x);
double cos_scalar(double x);
// x = q*pi/2 + r + r_lo with |r| <= about pi/4 (finite x).
int reduce_quarter(double x, double* r, double* r_lo);
}  // namespace qarn::trig
