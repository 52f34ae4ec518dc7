// Records the calls of wrapped one-input lane fallbacks.  A white-box test links
// the library's objects with -Wl,--wrap=NAME for each fallback and instantiates
// QARN_RECORD_FALLBACK(NAME, T): every call the lane loop makes is logged (which
// fallback, the input lane's bits, the addresses of its input and result slots)
// before the real fallback runs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/invoke.h"

namespace qarn::abi {
struct FallbackCall {
  std::string fn;
  uint64_t x;
  uintptr_t xp, rp;
};
inline std::vector<FallbackCall>& fallback_calls() {
  static std::vector<FallbackCall> calls;
  return calls;
}
}  // namespace qarn::abi

#define QARN_RECORD_FALLBACK(name, T)                                                            \
  extern "C" __attribute__((ms_abi)) void __real_##name(const T*, T*);                           \
  extern "C" __attribute__((ms_abi)) void __wrap_##name(const T* x, T* r) {                      \
    qarn::abi::fallback_calls().push_back({#name, qarn::abi::bits_of(*x), uintptr_t(x), uintptr_t(r)}); \
    __real_##name(x, r);                                                                         \
  }
