// log, log2, log10 in float and double: main paths and the special-lane test.
// The main path finishes every positive normal finite x; every other lane (zero,
// subnormal, negative, +inf, NaN) goes to the lane fallback (explog/log_fallback.cpp).
// There are no inline fix-ups.
//
// Two reductions:
//  * float, no table (logf all variants, log2f/log10f _native/_half): x = m*2^e with
//    m in [2/3, 4/3) taken from the pattern of x minus the pattern of 2/3; f = m - 1.
//  * reciprocal (the double paths, log2f, log10f): y = the mantissa of x under a fixed
//    exponent, c = round(K * rcp(y)) from the processor's estimate, r = c*y - K, and a
//    table of -log c indexed by c.  Any estimate within 1.5*2^-12 keeps c inside the
//    table and |r| small enough for the polynomials; c*y is exact in two pieces
//    (y_hi has 27 bits in double, 16 in float).
// The default double paths keep H = E*L_hi + hi exact and recover the rounding of
// S = H + r, so only the last addition rounds.  The tables are built against the
// same split of ln2 (log10 2) that multiplies E, so log(1) is +0 and inputs next to
// 1 see no error from the split (tables/gen_log.cpp).
//
// Accuracy measured against MPFR: see ULP_BOUND in frame/registry.py.
#pragma once
#include "frame/frame.h"
#include "frame/variant.h"
#include "tables/log_tables.h"

