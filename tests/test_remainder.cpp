// fmod, remainder and remquo against MPFR bit for bit, remquo's quotient included,
// at every width and in every rounding mode: special values against each other
// (with a y between the top of the gap test's reach and fmod's bound),
// random patterns of every exponent (long division up to 2^2100 in the lane
// fallbacks), exponents within and just beyond the main path's reach, divisors at
// their thresholds, exact ties and zero remainders, subnormal operands.
// QARN_REM_SWEEP=N adds N random float pairs of fmodf and remainderf.
#include <immintrin.h>

#include <cstdio>
#include <cstdlib>

#include "exact_ref.h"

using namespace qarn::exact;
namespace reg = qarn::reg;

namespace {

// NaN operands give the first NaN, quieted; y = 0 and infinite x the default NaN
// and quotient 0; remquo's quotient is the sign and low 31 bits of MPFR's.
Case reference(const std::string& fam, const Fmt& f, uint64_t x, uint64_t y) {
  if (f.nan(x) || f.nan(y)) return {{x, y}, (f.nan(x) ? x : y) | f.qbit()};
  if (f.zero(y) || f.is_inf(x)) return {{x, y}, f.default_nan()};
  Mp a(f.p), b(f.p), r(f.p);
  set(a.v, f, x), set(b.v, f, y);
  long q = 0;
  if (fam == "fmod") mpfr_fmod(r.v, a.v, b.v, MPFR_RNDN);
  else mpfr_remquo(r.v, &q, a.v, b.v, MPFR_RNDN);
  int32_t low = fam == "remquo" ? int32_t((q < 0 ? -q : q) & 0x7FFFFFFF) : 0;
  return {{x, y}, get(f, r.v), q < 0 ? -low : low};
}

std::vector<Case> cases(const std::string& fam, const Fmt& f, int n) {
  qarn::test::Rng r(n + f.bytes);
  const bool d = f.bytes == 8;
  const int gap = d ? 25 : 11, top = f.maxe - 1 - f.bias;
  std::vector<uint64_t> sp = {0, 1, f.mant, f.make(false, 0, 0), f.make(false, 0, 1), f.make(false, 0, 0) - 1,
                              f.make(false, 1, 0), f.make(false, 1, 1ull << (f.shift - 1)),
                              f.make(false, -1, 1ull << (f.shift - 1)), f.make(false, d ? 60 : 30, 0),
                              f.make(false, top, f.mant), f.make(false, d ? 1000 : 120, 1), f.inf(),
                              f.inf() | f.qbit() | 3, f.inf() | 5};
  for (size_t i = 0, m = sp.size(); i < m; ++i) sp.push_back(sp[i] | f.sign);
  std::vector<Case> out;
  for (uint64_t x : sp)
    for (uint64_t y : sp) out.push_back(reference(fam, f, x, y));
  for (int i = 0; i < n; ++i) {
    uint64_t x = random_pattern(f, r), y = random_pattern(f, r);
    bool nx = r.below(2), ny = r.below(2);
    int ey = int(r.below(f.maxe - 2)) + 1 - f.bias;
    switch (r.below(7)) {
      case 0: case 1: {  // within the main path's gap and just beyond
        int ex = std::min(top, ey + int(r.below(gap + 4)) - 2);
        x = f.make(nx, ex, r.next()), y = f.make(ny, ey, r.next());
        break;
      }
      case 2: {  // y either side of its thresholds (tiny; large for remainder, for fmod)
        const int fields[] = {d ? 51 : 12, d ? 2021 : 243, d ? 2046 : 253};
        int fy = fields[r.below(3)] + int(r.below(3)) - 1;
        y = (ny ? f.sign : 0) | uint64_t(fy) << f.shift | (r.below(2) ? r.next() & f.mant : 0);
        x = f.make(nx, std::min(top, fy - f.bias + int(r.below(gap + 3)) - 1), r.next());
        break;
      }
      case 3: {  // x = (k + 1/2) y or k y exactly: ties and zero remainders
        y = f.make(ny, ey / 8, r.next() & ~((1ull << (d ? 24 : 10)) - 1));
        Mp a(f.p + 22), b(f.p);
        set(b.v, f, y);
        mpfr_mul_ui(a.v, b.v, 2 * r.below(1ull << (d ? 20 : 8)) + r.below(2), MPFR_RNDN);
        mpfr_div_2ui(a.v, a.v, 1, MPFR_RNDN);
        mpfr_prec_round(a.v, f.p, MPFR_RNDN);
        x = get(f, a.v) ^ (nx ? f.sign : 0);
        break;
      }
      case 5: {  // |x| below |y|: far below (a subnormal quotient), next to |y|/2 and |y|
        y = f.make(ny, ey, r.next());
        uint64_t ay = y & ~f.sign, half = ay - (1ull << f.shift);
        switch (r.below(3)) {
          case 0: x = f.make(nx, std::max(1 - f.bias, ey - 1 - int(r.below(d ? 1100 : 160))), r.next()); break;
          case 1: x = (half + r.below(5) - 2) | (nx ? f.sign : 0); break;
          default: x = (ay - 1 - r.below(3)) | (nx ? f.sign : 0); break;
        }
        break;
      }
      case 4:  // subnormal operands
        x = (nx ? f.sign : 0) | (r.next() & f.mant) >> r.below(f.shift);
        if (r.below(2)) y = (ny ? f.sign : 0) | (r.next() & f.mant) >> r.below(f.shift);
        break;
      default: break;
    }
    out.push_back(reference(fam, f, x, y));
  }
  return out;
}

// Rounding up, down or toward zero, remainder and remquo may take the odd quotient
// of an exact tie (|r| = |y|/2): r's sign flips and the quotient moves toward it.
bool odd_tie(const Fmt& f, bool quo, const Case& c, uint64_t r, int32_t q) {
  if (f.zero(c.r) || r != (c.r ^ f.sign)) return false;
  Mp rr(f.p), yy(f.p);
  set(rr.v, f, c.r), set(yy.v, f, c.in[1]);
  mpfr_mul_2ui(rr.v, rr.v, 1, MPFR_RNDN);
  return mpfr_cmpabs(rr.v, yy.v) == 0 && (!quo || q == c.q + (((c.r ^ c.in[1]) & f.sign) ? -1 : 1));
}

TEST(Remainders, ExactAtEveryWidthAndMode) {
  for (const char* fam : {"fmod", "remainder", "remquo"})
    for (char prec : {'f', 'd'}) {
      const Fmt& f = fmt(prec);
      auto cs = cases(fam, f, 4000);
      uint64_t fill = f.make(false, -1, 1ull << (f.shift - 1));
      Case lane3{{fill, fill}, 0, std::string(fam) == "remquo"};  // 0.75 / 0.75: +0, quotient 1
      for (int mode = 0; mode < 4; ++mode) {
        Allow allow;
        bool quo = std::string(fam) == "remquo";
        if (mode != 0 && std::string(fam) != "fmod")
          allow = [&f, quo](const Case& c, uint64_t r, int32_t q) { return odd_tie(f, quo, c, r, q); };
        check(fam + std::string(prec == 'f' ? "f" : ""), f, cs, mode, lane3, allow);
      }
    }
}

// Stated outright in every mode: a zero remainder carries x's sign (also where
// the subtraction gives -0 rounding down), |y| = 1, huge quotients and remquo's
// quotient bits; and the ties, to nearest.
TEST(Remainders, StatedValues) {
  auto d = [](double v) { return qa::bits_of(v); };
  auto fl = [](float v) { return qa::bits_of(v); };
  const struct { const char* stem; double x, y, r; int32_t q; bool tie; } ds[] = {
      {"fmod", 5.5, -2, 1.5, 0, 0},   {"fmod", -4, 2, -0.0, 0, 0},       {"fmod", 4, 2, 0.0, 0, 0},
      {"fmod", 0x1p30, 1, 0.0, 0, 0}, {"fmod", -0x1p30 - 0.75, -1, -0.75, 0, 0}, {"fmod", -0x1p60, 3, -1, 0, 0},
      {"fmod", 5e-310, 3e-310, 2e-310, 0, 0}, {"remainder", 4, 2, 0.0, 0, 0}, {"remainder", -4, 2, -0.0, 0, 0},
      {"remainder", 7, 2, -1, 0, 1},  {"remquo", -7, 2, 1, -4, 1},       {"remquo", 0x1p60, 3, 1, 1431655765, 0},
      {"remquo", 0x1p61, 3, -1, 715827883, 0}, {"remquo", -0x1p60, 3, -1, -1431655765, 0},
      {"remquo", 3, 5, -2, 1, 0},     {"remquo", 3, -5, -2, -1, 0},      {"remquo", -3, 6, -3, 0, 1},
      {"remquo", 0x1p1023, -0x1.8p1023, -0x1p1022, -1, 0}};
  for (const auto& c : ds)
    for (int mode = 0; mode < (c.tie ? 1 : 4); ++mode)
      check(c.stem, kD, {{{d(c.x), d(c.y)}, d(c.r), c.q}}, mode, {{d(0.75), d(0.75)}, 0, std::string(c.stem) == "remquo"});
  for (int mode = 0; mode < 4; ++mode) {
    check("fmodf", kF, {{{fl(-0x1p127f), fl(0x1.8p-148f)}, fl(-0x1p-149f)}}, mode, {{fl(0.75f), fl(0.75f)}, 0});
    check("remquof", kF, {{{fl(0x1p127f), fl(0x1p-149f)}, fl(0.0f), 0}}, mode, {{fl(0.75f), fl(0.75f)}, 0, 1});
  }
}

// x far below y (its quotient subnormal) is x with quotient 0 in every mode, mixed
// in one call with lanes whose quotient is not 0; |x| just below |y|/2 likewise.
// At |x| = |y|/2 rounding up or down, the quotient stays the rounded x/y.
TEST(Remainders, QuotientsBelowOne) {
  auto fl = [](float v) { return qa::bits_of(v); };
  const Case lane3{{fl(0.75f), fl(0.75f)}, 0, 1};
  for (int mode = 0; mode < 4; ++mode) {
    check("fmodf", kF,
          {{{fl(0x1p-126f), fl(1000.0f)}, fl(0x1p-126f)}, {{fl(-0x1.234p-110f), fl(3.0f)}, fl(-0x1.234p-110f)},
           {{fl(7.0f), fl(2.0f)}, fl(1.0f)}, {{fl(-0x1p-100f), fl(-0x1p20f)}, fl(-0x1p-100f)},
           {{fl(0x1.fffffep-1f), fl(1.0f)}, fl(0x1.fffffep-1f)}, {{fl(-0.0f), fl(5.0f)}, fl(-0.0f)},
           {{fl(-1000.0f), fl(0x1p-126f)}, fl(-0.0f)}},
          mode, {{fl(0.75f), fl(0.75f)}, 0});
    check("remquof", kF,
          {{{fl(0x1p-126f), fl(-1000.0f)}, fl(0x1p-126f), 0}, {{fl(-0x1.234p-110f), fl(3.0f)}, fl(-0x1.234p-110f), 0},
           {{fl(10.0f), fl(3.0f)}, fl(1.0f), 3}, {{fl(0x1.7ffffep0f), fl(3.0f)}, fl(0x1.7ffffep0f), 0},
           {{fl(-0x1.7ffffep0f), fl(-3.0f)}, fl(-0x1.7ffffep0f), 0}, {{fl(-0.0f), fl(5.0f)}, fl(-0.0f), 0}},
          mode, lane3);
  }
  // Exact ties: to nearest the even quotient 0; up and down the quotient x/y rounds to.
  const struct { int mode; float x, r; int32_t q; } ties[] = {
      {0, 1.5f, 1.5f, 0}, {0, -1.5f, -1.5f, 0}, {1, 1.5f, 1.5f, 0},  {1, -1.5f, 1.5f, -1},
      {2, 1.5f, -1.5f, 1}, {2, -1.5f, -1.5f, 0}, {3, 1.5f, 1.5f, 0}, {3, -1.5f, -1.5f, 0}};
  for (const auto& t : ties) {
    check("remquof", kF, {{{fl(t.x), fl(3.0f)}, fl(t.r), t.q}}, t.mode, lane3);
    check("remainderf", kF, {{{fl(t.x), fl(3.0f)}, fl(t.r)}}, t.mode, {{fl(0.75f), fl(0.75f)}, 0});
  }
}

TEST(Remainders, FloatSweep) {
  const char* env = std::getenv("QARN_REM_SWEEP");
  if (!env) GTEST_SKIP() << "QARN_REM_SWEEP=N: N random float pairs of fmodf and remainderf";
  long n = std::atol(env);
  using F2 = __m256 (*)(__m256, __m256);
  for (std::string fam : {"fmod", "remainder"}) {
    F2 fn = reinterpret_cast<F2>(const_cast<void*>(invoker().address(*reg::find(fam + "f8"))));
    qarn::test::Rng r(fam.size());
    long bad = 0;
    alignas(32) uint32_t x[8], y[8], got[8];
    for (long i = 0; i < n; i += 8) {
      for (int l = 0; l < 8; ++l) {  // every other pair with exponents at most 20 apart
        uint64_t b = r.next();
        x[l] = uint32_t(b), y[l] = uint32_t(b >> 32);
        if (l & 1) y[l] = (y[l] & 0x807FFFFFu) | ((x[l] + (uint32_t(r.below(40)) << 23) - (20u << 23)) & 0x7F800000u);
      }
      _mm256_store_ps(reinterpret_cast<float*>(got), fn(_mm256_load_ps(reinterpret_cast<float*>(x)),
                                                        _mm256_load_ps(reinterpret_cast<float*>(y))));
      for (int l = 0; l < 8; ++l)
        if (got[l] != reference(fam, kF, x[l], y[l]).r && ++bad <= 10)
          ADD_FAILURE() << fam << "f " << std::hex << x[l] << " " << y[l] << ": got " << got[l];
    }
    std::printf("%sf: %ld random pairs, %ld mismatches\n", fam.c_str(), n, bad);
    EXPECT_EQ(bad, 0);
  }
}

}  // namespace
