// Lane fallbacks of pow, powr, pown and rootn (float and double).  Each settles
// its family's special operands first (tables below), then computes |x|^y with
// one routine in double-double arithmetic that every fallback shares; the float
// fallbacks run it on their widened operands and round once to float.
//
// |x|^y = e^(y ln|x|):
//   ln|x|  x = 2^n * m, m in [1, 2) (subnormals scaled by 2^200 first); the log
//          fallback's 65 reciprocals rcp_j ~ 1/(1 + j/64) on the 2^-11 grid make
//          m*rcp_j = 1 + s exactly in two pieces, |s| < 2^-6.8, and
//          ln|x| = n ln2 + (-ln rcp_j) + ln(1 + s), all three in two words;
//          ln(1 + s) = s - s^2/2 (two words) + s^3 (1/3 - s/4 + ... - s^9/12)
//   z      y ln|x| in two words (Dekker's product, no fused multiply-add)
//   e^z    z = k ln2/128 + r with ln2/128 in a 33-bit head and a tail, |r| <=
//          ln2/256; e^r - 1 by its series to r^7; 2^(j/128) as (hi, lo) from the
//          exp tables; 2^(k >> 7) applied in two steps, so the result overflows to
//          infinity or lands in the subnormal range with one final rounding
//          (after the rounding of hi + lo: a tie missed by a double rounding is
//          the worst case there, one subnormal ulp).
// The relative error before the final rounding is about 2^-70, so double results
// are within 0.51 ulp and float results correctly rounded but for near-ties.
#include "frame/scalar.h"
#include "tables/exp_tables.h"
#include "tables/log_tables.h"

using namespace qarn::sc;
namespace tab = qarn::tab;

