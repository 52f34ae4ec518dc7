// Helpers for the scalar lane fallbacks (compiled as plain SSE code).
#pragma once
#include <cstdint>
#include <cstring>

#define QARN_FALLBACK extern "C" __attribute__((ms_abi, visibility("hidden")))

namespace qarn::sc {
inline double d_of(uint64_t b) { double d; std::memcpy(&d, &b, 8); return d; }
inline uint64_t bits_of(double d) { uint64_t b; std::memcpy(&b, &d, 8); return b; }
inline float f_of(uint32_t b) { float f; std::memcpy(&f, &b, 4); return f; }
inline uint32_t bits_of(float f) { uint32_t b; std::memcpy(&b, &f, 4); return b; }
// 2^m for a normal exponent, built by writing m + 1023 into the exponent field.
inline double pow2i(int m) { return d_of(uint64_t(m + 1023) << 52); }
// Keeps the compiler from folding an expression whose rounding or exception is the point.
template <class T> inline T opaque(T v) { asm volatile("" : "+x"(v)); return v; }
}  // namespace qarn::sc
