// Every present export's lanes against the fingerprints in tests/golden/lane_hashes.txt.
// A failure means some bit of some lane changed: if the change is intended, write
// the new fingerprints with `qarn hash > tests/golden/lane_hashes.txt` and say why
// in the commit.  All widths of a variant share one fingerprint, so this also
// holds every width to width 1.  Families whose lanes depend on the processor's
// reciprocal estimates are left out: their bits legitimately differ between makers,
// unless QARN_HOST_HASHES names fingerprints taken on this machine (`qarn hash --all`
// of another build of the library, as the Windows build's test is given the Linux
// build's): then every family is held to them.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "support/lanehash.h"

namespace qa = qarn::abi;

namespace {

std::map<std::string, uint64_t> read_hashes(const char* path) {
  std::map<std::string, uint64_t> r;
  std::ifstream f(path);
  std::string stem, variant, hex;
  while (f >> stem >> variant >> hex) r[stem + " " + variant] = std::stoull(hex, nullptr, 16);
  return r;
}
const std::map<std::string, uint64_t>& golden() {
  static std::map<std::string, uint64_t> m = read_hashes(QARN_GOLDEN_HASHES);
  return m;
}
const std::map<std::string, uint64_t>* host() {
  static std::map<std::string, uint64_t> m;
  const char* path = std::getenv("QARN_HOST_HASHES");
  if (!path) return nullptr;
  if (m.empty()) m = read_hashes(path);
  return &m;
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
  if (e.estimate && !host()) GTEST_SKIP() << "lanes depend on this processor's reciprocal estimate";
  const auto& want = e.estimate ? *host() : golden();
  auto it = want.find(qa::hash_key(e));
  ASSERT_NE(it, want.end()) << "no fingerprint for " << qa::hash_key(e)
                            << (e.estimate ? " among this machine's" : ": run `qarn hash > tests/golden/lane_hashes.txt`");
  EXPECT_EQ(qa::lane_hash(inv, e), it->second) << e.name << " lanes changed";
}

std::string param_name(const testing::TestParamInfo<const qarn::reg::Export*>& p) {
  return qarn::reg::short_name(*p.param);
}
INSTANTIATE_TEST_SUITE_P(Registry, LaneHash, testing::ValuesIn(present()), param_name);

}  // namespace
