// Lane fallbacks of log, log2, log10 and log1p (float and double).  The main paths
// send them zeros, subnormals, negatives, infinities and NaN (log1p: x <= -1, huge
// x, infinities and NaN); they also compute any finite positive input if given one.
//
// Every fallback first settles the special operands: NaN -> x*x (log2: x*1), +inf ->
// +inf, +-0 -> -1/0 = -inf, x < 0 and -inf -> 0/0 (the default NaN).  A subnormal is
// scaled into the normal range and the power is taken off the exponent.  The general
// path then reduces m in [1, 2) by a short reciprocal rcp_j ~ K/(1 + j/64), j the
// nearest 64th of m - 1 (tables in tables/gen_log.cpp), so that m*rcp_j = K(1 + r/K)
// with m_hi*rcp_j exact:
//   log x = n*log(2) + log(K/rcp_j) + log(1 + r/K)
// where the first two terms are added exactly in a head and a tail.  Inputs next to
// 1 use a polynomial in t = x - 1 instead.
//   log, logf:     K = 1, correction r^2*(-1/2 + r*(...)), float the same in float
//   log10:         K = 0.43359375, correction r*P(r), P(0) = 1/(K ln 10) - 1
//   log10f, log2f: K = 111.1796875 ~ 256*log10(e) and 369.330078125 ~ 256/ln 2, the
//                  reciprocals split in an 11-bit head and a tail; log_b(1 + r/K) =
//                  r + r*P(r) with P(0) = -255/256, whose constant part is applied
//                  exactly as r/256 so that nothing cancels
//   log2:          256 reciprocals 1/(1 + i/256) by the top 8 mantissa bits i,
//                  r = m*rcp_i - 1 in [-2^-12, 2^-8 + 2^-12], log2(1 + r) = r/ln2 +
//                  r^2*(series), 1/ln2 in a 21-bit head (r_hi*head exact: r_hi has
//                  at most 32 bits) and a tail
// log1p runs the log fallback of its precision on 1 + x.
#include <cmath>

#include "frame/scalar.h"
#include "tables/log_tables.h"

using namespace qarn::sc;
namespace tab = qarn::tab;

