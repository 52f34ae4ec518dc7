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

// expf's tiny band: below 2^-40 (default, _rm) or 2^-100 (_native, _half), zeros and
// subnormals included, the cold part gives 1 under the ordinary environment and
// runs the main path under any other.  Each band edge, zero, the smallest
// subnormal and a lane just above the range bound, at every width, alone (the
// closed form alone), among ordinary lanes (blended) and beside a NaN (the lane
// loop too): to nearest the band gives 1 and never reaches the fallback; upward a
// positive band operand whose main path sees it as nonzero gives the main path's
// value, not 1 (the closed form would be wrong there), with subnormal results
// flushed too.
TEST(ExpLanes, TinyBandInEveryCompany) {
  struct Variant { const char* suffix; uint32_t bound; };
  const Variant variants[] = {{"", 0x2B800000}, {"_rm", 0x2B800000}, {"_native", 0x0D800000}, {"_half", 0x0D800000}};
  const uint32_t one = 0x3F800000, half = 0x3F000000, nan = 0x7FC00000;
  for (const Variant& v : variants) {
    const uint32_t ops[] = {v.bound - 1, v.bound, v.bound | 0x80000000u, (v.bound - 1) | 0x80000000u,
                            0u, 0x80000000u, 1u, 0x80000001u, 0x00800000u, 0x42AEAC50u};
    for (int w : {1, 3, 4, 8, 16}) {
      const Export* e = qarn::reg::find("expf" + std::to_string(w) + v.suffix);
      ASSERT_TRUE(e && e->present);
      const Export* one_lane = qarn::reg::find(std::string("expf1") + v.suffix);
      for (uint32_t x : ops) {
        // The value the main path gives, lane alone through width 1 with the band's
        // test (to nearest: 1 inside the band, and 1 at its edge too).
        qa::Outcome ref = self().call(*one_lane, {qa::Lanes(1, x)}, 7);
        for (int i : {0, w - 1}) {
          for (int company = 0; company < 3; ++company) {
            qa::Lanes l(qa::shape_of(*e).lanes, company == 0 ? x : half);
            l[i] = x;
            int nan_lane = w == 1 ? -1 : (i + 1) % w;
            if (company == 2 && nan_lane >= 0) l[nan_lane] = nan;
            qa::fallback_calls().clear();
            qa::Outcome o = self().call(*e, {l}, 7);
            EXPECT_EQ(o.results[0][i], ref.results[0][0]) << e->name << " lane " << i << " of " << std::hex << x
                                                          << ", company " << company;
            if ((x & 0x7FFFFFFFu) < v.bound) {
              EXPECT_EQ(o.results[0][i], one) << e->name << std::hex << " of " << x;
              for (const qa::FallbackCall& fc : qa::fallback_calls())
                EXPECT_NE(fc.x, x) << e->name << " sent band operand " << std::hex << x << " to its fallback";
            }
            if (company == 2 && nan_lane >= 0 && x != 0x42AEAC50u)
              EXPECT_EQ(qa::fallback_calls().size(), 1u) << e->name << std::hex << " of " << x;
          }
        }
        // Upward, and upward with subnormal results flushed: the main path's bits.
        for (uint32_t csr : {0x5F80u, 0xDF80u}) {
          qa::Lanes l(qa::shape_of(*e).lanes, half);
          l[0] = x;
          qa::Outcome o = self().call(*e, {l}, 7, 0, csr);
          const bool seen = x == v.bound - 1 || x == v.bound || x == 0x00800000u || (x == 1u && csr == 0x5F80u);
          const bool stays = x == 0u || x >= 0x80000000u;  // zeros and negative band operands: 1
          // (_native and _half: upward the shifter sum rounds up to k = 1, f = t - 1,
          // and the cubic at -1 doubled gives 0x3F7C97EC.)
          const uint32_t up = v.bound == 0x2B800000 ? one + 1 : 0x3F7C97ECu;
          if (seen) EXPECT_EQ(o.results[0][0], up) << e->name << std::hex << " of " << x << " upward, mxcsr " << csr;
          else if (stays && (x & 0x7FFFFFFFu) < v.bound)
            EXPECT_EQ(o.results[0][0], one) << e->name << std::hex << " of " << x << " upward, mxcsr " << csr;
        }
      }
    }
  }
}

}  // namespace

