// expm1: the values at the edges (and whether the fallback or the main path gives
// them), and the cancellation against -1 near zero.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/fallback_log.h"
#include "support/invoke.h"
#include "support/oracle.h"

namespace qa = qarn::abi;
using qarn::reg::Export;


namespace {

std::vector<const Export*> expm1_exports() {
  std::vector<const Export*> v;
  for (const Export& e : qarn::reg::all())
    if (e.present && std::string(e.family) == "expm1") v.push_back(&e);
  return v;
}
uint64_t lane_of(const Export& e, double x) { return e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x); }
double value_of(const Export& e, uint64_t b) { return e.prec == 'f' ? qa::as_float(b) : qa::as_double(b); }
std::vector<double> call(const Export& e, const std::vector<double>& xs, uint64_t seed) {
  static qa::Invoker inv(nullptr);
  qa::Lanes lanes(qa::shape_of(e).lanes, lane_of(e, 0.5));
  for (size_t i = 0; i < xs.size(); ++i) lanes[i] = lane_of(e, xs[i]);
  qa::fallback_calls().clear();
  qa::Lanes r = inv.call(e, {lanes}, seed).results[0];
  std::vector<double> out;
  for (size_t i = 0; i < xs.size(); ++i) out.push_back(value_of(e, r[i]));
  return out;
}

TEST(Expm1Lanes, EdgeValues) {
  struct Case { char prec; double x, want; bool fallback; };
  const Case cases[] = {
      {'f', 0.0, 0.0, false},   {'f', -0.0, -0.0, false},      {'f', 0x1p-149, 0x1p-149, false},
      {'f', -86.6, -1, false},  {'f', -86.7, -1, true},        {'f', -INFINITY, -1, true},
      {'f', 88.7, 1e38, true},  {'f', 88.73, INFINITY, true},  {'f', INFINITY, INFINITY, true},
      {'f', NAN, NAN, true},    {'d', 0.0, 0.0, false},        {'d', -0.0, -0.0, false},
      {'d', -0x1p-1074, -0x1p-1074, false},                    {'d', -1000.0, -1, true},
      {'d', -INFINITY, -1, true}, {'d', 709.78, 1e38, true},   {'d', 709.79, INFINITY, true},
      {'d', INFINITY, INFINITY, true},                         {'d', NAN, NAN, true},
  };
  for (const Export* e : expm1_exports()) {
    for (const Case& c : cases) {
      if (c.prec != e->prec || e->width != 1) continue;
      double got = call(*e, {c.x}, 3)[0];
      if (c.want == 1e38) EXPECT_TRUE(std::isfinite(got) && got > 1e38) << e->name << "(" << c.x << ") = " << got;
      else if (std::isnan(c.want)) EXPECT_TRUE(std::isnan(got)) << e->name;
      else EXPECT_EQ(lane_of(*e, got), lane_of(*e, c.want)) << e->name << "(" << c.x << ") = " << got;
      EXPECT_EQ(qa::fallback_calls().size(), c.fallback ? 1u : 0u) << e->name << "(" << c.x << ")";
    }
  }
}

// Where e^x - 1 cancels against -1: 1e-10 keeps full relative accuracy, and the
// default paths stay within one ulp over the first steps either side of 0.
TEST(Expm1Lanes, NoCancellationNearZero) {
  for (const Export* e : expm1_exports()) {
    if (e->width != 1 && e->width != 8) continue;
    double tiny = value_of(*e, lane_of(*e, 1e-10));
    EXPECT_LE(qarn::oracle::ulp_error("expm1", e->prec, tiny, call(*e, {tiny}, 5)[0]), 0.5) << e->name;
    std::vector<double> xs(e->width);
    for (int n = 0; n < 4000; n += e->width) {
      for (int i = 0; i < e->width; ++i)  // log-uniform over +-[2^-14, 4)
        xs[i] = value_of(*e, lane_of(*e, std::ldexp((n + i) % 2 ? -1.0 : 1.0, -14 + (n + i) / 97 % 16) *
                                             (1.0 + (n + i) % 97 / 97.0)));
      std::vector<double> got = call(*e, xs, n);
      double bound = std::string(e->variant) == "default" ? 1.0 : e->ulp;
      for (int i = 0; i < e->width; ++i)
        ASSERT_LE(qarn::oracle::ulp_error("expm1", e->prec, xs[i], got[i]), bound)
            << e->name << std::hexfloat << "(" << xs[i] << ")";
    }
  }
}

}  // namespace
