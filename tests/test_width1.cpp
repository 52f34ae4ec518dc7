// Width 1 tests its one lane in integer registers (a kernel's special_bits) where
// the wider exports compare vectors (special): both must mark the same patterns,
// or a lane would take a different road at width 1 than at width 8.  Every point
// where special() changes its answer along the pattern line is found by a coarse
// scan and bisection, and special_bits is held to special() at the scanned
// patterns and at each change and its neighbours, under the default MXCSR and
// with denormals read as zero (compilers of kernels often set DAZ and FTZ).
// pow's test is split at width 1 into the operands' patterns and the range of
// y*log x: the two together must be special(), along lines of x with y held and
// lines of y with x held.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>

#include "explog/exp.h"
#include "explog/expm1.h"
#include "explog/log1p.h"
#include "explog/log.h"
#include "pow/pow.h"
#include "hyper/asinh.h"
#include "trig/sincos.h"
#include "constants.h"
#include "fallbacks.h"
#include "tests/width1_agreement.h"

namespace {

using namespace width1;

TEST(WidthOneSpecialTest, MarksTheLanesTheVectorTestMarks) {
  expect_agreement<qarn::exp_k<float, var::def>>("expf");
  expect_agreement<qarn::exp_k<double, var::def>>("exp");
  expect_agreement<qarn::log_k<float, var::def>>("logf");
  expect_agreement<qarn::log_k<double, var::def>>("log");
  expect_agreement<qarn::log2_k<float, var::def>>("log2f");
  expect_agreement<qarn::log2_k<double, var::def>>("log2");
  expect_agreement<qarn::log10_k<float, var::def>>("log10f");
  expect_agreement<qarn::log10_k<double, var::def>>("log10");
  expect_agreement<qarn::log1p_k<float, var::def>>("log1pf");
  expect_agreement<qarn::log1p_k<double, var::def>>("log1p");
  expect_agreement<qarn::log1p_k<double, var::native>>("log1p _native");
  expect_agreement<qarn::asinh_k<float, var::def>>("asinhf");
  expect_agreement<qarn::asinh_k<double, var::def>>("asinh");
  expect_agreement<qarn::acosh_k<float, var::def>>("acoshf");
  expect_agreement<qarn::acosh_k<double, var::def>>("acosh");
  expect_agreement<qarn::cos_k<float, var::def>>("cosf");
}

// Kernels whose pattern test also covers their tiny band (the band's lanes take
// the cold part, which finishes them).
TEST(WidthOneSpecialTest, PatternTestCoversTheTinyBand) {
  expect_agreement<qarn::sin_k<float, var::def>>("sinf");
  expect_agreement<qarn::sin_k<float, var::native>>("sinf _native");
}

// Kernels whose tiny band has its own pattern test at width 1 (special_band_bits):
// it must mark exactly the lanes of the vector test with the band (special_band),
// or a special lane would stay on the main path at width 1.
TEST(WidthOneSpecialTest, BandPatternTestMarksTheBandTestsLanes) {
  expect_band_agreement<qarn::exp_k<float, var::def>>("expf");
  expect_band_agreement<qarn::exp_k<float, var::native>>("expf _native");
  expect_band_agreement<qarn::exp_k<double, var::def>>("exp");
  expect_band_agreement<qarn::exp2_k<float, var::native>>("exp2f _native");
  expect_band_agreement<qarn::exp2_k<double, var::native>>("exp2 _native");
  expect_band_agreement<qarn::exp10_k<float, var::native>>("exp10f _native");
  expect_band_agreement<qarn::exp10_k<double, var::native>>("exp10 _native");
  expect_band_agreement<qarn::log1p_k<float, var::def>>("log1pf");
  expect_band_agreement<qarn::log1p_k<double, var::def>>("log1p");
  expect_band_agreement<qarn::log1p_k<double, var::native>>("log1p _native");
}

// Two operands: the lane's patterns, special() on copies of them in every lane,
// and the width-1 split of it; with Band, the test with the tiny band
// (special_band) and its split (special_band_bits and the same rest).
template <class K, bool Band> struct Split {
  using T = typename K::elem;
  using P = pattern_t<T>;
  using V = std::conditional_t<sizeof(T) == 4, qarn::vf4, qarn::vd2>;
  static V test(V x, V y) {
    if constexpr (Band) return K::special_band(x, y);
    else return K::special(x, y);
  }
  static bool bits(P x, P y) {
    if constexpr (Band) return K::special_band_bits(x, y);
    else return K::special_bits(x, y);
  }
  static bool vec(P x, P y) { return qarn::movemask(test(qarn::bits<V>(x), qarn::bits<V>(y))) & 1; }
  static bool split(P x, P y) {
    return bits(x, y) || (qarn::movemask(K::template special_rest<V, 1>(qarn::bits<V>(x), qarn::bits<V>(y))) & 1);
  }
};

template <class K, bool Band = false>
void expect_split_agreement(const char* what, std::initializer_list<typename K::elem> held) {
  if constexpr (!Band && requires(pattern_t<typename K::elem> p) { K::special_band_bits(p, p); })
    expect_split_agreement<K, true>(what, held);
  using S = Split<K, Band>;
  using P = typename S::P;
  const unsigned mxcsr = _mm_getcsr();
  for (unsigned daz_ftz : {0u, 0x8040u}) {
    _mm_setcsr(mxcsr | daz_ftz);
    for (auto h : held) {
      P hp = __builtin_bit_cast(P, h);
      for (int line = 0; line < 2; ++line) {
        auto at = [&](P p, auto f) { return line ? f(hp, p) : f(p, hp); };
        std::vector<uint64_t> bad = disagreements<P>([&](P p) { return at(p, S::vec); },
                                                     [&](P p) { return at(p, S::split); });
        for (uint64_t p : bad)
          ADD_FAILURE() << what << (Band ? " with its tiny band" : "") << (daz_ftz ? " (DAZ, FTZ)" : "")
                        << ": split test and special differ at " << (line ? "x = " : "y = ") << double(h) << ", "
                        << (line ? "y" : "x") << " pattern 0x" << std::hex << p << std::dec;
      }
    }
    _mm_setcsr(mxcsr);
  }
}

TEST(WidthOneSpecialTest, SplitTestOfPowIsItsVectorTest) {
  // Held values: 1 (no range limit), values next to the thresholds of y*log x,
  // the extremes of the normal range, and negative and non-finite operands.
  expect_split_agreement<qarn::pow_k<float, var::def>>(
      "powf", {1.0f, 2.0f, 0.5f, 1.0000001f, 0.9999999f, 0x1p-126f, 0x1.fffffcp127f, 150.0f, -3.0f, 0.0f,
               __builtin_inff(), __builtin_nanf("")});
  expect_split_agreement<qarn::pow_k<double, var::def>>(
      "pow", {1.0, 2.0, 0.5, 1.0000000000000002, 0.9999999999999999, 0x1p-1022, 0x1.fffffffffffffp1023, 1100.0,
              -3.0, 0.0, __builtin_inf(), __builtin_nan("")});
  expect_split_agreement<qarn::pow_k<double, var::native>>("pow _native", {1.0, 2.0, 0.5, 0x1p-1022, 750.0, -3.0});
  expect_split_agreement<qarn::powr_k<double, var::def>>("powr", {1.0, 2.0, 0x1.fffffffffffffp1023, 1100.0});
  expect_split_agreement<qarn::pow_k<float, var::native>>("powf _native", {1.0f, 2.0f, 0x1p-126f, 150.0f, -3.0f});
  expect_split_agreement<qarn::pow_k<float, var::rm>>("powf _rm", {1.0f, 0.5f, 0x1p-110f, 0x1.fffffep-111f, 0.0f});
}

}  // namespace
