// Width-1 floors of asin and acos, with the kernels' flags as in
// bench_overhead_kernel.cpp (a file of their own: their header and the
// hyperbolic one each define a reciprocal-square-root helper of the same name).
#include "bench/width1_loops.h"
// The library's constant rows, then the fallbacks the family's header names.
#include "constants.h"
#include "fallbacks.h"
#include "atrig/asin.h"

namespace qbench::kernel_flags {

using qarn::var;
const Width1Loops width1_atrig[] = {
    {"asin1", 1, Loops1<qarn::asin_k<double, var::def>, 1, &asin_lane_fallback>::set},
    {"acos1", 1, Loops1<qarn::acos_k<double, var::def>, 1, &acos_lane_fallback>::set},
    {"asinf1", 1, Loops1<qarn::asin_k<float, var::def>, 1, &asinf_lane_fallback>::set},
    {"acosf1", 1, Loops1<qarn::acos_k<float, var::def>, 1, &acosf_lane_fallback>::set},
    {nullptr, 0, {}},
};

}  // namespace qbench::kernel_flags
