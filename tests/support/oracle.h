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

// ---- every operand count and every result -------------------------------------
// One lane's operands: the floating ones in order (x, y, z) and the integer one.
struct Operands {
  double f[3] = {0, 0, 0};
  long n = 0;
  char prec = 'd';  // the format the export works in (fract rounds in it before its clamp)
};

// An exact result: a floating value (kPrec bits) or an integer.
class Exact {
 public:
  Exact();
  ~Exact();
  Exact(const Exact&) = delete;
  Exact& operator=(const Exact&) = delete;
  bool integer = false;
  long n = 0;
  void* value() { return v_; }  // mpfr_ptr
  const void* value() const { return v_; }

 private:
  void* v_;
};

// How many results the family's reference gives for its argument kinds ("ff",
// "fi", "f"...): 0 without one, 2 with a second result (sincos: cos; modf and
// fract: the integral part; frexp: the exponent; lgamma_r: the sign; remquo: the
// quotient), else 1.
int results_known(const char* family, const char* kind);

// The `which`-th result (0: the one returned) of the family on these operands.
void exact(const char* family, const char* kind, int which, const Operands& in, Exact& out);

// Error of `got` against an exact floating result in ulps of the target precision
// (as ulp_error), and the exact result rounded to nearest in it.
double ulp_of(const Exact& e, char prec, double got);
double rounded(const Exact& e, char prec);

// An integer result agrees: equal, except remquo's quotient, which must have the
// sign of x/y and agree with the integral quotient in its three low bits.
bool int_agrees(const char* family, const Exact& e, long got);

}  // namespace qarn::oracle
