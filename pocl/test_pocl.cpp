// PoCL on the library, one test per kernel, precision and width: the kernel built from
// source by PoCL and run on its CPU device gives the runner's bits on every live element,
// stays within the kernel's tolerance of the reference, and reaches the library for
// every built-in it calls (an undefined symbol of PoCL's kernel object, resolved by the
// binding), so a built-in PoCL kept for itself cannot pass for the library's.  Width 1
// twice more: the scalar calls the loop vectoriser is expected to widen call the vector
// entries (and no others do), and the prefix that widens nothing gives the same bits.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

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

// Built-ins no kernel of kernels/cl calls, with integer operands and results and three
// operands: each is widened on the widening prefix, and both prefixes give the same
// bits (the f8/d4 entries against the scalar ones, lane by lane).
const char* kProbe = R"(
__kernel void probe(__global const REAL* x, __global REAL* y) {
  size_t i = get_global_id(0), n = get_global_size(0);
  REAL a = x[i], b = x[n + i];
  int k = (int)(b * 10);
  y[0 * n + i] = ldexp(a, k);
  y[1 * n + i] = pown(a, k & 7);
  y[2 * n + i] = fma(a, b, a);
  y[3 * n + i] = (REAL)ilogb(a);
  y[4 * n + i] = atan2(a, b);
  y[5 * n + i] = rootn(fabs(a), (k & 3) + 1);
  y[6 * n + i] = hypot(a, b) + tanh(b);
  y[7 * n + i] = nextafter(a, b);
}
)";

struct Probe {
  std::string why;  // "skip: ..." or a failure
  std::vector<std::string> widened;
  std::string out;  // the output's bytes
};

template <class T>
qk::Buffers probe_inputs() {
  const size_t n = 4096;  // a multiple of PoCL's local sizes: work-items run in loops
  qk::Buffers b;
  b.items = n;
  b.bufs = {qk::Buffer("x", 2 * n * sizeof(T)), qk::Buffer("y", 8 * n * sizeof(T))};
  T* x = reinterpret_cast<T*>(b.bufs[0].data.get());
  const T special[] = {0, -0.0, 1, -1, INFINITY, -INFINITY, NAN, std::numeric_limits<T>::denorm_min(),
                       std::numeric_limits<T>::max(), std::numeric_limits<T>::min()};
  uint64_t s = 0x9e3779b97f4a7c15ull;
  for (size_t i = 0; i < 2 * n; i++) {
    s ^= s << 13, s ^= s >> 7, s ^= s << 17;
    x[i] = i % 97 < 10 ? special[i % 97] : T(int32_t(s)) * T(3e-8);
  }
  return b;
}

// One prefix in a child process (PoCL reads its environment once per process).
Probe probe(qp::Flavour f, bool dbl) {
  Probe p;
  char path[] = "/tmp/qarn-pocl-probe-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return {"cannot make a file for the child", {}, ""};
  pid_t pid = fork();
  if (pid == 0) {
    std::string msg;
    {
      qp::Session s(f, qp::Paths::built());
      if (!s.unavailable().empty()) {
        msg = "skip: " + s.unavailable();
      } else {
        qk::Buffers in = dbl ? probe_inputs<double>() : probe_inputs<float>();
        std::string opts = std::string("-cl-std=CL1.2 -DREAL=") + (dbl ? "double" : "float");
        qp::Result r = s.run_source(kProbe, opts, "probe", in, 0);
        if (!r.ran) {
          msg = r.why;
        } else {
          for (auto& w : qp::widened_calls(s.paths(), r.kernel_objects)) msg += "widened " + w + "\n";
          msg += "bytes\n" + std::string(reinterpret_cast<char*>(r.out.bufs[1].data.get()), r.out.bufs[1].bytes);
        }
      }
    }
    ssize_t done = write(fd, msg.data(), msg.size());
    _exit(done == ssize_t(msg.size()) ? 0 : 1);
  }
  close(fd);
  int st = 0;
  waitpid(pid, &st, 0);
  std::ifstream in(path, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  unlink(path);
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) return {"the child died (status " + std::to_string(st) + ")", {}, ""};
  size_t b = all.find("bytes\n");
  if (b == std::string::npos) return {all.empty() ? "no result" : all, {}, ""};
  p.out = all.substr(b + 6);
  std::stringstream ss(all.substr(0, b));
  for (std::string line; std::getline(ss, line);) p.widened.push_back(line.substr(8));
  return p;
}

class PoCLProbe : public ::testing::TestWithParam<bool> {};

TEST_P(PoCLProbe, MoreBuiltinsWidenWithTheSameBits) {
  bool dbl = GetParam();
  if (g_ours_started || g_scalar_started) GTEST_SKIP() << "PoCL already started in this process";
  Probe widened = probe(qp::Flavour::ours, dbl), scalar = probe(qp::Flavour::ours_scalar, dbl);
  for (Probe* p : {&widened, &scalar}) {
    if (p->why.rfind("skip: ", 0) == 0) GTEST_SKIP() << p->why.substr(6);
    ASSERT_TRUE(p->why.empty()) << p->why;
  }
  std::string f = dbl ? "double" : "float", l = dbl ? " x4" : " x8";
  std::set<std::string> want = {"ldexp(" + f + ", int)" + l, "pown(" + f + ", int)" + l,
                                "fma(" + f + ", " + f + ", " + f + ")" + l, "ilogb(" + f + ")" + l,
                                "atan2(" + f + ", " + f + ")" + l, "rootn(" + f + ", int)" + l,
                                "fabs(" + f + ")" + l, "hypot(" + f + ", " + f + ")" + l,
                                "tanh(" + f + ")" + l, "nextafter(" + f + ", " + f + ")" + l};
  std::set<std::string> got(widened.widened.begin(), widened.widened.end());
  for (auto& w : want) EXPECT_TRUE(got.count(w)) << "not widened: " << w;
  EXPECT_TRUE(scalar.widened.empty()) << "the unwidened prefix called " << scalar.widened.front();
  ASSERT_EQ(widened.out.size(), scalar.out.size());
  size_t es = dbl ? 8 : 4, n = widened.out.size() / es / 8, differ = 0;
  for (size_t i = 0; i < widened.out.size(); i += es)
    if (widened.out.compare(i, es, scalar.out, i, es) != 0 && differ++ < 8)
      ADD_FAILURE() << "output " << i / es / n << " of work-item " << i / es % n << " differs";
  EXPECT_EQ(differ, 0u);
}

INSTANTIATE_TEST_SUITE_P(Builtins, PoCLProbe, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "double" : "float"); });

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
