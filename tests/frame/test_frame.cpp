// The frame on its own: a toy export of every calling form, width, precision and
// special-lane mode (tests/frame/forms.py makes them with the library's own
// generator; tests/frame/toys.h has the arithmetic), called through the
// register-level caller with garbage in every register.  Each lane must come back
// as the toy's formula predicts: from the main path, fixed inline, or marked by
// the lane fallback, which must run exactly for the special lanes that were not
// fixed (every lane, lane 3 of width 3 too, where there is no main path), once
// each, in increasing lane order, on 64-byte aligned spill arrays; the second
// result arrives whole through the pointer or in the next registers; and the
// registers, the stack and the memory around the buffers are as the calling
// convention promises.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/fallback_log.h"
#include "support/invoke.h"
#include "support/rng.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

const Export kToys[] = {
#include "forms.inc"
};

qa::Invoker& self() {
  static qa::Invoker inv(nullptr);
  return inv;
}

struct Lane { double x = 0, y = 0, z = 0; int32_t n = 0; };

uint64_t fbits(char prec, double v) { return prec == 'f' ? qa::bits_of(float(v)) : qa::bits_of(v); }
double fval(char prec, uint64_t b) { return prec == 'f' ? qa::as_float(b) : qa::as_double(b); }

class Frame : public testing::TestWithParam<const Export*> {};

