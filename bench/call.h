// Calling the library's exports from benchmark loops.
//
// An export of the register form takes its vector arguments in xmm/ymm 0-3 and
// returns its result in the same registers, and preserves rbx, rbp, rdi, rsi,
// r12-r15 and all of ymm6-ymm15.  call_regs() makes exactly such a call: the four
// argument/result registers are bound as in-out operands and only what the export
// may destroy is listed as clobbered, so the compiler keeps anything it likes in
// ymm6-ymm15 across the call, as a compiled kernel would.  Unlike a call through a
// C prototype this also hands back every result register of the wide exports
// (float16: lanes 8-15 in ymm1; double8 and double16: ymm1-ymm3).
#pragma once
#include <immintrin.h>
#include <cstdint>

namespace qbench {

// Vectors travel as raw 256-bit register contents; the casts below cost nothing.
using R = __m256;

inline R as_r(__m128 v) { return _mm256_castps128_ps256(v); }
inline R as_r(__m128d v) { return _mm256_castps128_ps256(_mm_castpd_ps(v)); }
inline R as_r(__m256d v) { return _mm256_castpd_ps(v); }
inline R as_r(__m256 v) { return v; }

// Calls fn with v[0..3] in ymm0-ymm3 and leaves ymm0-ymm3 after the call in v.
// The export expects a 16-byte aligned stack at the call, and the return address
// it pushes must not land in the 128 bytes below our stack pointer that the
// compiler may be using, so the call runs on an aligned stack below them; the old
// stack pointer waits in r12, which the export preserves.
inline __attribute__((always_inline)) void call_regs(const void* fn, R (&v)[4]) {
  register R r0 asm("xmm0") = v[0];
  register R r1 asm("xmm1") = v[1];
  register R r2 asm("xmm2") = v[2];
  register R r3 asm("xmm3") = v[3];
  asm volatile(
      "mov %%rsp, %%r12\n\t"
      "sub $128, %%rsp\n\t"
      "and $-32, %%rsp\n\t"
      "call *%[fn]\n\t"
      "mov %%r12, %%rsp"
      : "+x"(r0), "+x"(r1), "+x"(r2), "+x"(r3)
      : [fn] "r"(fn)
      : "rax", "rcx", "rdx", "r8", "r9", "r10", "r11", "r12", "xmm4", "xmm5", "cc");
  v[0] = r0;
  v[1] = r1;
  v[2] = r2;
  v[3] = r3;
}

// Calls fn with v[0..3] in ymm0-ymm3 and g[0..3] in rcx, rdx, r8, r9; returns rax.
inline __attribute__((always_inline)) uint64_t call_regs_gp(const void* fn, R (&v)[4], const uint64_t (&g)[4]) {
  register R r0 asm("xmm0") = v[0];
  register R r1 asm("xmm1") = v[1];
  register R r2 asm("xmm2") = v[2];
  register R r3 asm("xmm3") = v[3];
  register uint64_t c asm("rcx") = g[0];
  register uint64_t d asm("rdx") = g[1];
  register uint64_t r8 asm("r8") = g[2];
  register uint64_t r9 asm("r9") = g[3];
  register uint64_t a asm("rax");
  asm volatile(
      "mov %%rsp, %%r12\n\t"
      "sub $128, %%rsp\n\t"
      "and $-32, %%rsp\n\t"
      "call *%[fn]\n\t"
      "mov %%r12, %%rsp"
      : "+x"(r0), "+x"(r1), "+x"(r2), "+x"(r3), "+r"(c), "+r"(d), "+r"(r8), "+r"(r9), "=r"(a)
      : [fn] "r"(fn)
      : "r10", "r11", "r12", "xmm4", "xmm5", "cc", "memory");
  v[0] = r0;
  v[1] = r1;
  v[2] = r2;
  v[3] = r3;
  return a;
}

// Calls a by-reference export: result buffer in rcx, addresses in rdx, r8, r9,
// the Windows x64 rules (32-byte home area above the return address; xmm6-xmm15
// only preserved in their low halves).
inline __attribute__((always_inline)) void call_ref(const void* fn, const uint64_t (&g)[4]) {
  register uint64_t c asm("rcx") = g[0];
  register uint64_t d asm("rdx") = g[1];
  register uint64_t r8 asm("r8") = g[2];
  register uint64_t r9 asm("r9") = g[3];
  asm volatile(
      "mov %%rsp, %%r12\n\t"
      "sub $256, %%rsp\n\t"
      "and $-32, %%rsp\n\t"
      "call *%[fn]\n\t"
      "mov %%r12, %%rsp"
      : "+r"(c), "+r"(d), "+r"(r8), "+r"(r9)
      : [fn] "r"(fn)
      : "rax", "r10", "r11", "r12", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
        "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "cc", "memory");
}

// Storage of one vector of width W in elements (width 3 takes four lanes).
template <int W> inline constexpr int stride = W == 3 ? 4 : W;

// Register group of one vector: lanes per register and number of registers.
template <class T, int W> struct shape {
  static constexpr int lanes = sizeof(T) == 4 ? (W <= 4 ? 4 : 8) : (W <= 2 ? 2 : 4);
  static constexpr int regs = W <= lanes ? 1 : W / lanes;
};

// Loads the vector at p into consecutive registers v[0..], reading only the bytes
// the vector occupies (width 1 and 2 leave the other lanes zero).
template <class T, int W> inline __attribute__((always_inline)) void load(const T* p, R* v) {
  if constexpr (sizeof(T) == 4) {
    if constexpr (W == 1) v[0] = as_r(_mm_load_ss(p));
    else if constexpr (W == 2) v[0] = as_r(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(p))));
    else if constexpr (W <= 4) v[0] = as_r(_mm_load_ps(p));
    else
      for (int i = 0; i < W / 8; ++i) v[i] = _mm256_load_ps(p + 8 * i);
  } else {
    if constexpr (W == 1) v[0] = as_r(_mm_load_sd(p));
    else if constexpr (W == 2) v[0] = as_r(_mm_load_pd(p));
    else if constexpr (W <= 4) v[0] = as_r(_mm256_load_pd(p));
    else
      for (int i = 0; i < W / 4; ++i) v[i] = as_r(_mm256_load_pd(p + 4 * i));
  }
}

// Stores the lanes of a result that belong to the value (all four for width 3).
template <class T, int W> inline __attribute__((always_inline)) void store(T* p, const R* v) {
  if constexpr (sizeof(T) == 4) {
    if constexpr (W == 1) _mm_store_ss(p, _mm256_castps256_ps128(v[0]));
    else if constexpr (W == 2) _mm_storel_pi(reinterpret_cast<__m64*>(p), _mm256_castps256_ps128(v[0]));
    else if constexpr (W <= 4) _mm_store_ps(p, _mm256_castps256_ps128(v[0]));
    else
      for (int i = 0; i < W / 8; ++i) _mm256_store_ps(p + 8 * i, v[i]);
  } else {
    if constexpr (W == 1) _mm_store_sd(p, _mm_castps_pd(_mm256_castps256_ps128(v[0])));
    else if constexpr (W == 2) _mm_store_pd(p, _mm_castps_pd(_mm256_castps256_ps128(v[0])));
    else if constexpr (W <= 4) _mm256_store_pd(p, _mm256_castps_pd(v[0]));
    else
      for (int i = 0; i < W / 4; ++i) _mm256_store_pd(p + 4 * i, _mm256_castps_pd(v[i]));
  }
}

}  // namespace qbench
