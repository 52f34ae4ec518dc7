// erf and erfc in float and double, default and _native.
//
// One scheme for all four: |x| is rounded to the nearest grid point X0 = m*h, the
// table gives the function at X0 and its derivative E = (2/sqrt(pi))*exp(-X0^2)
// there, and a short polynomial in T = X0*d and d^2 (d = |x| - X0) corrects the
// linear step E*d.  Since erf(X0 + d) = erf(X0) + E*(d - T*d + ...), the
// correction Q multiplies the linear term: result = erf(X0) + E*d*(1 + Q).
//
// erf finishes every lane here: a' = min(|x|, last grid point) turns NaN and
// infinities into table lanes (the minimum returns its second operand for NaN),
// and min(d, |x|) brings the NaN back.  Past the last point d = 0 and the table's
// value 1.0 is the result.  Below 2^-256 (double) or 2^-32 (float) the d^2 terms
// are dropped, so the result is E(0)*x, the exact leading term.
//
// erfc keeps its table scaled by 2^128 (double) or 2^48 (float), so that values
// far below the smallest normal keep full precision; the result is scaled back by
// one multiplication, which rounds subnormal results once.  Negative x reuses the
// same lanes: B2 = -2^129 (-2^49) and R = -2^-128 (-2^-48) turn F - corr into
// 2 - erfc(|x|).  Lanes whose result is below half the smallest subnormal (and NaN,
// +infinity) go to the lane fallback.  Where the result may be subnormal the
// scaling product would take a microcode assist on every register holding such a
// lane; those registers take the cold part, which forms the same result without a
// subnormal product (erfck::unscale).
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "tables/erf_tables.h"

