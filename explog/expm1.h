// expm1 in float and double: main paths and the special-lane test (no inline
// fix-ups; the lane fallbacks are in explog/expm1_fallback.cpp).
//
// Every path reduces x = k*ln2/N + r, |r| <= ln2/(2N), and forms
// e^x - 1 = 2^(k/N)*(1 + q) - 1 with q ~ e^r - 1.  The step 2^(k/N) comes from a
// table of bare mantissa fields (tables/expm1_tables.h): OR-ing in the exponent
// field of 2^m, m = k >> log2(N), scales it exactly.  The sum S = k + C (exact)
// holds k a few bits above its last place with 1023*N (127*N) added, so one sum
// gives both the table index (k mod N) and the biased exponent of 2^m.
//
// Default paths: H = 2^m*(1 + head) with a short head (12 significant bits in
// float, 27 in double) and T = 2^m*tail.  The reduced argument's exact first piece
// r_hi is split into a head rh (12 / 26 significant bits; all of r_hi when k = 0,
// where H = 1) and a tail, so H*rh is exact.  The sum, in this order:
//   s1 = H - 1           Fast2Sum with the larger of H and -1 as the leading
//                        operand (H - 1 when H > 1, -1 + H otherwise); error e1
//   s2 = s1 + H*rh       Fast2Sum: |s1| >= |H*rh| whenever k != 0, and s1 = 0 when
//                        k = 0, so the cancellation against -1 is exact; error e2
//   corr = ((e1 + e2) + H*p2) + (T + (T*q + H*rlo))
//                        p2 = q - r (the polynomial beyond r), rlo = tail of r_hi
//                        minus the second piece of ln2/N
//   result = s2 + corr, with the sign bit of x OR-ed in (expm1(-0) = -0).
// _native: H = 2^(k/N) rounded, result = H*q + (H - 1).
//
// No subnormal numbers in the arithmetic (the processor finishes those in
// microcode, an order of magnitude slower), with no result changed:
//   - x below -24 (float) or -45 (double) is raised to that value: e^x there is
//     below a quarter ulp of 1 (2^-34 and 2^-64), so every such x gives -1, the
//     value the bound itself gives; lower down, 2^m*tail and the products with
//     the polynomial fall below the normal range.
//   - |x| below 2^-30 (float) or 2^-60 (double) is replaced by +0, whose result is
//     +0, and x itself is OR-ed in: there e^x - 1 = x + x^2/2 + ... rounds to x,
//     which is what the full path gives, while r^2 (and x itself, if subnormal)
//     would be subnormal.
// The comparison tool tools/lib_diff checks such a change against the previous
// build on every float input.
//
// Accuracy (bounds and their reasons in frame/registry.py):
//   expm1f default: 64 steps + cubic, 0.57 ulp over every float operand of the main path
//          _native: 32 steps + quadratic, 284 ulp (every operand), worst just past ln2/64
//   expm1  default: 128 steps + degree 5, 0.61 ulp (sampled, dense near 0)
//          _native: 128 steps + cubic, 5.2e6 ulp, worst just past ln2/256
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "tables/expm1_tables.h"