namespace {

template <class T> struct ieee;
template <> struct ieee<double> {
  using U = uint64_t;
  static constexpr int mant = 52, bias = 1023;
  static constexpr U exp_mask = 0x7FF0000000000000ull, frac = 0x000FFFFFFFFFFFFFull, one = 0x3FF0000000000000ull;
  static double from(U b) { return d_of(b); }
};
template <> struct ieee<float> {
  using U = uint32_t;
  static constexpr int mant = 23, bias = 127;
  static constexpr U exp_mask = 0x7F800000u, frac = 0x007FFFFFu, one = 0x3F800000u;
  static float from(U b) { return f_of(b); }
};

// The special operands.  Returns true when *r is final.
template <class T> bool settle(T x, T* r, bool nan_by_one) {
  if (x != x) { *r = nan_by_one ? opaque(x) * T(1) : opaque(x) * x; return true; }
  if (x == T(__builtin_inf())) { *r = x; return true; }
  if (x == T(0)) { *r = T(-1) / opaque(T(0)); return true; }
  if (x < T(0)) { *r = opaque(T(0)) / opaque(T(0)); return true; }
  return false;
}

// x = m * 2^n with m in [1, 2), n the unbiased exponent; a subnormal x is scaled by
// 2^s first (s = the family's scaling) and s is taken off n.
template <class T> T split(T x, int s, int& n) {
  using I = ieee<T>;
  typename I::U b = bits_of(x);
  int off = 0;
  if ((b & I::exp_mask) == 0) {
    x = x * I::from(typename I::U(I::bias + s) << I::mant);
    b = bits_of(x);
    off = s;
  }
  n = int((b & I::exp_mask) >> I::mant) - I::bias - off;
  return I::from((b & I::frac) | I::one);
}

// j = round(64*(m - 1)) from the low bits of m + 2^46 + 1 (float: 2^17 + 1).
int index64(double m) { return int(bits_of(m + d_of(0x42D0000000000040ull)) & 0xFF) - 128; }
int index64(float m) { return int(bits_of(m + f_of(0x48000040u)) & 0xFF) - 128; }

// ---- log, logf --------------------------------------------------------------------
template <class T> struct ln_consts;
template <> struct ln_consts<double> {
  static constexpr const double* tab = tab::LFd;
  static double shift() { return d_of(0x4140000000000000ull); }  // 2^21: m_hi has 32 bits
  static double lhi() { return d_of(0x3FE62E42FEFA3800ull); }
  static double llo() { return d_of(0x3D2EF35793C76730ull); }
  // t^2 * (-1/2 + t*(a3 + ... + t*a8))
  static double corr(double t) {
    return (t * t) *
           (-0.5 + t * (d_of(0x3FD5555555555613ull) +
                        t * (d_of(0xBFD0000000000262ull) +
                             t * (d_of(0x3FC9999997B36C81ull) +
                                  t * (d_of(0xBFC555555228B38Full) +
                                       t * (d_of(0x3FC249C02481059Dull) + t * d_of(0xBFC000B405A2836Dull)))))));
  }
};
template <> struct ln_consts<float> {
  static constexpr const float* tab = tab::LFf;
  static float shift() { return 4096.0f; }  // m_hi has 12 bits
  static float lhi() { return f_of(0x3F317200u); }
  static float llo() { return f_of(0x35BFBE8Eu); }
  static float corr(float t) {
    return (t * t) *
           (-0.5f + t * (float(d_of(0x3FD5555555555613ull)) +
                         t * (float(d_of(0xBFD0000000000262ull)) +
                              t * (float(d_of(0x3FC9999997B36C81ull)) +
                                   t * (float(d_of(0xBFC555555228B38Full)) +
                                        t * (float(d_of(0x3FC249C02481059Dull)) +
                                             t * float(d_of(0xBFC000B405A2836Dull))))))));
  }
};

template <class T> T log_general(T x, int s) {
  using C = ln_consts<T>;
  T t = x - T(1);
  if (std::fabs(t) <= T(0.009765625)) return t + C::corr(t);
  int n;
  T m = split(x, s, n);
  int j = index64(m);
  const T* e = C::tab + 3 * j;
  T m_hi = (m + C::shift()) - C::shift();
  T r_hi = m_hi * e[0] - T(1);
  T r_lo = e[0] * (m - m_hi);
  T r = r_hi + r_lo;
  T nd = T(n);
  return (r_hi + (nd * C::lhi() + e[1])) + ((r_lo + (nd * C::llo() + e[2])) + C::corr(r));
}

template <class T> void log_lane(const T* x, T* r, int s) {
  if (!settle(*x, r, false)) *r = log_general(*x, s);
}

// ---- log10 (double) ---------------------------------------------------------------
// log10(1 + r/K) = r + r*P(r), K = 0.43359375.
double p10(double r) {
  return 0.0016161024074997103 +
         r * (-1.1550167667401798 +
              r * (1.7758816353485936 +
                   r * (-3.0717952611199135 +
                        r * (5.667600559012126 +
                             r * (-10.89268808217976 + r * (21.537397485614264 + r * -43.39945393331915))))));
}

double log10_general(double x) {
  const double K = 0.43359375;
  double t = x - 1.0;
  if (std::fabs(t) <= 0.005859375) {
    double u = t * K;
    return u + u * p10(u);
  }
  int n;
  double m = split(x, 60, n);
  int j = index64(m);
  const double* e = tab::L10Fd + 3 * j;
  double m_hi = (m + d_of(0x4140000000000000ull)) - d_of(0x4140000000000000ull);
  double r_hi = m_hi * e[0] - K;
  double r_lo = e[0] * (m - m_hi);
  double r = r_hi + r_lo;
  double nd = n;
  return (r_hi + (nd * d_of(0x3FD34413509F8000ull) + e[1])) +
         ((r_lo + (nd * d_of(0xBD380433B83B532Aull) + e[2])) + r * p10(r));
}

// ---- log10f, log2f ----------------------------------------------------------------
struct scaled_f {
  const float* tab;
  float K, a_hi, a_lo;  // n*log_b(2) = n*a_hi + n*a_lo
  // P(r) = -255/256 + p0 + r*(p1 + r*(p2 + r*(p3 + r*p4))), p0 = 1/(K ln b) - 1/256
  // (K is short, so 1/(K ln b) is 1/256 only to about 2^-18)
  float p0, p1, p2, p3, p4;
  int s;
  // r*(P(r) + 255/256): log_b(1 + r/K) - r/256.
  float Q(float r) const { return r * (p0 + r * (p1 + r * (p2 + r * (p3 + r * p4)))); }
};
const scaled_f kLog10f{tab::L10Ff, f_of(0x42DE5C00u), 0.30078125f, f_of(0x39826A14u), f_of(0xB235298Du),
                       f_of(0xB7935D5Au), f_of(0x33E23666u), f_of(0xB04353B9u), f_of(0x2CB3E701u), 40};
const scaled_f kLog2f{tab::L2Ff, f_of(0x43B8AA40u), 1.0f, 0.0f, f_of(0xB0D6A3D1u),
                      f_of(0xB6B1720Fu), f_of(0x3223FE93u), f_of(0xADAA8223u), f_of(0x293D1988u), 27};

float scaled_general(float x, const scaled_f& c) {
  float t = x - 1.0f;
  if (std::fabs(t) <= 0.005859375f) {
    float u = t * c.K;
    return u * 0.00390625f + c.Q(u);
  }
  int n;
  float m = split(x, c.s, n);
  int j = index64(m);
  const float* e = c.tab + 3 * j;
  float rh = f_of(bits_of(e[0]) & ~0x1FFFu), rl = e[0] - rh;
  float m_hi = (m + 4096.0f) - 4096.0f;
  float r_hi = m_hi * rh - c.K;
  float r_lo = rh * (m - m_hi) + rl * m;
  float r = r_hi + r_lo;
  float nd = float(n);
  // r/256 is exact, and r = 0 at a power of two (then the result is n*log_b(2)).
  return (r * 0.00390625f + (nd * c.a_hi + e[1])) + ((nd * c.a_lo + e[2]) + c.Q(r));
}

// ---- log2 (double) ----------------------------------------------------------------
constexpr uint64_t kInvLn2Hi = 0x3FF7154700000000ull;  // 1/ln2, 21 bits
constexpr uint64_t kInvLn2Lo = 0x3E994AE0BF800000ull;

// (log2(1 + t) - t/ln2) / t^2 by its series: -1/(2 ln2) + t/(3 ln2) - ...
double series2(double t, int terms) {
  static const double c[] = {-0x1.71547652b82fep-1, 0x1.ec709dc3a03fdp-2, -0x1.71547652b82fep-2,
                             0x1.2776c50ef9bfep-2,  -0x1.ec709dc3a03fdp-3, 0x1.a61762a7aded9p-3,
                             -0x1.71547652b82fep-3, 0x1.484b13d7c02a9p-3};
  double p = c[terms - 1];
  for (int k = terms - 2; k >= 0; --k) p = c[k] + t * p;
  return p;
}

double log2_general(double x) {
  double t = x - 1.0;
  if (std::fabs(t) <= 0.00390625) {
    double t_hi = d_of(bits_of(t) & 0xFFFFFFFFF8000000ull);  // 26 bits: t_hi/ln2 head exact
    double t_lo = t - t_hi;
    return t_hi * d_of(kInvLn2Hi) + ((t_lo * d_of(kInvLn2Hi) + t * d_of(kInvLn2Lo)) + (t * t) * series2(t, 8));
  }
  int n;
  double m = split(x, 55, n);
  int i = int((bits_of(m) >> 44) & 0xFF);
  double rcp = tab::L2Rf[i];
  double m_hi = (m + d_of(0x4180000000000000ull)) - d_of(0x4180000000000000ull);  // 2^25: 28 bits
  double r_hi = m_hi * rcp - 1.0;
  double r_lo = rcp * (m - m_hi);
  double r = r_hi + r_lo;
  double hi = tab::L2Td[2 * i], lo = tab::L2Td[2 * i + 1];
  return ((double(n) + hi) + r_hi * d_of(kInvLn2Hi)) +
         (((r_hi * d_of(kInvLn2Lo) + r_lo * (d_of(kInvLn2Hi) + d_of(kInvLn2Lo))) + lo) + (r * r) * series2(r, 8));
}

}  // namespace

QARN_FALLBACK void log_lane_fallback(const double* x, double* r) { log_lane<double>(x, r, 60); }
QARN_FALLBACK void logf_lane_fallback(const float* x, float* r) { log_lane<float>(x, r, 27); }
QARN_FALLBACK void log10_lane_fallback(const double* x, double* r) {
  if (!settle(*x, r, false)) *r = log10_general(*x);
}
QARN_FALLBACK void log10f_lane_fallback(const float* x, float* r) {
  if (!settle(*x, r, false)) *r = scaled_general(*x, kLog10f);
}
QARN_FALLBACK void log2f_lane_fallback(const float* x, float* r) {
  if (!settle(*x, r, false)) *r = scaled_general(*x, kLog2f);
}
QARN_FALLBACK void log2_lane_fallback(const double* x, double* r) {
  if (!settle(*x, r, true)) *r = log2_general(*x);
}
QARN_FALLBACK void log1p_lane_fallback(const double* x, double* r) {
  double u = *x + 1.0;
  log_lane<double>(&u, r, 60);
}
QARN_FALLBACK void log1pf_lane_fallback(const float* x, float* r) {
  float u = *x + 1.0f;
  log_lane<float>(&u, r, 27);
}