TEST_P(Frame, EveryLaneWhereTheToySaysAndTheConventionKept) {
  const Export& e = *GetParam();
  qa::Shape sh = qa::shape_of(e);
  std::string kind = e.kind;
  bool all = std::strcmp(e.lanes, "all") == 0, none = std::strcmp(e.lanes, "none") == 0;
  qarn::test::Rng r(std::strlen(e.name) * 7919 + e.width);
  for (int trial = 0; trial < 12; ++trial) {
    // Operands: small integers, a third of x negative (special), some exactly -1 (fixed inline).
    std::vector<Lane> in(sh.lanes);
    std::vector<qa::Lanes> args(sh.args.size(), qa::Lanes(sh.lanes));
    for (int i = 0; i < sh.lanes; ++i) {
      Lane& l = in[i];
      l.x = double(int(r.below(11)) - 4) + (trial % 3 == 0 ? 0.5 : 0.0);
      l.y = double(int(r.below(9)) - 4);
      l.z = double(int(r.below(9)) - 4);
      l.n = int32_t(r.below(11)) - 5;
      double f[3] = {l.x, l.y, l.z};
      int nf = 0;
      for (size_t a = 0; a < sh.args.size(); ++a) {
        char k = sh.args[a];
        if (k == 'f') args[a][i] = fbits(e.prec, f[nf++]);
        else if (k == 'i') args[a][i] = uint32_t(l.n);
        else args[a][i] = r.next() & (e.prec == 'f' ? 0xFFFFFFFFull : ~0ull);  // nan's code
      }
    }
    // Width 3: lane 3 holds the filler inside the export.
    if (sh.width == 3) in[3] = {kind == "fi:f" ? 1.0 : 0.75, 0.75, 0.75, 1};
    qa::fallback_calls().clear();
    qa::Outcome o = self().call(e, args, r.next(), trial & 3);

    std::vector<int> want;
    int live = all && sh.width == 3 ? 4 : sh.width;
    for (int i = 0; i < live; ++i) {
      const Lane& l = in[i];
      bool to_fb = all || (!none && l.x < 0 && l.x != -1);
      bool fixed = !all && !none && l.x == -1 && kind != "f:i";
      if (to_fb || (kind == "f:i" && !none && l.x < 0)) want.push_back(i);
      if (i >= sh.width) continue;
      double res = l.x * 2;
      if (kind == "ff:f" || kind == "ff:fpi") res += l.y * 3;
      if (kind == "fff:f") res = (l.x * 2 + l.y * 3) + l.z * 5;
      if (kind == "fi:f") res += l.n;
      bool fb_lane = want.size() && want.back() == i;
      if (kind == "c:f") {
        uint64_t sign = e.prec == 'f' ? 0x80000000ull : 0x8000000000000000ull;
        EXPECT_EQ(o.results[0][i], args[0][i] ^ sign) << e.name << " lane " << i;
        continue;
      }
      if (kind == "f:i") {
        int32_t want_i = int32_t(std::nearbyint(res)) + (fb_lane ? 100 : 0);
        EXPECT_EQ(int32_t(uint32_t(o.results[0][i])), want_i) << e.name << " lane " << i << " x " << l.x;
        continue;
      }
      double want_r = fixed ? 1000 : res + (fb_lane ? 0.5 : 0);
      EXPECT_EQ(fval(e.prec, o.results[0][i]), want_r) << e.name << " lane " << i << " x " << l.x;
      if (sh.results.size() + sh.ptrs.size() == 2) {
        const qa::Lanes& s = o.results[1];
        if (kind == "f:fpi" || kind == "ff:fpi") {
          int32_t want_s = int32_t(std::nearbyint(l.x + 7)) + (fb_lane ? 100 : 0);
          EXPECT_EQ(int32_t(uint32_t(s[i])), want_s) << e.name << " second, lane " << i;
        } else {
          EXPECT_EQ(fval(e.prec, s[i]), l.x - 1 + (fb_lane ? 0.25 : 0)) << e.name << " second, lane " << i;
        }
      }
    }
    // The lane loop: exactly the lanes above, in order, aligned arrays.
    ASSERT_EQ(qa::fallback_calls().size(), want.size()) << e.name << " trial " << trial;
    for (size_t c = 0; c < want.size(); ++c) {
      const qa::FallbackCall& fc = qa::fallback_calls()[c];
      int i = want[c];
      EXPECT_EQ(fc.fn, kind);
      EXPECT_EQ(fval(e.prec, fc.x), in[i].x) << e.name << ": lane " << i;
      for (size_t p = 0; p < fc.ptrs.size(); ++p)
        EXPECT_EQ((fc.ptrs[p] - uintptr_t(i) * fc.lane_bytes[p]) % 64, 0u) << e.name << " pointer " << p;
    }
    // The convention.
    int keep = e.by_ref ? 16 : 32;
    for (int v = 6; v < 16; ++v)
      EXPECT_EQ(0, std::memcmp(o.before.ymm[v], o.after.ymm[v], keep)) << e.name << ": ymm" << v;
    for (qa::Gpr g : {qa::RBX, qa::RBP, qa::RDI, qa::RSI, qa::R12, qa::R13, qa::R14, qa::R15})
      EXPECT_EQ(o.before.gpr[g], o.after.gpr[g]) << e.name << ": register " << int(g);
    EXPECT_EQ(o.before.mxcsr & ~0x3Fu, o.after.mxcsr & ~0x3Fu) << e.name << ": MXCSR control bits";
    EXPECT_TRUE(o.rsp_balanced && o.caller_area_intact && o.guards_intact) << e.name;
    if (e.by_ref) {
      EXPECT_EQ(o.returned, o.buffer) << e.name;
    }
  }
}

std::vector<const Export*> toys() {
  std::vector<const Export*> v;
  for (const Export& e : kToys) v.push_back(&e);
  return v;
}
std::string name_of(const testing::TestParamInfo<const Export*>& p) { return p.param->name + 9; }
INSTANTIATE_TEST_SUITE_P(Forms, Frame, testing::ValuesIn(toys()), name_of);

// Every form of the export table has a toy, and every toy form is in the table.
TEST(Frame, ServesEveryFormOfTheExportTable) {
  std::vector<std::string> table, served;
  for (const Export& e : qarn::reg::all())
    if (std::strchr(e.kind, 'f') && std::string(e.family).rfind("cvt", 0) != 0) table.push_back(e.kind);
  for (const Export& e : kToys) served.push_back(e.kind);
  for (const std::string& k : table)
    EXPECT_NE(std::find(served.begin(), served.end(), k), served.end()) << "no frame form for " << k;
}

}  // namespace
