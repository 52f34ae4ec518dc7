// Lane fallbacks of fma, float and double: a*b + c with one rounding, computed
// exactly with integer arithmetic on the significands.
//
// Operands whose product is exact or whose result is special (a or b zero,
// infinite, NaN or +-1; c zero, infinite or NaN) take ordinary floating
// operations, which round once in MXCSR's mode.  The others form the exact
// product of the significands (48 or 106 bits), align it with c in a window of
// 64 or 128 bits (bits shifted out leave a sticky bit), add or subtract, and round
// in the direction read from the x87 control word.  Overflow is a product of two
// large powers of two, so it too rounds in MXCSR's mode.
#include "fpmanip/fpbits.h"

using namespace qarn::fpm;
using qarn::sc::opaque;

namespace {

template <class T> using B = typename fmt<T>::bits_t;
template <class T> constexpr B<T> kInf = B<T>(fmt<T>::maxe) << fmt<T>::shift;
template <class T> constexpr B<T> kOne = B<T>(fmt<T>::bias) << fmt<T>::shift;
template <class T> constexpr B<T> kFrac = (B<T>(1) << fmt<T>::shift) - 1;

// The window: the exact sum with the larger term's leading bit at `top`, two bits
// of headroom for a carry, and at least 14 (float) or 20 (double) zero bits below
// the larger term, so that a sticky bit ORed into the smaller one is never lost
// and never mistaken for a bit of the result.
template <class T> struct win;
template <> struct win<float> {
  using W = uint64_t;
  static constexpr int top = 61;
  static int lead(W v) { return 63 - __builtin_clzll(v); }
};
template <> struct win<double> {
  using W = unsigned __int128;
  static constexpr int top = 125;
  static int lead(W v) {
    uint64_t hi = uint64_t(v >> 64);
    return hi ? 127 - __builtin_clzll(hi) : 63 - __builtin_clzll(uint64_t(v));
  }
};

enum Dir { kNearest = 0, kDown = 1, kUp = 2, kZero = 3 };

// The rounding-control field of the x87 control word.
Dir direction() {
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return Dir((cw >> 10) & 3);
}

// A finite non-zero magnitude as m * 2^(e - shift), the leading bit of m at `shift`.
template <class T> B<T> unpack(B<T> a, int& e) {
  int f = int(a >> fmt<T>::shift);
  if (f != 0) {
    e = f - fmt<T>::bias;
    return (a & kFrac<T>) | (kFrac<T> + 1);
  }
  int lead = sizeof(T) == 4 ? 31 - __builtin_clz(uint32_t(a)) : 63 - __builtin_clzll(uint64_t(a));
  int up = fmt<T>::shift - lead;
  e = 1 - fmt<T>::bias - up;
  return a << up;
}

// +-2^100 * 2^100 (double 2^1000 * 2^1000): infinity, or the largest finite value
// where MXCSR rounds toward zero or away from the sign.
template <class T> T overflow(bool negative) {
  T big = pow2<T>(sizeof(T) == 4 ? 100 : 1000);
  return mul_first(opaque(negative ? -big : big), big);
}

// m * 2^(e - top) for the window's integer m > 0 (with its sticky bit in bit 0
// where bits were shifted out), rounded to T in direction d, with sign `neg`.
template <class T> T round_pack(typename win<T>::W m, int e, bool neg, Dir d) {
  using W = typename win<T>::W;
  constexpr int mant = fmt<T>::shift;
  int lead = win<T>::lead(m);
  int be = e + (lead - win<T>::top) + fmt<T>::bias;  // biased exponent of the leading bit
  if (be >= fmt<T>::maxe) return overflow<T>(neg);
  int keep = be >= 1 ? mant + 1 : mant + be;        // significant bits that fit
  int drop = lead + 1 - keep;
  W kept;
  bool round = false, sticky = false;
  if (drop <= 0) {
    kept = m << -drop;
  } else if (keep < 0) {
    kept = 0;
    sticky = true;
  } else {
    kept = m >> drop;
    W lost = m - (kept << drop);
    round = (lost >> (drop - 1)) & 1;
    sticky = (lost & ((W(1) << (drop - 1)) - 1)) != 0;
  }
  B<T> p = B<T>(kept);
  if (be >= 1) p += B<T>(be - 1) << mant;  // the leading bit carries the field up by one
  bool inc = false;
  switch (d) {
    case kNearest: inc = round && ((p & 1) || sticky); break;
    case kUp: inc = !neg && (round || sticky); break;
    case kDown: inc = neg && (round || sticky); break;
    case kZero: break;
  }
  p += inc;
  if (p >= kInf<T>) return overflow<T>(neg);
  return value<T>(p | (neg ? fmt<T>::sign : 0));
}

template <class T> void fma_fb(const T* ap, const T* bp, const T* cp, T* rp) {
  using W = typename win<T>::W;
  constexpr int mant = fmt<T>::shift, top = win<T>::top;
  T a = *ap, b = *bp, c = *cp;
  B<T> pa = pattern(a), pb = pattern(b), pc = pattern(c);
  B<T> ma = pa & ~fmt<T>::sign, mb = pb & ~fmt<T>::sign, mc = pc & ~fmt<T>::sign;
  auto plain = [](B<T> m) { return m == 0 || m >= kInf<T> || m == kOne<T>; };
  if (plain(ma) || plain(mb)) {  // the product is exact or special
    *rp = mc > kInf<T> && ma <= kInf<T> && mb <= kInf<T> ? add_first(a, c) : add_first(mul_first(a, b), c);
    return;
  }
  if (mc == 0) { *rp = mul_first(a, b); return; }  // the product rounded once, with its own sign
  if (mc == kInf<T>) { *rp = c; return; }
  if (mc > kInf<T>) { *rp = add_first(a, c); return; }

  Dir d = direction();
  int ea, eb, ec;
  W sa = unpack<T>(ma, ea), sb = unpack<T>(mb, eb), sc = unpack<T>(mc, ec);
  W prod = sa * sb;  // 2*mant+1 or 2*mant+2 bits
  int lp = win<T>::lead(prod);
  int ep = ea + eb + (lp - 2 * mant);  // exponent of the product's leading bit
  bool np = ((pa ^ pb) & fmt<T>::sign) != 0, nc = (pc & fmt<T>::sign) != 0;

  // Both terms in the window, scaled to the larger exponent.
  int eref = ep > ec ? ep : ec;
  auto place = [&](W m, int lead, int e) -> W {
    int sh = top - (eref - e) - lead;
    if (sh >= 0) return m << sh;
    sh = -sh;
    if (sh > lead) return 1;  // all of it below the window: the sticky bit alone
    W out = m >> sh;
    return out | W((out << sh) != m);
  };
  W xp = place(prod, lp, ep), xc = place(sc, mant, ec);

  W sum;
  bool neg;
  if (np == nc) {
    sum = xp + xc;
    neg = np;
  } else if (xp >= xc) {
    sum = xp - xc;
    neg = np;
  } else {
    sum = xc - xp;
    neg = nc;
  }
  if (sum == 0) {  // exact cancellation: +0, or -0 rounding downward
    *rp = value<T>(d == kDown ? fmt<T>::sign : 0);
    return;
  }
  *rp = round_pack<T>(sum, eref, neg, d);
}

}  // namespace

QARN_FALLBACK void fmaf_lane_fallback(const float* a, const float* b, const float* c, float* r) { fma_fb(a, b, c, r); }
QARN_FALLBACK void fma_lane_fallback(const double* a, const double* b, const double* c, double* r) { fma_fb(a, b, c, r); }
