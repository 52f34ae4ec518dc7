// pown (x to an integer n) and rootn (x to 1/n) in float and double, on the main
// paths of pow (pow/powcore.h).  The magnitude is computed from |x|; for odd n the
// sign bit of x is copied into the result, so negative x needs no fallback except
// for rootn with even n.  A lane is special when |x| is not a positive normal
// finite number below the largest float (double: any positive normal), when the
// product of the exponent and the logarithm leaves the path's range, and for
// rootn when x < 0 and n is even; there are no inline fix-ups.
//
//   pownf default   the powrf double-word path with y = float(n) and the correction
//                   n - int(float(n)) as a third word, so z uses n exactly; its own
//                   exp coefficients
//   rootnf default  the same with y = 1/n in two words
//   float _native   ln |x| by the 2/3 reduction and a degree-7 polynomial, cubic e^r
//   double default  the pow double-double path; rootn's 1/n in two words
//   double _native  the pow _native path
// 1/n in two words keeps the full quotient as the head and forms n*y_hi exactly by
// the split, so y is good to twice the working precision (a head cut to half its
// bits would leave y no better than one rounding of the quotient, and double rootn
// of a huge x some hundred ulp off).  n = 0 in rootn gives an infinite y and so a
// lane the range test marks.
#pragma once
#include "pow/powcore.h"

namespace qarn {

namespace powk {

QARN_INLINE idx4 isub_idx(idx4 a, idx4 b) { return {_mm_sub_epi32(a.v, b.v)}; }
QARN_INLINE idx8 isub_idx(idx8 a, idx8 b) { return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }

// n - int(float(n)), exact (the difference wraps correctly even where float(n) is
// 2^31 and the conversion gives INT_MIN).
template <class V> QARN_INLINE V n_correction(idx_t<V> n, V nf) {
  return to_floating<V>(isub_idx(n, to_idx(nf)));
}

// Float _native: ln |x| and a cubic e^r.
template <class V> QARN_INLINE res<V> pn_short(V ax, V y) {
  auto [e, f] = logk::reduce23(ax);
  V P = f + (f * f) * (kc<V, 0xBF000000u>() +
                       f * (kc<V, 0x3EAAAD03u>() +
                            f * (kc<V, 0xBE7F0F0Fu>() +
                                 f * (kc<V, 0x3E4B62C0u>() + f * (kc<V, 0xBE424B46u>() + f * kc<V, 0x3E2B350Cu>())))));
  V z = (e * kc<V, 0x3F317200u>() + (e * kc<V, 0x35BFBE8Eu>() + P)) * y;
  V S = z * kc<V, 0x3FB8AA3Bu>() + kc<V, 0x4B400000u>();
  V r = z - (S - kc<V, 0x4B400000u>()) * kc<V, 0x3F317218u>();
  V p = kc<V, 0x3F7FFB0Du>() + r * (kc<V, 0x3F7FFC0Bu>() + r * (kc<V, 0x3F014935u>() + r * kc<V, 0x3E2C359Fu>()));
  return {expk::add_exp23(p, S), z};
}

template <bool Root, class T, var Vr> struct pn_main;

template <bool Root, var Vr> struct pn_main<Root, float, Vr> {
  template <class V> static QARN_INLINE res<V> run(V x, idx_t<V> n) {
    V ax = vabs(x), nf = to_floating<V>(n);
    if constexpr (Vr == var::def) {
      if constexpr (Root) {
        dw<V> y = recip2(nf);
        dw<V> z = mul_dw(ln_dw(ax), y.hi, y.lo);
        return {exp_dw<0x3F7FFFFEu, 0x3EFFFF34u, 0x3E2AACACu, 0x3D2B8392u, 0x3C07D9FEu>(z), z.hi};
      } else {
        dw<V> z = mul_dw(ln_dw(ax), nf, n_correction<V>(n, nf));
        return {exp_dw<0x3F800001u, 0x3EFFFE85u, 0x3E2AA9C6u, 0x3D2BB1B6u, 0x3C0950EFu>(z), z.hi};
      }
    } else {
      if constexpr (Root) return pn_short(ax, kc<V, 0x3F800000u>() / nf);
      else return pn_short(ax, nf);
    }
  }
  template <class V> static QARN_INLINE V main(V x, idx_t<V> n) { return run(x, n).r | (odd_sign<V>(n) & x); }
  template <class V> static QARN_INLINE V special(V x, idx_t<V> n) {
    V s = bad_x_float(vabs(x)) | cmp<_CMP_NLE_UQ>(vabs(run(x, n).z), kc<V, 0x42AE9A00u>());
    if constexpr (Root) s = s | andnot(x, odd_sign<V>(n));  // sign bit: x < 0 with n even
    return s;
  }
};

template <bool Root, var Vr> struct pn_main<Root, double, Vr> {
  template <class V> static QARN_INLINE res<V> run(V x, idx_t<V> n) {
    V ax = vabs(x), nf = to_floating<V>(n);
    if constexpr (Vr == var::def) {
      dw<V> t;
      if constexpr (Root) {
        dw<V> y = recip2(nf);
        t = mul_dd(log2_dd(ax), y.hi, y.lo);
      } else {
        t = mul_dd(log2_dd(ax), nf);
      }
      return {exp2_dd(t), t.hi};
    } else {
      if constexpr (Root) return pow_short(ax, kc<V, 0x3FF0000000000000ull>() / nf);
      else return pow_short(ax, nf);
    }
  }
  template <class V> static QARN_INLINE V main(V x, idx_t<V> n) { return run(x, n).r | (odd_sign<V>(n) & x); }
  template <class V> static QARN_INLINE V special(V x, idx_t<V> n) {
    V lim;
    if constexpr (Vr != var::def) lim = kc<V, 0x4086232B00000000ull>();   // |y ln x| >= 708.39599609375
    else if constexpr (Root) lim = kc<V, 0x408FEFFF00000000ull>();       // |y log2 x| >= 1021.99951171875
    else lim = kc<V, 0x408EEFFF00000000ull>();                            // |n log2 x| >= 989.99951171875
    V s = bad_x_double(vabs(x)) | cmp<_CMP_NLT_UQ>(vabs(run(x, n).z), lim);
    if constexpr (Root) s = s | andnot(x, odd_sign<V>(n));
    return s;
  }
};

}  // namespace powk

template <class T, var Vr> struct pown_k;
template <var Vr> struct pown_k<float, Vr> : powk::pn_main<false, float, Vr> {
  using elem = float;
};
template <var Vr> struct pown_k<double, Vr> : powk::pn_main<false, double, Vr> {
  using elem = double;
};

template <class T, var Vr> struct rootn_k;
template <var Vr> struct rootn_k<float, Vr> : powk::pn_main<true, float, Vr> {
  using elem = float;
};
template <var Vr> struct rootn_k<double, Vr> : powk::pn_main<true, double, Vr> {
  using elem = double;
};

}  // namespace qarn
