// Every present export called through ocl_qarn_e9.h from C++ (directly, through its
// System V entry, or as an ms_abi function), against the same export called at the
// register level: every live lane of every result, pointer results included, on
// ordinary and on special operands.  A declaration with a wrong type, an entry that
// moves an argument to the wrong register or stores a result in the wrong place,
// shows here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "ocl_qarn_e9.h"
#include "support/invoke.h"
#include "support/rng.h"

namespace qa = qarn::abi;
using qarn::reg::Export;

namespace {

struct alignas(128) Buf {
  uint8_t b[256];
};

// Arguments and results of one call through the header, as bytes.
struct Io {
  Buf args[3], ptrs[1], outb;
  std::vector<uint8_t> result;
  const void* returned = nullptr;
  template <class T> T arg(int i) {
    T t;
    std::memcpy(&t, args[i].b, sizeof t);
    return t;
  }
  template <class T> const T* in_ptr(int i) { return reinterpret_cast<const T*>(args[i].b); }
  template <class T> T* ptr(int i) { return reinterpret_cast<T*>(ptrs[i].b); }
  template <class T> void ret(const T& t) {
    result.resize(sizeof t);
    std::memcpy(result.data(), &t, sizeof t);
  }
  template <class T> T* out() { return reinterpret_cast<T*>(outb.b); }
};

struct Call {
  const char* name;
  void (*run)(Io&);
};
const Call kCalls[] = {
#include "header_calls.inc"
};

qa::Invoker& invoker() {
  static qa::Invoker inv(qa::library_path());
  return inv;
}

bool is_int(char k) { return std::strchr("iulqc", k) != nullptr; }

uint64_t operand(const Export& e, char k, bool special, qarn::test::Rng& r) {
  bool single = k == 'F' || (k == 'f' && e.prec == 'f');
  if (is_int(k)) {
    const uint64_t odd[] = {0, 0xFFFFFFFFull, 0x80000000ull, 0x7FFFFFFFull, 0x7FF8000000000001ull};
    return special ? odd[r.next() % 5] : 1 + r.next() % 9;
  }
  double v;
  if (special) {
    const double d[] = {NAN, INFINITY, -INFINITY, 1e300, -3e38, 1e-40, 4e-320, 0.0, -0.0};
    v = d[r.next() % 9];
  } else {
    double lo = (k == 'F' || k == 'D') ? -1000 : e.lo, hi = (k == 'F' || k == 'D') ? 1000 : e.hi;
    v = lo + (hi - lo) * r.unit();
  }
  return single ? qa::bits_of(float(v)) : qa::bits_of(v);
}

void check(const Export& e, const Call& c, bool specials, uint64_t seed) {
  qa::Shape sh = qa::shape_of(e);
  qarn::test::Rng r(seed);
  for (int trial = 0; trial < 3; ++trial) {
    std::vector<qa::Lanes> args(sh.args.size(), qa::Lanes(sh.lanes));
    Io io;
    std::memset(io.args, 0, sizeof io.args);
    for (size_t a = 0; a < args.size(); ++a)
      for (int i = 0; i < sh.lanes; ++i) {
        args[a][i] = operand(e, sh.args[a], specials && (i + trial) % 3 == 0, r);
        int lb = sh.lane_bytes(sh.args[a]);
        std::memcpy(io.args[a].b + i * lb, &args[a][i], lb);
      }
    std::memset(io.ptrs, 0x5c, sizeof io.ptrs);
    c.run(io);
    qa::Outcome want = invoker().call(e, args, seed + trial);
    const uint8_t* res = e.by_ref ? io.outb.b : io.result.data();
    if (e.by_ref) {
      EXPECT_EQ(io.returned, io.outb.b) << e.name << ": the result buffer is not returned";
    }
    int lb = sh.lane_bytes(sh.results[0]);
    // Results of a pair follow each other at the storage of the width.
    int stride = sh.width == 1 ? lb : (sh.lanes * lb < 4 ? 4 : sh.lanes * lb);
    for (size_t k = 0; k < want.results.size(); ++k) {
      bool ptr = k >= sh.results.size();
      int plb = ptr ? sh.lane_bytes(sh.ptrs[k - sh.results.size()]) : lb;
      const uint8_t* base = ptr ? io.ptrs[k - sh.results.size()].b : res + k * stride;
      for (int i = 0; i < sh.width; ++i) {
        uint64_t got = 0;
        std::memcpy(&got, base + i * plb, plb);
        uint64_t w = want.results[k][i] & (plb == 4 ? 0xFFFFFFFFull : ~0ull);
        EXPECT_EQ(got, w) << e.name << " result " << k << " lane " << i << " (arg0 lane 0x" << std::hex
                          << args[0][i] << ")";
      }
    }
  }
}

std::vector<std::string> families() {
  std::vector<std::string> v;
  for (const Export& e : qarn::reg::all())
    if (e.present && (v.empty() || v.back() != e.family)) v.push_back(e.family);
  return v;
}

class Header : public testing::TestWithParam<std::string> {};

TEST_P(Header, EveryExportAgainstTheRegisterLevelCall) {
  std::map<std::string, const Call*> calls;
  for (const Call& c : kCalls) calls[c.name] = &c;
  int n = 0;
  for (const Export& e : qarn::reg::all()) {
    if (!e.present || e.family != GetParam()) continue;
    auto it = calls.find(e.name);
    ASSERT_NE(it, calls.end()) << e.name << " is not declared in the header";
    check(e, *it->second, false, 3);
    check(e, *it->second, true, 7);
    ++n;
  }
  EXPECT_GT(n, 0);
}

INSTANTIATE_TEST_SUITE_P(Families, Header, testing::ValuesIn(families()),
                         [](const testing::TestParamInfo<std::string>& p) { return p.param; });

// The header declares exactly the present exports.
TEST(HeaderDeclarations, ExactlyThePresentExports) {
  int present = 0;
  for (const Export& e : qarn::reg::all()) present += e.present;
  EXPECT_EQ(present, int(sizeof kCalls / sizeof kCalls[0]));
}

}  // namespace
