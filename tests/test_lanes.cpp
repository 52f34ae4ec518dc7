// Which lanes reach the lane fallbacks, for every present export with special
// lanes, driven by the registry alone.  Every fallback is wrapped at link time and
// records its calls; the exports come from the library's own objects.
//
// The contract: a lane goes to the fallback (named by the registry) exactly when
// the same operands go there through the width-1 export, so the decision belongs
// to the lane alone, whatever the width, the lane's position or its neighbours;
// lanes are finished once each, in increasing order, through pointers into spill
// arrays that start on 64-byte boundaries; the families with no vector main path
// send every lane (lane 3 of width 3 too); and operands from the family's ordinary
// interval never leave the main path.  Whether each threshold sits in the right
// place is the accuracy tests' business: they cover the bands on both sides.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/fallback_log.h"
#include "support/invoke.h"
#include "support/rng.h"

#include "fallback_wraps.inc"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

std::vector<const Export*> routed() {
  std::vector<const Export*> v;
  for (const Export& e : qarn::reg::all())
    if (e.present && !e.body && std::strcmp(e.lanes, "none") != 0) v.push_back(&e);
  return v;
}

uint64_t fbits(const Export& e, double x) { return e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x); }

// One operand of kind k: ordinary values of the family's interval, or the
// operands that special lanes are made of.
uint64_t operand(const Export& e, char k, qarn::test::Rng& r, bool special) {
  if (k == 'i') {
    const int32_t ints[] = {0, 1, -1, 2, -3, 7, 100, -100, 1000, INT_MAX, INT_MIN, 65537, -65537};
    return uint32_t(special ? ints[r.below(std::size(ints))] : int32_t(r.below(21)) - 10);
  }
  bool f = e.prec == 'f';
  if (!special) return fbits(e, e.lo + (e.hi - e.lo) * r.unit());
  const double picks[] = {NAN, -NAN, INFINITY, -INFINITY, 0.0, -0.0, 1.0, -1.0, 0.5, -2.5,
                          f ? 0x1p-149 : 0x1p-1074, f ? -0x1p-130 : -0x1p-1030,
                          f ? 0x1p-126 : 0x1p-1022, f ? double(FLT_MAX) : DBL_MAX,
                          f ? -double(FLT_MAX) : -DBL_MAX, f ? 1e30 : 1e300, f ? -1e-30 : -1e-300,
                          e.lo, e.hi, e.lo - (e.hi - e.lo) * 0.1, e.hi + (e.hi - e.lo) * 0.1, 3e9, -7e5};
  size_t i = r.below(std::size(picks) + 4);
  if (i >= std::size(picks)) return fbits(e, e.lo + (e.hi - e.lo) * r.unit());
  if (i == 0 && f) return 0x7FC01234u | (r.below(2) << 31);  // NaNs with payloads
  return fbits(e, picks[i]);
}

struct Call {
  std::vector<qa::Lanes> args;
  std::vector<qa::FallbackCall> calls;
};

Call call(const Export& e, std::vector<qa::Lanes> args, uint64_t seed) {
  qa::fallback_calls().clear();
  self().call(e, args, seed);
  return {std::move(args), qa::fallback_calls()};
}

// Lane i of every argument, as the width-1 export's arguments.
std::vector<qa::Lanes> lane_args(const std::vector<qa::Lanes>& args, int i) {
  std::vector<qa::Lanes> one;
  for (const qa::Lanes& a : args) one.push_back({a[i]});
  return one;
}

class Lanes : public testing::TestWithParam<const Export*> {};

TEST_P(Lanes, FallbackRunsExactlyForTheLanesWidthOneSends) {
  const Export& e = *GetParam();
  const Export* one = qarn::reg::sibling(e, 1);
  ASSERT_TRUE(one && one->present);
  qa::Shape sh = qa::shape_of(e);
  bool all = std::strcmp(e.lanes, "all") == 0;
  qarn::test::Rng r(e.width * 1000003u + std::strlen(e.name));
  for (int trial = 0; trial < 24; ++trial) {
    std::vector<qa::Lanes> args;
    for (char k : sh.args) {
      qa::Lanes l(sh.lanes);
      for (int i = 0; i < sh.lanes; ++i) l[i] = operand(e, k, r, trial % 4 != 0 && r.below(3) == 0);
      args.push_back(l);
    }
    Call wide = call(e, args, r.next());
    // The lanes that must reach the fallback, in order.
    std::vector<int> want;
    for (int i = 0; i < sh.width; ++i) {
      Call single = call(*one, lane_args(args, i), r.next());
      ASSERT_LE(single.calls.size(), 1u) << one->name;
      if (!single.calls.empty()) want.push_back(i);
      if (all) {
        EXPECT_EQ(single.calls.size(), 1u) << one->name << ": every lane goes to the fallback";
      }
    }
    if (all && sh.width == 3) want.push_back(3);
    ASSERT_EQ(wide.calls.size(), want.size()) << e.name << " trial " << trial;
    for (size_t c = 0; c < want.size(); ++c) {
      const qa::FallbackCall& fc = wide.calls[c];
      int i = want[c];
      EXPECT_EQ(fc.fn, e.fallback) << e.name;
      if (i < sh.width) {
        EXPECT_EQ(fc.x, args[0][i]) << e.name << ": lane " << i << " out of order or wrong";
      }
      for (size_t p = 0; p < fc.ptrs.size(); ++p)
        EXPECT_EQ((fc.ptrs[p] - uintptr_t(i) * fc.lane_bytes[p]) % 64, 0u)
            << e.name << ": spill array " << p << " of lane " << i << " not on a 64-byte boundary";
    }
  }
}

class MainPath : public testing::TestWithParam<const Export*> {};

TEST_P(MainPath, TakesOrdinaryOperands) {
  const Export& e = *GetParam();
  qa::Shape sh = qa::shape_of(e);
  qarn::test::Rng r(99);
  for (int n = 0; n < 400; ++n) {
    std::vector<qa::Lanes> args;
    for (size_t a = 0; a < sh.args.size(); ++a) {
      char k = sh.args[a];
      double lo = a == 0 ? e.bench_lo : e.y_lo, hi = a == 0 ? e.bench_hi : e.y_hi;
      double v = e.logspaced && a == 0 ? std::exp(std::log(lo) + (std::log(hi) - std::log(lo)) * r.unit())
                                       : lo + (hi - lo) * r.unit();
      args.push_back({k == 'i' ? uint64_t(uint32_t(int32_t(std::lround(v)))) : fbits(e, v)});
    }
    Call c = call(e, args, r.next());
    ASSERT_TRUE(c.calls.empty()) << e.name << " sent an ordinary operand (bits " << std::hex << args[0][0]
                                 << ") to its fallback";
  }
}

std::string name_of(const testing::TestParamInfo<const Export*>& p) {
  return qarn::reg::short_name(*p.param);
}
INSTANTIATE_TEST_SUITE_P(Registry, Lanes, testing::ValuesIn(routed()), name_of);

// Width 1 stands for every width: the test above ties them together.
std::vector<const Export*> routed_width1() {
  std::vector<const Export*> v;
  for (const Export* e : routed())
    if (e->width == 1 && std::strcmp(e->lanes, "some") == 0) v.push_back(e);
  return v;
}
INSTANTIATE_TEST_SUITE_P(Registry, MainPath, testing::ValuesIn(routed_width1()), name_of);

}  // namespace
