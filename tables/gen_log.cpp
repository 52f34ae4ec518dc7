// Generates the tables of the logarithm families from MPFR (200-bit working
// precision; every stored value is rounded once, to nearest, from the exact one).
//
// Main paths, indexed by c - c_min (c is the integer the reciprocal reduction picks):
//   LDd   c = 512..1024   log:   (hi, lo) of -1013*ln2 - ln c
//   L2Dd  c = 369..738    log2:  (hi, lo) of -1014 + log2(1.44140625) - log2 c
//   L10Dd c = 222..444    log10: (hi, lo) of -1013*log10(2) + log10(0.43359375) - log10 c
//   LNd, L2Nd, L10Nd  c = 512..1024, one double: k*ln2 - ln c, k - log2 c, k*log10(2) - log10 c,
//                     k = 9 for c <= 724 and 10 above
//   L2Df  c = 92..184     log2f:  (hi, lo) floats of -120 + log2(1.4375) - log2 c
//   L10Df c = 111..222    log10f: (hi, lo) floats of -118*log10(2) + log10(0.43359375) - log10 c
//   L1Pf  c = 128..256    log1pf: (hi, lo) floats of -119*ln2 - ln c
//
// Where the main path adds E*(L_hi + L_lo) for the biased exponent E (LDd, L10Dd,
// L10Df, L1Pf), the table is built against that same split of the constant, not
// against the exact one: with k = round(log2(c / c_one)) + B0 chosen so that
// E = k exactly for inputs next to 1,
//   value = -k*(L_hi + L_lo) + log(c_one * 2^(k - B0) / c)
//   hi    = -k*L_hi + (the logarithm term rounded to a multiple of 2^-g)
//   lo    = value - hi, rounded once
// so that E*L_hi + hi and E*L_lo + lo cancel exactly when E = k and c is the
// power-of-two multiple of c_one (the input is a power of 2 next to 1): log(1)
// is +0 and inputs next to 1 carry no error from the split.  g = 40 for the
// doubles, 17 for L10Df, 16 for L1Pf; E*L_hi + hi stays exact in every case.
// L2Dd and L2Df need no split (E has weight 1): hi is the value rounded to a
// multiple of 2^-40 (double) or 2^-14 (float), lo the rest.
//
// Lane fallbacks, 65 triples (rcp_j, hi_j, lo_j), j = 0..64:
//   LFd  (log, double):     rcp_j = 1/(1 + j/64) rounded to a multiple of 2^-11,
//                           hi_j = -ln rcp_j rounded to a multiple of 2^-42
//   LFf  (logf, float):     the same rcp_j; hi_j a multiple of 2^-15
//   L10Fd (log10, double):  rcp_j = 0.43359375/(1 + j/64) to a multiple of 2^-11,
//                           hi_j = log10(0.43359375/rcp_j) to a multiple of 2^-42
//   L10Ff (log10f, float):  rcp_j = K/(1 + j/64) rounded to float, K = 111.1796875
//                           (256*log10(e) to a multiple of 2^-7), hi_j = log10(K/rcp_j)
//                           to a multiple of 2^-18
//   L2Ff  (log2f, float):   as L10Ff with K = 369.330078125 (256/ln2 to a multiple of
//                           2^-9) and log2, hi_j to 2^-16
//   lo_j = the rest, rounded once.
// log2 fallback: L2Rf, 256 floats rcp_i = 1/(1 + i/256) rounded to a multiple of
// 2^-12 (rcp_0 = 1, so powers of two come out exact), and L2Td, 256 (hi, lo)
// doubles of -log2 rcp_i with hi a multiple of 2^-42.
// Usage: gen_log OUT.cpp
#include <mpfr.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const mpfr_prec_t kPrec = 200;
static FILE* out;

static double d_of(unsigned long long b) { double d; std::memcpy(&d, &b, 8); return d; }
static float f_of(unsigned b) { float f; std::memcpy(&f, &b, 4); return f; }

enum base { LN, L2, L10 };

// v <- log_base(a)
static void logb(mpfr_t v, mpfr_t a, base b) {
  if (b == LN) mpfr_log(v, a, MPFR_RNDN);
  else if (b == L2) mpfr_log2(v, a, MPFR_RNDN);
  else mpfr_log10(v, a, MPFR_RNDN);
}

// v rounded to the nearest multiple of 2^-g (ties away), as an exact MPFR value.
static void to_grid(mpfr_t dst, mpfr_t v, int g) {
  mpfr_mul_2si(dst, v, g, MPFR_RNDN);
  mpfr_round(dst, dst);
  mpfr_div_2si(dst, dst, g, MPFR_RNDN);
}

static void open_array(const char* type, const char* name, int n) {
  std::fprintf(out, "alignas(64) const %s %s[%d] = {\n", type, name, n);
}
static void close_array() { std::fprintf(out, "};\n"); }

