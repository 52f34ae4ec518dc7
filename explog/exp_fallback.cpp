// Lane fallbacks of exp, exp2 and exp10 (float and double): NaN, infinities,
// overflow, underflow, tiny and subnormal results, finished in double precision.
// The float fallbacks widen x, run the double algorithm with their own bounds and
// round once to float; their results are normal doubles, so no subnormal step is
// needed.  Reduction by 64 steps of 2^(j/64) (table R64d: hi and hi's relative
// error) with a polynomial good to about 2^-60 relative on |r| <= ln2/128.
#include "explog/exp_scalar.h"
#include "frame/scalar.h"
#include "tables/exp_tables.h"

using namespace qarn::sc;
using qarn::tab::R64d;

namespace {

constexpr uint64_t kShift52 = 0x4338000000000000ull;  // 1.5*2^52
constexpr uint64_t kShift46 = 0x42D8000000000000ull;  // 1.5*2^46

enum class fam { e, two, ten };

struct bounds {
  double ovf;   // overflow above (>= for exp2)
  double unf;   // underflow below (<= for exp2)
  double subn;  // subnormal result below; NaN pattern = none
  bool subnormal_step;
};

double huge_result() { return opaque(d_of(0x7FEFFFFFFFFFFFFFull)) * d_of(0x7FEFFFFFFFFFFFFFull); }
double tiny_result() { return opaque(d_of(0x0170000000000000ull)) * d_of(0x0170000000000000ull); }

// Polynomials p(r) of each family.
double poly(fam f, double r) {
  switch (f) {
    case fam::e:
      return r + (r * r) * (0.5 + r * (d_of(0x3FC55555555548F8ull) +
                                       r * (d_of(0x3FA5555555558FCCull) +
                                            r * (d_of(0x3F8111123AAF20D3ull) + r * d_of(0x3F56C16A1C2A3FFDull)))));
    case fam::two:
      return r * (d_of(0x3FE62E42FEFA39EFull) +
                  r * (d_of(0x3FCEBFBDFF82A23Aull) +
                       r * (d_of(0x3FAC6B08D7076268ull) +
                            r * (d_of(0x3F83B2AD33F8B48Bull) + r * d_of(0x3F55D870C4D8440Aull)))));
    case fam::ten:
      return r * (d_of(0x40026BB1BBB55515ull) +
                  r * (d_of(0x40053524C73CD20Aull) +
                       r * (d_of(0x4000470591E2BC10ull) +
                            r * (d_of(0x3FF2BD77B840F0BFull) + r * d_of(0x3FE1427C87C70A85ull)))));
  }
  return 0;
}

// Steps 4 to 7 for a finite x inside the bounds.
double reduce_and_scale(fam f, double x, bool below_subnormal, bool subnormal_step) {
  double kd, r;
  int k;
  if (f == fam::two) {
    double S = x + d_of(kShift46);
    double t = S - d_of(kShift46);  // k/64, exact
    k = int32_t(uint32_t(bits_of(S)));
    kd = t;
    r = x - t;
  } else {
    double K = f == fam::e ? d_of(0x40571547652B82FEull) : d_of(0x406A934F0979A371ull);
    double L1 = f == fam::e ? d_of(0x3F862E42FEFA0000ull) : d_of(0x3F734413509F0000ull);
    double L2 = f == fam::e ? d_of(0x3D1CF79ABC9E3B3Aull) : d_of(0x3D1E7FBCC47C4ACDull);
    double S = x * K + d_of(kShift52);
    kd = S - d_of(kShift52);
    k = int32_t(uint32_t(bits_of(S)));
    r = (x - kd * L1) - kd * L2;
  }
  int j = k & 63, m = k >> 6;
  double hi = R64d[2 * j], rel = R64d[2 * j + 1];
  double v = hi * (poly(f, r) + rel);
  if (below_subnormal && subnormal_step) {
    if (f == fam::two) return ((v + hi) * pow2i(m + 100)) * d_of(0x39B0000000000000ull);
    double s = pow2i(m + 60);
    double w = hi * s + v * s;
    if (m + 1083 > 50) {
      double c = d_of(0x41F8000000000000ull);  // 1.5*2^32: head keeps 21 significant bits
      double head = (w + w * c) - w * c;
      double tail = w - head;
      return head * d_of(0x3C30000000000000ull) + tail * d_of(0x3C30000000000000ull);
    }
    return w * d_of(0x3C30000000000000ull);
  }
  if (m + 1023 <= 2046) return (v + hi) * pow2i(m);
  return ((v + hi) * pow2i(m - 1)) * 2.0;
}

// The whole fallback in double; `tiny_exp` is the biased exponent below which 1 + x is returned
// (0 = no tiny step).  `ge` selects x >= ovf / x <= unf (exp2) instead of strict bounds.
double exp_family(fam f, double x, const bounds& b, bool ge, int tiny_biased, int tiny_exp_of_x) {
  if (x != x) return x * x;
  if (x == __builtin_inf()) return x * x;
  if (x == -__builtin_inf()) return 0.0;
  if (ge ? x >= b.ovf : x > b.ovf) return huge_result();
  if (ge ? x <= b.unf : x < b.unf) return tiny_result();
  if (tiny_biased && tiny_exp_of_x < tiny_biased) return 1.0 + x;
  return reduce_and_scale(f, x, x < b.subn, b.subnormal_step);
}

int biased_exp(double x) { return int((bits_of(x) >> 52) & 0x7FF); }
int biased_exp(float x) { return int((bits_of(x) >> 23) & 0xFF); }

const bounds kExp{d_of(0x40862E42FEFA39EFull), d_of(0xC0874910D52D3051ull), d_of(0xC086232BDD7ABCD2ull), true};
const bounds kExpF{double(f_of(0x42B17217)), double(f_of(0xC2CFF1B4)), -1e300, false};
const bounds kExp2{1024.0, -1075.0, -1022.0, true};
const bounds kExp2F{128.0, -150.0, -1e300, false};
const bounds kExp10{d_of(0x40734413509F79FEull), d_of(0xC07439B746E36B52ull), d_of(0xC0733A7146F72A41ull), true};
const bounds kExp10F{d_of(0x4043441360000000ull), d_of(0xC04693C6A0000000ull), -1e300, false};

}  // namespace

double qarn::explog::exp_scalar(double x) { return exp_family(fam::e, x, kExp, false, 971, biased_exp(x)); }
double qarn::explog::expf_scalar(float x) { return exp_family(fam::e, double(x), kExpF, false, 75, biased_exp(x)); }

QARN_FALLBACK void exp_lane_fallback(const double* x, double* r) { *r = qarn::explog::exp_scalar(*x); }
QARN_FALLBACK void expf_lane_fallback(const float* x, float* r) { *r = float(qarn::explog::expf_scalar(*x)); }
QARN_FALLBACK void exp2_lane_fallback(const double* x, double* r) {
  *r = exp_family(fam::two, *x, kExp2, true, 0, 0);
}
QARN_FALLBACK void exp2f_lane_fallback(const float* x, float* r) {
  *r = float(exp_family(fam::two, double(*x), kExp2F, true, 0, 0));
}
QARN_FALLBACK void exp10_lane_fallback(const double* x, double* r) {
  *r = exp_family(fam::ten, *x, kExp10, false, 971, biased_exp(*x));
}
QARN_FALLBACK void exp10f_lane_fallback(const float* x, float* r) {
  double xd = *x;
  // Underflow is stored directly as +0 here.
  if (xd == xd && xd < kExp10F.unf) { *r = 0.0f; return; }
  *r = float(exp_family(fam::ten, xd, kExp10F, false, 0, 0));
}
