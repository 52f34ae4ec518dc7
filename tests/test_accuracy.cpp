// Accuracy of every present one-argument export against MPFR, in ulps, with the
// bound the registry states for its family, precision and variant.  Operands: the
// family's ordinary interval, small magnitudes down to 2^-60, the bands beyond the
// interval where the fallbacks finish lanes (overflow, underflow, subnormal
// results), and random bit patterns over every exponent.  The worst case per export
// is printed, so a run doubles as the accuracy report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/invoke.h"
#include "support/oracle.h"
#include "support/rng.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

qa::Invoker& invoker() {
  static qa::Invoker inv(qa::library_path());
  return inv;
}

using Rng = qarn::test::Rng;

// Operand i of n for export e: a mix of the four populations above.
double operand(const Export& e, Rng& r, int i) {
  double lo = e.lo, hi = e.hi;
  switch (i % 8) {
    case 0: case 1: case 2: case 3:
      return lo + (hi - lo) * r.unit();
    case 4: {  // small magnitudes
      double m = std::ldexp(1.0, -int(r.next() % 60)) * (1 + r.unit());
      return r.next() & 1 ? -m : m;
    }
    case 5: case 6: {  // just beyond the interval, both sides
      double span = (hi - lo) * 0.1;
      return r.next() & 1 ? hi + span * r.unit() : lo - span * r.unit();
    }
    default: {  // any finite pattern
      if (e.prec == 'f') {
        uint32_t b;
        do b = uint32_t(r.next()); while (((b >> 23) & 0xFF) == 0xFF);
        return qa::as_float(b);
      }
      uint64_t b;
      do b = r.next(); while (((b >> 52) & 0x7FF) == 0x7FF);
      return qa::as_double(b);
    }
  }
}

// Operands whose value an export defines other than as the exact function's:
// sqrtf _native is x times the square-root estimate with no fix-up, so zeros and
// +inf give NaN and subnormals of either sign +inf (the estimate sees a zero of
// the operand's sign: x * -inf); test_roots holds those values.
bool defined_otherwise(const Export& e, double x) {
  return std::strcmp(e.family, "sqrt") == 0 && e.prec == 'f' && std::strcmp(e.variant, "_native") == 0 &&
         (x == 0 || x == INFINITY || std::fabs(x) < 0x1p-126);
}

std::vector<const Export*> unary_exports() {
  std::vector<const Export*> v;
  for (const Export& e : qarn::reg::all())
    if (e.present && std::string(e.kind) == "f:f" && qarn::oracle::has_unary(e.family)) v.push_back(&e);
  return v;
}

class Accuracy : public testing::TestWithParam<const Export*> {};

TEST_P(Accuracy, WithinBound) {
  const Export& e = *GetParam();
  qa::Shape sh = qa::shape_of(e);
  // Width 1 gets the most operands; the wide exports give the same lanes (TEST Abi).
  const int n = e.width == 1 ? 60000 : 6000;
  Rng r(0x1234567ull + uint64_t(e.width) * 77 + std::hash<std::string>{}(e.name));
  double worst = 0, worst_x = 0, worst_got = 0;
  for (int done = 0; done < n; done += sh.width) {
    qa::Lanes lanes(sh.lanes);
    std::vector<double> xs(sh.lanes);
    for (int i = 0; i < sh.lanes; ++i) {
      double x = operand(e, r, done + i);
      if (e.prec == 'f') x = float(x);
      xs[i] = x;
      lanes[i] = e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x);
    }
    qa::Outcome o = invoker().call(e, {lanes}, r.next());
    for (int i = 0; i < sh.width; ++i) {
      double got = e.prec == 'f' ? double(qa::as_float(o.results[0][i])) : qa::as_double(o.results[0][i]);
      if (defined_otherwise(e, xs[i])) continue;
      double err = qarn::oracle::ulp_error(e.family, e.prec, xs[i], got);
      if (!(err <= worst)) worst = err, worst_x = xs[i], worst_got = got;
    }
  }
  std::printf("ULP %-36s worst %.3f (bound %g) at x = %a (got %a, want %a)\n", e.name, worst, e.ulp, worst_x, worst_got,
              qarn::oracle::reference(e.family, e.prec, worst_x));
  RecordProperty("worst_ulp", std::to_string(worst));
  ASSERT_GE(e.ulp, 0) << e.name << " states no accuracy bound";
  EXPECT_LE(worst, e.ulp) << e.name << " at x = " << std::hexfloat << worst_x;
}

// Special operands: NaN in, NaN out; infinities and signed zeros exactly as the
// exact function gives them.
TEST_P(Accuracy, SpecialOperands) {
  const Export& e = *GetParam();
  qa::Shape sh = qa::shape_of(e);
  ASSERT_GE(e.ulp, 0) << e.name << " states no accuracy bound";
  const double specials[] = {NAN, -NAN, INFINITY, -INFINITY, 0.0, -0.0, 0x1p-1074, -0x1p-1074, 0x1p-149,
                             -0x1p-149, 1e-310, 1.0, -1.0, 1e300, -1e300};
  for (double x : specials) {
    if (e.prec == 'f') x = float(x);
    if (defined_otherwise(e, x)) continue;
    qa::Lanes lanes(sh.lanes, e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x));
    qa::Outcome o = invoker().call(e, {lanes}, 99);
    for (int i = 0; i < sh.width; ++i) {
      double got = e.prec == 'f' ? double(qa::as_float(o.results[0][i])) : qa::as_double(o.results[0][i]);
      double err = qarn::oracle::ulp_error(e.family, e.prec, x, got);
      EXPECT_LE(err, e.ulp) << e.name << "(" << x << ") = " << got;
    }
  }
}

std::string param_name(const testing::TestParamInfo<const Export*>& p) {
  return qarn::reg::short_name(*p.param);
}
INSTANTIATE_TEST_SUITE_P(Registry, Accuracy, testing::ValuesIn(unary_exports()), param_name);

}  // namespace
