#include "session.h"

#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

namespace qp {

namespace {

std::string capture(const std::string& cmd, int* status) { return qk::run_capture(cmd, status); }

std::string quoted(const std::string& s) { return "'" + s + "'"; }


// Every regular file under dir whose name ends in `suffix`.
void find_files(const std::string& dir, const std::string& suffix, std::set<std::string>& out) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    std::string p = dir + "/" + n;
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) find_files(p, suffix, out);
    else if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
      out.insert(p);
  }
  closedir(d);
}

void remove_tree(const std::string& dir) {
  if (dir.empty()) return;
  int st;
  capture("rm -rf " + quoted(dir), &st);
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string platform_string(cl_platform_id p, cl_platform_info what) {
  char b[1024] = {0};
  clGetPlatformInfo(p, what, sizeof b - 1, b, nullptr);
  return b;
}

// `_Z3expDv8_f` -> `_Z7_cl_expDv8_f`: PoCL's headers put `_cl_` before every built-in.
std::string cl_name(const std::string& m) {
  size_t i = 2, n = 0;
  while (i < m.size() && isdigit(static_cast<unsigned char>(m[i]))) n = n * 10 + (m[i++] - '0');
  return "_Z" + std::to_string(n + 4) + "_cl_" + m.substr(i);
}

std::vector<std::string> symbols(const std::string& obj, const char* which, std::string& why) {
  int st;
  std::string out = capture(std::string("nm -D ") + which + " " + quoted(obj), &st);
  std::vector<std::string> syms;
  if (st != 0) {
    why = "nm failed on " + obj + ": " + out;
    return syms;
  }
  std::stringstream ss(out);
  std::string line;
  while (std::getline(ss, line)) {
    auto pos = line.find_last_of(' ');
    syms.push_back(pos == std::string::npos ? line : line.substr(pos + 1));
  }
  return syms;
}

}  // namespace

std::string tag(const qk::Kernel& k, const qk::Config& c) {
  return k.name + (c.dbl ? "_d" : "_f") + std::to_string(c.width);
}

Paths Paths::built() {
  Paths p;
  p.cl_dir = QARN_CL_DIR;
  p.prefix = QARN_POCL_PREFIX;
  p.stock_icd = QARN_POCL_STOCK_VENDORS;
  p.binding = QARN_POCL_BINDING;
  p.served = QARN_POCL_SERVED;
  p.widened = QARN_POCL_WIDENED;
  p.prefix_scalar = p.prefix.empty() ? "" : p.prefix + "-scalar";
  p.runner = QARN_RUNNER;
  p.runner_cache = QARN_KERNEL_CACHE;
  p.unavailable = QARN_POCL_UNAVAILABLE;
  return p;
}

Session::Session(Flavour f, Paths p) : f_(f), p_(std::move(p)) {
  if (!p_.unavailable.empty()) {
    why_ = p_.unavailable;
    return;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/qarn-pocl-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) {
    why_ = "cannot make a cache directory for PoCL";
    return;
  }
  cache_ = buf.data();
  // A private cache: the kernel objects PoCL makes are ours to read, and a kernel built
  // by the other flavour (or by an older kernel library) is never taken for this one.
  setenv("POCL_CACHE_DIR", cache_.c_str(), 1);
  // The AVX kernel library and an AVX target: the library's registers and Clang's
  // placement of vectors in them are those of AVX without AVX-512, and stock PoCL is
  // measured on the same instructions.
  setenv("POCL_KERNELLIB_NAME", "avx", 1);
  // One thread: time per work-item comparable with the runner's.
  setenv("POCL_MAX_PTHREAD_COUNT", "1", 1);
  if (f_ != Flavour::stock) {
    setenv("OCL_ICD_VENDORS",
           ((f_ == Flavour::ours ? p_.prefix : p_.prefix_scalar) + "/etc/OpenCL/vendors").c_str(), 1);
    // The binding's `_cl_` entries, where PoCL's kernel objects look for them.
    binding_ = dlopen(p_.binding.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!binding_) why_ = std::string("cannot load the PoCL binding: ") + dlerror();
  } else {
    setenv("OCL_ICD_VENDORS", p_.stock_icd.c_str(), 1);
  }
}

Session::~Session() {
  if (queue_) clReleaseCommandQueue(static_cast<cl_command_queue>(queue_));
  if (context_) clReleaseContext(static_cast<cl_context>(context_));
  if (!std::getenv("QARN_POCL_KEEP_CACHE")) remove_tree(cache_);
}