namespace {

struct dd { double hi, lo; };

dd two_sum(double a, double b) {
  double s = a + b, bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}
dd fast_two_sum(double a, double b) {  // |a| >= |b| or a = 0
  double s = a + b;
  return {s, b - (s - a)};
}
void split(double a, double& h, double& l) {  // |a| < 2^995
  double t = a * 134217729.0;
  h = t - (t - a);
  l = a - h;
}
dd two_prod(double a, double b) {
  double p = a * b, ah, al, bh, bl;
  split(a, ah, al);
  split(b, bh, bl);
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

const double kLn2Hi = d_of(0x3FE62E42FEFA3800ull);  // low 11 bits zero: n*kLn2Hi exact
const double kLn2Lo = d_of(0x3D2EF35793C76730ull);

// ln a for a positive finite double, a != 1 not required.
dd ln_dd(double a) {
  uint64_t b = bits_of(a);
  int off = 0;
  if ((b >> 52) == 0) {
    a *= d_of(0x4C70000000000000ull);  // 2^200
    b = bits_of(a);
    off = 200;
  }
  int n = int(b >> 52) - 1023 - off;
  double m = d_of((b & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
  int j = int(bits_of(m + d_of(0x42D0000000000040ull)) & 0xFF) - 128;  // round(64(m - 1))
  const double* e = tab::LFd + 3 * j;
  double m_hi = (m + d_of(0x4140000000000000ull)) - d_of(0x4140000000000000ull);  // 32 bits
  double r_hi = m_hi * e[0] - 1.0;
  double r_lo = e[0] * (m - m_hi);
  dd s = fast_two_sum(r_hi, r_lo);
  dd q = two_prod(s.hi, s.hi);
  double t = s.hi;
  double s3 = t * q.hi;
  double series =
      s3 * (d_of(0x3FD5555555555555ull) +
            t * (-0.25 + t * (0.2 + t * (d_of(0xBFC5555555555555ull) +
                                         t * (d_of(0x3FC2492492492492ull) +
                                              t * (-0.125 + t * (d_of(0x3FBC71C71C71C71Cull) +
                                                                 t * (-0.1 + t * d_of(0x3FB745D1745D1746ull)))))))));
  // ln(1 + s) = (s.hi - q.hi/2) + (s.lo - s.hi*s.lo - q.lo/2 + series)
  dd h = two_sum(s.hi, -0.5 * q.hi);
  double tail = ((s.lo - s.hi * s.lo) - 0.5 * q.lo) + series;
  double nd = n;
  double A = nd * kLn2Hi + e[1];          // exact (both on a 2^-43 grid, small)
  double B = nd * kLn2Lo + e[2];
  dd u = two_sum(A, h.hi);
  return fast_two_sum(u.hi, ((u.lo + h.lo) + tail) + B);
}

double huge() { return opaque(d_of(0x7FEFFFFFFFFFFFFFull)) * d_of(0x7FEFFFFFFFFFFFFFull); }
double tiny() { return opaque(d_of(0x0010000000000000ull)) * d_of(0x0010000000000000ull); }

// e^(z.hi + z.lo), |z.hi| < 746.
double exp_dd(dd z) {
  const double shift = d_of(0x4338000000000000ull);
  double S = z.hi * d_of(0x40671547652B82FEull) + shift;  // 128/ln2
  double kd = S - shift;
  int k = int32_t(uint32_t(bits_of(S)));
  const double L1 = d_of(0x3F762E42FEF00000ull);          // ln2/128, 33 bits
  const double L2 = d_of(0x3D6473DE6AF278EDull);          // the rest
  double a = z.hi - kd * L1;                               // exact
  dd r = two_sum(a, -(kd * L2));
  double rl = r.lo + z.lo;
  double t = r.hi;
  double p = t * t *
             (0.5 + t * (d_of(0x3FC5555555555555ull) +
                         t * (d_of(0x3FA5555555555555ull) +
                              t * (d_of(0x3F81111111111111ull) +
                                   t * (d_of(0x3F56C16C16C16C17ull) + t * d_of(0x3F2A01A01A01A01Aull))))));
  double pl = rl + rl * t;
  int j = k & 127, m = k >> 7;
  double hi = tab::E128d[2 * j], lo = tab::E128d[2 * j + 1];
  // hi*(1 + t + p + pl) + lo*(1 + ...)
  double corr = (hi * (p + pl) + lo * (1.0 + (t + p))) + hi * t;
  double v = hi + corr;
  if (m > 1020) return (v * pow2i(m - 4)) * 16.0;
  if (m < -1020) return (v * pow2i(m + 1000)) * d_of(0x0170000000000000ull);  // * 2^-1000
  return v * pow2i(m);
}

// |x|^y for positive finite a, y = yh + yl finite.
double pow_pos(double a, double yh, double yl) {
  dd l = ln_dd(a);
  if (l.hi == 0) return 1.0;
  double z0 = yh * l.hi;
  if (!(z0 < 746.0)) return huge();   // with z0 NaN impossible: y and ln a are finite
  if (z0 < -746.0) return tiny();
  dd z = two_prod(yh, l.hi);
  z.lo += yh * l.lo + yl * l.hi;
  z = fast_two_sum(z.hi, z.lo);
  if (z.hi > 709.8) return huge();
  if (z.hi < -745.2) return tiny();
  return exp_dd(z);
}

// ---- classification of y ------------------------------------------------------------
// 0: not an integer (or infinite); 1: odd integer; 2: even integer.
int int_kind(double y) {
  uint64_t b = bits_of(y);
  int e = int((b >> 52) & 0x7FF) - 1023;
  if (e == 1024) return 0;
  if (e >= 53) return 2;
  if (e < 0) return y == 0 ? 2 : 0;
  uint64_t frac = (b & 0x000FFFFFFFFFFFFFull) | 0x0010000000000000ull;
  if (frac & ((uint64_t(1) << (52 - e)) - 1)) return 0;
  return (frac >> (52 - e)) & 1 ? 1 : 2;
}

double nan0() { return opaque(0.0) / opaque(0.0); }
bool neg(double x) { return int64_t(bits_of(x)) < 0; }

double pow_lane(double x, double y) {
  if (y == 0) return 1.0;
  if (x == 1.0) return 1.0;
  if (x != x || y != y) return add_first(x, y);  // x's NaN if x is one
  const double inf = __builtin_inf();
  int k = int_kind(y);
  bool odd = k == 1;
  if (x == 0) {
    if (y > 0) return neg(x) && odd ? -0.0 : 0.0;
    return neg(x) && odd ? -inf : inf;
  }
  double ax = __builtin_fabs(x);
  bool yinf = y == inf || y == -inf;
  if (x == -1.0 && (yinf || k != 0)) return odd ? -1.0 : 1.0;
  bool xinf = ax == inf;
  if (xinf || ax > 1.0) {
    if (y == inf || (xinf && y > 0)) return x == -inf && odd ? -inf : inf;
    if (y == -inf || (xinf && y < 0)) return x == -inf && odd ? -0.0 : 0.0;
  } else {
    if (y == inf) return 0.0;
    if (y == -inf) return inf;
  }
  if (x < 0 && k == 0) return nan0();
  double r = pow_pos(ax, y, 0.0);
  return x < 0 && odd ? -r : r;
}

double powr_lane(double x, double y) {
  if (x != x || y != y) return add_first(x, y);  // x's NaN if x is one
  const double inf = __builtin_inf();
  if (x == 0) {
    if (y == 0) return nan0();
    return y > 0 ? 0.0 : inf;
  }
  if (x == inf) {
    if (y == 0) return nan0();
    return y > 0 ? inf : 0.0;
  }
  bool yinf = y == inf || y == -inf;
  if (x == 1.0) return yinf ? nan0() : 1.0;
  if (x < 0) return nan0();
  if (y == 0) return 1.0;
  if (yinf) return (x < 1.0) == (y > 0) ? 0.0 : inf;
  return pow_pos(x, y, 0.0);
}

double pown_lane(double x, int n) {
  if (n == 0) return 1.0;
  if (x == 1.0) return 1.0;
  if (x != x) return x + x;
  const double inf = __builtin_inf();
  bool odd = n & 1;
  if (x == 0) {
    if (n > 0) return odd ? x : 0.0;
    return odd ? 1.0 / x : inf;
  }
  if (x == -1.0) return odd ? -1.0 : 1.0;
  double ax = __builtin_fabs(x);
  double r = ax == inf ? (n > 0 ? inf : 0.0) : pow_pos(ax, double(n), 0.0);
  return x < 0 && odd ? -r : r;
}

double rootn_lane(double x, int n) {
  if (n == 0) return (opaque(1.0) / opaque(0.0)) / (opaque(1.0) / opaque(0.0));
  if (x != x) return x + x;
  const double inf = __builtin_inf();
  bool odd = n & 1;
  if (x == 0) {
    if (!odd) return n > 0 ? 0.0 : inf;
    return n > 0 ? x : 1.0 / x;
  }
  if (odd && (x == inf || x == -inf)) return n > 0 ? x : 1.0 / x;
  if (x == inf) return n > 0 ? inf : 0.0;
  if (x < 0 && !odd) return nan0();
  // 1/n in two words: the quotient and (1 - n*q)/n from the exact product.
  double nd = n, q = 1.0 / nd;
  dd p = two_prod(nd, q);
  double ql = ((1.0 - p.hi) - p.lo) / nd;
  double r = pow_pos(__builtin_fabs(x), q, ql);
  return x < 0 ? -r : r;
}

}  // namespace

QARN_FALLBACK void pow_lane_fallback(const double* x, const double* y, double* r) { *r = pow_lane(*x, *y); }
QARN_FALLBACK void powf_lane_fallback(const float* x, const float* y, float* r) {
  *r = float(pow_lane(double(*x), double(*y)));
}
QARN_FALLBACK void powr_lane_fallback(const double* x, const double* y, double* r) { *r = powr_lane(*x, *y); }
QARN_FALLBACK void powrf_lane_fallback(const float* x, const float* y, float* r) {
  *r = float(powr_lane(double(*x), double(*y)));
}
QARN_FALLBACK void pown_lane_fallback(const double* x, const int32_t* n, double* r) { *r = pown_lane(*x, *n); }
QARN_FALLBACK void pownf_lane_fallback(const float* x, const int32_t* n, float* r) {
  *r = float(pown_lane(double(*x), *n));
}
QARN_FALLBACK void rootn_lane_fallback(const double* x, const int32_t* n, double* r) { *r = rootn_lane(*x, *n); }
QARN_FALLBACK void rootnf_lane_fallback(const float* x, const int32_t* n, float* r) {
  *r = float(rootn_lane(double(*x), *n));
}
