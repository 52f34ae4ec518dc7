// Lane fallbacks of atan, atanpi, atan2 and atan2pi (float and double).
//   atan (_native exports only): the infinities, +-pi/2.
//   atanpi: NaN, infinities, and magnitudes below 2^-1020 or from 2^993 on (float:
//     2^-125, 2^123), by the double algorithm, which holds for every finite x.
//   atan2, atan2pi: NaN, zeros, infinities, and operands of extreme magnitude:
//     the angle from the signs where it is fixed, from the exponent difference
//     where the ratio is out of reach, else the main algorithm on both operands
//     scaled by one power of two.
// Float lanes are finished in double and rounded once to float.  Constants with a
// tail (pi, pi/2, ...) are added as head + tail so that they round once.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "frame/scalar.h"

using namespace qarn::sc;

namespace {

constexpr double kPiH = 3.141592653589793, kPiL = 1.2246467991473532e-16;
constexpr double kPi2H = 1.5707963267948966, kPi2L = 6.123233995736766e-17;
constexpr double kPi4H = 0.7853981633974483, kPi4L = 3.061616997868383e-17;
constexpr double k3Pi4H = 2.356194490192345, k3Pi4L = 9.184850993605148e-17;
constexpr double kInvPi = 0.3183098861837907;

// atan(t), |t| <= 1: t + S*t, 19 coefficients in four chains of z^4.
double atan_q19(double t) {
  double z = t * t, z2 = z * z, w = z2 * z2;
  double A = d_of(0xBFD55555555553C5ull) +
             w * (d_of(0xBFB745D009BADA94ull) +
                  w * (d_of(0xBFAAD261EAA09954ull) + w * (d_of(0xBF9A5E83B081F69Cull) + w * d_of(0xBF52E67C93954C23ull))));
  double B = d_of(0x3FC999999997EE34ull) +
             w * (d_of(0x3FB3B12A49295651ull) +
                  w * (d_of(0x3FA7EC0FBC50683Bull) + w * (d_of(0x3F914F4C661116A5ull) + w * d_of(0x3F2CED0A36665209ull))));
  double C = d_of(0xBFC2492491EE55C7ull) +
             w * (d_of(0xBFB11084009435E0ull) +
                  w * (d_of(0xBFA4EFA2E563C1BCull) + w * (d_of(0xBF82B2EC618E4BADull) + w * d_of(0xBEF4FDB537ABC7A3ull))));
  double D = d_of(0x3FBC71C707F7D5B5ull) +
             w * (d_of(0x3FAE1749BD612DCFull) + w * (d_of(0x3FA169980CB6AD4Full) + w * d_of(0x3F6F5A1DAE82AFB3ull)));
  double S = z2 * (B + z * C) + (z * A + w * D);
  return t + S * t;
}

// atan(t)/pi, |t| <= 1: t*R(z), 22 coefficients by Horner.
double atanpi_r22(double t) {
  static const uint64_t r[22] = {
      0x3FD45F306DC9C883ull, 0xBFBB2995E7B7B5EDull, 0x3FB04C26BE3AF8D5ull, 0xBFA7483758DF91CFull,
      0x3FA21BB94433ED0Aull, 0xBF9DA1BAA68634ECull, 0x3F9912AF904B4DD1ull, 0xBF95BAC83A460E3Eull,
      0x3F932BC4F824F7C6ull, 0xBF9124120821BA9Dull, 0x3F8EEA5306D0465Full, 0xBF8BE48C140DF0C8ull,
      0x3F88CA8EE19B9723ull, 0xBF85278CBEF8B02Eull, 0x3F80BAD5CF20A9EDull, 0xBF778AC56B6FECF2ull,
      0x3F6C3A72776AC84Dull, 0xBF5B8DDB0F1CD2C5ull, 0x3F44C3C0C907686Full, 0xBF26798A20DC9977ull,
      0x3EFEE969B7DB1149ull, 0xBEC435D571D7FB69ull};
  double z = t * t, p = d_of(r[21]);
  for (int k = 20; k >= 0; --k) p = d_of(r[k]) + z * p;
  return t * p;
}

// atan(x)/pi for any x: t = x or -1/x, plus 0.5 with the sign of x.
double atanpi_any(double x) {
  if (std::isnan(x)) return x + x;
  if (std::isinf(x)) return std::copysign(0.5, x);
  bool small = std::fabs(x) <= 1;
  double t = small ? x : -1 / x;
  return std::copysign(small ? 0.0 : 0.5, x) + atanpi_r22(t);
}

// floor(log2|v|) of a finite nonzero v, subnormals included.
int expo(double v) {
  uint64_t b = bits_of(v);
  int e = int((b >> 52) & 0x7FF);
  if (e == 0) return 63 - __builtin_clzll(b & 0x000FFFFFFFFFFFFFull) - 1074;
  return e - 1023;
}
// v * 2^k, exact while the result is normal (or v is scaled up).
double scale(double v, int k) {
  if (k > 1000) v *= pow2i(1000), k -= 1000;
  if (k < -1000) v *= pow2i(-1000), k += 1000;
  return v * pow2i(k);
}

template <bool Pi> struct turn {
  static constexpr double hh = Pi ? 1.0 : kPiH, hl = Pi ? 0.0 : kPiL;       // half turn
  static constexpr double qh = Pi ? 0.5 : kPi2H, ql = Pi ? 0.0 : kPi2L;     // quarter
  static constexpr double eh = Pi ? 0.25 : kPi4H, el = Pi ? 0.0 : kPi4L;    // eighth
  static constexpr double th = Pi ? 0.75 : k3Pi4H, tl = Pi ? 0.0 : k3Pi4L;  // three eighths
};

// The main algorithm on normal, comparable operands.
template <bool Pi> double angle(double y, double x) {
  using U = turn<Pi>;
  double ay = std::fabs(y), ax = std::fabs(x);
  bool swap = !(ay < ax);
  double t = (swap ? -ax : ay) / (swap ? ay : ax);
  double v = (swap ? U::qh : 0.0) + (Pi ? atanpi_r22(t) : atan_q19(t));
  if (std::signbit(x)) v = -v;
  double r = v + (x <= 0 ? U::hh : 0.0);
  return std::copysign(r, y);
}

template <bool Pi> double atan2_any(double y, double x) {
  using U = turn<Pi>;
  if (std::isnan(y) || std::isnan(x)) return add_first(y, x);  // y's NaN if y is one
  bool xneg = std::signbit(x);
  double half = opaque(U::hh) + U::hl, quarter = opaque(U::qh) + U::ql;
  if (y == 0) return std::copysign(xneg ? half : 0.0, y);
  if (std::isinf(y)) {
    if (std::isinf(x)) return std::copysign(xneg ? opaque(U::th) + U::tl : opaque(U::eh) + U::el, y);
    return std::copysign(quarter, y);
  }
  if (x == 0) return std::copysign(quarter, y);
  if (std::isinf(x)) return std::copysign(xneg ? half : 0.0, y);
  int d = expo(y) - expo(x);
  if (d < -53) {
    if (xneg) return std::copysign(half, y);
    // atan(t) = t to far below an ulp.  The magnitudes are divided, rounding in
    // the caller's mode, before y's sign is set.  t + t*t (t subnormal) and
    // t*(1 + t) are t to nearest; in the directed modes they round once more.
    double t = std::fabs(y) / std::fabs(x);
    t = t < 0x1p-1022 ? t + t * t : t * (1.0 + t);
    return std::copysign(Pi ? t * kInvPi : t, y);
  }
  if (d >= 74) return std::copysign(quarter, y);
  if (d >= 54) {
    double t = x / std::fabs(y);
    return std::copysign(U::qh + (U::ql - (Pi ? t * kInvPi : t)), y);
  }
  int k = -std::max(expo(y), expo(x));
  return angle<Pi>(scale(y, k), scale(x, k));
}

}  // namespace

