// A tiny band and a range test in one piece (see body::run_tiny in frame/frame.h).
//
// Lanes below T (zeros and subnormals in it) together with the range test
// |x| > Bp (Bp the largest ordinary pattern; NaNs too).  In 128-bit registers one
// integer compare: |x|'s pattern plus Off = 2^(n-1) - T is, as a signed number,
// above Img = Bp + Off exactly there.  In 256-bit ones two float compares.  (The
// constants are spelled out where they are used, so that each is a row in
// read-only data.)
#pragma once
#include <type_traits>

#include "frame/frame.h"

namespace qarn::bands {

template <class V> using lane_bits_t = typename lanes_of<V>::bits;
template <class U> inline constexpr U sign_bit = U(1) << (8 * sizeof(U) - 1);

template <class V, lane_bits_t<V> T, lane_bits_t<V> Bp, lane_bits_t<V> Off, lane_bits_t<V> Img>
QARN_INLINE V below_or_above(V x) {
  using U = lane_bits_t<V>;
  static_assert(Off == U(sign_bit<U> - T) && Img == U(Bp + Off) && T < Bp);
  V a = vabs(x);
  if constexpr (std::is_same_v<V, vf4> || std::is_same_v<V, vd2>) return icmpgt(iadd(a, kc<V, Off>()), kc<V, Img>());
  else return cmp<_CMP_NLE_UQ>(a, kc<V, Bp>()) | cmp<_CMP_LT_OQ>(a, kc<V, T>());
}
// The same on one lane's pattern (one unsigned compare).
template <class U, U T, U Bp> QARN_INLINE bool below_or_above_bits(U x) { return U((x & ~sign_bit<U>) - T) > U(Bp - T); }
// Two registers at once, for the hot test only (is any lane of either out of
// range or in the band?): the larger magnitudes against the range, the smaller
// against the band, two compares and an or for both registers.  max and min
// return their second operand where either is a NaN, so a NaN of x1 meets the
// first compare and one of x0 the second, which counts unordered as below.
template <class V, lane_bits_t<V> T, lane_bits_t<V> Bp> QARN_INLINE V pair_below_or_above(V x0, V x1) {
  V a0 = vabs(x0), a1 = vabs(x1);
  return cmp<_CMP_NLE_UQ>(vmax(a0, a1), kc<V, Bp>()) | cmp<_CMP_NGE_UQ>(vmin(a1, a0), kc<V, T>());
}
// The magnitudes of a test's own, not shared with the main path (an empty asm
// hides that they are the same values): kept for the main path, they take
// registers across the test and spill where the path has none to spare.
template <class V> QARN_INLINE V own_abs(V x) {
  asm("" : "+x"(x.v));
  return vabs(x);
}
// Two registers at once against a range that is not symmetric (x below Lo or
// above Hi, NaN too) and the band |x| < T: max and min return their second
// operand where either is a NaN, so x1's NaN meets the first compare and x0's the
// second, which counts unordered as below.  The magnitudes are the test's own.
template <class V, lane_bits_t<V> Lo, lane_bits_t<V> Hi, lane_bits_t<V> T>
QARN_INLINE V pair_outside_or_below(V x0, V x1) {
  return cmp<_CMP_NLE_UQ>(vmax(x0, x1), kc<V, Hi>()) | cmp<_CMP_NGE_UQ>(vmin(x1, x0), kc<V, Lo>()) |
         cmp<_CMP_LT_OQ>(vmin(own_abs(x0), own_abs(x1)), kc<V, T>());
}
// The band alone: |x| < T.
template <class V, lane_bits_t<V> T> QARN_INLINE V below(V x) { return cmp<_CMP_LT_OQ>(vabs(x), kc<V, T>()); }

}  // namespace qarn::bands
