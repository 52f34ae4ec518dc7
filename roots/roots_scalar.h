// Scalar square root and reciprocal square root in double, shared by the lane
// fallbacks of this directory.  Arguments: positive finite doubles (subnormals
// included).
#pragma once

namespace qarn::roots {
// sqrt(x) to within a hair of correct rounding.
double sqrt_pos(double x);
// 1/sqrt(x) within about 0.51 ulp.
double rsqrt_pos(double x);
}  // namespace qarn::roots
