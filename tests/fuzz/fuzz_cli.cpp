// The command-line notation of values, fuzzed: any text either parses or is refused
// with BadInput (nothing else is thrown, nothing crashes), and every lane that
// parses prints as text that reads back as the same bits.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli.h"

namespace cli = qarn::cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const cli::Lane types[] = {cli::Lane::f32, cli::Lane::f64, cli::Lane::i32,
                             cli::Lane::u32, cli::Lane::i64, cli::Lane::u64};
  cli::Lane t = types[data[0] % 6];
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    uint64_t bits = cli::parse_lane(text, t);
    std::string shown = cli::format_lane(bits, t);
    // Every column of the printed lane reads back: the value, the hex float, the pattern.
    size_t from = 0;
    while (from < shown.size()) {
      size_t to = shown.find(' ', from);
      if (to == std::string::npos) to = shown.size();
      std::string_view col(shown.data() + from, to - from);
      if (!col.empty() && cli::parse_lane(col, t) != bits && !(cli::is_floating(t) && col.starts_with("nan")))
        __builtin_trap();
      from = to + 1;
    }
  } catch (const cli::BadInput&) {
  }
  try {
    double v = cli::parse_finite(text, data[0] & 1 ? cli::Lane::f64 : cli::Lane::f32);
    if (!(v == v) || v - v != 0) __builtin_trap();  // finite, as promised
  } catch (const cli::BadInput&) {
  }
  try {
    uint64_t n = cli::parse_count(text, "n", 3, 1000);
    if (n < 3 || n > 1000) __builtin_trap();
  } catch (const cli::BadInput&) {
  }
  return 0;
}
