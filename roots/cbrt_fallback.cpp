// Lane fallbacks of cbrt and rcbrt (float and double).  The exports send them
// zeros, subnormals, infinities and NaN; the routines are complete all the same.
//
// A positive normal argument goes through the vector path's scheme in scalar form
// (the same tables and the default polynomials).  cbrt then takes one Newton step
// against the residual a - r^3 formed in double-double, which leaves its result
// correctly rounded in all but the rarest cases (exact cubes come out exact).
// Subnormals are scaled up first: cbrt by 2^108 (result by 2^-36), rcbrt by 2^90
// (result by 2^30).  The float fallbacks widen x (float subnormals are normal
// doubles), use the double routine and round once.
#include "frame/scalar.h"
#include "tables/roots_tables.h"

using namespace qarn::sc;
namespace tab = qarn::tab;

namespace {

// Cube root (recip: reciprocal cube root) of a positive normal a.
double root3_normal(double a, bool recip) {
  uint64_t b = bits_of(a);
  int E = int(b >> 52), q = (E * 0x1556) >> 14, r = E - 3 * q, j = int(b >> 47) & 31;
  double S = pow2i(recip ? 341 - q : q - 341);
  double u = (d_of((b & 0x000FFFFFFFFFFFFFull) | 0xBFF0000000000000ull) -
              d_of((b & 0x000FC00000000000ull) | 0xBFF0400000000000ull)) * tab::CbrtRcpD[j];
  double p;
  const double* t;
  if (!recip) {
    p = ((((((d_of(0xBF9036DE5C9CC8E7ull) * u + d_of(0x3F93750AD588F115ull)) * u + d_of(0xBF98090D6221A247ull)) * u +
            d_of(0x3F9EE7113506AC12ull)) * u + d_of(0xBFA511E8D2B3183Bull)) * u + d_of(0x3FAF9ADD3C0CA458ull)) * u +
         d_of(0xBFBC71C71C71C71Cull)) * u + d_of(0x3FD5555555555555ull);
    t = tab::CbrtD;
  } else {
    p = ((((((d_of(0x3FB791D4F50A7B47ull) * u + d_of(0xBFB9B33CA7A65562ull)) * u + d_of(0x3FBC67C9DD3D11BBull)) * u +
            d_of(0xBFBFF4C33F90EF5Full)) * u + d_of(0x3FC26FABB85D0196ull)) * u + d_of(0xBFC61F9ADD3C0CA3ull)) * u +
         d_of(0x3FCC71C71C71C71Cull)) * u + d_of(0xBFD5555555555555ull);
    t = tab::RcbrtD;
  }
  int i = 32 * r + j;
  double A = t[2 * i] * S, B = t[2 * i + 1] * S;
  return (p * (A * u) + B) + A;
}

// Exact product: p + e = a * b (Dekker, no fused multiply-add).
void two_prod(double a, double b, double& p, double& e) {
  p = a * b;
  double ca = a * 134217729.0, cb = b * 134217729.0;
  double ah = ca - (ca - a), al = a - ah, bh = cb - (cb - b), bl = b - bh;
  e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

double cbrt_pos(double a) {
  double scale = 1.0;
  if (a < 0x1p-1022) a *= 0x1p108, scale = 0x1p-36;
  double r = root3_normal(a, false);
  double p, pe, t, te;
  two_prod(r, r, p, pe);
  two_prod(r, p, t, te);
  double d = (a - t) - (te + r * pe);  // a - r^3; a - t is exact
  return (r + d / (3.0 * p)) * scale;
}

double rcbrt_pos(double a) {
  if (a < 0x1p-1022) return root3_normal(a * d_of(0x4590000000000000ull), true) * 0x1p30;  // 2^90
  return root3_normal(a, true);
}

double cbrt_any(double x) {
  if (x != x || x == 0 || x - x != 0) return x * opaque(1.0);  // NaN quieted, ±0, ±inf
  return x < 0 ? -cbrt_pos(-x) : cbrt_pos(x);
}

double rcbrt_any(double x) {
  if (x != x) return x / x;
  if (x == 0) return opaque(1.0) / x;
  if (x - x != 0) return opaque(0.0) / x;  // ±inf: ±0
  return x < 0 ? -rcbrt_pos(-x) : rcbrt_pos(x);
}

}  // namespace

QARN_FALLBACK void cbrt_lane_fallback(const double* x, double* r) { *r = cbrt_any(*x); }
QARN_FALLBACK void cbrtf_lane_fallback(const float* x, float* r) { *r = float(cbrt_any(double(*x))); }
QARN_FALLBACK void rcbrt_lane_fallback(const double* x, double* r) { *r = rcbrt_any(*x); }
QARN_FALLBACK void rcbrtf_lane_fallback(const float* x, float* r) { *r = float(rcbrt_any(double(*x))); }
