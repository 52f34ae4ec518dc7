// One N-body step: the softened gravitational acceleration and potential of body i
// from all NB bodies (unit masses), W bodies at a time.
#include "common.h"
#define NB 256
#define SOFT 0.0625

__kernel void nbody(__global const REAL* px, __global const REAL* py, __global const REAL* pz,
                    __global REAL* ax, __global REAL* ay, __global REAL* az,
                    __global REAL* phi) {
  size_t i = get_global_id(0);
  REAL xi = px[i], yi = py[i], zi = pz[i];
  VT sx = (VT)R(0), sy = sx, sz = sx, sp = sx;
  for (int j = 0; j < NB / W; j++) {
    VT dx = LOAD(px, j) - xi, dy = LOAD(py, j) - yi, dz = LOAD(pz, j) - zi;
    VT inv = rsqrt(dx * dx + dy * dy + dz * dz + R(SOFT));
    VT inv3 = inv * inv * inv;
    sx += dx * inv3;
    sy += dy * inv3;
    sz += dz * inv3;
    sp -= inv;
  }
  ax[i] = hsum(sx);
  ay[i] = hsum(sy);
  az[i] = hsum(sz);
  phi[i] = hsum(sp);
}
