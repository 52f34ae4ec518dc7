// erf and erfc: exact values at the ends of their ranges on every width and
// variant, erfc deep into its tail (subnormal results, the step to zero), erf of
// tiny operands, and the erfc lane fallbacks called directly.  The library's
// objects are linked in, so the exports are looked up in this program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <xmmintrin.h>

#include "support/invoke.h"
#include "support/oracle.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

extern "C" {
__attribute__((ms_abi)) void erfc_lane_fallback(const double* x, double* r);
__attribute__((ms_abi)) void erfcf_lane_fallback(const float* x, float* r);
}

namespace {

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

const Export& ex(const std::string& short_name) {
  const Export* e = qarn::reg::find("__ocl_qarn_e9_" + short_name);
  if (!e || !e->present) throw std::runtime_error(short_name + " missing");
  return *e;
}

// Every lane of export e on the operand list xs (filled lane by lane, several calls).
std::vector<double> run(const Export& e, const std::vector<double>& xs, uint32_t mxcsr = 0x1F80) {
  qa::Shape sh = qa::shape_of(e);
  std::vector<double> out;
  for (size_t i = 0; i < xs.size(); i += sh.width) {
    qa::Lanes l(sh.lanes, 0);
    for (int j = 0; j < sh.width; ++j) {
      double x = xs[std::min(i + j, xs.size() - 1)];
      l[j] = e.prec == 'f' ? qa::bits_of(float(x)) : qa::bits_of(x);
    }
    qa::Outcome o = self().call(e, {l}, i + 7, 0, mxcsr);
    for (int j = 0; j < sh.width && i + j < xs.size(); ++j)
      out.push_back(e.prec == 'f' ? double(qa::as_float(o.results[0][j])) : qa::as_double(o.results[0][j]));
  }
  return out;
}

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b)); }

std::vector<const Export*> family(const char* f) {
  std::vector<const Export*> v;
  for (const Export& e : qarn::reg::all())
    if (e.present && !std::strcmp(e.family, f)) v.push_back(&e);
  return v;
}

TEST(Erf, EndsOfTheRangeOnEveryWidthAndVariant) {
  for (const Export* e : family("erf")) {
    bool f = e->prec == 'f';
    std::vector<double> xs = {0.0, -0.0, INFINITY, -INFINITY, NAN, f ? 4.0 : 6.0, f ? -4.0 : -6.0, 1e30, -1e30};
    std::vector<double> want = {0.0, -0.0, 1.0, -1.0, NAN, 1.0, -1.0, 1.0, -1.0};
    auto got = run(*e, xs);
    for (size_t i = 0; i < xs.size(); ++i) EXPECT_TRUE(same(got[i], want[i])) << e->name << "(" << xs[i] << ") = " << got[i];
  }
}

TEST(Erfc, EndsOfTheRangeOnEveryWidthAndVariant) {
  for (const Export* e : family("erfc")) {
    bool f = e->prec == 'f';
    std::vector<double> xs = {0.0, -0.0, INFINITY, -INFINITY, NAN, -27.5, -10.1, f ? 10.1 : 27.3, 1e30, -1e30};
    std::vector<double> want = {1.0, 1.0, 0.0, 2.0, NAN, 2.0, 2.0, 0.0, 0.0, 2.0};
    auto got = run(*e, xs);
    for (size_t i = 0; i < xs.size(); ++i) EXPECT_TRUE(same(got[i], want[i])) << e->name << "(" << xs[i] << ") = " << got[i];
  }
}

// The tail: every result from well inside the normal range down through the
// subnormals to the first operand whose erfc rounds to zero.  A result must be
// within the bound, and never zero where the exact value rounds to a nonzero.
void tail(const Export& e, double from, double to, int n, bool every_float) {
  std::vector<double> xs;
  if (every_float)
    for (float x = float(from); x <= float(to); x = std::nextafter(x, INFINITY)) xs.push_back(x);
  else
    for (int i = 0; i <= n; ++i) {
      double x = from + (to - from) * i / n;
      xs.push_back(e.prec == 'f' ? double(float(x)) : x);
    }
  auto got = run(e, xs);
  double worst = 0, wx = 0;
  for (size_t i = 0; i < xs.size(); ++i) {
    double want = qarn::oracle::reference("erfc", e.prec, xs[i]);
    double err = qarn::oracle::ulp_error("erfc", e.prec, xs[i], got[i]);
    if (err > worst) worst = err, wx = xs[i];
    ASSERT_EQ(want == 0, got[i] == 0) << e.name << "(" << std::hexfloat << xs[i] << ") = " << got[i] << ", want " << want;
    ASSERT_FALSE(std::signbit(got[i])) << e.name << "(" << std::hexfloat << xs[i] << ")";
  }
  EXPECT_LE(worst, e.ulp) << e.name << " at " << std::hexfloat << wx;
}

TEST(Erfc, FloatTailEveryOperandDownToZero) {
  for (const char* n : {"erfcf1", "erfcf8_native"}) {
    tail(ex(n), 10.04, 10.0625, 0, true);  // the last subnormals, the zero step, the fallback band
    tail(ex(n), 9.0, 10.04, 3000, false);
  }
}

TEST(Erfc, DoubleTailDownToZero) {
  for (const char* n : {"erfc4", "erfc2_native"}) {
    tail(ex(n), 25.0, 27.25, 6000, false);
    // Either side of the bound above which the lane fallback gives +0.
    double b = qa::as_double(0x403B39DC41E48BFDull);
    std::vector<double> edge;
    for (int k = -200; k <= 200; ++k) edge.push_back(b + k * 0x1p-47);
    auto got = run(ex(n), edge);
    for (size_t i = 0; i < edge.size(); ++i)
      EXPECT_LE(qarn::oracle::ulp_error("erfc", 'd', edge[i], got[i]), 1.0) << std::hexfloat << edge[i];
  }
}

