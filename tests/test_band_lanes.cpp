// Tiny bands among other lanes: a register that mixes a family's tiny band with
// ordinary lanes (and with special ones) is finished in one pass of the main path
// that calms only the band's lanes, a register of the band alone by the closed
// form, and width 1 by the closed form or the main path, lane by lane.  All of them
// must give each lane the bits that lane gets alone: every lane of every register
// is compared with width 1, both results of sincos, in the four rounding modes,
// with and without subnormal results flushed (the closed forms run there too).
// The operands sit on the band's edges, inside it, on the edge where acos drops
// its core, and next to ordinary lanes of both signs, NaN, infinities and the
// large or out-of-domain operands the fallbacks take.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/invoke.h"
#include "support/rng.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

struct Family {
  const char* stem;                // short name before the width
  std::vector<const char*> variants;
  int args;                        // 1, or 2 (y, x)
  uint32_t lo, hi;                 // the widest band of the variants: lo <= |x| < hi (one operand)
  std::vector<float> company;      // ordinary and special neighbours
};

float f_of(uint32_t b) { float f; std::memcpy(&f, &b, 4); return f; }

// Band operands: both edges of every variant's band, a few ulps around, and
// log-uniform values inside; both signs.
std::vector<uint32_t> band_operands(const Family& f, qarn::test::Rng& r) {
  std::vector<uint32_t> v = {0x00800000u, 0x00800001u, 0x008003C2u, 0x008003C3u, 0x008003C4u, 0x0080075Eu,
                             0x217FFFFFu, 0x21800000u, 0x21800001u, 0x357FFFFFu, 0x35800000u, 0x35FFFFFFu,
                             0x36000000u, 0x37FFFFFFu, 0x38000000u};
  for (int i = 0; i < 24; ++i) {
    double e = std::log2(double(f_of(f.lo))) + r.unit() * (std::log2(double(f_of(f.hi))) - std::log2(double(f_of(f.lo))));
    float x = float(std::exp2(e));
    uint32_t b;
    std::memcpy(&b, &x, 4);
    v.push_back(b);
  }
  size_t n = v.size();
  for (size_t i = 0; i < n; ++i) v.push_back(v[i] | 0x80000000u);
  return v;
}

uint32_t bits(float f) { uint32_t b; std::memcpy(&b, &f, 4); return b; }