void Session::start() {
  if (started_) return;
  started_ = true;
  if (!why_.empty()) return;
  cl_uint n = 0;
  if (clGetPlatformIDs(0, nullptr, &n) != CL_SUCCESS || n == 0) {
    why_ = "no OpenCL platform (is pocl-opencl-icd installed?)";
    return;
  }
  std::vector<cl_platform_id> ps(n);
  clGetPlatformIDs(n, ps.data(), nullptr);
  cl_platform_id pocl = nullptr;
  std::string version;
  for (auto p : ps) {
    std::string v = platform_string(p, CL_PLATFORM_VERSION);
    if (v.find("PoCL") != std::string::npos) pocl = p, version = v;
  }
  if (!pocl) {
    why_ = "no PoCL platform among the OpenCL platforms";
    return;
  }
  // The kernel library was made from PoCL 3.1's: another version names, mangles or
  // places its built-ins its own way.
  if (version.find("PoCL 3.1") == std::string::npos) {
    why_ = "PoCL is \"" + version + "\", the kernel library was made for PoCL 3.1";
    return;
  }
  cl_device_id d;
  if (clGetDeviceIDs(pocl, CL_DEVICE_TYPE_CPU, 1, &d, nullptr) != CL_SUCCESS) {
    why_ = "PoCL has no CPU device";
    return;
  }
  char name[256] = {0};
  clGetDeviceInfo(d, CL_DEVICE_NAME, sizeof name - 1, name, nullptr);
  device_name_ = name;
  cl_int e;
  cl_context ctx = clCreateContext(nullptr, 1, &d, nullptr, nullptr, &e);
  if (e != CL_SUCCESS) {
    why_ = "clCreateContext failed: " + std::to_string(e);
    return;
  }
  cl_command_queue q = clCreateCommandQueue(ctx, d, 0, &e);
  if (e != CL_SUCCESS) {
    why_ = "clCreateCommandQueue failed: " + std::to_string(e);
    return;
  }
  platform_ = pocl, device_ = d, context_ = ctx, queue_ = q;
}

const std::string& Session::unavailable() {
  start();
  return why_;
}

Result Session::run(const qk::Kernel& k, const qk::Config& c, bool quick, double timing_budget) {
  std::string src = read_file(p_.cl_dir + "/" + k.name + ".cl");
  std::string ws = c.width == 1 ? "" : std::to_string(c.width);
  std::string opts = "-cl-std=CL1.2 -I" + p_.cl_dir + " -DREAL=" + (c.dbl ? "double" : "float") +
                     " -DW=" + std::to_string(c.width) + " -DWS=" + ws + " -DIS_DOUBLE=" + (c.dbl ? "1" : "0");
  Result r = run_source(src, opts, k.name, k.make(c, quick), timing_budget);
  if (r.ran) r.err = k.check(c, r.out);
  return r;
}

Result Session::run_source(const std::string& src, const std::string& opts, const std::string& kernel,
                           const qk::Buffers& in, double timing_budget) {
  Result r;
  if (!unavailable().empty()) {
    r.why = why_;
    return r;
  }
  auto ctx = static_cast<cl_context>(context_);
  auto q = static_cast<cl_command_queue>(queue_);
  auto d = static_cast<cl_device_id>(device_);
  std::set<std::string> before, after;
  find_files(cache_, ".so", before);

  const char* s = src.c_str();
  cl_int e;
  cl_program prog = clCreateProgramWithSource(ctx, 1, &s, nullptr, &e);
  e = clBuildProgram(prog, 1, &d, opts.c_str(), nullptr, nullptr);
  if (e != CL_SUCCESS) {
    std::vector<char> log(1 << 16);
    clGetProgramBuildInfo(prog, d, CL_PROGRAM_BUILD_LOG, log.size() - 1, log.data(), nullptr);
    r.why = "clBuildProgram failed (" + std::to_string(e) + "): " + log.data();
    clReleaseProgram(prog);
    return r;
  }
  cl_kernel kern = clCreateKernel(prog, kernel.c_str(), &e);
  std::vector<cl_mem> mems;
  for (size_t i = 0; i < in.bufs.size(); i++) {
    auto& b = in.bufs[i];
    mems.push_back(clCreateBuffer(ctx, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, b.bytes, b.data.get(), &e));
    clSetKernelArg(kern, cl_uint(i), sizeof(cl_mem), &mems.back());
  }
  size_t global = in.items;
  auto launch = [&] {
    cl_int st = clEnqueueNDRangeKernel(q, kern, 1, nullptr, &global, nullptr, 0, nullptr, nullptr);
    clFinish(q);
    return st;
  };
  e = launch();
  if (e != CL_SUCCESS) {
    r.why = "clEnqueueNDRangeKernel failed: " + std::to_string(e);
  } else {
    r.out = in;
    for (size_t i = 0; i < in.bufs.size(); i++)
      clEnqueueReadBuffer(q, mems[i], CL_TRUE, 0, r.out.bufs[i].bytes, r.out.bufs[i].data.get(), 0, nullptr, nullptr);
    r.ran = true;
    if (timing_budget > 0) {
      using clk = std::chrono::steady_clock;
      auto t0 = clk::now();
      launch();
      double once = std::chrono::duration<double>(clk::now() - t0).count();
      int reps = std::max(1, int(timing_budget / 5 / std::max(once, 1e-9)));
      double best = 1e30;
      for (int trial = 0; trial < 5; trial++) {
        auto a = clk::now();
        for (int i = 0; i < reps; i++) launch();
        best = std::min(best, std::chrono::duration<double>(clk::now() - a).count() / reps);
      }
      r.ns = best / double(in.items) * 1e9;
    }
  }
  for (auto m : mems) clReleaseMemObject(m);
  clReleaseKernel(kern);
  clReleaseProgram(prog);
  find_files(cache_, ".so", after);
  for (auto& f : after)
    if (!before.count(f)) r.kernel_objects.push_back(f);
  return r;
}

