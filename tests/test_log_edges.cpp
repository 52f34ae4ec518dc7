// log, log2, log10 and log1p: the values the families promise exactly, accuracy
// where the reductions are most delicate (next to 1, and next to 0 and -1 for
// log1p), the fallbacks' general paths on subnormal inputs, and log1p and atanh on
// tiny operands at every width and in every rounding mode.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "support/fallback_log.h"
#include "support/invoke.h"
#include "support/oracle.h"
#include "support/rng.h"
#include "fallbacks.h"

namespace qa = qarn::abi;
using qarn::reg::Export;


namespace {

typedef __attribute__((ms_abi)) void (*fallback_f)(const float*, float*);
typedef __attribute__((ms_abi)) void (*fallback_d)(const double*, double*);

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

using Rng = qarn::test::Rng;

bool is_log1p(const Export& e) { return std::string(e.family) == "log1p"; }

std::vector<const Export*> log_exports(bool with_log1p = true) {
  std::vector<const Export*> v;
  for (const Export& e : qarn::reg::all()) {
    std::string f = e.family;
    if (e.present && (f == "log" || f == "log2" || f == "log10" || (with_log1p && f == "log1p"))) v.push_back(&e);
  }
  return v;
}

uint64_t lane_of(const Export& e, double x) { return e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x); }
double value_of(const Export& e, uint64_t b) { return e.prec == 'f' ? qa::as_float(b) : qa::as_double(b); }

// Calls width 1 of `e` on x.
double call1(const Export& e, double x) {
  const Export* w1 = qarn::reg::sibling(e, 1);
  qa::Outcome o = self().call(*w1, {qa::Lanes{lane_of(e, x)}}, 3);
  return value_of(e, o.results[0][0]);
}

TEST(LogLanes, SpecialOperands) {
  for (const Export* e : log_exports()) {
    struct Case { double x, want; };
    std::vector<Case> cases = {{-INFINITY, NAN}, {INFINITY, INFINITY}, {NAN, NAN}, {-NAN, NAN}};
    if (is_log1p(*e))
      cases.insert(cases.end(), {{-1.0, -INFINITY}, {-2.0, NAN}, {-1e30, NAN}, {e->prec == 'f' ? -1.0000001 : -1.0000000000000002, NAN}});
    else
      cases.insert(cases.end(), {{0.0, -INFINITY}, {-0.0, -INFINITY}, {-1.0, NAN}, {-1e-30, NAN}, {-3e30, NAN}});
    qa::Shape sh = qa::shape_of(*e);
    for (const Case& c : cases) {
      qa::Outcome o = self().call(*e, {qa::Lanes(sh.lanes, lane_of(*e, c.x))}, 5);
      for (int i = 0; i < sh.width; ++i) {
        double got = value_of(*e, o.results[0][i]);
        if (std::isnan(c.want)) EXPECT_TRUE(std::isnan(got)) << e->name << "(" << c.x << ") = " << got;
        else EXPECT_EQ(got, c.want) << e->name << "(" << c.x << ")";
      }
    }
  }
}

// The results the families promise exactly.
TEST(LogLanes, ExactValues) {
  for (const Export* e : log_exports()) {
    bool f = e->prec == 'f';
    std::string fam = e->family, var = e->variant;
    qa::Shape sh = qa::shape_of(*e);
    auto all_lanes = [&](double x) {
      qa::Outcome o = self().call(*e, {qa::Lanes(sh.lanes, lane_of(*e, x))}, 9);
      std::vector<uint64_t> r(o.results[0].begin(), o.results[0].begin() + sh.width);
      return r;
    };
    if (fam == "log1p") {
      for (uint64_t b : all_lanes(0.0)) EXPECT_EQ(b, lane_of(*e, 0.0)) << e->name << "(+0)";
      for (uint64_t b : all_lanes(-0.0)) EXPECT_EQ(b, lane_of(*e, -0.0)) << e->name << "(-0)";
      if (!(f && var == "_native")) {  // its tail (x - u) + 1 drops x below 2^-25
        for (uint64_t b : all_lanes(1e-20)) EXPECT_EQ(b, lane_of(*e, 1e-20)) << e->name << "(1e-20)";
      }
      continue;
    }
    // log(1) = +0 exactly, in every variant.
    for (uint64_t b : all_lanes(1.0)) EXPECT_EQ(b, lane_of(*e, 0.0)) << e->name << "(1)";
    // log2 of a power of two is its exponent, on the main path and in the fallback.
    if (fam == "log2" && e->width == 1) {
      for (int k = f ? -149 : -1074; k <= (f ? 127 : 1023); ++k)
        EXPECT_EQ(lane_of(*e, call1(*e, std::ldexp(1.0, k))), lane_of(*e, double(k))) << e->name << "(2^" << k << ")";
    }
  }
  auto one = [](const char* name, double x) {
    const Export* e = qarn::reg::find(name);
    EXPECT_TRUE(e && e->present) << name;
    return e && e->present ? call1(*e, x) : NAN;
  };
  EXPECT_EQ(one("log21", 8.0), 3.0);
  EXPECT_EQ(one("log1", 0x1p-1074), -744.4400719213812);
  EXPECT_EQ(one("log1p1", -1.0), -INFINITY);
  EXPECT_EQ(one("log1p1", DBL_MAX), one("log1", DBL_MAX));
  EXPECT_EQ(one("log1p1", DBL_MAX), 709.782712893384);
  EXPECT_EQ(one("log1pf1", 3.4e35f), one("logf1", 3.4e35f));
  // The smallest normal float stays on the main path, the largest subnormal does not;
  // both are correctly rounded.
  for (uint32_t b : {0x00800000u, 0x007FFFFFu}) {
    double x = qa::as_float(b);
    qa::fallback_calls().clear();
    EXPECT_EQ(one("logf1", x), qarn::oracle::reference("log", 'f', x));
    EXPECT_EQ(qa::fallback_calls().size(), b == 0x00800000u ? 0u : 1u);
  }
}

