// expm1: the values at the edges (and whether the fallback or the main path gives
// them), and the cancellation against -1 near zero.
#include <gtest/gtest.h>
#include <immintrin.h>

#include <cmath>
#include <cstring>
#include <random>
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

// No subnormal number in the main path's arithmetic, on any operand it finishes
// (the processor takes microcode assists for them, many times slower): no
// operation underflows (MXCSR's underflow flag stays clear), and flushing
// subnormals to zero (FTZ and DAZ) changes no result.  The operands: magnitudes
// log-uniform from the smallest subnormal to the bound, both signs, and every
// operand near the places where the path changes its treatment of x.
TEST(Expm1Lanes, MainPathKeepsSubnormalsOut) {
  static qa::Invoker inv(nullptr);
  for (const Export* e : expm1_exports()) {
    bool f = e->prec == 'f';
    if (e->width != (f ? 8 : 4)) continue;
    double bound = f ? double(qa::as_float(0x42AD496B)) : qa::as_double(0x40861DA04CBAFE43);
    std::vector<double> xs = {0.0, -0.0, bound, -bound};
    std::mt19937_64 g(11);
    std::uniform_real_distribution<double> u(f ? -149.0 : -1074.0, std::log2(bound));
    for (int i = 0; i < 200000; ++i) xs.push_back((i % 2 ? -1 : 1) * std::exp2(u(g)));
    const double edges[2][4] = {{-24.0, 0x1p-30, -0x1p-30, 0x1p-126}, {-45.0, 0x1p-60, -0x1p-60, 0x1p-1022}};
    for (double c : edges[f ? 0 : 1])
      for (int k = -300; k <= 300; ++k) xs.push_back(f ? double(qa::as_float(qa::bits_of(float(c)) + k))
                                                       : qa::as_double(qa::bits_of(c) + k));
    const void* fn = inv.address(*e);
    for (size_t i = 0; i < xs.size(); i += 8) {
      alignas(32) double in[8], out[2][8];
      alignas(32) float inf[8], outf[2][8];
      for (int l = 0; l < 8; ++l) in[l] = xs[std::min(i + l, xs.size() - 1)], inf[l] = float(in[l]);
      unsigned flags[2];
      for (int ftz = 0; ftz < 2; ++ftz) {
        unsigned saved = _mm_getcsr();
        _mm_setcsr(ftz ? 0x9FC0 : 0x1F80);  // all exceptions masked, flags clear; FTZ and DAZ
        if (f) {
          __m256 r = reinterpret_cast<__m256 (*)(__m256)>(const_cast<void*>(fn))(_mm256_load_ps(inf));
          flags[ftz] = _mm_getcsr();
          _mm256_store_ps(outf[ftz], r);
        } else {
          auto d4 = reinterpret_cast<__m256d (*)(__m256d)>(const_cast<void*>(fn));
          __m256d r0 = d4(_mm256_load_pd(in)), r1 = d4(_mm256_load_pd(in + 4));
          flags[ftz] = _mm_getcsr();
          _mm256_store_pd(out[ftz], r0);
          _mm256_store_pd(out[ftz] + 4, r1);
        }
        _mm_setcsr(saved);
      }
      ASSERT_EQ(flags[0] & 0x10, 0u) << e->name << ": underflow in the vector from " << std::hexfloat << in[0];
      ASSERT_EQ(f ? std::memcmp(outf[0], outf[1], 32) : std::memcmp(out[0], out[1], 64), 0)
          << e->name << ": a result moves under FTZ/DAZ, vector from " << std::hexfloat << in[0];
    }
  }
}

}  // namespace