TEST(BandLanes, MixedRegistersGiveEveryLaneItsOwnBits) {
  const float nan = NAN, inf = INFINITY;
  const std::vector<Family> families = {
      {"sincosf", {"", "_native", "_rm"}, 1, 0x00800000u, 0x35800000u, {0.3f, -1.7f, 2e-3f, -5e-4f, 40.0f, 2e5f, -inf, nan}},
      {"sincosregf", {"", "_native"}, 1, 0x00800000u, 0x35800000u, {0.3f, -1.7f, 2e-3f, 1e-4f, -3e7f, nan}},
      {"asinf", {"", "_native"}, 1, 0x00800000u, 0x38000000u, {0.3f, -0.7f, 0.55f, 2e-3f, -1e-4f, 1.5f, nan}},
      {"acosf", {"", "_native"}, 1, 0x00800000u, 0x38000000u, {0.3f, -0.7f, -0.55f, 2e-3f, 1e-4f, -2.0f, nan}},
      {"asinpif", {"", "_native"}, 1, 0x00800000u, 0x38000000u, {0.3f, -0.7f, 0.55f, 2e-3f, -1e-4f, 1.0f, -1.5f, nan}},
      {"acospif", {"", "_native"}, 1, 0x00800000u, 0x38000000u, {0.3f, -0.7f, -0.55f, 2e-3f, 1e-4f, -1.0f, 2.0f, nan}},
      {"atan2f", {"", "_native"}, 2, 0x00800000u, 0x38000000u, {0.3f, -1.7f, 80.0f, -3e3f, 1e-3f, 0.0f, -inf, nan}},
      {"atan2pif", {"", "_native"}, 2, 0x00800000u, 0x38000000u, {0.3f, -1.7f, 80.0f, -3e3f, 1e-3f, -0.0f, inf, nan}},
      // These zero the square of every lane below the band's top, so their
      // neighbours include what lies below the band (subnormal, zero) and lanes
      // whose reduced argument is tiny although x is not (next to pi, pi/2, and
      // atan's 1/x beyond 2^16).
      {"sinf", {"", "_native", "_half", "_rm"}, 1, 0x00800000u, 0x35800000u,
       {0.3f, -1.7f, 3.14159274f, -1e-40f, 0.0f, 2e5f, -3e30f, nan}},
      {"tanf", {"", "_native", "_half", "_rm"}, 1, 0x00800000u, 0x30800000u,
       {0.3f, -1.2f, 1.57079637f, 1e-40f, -0.0f, -3.14159274f, 1e4f, inf, nan}},
      {"sinpif", {"", "_native"}, 1, 0x00800000u, 0x30800000u, {0.3f, -2.5f, 1.0000001f, -1e-40f, 0.0f, 1e6f, -inf, nan}},
      {"tanpif", {"", "_native"}, 1, 0x00800000u, 0x30800000u,
       {0.3f, -2.5f, 0.5f, 1.0000001f, -0.49999997f, -1e-40f, 0.0f, 3e6f, 5e9f, -inf, nan}},
      {"atanf", {"_native"}, 1, 0x0080075Eu, 0x37800000u, {0.3f, -1.7f, 7e4f, -3e10f, 1e-40f, -0.0f, inf, nan}},
      // pow (x, y): the band is a tiny y over an ordinary x, among lanes whose
      // huge or infinite y the main path does not finish.  powrf's default variant
      // hands its hot pass (results and special lanes) to the cold part, which
      // fills in only the band: a lane taken from the wrong pass shows here.
      {"powrf", {"", "_native", "_half"}, 2, 0x00800000u, 0x30000000u, {0.3f, 1.7f, 80.0f, 3e3f, 1e-3f, -2.0f, 1e30f, inf, nan}},
      {"powf", {"", "_native", "_rm"}, 2, 0x00800000u, 0x30000000u, {0.3f, 1.7f, 80.0f, 3e3f, -1e-3f, -2.0f, -1e30f, -inf, nan}},
  };
  qarn::test::Rng r(97);
  for (const Family& fam : families) {
    const std::vector<uint32_t> band = band_operands(fam, r);
    for (const char* v : fam.variants) {
      const Export* one = qarn::reg::find(std::string("__ocl_qarn_e9_") + fam.stem + "1" + v);
      ASSERT_TRUE(one && one->present) << fam.stem << "1" << v;
      for (uint32_t csr : {0x1F80u, 0x9F80u})
        for (int mode = 0; mode < 4; ++mode) {
          self().set_rounding(mode);
          // Width 1 on (y, x): the lane alone.
          std::map<std::pair<uint32_t, uint32_t>, std::vector<uint64_t>> alone;
          auto want = [&](uint32_t y, uint32_t x) -> const std::vector<uint64_t>& {
            auto key = std::make_pair(y, x);
            auto it = alone.find(key);
            if (it != alone.end()) return it->second;
            std::vector<qa::Lanes> args = {qa::Lanes(1, y)};
            if (fam.args == 2) args.push_back(qa::Lanes(1, x));
            qa::Outcome o = self().call(*one, args, 5, 0, csr);
            std::vector<uint64_t> res;
            for (const qa::Lanes& l : o.results) res.push_back(l[0]);
            return alone[key] = res;
          };
          for (int w : {3, 4, 8, 16}) {
            const Export* e = qarn::reg::find(std::string("__ocl_qarn_e9_") + fam.stem + std::to_string(w) + v);
            if (!e || !e->present) continue;
            const int lanes = qa::shape_of(*e).lanes;
            for (size_t b = 0; b < band.size(); ++b)
              // company 0: the band alone; 1: every other lane ordinary; 2: one band
              // lane among ordinary and special ones.
              for (int company = 0; company < 3; ++company) {
                std::vector<uint32_t> y(lanes), x(lanes);
                for (int i = 0; i < lanes; ++i) {
                  const uint32_t mate = bits(fam.company[(b + i) % fam.company.size()]);
                  const bool in_band = company == 0 || (company == 1 && i % 2 == int(b % 2)) || (company == 2 && i == int(b % w));
                  // Two operands: a band lane is a tiny y over an ordinary x, or
                  // (every other band operand) an ordinary y over a tiny x.
                  const uint32_t big = bits(fam.company[(b + 2 * i) % 4]);
                  if (fam.args == 1) {
                    y[i] = in_band ? band[(b + i) % band.size()] : mate;
                  } else if (in_band) {
                    uint32_t t = band[(b + i) % band.size()];
                    y[i] = b % 2 ? big : t;
                    x[i] = b % 2 ? t : big;
                  } else {
                    y[i] = mate;
                    x[i] = bits(fam.company[(b + 3 * i + 1) % fam.company.size()]);
                  }
                }
                std::vector<qa::Lanes> args = {qa::Lanes(y.begin(), y.end())};
                if (fam.args == 2) args.push_back(qa::Lanes(x.begin(), x.end()));
                qa::Outcome o = self().call(*e, args, 9, 0, csr);
                for (int i = 0; i < w; ++i) {
                  const std::vector<uint64_t>& ref = want(y[i], x[i]);
                  ASSERT_EQ(o.results.size(), ref.size());
                  for (size_t k = 0; k < ref.size(); ++k)
                    EXPECT_EQ(o.results[k][i], ref[k])
                        << e->name << " result " << k << " lane " << i << std::hex << " y " << y[i] << " x " << x[i]
                        << " company " << company << ", " << qa::kModeNames[mode] << ", mxcsr " << csr;
                }
              }
          }
        }
      self().set_rounding(0);
    }
  }
}

}  // namespace

