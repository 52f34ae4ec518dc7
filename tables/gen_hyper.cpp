// Generates the tables of the hyperbolic families from MPFR (256-bit working
// precision; every stored value is rounded once, to nearest, from the exact one):
//   SHd  128 pairs (A_j, B_j) = (sinh(j*ln2/128), 2^(-j/128)/2)            sinh
//   CHd  257 doubles H_i = 2^(i/256)/2                                     cosh
//   HXd  65 pairs (T_hi, T_lo): 2^(j/64) and the rest                       sinh/cosh fallbacks
//   THd  60 records of 16 doubles, for the piecewise tanh:
//          [0] the negated expansion point p, [1..11] c10, c9, ..., c0,
//          [12] the low part of c0 (tanh(p) - c0), [13..15] zero.
//        Record 0 ([0, 0.125), p = 0) holds a fixed odd-dominated fit (kRec0).
//        Records 1..58 cover [0.125, 20) by eighths of a binade, p the midpoint
//        (record 58: p = 18.530773732699249, c0 = 1 - 2^-52), c0 = tanh(p) rounded;
//        c1..c10 are the least-squares fit of tanh(p + t) - c0 over Chebyshev points
//        of the interval in t (close to the best fit).  Record 59
//        ([20, inf)) is the constant 1.
// The rows that the family's documentation prints are checked here; a mismatch
// fails the build.  The generator also reports the worst error of each tanh record
// evaluated in double (Horner, as the kernel does) on a grid.
// Usage: gen_hyper OUT.cpp
#include <mpfr.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static const mpfr_prec_t kPrec = 256;
static FILE* out;

static double d_of(unsigned long long b) { double d; std::memcpy(&d, &b, 8); return d; }
static unsigned long long b_of(double d) { unsigned long long b; std::memcpy(&b, &d, 8); return b; }

static void expect(const char* what, double got, unsigned long long want) {
  if (b_of(got) != want) {
    std::fprintf(stderr, "gen_hyper: %s is %a (0x%016llX), expected 0x%016llX\n", what, got, b_of(got), want);
    std::exit(1);
  }
}
static void expect_near(const char* what, double got, double want) {
  if (std::fabs(got - want) > std::fabs(want) * 1e-16) {
    std::fprintf(stderr, "gen_hyper: %s is %.17g, expected %.17g\n", what, got, want);
    std::exit(1);
  }
}

static void emit(const char* name, const std::vector<double>& v) {
  std::fprintf(out, "alignas(64) const double %s[%zu] = {\n", name, v.size());
  for (size_t i = 0; i < v.size(); ++i) std::fprintf(out, "  %a,\n", v[i]);
  std::fprintf(out, "};\n");
}

// 2^(num/den)
static void pow2q(mpfr_t v, long num, long den) {
  mpfr_set_si(v, num, MPFR_RNDN);
  mpfr_div_si(v, v, den, MPFR_RNDN);
  mpfr_exp2(v, v, MPFR_RNDN);
}

static std::vector<double> sinh_table() {
  std::vector<double> t;
  mpfr_t v, l2;
  mpfr_inits2(kPrec, v, l2, (mpfr_ptr)0);
  mpfr_const_log2(l2, MPFR_RNDN);
  for (int j = 0; j < 128; ++j) {
    mpfr_mul_si(v, l2, j, MPFR_RNDN);
    mpfr_div_si(v, v, 128, MPFR_RNDN);
    mpfr_sinh(v, v, MPFR_RNDN);
    t.push_back(mpfr_get_d(v, MPFR_RNDN));
    pow2q(v, -j, 128);
    mpfr_div_2ui(v, v, 1, MPFR_RNDN);
    t.push_back(mpfr_get_d(v, MPFR_RNDN));
  }
  mpfr_clears(v, l2, (mpfr_ptr)0);
  expect("A_0", t[0], 0);
  expect("B_0", t[1], 0x3FE0000000000000ull);
  expect("A_1", t[2], 0x3F762E4A19BD1E74ull);
  expect("B_1", t[3], 0x3FDFD3C22B8F71F1ull);
  expect("A_64", t[128], 0x3FD6A09E667F3BCDull);
  expect("B_64", t[129], 0x3FD6A09E667F3BCDull);
  expect_near("A_127", t[254], 0.7432419482054324);
  expect_near("B_127", t[255], 0.2513574752782007);
  expect("A_127", t[254], 0x3FE7C8A35691D856ull);
  expect("B_127", t[255], 0x3FD0163DA9FB3335ull);
  return t;
}