// Accuracy where the reductions cancel: within ulps of 1 (log1p: of 0 and of -1),
// at every scale down to the last bit, against the registry's bound.
TEST(LogLanes, AccuracyNextToOne) {
  Rng rng(2024);
  for (const Export* e : log_exports()) {
    if (e->width != 1 || e->ulp < 0) continue;
    bool f = e->prec == 'f';
    int bits = f ? 24 : 53;
    std::vector<double> xs;
    std::vector<double> centres = is_log1p(*e) ? std::vector<double>{0.0, -1.0} : std::vector<double>{1.0};
    for (double c : centres) {
      double x = c;
      for (int k = 0; k < 300; ++k) {
        x = f ? double(std::nextafter(float(x), 2.0f)) : std::nextafter(x, 2.0);
        xs.push_back(x);
      }
      x = c;
      for (int k = 0; k < 300; ++k) {
        x = f ? double(std::nextafter(float(x), -2.0f)) : std::nextafter(x, -2.0);
        xs.push_back(x);
      }
      for (int j = 1; j <= bits + 10; ++j)
        for (int k = 0; k < 40; ++k) {
          double d = std::ldexp(1.0 + rng.unit(), -j);
          xs.push_back(c + d);
          xs.push_back(c - d);
        }
    }
    double worst = 0, worst_x = 0;
    for (double x : xs) {
      if (f) x = float(x);
      double err = qarn::oracle::ulp_error(e->family, e->prec, x, call1(*e, x));
      if (!(err <= worst)) worst = err, worst_x = x;
    }
    EXPECT_LE(worst, e->ulp) << e->name << " at x = " << std::hexfloat << worst_x;
  }
}

// The fallbacks' general paths: subnormal inputs, which only they see, within one
// ulp; any positive normal input (half of them in [1/2, 2]) within `normal_ulp`.
TEST(LogLanes, FallbacksOnSubnormalsAndNormals) {
  struct F { const char* family; char prec; void* fn; double normal_ulp; };
  const F fbs[] = {{"log", 'f', (void*)&logf_lane_fallback, 1.0},
                   {"log", 'd', (void*)&log_lane_fallback, 1.0},
                   {"log2", 'f', (void*)&log2f_lane_fallback, 2.0},
                   {"log2", 'd', (void*)&log2_lane_fallback, 1.0},
                   {"log10", 'f', (void*)&log10f_lane_fallback, 2.0},
                   {"log10", 'd', (void*)&log10_lane_fallback, 1.0}};
  Rng rng(77);
  for (const F& fb : fbs) {
    double worst_sub = 0, worst_norm = 0, wx = 0;
    for (int i = 0; i < 40000; ++i) {
      bool normal = i & 1, near = i & 2;
      double x, got;
      if (fb.prec == 'f') {
        uint32_t b = !normal ? uint32_t(1 + rng.next() % 0x7FFFFF)
                     : near  ? uint32_t(0x3F000000 + rng.next() % 0x01000000)
                             : uint32_t(0x00800000 + rng.next() % (0x7F800000 - 0x00800000));
        float xf = qa::as_float(b), r = 0;
        reinterpret_cast<fallback_f>(fb.fn)(&xf, &r);
        x = xf, got = r;
      } else {
        uint64_t b = !normal ? 1 + rng.next() % 0x000FFFFFFFFFFFFFull
                     : near  ? 0x3FE0000000000000ull + rng.next() % 0x0020000000000000ull
                             : 0x0010000000000000ull + rng.next() % (0x7FF0000000000000ull - 0x0010000000000000ull);
        double xd = qa::as_double(b), r = 0;
        reinterpret_cast<fallback_d>(fb.fn)(&xd, &r);
        x = xd, got = r;
      }
      double err = qarn::oracle::ulp_error(fb.family, fb.prec, x, got);
      double& w = normal ? worst_norm : worst_sub;
      if (!(err <= w)) w = err, wx = x;
    }
    EXPECT_LE(worst_sub, 1.0) << fb.family << fb.prec << " subnormal, at " << std::hexfloat << wx;
    EXPECT_LE(worst_norm, fb.normal_ulp) << fb.family << fb.prec << " normal, at " << std::hexfloat << wx;
  }
}

