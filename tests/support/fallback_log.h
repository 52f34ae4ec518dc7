// Records the calls of the lane fallbacks.  A white-box test links the library's
// objects with every fallback wrapped (-Wl,--wrap=NAME, listed by the build in
// wrap.rsp) and the generated wrappers (fallback_wraps.inc): every call the lane
// loop makes is logged (which fallback, every pointer it got, the first input
// lane's bits) before the real fallback runs.  Exactly one file of such a test
// includes "fallback_wraps.inc" after this header.
#pragma once
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace qarn::abi {
struct FallbackCall {
  std::string fn;
  uint64_t x;                   // bits of the first input lane
  uintptr_t xp, rp;             // the first input's and the first output's slot
  std::vector<uintptr_t> ptrs;  // every pointer, inputs then outputs
  std::vector<int> lane_bytes;  // the lane size behind each pointer
  int inputs = 1;
};
inline std::vector<FallbackCall>& fallback_calls() {
  static std::vector<FallbackCall> calls;
  return calls;
}
inline void record_fallback(const char* fn, std::initializer_list<uintptr_t> ptrs,
                            std::initializer_list<int> bytes, int inputs) {
  FallbackCall c{fn, 0, 0, 0, ptrs, bytes, inputs};
  std::memcpy(&c.x, reinterpret_cast<const void*>(c.ptrs[0]), c.lane_bytes[0]);
  c.xp = c.ptrs[0];
  c.rp = c.ptrs[inputs];
  fallback_calls().push_back(c);
}
}  // namespace qarn::abi