// Table with an E split (see top): c = c0..c1, c_one the index at 1, B0 its k.
template <class T>
static void split_table(const char* name, int c0, int c1, int c_one, int B0, double Lhi, double Llo,
                        base b, int g, double cK) {
  open_array(sizeof(T) == 4 ? "float" : "double", name, 2 * (c1 - c0 + 1));
  mpfr_t v, t, a, hi;
  mpfr_inits2(kPrec, v, t, a, hi, (mpfr_ptr)0);
  for (int c = c0; c <= c1; ++c) {
    // k: 2^(k - B0) is the power of two nearest to c / c_one (c_one = half the top index).
    int s = double(c) > std::sqrt(2.0) * c_one ? 1 : 0;
    int k = B0 + s;
    // log term: log(cK * 2^s * c_one_scale / c), where cK*2^? makes it 0 at c = c_one*2^s
    mpfr_set_d(a, cK, MPFR_RNDN);
    mpfr_mul_2si(a, a, s, MPFR_RNDN);
    mpfr_div_si(a, a, c, MPFR_RNDN);
    logb(t, a, b);              // t = log(cK * 2^s / c)
    to_grid(hi, t, g);
    mpfr_set_d(a, Lhi, MPFR_RNDN);
    mpfr_mul_si(a, a, -k, MPFR_RNDN);  // exact: -k*Lhi
    mpfr_add(hi, hi, a, MPFR_RNDN);    // hi = -k*Lhi + grid(t)
    // value = -k*(Lhi + Llo) + t
    mpfr_set_d(v, Lhi, MPFR_RNDN);
    mpfr_add_d(v, v, Llo, MPFR_RNDN);
    mpfr_mul_si(v, v, -k, MPFR_RNDN);
    mpfr_add(v, v, t, MPFR_RNDN);
    mpfr_sub(v, v, hi, MPFR_RNDN);     // lo before rounding
    if (sizeof(T) == 4) {
      float h = mpfr_get_flt(hi, MPFR_RNDN), l = mpfr_get_flt(v, MPFR_RNDN);
      mpfr_sub_d(a, hi, h, MPFR_RNDN);
      if (!mpfr_zero_p(a)) { std::fprintf(stderr, "%s[%d]: hi not exact\n", name, c); std::exit(1); }
      std::fprintf(out, "  %af, %af,\n", h, l);
    } else {
      double h = mpfr_get_d(hi, MPFR_RNDN), l = mpfr_get_d(v, MPFR_RNDN);
      mpfr_sub_d(a, hi, h, MPFR_RNDN);
      if (!mpfr_zero_p(a)) { std::fprintf(stderr, "%s[%d]: hi not exact\n", name, c); std::exit(1); }
      std::fprintf(out, "  %a, %a,\n", h, l);
    }
  }
  mpfr_clears(v, t, a, hi, (mpfr_ptr)0);
  close_array();
}

// Table without a split: value = off + log(cK) - log c, hi on the 2^-g grid.
template <class T>
static void plain_table(const char* name, int c0, int c1, int off, double cK, base b, int g) {
  open_array(sizeof(T) == 4 ? "float" : "double", name, 2 * (c1 - c0 + 1));
  mpfr_t v, a, hi;
  mpfr_inits2(kPrec, v, a, hi, (mpfr_ptr)0);
  for (int c = c0; c <= c1; ++c) {
    mpfr_set_d(a, cK, MPFR_RNDN);
    mpfr_div_si(a, a, c, MPFR_RNDN);
    logb(v, a, b);
    mpfr_add_si(v, v, off, MPFR_RNDN);
    to_grid(hi, v, g);
    mpfr_sub(v, v, hi, MPFR_RNDN);
    if (sizeof(T) == 4) std::fprintf(out, "  %af, %af,\n", mpfr_get_flt(hi, MPFR_RNDN), mpfr_get_flt(v, MPFR_RNDN));
    else std::fprintf(out, "  %a, %a,\n", mpfr_get_d(hi, MPFR_RNDN), mpfr_get_d(v, MPFR_RNDN));
  }
  mpfr_clears(v, a, hi, (mpfr_ptr)0);
  close_array();
}

// The _native tables: one double, log(2^k / c), k = 9 or 10 split at 724.
static void native_table(const char* name, base b) {
  open_array("double", name, 513);
  mpfr_t v, a;
  mpfr_inits2(kPrec, v, a, (mpfr_ptr)0);
  for (int c = 512; c <= 1024; ++c) {
    mpfr_set_si(a, c > 724 ? 1024 : 512, MPFR_RNDN);
    mpfr_div_si(a, a, c, MPFR_RNDN);
    logb(v, a, b);
    std::fprintf(out, "  %a,\n", mpfr_get_d(v, MPFR_RNDN));
  }
  mpfr_clears(v, a, (mpfr_ptr)0);
  close_array();
}