namespace qarn {

namespace logk {

// Positive normal finite lanes only.
template <class V> QARN_INLINE V not_normal_positive(V x) {
  if constexpr (sizeof(elem_t<V>) == 4)
    return cmp<_CMP_LT_OQ>(x, kc<V, 0x00800000>()) | cmp<_CMP_NLE_UQ>(x, kc<V, 0x7F7FFFFF>());
  else
    return cmp<_CMP_LT_OQ>(x, kc<V, 0x0010000000000000ull>()) | cmp<_CMP_NLE_UQ>(x, kc<V, 0x7FEFFFFFFFFFFFFFull>());
}
// The same for float as one signed integer compare: pattern(x) + 2^23 < 2^24.
template <class V> QARN_INLINE V not_normal_positive_int(V x) {
  return icmpgt(kc<V, 0x01000000>(), iadd(x, kc<V, 0x00800000>()));
}
// Both tests on one lane's pattern (width 1): positive normal finite x lies in
// [smallest normal, largest finite], patterns 0x00800000 to 0x7F7FFFFF (float) or
// 0x0010000000000000 to 0x7FEFFFFFFFFFFFFF (double); every other pattern, signed
// ones included, is special.
QARN_INLINE bool not_normal_positive_bits(uint32_t x) { return x - 0x00800000u >= 0x7F000000u; }
QARN_INLINE bool not_normal_positive_bits(uint64_t x) { return x - 0x0010000000000000ull >= 0x7FE0000000000000ull; }

// Table-free float reduction: e (as float) and f = m - 1, x = m*2^e, m in [2/3, 4/3).
template <class V> struct red23 { V e, f; };
template <class V> QARN_INLINE red23<V> reduce23(V x) {
  V u = isub(x, kc<V, 0x3F2AAAAB>());
  V e = cvt_int(isra<23>(u));
  V m = iadd(u & kc<V, 0x007FFFFF>(), kc<V, 0x3F2AAAAB>());
  return {e, m - kc<V, 0x3F800000>()};
}

// Biased exponent field of a positive double, as a double.
template <class V> QARN_INLINE V expo(V x) {
  if constexpr (sizeof(elem_t<V>) == 4) return cvt_int(ishr<23>(x));
  else return cvt_int(shr<20>(high32(x)));
}
// The mantissa of x under the exponent pattern `ex`.
template <class V> QARN_INLINE V mant(V x, typename lanes_of<V>::bits ex) {
  if constexpr (sizeof(elem_t<V>) == 4) return (x & bits<V>(0x007FFFFF)) | bits<V>(ex);
  else return (x & bits<V>(0x000FFFFFFFFFFFFFull)) | bits<V>(ex);
}
// The same with the pattern a constant row (write Ex with its u or ull suffix).
template <uint64_t Ex, class V> QARN_INLINE V mant(V x) {
  if constexpr (sizeof(elem_t<V>) == 4) return (x & kc<V, 0x007FFFFFu>()) | kc<V, uint32_t(Ex)>();
  else return (x & kc<V, 0x000FFFFFFFFFFFFFull>()) | kc<V, Ex>();
}
// r = c*y - K in two pieces, the first exact.
template <class V> QARN_INLINE V red_two(V y, V c, V K) {
  V yh;
  if constexpr (sizeof(elem_t<V>) == 4) yh = y & kc<V, 0xFFFFFF00>();
  else yh = y & kc<V, 0xFFFFFFFFFC000000ull>();
  V yl = y - yh;
  return (yh * c - K) + yl * c;
}

// The cubic of the _native double paths: log(1 + r) up to r^3.
template <class V> QARN_INLINE V cubic_ln(V r) {
  return r + (r * r) * (kc<V, 0xBFDFFFFFFFFFF81Full>() + kc<V, 0x3FD55555555543C5ull>() * r);
}
// log(1 + r) - r to degree 5 for the default double path.
template <class V> QARN_INLINE V quintic_ln(V r) {
  V r2 = r * r;
  return r2 * ((kc<V, 0xBFDFFFFFFFFFF81Full>() + kc<V, 0x3FD55555555543C5ull>() * r) +
               r2 * (kc<V, 0xBFD0000148058EE1ull>() + kc<V, 0x3FC9999CACDB4D0Aull>() * r));
}
// 1023 above c = 724 (c/1024 nearest 1), 1022 at and below (c/512 nearest 1).
template <class V> QARN_INLINE V native_bias(V c) {
  return blend(cmp<_CMP_GT_OQ>(c, kc<V, 0x4086A00000000000ull>()),  // 724
               kc<V, 0x408FF00000000000ull>(), kc<V, 0x408FF80000000000ull>());  // 1022, 1023
}

// _native double paths: c from the bare estimate, r = y*c - 1 at once.
template <class V> struct redn { V E, c, r; idx_t<V> i; };
template <class V> QARN_INLINE redn<V> reduce_native(V x) {
  V E = expo(x);
  V y = mant<0x3F50000000000000ull>(x);  // 1.f * 2^-10
  V c = vround<0>(rcp_est(y));            // 512..1024
  return {E, c, y * c - kc<V, 0x3FF0000000000000ull>(), to_idx(c) - 512};
}

}  // namespace logk

// ---------------------------------------------------------------------------- log
template <class T, var Vr> struct log_k;

template <var Vr> struct log_k<float, Vr> {
  using elem = float;

  template <class V> static QARN_INLINE V main(V x) {
    auto [e, f] = logk::reduce23(x);
    if constexpr (Vr == var::def || Vr == var::rm) {
      V P = f + (f * f) *
                    (kc<V, 0xBF000000>() +
                     f * (kc<V, 0x3EAAAA83>() +
                          f * (kc<V, 0xBE7FFF78>() +
                               f * (kc<V, 0x3E4CE814>() +
                                    f * (kc<V, 0xBE2ACEE6>() +
                                         f * (kc<V, 0x3E0F6B8C>() +
                                              f * (kc<V, 0xBDF9889E>() +
                                                   f * (kc<V, 0x3E0F335D>() + f * kc<V, 0xBE0402C8>()))))))));
      return e * kc<V, 0x3F317200>() + (e * kc<V, 0x35BFBE8E>() + P);
    } else if constexpr (Vr == var::native) {
      V P = f + (f * f) * (kc<V, 0xBF000000>() +
                           f * (kc<V, 0x3EAA7160>() + f * (kc<V, 0xBE88E8FE>() + f * kc<V, 0x3E612933>())));
      return e * kc<V, 0x3F317218>() + P;
    } else {
      V P = f + (f * f) *
                    (kc<V, 0xBF000000>() +
                     f * (kc<V, 0x3EAAAEE7>() +
                          f * (kc<V, 0xBE80061D>() +
                               f * (kc<V, 0x3E4AFB81>() +
                                    f * (kc<V, 0xBE289358>() + f * (kc<V, 0x3E2DB86B>() + f * kc<V, 0xBE1B6A22>()))))));
      return e * kc<V, 0x3F317218>() + P;
    }
  }
  template <class V> static QARN_INLINE V special(V x) {
    if constexpr (sizeof(V) == 16) return logk::not_normal_positive_int(x);
    else return logk::not_normal_positive(x);
  }
  static QARN_INLINE bool special_bits(pattern_t<elem> x) { return logk::not_normal_positive_bits(x); }
};

template <var Vr> struct log_k<double, Vr> {
  using elem = double;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    if constexpr (Vr == var::def) {
      V E = logk::expo(x);
      V y = logk::mant<0x3F50000000000000ull>(x);  // 1.f * 2^-10
      V c = vround<0>(rcp_est(y));                  // 512..1024
      V r = logk::red_two(y, c, kc<V, 0x3FF0000000000000ull>());
      auto t = lookup2<Lanes>(tab::LDd, rounded_idx<Lanes>(c, 512));
      V H = E * kc<V, 0x3FE62E42FEFA0000ull>() + t.hi;
      V S = H + r;
      V err = r - (S - H);
      V Q = logk::quintic_ln(r);
      return S + (((E * kc<V, 0x3D7CF79ABC9E0000ull>() + t.lo) + err) + Q);
    } else {
      auto n = logk::reduce_native(x);
      V P = logk::cubic_ln(n.r);
      return (P + lookup(tab::LNd, n.i)) + (n.E - logk::native_bias(n.c)) * kc<V, 0x3FE62E42FEFA39EFull>();
    }
  }
  template <class V> static QARN_INLINE V special(V x) { return logk::not_normal_positive(x); }
  static QARN_INLINE bool special_bits(pattern_t<elem> x) { return logk::not_normal_positive_bits(x); }
};

