// sRGB to CIE L*a*b* (D65 white): gamma expansion by pow, the Lab curve by cbrt.
#include "common.h"

static inline VT linear(VT c) {
  return c <= R(0.04045) ? c / R(12.92) : pow((c + R(0.055)) / R(1.055), (VT)R(2.4));
}

static inline VT lab_f(VT t) {
  // (6/29)^3 and 1 / (3 (6/29)^2), 4/29
  return t > R(0.008856451679035631) ? cbrt(t) : t * R(7.787037037037037) + R(0.13793103448275862);
}

__kernel void colour(__global const REAL* red, __global const REAL* green, __global const REAL* blue,
                     __global REAL* l_out, __global REAL* a_out, __global REAL* b_out) {
  size_t i = get_global_id(0);
  // Negative inputs (from an earlier filter's overshoot) clip to black.
  VT r = linear(fmax(LOAD(red, i), R(0))), g = linear(fmax(LOAD(green, i), R(0)));
  VT b = linear(fmax(LOAD(blue, i), R(0)));
  VT x = (R(0.4124564) * r + R(0.3575761) * g + R(0.1804375) * b) / R(0.95047);
  VT y = R(0.2126729) * r + R(0.7151522) * g + R(0.0721750) * b;
  VT z = (R(0.0193339) * r + R(0.1191920) * g + R(0.9503041) * b) / R(1.08883);
  VT fx = lab_f(x), fy = lab_f(y), fz = lab_f(z);
  STORE(l_out, i, R(116) * fy - R(16));
  STORE(a_out, i, R(500) * (fx - fy));
  STORE(b_out, i, R(200) * (fy - fz));
}
