// Lane fallbacks of sqrtf _half, rsqrt and rsqrtf, and the scalar roots they share.
//
// Both roots reduce x = 4^k f with f in [1, 4) (the exponent's parity picks the
// half of the seed table), take a seed of 1/sqrt(f) from the mantissa's top bits
// and refine it in double:
//   sqrt:  three coupled Newton steps for g ~ sqrt(f) and h ~ 1/(2 sqrt(f)), then
//          g + h (f - g^2) with the residual f - g^2 formed exactly (Dekker split
//          with 2^27 + 1);
//   rsqrt: e = 1 - f y0^2 (y0 has 12 bits, so y0^2 is exact and f splits in two
//          exact products), then y0 + y0 e/2 + y0 e^2 P(e), P the rest of the series
//          of (1 - e)^(-1/2).
// Subnormals are scaled into the normal range first (sqrt by 2^200, rsqrt by 2^60).
// The float fallbacks widen x, use the double routine and round once.
#include "roots/roots_scalar.h"
#include "frame/scalar.h"
#include "tables/roots_tables.h"

using namespace qarn::sc;

namespace {
struct reduced { double f; int k, p; uint64_t bits; };
// x = 4^k f, f in [1, 4), p = 1 when f >= 2.
reduced reduce4(double x) {
  uint64_t b = bits_of(x);
  int e = int(b >> 52) - 1023, p = e & 1;
  return {d_of((b & 0x000FFFFFFFFFFFFFull) | (uint64_t(1023 + p) << 52)), (e - p) / 2, p, b};
}
}  // namespace

double qarn::roots::sqrt_pos(double x) {
  int adj = 0;
  if (x < 0x1p-1022) x *= d_of(0x4C70000000000000ull), adj = -100;  // 2^200
  reduced r = reduce4(x);
  double y = qarn::tab::SqrtSeed[256 * r.p + int((r.bits >> 44) & 255)];
  double g = r.f * y, h = 0.5 * y;
  for (int i = 0; i < 3; ++i) {
    double t = 0.5 - g * h;
    h = h + h * t;
    g = g + g * t;
  }
  double c = g * 134217729.0;  // Dekker split: g = gh + gl, 26 bits each
  double gh = c - (c - g), gl = g - gh;
  double d = ((r.f - gh * gh) - 2.0 * gh * gl) - gl * gl;
  return (g + d * h) * pow2i(r.k + adj);
}

double qarn::roots::rsqrt_pos(double x) {
  int adj = 0;
  if (x < 0x1p-1022) x *= d_of(0x43B0000000000000ull), adj = 30;  // 2^60
  reduced r = reduce4(x);
  double y0 = qarn::tab::RsqrtSeed[64 * r.p + int((r.bits >> 46) & 63)];
  double y2 = y0 * y0;
  double fh = d_of(bits_of(r.f) & 0xFFFFFFFFF8000000ull), fl = r.f - fh;
  double e = (1.0 - fh * y2) - fl * y2;
  double P = d_of(0x3FD8000000000001ull) +
             e * (d_of(0x3FD400000000138Bull) +
                  e * (d_of(0x3FD17FFFFFFE2A26ull) +
                       e * (d_of(0x3FCF7FFFEC1426E4ull) +
                            e * (d_of(0x3FCCE000C07A3B3Eull) +
                                 e * (d_of(0x3FCAD28A9E3226DFull) + e * d_of(0x3FC91A80BFBF8B2Aull))))));
  double first = y0 * (0.5 * e);  // the first-order term, kept apart from y0
  return (y0 + (first + (y0 * (e * e)) * P)) * pow2i(adj - r.k);
}

namespace {
double rsqrt_any(double x) {
  if (x != x) return x / x;
  if (x == 0) return 1.0 / x;
  if (x < 0) return opaque(x - x) / (x - x);  // NaN, also for -inf
  if (x == __builtin_inf()) return 0.0 / x;
  return qarn::roots::rsqrt_pos(x);
}
}  // namespace

QARN_FALLBACK void sqrtf_lane_fallback(const float* xp, float* r) {
  float x = *xp;
  uint32_t b = bits_of(x);
  if ((b & 0x7F800000u) == 0x7F800000u) {
    *r = b == 0xFF800000u ? opaque(x - x) : x + x;  // -inf: NaN; +inf and NaN: x + x
  } else if (x == 0) {
    *r = x;
  } else if (x < 0) {
    *r = opaque(x - x) / (x - x);
  } else {
    *r = float(qarn::roots::sqrt_pos(double(x)));
  }
}

QARN_FALLBACK void rsqrt_lane_fallback(const double* x, double* r) { *r = rsqrt_any(*x); }
QARN_FALLBACK void rsqrtf_lane_fallback(const float* x, float* r) { *r = float(rsqrt_any(double(*x))); }