static std::vector<double> cosh_table() {
  std::vector<double> t;
  mpfr_t v;
  mpfr_init2(v, kPrec);
  for (int i = 0; i <= 256; ++i) {
    pow2q(v, i, 256);
    mpfr_div_2ui(v, v, 1, MPFR_RNDN);
    t.push_back(mpfr_get_d(v, MPFR_RNDN));
  }
  mpfr_clear(v);
  expect("H_0", t[0], 0x3FE0000000000000ull);
  expect("H_1", t[1], 0x3FE00B1AFA5ABCBFull);
  expect("H_128", t[128], 0x3FE6A09E667F3BCDull);
  expect("H_255", t[255], 0x3FEFE9D96B2A23D9ull);
  expect("H_256", t[256], 0x3FF0000000000000ull);
  return t;
}

static std::vector<double> fallback_exp_table() {
  std::vector<double> t;
  mpfr_t v;
  mpfr_init2(v, kPrec);
  for (int j = 0; j <= 64; ++j) {
    pow2q(v, j, 64);
    double hi = mpfr_get_d(v, MPFR_RNDN);
    mpfr_sub_d(v, v, hi, MPFR_RNDN);
    t.push_back(hi);
    t.push_back(mpfr_get_d(v, MPFR_RNDN));
  }
  mpfr_clear(v);
  expect("T_hi[0]", t[0], 0x3FF0000000000000ull);
  expect("T_lo[0]", t[1], 0);
  expect_near("T_hi[1]", t[2], 1.0108892860517005);
  expect_near("T_lo[1]", t[3], -1.5234778603368577e-17);
  expect_near("T_hi[32]", t[64], 1.4142135623730951);
  expect_near("T_lo[32]", t[65], -9.667293313452913e-17);
  expect("T_hi[64]", t[128], 0x4000000000000000ull);
  expect("T_lo[64]", t[129], 0);
  return t;
}

// Record 0: c0..c10 around 0.
static const unsigned long long kRec0[11] = {
    0x0000000000000000ull, 0x3FF0000000000000ull, 0xBD197DEAD79668D3ull, 0xBFD555555553AF3Cull,
    0xBE052F7CCA134846ull, 0x3FC11111563849D6ull, 0xBEB038623673FFB2ull, 0xBFAB9F685E64022Eull,
    0xBF2A54E2B28F2207ull, 0x3F97CFB9328A230Eull, 0xBF75CA6D61723E02ull};

// Solves the n x n system a x = b in place (Gaussian elimination, partial pivoting).
static void solve(std::vector<mpfr_t*>& a, std::vector<mpfr_t*>& b, int n) {
  mpfr_t f, tmp;
  mpfr_inits2(kPrec, f, tmp, (mpfr_ptr)0);
  for (int c = 0; c < n; ++c) {
    int piv = c;
    for (int r = c + 1; r < n; ++r)
      if (mpfr_cmpabs(a[r][c], a[piv][c]) > 0) piv = r;
    std::swap(a[c], a[piv]);
    std::swap(b[c], b[piv]);
    for (int r = c + 1; r < n; ++r) {
      mpfr_div(f, a[r][c], a[c][c], MPFR_RNDN);
      for (int k = c; k < n; ++k) {
        mpfr_mul(tmp, f, a[c][k], MPFR_RNDN);
        mpfr_sub(a[r][k], a[r][k], tmp, MPFR_RNDN);
      }
      mpfr_mul(tmp, f, b[c][0], MPFR_RNDN);
      mpfr_sub(b[r][0], b[r][0], tmp, MPFR_RNDN);
    }
  }
  for (int c = n - 1; c >= 0; --c) {
    for (int k = c + 1; k < n; ++k) {
      mpfr_mul(tmp, a[c][k], b[k][0], MPFR_RNDN);
      mpfr_sub(b[c][0], b[c][0], tmp, MPFR_RNDN);
    }
    mpfr_div(b[c][0], b[c][0], a[c][c], MPFR_RNDN);
  }
  mpfr_clears(f, tmp, (mpfr_ptr)0);
}