namespace qarn {

template <class T, var Vr> struct erf_k;

template <var Vr> struct erf_k<float, Vr> {
  using elem = float;
  static constexpr bool has_special = false;

  template <class V> static QARN_INLINE V main(V x) {
    V a = vabs(x);
    V s = x ^ a;
    V ap = vmin(a, kc<V, 0x407B8000>());          // 3.9296875, the last grid point
    V S = ap + kc<V, 0x47800000>();               // 2^16: rounds to a multiple of 1/128
    V X0 = S - kc<V, 0x47800000>();
    auto t = lookup2(tab::ERFf, low32(S) & 511);
    V d = ap - X0;
    V sd = vmin(d, a);
    if constexpr (Vr == var::def) {
      V D = d & cmp<_CMP_GT_OQ>(ap, kc<V, 0x2F800000>());  // 2^-32
      V T = d * X0;
      V v = sd + sd * (kc<V, 0xBEAAAADE>() * (D * D) - T);
      return (v * t.lo + t.hi) | s;
    } else {
      return (sd * t.lo + t.hi) | s;
    }
  }
};

template <var Vr> struct erf_k<double, Vr> {
  using elem = double;
  static constexpr bool has_special = false;

  template <class V> static QARN_INLINE V main(V x) {
    V a = vabs(x);
    V s = x ^ a;
    V ap = vmin(a, kc<V, 0x4017F80000000000ull>());  // 5.9921875, the last grid point
    V S = ap + kc<V, 0x42C0000000000000ull>();       // 2^45: rounds to a multiple of 1/128
    V X0 = S - kc<V, 0x42C0000000000000ull>();
    auto t = lookup2(tab::ERFd, low32(S));
    V d = ap - X0;
    V D = d & cmp<_CMP_GT_OQ>(ap, kc<V, 0x2FF0000000000000ull>());  // 2^-256
    V sd = vmin(d, a) ^ s;
    V T = X0 * d;
    V D2 = D * D;
    V Q;
    if constexpr (Vr == var::def) {
      V A = kc<V, 0x3FE5555555554B0Cull>() +
            T * (kc<V, 0xBFD55555555547F6ull>() + T * (kc<V, 0x3FC1111235A363B1ull>() + T * kc<V, 0xBFA6C16DB05BDEA5ull>()));
      V B = kc<V, 0x3FDFFFFFFFFFD4CDull>() + T * (kc<V, 0xBFD9999C2BE2DDA8ull>() + T * kc<V, 0x3FCC71CA1C71EB57ull>());
      V C = kc<V, 0xBFD5555555555555ull>() + D2 * (kc<V, 0x3FB9999E2BE2F122ull>() + T * kc<V, 0xBFC5555800001B4Full>());
      Q = ((T * T) * A - T) + D2 * (T * B + C);
    } else {
      Q = T * (kc<V, 0xBFF0000180001429ull>() + T * kc<V, 0x3FE55557BBBBDCA6ull>()) +
          D2 * (kc<V, 0xBFD5555C88892F64ull>() + T * kc<V, 0x3FE0000400005666ull>());
    }
    V L = t.lo * sd;
    return ((Q * L + L) + (t.hi ^ s)) | s;
  }
};

template <class T, var Vr> struct erfc_k;

namespace erfck {
// y*R (R = +-2^-48, double +-2^-128) without a subnormal product.  Where |y| is
// below 2^-78 (2^-894) the product would be below the smallest normal number:
// there y + 2^-78 rounds y to a multiple of 2^-101 (2^-946) in the current
// direction, as the product would round it to a subnormal, and that sum times
// 2^-48, in [2^-126, 2^-125], less 2^-126 is the product's result exactly (a
// subtraction rounds nothing and takes no assist).  Every erfc is positive: the
// absolute value keeps a zero difference +0 in every direction.  Where subnormal
// results are flushed (FTZ) those lanes are +0, as the product gives them (even
// where it rounds up to the smallest normal number: its exact value was below);
// 1.5*2^-126 - 2^-126 tells, being 0 there (reading MXCSR costs more than the rest).
template <class V> QARN_INLINE V unscale(V y, V R) {
  V c, k, h;
  if constexpr (sizeof(elem_t<V>) == 4) c = kc<V, 0x18800000u>(), k = kc<V, 0x00800000u>(), h = kc<V, 0x00C00000u>();
  else c = kc<V, 0x0810000000000000ull>(), k = kc<V, 0x0010000000000000ull>(), h = kc<V, 0x0018000000000000ull>();
  asm("" : "+x"(h.v));
  V small = cmp<_CMP_LT_OQ>(vabs(y), c);
  V r = vabs((y + (small & c)) * R - (small & k));
  return andnot(r, small & cmp<_CMP_EQ_OQ>(h - k, bits<V>(0)));
}
}  // namespace erfck

template <var Vr> struct erfc_k<float, Vr> {
  using elem = float;

  // The result times 2^48 (R: the factor that scales it back, +-2^-48).
  template <class V> static QARN_INLINE V scaled(V x, V& R) {
    V a = vabs(x);
    V s = x ^ a;
    V ap = vmin(a, kc<V, 0x41210000>());  // 10.0625, the last grid point
    V B2 = (kc<V, 0x57800000>() | s) - kc<V, 0x57800000>();  // 0, or -2^49 for negative x
    R = kc<V, 0x27800000>() | s;                               // +-2^-48
    V S, X0;
    pair<V> t;
    if constexpr (Vr == var::def) {
      S = ap + kc<V, 0x48000000>();  // 2^17: multiple of 1/64
      X0 = S - kc<V, 0x48000000>();
      t = lookup2(tab::ERFCf, low32(S) & 1023);
    } else {
      S = ap + kc<V, 0x48800000>();  // 2^18: multiple of 1/32
      X0 = S - kc<V, 0x48800000>();
      t = lookup2(tab::ERFCNf, low32(S) & 511);
    }
    V d = vmax(ap, kc<V, 0x27800000>()) - X0;
    V T = X0 * d;
    V Q;
    if constexpr (Vr == var::def) {
      Q = T * (kc<V, 0xBF7FFFFC>() + T * (kc<V, 0x3F2AAAA6>() + T * (kc<V, 0xBEAACF22>() + T * kc<V, 0x3E08A7CA>()))) +
          (d * d) * (kc<V, 0xBEAB4EDB>() + T * kc<V, 0x3F005B36>());
    } else {
      Q = T * (kc<V, 0xBF7FFF8B>() + T * (kc<V, 0x3F2B4F03>() + T * kc<V, 0xBEAB6147>()));
    }
    return (t.hi - d * (Q * t.lo + t.lo)) + B2;
  }
  template <class V> static QARN_INLINE V main(V x) {
    V R;
    V y = scaled(x, R);
    return y * R;
  }
  // From 9.1875 on (subnormal results from 9.19455), results below half the
  // smallest subnormal, +infinity and NaN.
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLT_UQ>(x, kc<V, 0x41130000>()); }
  // Below 10.0541 (results from half the smallest subnormal up) the cold part
  // gives every lane of the register, ordinary ones too, without the main path.
  template <class V> static QARN_INLINE V fixable(V x) { return cmp<_CMP_LT_OQ>(x, kc<V, 0x4120DDFB>()); }
  // (The other lanes' results are the lane fallback's: all of r is written.)
  template <class V> static QARN_INLINE V fixup(V x, V& r) {
    V R;
    r = erfck::unscale(scaled(x, R), R);
    return fixable(x);
  }
};

