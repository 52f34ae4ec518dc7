// Lane fallbacks of fmod, remainder and remquo, float and double.  They receive
// zeros, subnormal and huge divisors, infinities, NaNs and quotients too large for
// the main path (up to 2^2100), and compute the remainder exactly by long
// division of the integer significands; nothing here depends on MXCSR.
#include "fpmanip/fpbits.h"

using namespace qarn::fpm;

namespace {

template <class T> using B = typename fmt<T>::bits_t;
template <class T> constexpr B<T> kInf = B<T>(fmt<T>::maxe) << fmt<T>::shift;
template <class T> constexpr B<T> kOne = B<T>(fmt<T>::bias) << fmt<T>::shift;
template <class T> constexpr B<T> kFrac = (B<T>(1) << fmt<T>::shift) - 1;
template <class T> constexpr B<T> kLead = B<T>(1) << fmt<T>::shift;
// The invalid operation's NaN (what 0/0 gives).
template <class T> T default_nan() { return value<T>(fmt<T>::sign | kInf<T> | (kLead<T> >> 1)); }

template <class T> int lead_bit(B<T> m) {
  if constexpr (sizeof(T) == 4) return 31 - __builtin_clz(m); else return 63 - __builtin_clzll(m);
}

// A finite non-zero magnitude as m * 2^(e - shift), the leading bit of m at `shift`.
template <class T> B<T> unpack(B<T> a, int& e) {
  int f = int(a >> fmt<T>::shift);
  if (f != 0) {
    e = f - fmt<T>::bias;
    return (a & kFrac<T>) | kLead<T>;
  }
  int up = fmt<T>::shift - lead_bit<T>(a);
  e = 1 - fmt<T>::bias - up;
  return a << up;
}

// The magnitude pattern of m * 2^(e - shift), 0 < m < 2^(shift+1), known to be
// representable.
template <class T> B<T> pack(B<T> m, int e) {
  int p = lead_bit<T>(m);
  int top = e - fmt<T>::shift + p;  // exponent of the leading bit
  if (top >= 1 - fmt<T>::bias)
    return (B<T>(top + fmt<T>::bias) << fmt<T>::shift) | ((m << (fmt<T>::shift - p)) & kFrac<T>);
  int s = e - 1 + fmt<T>::bias;     // subnormal: the pattern is m * 2^s
  return s >= 0 ? m << s : m >> -s;
}

// |x| = mx 2^(ex-shift) >= |y| = my 2^(ey-shift): the remainder of mx 2^(ex-ey)
// by my, and the low 32 bits of the quotient.  The dividend is shifted in chunks
// that keep it below 2^64.
template <class T> struct Division { B<T> r; uint32_t q; };
template <class T> Division<T> divide(B<T> mx, int ex, B<T> my, int ey) {
  constexpr int chunk = 63 - fmt<T>::shift - 1;  // r < my < 2^(shift+1)
  uint64_t r = mx, d = my, q = 0;
  if (r >= d) r -= d, q = 1;
  for (int n = ex - ey; n > 0;) {
    int k = n < chunk ? n : chunk;
    r <<= k;
    uint64_t qc = r / d;
    r -= qc * d;
    q = (q << k) + qc;
    n -= k;
  }
  return {B<T>(r), uint32_t(q)};
}

template <class T> void fmod_fb(const T* xp, const T* yp, T* rp) {
  T x = *xp, y = *yp;
  B<T> bx = pattern(x), by = pattern(y);
  B<T> ax = bx & ~fmt<T>::sign, ay = by & ~fmt<T>::sign, sx = bx & fmt<T>::sign;
  if (ax > kInf<T> || ay > kInf<T>) { *rp = mul_first(x, y); return; }
  if (ay == kOne<T> && ax != kInf<T>) {  // |y| = 1: the fraction of x
    int e = int(ax >> fmt<T>::shift) - fmt<T>::bias;
    if (ax < kOne<T>) { *rp = x; return; }
    if (e >= fmt<T>::shift) { *rp = value<T>(sx); return; }
    B<T> frac = kFrac<T> >> e;
    if ((bx & frac) == 0) { *rp = value<T>(sx); return; }
    *rp = value<T>(pattern(T(x - value<T>(bx & ~frac))) | sx);
    return;
  }
  if (ay == 0 || ax == kInf<T>) { *rp = default_nan<T>(); return; }
  if (ay == kInf<T> || ax < ay) { *rp = x; return; }
  if (ax == ay) { *rp = value<T>(sx); return; }
  int ex, ey;
  B<T> mx = unpack<T>(ax, ex), my = unpack<T>(ay, ey);
  Division<T> d = divide<T>(mx, ex, my, ey);
  *rp = value<T>(d.r == 0 ? sx : pack<T>(d.r, ey) | sx);
}

// remainder and remquo.  The quotient is s * (Q mod 2^31), Q the magnitude of the
// integral quotient and s its sign.
template <class T> void remquo_fb(const T* xp, const T* yp, T* rp, int32_t* qp) {
  T x = *xp, y = *yp;
  B<T> bx = pattern(x), by = pattern(y);
  B<T> ax = bx & ~fmt<T>::sign, ay = by & ~fmt<T>::sign, sx = bx & fmt<T>::sign;
  int32_t s = ((bx ^ by) & fmt<T>::sign) ? -1 : 1;
  *qp = 0;
  if (ax > kInf<T>) { *rp = mul_first(x, T(1.7)); return; }
  if (ay > kInf<T>) { *rp = mul_first(y, T(1.7)); return; }
  if (ay == 0 || ax == kInf<T>) { *rp = default_nan<T>(); return; }
  if (ax == 0 || ay == kInf<T>) { *rp = x; return; }
  if (ax == ay) { *rp = value<T>(sx); *qp = s; return; }
  if (ay > ax) {
    // Quotient 0 when |y| >= 2|x| (a tie goes to 0, the even one), else 1.  At the
    // top binade 2|x| overflows and the test cannot hold.
    T mx = value<T>(ax), my = value<T>(ay);
    if (int(ax >> fmt<T>::shift) != fmt<T>::maxe - 1 && my >= T(2) * mx) { *rp = x; return; }
    T r = mx - my;  // exact: |y| < 2|x|
    *rp = value<T>(pattern(r) ^ sx);
    *qp = s;
    return;
  }
  int ex, ey;
  B<T> mx = unpack<T>(ax, ex), my = unpack<T>(ay, ey);
  Division<T> d = divide<T>(mx, ex, my, ey);
  uint32_t q = d.q;
  B<T> r = d.r, flip = 0;
  if (r != 0) {
    if (2 * r > my || (2 * r == my && (q & 1))) {
      if (2 * r != my) r = my - r;
      flip = fmt<T>::sign;
      q += 1;
    }
  }
  *rp = value<T>(r == 0 ? sx : pack<T>(r, ey) | (sx ^ flip));
  *qp = int32_t(q & 0x7FFFFFFFu) * s;
}

}  // namespace

QARN_FALLBACK void fmodf_lane_fallback(const float* x, const float* y, float* r) { fmod_fb(x, y, r); }
QARN_FALLBACK void fmod_lane_fallback(const double* x, const double* y, double* r) { fmod_fb(x, y, r); }
QARN_FALLBACK void remainderf_lane_fallback(const float* x, const float* y, float* r) {
  int32_t q;
  remquo_fb(x, y, r, &q);
}
QARN_FALLBACK void remainder_lane_fallback(const double* x, const double* y, double* r) {
  int32_t q;
  remquo_fb(x, y, r, &q);
}
QARN_FALLBACK void remquof_lane_fallback(const float* x, const float* y, float* r, int32_t* q) { remquo_fb(x, y, r, q); }
QARN_FALLBACK void remquo_lane_fallback(const double* x, const double* y, double* r, int32_t* q) { remquo_fb(x, y, r, q); }
