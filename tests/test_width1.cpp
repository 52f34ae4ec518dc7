// Width 1 tests its one lane in integer registers (a kernel's special_bits) where
// the wider exports compare vectors (special): both must mark the same patterns,
// or a lane would take a different road at width 1 than at width 8.  Every point
// where special() changes its answer along the pattern line is found by a coarse
// scan and bisection, and special_bits is held to special() at the scanned
// patterns and at each change and its neighbours, under the default MXCSR and
// with denormals read as zero (compilers of kernels often set DAZ and FTZ).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>
#include <xmmintrin.h>

#include "explog/exp.h"
#include "explog/log.h"
#include "constants.h"

namespace {

using qarn::pattern_t;
using qarn::var;

template <class K> bool vector_says(pattern_t<typename K::elem> p) {
  if constexpr (sizeof(typename K::elem) == 4) return qarn::movemask(K::special(qarn::bits<qarn::vf4>(p))) & 1;
  else return qarn::movemask(K::special(qarn::bits<qarn::vd2>(p))) & 1;
}

// Patterns where the two disagree (at most a few, for the message).
template <class K> std::vector<uint64_t> disagreements() {
  using P = pattern_t<typename K::elem>;
  constexpr int bits = 8 * sizeof(P);
  constexpr P step = P(1) << (bits - 20);
  std::vector<uint64_t> bad;
  auto check = [&](P p) {
    if (K::special_bits(p) != vector_says<K>(p) && bad.size() < 8) bad.push_back(p);
  };
  P prev = 0;
  bool prev_says = vector_says<K>(0);
  for (uint64_t i = 0; i <= (uint64_t(1) << 20); ++i) {
    P p = P(i << (bits - 20));  // the last round wraps to 0: the step from the top back to 0
    bool says = vector_says<K>(p);
    check(p);
    if (says != prev_says) {
      P lo = prev, hi = P(prev + step);  // says(lo) == prev_says, says(hi) != prev_says
      while (P(hi - lo) > 1) {
        P mid = P(lo + (hi - lo) / 2);
        (vector_says<K>(mid) == prev_says ? lo : hi) = mid;
      }
      for (int d = -2; d <= 2; ++d) check(P(hi + d));
    }
    prev = p;
    prev_says = says;
  }
  return bad;
}

template <class K> void expect_agreement(const char* what) {
  const unsigned mxcsr = _mm_getcsr();
  for (unsigned daz_ftz : {0u, 0x8040u}) {
    _mm_setcsr(mxcsr | daz_ftz);
    std::vector<uint64_t> bad = disagreements<K>();
    _mm_setcsr(mxcsr);
    for (uint64_t p : bad)
      ADD_FAILURE() << what << (daz_ftz ? " (DAZ, FTZ)" : "") << ": special_bits and special differ at pattern 0x"
                    << std::hex << p;
  }
}

TEST(WidthOneSpecialTest, MarksTheLanesTheVectorTestMarks) {
  expect_agreement<qarn::exp_k<float, var::def>>("expf");
  expect_agreement<qarn::exp_k<double, var::def>>("exp");
  expect_agreement<qarn::log_k<float, var::def>>("logf");
  expect_agreement<qarn::log_k<double, var::def>>("log");
  expect_agreement<qarn::log2_k<float, var::def>>("log2f");
  expect_agreement<qarn::log2_k<double, var::def>>("log2");
  expect_agreement<qarn::log10_k<float, var::def>>("log10f");
  expect_agreement<qarn::log10_k<double, var::def>>("log10");
}

}  // namespace