namespace erfck {
// The double correction Q(T, d) of each variant.
template <var Vr, class V> QARN_INLINE V poly(V T, V d) {
  V d2 = d * d;
  if constexpr (Vr == var::def) {
    V A = kc<V, 0x3FE55555555554CFull>() +
          T * (kc<V, 0xBFD555555555548Aull>() +
               T * (kc<V, 0x3FC11111111AB082ull>() +
                    T * (kc<V, 0xBFA6C16C16D06420ull>() +
                         T * (kc<V, 0x3F8A019F5AEED25Full>() +
                              T * (kc<V, 0xBF6A019F4F234617ull>() +
                                   T * (kc<V, 0x3F472360BAC04E70ull>() + T * kc<V, 0xBF2282C89A04C65Full>()))))));
    V B = kc<V, 0x3FE0000000379730ull>() +
          T * (kc<V, 0xBFD9999999F3D838ull>() +
               T * (kc<V, 0x3FCC71C4B73B20B6ull>() +
                    T * (kc<V, 0xBFB8618412BC79ECull>() + T * (kc<V, 0x3FA117ABF1FEA28Cull>() + T * kc<V, 0xBF8441DF86900A46ull>()))));
    V C = kc<V, 0xBFD5555555554ADDull>() +
          d2 * (kc<V, 0x3FB9998F9D0729DAull>() +
                T * (kc<V, 0xBFC5554E249FF4A7ull>() + T * (kc<V, 0x3FC256E8E6045CDFull>() + T * kc<V, 0xBFB56433674BA5C2ull>())));
    return (T * T) * A + (d2 * (T * B + C) - T);
  } else {
    V A = kc<V, 0x3FE555555933BC54ull>() +
          T * (kc<V, 0xBFD555555ADC4EA0ull>() +
               T * (kc<V, 0x3FC111066671A484ull>() +
                    T * (kc<V, 0xBFA6C15C3DA087D4ull>() + T * (kc<V, 0x3F8A1F05F5094FB6ull>() + T * kc<V, 0xBF6A1FDD30652EA1ull>()))));
    V B = kc<V, 0xBFD554EE2F28F34Dull>() +
          T * (kc<V, 0x3FDFFF6F976A22C5ull>() + T * (kc<V, 0xBFD9E0A0FBE743D2ull>() + T * kc<V, 0x3FCCBC5887DF9127ull>()));
    return (T * T) * A + (kc<V, 0xBFEFFFFFFFFEB794ull>() * T + d2 * B);
  }
}
}  // namespace erfck

template <var Vr> struct erfc_k<double, Vr> {
  using elem = double;

  // The result times 2^128 (R: the factor that scales it back, +-2^-128).
  template <class V> static QARN_INLINE V scaled(V x, V& R) {
    V a = vabs(x);
    V s = x ^ a;
    V S, X0;
    if constexpr (Vr == var::def) {
      V ap = vmin(a, kc<V, 0x403B3E0000000000ull>());  // 27.2421875
      S = ap + kc<V, 0x42C0000000000000ull>();          // 2^45: multiple of 1/128
      X0 = S - kc<V, 0x42C0000000000000ull>();
      a = vmax(ap, kc<V, 0x37F0000000000000ull>());      // 2^-128
    } else {
      V ap = vmin(a, kc<V, 0x403B3C0000000000ull>());  // 27.234375
      S = ap + kc<V, 0x42D0000000000000ull>();          // 2^46: multiple of 1/64
      X0 = S - kc<V, 0x42D0000000000000ull>();
      a = vmax(ap, kc<V, 0x37F0000000000000ull>());
    }
    auto t = lookup2(Vr == var::def ? tab::ERFCd : tab::ERFCNd, low32(S));
    V d = a - X0;
    V Q = erfck::poly<Vr>(X0 * d, d);
    V L = t.lo * d;
    V B2 = (kc<V, 0x47F0000000000000ull>() | s) - kc<V, 0x47F0000000000000ull>();  // 0, or -2^129
    R = kc<V, 0x37F0000000000000ull>() | s;
    return (t.hi - (Q * L + L)) + B2;
  }
  template <class V> static QARN_INLINE V main(V x) {
    V R;
    V y = scaled(x, R);
    return y * R;
  }
  // From 26.5 on (subnormal results from 26.5433), results below half the
  // smallest subnormal, +infinity and NaN.
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLT_UQ>(x, kc<V, 0x403A800000000000ull>()); }
  // Below 27.2263 (results from half the smallest subnormal up) the cold part
  // gives every lane of the register, ordinary ones too, without the main path.
  template <class V> static QARN_INLINE V fixable(V x) { return cmp<_CMP_LT_OQ>(x, kc<V, 0x403B39DC41E48BFDull>()); }
  // (The other lanes' results are the lane fallback's: all of r is written.)
  template <class V> static QARN_INLINE V fixup(V x, V& r) {
    V R;
    r = erfck::unscale(scaled(x, R), R);
    return fixable(x);
  }
};

}  // namespace qarn