// Fallback triples: rcp_j = K/(1 + j/64) (on the 2^-rg grid, or rounded to float
// when rg = 0), then log_b(K / rcp_j) with hi on the 2^-g grid.
template <class T>
static void fallback_triples(const char* name, double K, int rg, base b, int g) {
  open_array(sizeof(T) == 4 ? "float" : "double", name, 3 * 65);
  mpfr_t v, a, hi;
  mpfr_inits2(kPrec, v, a, hi, (mpfr_ptr)0);
  for (int j = 0; j <= 64; ++j) {
    mpfr_set_d(a, K, MPFR_RNDN);
    mpfr_mul_si(a, a, 64, MPFR_RNDN);
    mpfr_div_si(a, a, 64 + j, MPFR_RNDN);
    double rcp;
    if (rg) { to_grid(v, a, rg); rcp = mpfr_get_d(v, MPFR_RNDN); }
    else rcp = mpfr_get_flt(a, MPFR_RNDN);
    mpfr_set_d(a, K, MPFR_RNDN);
    mpfr_div_d(a, a, rcp, MPFR_RNDN);
    logb(v, a, b);
    to_grid(hi, v, g);
    mpfr_sub(v, v, hi, MPFR_RNDN);
    if (sizeof(T) == 4)
      std::fprintf(out, "  %af, %af, %af,\n", float(rcp), mpfr_get_flt(hi, MPFR_RNDN), mpfr_get_flt(v, MPFR_RNDN));
    else
      std::fprintf(out, "  %a, %a, %a,\n", rcp, mpfr_get_d(hi, MPFR_RNDN), mpfr_get_d(v, MPFR_RNDN));
  }
  mpfr_clears(v, a, hi, (mpfr_ptr)0);
  close_array();
}

// log2 fallback: 256 reciprocals and their (hi, lo) -log2.
static void log2_fallback_tables() {
  mpfr_t v, a, hi;
  mpfr_inits2(kPrec, v, a, hi, (mpfr_ptr)0);
  float rcp[256];
  open_array("float", "L2Rf", 256);
  for (int i = 0; i < 256; ++i) {
    mpfr_set_si(a, 256, MPFR_RNDN);
    mpfr_div_si(a, a, 256 + i, MPFR_RNDN);  // 1/(1 + i/256)
    to_grid(v, a, 12);
    rcp[i] = mpfr_get_flt(v, MPFR_RNDN);
    std::fprintf(out, "  %af,\n", rcp[i]);
  }
  close_array();
  open_array("double", "L2Td", 512);
  for (int i = 0; i < 256; ++i) {
    mpfr_set_flt(a, rcp[i], MPFR_RNDN);
    mpfr_log2(v, a, MPFR_RNDN);
    mpfr_neg(v, v, MPFR_RNDN);
    to_grid(hi, v, 42);
    mpfr_sub(v, v, hi, MPFR_RNDN);
    std::fprintf(out, "  %a, %a,\n", mpfr_get_d(hi, MPFR_RNDN), mpfr_get_d(v, MPFR_RNDN));
  }
  close_array();
  mpfr_clears(v, a, hi, (mpfr_ptr)0);
}

int main(int argc, char** argv) {
  if (argc != 2) { std::fprintf(stderr, "usage: gen_log OUT.cpp\n"); return 2; }
  out = std::fopen(argv[1], "w");
  if (!out) { std::perror(argv[1]); return 1; }
  std::fprintf(out, "// Generated by tables/gen_log.cpp from MPFR; do not edit.\n"
                    "#include \"tables/log_tables.h\"\nnamespace qarn::tab {\n");
  const double ln2_hi = d_of(0x3FE62E42FEFA0000ull), ln2_lo = d_of(0x3D7CF79ABC9E0000ull);
  const double lg2_hi = d_of(0x3FD34413509F0000ull), lg2_lo = d_of(0x3D7E7FBCC47C0000ull);
  // c_one = 512 (k = 1013 + 9 at c = 512, 1013 + 10 at c = 1024), cK = 512.
  split_table<double>("LDd", 512, 1024, 512, 1022, ln2_hi, ln2_lo, LN, 40, 512.0);
  plain_table<double>("L2Dd", 369, 738, -1014, 1.44140625, L2, 40);
  split_table<double>("L10Dd", 222, 444, 222, 1022, lg2_hi, lg2_lo, L10, 40, 222.0);
  native_table("LNd", LN);
  native_table("L2Nd", L2);
  native_table("L10Nd", L10);
  plain_table<float>("L2Df", 92, 184, -120, 1.4375, L2, 14);
  split_table<float>("L10Df", 111, 222, 111, 126, f_of(0x3E9A2100), f_of(0xB64AF600), L10, 17, 111.0);
  split_table<float>("L1Pf", 128, 256, 128, 126, f_of(0x3F317200), f_of(0x35BFBE00), LN, 16, 128.0);
  fallback_triples<double>("LFd", 1.0, 11, LN, 42);
  fallback_triples<float>("LFf", 1.0, 11, LN, 15);
  fallback_triples<double>("L10Fd", 0.43359375, 11, L10, 42);
  fallback_triples<float>("L10Ff", 111.1796875, 0, L10, 18);    // ~256*log10(e), 15 bits
  fallback_triples<float>("L2Ff", 369.330078125, 0, L2, 16);     // ~256/ln2, 18 bits
  log2_fallback_tables();
  std::fprintf(out, "}  // namespace qarn::tab\n");
  return std::fclose(out) == 0 ? 0 : 1;
}
