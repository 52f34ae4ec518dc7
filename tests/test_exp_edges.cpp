// exp, exp2 and exp10: the values the lane fallbacks and the inline fix-ups
// promise at the edges of the range (overflow, underflow, subnormal results).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/fallback_log.h"
#include "support/invoke.h"

namespace qa = qarn::abi;
using qarn::reg::Export;


namespace {

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

// The values the fallbacks promise at their edges.
TEST(ExpLanes, FallbackEdgeValues) {
  struct Case { const char* name; double x, want; };
  const Case cases[] = {
      {"exp2f1", -149.0, 0x1p-149},
      {"exp2f1", 128.0, INFINITY},
      {"exp2f1", -150.0, 0.0},
      {"exp2f1", -INFINITY, 0.0},
      {"exp21", -1074.0, 0x1p-1074},
      {"exp21", 1024.0, INFINITY},
      {"exp21", -1075.0, 0.0},
      {"exp1", 1e-300, 1.0},
      {"exp1", -746.0, 0.0},
      {"exp1", 709.79, INFINITY},
      {"expf1", -104.0, 0.0},
      {"exp10f1", 38.6, INFINITY},
      {"exp10f1", -45.2, 0.0},
      {"exp101", 308.26, INFINITY},
      {"exp101", -323.7, 0.0},
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
