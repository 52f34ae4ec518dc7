// Lane fallbacks of erfc (float and double).  The main paths send them NaN,
// +infinity and the operands whose erfc is below half the smallest subnormal.
// The double routine is a whole scalar erfc: below its underflow bound it runs
// the main path's default algorithm on one lane (same table, same operations), so
// any lane it is given gets the value the main path would give.  The float routine
// uses it for the one float below its own bound that reaches it (0x4120DDFB), and
// rounds that result once to float.
#include "frame/scalar.h"
#include "tables/erf_tables.h"

using namespace qarn::sc;

namespace {

const double kUnderflowD = d_of(0x403B39DC41E48BFDull);  // 27.226017111108366
const double kUnderflowF = d_of(0x40241BBF700DC3FBull);  // 10.054194928818097

double underflow() { return opaque(d_of(0x0010000000000000ull)) * d_of(0x0010000000000000ull); }

double poly(double T, double d) {
  double d2 = d * d;
  double A = d_of(0x3FE55555555554CFull) +
             T * (d_of(0xBFD555555555548Aull) +
                  T * (d_of(0x3FC11111111AB082ull) +
                       T * (d_of(0xBFA6C16C16D06420ull) +
                            T * (d_of(0x3F8A019F5AEED25Full) +
                                 T * (d_of(0xBF6A019F4F234617ull) +
                                      T * (d_of(0x3F472360BAC04E70ull) + T * d_of(0xBF2282C89A04C65Full)))))));
  double B = d_of(0x3FE0000000379730ull) +
             T * (d_of(0xBFD9999999F3D838ull) +
                  T * (d_of(0x3FCC71C4B73B20B6ull) +
                       T * (d_of(0xBFB8618412BC79ECull) + T * (d_of(0x3FA117ABF1FEA28Cull) + T * d_of(0xBF8441DF86900A46ull)))));
  double C = d_of(0xBFD5555555554ADDull) +
             d2 * (d_of(0x3FB9998F9D0729DAull) +
                   T * (d_of(0xBFC5554E249FF4A7ull) + T * (d_of(0x3FC256E8E6045CDFull) + T * d_of(0xBFB56433674BA5C2ull))));
  return (T * T) * A + (d2 * (T * B + C) - T);
}

double erfc_scalar(double x) {
  if (x != x) return x * x;
  if (x >= kUnderflowD) return x == __builtin_inf() ? 0.0 : underflow();
  uint64_t s = bits_of(x) & 0x8000000000000000ull;
  double a = d_of(bits_of(x) & 0x7FFFFFFFFFFFFFFFull);
  double ap = a < d_of(0x403B3E0000000000ull) ? a : d_of(0x403B3E0000000000ull);  // 27.2421875
  double S = ap + d_of(0x42C0000000000000ull);
  double X0 = S - d_of(0x42C0000000000000ull);
  uint32_t m = uint32_t(bits_of(S));
  double F = qarn::tab::ERFCd[2 * m], E = qarn::tab::ERFCd[2 * m + 1];
  double d = (ap > d_of(0x37F0000000000000ull) ? ap : d_of(0x37F0000000000000ull)) - X0;
  double Q = poly(X0 * d, d);
  double L = E * d;
  double B2 = d_of(0x47F0000000000000ull | s) - d_of(0x47F0000000000000ull);
  return ((F - (Q * L + L)) + B2) * d_of(0x37F0000000000000ull | s);
}

}  // namespace

QARN_FALLBACK void erfc_lane_fallback(const double* x, double* r) { *r = erfc_scalar(*x); }

QARN_FALLBACK void erfcf_lane_fallback(const float* x, float* r) {
  double xd = *x;
  if (xd != xd) { *r = *x * *x; return; }
  if (xd >= kUnderflowF) { *r = xd == __builtin_inf() ? 0.0f : float(underflow()); return; }
  *r = float(erfc_scalar(xd));
}
