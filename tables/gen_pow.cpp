// Generates the tables of the power families from MPFR (200-bit working precision;
// every stored value is rounded once from the exact one, except where a head is
// cut as stated).
//
//   X2048d  2048 doubles: 2^(j/2048) * K rounded to nearest, K = 0.9999999928394805
//           (the double nearest it), except entry 0, which is exactly 1.0
//           (double _native paths)
//   X2048f  the same with entry 0 following the rule too (powf default)
//   RL1025d 1025 rows of four doubles (rcp, hi, lo, 0), j = 0..1024, for the double
//           default paths:
//             rcp_j = R0/(1 + j/1024) rounded to nearest with 23 significant bits,
//                     R0 = 0x3FF7154740000000 (log2 e cut to 23 bits), so
//                     m*rcp_j is log2 e times m/(1 + j/1024)
//             hi + lo = log2(R0/rcp_j), minus 1 for j >= 512 (those mantissas
//                     count toward the next binade); hi is the value cut toward
//                     zero to 21 significant bits (its low 32 bits zero), lo the
//                     rest rounded to nearest.  Cutting, not rounding, keeps
//                     hi + lo summed in the right order at the powers of two.
//   X128d   128 doubles: 2^(j/128) rounded to nearest
//   RL65f   65 rows of four floats (hi, lo, rcp, 0), j = 0..64, for the float
//           default paths:
//             rcp_j = 1/(1 + j/64) rounded to a multiple of 2^-8 (8 bits, so that a
//                     16-bit head of the mantissa times rcp_j is exact)
//             hi = -ln rcp_j cut toward zero to a multiple of 2^-14, lo the rest
//                     rounded to float.  Rounding hi to nearest instead leaves
//                     e*ln2_hi + hi slightly off zero at j = 64, e = -1 (inputs
//                     just below 1), and the product with a huge y loses the head.
// Known rows (the reciprocal and logarithm rows at j = 0, 1, 512, 1024, RL65 at
// j = 1, 32, 64, and X2048f[0]) are checked here; a mismatch fails the generator
// and so the build.
// Usage: gen_pow OUT.cpp
#include <mpfr.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const mpfr_prec_t kPrec = 200;
static FILE* out;
static int failures = 0;

static double d_of(unsigned long long b) { double d; std::memcpy(&d, &b, 8); return d; }
static unsigned long long bits_d(double d) { unsigned long long b; std::memcpy(&b, &d, 8); return b; }
static unsigned bits_f(float f) { unsigned b; std::memcpy(&b, &f, 4); return b; }

static void expect(bool ok, const char* what) {
  if (!ok) { std::fprintf(stderr, "gen_pow: %s\n", what); ++failures; }
}

static void x2048(const char* name, bool exact_one) {
  std::fprintf(out, "alignas(64) const double %s[2048] = {\n", name);
  mpfr_t v, k;
  mpfr_inits2(kPrec, v, k, (mpfr_ptr)0);
  mpfr_set_d(k, 0.9999999928394805, MPFR_RNDN);
  double first = 0;
  for (int j = 0; j < 2048; ++j) {
    mpfr_set_si(v, j, MPFR_RNDN);
    mpfr_div_si(v, v, 2048, MPFR_RNDN);
    mpfr_exp2(v, v, MPFR_RNDN);
    mpfr_mul(v, v, k, MPFR_RNDN);
    double d = (j == 0 && exact_one) ? 1.0 : mpfr_get_d(v, MPFR_RNDN);
    if (j == 0) first = d;
    std::fprintf(out, "  %a,\n", d);
  }
  if (!exact_one) expect(bits_d(first) == 0x3FEFFFFFFC27DD9Eull, "X2048f[0] is not 0x3FEFFFFFFC27DD9E");
  mpfr_clears(v, k, (mpfr_ptr)0);
  std::fprintf(out, "};\n");
}

