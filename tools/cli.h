// Command-line input shared by qarn, float_sweep, intdiv_sweep and qarn_bench:
// numbers read whole and exactly, or refused with a message that says why, and a
// progress line for long runs.
//
// Lane values (the notation `qarn --help` documents):
//   floating lanes   1.5  -2e-3  .5        decimal, rounded to the nearest float/double
//                    0x1.8p+3  -0x1p-126   hex float: the binary exponent p is required,
//                                          and the value must be exact in the lane
//                    inf  -inf  nan  -nan  infinities; the default quiet NaN
//                    nan:0x123  -snan:0x1  quiet / signalling NaN with that payload
//                                          (snan alone has payload 1)
//   integer lanes    -16  0x10  -0x10      decimal or hex numbers; 1e6 is 1000000;
//                                          the value must be whole and in the lane's range
//   any lane         bits:0x3f800000       the raw pattern, at most the lane's width
// A hex numeral is always a number: 0x10 is 16 and -0x10 is -16 on integer lanes; on
// floating lanes a hex numeral without p is refused (write 0x10p0 or bits:0x10).
#pragma once
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qarn::cli {

// Thrown by the parsers; what() is the message for the user (without program name).
struct BadInput : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The type of one lane.
enum class Lane : uint8_t { f32, f64, i32, u32, i64, u64 };
const char* lane_name(Lane t);  // "float", "double", "int", "uint", "long", "ulong"
inline bool is_floating(Lane t) { return t == Lane::f32 || t == Lane::f64; }

// The notation above as --help prints it (lines indented by two spaces).
extern const char kValueNotation[];

// The bit pattern of one lane written in the notation above (low bits for 4-byte lanes).
uint64_t parse_lane(std::string_view text, Lane t);

// A lane shown in columns a person reads and can paste back: value, hex float (floating
// lanes), bits:0x... pattern.
std::string format_lane(uint64_t bits, Lane t);

// A finite floating number (bounds of an interval) in the notation of lane type t
// (f32 or f64); returned as a double holding the exact lane value.
double parse_finite(std::string_view text, Lane t);

// A whole number in [lo, hi]: decimal, 0x hex or with an exponent (1e7).  `what` names
// it in messages ("-n", "the pair count").
uint64_t parse_count(std::string_view text, std::string_view what, uint64_t lo, uint64_t hi);

// A progress line on stderr for runs that take a while: nothing during the first two
// seconds, then at most twice a second on a terminal (one line, rewritten) or every
// ten seconds otherwise.  update() is cheap enough to call per batch of work.
class Progress {
 public:
  Progress(std::string label, uint64_t total);
  ~Progress();
  void update(uint64_t done);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  using clock = std::chrono::steady_clock;
  std::string label_;
  uint64_t total_;
  clock::time_point start_, next_;
  bool tty_, shown_ = false;
};

}  // namespace qarn::cli
