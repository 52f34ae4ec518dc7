// Lane fallbacks of sin, cos, tan, sincos, sincosreg and tanpi (float and double).
//
// Finite arguments are reduced modulo pi/2 in double: none below 2^17, Cody-Waite
// with head-and-tail pieces of pi/4 below 2^30, and above that the product of
// the significand with nine 25-bit windows of 4/pi (tables/gen_trig.cpp), summed
// exactly as one integer product (the windows read as one 225-bit integer), so
// the fraction keeps 128 bits whatever the argument's size.  A second step of pi/32 and a 64-row table of sines and
// cosines leave |r| <= pi/64 for short Taylor polynomials.  The float fallbacks
// widen the lane, run the same steps and round once.
// The vector reduction is included for one 128-bit lane; its 256-bit forms stay unused.
// The double variants without an inline reduction finish a call's marked lanes all
// at once (sin_lanes_fallback, cos_lanes_fallback, sincos_lanes_fallback).
#pragma GCC diagnostic ignored "-Wpsabi"
#include <bit>
#include <cstdint>

#include "frame/scalar.h"
#include "tables/trig_tables.h"
#include "trig/trig_scalar.h"
#include "trig/reduce.h"

using namespace qarn::sc;

namespace {

struct dd { double hi, lo; };

// Two doubles: the steps after the reduction run on two lanes at once in the
// double variants' all-at-once fallback, through the same templates as one lane.
typedef double v2d __attribute__((vector_size(16)));
template <class D> inline D splat(double c) {
  if constexpr (sizeof(D) == sizeof(double)) return c;
  else return D{c, c};
}

// a*b = p + e exactly (Veltkamp splitting, no fused multiply-add).
template <class D> [[gnu::always_inline]] inline D two_prod_err(D a, D b, D p) {
  D ac = a * 134217729.0, bc = b * 134217729.0;  // 2^27 + 1
  D ah = ac - (ac - a), bh = bc - (bc - b);
  D al = a - ah, bl = b - bh;
  return ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}
template <class D> [[gnu::always_inline]] inline D two_sum_err(D a, D b, D s) {
  D bb = s - a;
  return (a - (s - bb)) + (b - bb);
}

// x = q*(pi/2) + r + r_lo, |r| <= about pi/4.  q may be negative.
int reduce_quarter(double x, double& r, double& r_lo) {
  uint64_t b = bits_of(x);
  int e = int((b >> 52) & 0x7FF);
  bool neg = b >> 63;
  double a = neg ? -x : x;
  int q;
  if (e < 1040) {
    r = x;
    r_lo = 0;
    return 0;
  }
  if (e <= 1052) {
    double t = a * d_of(0x3FF45F306DC9C883ull);  // 4/pi
    // floor(t): t < 2^31, its integer part read from the significand.
    uint64_t tb = bits_of(t);
    int te = int((tb >> 52) & 0x7FF) - 1023;
    int64_t n = int64_t(((tb & 0x000FFFFFFFFFFFFFull) | 0x0010000000000000ull) >> (52 - te));
    double N = double(n + (n & 1));
    static constexpr double P5[5] = {std::bit_cast<double>(0x3FE921FA00000000ull), std::bit_cast<double>(0x3EA5444300000000ull), std::bit_cast<double>(0xBD373DCA00000000ull),
                                 std::bit_cast<double>(0xBBF3B39A00000000ull), std::bit_cast<double>(0x3A845C06E0E68948ull)};
    static constexpr double P4[4] = {std::bit_cast<double>(0x3FE921FB54000000ull), std::bit_cast<double>(0x3E010B4612000000ull), std::bit_cast<double>(0xBC2676733C000000ull),
                                 std::bit_cast<double>(0x3A61701B839A2520ull)};
    const double* P = e > 1045 ? P5 : P4;
    int np = e > 1045 ? 5 : 4;
    double hi = a, lo = 0;
    for (int k = 0; k < np; ++k) {
      double p = N * P[k];
      double pe = two_prod_err(N, P[k], p);
      double s = hi - p;
      double se = two_sum_err(hi, -p, s);
      hi = s;
      lo += se - pe;
    }
    r = hi + lo;
    r_lo = (hi - r) + lo;
    q = int((n + 1) >> 1);
  } else {
    // |x| * 4/pi modulo 8 from windows K[i] .. K[i+8]: term d is m * w(i+d) * 2^(E0 - 25d)
    // with E0 = e - 1074 - 25i in [-22, 2]; the windows above K[i] only add multiples of 8.
    uint64_t m = (b & 0x000FFFFFFFFFFFFFull) | 0x0010000000000000ull;
    int i = ((e - 1052) * 83886) >> 21;
    int E0 = e - 1074 - 25 * i;
    // The nine window products summed are m times the windows read as one integer
    // (K4PiRun[i], 225 bits): four 64x64 -> 128-bit products, exact.
    const uint64_t* run = qarn::tab::K4PiRun + 4 * i;
    uint64_t acc[4];  // fixed point, bit 0 of weight 2^(E0 - 200); bits above 255 are whole periods
    uint64_t carry = 0;
    for (int l = 0; l < 4; ++l) {
      unsigned __int128 p = (unsigned __int128)m * run[l] + carry;
      acc[l] = uint64_t(p);
      carry = uint64_t(p >> 64);
    }
    // Bit P = 200 - E0 of acc has weight 1: octant n = bits P..P+2, fraction below P.
    // Bits P-128 .. P+2 lie in acc[1..3] (P-128 = 64 + o, 6 <= o <= 30).
    int o = 200 - E0 - 128 - 64;
    uint64_t v0 = (acc[1] >> o) | (acc[2] << (64 - o)), v1 = (acc[2] >> o) | (acc[3] << (64 - o));
    int n = int((acc[3] >> o) & 7);
    uint64_t f1 = v1 >> 11, f2 = (v0 >> 22) | ((v1 & 0x7FF) << 42), f3 = v0 & 0x3FFFFF;
    // (Each below 2^53: converted as signed integers, exactly.)
    double d1 = double(int64_t(f1)) * 0x1p-53, d2 = double(int64_t(f2)) * 0x1p-106, d3 = double(int64_t(f3)) * 0x1p-128;
    // N = n + 1 is even: f = t - N in [-1, 0).  (d1 >= +0, so adding +0 keeps it in
    // every rounding direction; a table, not a branch on a bit that is random.)
    static constexpr double kOdd[2] = {0.0, -1.0};
    d1 += kOdd[n & 1];
    double h = d1 + d2;
    double l = two_sum_err(d1, d2, h) + d3;
    double hh = h + l;
    l = (h - hh) + l;
    h = hh;
    // r + r_lo = f * pi/4, pi/4 as a 27-bit head and a tail.
    const double PH = d_of(0x3FE921FB40000000ull), PL = d_of(0x3E64442D18469899ull);
    double c = h * 134217729.0;
    double h_hi = c - (c - h), h_lo = h - h_hi;
    double r_hi = h_hi * PH;
    double tail = h_lo * PH + (h * PL + l * PH);
    r = r_hi + tail;
    r_lo = (r_hi - r) + tail;
    q = (n + 1) >> 1;
  }
  // The sign of x, without a branch: r and r_lo times +-1 (exact), q negated.
  static constexpr double kSign[2] = {1.0, -1.0};
  r *= kSign[neg];
  r_lo *= kSign[neg];
  return (q ^ -int(neg)) + int(neg);
}

// The step of pi/32: q*pi/2 + r + r_lo = (16q + k)*pi/32 + rr + rl, with the
// polynomials of rr (sin rr - rr and cos rr - 1), which sin and cos share.
struct stepped {
  double rr, rl, ps, pc;
  unsigned row;  // 16q + k: only its low six bits matter (unsigned, which wraps by definition)
};
// The floating part of the step, on one lane (D = double) or two (v2d): kd the
// step k as a double.
template <class D> struct steps_of { D kd, rr, rl, ps, pc; };
template <class D> [[gnu::always_inline]] inline steps_of<D> step_core(D r, D r_lo) {
  D kd = (r * 10.185916357881302 + 6755399441055744.0) - 6755399441055744.0;
  const double Q1 = 0.09817477042088285, Q2 = 3.798187816439979e-12, Q3 = 1.2639164054974691e-22;
  D p1 = kd * Q1;  // exact: Q1 has 31 bits
  D hi = r - p1;
  D lo = two_sum_err<D>(r, -p1, hi);
  D p2 = kd * Q2;
  D s = hi - p2;
  lo += two_sum_err<D>(hi, -p2, s) - two_prod_err<D>(kd, splat<D>(Q2), p2);
  hi = s;
  lo = (lo - kd * Q3) + r_lo;
  D rr = hi + lo;
  D rl = (hi - rr) + lo;
  D r2 = rr * rr;
  D ps = rr * r2 * (-0.16666666666666666 + r2 * (0.008333333333333333 + r2 * (-0.0001984126984126984 +
                                                                              r2 * 2.7557319223985893e-06)));
  D pc = r2 * (-0.5 + r2 * (0.041666666666666664 + r2 * (-0.001388888888888889 + r2 * 2.48015873015873e-05)));
  return {kd, rr, rl, ps, pc};
}
stepped step_pi32(int q, double r, double r_lo) {
  steps_of<double> t = step_core<double>(r, r_lo);
  return {t.rr, t.rl, t.ps, t.pc, 16u * unsigned(q) + unsigned(int(t.kd))};
}
// sin(q*pi/2 + r + r_lo + phi*pi/32) from the step and the table row's fields.
template <class D> [[gnu::always_inline]] inline D row_core(D c_lo, D s_hi, D s_lo, D c_hi, D rr, D rl, D ps, D pc) {
  D a = s_hi + rr * c_hi;
  D e1 = (s_hi - a) + rr * c_hi;
  D b = a + c_lo * rr;
  D e2 = (a - b) + c_lo * rr;
  D C = c_hi + c_lo;
  D t = (((e2 + e1) + ps * C) + pc * s_hi) + (rl * (C - rr * s_hi) + s_lo);
  return b + t;
}
double from_row(const stepped& p, int phi) {
  const double* w = qarn::tab::Pi32D + 4 * ((p.row + unsigned(phi)) & 63u);
  return row_core<double>(w[0], w[1], w[2], w[3], p.rr, p.rl, p.ps, p.pc);
}
double sin_reduced(int q, double r, double r_lo, int phi) { return from_row(step_pi32(q, r, r_lo), phi); }

int biased(double x) { return int((bits_of(x) >> 52) & 0x7FF); }

// sin x (phi = 0) or cos x (phi = 16) of a finite x beyond the tiny range.
double sin_or_cos(double x, int phi) {
  double r, r_lo;
  int q = reduce_quarter(x, r, r_lo);
  return sin_reduced(q, r, r_lo, phi);
}

double tiny_sin(double x) {
  if (x == 0) return x;
  return (0x1p55 * x - x) * 0x1p-55;
}

double sin_scalar(double x) {
  int e = biased(x);
  if (e == 0x7FF) return x != x ? x * x : x * 0.0;
  if (e < 771) return tiny_sin(x);
  return sin_or_cos(x, 0);
}
double cos_scalar(double x) {
  int e = biased(x);
  if (e == 0x7FF) return x != x ? x * x : x * 0.0;
  if (e < 771) return 1.0 - (x < 0 ? -x : x);
  return sin_or_cos(x, 16);
}
void sincos_scalar(double x, double& s, double& c) {
  int e = biased(x);
  if (e == 0x7FF) {
    s = c = x != x ? x * x : x * 0.0;
    return;
  }
  if (e < 771) {
    s = tiny_sin(x);
    c = 1.0;
    return;
  }
  double r, r_lo;
  int q = reduce_quarter(x, r, r_lo);
  stepped p = step_pi32(q, r, r_lo);
  s = from_row(p, 0);
  c = from_row(p, 16);
}
double tan_scalar(double x) {
  int e = biased(x);
  if (e == 0x7FF) return x != x ? x * x : x * 0.0;
  if (e < 771) return tiny_sin(x);
  double r, r_lo;
  int q = reduce_quarter(x, r, r_lo);
  stepped p = step_pi32(q, r, r_lo);
  return from_row(p, 0) / from_row(p, 16);
}
// tan(pi*x) for a finite x: the nearest half-integer removed exactly, then a
// quotient of the sine and cosine of the rest (only the non-finite lanes reach
// the fallback from the exports).
double tanpi_scalar(double x) {
  if (biased(x) == 0x7FF) return x != x ? x * x : x * 0.0;
  double a = x < 0 ? -x : x;
  if (a >= 0x1p53) return x < 0 ? -0.0 : 0.0;  // an even integer
  double h = (a + 0x1.8p51) - 0x1.8p51;        // nearest multiple of 1/2
  double f = a - h;
  int64_t qh = int64_t(2 * h);
  double pr = f * d_of(0x400921FB54442D18ull);
  double pr_lo = two_prod_err(f, d_of(0x400921FB54442D18ull), pr) + f * d_of(0x3CA1A62633145C07ull);
  stepped p = step_pi32(0, pr, pr_lo);
  double sn = from_row(p, 0), cs = from_row(p, 16);
  double v;
  if (f == 0) v = (qh & 1) ? __builtin_inf() : 0.0;
  else v = (qh & 1) ? -(cs / sn) : sn / cs;
  if (f == 0 && (qh & 2)) v = -v;
  return x < 0 ? -v : v;
}

}  // namespace