namespace {

// The tiny bands of exp2f and exp2 (every variant), exp10f and exp10 (_native,
// _half, _rm) and exp: below the bound (zeros and subnormals in it) the cold part gives the main
// path's value to nearest, with or without subnormal results flushed.  `probe` lies
// above the bound, where the main path itself runs and gives that same value: each
// band edge must agree with it at every width, alone, among ordinary lanes and beside
// a NaN lane that takes the lane loop, and no band operand reaches a fallback.
// Upward, a band operand takes the main path, whose value there is not the closed
// form's for exp and exp2f_rm (above 1 for exp2f_rm, as it must be; exp's default
// path rounds its shifter sum up and lands a little below 1).
struct TinyBand {
  const char* stem;
  const char* suffix;
  uint64_t bound, probe;
  bool up_moves;
};

void check_tiny_band(const TinyBand& b) {
  const bool dbl = b.bound > 0xFFFFFFFFull;
  const uint64_t sign = dbl ? 0x8000000000000000ull : 0x80000000ull;
  const uint64_t ordinary = dbl ? qa::bits_of(0.5) : qa::bits_of(0.5f);
  const uint64_t nan = dbl ? 0x7FF8000000000000ull : 0x7FC00000ull;
  const uint64_t ops[] = {b.bound - 1, b.bound - 1 + sign, b.bound >> 1, (b.bound >> 1) | sign,
                          dbl ? 0x0010000000000000ull : 0x00800000ull, 1, 1 | sign, 0, sign};
  const Export* w1 = qarn::reg::find(std::string(b.stem) + "1" + b.suffix);
  ASSERT_TRUE(w1 && w1->present) << b.stem << b.suffix;
  for (uint32_t csr : {0x1F80u, 0x9F80u}) {  // to nearest, then with subnormal results flushed
    const uint64_t want = self().call(*w1, {qa::Lanes(1, b.probe)}, 7, 0, csr).results[0][0];
    for (int w : {1, 2, 3, 4, 8, 16}) {
      if (w == 2 && !dbl) continue;
      const Export* e = qarn::reg::find(std::string(b.stem) + std::to_string(w) + b.suffix);
      ASSERT_TRUE(e && e->present) << b.stem << w << b.suffix;
      const int lanes = qa::shape_of(*e).lanes;
      for (uint64_t x : ops) {
        for (int i : {0, w - 1}) {
          for (int company = 0; company < 3; ++company) {
            qa::Lanes l(lanes, company == 0 ? x : ordinary);
            l[i] = x;
            const int nan_lane = w == 1 ? -1 : (i + 1) % w;
            if (company == 2 && nan_lane >= 0) l[nan_lane] = nan;
            qa::fallback_calls().clear();
            qa::Outcome o = self().call(*e, {l}, 7, 0, csr);
            EXPECT_EQ(o.results[0][i], want) << e->name << " lane " << i << " of " << std::hex << x << ", company "
                                             << company << ", mxcsr " << csr;
            for (const qa::FallbackCall& fc : qa::fallback_calls())
              EXPECT_NE(fc.x, x) << e->name << " sent band operand " << std::hex << x << " to its fallback";
            if (company == 2 && nan_lane >= 0) EXPECT_EQ(qa::fallback_calls().size(), 1u) << e->name << std::hex << x;
          }
        }
      }
      // Upward: the main path's bits, the same in every lane and width.
      for (uint64_t x : {b.bound - 1, b.bound >> 1, uint64_t(dbl ? 0x0010000000000000ull : 0x00800000ull)}) {
        qa::Lanes l(lanes, ordinary);
        l[w - 1] = x;
        const uint64_t up = self().call(*e, {l}, 7, 0, 0x5F80).results[0][w - 1];
        EXPECT_EQ(up, self().call(*w1, {qa::Lanes(1, x)}, 7, 0, 0x5F80).results[0][0]) << e->name << std::hex << x;
        if (b.up_moves) EXPECT_NE(up, want) << e->name << std::hex << " of " << x << " upward";
      }
    }
  }
}

TEST(ExpLanes, TinyBandsOfExp2Exp10AndExp) {
  const uint64_t f_probe = 0x2B800000;          // 2^-40
  const uint64_t d_probe = 0x3C30000000000000;  // 2^-60
  const TinyBand bands[] = {
      {"exp2f", "", 0x0D800000, f_probe, true},         {"exp2f", "_native", 0x0D800000, f_probe, false}, {"exp2f", "_half", 0x0D800000, f_probe, false},
      {"exp2f", "_rm", 0x0D800000, f_probe, true},      {"exp10f", "_native", 0x0D800000, f_probe, false},
      {"exp10f", "_half", 0x0D800000, f_probe, false},  {"exp10f", "_rm", 0x0D800000, f_probe, false},
      {"exp2", "", 0x0170000000000000, d_probe, false},        {"exp2", "_native", 0x0170000000000000, d_probe, false}, {"exp2", "_half", 0x0170000000000000, d_probe, false},
      {"exp2", "_rm", 0x0170000000000000, d_probe, false},     {"exp10", "_native", 0x0170000000000000, d_probe, false},
      {"exp10", "_half", 0x0170000000000000, d_probe, false},  {"exp10", "_rm", 0x0170000000000000, d_probe, false},
      {"exp", "", 0x20B0000000000000, d_probe, true},
  };
  for (const TinyBand& b : bands) check_tiny_band(b);
}

}  // namespace

