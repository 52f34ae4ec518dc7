// European call and put prices (Black-Scholes), rate and volatility fixed.
#include "common.h"
#define RATE 0.03125
#define VOL 0.25
#define RSQRT2 0.70710678118654752440

__kernel void blackscholes(__global const REAL* spot, __global const REAL* strike, __global const REAL* years,
                           __global REAL* call, __global REAL* put) {
  size_t i = get_global_id(0);
  VT s = LOAD(spot, i), k = LOAD(strike, i), t = LOAD(years, i);
  VT sqt = sqrt(t);
  VT d1 = (log(s / k) + R(RATE + 0.5 * VOL * VOL) * t) / (R(VOL) * sqt);
  VT d2 = d1 - R(VOL) * sqt;
  // N(x) = erfc(-x / sqrt 2) / 2
  VT n1 = R(0.5) * erfc(-d1 * R(RSQRT2)), n2 = R(0.5) * erfc(-d2 * R(RSQRT2));
  VT m1 = R(0.5) * erfc(d1 * R(RSQRT2)), m2 = R(0.5) * erfc(d2 * R(RSQRT2));
  VT disc = k * exp(R(-RATE) * t);
  STORE(call, i, s * n1 - disc * n2);
  STORE(put, i, disc * m2 - s * m1);
}
