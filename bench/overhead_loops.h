// Loops compiled with the kernels' flags (bench_overhead_kernel.cpp), called from
// bench_overhead.cpp.  Pointers travel in rdx, rcx, r8 and r9: the first two
// integer arguments are placeholders, since rdi and rsi are fixed there.
#pragma once

namespace qbench::kernel_flags {

using Loop = void (*)(long, long, const void* x, void* r, long n, const void* fn);
struct LoopSet {
  Loop main, frame, call;
};
extern const LoopSet expf8, exp4;

// Width-1 exports, one element per call; two-argument loops read y at x + n.
// The list ends with a null name.
struct Width1Loops {
  const char* name;
  int args;
  LoopSet loops;
};
extern const Width1Loops width1[], width1_atrig[];

}  // namespace qbench::kernel_flags
