// The OpenCL C binding seen from the code it exists for: every bound overload is
// called from OpenCL C compiled by Clang, through the binding, and must give the very
// lanes of its export called in the library's own registers (bit for bit, the pointer
// result included), ordinary and special operands mixed in one vector, whatever
// System V leaves in the unused lanes.  The overloads with a scalar second argument
// (fmax(float8, float), ldexp(double4, int)) give the export's lanes for that value in
// every lane.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/registry.h"
#include "support/rng.h"

namespace {

using qarn::abi::Lanes;

struct Overload {
  std::string mangled, status, export_name, decl;
};

std::vector<Overload> bound_overloads() {
  std::vector<Overload> v;
  std::ifstream f(QARN_CL_OVERLOADS);
  std::string line;
  std::map<std::string, bool> seen;
  while (std::getline(f, line)) {
    std::vector<std::string> c;
    std::stringstream ss(line);
    std::string x;
    while (std::getline(ss, x, '\t')) c.push_back(x);
    if (c.size() < 4 || c[1] == "absent") continue;
    if (seen[c[3]]) continue;  // one call per declaration: Clang picks the x86-64 mangling
    seen[c[3]] = true;
    v.push_back({c[0], c[1], c[2], c[3]});
  }
  return v;
}

// One kernel per declaration: k<i>(result, argument 0, argument 1, pointer result).
std::string kernel_source(const std::vector<Overload>& ovs) {
  std::string s = "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n";
  std::regex re(R"((\w+) (\w+)\((.*)\))");
  for (size_t i = 0; i < ovs.size(); i++) {
    std::smatch m;
    std::regex_match(ovs[i].decl, m, re);
    std::vector<std::string> params;
    std::stringstream ss(m[3].str());
    std::string p;
    while (std::getline(ss, p, ',')) params.push_back(p.substr(p.find_first_not_of(' ')));
    std::string kp = "__global " + m[1].str() + "* r", args, pre, post;
    for (size_t j = 0; j < params.size(); j++) {
      std::string q = params[j], a = "a" + std::to_string(j);
      if (q.back() == '*') {
        std::string space = q.substr(0, q.find(' ')), t = q.substr(q.find(' ') + 1);
        t.pop_back();
        if (space == "__private") {
          kp += ", __global " + t + "* p";
          pre += t + " v; ";
          args += ", &v";
          post += " *p = v;";
        } else {
          kp += ", " + space + " " + t + "* p";
          args += ", p";
        }
      } else {
        kp += ", __global " + q + "* " + a;
        args += ", *" + a;
      }
    }
    s += "__kernel void k" + std::to_string(i) + "(" + kp + ") { " + pre + "*r = " + m[2].str() + "(" +
         args.substr(2) + ");" + post + " }\n";
  }
  return s;
}

// Whether parameter j of a declaration is a scalar (float, double, int, ...).
bool scalar_arg(const std::string& decl, size_t j) {
  std::string params = decl.substr(decl.find('(') + 1);
  params.pop_back();
  std::stringstream ss(params);
  std::string p;
  for (size_t i = 0; std::getline(ss, p, ','); i++)
    if (i == j) return p.find('*') == std::string::npos && !std::isdigit(static_cast<unsigned char>(p.back()));
  return false;
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  return st == 0 ? "" : out + "\n(failed: " + cmd + ")";
}

// Lanes of one argument: the family's ordinary operands with special ones mixed in.
Lanes operands(qarn::test::Rng& g, const qarn::reg::Export& e, char kind, int lanes) {
  Lanes l(lanes);
  bool dbl_lane = kind == 'D' || ((kind == 'f' || kind == 'c') && e.prec == 'd');
  for (int i = 0; i < lanes; i++) {
    switch (kind) {
      case 'f':
      case 'F':
      case 'D': {
        double lo = e.lo, hi = e.hi;
        if (kind != 'f') lo = -3e9, hi = 3e9;  // conversions: past the 32-bit range
        double v = g.in(lo, hi);
        switch (g.below(10)) {
          case 0: v = NAN; break;
          case 1: v = g.below(2) ? INFINITY : -INFINITY; break;
          case 2: v = -0.0; break;
          case 3: v = std::ldexp(g.in(-1, 1), int(g.below(60))); break;
          default: break;
        }
        l[i] = dbl_lane ? qarn::abi::bits_of(v) : qarn::abi::bits_of(float(v));
        break;
      }
      case 'i':
        l[i] = uint32_t(int32_t(g.below(41)) - 20);  // exponents and powers
        if (e.family[0] == 'c') l[i] = uint32_t(g.next());
        break;
      case 'c':
        l[i] = dbl_lane ? g.next() >> 13 : uint32_t(g.next()) >> 10;
        break;
      default:
        l[i] = (kind == 'u' ? uint32_t(g.next()) : g.next());
        if (kind == 'u' || kind == 'i') l[i] &= 0xFFFFFFFFu;
    }
  }
  return l;
}

TEST(Binding, EveryBoundOverloadGivesItsExportsLanes) {
  std::vector<Overload> ovs = bound_overloads();
  ASSERT_GT(ovs.size(), 500u) << "the binding serves too few overloads";
  std::string dir = std::string(QARN_KERNEL_CACHE) + "/binding_test";
  std::string lib_dir = QARN_LIBRARY;
  lib_dir = lib_dir.substr(0, lib_dir.rfind('/'));
  ASSERT_EQ(run("mkdir -p '" + dir + "'"), "");
  {
    std::ofstream(dir + "/all.cl") << kernel_source(ovs);
  }
  ASSERT_EQ(run(std::string(QARN_CLANG) +
                " -x cl -cl-std=CL1.2 -Xclang -finclude-default-header -target x86_64-unknown-linux-gnu -mavx"
                " -O2 -fPIC -Wno-psabi -c '" + dir + "/all.cl' -o '" + dir + "/all.o'"), "");
  ASSERT_EQ(run(std::string(QARN_CLANG) + " -shared -o '" + dir + "/all.so' '" + dir + "/all.o' " +
                "-Wl,--exclude-libs,ALL '" + QARN_CL_BINDING + "' " +
                (std::string(QARN_CL_SHIMS).empty() ? "" : "'" + std::string(QARN_CL_SHIMS) + "' ") + "'" +
                QARN_LIBRARY + "' -Wl,-rpath,'" + lib_dir + "'"), "");
  void* so = dlopen((dir + "/all.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(so, nullptr) << dlerror();
  qarn::abi::Invoker lib(QARN_LIBRARY);
  qarn::test::Rng g(19);
  int checked = 0;
  for (size_t k = 0; k < ovs.size(); k++) {
    const Overload& o = ovs[k];
    const qarn::reg::Export* e = qarn::reg::find(o.export_name);
    ASSERT_NE(e, nullptr) << o.export_name;
    auto fn = reinterpret_cast<void (*)(void*, void*, void*, void*)>(dlsym(so, ("k" + std::to_string(k)).c_str()));
    ASSERT_NE(fn, nullptr);
    qarn::abi::Shape sh = qarn::abi::shape_of(*e);
    for (int round = 0; round < 4; round++) {
      std::vector<Lanes> args;
      alignas(128) uint8_t buf[4][256];
      std::memset(buf, 0xA5, sizeof buf);
      for (size_t a = 0; a < sh.args.size(); a++) {
        args.push_back(operands(g, *e, sh.args[a], sh.lanes));
        // A scalar argument of a vector overload (fmax(float8, float)): every lane of
        // the export's operand is that one value.
        if (e->width > 1 && scalar_arg(o.decl, a)) args[a].assign(sh.lanes, args[a][0]);
        int lb = sh.lane_bytes(sh.args[a]);
        for (int i = 0; i < sh.lanes; i++) std::memcpy(buf[1 + a] + i * lb, &args[a][i], lb);
      }
      // The kernel's parameters: the result, each argument, then the pointer, which
      // writes to buf[3] (no overload has three arguments and a pointer).
      void* p = sh.ptrs.empty() ? nullptr : buf[3];
      fn(buf[0], buf[1], sh.args.size() > 1 ? buf[2] : p, sh.args.size() > 2 ? buf[3] : p);
      qarn::abi::Outcome want = lib.call(*e, args, g.next());
      std::string what = o.decl + " (" + o.mangled + ", " + o.status + " to " + o.export_name + ")";
      int lb = sh.lane_bytes(sh.results[0]);
      for (int i = 0; i < e->width; i++) {
        uint64_t got = 0;
        std::memcpy(&got, buf[0] + i * lb, lb);
        ASSERT_EQ(got, want.results[0][i]) << what << ": lane " << i;
      }
      if (!sh.ptrs.empty()) {
        int pb = sh.lane_bytes(sh.ptrs[0]);
        for (int i = 0; i < e->width; i++) {
          uint64_t got = 0;
          std::memcpy(&got, buf[3] + i * pb, pb);
          ASSERT_EQ(got, want.results[1][i]) << what << ": pointer result, lane " << i;
        }
      }
    }
    checked++;
  }
  std::printf("%d overloads called from OpenCL C, each matching its export\n", checked);
  dlclose(so);
}

}  // namespace
