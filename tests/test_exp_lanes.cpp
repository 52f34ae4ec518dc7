// Which lanes of exp, exp2 and exp10 reach their lane fallbacks.  The fallbacks
// are wrapped at link time (--wrap) to record every call; the exports come from
// the static library, so this is the same code the shared library holds.
//
// For every width and variant, lanes drawn from the values around each threshold
// (one ulp either side), NaNs, infinities and ordinary operands must go to the
// fallback exactly when they are special and not fixed inline, once each, in
// increasing lane order, with spill arrays on 64-byte boundaries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/fallback_log.h"
#include "support/invoke.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

QARN_RECORD_FALLBACK(expf_lane_fallback, float)
QARN_RECORD_FALLBACK(exp_lane_fallback, double)
QARN_RECORD_FALLBACK(exp2f_lane_fallback, float)
QARN_RECORD_FALLBACK(exp2_lane_fallback, double)
QARN_RECORD_FALLBACK(exp10f_lane_fallback, float)
QARN_RECORD_FALLBACK(exp10_lane_fallback, double)

namespace {

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

// The routing contract of each family: special, and fixed inline.
struct Rule {
  const char* family;
  char prec;
  double bound;       // |x| beyond this (or NaN) is special
  bool bound_ge;      // special when |x| >= bound (double forms compare the high word)
  double over, under; // inline +inf above over, +0 below under (NaN: no fix-up)
  std::vector<double> probes;
};

double up(double v, char p) { return p == 'f' ? std::nextafter(float(v), INFINITY) : std::nextafter(v, INFINITY); }
double down(double v, char p) { return p == 'f' ? std::nextafter(float(v), -INFINITY) : std::nextafter(v, -INFINITY); }

std::vector<Rule> rules() {
  auto f = [](uint32_t b) { return double(qa::as_float(b)); };
  auto d = [](uint64_t b) { return qa::as_double(b); };
  std::vector<Rule> r = {
      {"exp", 'f', f(0x42AEAC4F), false, f(0x42B17217), f(0xC2CFF1B4), {-100.0, -104.0, 88.0}},
      {"exp", 'd', d(0x4086232B00000000), true, d(0x40862E42FEFA39EF), d(0xC0874910D52D3051),
       {-740.0, -746.0, 709.79, 1e-300}},
      {"exp2", 'f', 126.0, false, NAN, NAN, {127.5, 128.0, -149.0, -150.0}},
      {"exp2", 'd', 1022.0, true, NAN, NAN, {-1074.0, 1024.0, 1023.999}},
      {"exp10", 'f', f(0x4217B818), false, NAN, NAN, {38.6, -45.2, -38.0}},
      {"exp10", 'd', d(0x40733A7100000000), true, NAN, NAN, {308.26, -323.7, -310.0}},
  };
  for (Rule& x : r) {
    for (double t : {x.bound, -x.bound, x.over, x.under}) {
      if (std::isnan(t)) continue;
      x.probes.insert(x.probes.end(), {t, up(t, x.prec), down(t, x.prec)});
    }
    x.probes.insert(x.probes.end(), {NAN, -NAN, INFINITY, -INFINITY, 0.0, -0.0, 1.0, -2.5, 1e-30});
  }
  return r;
}

bool to_fallback(const Rule& r, double x) {
  double a = std::fabs(x);
  bool special = std::isnan(x) || (r.bound_ge ? a >= r.bound : a > r.bound);
  bool fixed = (!std::isnan(r.over) && x > r.over) || (!std::isnan(r.under) && x < r.under);
  return special && !fixed;
}

TEST(ExpLanes, FallbackRunsExactlyForItsLanes) {
  uint64_t s = 42;
  auto rnd = [&] { s = s * 6364136223846793005ull + 1442695040888963407ull; return s >> 33; };
  int checked = 0;
  for (const Rule& rule : rules()) {
    std::string fb = std::string(rule.family) + (rule.prec == 'f' ? "f" : "") + "_lane_fallback";
    for (const Export& e : qarn::reg::all()) {
      if (!e.present || rule.family != std::string(e.family) || e.prec != rule.prec) continue;
      qa::Shape sh = qa::shape_of(e);
      for (int trial = 0; trial < 40; ++trial) {
        std::vector<double> xs(sh.lanes);
        qa::Lanes lanes(sh.lanes);
        for (int i = 0; i < sh.lanes; ++i) {
          xs[i] = rule.probes[rnd() % rule.probes.size()];
          lanes[i] = e.prec == 'f' ? qa::bits_of(float(xs[i])) : qa::bits_of(xs[i]);
        }
        qa::fallback_calls().clear();
        qa::Outcome o = self().call(e, {lanes}, rnd());
        std::vector<int> want;
        for (int i = 0; i < sh.width; ++i)
          if (to_fallback(rule, xs[i])) want.push_back(i);
        ASSERT_EQ(qa::fallback_calls().size(), want.size()) << e.name << " trial " << trial;
        size_t lb = e.prec == 'f' ? 4 : 8;
        for (size_t c = 0; c < want.size(); ++c) {
          const qa::FallbackCall& call = qa::fallback_calls()[c];
          EXPECT_EQ(call.fn, fb);
          EXPECT_EQ(call.x, lanes[want[c]]) << e.name << ": lane " << want[c] << " out of order or wrong";
          EXPECT_EQ((call.xp - want[c] * lb) % 64, 0u) << "input spill array not 64-byte aligned";
          EXPECT_EQ((call.rp - want[c] * lb) % 64, 0u) << "result spill array not 64-byte aligned";
        }
        // Inline fix-ups give exactly +inf and +0.
        for (int i = 0; i < sh.width; ++i) {
          double got = e.prec == 'f' ? qa::as_float(o.results[0][i]) : qa::as_double(o.results[0][i]);
          if (!std::isnan(rule.over) && xs[i] > rule.over) EXPECT_EQ(got, INFINITY);
          if (!std::isnan(rule.under) && xs[i] < rule.under) {
            EXPECT_EQ(got, 0.0);
            EXPECT_FALSE(std::signbit(got));
          }
        }
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 144 * 40);
}

// The values the fallbacks promise at their edges.
TEST(ExpLanes, FallbackEdgeValues) {
  struct Case { const char* name; double x, want; };
  const Case cases[] = {
      {"__ocl_qarn_e9_exp2f1", -149.0, 0x1p-149},
      {"__ocl_qarn_e9_exp2f1", 128.0, INFINITY},
      {"__ocl_qarn_e9_exp2f1", -150.0, 0.0},
      {"__ocl_qarn_e9_exp2f1", -INFINITY, 0.0},
      {"__ocl_qarn_e9_exp21", -1074.0, 0x1p-1074},
      {"__ocl_qarn_e9_exp21", 1024.0, INFINITY},
      {"__ocl_qarn_e9_exp21", -1075.0, 0.0},
      {"__ocl_qarn_e9_exp1", 1e-300, 1.0},
      {"__ocl_qarn_e9_exp1", -746.0, 0.0},
      {"__ocl_qarn_e9_exp1", 709.79, INFINITY},
      {"__ocl_qarn_e9_expf1", -104.0, 0.0},
      {"__ocl_qarn_e9_exp10f1", 38.6, INFINITY},
      {"__ocl_qarn_e9_exp10f1", -45.2, 0.0},
      {"__ocl_qarn_e9_exp101", 308.26, INFINITY},
      {"__ocl_qarn_e9_exp101", -323.7, 0.0},
  };
  for (const Case& c : cases) {
    const Export* e = qarn::reg::find(c.name);
    ASSERT_TRUE(e && e->present);
    qa::Lanes l{e->prec == 'f' ? qa::bits_of(float(c.x)) : qa::bits_of(c.x)};
    qa::Outcome o = self().call(*e, {l}, 7);
    double got = e->prec == 'f' ? qa::as_float(o.results[0][0]) : qa::as_double(o.results[0][0]);
    EXPECT_EQ(qa::bits_of(got), qa::bits_of(c.want)) << c.name << "(" << c.x << ") = " << got;
  }
}

}  // namespace
