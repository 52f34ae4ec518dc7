// NaN operands of every export with two or three floating arguments, at widths 1,
// 3 and 8 (float) or 4 (double), every variant: the result's bits against the
// family's NaN rule.  Most rules name an operand order (x + y, y + x, x*y, a*b + c),
// and on x86 the first source operand's NaN wins, quieted; a compiler that treats
// the sum or product as commutative swaps the payloads.  The operands are pairs of
// NaNs with different payloads and signs, signalling and quiet, in every pair of
// positions and both orders, plus a single NaN beside ordinary numbers in every
// position; the cases are spread over the lanes and rotated, so each case is seen
// in every lane of a register.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/invoke.h"

namespace qa = qarn::abi;
using qa::Lanes;

namespace {

struct Fmt {
  uint64_t sign, expo, quiet, mant, one;
};
const Fmt kF{0x80000000u, 0x7F800000u, 0x00400000u, 0x007FFFFFu, 0x3F800000u};
const Fmt kD{1ull << 63, 0x7FFull << 52, 1ull << 51, (1ull << 52) - 1, 0x3FF0000000000000ull};

bool is_nan(const Fmt& f, uint64_t b) { return (b & f.expo) == f.expo && (b & f.mant); }
bool is_inf(const Fmt& f, uint64_t b) { return (b & ~f.sign) == f.expo; }
bool is_zero(const Fmt& f, uint64_t b) { return (b & ~f.sign) == 0; }
uint64_t quiet(const Fmt& f, uint64_t b) { return b | f.quiet; }

// The first NaN of the operands in argument order, quieted: what x + y, x*y or
// (a*b) + c gives on x86, where the first source operand's NaN wins.
uint64_t first_nan(const Fmt& f, const std::vector<uint64_t>& v) {
  for (uint64_t b : v)
    if (is_nan(f, b)) return quiet(f, b);
  return 0;
}

// What a family's definition gives for these operands (at least one a NaN).
struct Want {
  bool any_nan;   // the rule says "NaN" and names no operand
  uint64_t bits;  // otherwise the exact pattern
  bool quotient_zero = false;  // remquo: the stored quotient is 0
};

bool known(const std::string& fam) {
  for (const char* k : {"pow", "powr", "hypot", "div", "fmod", "remainder", "remquo", "nextafter", "atan2",
                        "atan2pi", "fma", "fmax", "fmin", "maxmag", "minmag", "fdim", "copysign"})
    if (fam == k) return true;
  return false;
}

Want expect(const std::string& fam, const Fmt& f, const std::vector<uint64_t>& v) {
  uint64_t x = v[0], y = v.size() > 1 ? v[1] : 0;
  bool xn = is_nan(f, x), yn = is_nan(f, y);
  if (fam == "pow") {  // y = +-0 and x = 1 first: 1 even beside a NaN; then x + y
    if (is_zero(f, y) || x == f.one) return {false, f.one};
    return {false, first_nan(f, v)};
  }
  if (fam == "powr") return {true, 0};
  if (fam == "hypot") {  // an infinity beats a NaN
    if (is_inf(f, x) || is_inf(f, y)) return {false, f.expo};
    return {true, 0};
  }
  // x/y, x*y, x*1.7 then y*1.7, x + y, y + x with y first, a*b + c and a + c.
  if (fam == "div" || fam == "fmod" || fam == "remainder" || fam == "nextafter" || fam == "atan2" ||
      fam == "atan2pi" || fam == "fma")
    return {false, first_nan(f, v)};
  if (fam == "remquo") return {false, first_nan(f, v), true};
  if (fam == "fmax" || fam == "fmin" || fam == "maxmag" || fam == "minmag") {  // a number beats a NaN
    if (xn && yn) return {false, quiet(f, y)};
    return {false, xn ? y : x};
  }
  if (fam == "fdim") return {false, quiet(f, yn ? y : x)};
  if (fam == "copysign") return {false, (x & ~f.sign) | (y & f.sign)};  // bits, no arithmetic
  return {true, 0};
}

// Operands: NaNs with distinct payloads and both signs, and two ordinary numbers.
struct Pool {
  std::vector<uint64_t> q, s, num;
};
Pool pool(char prec) {
  if (prec == 'f')
    return {{0x7FC00011u, 0xFFC01022u, 0x7FE00033u},
            {0x7F800044u, 0xFFA00055u, 0x7F810066u},
            {0x3FC00000u /* 1.5 */, 0xC0100000u /* -2.25 */}};
  return {{0x7FF8000000000011ull, 0xFFF8001200000022ull, 0x7FFC000000000033ull},
          {0x7FF0000000000044ull, 0xFFF4000000100055ull, 0x7FF0030000000066ull},
          {0x3FF8000000000000ull /* 1.5 */, 0xC002000000000000ull /* -2.25 */}};
}

// Every case of an arity: pairs (signalling, quiet), (quiet, signalling), (quiet,
// quiet) and (signalling, signalling) of different payloads in every pair of
// positions and both orders, a number in the remaining one; a single NaN in every
// position; and for three operands all three NaN.
std::vector<std::vector<uint64_t>> cases(char prec, int arity) {
  Pool p = pool(prec);
  std::vector<std::vector<uint64_t>> out;
  auto add = [&](std::vector<uint64_t> v) { out.push_back(std::move(v)); };
  std::vector<std::pair<uint64_t, uint64_t>> pairs;
  for (int i = 0; i < 3; ++i) {
    int j = (i + 1) % 3;
    pairs.push_back({p.s[i], p.q[j]});
    pairs.push_back({p.q[i], p.s[j]});
    pairs.push_back({p.q[i], p.q[j]});
    pairs.push_back({p.s[i], p.s[j]});
  }
  for (int a = 0; a < arity; ++a)
    for (int b = 0; b < arity; ++b) {
      if (a == b) continue;  // (a, b) and (b, a): both orders
      for (size_t k = 0; k < pairs.size(); ++k) {
        std::vector<uint64_t> v(arity, p.num[k & 1]);
        v[a] = pairs[k].first;
        v[b] = pairs[k].second;
        add(v);
      }
    }
  for (int a = 0; a < arity; ++a)
    for (uint64_t n : {p.q[0], p.s[1], p.q[1], p.s[2]})
      for (int k = 0; k < 2; ++k) {
        std::vector<uint64_t> v(arity, p.num[k]);
        if (arity == 3) v[(a + 1) % 3] = p.num[1 - k];
        v[a] = n;
        add(v);
      }
  if (arity == 3)
    for (int r = 0; r < 3; ++r) {
      add({p.s[r], p.q[(r + 1) % 3], p.q[(r + 2) % 3]});
      add({p.q[r], p.q[(r + 1) % 3], p.s[(r + 2) % 3]});
    }
  return out;
}

std::string hex(const Fmt& f, uint64_t b) {
  char s[24];
  if (&f == &kF) std::snprintf(s, sizeof s, "0x%08" PRIX64, b);
  else std::snprintf(s, sizeof s, "0x%016" PRIX64, b);
  return s;
}

std::vector<const qarn::reg::Export*> exports() {
  std::vector<const qarn::reg::Export*> v;
  for (const auto& e : qarn::reg::all()) {
    if (!e.present || (e.prec != 'f' && e.prec != 'd')) continue;
    int floats = 0;
    for (char c : qa::shape_of(e).args) floats += c == 'f';
    if (floats < 2) continue;
    if (e.width == 1 || e.width == 3 || e.width == (e.prec == 'f' ? 8 : 4)) v.push_back(&e);
  }
  return v;
}

class NanOperands : public testing::TestWithParam<const qarn::reg::Export*> {};

TEST_P(NanOperands, GiveTheStatedNaN) {
  static qa::Invoker inv(qa::library_path());
  const auto& e = *GetParam();
  ASSERT_TRUE(known(e.family)) << e.family << ": no NaN rule here for this family";
  const Fmt& f = e.prec == 'f' ? kF : kD;
  qa::Shape sh = qa::shape_of(e);
  int arity = int(sh.args.size());
  auto all = cases(e.prec, arity);
  const int n = int(all.size()), w = sh.width;
  int bad = 0;
  std::string report;
  for (int rot = 0; rot < w; ++rot)
    for (int base = 0; base < n; base += w) {
      std::vector<Lanes> args(arity, Lanes(sh.lanes, 0));
      std::vector<int> which(w);
      for (int i = 0; i < w; ++i) {
        which[i] = (base + i + rot) % n;
        for (int a = 0; a < arity; ++a) args[a][i] = all[which[i]][a];
      }
      qa::Outcome o = inv.call(e, args, uint64_t(base * 31 + rot + 1));
      for (int i = 0; i < w; ++i) {
        const auto& v = all[which[i]];
        Want want = expect(e.family, f, v);
        uint64_t got = o.results[0][i];
        bool ok = want.any_nan ? is_nan(f, got) : got == want.bits;
        if (ok && want.quotient_zero) ok = uint32_t(o.results.back()[i]) == 0;
        if (ok) continue;
        if (++bad > 6) continue;
        report += "\n  lane " + std::to_string(i) + " (";
        for (int a = 0; a < arity; ++a) report += (a ? ", " : "") + hex(f, v[a]);
        report += "): got " + hex(f, got) + ", want " + (want.any_nan ? std::string("a NaN") : hex(f, want.bits));
        if (want.quotient_zero) report += " and quotient 0 (got " + std::to_string(int32_t(o.results.back()[i])) + ")";
      }
    }
  EXPECT_EQ(bad, 0) << e.name << ": " << bad << " of " << n * w << " lanes wrong" << report;
}

std::string param_name(const testing::TestParamInfo<const qarn::reg::Export*>& p) {
  return qarn::reg::short_name(*p.param);
}
INSTANTIATE_TEST_SUITE_P(Registry, NanOperands, testing::ValuesIn(exports()), param_name);

}  // namespace
