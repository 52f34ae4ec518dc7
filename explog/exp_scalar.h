// The scalar exponential behind the exp lane fallbacks (explog/exp_fallback.cpp),
// shared with the expm1 lane fallbacks, which finish their lanes as e^x.
// Plain functions of the fallback objects (SSE code, ordinary calling convention).
#pragma once

namespace qarn::explog {
// e^x for any double: NaN, infinities, overflow, underflow, subnormal results.
double exp_scalar(double x);
// e^x for a float operand, computed in double with float's overflow and underflow
// bounds; rounding the result once to float gives the float exponential.
double expf_scalar(float x);
}  // namespace qarn::explog
