// qarn_kernels: runs OpenCL C kernels on libocl_qarn_e9 without an OpenCL runtime.
//
// For each kernel, precision and vector width it compiles kernels/cl/<kernel>.cl with
// Clang for x86-64, links the object twice into a shared object (once with the
// library's OpenCL binding, once with the SLEEF-bound one), loads both, runs the kernel
// over an NDRange (a loop over the work-items; get_global_id is ours), checks both
// outputs against a reference computed in higher precision (double for float kernels,
// x87 long double for double kernels) and times them.
//
//   qarn_kernels [--kernel NAME]... [--config f8|d16...]... [--quick] [--verbose] [--no-timing]
//                [--no-sleef] [--dump]
//
// --dump writes the library's outputs of each configuration, every buffer's bytes one
// after the other, to <cache>/<kernel>_<f|d><width>.out (beside the kernel's object), for
// other runs of the same kernels to compare against.
// A configuration whose built-ins the library does not serve yet is skipped with the
// reason (from the binding's overload list).  Exit status: 1 if a kernel on the library
// is off its reference by more than its tolerance, 77 if every configuration was
// skipped, else 0.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kernels.h"

namespace {

// ---- the work-item built-ins ---------------------------------------------------------
thread_local size_t g_global_id = 0;
thread_local size_t g_global_size = 0;

}  // namespace

// OpenCL's size_t get_global_id(uint) and get_global_size(uint), one dimension.
extern "C" size_t _Z13get_global_idj(unsigned dim) { return dim == 0 ? g_global_id : 0; }
extern "C" size_t _Z15get_global_sizej(unsigned dim) { return dim == 0 ? g_global_size : 1; }

namespace {

using qk::Config;
using qk::Kernel;
using qk::fmt_err;
using qk::run_capture;

struct Paths {
  std::string clang = QARN_CLANG, cl_dir = QARN_CL_DIR, cache = QARN_KERNEL_CACHE;
  std::string binding = QARN_CL_BINDING, shims = QARN_CL_SHIMS, library = QARN_LIBRARY;
  std::string sleef_binding = QARN_SLEEF_BINDING, sleef = QARN_SLEEF_LIB, overloads = QARN_CL_OVERLOADS;
};

struct Overload {
  std::string status, export_name, decl, reason;
};

std::map<std::string, Overload> read_overloads(const std::string& path) {
  std::map<std::string, Overload> m;
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    std::vector<std::string> col;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, '\t')) col.push_back(c);
    if (col.size() < 4) continue;
    m[col[0]] = Overload{col[1], col[2], col[3], col.size() > 4 ? col[4] : ""};
  }
  return m;
}

// Built-ins the runner itself provides.
const std::set<std::string> kWorkItem = {"_Z13get_global_idj", "_Z15get_global_sizej"};

using KernelFn = void (*)(void*, void*, void*, void*, void*, void*, void*, void*);

struct Loaded {
  void* handle = nullptr;
  KernelFn fn = nullptr;
  ~Loaded() {
    if (handle) dlclose(handle);
  }
};

bool load(const std::string& so, const std::string& name, Loaded& l, std::string& why) {
  l.handle = dlopen(so.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!l.handle) {
    why = dlerror();
    return false;
  }
  l.fn = reinterpret_cast<KernelFn>(dlsym(l.handle, name.c_str()));
  if (!l.fn) {
    why = "no kernel " + name + " in " + so;
    return false;
  }
  return true;
}

void run_ndrange(KernelFn fn, size_t items, std::vector<void*>& args) {
  g_global_size = items;
  for (size_t i = 0; i < items; i++) {
    g_global_id = i;
    fn(args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]);
  }
}

// Best time per work-item over a few trials of enough NDRanges to last `budget` seconds.
double time_per_item(KernelFn fn, size_t items, std::vector<void*>& args, double budget) {
  using clk = std::chrono::steady_clock;
  auto t0 = clk::now();
  run_ndrange(fn, items, args);
  double once = std::chrono::duration<double>(clk::now() - t0).count();
  int reps = std::max(1, int(budget / 5 / std::max(once, 1e-9)));
  double best = 1e30;
  for (int trial = 0; trial < 5; trial++) {
    auto a = clk::now();
    for (int r = 0; r < reps; r++) run_ndrange(fn, items, args);
    double t = std::chrono::duration<double>(clk::now() - a).count() / reps;
    best = std::min(best, t);
  }
  return best / items * 1e9;
}

