// Coverage for libFuzzer from GCC-instrumented code (the sanitizer build only).
//
// GCC's -fsanitize-coverage=trace-pc calls __sanitizer_cov_trace_pc at every basic
// block; the libFuzzer of this system no longer reads that callback, but it reads
// 8-bit counters handed to it at start-up.  This keeps a counter per caller address
// (hashed into 64 Ki counters) and registers them when libFuzzer is linked in; in
// any other program the counters are kept and nobody reads them.
#include <cstdint>

extern "C" __attribute__((weak)) void __sanitizer_cov_8bit_counters_init(uint8_t* begin, uint8_t* end);

namespace {
constexpr uintptr_t kCounters = 1 << 16;
uint8_t counters[kCounters];
struct Register {
  Register() {
    if (__sanitizer_cov_8bit_counters_init) __sanitizer_cov_8bit_counters_init(counters, counters + kCounters);
  }
} registered;
}  // namespace

extern "C" __attribute__((no_sanitize("address", "undefined"), visibility("default"))) void __sanitizer_cov_trace_pc() {
  uintptr_t pc = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  uint8_t& c = counters[(pc ^ (pc >> 16)) & (kCounters - 1)];
  c = uint8_t(c + 1 + (c == 255));  // saturates at 255 without wrapping to 0
}
