// fma against MPFR bit for bit, at every width (fma8, fma16, fmaf16 by reference)
// and in every rounding mode: random patterns of every exponent, c at every
// distance from the product, cancellations, products next to half of c's last
// place (with a lone last bit far below), subnormal and overflowing results, and
// zeros, ones, infinities and NaNs anywhere.  The exact sum rounds in the x87
// control word's direction, special operands and overflow in MXCSR's: the checks
// set both alike, except where a test shows which one decides.
// QARN_FMA_SWEEP=N adds N random float triples (the four modes in turn).
#include <immintrin.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "exact_ref.h"

using namespace qarn::exact;
namespace reg = qarn::reg;

namespace {

// NaNs: the first of a, b, c, quieted; 0 * inf and inf - inf: the default NaN.
Case reference(const Fmt& f, uint64_t a, uint64_t b, uint64_t c, int mode) {
  for (uint64_t v : {a, b, c})
    if (f.nan(v)) return {{a, b, c}, v | f.qbit()};
  bool inf = f.is_inf(a) || f.is_inf(b);
  if (inf && (f.zero(a) || f.zero(b) || (f.is_inf(c) && ((a ^ b ^ c) & f.sign)))) return {{a, b, c}, f.default_nan()};
  Range range(f);
  Mp x(f.p), y(f.p), z(f.p), r(f.p);
  set(x.v, f, a), set(y.v, f, b), set(z.v, f, c);
  mpfr_subnormalize(r.v, mpfr_fma(r.v, x.v, y.v, z.v, kMpfrMode[mode]), kMpfrMode[mode]);
  return {{a, b, c}, get(f, r.v)};
}

// Significands whose product has 2p bits and ends in a 1 after K zeros, found as
// mb = ma^-1 modulo 2^K (K = 73, float 38).
std::pair<uint64_t, uint64_t> sparse_product(const Fmt& f, qarn::test::Rng& r, int K) {
  using U = unsigned __int128;
  for (;;) {
    U ma = U(f.mant & r.next()) | U(1) << (f.p - 1) | 1, inv = ma;
    for (int i = 0; i < 7; ++i) inv *= 2 - ma * inv;  // Newton: ma * inv = 1 modulo 2^128
    U mb = inv & ((U(1) << K) - 1);
    if (mb >> (f.p - 1) == 1 && ma * mb >> (2 * f.p - 1)) return {uint64_t(ma), uint64_t(mb)};
  }
}

std::vector<Case> cases(const Fmt& f, uint64_t seed, long n, int mode) {
  qarn::test::Rng r(seed);
  const int emin = 1 - f.bias, emax = f.bias, K = f.bytes == 8 ? 73 : 38;
  static std::vector<std::pair<uint64_t, uint64_t>> sparse[2];
  while (sparse[f.bytes == 8].size() < 4) sparse[f.bytes == 8].push_back(sparse_product(f, r, K));
  auto sgn = [&] { return r.below(2) != 0; };
  auto normal = [&](int e) { return f.make(sgn(), std::clamp(e, emin, emax), r.next()); };
  auto any_e = [&] { return emin + int(r.below(emax - emin + 1)); };
  const uint64_t picks[] = {0, f.sign, uint64_t(f.bias) << f.shift, f.inf(), f.inf() | f.qbit() | 7, f.inf() | 5, 1,
                            f.make(false, emax, f.mant), f.make(true, 1, 0)};
  std::vector<Case> out;
  for (long i = 0; i < n; ++i) {
    uint64_t a = random_pattern(f, r), b = random_pattern(f, r), c = random_pattern(f, r);
    int ea = any_e() / 2, eb = any_e() / 2;
    switch (r.below(9)) {
      case 0: break;
      case 1:  // c at any distance from the product
        a = normal(ea), b = normal(eb), c = normal(ea + eb + int(r.below(4 * f.p + 10)) - 2 * f.p - 5);
        break;
      case 2: {  // c = -(a*b rounded), give or take two units: cancellation
        a = normal(ea), b = normal(eb);
        Mp p(f.p), x(f.p), y(f.p);
        set(x.v, f, a), set(y.v, f, b);
        mpfr_mul(p.v, x.v, y.v, MPFR_RNDN);
        c = (get(f, p.v) ^ f.sign) + r.below(5) - 2;
        break;
      }
      case 3: {  // a sparse product next to half of c's last place
        auto [ma, mb] = sparse[f.bytes == 8][r.below(4)];
        a = f.make(sgn(), ea / 4, ma), b = f.make(sgn(), eb / 4, mb);
        c = f.make(sgn(), ea / 4 + eb / 4 + 2 - f.p + K + int(r.below(5)) - 2, r.next());
        break;
      }
      case 4: {  // subnormal and underflowing results
        int e = emin - int(r.below(f.p + 4)), e1 = e / 2 + int(r.below(21)) - 10;
        a = normal(e1), b = normal(e - e1);
        c = r.below(3) ? (sgn() ? f.sign : 0) | (r.next() & f.mant) >> r.below(f.p) : normal(emin);
        break;
      }
      case 5: {  // results near overflow
        int e = emax + 1 - int(r.below(3)), e1 = e / 2 + int(r.below(11)) - 5;
        a = normal(e1), b = normal(e - e1), c = normal(emax - int(r.below(f.p + 2)));
        break;
      }
      case 6:  // special operands in any position
        for (uint64_t* v : {&a, &b, &c})
          if (r.below(2)) *v = picks[r.below(std::size(picks))] ^ (sgn() ? f.sign : 0);
        break;
      case 7: {  // a subnormal operand times any other: c subnormal, near the product, or a
                 // normal number whose last place is finer than the product's error
        a = (sgn() ? f.sign : 0) | (r.next() & f.mant) >> r.below(f.p), b = normal(int(r.below(emax + f.p)));
        if (sgn()) std::swap(a, b);
        Mp p(f.p), x(f.p), y(f.p);
        set(x.v, f, a), set(y.v, f, b);
        mpfr_mul(p.v, x.v, y.v, MPFR_RNDN);
        uint64_t k = r.below(3);
        c = k == 0 ? (sgn() ? f.sign : 0) | (r.next() & f.mant) >> r.below(f.p)
                   : k == 1 ? (get(f, p.v) ^ f.sign) + r.below(5) - 2 : normal(emin + int(r.below(4 * f.p)));
        break;
      }
      default:  // short significands: exact products and sums
        a = normal(ea % 30) & ~(f.mant >> (f.shift / 2)), b = normal(eb % 30) & ~(f.mant >> (f.shift / 2));
        c = normal((ea + eb) % 30) & ~(f.mant >> 2);
        break;
    }
    out.push_back(reference(f, a & f.all, b & f.all, c & f.all, mode));
  }
  return out;
}

TEST(Fma, ExactAtEveryWidthAndMode) {
  for (char prec : {'f', 'd'})
    for (int mode = 0; mode < 4; ++mode) {
      const Fmt& f = fmt(prec);
      uint64_t fill = f.make(false, -1, 1ull << (f.shift - 1));
      Case lane3{{fill, fill, fill}, f.make(false, 0, 5ull << (f.shift - 4))};  // 0.75 * 0.75 + 0.75 = 1.3125
      check(prec == 'f' ? "fmaf" : "fma", f, cases(f, 0xF3A + prec, mode ? 3000 : 6000, mode), mode, lane3);
    }
}

// Signed zeros, stated values and NaNs: (a, b, c) and the result rounding to
// nearest, down, up, toward zero.
TEST(Fma, SignedZerosAndStatedValues) {
  auto d = [](double v) { return qa::bits_of(v); };
  auto fl = [](float v) { return qa::bits_of(v); };
  const uint64_t P = d(0.0), N = d(-0.0), p = fl(0.0f), n = fl(-0.0f), tiny = d(0x1p-1074), ftiny = fl(0x1p-149f);
  const double big = 1.7976931348623157e308, e = 5.551115123125783e-17;
  const struct { char prec; uint64_t in[3], want[4]; } cs[] = {
      {'d', {d(2), d(3), d(-6)}, {P, N, P, P}},   {'d', {d(1), d(0.1), d(-0.1)}, {P, N, P, P}},
      {'d', {d(0), d(5), N}, {P, N, P, P}},       {'d', {N, d(5), N}, {N, N, N, N}},
      {'d', {d(0x1p-600), d(0x1p-600), N}, {P, P, tiny, P}},
      {'d', {d(-0x1p-600), d(0x1p-600), P}, {N, tiny | N, N, N}},
      {'d', {d(0.1), d(10), d(-1)}, {d(e), d(e), d(e), d(e)}},
      {'d', {d(1e308), d(10), d(-INFINITY)}, {d(-INFINITY), d(-INFINITY), d(-INFINITY), d(-INFINITY)}},
      {'d', {d(1e308), d(10), P}, {d(INFINITY), d(big), d(INFINITY), d(big)}},
      {'f', {fl(1 + 0x1p-23f), fl(1 - 0x1p-23f), fl(-1)}, {fl(-0x1p-46f), fl(-0x1p-46f), fl(-0x1p-46f), fl(-0x1p-46f)}},
      {'f', {fl(-0x1p-100f), fl(0x1p-100f), p}, {n, ftiny | n, n, n}},
      {'f', {fl(0x1p-100f), fl(0x1p-100f), n}, {p, p, ftiny, p}},
      {'f', {fl(0x1p-76f), fl(0x1p-76f), ftiny}, {ftiny, ftiny, fl(0x1p-148f), ftiny}},
      {'f', {fl(0x1p-75f), fl(0x1p-75f), ftiny}, {fl(0x1p-148f), ftiny, fl(0x1p-148f), ftiny}},
      {'f', {fl(3), fl(5), fl(-15)}, {p, n, p, p}},
      {'d', {0x7FF0000000000011, 0xFFF8000000000022, d(1)}, {0x7FF8000000000011, 0x7FF8000000000011, 0x7FF8000000000011, 0x7FF8000000000011}},
      {'d', {d(2), d(3), 0x7FF4000000000033}, {0x7FFC000000000033, 0x7FFC000000000033, 0x7FFC000000000033, 0x7FFC000000000033}},
      {'d', {d(0), d(INFINITY), 0x7FF4000000000033}, {0x7FFC000000000033, 0x7FFC000000000033, 0x7FFC000000000033, 0x7FFC000000000033}},
  };
  for (const auto& c : cs)
    for (int mode = 0; mode < 4; ++mode) {
      const Fmt& f = fmt(c.prec);
      Case k{{c.in[0], c.in[1], c.in[2]}, c.want[mode]};
      EXPECT_EQ(reference(f, c.in[0], c.in[1], c.in[2], mode).r, k.r) << "stated value against MPFR, mode " << mode;
      check(c.prec == 'f' ? "fmaf" : "fma", f, {k}, mode, {{0, 0, 0}, c.prec == 'f' ? fl(1.3125f) : d(1.3125)});
    }
}

// Sums whose first rounding lands exactly on a midpoint of the result's format,
// with the rest of the exact sum beyond it (which decides), against a genuine tie
// (nothing beyond), at many scales and signs: products of two factors of 2^m + 1
// (so that a*b = 1 + 2^-m) next to half of c's last place, and 25-bit odd
// products (float) or 1 + 2^-54 (double) plus a c far below or far above; in
// double also with one factor tiny or subnormal and the other large.
TEST(Fma, FirstRoundingOnAMidpoint) {
  struct Pair { double x, y; int m; };
  // 2^30 + 1 = 162565 * 6605, 2^24 + 1 = 24929 * 673, 2^54 + 1 = (2^18 + 1)(2^36 - 2^18 + 1)
  const Pair fpairs[] = {{162565, 6605, 30}, {24929, 673, 24}}, dpairs[] = {{262145, 68719214593, 54}};
  qarn::test::Rng r(0x313D);
  for (char prec : {'f', 'd'}) {
    const Fmt& f = fmt(prec);
    auto enc = [&](double v) { return prec == 'f' ? uint64_t(qa::bits_of(float(v))) : qa::bits_of(v); };
    const int p = f.p, span = prec == 'f' ? 60 : 400;
    std::vector<Case> cs[4];
    for (int i = 0; i < 600; ++i) {
      int e = int(r.below(2 * span)) - span;
      double sa = r.below(2) ? -1 : 1, sb = r.below(2) ? -1 : 1, sc = r.below(2) ? -1 : 1;
      double a, b, c;
      if (i % 2) {  // a*b = 2^e (1 + 2^-m): half of the last place of c = 2^(e+p) (1 + k 2^(1-p))
        const Pair& q = prec == 'f' ? fpairs[i / 2 % 2] : dpairs[0];
        a = sa * std::ldexp(q.x, -int(std::log2(q.x))), b = sb * std::ldexp(q.y, e - q.m + int(std::log2(q.x)));
        c = sc * std::ldexp(1 + std::ldexp(double(r.below(4)), 1 - p), e + p);
      } else if (prec == 'f') {  // an odd 25-bit product and c far below it, far above it, or zero
        uint64_t x, y;
        do x = r.below(1 << 13) | 1 << 12 | 1, y = r.below(1 << 13) | 1 << 11 | 1;
        while (x * y < 1u << 24 || x * y >= 1u << 25);
        a = sa * std::ldexp(double(x), e / 2), b = sb * std::ldexp(double(y), e - e / 2);
        int k = int(r.below(3));
        c = k == 0 ? 0 : sc * std::ldexp(1.0, e + (k == 1 ? -int(r.below(50)) - 5 : 55 + int(r.below(10))));
      } else {  // 1 + 2^-54 next to an odd multiple of 2^53 units: c + 1 is a midpoint
        a = sa * 262145 * 0x1p-18, b = sb * std::ldexp(68719214593.0 * 0x1p-36, e);
        c = sc * std::ldexp(0x1p53 + 2 * double(r.below(4)) - (r.below(2) ? 0x1p52 : 0), e);
      }
      // Double, every third case: the same product from a factor below 2^-450
      // (down to subnormal) and a large one, which the vector path keeps.
      if (prec == 'd' && i % 3 == 0) {
        int smax = std::min(1050, 1020 - std::ilogb(b));  // a's last bit is 2^-18 or above
        if (smax > 450) {
          int s2 = 450 + int(r.below(uint64_t(smax - 450 + 1)));
          a = std::ldexp(a, -s2), b = std::ldexp(b, s2);
          if (r.below(2)) std::swap(a, b);
        }
      }
      for (int mode = 0; mode < 4; ++mode) cs[mode].push_back(reference(f, enc(a), enc(b), enc(c), mode));
    }
    for (int mode = 0; mode < 4; ++mode)
      check(prec == 'f' ? "fmaf" : "fma", f, cs[mode], mode, {{0, 0, 0}, enc(1.3125)});
  }
}

// The exact sum rounds in the x87 control word's direction, the product of a = 1
// and the overflow in MXCSR's.
TEST(Fma, WhichControlRegisterRounds) {
  auto d = [](double v) { return qa::bits_of(v); };
  auto call = [&](double a, double b, double c, int x87mode, int ssemode) {
    X87Mode x87(x87mode);
    return call_with_mxcsr(*reg::find("fma1"), {{d(a)}, {d(b)}, {d(c)}}, mxcsr_for(ssemode))[0][0];
  };
  EXPECT_EQ(call(2, 3, -6, 1, 0), d(-0.0));
  EXPECT_EQ(call(2, 3, -6, 0, 1), d(0.0));
  EXPECT_EQ(call(3, 1 + 0x1p-52, -0x1p-53, 2, 0), d(3 + 0x1p-50));  // 3 + 1.25 units of the last place
  EXPECT_EQ(call(3, 1 + 0x1p-52, -0x1p-53, 0, 2), d(3 + 0x1p-51));
  EXPECT_EQ(call(1, 0.1, 0x1p-60, 0, 2), reference(kD, d(1), d(0.1), d(0x1p-60), 2).r);
  EXPECT_EQ(call(1e300, 1e300, 1, 0, 3), d(1.7976931348623157e308));
}

// The vector path works only in the ordinary environment.  Where subnormal
// results are flushed or subnormal operands read as zero, the exact sums still give
// MPFR's subnormal results and read subnormal operands as they are (general-case
// operands: none zero, infinite, NaN or +-1), and so must every width.
TEST(Fma, FlushingEnvironmentsKeepTheExactSums) {
  auto fl = [](float v) { return qa::bits_of(v); };
  auto d = [](double v) { return qa::bits_of(v); };
  const struct { char prec; uint64_t a, b, c; } cs[] = {
      {'f', fl(0x1.8p-70f), fl(0x1.4p-60f), fl(0x1p-149f)},     // product subnormal, c subnormal
      {'f', fl(0x1.000002p-63f), fl(-0x1p-63f), fl(0x1.8p-126f)},  // cancels to a subnormal
      {'f', fl(3.0f), fl(5.0f), fl(0x1.4p-140f)},               // subnormal operand, absorbed
      {'f', fl(0x1.2p-100f), fl(0x1.6p-30f), fl(-0x1p-133f)},
      {'f', fl(0x1p-140f), fl(0x1p20f), fl(0x1p-121f)},          // subnormal operand, normal result
      {'d', d(0x1.8p-540), d(0x1.4p-500), d(0x1p-1074)},
      {'d', d(0x1.0000000000001p-511), d(-0x1p-511), d(0x1.8p-1022)},
      {'d', d(3.0), d(5.0), d(0x1.4p-1040)},
  };
  uint64_t wants[std::size(cs)];
  for (size_t k = 0; k < std::size(cs); ++k) wants[k] = reference(fmt(cs[k].prec), cs[k].a, cs[k].b, cs[k].c, 0).r;
  for (uint32_t env : {0x8000u, 0x0040u, 0x8040u})  // flush to zero, subnormals are zero, both
    for (size_t k = 0; k < std::size(cs); ++k) {
      const auto& c = cs[k];
      const Fmt& f = fmt(c.prec);
      const uint64_t want = wants[k];
      for (int w : {1, 4, 8}) {
        std::string name = std::string(c.prec == 'f' ? "fmaf" : "fma") + std::to_string(w);
        const reg::Export& e = *reg::find(name.c_str());
        if (e.by_ref) continue;
        int lanes = w == 3 ? 4 : w;
        std::vector<Lanes> args{Lanes(lanes, c.a), Lanes(lanes, c.b), Lanes(lanes, c.c)};
        auto res = call_with_mxcsr(e, args, 0x1F80u | env);
        _mm_setcsr(0x1F80u);  // the caller's MXCSR comes back as the export left it
        for (int i = 0; i < w; ++i)
          EXPECT_EQ(res[0][i] & f.all, want) << name << " lane " << i << " MXCSR 0x" << std::hex << (0x1F80u | env)
                                             << " operands " << c.a << " " << c.b << " " << c.c;
      }
    }
}

TEST(Fma, FloatSweep) {
  const char* env = std::getenv("QARN_FMA_SWEEP");
  if (!env) GTEST_SKIP() << "QARN_FMA_SWEEP=N: N random float triples of fmaf";
  long n = std::atol(env), bad = 0;
  using F3 = __m256 (*)(__m256, __m256, __m256);
  F3 fn = reinterpret_cast<F3>(const_cast<void*>(invoker().address(*reg::find("fmaf8"))));
  const int modes[] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};
  for (long done = 0, k = 0; done < n; done += 1 << 16, ++k) {
    auto cs = cases(kF, 0x5EE9 + k, std::min(1L << 16, n - done), int(k % 4));
    for (size_t c0 = 0; c0 < cs.size(); c0 += 8) {
      alignas(32) uint32_t in[3][8] = {}, got[8];
      for (size_t i = 0; i < 8 && c0 + i < cs.size(); ++i)
        for (int j = 0; j < 3; ++j) in[j][i] = uint32_t(cs[c0 + i].in[j]);
      std::fesetround(modes[k % 4]);  // MXCSR and the x87 control word
      __m256 r = fn(_mm256_load_ps(reinterpret_cast<float*>(in[0])), _mm256_load_ps(reinterpret_cast<float*>(in[1])),
                    _mm256_load_ps(reinterpret_cast<float*>(in[2])));
      std::fesetround(FE_TONEAREST);
      _mm256_store_ps(reinterpret_cast<float*>(got), r);
      for (size_t i = 0; i < 8 && c0 + i < cs.size(); ++i)
        if (got[i] != cs[c0 + i].r && ++bad <= 10)
          ADD_FAILURE() << "fmaf mode " << k % 4 << std::hex << " " << in[0][i] << " " << in[1][i] << " " << in[2][i]
                        << ": got " << got[i] << ", want " << cs[c0 + i].r;
    }
  }
  std::printf("fmaf: %ld random triples (the four modes in turn), %ld mismatches\n", n, bad);
  EXPECT_EQ(bad, 0);
}

}  // namespace