// Below the point where d^2 would underflow the result is (2/sqrt(pi))*x rounded
// once: never flushed to zero, sign kept, within an ulp down to the last subnormal
// (float: 1.16 ulp, the float 2/sqrt(pi) being half an ulp off).
TEST(Erf, TinyOperandsScaleByTheLeadingTerm) {
  for (const char* n : {"erf1", "erf4_native", "erff1", "erff8_native"}) {
    const Export& e = ex(n);
    bool f = e.prec == 'f';
    std::vector<double> xs;
    for (int k = f ? -149 : -1074; k <= (f ? -20 : -200); k += 3)
      for (double m : {1.0, 1.37, 1.999}) xs.insert(xs.end(), {std::ldexp(m, k), -std::ldexp(m, k)});
    auto got = run(e, xs);
    for (size_t i = 0; i < xs.size(); ++i) {
      double x = f ? double(float(xs[i])) : xs[i];
      EXPECT_NE(got[i], 0.0) << n << "(" << x << ")";
      EXPECT_EQ(std::signbit(got[i]), std::signbit(x));
      EXPECT_LE(qarn::oracle::ulp_error("erf", e.prec, x, got[i]), f ? 1.2 : 1.0) << n << "(" << std::hexfloat << x << ")";
    }
  }
}

// The double fallback is a whole erfc: below its bound it gives the main path's
// bits; at and above it +0; NaN stays NaN.
TEST(ErfcFallback, WholeFunctionAndItsBounds) {
  std::vector<double> xs;
  for (int i = 0; i < 3000; ++i) xs.push_back(-30.0 + 57.2 * i / 3000);
  auto main_path = run(ex("erfc1"), xs);
  for (size_t i = 0; i < xs.size(); ++i) {
    double r = -1;
    erfc_lane_fallback(&xs[i], &r);
    EXPECT_TRUE(same(r, main_path[i])) << std::hexfloat << xs[i];
  }
  for (double x : {27.226017111108366, 27.5, 1e300, double(INFINITY)}) {
    double r = -1;
    erfc_lane_fallback(&x, &r);
    EXPECT_TRUE(same(r, 0.0)) << x;
  }
  double nan = NAN, r = 0;
  erfc_lane_fallback(&nan, &r);
  EXPECT_TRUE(std::isnan(r));

  // The one float below the float bound that reaches the fallback rounds up to the
  // smallest subnormal; its successor is past the bound.
  float x = qa::as_float(0x4120DDFB), rf = -1;
  erfcf_lane_fallback(&x, &rf);
  EXPECT_EQ(qa::bits_of(rf), 1ull);
  x = qa::as_float(0x4120DDFC);
  erfcf_lane_fallback(&x, &rf);
  EXPECT_EQ(qa::bits_of(rf), 0ull);
  for (float y : {INFINITY, 11.0f, 3e38f}) {
    rf = -1;
    erfcf_lane_fallback(&y, &rf);
    EXPECT_EQ(qa::bits_of(rf), 0ull) << y;
  }
  float fn = NAN;
  erfcf_lane_fallback(&fn, &rf);
  EXPECT_TRUE(std::isnan(rf));
}

// From 26.5 on, where erfc's result may be subnormal, the cold part forms it
// without the scaling product; the double lane fallback is the whole function in
// scalar code, that product included.  The two agree in every rounding direction,
// with subnormal results flushed or not, whatever the register's other lanes hold
// (ordinary operands, the band the fallback finishes, NaN).
TEST(Erfc, SubnormalTailAgreesWithTheScalarFunctionEverywhere) {
  std::vector<double> xs;
  uint64_t s = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 3500; ++i) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    double u = double(s >> 11) * 0x1p-53;
    if (i % 7 == 0) xs.push_back(3.0 - 5.0 * u);
    else if (i % 7 == 1) xs.push_back(i % 49 == 1 ? NAN : 27.22 + 0.02 * u);
    else xs.push_back(26.5 + 0.7264 * u);
  }
  for (uint64_t b : {0x403A800000000000ull, 0x403A8B1000000000ull, 0x403B39DC41E48BFDull})  // 26.5, 26.54, the bound
    for (int k = -3; k <= 3; ++k) xs.push_back(qa::as_double(b + k));
  int bad = 0;
  for (uint32_t mode = 0; mode < 4; ++mode)
    for (uint32_t ftz : {0u, 0x8000u}) {
      const uint32_t csr = 0x1F80u | mode << 13 | ftz;
      std::vector<double> want(xs.size());
      _mm_setcsr(csr);
      for (size_t i = 0; i < xs.size(); ++i) erfc_lane_fallback(&xs[i], &want[i]);
      _mm_setcsr(0x1F80u);
      for (const char* n : {"erfc1", "erfc2", "erfc3", "erfc4", "erfc8", "erfc16"}) {
        auto got = run(ex(n), xs, csr);
        for (size_t i = 0; i < xs.size(); ++i)
          if (!same(got[i], want[i]) && ++bad <= 8)
            ADD_FAILURE() << n << "(" << std::hexfloat << xs[i] << ") MXCSR 0x" << std::hex << csr << ": " << got[i]
                          << ", scalar " << want[i];
      }
    }
  EXPECT_EQ(bad, 0);
}

}  // namespace
