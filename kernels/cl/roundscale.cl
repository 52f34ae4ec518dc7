// Rounding and scaling: integer and fractional parts, and a rescale by powers of two
// through the mantissa and exponent.
#include "common.h"

__kernel void roundscale(__global const REAL* x, __global const int* shift, __global REAL* whole,
                         __global REAL* ipart, __global REAL* frac, __global REAL* scaled,
                         __global int* expo) {
  size_t i = get_global_id(0);
  VT v = LOAD(x, i);
  IVT k = ((__global const IVT*)shift)[i];
  VT ip;
  STORE(frac, i, fract(v, &ip));
  STORE(ipart, i, ip);
  STORE(whole, i, floor(v));
  IVT e;
  VT m = frexp(v, &e);
  STORE(scaled, i, ldexp(m, e + k));
  ((__global IVT*)expo)[i] = e;
}
