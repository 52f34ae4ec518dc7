// The kernels of kernels/cl built from source and run through PoCL's CPU device, either
// stock (PoCL's own built-ins) or on the library (the private PoCL prefix of
// pocl/poclgen.py, with the binding loaded into the process).  One flavour per process:
// PoCL reads its environment once, when the OpenCL platform is first asked for.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kernels.h"

namespace qp {

// ours: the prefix whose scalar built-ins the loop vectoriser can widen to the library's
// vector entries; ours_scalar: the prefix where every scalar call stays one call per
// work-item.
enum class Flavour { stock, ours, ours_scalar };

// Where the build put things (compile definitions by default).
struct Paths {
  std::string cl_dir, prefix, prefix_scalar, stock_icd, binding, served, widened, runner, runner_cache;
  std::string unavailable;  // why PoCL on the library was not set up at build time, if it was not
  static Paths built();
};

// One configuration's run through PoCL.
struct Result {
  bool ran = false;
  std::string why;            // why it did not run
  double ns = 0;              // time per work-item (0 when not timed)
  qk::Errors err;             // against the reference
  qk::Buffers out;            // every buffer after the run
  std::vector<std::string> kernel_objects;  // the shared objects PoCL made for it
};

class Session {
 public:
  // Sets up the environment of the flavour; PoCL itself starts at the first run.
  Session(Flavour f, Paths p);
  ~Session();
  // Empty if PoCL is there, in the version the kernel library was made from, with a
  // CPU device; else why not (the caller skips).
  const std::string& unavailable();
  std::string device_name() const { return device_name_; }
  Result run(const qk::Kernel& k, const qk::Config& c, bool quick, double timing_budget);
  // Any kernel: built from `source` with `options`, its arguments the buffers of `in`
  // in order, run over in.items work-items (err is left empty).
  Result run_source(const std::string& source, const std::string& options, const std::string& kernel,
                    const qk::Buffers& in, double timing_budget);
  const Paths& paths() const { return p_; }

 private:
  void start();
  Flavour f_;
  Paths p_;
  std::string cache_, why_, device_name_;
  bool started_ = false;
  void* binding_ = nullptr;
  void *platform_ = nullptr, *device_ = nullptr, *context_ = nullptr, *queue_ = nullptr;
};

// The runner's outputs of the same configuration on the library (qarn_kernels --dump),
// run now; empty with `why` set if the runner could not give them.
qk::Buffers runner_outputs(const Paths& p, const qk::Kernel& k, const qk::Config& c, std::string& why);

// Live elements of two runs that differ bit for bit, described (at most `limit`).
std::vector<std::string> differences(const qk::Config& c, const qk::Buffers& got, const qk::Buffers& want,
                                     size_t limit = 4);

// The built-ins a kernel calls and whether PoCL's kernel object reaches the library
// for each: `called` from the runner's object of the same source, `reached` those
// undefined in PoCL's object (for a widenable scalar built-in: its scalar entry or a
// vector entry), `kept` served built-ins PoCL's object defines itself.  `widenable`:
// the called scalar built-ins with vector entries; `widened`: those whose vector entries
// PoCL's object calls (with the lane counts, e.g. "exp(float) x8"); both as OpenCL names.
struct Reach {
  std::vector<std::string> called, reached, missing, kept, widenable, widened;
  std::string why;  // set if the objects could not be read
};
Reach reach(const Paths& p, const qk::Kernel& k, const qk::Config& c, const std::vector<std::string>& objects);

// The scalar built-ins whose vector entries PoCL's kernel objects call, as OpenCL names
// with the lane counts ("exp(float) x8"): in a width-1 kernel, the calls the loop
// vectoriser widened.
std::vector<std::string> widened_calls(const Paths& p, const std::vector<std::string>& objects);

std::string tag(const qk::Kernel& k, const qk::Config& c);

}  // namespace qp
