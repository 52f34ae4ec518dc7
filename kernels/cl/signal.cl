// A mixer stage: rotate the complex samples by their phase angle (sincos), take the
// phase of the result (atan2), and a windowed tone sin(t) cos(t/2).
#include "common.h"

__kernel void signal(__global const REAL* angle, __global const REAL* re, __global const REAL* im,
                     __global REAL* out_re, __global REAL* out_im,
                     __global REAL* phase, __global REAL* tone) {
  size_t i = get_global_id(0);
  VT t = LOAD(angle, i), a = LOAD(re, i), b = LOAD(im, i);
  VT c;
  VT s = sincos(t, &c);
  VT p = a * c - b * s, q = a * s + b * c;
  STORE(out_re, i, p);
  STORE(out_im, i, q);
  STORE(phase, i, atan2(q, p));
  STORE(tone, i, sin(t) * cos(t * R(0.5)));
}
