// Quantisation to integers with saturation in three rounding modes, and back.
#include "common.h"
#define SCALE 1048576.0      // 2^20: the products are exact, the range overflows int

#if IS_DOUBLE
#define RVT(n) CAT(convert_double, n)
#else
#define RVT(n) CAT(convert_float, n)
#endif

__kernel void quantize(__global const REAL* x, __global int* q_near, __global uint* q_down,
                       __global long* q_up, __global REAL* back) {
  size_t i = get_global_id(0);
  VT v = LOAD(x, i) * R(SCALE);
  CAT(int, WS) qn = CAT(CAT(convert_int, WS), _sat_rte)(v);
  ((__global CAT(int, WS)*)q_near)[i] = qn;
  ((__global CAT(uint, WS)*)q_down)[i] = CAT(CAT(convert_uint, WS), _sat_rtn)(v);
  ((__global CAT(long, WS)*)q_up)[i] = CAT(CAT(convert_long, WS), _sat_rtp)(v);
  STORE(back, i, RVT(WS)(qn) * R(1.0 / SCALE));
}
