// PoCL on the library, one test per kernel, precision and width: the kernel built from
// source by PoCL and run on its CPU device gives the runner's bits on every live element,
// stays within the kernel's tolerance of the reference, and reaches the library for
// every built-in it calls (an undefined symbol of PoCL's kernel object, resolved by the
// binding), so a built-in PoCL kept for itself cannot pass for the library's.
#include <gtest/gtest.h>

#include <memory>

#include "session.h"

namespace {

struct Case {
  const qk::Kernel* kernel;
  qk::Config config;
};

// PoCL reads its environment once per process, so one flavour per process (ctest runs
// each test in a process of its own).
bool g_ours_started = false;

qp::Session& session() {
  static qp::Session s(qp::Flavour::ours, qp::Paths::built());
  g_ours_started = true;
  return s;
}

// The reach check against stock PoCL, whose kernel objects define every built-in they
// use: none may count as a call into the library.
TEST(PoCLStock, KeptBuiltinsAreCaught) {
  if (g_ours_started) GTEST_SKIP() << "PoCL on the library already started in this process";
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
  const qk::Kernel& k = *GetParam().kernel;
  const qk::Config& c = GetParam().config;
  if (!session().unavailable().empty()) GTEST_SKIP() << session().unavailable();
  std::string why;
  qk::Buffers want = qp::runner_outputs(session().paths(), k, c, why);
  ASSERT_FALSE(want.bufs.empty()) << why;
  qp::Result r = session().run(k, c, true, 0);
  ASSERT_TRUE(r.ran) << r.why;

  std::vector<std::string> diff = qp::differences(c, r.out, want, 8);
  std::string all;
  for (auto& d : diff) all += "\n  " + d;
  EXPECT_TRUE(diff.empty()) << "PoCL and the runner differ:" << all;
  EXPECT_LE(r.err.worst, c.dbl ? k.tol_d : k.tol_f) << r.err.describe();

  qp::Reach re = qp::reach(session().paths(), k, c, r.kernel_objects);
  ASSERT_TRUE(re.why.empty()) << re.why;
  EXPECT_FALSE(re.called.empty()) << "the runner's object calls no built-in";
  for (auto& m : re.missing) ADD_FAILURE() << "no call into the library for " << m;
  for (auto& m : re.kept) ADD_FAILURE() << "PoCL's own definition kept for " << m;
}

std::vector<Case> cases() {
  std::vector<Case> v;
  for (const qk::Kernel& k : qk::kernels())
    for (const qk::Config& c : k.configs) v.push_back({&k, c});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Kernels, PoCL, ::testing::ValuesIn(cases()), [](const auto& info) {
  return info.param.kernel->name + (info.param.config.dbl ? "_d" : "_f") + std::to_string(info.param.config.width);
});

}  // namespace