// --------------------------------------------------------------------------- log2
template <class T, var Vr> struct log2_k;

template <var Vr> struct log2_k<float, Vr> {
  using elem = float;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    if constexpr (Vr == var::def || Vr == var::rm) {
      V K = kc<V, 0x3FB80000>();  // 1.4375
      V E = logk::expo(x);
      V y = logk::mant<0x3C000000u>(x);  // 1.f * 2^-7
      V c = vround<0>(K * rcp_est(y));  // 92..184
      V r = logk::red_two(y, c, K);
      auto t = lookup2<Lanes>(tab::L2Df, rounded_idx<Lanes>(c, 92));
      V H = E + t.hi;
      V S = H + r;
      V err = r - (S - H);
      V Q = r * (kc<V, 0x3B6CD7E0>() + r * (kc<V, 0xBEB2BB8C>() + r * kc<V, 0x3E25C86A>()));
      return ((t.lo + err) + Q) + S;
    } else {
      auto [e, f] = logk::reduce23(x);
      V P = f * (kc<V, 0x3FB8AAED>() +
                 f * (kc<V, 0xBF38658A>() +
                      f * (kc<V, 0x3EF4FA41>() + f * (kc<V, 0xBECB686C>() + f * kc<V, 0x3EAAE01B>()))));
      return P + e;
    }
  }
  template <class V> static QARN_INLINE V special(V x) { return logk::not_normal_positive(x); }
  static QARN_INLINE bool special_bits(pattern_t<elem> x) { return logk::not_normal_positive_bits(x); }
};

template <var Vr> struct log2_k<double, Vr> {
  using elem = double;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    if constexpr (Vr == var::def) {
      V K = kc<V, 0x3FF7100000000000ull>();  // 1.44140625
      V E = logk::expo(x);
      V y = logk::mant<0x3F60000000000000ull>(x);  // 1.f * 2^-9
      V c = vround<0>(K * rcp_est(y));              // 369..738
      V r = logk::red_two(y, c, K);
      auto t = lookup2<Lanes>(tab::L2Dd, rounded_idx<Lanes>(c, 369));
      V H = E + t.hi;
      V S = H + r;
      V err = r - (S - H);
      V r2 = r * r;
      V Q = r * ((kc<V, 0x3F4D4C6D2BC5AEA6ull>() + kc<V, 0xBFD6386B9B9B5D42ull>() * r) +
                 r2 * ((kc<V, 0x3FC48DEAD300E7BFull>() + kc<V, 0xBFB563D0FCE18810ull>() * r) +
                       r2 * (kc<V, 0x3FA7BE52039FB7CEull>() + kc<V, 0xBF9B743CA0B38EEBull>() * r)));
      return S + ((t.lo + err) + Q);
    } else {
      auto n = logk::reduce_native(x);
      V P = n.r * kc<V, 0x3FF71547652B82FEull>() +
            (n.r * n.r) * (kc<V, 0xBFE71547652B7CF8ull>() + kc<V, 0x3FDEC709DC39E926ull>() * n.r);
      return (P + lookup(tab::L2Nd, n.i)) + (n.E - logk::native_bias(n.c));
    }
  }
  template <class V> static QARN_INLINE V special(V x) { return logk::not_normal_positive(x); }
  static QARN_INLINE bool special_bits(pattern_t<elem> x) { return logk::not_normal_positive_bits(x); }
};

