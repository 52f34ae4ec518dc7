// Every present export's lanes against the fingerprints in tests/golden/lane_hashes.txt.
// A failure means some bit of some lane changed: if the change is intended, write
// the new fingerprints with `qarn hash > tests/golden/lane_hashes.txt` and say why
// in the commit.  All widths of a variant share one fingerprint, so this also
// holds every width to width 1.  Families whose lanes depend on the processor's
// reciprocal estimates are left out: their bits legitimately differ between makers.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "support/lanehash.h"

namespace qa = qarn::abi;

namespace {

const std::map<std::string, uint64_t>& golden() {
  static std::map<std::string, uint64_t> m = [] {
    std::map<std::string, uint64_t> r;
    std::ifstream f(QARN_GOLDEN_HASHES);
    std::string stem, variant, hex;
    while (f >> stem >> variant >> hex) r[stem + " " + variant] = std::stoull(hex, nullptr, 16);
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

class LaneHash : public testing::TestWithParam<const qarn::reg::Export*> {};

TEST_P(LaneHash, MatchesGolden) {
  static qa::Invoker inv(qa::library_path());
  const auto& e = *GetParam();
  if (e.estimate) GTEST_SKIP() << "lanes depend on this processor's reciprocal estimate";
  auto it = golden().find(qa::hash_key(e));
  ASSERT_NE(it, golden().end()) << "no fingerprint for " << qa::hash_key(e)
                                << ": run `qarn hash > tests/golden/lane_hashes.txt`";
  EXPECT_EQ(qa::lane_hash(inv, e), it->second) << e.name << " lanes changed";
}

std::string param_name(const testing::TestParamInfo<const qarn::reg::Export*>& p) {
  return qarn::reg::short_name(*p.param);
}
INSTANTIATE_TEST_SUITE_P(Registry, LaneHash, testing::ValuesIn(present()), param_name);

}  // namespace