struct Row {
  std::string kernel, prec;
  int width = 0;
  size_t items = 0;
  bool ran = false, sleef_ran = false, ok = true;
  double err = 0, err_sleef = 0, ns = 0, ns_sleef = 0, tol = 0;
  std::string note;
};

class Runner {
 public:
  Runner(Paths p, bool quick, bool verbose, bool timing, bool sleef, bool dump)
      : p_(std::move(p)), quick_(quick), verbose_(verbose), timing_(timing), sleef_(sleef), dump_(dump) {
    overloads_ = read_overloads(p_.overloads);
    std::string cmd = "mkdir -p '" + p_.cache + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot create %s\n", p_.cache.c_str());
  }

  Row run(const Kernel& k, const Config& c) {
    Row row;
    row.kernel = k.name;
    row.prec = c.dbl ? "double" : "float";
    row.width = c.width;
    std::string tag = k.name + (c.dbl ? "_d" : "_f") + std::to_string(c.width);
    std::string obj = p_.cache + "/" + tag + ".o";
    std::string cl = p_.cl_dir + "/" + k.name + ".cl";
    std::string ws = c.width == 1 ? "" : std::to_string(c.width);
    int st;
    std::string out = run_capture(
        p_.clang + " -x cl -cl-std=CL1.2 -Xclang -finclude-default-header -target x86_64-unknown-linux-gnu"
        " -mavx -O2 -ffp-contract=off -fPIC -Wno-psabi -I'" + p_.cl_dir + "' -DREAL=" + row.prec +
        " -DW=" + std::to_string(c.width) + " -DWS=" + ws + " -DIS_DOUBLE=" + (c.dbl ? "1" : "0") +
        " -c '" + cl + "' -o '" + obj + "'", &st);
    if (st != 0) {
        row.ok = false;
        row.note = "clang failed: " + out;
        return row;
    }
    // Every built-in the object calls must be served by the binding.
    std::string undef = run_capture("nm -u '" + obj + "'", &st);
    std::stringstream ss(undef);
    std::string w1, sym;
    std::vector<std::string> missing;
    while (ss >> w1 >> sym) {
      if (kWorkItem.count(sym)) continue;
      auto it = overloads_.find(sym);
      if (it == overloads_.end()) {
        missing.push_back(sym + ": not a built-in overload the library serves");
      } else if (it->second.status == "absent") {
        missing.push_back(it->second.decl + ": " + it->second.reason);
      }
    }
    std::string so_q = p_.cache + "/" + tag + "_qarn.so", so_s = p_.cache + "/" + tag + "_sleef.so";
    bool ours = missing.empty();
    if (!ours) {
      row.note = "skipped on the library:";
      for (auto& m : missing) row.note += "\n      " + m;
    } else {
      std::string shims = p_.shims.empty() ? "" : " '" + p_.shims + "'";
      out = run_capture(p_.clang + " -shared -o '" + so_q + "' '" + obj + "' -Wl,--exclude-libs,ALL '" +
                            p_.binding + "'" + shims + " '" + p_.library + "' -Wl,-rpath,'" + dirname(p_.library) +
                            "'", &st);
      if (st != 0) {
        row.ok = false;
        row.note = "link failed: " + out;
        return row;
      }
    }
    std::string sleef_out = "not asked for";
    bool have_sleef = false;
    if (sleef_) {
      sleef_out = run_capture(p_.clang + " -shared -o '" + so_s + "' '" + obj + "' -Wl,--exclude-libs,ALL '" +
                                  p_.sleef_binding + "' '" + p_.sleef + "' -lm", &st);
      have_sleef = st == 0;
    }

    qk::Buffers inputs = k.make(c, quick_);
    row.items = inputs.items;
    row.tol = c.dbl ? k.tol_d : k.tol_f;
    Loaded lq, ls;
    std::string why;
    // One build's kernel on its own copy of the inputs: its errors, and its time per
    // item when timing.
    auto run_one = [&](const Loaded& l, double* ns, const std::string& dump) {
      qk::Buffers b = inputs;
      std::vector<void*> args = b.pointers();
      run_ndrange(l.fn, b.items, args);
      if (!dump.empty()) {
        std::ofstream f(dump, std::ios::binary);
        for (auto& buf : b.bufs) f.write(reinterpret_cast<const char*>(buf.data.get()), std::streamsize(buf.bytes));
      }
      qk::Errors e = k.check(c, b);
      if (timing_) *ns = time_per_item(l.fn, b.items, args, quick_ ? 0.01 : 0.05);
      return e;
    };
    if (ours) {
      if (!load(so_q, k.name, lq, why)) {
        row.ok = false;
        row.note = why;
        return row;
      }
      qk::Errors eq = run_one(lq, &row.ns, dump_ ? p_.cache + "/" + tag + ".out" : "");
      row.ran = true;
      row.err = eq.worst;
      row.ok = eq.worst <= row.tol;
      if (!row.ok || verbose_) row.note = eq.describe();
    }
    if (have_sleef && load(so_s, k.name, ls, why)) {
      qk::Errors es = run_one(ls, &row.ns_sleef, "");
      row.sleef_ran = true;
      row.err_sleef = es.worst;
      if (verbose_) row.note += (row.note.empty() ? "" : "\n      ") + std::string("SLEEF: ") + es.describe();
    } else if (sleef_) {
      if (!have_sleef) why = sleef_out;
      row.note += (row.note.empty() ? "" : "\n      ") + std::string("SLEEF build not run: ") + why;
    }
    return row;
  }

