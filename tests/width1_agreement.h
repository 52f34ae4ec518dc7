// The agreement check of test_width1*.cpp: a kernel's width-1 pattern test
// (special_bits) against its vector test (special) along the pattern line.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>
#include <xmmintrin.h>

#include "frame/simd.h"
#include "frame/variant.h"

namespace width1 {

using qarn::pattern_t;
using qarn::var;

template <class K> bool vector_test(pattern_t<typename K::elem> p) {
  if constexpr (sizeof(typename K::elem) == 4) return qarn::movemask(K::special(qarn::bits<qarn::vf4>(p))) & 1;
  else return qarn::movemask(K::special(qarn::bits<qarn::vd2>(p))) & 1;
}

// Patterns along one line where the width-1 test (mine) and the vector test
// (says) disagree, at most a few (for the message).
template <class P, class Says, class Mine> std::vector<uint64_t> disagreements(Says vector_says, Mine mine) {
  constexpr int bits = 8 * sizeof(P);
  constexpr P step = P(1) << (bits - 20);
  std::vector<uint64_t> bad;
  auto check = [&](P p) {
    if (mine(p) != vector_says(p) && bad.size() < 8) bad.push_back(p);
  };
  P prev = 0;
  bool prev_says = vector_says(0);
  for (uint64_t i = 0; i <= (uint64_t(1) << 20); ++i) {
    P p = P(i << (bits - 20));  // the last round wraps to 0: the step from the top back to 0
    bool says = vector_says(p);
    check(p);
    if (says != prev_says) {
      P lo = prev, hi = P(prev + step);  // says(lo) == prev_says, says(hi) != prev_says
      while (P(hi - lo) > 1) {
        P mid = P(lo + (hi - lo) / 2);
        (vector_says(mid) == prev_says ? lo : hi) = mid;
      }
      for (int d = -2; d <= 2; ++d) check(P(hi + d));
    }
    prev = p;
    prev_says = says;
  }
  return bad;
}

// The two tests on every line pattern, with and without DAZ and FTZ.
template <class P, class Says, class Mine> void expect_same(const char* what, const char* mine_name, Says says, Mine mine) {
  const unsigned mxcsr = _mm_getcsr();
  for (unsigned daz_ftz : {0u, 0x8040u}) {
    _mm_setcsr(mxcsr | daz_ftz);
    std::vector<uint64_t> bad = disagreements<P>(says, mine);
    _mm_setcsr(mxcsr);
    for (uint64_t p : bad)
      ADD_FAILURE() << what << (daz_ftz ? " (DAZ, FTZ)" : "") << ": " << mine_name << " and its vector test differ at pattern 0x"
                    << std::hex << p;
  }
}

template <class K> void expect_agreement(const char* what) {
  using P = pattern_t<typename K::elem>;
  expect_same<P>(what, "special_bits", [](P p) { return vector_test<K>(p); }, [](P p) { return K::special_bits(p); });
}

// A kernel that states its tiny band apart: special_band_bits against special_band.
template <class K> void expect_band_agreement(const char* what) {
  using P = pattern_t<typename K::elem>;
  auto says = [](P p) {
    if constexpr (sizeof(P) == 4) return bool(qarn::movemask(K::special_band(qarn::bits<qarn::vf4>(p))) & 1);
    else return bool(qarn::movemask(K::special_band(qarn::bits<qarn::vd2>(p))) & 1);
  };
  expect_same<P>(what, "special_band_bits", says, [](P p) { return K::special_band_bits(p); });
}

}  // namespace width1