double qarn::trig::sin_scalar(double x) { return ::sin_scalar(x); }
double qarn::trig::cos_scalar(double x) { return ::cos_scalar(x); }
int qarn::trig::reduce_quarter(double x, double* r, double* r_lo) { return ::reduce_quarter(x, *r, *r_lo); }

QARN_FALLBACK void sin_lane_fallback(const double* x, double* r) { *r = sin_scalar(*x); }
QARN_FALLBACK void sinf_lane_fallback(const float* x, float* r) { *r = float(sin_scalar(*x)); }
QARN_FALLBACK void cos_lane_fallback(const double* x, double* r) { *r = cos_scalar(*x); }
QARN_FALLBACK void cosf_lane_fallback(const float* x, float* r) { *r = float(cos_scalar(*x)); }
QARN_FALLBACK void tan_lane_fallback(const double* x, double* r) { *r = tan_scalar(*x); }
QARN_FALLBACK void tanf_lane_fallback(const float* x, float* r) { *r = float(tan_scalar(*x)); }
QARN_FALLBACK void tanpi_lane_fallback(const double* x, double* r) { *r = tanpi_scalar(*x); }
QARN_FALLBACK void tanpif_lane_fallback(const float* x, float* r) { *r = float(tanpi_scalar(*x)); }
QARN_FALLBACK void sincos_lane_fallback(const double* x, double* s, double* c) { sincos_scalar(*x, *s, *c); }
QARN_FALLBACK void sincosreg_lane_fallback(const double* x, double* s, double* c) { sincos_scalar(*x, *s, *c); }
// Float sincos: finite lanes beyond the main path are finished by the exports'
// own vector reduction (run here on one lane), so a lane gives the same bits
// whether the export reduces it inline or hands it over; the rest in double.
static void sincosf_lane(float x, float* s, float* c) {
  float a = x < 0 ? -x : x;
  if (a > 10000.0f && a <= 3.4028235e38f) {
    qarn::vf4 v{_mm_set1_ps(x)};
    qarn::trig::reduced<qarn::vf4> q = qarn::trig::reduce_large(qarn::vabs(v), qarn::bits<qarn::vf4>(0));
    *s = _mm_cvtss_f32((qarn::trig::sin_steps(q, 0) ^ qarn::trig::sign_bits(v)).v);
    *c = _mm_cvtss_f32(qarn::trig::sin_steps(q, 1).v);
    return;
  }
  double sd, cd;
  sincos_scalar(x, sd, cd);
  *s = float(sd);
  *c = float(cd);
}
QARN_FALLBACK void sincosf_lane_fallback(const float* x, float* s, float* c) { sincosf_lane(*x, s, c); }
QARN_FALLBACK void sincosregf_lane_fallback(const float* x, float* s, float* c) { sincosf_lane(*x, s, c); }