namespace {

// The exponentials in 256-bit registers scale by a factor 2^k on their hot path,
// where width 1 adds k to the result's exponent field.  The two agree wherever the
// result is a normal number, which the main path's range bound keeps so at its
// lowest k; exp2f's short variants are the exception (near x = -126 their cubic
// lies below 1 and the integer add leaves a pattern the product would round) and
// send those lanes to the cold part.  Each family's last floats or doubles inside
// the range bound and the bound itself (both signs), steps of 1/256 across the
// last unit below the bound, and for exp2f every float from -126 up to -125.97, in
// every lane position of every width, all four rounding directions, with
// subnormal results flushed and not: width 1's bits.
TEST(ExpLanes, WideFactorMatchesWidthOneAtTheRangeEnds) {
  struct Family { const char* stem; double bound; };
  const Family families[] = {{"exp2f", 126.0}, {"expf", double(0x1.5d589ep6f)}, {"exp10f", double(0x1.2f7030p5f)},
                             {"exp2", 1022.0}, {"exp", 0x1.6232bp9}, {"exp10", 0x1.33a71p8}};
  const uint32_t csrs[] = {0x1F80, 0x3F80, 0x5F80, 0x7F80, 0x9F80, 0xDF80};
  for (const Family& fam : families) {
    const char* stem = fam.stem;
    const bool dbl = std::string(stem).back() != 'f';
    std::vector<uint64_t> ops;
    for (double sg : {1.0, -1.0}) {
      if (dbl) {
        double x = sg * fam.bound;
        for (int i = 0; i < 60; ++i, x = std::nextafter(x, 0.0)) ops.push_back(qa::bits_of(x));
        for (int i = 1; i <= 256; ++i) ops.push_back(qa::bits_of(sg * (fam.bound - i / 256.0)));
      } else {
        float x = float(sg * fam.bound);
        for (int i = 0; i < 60; ++i, x = std::nextafter(x, 0.0f)) ops.push_back(qa::bits_of(x));
        for (int i = 1; i <= 256; ++i) ops.push_back(qa::bits_of(float(sg * (fam.bound - i / 256.0))));
      }
    }
    if (std::string(stem) == "exp2f")
      for (float x = -126.0f; x <= -125.97f; x = std::nextafter(x, 0.0f)) ops.push_back(qa::bits_of(x));
    for (const char* suffix : {"", "_native", "_half", "_rm"}) {
      const Export* w1 = qarn::reg::find(std::string(stem) + "1" + suffix);
      ASSERT_TRUE(w1 && w1->present);
      for (uint32_t csr : csrs) {
        std::vector<uint64_t> want(ops.size());
        for (size_t k = 0; k < ops.size(); ++k) want[k] = self().call(*w1, {qa::Lanes(1, ops[k])}, 7, 0, csr).results[0][0];
        for (int w : {3, 4, 8, 16}) {
          const Export* e = qarn::reg::find(std::string(stem) + std::to_string(w) + suffix);
          ASSERT_TRUE(e && e->present);
          const int lanes = qa::shape_of(*e).lanes;
          // Each operand in turn at every lane position, the other lanes ordinary.
          for (size_t k = 0; k < ops.size(); ++k) {
            qa::Lanes l(lanes, dbl ? qa::bits_of(0.75) : qa::bits_of(0.75f));
            for (int i = 0; i < w; ++i) l[i] = ops[(k + size_t(i) * 7) % ops.size()];
            qa::Outcome o = self().call(*e, {l}, 7, 0, csr);
            for (int i = 0; i < w; ++i)
              ASSERT_EQ(o.results[0][i], want[(k + size_t(i) * 7) % ops.size()])
                  << e->name << " lane " << i << " of " << std::hex << l[i] << ", mxcsr " << csr;
          }
        }
      }
    }
  }
}

}  // namespace