qk::Buffers runner_outputs(const Paths& p, const qk::Kernel& k, const qk::Config& c, std::string& why) {
  std::string cfg = (c.dbl ? "d" : "f") + std::to_string(c.width);
  std::string dump = p.runner_cache + "/" + tag(k, c) + ".out";
  // The runner writes its object and outputs under fixed names: tests of the same
  // configuration running at once (ctest -j) take turns.
  int st;
  capture("mkdir -p " + quoted(p.runner_cache), &st);
  std::string lock_path = p.runner_cache + "/" + tag(k, c) + ".lock";
  int lock = open(lock_path.c_str(), O_RDWR | O_CREAT, 0644);
  if (lock >= 0) flock(lock, LOCK_EX);
  struct Unlock {
    int fd;
    ~Unlock() {
      if (fd >= 0) close(fd);  // closing releases the lock
    }
  } unlock{lock};
  std::remove(dump.c_str());
  std::string out = capture(quoted(p.runner) + " --quick --no-timing --no-sleef --dump --kernel " + k.name +
                                " --config " + cfg, &st);
  qk::Buffers b = k.make(c, true);
  std::string bytes = read_file(dump);
  size_t total = 0;
  for (auto& buf : b.bufs) total += buf.bytes;
  if (bytes.size() != total) {
    why = "the runner gave no outputs for " + tag(k, c) + ":\n" + out;
    return {};
  }
  size_t off = 0;
  for (auto& buf : b.bufs) {
    std::memcpy(buf.data.get(), bytes.data() + off, buf.bytes);
    off += buf.bytes;
  }
  return b;
}

std::vector<std::string> differences(const qk::Config& c, const qk::Buffers& got, const qk::Buffers& want,
                                     size_t limit) {
  std::vector<std::string> out;
  size_t count = 0;
  for (size_t i = 0; i < want.bufs.size() && i < got.bufs.size(); i++) {
    const auto& g = got.bufs[i];
    const auto& w = want.bufs[i];
    // Element size: width 3 keeps a dead fourth lane whose bits nobody promises.
    size_t slots = want.items * (c.width == 3 ? 4 : c.width);
    size_t es = slots && w.bytes % slots == 0 ? w.bytes / slots : 1;
    if (es != 4 && es != 8) es = 1;
    for (size_t off = 0; off + es <= w.bytes; off += es) {
      size_t idx = off / es;
      if (c.width == 3 && es > 1 && idx % 4 == 3) continue;
      if (std::memcmp(g.data.get() + off, w.data.get() + off, es) == 0) continue;
      if (count++ < limit) {
        uint64_t a = 0, b = 0;
        std::memcpy(&a, g.data.get() + off, es);
        std::memcpy(&b, w.data.get() + off, es);
        char line[200];
        if (es == 8) {
          double da, db;
          std::memcpy(&da, &a, 8), std::memcpy(&db, &b, 8);
          std::snprintf(line, sizeof line, "%s[%zu]: %.17g (0x%016llx), runner %.17g (0x%016llx)", w.name.c_str(), idx,
                        da, (unsigned long long)a, db, (unsigned long long)b);
        } else if (es == 4) {
          float fa, fb;
          std::memcpy(&fa, &a, 4), std::memcpy(&fb, &b, 4);
          std::snprintf(line, sizeof line, "%s[%zu]: %.9g (0x%08llx), runner %.9g (0x%08llx)", w.name.c_str(), idx,
                        fa, (unsigned long long)a, fb, (unsigned long long)b);
        } else {
          std::snprintf(line, sizeof line, "%s byte %zu: 0x%02llx, runner 0x%02llx", w.name.c_str(), idx,
                        (unsigned long long)a, (unsigned long long)b);
        }
        out.push_back(line);
      }
    }
  }
  if (count > limit) out.push_back("... " + std::to_string(count) + " elements differ in all");
  return out;
}

