// ceil, floor, trunc, round, rint, nearbyint in float and double.
//
// Every lane goes through the rounding instruction; nothing is special.  The
// immediate picks the direction: 0x2 up, 0x1 down, 0x3 toward zero, 0x0 nearest
// even (used by round), and 0x4 / 0xC take the direction from MXCSR (rint, and
// nearbyint with the precision exception suppressed).  NaNs come back quieted
// with their payload, infinities and zeros unchanged, and a result that rounds
// to zero keeps the argument's sign.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"

namespace qarn {

namespace rnd_k {
template <class T, int Imm> struct by_imm {
  using elem = T;
  template <class V> static QARN_INLINE V main(V x) { return vround<Imm>(x); }
};

// Half away from zero: round |x| to nearest even, add one where that went down
// from an exact tie (|x| - r == 0.5 exactly), and put the sign back.
template <class T> struct half_away {
  using elem = T;
  template <class V> static QARN_INLINE V main(V x) {
    constexpr bool f = sizeof(T) == 4;
    V sign = kc<V, (f ? 0x80000000u : 0x8000000000000000ull)>();
    V s = x & sign;
    V a = andnot(x, sign);
    V r = vround<0x0>(a);
    V tie = cmp<_CMP_EQ_OQ>(a - r, kc<V, (f ? 0x3F000000u : 0x3FE0000000000000ull)>());
    r = r + (tie & kc<V, (f ? 0x3F800000u : 0x3FF0000000000000ull)>());
    return r | s;
  }
};
}  // namespace rnd_k

template <class T, var Vr> struct ceil_k : rnd_k::by_imm<T, 0x2> {};
template <class T, var Vr> struct floor_k : rnd_k::by_imm<T, 0x1> {};
template <class T, var Vr> struct trunc_k : rnd_k::by_imm<T, 0x3> {};
template <class T, var Vr> struct rint_k : rnd_k::by_imm<T, 0x4> {};
template <class T, var Vr> struct nearbyint_k : rnd_k::by_imm<T, 0xC> {};
template <class T, var Vr> struct round_k : rnd_k::half_away<T> {};

}  // namespace qarn