// Fits c1..c10 so that c0 + t*(c1 + ... + t^9*c10) is tanh(p + t) on t in [tlo, thi]
// in the least-squares sense over 400 Chebyshev points (normal equations, solved at
// 256 bits).
static void fit_record(double p, double c0, double tlo, double thi, double* c) {
  const int n = 10, m = 400;
  std::vector<mpfr_t*> a(n), b(n);
  mpfr_t t, v, w, pw[n + 1];
  mpfr_inits2(kPrec, t, v, w, (mpfr_ptr)0);
  for (int k = 0; k <= n; ++k) mpfr_init2(pw[k], kPrec);
  for (int r = 0; r < n; ++r) {
    a[r] = new mpfr_t[n];
    b[r] = new mpfr_t[1];
    for (int k = 0; k < n; ++k) mpfr_init2(a[r][k], kPrec), mpfr_set_ui(a[r][k], 0, MPFR_RNDN);
    mpfr_init2(b[r][0], kPrec);
    mpfr_set_ui(b[r][0], 0, MPFR_RNDN);
  }
  for (int s = 0; s < m; ++s) {
    mpfr_const_pi(t, MPFR_RNDN);
    mpfr_mul_si(t, t, 2 * s + 1, MPFR_RNDN);
    mpfr_div_si(t, t, 2 * m, MPFR_RNDN);
    mpfr_cos(t, t, MPFR_RNDN);
    mpfr_mul_d(t, t, (thi - tlo) / 2, MPFR_RNDN);
    mpfr_add_d(t, t, (thi + tlo) / 2, MPFR_RNDN);
    mpfr_set(pw[0], t, MPFR_RNDN);  // pw[k] = t^(k+1)
    for (int k = 1; k < n; ++k) mpfr_mul(pw[k], pw[k - 1], t, MPFR_RNDN);
    mpfr_add_d(v, t, p, MPFR_RNDN);
    mpfr_tanh(v, v, MPFR_RNDN);
    mpfr_sub_d(v, v, c0, MPFR_RNDN);
    for (int r = 0; r < n; ++r) {
      for (int k = 0; k < n; ++k) {
        mpfr_mul(w, pw[r], pw[k], MPFR_RNDN);
        mpfr_add(a[r][k], a[r][k], w, MPFR_RNDN);
      }
      mpfr_mul(w, pw[r], v, MPFR_RNDN);
      mpfr_add(b[r][0], b[r][0], w, MPFR_RNDN);
    }
  }
  solve(a, b, n);
  for (int k = 0; k < n; ++k) c[k + 1] = mpfr_get_d(b[k][0], MPFR_RNDN);
  c[0] = c0;
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < n; ++k) mpfr_clear(a[r][k]);
    mpfr_clear(b[r][0]);
    delete[] a[r];
    delete[] b[r];
  }
  for (int k = 0; k <= n; ++k) mpfr_clear(pw[k]);
  mpfr_clears(t, v, w, (mpfr_ptr)0);
}

// Worst error in ulps of tanh evaluated in double with record c around p over [lo, hi).
static double record_error(const double* c, double negp, double lo, double hi) {
  mpfr_t e, g;
  mpfr_inits2(kPrec, e, g, (mpfr_ptr)0);
  double worst = 0;
  for (int s = 0; s <= 2000; ++s) {
    double a = lo + (hi - lo) * s / 2000.0;
    if (a >= hi) a = std::nextafter(hi, 0);
    double t = a + negp;
    double q = c[10];
    for (int k = 9; k >= 0; --k) q = c[k] + t * q;
    mpfr_set_d(e, a, MPFR_RNDN);
    mpfr_tanh(e, e, MPFR_RNDN);
    mpfr_set_d(g, q, MPFR_RNDN);
    mpfr_sub(g, g, e, MPFR_RNDN);
    double ulp = std::ldexp(1.0, std::ilogb(mpfr_get_d(e, MPFR_RNDN)) - 52);
    double err = std::fabs(mpfr_get_d(g, MPFR_RNDN)) / ulp;
    if (err > worst) worst = err;
  }
  mpfr_clears(e, g, (mpfr_ptr)0);
  return worst;
}

