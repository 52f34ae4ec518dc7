// Rounding, decomposition and scaling, min/max/fdim: every lane of every width is
// compared bit for bit with references built from MPFR and integer arithmetic, on
// random patterns over every exponent plus zeros, subnormals, the largest finite
// values, infinities and quiet and signalling NaNs of both signs.  Calls go through
// the register-level caller with garbage in every register and unused lane.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/rng.h"

using namespace qarn;
namespace qa = qarn::abi;
using qa::Lanes;

namespace {

qa::Invoker& invoker() {
  static qa::Invoker inv(qa::library_path());
  return inv;
}

uint64_t rnd(qarn::test::Rng& s) { return s.next(); }

// ---- formats --------------------------------------------------------------------
struct Fmt {
  int p, bias, maxe, shift, bytes;
  uint64_t sign, quiet, mant, all;
};
const Fmt kF{24, 127, 255, 23, 4, 0x80000000u, 0x00400000u, 0x7FFFFFu, 0xFFFFFFFFu};
const Fmt kD{53, 1023, 2047, 52, 8, 1ull << 63, 1ull << 51, (1ull << 52) - 1, ~0ull};
const Fmt& fmt(char prec) { return prec == 'f' ? kF : kD; }

int field(const Fmt& f, uint64_t b) { return int((b >> f.shift) & uint64_t(f.maxe)); }
bool is_nan(const Fmt& f, uint64_t b) { return field(f, b) == f.maxe && (b & f.mant); }
bool is_inf(const Fmt& f, uint64_t b) { return field(f, b) == f.maxe && !(b & f.mant); }
bool is_zero(const Fmt& f, uint64_t b) { return (b & ~f.sign) == 0; }
uint64_t quiet(const Fmt& f, uint64_t b) { return b | f.quiet; }

// MPFR values in the format's precision with an unbounded exponent; `to_bits`
// rounds to the format, subnormals included, in the given direction.
struct Mp {
  mpfr_t v;
  explicit Mp(int prec = 2400) { mpfr_init2(v, prec); }  // any difference of doubles is exact
  ~Mp() { mpfr_clear(v); }
};
void set(mpfr_t v, const Fmt& f, uint64_t b) {
  if (f.bytes == 4) {
    uint32_t u = uint32_t(b);
    float x;
    std::memcpy(&x, &u, 4);
    mpfr_set_flt(v, x, MPFR_RNDN);
  } else {
    double x;
    std::memcpy(&x, &b, 8);
    mpfr_set_d(v, x, MPFR_RNDN);
  }
}
uint64_t to_bits(const Fmt& f, mpfr_t v, mpfr_rnd_t r) {
  mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
  Mp t(f.p);
  int i = mpfr_set(t.v, v, r);
  mpfr_set_emin(f.bytes == 4 ? -148 : -1073);
  mpfr_set_emax(f.bytes == 4 ? 128 : 1024);
  i = mpfr_check_range(t.v, i, r);
  mpfr_subnormalize(t.v, i, r);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  if (f.bytes == 4) {
    float x = mpfr_get_flt(t.v, r);
    uint32_t u;
    std::memcpy(&u, &x, 4);
    return u;
  }
  double x = mpfr_get_d(t.v, r);
  uint64_t u;
  std::memcpy(&u, &x, 8);
  return u;
}
int cmp_num(const Fmt& f, uint64_t a, uint64_t b) {  // numeric compare of two non-NaNs
  Mp x, y;
  set(x.v, f, a);
  set(y.v, f, b);
  return mpfr_cmp(x.v, y.v);
}
int cmp_abs(const Fmt& f, uint64_t a, uint64_t b) { return cmp_num(f, a & ~f.sign, b & ~f.sign); }

// ---- references -----------------------------------------------------------------
// Rounding modes in MXCSR order: nearest, down, up, toward zero.
const mpfr_rnd_t kModes[] = {MPFR_RNDN, MPFR_RNDD, MPFR_RNDU, MPFR_RNDZ};

using Outs = std::vector<uint64_t>;

Outs ref(const std::string& fam, const Fmt& f, const std::vector<uint64_t>& in, int mode) {
  static bool wide = (mpfr_set_emin(mpfr_get_emin_min()), mpfr_set_emax(mpfr_get_emax_max()), true);
  (void)wide;
  uint64_t x = in[0], y = in.size() > 1 ? in[1] : 0;
  mpfr_rnd_t r = kModes[mode];
  Mp a, b;
  if (fam == "fabs") return {x & ~f.sign};
  if (fam == "copysign") return {(x & ~f.sign) | (y & f.sign)};
  if (fam == "nan") return {(x | (f.all & ~f.sign & ~f.mant) | f.quiet) & f.all};
  bool xn = is_nan(f, x), yn = is_nan(f, y);

  // Rounding to integral values: NaN quieted, zeros and infinities kept.
  for (const char* name : {"ceil", "floor", "trunc", "round", "rint", "nearbyint"}) {
    if (fam != name) continue;
    if (xn) return {quiet(f, x)};
    set(a.v, f, x);
    if (fam == "ceil") mpfr_ceil(b.v, a.v);
    else if (fam == "floor") mpfr_floor(b.v, a.v);
    else if (fam == "trunc") mpfr_trunc(b.v, a.v);
    else if (fam == "round") mpfr_round(b.v, a.v);
    else mpfr_rint(b.v, a.v, r);
    uint64_t res = to_bits(f, b.v, MPFR_RNDN);
    if (is_zero(f, res)) res = x & f.sign;  // a zero result keeps the argument's sign
    return {res};
  }
  if (fam == "ilogb" || fam == "logb" || fam == "frexp") {
    int e = 0;
    bool fin = !is_zero(f, x) && field(f, x) != f.maxe;
    if (fin) {
      set(a.v, f, x);
      e = int(mpfr_get_exp(a.v));  // x = m 2^e, 0.5 <= |m| < 1
    }
    if (fam == "ilogb") return {uint64_t(uint32_t(fin ? e - 1 : is_zero(f, x) ? INT_MIN : INT_MAX))};
    if (fam == "logb") {
      if (xn || is_inf(f, x)) return {(xn ? quiet(f, x) : x) & ~f.sign};
      if (is_zero(f, x)) return {f.sign | (uint64_t(f.maxe) << f.shift)};
      mpfr_set_si(b.v, e - 1, MPFR_RNDN);
      return {to_bits(f, b.v, MPFR_RNDN)};
    }
    if (!fin) return {xn ? quiet(f, x) : x, 0};
    mpfr_mul_2si(b.v, a.v, -e, MPFR_RNDN);
    return {to_bits(f, b.v, MPFR_RNDN), uint64_t(uint32_t(e))};
  }
  if (fam == "ldexp") {
    if (xn) return {quiet(f, x)};
    if (is_zero(f, x) || is_inf(f, x)) return {x};
    set(a.v, f, x);
    mpfr_mul_2si(b.v, a.v, int32_t(uint32_t(y)), MPFR_RNDN);
    return {to_bits(f, b.v, r)};
  }
  if (fam == "modf") {
    if (xn) return {quiet(f, x), quiet(f, x)};
    if (is_inf(f, x)) return {x & f.sign, x};
    set(a.v, f, x);
    mpfr_trunc(b.v, a.v);
    uint64_t ip = to_bits(f, b.v, MPFR_RNDN);
    if (is_zero(f, ip)) ip = x & f.sign;
    mpfr_sub(a.v, a.v, b.v, MPFR_RNDN);
    return {(to_bits(f, a.v, MPFR_RNDN) & ~f.sign) | (x & f.sign), ip};
  }
  if (fam == "fract") {
    if (xn || is_zero(f, x)) return {x, x};
    if (is_inf(f, x)) return {x & f.sign, x};
    set(a.v, f, x);
    mpfr_floor(b.v, a.v);
    uint64_t fl = to_bits(f, b.v, MPFR_RNDN);
    if (is_zero(f, fl)) fl = x & f.sign;
    mpfr_sub(a.v, a.v, b.v, MPFR_RNDN);
    uint64_t fr = to_bits(f, a.v, MPFR_RNDN) & ~f.sign;
    uint64_t below1 = (uint64_t(f.bias) << f.shift) - 1;
    return {fr > below1 ? below1 : fr, fl};
  }
  if (fam == "nextafter") {
    if (xn) return {quiet(f, x)};
    if (yn) return {quiet(f, y)};
    if (cmp_num(f, x, y) == 0) return {y};
    // Patterns in numeric order, -0 and +0 both at 0.
    auto ord = [&](uint64_t v) { int64_t m = int64_t(v & ~f.sign); return (v & f.sign) ? -m : m; };
    int64_t o = ord(x) + (cmp_num(f, x, y) < 0 ? 1 : -1);
    if (o == 0) return {x & f.sign};  // from the smallest subnormal down to a zero of x's sign
    return {o < 0 ? (f.sign | uint64_t(-o)) : uint64_t(o)};
  }
  // fmax, fmin, maxmag, minmag, fdim.
  if (fam == "fdim") {
    if (yn) return {quiet(f, y)};
    if (xn) return {quiet(f, x)};
    if (cmp_num(f, x, y) <= 0) return {0};
    set(a.v, f, x);
    set(b.v, f, y);
    mpfr_sub(a.v, a.v, b.v, MPFR_RNDN);
    return {to_bits(f, a.v, r)};
  }
  if (xn) return {yn ? quiet(f, y) : y};
  if (yn) return {x};
  int c = cmp_num(f, x, y), m = cmp_abs(f, x, y);
  if (fam == "fmax") return {c > 0 ? x : y};
  if (fam == "fmin") return {c < 0 ? x : y};
  if (fam == "maxmag") return {m > 0 ? x : m < 0 ? y : (c < 0 ? y : x)};
  if (fam == "minmag") return {m < 0 ? x : m > 0 ? y : (c > 0 ? y : x)};
  ADD_FAILURE() << "no reference for " << fam;
  return {};
}

// ---- operands ---------------------------------------------------------------------
std::vector<uint64_t> specials(const Fmt& f) {
  uint64_t one = uint64_t(f.bias) << f.shift, inf = uint64_t(f.maxe) << f.shift;
  std::vector<uint64_t> v = {0, 1, f.mant, f.mant + 1, inf - 1, inf, inf | f.quiet, inf | f.quiet | 0x1234,
                             inf | 1, inf | 0x2A5, one, one - 1, one + 1,
                             (uint64_t(f.bias - 1) << f.shift),                        // 0.5
                             (uint64_t(f.bias - 1) << f.shift) - 1,                    // just below 0.5
                             (uint64_t(f.bias) << f.shift) | (uint64_t(1) << (f.shift - 1)),      // 1.5
                             (uint64_t(f.bias + 1) << f.shift) | (uint64_t(1) << (f.shift - 2)),  // 2.5
                             (uint64_t(f.bias + f.p - 2) << f.shift) | f.mant,         // 2^(p-1) - 0.5
                             (uint64_t(f.bias + f.p - 1) << f.shift),                  // 2^(p-1)
                             (uint64_t(f.bias - f.p - 10) << f.shift)};                // tiny
  size_t n = v.size();
  for (size_t i = 0; i < n; ++i) v.push_back(v[i] | f.sign);
  return v;
}

uint64_t random_float(const Fmt& f, qarn::test::Rng& s) {
  uint64_t r = rnd(s);
  uint64_t e = rnd(s) % (f.maxe + 1);
  uint64_t m = rnd(s) & f.mant;
  switch (r % 8) {
    case 0: m &= ~((uint64_t(1) << (rnd(s) % (f.shift + 1))) - 1); break;  // few low bits
    case 1: e = f.bias + rnd(s) % (f.p + 2); break;                        // around integers
    case 2: e = f.bias - 3 + rnd(s) % 6; break;
    default: break;
  }
  return ((r >> 8) & 1 ? f.sign : 0) | (e << f.shift) | m;
}

// Operand sets (one vector of inputs per case) for a family.
std::vector<std::vector<uint64_t>> cases(const std::string& fam, const Fmt& f, uint64_t seed, int n) {
  qarn::test::Rng s(seed);
  std::vector<std::vector<uint64_t>> out;
  auto sp = specials(f);
  std::string kind = reg::find(fam + "1")->kind;
  bool two = kind.rfind("ff:", 0) == 0;
  if (fam == "nan") {
    for (int i = 0; i < n; ++i) out.push_back({rnd(s) >> (rnd(s) % 64) & f.all});
    return out;
  }
  if (fam == "ldexp") {
    const int64_t ks[] = {0, 1, -1, 1024, -1074, -1075, -150, -149, 65536, -65536, 65537, -65537, INT_MAX, INT_MIN};
    for (uint64_t x : sp)
      for (int64_t k : ks) out.push_back({x, uint64_t(uint32_t(int32_t(k)))});
    for (int i = 0; i < n; ++i) {
      uint64_t x = random_float(f, s);
      int e = field(f, x);
      int64_t k;
      switch (rnd(s) % 4) {
        case 0: k = int64_t(rnd(s) % 600) - 300; break;
        case 1: k = 1 - e - int64_t(rnd(s) % (f.p + 4)); break;  // subnormal results
        case 2: k = f.maxe - e - 2 + int64_t(rnd(s) % 4); break;  // near overflow
        default: k = int32_t(uint32_t(rnd(s))) >> (rnd(s) % 31); break;
      }
      out.push_back({x, uint64_t(uint32_t(int32_t(k)))});
    }
    return out;
  }
  if (!two) {
    for (uint64_t x : sp) out.push_back({x});
    for (int i = 0; i < n; ++i) out.push_back({random_float(f, s)});
    return out;
  }
  for (uint64_t x : sp)
    for (uint64_t y : sp) out.push_back({x, y});
  for (int i = 0; i < n; ++i) {
    uint64_t x = random_float(f, s), y;
    switch (rnd(s) % 4) {
      case 0: y = x ^ f.sign; break;
      case 1: y = x + (rnd(s) % 3) - 1; break;
      default: y = random_float(f, s); break;
    }
    out.push_back({x, y & f.all});
  }
  return out;
}

// ---- the sweep ----------------------------------------------------------------------
void sweep(const std::string& fam, char prec, int n_random) {
  const Fmt& f = fmt(prec);
  auto cs = cases(fam, f, 0x5EED0000 + fam.size() * 131 + prec, n_random);
  int calls = 0, failures = 0;
  for (int w : {1, 2, 3, 4, 8, 16}) {
    std::string name = fam + (prec == 'f' ? "f" : "") + std::to_string(w);
    const reg::Export* e = reg::find(name);
    ASSERT_TRUE(e && e->present) << name;
    qa::Shape sh = qa::shape_of(*e);
    for (size_t c0 = 0; c0 < cs.size(); c0 += w, ++calls) {
      std::vector<Lanes> args(sh.args.size(), Lanes(sh.lanes));
      for (size_t a = 0; a < args.size(); ++a)
        for (int i = 0; i < sh.lanes; ++i) {
          if (i < w) args[a][i] = cs[(c0 + i) % cs.size()][a];
          else args[a][i] = sh.args[a] == 'f' ? (uint64_t(f.maxe) << f.shift) | 1 : 0x80000000u;  // garbage
        }
      qa::Outcome o = invoker().call(*e, args, 1000 + calls, calls % 5 * 3);
      ASSERT_EQ(o.after.mxcsr & ~0x3Fu, o.before.mxcsr & ~0x3Fu) << name;
      ASSERT_TRUE(o.guards_intact && o.caller_area_intact && o.rsp_balanced) << name;
      if (e->by_ref) {
        ASSERT_EQ(o.returned, o.buffer) << name;
      }
      for (int i = 0; i < w; ++i) {
        std::vector<uint64_t> in;
        for (auto& l : args) in.push_back(l[i]);
        Outs want = ref(fam, f, in, 0);
        for (size_t r = 0; r < want.size(); ++r) {
          uint64_t mask = (r == 0 && sh.results[0] == 'i') || (r == 1 && sh.ptrs[0] == 'i') ? 0xFFFFFFFFu : f.all;
          uint64_t got = o.results[r][i] & mask;
          if (got != (want[r] & mask) && ++failures <= 8)
            ADD_FAILURE() << name << " lane " << i << " result " << r << std::hex << " in " << in[0] << " "
                          << (in.size() > 1 ? in[1] : 0) << ": got " << got << " want " << want[r];
        }
      }
      // A second result through the pointer covers the whole storage: lane 3 of
      // width 3 holds the value at the filler.
      if (w == 3 && !sh.ptrs.empty()) {
        uint64_t fill = (uint64_t(f.bias - 1) << f.shift) | (uint64_t(1) << (f.shift - 1));  // 0.75
        Outs want = ref(fam, f, {fill}, 0);
        uint64_t mask = sh.ptrs[0] == 'i' ? 0xFFFFFFFFu : f.all;
        if ((o.results[1][3] & mask) != want[1] && ++failures <= 8)
          ADD_FAILURE() << name << ": lane 3 of the stored vector is not the value at the filler";
      }
    }
  }
  EXPECT_EQ(failures, 0) << fam << (prec == 'f' ? "f" : "") << " over " << calls << " calls";
  EXPECT_GT(calls, n_random) << fam;
}

class Fpmanip : public ::testing::TestWithParam<const char*> {};

TEST_P(Fpmanip, FloatLanesExact) { sweep(GetParam(), 'f', 3000); }
TEST_P(Fpmanip, DoubleLanesExact) { sweep(GetParam(), 'd', 3000); }

INSTANTIATE_TEST_SUITE_P(All, Fpmanip,
                         ::testing::Values("ceil", "floor", "trunc", "round", "rint", "nearbyint", "fabs",
                                           "copysign", "nan", "ilogb", "logb", "frexp", "ldexp", "modf",
                                           "fract", "nextafter", "fmax", "fmin", "maxmag", "minmag", "fdim"),
                         [](const auto& i) { return std::string(i.param); });

// ---- the caller's MXCSR -------------------------------------------------------------
// Widths 1 and 4 of the register-form exports with floating arguments (and the k of
// ldexp), called with MXCSR set to `csr`.
struct MxCall {
  Outs results;  // lane i of the first result
  uint32_t mxcsr_after;
};
MxCall call_mx(const std::string& name, uint32_t csr, const std::vector<std::vector<uint64_t>>& lanes) {
  const reg::Export* e = reg::find(name);
  qa::Shape sh = qa::shape_of(*e);
  static qa::Stack stack;
  qa::RegBlock in = qa::random_block(7), out{};
  in.mxcsr = csr;
  int w = e->width, vr = 0;
  for (size_t a = 0; a < sh.args.size(); ++a) {
    int lb = sh.lane_bytes(sh.args[a]);
    if (w == 1 && sh.args[a] == 'i') {
      in.gpr[qa::RCX] = lanes[0][a];
      continue;
    }
    for (int i = 0; i < w; ++i) std::memcpy(in.ymm[vr] + i * lb, &lanes[i][a], lb);
    ++vr;
  }
  stack.call(invoker().address(*e), in, out);
  MxCall r{{}, out.mxcsr};
  int lb = sh.lane_bytes(sh.results[0]);
  for (int i = 0; i < w; ++i) {
    uint64_t v = 0;
    if (w == 1 && sh.results[0] == 'i') v = uint32_t(out.gpr[qa::RAX]);
    else std::memcpy(&v, out.ymm[0] + i * lb, lb);
    r.results.push_back(v);
  }
  return r;
}

// Under each rounding mode: rint, nearbyint, fdim and ldexp (subnormal and
// overflowing results) round in the caller's mode; the others ignore it; no call
// changes MXCSR's controls.
TEST(FpmanipModes, FollowTheCallerOnlyWhereDefined) {
  const struct { const char* fam; bool follows; } fams[] = {
      {"rint", true},  {"nearbyint", true}, {"ldexp", true},  {"fdim", true},      {"ceil", false},
      {"floor", false}, {"trunc", false},   {"round", false}, {"logb", false},     {"ilogb", false},
      {"fmax", false}, {"maxmag", false},   {"nextafter", false}};
  for (const auto& fm : fams)
    for (char prec : {'f', 'd'}) {
      const Fmt& f = fmt(prec);
      auto cs = cases(fm.fam, f, 77, 600);
      for (int mode = 0; mode < 4; ++mode) {
        uint32_t csr = 0x1F80u | uint32_t(mode) << 13;
        int failures = 0;
        for (int w : {1, 4}) {
          std::string name = std::string(fm.fam) + (prec == 'f' ? "f" : "") + std::to_string(w);
          for (size_t c0 = 0; c0 + w <= cs.size(); c0 += w) {
            std::vector<std::vector<uint64_t>> lanes(cs.begin() + c0, cs.begin() + c0 + w);
            MxCall r = call_mx(name, csr, lanes);
            ASSERT_EQ(r.mxcsr_after & ~0x3Fu, csr) << name;
            for (int i = 0; i < w; ++i) {
              uint64_t want = ref(fm.fam, f, lanes[i], fm.follows ? mode : 0)[0];
              uint64_t mask = std::string(fm.fam) == "ilogb" ? 0xFFFFFFFFu : f.all;
              if ((r.results[i] & mask) != (want & mask) && ++failures <= 4)
                ADD_FAILURE() << name << " mode " << mode << std::hex << " in " << lanes[i][0] << " "
                              << (lanes[i].size() > 1 ? lanes[i][1] : 0) << ": got " << r.results[i]
                              << " want " << want;
            }
          }
        }
      }
    }
}

// nearbyint leaves the inexact flag as it was; rint of a non-integer raises it.
TEST(FpmanipModes, NearbyintNeverRaisesInexact) {
  for (char prec : {'f', 'd'}) {
    const Fmt& f = fmt(prec);
    uint64_t x = (uint64_t(f.bias + 1) << f.shift) | (uint64_t(1) << (f.shift - 2));  // 2.5
    for (int w : {1, 4})
      for (int mode = 0; mode < 4; ++mode) {
        uint32_t csr = 0x1F80u | uint32_t(mode) << 13;
        std::string sfx = (prec == 'f' ? "f" : "") + std::to_string(w);
        std::vector<std::vector<uint64_t>> lanes(w, {x});
        EXPECT_EQ(call_mx("nearbyint" + sfx, csr, lanes).mxcsr_after, csr) << sfx;
        EXPECT_EQ(call_mx("rint" + sfx, csr, lanes).mxcsr_after, csr | 0x20u) << sfx;
      }
  }
}

// A few values worth stating outright (they also check the references above).
TEST(FpmanipEdges, StatedValues) {
  auto d = [](double v) { return qa::bits_of(v); };
  auto call1 = [](const char* fn, std::vector<uint64_t> args) {
    const reg::Export* e = reg::find(fn);
    std::vector<Lanes> a;
    for (uint64_t v : args) a.push_back({v});
    return invoker().call(*e, a, 3).results;
  };
  EXPECT_EQ(call1("round1", {d(-2.5)})[0][0], d(-3.0));
  EXPECT_EQ(call1("round1", {d(0.49999999999999994)})[0][0], d(0.0));
  EXPECT_EQ(call1("round1", {d(4503599627370495.5)})[0][0], d(4503599627370496.0));
  EXPECT_EQ(call1("ceil1", {d(-0.5)})[0][0], d(-0.0));
  EXPECT_EQ(call1("ldexp1", {d(1.0), uint32_t(-1075)})[0][0], d(0.0));
  EXPECT_EQ(call1("ldexp1", {d(1.5), uint32_t(-1075)})[0][0], d(0x1p-1074));
  EXPECT_EQ(call1("ldexp1", {d(1.0), 2147483647u})[0][0], d(INFINITY));
  EXPECT_EQ(call1("ldexpf1", {qa::bits_of(1.5f), uint32_t(-150)})[0][0], qa::bits_of(0x1p-149f));
  EXPECT_EQ(call1("ilogb1", {d(0.0)})[0][0], 0x80000000u);
  EXPECT_EQ(call1("ilogbf1", {qa::bits_of(0x1p-149f)})[0][0], uint32_t(-149));
  EXPECT_EQ(call1("logb1", {d(-0.0)})[0][0], d(-INFINITY));
  auto fr = call1("fract1", {d(-1e-20)});
  EXPECT_EQ(fr[0][0], d(0.99999999999999989));
  EXPECT_EQ(fr[1][0], d(-1.0));
  auto mf = call1("modf1", {d(-3.0)});
  EXPECT_EQ(mf[0][0], d(-0.0));
  EXPECT_EQ(mf[1][0], d(-3.0));
  auto fx = call1("frexp1", {d(0x1p-1074)});
  EXPECT_EQ(fx[0][0], d(0.5));
  EXPECT_EQ(fx[1][0], uint32_t(-1073));
  EXPECT_EQ(call1("nextafter1", {d(0.0), d(-1.0)})[0][0], d(-0x1p-1074));
  EXPECT_EQ(call1("nextafter1", {d(0.0), d(-0.0)})[0][0], d(-0.0));
  EXPECT_EQ(call1("nextafter1", {d(1.7976931348623157e308), d(INFINITY)})[0][0], d(INFINITY));
  EXPECT_EQ(call1("nanf1", {0x80000001u})[0][0], 0xFFC00001u);
  EXPECT_EQ(call1("fmax1", {d(0.0), d(-0.0)})[0][0], d(-0.0));
  EXPECT_EQ(call1("maxmag1", {d(-2.0), d(2.0)})[0][0], d(2.0));
  EXPECT_EQ(call1("minmag1", {d(-2.0), d(2.0)})[0][0], d(-2.0));
  EXPECT_EQ(call1("fdim1", {d(INFINITY), d(INFINITY)})[0][0], d(0.0));
}

}  // namespace
