// Scalar helpers shared by the fpmanip lane fallbacks (plain SSE code).
#pragma once
#include <cstdint>
#include "frame/scalar.h"

namespace qarn::fpm {

template <class T> struct fmt;
template <> struct fmt<float> {
  using bits_t = uint32_t;
  static constexpr int shift = 23, bias = 127, maxe = 255, mant = 23;
  static constexpr bits_t sign = 0x80000000u, keep = 0x807FFFFFu, half = 0x3F000000u;
};
template <> struct fmt<double> {
  using bits_t = uint64_t;
  static constexpr int shift = 52, bias = 1023, maxe = 2047, mant = 52;
  static constexpr bits_t sign = 0x8000000000000000ull, keep = 0x800FFFFFFFFFFFFFull, half = 0x3FE0000000000000ull;
};

template <class T> inline typename fmt<T>::bits_t pattern(T x) { return sc::bits_of(x); }
template <class T> inline T value(typename fmt<T>::bits_t b) {
  if constexpr (sizeof(T) == 4) return sc::f_of(b); else return sc::d_of(b);
}
template <class T> inline int field(T x) { return int((pattern(x) >> fmt<T>::shift) & fmt<T>::maxe); }
template <class T> inline bool is_nan(T x) { return x != x; }
template <class T> inline bool is_zero(T x) { return (pattern(x) << 1) == 0; }
// 2^m as a T, for m inside the normal range.
template <class T> inline T pow2(int m) { return value<T>(typename fmt<T>::bits_t(m + fmt<T>::bias) << fmt<T>::shift); }

using sc::add_first;
using sc::mul_first;
// x * 1.0: quiets a signalling NaN, leaves everything else as it is.
template <class T> inline T times1(T x) { return mul_first(x, T(1)); }

}  // namespace qarn::fpm