QARN_FALLBACK void atan_lane_fallback(const double* x, double* r) {
  if (std::isinf(*x)) *r = std::copysign(opaque(kPi2H) + kPi2L, *x);
}
QARN_FALLBACK void atanf_lane_fallback(const float* x, float* r) {
  if (std::isinf(*x)) *r = float(std::copysign(opaque(kPi2H) + kPi2L, double(*x)));
}

QARN_FALLBACK void atanpi_lane_fallback(const double* x, double* r) { *r = atanpi_any(*x); }
QARN_FALLBACK void atanpif_lane_fallback(const float* x, float* r) { *r = float(atanpi_any(double(*x))); }

QARN_FALLBACK void atan2_lane_fallback(const double* y, const double* x, double* r) {
  *r = atan2_any<false>(*y, *x);
}
QARN_FALLBACK void atan2f_lane_fallback(const float* y, const float* x, float* r) {
  *r = float(atan2_any<false>(double(*y), double(*x)));
}
QARN_FALLBACK void atan2pi_lane_fallback(const double* y, const double* x, double* r) {
  *r = atan2_any<true>(*y, *x);
}
QARN_FALLBACK void atan2pif_lane_fallback(const float* y, const float* x, float* r) {
  *r = float(atan2_any<true>(double(*y), double(*x)));
}
