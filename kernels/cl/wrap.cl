// Periodic wrap-around: an angle reduced into one period three ways (fmod, remainder,
// remquo with the low bits of the quotient), and a fused multiply-add step.
#include "common.h"

__kernel void wrap(__global const REAL* x, __global const REAL* period, __global const REAL* addend,
                   __global REAL* mod_out, __global REAL* rem_out, __global REAL* rq_out,
                   __global int* quo_out, __global REAL* fma_out) {
  size_t i = get_global_id(0);
  VT v = LOAD(x, i), p = LOAD(period, i), c = LOAD(addend, i);
  STORE(mod_out, i, fmod(v, p));
  STORE(rem_out, i, remainder(v, p));
  IVT q;
  STORE(rq_out, i, remquo(v, p, &q));
  ((__global IVT*)quo_out)[i] = q;
  STORE(fma_out, i, fma(v, p, c));
}