namespace {

// Width 3: lane 3 of the result is the function at the filler, whatever the other
// three lanes hold.  A register whose three lanes are all in a tiny band takes the
// closed form for them and, after the first such call, that lane from memory: it
// must be the main path's value at the filler there too, under every environment
// that counts as ordinary (flushing and zeroing of subnormals on or off, in both
// orders, first and later calls).  Every width-3 export with floating operands
// only, each operand tiny in turn (both signs, zeros too).
TEST(BandLanes, WidthThreeFillerLaneIgnoresTheOtherLanes) {
  int exports = 0;
  for (const Export& e : qarn::reg::all()) {
    if (e.width != 3 || !e.present || (e.prec != 'f' && e.prec != 'd')) continue;
    const std::string kind(e.kind);
    const std::string in = kind.substr(0, kind.find(':'));
    if (in.empty() || in.find_first_not_of('f') != std::string::npos) continue;
    const bool dbl = e.prec == 'd';
    const uint64_t ordinary = dbl ? 0x3FE0000000000000ull : 0x3F000000u;  // 0.5
    const std::vector<uint64_t> tiny = dbl ? std::vector<uint64_t>{0x0020000000000000ull, 0x8170000000000000ull, 0x2B00000000000000ull, 0}
                                           : std::vector<uint64_t>{0x01000000u, 0x8D800000u, 0x2A000000u, 0};
    ++exports;
    for (uint32_t csr : {0x9FC0u, 0x1F80u, 0x9F80u, 0x1FC0u}) {
      const size_t n = qa::shape_of(e).lanes;
      std::vector<qa::Lanes> plain(in.size(), qa::Lanes(n, ordinary));
      const qa::Outcome ref = self().call(e, plain, 3, 0, csr);
      for (size_t a = 0; a < in.size(); ++a)
        for (uint64_t t : tiny)
          for (int again = 0; again < 2; ++again) {
            std::vector<qa::Lanes> args = plain;
            args[a] = qa::Lanes(n, t);
            const qa::Outcome o = self().call(e, args, 5, 0, csr);
            ASSERT_EQ(o.results.size(), ref.results.size()) << e.name;
            for (size_t k = 0; k < o.results.size(); ++k)
              EXPECT_EQ(o.results[k][3], ref.results[k][3])
                  << e.name << " result " << k << " lane 3, operand " << a << " tiny " << std::hex << t << ", mxcsr " << csr
                  << (again ? ", again" : "");
          }
    }
  }
  EXPECT_GT(exports, 250);
}

}  // namespace
