// Toy kernels, one per calling form, for the frame's own tests: small-integer
// arithmetic that every lane gets exactly, so the tests can predict each lane.
//   result   2x (+ 3y) (+ 5z) (+ n);   f:i: the int 2x
//   second   x - 1 (floating) or the int x + 7
//   special  x < 0;  fix-up: x == -1 gives 1000 inline (the second stays the main path's)
//   nan's code form: the pattern with its sign bit flipped, no special lanes
// The lane fallbacks (toys_fallback.cpp) add 0.5 to the result (100 to an int
// result) and 0.25 to a floating second result (100 to an int one).
#pragma once
#include "frame/frame.h"

namespace qarn::toy {

template <class V> QARN_INLINE V k(double v) { return frame::splat<V>(elem_t<V>(v)); }
template <class V> QARN_INLINE V negative(V x) { return cmp<_CMP_LT_OQ>(x, k<V>(0)); }
template <class V> QARN_INLINE V minus_one(V x) { return cmp<_CMP_EQ_OQ>(x, k<V>(-1)); }

template <class T> struct base {
  using elem = T;
  template <class V, class... A> static QARN_INLINE V special(V x, A...) { return negative(x); }
  // x == -1: 1000 in the result, inline (the second result stays the main path's).
  template <class V> static QARN_INLINE V fix(V x, V& r) {
    V m = minus_one(x);
    r = blend(m, r, k<V>(1000));
    return m;
  }
};

template <class T> struct toy1 : base<T> {
  template <class V> static QARN_INLINE V main(V x) { return x * k<V>(2); }
  template <class V> static QARN_INLINE V fixup(V x, V& r) { return base<T>::fix(x, r); }
};
template <class T> struct toy2 : base<T> {
  template <class V> static QARN_INLINE V main(V x, V y) { return x * k<V>(2) + y * k<V>(3); }
  template <class V> static QARN_INLINE V fixup(V x, V, V& r) { return base<T>::fix(x, r); }
};
template <class T> struct toy3 : base<T> {
  template <class V> static QARN_INLINE V main(V x, V y, V z) { return (x * k<V>(2) + y * k<V>(3)) + z * k<V>(5); }
  template <class V> static QARN_INLINE V fixup(V x, V, V, V& r) { return base<T>::fix(x, r); }
};
template <class T> struct toyn : base<T> {
  template <class V> static QARN_INLINE V main(V x, idx_t<V> n) { return x * k<V>(2) + to_floating<V>(n); }
  template <class V> static QARN_INLINE V fixup(V x, idx_t<V>, V& r) { return base<T>::fix(x, r); }
};
template <class T> struct toyi {
  using elem = T;
  template <class V> static QARN_INLINE idx_t<V> main(V x) { return to_idx(x * k<V>(2)); }
  template <class V> static QARN_INLINE V special(V x) { return negative(x); }
};
template <class T> struct toyc {
  using elem = T;
  template <class V> static QARN_INLINE V main(V code) { return code ^ k<V>(-0.0); }
};
template <class T> struct toys : base<T> {
  using second = T;
  template <class V> static QARN_INLINE V main(V x, V& s) {
    s = x - k<V>(1);
    return x * k<V>(2);
  }
  template <class V> static QARN_INLINE V fixup(V x, V& r, V&) { return base<T>::fix(x, r); }
};
template <class T> struct toysi : base<T> {
  using second = int32_t;
  template <class V> static QARN_INLINE V main(V x, idx_t<V>& s) {
    s = to_idx(x + k<V>(7));
    return x * k<V>(2);
  }
  template <class V> static QARN_INLINE V fixup(V x, V& r, idx_t<V>&) { return base<T>::fix(x, r); }
};
template <class T> struct toy2si : base<T> {
  using second = int32_t;
  template <class V> static QARN_INLINE V main(V x, V y, idx_t<V>& s) {
    s = to_idx(x + k<V>(7));
    return x * k<V>(2) + y * k<V>(3);
  }
  template <class V> static QARN_INLINE V fixup(V x, V, V& r, idx_t<V>&) { return base<T>::fix(x, r); }
};

}  // namespace qarn::toy