namespace qarn {

namespace em1 {
// s2 + corr of the default paths, from H, T, -1 and the pieces of q (see above).
template <class V> QARN_INLINE V combine(V H, V T, V rh, V rlo, V r, V p2, V one, V mone) {
  V gt = cmp<_CMP_GT_OQ>(H, one);
  V a = blend(gt, mone, H), b = blend(gt, H, mone);  // |a| >= |b|
  V s1 = a + b;
  V e1 = b - (s1 - a);
  V B = H * rh;  // exact
  V s2 = s1 + B;
  V e2 = B - (s2 - s1);
  V q = r + p2;
  V corr = ((e1 + e2) + H * p2) + (T + (T * q + H * rlo));
  return s2 + corr;
}
}  // namespace em1

template <class T, var Vr> struct expm1_k;

template <var Vr> struct expm1_k<float, Vr> {
  using elem = float;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    V tiny = cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x30800000>());      // |x| < 2^-30
    V keep = x & (tiny | kc<V, 0x80000000>());                    // x, or its sign
    return core<Lanes>(andnot(vmax(x, kc<V, 0xC1C00000>()), tiny)) | keep;  // x >= -24
  }
  template <int Lanes, class V> static QARN_INLINE V core(V x) {
    if constexpr (Vr == var::def) {
      V k = vround<0>(x * kc<V, 0x42B8AA3B>());              // x * 64/ln2
      V rhi = x - k * kc<V, 0x3C318000>();                    // exact: 9-bit first piece of ln2/64
      V kl = k * kc<V, 0xB65E8083>();
      V r = rhi - kl;
      V rh = blend(cmp<_CMP_EQ_OQ>(k, bits<V>(0)), rhi & kc<V, 0xFFFFF000>(), rhi);
      V rlo = (rhi - rh) - kl;
      V S = k + kc<V, 0x49F0FE00>();  // k in units of 8 ulps, 127*64 above it
      auto m = lookup2<Lanes>(tab::M64f, low_idx<Lanes>(ishr<3>(S), 63));
      V scale = ishl<14>(S) & kc<V, 0x7F800000>();           // 2^(k >> 6)
      V H = m.hi | scale, T = m.lo * scale;
      V p2 = (r * r) * (kc<V, 0x3F00000F>() + r * kc<V, 0x3E2AAABF>());
      return em1::combine(H, T, rh, rlo, r, p2, kc<V, 0x3F800000>(), kc<V, 0xBF800000>());
    } else {
      V k = vround<0>(x * kc<V, 0x4238AA3B>());              // x * 32/ln2
      V r = x - k * kc<V, 0x3CB17218>();
      V S = k + kc<V, 0x4A403F80>();  // k in units of 4 ulps, 127*32 above it
      V H = lookup<Lanes>(tab::M32f, low_idx<Lanes>(ishr<2>(S), 31)) | (ishl<16>(S) & kc<V, 0x7F800000>());
      V q = r + kc<V, 0x3F00000F>() * (r * r);
      return H * q + (H - kc<V, 0x3F800000>());
    }
  }
  template <class V> static QARN_INLINE V special(V x) { return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x42AD496B>()); }
};

template <var Vr> struct expm1_k<double, Vr> {
  using elem = double;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    V tiny = cmp<_CMP_LT_OQ>(vabs(x), kc<V, 0x3C30000000000000ull>());        // |x| < 2^-60
    V keep = x & (tiny | kc<V, 0x8000000000000000ull>());                      // x, or its sign
    return core<Lanes>(andnot(vmax(x, kc<V, 0xC046800000000000ull>()), tiny)) | keep;  // x >= -45
  }
  template <int Lanes, class V> static QARN_INLINE V core(V x) {
    V k = vround<0>(x * kc<V, 0x40671547652B82FEull>());      // x * 128/ln2
    if constexpr (Vr == var::def) {
      V rhi = x - k * kc<V, 0x3F762E42FEF80000ull>();         // exact: 34-bit first piece of ln2/128
      V kl = k * kc<V, 0x3D41CF79ABC9E3B4ull>();
      V r = rhi - kl;
      V rh = blend(cmp<_CMP_EQ_OQ>(k, bits<V>(0)), rhi & kc<V, 0xFFFFFFFFF8000000ull>(), rhi);
      V rlo = (rhi - rh) - kl;
      V S = k + kc<V, 0x42F80000001FF800ull>();  // k in units of 16 ulps, 1023*128 above it
      auto m = lookup2<Lanes>(tab::M128d, low_idx<Lanes>(ishr<4>(S), 127));
      V scale = ishl<41>(S) & kc<V, 0x7FF0000000000000ull>();  // 2^(k >> 7)
      V H = m.hi | scale, T = m.lo * scale;
      V r2 = r * r;
      V p2 = r2 * ((kc<V, 0x3FDFFFFFFFFFFE5Cull>() + r * kc<V, 0x3FC555555555541Dull>()) +
                   r2 * (kc<V, 0x3FA55555C2A9C0F3ull>() + r * kc<V, 0x3F81111168877F38ull>()));
      return em1::combine(H, T, rh, rlo, r, p2, kc<V, 0x3FF0000000000000ull>(), kc<V, 0xBFF0000000000000ull>());
    } else {
      V r = x - k * kc<V, 0x3F762E42FEFA39EFull>();
      V S = k + kc<V, 0x43080000000FFC00ull>();  // k in units of 8 ulps, 1023*128 above it
      V H = lookup<Lanes>(tab::M128n, low_idx<Lanes>(ishr<3>(S), 127)) | (ishl<42>(S) & kc<V, 0x7FF0000000000000ull>());
      V q = r + (r * r) * (kc<V, 0x3FDFFFFFFFFFFE5Cull>() + kc<V, 0x3FC555555555541Dull>() * r);
      return H * q + (H - kc<V, 0x3FF0000000000000ull>());
    }
  }
  template <class V> static QARN_INLINE V special(V x) {
    return cmp<_CMP_NLE_UQ>(vabs(x), kc<V, 0x40861DA04CBAFE43ull>());
  }
};

}  // namespace qarn