// A call's marked lanes at once.
namespace {
// The steps of the reduced lanes, two at a time in one register (the same
// operations as step_pi32 on each lane; an odd count repeats its last lane), then
// `finish(j0, st, row)`: step_core's values of lanes j0 and j0 + 1, their rows
// 16q + k.
template <class Finish>
inline void steps_by_two(int n, const int* q, const double* r, const double* r_lo, Finish finish) {
  for (int j0 = 0; j0 < n; j0 += 2) {
    const int j1 = j0 + 1 < n ? j0 + 1 : j0;
    steps_of<v2d> st = step_core<v2d>(v2d{r[j0], r[j1]}, v2d{r_lo[j0], r_lo[j1]});
    const unsigned row[2] = {16u * unsigned(q[j0]) + unsigned(int(st.kd[0])), 16u * unsigned(q[j1]) + unsigned(int(st.kd[1]))};
    finish(j0, st, row);
  }
}
// sin(q*pi/2 + r + r_lo + phi*pi/32) of two lanes from their steps (from_row's
// operations on each lane).
inline v2d from_rows(const steps_of<v2d>& st, const unsigned* row, int phi) {
  const double* a = qarn::tab::Pi32D + 4 * ((row[0] + unsigned(phi)) & 63u);
  const double* b = qarn::tab::Pi32D + 4 * ((row[1] + unsigned(phi)) & 63u);
  return row_core<v2d>(v2d{a[0], b[0]}, v2d{a[1], b[1]}, v2d{a[2], b[2]}, v2d{a[3], b[3]}, st.rr, st.rl, st.ps, st.pc);
}

// A call's marked lanes: one at a time, each lane is a dependent chain of about
// 160 cycles (reduction, step, row) of which the processor overlaps little with
// the next; here the reductions of all lanes run first, then their steps two
// lanes to a register.  Every lane takes the operations the lane fallback gives
// it: lanes that reach the reduction (finite, not tiny) as below, the others
// through the same scalar routine.
template <class One, class Stepped>
inline void lanes_at_once(unsigned m, const double* x, One one, Stepped stepped) {
  double r[16], r_lo[16];
  int q[16], at[16], n = 0;
  for (int i = 0; i < 16; ++i) {
    if (!(m >> i & 1)) continue;
    int e = biased(x[i]);
    if (e >= 771 && e != 0x7FF) at[n++] = i;
    else one(i);
  }
  for (int j = 0; j < n; ++j) q[j] = reduce_quarter(x[at[j]], r[j], r_lo[j]);
  steps_by_two(n, q, r, r_lo, [&](int j0, const steps_of<v2d>& st, const unsigned* row) {
    stepped(at + j0, n - j0 < 2 ? 1 : 2, st, row);
  });
}
}  // namespace