// -------------------------------------------------------------------------- log10
template <class T, var Vr> struct log10_k;

template <var Vr> struct log10_k<float, Vr> {
  using elem = float;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    if constexpr (Vr == var::def) {
      V K = kc<V, 0x3EDE0000>();  // 0.43359375
      V E = logk::expo(x);
      V y = logk::mant<0x3B000000u>(x);  // 1.f * 2^-9
      V c = vround<0>(K * rcp_est(y));  // 111..222
      V r = logk::red_two(y, c, K);
      auto t = lookup2<Lanes>(tab::L10Df, rounded_idx<Lanes>(c, 111));
      V H = E * kc<V, 0x3E9A2100>() + t.hi;
      V L = E * kc<V, 0xB64AF600>() + t.lo;
      V S = H + r;
      V err = r - (S - H);
      V Q = r * (kc<V, 0x3AD3D366>() + r * (kc<V, 0xBF93D7E4>() + r * kc<V, 0x3FE35103>()));
      return ((Q + L) + err) + S;
    } else {
      auto [e, f] = logk::reduce23(x);
      V P = f * (kc<V, 0x3EDE5CAE>() +
                 f * (kc<V, 0xBE5E0922>() +
                      f * (kc<V, 0x3E137DBE>() + f * (kc<V, 0xBDF4ED71>() + f * kc<V, 0x3DCDC127>()))));
      return P + e * kc<V, 0x3E9A209B>();
    }
  }
  template <class V> static QARN_INLINE V special(V x) { return logk::not_normal_positive(x); }
  static QARN_INLINE bool special_bits(pattern_t<elem> x) { return logk::not_normal_positive_bits(x); }
};

template <var Vr> struct log10_k<double, Vr> {
  using elem = double;

  template <class V, int Lanes = 0> static QARN_INLINE V main(V x) {
    if constexpr (Vr == var::def) {
      V K = kc<V, 0x3FDBC00000000000ull>();  // 0.43359375
      V E = logk::expo(x);
      V y = logk::mant<0x3F50000000000000ull>(x);  // 1.f * 2^-10
      V c = vround<0>(K * rcp_est(y));              // 222..444
      V r = logk::red_two(y, c, K);
      auto t = lookup2<Lanes>(tab::L10Dd, rounded_idx<Lanes>(c, 222));
      V H = E * kc<V, 0x3FD34413509F0000ull>() + t.hi;
      V S = H + r;
      V err = r - (S - H);
      V r2 = r * r;
      V Q = r * ((kc<V, 0x3F5A7A6CBF2E410Cull>() + kc<V, 0xBFF27AF2DC77B115ull>() * r) +
                 r2 * ((kc<V, 0x3FFC6A02DC954978ull>() + kc<V, 0xC008930964D2FA9Bull>() * r) +
                       r2 * (kc<V, 0x4016ABA863A166DBull>() + kc<V, 0xC025C91A15F7EB9Full>() * r)));
      return S + (((E * kc<V, 0x3D7E7FBCC47C0000ull>() + t.lo) + err) + Q);
    } else {
      auto n = logk::reduce_native(x);
      V P = n.r * kc<V, 0x3FDBCB7B1526E50Eull>() +
            (n.r * n.r) * (kc<V, 0xBFCBCB7B1526DE36ull>() + kc<V, 0x3FC287A7636F341Eull>() * n.r);
      return (P + lookup(tab::L10Nd, n.i)) + (n.E - logk::native_bias(n.c)) * kc<V, 0x3FD34413509F79FFull>();
    }
  }
  template <class V> static QARN_INLINE V special(V x) { return logk::not_normal_positive(x); }
  static QARN_INLINE bool special_bits(pattern_t<elem> x) { return logk::not_normal_positive_bits(x); }
};

}  // namespace qarn