namespace {

std::vector<std::vector<std::string>> read_table(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    std::vector<std::string> col;
    std::stringstream ss(line);
    std::string x;
    while (std::getline(ss, x, '\t')) col.push_back(x);
    if (!col.empty() && !col[0].empty()) rows.push_back(col);
  }
  return rows;
}

// "float exp(float)" -> "exp(float)"
std::string short_decl(const std::string& decl) {
  auto paren = decl.find('(');
  auto space = decl.rfind(' ', paren);
  return space == std::string::npos ? decl : decl.substr(space + 1);
}

// Widenable scalar built-ins: `_cl_` name -> scalar entry, vector entries, declaration.
struct Widenable {
  std::string scalar, decl;
  std::vector<std::string> vectors;
};

std::map<std::string, Widenable> read_widenable(const Paths& p) {
  std::map<std::string, Widenable> widenable;
  for (auto& col : read_table(p.widened)) {
    if (col.size() < 4) continue;
    Widenable w{col[1], short_decl(col[3]), {}};
    std::stringstream ss(col[2]);
    std::string v;
    while (std::getline(ss, v, ',')) w.vectors.push_back(v);
    widenable[col[0]] = w;
  }
  return widenable;
}

// " x8" (or " x4,8") for the vector entries of `w` undefined in a kernel object, else "".
std::string lanes_called(const Widenable& w, const std::set<std::string>& undef) {
  std::string lanes;
  for (auto& v : w.vectors) {
    if (!undef.count(v)) continue;
    size_t a = v.find("Dv") + 2, b = v.find('_', a);
    lanes += (lanes.empty() ? " x" : ",") + v.substr(a, b - a);
  }
  return lanes;
}

std::set<std::string> undefined_symbols(const std::vector<std::string>& objects, std::string& why) {
  std::set<std::string> undef;
  for (auto& o : objects)
    for (auto& s : symbols(o, "--undefined-only", why)) undef.insert(s);
  return undef;
}

}  // namespace

std::vector<std::string> widened_calls(const Paths& p, const std::vector<std::string>& objects) {
  std::string why;
  std::set<std::string> undef = undefined_symbols(objects, why);
  std::vector<std::string> out;
  for (auto& [name, w] : read_widenable(p)) {
    std::string lanes = lanes_called(w, undef);
    if (!lanes.empty()) out.push_back(w.decl + lanes);
  }
  return out;
}

Reach reach(const Paths& p, const qk::Kernel& k, const qk::Config& c, const std::vector<std::string>& objects) {
  Reach r;
  // The served `_cl_` names.
  std::set<std::string> served;
  for (auto& col : read_table(p.served)) served.insert(col[0]);
  std::map<std::string, Widenable> widenable = read_widenable(p);
  if (served.empty()) {
    r.why = "no served built-ins listed in " + p.served;
    return r;
  }
  if (objects.empty()) {
    r.why = "PoCL left no kernel object in its cache";
    return r;
  }
  std::set<std::string> undef, defined;
  for (auto& o : objects) {
    for (auto& s : symbols(o, "--undefined-only", r.why)) undef.insert(s);
    for (auto& s : symbols(o, "--defined-only", r.why)) defined.insert(s);
  }
  std::string obj = p.runner_cache + "/" + tag(k, c) + ".o";
  int st;
  std::string out = capture("nm -u " + quoted(obj), &st);
  if (st != 0) {
    r.why = "cannot read the runner's object " + obj + ": " + out;
    return r;
  }
  std::stringstream ss(out);
  std::string w, sym;
  while (ss >> w >> sym) {
    if (sym.rfind("_Z", 0) != 0 || sym == "_Z13get_global_idj" || sym == "_Z15get_global_sizej") continue;
    r.called.push_back(sym);
    std::string cl = cl_name(sym);
    auto w = widenable.find(cl);
    std::string lanes;
    if (w != widenable.end()) {
      r.widenable.push_back(w->second.decl);
      lanes = lanes_called(w->second, undef);
      if (!lanes.empty()) r.widened.push_back(w->second.decl + lanes);
    }
    if (undef.count(cl) || (w != widenable.end() && (undef.count(w->second.scalar) || !lanes.empty()))) {
      r.reached.push_back(cl);
    } else {
      r.missing.push_back(cl + (served.count(cl) ? "" : " (not a built-in the library serves)"));
    }
  }
  for (auto& s : defined)
    if (served.count(s)) r.kept.push_back(s);
  return r;
}

}  // namespace qp
