// fabs, copysign, nan, ilogb, logb, frexp, ldexp, modf, fract, nextafter in float
// and double.  Everything works on the lane patterns: exponent fields are read,
// replaced or stepped with integer operations.  fabs, copysign and nan have no
// special lanes; the others send zeros, subnormals, infinities and NaNs (and
// ldexp results out of the normal range, nextafter steps near the ends of the
// normal range) to their lane fallbacks (fpmanip/decomp_fallback.cpp).
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"

namespace qarn {

namespace dk {
// Per-precision constants and exponent-field geometry.
template <class T> struct fmt;
template <> struct fmt<float> {
  using bits_t = uint32_t;
  static constexpr int shift = 23, bias = 127, maxe = 255;
  static constexpr bits_t sign = 0x80000000u, expo = 0x7F800000u, quiet = 0x7FC00000u;
  static constexpr bits_t keep = 0x807FFFFFu, half = 0x3F000000u;       // sign and fraction; 0.5
  static constexpr bits_t below1 = 0x3F7FFFFFu;                          // largest value below 1
  static constexpr bits_t min_normal = 0x00800000u, top = 0x7F800000u;  // nextafter's range
};
template <> struct fmt<double> {
  using bits_t = uint64_t;
  static constexpr int shift = 52, bias = 1023, maxe = 2047;
  static constexpr bits_t sign = 0x8000000000000000ull, expo = 0x7FF0000000000000ull, quiet = 0x7FF8000000000000ull;
  static constexpr bits_t keep = 0x800FFFFFFFFFFFFFull, half = 0x3FE0000000000000ull;
  static constexpr bits_t below1 = 0x3FEFFFFFFFFFFFFFull;
  static constexpr bits_t min_normal = 0x0010000000000000ull, top = 0x7FD0000000000000ull;  // top: 2^1022
};
template <class V> using F = fmt<elem_t<V>>;
// Constant rows: a memory operand where the build made a row for the value.
template <class V, typename F<V>::bits_t B> QARN_INLINE V c() { return kc<V, B>(); }

// The biased exponent field of each lane, as an integer in the lane.
template <class V> QARN_INLINE V field(V x) { return ishr<F<V>::shift>(vabs(x)); }
// Lanes whose exponent field is zero (zero, subnormal) or all ones (infinity, NaN).
template <class V> QARN_INLINE V edge(V x) {
  V e = x & c<V, F<V>::expo>();
  return cmp<_CMP_EQ_OQ>(e, c<V, 0>()) | cmp<_CMP_EQ_OQ>(e, c<V, F<V>::expo>());
}
template <class V> QARN_INLINE V nonfinite(V x) { return cmp<_CMP_EQ_OQ>(x & c<V, F<V>::expo>(), c<V, F<V>::expo>()); }

template <class T> struct base {
  using elem = T;
};
}  // namespace dk

template <class T, var Vr> struct fabs_k : dk::base<T> {
  template <class V> static QARN_INLINE V main(V x) { return vabs(x); }
};

template <class T, var Vr> struct copysign_k : dk::base<T> {
  template <class V> static QARN_INLINE V main(V x, V y) {
    V s = dk::c<V, dk::F<V>::sign>();
    return andnot(x, s) | (y & s);
  }
};

// The code is ORed in whole: bits above the fraction land in the exponent or sign.
template <class T, var Vr> struct nan_k {
  using elem = T;
  template <class V> static QARN_INLINE V main(V code) { return code | dk::c<V, dk::F<V>::quiet>(); }
};

template <class T, var Vr> struct ilogb_k : dk::base<T> {
  template <class V> static QARN_INLINE idx_t<V> main(V x) {
    return low32(isub(dk::field(x), dk::c<V, dk::F<V>::bias>()));
  }
  template <class V> static QARN_INLINE V special(V x) { return dk::edge(x); }
};

// The unbiased exponent, converted to floating (exact, and +0 for 1.0 in every
// rounding mode).
template <class T, var Vr> struct logb_k : dk::base<T> {
  template <class V> static QARN_INLINE V main(V x) {
    return to_floating<V>(low32(isub(dk::field(x), dk::c<V, dk::F<V>::bias>())));
  }
  template <class V> static QARN_INLINE V special(V x) { return dk::edge(x); }
};

// Mantissa in [0.5, 1) with x's sign; exponent field - (bias - 1).
template <class T, var Vr> struct frexp_k : dk::base<T> {
  using second = int32_t;
  template <class V> static QARN_INLINE V main(V x, idx_t<V>& e) {
    using F = dk::F<V>;
    e = low32(isub(dk::field(x), dk::c<V, F::bias - 1>()));
    return (x & dk::c<V, F::keep>()) | dk::c<V, F::half>();
  }
  template <class V> static QARN_INLINE V special(V x) { return dk::edge(x); }
};

// k, clamped to [-65536, 65536], is added to the exponent field; lanes whose field
// or result field leaves 1..max-1 go to the fallback.
template <class T, var Vr> struct ldexp_k : dk::base<T> {
  static constexpr bool test_shares_main = true;
  template <class V> static QARN_INLINE V kk(idx_t<V> k) { return widen<V>(clamp(k, -65536, 65536)); }
  template <class V> static QARN_INLINE V main(V x, idx_t<V> k) { return iadd(x, ishl<dk::F<V>::shift>(kk<V>(k))); }
  template <class V> static QARN_INLINE V special(V x, idx_t<V> k) {
    using F = dk::F<V>;
    V e = dk::field(x), n = iadd(e, kk<V>(k));
    V one = dk::c<V, 1>(), top = dk::c<V, F::maxe - 1>();
    return (icmpgt(one, e) | icmpgt(e, top)) | (icmpgt(one, n) | icmpgt(n, top));
  }
};

// Integral part toward zero; the fractional part takes x's sign, so that an
// integral negative x gives -0 (whatever the rounding mode of the subtraction).
template <class T, var Vr> struct modf_k : dk::base<T> {
  using second = T;
  template <class V> static QARN_INLINE V main(V x, V& ip) {
    V s = dk::c<V, dk::F<V>::sign>();
    ip = vround<0x3>(x);
    return andnot(x - ip, s) | (x & s);
  }
  template <class V> static QARN_INLINE V special(V x) { return dk::nonfinite(x); }
};

// x - floor(x), held below 1 (a tiny negative x would round the difference up to 1).
template <class T, var Vr> struct fract_k : dk::base<T> {
  using second = T;
  template <class V> static QARN_INLINE V main(V x, V& fl) {
    fl = vround<0x1>(x);
    return vmin(andnot(x - fl, dk::c<V, dk::F<V>::sign>()), dk::c<V, dk::F<V>::below1>());
  }
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_EQ_OQ>(x, dk::c<V, 0>()) | dk::nonfinite(x);
  }
};

// On the patterns as signed integers: one step down the pattern when the signs
// differ or x > y, else one step up; equal patterns give x.  Lanes where x, y or
// the result is below the smallest normal or at the top of the range (float:
// infinity or NaN; double: 2^1022 and above) go to the fallback.
template <class T, var Vr> struct nextafter_k : dk::base<T> {
  static constexpr bool test_shares_main = true;
  template <class V> static QARN_INLINE V main(V x, V y) {
    V one = dk::c<V, 1>();
    V down = (x ^ y) | icmpgt(x, y);
    return blend(icmpeq(x, y), blend(down, iadd(x, one), isub(x, one)), x);
  }
  template <class V> static QARN_INLINE V out(V v) {
    using F = dk::F<V>;
    V a = vabs(v);
    return cmp<_CMP_LT_OQ>(a, dk::c<V, F::min_normal>()) | cmp<_CMP_NLT_UQ>(a, dk::c<V, F::top>());
  }
  template <class V> static QARN_INLINE V special(V x, V y) { return (out(x) | out(y)) | out(main(x, y)); }
};

}  // namespace qarn
