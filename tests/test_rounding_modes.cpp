// Every present export of this build against the fingerprints of another build of
// the library (QARN_HOST_MODE_HASHES, written by `qarn hash --modes`), under each of
// the four rounding directions: MXCSR and the x87 control word set alike (fma's
// fallbacks round in the x87 direction, the others in MXCSR's).  The Windows DLL
// runs it under Wine against the Linux library's fingerprints: the two are compiled
// by different compilers from the same sources, and code that runs in the caller's
// rounding mode must not have been rewritten as if it were always to nearest.
// The operands are the fingerprints' (random ones of the export's interval, any
// bit pattern, zeros, subnormals, powers of two, infinities, NaNs with payloads).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "support/lanehash.h"

namespace qa = qarn::abi;

namespace {

const std::map<std::string, uint64_t>& host() {
  static std::map<std::string, uint64_t> m = [] {
    std::map<std::string, uint64_t> r;
    const char* path = std::getenv("QARN_HOST_MODE_HASHES");
    if (!path) return r;
    std::ifstream f(path);
    std::string name, mode, hex;
    while (f >> name >> mode >> hex) r[name + " " + mode] = std::stoull(hex, nullptr, 16);
    return r;
  }();
  return m;
}

std::vector<const qarn::reg::Export*> present() {
  std::vector<const qarn::reg::Export*> v;
  for (const auto& e : qarn::reg::all())
    if (e.present) v.push_back(&e);
  return v;
}

class RoundingModes : public testing::TestWithParam<const qarn::reg::Export*> {};

TEST_P(RoundingModes, SameLanesAsTheOtherBuild) {
  static qa::Invoker inv(qa::library_path());
  ASSERT_FALSE(host().empty()) << "QARN_HOST_MODE_HASHES names no fingerprints (qarn hash --modes)";
  const auto& e = *GetParam();
  std::string differ;
  for (int mode = 0; mode < 4; ++mode) {
    std::string key = std::string(qarn::reg::short_name(e)) + " " + qa::kModeNames[mode];
    auto it = host().find(key);
    ASSERT_NE(it, host().end()) << "no fingerprint for " << key;
    inv.set_rounding(mode);
    uint64_t h = qa::lane_hash(inv, e, qa::kModeOperands, true);
    inv.set_rounding(0);
    if (h != it->second) differ += std::string(differ.empty() ? "" : ", ") + qa::kModeNames[mode];
  }
  EXPECT_TRUE(differ.empty()) << e.name << ": lanes differ from the other build's, rounding " << differ;
}

std::string param_name(const testing::TestParamInfo<const qarn::reg::Export*>& p) {
  return qarn::reg::short_name(*p.param);
}
INSTANTIATE_TEST_SUITE_P(Registry, RoundingModes, testing::ValuesIn(present()), param_name);

}  // namespace
