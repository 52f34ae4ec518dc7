// MPFR references for accuracy measurements, in ULPs of the target precision.
#pragma once

namespace qarn::oracle {

// True when `family` has a one-argument MPFR reference.
bool has_unary(const char* family);

// Error of `got` against the exact f(x), in units in the last place of the exact
// value in float ('f') or double ('d') (subnormal ulps below the normal range).
// 0 when both are the same NaN class or the same infinity; +inf for a NaN or an
// infinity where the other is finite, or a wrong infinity.
double ulp_error(const char* family, char prec, double x, double got);

// The exact f(x) rounded to nearest in the target precision (for reports).
double reference(const char* family, char prec, double x);

}  // namespace qarn::oracle
