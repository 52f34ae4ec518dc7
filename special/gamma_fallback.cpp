// Scalar routines of lgamma, lgamma_r and tgamma: every lane of these families runs
// here.  The double routines evaluate in the x87 extended format with the precision
// control set to 64-bit significands for the call (the caller's control word is
// loaded back before returning); lgammaf uses the x87 unit under the caller's
// control word; tgammaf evaluates in double.  Every result is rounded once to the
// lane's type.  Coefficients: tables/gamma_fits.h (tables/fit_gamma.py).
//
// Sign of gamma (lgamma_r): +1 for x > 0, +0, infinities, NaN and the poles; -1 for
// -0; for a negative non-integer x, +1 when trunc(x) is odd and -1 when it is even.
#include <immintrin.h>

#include <bit>
#include <iterator>
#include <cstdint>

#include "frame/scalar.h"
#include "tables/gamma_fits.h"
#include "tables/gamma_tables.h"

using namespace qarn::sc;
using namespace qarn::gfit;
using ld = long double;

namespace {

constexpr ld kLnSqrt2Pi = 0.918938533204672741780329736405617639861L;  // ln(sqrt(2*pi))
constexpr ld kInv12 = 1.0L / 12.0L;
constexpr ld kMinusInv360 = -1.0L / 360.0L;

// ---- extended helpers --------------------------------------------------------------
// Natural logarithm in extended precision of a positive finite double:
// x = 2^e * m with m in [sqrt(1/2), sqrt(2)), c = i/256 the nearest multiple of
// 1/256 (i = 181..362), u = (m - c)/c (|u| < 2^-8.4, m - c exact) and
//   ln x = (e*ln2_hi + ln c) + ((e*ln2_lo + ln c's low part) + log1p(u)),
// log1p(u) = u + u^2*(-1/2 + u*q(u)), q the series from 1/3 to -u^5/8 (the first
// term left out is below 2^-79), evaluated in double: it weighs 2^-17 of u.
// ln2_hi has 40 bits, so e*ln2_hi is exact; ln 1 = 0, so inputs next to 1 lose
// nothing to the table.  About one extended ulp.

ld ln_ext(double x) {
  uint64_t b = bits_of(x);
  int e = int(b >> 52) - 1023;
  if (e == -1023) {  // subnormal: scale into the normal range
    b = bits_of(x * 0x1p64);
    e = int(b >> 52) - 1023 - 64;
  }
  uint64_t mb = b & 0x000FFFFFFFFFFFFFull;
  if (mb >= 0x6A09E667F3BCDull) mb |= 0x3FE0000000000000ull, ++e;
  else mb |= 0x3FF0000000000000ull;
  double m = d_of(mb);
  int i = int(m * 256.0 + 0.5);
  double c = i * 0x1p-8, z = m - c, ud = z / c, u2 = ud * ud;
  double q = ((1.0 / 3 - ud * 0.25) + u2 * (0.2 - ud * (1.0 / 6))) + (u2 * u2) * (1.0 / 7 - ud * 0.125);
  double lo = e * qarn::tab::LGL2[1] + qarn::tab::LGLd[i - 181];
  ld u = ld(z) / ld(c);
  ld r = u + (u * u) * (-0.5L + u * ld(q));
  return (ld(e * qarn::tab::LGL2[0]) + qarn::tab::LGLx[i - 181]) + (ld(lo) + r);
}
// ... and of a positive extended value below 2^1024: its double part hi and the
// exact rest, ln x = ln hi + rest/hi (the next term is below 2^-105).
ld ln_ext(ld x) {
  double hi = double(x);
  return ln_ext(hi) + (x - hi) / hi;
}

// The extended tables of the double routines are kept as pairs of doubles: hi = the
// value rounded to double, lo = the rest (at most 11 bits, so exact).  hi + lo,
// formed on the x87 unit under the 64-bit precision control these routines set, is
// the extended value again; two double loads and an add cost the unit less than one
// 80-bit load (lgamma8 and tgamma8 about 14% faster).  A compile-time check holds
// every entry to hi + lo.
struct XView {  // extended values c[i] = hi[i] + lo[i]
  const double *hi, *lo;
  ld operator[](int i) const { return hi[i] + ld(lo[i]); }
  XView operator+(int k) const { return {hi + k, lo + k}; }
};
template <size_t R, size_t C> struct XTable {
  double hi[R][C], lo[R][C];
  bool exact = true;  // every entry is hi + lo
  XView operator[](size_t i) const { return {hi[i], lo[i]}; }
};
template <size_t R, size_t C> constexpr XTable<R, C> split(const long double (&t)[R][C]) {
  XTable<R, C> s{};
  for (size_t i = 0; i < R; ++i)
    for (size_t j = 0; j < C; ++j) {
      s.hi[i][j] = double(t[i][j]), s.lo[i][j] = double(t[i][j] - s.hi[i][j]);
      s.exact = s.exact && s.hi[i][j] + (long double)s.lo[i][j] == t[i][j];
    }
  return s;
}
template <size_t C> constexpr XTable<1, C> split(const long double (&t)[C]) {
  long double row[1][C] = {};
  for (size_t j = 0; j < C; ++j) row[0][j] = t[j];
  return split(row);
}
// tgamma: the groups, the three intervals of [1, 2) and the reflection factor
constexpr auto kTgGroupX = split(kTgGroup);
constexpr auto kTgHiX = split(kTgHi), kTgMidX = split(kTgMid), kTgLoX = split(kTgLo);
constexpr auto kSinPiX = split(kSinPi);
static_assert(kTgGroupX.exact && kTgHiX.exact && kTgMidX.exact && kTgLoX.exact && kSinPiX.exact);
// lgamma: the binades, [2.25, 4), the core on [0.875, 2.25)
constexpr auto kLgBinadeX = split(kLgBinade);
constexpr auto kLg24X = split(kLg24), kLgMinX = split(kLgMin);
constexpr auto kLg1X = split(kLg1);
constexpr auto kLg2X = split(kLg2);
static_assert(kLgBinadeX.exact && kLg24X.exact && kLgMinX.exact && kLg1X.exact && kLg2X.exact);
// ... and the reflection term and the windows around the negative zeros
constexpr auto kLogSinX = split(kLogSin);
constexpr auto kLgWindowX = split(kLgWindow);
static_assert(kLogSinX.exact && kLgWindowX.exact);

ld horner(XView c, int N, ld t) {
  ld r = c[N - 1];
  for (int i = N - 2; i >= 0; --i) r = r * t + c[i];
  return r;
}
// The polynomial with coefficients c[0..N-1] (lowest first) as even(t^2) + t*odd(t^2).
ld even_odd(XView c, int N, ld t) {
  ld s = t * t, e = 0, o = 0;
  for (int i = (N - 1) / 2 * 2; i >= 0; i -= 2) e = e * s + c[i];
  for (int i = (N - 2) / 2 * 2 + 1; i >= 1; i -= 2) o = o * s + c[i];
  return e + t * o;
}
// K * prod(a_k + b_k*t + t^2) over the eleven pairs that follow K.
ld factored(XView c, ld t) {
  ld p = c[0];
  for (int k = 0; k < 11; ++k) p = p * (c[1 + 2 * k] + c[2 + 2 * k] * t + t * t);
  return p;
}

// trunc of a double of magnitude below 2^52 (the conversion truncates in every mode).
double trunc52(double x) { return double(int64_t(x)); }
bool is_odd_int(double t) { return (int64_t(t) & 1) != 0; }

// Sign of gamma at a negative non-integer x (|x| < 2^52).
int neg_sign(double x) { return is_odd_int(trunc52(x)) ? 1 : -1; }

// sin(pi*r)/pi for 0 <= r < 1, by the odd series after folding r to 1 - r above 1/2.
ld sinpi_over_pi(ld r) {
  if (r > 0.5L) r = 1.0L - r;
  ld s = r * r;
  return r + (r * s) * horner(kSinPiX[0], 10, s);
}

// Precision control at 64-bit significands for one call; the caller's word is
// loaded back afterwards.  The work runs in a separate function, so no extended
// operation can move across the control-word loads.
template <class F> double with_extended(F f, double x, int* sign) {
  uint16_t saved, cw;
  asm volatile("fnstcw %0" : "=m"(saved));
  cw = uint16_t(saved | 0x0300);
  asm volatile("fldcw %0" ::"m"(cw));
  double r = f(x, sign);
  asm volatile("fldcw %0" ::"m"(saved));
  return r;
}

// ---- tgamma, double -----------------------------------------------------------------
ld gamma_1_2(ld y) {  // gamma(y), 1 <= y < 2
  if (y >= 1.5L) return even_odd(kTgHiX[0], 16, y - 1.0L);
  if (y >= 1.25L) return even_odd(kTgMidX[0], 16, y - kXmin);
  return even_odd(kTgLoX[0], 16, y - 1.0L);
}

[[gnu::noinline, gnu::flatten]] QARN_MS double tgamma_ext(double x, int*) {
  if (x != x || x == __builtin_inf()) return x + x;
  if (x == -__builtin_inf()) return opaque(x) - x;  // NaN
  if (x == 0) return 1.0 / opaque(x);                // +-infinity
  double ax = x < 0 ? -x : x;
  if (ax <= d_of(0x0004000000000000ull)) {           // 1/x overflows
    double h = opaque(d_of(0x7E70000000000000ull)) * d_of(0x7E70000000000000ull);
    return x < 0 ? -h : h;
  }
  int sign = 1;
  if (x < 0) {
    if (ax >= 0x1p52 || trunc52(x) == x) return (opaque(x) - x) / (opaque(x) - x);  // pole: NaN
    sign = neg_sign(x);
    if (x < -185.0) {
      double t = opaque(d_of(0x0170000000000000ull)) * d_of(0x0170000000000000ull);
      return sign < 0 ? -t : t;
    }
  } else if (x >= d_of(0x406573FAE561F648ull)) {   // 171.62437695630274
    return opaque(d_of(0x7FEFFFFFFFFFFFFFull)) * 2.0;
  }
  ld r;
  if (ax >= 2.0) {
    int n = int(ax);
    ld f = ld(ax) - n;
    // Past the last group (negative x below -176) the product takes the extra steps.
    int g = n >> 4 < 10 ? n >> 4 : 10, j = n - 16 * g - (g == 0 ? 2 : 0);
    ld G = factored(kTgGroupX[g], f);
    ld P = 1.0L;
    int i = 1;
    // The factors ax - i, exact in double, formed two at a time in SSE (the x87 unit
    // then multiplies straight from memory).
    alignas(16) double fac[26];
    alignas(16) static const double kStep[2] = {1, 2};
    __m128d va = _mm_set1_pd(ax), vi = _mm_load_pd(kStep), two = _mm_set1_pd(2);
    for (int k = 0; k < j; k += 2, vi = _mm_add_pd(vi, two)) _mm_store_pd(fac + k, _mm_sub_pd(va, vi));
    for (; i + 3 <= j; i += 4) P = P * ((ld(fac[i - 1]) * fac[i]) * (ld(fac[i + 1]) * fac[i + 2]));
    for (; i <= j; ++i) P = P * fac[i - 1];
    if (x > 0) return double(P * G);
    r = 1.0L / (((P * ld(ax)) * sinpi_over_pi(ld(ax) - n)) * G);
  } else {
    ld y = ax >= 1.0 ? ld(ax) : 1.0L + ld(ax);
    ld gy = gamma_1_2(y);
    if (x > 0) return double(ax >= 1.0 ? gy : gy / ld(x));
    ld S = sinpi_over_pi(ax >= 1.0 ? ld(ax) - 1.0L : ld(ax));
    r = ax >= 1.0 ? 1.0L / ((gy * S) * ld(ax)) : 1.0L / (S * gy);
  }
  return double(sign < 0 ? -r : r);
}

// ---- lgamma, double -----------------------------------------------------------------
// The core on [0.875, 2.25).
ld lg_core(ld y) {
  if (y >= 1.75L) return even_odd(kLg2X[0], int(std::size(kLg2)), y - 2.0L);
  if (y >= 1.25L) return even_odd(kLgMinX[0], int(std::size(kLgMin)), y - kXmin);
  return even_odd(kLg1X[0], int(std::size(kLg1)), y - 1.0L);
}

ld stirling(double xd) {
  ld x = xd, u = 1.0L / x;
  return ((x - 0.5L) * ln_ext(xd) - x) + (kLnSqrt2Pi + u * (kInv12 + (u * u) * kMinusInv360));
}

// lgamma on the binade [2^(k+2), 2^(k+3)) of 4 <= x < 512: t = x/2^(k+2) - 1, exact.
inline ld lg_binade(double x) {
  uint64_t b = bits_of(x);
  double t = d_of((b & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull) - 1.0;
  return factored(kLgBinadeX[int(b >> 52) - 0x401], ld(t));
}
inline bool lg_in_binades(double x) { return bits_of(x) - 0x4010000000000000ull < 0x4080000000000000ull - 0x4010000000000000ull; }

// lgamma of a positive finite x.
ld lg_pos(double x) {
  if (x >= 512.0) return stirling(x);
  if (x >= 4.0) return lg_binade(x);
  if (x >= 2.25L) return (x - 2.0L) * factored(kLg24X[0], x);
  if (x >= 0.875L) return lg_core(x);
  return lg_core(1.0L + x) - ln_ext(x);
}

// The binades alone: a leaf, so that it keeps no registers it does not use.
[[gnu::noinline]] QARN_MS double lgamma_binade_ext(double x, int* sign) {
  *sign = 1;
  return double(lg_binade(x));
}

[[gnu::noinline, gnu::flatten]] QARN_MS double lgamma_ext(double x, int* sign) {
  *sign = 1;
  if (x != x) return x * x;
  if (x == __builtin_inf() || x == -__builtin_inf()) return x * x;
  if (x == 0) {
    if (bits_of(x) >> 63) *sign = -1;
    return 1.0 / opaque(0.0);
  }
  if (x > d_of(0x7F5754D9278B51A7ull)) return opaque(d_of(0x7FEFFFFFFFFFFFFFull)) * d_of(0x7FEFFFFFFFFFFFFFull);
  if (x > 0) return double(lg_pos(x));
  double ax = -x;
  if (ax >= 0x1p52 || trunc52(x) == x) return 1.0 / opaque(0.0);  // pole
  *sign = neg_sign(x);
  if (ax < 2.0) {
    ld y = x, p = 1.0L;
    while (y < 1.0L) p = p * y, y = y + 1.0L;
    return double(lg_core(y) - ln_ext(p < 0 ? -p : p));
  }
  if (ax < 15.0) {
    int i = int(ax) - 2;
    for (int w = 0; w < 2; ++w) {
      const ld* c = kLgWindow[2 * i + w];
      if (c[2] < x && x < c[3]) {
        ld t = (ld(x) - c[0]) - c[1];
        return double(even_odd(kLgWindowX[2 * i + w] + 4, 18, t));
      }
    }
  }
  // x minus the nearest integer, exact.  The shifter rounds to integers only below
  // 2^51; from there to 2^52 every non-integer is a half-integer, and |r| = 1/2.
  double S = x + 0x1.8p52;
  double r = ax < 0x1p51 ? x - (S - 0x1.8p52) : 0.5;
  ld lr = r;
  ld res = ((-ln_ext(ax) - lg_pos(ax)) - ln_ext(r < 0 ? -r : r)) - even_odd(kLogSinX[0], int(std::size(kLogSin)), lr * lr);
  return double(res);
}

// ---- tgammaf (double arithmetic) --------------------------------------------------------
double sinpi_over_pi_d(double r) {
  if (r > 0.5) r = 1.0 - r;
  double s = r * r, q = kSinPiF[7];
  for (int i = 6; i >= 0; --i) q = q * s + kSinPiF[i];
  return r + (r * s) * q;
}
// K*prod(a_k + b_k*f + f^2), k = 1..6, from c = {K, a1, b1, ..., a6, b6}: the factors
// in pairs, multiplied as a tree ((q1*q3)*q5)*((q2*q4)*q6), then K.
double group_tgf(const double* c, double f) {
  __m128d vf = _mm_set1_pd(f), ff = _mm_mul_pd(vf, vf), q[3];
  #pragma GCC unroll 3
  for (int k = 0; k < 3; ++k) {
    __m128d ab0 = _mm_loadu_pd(c + 1 + 4 * k), ab1 = _mm_loadu_pd(c + 3 + 4 * k);
    __m128d a = _mm_unpacklo_pd(ab0, ab1), b = _mm_unpackhi_pd(ab0, ab1);
    q[k] = _mm_add_pd(_mm_add_pd(a, _mm_mul_pd(b, vf)), ff);
  }
  __m128d p = _mm_mul_pd(_mm_mul_pd(q[0], q[1]), q[2]);
  return c[0] * (_mm_cvtsd_f64(p) * _mm_cvtsd_f64(_mm_unpackhi_pd(p, p)));
}
// prod(ax - i), i = 1..j, for 0 <= j <= 8, with no branch on j: the eight factors in
// pairs, those past j set to 1, multiplied as a tree.  A trip count that follows the
// operand would mispredict on nearly every lane.
double steps_tgf(double ax, int j) {
  alignas(16) static const double kI[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  __m128d a = _mm_set1_pd(ax), one = _mm_set1_pd(1.0), jj = _mm_set1_pd(j), p[4];
  #pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    __m128d i = _mm_load_pd(kI + 2 * k), keep = _mm_cmple_pd(i, jj);
    p[k] = _mm_or_pd(_mm_and_pd(keep, _mm_sub_pd(a, i)), _mm_andnot_pd(keep, one));
  }
  __m128d q = _mm_mul_pd(_mm_mul_pd(p[0], p[1]), _mm_mul_pd(p[2], p[3]));
  return _mm_cvtsd_f64(q) * _mm_cvtsd_f64(_mm_unpackhi_pd(q, q));
}
double horner_d(const double* c, int n, double t) {
  double r = c[n - 1];
  for (int i = n - 2; i >= 0; --i) r = r * t + c[i];
  return r;
}

// |x| >= 2, n = floor(|x|): G = G_g(|x| - n) and P = prod(|x| - i), i = 1..j.  Past
// the last group (negative x below -40) the product takes the extra steps.
inline void group_and_steps_tgf(double ax, int n, double& G, double& P) {
  int g = n >> 3 < 4 ? n >> 3 : 4, j = n - 8 * g - (g == 0 ? 2 : 0);
  G = group_tgf(kTgfGroup[g], ax - n);
  P = steps_tgf(ax, j);
  for (int i = 9; i <= j; ++i) P = P * (ax - i);
}
// 2 <= x < 35.04010009765625, from the bits of x: the positive main range.
inline bool tgf_in_range(uint32_t b) { return b - 0x40000000u < std::bit_cast<uint32_t>(35.04010009765625f) - 0x40000000u; }
inline float tgf_range(float xf) {
  double ax = xf, G, P;
  group_and_steps_tgf(ax, int(ax), G, P);
  return float(P * G);
}

// Every other case: ms_abi like its caller, and with every helper inlined, so that
// neither keeps xmm6-15 it does not use.
[[gnu::noinline, gnu::flatten]] QARN_MS float tgammaf_scalar(float xf) {
  double x = xf;
  if (x != x || x == __builtin_inf()) return xf + xf;
  if (x == -__builtin_inf()) return opaque(xf) - xf;
  if (x == 0) return 1.0f / opaque(xf);
  double ax = x < 0 ? -x : x;
  if (ax <= double(f_of(0x00200000))) {  // 1/x overflows
    float h = opaque(f_of(0x7F7FFFFF)) * 2.0f;
    return x < 0 ? -h : h;
  }
  int sign = 1;
  if (x < 0) {
    if (ax >= 0x1p23 || trunc52(x) == x) return (opaque(xf) - xf) / (opaque(xf) - xf);
    sign = neg_sign(x);
    if (x < -43.0) return sign < 0 ? -0.0f : 0.0f;
  } else if (x >= 35.04010009765625) {
    return opaque(f_of(0x7F7FFFFF)) * 2.0f;
  }
  double r;
  if (ax >= 2.0) {
    int n = int(ax);
    double G, P;
    group_and_steps_tgf(ax, n, G, P);
    if (x > 0) return float(P * G);
    r = 1.0 / (((ax * sinpi_over_pi_d(ax - n)) * G) * P);
  } else {
    double y = ax >= 1.0 ? ax : 1.0 + ax;
    int k = y >= 1.75 ? 0 : y >= 1.5 ? 1 : y >= 1.25 ? 2 : 3;
    double gy = horner_d(kTgfInterval[k], 12, y - (1.75 - 0.25 * k));
    if (x > 0) return float(ax >= 1.0 ? gy : gy / x);
    double S = sinpi_over_pi_d(ax >= 1.0 ? ax - 1.0 : ax);
    r = ax >= 1.0 ? 1.0 / ((gy * S) * ax) : 1.0 / (S * gy);
  }
  return float(sign < 0 ? -r : r);
}

// ---- lgammaf (extended, caller's control word) ------------------------------------------
// L on [1, 4]: the fits in x and z = x^2, evaluated in double.
double lgf_core(double x) {
  double z = x * x;
  if (x > 2.0) {
    double A = 1.7884191104221256 + z * (0.8106727579778737 + z * (0.12286581200585678 + z * (0.004936169746782409 + z * 3.694874160398032e-5)));
    double B = -1.007437551154768 + z * (-1.319254397683353 + z * (-0.3695688526116071 + z * (-0.02940429186540842 + z * (-0.0005519944130247472 - z * 1.120492217138287e-6))));
    return (x - 2.0) * (x * A + B);
  }
  if (x >= 1.75) {
    double A = -4.7893558709793576 + z * (-3.039909851141845 + z * (-0.4945369715882629 - z * 0.014031570635625828));
    double B = 2.0785126152567317 + z * (4.675815346632483 + z * (1.4739380162753994 + z * (0.10854449687626426 + z * 0.0008108774257969853)));
    return x * A + B;
  }
  if (x >= 1.5) {
    double A = -5.492422926899898 + z * (-4.661925793284611 + z * (-1.0323940125560764 - z * 0.03966273693117704));
    double B = 2.231950714242066 + z * (6.087411991953703 + z * (2.640594300999947 + z * (0.26375394564840393 + z * 0.0026653556501803895)));
    return x * A + B;
  }
  if (x >= 1.25) {
    double t = x - 1.4616321449683622, s = t * t;
    return t * (2.8471629265300675e-12 + s * (-0.14758773392299096 + s * (-0.032783884104987254 - s * 0.009330241652046085))) +
           (-0.12148629053584961 + s * (0.4838361227490464 + s * (0.06462479228880302 + s * (0.01808878570610407 + s * 0.009548285674792423))));
  }
  double A = -7.819530277739463 + z * (-14.187536543304514 + z * (-6.847484552026849 - z * 0.5664763377200432));
  double B = 2.618934880660767 + z * (12.280855985759299 + z * (11.896488118446243 + z * (2.568986442876742 + z * 0.05576228304781816)));
  return x * A + B;
}

// lgammaf on the binade [2^(k+2), 2^(k+3)) of 4 <= x < 8192, from the bits b of x.
// The degree-11 polynomial in t = x/2^(k+2) - 1 runs as even(s) + t*odd(s),
// s = t^2: the double coefficients c3..c11 in one packed Horner scheme in s (odd
// part in the low half, even part in the high half), the extended c0, c1, c2 on
// the x87 unit.  t has at most 23 significant bits, so t and s are exact.
inline ld lgf_binade(uint32_t b) {
  unsigned k = (b - 0x40800000u) >> 23;
  double t = double(f_of((b & 0x007FFFFFu) | 0x3F800000u)) - 1.0;
  double s = t * t;
  const double* c = kLgfBinadeD[k];
  __m128d vs = _mm_set1_pd(s), v = _mm_loadu_pd(c + 8);
  for (int j = 6; j >= 0; j -= 2) v = _mm_add_pd(_mm_mul_pd(v, vs), _mm_loadu_pd(c + j));
  double od = _mm_cvtsd_f64(v), ev = _mm_cvtsd_f64(_mm_unpackhi_pd(v, v));
  const ld* X = kLgfBinadeX[k];
  ld S = s;
  return (X[0] + S * (X[2] + S * ev)) + ld(t) * (X[1] + S * od);
}

ld lgf_pos(double x) {  // x > 0, finite, below the overflow bound
  if (x >= 8192.0) return (ld(x) - 0.5L) * ln_ext(x) - ld(x) + kLnSqrt2Pi;
  if (x >= 4.0) return lgf_binade(bits_of(float(x)));
  if (x >= 1.0) return lgf_core(x);
  return ld(lgf_core(double(1.0L + ld(x)))) - ln_ext(x);
}

const struct { double lo, z, hi, A, B, C, D; } kLgfWindow[4] = {
    {-2.7476876467274125, -2.7476826467274127, -2.7476776467274129, -20.095134918364234, 9.5751894760032368, -1.9143501856116005, 1.7335092440245009e-16},
    {-2.4570297382208004, -2.4570247382208006, -2.4570197382208008, 1.4112911431232971, 4.8583209516748793, 1.5156034480216576, 5.6191923589500967e-17},
    {-3.9553142848585972, -3.9552942848585979, -3.955256462097168, -3730.604724430541, 251.7146828802708, -20.725060845803696, -4.1438275075770498e-16},
    {-3.1435858883499797, -3.1435808883499798, -3.14357588834998, 112.2689863227796, 25.831338375148459, 7.7818846581313625, 1.6978655906121085e-15},
};

// Every case but the binades; ms_abi like its callers and with its helpers inlined,
// so that neither keeps xmm6-15 it does not use.
[[gnu::noinline, gnu::flatten]] QARN_MS float lgammaf_scalar(float xf, int* sign) {
  *sign = 1;
  double x = xf;
  if (x != x) return xf * xf;
  if (x == __builtin_inf() || x == -__builtin_inf()) return xf * xf;
  if (x == 0) {
    if (bits_of(xf) >> 31) *sign = -1;
    return 1.0f / opaque(0.0f);
  }
  if (x == 1.0 || x == 2.0) return 0.0f;
  if (x >= double(f_of(0x7C44AF8E))) return opaque(f_of(0x7F7FFFFF)) * f_of(0x7F7FFFFF);
  if (x > 0) return float(lgf_pos(x));
  double ax = -x;
  if (ax >= 0x1p23 || trunc52(x) == x) return 1.0f / opaque(0.0f);  // pole
  *sign = neg_sign(x);
  if (ax >= 2.0 && ax < 4.0) {
    double n = 0.0;
    { double v = -2.5 - x; n = double(int64_t(v + (v >= 0 ? 0.5 : -0.5))); }
    const auto* w = &kLgfWindow[int(n) & 1 ? 2 : 0];
    for (int k = 0; k < 2; ++k)
      if (w[k].lo < x && x < w[k].hi) {
        double t = x - w[k].z;
        return float(t * ((w[k].A * t + w[k].B) * t + w[k].C) + w[k].D);
      }
  }
  if (ax < 9.0) {
    ld y = x, p = 1.0L;
    while (y < 1.0L) p = p * y, y = y + 1.0L;
    return float(ld(lgf_core(double(y))) - ln_ext(p < 0 ? -p : p));
  }
  double S = x + 0x1.8p52;
  double r = x - (S - 0x1.8p52);
  double s = r * r;  // exact: r has at most 24 significant bits
  ld res = ((-ln_ext(ax) - lgf_pos(ax)) - ln_ext(r < 0 ? -r : r)) - ld(s * horner_d(kLogSinF, 11, s));
  return float(res);
}

}  // namespace

QARN_FALLBACK void tgamma_lane_fallback(const double* x, double* r) { *r = with_extended(tgamma_ext, *x, nullptr); }
QARN_FALLBACK void tgammaf_lane_fallback(const float* x, float* r) {
  uint32_t b = bits_of(*x);
  *r = tgf_in_range(b) ? tgf_range(*x) : tgammaf_scalar(*x);
}
QARN_FALLBACK void lgamma_lane_fallback(const double* x, double* r) {
  int s;
  *r = with_extended(lg_in_binades(*x) ? lgamma_binade_ext : lgamma_ext, *x, &s);
}
QARN_FALLBACK void lgammar_lane_fallback(const double* x, double* r, int32_t* sign) {
  int s;
  *r = with_extended(lg_in_binades(*x) ? lgamma_binade_ext : lgamma_ext, *x, &s);
  *sign = s;
}
// x in [4, 8192): sign +1, the binade polynomial; the rest in lgammaf_scalar.
inline bool lgf_in_binades(uint32_t b) { return b - 0x40800000u < 0x46000000u - 0x40800000u; }

QARN_FALLBACK void lgammaf_lane_fallback(const float* x, float* r) {
  int s;
  uint32_t b = bits_of(*x);
  *r = lgf_in_binades(b) ? float(lgf_binade(b)) : lgammaf_scalar(*x, &s);
}
QARN_FALLBACK void lgammarf_lane_fallback(const float* x, float* r, int32_t* sign) {
  int s = 1;
  uint32_t b = bits_of(*x);
  *r = lgf_in_binades(b) ? float(lgf_binade(b)) : lgammaf_scalar(*x, &s);
  *sign = s;
}
