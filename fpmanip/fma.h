// fma in float and double, default and _rm (one body).  There is no fused
// multiply-add instruction to build a vector path on: every lane, lane 3 of width
// 3 included, is computed exactly by the scalar routines of
// fpmanip/fma_fallback.cpp (the registry marks the family so).
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"

namespace qarn {

template <class T, var Vr> struct fma_k { using elem = T; };

}  // namespace qarn