static void rl1025() {
  const double R0 = d_of(0x3FF7154740000000ull);
  std::fprintf(out, "alignas(64) const double RL1025d[4100] = {\n");
  mpfr_t v, a, r23, h;
  mpfr_inits2(kPrec, v, a, (mpfr_ptr)0);
  mpfr_init2(r23, 23);
  mpfr_init2(h, 21);
  for (int j = 0; j <= 1024; ++j) {
    mpfr_set_d(a, R0, MPFR_RNDN);
    mpfr_mul_si(a, a, 1024, MPFR_RNDN);
    mpfr_div_si(a, a, 1024 + j, MPFR_RNDN);
    mpfr_set(r23, a, MPFR_RNDN);
    double rcp = mpfr_get_d(r23, MPFR_RNDN);
    mpfr_set_d(a, R0, MPFR_RNDN);
    mpfr_div_d(a, a, rcp, MPFR_RNDN);
    mpfr_log2(v, a, MPFR_RNDN);
    if (j >= 512) mpfr_sub_si(v, v, 1, MPFR_RNDN);
    mpfr_set(h, v, MPFR_RNDZ);
    double hi = mpfr_get_d(h, MPFR_RNDN);
    mpfr_sub_d(v, v, hi, MPFR_RNDN);
    double lo = mpfr_get_d(v, MPFR_RNDN);
    if (j == 0 || j == 1024) expect(hi == 0 && lo == 0, "LOG1025 row 0 or 1024 is not (0, 0)");
    if (j == 1) {
      expect(bits_d(rcp) == 0x3FF70F8340000000ull, "RCP1025[1]");
      expect(bits_d(hi) == 0x3F5712E100000000ull, "LOG1025[1].hi");
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.16g", lo);
      expect(std::strcmp(buf, "8.995622848800516e-10") == 0, "LOG1025[1].lo");
    }
    if (j == 512) {
      expect(bits_d(rcp) == 0x3FEEC709C0000000ull, "RCP1025[512]");
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.16g", hi);
      expect(std::strcmp(buf, "-0.4150373935699463") == 0, "LOG1025[512].hi");
    }
    if (j == 1024) expect(bits_d(rcp) == 0x3FE7154740000000ull, "RCP1025[1024]");
    expect((bits_d(hi) & 0xFFFFFFFFull) == 0, "LOG1025 hi has low bits set");
    std::fprintf(out, "  %a, %a, %a, 0.0,\n", rcp, hi, lo);
  }
  mpfr_clears(v, a, r23, h, (mpfr_ptr)0);
  std::fprintf(out, "};\n");
}

static void e128() {
  std::fprintf(out, "alignas(64) const double X128d[128] = {\n");
  mpfr_t v;
  mpfr_init2(v, kPrec);
  for (int j = 0; j < 128; ++j) {
    mpfr_set_si(v, j, MPFR_RNDN);
    mpfr_div_si(v, v, 128, MPFR_RNDN);
    mpfr_exp2(v, v, MPFR_RNDN);
    std::fprintf(out, "  %a,\n", mpfr_get_d(v, MPFR_RNDN));
  }
  mpfr_clear(v);
  std::fprintf(out, "};\n");
}

static void rl65() {
  std::fprintf(out, "alignas(64) const float RL65f[260] = {\n");
  mpfr_t v, a;
  mpfr_inits2(kPrec, v, a, (mpfr_ptr)0);
  for (int j = 0; j <= 64; ++j) {
    double rcp = std::nearbyint(256.0 * 64.0 / (64 + j)) / 256.0;  // 256*64/(64+j) is never a tie
    mpfr_set_d(a, rcp, MPFR_RNDN);
    mpfr_log(v, a, MPFR_RNDN);
    mpfr_neg(v, v, MPFR_RNDN);
    mpfr_mul_2si(a, v, 14, MPFR_RNDN);
    mpfr_trunc(a, a);
    mpfr_div_2si(a, a, 14, MPFR_RNDN);
    float hi = mpfr_get_flt(a, MPFR_RNDN);  // exact: at most 14 bits
    mpfr_sub(v, v, a, MPFR_RNDN);
    float lo = mpfr_get_flt(v, MPFR_RNDN);
    if (j == 1) expect(rcp == 0.984375, "RL65 rcp[1]");
    if (j == 32) expect(rcp == 0.66796875, "RL65 rcp[32]");
    if (j == 64) expect(rcp == 0.5 && bits_f(hi) == 0x3F317000u, "RL65 row 64");
    std::fprintf(out, "  %af, %af, %af, 0.0f,\n", hi, lo, float(rcp));
  }
  mpfr_clears(v, a, (mpfr_ptr)0);
  std::fprintf(out, "};\n");
}

int main(int argc, char** argv) {
  if (argc != 2) { std::fprintf(stderr, "usage: gen_pow OUT.cpp\n"); return 2; }
  out = std::fopen(argv[1], "w");
  if (!out) { std::perror(argv[1]); return 1; }
  std::fprintf(out, "// Generated by tables/gen_pow.cpp from MPFR; do not edit.\n"
                    "#include \"tables/pow_tables.h\"\nnamespace qarn::tab {\n");
  x2048("X2048d", true);
  x2048("X2048f", false);
  rl1025();
  e128();
  rl65();
  std::fprintf(out, "}  // namespace qarn::tab\n");
  if (std::fclose(out) != 0) return 1;
  if (failures) { std::remove(argv[1]); return 1; }
  return 0;
}