QARN_FALLBACK void sin_lanes_fallback(unsigned m, const double* x, double* y) {
  lanes_at_once(m, x, [&](int i) { y[i] = sin_scalar(x[i]); },
                [&](const int* at, int k, const steps_of<v2d>& st, const unsigned* row) {
                  v2d v = from_rows(st, row, 0);
                  for (int l = 0; l < k; ++l) y[at[l]] = v[l];
                });
}
QARN_FALLBACK void cos_lanes_fallback(unsigned m, const double* x, double* y) {
  lanes_at_once(m, x, [&](int i) { y[i] = cos_scalar(x[i]); },
                [&](const int* at, int k, const steps_of<v2d>& st, const unsigned* row) {
                  v2d v = from_rows(st, row, 16);
                  for (int l = 0; l < k; ++l) y[at[l]] = v[l];
                });
}
QARN_FALLBACK void sincos_lanes_fallback(unsigned m, const double* x, double* s, double* c) {
  lanes_at_once(m, x, [&](int i) { sincos_scalar(x[i], s[i], c[i]); },
                [&](const int* at, int k, const steps_of<v2d>& st, const unsigned* row) {
                  v2d vs = from_rows(st, row, 0), vc = from_rows(st, row, 16);
                  for (int l = 0; l < k; ++l) s[at[l]] = vs[l], c[at[l]] = vc[l];
                });
}
