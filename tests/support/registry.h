// The export registry as the tests, qarn and the benchmarks see it (generated
// from frame/registry.py into registry.inc).
#pragma once
#include <cstdint>
#include <ostream>
#include <span>
#include <string_view>

namespace qarn::reg {

struct Export {
  const char* name;
  const char* family;
  char prec;            // 'f' float, 'd' double, 'i' integer division
  int width;            // 1, 2, 3, 4, 8, 16
  const char* variant;  // "default", "_native", "_half", "_rm"
  const char* kind;     // argument kinds ':' result kinds (see frame/registry.py)
  bool by_ref;          // by-reference calling form
  bool present;         // built into this library
  const char* body;     // the export whose code this name shares, or nullptr
  const char* filler;   // lane-3 filler of width 3
  const char* stem;     // the name without width and variant
  double lo, hi;        // interval of ordinary operands (tests, benchmarks)
  double ulp;           // accuracy bound in ulp (0 exact, -1 none stated)
  bool estimate;        // results depend on the processor's reciprocal estimates
  double bench_lo, bench_hi;  // interval of the benchmarks (inside the main path)
  double y_lo, y_hi;          // the second floating argument's interval, if any
  bool logspaced;             // benchmark x log-uniformly over [bench_lo, bench_hi]
  const char* lanes;          // "none", "some" or "all": lanes that may reach the fallback
  const char* fallback;       // the lane fallback's name, or nullptr
  const char* rounding;       // conversions: "rte", "rtn", "rtp", "rtz"; else ""
  bool sat;                   // conversions to integers: saturating
};

// The export of the same family, precision and variant at another width.
const Export* sibling(const Export& e, int width);

// The prefix every export name starts with.
inline constexpr std::string_view kPrefix = "__ocl_qarn_e9_";

std::span<const Export> all();
// By full name or by the name without the prefix ("expf8").
const Export* find(std::string_view name);
const char* short_name(const Export& e);

// Tests print an export by its short name ("expf8"), not by its address.
inline void PrintTo(const Export* e, std::ostream* os) { *os << (e ? short_name(*e) : "(none)"); }

}  // namespace qarn::reg