// log1p, atanh and asinh (evaluated as logarithms) next to zero: below 2^-40
// (log1pf) or 2^-100 (log1p, atanh, asinh in double) the result is x to nearest, and some widths
// finish those lanes in closed form in the cold part.  Every width must give the
// main path's bits: the band's edges, the smallest normal, subnormals and zeros
// (flushed where subnormal results are flushed), alone, among ordinary lanes and
// beside a NaN (the lane loop too), never handing a tiny lane to the fallback; and
// in the directed modes the main path's own value, which is not x.
TEST(LogLanes, TinyOperandsEveryWidthAndMode) {
  constexpr uint32_t nearest = 0x1F80, ftz = 0x9F80, down = 0x3F80, up = 0x5F80;
  struct Case { uint64_t x; uint32_t csr; uint64_t want; };
  const std::vector<Case> single = {
      {0x2B7FFFFF, nearest, 0x2B7FFFFF}, {0xAB7FFFFF, nearest, 0xAB7FFFFF}, {0x2B800000, nearest, 0x2B800000},
      {0x0D800000, nearest, 0x0D800000}, {0x00800000, nearest, 0x00800000}, {0x80800000, nearest, 0x80800000},
      {0x00000001, nearest, 0x00000001}, {0x80000000, nearest, 0x80000000}, {0x00000001, ftz, 0x00000000},
      {0x80000001, ftz, 0x80000000}, {0x00800000, ftz, 0x00800000},
      {0x0D800000, up, 0x28000000}, {0x2B000000, down, 0x2AFFFFFF}};
  auto doubles = [](bool log1p) {
    std::vector<Case> v = {
        {0x39AFFFFFFFFFFFFF, nearest, 0x39AFFFFFFFFFFFFF}, {0xB9A0000000000000, nearest, 0xB9A0000000000000},
        {0x39B0000000000000, nearest, 0x39B0000000000000}, {0x1F70000000000000, nearest, 0x1F70000000000000},
        {0x0010000000000000, nearest, 0x0010000000000000}, {0x8000000000000000, nearest, 0x8000000000000000},
        {0x0000000000000001, nearest, 0x0000000000000001}, {0x1F70000000000000, ftz, 0x1F70000000000000},
        {0x39A0000000000000, down, 0x399FFFFFFFFFFFFF}, {0x1F70000000000000, down, 0x1F6FFFFFFFFFFFFF}};
    // Subnormals where results are flushed: log1p's tail flushes; atanh and asinh pick x outright.
    v.push_back({0x0000000000000001, ftz, log1p ? 0x0000000000000000ull : 0x0000000000000001ull});
    v.push_back({0x8000000000000001, ftz, log1p ? 0x8000000000000000ull : 0x8000000000000001ull});
    return v;
  };
  struct Family { const char* name; std::vector<Case> cases; const char* fallback; };
  const Family families[] = {{"log1pf", single, "log1pf_lane_fallback"},
                             {"log1p", doubles(true), "log1p_lane_fallback"},
                             {"atanh", doubles(false), "atanh_lane_fallback"},
                             {"asinh", doubles(false), "asinh_lane_fallback"}};
  int exports = 0;
  for (const Family& f : families)
    for (const char* suffix : {"", "_native"})
      for (int w : {1, 2, 3, 4, 8, 16}) {
        if (std::string(f.name) == "log1pf" && *suffix) continue;  // its own reduction, no subnormal crawl
        const Export* e = qarn::reg::find(f.name + std::to_string(w) + suffix);
        if (!e || !e->present) continue;
        const uint64_t half = e->prec == 'f' ? 0x3F000000u : 0x3FE0000000000000ull;
        const uint64_t nan = e->prec == 'f' ? 0x7FC00000u : 0x7FF8000000000000ull;
        const int n = int(qa::shape_of(*e).lanes);
        ++exports;
        for (const Case& c : f.cases)
          for (int i : {0, w - 1})
            for (int company = 0; company < 3; ++company) {
              qa::Lanes l(n, company == 0 ? c.x : half);
              l[i] = c.x;
              const int nan_lane = w == 1 ? -1 : (i + 1) % w;
              if (company == 2 && nan_lane >= 0) l[nan_lane] = nan;
              qa::fallback_calls().clear();
              qa::Outcome o = self().call(*e, {l}, 7, 0, c.csr);
              EXPECT_EQ(o.results[0][i], c.want) << e->name << " lane " << i << " of " << std::hex << c.x
                                                 << ", mxcsr " << c.csr << ", company " << company;
              size_t calls = 0;
              for (const qa::FallbackCall& fc : qa::fallback_calls()) {
                EXPECT_EQ(fc.fn, f.fallback) << e->name;
                EXPECT_NE(fc.x, c.x) << e->name << " sent the tiny operand " << std::hex << c.x << " to its fallback";
                ++calls;
              }
              if (company == 2 && nan_lane >= 0) {
                EXPECT_EQ(calls, 1u) << e->name << std::hex << " of " << c.x;
              }
            }
      }
  EXPECT_EQ(exports, 42);
}

}  // namespace
