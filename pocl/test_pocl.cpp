// PoCL on the library, one test per kernel, precision and width: the kernel built from
// source by PoCL and run on its CPU device gives the runner's bits on every live element,
// stays within the kernel's tolerance of the reference, and reaches the library for
// every built-in it calls (an undefined symbol of PoCL's kernel object, resolved by the
// binding), so a built-in PoCL kept for itself cannot pass for the library's.  Width 1
// twice more: the scalar calls the loop vectoriser is expected to widen call the vector
// entries (and no others do), and the prefix that widens nothing gives the same bits.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "session.h"

namespace {

struct Case {
  const qk::Kernel* kernel;
  qk::Config config;
};

// PoCL reads its environment once per process, so one flavour per process (ctest runs
// each test in a process of its own).
bool g_ours_started = false, g_scalar_started = false;

qp::Session& session() {
  static qp::Session s(qp::Flavour::ours, qp::Paths::built());
  g_ours_started = true;
  return s;
}

qp::Session& scalar_session() {
  static qp::Session s(qp::Flavour::ours_scalar, qp::Paths::built());
  g_scalar_started = true;
  return s;
}

// The runner's bits, the tolerance and the reach check for one run.
void expect_like_runner(qp::Session& s, const qk::Kernel& k, const qk::Config& c, qp::Reach* out = nullptr) {
  std::string why;
  qk::Buffers want = qp::runner_outputs(s.paths(), k, c, why);
  ASSERT_FALSE(want.bufs.empty()) << why;
  qp::Result r = s.run(k, c, true, 0);
  ASSERT_TRUE(r.ran) << r.why;

  std::vector<std::string> diff = qp::differences(c, r.out, want, 8);
  std::string all;
  for (auto& d : diff) all += "\n  " + d;
  EXPECT_TRUE(diff.empty()) << "PoCL and the runner differ:" << all;
  EXPECT_LE(r.err.worst, c.dbl ? k.tol_d : k.tol_f) << r.err.describe();

  qp::Reach re = qp::reach(s.paths(), k, c, r.kernel_objects);
  ASSERT_TRUE(re.why.empty()) << re.why;
  EXPECT_FALSE(re.called.empty()) << "the runner's object calls no built-in";
  for (auto& m : re.missing) ADD_FAILURE() << "no call into the library for " << m;
  for (auto& m : re.kept) ADD_FAILURE() << "PoCL's own definition kept for " << m;
  if (out) *out = re;
}

// The reach check against stock PoCL, whose kernel objects define every built-in they
// use: none may count as a call into the library.
TEST(PoCLStock, KeptBuiltinsAreCaught) {
  if (g_ours_started || g_scalar_started) GTEST_SKIP() << "PoCL on the library already started in this process";
  qp::Session s(qp::Flavour::stock, qp::Paths::built());
  if (!s.unavailable().empty()) GTEST_SKIP() << s.unavailable();
  const qk::Kernel* bs = nullptr;
  for (const qk::Kernel& k : qk::kernels())
    if (k.name == "blackscholes") bs = &k;
  ASSERT_NE(bs, nullptr);
  for (qk::Config c : {qk::Config{false, 8}, qk::Config{true, 16}}) {
    std::string why;
    ASSERT_FALSE(qp::runner_outputs(s.paths(), *bs, c, why).bufs.empty()) << why;  // the runner's object
    qp::Result r = s.run(*bs, c, true, 0);
    ASSERT_TRUE(r.ran) << r.why;
    qp::Reach re = qp::reach(s.paths(), *bs, c, r.kernel_objects);
    ASSERT_TRUE(re.why.empty()) << re.why;
    EXPECT_FALSE(re.called.empty());
    EXPECT_TRUE(re.reached.empty()) << re.reached.size() << " built-ins taken for the library's, first "
                                    << re.reached.front();
    EXPECT_EQ(re.missing.size(), re.called.size());
  }
}

class PoCL : public ::testing::TestWithParam<Case> {};

TEST_P(PoCL, SameBitsAsTheRunnerAndReachesTheLibrary) {
  if (g_scalar_started) GTEST_SKIP() << "PoCL with no widening already started in this process";
  if (!session().unavailable().empty()) GTEST_SKIP() << session().unavailable();
  expect_like_runner(session(), *GetParam().kernel, GetParam().config);
}

// Width 1 on the prefix where every scalar call stays one call per work-item: the same
// bits as the runner, and no vector entry called.
class PoCLUnwidened : public ::testing::TestWithParam<Case> {};

TEST_P(PoCLUnwidened, SameBitsAsTheRunner) {
  if (g_ours_started) GTEST_SKIP() << "PoCL with widening already started in this process";
  if (!scalar_session().unavailable().empty()) GTEST_SKIP() << scalar_session().unavailable();
  qp::Reach re;
  expect_like_runner(scalar_session(), *GetParam().kernel, GetParam().config, &re);
  EXPECT_TRUE(re.widened.empty()) << "a vector entry called: " << re.widened.front();
}

// The scalar built-ins PoCL's loop vectoriser widens in each width-1 kernel, with the
// lanes of the vector entry it calls.  The others stay scalar: a built-in with a pointer
// out-argument (sincos, remquo, fract, frexp) keeps the whole work-item loop scalar
// (LLVM 15 knows no vector variant with linear pointer arguments), and softmax and nbody
// loop inside the work-item over strict floating-point sums, which LLVM does not
// reorder.
std::map<std::string, std::set<std::string>> expected_widened(bool dbl) {
  std::string f = dbl ? "double" : "float", l = dbl ? " x4" : " x8";
  return {
      {"blackscholes", {"exp(" + f + ")" + l, "log(" + f + ")" + l, "erfc(" + f + ")" + l, "sqrt(" + f + ")" + l}},
      {"colour", {"pow(" + f + ", " + f + ")" + l, "cbrt(" + f + ")" + l, "fmax(" + f + ", " + f + ")" + l}},
      // convert_long: 64-bit lanes, so four of each
      {"quantize", {"convert_" + f + "(int) x4", "convert_int_sat_rte(" + f + ") x4",
                    "convert_long_sat_rtp(" + f + ") x4", "convert_uint_sat_rtn(" + f + ") x4"}},
  };
}

class PoCLWiden : public ::testing::TestWithParam<Case> {};

TEST_P(PoCLWiden, ScalarCallsWidenWhereExpected) {
  if (g_scalar_started) GTEST_SKIP() << "PoCL with no widening already started in this process";
  if (!session().unavailable().empty()) GTEST_SKIP() << session().unavailable();
  const qk::Kernel& k = *GetParam().kernel;
  const qk::Config& c = GetParam().config;
  std::string why;
  ASSERT_FALSE(qp::runner_outputs(session().paths(), k, c, why).bufs.empty()) << why;  // the runner's object
  qp::Result r = session().run(k, c, true, 0);
  ASSERT_TRUE(r.ran) << r.why;
  qp::Reach re = qp::reach(session().paths(), k, c, r.kernel_objects);
  ASSERT_TRUE(re.why.empty()) << re.why;
  std::set<std::string> want = expected_widened(c.dbl)[k.name];
  std::set<std::string> got(re.widened.begin(), re.widened.end());
  for (auto& w : want)
    if (!got.count(w)) ADD_FAILURE() << "not widened: " << w;
  for (auto& g : got)
    if (!want.count(g)) ADD_FAILURE() << "widened, not expected (update the list and the docs): " << g;
  // Every widenable call PoCL's object makes is still a call into the library.
  EXPECT_TRUE(re.missing.empty());
}

std::vector<Case> cases() {
  std::vector<Case> v;
  for (const qk::Kernel& k : qk::kernels())
    for (const qk::Config& c : k.configs) v.push_back({&k, c});
  return v;
}

std::vector<Case> width_one() {
  std::vector<Case> v;
  for (const Case& c : cases())
    if (c.config.width == 1) v.push_back(c);
  return v;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return info.param.kernel->name + (info.param.config.dbl ? "_d" : "_f") + std::to_string(info.param.config.width);
}

INSTANTIATE_TEST_SUITE_P(Kernels, PoCL, ::testing::ValuesIn(cases()), case_name);
INSTANTIATE_TEST_SUITE_P(Kernels, PoCLUnwidened, ::testing::ValuesIn(width_one()), case_name);
INSTANTIATE_TEST_SUITE_P(Kernels, PoCLWiden, ::testing::ValuesIn(width_one()), case_name);

}  // namespace
