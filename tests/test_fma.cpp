// fma against MPFR, bit for bit, in every rounding mode: random operands over
// every exponent, products aligned with c at every distance, cancellations down to
// exact zeros, ties and near-ties between neighbours, subnormal and overflowing
// results, and zeros, ones, infinities and NaNs in every position; every width
// (the by-reference fma8, fma16 and fmaf16 included) through the register-level
// caller.  The rounding of the exact sum follows the x87 control word, the
// operations on special operands and the overflow follow MXCSR: the tests set
// both alike, except where they show which one decides.
//
// QARN_FMA_SWEEP=N checks N random float triples more (through fmaf8, the four
// modes in turn) and prints the count of mismatches.
#include <algorithm>
#include <array>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <immintrin.h>

#include "exact_ref.h"

using namespace qarn::exact;
namespace reg = qarn::reg;

namespace {

using Triple = std::array<uint64_t, 3>;

// The correctly rounded a*b + c in direction `mode`.  NaN operands give the first
// NaN of a, b, c, quieted; 0*inf and inf - inf the default NaN.
uint64_t reference(const Fmt& f, const Triple& t, int mode) {
  uint64_t a = t[0], b = t[1], c = t[2];
  for (uint64_t v : {a, b, c})
    if (f.nan(v)) return v | f.quiet_bit();
  bool prod_inf = f.is_inf(a) || f.is_inf(b);
  if (prod_inf && (f.zero(a) || f.zero(b))) return f.default_nan();
  if (prod_inf && f.is_inf(c) && ((a ^ b ^ c) & f.sign)) return f.default_nan();
  Range range(f);
  Mp x(f.p), y(f.p), z(f.p), r(f.p);
  set(x.v, f, a), set(y.v, f, b), set(z.v, f, c);
  int i = mpfr_fma(r.v, x.v, y.v, z.v, kMpfrMode[mode]);
  mpfr_subnormalize(r.v, i, kMpfrMode[mode]);
  return get(f, r.v);
}

// a*b rounded to nearest in the format (to build cancellations).
uint64_t product(const Fmt& f, uint64_t a, uint64_t b) {
  Range range(f);
  Mp x(f.p), y(f.p), r(f.p);
  set(x.v, f, a), set(y.v, f, b);
  int i = mpfr_mul(r.v, x.v, y.v, MPFR_RNDN);
  mpfr_subnormalize(r.v, i, MPFR_RNDN);
  return get(f, r.v);
}

// Significand pairs (ma, mb) whose product has 2p bits and ends in a 1 with zeros
// in the K = 73 (float 38) bits above it.  Added to a c whose half last place is
// next to the product's upper bits, the lone last bit, 72 (37) places further
// down, is all that tells the exact sum from a tie or a representable value.
// Found by search: mb = ma^-1 modulo 2^K, kept when it has p bits.
const std::vector<std::pair<uint64_t, uint64_t>>& sparse_products(const Fmt& f) {
  static std::vector<std::pair<uint64_t, uint64_t>> pool[2];
  auto& v = pool[f.bytes == 8];
  if (!v.empty()) return v;
  using U = unsigned __int128;
  const int K = f.bytes == 8 ? 73 : 38;
  const U mask = (U(1) << K) - 1, lo = U(1) << (f.p - 1), hi = U(1) << f.p;
  qarn::test::Rng r(K);
  while (v.size() < 4) {
    U ma = (lo | U(r.next() & f.mant)) | 1, inv = ma;
    for (int i = 0; i < 7; ++i) inv *= 2 - ma * inv;  // Newton: ma * inv = 1 modulo 2^128
    U mb = inv & mask;
    if (mb >= lo && mb < hi && ma * mb >= (U(1) << (2 * f.p - 1))) v.push_back({uint64_t(ma), uint64_t(mb)});
  }
  return v;
}

std::vector<Triple> triples(const Fmt& f, uint64_t seed, long n) {
  qarn::test::Rng r(seed);
  const int emin = 1 - f.bias, emax = f.bias;
  auto sgn = [&] { return r.below(2) != 0; };
  auto normal = [&](int e) { return f.make(sgn(), std::max(emin, std::min(emax, e)), r.next()); };
  auto rand_e = [&] { return emin + int(r.below(emax - emin + 1)); };
  const uint64_t picks[] = {0, f.sign, f.one(), f.one() | f.sign, f.inf(), f.inf() | f.sign, f.inf() | f.quiet_bit() | 7,
                            f.inf() | 5 | f.sign, 1, f.mant | f.sign, f.make(false, emax, f.mant),
                            f.make(true, 1, 0), f.make(false, -1, uint64_t(1) << (f.shift - 1))};
  std::vector<Triple> out;
  out.reserve(n);
  for (long i = 0; i < n; ++i) {
    uint64_t a = random_pattern(f, r), b = random_pattern(f, r), c = random_pattern(f, r);
    switch (r.below(11)) {
      case 0: break;
      case 1: case 2: {  // c at any distance around the product
        int ea = rand_e() / 2, eb = rand_e() / 2;
        a = normal(ea), b = normal(eb);
        c = normal(ea + eb + int(r.below(4 * f.p + 10)) - 2 * f.p - 5);
        break;
      }
      case 3: case 4: {  // c = -(a*b rounded), a few units away: cancellation
        a = normal(rand_e() / 2), b = normal(rand_e() / 2);
        uint64_t p = product(f, a, b);
        if ((p & ~f.sign) >= f.inf() || f.zero(p)) break;
        c = (p ^ f.sign) + r.below(5) - 2;
        break;
      }
      case 5: {  // the product next to half of c's last place, its lowest bit far below it
        c = normal(rand_e());
        int e = f.field(c) - f.bias - f.shift - 1;
        const uint64_t ms[] = {0, 1, f.mant, (uint64_t(1) << (f.shift - 1)) | 1};
        int ea = e / 2 + int(r.below(9)) - 4;
        a = f.make(sgn(), ea, ms[r.below(4)]);
        b = f.make(sgn(), e - ea + int(r.below(3)) - 1, ms[r.below(4)]);
        break;
      }
      case 6: {  // subnormal and underflowing results
        int e = emin - int(r.below(f.p + 4));
        int ea = e / 2 + int(r.below(21)) - 10;
        a = normal(ea), b = normal(e - ea);
        uint64_t sub = (r.next() & f.mant) >> r.below(f.shift);
        c = r.below(3) == 0 ? (sgn() ? f.sign : 0) : r.below(2) ? sub | (sgn() ? f.sign : 0) : normal(emin + int(r.below(3)));
        break;
      }
      case 7: {  // near overflow
        int e = emax - int(r.below(3)) + 1;
        int ea = e / 2 + int(r.below(11)) - 5;
        a = normal(ea), b = normal(e - ea);
        c = r.below(2) ? normal(emax - int(r.below(f.p + 2))) : normal(rand_e());
        break;
      }
      case 8: {  // special operands in any position
        uint64_t* slot[] = {&a, &b, &c};
        for (int k = 0; k < 3; ++k)
          if (r.below(2)) *slot[k] = picks[r.below(std::size(picks))];
        break;
      }
      case 9: {  // a sparse product whose upper bits end next to half of c's last place
        auto [ma, mb] = sparse_products(f)[r.below(4)];
        int ea = int(r.below(200)) - 100, eb = int(r.below(200)) - 100, t = int(r.below(5)) - 2;
        int K = f.bytes == 8 ? 73 : 38;
        a = f.make(sgn(), ea, ma), b = f.make(sgn(), eb, mb);
        c = f.make(sgn(), ea + eb + 2 - f.p + K - t, r.next());
        break;
      }
      default: {  // short significands: exact products, exact sums
        a = normal(int(r.below(60)) - 30) & ~(f.mant >> (f.shift / 2));
        b = normal(int(r.below(60)) - 30) & ~(f.mant >> (f.shift / 2));
        c = normal(int(r.below(60)) - 30) & ~(f.mant >> 2);
        break;
      }
    }
    out.push_back({a & f.all, b & f.all, c & f.all});
  }
  return out;
}

std::string name(char prec, int w) { return std::string("fma") + (prec == 'f' ? "f" : "") + std::to_string(w); }

// Every width under the default settings (the by-reference members too), garbage
// in every other register and lane.
TEST(Fma, ExactAtEveryWidth) {
  for (char prec : {'f', 'd'}) {
    const Fmt& f = fmt(prec);
    auto ts = triples(f, 0xF3A + prec, 6000);
    std::vector<uint64_t> want;
    for (const Triple& t : ts) want.push_back(reference(f, t, 0));
    int failures = 0;
    for (int w : {1, 2, 3, 4, 8, 16}) {
      const reg::Export* e = reg::find(name(prec, w));
      ASSERT_TRUE(e && e->present);
      int lanes = w == 3 ? 4 : w;
      for (size_t c0 = 0; c0 < ts.size(); c0 += w) {
        std::vector<Lanes> args(3, Lanes(lanes, f.inf() | 1));
        for (int i = 0; i < w; ++i)
          for (int k = 0; k < 3; ++k) args[k][i] = ts[(c0 + i) % ts.size()][k];
        qa::Outcome o = invoker().call(*e, args, c0 + w, int(c0 % 7));
        ASSERT_TRUE(o.guards_intact) << e->name;
        for (int i = 0; i < w; ++i) {
          uint64_t got = o.results[0][i] & f.all, wt = want[(c0 + i) % ts.size()];
          if (got != wt && ++failures <= 10)
            ADD_FAILURE() << e->name << " lane " << i << " (" << hex(args[0][i]) << ", " << hex(args[1][i]) << ", "
                          << hex(args[2][i]) << "): got " << hex(got) << ", want " << hex(wt);
        }
        // Lane 3 of width 3 is computed from the fillers: 0.75 * 0.75 + 0.75.
        if (w == 3) {
          EXPECT_EQ(hex(o.results[0][3] & f.all), hex(prec == 'f' ? qa::bits_of(1.3125f) : qa::bits_of(1.3125)));
        }
      }
    }
    EXPECT_EQ(failures, 0) << name(prec, 0) << " over " << ts.size() << " triples per width";
  }
}

// Each rounding mode, set in MXCSR and in the x87 control word alike.
TEST(Fma, ExactInEveryRoundingMode) {
  for (char prec : {'f', 'd'}) {
    const Fmt& f = fmt(prec);
    auto ts = triples(f, 0x30DE + prec, 4000);
    for (int mode = 1; mode < 4; ++mode) {
      X87Mode x87(mode);
      int failures = 0;
      for (int w : {1, 3, 4}) {
        const reg::Export* e = reg::find(name(prec, w));
        for (size_t c0 = 0; c0 + w <= ts.size(); c0 += w) {
          std::vector<Lanes> args(3, Lanes(4, 0));
          for (int i = 0; i < w; ++i)
            for (int k = 0; k < 3; ++k) args[k][i] = ts[c0 + i][k];
          auto res = call_with_mxcsr(*e, args, mxcsr_for(mode), c0);
          for (int i = 0; i < w; ++i) {
            uint64_t got = res[0][i] & f.all, wt = reference(f, ts[c0 + i], mode);
            if (got != wt && ++failures <= 6)
              ADD_FAILURE() << e->name << " rounding " << kModeName[mode] << " (" << hex(args[0][i]) << ", "
                            << hex(args[1][i]) << ", " << hex(args[2][i]) << "): got " << hex(got) << ", want "
                            << hex(wt);
          }
        }
      }
      EXPECT_EQ(failures, 0) << name(prec, 0) << " rounding " << kModeName[mode];
    }
  }
}

// Signed zeros and stated values in each mode: exact cancellations (+0, -0
// rounding down), zero products, products that underflow next to a zero c
// (the product's sign, rounded once), the unfused product that would give 0,
// and infinite c with an overflowing product.
TEST(Fma, SignedZerosAndStatedValues) {
  auto d = [](double v) { return qa::bits_of(v); };
  auto fl = [](float v) { return qa::bits_of(v); };
  const uint64_t P0 = d(0.0), N0 = d(-0.0), p0 = fl(0.0f), n0 = fl(-0.0f);
  struct Case {
    char prec;
    Triple t;
    uint64_t want[4];  // nearest, down, up, toward zero
  };
  const Case cases[] = {
      {'d', {d(2), d(3), d(-6)}, {P0, N0, P0, P0}},
      {'d', {d(-2), d(3), d(6)}, {P0, N0, P0, P0}},
      {'d', {d(1), d(0.1), d(-0.1)}, {P0, N0, P0, P0}},
      {'d', {d(0), d(5), d(-0.0)}, {P0, N0, P0, P0}},
      {'d', {d(-0.0), d(5), d(-0.0)}, {N0, N0, N0, N0}},
      {'d', {d(-0.0), d(-5), d(0.0)}, {P0, P0, P0, P0}},
      {'d', {d(0x1p-600), d(0x1p-600), d(-0.0)}, {P0, P0, d(0x1p-1074), P0}},
      {'d', {d(-0x1p-600), d(0x1p-600), d(0.0)}, {N0, d(-0x1p-1074), N0, N0}},
      {'d', {d(0.1), d(10), d(-1)}, {d(5.551115123125783e-17), d(5.551115123125783e-17), d(5.551115123125783e-17),
                                    d(5.551115123125783e-17)}},
      {'d', {d(1e308), d(10), d(-INFINITY)}, {d(-INFINITY), d(-INFINITY), d(-INFINITY), d(-INFINITY)}},
      {'d', {d(1e308), d(10), d(0.0)}, {d(INFINITY), d(1.7976931348623157e308), d(INFINITY), d(1.7976931348623157e308)}},
      {'f', {fl(1 + 0x1p-23f), fl(1 - 0x1p-23f), fl(-1)}, {fl(-0x1p-46f), fl(-0x1p-46f), fl(-0x1p-46f), fl(-0x1p-46f)}},
      {'f', {fl(0x1p-100f), fl(0x1p-100f), p0}, {p0, p0, fl(0x1p-149f), p0}},
      {'f', {fl(-0x1p-100f), fl(0x1p-100f), p0}, {n0, fl(-0x1p-149f), n0, n0}},
      {'f', {fl(0x1p-100f), fl(0x1p-100f), n0}, {p0, p0, fl(0x1p-149f), p0}},
      {'f', {fl(0x1p-76f), fl(0x1p-76f), fl(0x1p-149f)}, {fl(0x1p-149f), fl(0x1p-149f), fl(0x1p-148f), fl(0x1p-149f)}},
      {'f', {fl(0x1p-75f), fl(0x1p-75f), fl(0x1p-149f)}, {fl(0x1p-148f), fl(0x1p-149f), fl(0x1p-148f), fl(0x1p-149f)}},
      {'f', {fl(3), fl(5), fl(-15)}, {p0, n0, p0, p0}},
  };
  for (const Case& c : cases)
    for (int mode = 0; mode < 4; ++mode) {
      const Fmt& f = fmt(c.prec);
      X87Mode x87(mode);
      std::vector<Lanes> args = {{c.t[0]}, {c.t[1]}, {c.t[2]}};
      auto res = call_with_mxcsr(*reg::find(name(c.prec, 1)), args, mxcsr_for(mode), 3);
      EXPECT_EQ(hex(res[0][0] & f.all), hex(c.want[mode]))
          << name(c.prec, 1) << "(" << hex(c.t[0]) << ", " << hex(c.t[1]) << ", " << hex(c.t[2]) << ") rounding "
          << kModeName[mode];
      EXPECT_EQ(hex(c.want[mode]), hex(reference(f, c.t, mode))) << "the stated value disagrees with MPFR";
    }
  // NaNs: a's, then b's, then c's, quieted; 0 * inf is the default NaN.
  const Fmt& f = kD;
  uint64_t na = 0x7FF0000000000011ull, nb = 0xFFF8000000000022ull, nc = 0x7FF4000000000033ull;
  const std::pair<Triple, uint64_t> nans[] = {
      {{na, nb, nc}, na | f.quiet_bit()}, {{d(2), nb, nc}, nb},           {{d(2), d(3), nc}, nc | f.quiet_bit()},
      {{d(1), d(0), nc}, nc | f.quiet_bit()}, {{d(0), d(INFINITY), d(1)}, f.default_nan()},
      {{d(0), d(INFINITY), nc}, nc | f.quiet_bit()}, {{d(INFINITY), d(2), d(-INFINITY)}, f.default_nan()}};
  for (const auto& [t, want] : nans) {
    qa::Outcome o = invoker().call(*reg::find("fma1"), {{t[0]}, {t[1]}, {t[2]}});
    EXPECT_EQ(hex(o.results[0][0]), hex(want)) << hex(t[0]) << " " << hex(t[1]) << " " << hex(t[2]);
  }
}

// The exact sum rounds in the x87 control word's direction; the operations on
// special operands (here a = 1) and the overflow round in MXCSR's.
TEST(Fma, WhichControlRegisterRounds) {
  auto d = [](double v) { return qa::bits_of(v); };
  auto call = [&](Triple t, int x87mode, int ssemode) {
    X87Mode x87(x87mode);
    return call_with_mxcsr(*reg::find("fma1"), {{t[0]}, {t[1]}, {t[2]}}, mxcsr_for(ssemode), 1)[0][0];
  };
  EXPECT_EQ(hex(call({d(2), d(3), d(-6)}, 1, 0)), hex(d(-0.0)));
  EXPECT_EQ(hex(call({d(2), d(3), d(-6)}, 0, 1)), hex(d(0.0)));
  EXPECT_EQ(hex(call({d(3), d(0.1), d(0)}, 0, 2)), hex(reference(kD, {d(3), d(0.1), d(0)}, 2)));
  // 3 + 1.25 units of the last place: up from the x87's field, to nearest from MXCSR's.
  EXPECT_EQ(hex(call({d(3), d(1 + 0x1p-52), d(-0x1p-53)}, 2, 0)), hex(d(3 + 0x1p-50)));
  EXPECT_EQ(hex(call({d(3), d(1 + 0x1p-52), d(-0x1p-53)}, 0, 2)), hex(d(3 + 0x1p-51)));
  EXPECT_EQ(hex(call({d(1), d(0.1), d(0x1p-60)}, 0, 2)), hex(reference(kD, {d(1), d(0.1), d(0x1p-60)}, 2)));
  EXPECT_EQ(hex(call({d(1e300), d(1e300), d(1)}, 0, 3)), hex(d(1.7976931348623157e308)));
}

// ---- the opt-in sweep --------------------------------------------------------------
TEST(Fma, FloatSweep) {
  const char* env = std::getenv("QARN_FMA_SWEEP");
  if (!env) GTEST_SKIP() << "set QARN_FMA_SWEEP=N for N random float triples of fmaf";
  long n = std::atol(env), bad = 0;
  using F3 = __m256 (*)(__m256, __m256, __m256);
  F3 fn = reinterpret_cast<F3>(const_cast<void*>(invoker().address(*reg::find("fmaf8"))));
  const int modes[] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};
  const long block = 1 << 16;
  for (long done = 0, k = 0; done < n; done += block, ++k) {
    auto ts = triples(kF, 0x5EE9 + k, std::min(block, n - done));
    int mode = int(k % 4);
    for (size_t c0 = 0; c0 < ts.size(); c0 += 8) {
      alignas(32) uint32_t in[3][8] = {}, got[8];
      for (size_t i = 0; i < 8 && c0 + i < ts.size(); ++i)
        for (int j = 0; j < 3; ++j) in[j][i] = uint32_t(ts[c0 + i][j]);
      std::fesetround(modes[mode]);
      __m256 r = fn(_mm256_load_ps(reinterpret_cast<float*>(in[0])), _mm256_load_ps(reinterpret_cast<float*>(in[1])),
                    _mm256_load_ps(reinterpret_cast<float*>(in[2])));
      std::fesetround(FE_TONEAREST);
      _mm256_store_ps(reinterpret_cast<float*>(got), r);
      for (size_t i = 0; i < 8 && c0 + i < ts.size(); ++i) {
        uint64_t want = reference(kF, ts[c0 + i], mode);
        if (got[i] != want && ++bad <= 10)
          ADD_FAILURE() << "fmaf rounding " << kModeName[mode] << " (" << hex(in[0][i]) << ", " << hex(in[1][i])
                        << ", " << hex(in[2][i]) << "): got " << hex(got[i]) << ", want " << hex(want);
      }
    }
  }
  std::printf("fmaf: %ld random triples (the four modes in turn), %ld mismatches\n", n, bad);
  EXPECT_EQ(bad, 0);
}

}  // namespace