 private:
  static std::string dirname(const std::string& s) {
    auto pos = s.rfind('/');
    return pos == std::string::npos ? "." : s.substr(0, pos);
  }
  Paths p_;
  bool quick_, verbose_, timing_, sleef_, dump_;
  std::map<std::string, Overload> overloads_;
};

}  // namespace

int main(int argc, char** argv) {
  std::set<std::string> only, configs;
  bool quick = false, verbose = false, timing = true, sleef = true, dump = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--kernel" && i + 1 < argc) only.insert(argv[++i]);
    else if (a == "--quick") quick = true;
    else if (a == "--verbose") verbose = true;
    else if (a == "--no-timing") timing = false;
    else if (a == "--no-sleef") sleef = false;
    else if (a == "--dump") dump = true;
    else if (a == "--config" && i + 1 < argc) configs.insert(argv[++i]);
    else {
      std::fprintf(stderr,
                   "usage: %s [--kernel NAME]... [--config f8|d16...]... [--quick] [--verbose] [--no-timing]"
                   " [--no-sleef] [--dump]\n",
                   argv[0]);
      return 2;
    }
  }
  Runner runner(Paths{}, quick, verbose, timing, sleef, dump);
  std::printf("%-13s %-6s %5s %6s | %9s %9s | %10s %10s %7s\n", "kernel", "prec", "width", "items",
              "err ours", "err SLEEF", "ns/item", "ns SLEEF", "speedup");
  std::printf("%-13s %-6s %5s %6s | %9s %9s | %10s %10s %7s\n", "", "", "", "", "(ulp)", "(ulp)", "ours",
              "", "");
  int ran = 0, failed = 0;
  for (const Kernel& k : qk::kernels()) {
    if (!only.empty() && !only.count(k.name)) continue;
    for (const Config& c : k.configs) {
      if (!configs.empty() && !configs.count((c.dbl ? "d" : "f") + std::to_string(c.width))) continue;
      Row r = runner.run(k, c);
      char ns_sleef[32] = "-", speedup[32] = "-", ns[32] = "-", err[32] = "-", err_s[32] = "-";
      if (r.sleef_ran) {
        if (r.ns_sleef > 0) std::snprintf(ns_sleef, sizeof ns_sleef, "%.2f", r.ns_sleef);
        std::snprintf(err_s, sizeof err_s, "%s", fmt_err(r.err_sleef).c_str());
      }
      if (r.ran) {
        ran++;
        if (r.ns > 0) std::snprintf(ns, sizeof ns, "%.2f", r.ns);
        std::snprintf(err, sizeof err, "%s", fmt_err(r.err).c_str());
        if (r.sleef_ran && r.ns > 0 && r.ns_sleef > 0) std::snprintf(speedup, sizeof speedup, "%.2fx", r.ns_sleef / r.ns);
      }
      if (!r.ok) failed++;
      if (r.ran || r.sleef_ran) {
        std::printf("%-13s %-6s %5d %6zu | %9s %9s | %10s %10s %7s%s\n", r.kernel.c_str(), r.prec.c_str(), r.width,
                    r.items, err, err_s, ns, ns_sleef, speedup, r.ok ? "" : "  FAIL");
        if (!r.ok) std::printf("      over the tolerance of %s ulp\n", fmt_err(r.tol).c_str());
      } else {
        std::printf("%-13s %-6s %5d        | %s\n", r.kernel.c_str(), r.prec.c_str(), r.width,
                    r.ok ? "" : "FAIL");
      }
      if (!r.note.empty()) std::printf("      %s\n", r.note.c_str());
      std::fflush(stdout);
    }
  }
  if (failed) return 1;
  return ran ? 0 : 77;
}
