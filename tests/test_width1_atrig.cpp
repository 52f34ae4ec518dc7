// The width-1 pattern tests of asin and acos against their vector tests (a file of
// its own: the inverse hyperbolic header in test_width1.cpp names a helper of
// the same name).  Both tests cover the tiny band.
#include <gtest/gtest.h>

#include "tests/width1_agreement.h"
// The constant rows, then the fallbacks the family's header names.
#include "constants.h"
#include "fallbacks.h"
#include "atrig/asin.h"

namespace {

using namespace width1;

TEST(WidthOneSpecialTest, PatternTestOfAsinAndAcos) {
  expect_agreement<qarn::asin_k<float, var::def>>("asinf");
  expect_agreement<qarn::asin_k<float, var::native>>("asinf _native");
  expect_agreement<qarn::asin_k<double, var::def>>("asin");
  expect_agreement<qarn::asin_k<double, var::native>>("asin _native");
  expect_agreement<qarn::acos_k<float, var::def>>("acosf");
  expect_agreement<qarn::acos_k<double, var::def>>("acos");
  expect_agreement<qarn::acos_k<double, var::native>>("acos _native");
}

}  // namespace
