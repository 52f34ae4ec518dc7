// Softmax of a row and its log-sum-exp: one row of ROW elements per work-item.
#include "common.h"
#define ROW 64

__kernel void softmax(__global const REAL* x, __global REAL* y, __global REAL* lse) {
  size_t row = get_global_id(0);
  __global const VT* xr = (__global const VT*)(x + row * ROW);
  __global VT* yr = (__global VT*)(y + row * ROW);
  VT m = xr[0];
  for (int j = 1; j < ROW / W; j++) m = fmax(m, xr[j]);
  REAL top = hmax(m);
  VT s = (VT)R(0);
  for (int j = 0; j < ROW / W; j++) {
    VT e = exp(xr[j] - top);
    yr[j] = e;
    s += e;
  }
  REAL total = hsum(s);
  REAL inv = R(1) / total;
  for (int j = 0; j < ROW / W; j++) yr[j] *= inv;
  lse[row] = top + log(total);
}
