// lgamma, lgamma_r and tgamma in float and double.  These families have no vector
// main path: every lane, lane 3 of width 3 included, goes to the scalar routine in
// special/gamma_fallback.cpp (the registry marks them so), which returns the
// result and, for lgamma_r, the sign of Gamma(x) through the second pointer.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"

namespace qarn {

template <class T, var Vr> struct lgamma_k { using elem = T; };
template <class T, var Vr> struct tgamma_k { using elem = T; };
template <class T, var Vr> struct lgammar_k {
  using elem = T;
  using second = int32_t;
};

}  // namespace qarn
