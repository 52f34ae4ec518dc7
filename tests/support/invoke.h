// Calls any export through the register-level caller, placing every argument
// lane where the calling convention puts it and reading every result lane back,
// so tests and qarn work on lanes and never on C prototypes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/regcall.h"
#include "support/registry.h"

namespace qarn::abi {

// Lane bit patterns of one vector (4-byte lanes use the low 32 bits).
using Lanes = std::vector<uint64_t>;

struct Shape {
  std::string args, ptrs, results;  // kinds, one letter per vector
  int width = 1;
  int lanes = 1;                    // storage lanes (4 for width 3)
  int lane_bytes(char kind) const;
  char prec = 'f';
};
Shape shape_of(const reg::Export& e);

struct Outcome {
  std::vector<Lanes> results;   // register results, then pointer results
  RegBlock before{}, after{};
  bool caller_area_intact = true, rsp_balanced = true, guards_intact = true;
  bool home_area_intact = true;
  uintptr_t returned = 0, buffer = 0;  // by-reference form: rax and the buffer address
};

// One call made ready: the register block and the guarded buffers of the pointer
// arguments and of the by-reference form.  It can be run any number of times on any
// stack, from any thread or signal handler: running and comparing allocate nothing.
class Call {
 public:
  Call() = default;
  Call(Call&&) = default;
  Call& operator=(Call&&) = default;
  Call(const Call&) = delete;  // the registers point into the buffers
  const reg::Export* e = nullptr;
  const void* fn = nullptr;
  RegBlock before{}, after{};
  // Restores the output buffers' guard bytes, calls the export on `stack`.
  void run(Stack& stack);
  // Whether this call's results (registers and stored lanes) are those of `ref`, a
  // run of the same call.
  bool same_results(const Call& ref) const;

 private:
  friend class Invoker;
  struct Buf { std::vector<uint8_t> mem; uint8_t* p = nullptr; int bytes = 0; };
  std::vector<Buf> ptr_bufs_, arg_bufs_;
  Buf out_;  // by-reference result buffer
  int out_bytes_ = 0;
  int result_regs_ = 0;      // vector registers holding results
  bool rax_result_ = false;  // width-1 integer results come back in rax
};

class Invoker {
 public:
  // Exports are looked up in the shared library at `so_path`, or with nullptr in the
  // program itself (white-box tests link the static library with -rdynamic).
  explicit Invoker(const char* so_path);
  ~Invoker();
  const void* address(const reg::Export& e) const;
  // `args` holds one Lanes per argument (shape().args order), `lanes` entries each.
  // `garbage` seeds every register and the unused lanes; `misalign` shifts by-ref buffers.
  // `mxcsr` is loaded for the call (the x87 control word is the calling thread's).
  Outcome call(const reg::Export& e, const std::vector<Lanes>& args, uint64_t garbage = 1,
               int misalign = 0, uint32_t mxcsr = 0x1F80) const;
  Call prepare(const reg::Export& e, const std::vector<Lanes>& args, uint64_t garbage = 1, int misalign = 0,
               uint32_t mxcsr = 0x1F80) const;
  // The lanes of a call that has run, with the checks of Outcome.
  Outcome outcome(const Call& c, const Stack& stack) const;
  // The rounding direction of the calls call() makes from here on, in MXCSR and in
  // the x87 control word alike: 0 to nearest, 1 down, 2 up, 3 toward zero (kModeNames).
  void set_rounding(int mode) { mode_ = mode & 3; }

 private:
  void* so_ = nullptr;
  int mode_ = 0;
  mutable Stack stack_;
};

// Bit helpers for tests.
inline uint64_t bits_of(double d) { uint64_t b; __builtin_memcpy(&b, &d, 8); return b; }
inline uint64_t bits_of(float f) { uint32_t b; __builtin_memcpy(&b, &f, 4); return b; }
inline double as_double(uint64_t b) { double d; __builtin_memcpy(&d, &b, 8); return d; }
inline float as_float(uint64_t b) { uint32_t u = uint32_t(b); float f; __builtin_memcpy(&f, &u, 4); return f; }

inline constexpr const char* kModeNames[4] = {"nearest", "down", "up", "zero"};

// Random register contents (splitmix64 stream from `seed`), MXCSR at its default.
RegBlock random_block(uint64_t seed);

// Path of the built shared library (set by the build).
const char* library_path();

}  // namespace qarn::abi