static std::vector<double> tanh_table() {
  std::vector<double> t(60 * 16, 0.0);
  mpfr_t v;
  mpfr_init2(v, kPrec);
  double worst = 0;
  int worst_i = 0;
  for (int i = 0; i < 60; ++i) {
    double c[11] = {0}, p = 0, lo = 0, hi = 0.125;
    if (i == 0) {
      for (int k = 0; k < 11; ++k) c[k] = d_of(kRec0[k]);
    } else if (i < 59) {
      unsigned long long h = 0x3FBE0000ull + 0x20000ull * i;
      lo = d_of(h << 32);
      hi = d_of((h + 0x20000ull) << 32);
      p = i == 58 ? d_of(0x403287E0C98F84E5ull) : (lo + hi) / 2;
      mpfr_set_d(v, p, MPFR_RNDN);
      mpfr_tanh(v, v, MPFR_RNDN);
      double c0 = i == 58 ? d_of(0x3FEFFFFFFFFFFFFEull) : mpfr_get_d(v, MPFR_RNDN);
      fit_record(p, c0, lo - p, hi - p, c);
    } else {
      c[0] = 1.0;
    }
    double* r = &t[16 * i];
    r[0] = -p;
    if (i == 0 || i == 59) r[0] = -0.0;
    for (int k = 0; k <= 10; ++k) r[1 + k] = c[10 - k];
    mpfr_set_d(v, p, MPFR_RNDN);
    mpfr_tanh(v, v, MPFR_RNDN);
    mpfr_sub_d(v, v, c[0], MPFR_RNDN);
    r[12] = i == 59 ? 0.0 : mpfr_get_d(v, MPFR_RNDN);
    if (i < 59) {
      double err = record_error(c, r[0], i == 0 ? 0x1p-30 : lo, hi);
      if (err > worst) worst = err, worst_i = i;
    }
  }
  mpfr_clear(v);
  expect_near("tanh record 1 point", -t[16], 0.1328125);
  expect_near("tanh record 1 c0", t[16 + 11], 0.13203707039220292);
  expect_near("tanh record 30 point", -t[16 * 30], 1.6875);
  expect_near("tanh record 30 c0", t[16 * 30 + 11], 0.93382804322259172);
  expect_near("tanh record 57 point", -t[16 * 57], 17.0);
  expect("tanh record 58 point", t[16 * 58], 0xC03287E0C98F84E5ull);
  expect_near("tanh record 58 c0", t[16 * 58 + 11], 0.99999999999999978);
  expect("tanh record 59 point", t[16 * 59], 0x8000000000000000ull);
  expect("tanh record 59 c0", t[16 * 59 + 11], 0x3FF0000000000000ull);
  std::fprintf(stderr, "gen_hyper: tanh records, worst %.3f ulp (record %d)\n", worst, worst_i);
  return t;
}

int main(int argc, char** argv) {
  if (argc != 2) { std::fprintf(stderr, "usage: gen_hyper OUT.cpp\n"); return 2; }
  out = std::fopen(argv[1], "w");
  if (!out) { std::perror(argv[1]); return 1; }
  std::fprintf(out, "// Generated by tables/gen_hyper.cpp from MPFR; do not edit.\n"
                    "#include \"tables/hyper_tables.h\"\nnamespace qarn::tab {\n");
  emit("SHd", sinh_table());
  emit("CHd", cosh_table());
  emit("HXd", fallback_exp_table());
  emit("THd", tanh_table());
  std::fprintf(out, "}  // namespace qarn::tab\n");
  return std::fclose(out) == 0 ? 0 : 1;
}
